#include "image/OZBLibTrans.h"
#include "platform/Exceptions.h"

#include "Pictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

constexpr TPixelFormat kFormats[] = {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                     TPixelFormat::pf24bit, TPixelFormat::pf32bit};

int Bits(TPixelFormat pf)
{
    return BitsPerPixel(pf);
}

// Packed pixels by their definition: pixel x of a 1-bit row is bit 7 - x mod 8 of byte x div 8,
// of a 4-bit row the high nibble of byte x div 2 for even x, the low one for odd x.
unsigned ReadPacked(const uint8_t* row, int32_t x, int bits)
{
    const int perByte = 8 / bits;
    return (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
}

void WritePacked(uint8_t* row, int32_t x, int bits, unsigned v)
{
    const int perByte = 8 / bits;
    const int shift = (perByte - 1 - x % perByte) * bits;
    row[x / perByte] = uint8_t((row[x / perByte] & ~(((1u << bits) - 1) << shift)) | (v << shift));
}

void CopyPixel(const TBitmap& src, int32_t sx, int32_t sy, TBitmap& dst, int32_t x, int32_t y)
{
    const int bits = Bits(src.PixelFormat());
    if (bits < 8)
        WritePacked(dst.ScanLine(y), x, bits, ReadPacked(src.ScanLine(sy), sx, bits));
    else
        std::memcpy(dst.ScanLine(y) + x * (bits / 8), src.ScanLine(sy) + sx * (bits / 8), std::size_t(bits / 8));
}

TPalette RandomPalette(TPixelFormat pf, std::mt19937& rng)
{
    TPalette pal(std::size_t(PaletteEntryCount(pf)));
    for (TRGBQuad& q : pal)
        q = TRGBQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    return pal;
}

// Random row bytes, including the unused low bits of the last byte of a packed row, and a
// palette of random colours (not the standard one).
std::unique_ptr<TBitmap> RandomPicture(TPixelFormat pf, int32_t w, int32_t h, std::mt19937& rng)
{
    auto bmp = std::make_unique<TBitmap>(w, h, pf);
    bmp->SetPalette(RandomPalette(pf, rng));
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < bmp->RowBytes(); ++i)
            bmp->ScanLine(y)[i] = uint8_t(rng());
    return bmp;
}

// Random pixels with the unused bits of packed rows 0, as every operation that moves single
// pixels leaves them, so that a round trip can give back the picture bit for bit.
std::unique_ptr<TBitmap> CleanRandomPicture(TPixelFormat pf, int32_t w, int32_t h, std::mt19937& rng)
{
    auto bmp = RandomPicture(pf, w, h, rng);
    const int bits = Bits(pf);
    if (bits < 8)
        for (int32_t y = 0; y < h; ++y) {
            std::vector<unsigned> px(static_cast<std::size_t>(w));
            for (int32_t x = 0; x < w; ++x)
                px[std::size_t(x)] = ReadPacked(bmp->ScanLine(y), x, bits);
            std::memset(bmp->ScanLine(y), 0, bmp->RowBytes());
            for (int32_t x = 0; x < w; ++x)
                WritePacked(bmp->ScanLine(y), x, bits, px[std::size_t(x)]);
        }
    return bmp;
}

enum class Kind { Mode0, Mode1, Mode2, Mode3, GlassVertical, WinMask, FlipVertical, GlassHorizontal };

struct Op {
    Kind kind;
    int32_t a = 0;  // strip width of the glass strips
};

std::string Name(const Op& op)
{
    static const char* const names[] = {"mode 0", "mode 1", "mode 2", "mode 3", "GlassVertical", "WinMask",
                                        "FlipVertical", "GlassHorizontal"};
    return std::string(names[int(op.kind)]) + (op.a ? " a=" + std::to_string(op.a) : "");
}

