#pragma once
// The rainbow mask: every complete cellSize × cellSize cell of the picture is XOR-ed in
// place with a colour that depends on the cell's diagonal, so that applying the mask again
// with the same size restores the picture. No format check and no progress.
//
// 24- and 32-bit pictures: the blue, green and red bytes are XOR-ed with the cell's colour;
// the fourth byte of a 32-bit pixel is never changed.
// 1-, 4- and 8-bit pictures: the pixel's palette index is XOR-ed with the index of the
// palette entry nearest to the cell's colour (squared distance, the lowest index on a tie,
// among the entries the format can address), as XOR drawing on a palette picture does. An
// empty palette leaves the picture unchanged; with a short 8-bit palette an index may come
// out beyond it (shown black) until the second pass restores it.
// 15- and 16-bit pictures: the pixel value is XOR-ed with the colour reduced to the format's
// channels (the top 5 bits of each channel; 6 bits of green for 16-bit).
// Device-dependent and custom pictures are treated as the layout they are stored in (24-bit
// and 15-bit).
// A cell size of 0 raises "マスクの大きさが不正です" before anything is changed.

#include "platform/Bitmap.h"

#include <cstdint>

namespace nolvi2 {

void RainbowMask(TBitmap& bitmap, uint8_t cellSize);

}  // namespace nolvi2
