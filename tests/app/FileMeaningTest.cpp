// Reading shows a picture as its file means it on an sRGB screen: the colour profile that a
// JPEG, PNG or BMP file embeds is converted (the expected pixels come from Pillow with
// LittleCMS), and a JPEG's EXIF orientation is applied (as Pillow's exif_transpose does);
// with the options off, the stored pixels come out as they are.

#include "app/OpenPicture.h"
#include "platform/ColorProfile.h"
#include "platform/JPEGImage.h"

#include "ColorFixtures.h"
#include "Pictures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;

namespace {

void Shell(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The largest difference of any channel between the picture, made 24-bit, and the expected
// one; 999 when the sizes differ.
int Distance(TBitmap& picture, const RgbPicture& expected)
{
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    const int most = MaxDifference(picture, expected);
    return most < 0 ? 999 : most;
}

TBitmap Load(const std::string& name, TReadOptions options)
{
    TBitmap picture;
    LoadPicture(name, picture, {}, options);
    return picture;
}

// The same pixels once both are 24-bit.
bool SameAs24Bit(TBitmap& a, TBitmap& b)
{
    a.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetPixelFormat(TPixelFormat::pf24bit);
    return SamePixels(a, b);
}

}  // namespace

TEST(FileMeaning, EmbeddedProfilesAreConvertedToSrgb)
{
    TempDir temp;
    const std::string dir = temp.Path().string() + "/";
    WriteColourfulPpm(dir + "src.ppm");
    WriteBytes(dir + "swap.icc", SwapRedBlueProfile());
    WriteBytes(dir + "grey.icc", LinearGreyProfile());
    WriteBytes(dir + "cmyk.icc", CmykProfile());
    const std::string embed = "exiftool -q -overwrite_original '-ICC_Profile<=" + dir;

    // Each case: the file, the commands that make it without its profile, those that embed it,
    // and the profile to give the reference decoder when it does not read the file's own.
    const struct {
        const char* file;
        std::string make;
        std::string addProfile;
        std::string referenceProfile = {};
    } cases[] = {
        {"rgb.jpg", "cjpeg -quality 95 -sample 1x1 src.ppm > rgb.jpg", embed + "swap.icc' rgb.jpg"},
        {"grey.jpg", "cjpeg -grayscale -quality 95 src.ppm > grey.jpg", embed + "grey.icc' grey.jpg"},
        {"cmyk.jpg", "convert src.ppm -colorspace CMYK -quality 95 -sampling-factor 1x1 cmyk.jpg",
         embed + "cmyk.icc' cmyk.jpg"},
        // ImageMagick writes this one as a palette PNG: the palette is converted.
        {"rgb.png", "convert src.ppm rgb.png", "convert rgb.png -profile swap.icc rgb.png"},
        {"grey.png", "convert src.ppm -colorspace Gray grey.png", "convert grey.png -profile grey.icc grey.png"},
        {"rgb.bmp", "convert src.ppm BMP3:rgb.bmp", "convert src.ppm -profile swap.icc BMP:rgb.bmp", dir + "swap.icc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = dir + c.file;
        Shell("cd '" + dir + "' && " + c.make);
        TBitmap stored = Load(file, {.ColorProfile = true});
        Shell("cd '" + dir + "' && " + c.addProfile);

        const RgbPicture expected = ColourReference(file, file + ".ppm", false, c.referenceProfile);
        TBitmap converted = Load(file, {.ColorProfile = true});
        EXPECT_LE(Distance(converted, expected), 2);
        EXPECT_GT(Distance(stored, expected), 20) << "the profile must move the colours visibly";

        // Without the option the stored pixels, as the file without its profile gives them.
        TBitmap raw = Load(file, {.ColorProfile = false});
        EXPECT_TRUE(SameAs24Bit(raw, stored));
    }
}

TEST(FileMeaning, ProfilesThatChangeNothingOrCannotBeUsedLeaveThePixels)
{
    const std::vector<uint8_t> srgb = [] {
        cmsHPROFILE p = cmsCreate_sRGBProfile();
        return SavedProfile(p);
    }();
    EXPECT_TRUE(IsSrgbProfile(srgb));
    EXPECT_FALSE(IsSrgbProfile(SwapRedBlueProfile()));
    EXPECT_FALSE(IsSrgbProfile(LinearGreyProfile()));

    std::vector<uint8_t> truncated = SwapRedBlueProfile();
    truncated.resize(truncated.size() / 2);
    std::vector<uint8_t> garbage(600, 0x5A);
    const struct {
        const char* what;
        std::vector<uint8_t> profile;
        TProfileInput input;
    } cases[] = {
        {"sRGB", srgb, TProfileInput::Bgr},
        {"a truncated profile", truncated, TProfileInput::Bgr},
        {"no profile at all", garbage, TProfileInput::Bgr},
        {"an RGB profile for inks", SwapRedBlueProfile(), TProfileInput::Cmyk},
        {"a CMYK profile for RGB pixels", CmykProfile(), TProfileInput::Bgr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TSrgbConversion::For(c.profile, c.input), nullptr) << c.what;

    TBitmap picture(3, 2, TPixelFormat::pf24bit);
    picture.ScanLine(1)[2] = 200;
    ConvertToSrgb(picture, truncated);
    EXPECT_EQ(picture.ScanLine(1)[2], 200);
}

TEST(FileMeaning, ExifOrientationTurnsAJpeg)
{
    TempDir temp;
    const std::string dir = temp.Path().string() + "/";
    WriteColourfulPpm(dir + "src.ppm");
    Shell("cd '" + dir + "' && cjpeg -quality 100 -sample 1x1 src.ppm > plain.jpg");
    TBitmap plain = Load(dir + "plain.jpg", {});
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::string file = dir + "o" + std::to_string(orientation) + ".jpg";
        Shell("cd '" + dir + "' && exiftool -q -o " + file + " -Orientation#=" + std::to_string(orientation) +
            " -n plain.jpg");
        TBitmap turned = Load(file, {.AutoRotate = true});
        EXPECT_EQ(Distance(turned, ColourReference(file, file + ".ppm", true)), 0);
        TBitmap asStored = Load(file, {.AutoRotate = false});
        EXPECT_TRUE(SameAs24Bit(asStored, plain));
    }
}

TEST(FileMeaning, ExifOrientationIsReadFromEitherByteOrderAndNeverOutsideTheSegment)
{
    // "Exif\0\0", a TIFF header, IFD0 with one entry; value 6.
    const auto exif = [](bool little, uint16_t tag, uint16_t type, uint32_t count, uint16_t value) {
        std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0};
        const auto put16 = [&](uint16_t v) {
            little ? b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}) : b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
        };
        const auto put32 = [&](uint32_t v) {
            put16(uint16_t(little ? v : v >> 16));
            put16(uint16_t(little ? v >> 16 : v));
        };
        b.insert(b.end(), little ? std::initializer_list<uint8_t>{'I', 'I'} : std::initializer_list<uint8_t>{'M', 'M'});
        put16(42);
        put32(8);
        put16(1);
        put16(tag);
        put16(type);
        put32(count);
        put16(value);
        put16(0);
        put32(0);
        return b;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> data;
        int want;
    } cases[] = {
        {"little-endian", exif(true, 0x0112, 3, 1, 6), 6},
        {"big-endian", exif(false, 0x0112, 3, 1, 8), 8},
        {"another tag", exif(true, 0x0110, 3, 1, 6), 1},
        {"a LONG value", exif(true, 0x0112, 4, 1, 6), 1},
        {"out of range", exif(true, 0x0112, 3, 1, 9), 1},
        {"cut inside the entry", [&] { auto b = exif(true, 0x0112, 3, 1, 6); b.resize(20); return b; }(), 1},
        {"an IFD beyond the data", [&] { auto b = exif(true, 0x0112, 3, 1, 6); b[10] = 0xF0; return b; }(), 1},
        {"no EXIF header", {'J', 'F', 'I', 'F', 0, 0, 'I', 'I', 42, 0}, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExifOrientation(c.data.data(), c.data.size()), c.want) << c.what;
}
