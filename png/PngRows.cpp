#include "PngRows.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nolvi2 {

#if defined(__SSE2__)
namespace {

// Pixels of 3 or 4 bytes, one at a time in the low lanes of a register (16-bit lanes, so the
// Paeth distances need no widening). Loads may read one byte past a 3-byte pixel: row
// buffers carry 4 bytes of slack, and the last pixel is loaded with its exact size.
template <std::size_t Bpp>
inline __m128i LoadPixel(const uint8_t* p, bool exact)
{
    uint32_t v = 0;
    if (exact)
        std::memcpy(&v, p, Bpp);
    else
        std::memcpy(&v, p, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

template <std::size_t Bpp>
inline void StorePixel(uint8_t* p, __m128i v)
{
    const uint32_t packed = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    std::memcpy(p, &packed, Bpp);
}

inline __m128i Abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }
inline __m128i Select(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Sub, Average and Paeth against the previous pixel: a is the reconstructed left pixel,
// b the pixel above, c the one above-left.
template <std::size_t Bpp, uint8_t Filter>
void UnfilterPixels(uint8_t* row, const uint8_t* prev, std::size_t length)
{
    const __m128i mask = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (std::size_t i = 0; i + Bpp <= length; i += Bpp) {
        const bool exact = i + 4 > length;
        const __m128i x = LoadPixel<Bpp>(row + i, exact);
        const __m128i b = Filter == pfSub ? _mm_setzero_si128() : LoadPixel<Bpp>(prev + i, exact);
        __m128i d;
        if constexpr (Filter == pfSub) {
            d = _mm_add_epi16(x, a);
        } else if constexpr (Filter == pfAverage) {
            d = _mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1));
        } else {
            const __m128i pa = Abs16(_mm_sub_epi16(b, c));  // |p − a|
            const __m128i pb = Abs16(_mm_sub_epi16(a, c));  // |p − b|
            const __m128i pc = Abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
            const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
            const __m128i nearest =
                Select(_mm_cmpeq_epi16(pa, smallest), a, Select(_mm_cmpeq_epi16(pb, smallest), b, c));
            d = _mm_add_epi16(x, nearest);
            c = b;
        }
        d = _mm_and_si128(d, mask);
        StorePixel<Bpp>(row + i, d);
        a = d;
    }
}

template <std::size_t Bpp>
bool UnfilterWide(uint8_t filter, uint8_t* row, const uint8_t* prev, std::size_t length)
{
    switch (filter) {
    case pfSub: UnfilterPixels<Bpp, pfSub>(row, prev, length); return true;
    case pfAverage: UnfilterPixels<Bpp, pfAverage>(row, prev, length); return true;
    case pfPaeth: UnfilterPixels<Bpp, pfPaeth>(row, prev, length); return true;
    default: return false;
    }
}

// Average and Paeth applied eight bytes at a time: every predictor reads the unfiltered rows,
// so the bytes of a row are independent. Returns where the scalar loop goes on.
template <uint8_t Filter>
std::size_t FilterBytes(const uint8_t* row, const uint8_t* prev, uint8_t* out, std::size_t length, std::size_t bpp)
{
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    auto load = [&](const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    std::size_t i = bpp;
    for (; i + 8 <= length; i += 8) {
        const __m128i x = load(row + i), a = load(row + i - bpp), b = load(prev + i);
        __m128i predicted;
        if constexpr (Filter == pfAverage) {
            predicted = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
        } else {
            const __m128i c = load(prev + i - bpp);
            const __m128i pa = Abs16(_mm_sub_epi16(b, c));
            const __m128i pb = Abs16(_mm_sub_epi16(a, c));
            const __m128i pc = Abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
            const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
            predicted = Select(_mm_cmpeq_epi16(pa, smallest), a, Select(_mm_cmpeq_epi16(pb, smallest), b, c));
        }
        const __m128i d = _mm_and_si128(_mm_sub_epi16(x, predicted), low);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(d, d));
    }
    return i;
}

}  // namespace
#endif

bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prev, std::size_t length, std::size_t bpp)
{
#if defined(__SSE2__)
    // Rows of whole 3- or 4-byte pixels (8-bit RGB and RGBA) take the vector path.
    if ((bpp == 3 || bpp == 4) && length % bpp == 0 &&
        (bpp == 3 ? UnfilterWide<3>(filter, row, prev, length) : UnfilterWide<4>(filter, row, prev, length)))
        return true;
#endif
    const std::size_t lead = bpp < length ? bpp : length;
    switch (filter) {
    case pfNone:
        return true;
    case pfSub:
        for (std::size_t i = bpp; i < length; ++i)
            row[i] = uint8_t(row[i] + row[i - bpp]);
        return true;
    case pfUp:
        for (std::size_t i = 0; i < length; ++i)
            row[i] = uint8_t(row[i] + prev[i]);
        return true;
    case pfAverage:
        for (std::size_t i = 0; i < lead; ++i)
            row[i] = uint8_t(row[i] + (prev[i] >> 1));
        for (std::size_t i = bpp; i < length; ++i)
            row[i] = uint8_t(row[i] + ((row[i - bpp] + prev[i]) >> 1));
        return true;
    case pfPaeth:
        for (std::size_t i = 0; i < lead; ++i)
            row[i] = uint8_t(row[i] + prev[i]);
        for (std::size_t i = bpp; i < length; ++i)
            row[i] = uint8_t(row[i] + PaethPredictor(row[i - bpp], prev[i], prev[i - bpp]));
        return true;
    default:
        return false;
    }
}

void ApplyFilter(uint8_t filter, const uint8_t* row, const uint8_t* prev, uint8_t* out, std::size_t length,
                 std::size_t bpp)
{
    const std::size_t lead = bpp < length ? bpp : length;
    switch (filter) {
    case pfSub:
        std::memcpy(out, row, lead);
        for (std::size_t i = bpp; i < length; ++i)
            out[i] = uint8_t(row[i] - row[i - bpp]);
        break;
    case pfUp:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = uint8_t(row[i] - prev[i]);
        break;
    case pfAverage: {
        for (std::size_t i = 0; i < lead; ++i)
            out[i] = uint8_t(row[i] - (prev[i] >> 1));
        std::size_t i = bpp;
#if defined(__SSE2__)
        i = FilterBytes<pfAverage>(row, prev, out, length, bpp);
#endif
        for (; i < length; ++i)
            out[i] = uint8_t(row[i] - ((row[i - bpp] + prev[i]) >> 1));
        break;
    }
    case pfPaeth: {
        for (std::size_t i = 0; i < lead; ++i)
            out[i] = uint8_t(row[i] - prev[i]);
        std::size_t i = bpp;
#if defined(__SSE2__)
        i = FilterBytes<pfPaeth>(row, prev, out, length, bpp);
#endif
        for (; i < length; ++i)
            out[i] = uint8_t(row[i] - PaethPredictor(row[i - bpp], prev[i], prev[i - bpp]));
        break;
    }
    default:
        std::memcpy(out, row, length);
        break;
    }
}

// ---- converters ----

void ConvertCopy1(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width)
{
    std::memcpy(dst, src, (std::size_t(width) + 7) / 8);
}

void ConvertCopy4(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width)
{
    std::memcpy(dst, src, (std::size_t(width) + 1) / 2);
}

void ConvertCopy8(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width) { std::memcpy(dst, src, std::size_t(width)); }

void ConvertWiden2To4(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width)
{
    // Each 2-bit sample (high bits first) becomes a 4-bit pixel of the same value.
    for (int32_t x = 0; x < width; x += 2) {
        const int shift = 6 - 2 * (x & 3);
        const uint8_t b = src[x >> 2];
        const uint8_t hi = (b >> shift) & 3;
        const uint8_t lo = x + 1 < width ? (b >> (shift - 2)) & 3 : 0;
        dst[x >> 1] = uint8_t(hi << 4 | lo);
    }
}

void ConvertGrey16(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width)
{
    for (int32_t x = 0; x < width; ++x)
        dst[x] = src[2 * x];
}

void ConvertGreyAlpha8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        dst[x] = src[2 * x];
        alpha[x] = uint8_t(255 - src[2 * x + 1]);
    }
}

void ConvertGreyAlpha16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        dst[x] = src[4 * x];
        alpha[x] = uint8_t(255 - src[4 * x + 2]);
    }
}

