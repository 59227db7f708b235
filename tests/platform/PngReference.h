#pragma once
// Reference pictures of the conformance suites, read with libpng as 8-bit RGBA; and the
// samples of a file as libpng reads them without any transformation.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace nolvi2::test {

struct TRgbaPicture {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Pixels;  // R, G, B, A per pixel, rows top-down
    // As stored in the file's header.
    int ColorType = 0;
    int BitDepth = 0;
    int Interlace = 0;

    const uint8_t* At(int32_t x, int32_t y) const { return Pixels.data() + (std::size_t(y) * Width + x) * 4; }
};

// How 16-bit samples become 8 bits: round(v * 255 / 65535), or the high byte.
enum class TSixteenBits { Scale, HighByte };

// Any PNG expanded to 8-bit RGBA: palette and grey to RGB, tRNS to alpha, no gamma
// handling. Throws std::runtime_error.
TRgbaPicture ReadPngRgba(const std::filesystem::path& path, TSixteenBits sixteen = TSixteenBits::Scale);
TRgbaPicture ReadPngRgba(const uint8_t* data, std::size_t size, TSixteenBits sixteen = TSixteenBits::Scale);

// A PNG's samples exactly as the file holds them (no expansion, no stripping), the passes of
// an interlaced file put together: Height rows of RowBytes bytes, pixels of BitDepth ×
// Channels bits packed from the most significant bit. Throws std::runtime_error.
struct TPngSamples {
    int32_t Width = 0;
    int32_t Height = 0;
    int BitDepth = 0;
    int ColorType = 0;
    int Channels = 0;
    int Interlace = 0;
    std::size_t RowBytes = 0;
    std::vector<uint8_t> Rows;

    int BitsPerPixel() const { return BitDepth * Channels; }
    const uint8_t* Row(int32_t y) const { return Rows.data() + std::size_t(y) * RowBytes; }
};

TPngSamples ReadPngSamples(const uint8_t* data, std::size_t size);

}  // namespace nolvi2::test
