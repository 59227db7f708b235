#pragma once
// The one checked helper for picture dimensions and byte counts. Every codec and every
// operation that creates a picture asks here before it allocates.

#include <cstddef>
#include <cstdint>

namespace nolvi2 {

enum class TPixelFormat : uint8_t {
    pfDevice = 0,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom,
};

constexpr int32_t kMaxPictureSide = 65535;
constexpr int64_t kMaxPicturePixels = int64_t(1) << 28;

// Bits of storage per pixel (device-dependent pictures are kept as 24 bits, custom as 15).
int BitsPerPixel(TPixelFormat pf);

// Meaningful bytes of one row: ceil(width * bits / 8).
std::size_t RowBytes(TPixelFormat pf, int32_t width);

// Row bytes rounded up to a multiple of 4, as rows are stored.
std::size_t RowStride(TPixelFormat pf, int32_t width);

// Throws EPictureSize with a Japanese message when width or height is negative, either side
// exceeds kMaxPictureSide or the pixel count exceeds kMaxPicturePixels.
void CheckPictureSize(int64_t width, int64_t height);

// a * b, or EPictureSize when the product does not fit in size_t.
std::size_t CheckedMul(std::size_t a, std::size_t b);

}  // namespace nolvi2
