#pragma once
// Row kernels of the PNG codec: reversing and applying the five row filters, turning PNG
// samples into bitmap pixels, and placing the pixels of an Adam7 pass into a picture row.

#include <cstddef>
#include <cstdint>

namespace nolvi2 {

enum TPNGFilter : uint8_t { pfNone = 0, pfSub = 1, pfUp = 2, pfAverage = 3, pfPaeth = 4 };

// Reverses filter on row (length bytes, without the filter byte) against prev, the
// previous row of the same pass (zeros for the first). bpp: bytes per complete pixel,
// at least 1. False for an unknown filter type.
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prev, std::size_t length, std::size_t bpp);

// Writes filter applied to row into out (length bytes; no filter byte).
void ApplyFilter(uint8_t filter, const uint8_t* row, const uint8_t* prev, uint8_t* out, std::size_t length,
                 std::size_t bpp);

// The Paeth predictor with the PNG tie order: left, above, upper left.
inline uint8_t PaethPredictor(int a, int b, int c)
{
    const int p = a + b - c;
    int pa = p - a, pb = p - b, pc = p - c;
    pa = pa < 0 ? -pa : pa;
    pb = pb < 0 ? -pb : pb;
    pc = pc < 0 ? -pc : pc;
    if (pa <= pb && pa <= pc)
        return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// From a row of PNG samples (src, width pixels) to bitmap pixels (dst) and, for pictures
// with alpha, mask bytes 255 − alpha (alpha, one byte per pixel).
using TRowConverter = void (*)(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int32_t width);

void ConvertCopy1(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertCopy4(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertCopy8(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertWiden2To4(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertGrey16(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertGreyAlpha8(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertGreyAlpha16(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGB8(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGB16(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGBA8(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGBA16(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGB8To565(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGBA8To565(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGB16To565(const uint8_t*, uint8_t*, uint8_t*, int32_t);
void ConvertRGBA16To565(const uint8_t*, uint8_t*, uint8_t*, int32_t);

// Places count pixels of src (packed at bits per pixel) into dst at columns first,
// first + step, …; the other pixels of dst stay.
using TPixelStorer = void (*)(const uint8_t* src, uint8_t* dst, int32_t count, int32_t first, int32_t step);
TPixelStorer PixelStorerFor(int bits);

}  // namespace nolvi2
