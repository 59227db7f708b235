// Stepping through a folder with the neighbours read ahead: a step shows the picture read
// ahead while its file is unchanged, and nothing is read ahead with the setting off.
#include "WindowFixture.h"

#include "settings/OZIniFile2.h"

#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace nolvi2::test {

namespace {

// Rewrites a file with other pixels of the same size and gives it back its modification
// time: the same file for every test a viewer can make without reading it.
void ChangeKeepingIdentity(const std::string& name)
{
    struct stat before {};
    ASSERT_EQ(::stat(name.c_str(), &before), 0);
    std::fstream f(name, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(54);  // the first pixel of a BMP with a 40-byte header and no colour table
    f.put('\x7f');
    f.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
}

}  // namespace

TEST_F(Window, AStepShowsThePictureReadAheadWhileItsFileIsUnchanged)
{
    for (const bool preload : {true, false}) {
        SCOPED_TRACE(preload);
        const std::string a = MakePicture("a.bmp", 6, 4);
        const std::string b = MakePicture("b.bmp", 6, 4);
        TBitmap stored;
        stored.LoadFromFile(b);
        {
            TOZIniFile2 store;
            store.OpenSection("Config", true);
            store.WriteBool("PreloadNeighbours", preload);
            store.UpdateFile();
        }
        auto w = MakeWindow({a});
        for (int i = 0; i < (preload ? 200 : 20) && !w->Preloader(); ++i)
            QTest::qWait(10);
        ASSERT_EQ(w->Preloader() != nullptr, preload);
        if (preload) {
            EXPECT_EQ(w->Preloader()->Kept(), std::vector<std::string>{b});
            w->Preloader()->WaitUntilRead();
        }
        ChangeKeepingIdentity(b);
        TBitmap changed;
        changed.LoadFromFile(b);
        ASSERT_FALSE(SamePixels(changed, stored));

        w->Execute("actNextFile");
        EXPECT_EQ(w->FileName(), b);
        EXPECT_TRUE(SamePixels(w->Picture(), preload ? stored : changed));
        EXPECT_EQ(w->windowTitle(), QStringLiteral("b.bmp [6x4x24] @ 100%"));
    }
}

}  // namespace nolvi2::test
