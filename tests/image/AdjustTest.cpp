#include "image/OZBLibAdjust.h"
#include "platform/Exceptions.h"

#include "Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

using nolvi2::test::Report;

// A picture of the given format and size filled with random bytes (the fourth byte too).
std::unique_ptr<TBitmap> RandomPicture(TPixelFormat pf, int32_t w, int32_t h, unsigned seed = 1)
{
    auto bmp = std::make_unique<TBitmap>(w, h, pf);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < bmp->RowBytes(); ++i)
            bmp->ScanLine(y)[i] = uint8_t(rng());
    return bmp;
}


// A 4096 x 4096 24-bit picture that holds each of the 2^24 colours once.
std::unique_ptr<TBitmap> AllColours()
{
    auto bmp = std::make_unique<TBitmap>(4096, 4096, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < 4096; ++y) {
        uint8_t* p = bmp->ScanLine(y);
        for (int32_t x = 0; x < 4096; ++x) {
            const uint32_t c = uint32_t(y) * 4096u + uint32_t(x);
            p[3 * x] = uint8_t(c);
            p[3 * x + 1] = uint8_t(c >> 8);
            p[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    return bmp;
}

using Op = std::function<void(TBitmap&, bool)>;

struct NamedOp {
    const char* name;
    Op op;
    const char* msg;
};

const std::vector<NamedOp>& AllOps()
{
    static const std::vector<NamedOp> ops = {
        {"Invert", Invert, "階調を反転"},
        {"Solarize", Solarize, "ソラリゼーション"},
        {"GrayScale", GrayScale, "グレイスケール"},
        {"Desaturate", Desaturate, "色を削除"},
        {"Xor", [](TBitmap& b, bool p) { XorChannels(b, true, true, true, p); }, "XOR処理"},
        {"SwapRGB0", [](TBitmap& b, bool p) { SwapRGB(b, 0, p); }, "RGB入れ替え"},
        {"SwapRGB1", [](TBitmap& b, bool p) { SwapRGB(b, 1, p); }, "RGB入れ替え"},
        {"SwapRGB2", [](TBitmap& b, bool p) { SwapRGB(b, 2, p); }, "RGB入れ替え"},
        {"SwapRGB3", [](TBitmap& b, bool p) { SwapRGB(b, 3, p); }, "RGB入れ替え"},
        {"GammaPlus", GammaPlus, "ガンマ補正（プラス）"},
        {"GammaMinus", GammaMinus, "ガンマ補正（マイナス）"},
    };
    return ops;
}

}  // namespace

// Per-pixel rules on single pixels: (operation, input B,G,R, expected B,G,R).
TEST(Adjust, PixelRules)
{
    struct Case {
        const char* what;
        std::function<void(TBitmap&)> op;
        uint8_t in[3];
        uint8_t out[3];
    };
    const Case cases[] = {
        {"invert", [](TBitmap& b) { Invert(b, false); }, {0, 127, 255}, {255, 128, 0}},
        {"solarize 127/128/255", [](TBitmap& b) { Solarize(b, false); }, {127, 128, 255}, {127, 127, 0}},
        {"solarize 0/1/200", [](TBitmap& b) { Solarize(b, false); }, {0, 1, 200}, {0, 1, 55}},
        {"grayscale red", [](TBitmap& b) { GrayScale(b, false); }, {0, 0, 255}, {76, 76, 76}},
        {"grayscale green", [](TBitmap& b) { GrayScale(b, false); }, {0, 255, 0}, {150, 150, 150}},
        {"grayscale blue", [](TBitmap& b) { GrayScale(b, false); }, {255, 0, 0}, {29, 29, 29}},
        {"grayscale grey", [](TBitmap& b) { GrayScale(b, false); }, {128, 128, 128}, {128, 128, 128}},
        {"grayscale white", [](TBitmap& b) { GrayScale(b, false); }, {255, 255, 255}, {255, 255, 255}},
        {"desaturate red", [](TBitmap& b) { Desaturate(b, false); }, {0, 0, 255}, {127, 127, 127}},
        {"desaturate 1,2,4", [](TBitmap& b) { Desaturate(b, false); }, {4, 2, 1}, {2, 2, 2}},
        {"xor all", [](TBitmap& b) { XorChannels(b, true, true, true, false); }, {0, 128, 255}, {128, 0, 127}},
        {"xor red only", [](TBitmap& b) { XorChannels(b, true, false, false, false); }, {1, 2, 3}, {1, 2, 131}},
        {"xor green only", [](TBitmap& b) { XorChannels(b, false, true, false, false); }, {1, 2, 3}, {1, 130, 3}},
        {"xor blue only", [](TBitmap& b) { XorChannels(b, false, false, true, false); }, {1, 2, 3}, {129, 2, 3}},
        // B, G, R = 1, 2, 3: mode 0 gives red G, green B, blue R.
        {"swap R>G>B", [](TBitmap& b) { SwapRGB(b, 0, false); }, {1, 2, 3}, {3, 1, 2}},
        {"swap R<=>G", [](TBitmap& b) { SwapRGB(b, 1, false); }, {1, 2, 3}, {1, 3, 2}},
        {"swap G<=>B", [](TBitmap& b) { SwapRGB(b, 2, false); }, {1, 2, 3}, {2, 1, 3}},
        {"swap B<=>R", [](TBitmap& b) { SwapRGB(b, 3, false); }, {1, 2, 3}, {3, 2, 1}},
        {"swap mode 4 changes nothing", [](TBitmap& b) { SwapRGB(b, 4, false); }, {1, 2, 3}, {1, 2, 3}},
        {"gamma plus", [](TBitmap& b) { GammaPlus(b, false); }, {1, 16, 64}, {16, 64, 128}},
        {"gamma plus 2", [](TBitmap& b) { GammaPlus(b, false); }, {128, 192, 255}, {181, 221, 255}},
        {"gamma minus", [](TBitmap& b) { GammaMinus(b, false); }, {16, 64, 65}, {0, 0, 1}},
        {"gamma minus 2", [](TBitmap& b) { GammaMinus(b, false); }, {128, 192, 255}, {75, 163, 255}},
    };
    for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        const int bpp = pf == TPixelFormat::pf24bit ? 3 : 4;
        for (const Case& c : cases) {
            // 19 pixels: more than one 16-pixel block of the vectorised paths, plus a tail.
            TBitmap b(19, 2, pf);
            for (int32_t y = 0; y < 2; ++y)
                for (int32_t x = 0; x < 19; ++x) {
                    std::memcpy(b.ScanLine(y) + x * bpp, c.in, 3);
                    if (bpp == 4)
                        b.ScanLine(y)[x * 4 + 3] = uint8_t(x * 13 + y);
                }
            c.op(b);
            for (int32_t y = 0; y < 2; ++y)
                for (int32_t x = 0; x < 19; ++x) {
                    const uint8_t* p = b.ScanLine(y) + x * bpp;
                    EXPECT_EQ(p[0], c.out[0]) << c.what << " x=" << x << " bpp=" << bpp;
                    EXPECT_EQ(p[1], c.out[1]) << c.what << " x=" << x << " bpp=" << bpp;
                    EXPECT_EQ(p[2], c.out[2]) << c.what << " x=" << x << " bpp=" << bpp;
                    if (bpp == 4) {
                        EXPECT_EQ(p[3], uint8_t(x * 13 + y)) << c.what << ": fourth byte changed";
                    }
                }
        }
    }
}

// The literal formulas (extended precision, single-precision store, ties to even) for every
// byte value; the per-picture paths are checked against them below.
TEST(Adjust, GammaTablesOfTellingValues)
{
    const int v[] = {0, 1, 16, 64, 65, 128, 192, 255};
    const int plus[] = {0, 16, 64, 128, 129, 181, 221, 255};
    const int minus[] = {0, 0, 0, 0, 1, 75, 163, 255};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(GammaPlusOf(uint8_t(v[i])), plus[i]) << v[i];
        EXPECT_EQ(GammaMinusOf(uint8_t(v[i])), minus[i]) << v[i];
    }
    for (int x = 0; x <= 64; ++x)
        EXPECT_EQ(GammaMinusOf(uint8_t(x)), 0) << x;
}

