// The window on the offscreen platform: start-up, titles, enabling, the road for family A,
// display geometry (by rendering the window), zoom steps, opening, stepping, drop and paste.

#include "FileText.h"
#include "WindowFixture.h"

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

TEST_F(Window, StartsEmptyOrWithTheFirstFile)
{
    auto empty = MakeWindow();
    EXPECT_EQ(empty->windowTitle(), QStringLiteral("nolvi2"));
    EXPECT_TRUE(empty->EmptyLabel()->isVisible());
    EXPECT_FALSE(empty->Action("actInvert")->isEnabled());
    EXPECT_FALSE(empty->Action("actZoomIn")->isEnabled());
    EXPECT_FALSE(empty->Action("actReopen")->isEnabled());
    EXPECT_TRUE(empty->Action("actOpen")->isEnabled());

    const std::string file = MakePicture("photo.bmp", 64, 48);
    auto w = MakeWindow({file, "ignored.bmp"});
    EXPECT_EQ(w->windowTitle(), QStringLiteral("photo.bmp [64x48x24] @ 100%"));
    EXPECT_FALSE(w->EmptyLabel()->isVisible());
    EXPECT_TRUE(w->Action("actInvert")->isEnabled());
    EXPECT_TRUE(w->Action("actReopen")->isEnabled());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, PositionParameterMovesTheWindow)
{
    TForm1 w(services);
    w.FormCreate({"pos:40,30"});
    EXPECT_EQ(w.pos(), QPoint(40, 30));
}

TEST_F(Window, UnsupportedAndCorruptFilesChangeNothing)
{
    const std::string good = MakePicture("good.bmp", 10, 10);
    auto w = MakeWindow({good});
    const QString title = w->windowTitle();

    w->OpenFile((dir / "notes.txt").string());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("未対応のファイルです。\r") + QString::fromStdString((dir / "notes.txt").string()));
    EXPECT_EQ(messages[0].kind, mtError);

    std::ofstream((dir / "bad.bmp").string(), std::ios::binary) << "BM garbage";
    const std::string bad = (dir / "bad.bmp").string();
    auto w2 = MakeWindow({good});
    messages.clear();
    w2->FormCreate({bad});  // through the dispatch wrapper
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("bad.bmp"))) << messages[0].text.toStdString();
    EXPECT_EQ(w2->FileName(), good);
    EXPECT_EQ(w2->windowTitle(), title);
    EXPECT_EQ(w2->Picture().Width(), 10);

    // A window that starts with a file it cannot read is an empty window.
    messages.clear();
    auto w3 = MakeWindow({bad});
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(w3->windowTitle(), QStringLiteral("nolvi2"));
    EXPECT_FALSE(w3->Action("actInvert")->isEnabled());
    EXPECT_TRUE(w3->EmptyLabel()->isVisible());
}

// Family A on the whole picture: the caption shows the progress, the picture changes in
// place, and the stopwatch reports when asked to.
TEST_F(Window, FamilyACommandShowsProgressAndChangesThePicture)
{
    const std::string file = MakePicture("p.bmp", 50, 300);
    auto w = MakeWindow({file});
    QStringList titles;
    QObject::connect(w.get(), &QWidget::windowTitleChanged, [&](const QString& t) { titles << t; });
    const uint8_t before = w->Picture().ScanLine(5)[3 * 7 + 2];
    w->Execute("actInvert");
    EXPECT_EQ(w->Picture().ScanLine(5)[3 * 7 + 2], uint8_t(255 - before));
    ASSERT_GE(titles.size(), 3);
    EXPECT_EQ(titles.front(), QStringLiteral("作業中 0% 完了"));
    EXPECT_TRUE(titles.contains(QStringLiteral("作業中 50% 完了")));
    EXPECT_EQ(titles[titles.size() - 2], QStringLiteral("作業中 100% 完了"));
    EXPECT_EQ(titles.back(), QStringLiteral("p.bmp [50x300x24] @ 100%"));
    EXPECT_TRUE(messages.empty());  // ShowProgressTime is off

    w->Options().ShowProgressTime = true;
    w->Execute("actGammaPlus");
    ASSERT_LE(messages.size(), 1u);  // nothing for 0 ms
    if (!messages.empty()) {
        EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("ガンマ補正＋: ")));
        EXPECT_TRUE(messages[0].text.endsWith(QStringLiteral("ミリ秒かかりました。")));
    }
}

