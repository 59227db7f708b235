#include "OZBLibFilter.h"

#include "Errors.h"
#include "Progress.h"
#include "ResultBitmap.h"
#include "platform/Exceptions.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define NOLVI2_FILTER_X86 1
#endif

namespace nolvi2 {

namespace {

constexpr const char* kMsgFilter = "カスタムフィルタ";
constexpr const char* kZeroDivisor = "フィルタの除数が 0 です";

constexpr TFilterKernel kKernels[9] = {
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

// The three checks, in this order, and the divisor; nothing has been created or reported yet.
// The rectangle's extents are computed in 64 bits so that extreme coordinates cannot wrap.
void CheckArguments(const TBitmap& source, const TRect& rect, const TFilterKernel& kernel)
{
    const int64_t w = int64_t(rect.Right) - rect.Left;
    const int64_t h = int64_t(rect.Bottom) - rect.Top;
    if (w < 0 || h < 0)
        throw Exception(kRectNegative);
    if (rect.Left < 0 || rect.Top < 0 || rect.Right > source.Width() || rect.Bottom > source.Height() ||
        w > source.Width() || h > source.Height())
        throw Exception(kRectOutside);
    CheckFormat(source, {TPixelFormat::pf24bit});
    if (kernel.Divisor == 0)
        throw Exception(kZeroDivisor);
}

uint8_t ClampByte(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

// s / d rounded to nearest with ties to even, exactly (d != 0, |s| < 2^62).
int64_t DivRoundHalfEven(int64_t s, int64_t d)
{
    int64_t q = s / d;
    const int64_t r = s % d;
    if (r != 0) {
        const int64_t twice = 2 * (r < 0 ? -r : r);
        const int64_t ad = d < 0 ? -d : d;
        if (twice > ad || (twice == ad && (q & 1) != 0))
            q += (s < 0) != (d < 0) ? -1 : 1;
    }
    return q;
}

// One pixel with exact 64-bit sums; columns clamped into the picture's width. Serves the
// picture's first and last columns, narrow rectangles and the kernels that the fast path
// does not take.
inline void FilterPixel(const uint8_t* const rows[3], int32_t x, int32_t width, const TFilterKernel& kernel,
                        uint8_t* out)
{
    const std::size_t cols[3] = {std::size_t(std::max(x - 1, 0)) * 3, std::size_t(x) * 3,
                                 std::size_t(std::min(x + 1, width - 1)) * 3};
    int64_t sum[3] = {0, 0, 0};
    for (int m = 0; m < 3; ++m)
        for (int e = 0; e < 3; ++e) {
            const int64_t w = kernel.K[m * 3 + e];
            const uint8_t* p = rows[m] + cols[e];
            sum[0] += w * p[0];
            sum[1] += w * p[1];
            sum[2] += w * p[2];
        }
    const int64_t d = kernel.Divisor;
    out[0] = ClampByte(sum[0] / d);
    out[1] = ClampByte(sum[1] / d);
    out[2] = ClampByte(DivRoundHalfEven(sum[2], d));
}

// The fast path for kernels whose sums fit 16 bits and whose divisor is small; it covers
// every kernel of the table.
//
// With the signs of the weights and the divisor flipped when the divisor is negative (the
// quotients stay the same), d > 0 and the clamped results depend only on
// x = clamp(sum, 0, 256 d): every sum below 0 gives 0 and every sum above 256 d gives 255 in
// all three channels. Then
//     green, blue = floor(x / d)
//     red         = floor((x + d div 2) / d), minus 1 when d is even, x / d is exactly
//                   n + 1/2 (the remainder of x + d div 2 is 0) and the quotient is odd.
// (For odd d, x / d is never a half, and floor(x / d + 1/2) = floor((x + (d - 1) / 2) / d)
// since x is an integer.) The division of t = x or x + d div 2, 0 <= t <= 256 d + d div 2
// < 2^15, is a 16-bit multiply-high: floor(2t * magic / 2^16) >> shift, with magic and shift
// found for this divisor and checked against t div d for every t in that range before use
// (a divisor without such a pair would take the exact pixel path; none of 1..127 lacks one).
struct TFastKernel {
    int16_t K[9];
    int16_t Divisor;  // 1..127
    int16_t Half;     // Divisor div 2
    int16_t Limit;    // 256 * Divisor
    uint16_t Magic;
    int Shift;
    // By the phase of a block (its first byte's index mod 3): per byte, Half at red bytes and
    // 0 elsewhere, and 1 at red bytes and 0 elsewhere.
    uint8_t AddRed[3][32];
    uint8_t OneRed[3][32];
};

std::optional<TFastKernel> PrepareFastKernel(const TFilterKernel& kernel)
{
    const int64_t sign = kernel.Divisor < 0 ? -1 : 1;
    const int64_t d = sign * int64_t(kernel.Divisor);
    if (d > 127)
        return std::nullopt;
    int64_t pos = 0, neg = 0;
    for (const int32_t k : kernel.K)
        (sign * k > 0 ? pos : neg) += sign * k;
    if (255 * pos > 32767 || 255 * neg < -32768)
        return std::nullopt;

    TFastKernel f{};
    for (int i = 0; i < 9; ++i)
        f.K[i] = int16_t(sign * kernel.K[i]);
    f.Divisor = int16_t(d);
    f.Half = int16_t(d / 2);
    f.Limit = int16_t(256 * d);
    for (int p = 0; p < 3; ++p)
        for (int j = 0; j < 32; ++j) {
            const bool red = (p + j) % 3 == 2;
            f.AddRed[p][j] = red ? uint8_t(f.Half) : 0;
            f.OneRed[p][j] = red ? 1 : 0;
        }
    const uint32_t tmax = uint32_t(f.Limit) + uint32_t(f.Half);
    for (int shift = 15; shift >= 0; --shift) {
        const uint64_t magic = ((uint64_t(1) << (15 + shift)) + uint64_t(d) - 1) / uint64_t(d);
        if (magic > 0xFFFF)
            continue;
        bool exact = true;
        for (uint32_t t = 0; t <= tmax && exact; ++t)
            exact = (((2 * t * uint32_t(magic)) >> 16) >> shift) == t / uint32_t(d);
        if (exact) {
            f.Magic = uint16_t(magic);
            f.Shift = shift;
            return f;
        }
    }
    return std::nullopt;
}

#if defined(NOLVI2_FILTER_X86)

// One block of bytes [i, i + 16) of a row from the rows above, at and below it (SSE2, which
// every x86-64 processor has). Every byte needs the bytes 3 before and 3 after it in all three
// rows, which the caller keeps inside the rows (the picture's first and last pixels are not
// done here).
template <bool EvenDivisor>
inline __m128i Divide128(__m128i s, __m128i addRed, __m128i oneRed, const TFastKernel& f)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i x = _mm_min_epi16(_mm_max_epi16(s, zero), _mm_set1_epi16(f.Limit));
    const __m128i t = _mm_add_epi16(x, addRed);
    __m128i q = _mm_srl_epi16(_mm_mulhi_epu16(_mm_slli_epi16(t, 1), _mm_set1_epi16(int16_t(f.Magic))),
                              _mm_cvtsi32_si128(f.Shift));
    if constexpr (EvenDivisor) {
        const __m128i r = _mm_sub_epi16(t, _mm_mullo_epi16(q, _mm_set1_epi16(f.Divisor)));
        q = _mm_sub_epi16(q, _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi16(r, zero), q), oneRed));
    }
    return q;
}

template <bool EvenDivisor>
inline void Block16(const uint8_t* const rows[3], uint8_t* out, std::size_t i, const TFastKernel& f)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = zero, hi = zero;
    for (int m = 0; m < 3; ++m)
        for (int e = 0; e < 3; ++e) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[m] + i + 3 * e - 3));
            const __m128i w = _mm_set1_epi16(f.K[m * 3 + e]);
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), w));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), w));
        }
    const std::size_t phase = i % 3;
    const __m128i add = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.AddRed[phase]));
    const __m128i one = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.OneRed[phase]));
    const __m128i qlo = Divide128<EvenDivisor>(lo, _mm_unpacklo_epi8(add, zero), _mm_unpacklo_epi8(one, zero), f);
    const __m128i qhi = Divide128<EvenDivisor>(hi, _mm_unpackhi_epi8(add, zero), _mm_unpackhi_epi8(one, zero), f);
    // Quotients are 0..256; the saturating pack makes 256 into 255.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(qlo, qhi));
}

