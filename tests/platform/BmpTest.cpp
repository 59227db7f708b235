// The BMP reader and writer on small pictures made here: round trips through every pixel
// format, the writer's file layout, truncated input, RLE edge cases, palettes, bit fields
// and packed DIBs.

#include "TestData.h"

#include "platform/BmpCodec.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace nolvi2;
using PF = TPixelFormat;
using Bytes = std::vector<uint8_t>;

namespace {

void Add16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Add32(Bytes& b, uint32_t v)
{
    Add16(b, v);
    Add16(b, v >> 16);
}

uint32_t Get32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24; }

// A BMP file with a BITMAPINFOHEADER.
struct TBmpSpec {
    int32_t Width = 1;
    int32_t Height = 1;  // negative: top-down
    uint16_t BitCount = 8;
    uint32_t Compression = 0;
    std::vector<uint32_t> Masks;  // after the header
    std::vector<TRGBQuad> Palette;
    int64_t ColorsUsed = -1;  // -1: the palette's size
    Bytes Bits;
};

Bytes MakeBmp(const TBmpSpec& s)
{
    const uint32_t offBits = uint32_t(14 + 40 + 4 * s.Masks.size() + 4 * s.Palette.size());
    Bytes b = {'B', 'M'};
    Add32(b, offBits + uint32_t(s.Bits.size()));
    Add32(b, 0);
    Add32(b, offBits);
    Add32(b, 40);
    Add32(b, uint32_t(s.Width));
    Add32(b, uint32_t(s.Height));
    Add16(b, 1);
    Add16(b, s.BitCount);
    Add32(b, s.Compression);
    Add32(b, uint32_t(s.Bits.size()));
    Add32(b, 2835);
    Add32(b, 2835);
    Add32(b, uint32_t(s.ColorsUsed < 0 ? int64_t(s.Palette.size()) : s.ColorsUsed));
    Add32(b, 0);
    for (uint32_t m : s.Masks)
        Add32(b, m);
    for (const TRGBQuad& q : s.Palette)
        b.insert(b.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed, 0});
    b.insert(b.end(), s.Bits.begin(), s.Bits.end());
    return b;
}

// Rows in file order, each padded to 4 bytes.
Bytes Rows(std::initializer_list<Bytes> rows)
{
    Bytes out;
    for (const Bytes& r : rows) {
        out.insert(out.end(), r.begin(), r.end());
        out.resize((out.size() + 3) & ~std::size_t(3), 0);
    }
    return out;
}

void Fill(TMemoryStream& s, const Bytes& bytes)
{
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
}

void Decode(const Bytes& bytes, TBitmap& bmp)
{
    TMemoryStream s;
    Fill(s, bytes);
    bmp.LoadFromStream(s);
}

// The indices of a 4- or 8-bit picture.
std::vector<Bytes> Indices(const TBitmap& bmp)
{
    std::vector<Bytes> rows;
    for (int32_t y = 0; y < bmp.Height(); ++y) {
        Bytes row;
        const uint8_t* p = bmp.ScanLine(y);
        for (int32_t x = 0; x < bmp.Width(); ++x)
            row.push_back(bmp.PixelFormat() == PF::pf4bit ? (p[x / 2] >> (x % 2 ? 0 : 4)) & 15 : p[x]);
        rows.push_back(row);
    }
    return rows;
}

Bytes Row24(const TBitmap& bmp, int32_t y)
{
    const uint8_t* p = bmp.ScanLine(y);
    return Bytes(p, p + 3 * bmp.Width());
}

// ---- writing ----

TEST(Bmp, RoundTripsEveryPixelFormat)
{
    const PF formats[] = {PF::pf1bit,  PF::pf4bit,  PF::pf8bit, PF::pf15bit,
                          PF::pf16bit, PF::pf24bit, PF::pf32bit};
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    for (PF pf : formats)
        for (int32_t width : {1, 3, 9, 13}) {
            SCOPED_TRACE(testing::Message() << "format " << int(pf) << ", width " << width);
            const int32_t height = 5;
            TBitmap original(width, height, pf);
            TPalette palette(std::size_t(PaletteEntryCount(pf)));
            for (TRGBQuad& q : palette)
                q = TRGBQuad{next(), next(), next(), 0};
            original.SetPalette(palette);
            for (int32_t y = 0; y < height; ++y)
                for (std::size_t i = 0; i < original.RowBytes(); ++i)
                    original.ScanLine(y)[i] = next();

            TMemoryStream file;
            original.SaveToStream(file);
            EXPECT_EQ(file.Size(), int64_t(54 + RowStride(PF::pf24bit, width) * height));

            file.SetPosition(0);
            TBitmap back;
            back.LoadFromStream(file);
            TBitmap expected;
            expected.Assign(original);
            expected.SetPixelFormat(PF::pf24bit);
            ASSERT_EQ(back.PixelFormat(), PF::pf24bit);
            ASSERT_EQ(back.Width(), width);
            ASSERT_EQ(back.Height(), height);
            for (int32_t y = 0; y < height; ++y)
                EXPECT_EQ(Row24(back, y), Row24(expected, y)) << "row " << y;
        }
}

