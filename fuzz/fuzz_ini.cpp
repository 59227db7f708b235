// The INI reader on arbitrary text. Reading never fails; the text written back must read as
// the same file, and reads of a few names must agree between the two.

#include "settings/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace nolvi2;

namespace {

constexpr std::string_view kSections[] = {"", "s", "Config", "RecentFiles2"};
constexpr std::string_view kKeys[] = {"", "a", "Count", "Data0", "WindowX"};

void CheckSameReads(const TMemIniFile& a, const TMemIniFile& b)
{
    for (const std::string_view section : kSections) {
        if (a.SectionExists(section) != b.SectionExists(section))
            __builtin_trap();
        for (const std::string_view key : kKeys) {
            if (a.ReadString(section, key, "\x01") != b.ReadString(section, key, "\x01") ||
                a.ReadInteger(section, key, 12345) != b.ReadInteger(section, key, 12345) ||
                a.ReadBool(section, key, true) != b.ReadBool(section, key, true))
                __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TMemIniFile ini;
    ini.SetText(text);
    const std::string written = ini.Text();
    TMemIniFile back;
    back.SetText(written);
    if (back.Text() != written)
        __builtin_trap();
    CheckSameReads(ini, back);

    // A value written under a name already there reads back on one line.
    back.WriteString("s", "a", text.substr(0, 64));
    std::string expected(text.substr(0, 64));
    for (char& c : expected)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (back.ReadString("S", "A", "") != expected)
        __builtin_trap();
    return 0;
}
