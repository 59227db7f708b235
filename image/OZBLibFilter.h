#pragma once
// The 3x3 convolution filter of 24-bit pictures, over the whole picture or a rectangle of it,
// and the table of fixed kernels behind the low-pass, high-pass and Laplacian commands.
//
// Every output pixel is computed from unfiltered source pixels. For pixel (x, y) of the
// rectangle, each colour channel's sum is
//     sum over m, e in {-1, 0, 1} of K[(m + 1) * 3 + (e + 1)] * source(x + e, y + m),
// where the column x + e is clamped into the whole picture's width, and the row y + m is taken
// from the picture where it exists and repeated from the picture's top or bottom edge where it
// does not. Then
//     red   = sum / Divisor as a real number, rounded to nearest with ties to even;
//     green = sum / Divisor and blue = sum / Divisor, integer divisions truncating toward zero;
// each clamped into 0..255. Sums are exact: a hand-made kernel whose sums do not fit 32 bits
// gets its true sums, not wrapped ones. Pixels outside the rectangle are copied unchanged.
//
// Checks, in this order and before anything is created or reported:
//     the rectangle's width or height is negative      -> "矩形の大きさがマイナスです";
//     the rectangle reaches outside the picture         -> "矩形の範囲が画像の大きさを超えています";
//     the picture is not 24-bit                         -> "未対応のピクセルフォーマットです";
//     the kernel's divisor is 0 (only a hand-made kernel) -> "フィルタの除数が 0 です".
// Progress: display name "カスタムフィルタ", a running report every `interval` rows of the
// rectangle with ((y - top) * 100) div height.
// A failure while the result is being built or filled (memory exhausted, a progress handler
// that throws on a running report) passes on to the caller after the ending report has been
// sent; a result this call created is freed, a destination of the caller stays as it was.

#include "platform/Bitmap.h"
#include "platform/Types.h"

#include <cstdint>
#include <memory>

namespace nolvi2 {

struct TFilterKernel {
    int32_t K[9];  // row above (left, centre, right), same row, row below
    int32_t Divisor;
};

// Kinds 0..8 fill the kernel from the table (only the low 7 bits of kind count):
//   0 low-pass         1 1 1 / 1 1 1 / 1 1 1  divisor 9
//   1 low-pass, low    1 2 1 / 2 4 2 / 1 2 1  divisor 16
//   2 low-pass, weak   1 1 1 / 1 2 1 / 1 1 1  divisor 10
//   3 sharpen, low     all -1 around 32       divisor 24
//   4 sharpen, middle  all -1 around 24       divisor 16
//   5 sharpen, high    all -1 around 16       divisor 8
//   6 Laplacian, 4     all -1 around 8        divisor 1
//   7 Laplacian, 8     0 -1 0 / -1 4 -1 / 0 -1 0   divisor 1
//   8 Laplacian, 8 strong  1 -2 1 / -2 4 -2 / 1 -2 1  divisor 1
// Other kinds leave the kernel untouched.
void MakeFilterKernel(uint8_t kind, TFilterKernel& kernel);

// Returns a new full-size copy of the source in which only rect is filtered (the caller owns
// it; it has no progress handler).
std::unique_ptr<TBitmap> CustomFilterRect(TBitmap& source, const TRect& rect, int32_t interval, bool reportProgress,
                                          const TFilterKernel& kernel);

// CustomFilterRect over the whole picture.
std::unique_ptr<TBitmap> CustomFilter(TBitmap& source, const TFilterKernel& kernel, int32_t interval,
                                      bool reportProgress);

// Makes destination a full copy of the source with rect filtered; after a failure while it
// was being built the destination is as it was. The destination keeps its progress handler;
// it may be the source itself.
void CustomFilterRectInto(TBitmap& source, TBitmap& destination, const TRect& rect, int32_t interval,
                          bool reportProgress, const TFilterKernel& kernel);

}  // namespace nolvi2