// Bytes [i0, i1) of a row, i1 - i0 >= 16, in blocks of 16; a last partial block is done again
// from i1 - 16, which writes the same values.
template <bool EvenDivisor>
void FilterBytesSse2(const uint8_t* const rows[3], uint8_t* out, std::size_t i0, std::size_t i1,
                     const TFastKernel& f)
{
    std::size_t i = i0;
    for (; i + 16 <= i1; i += 16)
        Block16<EvenDivisor>(rows, out, i, f);
    if (i < i1)
        Block16<EvenDivisor>(rows, out, i1 - 16, f);
}

// The same with 32 bytes at a time (AVX2). The 16-bit halves are unpacked and packed again
// within each 128-bit lane, and the per-byte patterns are unpacked the same way, so every
// 16-bit lane lines up with its byte.
template <bool EvenDivisor>
__attribute__((target("avx2"))) inline __m256i Divide256(__m256i s, __m256i addRed, __m256i oneRed,
                                                         const TFastKernel& f)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i x = _mm256_min_epi16(_mm256_max_epi16(s, zero), _mm256_set1_epi16(f.Limit));
    const __m256i t = _mm256_add_epi16(x, addRed);
    __m256i q = _mm256_srl_epi16(
        _mm256_mulhi_epu16(_mm256_slli_epi16(t, 1), _mm256_set1_epi16(int16_t(f.Magic))), _mm_cvtsi32_si128(f.Shift));
    if constexpr (EvenDivisor) {
        const __m256i r = _mm256_sub_epi16(t, _mm256_mullo_epi16(q, _mm256_set1_epi16(f.Divisor)));
        q = _mm256_sub_epi16(q, _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi16(r, zero), q), oneRed));
    }
    return q;
}

