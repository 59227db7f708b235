#include "OZBLibResize.h"

#include "Progress.h"
#include "ResizeArithmetic.h"
#include "ResultBitmap.h"

#include "platform/Format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// Precision. The resampling rules are defined in extended precision (long double, a 64-bit
// mantissa) with some intermediates stored as float or double. Everything that depends only
// on a column or a row (sample indices, fractions, weights) is computed once per call with the
// literal formula into tables. The per-pixel arithmetic runs in double where that is provably
// the same, or where a cheap test shows that the double result cannot differ from the
// extended one; the rare values that fail the test are computed literally in long double.
// The tests compare every byte against a literal long double implementation.
//
// Readings where the rules leave a choice: "(x / newW) * W" is the quotient first, then the
// product; bilinear "(1 - ax) * P00 + ax * P01" is evaluated left to right in extended; the
// integral footprint ends subtract 0.000001 as an extended constant before the value is
// stored as float, and each step is sum = (double)(sum + (wx * wy) * byte) with the product of
// the two doubles formed in extended. The integral sums are doubles: a single-precision sum
// stops growing past 2^24, where a large reduction still has whole additions to make. Rounded
// bilinear and integral values are clamped into 0..255 (a value outside would otherwise wrap
// when stored as a byte). The shortcuts of the integral steps are in ResizeArithmetic.h.

namespace nolvi2 {

namespace {

constexpr const char* kMsgNearest = "サイズ変更（ニアレストネイバー法）";
constexpr const char* kMsgBilinear = "サイズ変更（バイリニア法）";
constexpr const char* kMsgIntegral = "サイズ変更（積分法）";

using resize::ClampToByte;
using resize::RoundHalfEven;

// The checks every own algorithm makes before its starting report: the format, then the
// size. A new size below 1 is refused, and so is an empty source (there is nothing to sample).
void CheckArguments(const TBitmap& source, std::initializer_list<TPixelFormat> formats, int32_t newWidth,
                    int32_t newHeight)
{
    CheckFormat(source, formats);
    if (newWidth < 1 || newHeight < 1)
        throw Exception(Format(kResizeBadSize, newWidth, newHeight));
    if (source.Width() < 1 || source.Height() < 1)
        throw Exception(kResizeEmptySource);
    CheckPictureSize(newWidth, newHeight);
}

std::vector<uint8_t*> ResultRows(TBitmap& result)
{
    std::vector<uint8_t*> rows(static_cast<std::size_t>(result.Height()));
    for (int32_t y = 0; y < result.Height(); ++y)
        rows[std::size_t(y)] = result.ScanLine(y);
    return rows;
}

// ---------------------------------------------------------------------------------------------
// Nearest neighbour

// Source index of every result index: Round(i / newCount * count) in extended precision,
// negative values to 0, values from count on to count - 1.
std::vector<int32_t> NearestIndices(int32_t newCount, int32_t count)
{
    std::vector<int32_t> idx(static_cast<std::size_t>(newCount));
    for (int32_t i = 0; i < newCount; ++i) {
        const long double r = std::nearbyint(static_cast<long double>(i) / newCount * count);
        idx[std::size_t(i)] = r < 0 ? 0 : r >= count ? count - 1 : int32_t(r);
    }
    return idx;
}

// 3-byte pixels: all but the last few move as 4-byte words (the fourth byte lands on the next
// pixel, which is written afterwards); a word is only read where it stays inside the source
// row bytes and only written where it stays inside the result row bytes.
void NearestRow24(uint8_t* dst, const uint8_t* src, const uint32_t* offsets, int32_t wordCount, int32_t width)
{
    int32_t x = 0;
    for (; x < wordCount; ++x) {
        uint32_t v;
        std::memcpy(&v, src + offsets[x], 4);
        std::memcpy(dst + 3 * std::size_t(x), &v, 4);
    }
    for (; x < width; ++x)
        std::memcpy(dst + 3 * std::size_t(x), src + offsets[x], 3);
}

void NearestRow32(uint8_t* dst, const uint8_t* src, const uint32_t* offsets, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        uint32_t v;
        std::memcpy(&v, src + offsets[x], 4);
        std::memcpy(dst + 4 * std::size_t(x), &v, 4);
    }
}

void NearestRow8(uint8_t* dst, const uint8_t* src, const uint32_t* offsets, int32_t width)
{
    for (int32_t x = 0; x < width; ++x)
        dst[x] = src[offsets[x]];
}

// 1- and 4-bit pixels: the packed values of a byte are gathered and the byte is written
// once; in the last, partial byte the bits beyond the row stay as they were.
void NearestRowPacked(uint8_t* dst, const uint8_t* src, const int32_t* columns, int32_t width, int bits)
{
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    int32_t x = 0;
    for (; x + perByte <= width; x += perByte) {
        unsigned b = 0;
        for (int k = 0; k < perByte; ++k)
            b = (b << bits) | ReadPackedPixel(src, columns[x + k], bits);
        *dst++ = uint8_t(b);
    }
    if (x < width) {
        unsigned b = 0, used = 0;
        for (int k = 0; x + k < width; ++k) {
            b = (b << bits) | ReadPackedPixel(src, columns[x + k], bits);
            used = (used << bits) | mask;
        }
        const int shift = (perByte - (width - x)) * bits;
        b <<= shift;
        used <<= shift;
        *dst = uint8_t((*dst & ~used) | b);
    }
}

// ---------------------------------------------------------------------------------------------
// Bilinear

// Per result column (or row): the two source indices and the interpolation weights.
// f = (i / newCount) * count stored as float, i0 = Trunc(f), a = Frac(f) stored as float; the
// second sample is i0 + 1, or i0 itself at the last source index.
struct TBilinearAxis {
    std::vector<int32_t> i0, i1;
    std::vector<float> a;

