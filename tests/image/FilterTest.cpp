#include "image/OZBLibFilter.h"
#include "platform/Exceptions.h"

#include "Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

// The table as the commands use it: kind, nine weights, divisor.
const TFilterKernel kTable[9] = {
    {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 9},
    {{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16},
    {{1, 1, 1, 1, 2, 1, 1, 1, 1}, 10},
    {{-1, -1, -1, -1, 32, -1, -1, -1, -1}, 24},
    {{-1, -1, -1, -1, 24, -1, -1, -1, -1}, 16},
    {{-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8},
    {{-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1},
    {{0, -1, 0, -1, 4, -1, 0, -1, 0}, 1},
    {{1, -2, 1, -2, 4, -2, 1, -2, 1}, 1},
};

TFilterKernel Kind(int kind)
{
    TFilterKernel k{};
    MakeFilterKernel(uint8_t(kind), k);
    return k;
}

// The channel values for one channel sum, straight from the definition: red is the real
// quotient rounded half to even, green and blue the truncated integer quotient.
uint8_t RedOf(int64_t sum, int32_t divisor)
{
    const long double r = std::nearbyint(static_cast<long double>(sum) / divisor);
    return uint8_t(std::clamp<long double>(r, 0, 255));
}
uint8_t GreenBlueOf(int64_t sum, int32_t divisor)
{
    return uint8_t(std::clamp<int64_t>(sum / divisor, 0, 255));
}

// The filter written literally: a full copy, a table of h + 2 source rows with the edge rows
// repeated, every sample column clamped into the picture, exact sums.
std::unique_ptr<TBitmap> Reference(const TBitmap& src, const TRect& r, const TFilterKernel& k)
{
    auto dst = std::make_unique<TBitmap>();
    dst->Assign(src);
    const int32_t W = src.Width(), H = src.Height(), w = r.Width(), h = r.Height();
    if (w < 1 || h < 1)
        return dst;
    std::vector<const uint8_t*> rows(std::size_t(h) + 2);
    rows[0] = src.ScanLine(r.Top == 0 ? 0 : r.Top - 1);
    for (int32_t j = 0; j < h; ++j)
        rows[std::size_t(j) + 1] = src.ScanLine(r.Top + j);
    rows[std::size_t(h) + 1] = src.ScanLine(r.Bottom < H ? r.Bottom : H - 1);
    for (int32_t y = r.Top; y < r.Bottom; ++y)
        for (int32_t x = r.Left; x < r.Right; ++x) {
            int64_t sum[3] = {0, 0, 0};
            for (int m = -1; m <= 1; ++m)
                for (int e = -1; e <= 1; ++e) {
                    const int32_t col = std::clamp(x + e, 0, W - 1);
                    const uint8_t* p = rows[std::size_t(y - r.Top + 1 + m)] + 3 * col;
                    const int64_t weight = k.K[(m + 1) * 3 + (e + 1)];
                    for (int c = 0; c < 3; ++c)
                        sum[c] += weight * p[c];
                }
            uint8_t* out = dst->ScanLine(y) + 3 * x;
            out[0] = GreenBlueOf(sum[0], k.Divisor);
            out[1] = GreenBlueOf(sum[1], k.Divisor);
            out[2] = RedOf(sum[2], k.Divisor);
        }
    return dst;
}

TBitmap RandomPicture(int32_t w, int32_t h, std::mt19937& rng)
{
    TBitmap b(w, h, TPixelFormat::pf24bit);
    // Plenty of 0 and 255 besides random values, so that sums reach the clamps.
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < b.RowBytes(); ++i) {
            const unsigned r = rng() % 8;
            b.ScanLine(y)[i] = r == 0 ? 0 : r == 1 ? 255 : uint8_t(rng());
        }
    return b;
}

TBitmap Uniform(int32_t w, int32_t h, uint8_t b, uint8_t g, uint8_t r)
{
    TBitmap pic(w, h, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = pic.ScanLine(y) + 3 * x;
            p[0] = b, p[1] = g, p[2] = r;
        }
    return pic;
}

void SetGrey(TBitmap& pic, int32_t x, int32_t y, uint8_t v) { std::memset(pic.ScanLine(y) + 3 * x, v, 3); }

const uint8_t* Pixel(const TBitmap& pic, int32_t x, int32_t y) { return pic.ScanLine(y) + 3 * x; }

using nolvi2::test::Report;

void Record(TBitmap& pic, std::vector<Report>& reports)
{
    pic.OnProgress = [&reports](TObject* s, TProgressStage st, uint8_t pct, bool redraw, const TRect& r,
                                const std::string& msg) { reports.push_back({s, st, pct, redraw, r, msg}); };
}

// Values for the nine cells of a 3x3 block that make the kernel's sum equal to any target in
// its reachable range, found by dynamic programming over the cells.
class SumSolver {
public:
    explicit SumSolver(const TFilterKernel& k) : FK(k)
    {
        for (const int32_t w : k.K)
            (w > 0 ? FHi : FLo) += 255 * int64_t(w);
        const std::size_t n = std::size_t(FHi - FLo + 1);
        FVia.assign(9, std::vector<int16_t>(n, -1));
        std::vector<char> cur(n, 0), next;
        cur[std::size_t(-FLo)] = 1;
        for (int i = 0; i < 9; ++i) {
            next.assign(n, 0);
            for (std::size_t s = 0; s < n; ++s) {
                if (!cur[s])
                    continue;
                for (int v = 0; v < 256; ++v) {
                    const std::size_t t = std::size_t(int64_t(s) + int64_t(k.K[i]) * v);
                    if (!next[t]) {
                        next[t] = 1;
                        FVia[std::size_t(i)][t] = int16_t(v);
                    }
                    if (k.K[i] == 0)
                        break;
                }
            }
            cur.swap(next);
        }
        FReachable = std::move(cur);
    }
    int64_t Lo() const { return FLo; }
    int64_t Hi() const { return FHi; }
    // The nine cell values (row above, same row, row below), or false when unreachable.
    bool Solve(int64_t target, uint8_t (&cells)[9]) const
    {
        if (target < FLo || target > FHi || !FReachable[std::size_t(target - FLo)])
            return false;
        int64_t t = target - FLo;
        for (int i = 8; i >= 0; --i) {
            const int16_t v = FVia[std::size_t(i)][std::size_t(t)];
            cells[i] = uint8_t(v);
            t -= int64_t(FK.K[i]) * v;
        }
        return t == -FLo;
    }

private:
    TFilterKernel FK;
    int64_t FLo = 0, FHi = 0;
    std::vector<std::vector<int16_t>> FVia;
    std::vector<char> FReachable;
};

// A picture of disjoint 3x3 blocks, one per entry of cells, all three channels equal: the
// pixel at the centre of block j sees exactly that block's nine values.
TBitmap BlockPicture(const std::vector<std::array<uint8_t, 9>>& cells, int32_t blocksPerRow)
{
    const int32_t n = int32_t(cells.size());
    const int32_t rows = (n + blocksPerRow - 1) / blocksPerRow;
    TBitmap pic(3 * blocksPerRow, 3 * rows, TPixelFormat::pf24bit);
    for (int32_t j = 0; j < n; ++j) {
        const int32_t bx = 3 * (j % blocksPerRow), by = 3 * (j / blocksPerRow);
        for (int m = 0; m < 3; ++m)
            for (int e = 0; e < 3; ++e)
                SetGrey(pic, bx + e, by + m, cells[std::size_t(j)][std::size_t(m * 3 + e)]);
    }
    return pic;
}

// Filters the block picture of the given sums and checks every block's centre against the
// definition for those sums.
void CheckSums(const TFilterKernel& k, const std::vector<int64_t>& sums,
               const std::function<std::array<uint8_t, 9>(int64_t)>& solve, const std::string& what)
{
    std::vector<std::array<uint8_t, 9>> cells;
    cells.reserve(sums.size());
    for (const int64_t s : sums)
        cells.push_back(solve(s));
    const int32_t perRow = 1000;
    TBitmap pic = BlockPicture(cells, perRow);
    auto out = CustomFilter(pic, k, 128, false);
    ASSERT_TRUE(out);
    for (std::size_t j = 0; j < sums.size(); ++j) {
        const uint8_t* p = Pixel(*out, 3 * int32_t(j % perRow) + 1, 3 * int32_t(j / perRow) + 1);
        const int64_t s = sums[j];
        if (p[2] != RedOf(s, k.Divisor) || p[1] != GreenBlueOf(s, k.Divisor) || p[0] != p[1])
            FAIL() << what << ": sum " << s << " divisor " << k.Divisor << " gives (" << int(p[0]) << ", "
                   << int(p[1]) << ", " << int(p[2]) << "), expected red " << int(RedOf(s, k.Divisor))
                   << " and green/blue " << int(GreenBlueOf(s, k.Divisor));
    }
}

}  // namespace

TEST(Filter, KernelTable)
{
    for (int kind = 0; kind < 9; ++kind)
        for (const int flag : {0, 128}) {
            const TFilterKernel k = Kind(kind | flag);  // only the low 7 bits count
            EXPECT_TRUE(std::equal(k.K, k.K + 9, kTable[kind].K)) << kind;
            EXPECT_EQ(k.Divisor, kTable[kind].Divisor) << kind;
        }
    for (const int kind : {9, 100, 127, 137, 255}) {
        TFilterKernel k{{1, 2, 3, 4, 5, 6, 7, 8, 9}, 42};
        MakeFilterKernel(uint8_t(kind), k);
        EXPECT_EQ(k.K[0], 1) << kind;
        EXPECT_EQ(k.K[8], 9) << kind;
        EXPECT_EQ(k.Divisor, 42) << kind << ": an unknown kind changed the kernel";
    }
}

// Hand-checked results on small pictures.
TEST(Filter, KnownResults)
{
    // A uniform picture: the low- and high-pass kernels sum to their divisor and keep it, the
    // Laplacians sum to 0 and give black.
    for (int kind = 0; kind < 9; ++kind) {
        TBitmap pic = Uniform(23, 4, 10, 128, 255);
        auto out = CustomFilter(pic, Kind(kind), 128, false);
        ASSERT_TRUE(out);
        TBitmap want = kind < 6 ? Uniform(23, 4, 10, 128, 255) : Uniform(23, 4, 0, 0, 0);
        EXPECT_TRUE(SamePixels(*out, want)) << "kind " << kind;
    }

    // On a black 24 x 5 picture, at the left edge and again 10 pixels to the right (where the
    // rows are wide enough for the block path).
    struct Case {
        const char* what;
        int kind;
        std::vector<std::array<int, 3>> set;     // x, y, grey value
        std::vector<std::array<int, 5>> expect;  // x, y, blue, green, red
        bool leftEdgeOnly = false;
    };
    const Case cases[] = {
        {"single white pixel, kind 0: 255 / 9 = 28.33",
         0,
         {{2, 2, 255}},
         {{1, 1, 28, 28, 28}, {2, 2, 28, 28, 28}, {3, 3, 28, 28, 28}, {0, 0, 0, 0, 0}, {4, 2, 0, 0, 0}}},
        // Sums 13 and 14 over divisor 9: red rounds (1.44 -> 1, 1.56 -> 2), green and blue truncate.
        {"sum 13, kind 0", 0, {{1, 1, 5}, {2, 1, 8}}, {{1, 1, 1, 1, 1}}},
        {"sum 14, kind 0", 0, {{1, 1, 6}, {2, 1, 8}}, {{1, 1, 1, 1, 2}}},
        // Ties go to the even neighbour: kind 1 has centre weight 4 and divisor 16.
        {"sum 8 / 16 = 0.5, kind 1", 1, {{2, 2, 2}}, {{2, 2, 0, 0, 0}}},
        {"sum 24 / 16 = 1.5, kind 1", 1, {{2, 2, 6}}, {{2, 2, 1, 1, 2}}},
        {"sum 40 / 16 = 2.5, kind 1", 1, {{2, 2, 10}}, {{2, 2, 2, 2, 2}}},
        // Kind 8 on an isolated bright pixel: 1020 clamps to 255, the edge neighbours get -510
        // and clamp to 0, the corners get 255.
        {"isolated pixel, kind 8",
         8,
         {{2, 2, 255}},
         {{2, 2, 255, 255, 255}, {1, 2, 0, 0, 0}, {2, 3, 0, 0, 0}, {1, 1, 255, 255, 255}, {3, 3, 255, 255, 255}}},
        // The picture's edges are repeated: the corner pixel sees itself four times, 4 x 255 / 9.
        {"corner pixel repeats the edge, kind 0", 0, {{0, 0, 255}}, {{0, 0, 113, 113, 113}, {1, 1, 28, 28, 28}}, true},
    };
    for (const Case& c : cases)
        for (const int dx : {0, 10}) {
            if (dx && c.leftEdgeOnly)
                continue;
            TBitmap pic = Uniform(24, 5, 0, 0, 0);
            for (const auto& s : c.set)
                SetGrey(pic, s[0] + dx, s[1], uint8_t(s[2]));
            auto out = CustomFilter(pic, Kind(c.kind), 128, false);
            ASSERT_TRUE(out) << c.what;
            for (const auto& e : c.expect) {
                const uint8_t* p = Pixel(*out, e[0] + dx, e[1]);
                EXPECT_EQ(p[0], e[2]) << c.what << " blue at " << e[0] + dx << "," << e[1];
                EXPECT_EQ(p[1], e[3]) << c.what << " green at " << e[0] + dx << "," << e[1];
                EXPECT_EQ(p[2], e[4]) << c.what << " red at " << e[0] + dx << "," << e[1];
            }
        }
}

// A selection is filtered with the real pixels around it, and nothing outside it changes.
TEST(Filter, SelectionUsesRealNeighboursAndKeepsTheRest)
{
    // On a ramp (value 10y + x) the low-pass kernel keeps every pixel whose neighbours all
    // exist; had the selection's own edge been repeated, its border would change.
    TBitmap ramp(8, 8, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            SetGrey(ramp, x, y, uint8_t(10 * y + x));
    auto out = CustomFilterRect(ramp, TRect{2, 2, 5, 6}, 128, false, Kind(0));
    ASSERT_TRUE(out);
    EXPECT_TRUE(SamePixels(*out, ramp));
    // The picture's own edges are repeated: corner (0, 0) sums 3 x (0 + 0 + 10) + 3 x (0 + 0 + 1).
    out = CustomFilterRect(ramp, TRect{0, 0, 1, 1}, 128, false, Kind(0));
    ASSERT_TRUE(out);
    EXPECT_EQ(Pixel(*out, 0, 0)[2], 4);  // 33 / 9 = 3.67
    EXPECT_EQ(Pixel(*out, 0, 0)[1], 3);

    std::mt19937 rng(7);
    TBitmap pic = RandomPicture(13, 11, rng);
    const TRect r{3, 4, 9, 7};
    out = CustomFilterRect(pic, r, 128, false, Kind(4));
    ASSERT_TRUE(out);
    int changed = 0;
    for (int32_t y = 0; y < 11; ++y)
        for (int32_t x = 0; x < 13; ++x) {
            const bool inside = x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
            const bool same = std::memcmp(Pixel(*out, x, y), Pixel(pic, x, y), 3) == 0;
            if (!inside) {
                EXPECT_TRUE(same) << x << "," << y;
            }
            changed += inside && !same;
        }
    EXPECT_GT(changed, 9);
    EXPECT_TRUE(SamePixels(*out, *Reference(pic, r, Kind(4))));
}

TEST(Filter, EmptyRectangleGivesAPlainCopy)
{
    std::mt19937 rng(3);
    TBitmap pic = RandomPicture(6, 5, rng);
    for (const TRect r : {TRect{2, 1, 2, 4}, TRect{0, 3, 6, 3}, TRect{0, 0, 0, 0}, TRect{6, 5, 6, 5}}) {
        std::vector<Report> reports;
        Record(pic, reports);
        auto out = CustomFilterRect(pic, r, 1, true, Kind(6));
        ASSERT_TRUE(out);
        EXPECT_TRUE(SamePixels(*out, pic));
        EXPECT_FALSE(out->OnProgress) << "the result carries no handler";
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0].stage, 0);
        EXPECT_EQ(reports[1].stage, 2);
    }
    TBitmap empty(0, 0, TPixelFormat::pf24bit);
    auto out = CustomFilter(empty, Kind(0), 128, true);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Width(), 0);
}

