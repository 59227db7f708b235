// Pictures read ahead: taken only as the file is now and with the same options, within the
// budget, and only for the files last asked for.

#include "app/Preload.h"

#include "Pictures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;

namespace {

std::string WriteBmp(const std::filesystem::path& file, uint8_t value, int32_t width = 6)
{
    TBitmap picture(width, 4, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < picture.Height(); ++y)
        std::fill_n(picture.ScanLine(y), picture.RowBytes(), uint8_t(value + y));
    picture.SaveToFile(file.string());
    return file.string();
}

TBitmap Read(const std::string& name, const TReadOptions& options = {})
{
    TBitmap picture;
    LoadPicture(name, picture, {}, options);
    return picture;
}

}  // namespace

TEST(Preload, TakenAsTheFileIsNowWithTheSameOptions)
{
    TempDir temp("nolvi2-preload");
    const std::string a = WriteBmp(temp.Path() / "a.bmp", 10);
    const std::string b = WriteBmp(temp.Path() / "b.bmp", 20);
    const std::string broken = (temp.Path() / "c.bmp").string();
    std::ofstream(broken) << "BM broken";
    const TBitmap expectedA = Read(a), expectedB = Read(b);

    TPreloader preloader;
    preloader.Want({a, b}, {});
    EXPECT_EQ(preloader.Kept(), (std::vector<std::string>{a, b}));
    preloader.WaitUntilRead();
    TBitmap picture(1, 1, TPixelFormat::pf24bit);
    ASSERT_TRUE(preloader.Take(b, {}, picture));
    EXPECT_TRUE(SamePixels(picture, expectedB));
    ASSERT_TRUE(preloader.Take(a, {}, picture));
    EXPECT_TRUE(SamePixels(picture, expectedA));
    EXPECT_FALSE(preloader.Take(a, {}, picture)) << "taken twice";

    struct Case {
        const char* what;
        std::string name;
        TReadOptions wanted, taken;
        void (*change)(const std::string&);
    };
    const Case cases[] = {
        {"other options", a, {}, {false, true}, nullptr},
        {"a broken file", broken, {}, {}, nullptr},
        {"a file written since", a, {}, {}, [](const std::string& n) { WriteBmp(n, 99, 7); }},
        {"a file removed since", b, {}, {}, [](const std::string& n) { std::filesystem::remove(n); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        preloader.Want({c.name}, c.wanted);
        preloader.WaitUntilRead();
        if (c.change)
            c.change(c.name);
        TBitmap untouched(1, 1, TPixelFormat::pf24bit);
        EXPECT_FALSE(preloader.Take(c.name, c.taken, untouched));
        EXPECT_EQ(untouched.Width(), 1);
    }
}

TEST(Preload, KeepsOnlyTheLastFilesAskedForWithinItsBudget)
{
    TempDir temp("nolvi2-preload");
    std::vector<std::string> names;
    for (const char* n : {"a.bmp", "b.bmp", "c.bmp"})
        names.push_back(WriteBmp(temp.Path() / n, 5));

    TPreloader preloader;
    preloader.Want(names, {});
    EXPECT_EQ(preloader.Kept(), (std::vector<std::string>{names[0], names[1]})) << "at most two";
    preloader.Want({names[2], (temp.Path() / "missing.bmp").string()}, {});
    EXPECT_EQ(preloader.Kept(), (std::vector<std::string>{names[2]}));
    preloader.WaitUntilRead();
    TBitmap picture;
    EXPECT_FALSE(preloader.Take(names[0], {}, picture)) << "dropped";
    EXPECT_TRUE(preloader.Take(names[2], {}, picture));

    // A picture beyond the budget is not kept.
    const std::size_t bytes = picture.Stride() * std::size_t(picture.Height());
    for (const std::size_t budget : {bytes - 1, bytes}) {
        TPreloader limited(budget);
        limited.Want({names[0]}, {});
        limited.WaitUntilRead();
        EXPECT_EQ(limited.Take(names[0], {}, picture), budget == bytes) << budget;
    }
}
