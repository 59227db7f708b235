#pragma once
// A photo-like test picture: smooth gradients, soft shapes, fine texture and some noise, so
// that codecs and filters see realistic data. Deterministic for a given size and seed.

#include "platform/Bitmap.h"

namespace nolvi2::bench {

TBitmap SyntheticPicture(int32_t width, int32_t height, uint32_t seed = 1);

}  // namespace nolvi2::bench