template <bool EvenDivisor>
__attribute__((target("avx2"))) inline void Block32(const uint8_t* const rows[3], uint8_t* out, std::size_t i,
                                                    const TFastKernel& f)
{
    const __m256i zero = _mm256_setzero_si256();
    __m256i lo = zero, hi = zero;
    for (int m = 0; m < 3; ++m)
        for (int e = 0; e < 3; ++e) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[m] + i + 3 * e - 3));
            const __m256i w = _mm256_set1_epi16(f.K[m * 3 + e]);
            lo = _mm256_add_epi16(lo, _mm256_mullo_epi16(_mm256_unpacklo_epi8(v, zero), w));
            hi = _mm256_add_epi16(hi, _mm256_mullo_epi16(_mm256_unpackhi_epi8(v, zero), w));
        }
    const std::size_t phase = i % 3;
    const __m256i add = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f.AddRed[phase]));
    const __m256i one = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f.OneRed[phase]));
    const __m256i qlo =
        Divide256<EvenDivisor>(lo, _mm256_unpacklo_epi8(add, zero), _mm256_unpacklo_epi8(one, zero), f);
    const __m256i qhi =
        Divide256<EvenDivisor>(hi, _mm256_unpackhi_epi8(add, zero), _mm256_unpackhi_epi8(one, zero), f);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(qlo, qhi));
}

// Blocks of 32 bytes; the rest (under 32 bytes) in one or two blocks of 16, the last one
// ending at i1, so that the 16-byte blocks are at work on every row too.
template <bool EvenDivisor>
__attribute__((target("avx2"))) void FilterBytesAvx2(const uint8_t* const rows[3], uint8_t* out, std::size_t i0,
                                                     std::size_t i1, const TFastKernel& f)
{
    std::size_t i = i0;
    for (; i + 32 <= i1; i += 32)
        Block32<EvenDivisor>(rows, out, i, f);
    if (i + 16 < i1)
        Block16<EvenDivisor>(rows, out, i, f);
    if (i < i1)
        Block16<EvenDivisor>(rows, out, i1 - 16, f);
}

// Bytes [i0, i1) of a row, i1 - i0 >= 16, with the widest blocks the processor has.
void FilterBytes(const uint8_t* const rows[3], uint8_t* out, std::size_t i0, std::size_t i1, const TFastKernel& f)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const bool even = f.Divisor % 2 == 0;
    if (avx2) {
        if (even)
            FilterBytesAvx2<true>(rows, out, i0, i1, f);
        else
            FilterBytesAvx2<false>(rows, out, i0, i1, f);
    } else {
        if (even)
            FilterBytesSse2<true>(rows, out, i0, i1, f);
        else
            FilterBytesSse2<false>(rows, out, i0, i1, f);
    }
}

constexpr bool kHaveFastPath = true;

#else

constexpr bool kHaveFastPath = false;

void FilterBytes(const uint8_t* const*, uint8_t*, std::size_t, std::size_t, const TFastKernel&) {}

#endif

