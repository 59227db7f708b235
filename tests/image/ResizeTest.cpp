// Resampling: the rules on hand-checked pictures, the copy for the same size, formats, sizes,
// progress and the stretch copy. The byte-for-byte proofs against the literal formulas are in
// ResizeExactTest.cpp.
#include "image/OZBLibResize.h"
#include "platform/Exceptions.h"

#include "Pictures.h"
#include "ResizeReference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace nolvi2;
using nolvi2::test::RandomPicture;
using nolvi2::test::SamePixels;

namespace {

using ResizeFn = std::function<std::unique_ptr<TBitmap>(TBitmap&, int32_t, int32_t, int32_t, bool)>;

struct Algorithm {
    const char* name;
    uint8_t value;
    ResizeFn fn;
    const char* msg;
};

const std::vector<Algorithm>& OwnAlgorithms()
{
    static const std::vector<Algorithm> algorithms = {
        {"nearest", raNearest, ResizeNearest, "サイズ変更（ニアレストネイバー法）"},
        {"bilinear", raBilinear, ResizeBilinear, "サイズ変更（バイリニア法）"},
        {"integral", raIntegral, ResizeIntegral, "サイズ変更（積分法）"},
    };
    return algorithms;
}

// A 24-bit picture of one row with the given blue bytes (green and red are 0).
std::unique_ptr<TBitmap> Row(std::initializer_list<int> blue)
{
    auto b = std::make_unique<TBitmap>(int32_t(blue.size()), 1, TPixelFormat::pf24bit);
    int x = 0;
    for (int v : blue)
        b->ScanLine(0)[3 * x++] = uint8_t(v);
    return b;
}

std::vector<int> BlueRow(const TBitmap& b, int32_t y = 0)
{
    std::vector<int> v;
    for (int32_t x = 0; x < b.Width(); ++x)
        v.push_back(b.ScanLine(y)[3 * x]);
    return v;
}

struct Recorder {
    std::vector<int> stages, percents;
    std::vector<std::string> msgs;
    std::vector<TObject*> senders;
    bool clean = true;  // RedrawNow false and the empty rectangle in every report

    void Attach(TBitmap& b)
    {
        b.OnProgress = [this](TObject* s, TProgressStage st, uint8_t pct, bool redraw, const TRect& r,
                              const std::string& msg) {
            stages.push_back(st);
            percents.push_back(pct);
            msgs.push_back(msg);
            senders.push_back(s);
            clean = clean && !redraw && r == TRect{};
        };
    }
};

}  // namespace

// Same size: a full copy for every algorithm value, outside 0..3 too, in every format (no
// format check) and without progress.
TEST(Resize, SameSizeIsAnUnchangedCopy)
{
    for (const TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                  TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit})
        for (const uint8_t algorithm : {0, 1, 2, 3, 7, 255}) {
            auto src = RandomPicture(pf, 13, 5, 7);
            if (PaletteEntryCount(pf) > 0) {
                TPalette pal(std::size_t(PaletteEntryCount(pf)));
                for (std::size_t i = 0; i < pal.size(); ++i)
                    pal[i] = TRGBQuad{uint8_t(i), uint8_t(3 * i), uint8_t(255 - i), 0};
                src->SetPalette(pal);
            }
            Recorder rec;
            rec.Attach(*src);
            auto r = ResizeBitmap(*src, 13, 5, 1, true, algorithm);
            ASSERT_TRUE(r) << int(algorithm);
            EXPECT_NE(r.get(), src.get());
            EXPECT_TRUE(SamePixels(*r, *src)) << int(pf) << " " << int(algorithm);
            EXPECT_EQ(r->Palette(), src->Palette());
            EXPECT_FALSE(r->OnProgress);
            EXPECT_TRUE(rec.stages.empty());
        }
    // An empty picture "resized" to its own size is an empty copy.
    TBitmap empty(0, 0, TPixelFormat::pf24bit);
    auto r = ResizeBitmap(empty, 0, 0, 128, true, raIntegral);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Width(), 0);
}

TEST(Resize, AlgorithmDispatch)
{
    auto src = RandomPicture(TPixelFormat::pf24bit, 9, 7, 3);
    for (const Algorithm& a : OwnAlgorithms()) {
        auto viaBitmap = ResizeBitmap(*src, 5, 11, 128, false, a.value);
        auto direct = a.fn(*src, 5, 11, 128, false);
        ASSERT_TRUE(viaBitmap && direct) << a.name;
        EXPECT_TRUE(SamePixels(*viaBitmap, *direct)) << a.name;
    }
    auto stretch = ResizeBitmap(*src, 5, 11, 128, false, raStretchDraw);
    ASSERT_TRUE(stretch);
    EXPECT_EQ(stretch->Width(), 5);
    EXPECT_EQ(stretch->Height(), 11);
    for (const uint8_t other : {4, 7, 255})
        EXPECT_EQ(ResizeBitmap(*src, 5, 11, 128, false, other), nullptr) << int(other);
}