std::unique_ptr<TBitmap> Apply(const Op& op, TBitmap& src, bool report = false, int32_t interval = 128)
{
    switch (op.kind) {
    case Kind::Mode0: return TransformBitmap(src, 0, report, interval);
    case Kind::Mode1: return TransformBitmap(src, 1, report, interval);
    case Kind::Mode2: return TransformBitmap(src, 2, report, interval);
    case Kind::Mode3: return TransformBitmap(src, 3, report, interval);
    case Kind::GlassVertical: return GlassVertical(src, op.a, report, interval);
    case Kind::WinMask: return WinMask(src, report, interval);
    case Kind::FlipVertical: return FlipVertical(src);
    case Kind::GlassHorizontal: return GlassHorizontal(src, op.a);
    }
    return nullptr;
}

// The operations by their definitions: every result pixel fetched from its source pixel,
// in order, into a fresh zeroed picture; the two row operations copy whole row bytes.
std::unique_ptr<TBitmap> Reference(const Op& op, const TBitmap& src)
{
    const int32_t W = src.Width(), H = src.Height(), a = op.a;
    const bool turned = op.kind == Kind::Mode0 || op.kind == Kind::Mode2;
    auto r = std::make_unique<TBitmap>(turned ? H : W, turned ? W : H, src.PixelFormat());
    r->SetPalette(src.Palette());
    if (op.kind == Kind::FlipVertical || op.kind == Kind::GlassHorizontal) {
        for (int32_t j = 0; j < H; ++j) {
            int32_t sy = H - 1 - j;
            if (op.kind == Kind::GlassHorizontal)
                sy = j >= a * (H / a) ? j : a * (j / a) + a - 1 - j % a;
            if (src.RowBytes() > 0)
                std::memcpy(r->ScanLine(j), src.ScanLine(sy), src.RowBytes());
        }
        return r;
    }
    static const int32_t T[16] = {12, 8, 6, 15, 9, 13, 2, 11, 1, 4, 14, 7, 0, 5, 10, 3};
    for (int32_t j = 0; j < r->Height(); ++j)
        for (int32_t x = 0; x < r->Width(); ++x) {
            int32_t sx = 0, sy = 0;
            switch (op.kind) {
            case Kind::Mode0: sx = j, sy = H - 1 - x; break;
            case Kind::Mode1: sx = W - 1 - x, sy = H - 1 - j; break;
            case Kind::Mode2: sx = W - 1 - j, sy = x; break;
            case Kind::Mode3: sx = W - 1 - x, sy = j; break;
            case Kind::GlassVertical: sx = x >= a * (W / a) ? x : a * (x / a) + a - 1 - x % a, sy = j; break;
            case Kind::WinMask: sx = x >= 16 * (W / 16) ? x : 16 * (x / 16) + T[x % 16], sy = j; break;
            default: break;
            }
            CopyPixel(src, sx, sy, *r, x, j);
        }
    return r;
}

// SamePixels, also for pictures without pixels (whose rows have no address).
bool Same(const TBitmap& a, const TBitmap& b)
{
    if (a.RowBytes() == 0 || a.Height() == 0)
        return a.Width() == b.Width() && a.Height() == b.Height() && a.PixelFormat() == b.PixelFormat();
    return SamePixels(a, b);
}

void ExpectSameResult(const TBitmap& got, const TBitmap& want, const std::string& what)
{
    ASSERT_TRUE(Same(got, want)) << what;
    ASSERT_EQ(got.Palette(), want.Palette()) << what << ": palette";
}

using nolvi2::test::Report;

// Installs a handler that records every report.
std::vector<Report>& Record(TBitmap& bmp, std::vector<Report>& reports)
{
    bmp.OnProgress = [&reports](TObject* s, TProgressStage st, uint8_t pct, bool redraw, const TRect& r,
                                const std::string& msg) { reports.push_back({s, st, pct, redraw, r, msg}); };
    return reports;
}

