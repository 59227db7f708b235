// The resampling functions against the literal formulas of ResizeReference.h, byte for byte:
// every combination of small sizes, every width (and height) pair up to 40, large and extreme
// sizes, and a table of cases where the storage width of an intermediate decides the byte.
#include "image/OZBLibResize.h"
#include "image/ResizeArithmetic.h"

#include "ResizeReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace nolvi2;
using nolvi2::test::RandomPicture;

namespace {

struct Algorithm {
    const char* name;
    std::function<std::unique_ptr<TBitmap>(TBitmap&, int32_t, int32_t)> production;
    std::function<std::unique_ptr<TBitmap>(const TBitmap&, int32_t, int32_t)> reference;
};

const std::vector<Algorithm>& Algorithms()
{
    static const std::vector<Algorithm> algorithms = {
        {"nearest", [](TBitmap& b, int32_t w, int32_t h) { return ResizeNearest(b, w, h, 128, false); },
         test::ref::Nearest},
        {"bilinear", [](TBitmap& b, int32_t w, int32_t h) { return ResizeBilinear(b, w, h, 128, false); },
         test::ref::Bilinear},
        {"integral", [](TBitmap& b, int32_t w, int32_t h) { return ResizeIntegral(b, w, h, 128, false); },
         test::ref::Integral},
    };
    return algorithms;
}

// Equal format, size, palette and row bytes; otherwise the first differing byte.
testing::AssertionResult SameAsReference(const Algorithm& a, TBitmap& src, int32_t w, int32_t h)
{
    const auto got = a.production(src, w, h);
    const auto want = a.reference(src, w, h);
    const std::string what = std::string(a.name) + " " + std::to_string(BitsPerPixel(src.PixelFormat())) +
                             "-bit " + std::to_string(src.Width()) + "x" + std::to_string(src.Height()) +
                             " -> " + std::to_string(w) + "x" + std::to_string(h);
    if (got->Width() != w || got->Height() != h || got->PixelFormat() != src.PixelFormat())
        return testing::AssertionFailure() << what << ": wrong size or format";
    if (got->Palette() != src.Palette())
        return testing::AssertionFailure() << what << ": palette differs";
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < want->RowBytes(); ++i)
            if (got->ScanLine(y)[i] != want->ScanLine(y)[i])
                return testing::AssertionFailure() << what << ": row " << y << " byte " << i << " is "
                                                   << int(got->ScanLine(y)[i]) << ", literal formula "
                                                   << int(want->ScanLine(y)[i]);
    return testing::AssertionSuccess();
}

// Every other picture uses the bytes 0..3 only, which makes exact halves common.
unsigned TopFor(uint32_t seed) { return seed % 2 ? 3 : 255; }

#ifdef NDEBUG
constexpr int32_t kAllSizes = 12;   // every source and target width and height in 1..12
constexpr int32_t kAxisSizes = 40;  // every width pair (and height pair) in 1..40
#else
constexpr int32_t kAllSizes = 8;
constexpr int32_t kAxisSizes = 40;
#endif

}  // namespace

// All four sizes run over 1..kAllSizes, for each algorithm in 24 and 32 bits.
TEST(ResizeExact, EverySmallSize)
{
    for (const Algorithm& a : Algorithms())
        for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit})
            for (int32_t w = 1; w <= kAllSizes; ++w)
                for (int32_t h = 1; h <= kAllSizes; ++h) {
                    const uint32_t seed = uint32_t(w * 131 + h);
                    auto src = RandomPicture(pf, w, h, seed, TopFor(seed));
                    for (int32_t nw = 1; nw <= kAllSizes; ++nw)
                        for (int32_t nh = 1; nh <= kAllSizes; ++nh)
                            ASSERT_TRUE(SameAsReference(a, *src, nw, nh));
                }
}