// Nearest neighbour samples x * W / newW without a half-pixel offset, rounding halves to even.
TEST(Resize, NearestChoosesColumnsAndRows)
{
    struct Case {
        int w, newW;
        std::vector<int> columns;
    };
    const Case cases[] = {
        {4, 2, {0, 2}},
        {2, 4, {0, 0, 1, 1}},  // 0.5 rounds to 0, 1.5 to 2, clamped to 1
        {3, 2, {0, 2}},        // 1.5 rounds to 2
        {5, 2, {0, 2}},        // 2.5 rounds to 2
        {7, 2, {0, 4}},        // 3.5 rounds to 4
        {1, 3, {0, 0, 0}},
        {3, 1, {0}},
    };
    for (const Case& c : cases) {
        auto src = std::make_unique<TBitmap>(c.w, c.w, TPixelFormat::pf24bit);
        for (int y = 0; y < c.w; ++y)
            for (int x = 0; x < c.w; ++x) {
                src->ScanLine(y)[3 * x] = uint8_t(x);       // blue: column
                src->ScanLine(y)[3 * x + 1] = uint8_t(y);   // green: row
            }
        auto r = ResizeNearest(*src, c.newW, c.newW, 128, false);
        for (int i = 0; i < c.newW; ++i) {
            EXPECT_EQ(r->ScanLine(0)[3 * i], c.columns[std::size_t(i)]) << c.w << "->" << c.newW << " x=" << i;
            EXPECT_EQ(r->ScanLine(i)[1], c.columns[std::size_t(i)]) << c.w << "->" << c.newW << " y=" << i;
        }
    }
}

// 1-, 4- and 8-bit pictures keep their palette and their packed values.
TEST(Resize, NearestKeepsPackedPixelsAndPalette)
{
    // 1-bit, width 9: 1 0 1 1 0 0 1 0 | 1. To width 18 result pixel x takes column x / 2 with
    // halves to even: 0 0 1 2 2 2 3 4 4 4 5 6 6 6 7 8 8 8. The 3 row bytes keep their last 6
    // bits 0.
    TBitmap b(9, 1, TPixelFormat::pf1bit);
    b.SetPalette({TRGBQuad{10, 20, 30, 0}, TRGBQuad{40, 50, 60, 0}});
    b.ScanLine(0)[0] = 0b10110010;
    b.ScanLine(0)[1] = 0b10000000;
    auto r = ResizeNearest(b, 18, 2, 128, false);
    EXPECT_EQ(r->PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(r->Palette(), b.Palette());
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(r->ScanLine(y)[0], 0b11011110);
        EXPECT_EQ(r->ScanLine(y)[1], 0b00011101);
        EXPECT_EQ(r->ScanLine(y)[2], 0b11000000);
    }
    // And back: 18 -> 9 takes every second column.
    auto back = ResizeNearest(*r, 9, 1, 128, false);
    EXPECT_TRUE(SamePixels(*back, b));
    EXPECT_EQ(back->Palette(), b.Palette());

    // 4-bit, width 3 -> 5: columns 0, 1, 1, 2, 2 (0.6 -> 1, 1.2 -> 1, 1.8 -> 2, 2.4 -> 2).
    TBitmap f(3, 1, TPixelFormat::pf4bit);
    TPalette pal(16);
    for (int i = 0; i < 16; ++i)
        pal[std::size_t(i)] = TRGBQuad{uint8_t(i * 16), 0, uint8_t(255 - i), 0};
    f.SetPalette(pal);
    f.ScanLine(0)[0] = 0xAB;
    f.ScanLine(0)[1] = 0xC0;
    auto g = ResizeNearest(f, 5, 1, 128, false);
    EXPECT_EQ(g->Palette(), pal);
    EXPECT_EQ(g->ScanLine(0)[0], 0xAB);
    EXPECT_EQ(g->ScanLine(0)[1], 0xBC);
    EXPECT_EQ(g->ScanLine(0)[2], 0xC0);

    auto e = RandomPicture(TPixelFormat::pf8bit, 6, 4, 5);
    TPalette pal8(256, TRGBQuad{1, 2, 3, 0});
    e->SetPalette(pal8);
    EXPECT_EQ(ResizeNearest(*e, 3, 9, 128, false)->Palette(), pal8);
}

