#include "FileText.h"
#include "SettingsSandbox.h"
#include "platform/Exceptions.h"
#include "settings/OZIniFile2.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

// The first start's question for one test: answers with answer (none: no question is set)
// and counts how often it was asked.
class Question {
public:
    explicit Question(std::optional<bool> answer) : FAnswer(answer) {}
    // The question to hand to the store.
    TFirstStartQuestion Ask()
    {
        if (!FAnswer)
            return {};
        return [this] {
            ++Asked;
            return *FAnswer;
        };
    }

    int Asked = 0;

private:
    std::optional<bool> FAnswer;
};

// Restores a folder's permission bits when the scope ends.
class ScopedMode {
public:
    ScopedMode(std::string path, mode_t mode) : FPath(std::move(path)), FOld(mode_t(ModeOf(FPath)))
    {
        ::chmod(FPath.c_str(), mode);
    }
    ~ScopedMode() { ::chmod(FPath.c_str(), FOld); }

private:
    std::string FPath;
    mode_t FOld;
};

const char* const kCurrentSectionMissing = "カレントセクションが設定されていません。";

// A store of the given kind holding Config\Value = 1 and a section Sub.
void MakeStore(TIniStyle style)
{
    TOZIniFile2::InitializeStore(style);
    TOZIniFile2 store;
    store.OpenSection("Config", true);
    store.WriteInteger("Value", 1);
    store.OpenSection("Sub", true);
    store.WriteString("Text", "t");
    store.UpdateFile();
}

// Where a store of the style keeps its Config section: the folder and the file's name.
struct TConfigFile {
    std::string Folder, Name;
    std::string Path() const { return Folder + "/" + Name; }
};
TConfigFile ConfigFileOf(const SettingsSandbox& box, TIniStyle style)
{
    return style == isIniFile ? TConfigFile{box.Bin(), "nolvi2.ini"} : TConfigFile{box.KeyFolder() + "/Config", "values.reg"};
}

// Saves one value into the Config section; raises what the save raises.
void SaveOneValue()
{
    TOZIniFile2 store;
    store.OpenSection("Config", true);
    store.WriteInteger("Value", 2);
    store.UpdateFile();
}

}  // namespace

TEST(SettingsStore, FirstStartAsksOnceAndMakesTheChosenStore)
{
    struct Case {
        std::optional<bool> answer;
        TIniStyle style;
    };
    for (const Case c : {Case{true, isIniFile}, Case{false, isRegistry}, Case{std::nullopt, isRegistry}}) {
        SCOPED_TRACE(c.answer ? (*c.answer ? "yes" : "no") : "no question");
        SettingsSandbox box(false);
        Question question(c.answer);
        {
            TOZIniFile2 store(question.Ask());
            EXPECT_EQ(store.Style(), c.style);
            EXPECT_EQ(store.Notice(), "");
            EXPECT_EQ(question.Asked, c.answer ? 1 : 0);
        }
        EXPECT_EQ(fs::is_regular_file(box.IniFile()), c.style == isIniFile);
        EXPECT_EQ(fs::is_directory(box.KeyFolder()), c.style == isRegistry);
        if (c.style == isIniFile) {
            EXPECT_EQ(ReadText(box.IniFile()), "");
            EXPECT_EQ(ModeOf(box.IniFile()), 0600);
        }
        // The next start finds the store and asks nothing.
        TOZIniFile2 again;
        EXPECT_EQ(again.Style(), c.style);
        EXPECT_EQ(question.Asked, c.answer ? 1 : 0);
    }
}

TEST(SettingsStore, KeyStoreWinsWhenBothExist)
{
    SettingsSandbox box;  // the key exists
    WriteText(box.IniFile(), "[Config]\nValue=5\n");
    Question question(true);
    TIniStyle style = isIniFile;
    ASSERT_TRUE(TOZIniFile2::DetectStyle(style));
    EXPECT_EQ(style, isRegistry);
    TOZIniFile2 store(question.Ask());
    EXPECT_EQ(store.Style(), isRegistry);
    store.OpenSection("Config", false);
    EXPECT_EQ(store.ReadInteger("Value", -1), -1);
    EXPECT_EQ(question.Asked, 0);
}

