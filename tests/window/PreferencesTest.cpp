// The preferences dialog as the user answers it: what OK writes back, what Cancel leaves, the
// clearing buttons that act at once, and the plug-in list.
#include "TempDir.h"
#include "app/dlgPreferences.h"
#include "app/nolviSub.h"
#include "settings/OZHistoryList.h"
#include "susie/SPIs.h"

#include <QApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace nolvi2::test {
namespace {

// The tools need a window only while the mouse drags them; the dialog does not drag.
class NoWindow : public TToolHost {
public:
    TPoint ScreenToImage(TPoint p) const override { return p; }
    TRect ImageToScreen(int32_t, int32_t) const override { return {}; }
    float Zoom() const override { return 1; }
    int32_t PictureWidth() const override { return -1; }
    int32_t PictureHeight() const override { return -1; }
    int32_t ClientWidth() const override { return 0; }
    int32_t ClientHeight() const override { return 0; }
    TRect ClientScreenRect() const override { return {}; }
    TPoint ScrollPositions() const override { return {-1, -1}; }
    void SetScrollPositions(TPoint) override {}
    TPoint MousePosition() const override { return {}; }
    void SetAutoScrollTimer(bool) override {}
};

// What the dialog edits: options other than the defaults, a hand tool, a selection tool on
// a grid of 16 and a recent list showing 5 of two files, one of which exists.
class Preferences : public ::testing::Test {
public:
    void SetUp() override { Store(); }
    void Store()
    {
        options.WindowResizeByZoom = false;
        options.OpenResultInNewWindow = false;
        options.OutOfSelection = 2;
        options.GrassWidth = 5;
        options.RainbowMaskSize = 6;
        options.ShowProgressTime = true;
        options.ApplyColorProfile = false;
        options.AutoRotate = true;
        select.SetMinimumUnit(16);
        hand.SetInvert(true);
        recent.SetVisibleCount(5);
        std::ofstream(dir / "there.bmp") << "x";
        recent.AddFile(dir / "gone.bmp");
        recent.AddFile(dir / "there.bmp");
    }

    // Runs answer on the dialog once Execute shows it, and returns Execute's result.
    bool Run(std::function<void(TPreferencesDialog&)> answer, const TSPIs* spis = nullptr)
    {
        QTimer::singleShot(0, [answer = std::move(answer)] {
            auto* dialog = qobject_cast<TPreferencesDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(*dialog);
        });
        return TPreferencesDialog::Execute(nullptr, options, {&recent, &select, &hand}, spis);
    }

    // The options, the grid, the hand tool's direction and the recent count are these.
    void Expect(const TWindowOptions& o, uint8_t unit, bool invert, int32_t count)
    {
        EXPECT_EQ(options.WindowResizeByZoom, o.WindowResizeByZoom);
        EXPECT_EQ(options.OpenResultInNewWindow, o.OpenResultInNewWindow);
        EXPECT_EQ(options.OutOfSelection, o.OutOfSelection);
        EXPECT_EQ(options.GrassWidth, o.GrassWidth);
        EXPECT_EQ(options.RainbowMaskSize, o.RainbowMaskSize);
        EXPECT_EQ(options.ShowProgressTime, o.ShowProgressTime);
        EXPECT_EQ(options.ApplyColorProfile, o.ApplyColorProfile);
        EXPECT_EQ(options.AutoRotate, o.AutoRotate);
        EXPECT_EQ(select.MinimumUnit(), unit);
        EXPECT_EQ(hand.Invert(), invert);
        EXPECT_EQ(recent.VisibleCount(), count);
    }