// For a picture of n pixels in one row (or one column), which source pixel lands at each
// result position: one probe picture per source pixel, with only that pixel non-zero.
std::vector<int32_t> Order(const Op& op, TPixelFormat pf, int32_t n, bool column)
{
    std::vector<int32_t> order(static_cast<std::size_t>(n), -1);
    const int bits = Bits(pf);
    for (int32_t s = 0; s < n; ++s) {
        TBitmap probe(column ? 1 : n, column ? n : 1, pf);
        const int32_t px = column ? 0 : s, py = column ? s : 0;
        if (bits < 8)
            WritePacked(probe.ScanLine(py), px, bits, 1);
        else
            probe.ScanLine(py)[px * (bits / 8)] = 1;
        auto r = Apply(op, probe);
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t* row = r->ScanLine(column ? i : 0);
            const int32_t x = column ? 0 : i;
            const bool set = bits < 8 ? ReadPacked(row, x, bits) != 0 : row[x * (bits / 8)] != 0;
            if (set)
                order[std::size_t(i)] = s;
        }
    }
    return order;
}

}  // namespace

// The blocked and row-wise paths against the per-pixel definitions, for every format and
// every size up to 70 × 70 (partial tiles, odd packed widths, empty pictures), plus widths
// that cross the 256-row bands of the rotations. Source rows carry random unused bits: the
// pixel-moving operations must leave them 0 in the result, the row copies must keep them.
// One test per pixel format, so that each stays well inside the time limit under the
// sanitizers; the parameter is the index of the format in kFormats.
class TransEveryMode : public testing::TestWithParam<std::size_t> {};

TEST_P(TransEveryMode, MatchesItsDefinitionAtEverySize)
{
    const TPixelFormat pf = kFormats[GetParam()];
    std::mt19937 rng(7 + unsigned(GetParam()));
    std::vector<std::pair<int32_t, int32_t>> sizes;
    for (int32_t w = 0; w <= 70; ++w)
        for (int32_t h = 0; h <= 70; ++h)
            sizes.emplace_back(w, h);
    for (const int32_t w : {255, 256, 257, 513})
        for (const int32_t h : {1, 2, 63, 64, 65, 130})
            sizes.emplace_back(w, h);
    const Op modes[] = {{Kind::Mode0}, {Kind::Mode1}, {Kind::Mode2}, {Kind::Mode3}};
    for (const auto& [w, h] : sizes) {
        auto src = RandomPicture(pf, w, h, rng);
        for (const Op& op : modes)
            ExpectSameResult(*Apply(op, *src), *Reference(op, *src),
                             Name(op) + " format " + std::to_string(int(pf)) + " size " + std::to_string(w) + "x" +
                                 std::to_string(h));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, TransEveryMode, testing::Range(std::size_t(0), std::size(kFormats)),
                         [](const testing::TestParamInfo<std::size_t>& i) {
                             return "Bits" + std::to_string(Bits(kFormats[i.param]));
                         });

TEST(Trans, StripsAndMasksMatchTheirDefinitions)
{
    std::mt19937 rng(11);
    const Op ops[] = {{Kind::GlassVertical, 1}, {Kind::GlassVertical, 3}, {Kind::GlassVertical, 8},
                      {Kind::GlassVertical, 16}, {Kind::GlassVertical, 100}, {Kind::WinMask},
                      {Kind::FlipVertical}, {Kind::GlassHorizontal, 1}, {Kind::GlassHorizontal, 3},
                      {Kind::GlassHorizontal, 8}, {Kind::GlassHorizontal, 100}};
    for (const TPixelFormat pf : kFormats)
        for (int32_t w = 0; w <= 70; ++w)
            for (const int32_t h : {0, 1, 2, 7, 17}) {
                auto src = RandomPicture(pf, w, h, rng);
                for (const Op& op : ops)
                    ExpectSameResult(*Apply(op, *src), *Reference(op, *src),
                                     Name(op) + " format " + std::to_string(int(pf)) + " size " +
                                         std::to_string(w) + "x" + std::to_string(h));
            }
}

// Each operation followed by its inverse gives back the source bit for bit, and leaves the
// source alone.
TEST(Trans, InversesRestoreTheSource)
{
    struct Pair {
        Op first, second;
    };
    const Pair pairs[] = {
        {{Kind::Mode0}, {Kind::Mode2}},
        {{Kind::Mode2}, {Kind::Mode0}},
        {{Kind::Mode1}, {Kind::Mode1}},
        {{Kind::Mode3}, {Kind::Mode3}},
        {{Kind::FlipVertical}, {Kind::FlipVertical}},
        {{Kind::GlassHorizontal, 2}, {Kind::GlassHorizontal, 2}},
        {{Kind::GlassHorizontal, 5}, {Kind::GlassHorizontal, 5}},
        {{Kind::GlassVertical, 2}, {Kind::GlassVertical, 2}},
        {{Kind::GlassVertical, 5}, {Kind::GlassVertical, 5}},
        {{Kind::WinMask}, {Kind::WinMask}},
    };
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1},  {9, 2},  {3, 5},  {7, 1},   {15, 3},  {16, 1},
                                                 {17, 4}, {1, 17}, {63, 2}, {65, 65}, {129, 3}, {300, 5}};
    std::mt19937 rng(3);
    for (const TPixelFormat pf : kFormats)
        for (const auto& [w, h] : sizes) {
            auto src = CleanRandomPicture(pf, w, h, rng);
            TBitmap before;
            before.Assign(*src);
            for (const Pair& p : pairs) {
                auto once = Apply(p.first, *src);
                auto twice = Apply(p.second, *once);
                const std::string what = Name(p.first) + " then " + Name(p.second) + " format " +
                                         std::to_string(int(pf)) + " size " + std::to_string(w) + "x" +
                                         std::to_string(h);
                ExpectSameResult(*twice, *src, what);
                ASSERT_TRUE(SamePixels(*src, before)) << what << ": source changed";
            }
        }
}