// Builds the filtered copy of source in work (a new, empty bitmap).
void FilterInto(const TBitmap& source, TBitmap& work, const TRect& rect, const TFilterKernel& kernel,
                TProgressReporter& progress)
{
    const int32_t W = source.Width();
    const int32_t H = source.Height();
    const int32_t left = rect.Left, top = rect.Top, right = rect.Right, bottom = rect.Bottom;
    const int32_t w = right - left, h = bottom - top;

    // A full copy of the source. The bytes that the filter writes are not copied first.
    work.SetPalette(source.Palette());
    work.SetPixelFormat(TPixelFormat::pf24bit);
    work.SetSize(W, H);
    const std::size_t rowBytes = source.RowBytes();
    const bool filtered = w >= 1 && h >= 1;
    for (int32_t y = 0; y < H; ++y) {
        const uint8_t* s = source.ScanLine(y);
        uint8_t* d = work.ScanLine(y);
        if (!filtered || y < top || y >= bottom) {
            std::memcpy(d, s, rowBytes);
        } else {
            std::memcpy(d, s, std::size_t(left) * 3);
            std::memcpy(d + std::size_t(right) * 3, s + std::size_t(right) * 3, std::size_t(W - right) * 3);
        }
    }
    if (!filtered)
        return;

    // Source rows top - 1 to bottom, repeated from the picture's edge where they do not exist.
    std::vector<const uint8_t*> rows(std::size_t(h) + 2);
    rows[0] = source.ScanLine(top > 0 ? top - 1 : 0);
    for (int32_t j = 0; j < h; ++j)
        rows[std::size_t(j) + 1] = source.ScanLine(top + j);
    rows[std::size_t(h) + 1] = source.ScanLine(bottom < H ? bottom : H - 1);

    // Pixels [xa, xb) have both neighbours inside the row; the others (at most the first and
    // the last pixel of the picture) and rectangles too narrow for a block go pixel by pixel.
    const int32_t xa = std::max(left, 1);
    const int32_t xb = std::max(std::min(right, W - 1), xa);
    const std::optional<TFastKernel> fast = kHaveFastPath ? PrepareFastKernel(kernel) : std::nullopt;
    const bool blocks = fast && std::size_t(xb - xa) * 3 >= 16;

    for (int32_t y = top; y < bottom; ++y) {
        const uint8_t* const r3[3] = {rows[std::size_t(y - top)], rows[std::size_t(y - top) + 1],
                                      rows[std::size_t(y - top) + 2]};
        uint8_t* out = work.ScanLine(y);
        for (int32_t x = left; x < xa && x < right; ++x)
            FilterPixel(r3, x, W, kernel, out + std::size_t(x) * 3);
        if (blocks) {
            FilterBytes(r3, out, std::size_t(xa) * 3, std::size_t(xb) * 3, *fast);
        } else {
            for (int32_t x = xa; x < xb; ++x)
                FilterPixel(r3, x, W, kernel, out + std::size_t(x) * 3);
        }
        for (int32_t x = xb; x < right; ++x)
            FilterPixel(r3, x, W, kernel, out + std::size_t(x) * 3);
        progress.RowDone(y - top);
    }
}

// Runs the filtering passes (building and filling the result): a failure in them still sends
// the ending report and then passes on to the caller, like every operation's.
template <class Passes>
void RunPasses(TProgressReporter& progress, Passes&& passes)
{
    try {
        passes();
    } catch (...) {
        progress.End();
        throw;
    }
    progress.End();
}

}  // namespace

void MakeFilterKernel(uint8_t kind, TFilterKernel& kernel)
{
    const unsigned k = kind & 0x7Fu;
    if (k < 9)
        kernel = kKernels[k];
}

std::unique_ptr<TBitmap> CustomFilterRect(TBitmap& source, const TRect& rect, int32_t interval, bool reportProgress,
                                          const TFilterKernel& kernel)
{
    CheckArguments(source, rect, kernel);
    TProgressReporter progress(source, reportProgress, kMsgFilter, rect.Height(), interval);
    progress.Start();
    std::unique_ptr<TBitmap> result;
    RunPasses(progress, [&] {
        // On a failure the result goes with the unwinding.
        result = std::make_unique<TBitmap>();
        FilterInto(source, *result, rect, kernel, progress);
    });
    return result;
}

std::unique_ptr<TBitmap> CustomFilter(TBitmap& source, const TFilterKernel& kernel, int32_t interval,
                                      bool reportProgress)
{
    return CustomFilterRect(source, TRect{0, 0, source.Width(), source.Height()}, interval, reportProgress, kernel);
}

void CustomFilterRectInto(TBitmap& source, TBitmap& destination, const TRect& rect, int32_t interval,
                          bool reportProgress, const TFilterKernel& kernel)
{
    CheckArguments(source, rect, kernel);
    TProgressReporter progress(source, reportProgress, kMsgFilter, rect.Height(), interval);
    progress.Start();
    RunPasses(progress, [&] {
        // Built aside, so that the source is read unchanged even when it is the destination, and
        // the destination stays as it was when the filter fails.
        TBitmap work;
        FilterInto(source, work, rect, kernel, progress);
        destination.TakeOver(work);
    });
}

}  // namespace nolvi2