TEST(SettingsStore, UnwritableProgramFolderUsesTheKeyStoreWithoutAsking)
{
    if (IgnoresPermissions())
        GTEST_SKIP() << "root writes into any folder";
    SettingsSandbox box(false);
    Question question(true);
    ScopedMode readOnly(box.Bin(), 0555);
    TOZIniFile2 store(question.Ask());
    EXPECT_EQ(store.Style(), isRegistry);
    EXPECT_EQ(question.Asked, 0);
    EXPECT_TRUE(fs::is_directory(box.KeyFolder()));
    EXPECT_FALSE(fs::exists(box.IniFile()));
}

TEST(SettingsStore, IniFileThatCannotBeMadeFallsBackToTheKeyStoreWithANotice)
{
    SettingsSandbox box(false);
    fs::create_directory(box.IniFile());  // the INI file's name is taken by a folder
    Question question(true);
    {
        TOZIniFile2 store(question.Ask());
        EXPECT_EQ(question.Asked, 1);
        EXPECT_EQ(store.Style(), isRegistry);
        EXPECT_NE(store.Notice().find(box.IniFile()), std::string::npos) << store.Notice();
        store.OpenSection("Config", true);
        store.WriteInteger("Value", 3);
        store.UpdateFile();
    }
    EXPECT_TRUE(fs::is_directory(box.KeyFolder() + "/Config"));
    TOZIniFile2 again;
    EXPECT_EQ(again.Style(), isRegistry);
    EXPECT_EQ(again.Notice(), "");
    EXPECT_EQ(question.Asked, 1);
}

TEST(SettingsStore, ChangeStyleMovesToAnEmptyStoreOfTheOtherKind)
{
    SettingsSandbox box(false);
    MakeStore(isRegistry);
    ASSERT_TRUE(fs::exists(box.KeyFolder() + "/Sub/values.reg"));

    TOZIniFile2::ChangeStyle(isIniFile);
    EXPECT_FALSE(fs::exists(box.KeyFolder()));
    EXPECT_TRUE(fs::exists(box.Config() + "/Tamberlo"));
    EXPECT_EQ(ReadText(box.IniFile()), "");
    {
        TOZIniFile2 store;
        EXPECT_EQ(store.Style(), isIniFile);
        store.OpenSection("Config", false);
        EXPECT_EQ(store.ReadInteger("Value", 0), 0);
    }

    MakeStore(isIniFile);
    TOZIniFile2::ChangeStyle(isRegistry);
    EXPECT_FALSE(fs::exists(box.IniFile()));
    ASSERT_TRUE(fs::is_directory(box.KeyFolder()));
    EXPECT_TRUE(fs::is_empty(box.KeyFolder()));
    TOZIniFile2 store;
    EXPECT_EQ(store.Style(), isRegistry);
}

TEST(SettingsStore, ChangeStyleToTheSameKindOrWithoutAStoreDoesNothing)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::ChangeStyle(isIniFile);
        TOZIniFile2::ChangeStyle(isRegistry);
        EXPECT_FALSE(fs::exists(box.IniFile()));
        EXPECT_FALSE(fs::exists(box.KeyFolder()));

        MakeStore(style);
        TOZIniFile2::ChangeStyle(style);
        TOZIniFile2 store;
        EXPECT_EQ(store.Style(), style);
        store.OpenSection("Sub", false);
        EXPECT_EQ(store.ReadString("Text", ""), "t");
    }
}

