#include "BmpCodec.h"

#include "ColorProfile.h"

#include "Exceptions.h"
#include "Format.h"
#include "PixelConvert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace nolvi2 {

namespace {

// ---- errors ----

constexpr const char* kBrokenHeader = "ヘッダーが壊れています";
constexpr const char* kDataEnds = "データが途中で終わっています";

[[noreturn]] void Fail(const std::string& detail)
{
    throw EInvalidGraphic("BMP 画像を読み込めません（" + detail + "）");
}

[[noreturn]] void Unsupported(const std::string& what) { Fail("未対応の形式です: " + what); }

// ---- little-endian fields ----

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// As many of count bytes as the stream still holds.
int64_t ReadUpTo(TStream& stream, void* buffer, int64_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = stream.Read(p + done, count - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

void ReadExactly(TStream& stream, void* buffer, int64_t count)
{
    if (ReadUpTo(stream, buffer, count) != count)
        Fail(kDataEnds);
}

// ---- the info header ----

// Compression codes of the info header.
enum : uint32_t {
    kBiRgb = 0,
    kBiRle8 = 1,
    kBiRle4 = 2,
    kBiBitFields = 3,  // OS/2 2.x: Huffman 1D
    kBiJpeg = 4,       // OS/2 2.x: RLE24
    kBiPng = 5,
    kBiAlphaBitFields = 6,
};

enum class TLayout { Plain, Rle4, Rle8, Rle24, BitFields };

struct TDibHeader {
    uint32_t size = 0;
    int64_t width = 0;
    int64_t height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = kBiRgb;
    uint32_t colorsUsed = 0;
    bool core = false;  // OS/2 1.x core header: 16-bit sizes, 3-byte palette entries
    bool os2 = false;   // OS/2 2.x header: compression 3 and 4 mean Huffman 1D and RLE24
    TLayout layout = TLayout::Plain;
    uint32_t masks[3] = {};  // red, green, blue
    // A V5 header's embedded colour profile: its offset from the header's start and size.
    uint32_t profileData = 0, profileSize = 0;
};

constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'


bool IsMasks(const TDibHeader& h, uint32_t r, uint32_t g, uint32_t b)
{
    return h.masks[0] == r && h.masks[1] == g && h.masks[2] == b;
}

TDibHeader ReadInfoHeader(TStream& stream)
{
    TDibHeader h;
    uint8_t buf[124] = {};
    ReadExactly(stream, buf, 4);
    h.size = Get32(buf);
    // 12: OS/2 1.x; 16 to 64: OS/2 2.x cut after any field, and Windows 40, 52 and 56;
    // 108 and 124: V4 and V5.
    const bool known = h.size == 12 || (h.size >= 16 && h.size <= 64 && h.size % 2 == 0) || h.size == 108 ||
                       h.size == 124;
    if (!known)
        Fail(kBrokenHeader);
    ReadExactly(stream, buf + 4, h.size - 4);

    if (h.size == 12) {
        h.core = true;
        h.width = Get16(buf + 4);
        h.height = Get16(buf + 6);
        h.bitCount = Get16(buf + 10);
    } else {
        h.os2 = h.size <= 64 && h.size != 40 && h.size != 52 && h.size != 56;
        h.width = int32_t(Get32(buf + 4));
        const int32_t height = int32_t(Get32(buf + 8));
        h.topDown = height < 0;
        h.height = h.topDown ? -int64_t(height) : int64_t(height);
        h.bitCount = Get16(buf + 14);
        if (h.size >= 20)
            h.compression = Get32(buf + 16);
        if (h.size >= 36)
            h.colorsUsed = Get32(buf + 32);
        if (!h.os2 && h.size >= 52)
            for (int i = 0; i < 3; ++i)
                h.masks[i] = Get32(buf + 40 + 4 * i);
        if (h.size == 124 && Get32(buf + 56) == kProfileEmbedded) {
            h.profileData = Get32(buf + 112);
            h.profileSize = Get32(buf + 116);
        }
    }

    CheckPictureSize(h.width, h.height);
    if (h.width == 0 || h.height == 0)
        Fail(kBrokenHeader);

    auto requireBits = [&](std::initializer_list<int> allowed) {
        if (std::find(allowed.begin(), allowed.end(), h.bitCount) == allowed.end())
            Fail(kBrokenHeader);
    };
    switch (h.compression) {
    case kBiRgb:
        if (h.bitCount == 64)
            Unsupported("64 ビット/ピクセル");
        requireBits({1, 2, 4, 8, 16, 24, 32});
        h.layout = TLayout::Plain;
        break;
    case kBiRle8:
        requireBits({8});
        h.layout = TLayout::Rle8;
        break;
    case kBiRle4:
        requireBits({4});
        h.layout = TLayout::Rle4;
        break;
    case kBiBitFields:
        if (h.os2)
            Unsupported("圧縮 3、OS/2 ハフマン符号");
        requireBits({16, 24, 32});
        h.layout = TLayout::BitFields;
        break;
    case kBiJpeg:
        if (!h.os2)
            Unsupported("圧縮 4、JPEG 埋め込み");
        requireBits({24});
        h.layout = TLayout::Rle24;
        break;
    case kBiPng:
        Unsupported("圧縮 5、PNG 埋め込み");
    case kBiAlphaBitFields:
        if (h.os2)
            Unsupported("圧縮 6");
        requireBits({16, 24, 32});
        h.layout = TLayout::BitFields;
        break;
    default:
        Unsupported(Format("圧縮 %u", h.compression));
    }
    // Windows refuses RLE stored top-down; reading it in that order costs nothing.

    if (h.layout == TLayout::BitFields) {
        // A 40-byte header is followed by the three masks (four with alpha); longer ones
        // hold them. The alpha mask is skipped: alpha is dropped.
        const bool alpha = h.compression == kBiAlphaBitFields;
        const int extra = (h.size < 52 ? 12 : 0) + (alpha && h.size < 56 ? 4 : 0);
        uint8_t m[16];
        ReadExactly(stream, m, extra);
        if (h.size < 52)
            for (int i = 0; i < 3; ++i)
                h.masks[i] = Get32(m + 4 * i);
        // No mask at all would make every pixel black: take it as the default layout.
        if (IsMasks(h, 0, 0, 0)) {
            if (h.bitCount == 16) {
                h.masks[0] = 0x7C00;
                h.masks[1] = 0x03E0;
                h.masks[2] = 0x001F;
            } else {
                h.masks[0] = 0xFF0000;
                h.masks[1] = 0x00FF00;
                h.masks[2] = 0x0000FF;
            }
        }
    }
    return h;
}

TPixelFormat TargetFormat(const TDibHeader& h)
{
    switch (h.layout) {
    case TLayout::Rle4: return TPixelFormat::pf4bit;
    case TLayout::Rle8: return TPixelFormat::pf8bit;
    case TLayout::Rle24: return TPixelFormat::pf24bit;
    case TLayout::BitFields:
        if (h.bitCount == 16 && IsMasks(h, 0x7C00, 0x03E0, 0x001F))
            return TPixelFormat::pf15bit;
        if (h.bitCount == 16 && IsMasks(h, 0xF800, 0x07E0, 0x001F))
            return TPixelFormat::pf16bit;
        return TPixelFormat::pf24bit;
    case TLayout::Plain: break;
    }
    switch (h.bitCount) {
    case 1: return TPixelFormat::pf1bit;
    case 2:
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    case 16: return TPixelFormat::pf15bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pf24bit;
    }
}

// ---- uncompressed rows ----

// Clears what a row read straight from the file may carry beyond its pixels: the unused
// bits of the last byte, the padding, and the top bit of 5-5-5 pixels.
void TidyRow(uint8_t* row, TPixelFormat pf, int32_t width, std::size_t stride)
{
    const std::size_t used = RowBytes(pf, width);
    std::memset(row + used, 0, stride - used);
    const int bits = BitsPerPixel(pf);
    const int tail = int((int64_t(width) * bits) % 8);
    if (tail)
        row[used - 1] &= uint8_t(0xFF << (8 - tail));
    if (pf == TPixelFormat::pf15bit)
        for (int32_t x = 0; x < width; ++x)
            row[2 * x + 1] &= 0x7F;
}

void Expand2To4(const uint8_t* src, uint8_t* dst, int32_t width)
{
    for (int32_t x = 0; x < width; x += 2) {
        const unsigned a = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        const unsigned b = x + 1 < width ? (src[(x + 1) >> 2] >> (6 - 2 * ((x + 1) & 3))) & 3 : 0;
        dst[x >> 1] = uint8_t(a << 4 | b);
    }
}

// Pixels of n bits under arbitrary masks, to 24 bits: each channel of k bits scales as
// round(v * 255 / (2^k - 1)); a channel without bits is 0.
class TBitFieldReader {
public:
    TBitFieldReader(const uint32_t masks[3], int bytesPerPixel) : FBytes(bytesPerPixel)
    {
        // masks[] is red, green, blue; the output is blue, green, red.
        bool bytewise = true;
        for (int i = 0; i < 3; ++i) {
            TChannel& c = FChannels[2 - i];
            c.mask = masks[i];
            if (c.mask) {
                c.shift = std::countr_zero(c.mask);
                c.bits = std::bit_width(c.mask >> c.shift);
                c.max = (uint64_t(1) << c.bits) - 1;
            }
            if (c.bits <= 16) {
                c.lut.resize(std::size_t(c.max) + 1);
                for (uint64_t v = 0; v <= c.max; ++v)
                    c.lut[v] = Scale(v, c.max);
            }
            if (c.mask != 0xFFu << c.shift || c.shift % 8 != 0 || c.shift / 8 >= bytesPerPixel)
                bytewise = false;
            FByteOf[2 - i] = c.shift / 8;
        }
        FBytewise = bytewise;
    }

    void Row(const uint8_t* src, uint8_t* dst, int32_t width) const
    {
        if (FBytewise) {
            for (int32_t x = 0; x < width; ++x, src += FBytes, dst += 3) {
                dst[0] = src[FByteOf[0]];
                dst[1] = src[FByteOf[1]];
                dst[2] = src[FByteOf[2]];
            }
            return;
        }
        for (int32_t x = 0; x < width; ++x, src += FBytes, dst += 3) {
            uint32_t px = uint32_t(src[0]) | uint32_t(src[1]) << 8;
            if (FBytes >= 3)
                px |= uint32_t(src[2]) << 16;
            if (FBytes == 4)
                px |= uint32_t(src[3]) << 24;
            for (int i = 0; i < 3; ++i)
                dst[i] = FChannels[i].Value(px);
        }
    }

private:
    static uint8_t Scale(uint64_t v, uint64_t max) { return max ? uint8_t((v * 510 + max) / (2 * max)) : 0; }

    struct TChannel {
        uint32_t mask = 0;
        int shift = 0;
        int bits = 0;
        uint64_t max = 0;
        std::vector<uint8_t> lut;  // channels up to 16 bits

        uint8_t Value(uint32_t px) const
        {
            const uint32_t v = (px & mask) >> shift;
            return lut.empty() ? Scale(v, max) : lut[v];
        }
    };

    TChannel FChannels[3];  // blue, green, red
    int FBytes;
    int FByteOf[3] = {};
    bool FBytewise = false;
};

// Reads the rows of an uncompressed picture. Rows whose bytes the file lacks stay 0.
void ReadRows(TStream& stream, const TDibHeader& h, int64_t fileStride, TBitmap& pic)
{
    const TPixelFormat pf = pic.PixelFormat();
    const int32_t width = pic.Width();
    const int32_t height = pic.Height();
    // Rows of the file and of the bitmap match byte for byte unless the depth changes or
    // bit fields must be taken apart.
    const bool direct = h.layout == TLayout::Plain ? h.bitCount != 2 : pf != TPixelFormat::pf24bit;
    std::vector<uint8_t> row(direct ? 0 : std::size_t(fileStride));
    std::unique_ptr<TBitFieldReader> fields;
    if (!direct && h.layout == TLayout::BitFields)
        fields = std::make_unique<TBitFieldReader>(h.masks, h.bitCount / 8);

    for (int32_t r = 0; r < height; ++r) {
        uint8_t* dst = pic.ScanLine(h.topDown ? r : height - 1 - r);
        uint8_t* src = direct ? dst : row.data();
        const int64_t got = ReadUpTo(stream, src, fileStride);
        if (got < fileStride)
            std::memset(src + got, 0, std::size_t(fileStride - got));
        if (direct)
            TidyRow(dst, pf, width, pic.Stride());
        else if (fields)
            fields->Row(src, dst, width);
        else
            Expand2To4(src, dst, width);
        if (got < fileStride)
            break;
    }
}

// ---- RLE ----

// Buffered bytes of the compressed stream.
class TByteSource {
public:
    TByteSource(TStream& stream, int64_t available)
        : FStream(stream), FBuffer(std::size_t(std::clamp<int64_t>(available, 1, 1 << 16)))
    {
    }

    bool Get(uint8_t& b)
    {
        if (FPos == FLen && !Fill())
            return false;
        b = FBuffer[FPos++];
        return true;
    }

    // count bytes, or false when the data ends first.
    bool Get(uint8_t* dst, std::size_t count)
    {
        while (count) {
            if (FPos == FLen && !Fill())
                return false;
            const std::size_t n = std::min(count, FLen - FPos);
            std::memcpy(dst, FBuffer.data() + FPos, n);
            FPos += n;
            dst += n;
            count -= n;
        }
        return true;
    }

private:
    bool Fill()
    {
        FLen = std::size_t(ReadUpTo(FStream, FBuffer.data(), int64_t(FBuffer.size())));
        FPos = 0;
        return FLen > 0;
    }

    TStream& FStream;
    std::vector<uint8_t> FBuffer;
    std::size_t FPos = 0;
    std::size_t FLen = 0;
};

inline void SetNibble(uint8_t* row, int64_t x, unsigned v)
{
    uint8_t& b = row[x >> 1];
    b = (x & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | v << 4);
}

// Decodes RLE4, RLE8 or OS/2 RLE24. Runs that reach past the end of a row are cut there and
// deltas that leave the picture end it; pixels the stream skips keep 0. A stream that ends
// early leaves the rest 0. Every step consumes at least two bytes, so it always ends.
void DecodeRle(TStream& stream, int64_t available, const TDibHeader& h, TBitmap& pic)
{
    const int64_t width = pic.Width();
    const int64_t height = pic.Height();
    TByteSource src(stream, available);
    int64_t x = 0;
    int64_t y = 0;  // rows in file order
    auto row = [&] { return pic.ScanLine(int32_t(h.topDown ? y : height - 1 - y)); };
    uint8_t literal[255 * 3 + 1];

    while (y < height) {
        uint8_t count = 0;
        uint8_t code = 0;
        if (!src.Get(count) || !src.Get(code))
            return;
        if (count > 0) {
            const int64_t n = std::max<int64_t>(std::min<int64_t>(count, width - x), 0);
            uint8_t* p = row();
            switch (h.layout) {
            case TLayout::Rle8:
                std::memset(p + x, code, std::size_t(n));
                break;
            case TLayout::Rle4:
                for (int64_t i = 0; i < n; ++i)
                    SetNibble(p, x + i, (i & 1) ? code & 15u : unsigned(code) >> 4);
                break;
            default: {
                uint8_t gr[2];
                if (!src.Get(gr, 2))
                    return;
                for (int64_t i = 0; i < n; ++i) {
                    uint8_t* q = p + 3 * (x + i);
                    q[0] = code;
                    q[1] = gr[0];
                    q[2] = gr[1];
                }
                break;
            }
            }
            x = std::min<int64_t>(x + count, width);
            continue;
        }
        switch (code) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return;
        case 2: {  // delta: right and up (down the rows in file order)
            uint8_t d[2];
            if (!src.Get(d, 2))
                return;
            x = std::min<int64_t>(x + d[0], width);
            y += d[1];
            break;
        }
        default: {  // a literal run of `code` pixels, padded to an even byte count
            const std::size_t pixels = code;
            std::size_t bytes = h.layout == TLayout::Rle8   ? pixels
                                : h.layout == TLayout::Rle4 ? (pixels + 1) / 2
                                                            : pixels * 3;
            bytes += bytes & 1;
            if (!src.Get(literal, bytes))
                return;
            const int64_t n = std::max<int64_t>(std::min<int64_t>(int64_t(pixels), width - x), 0);
            uint8_t* p = row();
            switch (h.layout) {
            case TLayout::Rle8:
                std::memcpy(p + x, literal, std::size_t(n));
                break;
            case TLayout::Rle4:
                for (int64_t i = 0; i < n; ++i)
                    SetNibble(p, x + i, (i & 1) ? literal[i >> 1] & 15u : unsigned(literal[i >> 1]) >> 4);
                break;
            default:
                std::memcpy(p + 3 * x, literal, std::size_t(n) * 3);
                break;
            }
            x = std::min<int64_t>(x + int64_t(pixels), width);
            break;
        }
        }
    }
}

// ---- the whole picture ----

// Reads the info header, palette and bits at the stream's position. bitsOffset is the file
// header's offset of the bits from origin, or -1 when the bits follow the colour table.
void ReadDibAt(TStream& stream, int64_t origin, int64_t bitsOffset, TBitmap& bitmap, std::vector<uint8_t>* profile)
{
    const int64_t end = stream.Size();
    const int64_t headerStart = stream.Position();
    const TDibHeader h = ReadInfoHeader(stream);

    // The colour table: colorsUsed entries (0: all that the depth allows), of which a
    // palette picture keeps at most 2^bits. An OS/2 1.x file says how many entries it has
    // only through the offset of its bits, so the offset, when it is sensible, caps them.
    const int64_t tableStart = stream.Position();
    const int entrySize = h.core ? 3 : 4;
    const int64_t maxEntries = h.bitCount <= 8 ? int64_t(1) << h.bitCount : 0;
    const int64_t tableEntries = h.colorsUsed ? int64_t(h.colorsUsed) : maxEntries;
    int64_t paletteEntries = std::min(tableEntries, maxEntries);
    int64_t bitsPos = tableStart + tableEntries * entrySize;
    if (bitsOffset >= 0 && origin + bitsOffset >= tableStart && origin + bitsOffset < end) {
        bitsPos = origin + bitsOffset;
        paletteEntries = std::min(paletteEntries, (bitsPos - tableStart) / entrySize);
    }
    TPalette palette(static_cast<std::size_t>(paletteEntries));
    if (paletteEntries) {
        uint8_t raw[256 * 4];
        ReadExactly(stream, raw, paletteEntries * entrySize);
        for (int64_t i = 0; i < paletteEntries; ++i) {
            const uint8_t* e = raw + i * entrySize;
            palette[std::size_t(i)] = TRGBQuad{e[0], e[1], e[2], 0};
        }
    }

    const bool rle = h.layout == TLayout::Rle4 || h.layout == TLayout::Rle8 || h.layout == TLayout::Rle24;
    const int64_t fileStride = (h.width * h.bitCount + 31) / 32 * 4;
    const int64_t bitsBytes = fileStride * h.height;
    // Some programs put the three masks after a V4 or V5 header on the clipboard as well.
    if (bitsOffset < 0 && h.layout == TLayout::BitFields && h.size > 40 && end - bitsPos == bitsBytes + 12)
        bitsPos += 12;
    if (bitsPos > end)
        Fail(kDataEnds);
    const int64_t available = end - bitsPos;

    // Before allocating: the data must be able to fill a fair part of the picture, so that
    // a few bytes cannot ask for a huge bitmap. Uncompressed data that stops early is read
    // as far as it goes (a cut-off download still shows its rows), but at least an eighth
    // of it must be there. Real RLE encoders spend two bytes on at most 255 pixels plus an
    // end of line a row; the bound leaves sixteen times that, and room for small pictures
    // made mostly of skips.
    if (rle) {
        if (h.width * h.height > available * 2048 + (int64_t(1) << 20))
            Fail(kDataEnds);
    } else if (available < bitsBytes / 8 || available == 0) {
        Fail(kDataEnds);
    }

    // The embedded profile, wherever it lies in the file (usually after the bits); one that
    // does not lie inside the file is ignored, as is one of absurd size.
    std::vector<uint8_t> embedded;
    constexpr uint32_t kMaxProfile = uint32_t(64) << 20;
    if (profile && h.profileSize > 0 && h.profileSize <= kMaxProfile &&
        headerStart + int64_t(h.profileData) + int64_t(h.profileSize) <= end) {
        embedded.resize(h.profileSize);
        stream.SetPosition(headerStart + int64_t(h.profileData));
        ReadExactly(stream, embedded.data(), int64_t(embedded.size()));
    }

    stream.SetPosition(bitsPos);
    TBitmap pic(int32_t(h.width), int32_t(h.height), TargetFormat(h));
    pic.SetPalette(std::move(palette));
    if (rle)
        DecodeRle(stream, available, h, pic);
    else
        ReadRows(stream, h, fileStride, pic);
    bitmap.TakeOver(pic);
    if (profile)
        *profile = std::move(embedded);
}

}  // namespace

void ReadBmp(TStream& stream, TBitmap& bitmap, std::vector<uint8_t>* profile)
{
    const int64_t origin = stream.Position();
    uint8_t fh[14];
    const int64_t got = ReadUpTo(stream, fh, sizeof fh);
    if (got == 0)
        Fail("データがありません");
    if (got < 2 || fh[0] != 'B' || (fh[1] != 'M' && fh[1] != 'A'))
        Fail("BMP ファイルではありません");
    if (got < int64_t(sizeof fh))
        Fail(kDataEnds);
    if (fh[1] == 'A') {
        // An OS/2 bitmap array: its first entry's file header follows the array header,
        // and offsets count from the start of the array.
        ReadExactly(stream, fh, sizeof fh);
        if (fh[0] != 'B' || fh[1] != 'M')
            Unsupported("BMP 以外を収めた OS/2 ビットマップ配列");
    }
    ReadDibAt(stream, origin, Get32(fh + 10), bitmap, profile);
}

void ReadDIB(TStream& stream, TBitmap& bitmap, std::vector<uint8_t>* profile)
{
    const int64_t origin = stream.Position();
    ReadDibAt(stream, origin, -1, bitmap, profile);
}

void WriteBmp(TStream& stream, const TBitmap& bitmap)
{
    if (bitmap.Empty())
        throw EInvalidGraphic("BMP 画像を書き出せません（画像が空です）");
    const int32_t width = bitmap.Width();
    const int32_t height = bitmap.Height();
    const std::size_t stride = RowStride(TPixelFormat::pf24bit, width);
    // At most 2^28 pixels: the sizes fit the 32-bit fields.
    const uint32_t imageSize = uint32_t(stride * std::size_t(height));
    constexpr uint32_t kHeaders = 14 + 40;
    constexpr uint32_t kPixelsPerMetre = 2835;  // 72 dpi

    uint8_t head[kHeaders] = {'B', 'M'};
    Put32(head + 2, kHeaders + imageSize);
    Put32(head + 10, kHeaders);
    uint8_t* info = head + 14;
    Put32(info, 40);
    Put32(info + 4, uint32_t(width));
    Put32(info + 8, uint32_t(height));  // positive: bottom-up
    Put16(info + 12, 1);
    Put16(info + 14, 24);
    Put32(info + 16, kBiRgb);
    Put32(info + 20, imageSize);
    Put32(info + 24, kPixelsPerMetre);
    Put32(info + 28, kPixelsPerMetre);
    stream.WriteBuffer(head, sizeof head);

    // Rows go out bottom row first, about a megabyte at a time. Each row slot's padding is
    // never written, so it stays 0.
    const int32_t rowsPerChunk =
        int32_t(std::clamp<std::size_t>((std::size_t(1) << 20) / stride, 1, std::size_t(height)));
    std::vector<uint8_t> chunk(stride * std::size_t(rowsPerChunk));
    const TPixelFormat pf = bitmap.PixelFormat();
    for (int32_t y = height - 1; y >= 0;) {
        const int32_t n = std::min(rowsPerChunk, y + 1);
        for (int32_t i = 0; i < n; ++i)
            ConvertRowTo24(pf, bitmap.Palette(), bitmap.ScanLine(y - i), chunk.data() + std::size_t(i) * stride,
                           width);
        stream.WriteBuffer(chunk.data(), int64_t(stride) * n);
        y -= n;
    }
}

void TBitmap::LoadFromStream(TStream& stream)
{
    std::vector<uint8_t> profile;
    ReadBmp(stream, *this, ApplyColorProfile ? &profile : nullptr);
    ConvertToSrgb(*this, profile);
}

void TBitmap::SaveToStream(TStream& stream) const { WriteBmp(stream, *this); }

}  // namespace nolvi2
