// The window's settings: what a window leaves in the store when it closes is what the next
// one starts with; the recent-files menu; the first start; a broken store.
#include "WindowFixture.h"

#include "app/dlgPreferences.h"
#include "settings/OZHistoryMenu.h"
#include "settings/OZRegIniDlg.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFileInfo>
#include <QSettings>

namespace nolvi2::test {

namespace {

// The texts of the recent menu's entry items that are shown.
QStringList ShownEntries(TForm1& w)
{
    QStringList texts;
    for (int i = 0; i < TOZHistoryList::kItemCount; ++i)
        if (w.RecentMenu().EntryItem(i)->isVisible())
            texts << w.RecentMenu().EntryItem(i)->text();
    return texts;
}

void WriteConfig(const std::function<void(TOZIniFile2&)>& write)
{
    TOZIniFile2 store;
    write(store);
    store.UpdateFile();
}

}  // namespace

TEST_F(Window, EverySettingAndTheRecentListComeBackInTheNextWindow)
{
    const std::string a = MakePicture("a.bmp", 20, 10);
    const std::string b = MakePicture("B.bmp", 20, 10);
    {
        auto w = MakeWindow({a});
        w->OpenFile(b);
        w->move(140, 90);
        w->Execute("actSelectUnit16");
        w->HandTool().SetInvert(true);
        w->Options() = TWindowOptions{true, false, 2, 12, 5, true, false, false};
        w->Execute("actJpegPreview60");
        w->Execute("actJpegProgressive");
        w->close();
    }
    EXPECT_TRUE(messages.empty());

    TForm1 w(services);
    w.FormCreate({});
    EXPECT_EQ(w.pos(), QPoint(140, 90));
    EXPECT_EQ(w.SelectTool().MinimumUnit(), 16);
    EXPECT_TRUE(w.Action("actSelectUnit16")->isChecked());
    EXPECT_FALSE(w.Action("actSelectUnitFree")->isChecked());
    EXPECT_TRUE(w.HandTool().Invert());
    const TWindowOptions& o = w.Options();
    EXPECT_TRUE(o.WindowResizeByZoom);
    EXPECT_FALSE(o.OpenResultInNewWindow);
    EXPECT_EQ(o.OutOfSelection, 2);
    EXPECT_EQ(o.GrassWidth, 12);
    EXPECT_EQ(o.RainbowMaskSize, 5);
    EXPECT_TRUE(o.ShowProgressTime);
    EXPECT_FALSE(o.ApplyColorProfile);
    EXPECT_FALSE(o.AutoRotate);
    EXPECT_FALSE(w.Action("actOpenResultNewWindow")->isChecked());
    EXPECT_TRUE(w.Action("actShowProcessingTime")->isChecked());
    EXPECT_EQ(w.JpegQuality(), 60);
    EXPECT_FALSE(w.JpegProgressive());
    EXPECT_TRUE(w.Action("actJpegPreview60")->isChecked());
    EXPECT_FALSE(w.Action("actJpegProgressive")->isChecked());
    EXPECT_EQ(ShownEntries(w), (QStringList{"&1 " + QString::fromStdString(b), "&2 " + QString::fromStdString(a)}));
    EXPECT_TRUE(w.HistoryMenu()->menuAction()->isEnabled());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, TheCommandLinePositionWinsAndLostScreensAreLeft)
{
    WriteConfig([](TOZIniFile2& s) {
        s.OpenSection("Config", true);
        s.WriteInteger("WindowX", 300);
        s.WriteInteger("WindowY", 200);
    });
    {
        TForm1 w(services);
        w.FormCreate({});
        EXPECT_EQ(w.pos(), QPoint(300, 200));
    }
    {
        TForm1 w(services);
        w.FormCreate({"pos:40,30"});
        EXPECT_EQ(w.pos(), QPoint(40, 30));
    }
    // A position on a monitor that is gone lands on the primary screen.
    WriteConfig([](TOZIniFile2& s) {
        s.OpenSection("Config", true);
        s.WriteInteger("WindowX", 5000);
        s.WriteInteger("WindowY", -3000);
    });
    TForm1 w(services);
    w.FormCreate({});
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(area.contains(w.pos())) << w.pos().x() << "," << w.pos().y();
}

TEST_F(Window, RecentMenuOpensAsksAboutMissingFilesAndClears)
{
    const std::string a = MakePicture("a.bmp", 20, 10);
    const std::string b = MakePicture("b.bmp", 30, 10);
    auto w = MakeWindow();
    EXPECT_FALSE(w->HistoryMenu()->menuAction()->isEnabled());
    w->OpenFile(a);
    w->OpenFile(b);
    w->OpenFile(a);  // already there: moves to the top
    EXPECT_EQ(w->RecentMenu().DataItems(), (std::vector<std::string>{a, b}));
    EXPECT_TRUE(w->HistoryMenu()->menuAction()->isEnabled());

    w->RecentMenu().EntryItem(1)->trigger();
    EXPECT_EQ(w->FileName(), b);

    // A file that is gone: No keeps the entry and opens nothing, Yes forgets it.
    fs::remove(a);
    int answer = mrNo;
    services->answer = [&](const QString&, TMsgDlgType, TMsgDlgButtons buttons) {
        EXPECT_EQ(buttons, Buttons({mbYes, mbNo}));
        return answer;
    };
    const int index = w->RecentMenu().DataItems()[0] == a ? 0 : 1;
    w->RecentMenu().EntryItem(index)->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "ファイルが見つかりません。\r\n" + QString::fromStdString(a) + "\r\n履歴から削除しますか？");
    EXPECT_EQ(messages[0].kind, mtConfirmation);
    EXPECT_EQ(w->RecentMenu().Count(), 2);
    EXPECT_EQ(w->FileName(), b);
    answer = mrYes;
    w->RecentMenu().EntryItem(index)->trigger();
    EXPECT_EQ(w->RecentMenu().DataItems(), std::vector<std::string>{b});