// The checks come in this order, before anything is created or reported.
TEST(Filter, ErrorsComeFirstAndInOrder)
{
    struct Case {
        TPixelFormat pf;
        TRect rect;
        int32_t divisor;
        const char* message;
    };
    const char* negative = "矩形の大きさがマイナスです";
    const char* outside = "矩形の範囲が画像の大きさを超えています";
    const char* format = "未対応のピクセルフォーマットです";
    const char* zero = "フィルタの除数が 0 です";
    const Case cases[] = {
        {TPixelFormat::pf24bit, {5, 0, 4, 5}, 9, negative},
        {TPixelFormat::pf24bit, {0, 3, 5, 2}, 9, negative},
        {TPixelFormat::pf8bit, {5, 0, 4, 5}, 0, negative},
        {TPixelFormat::pf24bit, {-1, 0, 5, 5}, 9, outside},
        {TPixelFormat::pf24bit, {0, -1, 5, 5}, 9, outside},
        {TPixelFormat::pf24bit, {0, 0, 10, 5}, 9, outside},
        {TPixelFormat::pf24bit, {0, 0, 5, 8}, 9, outside},
        {TPixelFormat::pf24bit, {0, 0, 9, 7}, 0, zero},
        {TPixelFormat::pf8bit, {-1, 0, 5, 5}, 0, outside},
        // Extreme coordinates: the true width is positive (no 32-bit wrap-around).
        {TPixelFormat::pf24bit, {INT_MIN, 0, INT_MAX, 1}, 9, outside},
        {TPixelFormat::pf24bit, {INT_MAX, 0, INT_MIN, 1}, 9, negative},
        {TPixelFormat::pf8bit, {0, 0, 5, 5}, 0, format},
        {TPixelFormat::pf32bit, {0, 0, 5, 5}, 9, format},
        {TPixelFormat::pf1bit, {1, 1, 2, 2}, 9, format},
        {TPixelFormat::pf24bit, {0, 0, 5, 5}, 0, zero},
        {TPixelFormat::pf24bit, {2, 2, 2, 2}, 0, zero},
    };
    for (const Case& c : cases) {
        TBitmap pic(9, 7, c.pf);
        int reports = 0;
        pic.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) { ++reports; };
        TFilterKernel k = Kind(0);
        k.Divisor = c.divisor;
        TBitmap dest(2, 2, TPixelFormat::pf8bit);
        const std::function<void()> calls[] = {
            [&] { CustomFilterRect(pic, c.rect, 1, true, k); },
            [&] { CustomFilterRectInto(pic, dest, c.rect, 1, true, k); },
        };
        for (const auto& call : calls) {
            try {
                call();
                ADD_FAILURE() << "no error for " << c.message;
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), c.message) << c.rect.Left << "," << c.rect.Top << "," << c.rect.Right << ","
                                                  << c.rect.Bottom;
            }
        }
        EXPECT_EQ(reports, 0) << c.message;
        EXPECT_EQ(dest.Width(), 2);
        EXPECT_EQ(dest.PixelFormat(), TPixelFormat::pf8bit);
    }
    // The whole-picture form checks the same way.
    TBitmap pic8(4, 4, TPixelFormat::pf8bit);
    EXPECT_THROW(CustomFilter(pic8, Kind(0), 128, false), Exception);
}

