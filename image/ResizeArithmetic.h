#pragma once
// The exact arithmetic of resampling that has shortcuts of its own: rounding half to even, and
// the two steps of integral resampling (adding one sample to a pixel's sums, and the final
// Round(sum / area)). Kept apart from OZBLibResize.cpp so that the tests can hold each step
// against its literal extended-precision formula on inputs that the pictures rarely reach.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace nolvi2::resize {

// 1.5 * 2^52: adding and subtracting it rounds a double of magnitude below 2^51 to an integer
// with ties to even (the default rounding mode), without a library call.
constexpr double kRoundMagic = 6755399441055744.0;

inline double RoundHalfEven(double v) { return (v + kRoundMagic) - kRoundMagic; }

// The same for long double (1.5 * 2^63, where the extended format has a unit step), for
// magnitudes below 2^62.
constexpr long double kRoundMagicL = 13835058055282163712.0L;

inline long double RoundHalfEven(long double v) { return (v + kRoundMagicL) - kRoundMagicL; }

inline uint8_t ClampToByte(long double v) { return uint8_t(std::clamp<long double>(v, 0, 255)); }

// Round(sum / area) in extended precision, for a double sum and a float area (clamped into
// 0..255). For a candidate k (from the reciprocal) the bounds (k - 1/2) * area and
// (k + 1/2) * area are exact in double (k + 1/2 has at most 10 significant bits, area 24) and
// tell exactly where the quotient lies. Strictly between them, the quotient stays clear of
// either half: the difference between the sum and a bound is a non-zero multiple of the sum's
// step (more than sum * 2^-53) or of half the area's step (more than area * 2^-25), so the
// quotient lies at least about min(k * 2^-53, 2^-25) from the half, far more than the extended
// division's half step (below 2^-55 for quotients under 512) can move it: Round gives k. On a
// bound, the quotient is exactly that half in both widths and goes to the even neighbour.
// Outside (the candidate one off, which can only happen within a double rounding of a half)
// the literal division decides.
inline uint8_t IntegralResult(double sum, float area, double inverseArea)
{
    const double a = area;
    const double k = RoundHalfEven(sum * inverseArea);
    const double lo = (k - 0.5) * a, hi = (k + 0.5) * a;
    if (!(sum >= lo && sum <= hi)) [[unlikely]]
        return ClampToByte(RoundHalfEven(static_cast<long double>(sum) / area));
    // Without branches (halves are common and unpredictable): k, or the even neighbour of a
    // true half.
    const double half = sum == hi ? 0.5 : sum == lo ? -0.5 : 0.0;
    return uint8_t(int32_t(std::clamp(RoundHalfEven(k + half), 0.0, 255.0)));
}

// Significant bits of a positive double: from the leading one to the last one.
inline uint32_t SignificantBits(double w)
{
    const uint64_t mantissa = (std::bit_cast<uint64_t>(w) & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    return uint32_t(53 - std::countr_zero(mantissa));
}

// One sample added to a pixel's channel sums. Literally, for each channel,
// sum = (double)(sum + (wx * wy) * byte), the products and the sum in extended precision.
//
// The step is done in double. When the weights have few enough bits for t = wx * wy * byte to
// be exact (at most 53 significant bits in all: exactProduct), t is the same in both widths,
// and the double sum s = RN53(sum + t) comes with its exact error e = sum + t - s (two-sum).
// The literal step rounds sum + t first to extended (64 bits), then to double; the two
// roundings can only give another double than s where the first one lands on a point halfway
// between two doubles, that is where |e| lies within half an extended step (2^-11 of a double
// step) of half a double step. (Where s is a power of two and the exact sum lies below it, in
// the finer steps of the binade underneath, the sum lies between s and the halfway point below
// it, which goes to the even s: both roundings give s.) With e = 0 the sum is exact in both.
// Those steps, and every step whose t is not exact in double, are taken literally.
//
// (With the weights that resampling makes, all of a pixel's terms are multiples of one step,
// and its sums stay below 2^61 of those steps, so an extended sum is exact and the near test
// never changes a sum; it costs a few lane operations and keeps the step exact for any weights.)
//
// The four channels go through the step together, as four lanes of doubles; for Bpp = 3 the
// fourth byte is 0 and its lane adds 0. The tests are worked out for every lane without
// branching (near points come in no predictable pattern); only a lane that needs the literal
// step branches.
using TVec4d = double __attribute__((vector_size(32)));
using TVec4i = int64_t __attribute__((vector_size(32)));
using TVec4u = uint64_t __attribute__((vector_size(32)));
using TVec4b = uint8_t __attribute__((vector_size(4)));

// Half a double step less half an extended step, relative to the power of two at or below s.
// (A sum of 0 is exact; the test leaves out e = 0 so that black pixels take no literal step.)
constexpr double kNearHalfStep = 0x1p-53 - 0x1p-64;

template <int Bpp>
[[gnu::always_inline]] inline void IntegralAddSample(double* sum, uint32_t packedBytes, double wx, double wy,
                                                     bool exactProduct)
{
    TVec4b bytes;
    std::memcpy(&bytes, &packedBytes, 4);
    TVec4d old;
    std::memcpy(&old, sum, sizeof old);

    const TVec4d t = (wx * wy) * __builtin_convertvector(bytes, TVec4d);
    const TVec4d s = old + t;
    const TVec4d tt = s - old;
    const TVec4d error = (old - (s - tt)) + (t - tt);
    // The bits, not conversions: the power of two at or below s, and |error|.
    const TVec4u bits = (TVec4u)s;
    const TVec4d power = (TVec4d)(bits & 0x7FF0000000000000u);
    const TVec4d magnitude = (TVec4d)((TVec4u)error & 0x7FFFFFFFFFFFFFFFu);
    const TVec4i near = (error != 0) & (magnitude >= power * kNearHalfStep);
    const TVec4i literal = exactProduct ? near : near | -1;
    std::memcpy(sum, &s, sizeof s);
    if ((literal[0] | literal[1] | literal[2] | literal[3]) != 0) [[unlikely]]
        for (int k = 0; k < Bpp; ++k)
            if (literal[k])
                sum[k] = double(old[k] + static_cast<long double>(wx) * wy * bytes[k]);
}

}  // namespace nolvi2::resize
