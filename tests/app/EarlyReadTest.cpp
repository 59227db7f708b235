// The command line's picture read while the window starts: the window takes it only when it
// is the read it would make itself, and takes exactly what that read gives.

#include "app/EarlyRead.h"
#include "settings/OZIniFile2.h"

#include "ColorFixtures.h"
#include "ExifJpeg.h"
#include "Pictures.h"
#include "SettingsSandbox.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;

namespace {

std::string WriteJpeg(const std::filesystem::path& file)
{
    TBitmap picture(40, 30, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < picture.Height(); ++y)
        for (int32_t x = 0; x < picture.Width() * 3; ++x)
            picture.ScanLine(y)[x] = uint8_t(x * 5 + y * 7);
    SavePicture(file.string(), picture, TSaveFormat::Jpeg);
    return file.string();
}

}  // namespace

TEST(EarlyRead, TakenOnlyForTheSameFileAndOptions)
{
    SettingsSandbox settings;
    TempDir temp("nolvi2-early");
    const std::string jpeg = WriteJpeg(temp.Path() / "a.jpg");
    std::ofstream(temp.Path() / "broken.jpg") << "not a JPEG";
    TBitmap expected;
    LoadPicture(jpeg, expected);

    struct Case {
        const char* what;
        std::vector<std::string> parameters;
        std::string taken;
        TReadOptions options;
        bool take;
    };
    const std::string broken = (temp.Path() / "broken.jpg").string();
    const Case cases[] = {
        {"the same file", {jpeg}, jpeg, {}, true},
        {"the first of several", {jpeg, broken}, jpeg, {}, true},
        {"after a position", {"pos:10,20", jpeg}, jpeg, {}, true},
        {"another file", {jpeg}, broken, {}, false},
        {"other options", {jpeg}, jpeg, {false, true}, false},
        {"a failed read (the window reads and reports it)", {broken}, broken, {}, false},
        {"a picture handed over", {"common:nolvi", "3", "100"}, jpeg, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartEarlyRead(c.parameters);
        TBitmap picture(2, 2, TPixelFormat::pf24bit);
        ASSERT_EQ(TakeEarlyRead(c.taken, c.options, picture), c.take);
        if (c.take)
            EXPECT_TRUE(SamePixels(picture, expected));
        else
            EXPECT_EQ(picture.Width(), 2) << "the picture was changed";
        EXPECT_FALSE(TakeEarlyRead(c.taken, c.options, picture)) << "an early read is taken once";
    }
}

TEST(EarlyRead, ReadsWithTheStoredOptions)
{
    SettingsSandbox settings(false);
    TempDir temp("nolvi2-early");
    const std::string jpeg = WriteJpeg(temp.Path() / "a.jpg");
    TOZIniFile2::InitializeStore(isRegistry);
    {
        TOZIniFile2 store;
        store.OpenSection("Config", true);
        store.WriteBool("AutoRotate", false);
        store.UpdateFile();
    }
    StartEarlyRead({jpeg});
    TBitmap picture;
    EXPECT_FALSE(TakeEarlyRead(jpeg, TReadOptions{}, picture));
    StartEarlyRead({jpeg});
    EXPECT_TRUE(TakeEarlyRead(jpeg, TReadOptions{true, false}, picture));
}

TEST(EarlyRead, TellsTheSizeTheReadIsMaking)
{
    SettingsSandbox settings;
    TempDir temp("nolvi2-early");
    const std::string jpeg = WriteJpeg(temp.Path() / "a.jpg");  // 40 x 30
    const std::string turned = (temp.Path() / "turned.jpg").string();
    WriteJpegWithSegments(jpeg, turned, {ExifOrientationSegment(6)});
    TBitmap bitmap(5, 4, TPixelFormat::pf24bit);
    const std::string bmp = (temp.Path() / "b.bmp").string();
    bitmap.SaveToFile(bmp);
    const std::string broken = (temp.Path() / "broken.jpg").string();
    std::ofstream(broken) << "not a JPEG";

    struct Case {
        std::string name;
        TReadOptions options;
        int32_t width, height;
        bool complete;
    };
    const Case cases[] = {
        {jpeg, {}, 40, 30, false},          // from the header
        {turned, {}, 30, 40, false},        // as the picture will stand
        {turned, {true, false}, 40, 30, false},
        {bmp, {}, 5, 4, true},              // once read
        {broken, {}, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TOZIniFile2 store;
        store.OpenSection("Config", true);
        store.WriteBool("AutoRotate", c.options.AutoRotate);
        store.UpdateFile();
        StartEarlyRead({c.name});
        EXPECT_FALSE(EarlyReadSize(c.name + "x", c.options));
        const std::optional<TEarlySize> size = EarlyReadSize(c.name, c.options);
        ASSERT_TRUE(size);
        EXPECT_EQ(size->Width, c.width);
        EXPECT_EQ(size->Height, c.height);
        EXPECT_EQ(size->Complete, c.complete);
        TBitmap taken;
        TakeEarlyRead(c.name, c.options, taken);
        EXPECT_FALSE(EarlyReadSize(c.name, c.options)) << "after the read is taken";
    }
}

// The part in view, copied while the rest is decoded, is exactly the top-left of the picture
// the read gives: rows are copied only once they are final, colours converted; a picture its
// orientation turns gives no part.
TEST(EarlyRead, GivesThePartInViewAsThePictureWillHaveIt)
{
    SettingsSandbox settings;
    TempDir temp("nolvi2-early");
    // Large enough that its rows take a while: the part is asked for long before the end.
    const TBitmap noisy = NoisyPicture(3000, 2000, 1);
    const std::string plain = (temp.Path() / "plain.jpg").string();
    SavePicture(plain, noisy, TSaveFormat::Jpeg);
    const std::string profiled = (temp.Path() / "profiled.jpg").string();
    WriteJpegWithSegments(plain, profiled, {IccProfileSegment(SwapRedBlueProfile())});
    const std::string turned = (temp.Path() / "turned.jpg").string();
    WriteJpegWithSegments(plain, turned, {ExifOrientationSegment(6)});
    const std::string broken = (temp.Path() / "broken.jpg").string();
    std::ofstream(broken) << "not a JPEG";

    struct Case {
        const char* what;
        std::string file;
        bool autoRotate;
        int32_t width, height;
        bool part;
    };
    const Case cases[] = {
        {"a part", plain, true, 700, 500, true},
        {"colours converted behind the decoder", profiled, true, 3000, 1500, true},
        {"larger than the picture: all of it", plain, true, 5000, 5000, true},
        {"turned by its orientation", turned, true, 700, 500, false},
        {"not turned when rotation is off", turned, false, 700, 500, true},
        {"a broken file", broken, true, 700, 500, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            TOZIniFile2 store;
            store.OpenSection("Config", true);
            store.WriteBool("AutoRotate", c.autoRotate);
            store.UpdateFile();
        }
        const TReadOptions options{true, c.autoRotate};
        StartEarlyRead({c.file});
        EXPECT_FALSE(AskEarlyReadPart(c.file + "x", options, c.width, c.height));
        EXPECT_FALSE(AskEarlyReadPart(c.file, TReadOptions{false, c.autoRotate}, c.width, c.height));
        ASSERT_TRUE(AskEarlyReadPart(c.file, options, c.width, c.height));
        EXPECT_FALSE(AskEarlyReadPart(c.file, options, c.width, c.height)) << "one part per read";
        const std::unique_ptr<TBitmap> part = TakeEarlyReadPart();
        EXPECT_FALSE(TakeEarlyReadPart()) << "the part is taken once";
        TBitmap picture;
        const bool read = TakeEarlyRead(c.file, options, picture);
        ASSERT_EQ(part != nullptr, c.part);
        if (!part)
            continue;
        ASSERT_TRUE(read);
        ASSERT_EQ(part->Width(), std::min(c.width, picture.Width()));
        ASSERT_EQ(part->Height(), std::min(c.height, picture.Height()));
        for (int32_t y = 0; y < part->Height(); ++y)
            ASSERT_EQ(std::memcmp(part->ScanLine(y), picture.ScanLine(y), std::size_t(part->Width()) * 3), 0)
                << "row " << y;
    }
    StartEarlyRead({plain});
    EXPECT_FALSE(TakeEarlyReadPart()) << "none was asked for";
    TBitmap unused;
    TakeEarlyRead(plain, {}, unused);
}

