#pragma once

#include <string>

namespace nolvi2 {

// printf-style formatting into a std::string (the texts are UTF-8).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace nolvi2