    // The cases' checks read these.
    TempDir dir;
    NoWindow window;
    TWindowOptions options;
    TSelectTool select{window};
    TTenohiraTool hand{window};
    TOZHistoryList recent;
};

// Changes every control away from what the fixture stores.
void ChangeEverything(TPreferencesDialog& d)
{
    d.chkWindowResizeByZoom->click();
    d.chkInvertTenohiraTool->click();
    d.chkOpenResultNewWindow->click();
    d.chkShowProcessingTime->click();
    d.chkApplyColorProfile->click();
    d.chkAutoRotate->click();
    d.SelectUnitButtons->button(4)->click();
    d.OutOfSelectionButtons->button(0)->click();
    d.updRecentFileCount->setValue(12);
    d.updGrassWidth->setValue(30);
    d.updRainbowMaskSize->setValue(2);
}

TEST_F(Preferences, PagesAndSize)
{
    TPreferencesDialog d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("設定"));
    const QStringList captions = {QStringLiteral("一般"), QStringLiteral("範囲選択"), QStringLiteral("最近開いたファイル"),
                                  QStringLiteral("可逆マスク"), QStringLiteral("Susie Plug-in")};
    const char* names[] = {"TabSheet1", "TabSheet4", "TabSheet2", "TabSheet3", "TabSheet5"};
    ASSERT_EQ(d.PageControl1->count(), captions.size());
    for (int i = 0; i < captions.size(); ++i) {
        EXPECT_EQ(d.PageControl1->tabText(i), captions[i]);
        EXPECT_EQ(d.PageControl1->widget(i)->objectName(), QString::fromLatin1(names[i]));
    }
    d.show();
    EXPECT_EQ(d.PageControl1->currentIndex(), 0);
    EXPECT_TRUE(d.Button1->isDefault());
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_GE(d.width(), 472);
    EXPECT_GE(d.height(), 344);
    // The explanations show whole, inside their page.
    for (QLabel* memo : {d.Memo1, d.Memo2}) {
        EXPECT_FALSE(memo->isEnabled());
        EXPECT_GE(memo->height(), memo->heightForWidth(memo->width()));
        EXPECT_LE(memo->geometry().right(), d.PageControl1->widget(0)->width());
    }
    // The check boxes, in this order, each at its full height and inside the page.
    EXPECT_EQ(d.chkApplyColorProfile->text(), QStringLiteral("埋め込みカラープロファイルを適用する(&C)"));
    EXPECT_EQ(d.chkAutoRotate->text(), QStringLiteral("Exif の回転情報に従う(&E)"));
    const QWidget* general = d.PageControl1->widget(0);
    int top = -1;
    for (QCheckBox* box : {d.chkWindowResizeByZoom, d.chkInvertTenohiraTool, d.chkOpenResultNewWindow,
                           d.chkShowProcessingTime, d.chkApplyColorProfile, d.chkAutoRotate}) {
        EXPECT_EQ(box->parentWidget(), general) << box->objectName().toStdString();
        EXPECT_GT(box->y(), top) << box->objectName().toStdString();
        top = box->geometry().bottom();
        EXPECT_GE(box->height(), box->sizeHint().height()) << box->objectName().toStdString();
        EXPECT_GE(box->width(), box->sizeHint().width()) << box->objectName().toStdString();
        EXPECT_TRUE(general->rect().contains(box->geometry())) << box->objectName().toStdString();
    }
}

// The page's accelerators each reach their own box; none reaches a button of another page
// (Alt+C is also the recent page's clearing button, which would empty the list at once).
TEST_F(Preferences, AcceleratorsOfTheGeneralPage)
{
    EXPECT_TRUE(Run([](TPreferencesDialog& d) {
        const std::pair<Qt::Key, QCheckBox*> keys[] = {
            {Qt::Key_Z, d.chkWindowResizeByZoom}, {Qt::Key_I, d.chkInvertTenohiraTool},
            {Qt::Key_N, d.chkOpenResultNewWindow}, {Qt::Key_T, d.chkShowProcessingTime},
            {Qt::Key_C, d.chkApplyColorProfile},   {Qt::Key_E, d.chkAutoRotate},
        };
        // Shortcuts reach the active window only.
        QApplication::setActiveWindow(&d);
        for (const auto& [key, box] : keys) {
            const bool before = box->isChecked();
            QTest::keyClick(&d, key, Qt::AltModifier);
            // The button shows itself pressed for a moment before it is clicked.
            EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked() != before; }, 2000))
                << box->objectName().toStdString();
        }
        d.Button1->click();
    }));
    EXPECT_EQ(recent.Count(), 2);
    EXPECT_TRUE(options.ApplyColorProfile);
    EXPECT_FALSE(options.AutoRotate);
}