    // The two clearing commands follow the entries, after a separator.
    const QList<QAction*> items = w->HistoryMenu()->actions();
    ASSERT_EQ(items.size(), TOZHistoryList::kItemCount + 3);
    EXPECT_TRUE(items[16]->isSeparator());
    EXPECT_EQ(items[17]->text(), QStringLiteral("クリア(&C)"));
    EXPECT_EQ(items[18]->text(), QStringLiteral("存在しないファイルをクリア(&N)"));
    items[18]->trigger();
    EXPECT_EQ(w->RecentMenu().Count(), 1);
    items[17]->trigger();
    EXPECT_EQ(w->RecentMenu().Count(), 0);
    EXPECT_FALSE(w->HistoryMenu()->menuAction()->isEnabled());
}

TEST_F(Window, RecentMenuShowsAtMostVisibleCountAndNamesAsTheyAre)
{
    auto w = MakeWindow();
    TOZHistoryFileMenu& menu = w->RecentMenu();
    for (int i = 0; i < 20; ++i)
        menu.AddFile((dir / ("p&q" + std::to_string(i) + ".bmp")).string());
    EXPECT_EQ(ShownEntries(*w).size(), 8);
    EXPECT_EQ(ShownEntries(*w).front(), "&1 " + QString::fromStdString((dir / "p&&q19.bmp").string()));
    menu.SetVisibleCount(16);
    EXPECT_EQ(ShownEntries(*w).size(), 16);
    EXPECT_TRUE(ShownEntries(*w)[9].startsWith("&10 "));
    menu.SetVisibleCount(17);  // beyond the sixteen items: ignored
    EXPECT_EQ(menu.VisibleCount(), 16);
    menu.SetVisibleCount(0);
    EXPECT_TRUE(ShownEntries(*w).isEmpty());
    EXPECT_FALSE(w->HistoryMenu()->menuAction()->isEnabled());
    EXPECT_EQ(menu.Count(), 20);
}

