#include "OZBLibMask.h"

#include "ResultBitmap.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace nolvi2 {

namespace {

constexpr const char* kBadCellSize = "マスクの大きさが不正です";

struct TColour {
    uint8_t r, g, b;
};

// 32 × (16 − |t|) clamped into 0 .. 255.
uint8_t Strength(int32_t t)
{
    return uint8_t(std::clamp(32 * (16 - std::abs(t)), 0, 255));
}

// The colour of phase m (0 .. 47) of the rainbow: red, yellow, green, cyan, blue, magenta
// and back to red.
TColour PhaseColour(int32_t m)
{
    return {Strength((m + 16) % 48 - 16), Strength(m - 16), Strength(m - 32)};
}

// The index of the palette entry nearest to the colour among the first count entries
// (squared distance, the lowest index on a tie); 0 when there are none.
unsigned NearestIndex(const TPalette& palette, std::size_t count, TColour colour)
{
    unsigned best = 0;
    int bestDist = 1 << 30;
    for (std::size_t i = 0; i < count; ++i) {
        const TRGBQuad& q = palette[i];
        const int dr = colour.r - q.rgbRed, dg = colour.g - q.rgbGreen, db = colour.b - q.rgbBlue;
        const int dist = dr * dr + dg * dg + db * db;
        if (dist < bestDist) {
            bestDist = dist;
            best = unsigned(i);
        }
    }
    return best;
}

// How the XOR value of a colour is laid out in a pixel of each format.
enum class TMaskLayout { Index, Rgb555, Rgb565, Bgr, Bgrx };

TMaskLayout LayoutOf(TPixelFormat pf)
{
    switch (pf) {
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf4bit:
    case TPixelFormat::pf8bit: return TMaskLayout::Index;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pfCustom: return TMaskLayout::Rgb555;  // stored as 15-bit pixels
    case TPixelFormat::pf16bit: return TMaskLayout::Rgb565;
    case TPixelFormat::pf32bit: return TMaskLayout::Bgrx;
    case TPixelFormat::pf24bit:
    case TPixelFormat::pfDevice: break;  // stored as 24-bit pixels
    }
    return TMaskLayout::Bgr;
}

// Puts the XOR value of colour (for palette pictures: of the palette index) for pixels
// [x0, x1) into a zeroed mask row.
void PutMask(uint8_t* mask, TMaskLayout layout, int bits, TColour colour, unsigned index, int32_t x0, int32_t x1)
{
    switch (layout) {
    case TMaskLayout::Index: {
        for (int32_t x = x0; x < x1; ++x) {
            if (bits == 8)
                mask[x] = uint8_t(index);
            else
                WritePackedPixel(mask, x, bits, index);
        }
        break;
    }
    case TMaskLayout::Rgb555:
    case TMaskLayout::Rgb565: {
        const unsigned value = layout == TMaskLayout::Rgb555
                                   ? unsigned(colour.r >> 3) << 10 | unsigned(colour.g >> 3) << 5 | (colour.b >> 3)
                                   : unsigned(colour.r >> 3) << 11 | unsigned(colour.g >> 2) << 5 | (colour.b >> 3);
        for (int32_t x = x0; x < x1; ++x) {
            mask[2 * x] = uint8_t(value);
            mask[2 * x + 1] = uint8_t(value >> 8);
        }
        break;
    }
    case TMaskLayout::Bgr:
    case TMaskLayout::Bgrx: {
        const int bpp = layout == TMaskLayout::Bgr ? 3 : 4;
        for (int32_t x = x0; x < x1; ++x) {
            uint8_t* p = mask + std::size_t(x) * bpp;
            p[0] = colour.b;
            p[1] = colour.g;
            p[2] = colour.r;  // the fourth byte of a 32-bit pixel stays 0: unchanged
        }
        break;
    }
    }
}

}  // namespace

void RainbowMask(TBitmap& bitmap, uint8_t cellSize)
{
    if (cellSize < 1)
        throw Exception(kBadCellSize);
    const int32_t a = cellSize;
    const int32_t cellsX = bitmap.Width() / a;
    const int32_t cellsY = bitmap.Height() / a;
    const int32_t step = a > 8 ? a / 8 : 1;
    const TPixelFormat pf = bitmap.PixelFormat();
    const TMaskLayout layout = LayoutOf(pf);
    const int bits = BitsPerPixel(pf);
    // Only complete cells are touched: the mask covers the first cellsX × a pixels of a row,
    // and whole bytes of it (a partly covered last byte has zero bits for the other pixels).
    const std::size_t maskBytes = RowBytes(pf, cellsX * a);
    if (maskBytes == 0 || cellsY == 0)
        return;
    // The 48 phases, and for palette pictures the index nearest to each.
    std::array<TColour, 48> colours;
    std::array<unsigned, 48> indices{};
    const TPalette& palette = bitmap.Palette();
    for (int32_t m = 0; m < 48; ++m) {
        colours[std::size_t(m)] = PhaseColour(m);
        if (layout == TMaskLayout::Index)
            indices[std::size_t(m)] =
                NearestIndex(palette, std::min(palette.size(), std::size_t(1) << bits), colours[std::size_t(m)]);
    }
    std::vector<uint8_t> mask(maskBytes);
    for (int32_t c = 0; c < cellsY; ++c) {
        std::fill(mask.begin(), mask.end(), uint8_t(0));
        for (int32_t d = 0; d < cellsX; ++d) {
            // v = (a × d + a × c) div step; the colour repeats every 48 units of v.
            const std::size_t m = std::size_t((a * d + a * c) / step % 48);
            PutMask(mask.data(), layout, bits, colours[m], indices[m], a * d, a * d + a);
        }
        for (int32_t y = a * c; y < a * c + a; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (std::size_t i = 0; i < maskBytes; ++i)
                row[i] ^= mask[i];
        }
    }
}

}  // namespace nolvi2
