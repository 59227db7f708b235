#pragma once

#include <string>
#include <string_view>

namespace nolvi2 {

// printf-style formatting into a std::string (the texts are UTF-8).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A to Z turned into a to z; every other byte stays (names are byte strings, not text).
std::string LowerAscii(std::string_view s);
// a and b are equal when A to Z are taken as a to z.
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace nolvi2
