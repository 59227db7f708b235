// Every PngSuite picture against libpng, once our rules are applied: 16-bit samples to their
// high byte, grey and palette pictures as indices into their palettes, alpha into the mask as
// 255 − alpha. The corrupt files give their error or their lenient result, never a crash.

#include "PngBuilder.h"
#include "TestData.h"
#include "platform/PngReference.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace nolvi2::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> SuiteFiles(bool corrupt)
{
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(TestDataDir() / "pngsuite")) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() != ".png" || name == "PngSuite.png")
            continue;
        if ((name[0] == 'x') == corrupt)
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The colour of pixel x of a decoded row: palette pictures through their palette.
TRGBQuad ColorAt(const TBitmap& b, int32_t x, int32_t y, int* index)
{
    const uint8_t* row = b.ScanLine(y);
    switch (b.PixelFormat()) {
    case TPixelFormat::pf1bit: *index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
    case TPixelFormat::pf4bit: *index = (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4; break;
    case TPixelFormat::pf8bit: *index = row[x]; break;
    default:
        *index = -1;
        return TRGBQuad{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
    }
    const TPalette& p = b.Palette();
    return std::size_t(*index) < p.size() ? p[std::size_t(*index)] : TRGBQuad{};
}

TEST(PngSuite, EveryValidFileDecodesToLibpngsPixels)
{
    NOLVI2_REQUIRE_TESTDATA();
    const auto files = SuiteFiles(false);
    ASSERT_GE(files.size(), 150u);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        TVelPNG png;
        ASSERT_NO_THROW(png.LoadFromFile(file.string()));
        const TRgbaPicture ref = ReadPngRgba(file, TSixteenBits::HighByte);
        const TBitmap& b = png.Picture();
        ASSERT_EQ(b.Width(), ref.Width);
        ASSERT_EQ(b.Height(), ref.Height);
        EXPECT_EQ(png.Interlaced, ref.Interlace);
        EXPECT_EQ(png.Grayscale, (ref.ColorType & 3) == 0);
        const bool alphaChannel = (ref.ColorType & 4) != 0;
        if (alphaChannel) {
            EXPECT_TRUE(png.HasAlpha);
        }
        if (png.HasAlpha) {
            ASSERT_EQ(png.Mask().Width(), b.Width());
            ASSERT_EQ(png.Mask().PixelFormat(), TPixelFormat::pf8bit);
            EXPECT_FALSE(png.Transparent());
        }
        int bad = 0;
        for (int32_t y = 0; y < b.Height() && bad < 3; ++y) {
            for (int32_t x = 0; x < b.Width() && bad < 3; ++x) {
                int index = 0;
                const TRGBQuad c = ColorAt(b, x, y, &index);
                const uint8_t* r = ref.At(x, y);
                uint8_t alpha = 255;  // what our result says
                if (png.HasAlpha)
                    alpha = uint8_t(255 - png.Mask().ScanLine(y)[x]);
                else if (png.Transparent() && png.TransparentColor >= 0x01000000)
                    alpha = index == (png.TransparentColor & 0xFF) ? 0 : 255;
                else if (png.Transparent() && index >= 0)
                    alpha = index == (png.TransparentColor & 0xFF) ? 0 : 255;
                else if (png.Transparent())
                    alpha = (c.rgbRed | c.rgbGreen << 8 | c.rgbBlue << 16) == png.TransparentColor ? 0 : 255;
                // 16-bit files compare whole samples; our colour holds their high bytes only.
                const bool alphaExact = !(png.Transparent() && ref.BitDepth == 16);
                const bool alphaOk = alphaExact ? alpha == r[3] : (r[3] == 255 || alpha == 0);
                if (c.rgbRed != r[0] || c.rgbGreen != r[1] || c.rgbBlue != r[2] || !alphaOk) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " ours " << int(c.rgbRed) << " "
                                  << int(c.rgbGreen) << " " << int(c.rgbBlue) << " " << int(alpha) << ", libpng "
                                  << int(r[0]) << " " << int(r[1]) << " " << int(r[2]) << " " << int(r[3]);
                    ++bad;
                }
            }
        }
    }
}

