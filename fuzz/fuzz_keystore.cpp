// The key store's values file on arbitrary text. Parsing never fails; the values written
// back must parse to the same values, and writing those gives the same file.

#include "platform/KeyStore.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

using namespace nolvi2;

namespace {

bool Same(const std::vector<TRegistry::TValue>& a, const std::vector<TRegistry::TValue>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].Name != b[i].Name || a[i].Type != b[i].Type || a[i].Integer != b[i].Integer ||
            a[i].Text != b[i].Text)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto values = TRegistry::ParseValues(text);
    const std::string written = TRegistry::FormatValues("Software\\Tamberlo\\nolvi2", values);
    const auto back = TRegistry::ParseValues(written);
    if (!Same(values, back))
        __builtin_trap();
    if (TRegistry::FormatValues("Software\\Tamberlo\\nolvi2", back) != written)
        __builtin_trap();
    return 0;
}
