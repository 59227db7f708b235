#pragma once
// Literal implementations of the three resampling rules, written operation by operation in
// long double (the x87 extended format, 64-bit mantissa) with an explicit float or double cast
// wherever a value is stored as single or double. No tables, no shortcuts: the production code
// is proved equal to these byte for byte.
//
// Readings where the rules leave a choice:
// - "(x / newW) * W": the quotient first, then the product, both rounded to extended.
// - Round is round half to even (nearbyint in the default rounding mode).
// - Bilinear: "(1 - ax) * P00 + ax * P01" is evaluated left to right in extended; 1 - ax too.
//   The final value is rounded from extended, never stored.
// - Integral: W * H is an integer product; area = W * H / newW / newH divides left to right.
//   The constant 0.000001 is an extended constant (not a single-precision one): (y + 1) * sy
//   is formed in extended, 0.000001 subtracted in extended, then the value is stored as float.
//   The weight comparisons (i > y0, i + 1 < y1) are exact. Each step is
//   sum = (double)(sum + (wx * wy) * byte): the product of the two stored doubles is formed in
//   extended, multiplied by the byte in extended, added to the double sum in extended, and the
//   sum stored as double. Samples are visited rows outer, columns inner, both ascending. The
//   result is Round(sum / area) in extended, with area the stored float.
// - Bilinear and integral results are clamped into 0..255 after rounding (a value outside
//   would otherwise wrap when stored as a byte).

#include "platform/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace nolvi2::test {

// A picture of random row bytes (the fourth byte of 32-bit pixels too; in 1- and 4-bit rows
// the bits beyond the last pixel stay 0). With a small top value (say 3) neighbouring bytes
// often differ by one, which makes exact halves and other rounding ties common.
inline std::unique_ptr<TBitmap> RandomPicture(TPixelFormat pf, int32_t w, int32_t h, uint32_t seed,
                                              unsigned top = 255)
{
    auto b = std::make_unique<TBitmap>(w, h, pf);
    std::mt19937 rng(seed);
    const int bits = BitsPerPixel(pf);
    const int unused = bits < 8 ? int(b->RowBytes() * 8 - std::size_t(w) * std::size_t(bits)) : 0;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (std::size_t i = 0; i < b->RowBytes(); ++i)
            row[i] = uint8_t(rng() % (top + 1));
        if (unused > 0)
            row[b->RowBytes() - 1] &= uint8_t(0xFF << unused);
    }
    return b;
}

}  // namespace nolvi2::test

