#pragma once
// The PNG encoder: any bitmap format, optionally with an 8-bit mask (255 − alpha), as a
// palette, grey or truecolour PNG with the metadata chunks, one of the row filters or an
// adaptive choice per row, Adam7 on request, and IDAT chunks of a chosen size.

#include "PngRows.h"
#include "PngTypes.h"
#include "VelStreams.h"

#include <vector>

namespace nolvi2 {

class TVelPNGWriteStream : public TVelCustomGraphicWriteStream {
public:
    TVelPNGWriteStream() = default;

    int32_t IDATSize() const { return FIDATSize; }
    // 256 to 100 000, else "Write PNG Param: Err IDAT Size(min:256  max:100000)".
    void SetIDATSize(int32_t size);

    // zlib level; outside 0–9 the library's default.
    int32_t CompressionLevel = -1;
    // 0 adaptive, 1 none, 2 sub, 3 up, 4 average, 5 Paeth; above 5 none.
    uint8_t FilterType = 1;
    uint8_t Interlace = 0;
    bool Grayscale = false;
    std::string Comment;
    int32_t BackgroundColor = -1;
    int32_t TransparentColor = -1;
    double Gamma = 0.0;
    uint32_t SignificantBits = 0;
    uint8_t PixelUnit = 0;
    uint32_t PixelsPerUnitX = 0;
    uint32_t PixelsPerUnitY = 0;
    bool WriteTime = true;
    const TPNGTime* LastModified = nullptr;
    const TPNGChromaticities* Chromaticities = nullptr;
    const TPNGGIFExtension* GIFExtension = nullptr;
    std::string Key;
    TPNGRowDataEvent OnWriteRowData;
    const TBitmap* Mask = nullptr;
    bool WriteSignature = true;

protected:
    void Encode() override;

private:
    struct Deflater;

    void WriteChunk(uint32_t type, const uint8_t* data, std::size_t length);
    void WriteText(const std::string& keyword, const std::string& text);
    void WriteMetadata();
    void WriteColorChunk(uint32_t type, int32_t color);
    void WriteImageData();
    void ConvertRow(int32_t y, uint8_t* out);
    uint8_t ChooseFilter(const uint8_t* row, const uint8_t* prev, std::size_t length, std::size_t bpp);
    void DeflateRow(Deflater& z, const uint8_t* data, std::size_t length, bool finish);

    int32_t FIDATSize = 32768;

    // Chosen by Encode.
    int FSourceBits = 0;
    uint8_t FColorType = 0;
    uint8_t FDepth = 0;
    int FPNGBits = 0;
    // The source's depth as the adaptive filter weighs it: 24 for 15- and 16-bit sources.
    int FScoreBits = 0;
    bool FUseMask = false;
    uint8_t FGreyTable[256] = {};
    std::vector<uint8_t> FFiltered[5];
};

}  // namespace nolvi2