TEST(Resize, BilinearRules)
{
    // A uniform picture stays uniform, in every channel, the fourth byte included.
    for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        const int bpp = pf == TPixelFormat::pf24bit ? 3 : 4;
        TBitmap u(7, 5, pf);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                for (int c = 0; c < bpp; ++c)
                    u.ScanLine(y)[bpp * x + c] = uint8_t(37 + 50 * c);
        for (const auto& [w, h] : {std::pair{3, 2}, {16, 11}, {7, 13}, {1, 1}}) {
            auto r = ResizeBilinear(u, w, h, 128, false);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < bpp; ++c)
                        ASSERT_EQ(r->ScanLine(y)[bpp * x + c], 37 + 50 * c) << w << "x" << h;
        }
    }
    // The last column blends with itself: 0, 200 to width 4 samples 0, 0.5, 1, 1.5.
    EXPECT_EQ(BlueRow(*ResizeBilinear(*Row({0, 200}), 4, 1, 128, false)), (std::vector<int>{0, 100, 200, 200}));
    // Halves go to even: 0, 1 to width 4 gives 0, 0.5 -> 0, 1, 1; 1, 2 gives 1, 1.5 -> 2, 2, 2.
    EXPECT_EQ(BlueRow(*ResizeBilinear(*Row({0, 1}), 4, 1, 128, false)), (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(BlueRow(*ResizeBilinear(*Row({1, 2}), 4, 1, 128, false)), (std::vector<int>{1, 2, 2, 2}));
    // Rows: the bottom row blends with itself too.
    TBitmap col(1, 2, TPixelFormat::pf24bit);
    col.ScanLine(0)[2] = 10;
    col.ScanLine(1)[2] = 30;
    auto r = ResizeBilinear(col, 1, 4, 128, false);
    const int reds[] = {10, 20, 30, 30};
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(r->ScanLine(y)[2], reds[y]) << y;
}

TEST(Resize, IntegralRules)
{
    // A 2 x 2 block halves to the mean of its four pixels: 10, 20, 30, 40 -> 25.
    TBitmap b(2, 2, TPixelFormat::pf32bit);
    const int v[2][2] = {{10, 20}, {30, 40}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            for (int c = 0; c < 4; ++c)
                b.ScanLine(y)[4 * x + c] = uint8_t(v[y][x] + c);
    auto r = ResizeIntegral(b, 1, 1, 128, false);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(r->ScanLine(0)[c], 25 + c);

    // All 255 stays 255 (a sum a little above 255 * area must not wrap) whatever the ratio.
    for (const auto& [w, h, nw, nh] : {std::tuple{7, 5, 3, 2}, {100, 3, 33, 1}, {13, 13, 12, 5}, {3, 3, 7, 8}}) {
        TBitmap white(w, h, TPixelFormat::pf24bit);
        for (int y = 0; y < h; ++y)
            std::memset(white.ScanLine(y), 255, white.RowBytes());
        auto s = ResizeIntegral(white, nw, nh, 128, false);
        for (int y = 0; y < nh; ++y)
            for (std::size_t i = 0; i < s->RowBytes(); ++i)
                ASSERT_EQ(s->ScanLine(y)[i], 255) << w << "x" << h << "->" << nw << "x" << nh;
    }

    // Near the left edge 0.000001 keeps the footprint [0, 2) from reaching the third pixel and
    // takes a millionth off the last column's (and the one row's) weight: 1, 2 gives
    // (1 + 0.999999 * 2) * 0.999999 over 2, just below the half: 1.
    EXPECT_EQ(BlueRow(*ResizeIntegral(*Row({1, 2, 0, 0}), 2, 1, 128, false)), (std::vector<int>{1, 0}));
}

// A camera-sized picture of one colour reduced to a few pixels stays that colour: the channel
// sums grow far past 2^24 (6000 * 4000 * 255 at 1 x 1) and must keep every addition.
TEST(Resize, IntegralLargeReductionKeepsUniformColours)
{
    struct Case {
        TPixelFormat pf;
        int32_t w, h;
        std::vector<uint8_t> colour;  // the bytes of a pixel
        std::vector<std::pair<int32_t, int32_t>> sizes;
    };
    const Case cases[] = {
        {TPixelFormat::pf24bit, 6000, 4000, {255, 255, 255}, {{1, 1}}},
        {TPixelFormat::pf24bit, 6000, 4000, {20, 60, 100}, {{1, 1}}},
        {TPixelFormat::pf32bit, 6000, 4000, {20, 60, 100, 255}, {{1, 1}}},
        {TPixelFormat::pf24bit, 3000, 2000, {20, 60, 100}, {{2, 3}, {7, 5}}},
        {TPixelFormat::pf32bit, 3000, 2000, {20, 60, 100, 255}, {{3, 2}, {5, 7}}},
    };
    for (const Case& c : cases) {
        const std::size_t bpp = c.colour.size();
        TBitmap pic(c.w, c.h, c.pf);
        std::vector<uint8_t> row(std::size_t(c.w) * bpp);
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = c.colour[i % bpp];
        for (int32_t y = 0; y < c.h; ++y)
            std::memcpy(pic.ScanLine(y), row.data(), row.size());
        for (const auto& [nw, nh] : c.sizes) {
            auto r = ResizeIntegral(pic, nw, nh, 128, false);
            for (int32_t y = 0; y < nh; ++y)
                for (std::size_t i = 0; i < std::size_t(nw) * bpp; ++i)
                    ASSERT_EQ(r->ScanLine(y)[i], c.colour[i % bpp])
                        << bpp * 8 << "-bit " << c.w << "x" << c.h << " to " << nw << "x" << nh << ", row " << y
                        << " byte " << i;
        }
    }
}

TEST(Resize, UnsupportedFormatsRaiseBeforeReports)
{
    struct Case {
        TPixelFormat pf;
        const Algorithm* algorithm;
    };
    std::vector<Case> cases;
    for (const Algorithm& a : OwnAlgorithms())
        for (const TPixelFormat pf : {TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pfDevice})
            cases.push_back({pf, &a});
    for (const TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit}) {
        cases.push_back({pf, &OwnAlgorithms()[1]});
        cases.push_back({pf, &OwnAlgorithms()[2]});
    }
    for (const Case& c : cases) {
        auto src = RandomPicture(c.pf, 6, 6, 1);
        Recorder rec;
        rec.Attach(*src);
        try {
            c.algorithm->fn(*src, 3, 3, 1, true);
            ADD_FAILURE() << c.algorithm->name << " accepted format " << int(c.pf);
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "未対応のピクセルフォーマットです");
        }
        EXPECT_TRUE(rec.stages.empty()) << c.algorithm->name;
    }
}