// The outcome of each corrupt file: its error, or "" for a lenient read.
TEST(PngSuite, CorruptFilesGiveTheirErrorOrALenientResult)
{
    NOLVI2_REQUIRE_TESTDATA();
    const std::string notPng = "PNG LoadStream: Not PNG Format";
    const std::map<std::string, std::string> expected = {
        {"xc1n0g08.png", "Read Header(PNG): Error ColorType"},
        {"xc9n2c08.png", "Read Header(PNG): Error ColorType"},
        {"xcrn0g04.png", notPng},
        {"xcsn0g01.png", ""},  // a bad CRC is not checked
        {"xd0n2c08.png", "Read Header(PNG): Error BitDepth"},
        {"xd3n2c08.png", "Read Header(PNG): Error BitDepth"},
        {"xd9n2c08.png", "Read Header(PNG): Error BitDepth"},
        {"xdtn0g01.png", ""},  // no image data: no picture and no error
        {"xhdn0g08.png", ""},  // a bad CRC is not checked
        {"xlfn0g04.png", notPng},
        {"xs1n0g01.png", notPng},
        {"xs2n0g01.png", notPng},
        {"xs4n0g01.png", notPng},
        {"xs7n0g01.png", notPng},
    };
    const auto files = SuiteFiles(true);
    EXPECT_EQ(files.size(), expected.size());
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        ASSERT_TRUE(expected.count(name));
        std::string error;
        TVelPNG png;
        try {
            png.LoadFromFile(file.string());
        } catch (const EVelPNG& e) {
            error = e.what();
        }
        EXPECT_EQ(error, expected.at(name));
    }
}

TEST(PngSuite, CrashersGiveAnErrorOrWhatTheyHold)
{
    NOLVI2_REQUIRE_TESTDATA();
    const std::string readError = "Read Image (PNG): Read Error";
    const std::string tooLarge = "画像が大きすぎます（幅 491776、高さ 19）。扱えるのは幅と高さが 65535 ピクセルまで、画素数が 268435456 までの画像です。";
    const std::map<std::string, std::string> expected = {
        {"clusterfuzz-testcase-minimized-buf_independent-5790077345660928.png", readError},
        {"clusterfuzz-testcase-minimized-buf_independent-6611224761008128.png", readError},
        {"invalid_palette_index.png", ""},  // indices beyond the palette show black
        {"minimized-from-110a360793767757e44c9e4b95c495666e39e672.png", readError},
        {"minimized-from-32e60253faddfdf03b267e0b55c7b91a674d74bd.png", tooLarge},
        {"minimized-from-a1a0f9ae81d63ecf08d1cd0efbc73e40e7909681.png", readError},
        {"x_consecutive_idat.png", readError},
        {"x_ihdr_missing.png", "Read Header(PNG): Error ColorType"},
        {"x_image-issue#1075.png", readError},
        {"x_interlaced_chck.png", ""},  // a bad CRC is not checked
        {"x_issue#214.png", ""},        // width 0: nothing to decode
        {"x_issue#230.0.png", "画像の大きさが不正です（幅 -1638399、高さ 0）。"},
        {"x_issue#230.1.png", "Read Header(PNG): Error BitDepth"},
        {"x_unexpected_eof.png", ""},  // the walk ends at the end of the data
    };
    std::vector<fs::path> files;
    for (const auto& dir : {TestDataDir() / "crashers-corrupt" / "png", fs::path(NOLVI2_SOURCE_DIR) / "tests/png/png-regressions"}) {
        ASSERT_TRUE(fs::is_directory(dir)) << dir;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".png")
                files.push_back(e.path());
    }
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        std::string error;
        TVelPNG png;
        try {
            png.LoadFromFile(file.string());
        } catch (const Exception& e) {
            error = e.what();
        }
        if (expected.count(name)) {
            EXPECT_EQ(error, expected.at(name)) << name;
        } else {
            // A regression input: any of our errors, or a result, but never a crash.
            SUCCEED();
        }
    }
}

}  // namespace
}  // namespace nolvi2::test