TEST(Trans, WrappersAreTheirModes)
{
    std::mt19937 rng(5);
    for (const TPixelFormat pf : kFormats) {
        auto src = RandomPicture(pf, 13, 6, rng);
        EXPECT_TRUE(SamePixels(*Rotate90(*src, false, 128), *TransformBitmap(*src, 0, false, 128)));
        EXPECT_TRUE(SamePixels(*Rotate180(*src, false, 128), *TransformBitmap(*src, 1, false, 128)));
        EXPECT_TRUE(SamePixels(*Rotate270(*src, false, 128), *TransformBitmap(*src, 2, false, 128)));
        EXPECT_TRUE(SamePixels(*FlipHorizontal(*src, false, 128), *TransformBitmap(*src, 3, false, 128)));
    }
}

// The documented orders, seen through probe pictures (so that 1-bit pictures show them too).
TEST(Trans, PixelOrders)
{
    struct Case {
        const char* what;
        Op op;
        int32_t n;
        bool column;
        std::vector<int32_t> order;
    };
    const Case cases[] = {
        {"glass rows a=3", {Kind::GlassHorizontal, 3}, 7, true, {2, 1, 0, 5, 4, 3, 6}},
        {"glass columns a=4", {Kind::GlassVertical, 4}, 10, false, {3, 2, 1, 0, 7, 6, 5, 4, 8, 9}},
        {"glass columns wider than the picture", {Kind::GlassVertical, 11}, 10, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"glass rows higher than the picture", {Kind::GlassHorizontal, 8}, 7, true, {0, 1, 2, 3, 4, 5, 6}},
        {"WIN width 20", {Kind::WinMask}, 20, false,
         {12, 8, 6, 15, 9, 13, 2, 11, 1, 4, 14, 7, 0, 5, 10, 3, 16, 17, 18, 19}},
        {"WIN narrower than 16", {Kind::WinMask}, 15, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
        {"flip vertical", {Kind::FlipVertical}, 5, true, {4, 3, 2, 1, 0}},
        {"flip horizontal", {Kind::Mode3}, 5, false, {4, 3, 2, 1, 0}},
    };
    for (const TPixelFormat pf : kFormats)
        for (const Case& c : cases)
            EXPECT_EQ(Order(c.op, pf, c.n, c.column), c.order) << c.what << " format " << int(pf);
}

TEST(Trans, RotationCorners)
{
    // 1-bit 9 × 2: the bottom-left pixel (0, 1) ends at the top-left of the 2 × 9 result.
    TBitmap src(9, 2, TPixelFormat::pf1bit);
    WritePacked(src.ScanLine(1), 0, 1, 1);
    auto r = Rotate90(src, false, 128);
    ASSERT_EQ(r->Width(), 2);
    ASSERT_EQ(r->Height(), 9);
    EXPECT_EQ(r->ScanLine(0)[0], 0x80);
    for (int32_t y = 1; y < 9; ++y)
        EXPECT_EQ(r->ScanLine(y)[0], 0) << y;

    // A 1 × 1 picture comes back unchanged from every mode.
    std::mt19937 rng(9);
    for (const TPixelFormat pf : kFormats) {
        auto one = CleanRandomPicture(pf, 1, 1, rng);
        for (uint8_t mode = 0; mode < 4; ++mode)
            EXPECT_TRUE(SamePixels(*TransformBitmap(*one, mode, false, 128), *one)) << int(mode);
    }
}

TEST(Trans, UnsupportedFormatsAndBadArgumentsRaiseBeforeAnything)
{
    const Op ops[] = {{Kind::Mode0}, {Kind::Mode1},         {Kind::Mode2},        {Kind::Mode3},
                      {Kind::WinMask}, {Kind::GlassVertical, 4}, {Kind::FlipVertical}, {Kind::GlassHorizontal, 4}};
    for (const TPixelFormat pf :
         {TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pfDevice, TPixelFormat::pfCustom})
        for (const Op& op : ops) {
            TBitmap src(5, 3, pf);
            std::vector<Report> reports;
            Record(src, reports);
            try {
                Apply(op, src, true, 1);
                ADD_FAILURE() << Name(op) << " accepted format " << int(pf);
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), "未対応のピクセルフォーマットです") << Name(op);
            }
            EXPECT_TRUE(reports.empty()) << Name(op);
        }

    struct Bad {
        const char* what;
        std::function<void(TBitmap&)> call;
        const char* message;
    };
    const Bad bad[] = {
        {"mode 4", [](TBitmap& b) { TransformBitmap(b, 4, true, 1); }, "変換の種類が不正です"},
        {"mode 255", [](TBitmap& b) { TransformBitmap(b, 255, true, 1); }, "変換の種類が不正です"},
        {"vertical strips 0", [](TBitmap& b) { GlassVertical(b, 0, true, 1); }, "ストリップの幅が不正です"},
        {"vertical strips -3", [](TBitmap& b) { GlassVertical(b, -3, true, 1); }, "ストリップの幅が不正です"},
        {"horizontal strips 0", [](TBitmap& b) { GlassHorizontal(b, 0); }, "ストリップの幅が不正です"},
        {"horizontal strips -1", [](TBitmap& b) { GlassHorizontal(b, -1); }, "ストリップの幅が不正です"},
    };
    for (const Bad& b : bad) {
        TBitmap src(5, 3, TPixelFormat::pf24bit);
        std::vector<Report> reports;
        Record(src, reports);
        try {
            b.call(src);
            ADD_FAILURE() << b.what << " accepted";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), b.message) << b.what;
        }
        EXPECT_TRUE(reports.empty()) << b.what;
    }

    // The format is checked first.
    TBitmap odd(5, 3, TPixelFormat::pf16bit);
    try {
        GlassVertical(odd, 0, false, 1);
        ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "未対応のピクセルフォーマットです");
    }
}