// The other families through the window's road, in place.
TEST_F(Window, RotationsAndFiltersInPlace)
{
    const std::string file = MakePicture("r.bmp", 30, 20);
    auto w = MakeWindow({file});
    const uint8_t corner = w->Picture().ScanLine(19)[2];  // red of the bottom-left pixel
    w->Execute("actRotate90");
    EXPECT_EQ(w->Picture().Width(), 20);
    EXPECT_EQ(w->Picture().Height(), 30);
    EXPECT_EQ(w->Picture().ScanLine(0)[2], corner);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("r.bmp [20x30x24] @ 100%"));
    w->Execute("actRotate270");
    w->Execute("actFilterLaplacian4");  // a smooth ramp has no edges inside
    EXPECT_EQ(w->Picture().ScanLine(10)[3 * 10 + 2], 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_NE(w->PopupMenu()->findChild<QMenu*>(), nullptr);
}

TEST_F(Window, JpegPreviewQualityStepsAndKeys)
{
    MakePicture("a.bmp", 64, 48);
    const std::string file = MakePicture("b.bmp", 64, 48);
    auto w = MakeWindow({file});
    EXPECT_FALSE(w->Action("actSaveAsJPEG")->isEnabled());

    w->Execute("actJpegPreview60");  // a preset turns the preview on
    ASSERT_TRUE(w->JpegPreview());
    EXPECT_EQ(w->JpegQuality(), 60);
    EXPECT_TRUE(w->Action("actJpegPreview60")->isChecked());
    EXPECT_TRUE(w->Action("actSaveAsJPEG")->isEnabled());
    ASSERT_NE(w->PreviewBitmap(), nullptr);
    EXPECT_EQ(w->PreviewBitmap()->Width(), 64);
    EXPECT_GT(w->JpegSize(), 0);
    EXPECT_EQ(w->windowTitle(),
              QStringLiteral("JPEG 画質60 ") + QString::fromStdString(FormatSize(w->JpegSize())) + QStringLiteral(" @ 100%"));

    // Left lowers the quality by 10 while the preview is on, down to 0; Right raises it.
    QStringList qualities;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(w.get(), Qt::Key_Left);
        qualities << QString::number(w->JpegQuality());
    }
    EXPECT_EQ(qualities.join(','), QStringLiteral("50,40,30,20,10,0,0,0"));
    EXPECT_EQ(w->FileName(), file);  // no stepping to the previous file
    QTest::keyClick(w.get(), Qt::Key_Right);
    EXPECT_EQ(w->JpegQuality(), 10);
    w->SetJpegParams(95, true);
    w->Execute("actJpegPreviewUp");
    EXPECT_EQ(w->JpegQuality(), 100);

    // Off again: Left steps to the previous file, Enter shows the picture at zoom 1.
    w->Execute("actJpegPreview");
    EXPECT_FALSE(w->JpegPreview());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("b.bmp [64x48x24] @ 100%"));
    w->SetZoom(2.0f);
    QTest::keyClick(w.get(), Qt::Key_Return);
    EXPECT_EQ(w->Zoom(), 1.0f);
    QTest::keyClick(w.get(), Qt::Key_Left);
    EXPECT_EQ(fs::path(w->FileName()).filename(), "a.bmp");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, SavingWritesThePictureAndFailsCleanly)
{
    const std::string file = MakePicture("s.bmp", 40, 30);
    auto w = MakeWindow({file});
    const std::string bmp = (dir / "copy.bmp").string();
    w->SaveAsBmp(bmp);
    TBitmap back;
    back.LoadFromFile(bmp);
    EXPECT_TRUE(nolvi2::test::SamePixels(back, w->Picture()));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("copy.bmp [40x30x24] @ 100%"));

    w->Execute("actJpegPreview30");
    const std::string jpg = (dir / "out.jpg").string();
    w->SaveAsJpeg(jpg);
    EXPECT_EQ(w->FileName(), jpg);
    EXPECT_EQ(fs::file_size(jpg), std::uintmax_t(w->JpegSize()));  // the same settings as the preview
    EXPECT_TRUE(w->windowTitle().startsWith(QStringLiteral("JPEG 画質30 ")));
    TJPEGImage saved;
    saved.LoadFromFile(jpg);
    TBitmap decoded;
    saved.TakePicture(decoded);
    EXPECT_TRUE(nolvi2::test::SamePixels(decoded, *w->PreviewBitmap()));  // what the preview showed

    // A save that cannot be written shows the error and changes nothing.
    std::ofstream((dir / "keep.bmp").string()) << "precious";
    EXPECT_THROW(w->SaveAsBmp((dir / "missing" / "x.bmp").string()), nolvi2::Exception);
    EXPECT_THROW(w->SaveAsJpeg((dir / "keep.bmp" / "x.jpg").string()), nolvi2::Exception);
    EXPECT_THROW(w->SaveAsBmp("/proc/nolvi2-test.bmp"), nolvi2::Exception);  // no one may write there
    // A read-only folder (root writes anywhere, so only other users see this refused).
    fs::create_directory(dir / "ro");
    std::ofstream((dir / "ro" / "old.bmp").string()) << "precious";
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    if (::geteuid() != 0) {
        EXPECT_THROW(w->SaveAsBmp((dir / "ro" / "old.bmp").string()), nolvi2::Exception);
    }
    fs::permissions(dir / "ro", fs::perms::owner_all);
    EXPECT_EQ(w->FileName(), jpg);
    for (const char* name : {"keep.bmp", "ro/old.bmp"}) {
        std::ifstream keep((dir / name).string());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(keep), {}), "precious") << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "ro"), fs::directory_iterator()), 1);  // no temporary left
}

