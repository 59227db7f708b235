#include "FileText.h"
#include "SettingsSandbox.h"
#include "platform/KeyStore.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

using TType = TRegistry::TValueType;
using namespace std::string_literals;

// Values as rows that compare and print whole: name, type, integer, text.
using Row = std::tuple<std::string, TType, int32_t, std::string>;
std::vector<Row> Rows(const std::vector<TRegistry::TValue>& values)
{
    std::vector<Row> rows;
    for (const TRegistry::TValue& v : values)
        rows.emplace_back(v.Name, v.Type, v.Integer, v.Text);
    return rows;
}

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : FName(name)
    {
        if (const char* old = std::getenv(name))
            FOld = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }

private:
    const char* FName;
    std::optional<std::string> FOld;
};

}  // namespace

TEST(RegistryKeys, PathsMapToFoldersUnderTheConfigFolder)
{
    SettingsSandbox box(false);
    const std::string root = box.Config();
    struct Case {
        std::string key;
        std::string folder;  // empty: refused
    };
    const Case cases[] = {
        {"Software\\A\\B", root + "/A/B"},
        {"\\Software\\A\\B", root + "/A/B"},
        {"SOFTWARE\\A", root + "/A"},
        {"Software\\A\\B\\", root + "/A/B"},
        {"Software", root},
        {"Software\\日本語\\\xff\xfe", root + "/日本語/\xff\xfe"},
        {"", ""},
        {"\\", ""},
        {"HKEY_CURRENT_USER\\Software\\A", ""},
        {"Softwares\\A", ""},
        {"Other\\A", ""},
        {"Software\\\\A", ""},
        {"Software\\.\\A", ""},
        {"Software\\..", ""},
        {"Software\\..\\..\\escape", ""},
        {"Software\\A/B", ""},
        {"Software\\../escape", ""},
        {std::string("Software\\A\0B", 12), ""},
        {"Software\\values.reg", ""},
        {"Software\\A\\VALUES.REG", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(TRegistry::KeyFolder(c.key), c.folder);
        TRegistry reg;
        const bool valid = !c.folder.empty();
        EXPECT_EQ(reg.CreateKey(c.key), valid);
        EXPECT_EQ(reg.KeyExists(c.key), valid);
        EXPECT_EQ(reg.OpenKey(c.key, true), valid);
        EXPECT_EQ(reg.HasOpenKey(), valid);
        EXPECT_EQ(fs::is_directory(c.folder), valid);
    }
    // Nothing was made beside the store's folder.
    EXPECT_EQ(Entries(fs::path(root).parent_path()), (std::vector<std::string>{"bin", "config"}));
    EXPECT_FALSE(fs::exists(root + "/values.reg"));
}

TEST(RegistryKeys, RootIsXdgConfigHomeWhenAbsoluteElseHomeConfig)
{
    TempDir temp;
    const std::string home = temp / "home";
    ScopedEnv homeEnv("HOME", home.c_str());
    {
        ScopedEnv config("XDG_CONFIG_HOME", (temp / "xdg").c_str());
        EXPECT_EQ(KeyStoreRoot(), temp / "xdg");
    }
    for (const char* config : {"relative/config", ""}) {
        ScopedEnv env("XDG_CONFIG_HOME", config);
        EXPECT_EQ(KeyStoreRoot(), home + "/.config") << config;
    }
}

TEST(RegistryKeys, NamesIgnoreCaseOfAsciiLetters)
{
    SettingsSandbox box(false);
    // A folder made by hand in another case is the same key.
    fs::create_directories(box.Config() + "/Tamberlo/MiXed");
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("software\\TAMBERLO\\mixed", false));
        reg.WriteInteger("Count", 1);
        reg.WriteInteger("COUNT", 2);  // the same value
        reg.WriteString("Name", "x");
        EXPECT_EQ(reg.ReadInteger("count"), 2);
        EXPECT_EQ(reg.ReadString("NAME"), "x");
        reg.CloseKey();
    }
    EXPECT_EQ(Entries(box.Config() + "/Tamberlo"), (std::vector<std::string>{"MiXed"}));
    const std::string text = ReadText(box.Config() + "/Tamberlo/MiXed/values.reg");
    EXPECT_NE(text.find("\"Count\"=dword:00000002\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("COUNT"), std::string::npos) << text;

    // Letters beyond ASCII are different names.
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Tamberlo\\Mixed", false));
    reg.WriteInteger("Ä", 1);
    EXPECT_FALSE(reg.ValueExists("ä"));
}

TEST(RegistryValues, RoundTripThroughTheFile)
{
    SettingsSandbox box(false);
    const std::vector<std::pair<std::string, std::string>> strings = {
        {"Plain", "/home/user/a.jpg"},
        {"Empty", ""},
        {"Escapes", "back\\slash \"quoted\"\nline\r\ttab"},
        {"Controls", std::string("\x01\x1f\x7f\0end", 7)},
        {"NotUtf8", "\xff\xfe\x80\xc3("},
        {"Japanese", "日本語のファイル名.jpg"},
        {"Text\\x41", "\\x41 stays as written"},
        {"name \"with\" quotes", "v"},
        {"", "the default value"},
    };
    const std::vector<std::pair<std::string, int32_t>> integers = {
        {"Zero", 0}, {"Ten", 10}, {"Minus", -1}, {"Min", INT32_MIN}, {"Max", INT32_MAX}};
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\Tamberlo\\Test", true));
        for (const auto& [name, value] : strings)
            reg.WriteString(name, value);
        for (const auto& [name, value] : integers)
            reg.WriteInteger(name, value);
        reg.WriteBool("Yes", true);
        reg.WriteBool("No", false);
        reg.CloseKey();
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\Tamberlo\\Test", false));
    for (const auto& [name, value] : strings)
        EXPECT_EQ(reg.ReadString(name), value) << name;
    for (const auto& [name, value] : integers)
        EXPECT_EQ(reg.ReadInteger(name), value) << name;
    EXPECT_TRUE(reg.ReadBool("Yes"));
    EXPECT_FALSE(reg.ReadBool("No"));

    // Every value is one line, whatever it holds.
    const std::string text = ReadText(box.Config() + "/Tamberlo/Test/values.reg");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + std::ptrdiff_t(strings.size() + integers.size() + 2));
}