// Every width pair in 1..kAxisSizes with a few height pairs, and the same for heights: every
// column and row table of that range, each with its own picture.
TEST(ResizeExact, EveryWidthAndHeightPair)
{
    const std::pair<int32_t, int32_t> others[] = {{1, 1}, {2, 5}, {5, 2}, {7, 7}};
    for (const Algorithm& a : Algorithms())
        for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit})
            for (int32_t n = 1; n <= kAxisSizes; ++n)
                for (int32_t nn = 1; nn <= kAxisSizes; ++nn)
                    for (const auto& [m, nm] : others) {
                        const uint32_t seed = uint32_t(n * 1000 + nn * 10 + m);
                        auto wide = RandomPicture(pf, n, m, seed, TopFor(seed));
                        ASSERT_TRUE(SameAsReference(a, *wide, nn, nm));
                        auto tall = RandomPicture(pf, m, n, seed + 1, TopFor(seed + 1));
                        ASSERT_TRUE(SameAsReference(a, *tall, nm, nn));
                    }
}

// Nearest neighbour in 1, 4 and 8 bits: every width pair with a few heights (the packed
// paths assemble whole bytes and keep the bits beyond the last pixel).
TEST(ResizeExact, NearestPackedFormats)
{
    const Algorithm& nearest = Algorithms()[0];
    for (const TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit})
        for (int32_t n = 1; n <= kAxisSizes; ++n)
            for (int32_t nn = 1; nn <= kAxisSizes; ++nn)
                for (const auto& [m, nm] : {std::pair{1, 1}, {3, 5}, {6, 2}}) {
                    auto wide = RandomPicture(pf, n, m, uint32_t(n * 100 + nn));
                    ASSERT_TRUE(SameAsReference(nearest, *wide, nn, nm));
                    auto tall = RandomPicture(pf, m, n, uint32_t(n * 100 + nn + 7));
                    ASSERT_TRUE(SameAsReference(nearest, *tall, nm, nn));
                }
}

// Large and extreme sizes, where float steps grow coarse: at 65535 a float step is 2^-8, the
// position x * W / newW can store as a whole or half number, and 0.000001 vanishes from the
// footprint ends.
TEST(ResizeExact, LargeSizes)
{
    struct Case {
        int32_t w, h, newW, newH;
    };
    const Case cases[] = {
        {6000, 3, 3000, 2},  {6000, 3, 2999, 5},  {4000, 2, 6001, 3},  {7, 7, 13, 13},
        {3, 6000, 2, 3000},  {5, 6000, 3, 2999},  {2, 4000, 3, 6001},  {13, 13, 7, 7},
        {640, 48, 333, 25},  {300, 20, 611, 41},  {65535, 1, 65534, 1}, {1, 65535, 1, 65534},
        {40000, 1, 39999, 2}, {1, 1, 65535, 1},   {65535, 1, 1, 1},     {2, 1, 65535, 2},
        {65535, 2, 3, 1},    {1000, 2, 1000, 5},
    };
    for (const Algorithm& a : Algorithms())
        for (const TPixelFormat pf : {TPixelFormat::pf24bit, TPixelFormat::pf32bit})
            for (const Case& c : cases)
                for (const uint32_t seed : {1u, 2u}) {
                    auto src = RandomPicture(pf, c.w, c.h, seed, TopFor(seed));
                    ASSERT_TRUE(SameAsReference(a, *src, c.newW, c.newH));
                }
    for (const TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit})
        for (const Case& c : cases) {
            auto src = RandomPicture(pf, c.w, c.h, 3);
            ASSERT_TRUE(SameAsReference(Algorithms()[0], *src, c.newW, c.newH));
        }
}