// The save commands write under the name typed when its extension is the format's own, else
// with the format's extension added; a name so made that exists is replaced only when the
// user agrees.
TEST_F(Window, SavedFilesAreNamedAsTheirFormat)
{
    const std::string file = MakePicture("s.bmp", 40, 30);
    auto w = MakeWindow({file});
    w->Execute("actJpegPreview30");
    struct Case {
        const char *action, *typed, *written, *signature;
    };
    const Case cases[] = {
        {"actSaveAsBMP", "out.gif", "out.gif.bmp", "BM"},
        {"actSaveAsBMP", "plain", "plain.bmp", "BM"},
        {"actSaveAsBMP", "Keep.BMP", "Keep.BMP", "BM"},
        {"actSaveAsJPEG", "out.png", "out.png.jpg", "\xFF\xD8"},
        {"actSaveAsJPEG", "bitmap.bmp", "bitmap.bmp.jpg", "\xFF\xD8"},
        {"actSaveAsJPEG", "photo.jpeg", "photo.jpeg", "\xFF\xD8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        services->save = [&](const QString&, const QString&) { return QString::fromStdString((dir / c.typed).string()); };
        w->Execute(c.action);
        EXPECT_EQ(w->FileName(), (dir / c.written).string());
        EXPECT_EQ(ReadText((dir / c.written).string()).substr(0, 2), c.signature);
        EXPECT_EQ(fs::exists(dir / c.typed), std::string(c.typed) == c.written);
    }
    EXPECT_TRUE(messages.empty());

    // A name made that exists: asked about, and kept on No.
    WriteText((dir / "old.gif.bmp").string(), "precious");
    services->save = [&](const QString&, const QString&) { return QString::fromStdString((dir / "old.gif").string()); };
    for (const int answer : {int(mrNo), int(mrYes)}) {
        messages.clear();
        services->answer = [&](const QString&, TMsgDlgType, TMsgDlgButtons) { return answer; };
        w->Execute("actSaveAsBMP");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, QString::fromStdString((dir / "old.gif.bmp").string()) +
                                        QStringLiteral(" は既に存在します。\r上書きしますか？"));
        EXPECT_EQ(ReadText((dir / "old.gif.bmp").string()).substr(0, 2), answer == mrYes ? "BM" : "pr");
    }
    EXPECT_FALSE(fs::exists(dir / "old.gif"));
}