TEST(SettingsStore, ChangeStyleReportsAnOldStoreThatCannotBeDeleted)
{
    if (IgnoresPermissions())
        GTEST_SKIP() << "root deletes from any folder";
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        MakeStore(style);
        const TIniStyle other = style == isIniFile ? isRegistry : isIniFile;
        {
            ScopedMode locked(style == isIniFile ? box.Bin() : box.Config() + "/Tamberlo", 0555);
            try {
                TOZIniFile2::ChangeStyle(other);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), "古い形式の設定が削除できませんでした");
            }
        }
        TIniStyle found;
        ASSERT_TRUE(TOZIniFile2::DetectStyle(found));
        EXPECT_EQ(found, style);
        EXPECT_FALSE(fs::exists(style == isIniFile ? box.KeyFolder() : box.IniFile()));
        TOZIniFile2 store;
        store.OpenSection("Sub", false);
        EXPECT_EQ(store.ReadString("Text", ""), "t");
    }
}

TEST(SettingsStore, ChooseStyleChangesOnlyWhenConfirmed)
{
    SettingsSandbox box(false);
    std::string shownKey;
    std::optional<TIniStyle> shownStyle;
    const auto dialog = [&](bool confirm, TIniStyle choice) {
        return [&, confirm, choice](const std::string& key, TIniStyle& style) {
            shownKey = key;
            shownStyle = style;
            style = choice;
            return confirm;
        };
    };
    // No store yet: the dialog starts from the INI file.
    EXPECT_FALSE(TOZIniFile2::ChooseStyle(dialog(false, isRegistry)));
    EXPECT_EQ(shownStyle, isIniFile);
    EXPECT_EQ(shownKey, box.KeyFolder());
    EXPECT_FALSE(fs::exists(box.KeyFolder()));

    MakeStore(isRegistry);
    EXPECT_FALSE(TOZIniFile2::ChooseStyle(dialog(false, isIniFile)));
    EXPECT_EQ(shownStyle, isRegistry);
    EXPECT_TRUE(fs::exists(box.KeyFolder()));
    EXPECT_TRUE(TOZIniFile2::ChooseStyle(dialog(true, isIniFile)));
    EXPECT_FALSE(fs::exists(box.KeyFolder()));
    EXPECT_TRUE(fs::exists(box.IniFile()));
    EXPECT_FALSE(TOZIniFile2::ChooseStyle({}));
}

TEST(SettingsStore, WritesNeedAnOpenSection)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        TOZIniFile2 store;
        ASSERT_EQ(store.Style(), style);
        EXPECT_FALSE(store.SectionOpen());
        const std::function<void()> writes[] = {
            [&] { store.WriteInteger("a", 1); },
            [&] { store.WriteString("a", "1"); },
            [&] { store.WriteBool("a", true); },
        };
        for (const auto& write : writes) {
            try {
                write();
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), kCurrentSectionMissing);
            }
        }
        // Reads without a section give the defaults.
        EXPECT_EQ(store.ReadInteger("a", 7), 7);
        EXPECT_EQ(store.ReadString("a", "d"), "d");
    }
}

TEST(SettingsStore, KeyStoreSectionsThatCannotBeOpened)
{
    SettingsSandbox box;
    TOZIniFile2 store;
    store.OpenSection("Missing", false);
    EXPECT_FALSE(store.SectionOpen());
    EXPECT_FALSE(store.SectionExists("Missing"));
    EXPECT_THROW(store.WriteInteger("a", 1), Exception);
    EXPECT_EQ(store.ReadInteger("a", 4), 4);

    // A section whose folder is a file cannot be made.
    WriteText(box.KeyFolder() + "/Plain", "");
    store.OpenSection("Plain", true);
    EXPECT_FALSE(store.SectionOpen());
    EXPECT_THROW(store.WriteString("a", "b"), Exception);

    // Erasing the open section closes it.
    store.OpenSection("Erased", true);
    store.WriteInteger("a", 1);
    EXPECT_TRUE(store.SectionExists("erased"));
    EXPECT_TRUE(store.EraseSection("ERASED"));
    EXPECT_FALSE(store.SectionOpen());
    EXPECT_THROW(store.WriteInteger("a", 1), Exception);
    store.UpdateFile();
    EXPECT_FALSE(fs::exists(box.KeyFolder() + "/Erased"));
    EXPECT_FALSE(store.EraseSection(""));
    EXPECT_TRUE(fs::is_directory(box.KeyFolder()));
}