// Starting report, a running report every `interval` rows of the rectangle carrying
// ((y - top) * 100) div height, ending report; sender the source.
TEST(Filter, ProgressSequence)
{
    struct Case {
        TRect rect;
        int32_t interval;
        std::vector<int> percents;  // including the starting 0 and the ending 100
    };
    const Case cases[] = {
        {{1, 2, 3, 9}, 3, {0, 28, 71, 100}},
        {{0, 0, 4, 10}, 1, {0, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {{0, 0, 4, 10}, 128, {0, 100}},
        {{0, 0, 4, 10}, 0, {0, 100}},
        {{2, 5, 4, 6}, 1, {0, 0, 100}},
    };
    std::mt19937 rng(5);
    for (const Case& c : cases) {
        TBitmap pic = RandomPicture(4, 10, rng);
        for (const bool into : {false, true}) {
            std::vector<Report> reports;
            Record(pic, reports);
            TBitmap dest;
            if (into)
                CustomFilterRectInto(pic, dest, c.rect, c.interval, true, Kind(1));
            else
                ASSERT_TRUE(CustomFilterRect(pic, c.rect, c.interval, true, Kind(1)));
            std::vector<int> percents, stages;
            for (const Report& r : reports) {
                percents.push_back(r.percent);
                stages.push_back(r.stage);
                EXPECT_EQ(r.sender, &pic);
                EXPECT_FALSE(r.redraw);
                EXPECT_EQ(r.rect, TRect{});
                EXPECT_EQ(r.msg, "カスタムフィルタ");
            }
            EXPECT_EQ(percents, c.percents) << "interval " << c.interval;
            ASSERT_FALSE(stages.empty());
            EXPECT_EQ(stages.front(), 0);
            EXPECT_EQ(stages.back(), 2);
            for (std::size_t i = 1; i + 1 < stages.size(); ++i)
                EXPECT_EQ(stages[i], 1);
        }
    }
    // No reports when they are not asked for, or when nobody listens; the same pixels.
    TBitmap pic = RandomPicture(7, 6, rng);
    int count = 0;
    pic.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) { ++count; };
    auto quiet = CustomFilter(pic, Kind(3), 1, false);
    EXPECT_EQ(count, 0);
    pic.OnProgress = nullptr;
    auto unheard = CustomFilter(pic, Kind(3), 1, true);
    ASSERT_TRUE(quiet && unheard);
    EXPECT_TRUE(SamePixels(*quiet, *unheard));
}

// A failure while the result is being filled (here a handler that throws on a running
// report) reaches the caller after the ending report. A destination of the caller, the
// source itself included, stays as it was.
TEST(Filter, FailureInsideTheLoopPassesOn)
{
    std::mt19937 rng(9);
    TBitmap pic = RandomPicture(20, 6, rng);
    TBitmap original;
    original.Assign(pic);
    std::vector<int> stages;
    pic.OnProgress = [&](TObject*, TProgressStage st, uint8_t, bool, const TRect&, const std::string&) {
        stages.push_back(st);
        if (st == psRunning)
            throw std::runtime_error("cancelled");
    };
    auto expectCancelled = [&](const std::function<void()>& call, const char* what) {
        stages.clear();
        try {
            call();
            ADD_FAILURE() << what << ": no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "cancelled") << what;
        }
        EXPECT_EQ(stages, (std::vector<int>{0, 1, 2})) << what;
        EXPECT_TRUE(SamePixels(pic, original)) << what;
    };

    expectCancelled([&] { CustomFilter(pic, Kind(0), 2, true); }, "new result");
    expectCancelled([&] { CustomFilterRect(pic, TRect{1, 1, 19, 5}, 1, true, Kind(5)); }, "rectangle");

    TBitmap dest = Uniform(3, 2, 1, 2, 3);
    bool destHandlerCalled = false;
    dest.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) {
        destHandlerCalled = true;
    };
    expectCancelled([&] { CustomFilterRectInto(pic, dest, TRect{1, 1, 19, 5}, 1, true, Kind(5)); }, "destination");
    EXPECT_TRUE(SamePixels(dest, Uniform(3, 2, 1, 2, 3)));
    EXPECT_TRUE(bool(dest.OnProgress));
    EXPECT_FALSE(destHandlerCalled);
    expectCancelled([&] { CustomFilterRectInto(pic, pic, TRect{0, 0, 20, 6}, 1, true, Kind(5)); }, "into itself");

    // A throwing starting or ending report reaches the caller too.
    for (const TProgressStage bad : {psStarting, psEnding}) {
        pic.OnProgress = [bad](TObject*, TProgressStage st, uint8_t, bool, const TRect&, const std::string&) {
            if (st == bad)
                throw std::runtime_error("handler");
        };
        EXPECT_THROW(CustomFilter(pic, Kind(0), 2, true), std::runtime_error);
    }
}