TEST_F(Window, ResizeThroughTheDialog)
{
    const std::string file = MakePicture("r.bmp", 640, 480);
    auto w = MakeWindow({file});
    std::vector<std::pair<int32_t, int32_t>> asked;
    services->resize = ([&](int32_t& width, int32_t& height, uint8_t& algorithm) {
        asked.emplace_back(width, height);
        EXPECT_EQ(algorithm, 3);
        if (asked.size() == 2)
            return false;  // cancel: nothing happens
        width = 100;
        height = 75;
        algorithm = 1;
        return true;
    });
    w->Execute("actResize");
    w->Execute("actResize");
    services->resize = {};
    EXPECT_EQ(asked, (std::vector<std::pair<int32_t, int32_t>>{{640, 480}, {100, 75}}));
    EXPECT_EQ(w->Picture().Width(), 100);
    EXPECT_EQ(w->Picture().Height(), 75);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("r.bmp [100x75x24] @ 100%"));

    // The dialog itself: a new width keeps the ratio; "/ 2" halves both sides.
    TResizeDialog dialog;
    dialog.Init(640, 480);
    auto* edtWidth = dialog.findChild<QLineEdit*>(QStringLiteral("edtWidth"));
    auto* edtHeight = dialog.findChild<QLineEdit*>(QStringLiteral("edtHeight"));
    ASSERT_NE(edtWidth, nullptr);
    edtWidth->setText(QStringLiteral("100"));  // as pasted: one change
    EXPECT_EQ(edtHeight->text(), QStringLiteral("75"));
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("/ 2"))
            b->click();
    EXPECT_EQ(edtWidth->text(), QStringLiteral("320"));
    EXPECT_EQ(edtHeight->text(), QStringLiteral("240"));
    EXPECT_EQ(dialog.SelectedAlgorithm(), 1);
}

// The hidden pixel-format commands reduce the colours and leave a 24-bit picture.
TEST_F(Window, PixelFormatCommands)
{
    const std::string file = MakePicture("c.bmp", 50, 40);
    auto w = MakeWindow({file});
    EXPECT_TRUE(w->Action("actPf24bit")->isChecked());
    EXPECT_FALSE(w->Action("actPf24bit")->isEnabled());
    EXPECT_TRUE(w->Action("actPf1bit")->isEnabled());
    w->Execute("actPf1bit");
    EXPECT_EQ(w->Picture().PixelFormat(), TPixelFormat::pf24bit);
    for (int32_t y = 0; y < 40; ++y)
        for (std::size_t i = 0; i < w->Picture().RowBytes(); ++i) {
            const uint8_t v = w->Picture().ScanLine(y)[i];
            ASSERT_TRUE(v == 0 || v == 255) << int(v);
        }
    EXPECT_EQ(w->windowTitle(), QStringLiteral("c.bmp [50x40x24] @ 100%"));
}

