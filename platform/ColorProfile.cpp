#include "ColorProfile.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace nolvi2 {

namespace {

// A profile larger than this is no picture's profile.
constexpr std::size_t kMaxProfileSize = std::size_t(64) << 20;

// The colour space a profile describes; Other for one of no use for pictures (Lab, named
// colours, ...).
enum class TProfileSpace : uint8_t { Rgb, Grey, Cmyk, Other };

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using TProfileHandle = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using TTransformHandle = std::unique_ptr<void, TransformDeleter>;

TProfileHandle OpenProfile(std::span<const uint8_t> profile)
{
    if (profile.size() < 128 || profile.size() > kMaxProfileSize)
        return nullptr;
    return TProfileHandle(cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size())));
}

TProfileSpace SpaceOf(cmsHPROFILE p)
{
    switch (cmsGetColorSpace(p)) {
    case cmsSigRgbData:
        return TProfileSpace::Rgb;
    case cmsSigGrayData:
        return TProfileSpace::Grey;
    case cmsSigCmykData:
        return TProfileSpace::Cmyk;
    default:
        return TProfileSpace::Other;
    }
}

double SrgbCurve(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

// sRGB's colorants as profiles store them (adapted to D50), from LittleCMS's own sRGB profile.
const std::array<cmsCIEXYZ, 3>& SrgbColorants()
{
    static const std::array<cmsCIEXYZ, 3> colorants = [] {
        std::array<cmsCIEXYZ, 3> c{};
        const TProfileHandle srgb(cmsCreate_sRGBProfile());
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        for (int i = 0; i < 3; ++i)
            if (const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb.get(), tags[i])))
                c[std::size_t(i)] = *xyz;
        return c;
    }();
    return colorants;
}

// A matrix-shaper RGB profile with sRGB's colorants (within what the common sRGB profiles
// differ by) and sRGB's curve (within half a level at every 8-bit value), and no table
// that would take precedence.
bool DescribesSrgb(cmsHPROFILE p)
{
    if (SpaceOf(p) != TProfileSpace::Rgb || !cmsIsMatrixShaper(p))
        return false;
    for (const cmsUInt32Number intent : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC, INTENT_SATURATION})
        if (cmsIsCLUT(p, intent, LCMS_USED_AS_INPUT))
            return false;
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int i = 0; i < 3; ++i) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, colorants[i]));
        const cmsCIEXYZ& want = SrgbColorants()[std::size_t(i)];
        if (!xyz || std::fabs(xyz->X - want.X) > 0.003 || std::fabs(xyz->Y - want.Y) > 0.003 ||
            std::fabs(xyz->Z - want.Z) > 0.003)
            return false;
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p, curves[i]));
        if (!curve)
            return false;
        for (int v = 0; v < 256; ++v)
            if (std::fabs(cmsEvalToneCurveFloat(curve, float(v / 255.0)) - SrgbCurve(v / 255.0)) > 0.5 / 255)
                return false;
    }
    return true;
}

// The profile's own intent when it has a table for it and asks for a perceptual or
// saturation rendering; relative colorimetric otherwise.
cmsUInt32Number IntentFor(cmsHPROFILE p)
{
    const cmsUInt32Number asked = cmsGetHeaderRenderingIntent(p);
    if ((asked == INTENT_PERCEPTUAL || asked == INTENT_SATURATION) && cmsIsCLUT(p, asked, LCMS_USED_AS_INPUT))
        return asked;
    return INTENT_RELATIVE_COLORIMETRIC;
}

// No cache inside the transform, so that threads can share it; black-point compensation.
constexpr cmsUInt32Number kFlags = cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION;

// The converted cache of recent profiles: the key is the profile's bytes and the input.
struct TCacheEntry {
    std::vector<uint8_t> Profile;
    TProfileInput Input;
    std::shared_ptr<const TSrgbConversion> Conversion;  // null: nothing to convert
};
constexpr std::size_t kCacheSize = 8;

std::mutex& CacheMutex()
{
    static std::mutex m;
    return m;
}

std::list<TCacheEntry>& Cache()
{
    static std::list<TCacheEntry> cache;
    return cache;
}

}  // namespace

