// The window with picture plug-ins: found through the shared Susie folder of the key store,
// offered in the open dialog, opened and stepped through like the built-in formats.
#include "WindowFixture.h"

#include "app/EarlyRead.h"
#include "app/OpenPicture.h"
#include "platform/KeyStore.h"
#include "susie/SPIs.h"

#include <QTest>

namespace nolvi2::test {

namespace {

// The plug-ins of the tests, copied into a folder that the key store names as the shared
// Susie folder.
std::string SusieFolder(const fs::path& dir, std::initializer_list<const char*> plugins)
{
    fs::create_directories(dir);
    for (const char* p : plugins)
        fs::copy_file(fs::path(NOLVI2_SPI_FIXTURES) / (std::string(p) + ".spi"), dir / (std::string(p) + ".spi"));
    TRegistry reg;
    EXPECT_TRUE(reg.OpenKey("Software\\Yurokan\\Susie\\Plug-in", true));
    reg.WriteString("Path", dir.string());
    reg.CloseKey();
    return dir.string();
}

std::string WritePic(const fs::path& file, uint8_t v)
{
    std::ofstream(file, std::ios::binary) << "TPIC" << char(v);
    return file.string();
}

}  // namespace

TEST_F(Window, PluginFormatsOpenStepAndAreOffered)
{
    SusieFolder(dir / "susie", {"t_pic"});
    const std::string a = WritePic(dir / "a.pic", 10);
    const std::string b = MakePicture("b.bmp", 5, 4);
    const std::string c = WritePic(dir / "c.pi", 20);
    std::ofstream(dir / "d.txt") << "not a picture";
    QStringList titles;
    auto w = MakeWindow({a});
    ASSERT_NE(w->SPIs(), nullptr);
    EXPECT_EQ(w->SPIs()->Count(), 1);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("a.pic [3x2x24] @ 100%"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(IsSupportedFile(c));
    EXPECT_TRUE(OpenDialogFilter().starts_with("読み込み可能なファイル (*.pi *.pic *.jpg *.jpeg *.png)"))
        << OpenDialogFilter();

    QObject::connect(w.get(), &QWidget::windowTitleChanged, [&](const QString& t) { titles << t; });
    w->Execute("actNextFile");
    EXPECT_EQ(w->FileName(), b);
    w->Execute("actNextFile");
    EXPECT_EQ(w->FileName(), c);
    EXPECT_EQ(w->Picture().ScanLine(0)[2], 20);  // red of (0, 0): v
    EXPECT_TRUE(titles.contains(QStringLiteral("作業中 51% 完了"))) << titles.join(" | ").toStdString();
    w->Execute("actPrevFile");
    EXPECT_EQ(w->FileName(), b);
}

TEST_F(Window, APluginPictureReadWhileTheWindowStartsShowsAsAReadAfterIt)
{
    SusieFolder(dir / "susie", {"t_pic"});
    const std::string a = WritePic(dir / "a.pic", 10);
    StartEarlyRead({a});
    auto w = MakeWindow({a});
    // The plug-in tells the size first: the window shows at it, with the title the picture
    // will have, and opens the picture when the read ends.
    EXPECT_TRUE(w->Picture().Empty());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("a.pic [3x2x24] @ 100%"));
    for (int i = 0; i < 200 && w->FileName() != a; ++i)
        QTest::qWait(5);
    TBitmap unused;
    EXPECT_FALSE(TakeEarlyRead(a, {}, unused)) << "the window did not take the early read";
    ASSERT_NE(w->SPIs(), nullptr);
    EXPECT_EQ(w->SPIs()->Count(), 1);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("a.pic [3x2x24] @ 100%"));
    EXPECT_EQ(w->Picture().ScanLine(0)[2], 10);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, StartUpGoesOnAfterAPluginSearchFails)
{
    SusieFolder(dir / "susie", {"t_nogetpicture"});
    const std::string b = MakePicture("b.bmp", 5, 4);
    auto w = MakeWindow({b});
    // A picture of a built-in format opens before the plug-ins are searched; the search, and
    // the report of its failure, come once the window has shown.
    EXPECT_EQ(TSPIs::GetSPIs()->Count(), 0);
    EXPECT_TRUE(messages.empty());
    for (int i = 0; i < 100 && messages.empty(); ++i)
        QTest::qWait(10);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("GetPictureは["))) << messages[0].text.toStdString();
    EXPECT_EQ(w->FileName(), b);
    // While a failure is shown, the title no longer shows progress.
    SusieFolder(dir / "susie2", {"t_pic"});
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Yurokan\\Susie\\Plug-in", false));
    messages.clear();
    w.reset();
    w = MakeWindow({b});
    QString titleAtMessage;
    services->answer = [&](const QString&, TMsgDlgType, TMsgDlgButtons) {
        titleAtMessage = w->windowTitle();
        return int(mrOk);
    };
    std::ofstream(dir / "broken.pic") << "TPI";
    w->FilesDropped({QUrl::fromLocalFile(QString::fromStdString((dir / "broken.pic").string()))});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Susie Plugins could not decode\r" + QString::fromStdString((dir / "broken.pic").string()));
    EXPECT_EQ(titleAtMessage, QStringLiteral("b.bmp [5x4x24] @ 100%"));

    // A file of no registered format is not offered a plug-in road.
    SusieFolder(dir / "susie3", {});
    w.reset();
    w = MakeWindow({b});
    messages.clear();
    w->OpenFile(WritePic(dir / "x.pic", 1));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("未対応のファイルです。")));
}

}  // namespace nolvi2::test
