#pragma once
// The in-memory picture: one of nine pixel formats, a palette for 1-, 4- and 8-bit pictures,
// rows addressed from the top (row 0 is the top row), each row padded to a multiple of 4
// bytes. Operations reach rows through ScanLine and touch only RowBytes() bytes of a row.

#include "Graphics.h"
#include "PictureSize.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace nolvi2 {

struct TRGBQuad {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

using TPalette = std::vector<TRGBQuad>;

// Frees a picture's pixels: small pictures live in malloc's memory, large ones in their own
// anonymous mapping.
struct PixelStorageDeleter {
    std::size_t mapped = 0;  // bytes of the mapping; 0 for malloc's memory
    void operator()(uint8_t* p) const;
};

class TBitmap : public TGraphic {
public:
    TBitmap() = default;
    TBitmap(int32_t width, int32_t height, TPixelFormat pf = TPixelFormat::pf24bit);
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    // Moves the pixels (no copy); the source is left empty.
    TBitmap(TBitmap&& other) noexcept { *this = std::move(other); }
    TBitmap& operator=(TBitmap&& other) noexcept;

    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    TPixelFormat PixelFormat() const { return FPixelFormat; }

    // Changing the format converts the pixels (see PixelConvert.h); the same format is a no-op.
    void SetPixelFormat(TPixelFormat pf);
    // Changing the size keeps the overlapping top-left part; new pixels are 0.
    void SetWidth(int32_t width) { SetSize(width, FHeight); }
    void SetHeight(int32_t height) { SetSize(FWidth, height); }
    void SetSize(int32_t width, int32_t height);

    // Entries of a 1-, 4- or 8-bit picture (2, 16 or 256 when set by a conversion; a
    // decoded file may carry fewer). Empty for the other formats.
    const TPalette& Palette() const { return FPalette; }
    void SetPalette(TPalette palette) { FPalette = std::move(palette); }

    uint8_t* ScanLine(int32_t y) { return FBits.get() + std::size_t(y) * FStride; }
    const uint8_t* ScanLine(int32_t y) const { return FBits.get() + std::size_t(y) * FStride; }
    std::size_t RowBytes() const { return nolvi2::RowBytes(FPixelFormat, FWidth); }
    std::size_t Stride() const { return FStride; }
    std::size_t ImageBytes() const { return FStride * std::size_t(FHeight); }

    // A copy of source's pixels, format, size and palette (not its handlers).
    void Assign(const TBitmap& source);
    // Takes over source's storage; source becomes empty.
    void TakeOver(TBitmap& source);
    // Makes bits the pixels, rows top down: a block from malloc of at least
    // RowStride(pf, width) × height bytes, freed with free from now on (also when the size is
    // refused with EPictureSize). No palette.
    void AdoptPixels(TPixelFormat pf, int32_t width, int32_t height, uint8_t* bits);

    // Reads a BMP file (every header version, depth and compression that files use). A V5
    // header's embedded colour profile is converted to sRGB when ApplyColorProfile is set.
    void LoadFromStream(TStream& stream) override;
    // Writes a 24-bit BMP with a BITMAPINFOHEADER (other formats are converted row by row).
    void SaveToStream(TStream& stream) const override;
    void AssignTo(TBitmap& dest) const override { dest.Assign(*this); }

private:
    using Storage = std::unique_ptr<uint8_t, PixelStorageDeleter>;
    // Zeroed storage for a picture of that format and size (sizes already checked).
    static Storage Allocate(TPixelFormat pf, int32_t width, int32_t height);
    void Reset(TPixelFormat pf, int32_t width, int32_t height, Storage bits);

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    TPixelFormat FPixelFormat = TPixelFormat::pf24bit;
    std::size_t FStride = 0;
    TPalette FPalette;
    Storage FBits;
};

// The number of palette entries a format carries (2, 16, 256; 0 for the others).
int PaletteEntryCount(TPixelFormat pf);

}  // namespace nolvi2