// With a destination: it becomes a full copy with the rectangle filtered and keeps its own
// handler; the source itself may be the destination and is still read unfiltered.
TEST(Filter, IntoADestination)
{
    std::mt19937 rng(11);
    for (const TRect r : {TRect{0, 0, 31, 9}, TRect{4, 2, 27, 8}, TRect{0, 0, 0, 9}}) {
        TBitmap pic = RandomPicture(31, 9, rng);
        const auto want = Reference(pic, r, Kind(2));

        TBitmap dest(5, 5, TPixelFormat::pf8bit);
        int destReports = 0;
        dest.OnProgress = [&](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) {
            ++destReports;
        };
        CustomFilterRectInto(pic, dest, r, 1, true, Kind(2));
        EXPECT_TRUE(SamePixels(dest, *want));
        EXPECT_TRUE(bool(dest.OnProgress));
        EXPECT_EQ(destReports, 0);

        CustomFilterRectInto(pic, pic, r, 1, true, Kind(2));
        EXPECT_TRUE(SamePixels(pic, *want));
    }
}

// Every kernel of the table on random pictures of many shapes and random rectangles, against
// the literal definition.
TEST(Filter, TableKernelsEqualTheDefinition)
{
    std::vector<std::pair<int32_t, int32_t>> sizes = {{1, 1},  {1, 7},  {7, 1},  {2, 2},  {3, 3},  {5, 2},
                                                      {6, 1},  {1, 40}, {40, 1}, {64, 3}, {17, 17}, {39, 5}};
    for (int32_t w = 1; w <= 41; w += 4)
        sizes.push_back({w, 3 + w % 5});
    std::mt19937 rng(1);
    for (int kind = 0; kind < 9; ++kind)
        for (const auto& [w, h] : sizes) {
            TBitmap pic = RandomPicture(w, h, rng);
            std::vector<TRect> rects = {{0, 0, w, h}};
            for (int i = 0; i < 6; ++i) {
                const int32_t l = int32_t(rng() % (w + 1)), t = int32_t(rng() % (h + 1));
                rects.push_back({l, t, l + int32_t(rng() % (w - l + 1)), t + int32_t(rng() % (h - t + 1))});
            }
            for (const TRect& r : rects) {
                auto out = CustomFilterRect(pic, r, 128, false, Kind(kind));
                ASSERT_TRUE(out);
                ASSERT_TRUE(SamePixels(*out, *Reference(pic, r, Kind(kind))))
                    << "kind " << kind << " size " << w << "x" << h << " rect " << r.Left << "," << r.Top << ","
                    << r.Right << "," << r.Bottom;
            }
        }
}