// Cases where the storage width decides the byte: computed with exact arithmetic, in double,
// or with an intermediate kept in extended instead of stored, each gives another byte. The
// source is one row of blue bytes, 0 except where given, and the same turned into a column.
// Nearest and integral treat both directions alike. Bilinear does not: across a column the
// blend of two rows is rounded straight from extended, never stored as single, so the cases
// where the stored top decides come out as in extended.
TEST(ResizeExact, TellingCases)
{
    struct Case {
        const char* why;
        uint8_t algorithm;
        int32_t w, newW, x;                    // source width, result width, result column
        std::vector<std::pair<int, int>> set;  // (column, blue byte)
        int expected;      // in a row
        int expectedRows;  // in a column
    };
    std::vector<std::pair<int, int>> ramp;  // blue = column number
    for (int i = 0; i < 22; ++i)
        ramp.push_back({i, i});
    const Case cases[] = {
        // 15 / 22 * 11 is 7.5 exactly in extended, a half, which goes to the even 8; the same
        // in double comes out a little below, 7.
        {"nearest: extended keeps the half", raNearest, 11, 22, 15, ramp, 8, 8},
        // 5 / 14 * 21 is 7.5 exactly, but 5 / 14 rounds down in extended and the product lands
        // just below the half: 7, where exact arithmetic gives 8.
        {"nearest: extended misses the half", raNearest, 21, 14, 5, ramp, 7, 7},
        // fx = 1 / 12 * 2 stores as a float a little above 1/6; 3 * ax stored as single is
        // exactly 0.5, which goes to 0. Kept in extended, top is above the half: 1.
        {"bilinear: top stored as single lands on a half", raBilinear, 2, 12, 1, {{0, 0}, {1, 3}}, 0, 1},
        // fx = 5 / 6: top = 1 + 3 * ax stores as exactly 3.5, which goes to 4; in extended, 3.
        {"bilinear: top stored as single, half to even", raBilinear, 2, 12, 5, {{0, 1}, {1, 4}}, 4, 3},
        // fx = 35 / 42 * 41 stored as single; top = 100 + 3 * ax stores as 100.5 exactly and
        // goes to 100, where double arithmetic throughout gives 101.
        {"bilinear: single-precision position", raBilinear, 41, 42, 35, {{34, 100}, {35, 103}}, 100, 101},
        // The sum 0.565217... stored as single would be exactly half the area (0.5 goes to 0);
        // stored as double it is a little more: 1.
        {"integral: a single-precision sum would be a half", raIntegral, 52, 46, 11, {{12, 1}}, 1, 1},
        // Footprint ends stored as single give weights whose mean is 0.4999993: 0. The ends
        // kept in extended give 1.
        {"integral: footprint stored as single", raIntegral, 36, 29, 14, {{17, 1}}, 0, 0},
        // Double arithmetic throughout gives 0 for these two, the literal rules 0.5000005 and
        // 0.50000003: 1.
        {"integral: literal against double (1)", raIntegral, 30, 29, 14, {{14, 1}}, 1, 1},
        {"integral: literal against double (2)", raIntegral, 42, 27, 22, {{34, 1}}, 1, 1},
    };
    for (const Case& c : cases)
        for (const bool transposed : {false, true}) {
            TBitmap src(transposed ? 1 : c.w, transposed ? c.w : 1, TPixelFormat::pf24bit);
            for (const auto& [i, v] : c.set)
                if (i < c.w)
                    (transposed ? src.ScanLine(i) : src.ScanLine(0) + 3 * i)[0] = uint8_t(v);
            const int32_t nw = transposed ? 1 : c.newW, nh = transposed ? c.newW : 1;
            auto r = ResizeBitmap(src, nw, nh, 128, false, c.algorithm);
            const uint8_t got = transposed ? r->ScanLine(c.x)[0] : r->ScanLine(0)[3 * c.x];
            EXPECT_EQ(got, transposed ? c.expectedRows : c.expected) << c.why << (transposed ? " (rows)" : "");
            const Algorithm& a = Algorithms()[c.algorithm - 1];
            EXPECT_TRUE(SameAsReference(a, src, nw, nh)) << c.why;
        }
}

// Integral reductions of pictures of millions of pixels to a few, where every channel sum
// passes 2^24 (and stays far below 2^53): the sums keep every addition, to the last bit of a
// double. Odd ratios give weights with many bits, so that sums are rounded along the way;
// pictures of bytes 0..3 give ties in the last rounding.
TEST(ResizeExact, IntegralLargeReductions)
{
    struct Case {
        int32_t w, h, newW, newH;
    };
    const Case cases[] = {
        {3000, 3000, 1, 1}, {3000, 3000, 7, 7},    {2999, 3001, 3, 11}, {4097, 1023, 13, 2},
        {1023, 4097, 2, 13}, {6007, 997, 9, 1},    {1500, 1499, 23, 29},
    };
    // 24 and 32 bits by turns (the pictures are large, the reference is slow).
    const Algorithm& integral = Algorithms()[2];
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const TPixelFormat pf = i % 2 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
        const uint32_t seed = uint32_t(c.w * 7 + c.newW);
        auto src = RandomPicture(pf, c.w, c.h, seed, TopFor(seed));
        ASSERT_TRUE(SameAsReference(integral, *src, c.newW, c.newH));
    }
}

