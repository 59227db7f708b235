// Opening files in the window: stepping past files that cannot be read, names that are not
// UTF-8 (from the command line, a drop and a step), names that are not regular files, and the
// filters of the file dialogs.

#include "WindowFixture.h"

#include "app/EarlyRead.h"
#include "app/OpenPicture.h"

#include <QTest>

#include <sys/stat.h>

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

// A JPEG whose rows take a while to decode, so that its start is seen part by part.
std::string MakeLargeJpeg(const fs::path& file)
{
    const TBitmap noisy = NoisyPicture(3000, 2000, 7);
    SavePicture(file.string(), noisy, TSaveFormat::Jpeg);
    return file.string();
}

}  // namespace

TEST_F(Window, StepsGoPastAFileThatCannotBeOpened)
{
    MakePicture("a.bmp", 4, 4);
    std::ofstream((dir / "b.bmp").string(), std::ios::binary) << "BM broken";
    MakePicture("c.bmp", 6, 6);
    auto w = MakeWindow({(dir / "a.bmp").string()});
    const QString title = w->windowTitle();

    w->Execute("actNextFile");  // b.bmp fails: the picture, title and name stay
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("b.bmp")));
    EXPECT_EQ(fs::path(w->FileName()).filename(), "a.bmp");
    EXPECT_EQ(w->windowTitle(), title);
    w->Execute("actNextFile");  // the next press goes past it
    EXPECT_EQ(fs::path(w->FileName()).filename(), "c.bmp");
    EXPECT_EQ(w->Picture().Width(), 6);

    w->Execute("actPrevFile");
    w->Execute("actPrevFile");
    EXPECT_EQ(fs::path(w->FileName()).filename(), "a.bmp");
    EXPECT_EQ(messages.size(), 2u);

    // After a successful open (here a reopen) the steps start from the open file again.
    w->Execute("actNextFile");
    w->Execute("actReopen");
    messages.clear();
    w->Execute("actNextFile");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("b.bmp")));
    EXPECT_EQ(fs::path(w->FileName()).filename(), "a.bmp");
}

TEST_F(Window, NamesThatAreNotUtf8OpenFromEveryRoad)
{
    const std::string latin1 = (dir / "caf\xe9.bmp").string();  // "café" in Latin-1
    const std::string other = (dir / "d\xff.bmp").string();
    MakePicture("caf\xe9.bmp", 5, 5);
    MakePicture("d\xff.bmp", 7, 7);

    auto w = MakeWindow({latin1});
    EXPECT_EQ(w->FileName(), latin1);
    EXPECT_EQ(w->Picture().Width(), 5);

    w->Execute("actNextFile");
    EXPECT_EQ(w->FileName(), other);

    // A drop gives the path percent-encoded; its bytes are the name.
    auto dropped = MakeWindow();
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), "file://" + QByteArray::fromStdString(latin1).toPercentEncoding("/") + "\r\n");
    dropped->FilesDropped(data.urls());
    EXPECT_EQ(dropped->FileName(), latin1);
    EXPECT_EQ(dropped->Picture().Width(), 5);
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
}

TEST_F(Window, NamesThatAreNotRegularFilesGiveAMessageAtOnce)
{
    const std::string good = MakePicture("good.bmp", 10, 10);
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.bmp");
    auto w = MakeWindow({good});
    for (const char* name : {"pipe.jpg", "folder.bmp"}) {
        messages.clear();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / name).string()))});
        w->FilesDropped(data.urls());
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_TRUE(messages[0].text.contains(QString::fromUtf8(name))) << name;
        EXPECT_TRUE(messages[0].text.contains(QStringLiteral("通常のファイルではありません"))) << name;
        EXPECT_EQ(w->FileName(), good);
    }

    // A file without a picture is an error naming it, and leaves the window as it was.
    messages.clear();
    std::ofstream((dir / "empty.png").string(), std::ios::binary) << "\x89PNG\r\n\x1a\n";
    w->FilesDropped({QUrl::fromLocalFile(QString::fromStdString((dir / "empty.png").string()))});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("画像が含まれていません。\r") + QString::fromStdString((dir / "empty.png").string()));
    EXPECT_EQ(w->FileName(), good);
    EXPECT_EQ(w->Picture().Width(), 10);
}