    TBilinearAxis(int32_t newCount, int32_t count)
        : i0(std::size_t(newCount)), i1(std::size_t(newCount)), a(std::size_t(newCount))
    {
        for (int32_t i = 0; i < newCount; ++i) {
            const float f = float(static_cast<long double>(i) / newCount * count);
            int32_t t = int32_t(f);
            const float frac = float(static_cast<long double>(f) - t);
            // f stays below count for every size the bitmap holds (count - f >= count / newCount
            // is far more than half a float step); the limit only guards the reads.
            t = std::min(t, count - 1);
            i0[std::size_t(i)] = t;
            i1[std::size_t(i)] = t + 1 < count ? t + 1 : t;
            a[std::size_t(i)] = frac;
        }
    }
};

// The literal final step: Round((1 - ay) * top + ay * bottom) in extended precision.
inline uint8_t BilinearFinalLiteral(float ay, float top, float bottom)
{
    const long double ey = ay;
    return ClampToByte(RoundHalfEven((1.0L - ey) * top + ey * bottom));
}

// One row interpolated horizontally: top = (float)((1 - ax) * P00 + ax * P01) for every byte.
// f is 0 or at least 1 / 65535, so ax has no bits below 2^-39; with 8-bit bytes the exact value
// needs at most 47 bits. It is formed exactly, as P00 + ax * (P01 - P00), in double as it is in
// extended, and the single rounding to float is the same.
template <int Bpp>
void BilinearHorizontal(float* out, const uint8_t* src, const uint32_t* off0, const uint32_t* off1,
                        const double* ax, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = src + off0[x];
        const uint8_t* q = src + off1[x];
        const double a = ax[x];
        for (int c = 0; c < Bpp; ++c)
            out[Bpp * x + c] = float(p[c] + a * (int32_t(q[c]) - int32_t(p[c])));
    }
}

// The vertical step in double: (1 - ay) * top + ay * bottom as top + ay * (bottom - top). The
// difference is exact (two floats below 256 with no bits below 2^-39), so only the product and
// the sum round: the value lies within 2^-44 of the exact one, and the extended value within
// 2^-56. Where bottom = top the value is top itself, exactly, in both widths.
inline double BilinearBlend(float top, float bottom, double ay)
{
    return double(top) + ay * (double(bottom) - double(top));
}

// Round can only tell the double and the extended value apart when they lie that close to a
// half. Values within 2^-30 of one are finished with the literal formula.
constexpr double kBilinearNear = 0.5 - 0x1p-30;

[[gnu::noinline]] void BilinearFixup(uint8_t* out, const float* top, const float* bottom, float ay, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const double v = BilinearBlend(top[i], bottom[i], ay);
        if (top[i] != bottom[i] && std::fabs(v - RoundHalfEven(v)) >= kBilinearNear)
            out[i] = BilinearFinalLiteral(ay, top[i], bottom[i]);
    }
}

