#pragma once

#include <cstdint>

namespace nolvi2 {

// Milliseconds of the monotonic clock as an unsigned 32-bit number (wraps after 49.7 days).
uint32_t timeGetTime();

}  // namespace nolvi2