// Where the picture is drawn, read back from the rendered window.
TEST_F(Window, DisplayGeometry)
{
    const std::string file = MakePicture("sq.bmp", 100, 100);
    auto w = MakeWindow({file}, 300, 200);
    ASSERT_EQ(w->ClientSize(), QSize(300, 200));
    const QRgb background = PixelAt(*w, 5, 5);
    EXPECT_EQ(PixelAt(*w, 100, 50), qRgb(0, 0, 200));
    EXPECT_EQ(PixelAt(*w, 199, 149), qRgb(99, 99, 200));
    EXPECT_EQ(PixelAt(*w, 99, 50), background);
    EXPECT_EQ(PixelAt(*w, 200, 50), background);
    EXPECT_EQ(w->ScreenToImage(100, 50), (TPoint{0, 0}));
    EXPECT_EQ(w->ScreenToImage(99, 50).X, -1);

    w->SetZoom(2.0f);  // 200 x 200 in 300 x 200: centred horizontally from x = 50
    EXPECT_EQ(PixelAt(*w, 50, 0), qRgb(0, 0, 200));
    EXPECT_EQ(PixelAt(*w, 49, 10), background);
    EXPECT_EQ(w->ScreenToImage(49, 50).X, 0);

    // A picture wider than the client at zoom 2, scrolled to 7: column 3 starts at x = -1.
    const std::string wide = MakePicture("wide.bmp", 300, 50);
    auto v = MakeWindow({wide}, 300, 200);
    v->SetZoom(2.0f);
    ASSERT_TRUE(v->HorizontalBar()->isVisible());
    v->HorizontalBar()->setValue(7);
    EXPECT_EQ(qRed(PixelAt(*v, 0, 60)), 3);
    EXPECT_EQ(qRed(PixelAt(*v, 1, 60)), 4);

    // Zoom 0.5: a 101-pixel-wide picture is 50 pixels wide.
    const std::string odd = MakePicture("odd.bmp", 101, 20);
    auto z = MakeWindow({odd}, 300, 200);
    z->SetZoom(0.5f);
    const int left = (300 - 50) / 2;
    EXPECT_NE(PixelAt(*z, left, 100), background);
    EXPECT_NE(PixelAt(*z, left + 49, 100), background);
    EXPECT_EQ(PixelAt(*z, left + 50, 100), background);
    EXPECT_EQ(z->windowTitle(), QStringLiteral("odd.bmp [101x20x24] @ 50%"));
}

// The corner between the two scroll bars is background, not picture.
TEST_F(Window, CornerBetweenTheBarsIsBackground)
{
    const std::string file = MakePicture("big.bmp", 400, 300);
    auto w = MakeWindow({file}, 300, 200);
    const QRgb background = PixelAt(*w, w->width() - 2, w->height() - 2);
    w->SetZoom(3.0f);
    ASSERT_TRUE(w->HorizontalBar()->isVisible() && w->VerticalBar()->isVisible());
    const QSize client = w->ClientSize();
    for (const QPoint p : {QPoint(client.width(), client.height()), QPoint(w->width() - 1, w->height() - 1)})
        EXPECT_EQ(PixelAt(*w, p.x(), p.y()), background) << p.x() << "," << p.y();
}

// A window fitted to its picture before the window manager framed it is fitted again once the
// frame is known, and ends as it would when opening the same file later.
TEST_F(Window, FitAtStartUpCountsTheFrame)
{
    const std::string file = MakePicture("huge.bmp", 1000, 900);
    TForm1 w(services);
    w.FormCreate({"pos:100,50", file});
    w.show();
    const QRect area = w.screen()->availableGeometry();
    EXPECT_TRUE(area.contains(w.frameGeometry())) << w.frameGeometry().right() << "," << w.frameGeometry().bottom();
    EXPECT_EQ(w.frameGeometry().right(), area.right());
    const QRect startUp = w.geometry();
    w.OpenFile(file);
    EXPECT_EQ(w.geometry(), startUp);
    EXPECT_TRUE(w.HorizontalBar()->isVisible());
    EXPECT_TRUE(area.contains(w.HorizontalBar()->mapToGlobal(QPoint(0, w.HorizontalBar()->height() - 1))));
}