// The vertical step for a row of n bytes, by blocks: a block is rounded in double while values
// near a half are counted, and a block with such values is handed to BilinearFixup. The loop
// vectorises; the AVX2 clone performs the same IEEE double operations (no contraction) as the
// baseline one.
[[gnu::target_clones("avx2", "default")]] void BilinearVertical(uint8_t* out, const float* top,
                                                                 const float* bottom, float ay, std::size_t n)
{
    constexpr std::size_t kBlock = 32;
    const double a = ay;
    for (std::size_t base = 0; base < n; base += kBlock) {
        const std::size_t m = std::min(kBlock, n - base);
        int64_t near = 0;
        for (std::size_t i = base; i < base + m; ++i) {
            const double t = top[i];
            const double d = double(bottom[i]) - t;
            const double v = t + a * d;  // BilinearBlend
            const double r = RoundHalfEven(v);
            out[i] = uint8_t(int32_t(std::clamp(r, 0.0, 255.0)));
            near += (d != 0.0) & (std::fabs(v - r) >= kBilinearNear) ? 1 : 0;
        }
        if (near)
            BilinearFixup(out + base, top + base, bottom + base, ay, m);
    }
}

// ---------------------------------------------------------------------------------------------
// Integral

// Per result column (or row): the source samples that its footprint covers, with their
// weights. p0 = i * s and p1 = (i + 1) * s - 0.000001 are stored as float (the constant is an
// extended one); the samples run from Floor(p0) to Floor(p1), an index from count on reads the
// last one, and each weight is stored as double. Samples of weight 0 are left out: they add
// exactly 0 to a sum.
struct TIntegralAxis {
    std::vector<uint32_t> first;  // newCount + 1 entries: samples of i are [first[i], first[i + 1])
    std::vector<int32_t> index;
    std::vector<double> weight;
    std::vector<uint32_t> bits;  // significant bits of the weight

    TIntegralAxis(int32_t newCount, int32_t count, float step) : first(std::size_t(newCount) + 1)
    {
        for (int32_t i = 0; i < newCount; ++i) {
            first[std::size_t(i)] = uint32_t(index.size());
            const float p0 = float(static_cast<long double>(i) * step);
            const float p1 = float(static_cast<long double>(i + 1) * step - 0.000001L);
            const int32_t last = int32_t(std::floor(p1));
            for (int32_t k = int32_t(std::floor(p0)); k <= last; ++k) {
                const double w = Weight(k, p0, p1);
                if (w == 0)
                    continue;
                index.push_back(std::min(k, count - 1));
                weight.push_back(w);
                bits.push_back(resize::SignificantBits(w));
            }
        }
        first[std::size_t(newCount)] = uint32_t(index.size());
    }

    static double Weight(int32_t k, float p0, float p1)
    {
        const long double ek = k, e0 = p0, e1 = p1;
        const bool after = ek > e0, inside = ek + 1 < e1;
        if (after && inside)
            return 1;
        if (inside)
            return double(1.0L - (e0 - ek));
        if (after)
            return double(e1 - ek);
        return double(e1 - e0);
    }
};

// The column samples laid out for a walk along a result row: sample 0 of every column, then
// sample 1 of every column that has one, and so on.
struct TIntegralColumns {
    struct TSample {
        uint32_t x;       // the result column
        uint32_t offset;  // byte offset of the source pixel
        double weight;
        uint32_t bits;    // significant bits of the weight
    };
    std::vector<std::vector<TSample>> layers;  // layers[j]: sample j of the columns that have one

    TIntegralColumns(const TIntegralAxis& axis, int32_t newCount, int bytesPerPixel)
    {
        for (int32_t x = 0; x < newCount; ++x) {
            const uint32_t first = axis.first[std::size_t(x)], last = axis.first[std::size_t(x) + 1];
            for (uint32_t c = first; c < last; ++c) {
                const std::size_t j = c - first;
                if (layers.size() <= j)
                    layers.emplace_back();
                layers[j].push_back({uint32_t(x), uint32_t(axis.index[c]) * uint32_t(bytesPerPixel), axis.weight[c],
                                     axis.bits[c]});
            }
        }
    }
};