// A new size below 1 or an empty source is refused before any report or result; a size beyond
// the bitmap's limits too.
TEST(Resize, BadSizesRaiseBeforeReports)
{
    struct Case {
        int32_t srcW, srcH, newW, newH;
        const char* message;  // nullptr: the bitmap's own size error
    };
    const Case cases[] = {
        {4, 4, 0, 3, "新しいサイズが不正です（幅 0、高さ 3）"},
        {4, 4, 3, -2, "新しいサイズが不正です（幅 3、高さ -2）"},
        {0, 0, 3, 3, "空の画像はサイズ変更できません"},
        {5, 0, 3, 3, "空の画像はサイズ変更できません"},
        {4, 4, 70000, 3, nullptr},
    };
    for (const Algorithm& a : OwnAlgorithms())
        for (const Case& c : cases) {
            TBitmap src(c.srcW, c.srcH, TPixelFormat::pf24bit);
            Recorder rec;
            rec.Attach(src);
            try {
                a.fn(src, c.newW, c.newH, 1, true);
                ADD_FAILURE() << a.name << " accepted " << c.newW << "x" << c.newH;
            } catch (const EPictureSize&) {
                EXPECT_EQ(c.message, nullptr) << a.name;
            } catch (const Exception& e) {
                ASSERT_NE(c.message, nullptr) << a.name << ": " << e.what();
                EXPECT_STREQ(e.what(), c.message) << a.name;
            }
            EXPECT_TRUE(rec.stages.empty()) << a.name;
        }
}

