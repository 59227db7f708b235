#pragma once
// A photo-like test picture: smooth gradients, soft shapes, fine texture and some noise, so
// that codecs and filters see realistic data. Deterministic for a given size and seed.

#include "platform/Bitmap.h"

namespace nolvi2::bench {

TBitmap SyntheticPicture(int32_t width, int32_t height, uint32_t seed = 1);

// The 6000 x 4000 picture the operation benchmarks share, made once.
TBitmap& LargePicture();

// Installs a progress handler like the window's, which only looks at the percentage, so that
// operations pay for their reports as they do in the window.
void InstallWindowLikeProgress(TBitmap& picture);

}  // namespace nolvi2::bench
