// The conversion into sRGB against LittleCMS's own transform of the same profile, for every
// one of the 2^24 colours: the tables of curves-and-matrix profiles stay within one level of
// it, and the conversions LittleCMS does itself (tables, grey) match it.

#include "platform/ColorProfile.h"

#include "ColorFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;

namespace {

std::vector<uint8_t> RgbProfile(const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve)
{
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    return SavedProfile(p);
}

// Every colour, as BGR triples.
const std::vector<uint8_t>& AllColours()
{
    static const std::vector<uint8_t> all = [] {
        std::vector<uint8_t> v(3 * (std::size_t(1) << 24));
        for (uint32_t i = 0; i < (1u << 24); ++i) {
            v[3 * i] = uint8_t(i);
            v[3 * i + 1] = uint8_t(i >> 8);
            v[3 * i + 2] = uint8_t(i >> 16);
        }
        return v;
    }();
    return all;
}

}  // namespace

TEST(ColorProfile, EveryColourWithinOneLevelOfLittleCms)
{
    const cmsCIExyYTRIPLE adobe{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    const cmsCIExyYTRIPLE wide{{0.7347, 0.2653, 1.0}, {0.1152, 0.8264, 1.0}, {0.1566, 0.0177, 1.0}};
    // A curve given as a table of 1024 points, as many camera profiles carry it.
    std::vector<float> points(1024);
    for (std::size_t i = 0; i < points.size(); ++i)
        points[i] = float(std::pow(double(i) / 1023.0, 1.8));
    const struct {
        const char* what;
        std::vector<uint8_t> profile;
    } cases[] = {
        {"red and blue exchanged", SwapRedBlueProfile()},
        {"Adobe RGB's primaries, gamma 2.2", RgbProfile(adobe, cmsBuildGamma(nullptr, 563.0 / 256.0))},
        {"wide gamut, a curve of 1024 points",
         RgbProfile(wide, cmsBuildTabulatedToneCurveFloat(nullptr, cmsUInt32Number(points.size()), points.data()))},
    };
    const std::vector<uint8_t>& all = AllColours();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto conversion = TSrgbConversion::For(c.profile, TProfileInput::Bgr);
        ASSERT_NE(conversion, nullptr);
        std::vector<uint8_t> ours(all.size()), theirs(all.size());
        conversion->Convert(all.data(), ours.data(), all.size() / 3);
        cmsHPROFILE p = cmsOpenProfileFromMem(c.profile.data(), cmsUInt32Number(c.profile.size()));
        cmsHTRANSFORM t = cmsCreateTransform(p, TYPE_BGR_8, srgb, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC,
                                             cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE);
        cmsDoTransform(t, all.data(), theirs.data(), cmsUInt32Number(all.size() / 3));
        cmsDeleteTransform(t);
        cmsCloseProfile(p);
        int worst = 0;
        for (std::size_t i = 0; i < all.size(); ++i)
            worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
        EXPECT_LE(worst, 1);
    }
    cmsCloseProfile(srgb);
}
