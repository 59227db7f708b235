// The resize dialog as the user types into it, key by key.
#include "app/dlgResize.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace nolvi2::test {
namespace {

TEST(ResizeDialog, TypingKeepsTheTypedEdit)
{
    struct Case {
        int32_t sourceWidth, sourceHeight;
        const char* edit;  // the edit typed into
        int heightUnit;    // item of the height's unit list
        const char* keys;
        int32_t width, height;  // in pixels, as OK would return them
        const char* heightText;
    };
    const Case cases[] = {
        {640, 480, "edtWidth", 0, "100", 100, 75, "75"},   // was 109 x 82
        {480, 640, "edtHeight", 0, "100", 75, 100, "100"},  // was 82 x 109
        {640, 480, "edtWidth", 1, "100", 100, 77, "16"},    // height in percent; the edit showed 000
    };
    for (const Case& c : cases) {
        TResizeDialog dialog;
        dialog.Init(c.sourceWidth, c.sourceHeight);
        dialog.findChild<QComboBox*>(QStringLiteral("cmbHeight"))->setCurrentIndex(c.heightUnit);
        auto* edit = dialog.findChild<QLineEdit*>(QString::fromLatin1(c.edit));
        ASSERT_NE(edit, nullptr) << c.edit;
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(c.keys));
        EXPECT_EQ(edit->text().toStdString(), c.keys);
        // Leaving the edit runs its handler once more. From the width the focus goes to the
        // height, and the dialog goes with it there: that edit's handler must not run on the
        // half-destroyed dialog (the sanitizers' build sees it).
        QTest::keyClick(edit, Qt::Key_Tab);
        EXPECT_EQ(edit->text().toStdString(), c.keys);
        EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("edtHeight"))->text().toStdString(), c.heightText);
        EXPECT_EQ(dialog.Model().GetWidthPixels(), c.width) << c.sourceWidth << " x " << c.sourceHeight << ", " << c.edit;
        EXPECT_EQ(dialog.Model().GetHeightPixels(), c.height) << c.sourceWidth << " x " << c.sourceHeight << ", " << c.edit;
    }
}

}  // namespace
}  // namespace nolvi2::test
