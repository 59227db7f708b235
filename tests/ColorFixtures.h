#pragma once
// ICC profiles for the tests of colour conversion, made with LittleCMS so that no profile file
// has to ship with the tests, and the reference decoder that the expected pixels come from.
//   SwapRedBlueProfile: an RGB profile whose red primary is sRGB's blue and whose blue primary
//     is sRGB's red, with sRGB's curve; a file that stores (255, 0, 0) means sRGB blue.
//   LinearGreyProfile: a grey profile with a linear curve; stored grey 128 means sRGB 188.
//   CmykProfile: a CMYK input profile (CMYK to Lab through a table of the simple ink
//     formula with the cyan and yellow inks exchanged), for CMYK JPEG and TIFF files: cyan
//     ink alone, which the simple formula shows as (0, 255, 255), means yellow (255, 255, 0).
// ColourReference runs tests/tools/colour_reference.py (Pillow with LittleCMS) on a file.

#include "platform/Bitmap.h"

#include <lcms2.h>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace nolvi2::test {

inline std::vector<uint8_t> SavedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    std::vector<uint8_t> bytes;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(size);
        cmsSaveProfileToMem(profile, bytes.data(), &size);
    }
    if (profile)
        cmsCloseProfile(profile);
    if (bytes.empty())
        throw std::runtime_error("cannot make a test profile");
    return bytes;
}

inline std::vector<uint8_t> SwapRedBlueProfile()
{
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.1500, 0.0600, 1.0}, {0.3000, 0.6000, 1.0}, {0.6400, 0.3300, 1.0}};
    const double params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return SavedProfile(p);
}

inline std::vector<uint8_t> LinearGreyProfile()
{
    const cmsCIExyY d50{0.3457, 0.3585, 1.0};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE p = cmsCreateGrayProfile(&d50, linear);
    cmsFreeToneCurve(linear);
    return SavedProfile(p);
}

namespace detail {
// CMYK (0 = no ink) to Lab through sRGB: r = (1 - y)(1 - k), g = (1 - m)(1 - k),
// b = (1 - c)(1 - k): the simple formula with cyan and yellow exchanged.
inline cmsInt32Number SampleCmyk(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo)
{
    auto* toLab = static_cast<cmsHTRANSFORM>(cargo);
    const double k = 1.0 - in[3] / 65535.0;
    cmsUInt16Number rgb[3];
    for (int i = 0; i < 3; ++i)
        rgb[i] = cmsUInt16Number((1.0 - in[2 - i] / 65535.0) * k * 65535.0 + 0.5);
    cmsDoTransform(toLab, rgb, out, 1);
    return TRUE;
}
}  // namespace detail

inline std::vector<uint8_t> CmykProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigInputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(clut, detail::SampleCmyk, toLab, 0);
    // The A curves, the table and the B curves that an AToB tag needs (identity curves).
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(lut, cmsAT_END, clut);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(p, cmsSigAToB0Tag, lut);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", "nolvi2 test CMYK");
    cmsWriteTag(p, cmsSigProfileDescriptionTag, text);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsMLUfree(text);
    cmsPipelineFree(lut);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return SavedProfile(p);
}

inline void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        throw std::runtime_error("cannot write " + name);
}

// A 16 × 8 binary PPM of many colours, each column and row its own, so that a turn, a mirror
// or an exchange of channels shows.
inline void WriteColourfulPpm(const std::string& name)
{
    std::string ppm = "P6 16 8 255\n";
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            ppm += {char(x * 16), char(y * 32), char(255 - x * 16)};
    WriteBytes(name, std::vector<uint8_t>(ppm.begin(), ppm.end()));
}

// An RGB picture, top row first, 3 bytes a pixel.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return rgb.data() + (std::size_t(y) * width + x) * 3; }
};

// The largest difference of a channel between picture (24 bits) and reference; -1 when their
// sizes differ.
inline int MaxDifference(const TBitmap& picture, const RgbPicture& reference)
{
    if (picture.Width() != reference.width || picture.Height() != reference.height ||
        picture.PixelFormat() != TPixelFormat::pf24bit)
        return -1;
    int most = 0;
    for (int32_t y = 0; y < picture.Height(); ++y)
        for (int32_t x = 0; x < picture.Width(); ++x) {
            const uint8_t* p = picture.ScanLine(y) + 3 * x;
            const uint8_t* r = reference.At(x, y);
            for (int c = 0; c < 3; ++c)
                most = std::max(most, std::abs(int(p[2 - c]) - int(r[c])));
        }
    return most;
}

// Reads a binary PPM (P6, maxval 255).
inline RgbPicture ReadPpm(const std::string& name)
{
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f)
        throw std::runtime_error("cannot read " + name);
    RgbPicture p;
    int maxval = 0;
    const bool ok = std::fscanf(f, "P6 %d %d %d", &p.width, &p.height, &maxval) == 3 && maxval == 255 &&
                    std::fgetc(f) != EOF && p.width > 0 && p.height > 0;
    if (ok) {
        p.rgb.resize(std::size_t(p.width) * p.height * 3);
        if (std::fread(p.rgb.data(), 1, p.rgb.size(), f) != p.rgb.size())
            p.rgb.clear();
    }
    std::fclose(f);
    if (p.rgb.empty())
        throw std::runtime_error("not a PPM: " + name);
    return p;
}

// The file as Pillow decodes it, converted to sRGB with its embedded profile (or with the
// profile file given) and, with orient, turned by its EXIF orientation; alpha is dropped,
// leaving the colour stored under it.
inline RgbPicture ColourReference(const std::string& file, const std::string& out, bool orient = false,
                                  const std::string& profile = {})
{
    // Debian's Python, which python3-pil serves.
    std::string command = "/usr/bin/python3 '" NOLVI2_SOURCE_DIR "/tests/tools/colour_reference.py' '" + file + "' '" + out + "'";
    if (orient)
        command += " --orient";
    if (!profile.empty())
        command += " --profile '" + profile + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("the reference decoder failed: " + command);
    return ReadPpm(out);
}

}  // namespace nolvi2::test
