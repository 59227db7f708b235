// Message boxes on the screen: long words and placement.
#include "WindowFixture.h"

#include <QLabel>
#include <QScreen>

namespace nolvi2::test {
namespace {

QRect AvailableArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

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
        EXPECT_EQ(shown, letters);
    }
}

TEST(MessageBoxOnScreen, BoxesAreCentredOnTheScreen)
{
    auto box = CreateMessageBox(QStringLiteral("保存しますか?"), mtConfirmation, Buttons({mbYes, mbNo}));
    const QRect area = AvailableArea();
    EXPECT_EQ(box->pos(), area.topLeft() + QPoint((area.width() - box->width()) / 2, (area.height() - box->height()) / 2));
}

}  // namespace
}  // namespace nolvi2::test