TEST(Adjust, GammaEqualsLiteralFormulaForEveryByte)
{
    TBitmap b(256, 3, TPixelFormat::pf24bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 3; ++c)
                b.ScanLine(y)[3 * x + c] = uint8_t(x + 85 * c + y);  // every value in every channel
    TBitmap plus, minus;
    plus.Assign(b);
    minus.Assign(b);
    GammaPlus(plus, false);
    GammaMinus(minus, false);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < 768; ++i) {
            const uint8_t v = b.ScanLine(y)[i];
            const long double p = std::nearbyint(255.0L * std::sqrt(v / 255.0L));
            const float c = float(v / 255.0L);
            const long double cw = c;
            const long double m = std::nearbyint(255.0L * (cw + (cw - std::sqrt(cw))));
            ASSERT_EQ(plus.ScanLine(y)[i], uint8_t(std::clamp<long double>(p, 0, 255))) << int(v);
            ASSERT_EQ(minus.ScanLine(y)[i], uint8_t(std::clamp<long double>(m, 0, 255))) << int(v);
        }
}

// GrayScale computes in integers; prove it equal to the extended/single formula for all
// 16.7 million colours.
TEST(Adjust, GrayScaleEqualsLiteralFormulaForEveryColour)
{
    auto bmp = AllColours();
    GrayScale(*bmp, false);
    for (int32_t y = 0; y < 4096; ++y) {
        const uint8_t* p = bmp->ScanLine(y);
        for (int32_t x = 0; x < 4096; ++x) {
            const uint32_t c = uint32_t(y) * 4096u + uint32_t(x);
            const uint8_t b = uint8_t(c), g = uint8_t(c >> 8), r = uint8_t(c >> 16);
            const long double yl = 0.299L * r + 0.587L * g + 0.114L * b;
            const float ys = float(yl);
            const uint8_t want = uint8_t(std::min(std::nearbyint(ys), 255.0f));
            if (p[3 * x] != want || p[3 * x + 1] != want || p[3 * x + 2] != want)
                FAIL() << "colour r=" << int(r) << " g=" << int(g) << " b=" << int(b) << " gives "
                       << int(p[3 * x]) << ", formula " << int(want);
        }
    }
}