// An RGB profile made of three curves and a matrix (as most camera and editing profiles
// are) converts by tables: each stored level's share of each linear sRGB channel, summed in
// 16.16 fixed point, then the sRGB curve of that linear value from a table of 65536 steps.
// This gives what LittleCMS gives within one level (a test compares every colour) and takes
// a few nanoseconds a pixel, so that a camera's picture converts in the time its decoding
// takes.
struct TMatrixShaper {
    static constexpr int32_t kOne = 65535;  // linear 1.0
    int32_t Share[3][3][256];               // [stored channel r, g, b][sRGB channel r, g, b][level]
    uint8_t Encode[kOne + 1];               // sRGB's curve of linear value / kOne
};

struct TSrgbConversion::TImpl {
    TTransformHandle Transform;           // RGB and CMYK profiles
    std::unique_ptr<TMatrixShaper> Fast;  // RGB profiles of curves and a matrix
    std::array<uint8_t, 256> Grey{};      // grey profiles: each channel's level
    bool IsGrey = false;
};

namespace {

// The tables of a matrix-shaper RGB profile's conversion into sRGB, or null when the profile
// is not one whose conversion they give exactly: a table for the intent, or a black that is
// not 0 (black-point compensation would move it).
std::unique_ptr<TMatrixShaper> MakeMatrixShaper(cmsHPROFILE p, cmsUInt32Number intent)
{
    if (!cmsIsMatrixShaper(p) || cmsIsCLUT(p, intent, LCMS_USED_AS_INPUT))
        return nullptr;
    const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    double toXyz[3][3];     // [X, Y, Z][stored channel]
    double fromXyz[3][3];   // sRGB's inverse: [sRGB channel][X, Y, Z]
    const cmsToneCurve* curves[3];
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, colorantTags[c]));
        curves[c] = static_cast<const cmsToneCurve*>(cmsReadTag(p, curveTags[c]));
        if (!xyz || !curves[c] || cmsEvalToneCurveFloat(curves[c], 0.0f) != 0.0f)
            return nullptr;
        toXyz[0][c] = xyz->X;
        toXyz[1][c] = xyz->Y;
        toXyz[2][c] = xyz->Z;
    }
    {
        const auto& s = SrgbColorants();
        const double m[3][3] = {{s[0].X, s[1].X, s[2].X}, {s[0].Y, s[1].Y, s[2].Y}, {s[0].Z, s[1].Z, s[2].Z}};
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        if (std::fabs(det) < 1e-9)
            return nullptr;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                // The cofactor of m[j][i] over the determinant.
                const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
                fromXyz[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
            }
    }
    auto t = std::make_unique<TMatrixShaper>();
    for (int in = 0; in < 3; ++in)
        for (int v = 0; v < 256; ++v) {
            const double linear = cmsEvalToneCurveFloat(curves[in], float(v / 255.0));
            for (int out = 0; out < 3; ++out) {
                const double share = (fromXyz[out][0] * toXyz[0][in] + fromXyz[out][1] * toXyz[1][in] +
                                      fromXyz[out][2] * toXyz[2][in]) * linear;
                // A profile whose numbers are far outside what light can be (a broken or hostile
                // one) goes through LittleCMS, which clips them itself.
                if (!std::isfinite(share) || std::fabs(share) > 16.0)
                    return nullptr;
                t->Share[in][out][v] = int32_t(std::nearbyint(share * TMatrixShaper::kOne));
            }
        }
    for (int32_t i = 0; i <= TMatrixShaper::kOne; ++i) {
        const double v = double(i) / TMatrixShaper::kOne;
        const double encoded = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
        t->Encode[i] = uint8_t(std::clamp(std::nearbyint(encoded * 255.0), 0.0, 255.0));
    }
    return t;
}

// Step: 3 for BGR pixels, 4 for BGRA ones (the fourth byte copied); a constant, so that the
// loop has no test of it.
template <std::size_t Step>
void ConvertByTables(const TMatrixShaper& t, const uint8_t* in, uint8_t* out, std::size_t count)
{
    const auto level = [&](int32_t v) { return t.Encode[std::clamp(v, 0, TMatrixShaper::kOne)]; };
    for (std::size_t i = 0; i < count; ++i, in += Step, out += Step) {
        const uint8_t b = in[0], g = in[1], r = in[2];
        const int32_t outR = t.Share[0][0][r] + t.Share[1][0][g] + t.Share[2][0][b];
        const int32_t outG = t.Share[0][1][r] + t.Share[1][1][g] + t.Share[2][1][b];
        const int32_t outB = t.Share[0][2][r] + t.Share[1][2][g] + t.Share[2][2][b];
        if constexpr (Step == 4)
            out[3] = in[3];
        out[0] = level(outB);
        out[1] = level(outG);
        out[2] = level(outR);
    }
}

}  // namespace

