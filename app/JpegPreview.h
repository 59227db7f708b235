#pragma once
// The JPEG preview: a picture as it looks after JPEG compression at a quality, and the size
// of the compressed data.

#include "platform/Bitmap.h"

#include <cstdint>

namespace nolvi2 {

// Compresses picture at quality (0 to 100), progressive or baseline, decodes the result into
// preview and returns the size of the compressed stream in bytes (at most INT32_MAX). An
// empty picture gives 0 and leaves preview alone.
int32_t RenderJpegPreview(const TBitmap& picture, int quality, bool progressive, TBitmap& preview);

}  // namespace nolvi2