// The results of a row from its sums (four per pixel), by the rule of resize::IntegralResult:
// a loop that vectorises rounds every sum by its candidate and counts the sums outside their
// candidate's bounds, which are then settled one by one. The AVX2 clone performs the same IEEE
// double operations as the baseline one.
[[gnu::target_clones("avx2", "default")]] void IntegralResults(uint8_t* __restrict out,
                                                                const double* __restrict sums, std::size_t n,
                                                                float area, double inverseArea)
{
    const double a = area;
    int64_t outside = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s = sums[i];
        const double k = RoundHalfEven(s * inverseArea);
        const double lo = (k - 0.5) * a, hi = (k + 0.5) * a;
        outside += (s < lo ? 1 : 0) + (s > hi ? 1 : 0);
        const double half = (s == hi ? 0.5 : 0.0) - (s == lo ? 0.5 : 0.0);
        out[i] = uint8_t(int32_t(std::clamp(RoundHalfEven(k + half), 0.0, 255.0)));
    }
    if (outside)
        for (std::size_t i = 0; i < n; ++i)
            out[i] = resize::IntegralResult(sums[i], area, inverseArea);
}

// One step for every result pixel of a row: the source row sample (row, wy) is added to the
// channel sums of each result pixel, column sample by column sample (resize::IntegralAddSample,
// exact to the literal step). As the row samples are the outer loop and the column samples the
// next, every pixel still sees its samples rows outer, columns inner. Along the row the pixels
// are independent, so their chains of steps overlap. The AVX2 clone performs the same IEEE
// operations lane by lane as the baseline one.
template <int Bpp>
[[gnu::always_inline]] inline void IntegralRowStepBody(double* sums, const uint8_t* row, std::size_t rowBytes,
                                                       double wy, uint32_t rowBits, const TIntegralColumns& cols)
{
    for (const std::vector<TIntegralColumns::TSample>& layer : cols.layers)
        for (const TIntegralColumns::TSample& sample : layer) {
            const uint8_t* p = row + sample.offset;
            uint32_t packed = 0;
            if (Bpp == 4 || sample.offset + 4 <= rowBytes)
                std::memcpy(&packed, p, 4);
            else
                std::memcpy(&packed, p, 3);
            if (Bpp == 3)
                packed &= 0x00FFFFFFu;
            resize::IntegralAddSample<Bpp>(sums + 4 * std::size_t(sample.x), packed, sample.weight, wy,
                                           sample.bits + rowBits + 8 <= 53);
        }
}

[[gnu::target_clones("avx2", "default")]] void IntegralRowStep3(double* sums, const uint8_t* row,
                                                                 std::size_t rowBytes, double wy, uint32_t rowBits,
                                                                 const TIntegralColumns& cols)
{
    IntegralRowStepBody<3>(sums, row, rowBytes, wy, rowBits, cols);
}

[[gnu::target_clones("avx2", "default")]] void IntegralRowStep4(double* sums, const uint8_t* row,
                                                                 std::size_t rowBytes, double wy, uint32_t rowBits,
                                                                 const TIntegralColumns& cols)
{
    IntegralRowStepBody<4>(sums, row, rowBytes, wy, rowBits, cols);
}

}  // namespace

std::unique_ptr<TBitmap> ResizeBitmap(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                      bool reportProgress, uint8_t algorithm)
{
    if (newWidth == source.Width() && newHeight == source.Height()) {
        auto copy = std::make_unique<TBitmap>();
        copy->Assign(source);
        return copy;
    }
    switch (algorithm) {
    case raStretchDraw: return ResizeStretchDraw(source, newWidth, newHeight);
    case raNearest: return ResizeNearest(source, newWidth, newHeight, interval, reportProgress);
    case raBilinear: return ResizeBilinear(source, newWidth, newHeight, interval, reportProgress);
    case raIntegral: return ResizeIntegral(source, newWidth, newHeight, interval, reportProgress);
    default: return nullptr;
    }
}