void ConvertRGB8(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width)
{
    for (int32_t x = 0; x < width; ++x, src += 3, dst += 3) {
        const uint8_t r = src[0], g = src[1], b = src[2];
        dst[0] = b;
        dst[1] = g;
        dst[2] = r;
    }
}

void ConvertRGB16(const uint8_t* src, uint8_t* dst, uint8_t*, int32_t width)
{
    for (int32_t x = 0; x < width; ++x, src += 6, dst += 3) {
        dst[0] = src[4];
        dst[1] = src[2];
        dst[2] = src[0];
    }
}

void ConvertRGBA8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int32_t width)
{
    for (int32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        alpha[x] = uint8_t(255 - src[3]);
    }
}

void ConvertRGBA16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int32_t width)
{
    for (int32_t x = 0; x < width; ++x, src += 8, dst += 3) {
        dst[0] = src[4];
        dst[1] = src[2];
        dst[2] = src[0];
        alpha[x] = uint8_t(255 - src[6]);
    }
}

namespace {

inline void Put565(uint8_t* dst, uint8_t r, uint8_t g, uint8_t b)
{
    const uint16_t v = uint16_t((r >> 3) << 11 | ((g << 3) & 0x7E0) | (b >> 3));
    dst[0] = uint8_t(v);
    dst[1] = uint8_t(v >> 8);
}

// 5-6-5 from samples of sampleBytes bytes (the first byte is the high one), channels per pixel.
template <int SampleBytes, int Channels>
void To565(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int32_t width)
{
    for (int32_t x = 0; x < width; ++x, src += SampleBytes * Channels, dst += 2) {
        Put565(dst, src[0], src[SampleBytes], src[2 * SampleBytes]);
        if constexpr (Channels == 4)
            alpha[x] = uint8_t(255 - src[3 * SampleBytes]);
    }
}

}  // namespace

void ConvertRGB8To565(const uint8_t* s, uint8_t* d, uint8_t* a, int32_t w) { To565<1, 3>(s, d, a, w); }
void ConvertRGBA8To565(const uint8_t* s, uint8_t* d, uint8_t* a, int32_t w) { To565<1, 4>(s, d, a, w); }
void ConvertRGB16To565(const uint8_t* s, uint8_t* d, uint8_t* a, int32_t w) { To565<2, 3>(s, d, a, w); }
void ConvertRGBA16To565(const uint8_t* s, uint8_t* d, uint8_t* a, int32_t w) { To565<2, 4>(s, d, a, w); }

// ---- storers ----

namespace {

void Store1(const uint8_t* src, uint8_t* dst, int32_t count, int32_t first, int32_t step)
{
    for (int32_t i = 0, x = first; i < count; ++i, x += step) {
        const int bit = (src[i >> 3] >> (7 - (i & 7))) & 1;
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        dst[x >> 3] = uint8_t(bit ? dst[x >> 3] | mask : dst[x >> 3] & ~mask);
    }
}

void Store4(const uint8_t* src, uint8_t* dst, int32_t count, int32_t first, int32_t step)
{
    for (int32_t i = 0, x = first; i < count; ++i, x += step) {
        const uint8_t v = (i & 1) ? src[i >> 1] & 0x0F : src[i >> 1] >> 4;
        uint8_t& d = dst[x >> 1];
        d = (x & 1) ? uint8_t((d & 0xF0) | v) : uint8_t((d & 0x0F) | v << 4);
    }
}

template <int Bytes>
void StoreBytes(const uint8_t* src, uint8_t* dst, int32_t count, int32_t first, int32_t step)
{
    uint8_t* d = dst + std::size_t(first) * Bytes;
    const std::size_t advance = std::size_t(step) * Bytes;
    for (int32_t i = 0; i < count; ++i, src += Bytes, d += advance)
        std::memcpy(d, src, Bytes);
}

}  // namespace

TPixelStorer PixelStorerFor(int bits)
{
    switch (bits) {
    case 1: return Store1;
    case 4: return Store4;
    case 8: return StoreBytes<1>;
    case 16: return StoreBytes<2>;
    default: return StoreBytes<3>;
    }
}

}  // namespace nolvi2