// Hand-made kernels: negative weights, negative divisors, divisors that are not small, and
// weights so large that the sums leave 32 bits.
TEST(Filter, HandMadeKernelsEqualTheDefinition)
{
    std::mt19937 rng(2);
    auto pick = [&](std::initializer_list<int32_t> values) {
        return *(values.begin() + rng() % values.size());
    };
    for (int i = 0; i < 300; ++i) {
        TFilterKernel k{};
        const int32_t scale = pick({2, 5, 16, 40, 129, 1000, 1 << 20, INT_MAX});
        for (int32_t& w : k.K)
            w = int32_t(int64_t(rng() % (2 * uint64_t(scale) + 1)) - scale);
        do
            k.Divisor = int32_t(int64_t(rng() % 300) - 150);
        while (k.Divisor == 0);
        if (i % 5 == 0)
            k.Divisor = pick({INT_MIN, INT_MAX, -1, 1, 127, -127, 128, 1 << 24});
        const int32_t w = int32_t(1 + rng() % 40), h = int32_t(1 + rng() % 6);
        TBitmap pic = RandomPicture(w, h, rng);
        const int32_t l = int32_t(rng() % w), t = int32_t(rng() % h);
        const TRect r = i % 2 ? TRect{0, 0, w, h} : TRect{l, t, w, t + 1};
        auto out = CustomFilterRect(pic, r, 128, false, k);
        ASSERT_TRUE(out);
        ASSERT_TRUE(SamePixels(*out, *Reference(pic, r, k))) << "kernel " << i << " divisor " << k.Divisor;
    }
    // Kernels at the edge of 16-bit sums (weights of 128 on one side fit, 129 do not).
    const TFilterKernel edges[] = {
        {{0, 0, 0, 0, 128, 0, 0, 0, 0}, 127},   {{0, 0, 0, 0, 129, 0, 0, 0, 0}, 127},
        {{0, 0, 0, 0, -128, 0, 0, 0, 0}, -127}, {{0, 0, 0, 0, -129, 0, 0, 0, 0}, -126},
        {{64, 64, 1, 0, -128, 0, 0, 0, 0}, 99}, {{-64, -64, -1, 0, 128, 0, 0, 0, 0}, -100},
        {{-64, 64, -1, 65, 0, -64, 0, 0, 0}, 2}, {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 128},
        {{0, 0, 0, 0, -129, 0, 0, 0, 1}, 100},  {{0, 1, 0, 0, -128, 0, 0, 0, 0}, 100},
    };
    for (const TFilterKernel& k : edges) {
        TBitmap pic = RandomPicture(40, 4, rng);
        auto out = CustomFilter(pic, k, 128, false);
        ASSERT_TRUE(out);
        EXPECT_TRUE(SamePixels(*out, *Reference(pic, TRect{0, 0, 40, 4}, k)))
            << k.K[0] << " " << k.K[4] << " divisor " << k.Divisor;
    }
    // Sums beyond 32 bits are taken as they are: 255 x 2^24 over 2^24 is 255 (wrapped to 32
    // bits it would be negative and give 0).
    TBitmap white = Uniform(20, 3, 255, 255, 255);
    const TFilterKernel big{{0, 0, 0, 0, 1 << 24, 0, 0, 0, 0}, 1 << 24};
    auto out = CustomFilter(white, big, 128, false);
    ASSERT_TRUE(out);
    EXPECT_TRUE(SamePixels(*out, white));
}