// The store moves from the key store to the INI file and back; the window's settings follow
// at once.
TEST_F(Window, StoreLocationCommandMovesTheSettings)
{
    auto w = MakeWindow();
    w->move(77, 66);
    ASSERT_TRUE(fs::is_directory(settings.KeyFolder()));
    QString shownPath;
    TIniStyle answer = isIniFile;
    services->iniStyle = ([&](const QString& keyPath, TIniStyle& style) {
        shownPath = keyPath;
        EXPECT_EQ(style, isRegistry);  // the store in use
        style = answer;
        return true;
    });
    EXPECT_EQ(w->Action("actIniStyle")->text(), QStringLiteral("設定の保存先(&I)..."));
    w->Execute("actIniStyle");
    EXPECT_EQ(shownPath, QString::fromStdString(settings.KeyFolder()));
    EXPECT_FALSE(fs::exists(settings.KeyFolder()));
    {
        TMemIniFile ini(settings.IniFile());
        EXPECT_EQ(ini.ReadInteger("Config", "WindowX", 0), 77);
        EXPECT_EQ(ini.ReadInteger("Jpeg", "Quality", 0), 80);
        EXPECT_TRUE(ini.ValueExists("RecentFiles2", "Count"));
    }

    // Back: the INI file goes, the key holds the settings.
    services->iniStyle = ([&](const QString&, TIniStyle& style) {
        EXPECT_EQ(style, isIniFile);
        style = isRegistry;
        return true;
    });
    w->Execute("actIniStyle");
    services->iniStyle = {};
    EXPECT_FALSE(fs::exists(settings.IniFile()));
    TOZIniFile2 store;
    EXPECT_EQ(store.Style(), isRegistry);
    store.OpenSection("Config", false);
    EXPECT_EQ(store.ReadInteger("WindowX", 0), 77);
    EXPECT_TRUE(messages.empty());
}

// When the chosen store cannot be made, the one in use stays, with the settings in it.
TEST_F(Window, StoreThatCannotBeMadeKeepsTheOldOne)
{
    auto w = MakeWindow();
    w->move(55, 44);
    w->SaveSettings();
    fs::create_symlink(dir / "missing" / "nolvi2.ini", settings.IniFile());  // a folder that is not there
    services->iniStyle = ([](const QString&, TIniStyle& style) {
        style = isIniFile;
        return true;
    });
    w->Execute("actIniStyle");
    services->iniStyle = {};
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("ファイルを作成できません。"))) << messages[0].text.toStdString();
    TOZIniFile2 store;
    EXPECT_EQ(store.Style(), isRegistry);
    store.OpenSection("Config", false);
    EXPECT_EQ(store.ReadInteger("WindowX", 0), 55);
}

TEST_F(Window, FirstStartAsksOnceAndYesMakesTheIniFile)
{
    fs::remove_all(settings.KeyFolder());
    services->answer = [](const QString&, TMsgDlgType, TMsgDlgButtons) { return int(mrYes); };
    {
        TForm1 w(services);
        w.FormCreate({});
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.toStdString(), kFirstStartQuestion);
        EXPECT_EQ(messages[0].kind, mtConfirmation);
        EXPECT_TRUE(fs::is_regular_file(settings.IniFile()));
        EXPECT_FALSE(fs::exists(settings.KeyFolder()));
        w.close();
    }
    TForm1 again(services);
    again.FormCreate({});
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(TMemIniFile(settings.IniFile()).ReadInteger("Config", "WindowX", 0), again.pos().x());
}

// The question is the first start's, once per run: when the chosen store cannot be made, the
// save at close reports that and asks nothing.
TEST_F(Window, FirstStartIsAskedOnceEvenWhenNoStoreCanBeMade)
{
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes);
        SettingsSandbox box(false);
        fs::create_directory(box.IniFile());  // the INI file cannot be made
        std::ofstream(box.Config() + "/file") << "x";
        ::setenv("XDG_CONFIG_HOME", (box.Config() + "/file/config").c_str(), 1);  // nor the key store
        messages.clear();
        services->answer = [yes](const QString&, TMsgDlgType, TMsgDlgButtons) { return int(yes ? mrYes : mrNo); };
        {
            TForm1 w(services);
            w.FormCreate({});
            w.close();
        }
        int asked = 0;
        for (const Message& m : messages)
            asked += m.text.toStdString() == kFirstStartQuestion;
        EXPECT_EQ(asked, 1);
        ASSERT_FALSE(messages.empty());
        EXPECT_TRUE(messages.back().text.startsWith(QStringLiteral("設定を保存できませんでした。")))
            << messages.back().text.toStdString();
    }
}

// A file opened by a relative name is listed by its full path.
TEST_F(Window, RelativeNamesEnterTheRecentListWhole)
{
    MakePicture("a.bmp", 20, 10);
    auto w = MakeWindow();
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    w->OpenFile("a.bmp");
    w->OpenFile("./a.bmp");
    fs::current_path(old);
    EXPECT_EQ(w->RecentMenu().DataItems(), std::vector<std::string>{(fs::canonical(dir) / "a.bmp").string()});
}

