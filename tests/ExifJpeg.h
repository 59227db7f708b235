#pragma once
// JPEG files that carry an EXIF orientation and an ICC profile: the segments are written here
// byte by byte after the start-of-image marker of a plain JPEG file.
//   APP1: "Exif\0\0", a little-endian TIFF header and one IFD with the tag 0x0112 (SHORT).
//   APP2: "ICC_PROFILE\0", chunk 1 of 1, the profile's bytes (one chunk: under 64 KiB).

#include "ColorFixtures.h"
#include "app/OpenPicture.h"
#include "platform/Bitmap.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace nolvi2::test {

inline std::vector<uint8_t> ExifOrientationSegment(uint16_t orientation)
{
    std::vector<uint8_t> body = {'E', 'x', 'i', 'f', 0, 0,
                                 'I', 'I', 42, 0, 8, 0, 0, 0,  // TIFF header, IFD at 8
                                 1, 0,                          // one entry
                                 0x12, 0x01, 3, 0, 1, 0, 0, 0,  // orientation, SHORT, count 1
                                 uint8_t(orientation), uint8_t(orientation >> 8), 0, 0,
                                 0, 0, 0, 0};  // no next IFD
    const std::size_t length = body.size() + 2;
    std::vector<uint8_t> segment = {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)};
    segment.insert(segment.end(), body.begin(), body.end());
    return segment;
}

inline std::vector<uint8_t> IccProfileSegment(const std::vector<uint8_t>& profile)
{
    const std::string tag("ICC_PROFILE");
    const std::size_t length = 2 + tag.size() + 3 + profile.size();
    if (length > 0xFFFF)
        throw std::runtime_error("profile too large for one APP2 segment");
    std::vector<uint8_t> segment = {0xFF, 0xE2, uint8_t(length >> 8), uint8_t(length)};
    segment.insert(segment.end(), tag.begin(), tag.end());
    segment.insert(segment.end(), {0, 1, 1});
    segment.insert(segment.end(), profile.begin(), profile.end());
    return segment;
}

// Copies the JPEG file plain to out with the segments inserted after its SOI marker.
inline void WriteJpegWithSegments(const std::string& plain, const std::string& out,
                                  const std::vector<std::vector<uint8_t>>& segments)
{
    std::ifstream in(plain, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        throw std::runtime_error("not a JPEG file: " + plain);
    std::vector<uint8_t> result(bytes.begin(), bytes.begin() + 2);
    for (const auto& s : segments)
        result.insert(result.end(), s.begin(), s.end());
    result.insert(result.end(), bytes.begin() + 2, bytes.end());
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char*>(result.data()), std::streamsize(result.size()));
    if (!f)
        throw std::runtime_error("cannot write " + out);
}

// A picture of 24 x 16 whose every pixel differs, as JPEG at quality 100 with orientation 6
// (turned 90 degrees clockwise to show) and SwapRedBlueProfile; withoutProfile is the same
// file without the profile, for the reference of a reading that ignores it.
struct OrientedJpeg {
    std::string file;
    std::string withoutProfile;
    static constexpr int32_t Width = 24, Height = 16;
};

inline OrientedJpeg MakeOrientedJpeg(const std::string& dir)
{
    TBitmap b(OrientedJpeg::Width, OrientedJpeg::Height, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;  // blue, green, red
            p[0] = uint8_t(200 - 5 * x);
            p[1] = uint8_t(15 * y);
            p[2] = uint8_t(10 * x);
        }
    const std::string plain = dir + "/plain.jpg";
    SavePicture(plain, b, TSaveFormat::Jpeg, TJpegSettings{100, false});
    OrientedJpeg j{dir + "/oriented.jpg", dir + "/oriented-no-profile.jpg"};
    WriteJpegWithSegments(plain, j.file, {ExifOrientationSegment(6), IccProfileSegment(SwapRedBlueProfile())});
    WriteJpegWithSegments(plain, j.withoutProfile, {ExifOrientationSegment(6)});
    return j;
}

// The file as a reading with these options must give it, from the reference decoder.
inline RgbPicture ExpectedReading(const OrientedJpeg& j, const TReadOptions& options, const std::string& outPpm)
{
    return ColourReference(options.ColorProfile ? j.file : j.withoutProfile, outPpm, options.AutoRotate);
}


// The four combinations of the two reading options.
inline std::vector<TReadOptions> AllReadOptions()
{
    return {TReadOptions{true, true}, TReadOptions{true, false}, TReadOptions{false, true}, TReadOptions{false, false}};
}

// The tolerance of a comparison with the reference: both decode with libjpeg; the colour
// conversions may round differently.
constexpr int kReadingTolerance = 2;

}  // namespace nolvi2::test