TEST_F(Preferences, CancelKeepsEverythingButWhatTheClearingButtonsDid)
{
    const TWindowOptions before = options;
    EXPECT_FALSE(Run([](TPreferencesDialog& d) {
        // The controls show what is stored.
        EXPECT_FALSE(d.chkWindowResizeByZoom->isChecked());
        EXPECT_TRUE(d.chkInvertTenohiraTool->isChecked());
        EXPECT_FALSE(d.chkApplyColorProfile->isChecked());
        EXPECT_TRUE(d.chkAutoRotate->isChecked());
        EXPECT_EQ(d.SelectUnitButtons->checkedId(), 2);
        EXPECT_EQ(d.OutOfSelectionButtons->checkedId(), 2);
        EXPECT_EQ(d.updRecentFileCount->value(), 5);
        EXPECT_EQ(d.updGrassWidth->value(), 5);
        ChangeEverything(d);
        d.Button2->click();
    }));
    Expect(before, 16, true, 5);
    EXPECT_EQ(recent.Count(), 2);

    EXPECT_FALSE(Run([](TPreferencesDialog& d) {
        d.Button4->click();
        QTest::keyClick(&d, Qt::Key_Escape);
    }));
    ASSERT_EQ(recent.Count(), 1);
    EXPECT_EQ(recent.DataItems()[0], dir / "there.bmp");

    EXPECT_FALSE(Run([](TPreferencesDialog& d) {
        d.Button3->click();
        d.Button2->click();
    }));
    EXPECT_EQ(recent.Count(), 0);
    Expect(before, 16, true, 5);
}

TEST_F(Preferences, OkWritesEachControlBack)
{
    struct Case {
        const char* what;
        std::function<void(TPreferencesDialog&)> change;
        std::function<bool(const Preferences&)> changed;
    };
    const Case cases[] = {
        {"resize by zoom", [](auto& d) { d.chkWindowResizeByZoom->click(); },
         [](const Preferences& p) { return p.options.WindowResizeByZoom; }},
        {"invert hand tool", [](auto& d) { d.chkInvertTenohiraTool->click(); },
         [](const Preferences& p) { return !p.hand.Invert(); }},
        {"new window", [](auto& d) { d.chkOpenResultNewWindow->click(); },
         [](const Preferences& p) { return p.options.OpenResultInNewWindow; }},
        {"show time", [](auto& d) { d.chkShowProcessingTime->click(); },
         [](const Preferences& p) { return !p.options.ShowProgressTime; }},
        {"colour profile", [](auto& d) { d.chkApplyColorProfile->click(); },
         [](const Preferences& p) { return p.options.ApplyColorProfile && p.options.AutoRotate; }},
        {"auto rotate", [](auto& d) { d.chkAutoRotate->click(); },
         [](const Preferences& p) { return !p.options.AutoRotate && !p.options.ApplyColorProfile; }},
        {"grid", [](auto& d) { d.SelectUnitButtons->button(3)->click(); },
         [](const Preferences& p) { return p.select.MinimumUnit() == 24; }},
        {"no grid", [](auto& d) { d.SelectUnitButtons->button(0)->click(); },
         [](const Preferences& p) { return p.select.MinimumUnit() == 1; }},
        {"out of selection", [](auto& d) { d.OutOfSelectionButtons->button(1)->click(); },
         [](const Preferences& p) { return p.options.OutOfSelection == 1; }},
        {"recent count", [](auto& d) { d.updRecentFileCount->setValue(16); },
         [](const Preferences& p) { return p.recent.VisibleCount() == 16; }},
        {"grass width", [](auto& d) { d.updGrassWidth->setValue(32); },
         [](const Preferences& p) { return p.options.GrassWidth == 32; }},
        {"rainbow mask", [](auto& d) { d.updRainbowMaskSize->setValue(2); },
         [](const Preferences& p) { return p.options.RainbowMaskSize == 2; }},
    };
    for (const Case& c : cases) {
        Store();
        EXPECT_TRUE(Run([&c](TPreferencesDialog& d) {
            c.change(d);
            d.Button1->click();
        }));
        EXPECT_TRUE(c.changed(*this)) << c.what;
    }

    // All at once, by the keyboard's Enter.
    Store();
    EXPECT_TRUE(Run([](TPreferencesDialog& d) {
        ChangeEverything(d);
        QTest::keyClick(&d, Qt::Key_Return);
    }));
    Expect({true, true, 0, 30, 2, false, true, false}, 32, false, 12);
    EXPECT_EQ(recent.Count(), 2);
}

