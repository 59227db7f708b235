// Decoder behaviour on small files made here: metadata, transparency kinds, comments, split
// image data, header errors, truncation and sizes beyond the bitmap model.

#include "PngBuilder.h"
#include "Pictures.h"
#include "TestData.h"
#include "png/VelPNGReadStream.h"

#include <array>

namespace nolvi2::test {
namespace {

// A 4 × 2 picture of the given kind with raw (unfiltered) rows, filter byte 0 per row.
Bytes Idat(const Bytes& rowsWithoutFilter, std::size_t rowBytes)
{
    Bytes raw;
    for (std::size_t i = 0; i < rowsWithoutFilter.size(); ++i) {
        if (i % rowBytes == 0)
            raw.push_back(0);
        raw.push_back(rowsWithoutFilter[i]);
    }
    return Compress(raw);
}

// 8-bit palette picture, 4 × 2, indices 0..3 twice, three palette entries and one more.
Bytes PalettePicture(const Bytes& trns, std::vector<Bytes> extra = {})
{
    std::vector<Bytes> chunks = {Ihdr(4, 2, 8, 3), Chunk("PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3})};
    if (!trns.empty())
        chunks.push_back(Chunk("tRNS", trns));
    chunks.insert(chunks.end(), extra.begin(), extra.end());
    chunks.push_back(Chunk("IDAT", Idat({0, 1, 2, 3, 3, 2, 1, 0}, 4)));
    chunks.push_back(Chunk("IEND", {}));
    return PngFile(chunks);
}

std::string ErrorOf(const Bytes& file)
{
    TVelPNG png;
    try {
        LoadPng(png, file);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

TEST(PngDecode, PaletteTransparencyIsOneIndexOrAMask)
{
    TVelPNG one;
    LoadPng(one, PalettePicture({255, 0, 255}));
    EXPECT_TRUE(one.Transparent());
    EXPECT_EQ(one.TransparentColor, 0x01000001);
    EXPECT_FALSE(one.HasAlpha);

    TVelPNG partial;
    LoadPng(partial, PalettePicture({255, 128}));
    EXPECT_FALSE(partial.Transparent());
    EXPECT_EQ(partial.TransparentColor, -1);
    ASSERT_TRUE(partial.HasAlpha);
    const uint8_t expected[2][4] = {{0, 127, 0, 0}, {0, 0, 127, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(partial.Mask().ScanLine(y)[x], expected[y][x]) << x << "," << y;

    // An empty table, or one before the palette, leaves every entry opaque and the picture whole.
    for (const Bytes& file : {PalettePicture({0}, {}), PngFile({Ihdr(4, 2, 8, 3), Chunk("tRNS", {0}),
                                                                Chunk("PLTE", {1, 2, 3}),
                                                                Chunk("IDAT", Idat({0, 0, 0, 0, 0, 0, 0, 0}, 4)),
                                                                Chunk("IEND", {})})}) {
        TVelPNG png;
        LoadPng(png, file);
        EXPECT_EQ(png.Width(), 4);
    }
    TVelPNG empty;
    LoadPng(empty, PngFile({Ihdr(4, 2, 8, 3), Chunk("PLTE", {1, 2, 3}), Chunk("tRNS", {}),
                            Chunk("IDAT", Idat({0, 0, 0, 0, 0, 0, 0, 0}, 4)), Chunk("IEND", {})}));
    EXPECT_EQ(empty.Width(), 4);
    EXPECT_FALSE(empty.Transparent());
}

TEST(PngPicture, DefaultsAndAssignment)
{
    TVelPNG fresh;
    EXPECT_TRUE(fresh.Empty());
    EXPECT_EQ(fresh.Width(), 0);
    EXPECT_DOUBLE_EQ(fresh.Gamma, 0.45455);
    EXPECT_EQ(fresh.BackgroundColor, -1);
    EXPECT_EQ(fresh.TransparentColor, -1);
    EXPECT_EQ(fresh.FilterType, 1);
    EXPECT_EQ(fresh.IDATSize, 32768);

    // Pixels, mask and the saving settings and metadata are copied; HasAlpha, BitDepth, the
    // key and the GIF extension are not.
    TVelPNG source;
    LoadPng(source, PalettePicture({255, 128}, {Chunk("gIFg", {1, 2, 3, 4})}));
    source.Comment = "c";
    source.FilterType = 0;
    source.Key = "k";
    TVelPNG target;
    target.Assign(source);
    EXPECT_TRUE(SamePixels(target.Picture(), source.Picture()));
    EXPECT_TRUE(SamePixels(target.Mask(), source.Mask()));
    EXPECT_FALSE(target.HasAlpha);
    EXPECT_EQ(target.BitDepth, 0);
    EXPECT_EQ(target.Key, "");
    EXPECT_EQ(target.GIFExtension, (TPNGGIFExtension{}));
    EXPECT_EQ(target.Comment, "c");
    EXPECT_EQ(target.FilterType, 0);
    EXPECT_EQ(target.Gamma, 0.0);

    // The transparent colour goes with a PNG picture; a plain bitmap brings none.
    TVelPNG transparent;
    LoadPng(transparent, PalettePicture({255, 0, 255}));
    target.Assign(transparent);
    EXPECT_TRUE(target.Transparent());
    TBitmap plain;
    plain.SetPixelFormat(TPixelFormat::pf24bit);
    plain.SetSize(3, 2);
    target.Assign(plain);
    EXPECT_FALSE(target.Transparent());
    EXPECT_EQ(target.Width(), 3);

    // Resizing leaves an empty mask empty.
    target.SetWidth(5);
    EXPECT_EQ(target.Width(), 5);
    EXPECT_TRUE(target.Mask().Empty());
}

TEST(PngDecode, TruecolourTransparencyAndAlpha)
{
    // 16-bit truecolour with tRNS (0x1234, 0x5678, 0x9ABC): high bytes, red lowest.
    const Bytes trns = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    TVelPNG rgb16;
    LoadPng(rgb16, PngFile({Ihdr(1, 1, 16, 2), Chunk("tRNS", trns), Chunk("IDAT", Idat(Bytes(6, 7), 6)),
                            Chunk("IEND", {})}));
    EXPECT_EQ(rgb16.TransparentColor, 0x9A5612);
    EXPECT_TRUE(rgb16.Transparent());
    EXPECT_EQ(rgb16.BitDepth, 48);

    // Colour type 6: tRNS is ignored, alpha goes to the mask only.
    TVelPNG rgba;
    LoadPng(rgba, PngFile({Ihdr(1, 1, 8, 6), Chunk("tRNS", {0, 1, 0, 2, 0, 3}),
                           Chunk("IDAT", Idat({10, 20, 30, 200}, 4)), Chunk("IEND", {})}));
    EXPECT_FALSE(rgba.Transparent());
    EXPECT_EQ(rgba.TransparentColor, -1);
    ASSERT_TRUE(rgba.HasAlpha);
    EXPECT_EQ(rgba.Mask().ScanLine(0)[0], 55);
    EXPECT_EQ(rgba.Picture().PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(rgba.Picture().ScanLine(0)[0], 30);  // blue first
}

TEST(PngDecode, TwoBitGreyBecomesFourBitWithAGreyRamp)
{
    TVelPNG png;
    LoadPng(png, PngFile({Ihdr(4, 1, 2, 0), Chunk("IDAT", Idat({0b00011011}, 1)), Chunk("IEND", {})}));
    const TBitmap& b = png.Picture();
    ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf4bit);
    ASSERT_EQ(b.Palette().size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(b.Palette()[std::size_t(i)], (TRGBQuad{uint8_t(85 * i), uint8_t(85 * i), uint8_t(85 * i), 0}));
    EXPECT_EQ(b.ScanLine(0)[0], 0x01);
    EXPECT_EQ(b.ScanLine(0)[1], 0x23);
    EXPECT_TRUE(png.Grayscale);
}

// An index beyond the file's palette is black; without PLTE every index is, whatever the
// bitmap model's standard palette for that depth would show.
TEST(PngDecode, IndicesWithoutAPaletteEntryAreBlack)
{
    struct Case {
        uint8_t depth;
        Bytes plte;
        Bytes row;                        // one row of 4 pixels, packed
        std::array<uint32_t, 4> expected;  // 0xRRGGBB of each pixel after conversion to 24 bits
    };
    const Case cases[] = {
        {1, {}, {0xF0}, {0, 0, 0, 0}},
        {2, {}, {0x1B}, {0, 0, 0, 0}},
        {4, {}, {0x7F, 0xA5}, {0, 0, 0, 0}},
        {8, {}, {0, 90, 215, 255}, {0, 0, 0, 0}},
        {8, {200, 1, 2, 100, 3, 4}, {0, 1, 2, 255}, {0xC80102, 0x640304, 0, 0}},  // a palette of two
        {4, {200, 1, 2}, {0x01, 0xF0}, {0xC80102, 0, 0, 0xC80102}},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> chunks = {Ihdr(4, 1, c.depth, 3)};
        if (!c.plte.empty())
            chunks.push_back(Chunk("PLTE", c.plte));
        chunks.push_back(Chunk("IDAT", Idat(c.row, c.row.size())));
        chunks.push_back(Chunk("IEND", {}));
        TVelPNG png;
        LoadPng(png, PngFile(chunks));
        TBitmap b;
        png.TakePicture(b);
        EXPECT_EQ(b.Palette().size(), c.plte.size() / 3) << int(c.depth);
        b.SetPixelFormat(TPixelFormat::pf24bit);
        for (std::size_t x = 0; x < 4; ++x) {
            const uint8_t* p = b.ScanLine(0) + 3 * x;
            EXPECT_EQ(uint32_t(p[2] << 16 | p[1] << 8 | p[0]), c.expected[x])
                << "depth " << int(c.depth) << ", " << c.plte.size() / 3 << " entries, pixel " << x;
        }
    }
}

TEST(PngDecode, CommentsMetadataAndLateChunks)
{
    const Bytes time = {0x07, 0xE8, 2, 29, 23, 59, 60};
    Bytes chrm;
    for (uint32_t v = 1; v <= 8; ++v)
        PutBE32(chrm, v * 1000);
    TVelPNG png;
    LoadPng(png, PngFile({Ihdr(1, 1, 8, 0), Chunk("gAMA", {0, 0, 0xB1, 0x8F}), Chunk("cHRM", chrm),
                          Chunk("pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1}), Chunk("tEXt", Bytes{'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'A'}),
                          Chunk("tEXt", Bytes{'c', 'o', 'm', 'm', 'e', 'n', 't', 0, 'x'}),
                          Chunk("IDAT", Idat({9}, 1)), Chunk("gAMA", {0, 0, 0, 1}),
                          Chunk("tEXt", Bytes{'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'B'}), Chunk("tIME", time),
                          Chunk("bKGD", {0, 7}), Chunk("IEND", {})}));
    EXPECT_EQ(png.Comment, "A\r\n\r\nB\r\n");
    EXPECT_DOUBLE_EQ(png.Gamma, 0.45455);  // the gAMA after the image data is ignored
    EXPECT_EQ(png.PixelUnit, 1);
    EXPECT_EQ(png.PixelsPerUnitX, 2835u);
    EXPECT_EQ(png.Chromaticities[7], 8000u);
    EXPECT_EQ(png.LastModified, (TPNGTime{2024, 2, 29, 23, 59, 60}));
    EXPECT_EQ(png.BackgroundColor, 0x070707);

    TVelPNG none;
    LoadPng(none, PngFile({Ihdr(1, 1, 8, 0), Chunk("IDAT", Idat({9}, 1)), Chunk("IEND", {})}));
    EXPECT_EQ(none.Gamma, 0.0);
    EXPECT_EQ(none.LastModified, TPNGTime{});
}

TEST(PngDecode, ImageDataSplitOverManyChunks)
{
    Bytes rows;
    for (int i = 0; i < 64; ++i)
        rows.push_back(uint8_t(i * 7));
    const Bytes data = Idat(rows, 8);
    TVelPNG whole;
    LoadPng(whole, PngFile({Ihdr(8, 8, 8, 0), Chunk("IDAT", data), Chunk("IEND", {})}));
    std::vector<Bytes> chunks = {Ihdr(8, 8, 8, 0), Chunk("IDAT", {})};
    for (std::size_t i = 0; i < data.size(); i += 3) {
        Bytes part;
        for (std::size_t j = i; j < data.size() && j < i + 3; ++j)
            part.push_back(data[j]);
        chunks.push_back(Chunk("IDAT", part));
    }
    chunks.push_back(Chunk("IEND", {}));
    TVelPNG split;
    LoadPng(split, PngFile(chunks));
    EXPECT_TRUE(SamePixels(whole.Picture(), split.Picture()));
    EXPECT_EQ(whole.Picture().ScanLine(7)[7], uint8_t(63 * 7));

    // Another chunk between the image data chunks ends the picture with an error.
    const std::size_t half = data.size() / 2;
    EXPECT_EQ(ErrorOf(PngFile({Ihdr(8, 8, 8, 0), Chunk("IDAT", Bytes(data.begin(), data.begin() + long(half))),
                               Chunk("tEXt", {'a', 0, 'b'}), Chunk("IDAT", Bytes(data.begin() + long(half), data.end())),
                               Chunk("IEND", {})})),
              "Read Image (PNG): Read Error");
}

TEST(PngDecode, HeaderErrorsAndLenientCases)
{
    const Bytes pixel = Idat({1, 2, 3}, 3);
    const struct {
        const char* what;
        Bytes file;
        std::string error;
    } cases[] = {
        {"second IHDR", PngFile({Ihdr(1, 1, 8, 2), Ihdr(1, 1, 8, 2), Chunk("IDAT", pixel)}), "Read Header(PNG): appear two IHDR"},
        {"colour type 5", PngFile({Ihdr(1, 1, 8, 5)}), "Read Header(PNG): Error ColorType"},
        {"compression 2", PngFile({Ihdr(1, 1, 8, 2, 2)}), "Read Header(PNG): not support Compression"},
        {"filter 2", PngFile({Ihdr(1, 1, 8, 2, 0, 2)}), "Read Header(PNG): not supprt Filter"},
        {"interlace 2", PngFile({Ihdr(1, 1, 8, 2, 0, 0, 2)}), "Read Header(PNG): not interlace type"},
        {"grey depth 3", PngFile({Ihdr(1, 1, 3, 0), Chunk("IDAT", pixel)}), "Read Header(PNG): Error Bitdepth"},
        {"grey+alpha depth 4", PngFile({Ihdr(1, 1, 4, 4), Chunk("IDAT", pixel)}), "Read Header(PNG): not Use AlphaChannel"},
        {"palette depth 16", PngFile({Ihdr(1, 1, 16, 3), Chunk("IDAT", pixel)}), "Read Header(PNG): Error BitDepth"},
        {"not PNG", Bytes{1, 2, 3}, "PNG LoadStream: Not PNG Format"},
        {"empty", Bytes{}, "PNG LoadStream: Not PNG Format"},
        {"filter type 5", PngFile({Ihdr(1, 1, 8, 2), Chunk("IDAT", Compress({5, 1, 2, 3}))}), "Read Image (PNG): Read Error"},
        {"data end in image", PngFile({Ihdr(1, 2, 8, 2), Chunk("IDAT", Compress({0, 1, 2, 3}))}), "Read Image (PNG): Read Error"},
        {"too wide", PngFile({Ihdr(70000, 1, 8, 2), Chunk("IDAT", pixel)}),
         "画像が大きすぎます（幅 70000、高さ 1）。扱えるのは幅と高さが 65535 ピクセルまで、画素数が 268435456 までの画像です。"},
        {"too many pixels", PngFile({Ihdr(65535, 65535, 1, 0), Chunk("IDAT", pixel)}),
         "画像が大きすぎます（幅 65535、高さ 65535）。扱えるのは幅と高さが 65535 ピクセルまで、画素数が 268435456 までの画像です。"},
        // Lenient: colour type 10 is truecolour, methods 1 pass, a cut after IHDR is no error.
        {"colour type 10", PngFile({Ihdr(1, 1, 8, 10, 1, 1), Chunk("IDAT", pixel), Chunk("IEND", {})}), ""},
        {"cut after IHDR", PngFile({Ihdr(1, 1, 8, 2)}), ""},
        {"huge text chunk", PngFile({Ihdr(1, 1, 8, 2), Bytes{0xFF, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 1}}), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf(c.file), c.error) << c.what;

    TVelPNG tc10;
    LoadPng(tc10, cases[14].file);
    EXPECT_EQ(tc10.Picture().ScanLine(0)[2], 1);
    TVelPNG cut;
    LoadPng(cut, cases[15].file);
    EXPECT_TRUE(cut.Empty());
}

TEST(PngDecode, PrivateChunkSwitchesPaletteGreyOnlyForEightBitGreyAlpha)
{
    const Bytes tpng = {'V', 'e', 'l', '3', 0, 1, 0, 0};
    const struct {
        const char* what;
        uint8_t colorType;
        bool allow;
        std::size_t paletteSize;
        int32_t background;
    } cases[] = {
        {"grey+alpha, allowed", 4, true, 2, 0x01000001},
        {"grey+alpha, not allowed", 4, false, 256, 0x010101},
        {"grey without alpha keeps its ramp", 0, true, 256, 0x010101},
    };
    for (const auto& c : cases) {
        const std::size_t bytes = c.colorType == 4 ? 2 : 1;
        const Bytes file = PngFile({Ihdr(1, 1, 8, c.colorType), Chunk("tpNG", tpng), Chunk("PLTE", {9, 8, 7, 6, 5, 4}),
                                    Chunk("bKGD", {0, 1}), Chunk("IDAT", Idat(Bytes(bytes, 1), bytes)),
                                    Chunk("IEND", {})});
        TMemoryStream s;
        s.WriteBuffer(file.data(), int64_t(file.size()));
        s.SetPosition(0);
        TBitmap picture;
        TVelPNGReadStream reader;
        reader.AllowPaletteGrey = c.allow;
        reader.ReadGraphic(&picture, s, 0);
        ASSERT_EQ(picture.Palette().size(), c.paletteSize) << c.what;
        EXPECT_EQ(picture.Palette()[1], c.paletteSize == 2 ? (TRGBQuad{4, 5, 6, 0}) : (TRGBQuad{1, 1, 1, 0})) << c.what;
        EXPECT_EQ(reader.BackgroundColor(), c.background) << c.what;
    }
}

TEST(PngDecode, KeyedRowsComeBackThroughTheHooks)
{
    // The writer scrambles every row with its number; the reader gets the key on request and
    // undoes it. Rows are numbered over all Adam7 passes, and filtering works on the
    // scrambled rows on both sides.
    TBitmap source;
    source.SetPixelFormat(TPixelFormat::pf24bit);
    source.SetSize(9, 7);
    for (int32_t y = 0; y < 7; ++y)
        for (std::size_t i = 0; i < source.RowBytes(); ++i)
            source.ScanLine(y)[i] = uint8_t(y * 31 + i * 7);
    auto scramble = [](std::vector<int32_t>& seen) {
        return [&seen](TObject*, uint8_t* row, const std::string& key, int32_t index, int32_t length) {
            ASSERT_EQ(key, "secret");
            seen.push_back(index);
            for (int32_t i = 0; i < length; ++i)
                row[i] = uint8_t(row[i] ^ (index * 13 + i));
        };
    };
    std::vector<int32_t> written, read;
    TVelPNG png;
    png.Borrow(source);
    png.Interlaced = 1;
    png.FilterType = 0;
    png.Key = "secret";
    png.OnWriteRowData = scramble(written);
    TMemoryStream s;
    png.SaveToStream(s);
    s.SetPosition(0);

    TVelPNG back;
    back.OnKeyRequest = [](TObject*, std::string& key) { key += "secret"; };
    back.OnRowData = scramble(read);
    back.LoadFromStream(s);
    EXPECT_TRUE(SamePixels(back.Picture(), source));
    const auto rows = std::size_t(PNGRowCount(9, 7, true));
    ASSERT_EQ(written.size(), rows);
    for (std::size_t i = 0; i < rows; ++i)
        EXPECT_EQ(written[i], int32_t(i));
    EXPECT_EQ(read, written);
}

TEST(PngDecode, MacBinaryHeaderIsSkipped)
{
    NOLVI2_REQUIRE_TESTDATA();
    const Bytes file = ReadFileBytes((TestDataDir() / "pngsuite" / "basn2c08.png").string());
    Bytes mac(128 + file.size(), 1);
    mac[0] = mac[74] = 0;
    std::copy(file.begin(), file.end(), mac.begin() + 128);
    TVelPNG plain, wrapped;
    LoadPng(plain, file);
    LoadPng(wrapped, mac);
    EXPECT_TRUE(SamePixels(plain.Picture(), wrapped.Picture()));
    wrapped.CheckMacBinary = false;
    EXPECT_THROW(LoadPng(wrapped, mac), EVelPNG);
}

TEST(PngDecode, ProgressReportsThroughThePicture)
{
    Bytes rows(64 * 40, 5);
    TVelPNG png;
    std::vector<Report> reports;
    png.OnProgress = [&](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                         const std::string& msg) { reports.push_back({sender, stage, percent, redraw, r, msg}); };
    LoadPng(png, PngFile({Ihdr(64, 40, 8, 0, 0, 0, 1), Chunk("IDAT", Compress([&] {
                                                              // Adam7 rows of 8-bit grey: filter 0 and the pass width.
                                                              Bytes raw;
                                                              const int widths[7] = {8, 8, 16, 16, 32, 32, 64};
                                                              const int counts[7] = {5, 5, 5, 10, 10, 20, 20};
                                                              for (int p = 0; p < 7; ++p)
                                                                  for (int r = 0; r < counts[p]; ++r) {
                                                                      raw.push_back(0);
                                                                      raw.insert(raw.end(), std::size_t(widths[p]), 5);
                                                                  }
                                                              return raw;
                                                          }())),
                          Chunk("IEND", {})}));
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front().stage, psStarting);
    EXPECT_EQ(reports.front().percent, 0);
    EXPECT_EQ(reports.back().stage, psEnding);
    EXPECT_EQ(reports.back().percent, 100);
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GT(reports[i].percent, reports[i - 1].percent);
        EXPECT_EQ(reports[i].sender, &png.Picture());
        EXPECT_TRUE(reports[i].msg.empty());
    }
    EXPECT_EQ(png.Picture().ScanLine(39)[63], 5);
    EXPECT_EQ(png.Interlaced, 1);
}

}  // namespace
}  // namespace nolvi2::test