bool IsSrgbProfile(std::span<const uint8_t> profile)
{
    const TProfileHandle p = OpenProfile(profile);
    return p && DescribesSrgb(p.get());
}

TSrgbConversion::TSrgbConversion(TProfileInput input, std::unique_ptr<TImpl> impl)
    : FInput(input), FImpl(std::move(impl))
{
}

TSrgbConversion::~TSrgbConversion() = default;

std::shared_ptr<const TSrgbConversion> TSrgbConversion::For(std::span<const uint8_t> profile, TProfileInput input)
{
    if (profile.empty())
        return nullptr;
    const auto same = [&](const TCacheEntry& e) {
        return e.Input == input && e.Profile.size() == profile.size() &&
               std::equal(profile.begin(), profile.end(), e.Profile.begin());
    };
    {
        const std::lock_guard lock(CacheMutex());
        auto& cache = Cache();
        if (const auto it = std::find_if(cache.begin(), cache.end(), same); it != cache.end()) {
            cache.splice(cache.begin(), cache, it);
            return it->Conversion;
        }
    }
    // Made outside the lock: another thread may make the same one meanwhile, which costs only
    // time.
    std::shared_ptr<const TSrgbConversion> conversion;
    if (auto impl = MakeImpl(profile, input))
        conversion.reset(new TSrgbConversion(input, std::move(impl)));
    const std::lock_guard lock(CacheMutex());
    auto& cache = Cache();
    if (std::none_of(cache.begin(), cache.end(), same)) {
        cache.push_front(TCacheEntry{{profile.begin(), profile.end()}, input, conversion});
        if (cache.size() > kCacheSize)
            cache.pop_back();
    }
    return conversion;
}

std::unique_ptr<TSrgbConversion::TImpl> TSrgbConversion::MakeImpl(std::span<const uint8_t> profile,
                                                                    TProfileInput input)
{
    const TProfileHandle p = OpenProfile(profile);
    if (!p)
        return nullptr;
    const TProfileSpace space = SpaceOf(p.get());
    const bool cmykInput = input == TProfileInput::Cmyk || input == TProfileInput::CmykInverted;
    if (cmykInput != (space == TProfileSpace::Cmyk) || space == TProfileSpace::Other)
        return nullptr;
    if (space == TProfileSpace::Rgb && DescribesSrgb(p.get()))
        return nullptr;
    const TProfileHandle srgb(cmsCreate_sRGBProfile());
    const cmsUInt32Number intent = IntentFor(p.get());
    auto impl = std::make_unique<TSrgbConversion::TImpl>();
    if (space == TProfileSpace::Grey) {
        // A grey profile's conversion is a curve: the table of every level, applied to each
        // channel, so that grey pixels stay grey.
        const TTransformHandle t(cmsCreateTransform(p.get(), TYPE_GRAY_8, srgb.get(), TYPE_RGB_8, intent, kFlags));
        if (!t)
            return nullptr;
        std::array<uint8_t, 256> levels{};
        std::array<uint8_t, 256 * 3> rgb{};
        for (int v = 0; v < 256; ++v)
            levels[std::size_t(v)] = uint8_t(v);
        cmsDoTransform(t.get(), levels.data(), rgb.data(), 256);
        bool identity = true;
        for (std::size_t v = 0; v < 256; ++v) {
            impl->Grey[v] = rgb[3 * v + 1];
            identity = identity && impl->Grey[v] == v;
        }
        if (identity)
            return nullptr;
        impl->IsGrey = true;
        return impl;
    }
    if (input == TProfileInput::Bgr || input == TProfileInput::Bgra) {
        impl->Fast = MakeMatrixShaper(p.get(), intent);
        if (impl->Fast)
            return impl;
    }
    const cmsUInt32Number in = input == TProfileInput::Bgr           ? TYPE_BGR_8
                               : input == TProfileInput::Bgra        ? TYPE_BGRA_8
                               : input == TProfileInput::Cmyk        ? TYPE_CMYK_8
                                                                     : TYPE_CMYK_8_REV;
    const cmsUInt32Number out = input == TProfileInput::Bgra ? TYPE_BGRA_8 : TYPE_BGR_8;
    const cmsUInt32Number flags = kFlags | (input == TProfileInput::Bgra ? cmsFLAGS_COPY_ALPHA : 0);
    impl->Transform.reset(cmsCreateTransform(p.get(), in, srgb.get(), out, intent, flags));
    if (!impl->Transform)
        return nullptr;
    return impl;
}