TEST_F(Preferences, ValuesTheControlsCannotShow)
{
    // The spinner offers exactly the counts the list keeps: none to the menu's sixteen items.
    for (const int count : {0, 1, 16, 17, 20, 32}) {
        int shown = -1;
        EXPECT_TRUE(Run([count, &shown](TPreferencesDialog& d) {
            EXPECT_EQ(d.updRecentFileCount->minimum(), 0);
            EXPECT_EQ(d.updRecentFileCount->maximum(), TOZHistoryList::kItemCount);
            d.updRecentFileCount->setValue(count);
            shown = d.updRecentFileCount->value();
            d.Button1->click();
        }));
        EXPECT_EQ(recent.VisibleCount(), shown) << count;
        EXPECT_EQ(shown, std::min(count, 16)) << count;
    }

    // A grid without a button shows as none and becomes none; the grids of the buttons come
    // back as they went in.
    const std::pair<uint8_t, int> units[] = {{4, 0}, {1, 0}, {8, 1}, {16, 2}, {24, 3}, {32, 4}};
    for (const auto& [unit, index] : units) {
        select.SetMinimumUnit(unit);
        int shown = -2;
        EXPECT_TRUE(Run([&shown](TPreferencesDialog& d) {
            shown = d.SelectUnitButtons->checkedId();
            d.Button1->click();
        }));
        EXPECT_EQ(shown, index) << int(unit);
        EXPECT_EQ(select.MinimumUnit(), unit == 4 ? 1 : unit);
    }

    // An out-of-selection value without a button checks none and stays; a stored recent
    // count of 0 shows as 0 and stays.
    options.OutOfSelection = 7;
    recent.SetVisibleCount(0);
    EXPECT_TRUE(Run([](TPreferencesDialog& d) {
        EXPECT_EQ(d.OutOfSelectionButtons->checkedId(), -1);
        EXPECT_EQ(d.updRecentFileCount->value(), 0);
        d.Button1->click();
    }));
    EXPECT_EQ(options.OutOfSelection, 7);
    EXPECT_EQ(recent.VisibleCount(), 0);
}

// Digits typed through an input method come full-width ("２０"): the number fields take them.
TEST_F(Preferences, FullWidthDigitsCountAsDigits)
{
    EXPECT_TRUE(Run([](TPreferencesDialog& d) {
        const std::pair<QSpinBox*, QString> typed[] = {
            {d.updRecentFileCount, QStringLiteral("１２")},
            {d.updGrassWidth, QStringLiteral("３０")},
            {d.updRainbowMaskSize, QStringLiteral("2４")},
        };
        for (const auto& [spin, text] : typed) {
            QLineEdit* edit = spin->findChild<QLineEdit*>();
            ASSERT_NE(edit, nullptr);
            edit->selectAll();
            QInputMethodEvent commit;
            commit.setCommitString(text);
            QApplication::sendEvent(edit, &commit);
            EXPECT_EQ(edit->text(), text.normalized(QString::NormalizationForm_KC)) << text.toStdString();
        }
        d.Button1->click();
    }));
    EXPECT_EQ(recent.VisibleCount(), 12);
    EXPECT_EQ(options.GrassWidth, 30);
    EXPECT_EQ(options.RainbowMaskSize, 24);
}