std::unique_ptr<TBitmap> ResizeStretchDraw(TBitmap& source, int32_t newWidth, int32_t newHeight)
{
    try {
        const int32_t w = source.Width(), h = source.Height();
        if (newWidth < 1 || newHeight < 1 || w < 1 || h < 1)
            return nullptr;
        auto result = CreateResult(source, newWidth, newHeight);
        // Each result pixel takes the source pixel under its centre: (2i + 1) * n / (2 * newN).
        std::vector<int32_t> cols(static_cast<std::size_t>(newWidth), 0);
        for (int32_t x = 0; x < newWidth; ++x)
            cols[std::size_t(x)] = int32_t((2 * int64_t(x) + 1) * w / (2 * int64_t(newWidth)));
        const int bits = BitsPerPixel(source.PixelFormat());
        const std::size_t bytes = std::size_t(bits / 8);
        for (int32_t y = 0; y < newHeight; ++y) {
            const int32_t sy = int32_t((2 * int64_t(y) + 1) * h / (2 * int64_t(newHeight)));
            const uint8_t* src = source.ScanLine(sy);
            uint8_t* dst = result->ScanLine(y);
            for (int32_t x = 0; x < newWidth; ++x) {
                const int32_t sx = cols[std::size_t(x)];
                if (bits < 8)
                    WritePackedPixel(dst, x, bits, ReadPackedPixel(src, sx, bits));
                else
                    std::memcpy(dst + bytes * std::size_t(x), src + bytes * std::size_t(sx), bytes);
            }
        }
        return result;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<TBitmap> ResizeNearest(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                       bool reportProgress)
{
    CheckArguments(source, kMovableFormats, newWidth, newHeight);
    const TPixelFormat pf = source.PixelFormat();
    const int32_t w = source.Width(), h = source.Height();
    TProgressReporter progress(source, reportProgress, kMsgNearest, newHeight, interval);
    progress.Start();

    auto result = CreateResult(source, newWidth, newHeight);
    const std::vector<const uint8_t*> srcRows = SourceRowTable(source);
    const std::vector<uint8_t*> dstRows = ResultRows(*result);
    const std::vector<int32_t> cols = NearestIndices(newWidth, w);
    const std::vector<int32_t> rows = NearestIndices(newHeight, h);

    const int bits = BitsPerPixel(pf);
    const uint32_t bytes = uint32_t(bits / 8);
    std::vector<uint32_t> offsets(static_cast<std::size_t>(newWidth));
    int32_t wordCount = 0;  // 24-bit: columns that move as 4-byte words
    if (bits >= 8) {
        for (int32_t x = 0; x < newWidth; ++x)
            offsets[std::size_t(x)] = uint32_t(cols[std::size_t(x)]) * bytes;
        // The source columns never decrease, so the word-safe columns are a prefix.
        while (wordCount < newWidth - 1 && cols[std::size_t(wordCount)] < w - 1)
            ++wordCount;
    }
    const std::size_t rowBytes = result->RowBytes();

    for (int32_t y = 0; y < newHeight; ++y) {
        uint8_t* dst = dstRows[std::size_t(y)];
        if (y > 0 && rows[std::size_t(y)] == rows[std::size_t(y) - 1]) {
            // The same source row as the row above gives the same pixels.
            std::memcpy(dst, dstRows[std::size_t(y) - 1], rowBytes);
        } else {
            const uint8_t* src = srcRows[std::size_t(rows[std::size_t(y)])];
            switch (bits) {
            case 1:
            case 4: NearestRowPacked(dst, src, cols.data(), newWidth, bits); break;
            case 8: NearestRow8(dst, src, offsets.data(), newWidth); break;
            case 24: NearestRow24(dst, src, offsets.data(), wordCount, newWidth); break;
            default: NearestRow32(dst, src, offsets.data(), newWidth); break;
            }
        }
        progress.RowDone(y);
    }
    progress.End();
    return result;
}

std::unique_ptr<TBitmap> ResizeBilinear(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                        bool reportProgress)
{
    CheckArguments(source, {TPixelFormat::pf24bit, TPixelFormat::pf32bit}, newWidth, newHeight);
    const int32_t w = source.Width(), h = source.Height();
    const int bpp = source.PixelFormat() == TPixelFormat::pf24bit ? 3 : 4;
    TProgressReporter progress(source, reportProgress, kMsgBilinear, newHeight, interval);
    progress.Start();

    auto result = CreateResult(source, newWidth, newHeight);
    const std::vector<const uint8_t*> srcRows = SourceRowTable(source);
    const std::vector<uint8_t*> dstRows = ResultRows(*result);
    const TBilinearAxis cols(newWidth, w);
    const TBilinearAxis rows(newHeight, h);

    std::vector<uint32_t> off0(static_cast<std::size_t>(newWidth)), off1(static_cast<std::size_t>(newWidth));
    std::vector<double> ax(static_cast<std::size_t>(newWidth));
    for (std::size_t x = 0; x < std::size_t(newWidth); ++x) {
        off0[x] = uint32_t(cols.i0[x]) * uint32_t(bpp);
        off1[x] = uint32_t(cols.i1[x]) * uint32_t(bpp);
        ax[x] = cols.a[x];
    }

    // The horizontally interpolated source rows; each source row is interpolated once while
    // consecutive result rows share it.
    const std::size_t n = std::size_t(newWidth) * std::size_t(bpp);
    std::vector<float> bufA(n), bufB(n);
    float* top = bufA.data();
    float* bottom = bufB.data();
    int32_t topRow = -1, bottomRow = -1;
    auto interpolate = [&](float* out, int32_t sy) {
        if (bpp == 3)
            BilinearHorizontal<3>(out, srcRows[std::size_t(sy)], off0.data(), off1.data(), ax.data(), newWidth);
        else
            BilinearHorizontal<4>(out, srcRows[std::size_t(sy)], off0.data(), off1.data(), ax.data(), newWidth);
    };

    for (int32_t y = 0; y < newHeight; ++y) {
        const int32_t r0 = rows.i0[std::size_t(y)], r1 = rows.i1[std::size_t(y)];
        const float ay = rows.a[std::size_t(y)];
        if (topRow != r0) {
            if (bottomRow == r0) {
                std::swap(top, bottom);
                std::swap(topRow, bottomRow);
            } else {
                interpolate(top, r0);
                topRow = r0;
            }
        }
        // With ay = 0 the bottom row is multiplied by 0 and adds exactly nothing.
        const float* lower = top;
        if (ay != 0 && r1 != r0) {
            if (bottomRow != r1) {
                interpolate(bottom, r1);
                bottomRow = r1;
            }
            lower = bottom;
        }
        BilinearVertical(dstRows[std::size_t(y)], top, lower, ay, n);
        progress.RowDone(y);
    }
    progress.End();
    return result;
}

std::unique_ptr<TBitmap> ResizeIntegral(TBitmap& source, int32_t newWidth, int32_t newHeight, int32_t interval,
                                        bool reportProgress)
{
    CheckArguments(source, {TPixelFormat::pf24bit, TPixelFormat::pf32bit}, newWidth, newHeight);
    const int32_t w = source.Width(), h = source.Height();
    const int bpp = source.PixelFormat() == TPixelFormat::pf24bit ? 3 : 4;
    TProgressReporter progress(source, reportProgress, kMsgIntegral, newHeight, interval);
    progress.Start();

    auto result = CreateResult(source, newWidth, newHeight);
    const std::vector<const uint8_t*> srcRows = SourceRowTable(source);
    const std::vector<uint8_t*> dstRows = ResultRows(*result);

    // W * H is at most 2^28 and fits the 32-bit product.
    const float area = float(static_cast<long double>(w * h) / newWidth / newHeight);
    const float sx = float(static_cast<long double>(w) / newWidth);
    const float sy = float(static_cast<long double>(h) / newHeight);
    const double inverseArea = 1.0 / area;
    const TIntegralAxis cols(newWidth, w, sx);
    const TIntegralAxis rows(newHeight, h, sy);
    const TIntegralColumns columns(cols, newWidth, bpp);

    // The channel sums of one result row, four per pixel.
    std::vector<double> sums(std::size_t(newWidth) * 4);
    std::vector<uint8_t> bytes(sums.size());
    const std::size_t srcRowBytes = source.RowBytes();
    for (int32_t y = 0; y < newHeight; ++y) {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (uint32_t r = rows.first[std::size_t(y)]; r < rows.first[std::size_t(y) + 1]; ++r) {
            const uint8_t* row = srcRows[std::size_t(rows.index[r])];
            if (bpp == 3)
                IntegralRowStep3(sums.data(), row, srcRowBytes, rows.weight[r], rows.bits[r], columns);
            else
                IntegralRowStep4(sums.data(), row, srcRowBytes, rows.weight[r], rows.bits[r], columns);
        }
        uint8_t* dst = dstRows[std::size_t(y)];
        IntegralResults(bytes.data(), sums.data(), sums.size(), area, inverseArea);
        if (bpp == 4) {
            std::memcpy(dst, bytes.data(), bytes.size());
        } else {
            for (std::size_t x = 0; x < std::size_t(newWidth); ++x)
                std::memcpy(dst + 3 * x, bytes.data() + 4 * x, 3);
        }
        progress.RowDone(y);
    }
    progress.End();
    return result;
}

}  // namespace nolvi2