// Solarize's branch-free form against its table definition, for every byte value.
TEST(Adjust, SolarizeEqualsTableForEveryByte)
{
    TBitmap b(256, 1, TPixelFormat::pf24bit);
    for (int x = 0; x < 256; ++x)
        for (int c = 0; c < 3; ++c)
            b.ScanLine(0)[3 * x + c] = uint8_t(x);
    Solarize(b, false);
    for (int x = 0; x < 256; ++x)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(b.ScanLine(0)[3 * x + c], std::min(x, 255 - x)) << x;
}

TEST(Adjust, SelfInverseOperationsRestoreThePicture)
{
    struct Case {
        const char* name;
        std::function<void(TBitmap&)> op;
        int times;
    };
    const Case cases[] = {
        {"invert", [](TBitmap& b) { Invert(b, false); }, 2},
        {"xor rgb", [](TBitmap& b) { XorChannels(b, true, true, true, false); }, 2},
        {"xor rb", [](TBitmap& b) { XorChannels(b, true, false, true, false); }, 2},
        {"swap 1", [](TBitmap& b) { SwapRGB(b, 1, false); }, 2},
        {"swap 2", [](TBitmap& b) { SwapRGB(b, 2, false); }, 2},
        {"swap 3", [](TBitmap& b) { SwapRGB(b, 3, false); }, 2},
        {"swap 0", [](TBitmap& b) { SwapRGB(b, 0, false); }, 3},
    };
    for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit})
        for (const Case& c : cases) {
            auto original = RandomPicture(pf, 37, 5);
            TBitmap work;
            work.Assign(*original);
            for (int i = 0; i < c.times; ++i) {
                c.op(work);
                if (i + 1 < c.times) {
                    EXPECT_FALSE(SamePixels(work, *original)) << c.name << " changed nothing";
                }
            }
            EXPECT_TRUE(SamePixels(work, *original)) << c.name;
        }
}

