#include "PictureSize.h"

#include "Exceptions.h"

#include "Format.h"

#include <cinttypes>
#include <limits>

namespace nolvi2 {

int BitsPerPixel(TPixelFormat pf)
{
    switch (pf) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
    case TPixelFormat::pfCustom: return 16;
    case TPixelFormat::pf32bit: return 32;
    case TPixelFormat::pfDevice:
    case TPixelFormat::pf24bit: break;
    }
    return 24;
}

std::size_t RowBytes(TPixelFormat pf, int32_t width)
{
    if (width <= 0)
        return 0;
    return (std::size_t(width) * std::size_t(BitsPerPixel(pf)) + 7) / 8;
}

std::size_t RowStride(TPixelFormat pf, int32_t width)
{
    return (RowBytes(pf, width) + 3) & ~std::size_t(3);
}

void CheckPictureSize(int64_t width, int64_t height)
{
    if (width < 0 || height < 0)
        throw EPictureSize(Format("画像の大きさが不正です（幅 %" PRId64 "、高さ %" PRId64 "）。", width, height));
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        throw EPictureSize(Format(
            "画像が大きすぎます（幅 %" PRId64 "、高さ %" PRId64 "）。扱えるのは幅と高さが %d ピクセルまで、"
            "画素数が %" PRId64 " までの画像です。",
            width, height, kMaxPictureSide, kMaxPicturePixels));
}

std::size_t CheckedMul(std::size_t a, std::size_t b)
{
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a)
        throw EPictureSize("画像が大きすぎます（サイズの計算があふれました）。");
    return a * b;
}

}  // namespace nolvi2