// The open and save dialogs leave no file of Qt's with the user's folders in it.
TEST_F(Window, FileDialogsLeaveNoHistoryBehind)
{
    const std::string a = MakePicture("a.bmp", 20, 10);
    auto w = MakeWindow({a});
    services->realSaveDialog = true;
    for (const char* action : {"actOpen", "actSaveAsBMP"}) {
        bool shown = false;
        QTimer::singleShot(0, [&shown] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                shown = true;
                dialog->reject();
            }
        });
        w->Execute(QString::fromLatin1(action));
        EXPECT_TRUE(shown) << action;
    }
    const QSettings qt(QSettings::UserScope, QStringLiteral("QtProject"));
    EXPECT_FALSE(qt.contains(QStringLiteral("FileDialog/lastVisited")));
    EXPECT_FALSE(QFileInfo::exists(qt.fileName())) << qt.fileName().toStdString();
    EXPECT_FALSE(fs::exists(settings.Config() + "/QtProject.conf"));
}

// A store that cannot be read or written is reported; the window starts with what could be
// read and closes all the same.
TEST_F(Window, BrokenStoreIsReportedAndTheWindowGoesOn)
{
    WriteConfig([](TOZIniFile2& s) {
        s.OpenSection("Config", true);
        s.WriteString("WindowX", "left");  // a text where a number belongs
        s.WriteInteger("GrassWidth", 12);
        s.OpenSection("Jpeg", true);
        s.WriteInteger("Quality", 300);
    });
    {
        auto w = std::make_unique<TForm1>(services);
        w->FormCreate({});
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.contains("WindowX")) << messages[0].text.toStdString();
        EXPECT_EQ(w->pos().x(), 128);
        EXPECT_EQ(w->Options().GrassWidth, 12);
        EXPECT_EQ(w->JpegQuality(), 44);  // the low byte of 300
    }
    // The values file is a folder: nothing can be read or written there.
    messages.clear();
    fs::remove(settings.KeyFolder() + "/Config/values.reg");
    fs::create_directory(settings.KeyFolder() + "/Config/values.reg");
    auto w = std::make_unique<TForm1>(services);
    w->FormCreate({});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(w->Options().GrassWidth, 8);
    w->close();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].text.startsWith(QStringLiteral("設定を保存できませんでした。"))) << messages[1].text.toStdString();
}

}  // namespace nolvi2::test

namespace nolvi2::test {

// The preferences command: what the dialog set shows at once (the grid's and the toggles'
// check marks, the shading around the selection, the recent menu), and Cancel changes nothing.
TEST_F(Window, PreferencesTakeEffectAtOnce)
{
    const std::string file = MakePicture("p.bmp", 60, 40);
    auto w = MakeWindow({file});
    w->SelectTool().SetRect({10, 10, 30, 30});
    const auto shown = [&](int32_t x, int32_t y) {
        const TRect r = w->ImageToScreen(x, y);
        return PixelAt(*w, r.Left, r.Top);
    };
    const QRgb darkened = shown(50, 5);
    EXPECT_EQ(darkened, qRgb(25, 2, 100));

    TWindowOptions seen;
    services->preferences = ([&](TWindowOptions& options, const TPreferencesTargets& targets) {
        seen = options;
        EXPECT_EQ(targets.Recent, &w->RecentMenu());
        EXPECT_EQ(targets.SelectTool, &w->SelectTool());
        EXPECT_EQ(targets.HandTool, &w->HandTool());
        return false;
    });
    w->Execute("actPreferences");
    EXPECT_EQ(seen.OutOfSelection, w->Options().OutOfSelection);
    EXPECT_EQ(shown(50, 5), darkened);

    services->preferences = ([](TWindowOptions& options, const TPreferencesTargets& targets) {
        options.OutOfSelection = 2;
        options.OpenResultInNewWindow = true;
        options.ShowProgressTime = true;
        targets.SelectTool->SetMinimumUnit(32);
        targets.Recent->SetVisibleCount(0);
        return true;
    });
    w->Execute("actPreferences");
    services->preferences = {};
    EXPECT_EQ(shown(50, 5), qRgb(128 + 50, 128 + 5, 255));  // lightened
    EXPECT_TRUE(w->Action("actSelectUnit32")->isChecked());
    EXPECT_TRUE(w->Action("actOpenResultNewWindow")->isChecked());
    EXPECT_TRUE(w->Action("actShowProcessingTime")->isChecked());
    EXPECT_FALSE(w->HistoryMenu()->menuAction()->isEnabled());
    EXPECT_TRUE(messages.empty());
}

}  // namespace nolvi2::test