// The integer division of the pixel loop against the real quotient rounded half to even
// (red) and the truncated quotient (green, blue), for every sum that each kernel of the
// table can produce.
TEST(Filter, EverySumOfEveryTableKernel)
{
    for (int kind = 0; kind < 9; ++kind) {
        const TFilterKernel k = Kind(kind);
        const SumSolver solver(k);
        std::vector<int64_t> sums;
        for (int64_t s = solver.Lo(); s <= solver.Hi(); ++s)
            sums.push_back(s);
        CheckSums(
            k, sums,
            [&](int64_t s) {
                std::array<uint8_t, 9> cells{};
                uint8_t c[9];
                EXPECT_TRUE(solver.Solve(s, c)) << "kind " << kind << " cannot reach " << s;
                std::copy(c, c + 9, cells.begin());
                return cells;
            },
            "kind " + std::to_string(kind));
        if (HasFatalFailure() || HasFailure())
            return;
    }
}

// The same for every divisor from -130 to 130 over the whole range of sums that the fast
// path accepts (weights up to 128 on either side: -32640..32640): the dial kernel
// 120 a + 7 b + c - 128 e reaches every sum in that range.
TEST(Filter, EverySumOfEverySmallDivisor)
{
    const int64_t lo = -32640, hi = 32640;
    std::vector<int64_t> all;
    for (int64_t s = lo; s <= hi; ++s)
        all.push_back(s);
    auto dial = [](int64_t s) {
        std::array<uint8_t, 9> c{};
        if (s < 0) {
            const int64_t e = (-s + 127) / 128;
            c[3] = uint8_t(e);
            c[2] = uint8_t(s + 128 * e);
        } else {
            const int64_t a = std::min<int64_t>(s / 120, 255);
            const int64_t b = std::min<int64_t>((s - 120 * a) / 7, 255);
            c[0] = uint8_t(a);
            c[1] = uint8_t(b);
            c[2] = uint8_t(s - 120 * a - 7 * b);
        }
        return c;
    };
    for (int32_t d = -130; d <= 130; ++d) {
        if (d == 0)
            continue;
        // Every sum where the result is not simply clamped, and every 97th sum beyond.
        std::vector<int64_t> sums;
        const int64_t ad = std::abs(d);
        for (const int64_t s : all)
            if ((s >= -2 * ad - 2 && s <= 257 * ad + 2) || s % 97 == 0 || s == lo || s == hi)
                sums.push_back(d > 0 ? s : -s);
        CheckSums(TFilterKernel{{120, 7, 1, -128, 0, 0, 0, 0, 0}, d}, sums, dial, "dial");
        if (HasFatalFailure() || HasFailure())
            return;
    }
}