TEST(RegistryValues, FileIsWrittenLikeARegistryExport)
{
    const std::vector<TRegistry::TValue> values = {
        {"Count", TType::Integer, 10, ""},
        {"Neg", TType::Integer, -2, ""},
        {"Data0", TType::String, 0, "C:\\a \"b\"\n\x01\xff"},
        {"", TType::String, 0, "default"},
        {"Bin", TType::Other, 0, "\"Bin\"=hex:01,02"},
    };
    const std::string expected =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\A\\B]\n"
        "\"Count\"=dword:0000000a\n"
        "\"Neg\"=dword:fffffffe\n"
        "\"Data0\"=\"C:\\\\a \\\"b\\\"\\n\\x01\xff\"\n"
        "@=\"default\"\n"
        "\"Bin\"=hex:01,02\n";
    EXPECT_EQ(TRegistry::FormatValues("Software\\A\\B", values), expected);

    EXPECT_EQ(Rows(TRegistry::ParseValues(expected)), Rows(values));
}

TEST(RegistryValues, MalformedLinesAreSkipped)
{
    const std::string text =
        "no header at all\r\n"
        "[HKEY_CURRENT_USER\\Software\\Whatever]\r\n"
        "\"Good\"=dword:0000000A\r\n"
        "\"Short\"=dword:7\r\n"
        "\"Empty\"=dword:\r\n"
        "\"Long\"=dword:123456789\r\n"
        "\"NotHex\"=dword:0000000g\r\n"
        "\"Signed\"=dword:-1\r\n"
        "\"Open\"=\"no closing quote\r\n"
        "\"After\"=\"x\" trailing\r\n"
        "\"NoEquals\"\r\n"
        "\"Spaced\" = dword:00000001\r\n"
        "unquoted=dword:00000001\r\n"
        "\"Text\"=\"kept\"\r\n"
        "\"good\"=dword:00000005\r\n"
        "\"Binary\"=hex(2):41,00\r\n"
        "\x00\x01\x02\xff garbage\r\n"
        "\"Last\"=\"no line end\""s;
    const std::vector<Row> expected = {
        {"Good", TType::Integer, 10, ""},
        {"Short", TType::Integer, 7, ""},
        {"Text", TType::String, 0, "kept"},
        {"Binary", TType::Other, 0, "\"Binary\"=hex(2):41,00"},
        {"Last", TType::String, 0, "no line end"},
    };
    EXPECT_EQ(Rows(TRegistry::ParseValues(text)), expected);
    EXPECT_TRUE(TRegistry::ParseValues(std::string(4096, '\0')).empty());
    EXPECT_TRUE(TRegistry::ParseValues("").empty());
}

TEST(RegistryValues, WrittenValuesParseBackTheSame)
{
    const std::string texts[] = {
        "\"Blob\"=hex:00\r\r\n",
        "\"Text\"=\"x\"\r\r\r\n\"Other\"=weird\r\n",
        "\"cmunt\"=dwor0000\r\r\nfn\"\"= \"n\"\r\n\"After\"=\"x\"\0tail\r\n"s,
        "@=dword:1\n\"\"=\"second default\"\n\"a\\\"b\"=\"\\x4\"\n",
        "\"\\x41\"=\"\\x4G\\q\\\"\n",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const auto values = TRegistry::ParseValues(text);
        const std::string written = TRegistry::FormatValues("Software\\A", values);
        const auto back = TRegistry::ParseValues(written);
        EXPECT_EQ(Rows(back), Rows(values));
        EXPECT_EQ(TRegistry::FormatValues("Software\\A", back), written);
    }
}

