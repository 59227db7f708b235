// The reading options in the window: every road that reads a file reads it with the options
// set, a change applies to the next reading and never re-reads the open picture, and a
// window started with a picture takes it as it is.
#include "WindowFixture.h"

#include "ExifJpeg.h"

namespace nolvi2::test {

namespace {

std::string Describe(const TReadOptions& o)
{
    return std::string("profile ") + (o.ColorProfile ? "on" : "off") + ", rotate " + (o.AutoRotate ? "on" : "off");
}

}  // namespace

TEST_F(Window, EveryReadingRoadUsesTheOptionsSet)
{
    const OrientedJpeg jpeg = MakeOrientedJpeg(dir.string());
    auto w = MakeWindow();
    const std::string other = MakePicture("other.bmp", 5, 5);

    // Each road, from a window showing another picture.
    const std::vector<std::pair<const char*, std::function<void()>>> roads = {
        {"open", [&] { w->OpenFile(jpeg.file); }},
        {"drop", [&] { w->FilesDropped({QUrl::fromLocalFile(QString::fromStdString(jpeg.file))}); }},
        {"recent", [&] {
             w->RecentMenu().AddFile(jpeg.file);
             w->RecentMenu().EntryItem(0)->trigger();
         }},
        {"reopen", [&] {
             w->OpenFile(jpeg.file);
             w->OpenFile(other);
             w->OpenFile(jpeg.file);  // read with the options of the case, then again:
             w->Execute("actReopen");
         }},
        {"step", [&] {
             w->OpenFile(jpeg.withoutProfile);  // the file before it in the folder
             w->Execute("actNextFile");
         }},
    };
    for (const TReadOptions& o : AllReadOptions()) {
        const RgbPicture expected = ExpectedReading(jpeg, o, (dir / "expected.ppm").string());
        for (const auto& [road, read] : roads) {
            w->Options().ApplyColorProfile = o.ColorProfile;
            w->Options().AutoRotate = o.AutoRotate;
            w->OpenFile(other);
            read();
            ASSERT_EQ(w->FileName(), jpeg.file) << road;
            const int diff = MaxDifference(w->Picture(), expected);
            EXPECT_GE(diff, 0) << road << ", " << Describe(o) << ": " << w->Picture().Width() << "x"
                               << w->Picture().Height();
            EXPECT_LE(diff, kReadingTolerance) << road << ", " << Describe(o);
        }
    }
    EXPECT_TRUE(messages.empty());
}

// The dialog's change leaves the open picture as it was read (the file is not read again: it is
// not even there), and the next reading follows it.
TEST_F(Window, AChangedOptionAppliesToTheNextReading)
{
    const OrientedJpeg jpeg = MakeOrientedJpeg(dir.string());
    auto w = MakeWindow();
    w->Options().ApplyColorProfile = false;
    w->Options().AutoRotate = false;
    w->OpenFile(jpeg.file);
    TBitmap shown;
    shown.Assign(w->Picture());
    ASSERT_EQ(shown.Width(), OrientedJpeg::Width);

    fs::rename(jpeg.file, dir / "away.jpg");
    services->preferences = [](TWindowOptions& options, const TPreferencesTargets&) {
        options.ApplyColorProfile = true;
        options.AutoRotate = true;
        return true;
    };
    w->Execute("actPreferences");
    EXPECT_TRUE(w->Options().ApplyColorProfile);
    EXPECT_TRUE(w->Options().AutoRotate);
    EXPECT_TRUE(SamePixels(w->Picture(), shown));
    EXPECT_TRUE(messages.empty());

    fs::rename(dir / "away.jpg", jpeg.file);
    w->Execute("actReopen");
    const RgbPicture expected = ExpectedReading(jpeg, {true, true}, (dir / "expected.ppm").string());
    const int diff = MaxDifference(w->Picture(), expected);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, kReadingTolerance);
}

}  // namespace nolvi2::test
