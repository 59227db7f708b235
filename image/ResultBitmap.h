#pragma once
// Pieces every result operation shares: the format check that comes before anything else,
// the construction of the result picture, and packed-pixel access for 1- and 4-bit rows.

#include "Errors.h"
#include "platform/Bitmap.h"
#include "platform/Exceptions.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <vector>

namespace nolvi2 {

// Raises "未対応のピクセルフォーマットです" unless the bitmap's format is one of formats.
inline void CheckFormat(const TBitmap& bitmap, std::initializer_list<TPixelFormat> formats)
{
    for (const TPixelFormat pf : formats)
        if (bitmap.PixelFormat() == pf)
            return;
    throw Exception(kUnsupportedPixelFormat);
}

// The formats whose pixels the moving operations (flips, rotations, masks, nearest
// neighbour) accept.
inline constexpr std::initializer_list<TPixelFormat> kMovableFormats = {
    TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit};

// A new result for source: its format and palette (1-, 4- and 8-bit), then the given width
// and height. The result has no progress handler.
inline std::unique_ptr<TBitmap> CreateResult(const TBitmap& source, int32_t width, int32_t height)
{
    auto result = std::make_unique<TBitmap>();
    // The format first: changing the format of a bitmap installs its standard palette.
    result->SetPixelFormat(source.PixelFormat());
    if (PaletteEntryCount(source.PixelFormat()) > 0)
        result->SetPalette(source.Palette());
    result->SetSize(width, height);
    return result;
}

// The address of every row of a picture, built once before a pixel loop.
inline std::vector<const uint8_t*> SourceRowTable(const TBitmap& source)
{
    std::vector<const uint8_t*> rows(std::size_t(std::max(source.Height(), 0)));
    for (int32_t y = 0; y < source.Height(); ++y)
        rows[std::size_t(y)] = source.ScanLine(y);
    return rows;
}

// Pixel x of a 1- or 4-bit row (bits = 1 or 4): leftmost pixel in the most significant bits.
inline unsigned ReadPackedPixel(const uint8_t* row, int32_t x, int bits)
{
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    return (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & mask;
}

// Writes v as pixel x of a 1- or 4-bit row; the other pixels of the byte stay.
inline void WritePackedPixel(uint8_t* row, int32_t x, int bits, unsigned v)
{
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    const int shift = (perByte - 1 - x % perByte) * bits;
    uint8_t& b = row[x / perByte];
    b = uint8_t((b & ~(mask << shift)) | (v << shift));
}

}  // namespace nolvi2
