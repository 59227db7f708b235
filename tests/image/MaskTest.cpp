#include "image/OZBLibMask.h"
#include "platform/Exceptions.h"
#include "platform/PixelConvert.h"

#include "Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

struct Rgb {
    int r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// The cell colour by its definition.
Rgb CellColour(int a, int d, int c)
{
    const int step = a > 8 ? a / 8 : 1;
    const int v = (a * d + a * c) / step;
    const int m = v % 48;
    auto f = [](int t) { return std::clamp(32 * (16 - std::abs(t)), 0, 255); };
    return {f(((v + 16) % 48) - 16), f(m - 16), f(m - 32)};
}

// The mask by its definition, pixel by pixel, for 24- and 32-bit pictures.
void ReferenceMask(TBitmap& bmp, int a)
{
    const int bpp = bmp.PixelFormat() == TPixelFormat::pf24bit ? 3 : 4;
    for (int c = 0; c < bmp.Height() / a; ++c)
        for (int d = 0; d < bmp.Width() / a; ++d) {
            const Rgb col = CellColour(a, d, c);
            for (int y = a * c; y < a * c + a; ++y)
                for (int x = a * d; x < a * d + a; ++x) {
                    uint8_t* p = bmp.ScanLine(y) + x * bpp;
                    p[0] ^= uint8_t(col.b);
                    p[1] ^= uint8_t(col.g);
                    p[2] ^= uint8_t(col.r);
                }
        }
}

std::unique_ptr<TBitmap> RandomPicture(TPixelFormat pf, int32_t w, int32_t h, std::mt19937& rng)
{
    auto bmp = std::make_unique<TBitmap>(w, h, pf);
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < bmp->RowBytes(); ++i)
            bmp->ScanLine(y)[i] = uint8_t(rng());
    return bmp;
}

Rgb PixelAt(const TBitmap& bmp, int x, int y)
{
    const int bpp = bmp.PixelFormat() == TPixelFormat::pf24bit ? 3 : 4;
    const uint8_t* p = bmp.ScanLine(y) + x * bpp;
    return {p[2], p[1], p[0]};
}

}  // namespace

// Masking a black picture shows the cell colours: a = 8 walks the diagonals through red,
// yellow, green, cyan, blue, magenta and back to red; a = 16 divides by step 2 and so
// gives the same colours; a = 1 shows the intermediate strengths 32 .. 224.
TEST(Mask, CellColoursOfTheDiagonals)
{
    const std::vector<Rgb> rainbow = {{255, 0, 0},   {255, 255, 0}, {0, 255, 0},  {0, 255, 255},
                                      {0, 0, 255},   {255, 0, 255}, {255, 0, 0}};
    const std::vector<Rgb> firstSteps = {{255, 0, 0},   {255, 32, 0},  {255, 64, 0},  {255, 96, 0},
                                         {255, 128, 0}, {255, 160, 0}, {255, 192, 0}, {255, 224, 0}};
    struct Case {
        int a;
        std::vector<Rgb> diagonals;
    };
    for (const Case& c : {Case{8, rainbow}, Case{16, rainbow}, Case{1, firstSteps}})
        for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
            const int n = int(c.diagonals.size());
            TBitmap bmp(c.a * n, c.a * n, pf);
            RainbowMask(bmp, uint8_t(c.a));
            for (int cy = 0; cy < n; ++cy)
                for (int cx = 0; cx + cy < n; ++cx)
                    for (int y = cy * c.a; y < cy * c.a + c.a; ++y)
                        for (int x = cx * c.a; x < cx * c.a + c.a; ++x)
                            ASSERT_EQ(PixelAt(bmp, x, y), c.diagonals[std::size_t(cx + cy)])
                                << "a=" << c.a << " cell " << cx << "," << cy << " pixel " << x << "," << y;
        }
}

// Against the definition for many cell sizes and awkward sizes, on random pictures: only
// complete cells change, the fourth byte of 32-bit pixels never does, and a second pass
// restores the picture.
TEST(Mask, MatchesItsDefinitionAndUndoesItself)
{
    std::mt19937 rng(21);
    const std::pair<int32_t, int32_t> sizes[] = {{0, 0}, {1, 1}, {20, 20}, {37, 23}, {70, 9}, {7, 70}, {129, 66}};
    for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit})
        for (const auto& [w, h] : sizes)
            for (int a = 1; a <= 40; ++a) {
                auto original = RandomPicture(pf, w, h, rng);
                TBitmap bmp, want;
                bmp.Assign(*original);
                want.Assign(*original);
                RainbowMask(bmp, uint8_t(a));
                ReferenceMask(want, a);
                ASSERT_TRUE(SamePixels(bmp, want)) << "a=" << a << " size " << w << "x" << h << " format " << int(pf);
                RainbowMask(bmp, uint8_t(a));
                ASSERT_TRUE(SamePixels(bmp, *original)) << "a=" << a << " size " << w << "x" << h;
            }
}