// The two integral steps against their literal formulas, on inputs that pictures rarely or
// never give: adding a sample, with weights of every bit count (products exact in double or
// not) and sums placed so that the exact sum lies near a point halfway between two doubles, or
// just below a power of two; and Round(sum / area), with sums on and a few steps around
// (k +- 1/2) * area. Every sum must come out to the last bit, every byte the same.
TEST(ResizeExact, IntegralStepsEqualTheirLiteralFormulas)
{
    std::mt19937_64 rng(2024);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    // A random double in [2^lo, 2^hi) with at most `bits` significant bits.
    auto withBits = [&](int lo, int hi, int bits) {
        const double v = std::ldexp(uniform(1, 2), int(rng() % unsigned(hi - lo)) + lo);
        int e = 0;
        std::frexp(v, &e);
        const double step = std::ldexp(1.0, e - bits);
        return std::max(step, std::floor(v / step) * step);
    };
    auto ulp = [](double v) { return std::nextafter(v, INFINITY) - v; };

    struct Step {
        double sum[4];
        double wx, wy;
        uint8_t bytes[4];
    };
    std::vector<Step> steps;
    for (int n = 0; n < 200000; ++n) {
        Step st{};
        const int kind = n % 4;
        for (uint8_t& b : st.bytes)
            b = uint8_t(rng() % 4 == 0 ? 1 : rng() % 256);
        if (kind == 0) {
            // Weights of any bit count, sums of any size.
            st.wx = withBits(-20, 0, 1 + int(rng() % 53));
            st.wy = withBits(-20, 0, 1 + int(rng() % 53));
            for (double& s : st.sum)
                s = rng() % 8 == 0 ? 0.0 : withBits(-10, 40, 1 + int(rng() % 53));
        } else {
            // Half a step of the sum plus or minus a little: t = wx * byte with wy = 1.
            st.wy = 1;
            for (uint8_t& b : st.bytes)
                b = 1;
            const double s = kind == 3 ? std::ldexp(1.0, int(rng() % 40)) * (1 - std::ldexp(double(rng() % 4), -53))
                                       : withBits(0, 40, 53);
            const double half = (kind == 3 ? std::ldexp(ulp(s), -1) : ulp(s)) / 2;
            const int shift = 8 + int(rng() % 30);
            st.wx = half + std::ldexp(double(int64_t(rng() % 17) - 8), -shift) * half;
            for (double& sum : st.sum)
                sum = s;
        }
        steps.push_back(st);
    }
    for (const Step& st : steps)
        for (const int bpp : {3, 4}) {
            double got[4], want[4];
            uint32_t packed = 0;
            for (int k = 0; k < bpp; ++k)
                packed |= uint32_t(st.bytes[k]) << (8 * k);
            for (int k = 0; k < 4; ++k)
                got[k] = want[k] = st.sum[k];
            const bool exact = resize::SignificantBits(st.wx) + resize::SignificantBits(st.wy) + 8 <= 53;
            if (bpp == 3)
                resize::IntegralAddSample<3>(got, packed, st.wx, st.wy, exact);
            else
                resize::IntegralAddSample<4>(got, packed, st.wx, st.wy, exact);
            for (int k = 0; k < bpp; ++k)
                want[k] = double(want[k] + static_cast<long double>(st.wx) * st.wy * st.bytes[k]);
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(std::bit_cast<uint64_t>(got[k]), std::bit_cast<uint64_t>(want[k]))
                    << std::hexfloat << "sum " << st.sum[k] << " + " << st.wx << " * " << st.wy << " * "
                    << int(st.bytes[k]) << " (" << bpp << " lanes): " << got[k] << ", literal " << want[k];
        }

    for (int n = 0; n < 200000; ++n) {
        const float area = float(std::ldexp(uniform(1, 2), int(rng() % 60) - 30));
        const double k = double(rng() % 257);
        double sum = n % 2 ? (k + 0.5) * area : uniform(0, 256) * area;
        for (int j = int(rng() % 7) - 3; j != 0; j += j > 0 ? -1 : 1)
            sum = std::nextafter(sum, j > 0 ? INFINITY : 0);
        const uint8_t want = uint8_t(std::clamp<long double>(std::nearbyint(static_cast<long double>(sum) / area), 0, 255));
        ASSERT_EQ(resize::IntegralResult(sum, area, 1.0 / area), want) << std::hexfloat << sum << " / " << area;
    }
}
