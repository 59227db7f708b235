#include "FileText.h"
#include "TempDir.h"
#include "platform/Exceptions.h"
#include "settings/IniFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;
using namespace std::string_literals;

TEST(ParseIniInteger, Forms)
{
    struct Case {
        std::string text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"007", 7},
        {"0000000000000000000000000001", 1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"0x10", 16},
        {"0X1f", 31},
        {"$ff", 255},
        {"$FF", 255},
        {"0x7FFFFFFF", INT32_MAX},
        {"0x80000000", INT32_MIN},
        {"$FFFFFFFF", -1},
        {"0xFFFFFFFF", -1},
        {"0x00000000FFFFFFFF", -1},
        {"$100000000", std::nullopt},
        {"0x100000000", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"0xg", std::nullopt},
        {"0x-1", std::nullopt},
        {"$-1", std::nullopt},
        {"--1", std::nullopt},
        {"1.5", std::nullopt},
        {"12abc", std::nullopt},
        {"ff", std::nullopt},
        {"abc", std::nullopt},
        {"1 2", std::nullopt},
        {"1\0"s, std::nullopt},
        {"\xef\xbc\x91", std::nullopt},  // a full-width digit
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseIniInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(IniFile, MalformedTextReadsWhatItCan)
{
    struct Read {
        std::string section;
        std::string key;
        std::optional<std::string> value;  // nothing: not there
    };
    struct Case {
        const char* what;
        std::string text;
        std::vector<Read> reads;
    };
    const Case cases[] = {
        {"no sections", "a=1\nb=2\n", {{"", "a", {}}, {"a", "a", {}}}},
        {"lines without =", "[s]\njunk\na=1\n[t]\nnothing here\n",
         {{"s", "a", "1"}, {"s", "junk", {}}, {"t", "nothing here", {}}}},
        {"comments", "[s]\n;a=1\nb=2\n", {{"s", "a", {}}, {"s", ";a", {}}, {"s", "b", "2"}}},
        {"duplicate sections", "[s]\na=1\n[S]\na=2\nb=3\n", {{"s", "a", "1"}, {"S", "b", {}}}},
        {"duplicate keys", "[s]\na=1\nA=2\n", {{"s", "a", "1"}, {"S", "A", "1"}}},
        {"BOM and CR LF", "\xEF\xBB\xBF[s]\r\na=1\r\nb=\r\n", {{"s", "a", "1"}, {"s", "b", ""}}},
        // Not at the start of the text: no byte-order mark, and the line is no section.
        {"BOM after blanks", "\x10\0\xEF\xBB\xBF[s]\r\na = 1\r\n[S]\r\na=2\r\n"s,
         {{"s", "a", "2"}, {"", "a", {}}}},
        {"BOM twice", "\xEF\xBB\xBF\xEF\xBB\xBF[s]\na=1\n", {{"s", "a", {}}}},
        {"blanks", "  [s]  \n\t a \t= \t1 2 \t\n", {{"s", "a", "1 2"}, {"s", " a ", {}}}},
        {"NUL bytes", "[s]\na=x\0y\n\0b=2\0\n[\0t]\nc=3\n"s,
         {{"s", "a", "x\0y"s}, {"s", "b", "2"}, {"\0t"s, "c", "3"}}},
        {"equals in values", "[s]\na=b=c\n=empty name\n", {{"s", "a", "b=c"}, {"s", "", "empty name"}}},
        {"not a section line", "[s]\n[t\na=1\n[]\nb=2\n", {{"s", "a", "1"}, {"", "b", "2"}, {"t", "a", {}}}},
        {"bytes beyond ASCII", "[Ä]\nä=\xff\xfe\n", {{"Ä", "ä", "\xff\xfe"}, {"ä", "ä", {}}}},
        {"no line end", "[s]\na=1", {{"s", "a", "1"}}},
        {"only blanks", "\n\r\n \t \n", {{"", "", {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TMemIniFile ini;
        ini.SetText(c.text);
        // The text written back reads the same.
        TMemIniFile again;
        again.SetText(ini.Text());
        EXPECT_EQ(again.Text(), ini.Text());
        for (const TMemIniFile* f : {&ini, &again}) {
            for (const Read& r : c.reads) {
                SCOPED_TRACE(r.section + " / " + r.key);
                EXPECT_EQ(f->ValueExists(r.section, r.key), r.value.has_value());
                EXPECT_EQ(f->ReadString(r.section, r.key, "<default>"), r.value.value_or("<default>"));
            }
        }
    }
}

TEST(IniFile, TextKeepsCommentsAndStrayLines)
{
    TMemIniFile ini;
    ini.SetText("; written by hand\n[Config]\n; the window\nWindowX = 10\nstray line\n");
    ini.WriteInteger("config", "WindowY", 20);
    EXPECT_EQ(ini.Text(), "; written by hand\n\n[Config]\n; the window\nWindowX=10\nstray line\nWindowY=20\n\n");
}

TEST(IniFile, WritesGoToTheFirstSectionAndStayOnOneLine)
{
    TMemIniFile ini;
    ini.SetText("[s]\na=1\n[S]\na=2\n[t]\n; only a comment\n");
    ini.WriteString("S", "A", "line\r\nbreak\nhere");
    ini.WriteString("s", "new", "v");
    EXPECT_EQ(ini.ReadString("s", "a", ""), "line  break here");
    EXPECT_EQ(ini.Text(), "[s]\na=line  break here\nnew=v\n\n[S]\na=2\n\n[t]\n; only a comment\n\n");

    EXPECT_TRUE(ini.SectionExists("S"));
    EXPECT_FALSE(ini.SectionExists("t"));  // no values
    EXPECT_FALSE(ini.SectionExists("u"));

    ini.EraseSection("S");  // every section of that name
    EXPECT_FALSE(ini.SectionExists("s"));
    EXPECT_EQ(ini.ReadString("s", "a", "gone"), "gone");
    ini.WriteBool("s", "flag", true);
    EXPECT_EQ(ini.Text(), "[t]\n; only a comment\n\n[s]\nflag=1\n\n");
}

TEST(IniFile, IntegersAndBooleans)
{
    TMemIniFile ini;
    ini.SetText("[s]\nhex=$10\nhex2=0x10\nbad=12abc\nempty=\nneg=-5\ntwo=2\nzero=0\nword=true\n");
    EXPECT_EQ(ini.ReadInteger("s", "hex", 0), 16);
    EXPECT_EQ(ini.ReadInteger("s", "hex2", 0), 16);
    EXPECT_EQ(ini.ReadInteger("s", "bad", 7), 7);
    EXPECT_EQ(ini.ReadInteger("s", "empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger("s", "neg", 0), -5);
    EXPECT_EQ(ini.ReadInteger("s", "missing", 9), 9);
    EXPECT_TRUE(ini.ReadBool("s", "two", false));
    EXPECT_FALSE(ini.ReadBool("s", "zero", true));
    EXPECT_TRUE(ini.ReadBool("s", "word", true));   // unreadable: the default
    EXPECT_FALSE(ini.ReadBool("s", "word", false));
    ini.WriteInteger("s", "min", INT32_MIN);
    ini.WriteBool("s", "off", false);
    EXPECT_EQ(ini.ReadString("s", "min", ""), "-2147483648");
    EXPECT_EQ(ini.ReadInteger("s", "min", 0), INT32_MIN);
    EXPECT_EQ(ini.ReadString("s", "off", ""), "0");
}

TEST(IniFile, LongLine)
{
    const std::string value(6 << 20, 'v');
    TMemIniFile ini;
    ini.SetText("[s]\nbig=" + value + "\nafter=1\n");
    EXPECT_EQ(ini.ReadString("s", "big", ""), value);
    EXPECT_EQ(ini.ReadInteger("s", "after", 0), 1);
    EXPECT_EQ(ParseIniInteger(std::string(6 << 20, '0') + "5"), 5);
}

TEST(IniFile, FileRoundTripAndNewFileIsPrivate)
{
    TempDir temp;
    const std::string name = temp / "app.ini";
    {
        TMemIniFile ini(name);  // no file yet: empty
        EXPECT_EQ(ini.Text(), "");
        ini.WriteString("Config", "Path", "/home/ü/a.jpg");
        ini.WriteInteger("Config", "X", -3);
        EXPECT_FALSE(std::filesystem::exists(name));
        ini.UpdateFile();
    }
    EXPECT_EQ(ModeOf(name), 0600);
    EXPECT_EQ(temp.EntryCount(), 1u);
    TMemIniFile back(name);
    EXPECT_EQ(back.ReadString("config", "path", ""), "/home/ü/a.jpg");
    EXPECT_EQ(back.ReadInteger("CONFIG", "x", 0), -3);

    // An existing file keeps its permissions.
    ::chmod(name.c_str(), 0644);
    back.WriteInteger("Config", "X", 4);
    back.UpdateFile();
    EXPECT_EQ(ModeOf(name), 0644);
    EXPECT_EQ(TMemIniFile(name).ReadInteger("Config", "X", 0), 4);
}

TEST(IniFile, UnreadableFileRaises)
{
    TempDir temp;
    std::filesystem::create_directory(temp / "folder.ini");
    EXPECT_THROW(TMemIniFile(temp / "folder.ini"), Exception);
}