// Tab enters a radio group at its checked button and leaves it with the next Tab; the arrow
// keys move the check within the group, and Tab then enters at the new one.
TEST_F(Preferences, TabEntersARadioGroupAtItsCheckedButton)
{
    EXPECT_FALSE(Run([](TPreferencesDialog& d) {
        QApplication::setActiveWindow(&d);
        d.PageControl1->setCurrentIndex(1);
        QWidget* tabs = d.PageControl1->findChild<QTabBar*>();
        ASSERT_NE(tabs, nullptr);
        const auto tabFrom = [](QWidget* from, bool back = false) {
            from->setFocus();
            QTest::keyClick(from, back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
            return QApplication::focusWidget();
        };
        QAbstractButton* unit16 = d.SelectUnitButtons->button(2);
        QAbstractButton* lighten = d.OutOfSelectionButtons->button(2);
        EXPECT_EQ(tabFrom(tabs), unit16);
        EXPECT_EQ(tabFrom(unit16), lighten);
        EXPECT_EQ(tabFrom(lighten, true), unit16);
        QWidget* after = tabFrom(lighten);
        EXPECT_FALSE(d.OutOfSelectionButtons->buttons().contains(qobject_cast<QAbstractButton*>(after)));
        EXPECT_FALSE(d.SelectUnitButtons->buttons().contains(qobject_cast<QAbstractButton*>(after)));

        unit16->setFocus();
        QTest::keyClick(unit16, Qt::Key_Down);
        EXPECT_EQ(d.SelectUnitButtons->checkedId(), 3);
        EXPECT_EQ(tabFrom(tabs), d.SelectUnitButtons->button(3));
        d.Button2->click();
    }));
}

TEST_F(Preferences, PluginRowsInRegistryOrder)
{
    TPreferencesDialog d;
    d.ListPlugins(nullptr);
    EXPECT_EQ(d.ListView1->topLevelItemCount(), 0);
    EXPECT_EQ(d.ListView1->columnCount(), 4);
    EXPECT_EQ(d.ListView1->headerItem()->text(2), QStringLiteral("Ext"));
    EXPECT_FALSE(d.ListView1->header()->sectionsClickable());

    // As plain plug-ins they stay out of the picture-format table that other tests use.
    TSPIs spis;
    const std::string fixtures = NOLVI2_SPI_FIXTURES;
    spis.Add(TSPI::Load(TSPIKind::Plain, fixtures + "/t_pic.spi"));
    spis.Add(TSPI::Load(TSPIKind::Plain, fixtures + "/t_nogetpicture.spi"));
    d.ListPlugins(&spis);
    d.ListPlugins(&spis);  // a second fill replaces the first
    ASSERT_EQ(d.ListView1->topLevelItemCount(), 2);
    const QStringList rows[] = {
        {QString::fromStdString(spis.Items(0).FileName()), QStringLiteral("test plug-in"), QStringLiteral("*.pi;*.pic"),
         QStringLiteral("Test PI")},
        {QString::fromStdString(spis.Items(1).FileName()), QStringLiteral("test plug-in"), QString(), QString()},
    };
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(d.ListView1->topLevelItem(r)->text(c), rows[r][c]) << r << ", " << c;
            EXPECT_EQ(d.ListView1->topLevelItem(r)->toolTip(c), rows[r][c]) << r << ", " << c;
        }
    EXPECT_TRUE(rows[0][0].endsWith(QStringLiteral("/t_pic.spi")));

    // Shown, the columns share the list's width: the short texts show whole, the long name is
    // cut short in the middle and told whole by its tooltip.
    d.PageControl1->setCurrentIndex(4);
    d.show();
    QTreeWidget* list = d.ListView1;
    const QFontMetrics metrics(list->font());
    int total = 0;
    for (int c = 0; c < 4; ++c)
        total += list->columnWidth(c);
    EXPECT_LE(total, list->viewport()->width());
    for (const int c : {1, 2, 3})
        EXPECT_GT(list->columnWidth(c), metrics.horizontalAdvance(rows[0][c])) << c;
    EXPECT_GT(list->columnWidth(0), list->viewport()->width() / 4);
}

}  // namespace
}  // namespace nolvi2::test
