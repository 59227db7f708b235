#pragma once
// Row conversions between pixel formats.
//
// To 24 bits: palette formats through their palette (an index beyond it gives black); an
// n-bit channel of a 15- or 16-bit pixel scales as round(v * 255 / (2^n - 1)); the fourth
// byte of a 32-bit pixel is dropped.
// From 24 bits: 8-bit to the 6 x 6 x 6 colour cube plus 40 greys, 4-bit to the 16 standard
// VGA colours, 1-bit to black and white, each pixel to the nearest entry by squared
// distance (the lowest index on a tie), no dithering; 15/16-bit channels as
// round(v * (2^n - 1) / 255); 32-bit with a fourth byte of 0.

#include "Bitmap.h"

namespace nolvi2 {

// The palette that a conversion from 24 bits gives to pf (empty for non-palette formats).
TPalette StandardPalette(TPixelFormat pf);

void ConvertRowTo24(TPixelFormat pf, const TPalette& palette, const uint8_t* src, uint8_t* dst,
                    int32_t width);
void ConvertRowFrom24(TPixelFormat pf, const uint8_t* src, uint8_t* dst, int32_t width);

// Nearest entry of the standard palettes, exposed for tests.
uint8_t NearestCubeIndex(uint8_t r, uint8_t g, uint8_t b);
uint8_t NearestVgaIndex(uint8_t r, uint8_t g, uint8_t b);

}  // namespace nolvi2