TEST(RegistryValues, MalformedFileReadsWhatItCanAndKeepsOtherValuesWhenRewritten)
{
    SettingsSandbox box(false);
    const std::string folder = box.Config() + "/Tamberlo/Test";
    fs::create_directories(folder);
    WriteText(folder + "/values.reg",
              "garbage\n\"Width\"=dword:00000010\n\"Broken\"=dword:zz\n\"Blob\"=hex:00,ff\n");
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\Tamberlo\\Test", false));
        EXPECT_EQ(reg.ReadInteger("Width"), 16);
        EXPECT_FALSE(reg.ValueExists("Broken"));
        EXPECT_TRUE(reg.ValueExists("Blob"));
        reg.WriteInteger("Height", 5);
        reg.CloseKey();
    }
    const std::string text = ReadText(folder + "/values.reg");
    EXPECT_NE(text.find("\n\"Blob\"=hex:00,ff\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\"Height\"=dword:00000005\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("garbage"), std::string::npos) << text;
}

TEST(RegistryValues, MissingOrOtherTypeRaises)
{
    SettingsSandbox box(false);
    TRegistry reg;
    EXPECT_THROW(reg.ReadInteger("x"), ERegistryException);  // no key open
    EXPECT_THROW(reg.WriteInteger("x", 1), ERegistryException);
    EXPECT_THROW(reg.WriteString("x", "1"), ERegistryException);

    const std::string folder = box.Config() + "/Tamberlo/Test";
    fs::create_directories(folder);
    WriteText(folder + "/values.reg", "\"Number\"=dword:00000001\n\"Text\"=\"1\"\n\"Blob\"=hex:01\n");
    ASSERT_TRUE(reg.OpenKey("Software\\Tamberlo\\Test", false));
    EXPECT_THROW(reg.ReadString("Number"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Text"), ERegistryException);
    EXPECT_THROW(reg.ReadBool("Text"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Blob"), ERegistryException);
    EXPECT_THROW(reg.ReadString("Blob"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Missing"), ERegistryException);
    EXPECT_THROW(reg.ReadString("Missing"), ERegistryException);
    // A value written with another type takes that type.
    reg.WriteString("Number", "now text");
    EXPECT_EQ(reg.ReadString("Number"), "now text");
    EXPECT_THROW(reg.ReadInteger("Number"), ERegistryException);
}

TEST(RegistryKeys, KeyFolderThatIsAFileOrUnreadableValues)
{
    SettingsSandbox box(false);
    fs::create_directories(box.Config() + "/Tamberlo");
    WriteText(box.Config() + "/Tamberlo/Plain", "a file, not a key");
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists("Software\\Tamberlo\\Plain"));
    EXPECT_FALSE(reg.CreateKey("Software\\Tamberlo\\Plain"));
    EXPECT_FALSE(reg.OpenKey("Software\\Tamberlo\\Plain", true));
    EXPECT_FALSE(reg.OpenKey("Software\\Tamberlo\\Plain\\Below", true));
    EXPECT_FALSE(reg.HasOpenKey());
    EXPECT_EQ(ReadText(box.Config() + "/Tamberlo/Plain"), "a file, not a key");

    // A values file that is a folder cannot be read: the failure is raised, no key is open,
    // and the folder is left alone.
    fs::create_directories(box.Config() + "/Tamberlo/Odd/values.reg");
    EXPECT_THROW(reg.OpenKey("Software\\Tamberlo\\Odd", false), Exception);
    EXPECT_FALSE(reg.HasOpenKey());
    EXPECT_TRUE(fs::is_directory(box.Config() + "/Tamberlo/Odd/values.reg"));
}

TEST(RegistryKeys, DeleteKeyRemovesTheWholeTree)
{
    SettingsSandbox box(false);
    {
        TRegistry reg;
        for (const char* key : {"Software\\T\\App", "Software\\T\\App\\Config", "Software\\T\\App\\Config\\Deep",
                                "Software\\T\\Other"}) {
            ASSERT_TRUE(reg.OpenKey(key, true)) << key;
            reg.WriteInteger("v", 1);
        }
        reg.CloseKey();
    }
    TRegistry reg;
    // A sub-key is open with unwritten values: deleting above it closes it without writing.
    ASSERT_TRUE(reg.OpenKey("Software\\T\\App\\Config", false));
    reg.WriteInteger("w", 2);
    EXPECT_TRUE(reg.DeleteKey("software\\t\\APP"));
    EXPECT_FALSE(reg.HasOpenKey());
    reg.CloseKey();
    EXPECT_FALSE(fs::exists(box.Config() + "/T/App"));
    EXPECT_FALSE(reg.KeyExists("Software\\T\\App\\Config"));
    EXPECT_TRUE(reg.KeyExists("Software\\T\\Other"));

    EXPECT_TRUE(reg.DeleteKey("Software\\T\\NeverThere"));
    for (const char* refused : {"Software", "\\Software\\", "Software\\..", "Other\\T"})
        EXPECT_FALSE(reg.DeleteKey(refused)) << refused;
    EXPECT_TRUE(fs::exists(box.Config() + "/T/Other/values.reg"));
}

TEST(RegistryKeys, DeleteKeyKeepsAnOpenKeyBesideIt)
{
    SettingsSandbox box(false);
    TRegistry reg;
    ASSERT_TRUE(reg.CreateKey("Software\\T\\Recent"));
    ASSERT_TRUE(reg.OpenKey("Software\\T\\Recent2", true));
    reg.WriteInteger("Count", 3);
    EXPECT_TRUE(reg.DeleteKey("Software\\T\\Recent"));
    EXPECT_TRUE(reg.HasOpenKey());
    reg.CloseKey();
    EXPECT_FALSE(fs::exists(box.Config() + "/T/Recent"));
    ASSERT_TRUE(reg.OpenKey("Software\\T\\Recent2", false));
    EXPECT_EQ(reg.ReadInteger("Count"), 3);
}

TEST(RegistryWrites, LandOnlyWhenTheKeyIsLeftAndReplaceTheFileWhole)
{
    SettingsSandbox box(false);
    const std::string file = box.Config() + "/T/A/values.reg";
    TRegistry writer;
    ASSERT_TRUE(writer.OpenKey("Software\\T\\A", true));
    writer.WriteInteger("Gen", 1);
    EXPECT_FALSE(fs::exists(file));
    writer.CloseKey();
    ASSERT_TRUE(fs::exists(file));

    // An open descriptor of the old file keeps the old text whole: the new file replaced it.
    const std::string old = ReadText(file);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writer.OpenKey("Software\\T\\A", false));
    writer.WriteInteger("Gen", 2);
    writer.WriteString("More", std::string(100000, 'm'));
    {
        TRegistry reader;
        ASSERT_TRUE(reader.OpenKey("Software\\T\\A", false));
        EXPECT_EQ(reader.ReadInteger("Gen"), 1);
        EXPECT_FALSE(reader.ValueExists("More"));
    }
    // Opening another key writes the one left.
    ASSERT_TRUE(writer.OpenKey("Software\\T\\B", true));
    std::string seen(old.size() + 10, '\0');
    const ssize_t n = ::pread(fd, seen.data(), seen.size(), 0);
    ::close(fd);
    EXPECT_EQ(seen.substr(0, std::size_t(std::max<ssize_t>(n, 0))), old);
    {
        TRegistry reader;
        ASSERT_TRUE(reader.OpenKey("Software\\T\\A", false));
        EXPECT_EQ(reader.ReadInteger("Gen"), 2);
    }
    EXPECT_EQ(Entries(box.Config() + "/T/A"), (std::vector<std::string>{"values.reg"}));

    // The destructor writes too; a key left unchanged is not written at all.
    {
        TRegistry last;
        ASSERT_TRUE(last.OpenKey("Software\\T\\C", true));
        last.WriteBool("Done", true);
    }
    EXPECT_TRUE(fs::exists(box.Config() + "/T/C/values.reg"));
    writer.CloseKey();
    EXPECT_FALSE(fs::exists(box.Config() + "/T/B/values.reg"));
}

TEST(RegistryWrites, FailureIsRaisedAndTheKeyClosed)
{
    SettingsSandbox box(false);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\T\\Gone", true));
    reg.WriteInteger("v", 1);
    fs::remove_all(box.Config() + "/T/Gone");
    EXPECT_THROW(reg.CloseKey(), EFCreateError);
    EXPECT_FALSE(reg.HasOpenKey());
    EXPECT_FALSE(fs::exists(box.Config() + "/T/Gone"));
}

TEST(RegistryWrites, FoldersArePrivateAndValueFiles0600)
{
    SettingsSandbox box(false);
    // Whatever the umask lets through, the store's own files are the user's alone.
    const mode_t oldMask = ::umask(0);
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\Maker\\App\\Section", true));
        reg.WriteString("s", "secret");
    }
    ::umask(oldMask);
    EXPECT_EQ(ModeOf(box.Config() + "/Maker"), 0700);
    EXPECT_EQ(ModeOf(box.Config() + "/Maker/App"), 0700);
    EXPECT_EQ(ModeOf(box.Config() + "/Maker/App/Section"), 0700);
    EXPECT_EQ(ModeOf(box.Config() + "/Maker/App/Section/values.reg"), 0600);
}