TEST_F(Window, ZoomSteps)
{
    const std::string file = MakePicture("z.bmp", 40, 30);
    auto w = MakeWindow({file});
    QStringList percents;
    for (int i = 0; i < 5; ++i) {
        w->Execute("actZoomOut");
        percents << w->windowTitle().section(QLatin1Char(' '), -1);
    }
    EXPECT_EQ(percents.join(QLatin1Char(',')), QStringLiteral("80%,60%,40%,20%,1%"));
    EXPECT_EQ(w->Zoom(), 0.01f);
    w->Execute("actZoomOut");
    EXPECT_EQ(w->Zoom(), 0.01f);
    for (int i = 0; i < 40; ++i)
        w->Execute("actZoomIn");
    EXPECT_EQ(w->Zoom(), 20.0f);
    w->Execute("actZoomActualPixels");
    EXPECT_EQ(w->Zoom(), 1.0f);

    // The wheel: one step per 120 units, in its sign.
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 60), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.get(), &up);
    EXPECT_EQ(w->Zoom(), 1.0f);
    QApplication::sendEvent(w.get(), &up);
    EXPECT_EQ(w->Zoom(), 1.5f);

    // Keys from the key table.
    QTest::keyClick(w.get(), Qt::Key_Down);
    EXPECT_EQ(w->Zoom(), 1.0f);
    QTest::keyClick(w.get(), Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(w->Zoom(), 0.8f);
    QTest::keyClick(w.get(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(w->Zoom(), 1.0f);
}

TEST_F(Window, NextAndPreviousInNaturalOrder)
{
    for (const char* n : {"img10.bmp", "img2.bmp", "IMG1.bmp", "notes.txt"})
        MakePicture(n, 4, 4);
    auto w = MakeWindow({(dir / "img2.bmp").string()});
    w->Execute("actNextFile");
    EXPECT_EQ(fs::path(w->FileName()).filename(), "img10.bmp");
    w->Execute("actNextFile");  // the last one: no wrap-around
    EXPECT_EQ(fs::path(w->FileName()).filename(), "img10.bmp");
    w->Execute("actPrevFile");
    w->Execute("actPrevFile");
    EXPECT_EQ(fs::path(w->FileName()).filename(), "IMG1.bmp");
    w->Execute("actPrevFile");
    EXPECT_EQ(fs::path(w->FileName()).filename(), "IMG1.bmp");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, DropOfTwoFilesChangesNothingAndOneOpens)
{
    const std::string a = MakePicture("a.bmp", 5, 5), b = MakePicture("b.bmp", 6, 6);
    auto w = MakeWindow();
    auto drop = [&](const QList<QUrl>& urls) { w->FilesDropped(urls); };
    drop({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b))});
    EXPECT_TRUE(w->Picture().Empty());
    drop({QUrl::fromLocalFile(QString::fromStdString(b))});
    EXPECT_EQ(w->Picture().Width(), 6);
    EXPECT_EQ(w->FileName(), b);
}

TEST_F(Window, PasteTakesTheClipboardPicture)
{
    QImage image(7, 3, QImage::Format_RGB32);
    image.fill(qRgb(10, 20, 30));
    QApplication::clipboard()->setImage(image);
    auto w = MakeWindow();
    ASSERT_TRUE(w->Action("actPaste")->isEnabled());
    w->Execute("actPaste");
    EXPECT_EQ(w->Picture().Width(), 7);
    EXPECT_EQ(w->Picture().ScanLine(1)[2], 10);  // red
    EXPECT_FALSE(w->IsFile());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("クリップボード [7x3x24] @ 100%"));
    EXPECT_FALSE(w->Action("actReopen")->isEnabled());
    w->Execute("actXor");  // in place: the picture keeps its name
    EXPECT_EQ(w->windowTitle(), QStringLiteral("クリップボード [7x3x24] @ 100%"));
    EXPECT_EQ(w->Picture().ScanLine(1)[2], 10 ^ 128);
}