// Large weights and divisors over sums far beyond 16 bits, up to 2^32: the kernel
// 2^24 a + 2^16 b + 2^8 c + d - (the same below) reaches any sum of magnitude below 2^32;
// the sums are chosen around exact multiples and halves of the divisor.
TEST(Filter, WideSumsAndLargeDivisors)
{
    const TFilterKernel base{{1 << 24, 1 << 16, 1 << 8, 1, -(1 << 24), -(1 << 16), -(1 << 8), -1, 0}, 1};
    auto digits = [](int64_t s) {
        std::array<uint8_t, 9> c{};
        const uint64_t u = uint64_t(s < 0 ? -s : s);
        const int at = s < 0 ? 4 : 0;
        for (int i = 0; i < 4; ++i)
            c[std::size_t(at + i)] = uint8_t(u >> (8 * (3 - i)));
        return c;
    };
    std::mt19937_64 rng(4);
    const int32_t divisors[] = {1,       -1,       2,         -2,        3,       255,      -256,      1000,
                                65535,   -65536,   1 << 20,   -(1 << 20), 9999991, 1 << 24, -(1 << 24), 33554431,
                                INT_MAX, INT_MIN, 1 << 30,   -(1 << 30)};
    const int64_t limit = (int64_t(1) << 32) - 1;
    for (const int32_t d : divisors) {
        std::vector<int64_t> sums;
        for (int i = 0; i < 3000; ++i) {
            const int64_t q = int64_t(rng() % 262) - 3;  // quotients -3..258
            int64_t s = q * d;
            switch (i % 6) {
            case 0: break;
            case 1: s += d / 2; break;  // a tie when d is even
            case 2: s -= d / 2; break;
            case 3: s += d / 2 + (rng() % 2 ? 1 : -1); break;
            case 4: s += int64_t(rng() % uint64_t(std::abs(int64_t(d)))) * (d < 0 ? -1 : 1); break;
            case 5: s = int64_t(rng() % uint64_t(2 * limit + 1)) - limit; break;
            }
            if (s >= -limit && s <= limit)
                sums.push_back(s);
        }
        TFilterKernel k = base;
        k.Divisor = d;
        CheckSums(k, sums, digits, "wide");
        if (HasFatalFailure() || HasFailure())
            return;
    }
}