// Start, a running report each time the row counter reaches the interval, end; every report
// from the source, with the display name, RedrawNow false and the empty rectangle.
TEST(Resize, ProgressReports)
{
    struct Case {
        int32_t newH, interval;
        std::vector<int> stages, percents;
    };
    const Case cases[] = {
        {7, 3, {0, 1, 1, 2}, {0, 28, 71, 100}},  // after rows 2 and 5
        {7, 1, {0, 1, 1, 1, 1, 1, 1, 1, 2}, {0, 0, 14, 28, 42, 57, 71, 85, 100}},
        {5, 128, {0, 2}, {0, 100}},
        {4, 4, {0, 1, 2}, {0, 75, 100}},
        {3, 0, {0, 2}, {0, 100}},  // the counter never equals 0
    };
    for (const Algorithm& a : OwnAlgorithms())
        for (const Case& c : cases) {
            auto src = RandomPicture(TPixelFormat::pf24bit, 5, 6, 2);
            Recorder rec;
            rec.Attach(*src);
            auto r = ResizeBitmap(*src, 4, c.newH, c.interval, true, a.value);
            EXPECT_EQ(rec.stages, c.stages) << a.name << " interval " << c.interval;
            EXPECT_EQ(rec.percents, c.percents) << a.name << " interval " << c.interval;
            for (std::size_t i = 0; i < rec.msgs.size(); ++i) {
                EXPECT_EQ(rec.msgs[i], a.msg);
                EXPECT_EQ(rec.senders[i], src.get());
            }
            EXPECT_TRUE(rec.clean);
            EXPECT_FALSE(r->OnProgress);

            // Reports off, or asked for without a handler: nothing, and the same pixels.
            Recorder off;
            off.Attach(*src);
            auto quiet = ResizeBitmap(*src, 4, c.newH, c.interval, false, a.value);
            EXPECT_TRUE(off.stages.empty());
            src->OnProgress = nullptr;
            auto noHandler = ResizeBitmap(*src, 4, c.newH, c.interval, true, a.value);
            EXPECT_TRUE(SamePixels(*quiet, *r));
            EXPECT_TRUE(SamePixels(*noHandler, *r));
        }
}

// A failing progress handler: the failure reaches the caller and the source is untouched.
TEST(Resize, FailureInHandlerPassesOn)
{
    for (const Algorithm& a : OwnAlgorithms()) {
        auto src = RandomPicture(TPixelFormat::pf24bit, 8, 8, 4);
        TBitmap before;
        before.Assign(*src);
        src->OnProgress = [](TObject*, TProgressStage st, uint8_t, bool, const TRect&, const std::string&) {
            if (st == psRunning)
                throw Exception("stop");
        };
        EXPECT_THROW(a.fn(*src, 4, 4, 2, true), Exception) << a.name;
        EXPECT_TRUE(SamePixels(*src, before));
    }
}

// The stretch copy: every format, the pixel under each result pixel's centre; null instead of
// a failure.
TEST(Resize, StretchDraw)
{
    for (const TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                  TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                  TPixelFormat::pf32bit}) {
        auto src = RandomPicture(pf, 6, 4, 9);
        // Doubling repeats every pixel twice; halving again gives the source back.
        auto big = ResizeStretchDraw(*src, 12, 8);
        ASSERT_TRUE(big) << int(pf);
        EXPECT_EQ(big->PixelFormat(), pf);
        EXPECT_EQ(big->Palette(), src->Palette());
        auto back = ResizeStretchDraw(*big, 6, 4);
        ASSERT_TRUE(back);
        EXPECT_TRUE(SamePixels(*back, *src)) << int(pf);
        // Reducing 6 -> 2 takes the centres 1.5 and 4.5: columns 1 and 4.
        auto small = ResizeStretchDraw(*src, 2, 4);
        ASSERT_TRUE(small);
        const int bits = BitsPerPixel(pf);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 2; ++x) {
                const int sx = x == 0 ? 1 : 4;
                if (bits < 8) {
                    EXPECT_EQ(test::ref::PixelValue(small->ScanLine(y), x, bits),
                              test::ref::PixelValue(src->ScanLine(y), sx, bits));
                } else {
                    EXPECT_EQ(std::memcmp(small->ScanLine(y) + x * bits / 8, src->ScanLine(y) + sx * bits / 8,
                                          std::size_t(bits / 8)),
                              0);
                }
            }
    }
    auto src = RandomPicture(TPixelFormat::pf24bit, 4, 4, 1);
    EXPECT_EQ(ResizeStretchDraw(*src, 0, 3), nullptr);
    EXPECT_EQ(ResizeStretchDraw(*src, 3, -1), nullptr);
    EXPECT_EQ(ResizeStretchDraw(*src, 70000, 70000), nullptr);
    TBitmap empty;
    EXPECT_EQ(ResizeStretchDraw(empty, 3, 3), nullptr);
    EXPECT_EQ(ResizeBitmap(*src, 0, 3, 128, true, raStretchDraw), nullptr);
}
