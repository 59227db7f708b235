#pragma once
// Helpers for comparing pictures in tests.

#include "platform/Bitmap.h"

#include <cstring>
#include <string>

namespace nolvi2::test {

// Same format, size and row bytes (padding is not compared).
inline bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    if (a.RowBytes() == 0)
        return true;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowBytes()) != 0)
            return false;
    return true;
}

// One progress report, as a handler received it.
struct Report {
    TObject* sender;
    int stage;
    int percent;
    bool redraw;
    TRect rect;
    std::string msg;
};

}  // namespace nolvi2::test