// Every operation leaves the fourth byte of 32-bit pixels alone and never touches the row
// padding.
TEST(Adjust, FourthByteAndPaddingUntouched)
{
    for (const NamedOp& op : AllOps()) {
        auto b = RandomPicture(TPixelFormat::pf32bit, 21, 4);
        auto before = RandomPicture(TPixelFormat::pf32bit, 21, 4);
        op.op(*b, false);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 21; ++x)
                ASSERT_EQ(b->ScanLine(y)[4 * x + 3], before->ScanLine(y)[4 * x + 3]) << op.name;

        // 24-bit width 5: 15 row bytes, 1 byte of padding that must stay as it was.
        TBitmap c(5, 3, TPixelFormat::pf24bit);
        for (int32_t y = 0; y < 3; ++y)
            c.ScanLine(y)[15] = 0xA5;
        op.op(c, false);
        for (int32_t y = 0; y < 3; ++y)
            ASSERT_EQ(c.ScanLine(y)[15], 0xA5) << op.name << ": padding written";
    }
}

TEST(Adjust, UnsupportedFormatsRaiseBeforeAnything)
{
    for (const TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                  TPixelFormat::pf15bit, TPixelFormat::pf16bit})
        for (const NamedOp& op : AllOps()) {
            auto b = RandomPicture(pf, 9, 3);
            auto original = RandomPicture(pf, 9, 3);
            int reports = 0;
            b->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) {
                ++reports;
            };
            try {
                op.op(*b, true);
                ADD_FAILURE() << op.name << " accepted format " << int(pf);
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), "未対応のピクセルフォーマットです");
            }
            EXPECT_EQ(reports, 0) << op.name;
            EXPECT_TRUE(SamePixels(*b, *original)) << op.name;
        }
}

// Starting report, a running report after every row with (row * 100) div height, ending
// report; sender the bitmap, RedrawNow false, empty rectangle, the display name.
TEST(Adjust, ProgressProtocol)
{
    for (const NamedOp& op : AllOps()) {
        auto b = RandomPicture(TPixelFormat::pf24bit, 3, 7);
        std::vector<Report> reports;
        b->OnProgress = [&](TObject* s, TProgressStage st, uint8_t pct, bool redraw, const TRect& r,
                            const std::string& msg) { reports.push_back({s, st, pct, redraw, r, msg}); };
        op.op(*b, true);
        ASSERT_EQ(reports.size(), 9u) << op.name;
        std::vector<int> stages, percents;
        for (const Report& r : reports) {
            stages.push_back(r.stage);
            percents.push_back(r.percent);
            EXPECT_EQ(r.sender, b.get());
            EXPECT_FALSE(r.redraw);
            EXPECT_EQ(r.rect, TRect{});
            EXPECT_EQ(r.msg, op.msg);
        }
        EXPECT_EQ(stages, (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1, 2})) << op.name;
        EXPECT_EQ(percents, (std::vector<int>{0, 0, 14, 28, 42, 57, 71, 85, 100})) << op.name;

        // Reports off: nothing, and the same pixels as with reports on.
        auto c = RandomPicture(TPixelFormat::pf24bit, 3, 7);
        auto d = RandomPicture(TPixelFormat::pf24bit, 3, 7);
        int count = 0;
        c->OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) { ++count; };
        op.op(*c, false);
        op.op(*d, true);  // asked for, but no handler installed
        EXPECT_EQ(count, 0) << op.name;
        EXPECT_TRUE(SamePixels(*c, *d)) << op.name;
    }
}

TEST(Adjust, EmptyPictureOnlyStartsAndEnds)
{
    TBitmap b(0, 0, TPixelFormat::pf24bit);
    std::vector<int> stages;
    b.OnProgress = [&](TObject*, TProgressStage st, uint8_t, bool, const TRect&, const std::string&) {
        stages.push_back(st);
    };
    Invert(b, true);
    EXPECT_EQ(stages, (std::vector<int>{0, 2}));
}