TEST(Bmp, WritesBottomUp24BitFile)
{
    TBitmap bmp(2, 2, PF::pf24bit);
    const uint8_t top[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t bottom[6] = {7, 8, 9, 10, 11, 12};
    std::memcpy(bmp.ScanLine(0), top, 6);
    std::memcpy(bmp.ScanLine(1), bottom, 6);
    TMemoryStream s;
    bmp.SaveToStream(s);
    ASSERT_EQ(s.Size(), 54 + 16);
    const uint8_t* f = s.Memory();
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(Get32(f + 2), 70u);    // file size
    EXPECT_EQ(Get32(f + 10), 54u);   // offset of the bits
    EXPECT_EQ(Get32(f + 14), 40u);   // BITMAPINFOHEADER
    EXPECT_EQ(Get32(f + 18), 2u);    // width
    EXPECT_EQ(Get32(f + 22), 2u);    // height, positive: bottom-up
    EXPECT_EQ(Get32(f + 26), 1u | 24u << 16);  // planes, bits
    EXPECT_EQ(Get32(f + 30), 0u);    // BI_RGB
    EXPECT_EQ(Get32(f + 34), 16u);   // image size
    EXPECT_EQ(Get32(f + 46), 0u);    // colours used
    const Bytes data(f + 54, f + 70);
    EXPECT_EQ(data, (Bytes{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST(Bmp, RefusesToWriteEmptyPicture)
{
    for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 3}, std::pair{3, 0}}) {
        TBitmap bmp(w, h, PF::pf24bit);
        TMemoryStream s;
        try {
            bmp.SaveToStream(s);
            ADD_FAILURE() << w << "x" << h << " written";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "BMP 画像を書き出せません（画像が空です）");
        }
        EXPECT_EQ(s.Size(), 0);
    }
}

// ---- broken input ----

TBmpSpec FourByFour8Bit()
{
    TBmpSpec s;
    s.Width = 4;
    s.Height = 4;
    s.Palette = {{0, 0, 0, 0}, {10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}};
    s.Bits = Rows({{0, 1, 2, 3}, {1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}});
    return s;
}

TEST(Bmp, EmptyAndCutHeadersFailCleanly)
{
    const Bytes file = MakeBmp(FourByFour8Bit());
    const std::size_t bitsStart = 14 + 40 + 16;
    for (std::size_t n = 0; n < bitsStart; ++n) {
        SCOPED_TRACE(n);
        TBitmap bmp;
        EXPECT_THROW(Decode(Bytes(file.begin(), file.begin() + n), bmp), EInvalidGraphic);
    }
    TBitmap bmp;
    EXPECT_THROW(Decode(Bytes{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, bmp), EInvalidGraphic);
}

TEST(Bmp, CutPixelDataKeepsTheRowsThatAreThere)
{
    const Bytes file = MakeBmp(FourByFour8Bit());
    // Two and a half of the four rows (stored bottom row first).
    TBitmap bmp;
    Decode(Bytes(file.begin(), file.end() - 6), bmp);
    EXPECT_EQ(Indices(bmp), (std::vector<Bytes>{{0, 0, 0, 0}, {2, 2, 0, 0}, {1, 1, 1, 1}, {0, 1, 2, 3}}));

    // Less than an eighth of the data: refused rather than a black picture.
    TBitmap before(3, 3, PF::pf24bit);
    before.ScanLine(1)[4] = 99;
    EXPECT_THROW(Decode(Bytes(file.begin(), file.end() - 15), before), EInvalidGraphic);
    // A failed read leaves the bitmap as it was.
    EXPECT_EQ(before.Width(), 3);
    EXPECT_EQ(before.PixelFormat(), PF::pf24bit);
    EXPECT_EQ(before.ScanLine(1)[4], 99);
}

TEST(Bmp, ReadsFromTheStreamPosition)
{
    Bytes file = {'j', 'u', 'n', 'k'};
    const Bytes bmpFile = MakeBmp(FourByFour8Bit());
    file.insert(file.end(), bmpFile.begin(), bmpFile.end());
    TMemoryStream s;
    Fill(s, file);
    s.SetPosition(4);
    TBitmap bmp;
    bmp.LoadFromStream(s);
    EXPECT_EQ(Indices(bmp)[3], (Bytes{0, 1, 2, 3}));
}

// ---- RLE ----

struct TRleCase {
    const char* What;
    int Bits;  // 4 or 8
    int32_t Width;
    int32_t Height;  // negative: top-down
    Bytes Stream;
    std::vector<Bytes> Expected;  // indices, top row first
};

TEST(Bmp, RleStreams)
{
    const TRleCase cases[] = {
        {"runs past the row end are cut, not wrapped", 8, 3, 2, {5, 7, 0, 0, 1, 9, 0, 1},
         {{9, 0, 0}, {7, 7, 7}}},
        {"literals past the row end are cut, their padding skipped", 8, 2, 2,
         {0, 3, 1, 2, 3, 0, 0, 0, 2, 4, 0, 1}, {{4, 4}, {1, 2}}},
        {"a delta skips pixels, which stay 0", 8, 4, 3, {1, 5, 0, 2, 2, 1, 1, 6, 0, 1},
         {{0, 0, 0, 0}, {0, 0, 0, 6}, {5, 0, 0, 0}}},
        {"a delta out of the picture ends it", 8, 2, 2, {1, 5, 0, 2, 0, 9, 1, 6}, {{0, 0}, {5, 0}}},
        {"an early end of bitmap leaves the rest 0", 8, 3, 2, {2, 3, 0, 1, 3, 4}, {{0, 0, 0}, {3, 3, 0}}},
        {"a stream cut inside a literal", 8, 4, 1, {1, 8, 0, 4, 1, 2}, {{8, 0, 0, 0}}},
        {"more rows than the picture has", 8, 1, 2, {0, 0, 0, 0, 0, 0, 0, 0, 1, 3}, {{0}, {0}}},
        {"top-down", 8, 2, -2, {2, 1, 0, 0, 2, 2, 0, 1}, {{1, 1}, {2, 2}}},
        {"RLE4 runs alternate the two nibbles", 4, 5, 1, {5, 0x12, 0, 1}, {{1, 2, 1, 2, 1}}},
        {"RLE4 literals are padded to whole 16-bit words", 4, 6, 1,
         {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x90, 0, 1}, {{1, 2, 3, 4, 5, 9}}},
        {"RLE4 runs past the row end are cut", 4, 3, 2, {7, 0xAB, 0, 0, 1, 0xC0}, {{12, 0, 0}, {10, 11, 10}}},
    };
    for (const TRleCase& c : cases) {
        SCOPED_TRACE(c.What);
        TBmpSpec s;
        s.Width = c.Width;
        s.Height = c.Height;
        s.BitCount = uint16_t(c.Bits);
        s.Compression = c.Bits == 8 ? 1 : 2;
        s.Palette.resize(c.Bits == 8 ? 256 : 16);
        s.Bits = c.Stream;
        TBitmap bmp;
        Decode(MakeBmp(s), bmp);
        EXPECT_EQ(bmp.PixelFormat(), c.Bits == 8 ? PF::pf8bit : PF::pf4bit);
        EXPECT_EQ(Indices(bmp), c.Expected);
    }
}

TEST(Bmp, RleRefusesPicturesFarLargerThanTheirData)
{
    TBmpSpec s;
    s.Compression = 1;
    s.Palette.resize(2);
    s.Bits = {0, 1};  // end of bitmap

    s.Width = s.Height = 1024;  // small enough to be made of skips
    TBitmap bmp;
    Decode(MakeBmp(s), bmp);
    EXPECT_EQ(bmp.Width(), 1024);

    s.Width = s.Height = 8192;
    EXPECT_THROW(Decode(MakeBmp(s), bmp), EInvalidGraphic);
}

// ---- palettes and bit fields ----

TEST(Bmp, PaletteKeepsTheFileSize)
{
    TBmpSpec s;
    s.Width = 3;
    s.Palette = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    s.Bits = Rows({{0, 1, 200}});
    TBitmap bmp;
    Decode(MakeBmp(s), bmp);
    EXPECT_EQ(bmp.Palette(), s.Palette);
    bmp.SetPixelFormat(PF::pf24bit);
    EXPECT_EQ(Row24(bmp, 0), (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 0}));  // 200 is beyond the palette: black

    // Colours used 0: as many as the depth allows.
    s.BitCount = 4;
    s.Palette.assign(16, TRGBQuad{7, 7, 7, 0});
    s.ColorsUsed = 0;
    s.Bits = Rows({{0x01, 0x20}});
    Decode(MakeBmp(s), bmp);
    EXPECT_EQ(bmp.Palette().size(), 16u);

    // More colours than the depth allows: the first 2^bits, and the bits still found.
    s.BitCount = 1;
    s.Palette = {{1, 1, 1, 0}, {2, 2, 2, 0}, {3, 3, 3, 0}};
    s.ColorsUsed = -1;
    s.Bits = Rows({{0x40}});
    Decode(MakeBmp(s), bmp);
    EXPECT_EQ(bmp.Palette(), (TPalette{{1, 1, 1, 0}, {2, 2, 2, 0}}));
    EXPECT_EQ(bmp.ScanLine(0)[0], 0x40);
}

TEST(Bmp, BitFieldChannelsScaleToEightBits)
{
    // 32 bits: red 20 bits, green none, blue 12 bits.
    TBmpSpec s;
    s.Width = 3;
    s.BitCount = 32;
    s.Compression = 3;
    s.Masks = {0xFFFFF000, 0, 0x00000FFF};
    Bytes px;
    for (uint32_t v : {0xFFFFFFFFu, 0x800007FFu, 0x00001001u})
        Add32(px, v);
    s.Bits = px;
    TBitmap bmp;
    Decode(MakeBmp(s), bmp);
    ASSERT_EQ(bmp.PixelFormat(), PF::pf24bit);
    // 0x80000 of 0xFFFFF: 127.5001 -> 128; 0x7FF of 0xFFF: 127.47 -> 127; 1 of 0xFFFFF: 0.0002 -> 0.
    EXPECT_EQ(Row24(bmp, 0), (Bytes{255, 0, 255, 127, 0, 128, 0, 0, 0}));

    // 16 bits, 4-4-4 with alpha in the top bits: v * 17, alpha ignored.
    s.BitCount = 16;
    s.Masks = {0x0F00, 0x00F0, 0x000F};
    px.clear();
    for (uint32_t v : {0xF123u, 0x0FEDu, 0x8000u})
        Add16(px, v);
    s.Bits = Rows({px});
    Decode(MakeBmp(s), bmp);
    EXPECT_EQ(Row24(bmp, 0), (Bytes{3 * 17, 2 * 17, 1 * 17, 13 * 17, 14 * 17, 15 * 17, 0, 0, 0}));
}

// ---- packed DIBs ----

TEST(Bmp, ReadDibMatchesTheFile)
{
    NOLVI2_REQUIRE_TESTDATA();
    const std::filesystem::path suite = test::TestDataDir() / "bmpsuite";
    for (const char* name : {"g/pal8.bmp", "g/pal8os2.bmp", "g/rgb16-565pal.bmp", "g/rgb24.bmp",
                             "q/rgb32-xbgr.bmp", "q/pal8oversizepal.bmp"}) {
        SCOPED_TRACE(name);
        TMemoryStream file;
        file.LoadFromFile((suite / name).string());
        TBitmap fromFile;
        fromFile.LoadFromStream(file);

        // The clipboard's form: no file header, the bits right after the colour table.
        const Bytes dib(file.Memory() + 14, file.Memory() + file.Size());
        TMemoryStream s;
        Fill(s, dib);
        TBitmap fromDib;
        ReadDIB(s, fromDib);
        ASSERT_EQ(fromDib.PixelFormat(), fromFile.PixelFormat());
        EXPECT_EQ(fromDib.Palette(), fromFile.Palette());
        ASSERT_EQ(fromDib.ImageBytes(), fromFile.ImageBytes());
        EXPECT_EQ(std::memcmp(fromDib.ScanLine(0), fromFile.ScanLine(0), fromFile.ImageBytes()), 0);
    }
}

TEST(Bmp, ReadDibSkipsMasksRepeatedAfterV5Header)
{
    NOLVI2_REQUIRE_TESTDATA();
    TMemoryStream file;
    file.LoadFromFile((test::TestDataDir() / "bmpsuite/q/rgb32-xbgr.bmp").string());
    TBitmap fromFile;
    fromFile.LoadFromStream(file);

    Bytes dib(file.Memory() + 14, file.Memory() + 14 + 124);
    for (int i = 0; i < 3; ++i)
        dib.insert(dib.end(), file.Memory() + 14 + 40 + 4 * i, file.Memory() + 14 + 44 + 4 * i);
    dib.insert(dib.end(), file.Memory() + 14 + 124, file.Memory() + file.Size());
    TMemoryStream s;
    Fill(s, dib);
    TBitmap fromDib;
    ReadDIB(s, fromDib);
    ASSERT_EQ(fromDib.ImageBytes(), fromFile.ImageBytes());
    EXPECT_EQ(std::memcmp(fromDib.ScanLine(0), fromFile.ScanLine(0), fromFile.ImageBytes()), 0);
}

}  // namespace
