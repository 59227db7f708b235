#include "app/FolderWalk.h"
#include "app/OpenPicture.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace nolvi2;
namespace fs = std::filesystem;

namespace {

using nolvi2::test::TempDir;

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

TEST(NaturalOrder, Comparisons)
{
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"img2.jpg", "img10.jpg", -1},
        {"IMG2.jpg", "img10.jpg", -1},
        {"img2.jpg", "IMG10.jpg", -1},
        {"a.jpg", "B.jpg", -1},
        {"B.jpg", "a.jpg", 1},
        {"file", "file1", -1},
        {"x9y", "x10", -1},
        {"img007", "img8", -1},
        {"img99999999999999999999", "img100000000000000000000", -1},  // beyond 64 bits
        {"a-1", "a1", -1},                                              // '-' before digits
        {"a_1", "a1", 1},                                               // '_' after digits
        {"same", "same", 0},
        // Equal but for case or leading zeros: still a fixed order, by bytes.
        {"A.jpg", "a.jpg", -1},
        {"img01", "img1", -1},
        {"\xff.jpg", "z.jpg", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(NaturalCompare(c.a, c.b)), c.order) << c.a << " " << c.b;
        EXPECT_EQ(Sign(NaturalCompare(c.b, c.a)), -c.order) << c.b << " " << c.a;
    }
}

TEST(FolderWalk, NextAndPreviousOverAListing)
{
    const std::vector<std::string> entries = {"a.bmp", "b.txt", "c.jpg"};
    const TFileFilter supported = IsSupportedFile;
    EXPECT_EQ(NextFileOf("/d/a.bmp", entries, supported), "/d/c.jpg");
    EXPECT_EQ(NextFileOf("/d/c.jpg", entries, supported), std::nullopt);  // no wrap-around
    EXPECT_EQ(PrevFileOf("/d/c.jpg", entries, supported), "/d/a.bmp");
    EXPECT_EQ(PrevFileOf("/d/a.bmp", entries, supported), std::nullopt);
    const std::vector<std::string> withPng = {"a.bmp", "b.txt", "c.png"};
    EXPECT_EQ(NextFileOf("/d/c.png", withPng, supported), std::nullopt);
    EXPECT_EQ(PrevFileOf("/d/c.png", withPng, supported), "/d/a.bmp");
    // The current file may be unsupported itself.
    EXPECT_EQ(NextFileOf("/d/b.txt", entries, supported), "/d/c.jpg");
    // A current file that is gone: next finds nothing, previous takes the last supported one.
    EXPECT_EQ(NextFileOf("/d/0.bmp", entries, supported), std::nullopt);
    EXPECT_EQ(PrevFileOf("/d/zz.bmp", entries, supported), "/d/c.jpg");
    EXPECT_EQ(PrevFileOf("/d/x.bmp", {}, supported), std::nullopt);
    // The name matches without regard to case.
    EXPECT_EQ(NextFileOf("/d/A.BMP", entries, supported), "/d/c.jpg");
    // A name without a folder steps in the working folder's listing.
    EXPECT_EQ(NextFileOf("a.bmp", entries, supported), "c.jpg");
}

TEST(FolderWalk, NamesDifferingOnlyInCaseAreDistinctFiles)
{
    // Linux keeps both; stepping must move on from the exact one, not land on it again.
    const std::vector<std::string> entries = {"A.jpg", "a.jpg", "b.jpg"};
    const TFileFilter all = [](const std::string&) { return true; };
    EXPECT_EQ(NextFileOf("/d/a.jpg", entries, all), "/d/b.jpg");
    EXPECT_EQ(PrevFileOf("/d/a.jpg", entries, all), "/d/A.jpg");
    EXPECT_EQ(NextFileOf("/d/A.jpg", entries, all), "/d/a.jpg");
    EXPECT_EQ(PrevFileOf("/d/A.jpg", entries, all), std::nullopt);
    // No exact match: the first one without regard to case.
    EXPECT_EQ(NextFileOf("/d/A.JPG", entries, all), "/d/a.jpg");
}

TEST(FolderWalk, ListsRegularVisibleFilesInNaturalOrder)
{
    TempDir temp("nolvi2-walk");
    const std::string dir = temp.Path().string() + "/";
    for (const char* name : {"img10.jpg", "img2.jpg", "IMG3.bmp", ".hidden.jpg", "notes.txt", "\xff\xfe.jpg"})
        std::ofstream(dir + name) << "x";
    fs::create_directory(dir + "folder.jpg");
    ASSERT_EQ(::mkfifo((dir + "pipe.jpg").c_str(), 0600), 0);
    fs::create_symlink(dir + "img2.jpg", dir + "link.jpg");
    fs::create_symlink(dir + "missing.jpg", dir + "broken.jpg");

    const std::vector<std::string> expected = {"img2.jpg", "IMG3.bmp", "img10.jpg", "link.jpg", "notes.txt",
                                               "\xff\xfe.jpg"};
    EXPECT_EQ(ListFolderFiles(dir), expected);
    // Without the trailing separator too.
    EXPECT_EQ(ListFolderFiles(dir.substr(0, dir.size() - 1)), expected);

    EXPECT_EQ(NextFile(dir + "img2.jpg"), dir + "IMG3.bmp");
    EXPECT_EQ(NextFile(dir + "IMG3.bmp"), dir + "img10.jpg");
    EXPECT_EQ(NextFile(dir + "link.jpg"), dir + "\xff\xfe.jpg");  // past notes.txt
    EXPECT_EQ(NextFile(dir + "\xff\xfe.jpg"), std::nullopt);
    EXPECT_EQ(PrevFile(dir + "img2.jpg"), std::nullopt);
    EXPECT_EQ(PrevFile(dir + "\xff\xfe.jpg"), dir + "link.jpg");
    // The hidden file is not in the listing: previous from it opens the last supported file.
    EXPECT_EQ(PrevFile(dir + ".hidden.jpg"), dir + "\xff\xfe.jpg");
    EXPECT_EQ(NextFile(dir + ".hidden.jpg"), std::nullopt);
}

TEST(FolderWalk, UnreadableFolderGivesNothing)
{
    TempDir temp("nolvi2-walk");
    const std::string dir = temp.Path().string() + "/";
    const std::string gone = dir + "no-such-folder/";
    EXPECT_TRUE(ListFolderFiles(gone).empty());
    EXPECT_EQ(NextFile(gone + "a.jpg"), std::nullopt);
    EXPECT_EQ(PrevFile(gone + "a.jpg"), std::nullopt);

    const std::string locked = dir + "locked/";
    fs::create_directory(locked);
    std::ofstream(locked + "a.jpg") << "x";
    std::ofstream(locked + "b.jpg") << "x";
    ::chmod(locked.c_str(), 0);
    if (::geteuid() != 0) {  // root reads it anyway
        EXPECT_TRUE(ListFolderFiles(locked).empty());
        EXPECT_EQ(PrevFile(locked + "b.jpg"), std::nullopt);
    }
    ::chmod(locked.c_str(), 0700);
}
