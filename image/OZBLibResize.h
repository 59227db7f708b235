#pragma once
// Resampling: nearest neighbour, bilinear and integral (area-averaging) resizing of a picture
// into a new bitmap, plus a plain stretch copy. All are result operations: the source is left
// as it was and the caller owns the returned picture.
//
// The three own algorithms compute in extended precision (long double) and store some
// intermediates as float or double; the results are reproduced to the last bit (see the .cpp).

#include "platform/Bitmap.h"

#include <cstdint>
#include <memory>

namespace nolvi2 {

enum TResizeAlgorithm : uint8_t { raStretchDraw = 0, raNearest = 1, raBilinear = 2, raIntegral = 3 };

// The message raised when a new width or height below 1 is asked for, or when the source has
// no pixels to sample.
inline constexpr const char* kResizeBadSize = "新しいサイズが不正です（幅 %d、高さ %d）";
inline constexpr const char* kResizeEmptySource = "空の画像はサイズ変更できません";

// Same size: a full copy of the source (any format, no progress). Otherwise the algorithm's
// function; an algorithm outside 0..3 returns null (the caller then does nothing).
std::unique_ptr<TBitmap> ResizeBitmap(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                      bool reportProgress, uint8_t algorithm);

// A plain stretch copy (nearest neighbour through pixel centres) for every pixel format.
// Never throws: any failure, a size below 1 or an empty source returns null.
std::unique_ptr<TBitmap> ResizeStretchDraw(TBitmap& source, int32_t newWidth, int32_t newHeight);

// "サイズ変更（ニアレストネイバー法）", 1-, 4-, 8-, 24- and 32-bit pictures: result pixel x takes
// source column Round(x / newWidth * W), likewise for rows.
std::unique_ptr<TBitmap> ResizeNearest(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                       bool reportProgress);

// "サイズ変更（バイリニア法）", 24- and 32-bit pictures (the fourth byte is interpolated too).
std::unique_ptr<TBitmap> ResizeBilinear(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                        bool reportProgress);

// "サイズ変更（積分法）", 24- and 32-bit pictures: the area-weighted mean of the covered pixels.
std::unique_ptr<TBitmap> ResizeIntegral(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                        bool reportProgress);

}  // namespace nolvi2