namespace nolvi2::test::ref {

inline uint8_t ToByte(long double v)
{
    return uint8_t(std::clamp<long double>(std::nearbyint(v), 0, 255));
}

// Pixel access written from the bitmap model's row layout, not from the production helpers:
// in a 1-bit row pixel x is bit 7 - x mod 8 of byte x div 8 (bit 7 the most significant); in
// a 4-bit row it is the high half of byte x div 2 when x is even and its low half when x is
// odd; an 8-bit pixel is one byte, a 15- or 16-bit pixel the little-endian 16-bit value of two
// bytes, and 24- and 32-bit pixels are 3 or 4 channel bytes.
inline unsigned PixelValue(const uint8_t* row, int32_t x, int bits)
{
    switch (bits) {
    case 1: return (row[x / 8] / (1u << (7 - x % 8))) % 2;
    case 4: return x % 2 == 0 ? row[x / 2] / 16u : row[x / 2] % 16u;
    case 8: return row[x];
    default: return row[2 * x] + 256u * row[2 * x + 1];  // 15 and 16 bits
    }
}

// Sets pixel x of a row (as PixelValue reads it) to v; the other pixels stay.
inline void SetPixelValue(uint8_t* row, int32_t x, int bits, unsigned v)
{
    switch (bits) {
    case 1: {
        const unsigned weight = 1u << (7 - x % 8);
        const unsigned old = (row[x / 8] / weight) % 2;
        row[x / 8] = uint8_t(row[x / 8] - old * weight + v * weight);
        break;
    }
    case 4:
        row[x / 2] = x % 2 == 0 ? uint8_t(v * 16 + row[x / 2] % 16) : uint8_t(row[x / 2] / 16 * 16 + v);
        break;
    case 8: row[x] = uint8_t(v); break;
    default:
        row[2 * x] = uint8_t(v % 256);
        row[2 * x + 1] = uint8_t(v / 256);
        break;
    }
}

inline std::unique_ptr<TBitmap> NewResult(const TBitmap& source, int32_t w, int32_t h)
{
    auto r = std::make_unique<TBitmap>();
    r->SetPixelFormat(source.PixelFormat());
    r->SetPalette(source.Palette());
    r->SetSize(w, h);
    return r;
}

inline int BytesPerPixel(const TBitmap& b) { return b.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3; }

inline std::unique_ptr<TBitmap> Nearest(const TBitmap& src, int32_t nw, int32_t nh)
{
    const int32_t W = src.Width(), H = src.Height();
    auto dst = NewResult(src, nw, nh);
    const int bits = BitsPerPixel(src.PixelFormat());
    for (int32_t y = 0; y < nh; ++y)
        for (int32_t x = 0; x < nw; ++x) {
            long double fx = std::nearbyint(static_cast<long double>(x) / nw * W);
            long double fy = std::nearbyint(static_cast<long double>(y) / nh * H);
            int32_t sx = fx < 0 ? 0 : int32_t(fx);
            int32_t sy = fy < 0 ? 0 : int32_t(fy);
            if (sx >= W)
                sx = W - 1;
            if (sy >= H)
                sy = H - 1;
            if (bits <= 16) {
                SetPixelValue(dst->ScanLine(y), x, bits, PixelValue(src.ScanLine(sy), sx, bits));
            } else {
                const int channels = bits / 8;
                for (int c = 0; c < channels; ++c)
                    dst->ScanLine(y)[x * channels + c] = src.ScanLine(sy)[sx * channels + c];
            }
        }
    return dst;
}

inline std::unique_ptr<TBitmap> Bilinear(const TBitmap& src, int32_t nw, int32_t nh)
{
    const int32_t W = src.Width(), H = src.Height();
    const int bpp = BytesPerPixel(src);
    auto dst = NewResult(src, nw, nh);
    for (int32_t y = 0; y < nh; ++y)
        for (int32_t x = 0; x < nw; ++x) {
            const float fx = float(static_cast<long double>(x) / nw * W);
            const float fy = float(static_cast<long double>(y) / nh * H);
            const int32_t ix = int32_t(std::trunc(fx));
            const int32_t iy = int32_t(std::trunc(fy));
            const float ax = float(static_cast<long double>(fx) - ix);
            const float ay = float(static_cast<long double>(fy) - iy);
            const int32_t ix1 = ix + 1 == W ? ix : ix + 1;
            const int32_t iy1 = iy + 1 == H ? iy : iy + 1;
            const uint8_t* p00 = src.ScanLine(iy) + ix * bpp;
            const uint8_t* p01 = src.ScanLine(iy) + ix1 * bpp;
            const uint8_t* p10 = src.ScanLine(iy1) + ix * bpp;
            const uint8_t* p11 = src.ScanLine(iy1) + ix1 * bpp;
            for (int c = 0; c < bpp; ++c) {
                const float top = float((1.0L - ax) * p00[c] + static_cast<long double>(ax) * p01[c]);
                const float bottom = float((1.0L - ax) * p10[c] + static_cast<long double>(ax) * p11[c]);
                const long double v = (1.0L - ay) * top + static_cast<long double>(ay) * bottom;
                dst->ScanLine(y)[x * bpp + c] = ToByte(v);
            }
        }
    return dst;
}

// The weight of source index i for a footprint [p0, p1], stored as double.
inline double IntegralWeight(int32_t i, float p0, float p1)
{
    const long double e = i;
    if (e > p0 && e + 1 < p1)
        return 1;
    if (e <= p0 && e + 1 < p1)
        return double(1.0L - (static_cast<long double>(p0) - e));
    if (e > p0 && e + 1 >= p1)
        return double(static_cast<long double>(p1) - e);
    return double(static_cast<long double>(p1) - p0);
}

inline std::unique_ptr<TBitmap> Integral(const TBitmap& src, int32_t nw, int32_t nh)
{
    const int32_t W = src.Width(), H = src.Height();
    const int bpp = BytesPerPixel(src);
    auto dst = NewResult(src, nw, nh);
    const float area = float(static_cast<long double>(W * H) / nw / nh);
    const float sx = float(static_cast<long double>(W) / nw);
    const float sy = float(static_cast<long double>(H) / nh);
    for (int32_t y = 0; y < nh; ++y) {
        const float y0 = float(y * static_cast<long double>(sy));
        const float y1 = float((y + 1) * static_cast<long double>(sy) - 0.000001L);
        for (int32_t x = 0; x < nw; ++x) {
            const float x0 = float(x * static_cast<long double>(sx));
            const float x1 = float((x + 1) * static_cast<long double>(sx) - 0.000001L);
            double sum[4] = {0, 0, 0, 0};
            for (int32_t i = int32_t(std::floor(y0)); i <= int32_t(std::floor(y1)); ++i) {
                const double wy = IntegralWeight(i, y0, y1);
                const uint8_t* row = src.ScanLine(i >= H ? H - 1 : i);
                for (int32_t c = int32_t(std::floor(x0)); c <= int32_t(std::floor(x1)); ++c) {
                    const double wx = IntegralWeight(c, x0, x1);
                    const uint8_t* p = row + (c >= W ? W - 1 : c) * bpp;
                    for (int k = 0; k < bpp; ++k)
                        sum[k] = double(sum[k] + static_cast<long double>(wx) * wy * p[k]);
                }
            }
            for (int k = 0; k < bpp; ++k)
                dst->ScanLine(y)[x * bpp + k] = ToByte(static_cast<long double>(sum[k]) / area);
        }
    }
    return dst;
}

}  // namespace nolvi2::test::ref
