// Message boxes on the screen: long words, placement, and the about box with the program's icon.
#include "WindowFixture.h"

#include <QLabel>
#include <QScreen>

namespace nolvi2::test {
namespace {

QRect AvailableArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

// Where a box of this size sits in the middle of the available area, as (x, y).
std::pair<int, int> Centred(QSize size)
{
    const QRect area = AvailableArea();
    return {area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2};
}

// Every box, however long its words, fits in the screen's available area with its text
// within half the screen's width, and shows every letter of the message.
TEST(MessageBoxOnScreen, LongWordsBreakWithinHalfTheScreen)
{
    const int limit = QGuiApplication::primaryScreen()->geometry().width() / 2;
    const QString path = QStringLiteral("/home/user/") + QString(40, QLatin1Char('d')) + QLatin1Char('/') +
                         QString(120, QLatin1Char('f')) + QStringLiteral(".jpg");
    const QString texts[] = {
        QString(200, QLatin1Char('W')),
        QStringLiteral("ファイルを開けません: ") + path,
        QStringLiteral("short words then ") + QString(300, QLatin1Char('m')) + QStringLiteral(" and more"),
        QString(200, QChar(0x6F22)),  // 漢
    };
    for (const QString& text : texts) {
        auto box = CreateMessageBox(text, mtError, Buttons({mbOK}));
        const auto* label = box->findChild<QLabel*>(QStringLiteral("Message"));
        ASSERT_NE(label, nullptr);
        EXPECT_LE(label->width(), limit + 1) << text.toStdString();
        EXPECT_TRUE(AvailableArea().contains(box->geometry())) << text.toStdString();
        EXPECT_TRUE(box->rect().contains(label->geometry())) << text.toStdString();
        QString shown = label->text();
        shown.remove(QLatin1Char('\n'));
        QString letters = text;
        letters.remove(QLatin1Char(' '));
        shown.remove(QLatin1Char(' '));
        EXPECT_EQ(shown.toStdString(), letters.toStdString());
    }
}

TEST(MessageBoxOnScreen, BoxesAreCentredOnTheScreen)
{
    auto box = CreateMessageBox(QStringLiteral("保存しますか?"), mtConfirmation, Buttons({mbYes, mbNo}));
    EXPECT_EQ(std::make_pair(box->x(), box->y()), Centred(box->size()));

    // Taller than the screen: the caption and the start of the text stay in view.
    auto tall = CreateMessageBox(QStringLiteral("行\r").repeated(100), mtError, Buttons({mbOK}));
    ASSERT_GT(tall->height(), AvailableArea().height());
    EXPECT_EQ(std::make_pair(tall->x(), tall->y()), std::make_pair(Centred(tall->size()).first, AvailableArea().top()));
}

TEST(MessageBoxOnScreen, ProgramIconAtEverySize)
{
    const QIcon icon = ProgramIcon();
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size)) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;  // the picture in the frame
        EXPECT_EQ(qAlpha(image.pixel(size - 1, 0)), 0) << size;           // a clear corner
    }
}

// F1 in the window opens the about box, centred on the screen, with the program's icon.
TEST_F(Window, AboutBoxIsCentredWithTheProgramIcon)
{
    services->realBoxes = true;
    auto w = MakeWindow();
    w->move(0, 0);
    QString title;
    QPoint pos;
    QSize size;
    QImage image;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<TOZVistaMessageForm*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        pos = box->pos();
        size = box->size();
        if (const auto* label = box->findChild<QLabel*>(QStringLiteral("Image")))
            image = label->pixmap().toImage();
        box->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    });
    QTest::keyClick(w.get(), Qt::Key_F1);
    EXPECT_EQ(title.toStdString(), "nolvi2について");
    // Placed before the window system adds its frame: the client size is what is centred.
    EXPECT_EQ(std::make_pair(pos.x(), pos.y()), Centred(size));
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.convertToFormat(QImage::Format_ARGB32) ==
                ProgramIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32));
}

}  // namespace
}  // namespace nolvi2::test
