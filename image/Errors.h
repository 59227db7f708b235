#pragma once
// The messages that the image operations raise.

namespace nolvi2 {

inline constexpr const char* kUnsupportedPixelFormat = "未対応のピクセルフォーマットです";
inline constexpr const char* kRectNegative = "矩形の大きさがマイナスです";
inline constexpr const char* kRectOutside = "矩形の範囲が画像の大きさを超えています";

}  // namespace nolvi2