TEST(MessageBox, DefaultAndCancelButtonsAndCaptions)
{
    struct Case {
        TMsgDlgButtons buttons;
        const char* defaultButton;  // object name, or "" for none
        const char* cancelButton;
    };
    const Case cases[] = {
        {Buttons({mbYes, mbNo}), "Yes", "No"},
        {Buttons({mbOK}), "OK", "OK"},
        {Buttons({mbOK, mbCancel}), "OK", "Cancel"},
        {Buttons({mbAbort, mbRetry, mbIgnore}), "Retry", ""},
        {Buttons({mbYes, mbNo, mbCancel}), "Yes", "Cancel"},
    };
    for (const Case& c : cases) {
        auto box = CreateMessageBox(QStringLiteral("テキスト"), mtConfirmation, c.buttons);
        const QString def = box->DefaultButton() ? box->DefaultButton()->objectName() : QString();
        const QString cancel = box->CancelButton() ? box->CancelButton()->objectName() : QString();
        EXPECT_EQ(def, QString::fromLatin1(c.defaultButton));
        EXPECT_EQ(cancel, QString::fromLatin1(c.cancelButton));
    }
    const std::pair<TMsgDlgType, const char*> captions[] = {
        {mtWarning, "警告"}, {mtError, "エラー"}, {mtInformation, "情報"}, {mtConfirmation, "確認"}, {mtCustom, "nolvi2"}};
    for (const auto& [kind, caption] : captions)
        EXPECT_EQ(CreateMessageBox(QStringLiteral("x"), kind, Buttons({mbOK}))->windowTitle(), QString::fromUtf8(caption));
    EXPECT_EQ(CreateMessageBox(QStringLiteral("x"), mtError, Buttons({mbOK}), true)->windowTitle(), QStringLiteral("nolvi2"));

    // A button's letter answers without Alt; with Ctrl it does not.
    for (const auto& [key, result] : {std::pair{Qt::Key_Y, mrYes}, std::pair{Qt::Key_N, mrNo}}) {
        auto box = CreateMessageBox(QStringLiteral("x"), mtConfirmation, Buttons({mbYes, mbNo}));
        QTest::keyClick(box.get(), Qt::Key_Z);
        QTest::keyClick(box.get(), key, Qt::ControlModifier);
        EXPECT_EQ(box->result(), 0);
        QTest::keyClick(box.get(), key);
        for (int i = 0; i < 100 && box->result() == 0; ++i)
            QTest::qWait(10);  // the button is pressed visibly before it answers
        EXPECT_EQ(box->result(), int(result));
    }

    // A carriage return breaks the line; the box grows with the text and has its icon.
    auto one = CreateMessageBox(QStringLiteral("一行"), mtError, Buttons({mbOK}));
    auto two = CreateMessageBox(QStringLiteral("一行\r二行\r三行"), mtError, Buttons({mbOK}));
    EXPECT_GT(two->height(), one->height());
    EXPECT_NE(one->findChild<QWidget*>(QStringLiteral("Image")), nullptr);
    EXPECT_EQ(CreateMessageBox(QStringLiteral("x"), mtCustom, Buttons({mbOK}))->findChild<QWidget*>(QStringLiteral("Image")),
              nullptr);
    // Pressing a button gives its modal result.
    auto yn = CreateMessageBox(QStringLiteral("?"), mtConfirmation, Buttons({mbYes, mbNo}));
    QTimer::singleShot(0, [&] { yn->findChild<QPushButton*>(QStringLiteral("No"))->click(); });
    EXPECT_EQ(yn->exec(), int(mrNo));
}

TEST_F(Window, PngFilesOpenWithProgress)
{
    TBitmap b(40, 300, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < b.Height(); ++y)
        for (std::size_t i = 0; i < b.RowBytes(); ++i)
            b.ScanLine(y)[i] = uint8_t(i * 7 + std::size_t(y));
    TVelPNG png;
    png.Borrow(b);
    const std::string file = (dir / "p.png").string();
    png.SaveToFile(file);

    auto w = MakeWindow();
    QStringList titles;
    QObject::connect(w.get(), &QWidget::windowTitleChanged, [&](const QString& t) { titles << t; });
    w->OpenFile(file);
    EXPECT_TRUE(nolvi2::test::SamePixels(w->Picture(), b));
    ASSERT_GE(titles.size(), 3);
    EXPECT_EQ(titles.front(), QStringLiteral("作業中 0% 完了"));
    EXPECT_TRUE(titles.contains(QStringLiteral("作業中 100% 完了")));
    EXPECT_EQ(titles.back(), QStringLiteral("p.png [40x300x24] @ 100%"));
    EXPECT_TRUE(messages.empty());
}