void TSrgbConversion::Convert(const uint8_t* in, uint8_t* out, std::size_t count) const
{
    if (FImpl->Fast) {
        if (FInput == TProfileInput::Bgra)
            ConvertByTables<4>(*FImpl->Fast, in, out, count);
        else
            ConvertByTables<3>(*FImpl->Fast, in, out, count);
        return;
    }
    if (FImpl->IsGrey) {
        const std::size_t step = FInput == TProfileInput::Bgra ? 4 : 3;
        const auto& grey = FImpl->Grey;
        for (std::size_t i = 0; i < count; ++i, in += step, out += step) {
            out[0] = grey[in[0]];
            out[1] = grey[in[1]];
            out[2] = grey[in[2]];
            if (step == 4)
                out[3] = in[3];
        }
        return;
    }
    // LittleCMS counts pixels in 32 bits.
    constexpr std::size_t kChunk = std::size_t(1) << 30;
    const std::size_t inStep = FInput == TProfileInput::Bgr ? 3 : 4;
    const std::size_t outStep = FInput == TProfileInput::Bgra ? 4 : 3;
    while (count > 0) {
        const std::size_t n = std::min(count, kChunk);
        cmsDoTransform(FImpl->Transform.get(), in, out, cmsUInt32Number(n));
        in += n * inStep;
        out += n * outStep;
        count -= n;
    }
}

void ConvertToSrgb(TBitmap& picture, std::span<const uint8_t> profile)
{
    if (picture.Empty() || profile.empty())
        return;
    const TPixelFormat pf = picture.PixelFormat();
    if (pf == TPixelFormat::pf1bit || pf == TPixelFormat::pf4bit || pf == TPixelFormat::pf8bit) {
        const auto conversion = TSrgbConversion::For(profile, TProfileInput::Bgra);
        if (!conversion)
            return;
        TPalette palette = picture.Palette();
        static_assert(sizeof(TRGBQuad) == 4);
        conversion->Convert(reinterpret_cast<const uint8_t*>(palette.data()), reinterpret_cast<uint8_t*>(palette.data()),
                            palette.size());
        picture.SetPalette(std::move(palette));
        return;
    }
    const TProfileInput input = pf == TPixelFormat::pf32bit ? TProfileInput::Bgra : TProfileInput::Bgr;
    const auto conversion = TSrgbConversion::For(profile, input);
    if (!conversion)
        return;
    if (pf != TPixelFormat::pf24bit && pf != TPixelFormat::pf32bit)
        picture.SetPixelFormat(TPixelFormat::pf24bit);
    const int32_t width = picture.Width(), height = picture.Height();
    const auto convertRows = [&](int32_t from, int32_t to) {
        for (int32_t y = from; y < to; ++y)
            conversion->Convert(picture.ScanLine(y), picture.ScanLine(y), std::size_t(width));
    };
    // Large pictures in bands, one per processor.
    constexpr int64_t kPixelsPerThread = int64_t(1) << 19;
    const int64_t pixels = int64_t(width) * height;
    const int threads = int(std::clamp<int64_t>(std::min<int64_t>(std::thread::hardware_concurrency(), 8),
                                                 1, std::max<int64_t>(pixels / kPixelsPerThread, 1)));
    const auto bandStart = [&](int i) { return int32_t(int64_t(height) * i / threads); };
    std::vector<std::jthread> helpers;
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(convertRows, bandStart(i), bandStart(i + 1));
        } catch (const std::system_error&) {
            convertRows(bandStart(i), bandStart(i + 1));  // no thread to be had: this one does it
        }
    }
    convertRows(0, bandStart(1));
}

}  // namespace nolvi2