// Starting report, a running report after every interval-th result row with
// (row * 100) div result height, ending report; sender the source, RedrawNow false, the
// empty rectangle and the display name. Rotations work in bands of rows, and must still
// report each row in order.
TEST(Trans, ProgressReports)
{
    struct Case {
        const char* what;
        Op op;
        int32_t w, h, interval;
        std::vector<int> percents;  // running reports only
        const char* msg;
        TPixelFormat pf = TPixelFormat::pf24bit;
    };
    const char* const turn = "垂直方向に反転";
    const Case cases[] = {
        {"mode 0, result 7 rows, every 2", {Kind::Mode0}, 7, 3, 2, {14, 42, 71}, turn},
        {"mode 2, result 7 rows, every 2", {Kind::Mode2}, 7, 3, 2, {14, 42, 71}, turn},
        {"mode 1, every row", {Kind::Mode1}, 7, 3, 1, {0, 33, 66}, turn},
        {"mode 3, every row", {Kind::Mode3}, 7, 3, 1, {0, 33, 66}, turn},
        {"glass, every 3", {Kind::GlassVertical, 2}, 4, 10, 3, {20, 50, 80}, "縦ガラス処理"},
        {"WIN, every row", {Kind::WinMask}, 20, 4, 1, {0, 25, 50, 75}, "WINマスク"},
        {"100 rows, every 128", {Kind::Mode1}, 5, 100, 128, {}, turn},
        {"rotation over band edges, every 128", {Kind::Mode0}, 600, 2, 128, {21, 42, 63, 85}, turn},
        {"rotation over band edges, every 100", {Kind::Mode2}, 600, 3, 100, {16, 33, 49, 66, 83, 99}, turn},
        {"1-bit rotation over band edges", {Kind::Mode0}, 520, 9, 130, {24, 49, 74, 99}, turn, TPixelFormat::pf1bit},
        {"interval 0", {Kind::Mode0}, 7, 3, 0, {}, turn},
        {"interval -1", {Kind::WinMask}, 7, 3, -1, {}, "WINマスク"},
    };
    std::mt19937 rng(13);
    for (const Case& c : cases) {
        auto src = RandomPicture(c.pf, c.w, c.h, rng);
        std::vector<Report> reports;
        Record(*src, reports);
        auto result = Apply(c.op, *src, true, c.interval);
        ASSERT_EQ(reports.size(), c.percents.size() + 2) << c.what;
        std::vector<int> running;
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const Report& r = reports[i];
            const int stage = i == 0 ? 0 : i + 1 == reports.size() ? 2 : 1;
            EXPECT_EQ(r.stage, stage) << c.what;
            EXPECT_EQ(r.sender, src.get()) << c.what;
            EXPECT_FALSE(r.redraw) << c.what;
            EXPECT_EQ(r.rect, TRect{}) << c.what;
            EXPECT_EQ(r.msg, c.msg) << c.what;
            if (stage == 1)
                running.push_back(r.percent);
        }
        EXPECT_EQ(reports.front().percent, 0) << c.what;
        EXPECT_EQ(reports.back().percent, 100) << c.what;
        EXPECT_EQ(running, c.percents) << c.what;
        EXPECT_FALSE(result->OnProgress) << c.what << ": the result has a handler";

        // Without a handler, or with reports off, nothing is sent and the pixels are the same.
        TBitmap quiet;
        quiet.Assign(*src);
        EXPECT_TRUE(SamePixels(*Apply(c.op, quiet, true, c.interval), *result)) << c.what;
        int count = 0;
        src->OnProgress = [&count](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) {
            ++count;
        };
        EXPECT_TRUE(SamePixels(*Apply(c.op, *src, false, c.interval), *result)) << c.what;
        EXPECT_EQ(count, 0) << c.what;
    }

    // The operations without progress send nothing even with a handler installed.
    auto src = RandomPicture(TPixelFormat::pf24bit, 4, 4, rng);
    int count = 0;
    src->OnProgress = [&count](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) { ++count; };
    FlipVertical(*src);
    GlassHorizontal(*src, 2);
    EXPECT_EQ(count, 0);
}

// A handler that fails part-way: the failure reaches the caller, the half-built result is
// freed (the sanitizer build checks for leaks) and the source is untouched.
TEST(Trans, FailureInAReportPassesThrough)
{
    std::mt19937 rng(17);
    for (const Op& op : {Op{Kind::Mode0}, Op{Kind::Mode1}, Op{Kind::GlassVertical, 3}, Op{Kind::WinMask}}) {
        auto src = RandomPicture(TPixelFormat::pf8bit, 300, 40, rng);
        TBitmap before;
        before.Assign(*src);
        src->OnProgress = [](TObject*, TProgressStage st, uint8_t, bool, const TRect&, const std::string&) {
            if (st == psRunning)
                throw Exception("stop");
        };
        EXPECT_THROW(Apply(op, *src, true, 10), Exception) << Name(op);
        EXPECT_TRUE(SamePixels(*src, before)) << Name(op);
    }
}
