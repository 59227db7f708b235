#include "Format.h"

#include <cstdarg>
#include <cstdio>

namespace nolvi2 {

std::string Format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(std::size_t(n));
        std::vsnprintf(out.data(), std::size_t(n) + 1, fmt, ap2);
    }
    va_end(ap2);
    return out;
}

std::string LowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c + ('a' - 'A'));
    return out;
}

bool SameTextAscii(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

}  // namespace nolvi2
