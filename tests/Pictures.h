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

// A 24-bit picture of noise over a slope, made the same for the same seed: it compresses
// poorly, so that its JPEG takes a while to decode.
inline TBitmap NoisyPicture(int32_t width, int32_t height, uint32_t seed)
{
    TBitmap noisy(width, height, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width * 3; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noisy.ScanLine(y)[x] = uint8_t((x + y) / 12 + (seed >> 27));
        }
    return noisy;
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
