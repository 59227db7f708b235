#pragma once
// Flips, rotations, glass strips and the WIN mask: result operations that move the pixels of
// a 1-, 4-, 8-, 24- or 32-bit picture into a new picture of the same format and palette
// without changing their values. Other formats raise "未対応のピクセルフォーマットです"
// before anything is created or reported. The source is never changed.
//
// Packed 1- and 4-bit results are written pixel by pixel, so the unused low bits of the last
// byte of a row are 0; the vertical flip and the horizontal glass strips copy whole rows and
// keep those bits as the source has them.

#include "platform/Bitmap.h"

#include <cstdint>
#include <memory>

namespace nolvi2 {

// Rows in reverse order. No progress.
std::unique_ptr<TBitmap> FlipVertical(TBitmap& source);

// Mode 0: 90° clockwise (H × W result); 1: 180°; 2: 90° counter-clockwise (H × W);
// 3: mirrored left to right. Reports every `interval` result rows under "垂直方向に反転".
// Any other mode raises "変換の種類が不正です" before anything is created or reported.
std::unique_ptr<TBitmap> TransformBitmap(TBitmap& source, uint8_t mode, bool reportProgress, int32_t interval);
std::unique_ptr<TBitmap> FlipHorizontal(TBitmap& source, bool reportProgress, int32_t interval);
std::unique_ptr<TBitmap> Rotate90(TBitmap& source, bool reportProgress, int32_t interval);
std::unique_ptr<TBitmap> Rotate180(TBitmap& source, bool reportProgress, int32_t interval);
std::unique_ptr<TBitmap> Rotate270(TBitmap& source, bool reportProgress, int32_t interval);

// Rows reversed inside each complete band of stripWidth rows; the rows below the last
// complete band stay. No progress. Applying it twice with the same width restores the source.
std::unique_ptr<TBitmap> GlassHorizontal(TBitmap& source, int32_t stripWidth);
// Columns reversed inside each complete strip of stripWidth columns; the columns right of the
// last complete strip stay. Reports under "縦ガラス処理".
std::unique_ptr<TBitmap> GlassVertical(TBitmap& source, int32_t stripWidth, bool reportProgress, int32_t interval);
// The glass strips raise "ストリップの幅が不正です" for a width below 1 (after the format
// check, before anything is created or reported).

// Columns exchanged inside each complete block of 16 by a self-inverse permutation; the
// columns right of the last complete block stay. Reports under "WINマスク".
std::unique_ptr<TBitmap> WinMask(TBitmap& source, bool reportProgress, int32_t interval);

// An interval below 1 sends no running reports (only the starting and ending ones).

}  // namespace nolvi2