TEST(SettingsStore, ValuesRoundTripInBothStores)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        {
            TOZIniFile2 store;
            store.OpenSection("Config", true);
            store.WriteBool("On", true);
            store.WriteBool("Off", false);
            store.WriteInteger("Min", INT32_MIN);
            store.WriteString("Path", "/home/ü/\xff.jpg");
            store.OpenSection("Other", true);
            store.WriteInteger("On", 0);
            store.UpdateFile();
        }
        TOZIniFile2 store;
        store.OpenSection("config", false);
        EXPECT_TRUE(store.ReadBool("on", false));
        EXPECT_FALSE(store.ReadBool("Off", true));
        EXPECT_TRUE(store.ReadBool("Missing", true));
        EXPECT_EQ(store.ReadInteger("MIN", 0), INT32_MIN);
        EXPECT_EQ(store.ReadString("Path", ""), "/home/ü/\xff.jpg");
        EXPECT_TRUE(store.SectionExists("Other"));
        store.OpenSection("Other", false);
        EXPECT_FALSE(store.ReadBool("On", true));
    }
}

TEST(SettingsStore, IniFileWritesAreLostWithoutUpdateFile)
{
    SettingsSandbox box(false);
    TOZIniFile2::InitializeStore(isIniFile);
    {
        TOZIniFile2 store;
        store.OpenSection("Config", true);
        store.WriteInteger("Value", 1);
    }
    EXPECT_EQ(ReadText(box.IniFile()), "");
}

TEST(SettingsStore, StoredNumbersAsTheyAreRead)
{
    SettingsSandbox box(false);
    WriteText(box.IniFile(), "[Config]\nTwo=2\nMinus=-1\nHex=$1F\nHex2=0x10\nAll=$FFFFFFFF\nWord=yes\nBig=99999999999\n");
    {
        TOZIniFile2 store;
        ASSERT_EQ(store.Style(), isIniFile);
        store.OpenSection("Config", false);
        EXPECT_TRUE(store.ReadBool("Two", false));
        EXPECT_TRUE(store.ReadBool("Minus", false));
        EXPECT_EQ(store.ReadInteger("Hex", 0), 31);
        EXPECT_EQ(store.ReadInteger("Hex2", 0), 16);
        EXPECT_EQ(store.ReadInteger("All", 0), -1);
        EXPECT_EQ(store.ReadInteger("Word", 5), 5);
        EXPECT_FALSE(store.ReadBool("Word", false));
        EXPECT_EQ(store.ReadInteger("Big", 5), 5);
    }
    // The key store: any non-zero dword is true; another type reads as the default and is
    // reported.
    fs::remove(box.IniFile());
    fs::create_directories(box.KeyFolder() + "/Config");
    WriteText(box.KeyFolder() + "/Config/values.reg",
              "\"Two\"=dword:00000002\n\"Text\"=\"1\"\n\"Number\"=dword:00000001\n");
    TOZIniFile2 store;
    ASSERT_EQ(store.Style(), isRegistry);
    store.OpenSection("Config", false);
    EXPECT_TRUE(store.ReadBool("Two", false));
    EXPECT_TRUE(store.ReadBool("Text", true));
    EXPECT_EQ(store.ReadInteger("Text", 7), 7);
    EXPECT_EQ(store.ReadString("Number", "def"), "def");
    EXPECT_EQ(store.ReadString("Text", ""), "1");
    const std::vector<std::string> failures = store.TakeReadFailures();
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_NE(failures[0].find("\"Text\""), std::string::npos) << failures[0];
    EXPECT_NE(failures[2].find("\"Number\""), std::string::npos) << failures[2];
    EXPECT_TRUE(store.ReadFailures().empty());
}