TEST(Mask, OnlyCompleteCellsChange)
{
    // 20 × 20 with a = 8: the top-left 16 × 16 pixels and nothing else.
    TBitmap bmp(20, 20, TPixelFormat::pf32bit);
    RainbowMask(bmp, 8);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const uint8_t* p = bmp.ScanLine(y) + 4 * x;
            const bool changed = p[0] || p[1] || p[2];
            EXPECT_EQ(changed, x < 16 && y < 16) << x << "," << y;
            EXPECT_EQ(p[3], 0) << x << "," << y;
        }
}

// Pixel x of row 0 as a number, for the formats other than 24 and 32 bits.
unsigned PixelValue(const TBitmap& bmp, int x)
{
    const uint8_t* row = bmp.ScanLine(0);
    switch (bmp.PixelFormat()) {
    case TPixelFormat::pf1bit: return (row[x / 8] >> (7 - x % 8)) & 1;
    case TPixelFormat::pf4bit: return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    case TPixelFormat::pf8bit: return row[x];
    default: return unsigned(row[2 * x]) | unsigned(row[2 * x + 1]) << 8;
    }
}

// Palette pictures XOR the index with the index of the palette entry nearest to the cell
// colour; 15- and 16-bit pixels with the colour in their own channels. Every format comes
// back after a second pass, and the row padding is never written.
TEST(Mask, OtherFormats)
{
    struct Case {
        const char* what;
        TPixelFormat pf;
        TPalette palette;
        // Cells 0 to 3 of a = 8 on a picture of zeros: red, yellow, green, cyan.
        std::vector<unsigned> cells;
    };
    const TPalette blackWhite = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    TPalette custom(256, TRGBQuad{10, 10, 10, 0});
    custom[7] = TRGBQuad{0, 0, 250, 0};      // nearly red
    custom[200] = TRGBQuad{0, 240, 240, 0};  // nearly yellow, and nearer to green than grey
    const Case cases[] = {
        {"1-bit", TPixelFormat::pf1bit, blackWhite, {0, 1, 0, 1}},
        // The VGA colours: red 9, yellow 11, green 10, cyan 14.
        {"4-bit", TPixelFormat::pf4bit, StandardPalette(TPixelFormat::pf4bit), {9, 11, 10, 14}},
        // Cyan is nearest to the grey that fills the palette: the lowest such index is 0.
        {"8-bit", TPixelFormat::pf8bit, custom, {7, 200, 200, 0}},
        {"8-bit, empty palette", TPixelFormat::pf8bit, {}, {0, 0, 0, 0}},
        {"15-bit", TPixelFormat::pf15bit, {}, {0x7C00, 0x7FE0, 0x03E0, 0x03FF}},
        {"16-bit", TPixelFormat::pf16bit, {}, {0xF800, 0xFFE0, 0x07E0, 0x07FF}},
    };
    for (const Case& c : cases) {
        // 33 pixels: the last one is outside the complete cells.
        TBitmap zero(33, 8, c.pf);
        zero.SetPalette(c.palette);
        RainbowMask(zero, 8);
        for (int cell = 0; cell < 4; ++cell)
            for (int x = 8 * cell; x < 8 * cell + 8; ++x)
                EXPECT_EQ(PixelValue(zero, x), c.cells[std::size_t(cell)]) << c.what << " pixel " << x;
        EXPECT_EQ(PixelValue(zero, 32), 0u) << c.what;

        std::mt19937 rng(23);
        for (const int a : {1, 2, 3, 8, 9}) {
            auto original = RandomPicture(c.pf, 9, 5, rng);
            original->SetPalette(c.palette);
            for (int32_t y = 0; y < 5; ++y)
                std::fill(original->ScanLine(y) + original->RowBytes(), original->ScanLine(y) + original->Stride(),
                          uint8_t(0xA5));
            TBitmap bmp;
            bmp.Assign(*original);
            RainbowMask(bmp, uint8_t(a));
            RainbowMask(bmp, uint8_t(a));
            EXPECT_TRUE(SamePixels(bmp, *original)) << c.what << " a=" << a;
            for (int32_t y = 0; y < 5; ++y)
                for (std::size_t i = bmp.RowBytes(); i < bmp.Stride(); ++i)
                    ASSERT_EQ(bmp.ScanLine(y)[i], 0xA5) << c.what << ": padding written";
        }
    }
}

TEST(Mask, CellSizeZeroRaisesAndChangesNothing)
{
    std::mt19937 rng(25);
    auto original = RandomPicture(TPixelFormat::pf24bit, 8, 8, rng);
    TBitmap bmp;
    bmp.Assign(*original);
    try {
        RainbowMask(bmp, 0);
        ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "マスクの大きさが不正です");
    }
    EXPECT_TRUE(SamePixels(bmp, *original));
}