// A drop returns at once, so that the drag's source is not kept waiting: the file opens, and a
// message about it shows, after the drop event.
TEST_F(Window, ADropOpensAfterItsEvent)
{
    const std::string good = MakePicture("good.bmp", 10, 10);
    auto w = MakeWindow();
    const auto drop = [&](const std::string& name) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(name))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &event);
        EXPECT_TRUE(event.isAccepted());
    };
    drop((dir / "notes.txt").string());
    EXPECT_TRUE(messages.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("未対応のファイルです。"))) << messages[0].text.toStdString();

    drop(good);
    EXPECT_TRUE(w->Picture().Empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(w->FileName(), good);
    EXPECT_EQ(w->Picture().Width(), 10);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(Window, ThePictureReadWhileTheWindowStartsShowsAsAReadAfterIt)
{
    // A BMP is read whole before its size is known; a JPEG tells its size from its header, and
    // the window shows at that size while the rows are decoded, opening the picture after.
    for (const char* name : {"a.bmp", "a.jpg"}) {
        SCOPED_TRACE(name);
        const std::string bmp = MakePicture("a.bmp", 900, 700);
        std::string file = bmp;
        if (std::string(name) == "a.jpg") {
            TBitmap picture;
            picture.LoadFromFile(bmp);
            file = (dir / name).string();
            SavePicture(file, picture, TSaveFormat::Jpeg);
        }
        TBitmap read;
        const QString title = OpenedNormally(file, read);
        StartEarlyRead({file});
        auto w = MakeWindow({file});
        for (int i = 0; i < 200 && w->FileName() != file; ++i)
            QTest::qWait(5);
        TBitmap unused;
        EXPECT_FALSE(TakeEarlyRead(file, {}, unused)) << "the window did not take the early read";
        EXPECT_TRUE(SamePixels(w->Picture(), read));
        EXPECT_EQ(w->windowTitle(), title);
        EXPECT_EQ(w->FileName(), file);
    }
}

TEST_F(Window, TheStartPictureShowsThePartInViewWhileTheRestIsDecoded)
{
    const std::string file = MakeLargeJpeg(dir / "large.jpg");
    TBitmap read;
    const QString title = OpenedNormally(file, read);
    StartEarlyRead({file});
    // Asked for here at once, so that the part is there however slow the window is to start.
    ASSERT_TRUE(AskEarlyReadPart(file, {}, 2000, 1500));
    auto w = MakeWindow({file});
    EXPECT_EQ(w->windowTitle(), title) << "the title the picture will have, from the header";
    w->StartReadChanged();  // takes the part (it waits for it here: the test asked at once)
    ASSERT_TRUE(w->Picture().Empty()) << "still decoding";
    const QImage shot = w->grab().toImage();
    const QSize client = w->DeviceClientSize();
    ASSERT_GT(client.width(), 0);
    for (int32_t y = 0; y < client.height(); ++y)
        for (int32_t x = 0; x < client.width(); ++x) {
            const uint8_t* p = read.ScanLine(y) + 3 * x;
            ASSERT_EQ(shot.pixel(x, y) & 0xFFFFFF, uint32_t(p[2] << 16 | p[1] << 8 | p[0])) << x << "," << y;
        }
    for (int i = 0; i < 400 && w->FileName() != file; ++i)
        QTest::qWait(5);
    EXPECT_TRUE(SamePixels(w->Picture(), read));
    EXPECT_EQ(w->windowTitle(), title);
}

TEST_F(Window, InputWhileTheStartPictureIsDecodedWaitsForIt)
{
    const std::string file = MakeLargeJpeg(dir / "large.jpg");
    StartEarlyRead({file});
    auto w = MakeWindow({file});
    ASSERT_TRUE(w->Picture().Empty()) << "still decoding";
    EXPECT_EQ(w->cursor().shape(), Qt::WaitCursor);
    QTest::keyClick(w.get(), Qt::Key_Up);  // zoom in: a command for a picture
    EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(w->Picture().Width(), 3000);
    EXPECT_EQ(w->FileName(), file);
    EXPECT_GT(w->Zoom(), 1.0f);
}

