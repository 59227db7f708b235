#pragma once
// Tone and channel adjustments: in-place operations on the colour bytes of a 24- or 32-bit
// picture (the fourth byte of a 32-bit pixel is never touched). Other formats raise
// "未対応のピクセルフォーマットです" before anything is changed or reported.

#include "platform/Bitmap.h"

#include <cstdint>

namespace nolvi2 {

void Invert(TBitmap& bitmap, bool reportProgress);
void Solarize(TBitmap& bitmap, bool reportProgress);
void GrayScale(TBitmap& bitmap, bool reportProgress);
void Desaturate(TBitmap& bitmap, bool reportProgress);
void XorChannels(TBitmap& bitmap, bool xorRed, bool xorGreen, bool xorBlue, bool reportProgress);
// Mode 0: R > G > B rotation; 1: R <=> G; 2: G <=> B; 3: B <=> R; others change nothing.
void SwapRGB(TBitmap& bitmap, uint8_t mode, bool reportProgress);
void GammaPlus(TBitmap& bitmap, bool reportProgress);
void GammaMinus(TBitmap& bitmap, bool reportProgress);

// The per-value definitions, computed literally (extended precision, single-precision
// stores, round half to even) as the operations' reference.
uint8_t GrayScaleOf(uint8_t r, uint8_t g, uint8_t b);
uint8_t GammaPlusOf(uint8_t v);
uint8_t GammaMinusOf(uint8_t v);

}  // namespace nolvi2
