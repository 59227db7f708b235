// The dialog that chooses where the settings are kept, as the user answers it.
#include "settings/OZRegIniDlg.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace nolvi2::test {
namespace {

// Runs answer on the dialog once it is shown modally.
void WhenShown(std::function<void(TOZIniStyleDialog&)> answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] {
        auto* dialog = qobject_cast<TOZIniStyleDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

TEST(IniStyleDialog, CaptionsAndLabelsThatCheckTheirChoice)
{
    TOZIniStyleDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("アプリケーション設定の保存先"));
    EXPECT_EQ(dialog.rdoIni->text(), QStringLiteral("&INIファイルを使う"));
    EXPECT_EQ(dialog.rdoRegistry->text(), QStringLiteral("レジストリを使う(&R)"));
    EXPECT_EQ(dialog.Button2->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.Button3->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(dialog.Button2->isDefault());
    dialog.show();
    EXPECT_GE(dialog.width(), 472);
    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    EXPECT_TRUE(dialog.rdoRegistry->isChecked());
    QTest::mouseClick(dialog.Label4, Qt::LeftButton);
    EXPECT_TRUE(dialog.rdoIni->isChecked());
    EXPECT_FALSE(dialog.rdoRegistry->isChecked());
}

TEST(IniStyleDialog, OkTakesTheChoiceAndCancelKeepsTheStyle)
{
    TIniStyle style = isIniFile;
    WhenShown([](TOZIniStyleDialog& d) {
        EXPECT_TRUE(d.rdoIni->isChecked());
        EXPECT_EQ(d.lblKeyPath->text(), QStringLiteral("/home/u/.config/Tamberlo/nolvi2"));
        d.rdoRegistry->click();
        d.Button2->click();
    });
    EXPECT_TRUE(TOZIniStyleDialog::Execute(nullptr, QStringLiteral("/home/u/.config/Tamberlo/nolvi2"), style));
    EXPECT_EQ(style, isRegistry);

    WhenShown([](TOZIniStyleDialog& d) {
        EXPECT_TRUE(d.rdoRegistry->isChecked());
        d.rdoIni->click();
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_FALSE(TOZIniStyleDialog::Execute(nullptr, QString(), style));
    EXPECT_EQ(style, isRegistry);
}

}  // namespace
}  // namespace nolvi2::test
