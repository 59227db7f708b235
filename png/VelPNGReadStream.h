#pragma once
// The PNG decoder: chunk walk, inflate through zlib, the row filters, Adam7 and the
// conversion of every colour type and bit depth into a bitmap, with the alpha channel
// into a second 8-bit bitmap (255 − alpha). Lenient: no CRC is checked, unknown chunks are
// skipped, and a file that ends outside the image data ends the walk without an error.

#include "PngRows.h"
#include "PngTypes.h"
#include "VelStreams.h"

#include <memory>
#include <vector>

namespace nolvi2 {

class TVelPNGReadStream : public TVelCustomGraphicReadStream {
public:
    TVelPNGReadStream();
    ~TVelPNGReadStream() override;

    // Options, set before reading.
    bool CheckSignature = true;
    bool Use16BitColor = false;
    bool AllowPaletteGrey = false;
    std::string Key;
    TPNGKeyRequestEvent OnKeyRequest;
    TPNGRowDataEvent OnRowData;
    // Where the alpha mask goes (may be null), and the metadata targets (each may be null).
    TBitmap* MaskTarget = nullptr;
    TPNGTime* TimeTarget = nullptr;
    TPNGChromaticities* ChromaticitiesTarget = nullptr;
    TPNGGIFExtension* GIFExtensionTarget = nullptr;
    // The embedded ICC profile (iCCP), inflated; left empty when the file has none, a broken
    // one, or an sRGB chunk.
    std::vector<uint8_t>* IccProfileTarget = nullptr;

    // Results.
    bool HasAlpha() const { return FAlpha; }
    bool Grayscale() const { return FGrey; }
    // The picture has one transparent colour (TransparentColor) and no alpha mask.
    bool Transparent() const { return FTransparent; }
    int32_t TransparentColor() const { return FTransparentColor; }
    int32_t BackgroundColor() const { return FBackgroundColor; }
    uint8_t InterlaceMethod() const { return FInterlace; }
    double Gamma() const { return FGamma; }
    uint8_t PixelUnit() const { return FResolutionUnit; }
    uint32_t PixelsPerUnitX() const { return FResolutionX; }
    uint32_t PixelsPerUnitY() const { return FResolutionY; }
    uint32_t SignificantBits() const { return FSignificantBits; }
    TBitmap* MaskBitmap() const { return FMask; }

protected:
    void Decode() override;
    void PrepareBitmap() override;

private:
    struct Inflater;

    void WalkChunks();
    void ReadHeader();
    void ReadPalette();
    void ReadTransparency();
    void ReadBackground();
    void ReadText();
    void ReadPrivate();
    void ReadIccProfile();
    void ReadImageData();
    void ChooseOutputFormat();
    void DecodePasses();
    void ReadRow(uint8_t* row, std::size_t bytes, std::size_t bpp);
    bool FillInput();
    void BuildPaletteMask();
    bool Seen(uint8_t flag) const { return (FChunkFlags & flag) != 0; }
    uint16_t ReadSample(int bitDepth);
    int32_t ReadColor();

    // Chunk flags.
    static constexpr uint8_t kIHDR = 1, kImageDone = 2, kIEND = 4, kPLTE = 8, kPrivate = 16;

    int32_t FBaseColorType = -1;
    int32_t FIHDRDepth = 0;
    bool FAlpha = false;
    bool FGrey = false;
    bool FPaletteGrey = false;
    bool FMaskNeeded = false;
    bool FTransparent = false;
    bool FSrgbChunk = false;
    uint8_t FInterlace = 0;
    uint8_t FChunkFlags = 0;
    int64_t FChunkLeft = 0;
    uint32_t FChunkType = 0;
    uint8_t FPaletteAlpha[256] = {};
    int32_t FTransparentColor = -1;
    int32_t FBackgroundColor = -1;
    double FGamma = 0.0;
    uint32_t FSignificantBits = 0;
    TBitmap* FMask = nullptr;
    std::string FActiveKey;

    // Chosen at the first IDAT.
    int FPNGBits = 0;
    TRowConverter FConverter = nullptr;

    std::unique_ptr<Inflater> FInflater;
};

}  // namespace nolvi2