TEST(SettingsStore, PlacesFollowTheExecutableName)
{
    struct Case {
        std::string exe;
        std::string appName;
        std::string ini;
    };
    const Case cases[] = {
        {"/opt/app/nolvi2", "nolvi2", "/opt/app/nolvi2.ini"},
        {"/opt/app/b", "b", "/opt/app/b.ini"},
        {"/opt/app/nolvi2.bin", "nolvi2", "/opt/app/nolvi2.ini"},
        {"/opt/app/x.tar.gz", "x.tar", "/opt/app/x.tar.ini"},
        {"/opt/v1.2/nolvi2", "nolvi2", "/opt/v1.2/nolvi2.ini"},
        {"/opt/app/.hidden", ".hidden", "/opt/app/.hidden.ini"},
    };
    SettingsSandbox box(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exe);
        TOZIniFile2::SetExecutableName(c.exe);
        EXPECT_EQ(TOZIniFile2::GetAppName(), c.appName);
        EXPECT_EQ(TOZIniFile2::GetIniFileName(), c.ini);
        EXPECT_EQ(TOZIniFile2::ProgramKey(), "Software\\Tamberlo\\" + c.appName);
        EXPECT_EQ(TOZIniFile2::ProgramKeyFolder(), box.Config() + "/Tamberlo/" + c.appName);
    }
}

TEST(SettingsStore, AnotherNameForTheSameExecutableHasItsOwnStore)
{
    SettingsSandbox box;  // nolvi2's key exists
    WriteText(box.Bin() + "/nolvi2.ini", "[Config]\nValue=1\n");
    TOZIniFile2::SetExecutableName(box.Bin() + "/b");
    Question question(true);
    TOZIniFile2 store(question.Ask());
    EXPECT_EQ(question.Asked, 1);  // a first start for b
    EXPECT_EQ(store.Style(), isIniFile);
    EXPECT_EQ(store.AppName(), "b");
    EXPECT_TRUE(fs::exists(box.Bin() + "/b.ini"));
    store.OpenSection("Config", false);
    EXPECT_EQ(store.ReadInteger("Value", 0), 0);

    fs::remove(box.Bin() + "/b.ini");
    TOZIniFile2::InitializeStore(isRegistry);
    EXPECT_TRUE(fs::is_directory(box.Config() + "/Tamberlo/b"));
    EXPECT_TRUE(fs::is_directory(box.KeyFolder()));
}

// A store file that its permission bits keep from writing is not replaced: the save is refused
// with the reason, and the file keeps its text and bits.
TEST(SettingsStore, ReadOnlyFilesAreNotReplaced)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        MakeStore(style);
        const std::string file = ConfigFileOf(box, style).Path();
        const std::string before = ReadText(file);
        ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
        try {
            SaveOneValue();
            ADD_FAILURE() << "not refused";
        } catch (const EWriteError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("ファイルに書き込めません。\r" + file + "\r(")) << e.what();
        }
        EXPECT_EQ(ReadText(file), before);
        EXPECT_EQ(ModeOf(file), 0444);
    }
}

// What a killed save left beside a store file goes at the next save; other files stay.
TEST(SettingsStore, TheNextSaveRemovesWhatAKilledSaveLeft)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        MakeStore(style);
        const auto [folder, base] = ConfigFileOf(box, style);
        WriteText(folder + "/." + base + ".nolvi2-K1ll3d", "half a save");
        WriteText(folder + "/." + base + ".backup", "the user's");
        WriteText(folder + "/notes.txt", "the user's");
        SaveOneValue();
        EXPECT_FALSE(fs::exists(folder + "/." + base + ".nolvi2-K1ll3d"));
        EXPECT_TRUE(fs::exists(folder + "/." + base + ".backup"));
        EXPECT_TRUE(fs::exists(folder + "/notes.txt"));
    }
}
