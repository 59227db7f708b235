#include "FileText.h"
#include "SettingsSandbox.h"
#include "TempDir.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "settings/OZHistoryList.h"
#include "settings/OZIniFile2.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

// Counts the menu updates the list asks for.
class CountingList : public TOZHistoryList {
public:
    void UpdateMenu() override { ++Updates; }
    int Updates = 0;
};

void Fill(TOZHistoryList& list, const Strings& data)
{
    for (auto it = data.rbegin(); it != data.rend(); ++it)
        list.Add(*it, "caption of " + *it);
}

std::vector<uint8_t> Bytes(TMemoryStream& s) { return {s.Memory(), s.Memory() + s.Size()}; }

void Load(TMemoryStream& s, const std::vector<uint8_t>& bytes)
{
    s.Clear();
    if (!bytes.empty())
        s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
}

void PutInt(std::vector<uint8_t>& out, int32_t v)
{
    const auto u = uint32_t(v);
    out.insert(out.end(), {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)});
}

void PutString(std::vector<uint8_t>& out, const std::string& s)
{
    PutInt(out, int32_t(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

}  // namespace

TEST(HistoryList, AddMovesKnownDataToTheTopKeepingItsCaption)
{
    struct Case {
        bool caseSensitive;
        Strings data;
        Strings captions;
    };
    const Case cases[] = {
        {false, {"/p/A.jpg", "/p/b.jpg"}, {"first A", "b"}},
        {true, {"/p/a.jpg", "/p/b.jpg", "/p/A.jpg"}, {"second a", "b", "first A"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caseSensitive);
        TOZHistoryList list;
        list.CaseSensitive = c.caseSensitive;
        list.Add("/p/A.jpg", "first A");
        list.Add("/p/b.jpg", "b");
        list.Add("/p/a.jpg", "second a");
        EXPECT_EQ(list.DataItems(), c.data);
        EXPECT_EQ(list.Captions(), c.captions);
    }
    // Letters beyond ASCII always differ by case.
    TOZHistoryList list;
    list.AddFile("/p/Ä.jpg");
    list.AddFile("/p/ä.jpg");
    EXPECT_EQ(list.Count(), 2);
}

TEST(HistoryList, KeepsAtMostMaxCount)
{
    TOZHistoryList list;
    EXPECT_EQ(list.MaxCount(), 32);
    for (int i = 0; i < 33; ++i)
        list.AddFile("/p/" + std::to_string(i));
    ASSERT_EQ(list.Count(), 32);
    EXPECT_EQ(list.DataItems().front(), "/p/32");
    EXPECT_EQ(list.DataItems().back(), "/p/1");

    list.SetMaxCount(3);
    EXPECT_EQ(list.Count(), 32);  // until trimmed
    list.TrimToMax();
    EXPECT_EQ(list.DataItems(), (Strings{"/p/32", "/p/31", "/p/30"}));
    list.SetMaxCount(-5);
    list.TrimToMax();
    EXPECT_EQ(list.Count(), 0);
    list.AddFile("/p/x");
    EXPECT_EQ(list.Count(), 0);
}

TEST(HistoryList, VisibleCountTakesOnlyZeroToSixteen)
{
    TOZHistoryList list;
    EXPECT_EQ(list.VisibleCount(), 8);
    for (int32_t n : {0, 1, 16, 17, -1, INT32_MAX, INT32_MIN}) {
        list.SetVisibleCount(5);
        list.SetVisibleCount(n);
        EXPECT_EQ(list.VisibleCount(), n >= 0 && n <= 16 ? n : 5) << n;
    }
    Fill(list, {"a", "b", "c"});
    list.SetVisibleCount(2);
    EXPECT_EQ(list.VisibleItemCount(), 2);
    list.SetVisibleCount(16);
    EXPECT_EQ(list.VisibleItemCount(), 3);
    EXPECT_EQ(list.ItemCaption(0), "&1 caption of a");
    EXPECT_EQ(list.ItemCaption(2), "&3 caption of c");
}

TEST(HistoryList, ClearMissing)
{
    TempDir temp;
    const std::string a = temp / "a.jpg", b = temp / "b.jpg", folder = temp / "folder";
    WriteText(a, "");
    WriteText(b, "");
    fs::create_directory(folder);

    CountingList list;
    Fill(list, {a, b});
    list.Updates = 0;
    list.ClearMissing();
    EXPECT_EQ(list.DataItems(), (Strings{a, b}));
    EXPECT_EQ(list.Updates, 0);

    Fill(list, {temp / "gone1.jpg", a, folder, b, temp / "gone2.jpg"});
    list.Updates = 0;
    list.ClearMissing();
    EXPECT_EQ(list.DataItems(), (Strings{a, b}));
    EXPECT_EQ(list.Captions(), (Strings{"caption of " + a, "caption of " + b}));
    EXPECT_EQ(list.Updates, 1);
}

// A list that lost entries since it was read leaves none of their names in the store; values
// that are not entries stay.
TEST(HistoryList, SavingFewerRemovesTheNamesBeyondTheCount)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        {
            TOZHistoryList five;
            Fill(five, {"/p/zero", "/p/one", "/p/two", "/p/three", "/p/four"});
            TOZIniFile2 store;
            five.SaveToIni(store, "Recent");
            store.WriteString("Other", "kept");
            store.WriteString("Data", "kept too");
            store.UpdateFile();
        }
        const std::string file = style == isIniFile ? box.IniFile() : box.KeyFolder() + "/Recent/values.reg";
        const auto saveAfter = [](const std::function<void(TOZHistoryList&)>& change) {
            TOZHistoryList list;
            {
                TOZIniFile2 store;
                list.LoadFromIni(store, "Recent");
            }
            change(list);
            TOZIniFile2 store;
            list.SaveToIni(store, "Recent");
            store.UpdateFile();
        };

        saveAfter([](TOZHistoryList& l) {
            l.Delete(4);
            l.Delete(1);
        });
        {
            TOZIniFile2 store;
            TOZHistoryList list;
            list.LoadFromIni(store, "Recent");
            EXPECT_EQ(list.DataItems(), (Strings{"/p/zero", "/p/two", "/p/three"}));
            EXPECT_EQ(list.Captions(), (Strings{"caption of /p/zero", "caption of /p/two", "caption of /p/three"}));
        }
        std::string text = ReadText(file);
        EXPECT_EQ(text.find("/p/four"), std::string::npos) << text;
        EXPECT_EQ(text.find("Data3"), std::string::npos) << text;
        EXPECT_EQ(text.find("Caption4"), std::string::npos) << text;

        saveAfter([](TOZHistoryList& l) { l.Clear(); });
        text = ReadText(file);
        EXPECT_EQ(text.find("/p/"), std::string::npos) << text;
        TOZIniFile2 store;
        store.OpenSection("Recent", false);
        EXPECT_EQ(store.ReadInteger("Count", -1), 0);
        EXPECT_EQ(store.ReadString("Other", ""), "kept");
        EXPECT_EQ(store.ReadString("Data", ""), "kept too");
    }
}

// Two windows share the store: each save keeps the entries that the other stored since this
// one read it, after its own; what this one saw and let go stays gone.
TEST(HistoryList, SavingTakesInWhatOthersStoredSince)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        const auto save = [](TOZHistoryList& l) {
            TOZIniFile2 store;
            l.SaveToIni(store, "Recent");
            store.UpdateFile();
        };
        const auto load = [](TOZHistoryList& l) {
            TOZIniFile2 store;
            l.LoadFromIni(store, "Recent");
        };
        {
            TOZHistoryList first;
            Fill(first, {"/p/s", "/p/x"});
            save(first);
        }
        TOZHistoryList a, b;
        load(a);
        load(b);
        b.Add("/p/b1", "b1");
        b.Add("/p/b2", "b2");
        save(b);
        a.Add("/p/a1", "a1");
        a.Delete(a.Count() - 1);  // "/p/x", which a saw
        save(a);
        const Strings merged = {"/p/a1", "/p/s", "/p/b2", "/p/b1"};
        EXPECT_EQ(a.DataItems(), merged);
        EXPECT_EQ(a.Captions(), (Strings{"a1", "caption of /p/s", "b2", "b1"}));
        TOZHistoryList stored;
        load(stored);
        EXPECT_EQ(stored.DataItems(), merged);

        // Saving again changes nothing; clearing then empties the store, as a saw all of it.
        save(a);
        load(stored);
        EXPECT_EQ(stored.DataItems(), merged);
        a.Clear();
        save(a);
        load(stored);
        EXPECT_EQ(stored.Count(), 0);

        // Within the saving list's MaxCount.
        TOZHistoryList c;
        load(c);
        c.SetMaxCount(2);
        b.Add("/p/b3", "b3");
        save(b);
        c.Add("/p/c1", "c1");
        save(c);
        load(stored);
        EXPECT_EQ(stored.DataItems(), (Strings{"/p/c1", "/p/b3"}));
    }
}

// A value of the wrong type costs only itself: the entry without its data, the caption of
// another (which then shows its data), the visible count.
TEST(HistoryList, OneValueOfTheWrongTypeCostsOnlyThatValue)
{
    SettingsSandbox box;
    fs::create_directories(box.KeyFolder() + "/Recent");
    WriteText(box.KeyFolder() + "/Recent/values.reg",
              "\"Count\"=dword:00000004\n\"Caption0\"=\"zero\"\n\"Data0\"=\"/p/0\"\n"
              "\"Caption1\"=\"one\"\n\"Data1\"=dword:00000001\n"
              "\"Caption2\"=dword:00000002\n\"Data2\"=\"/p/2\"\n"
              "\"Caption3\"=\"three\"\n\"Data3\"=\"/p/3\"\n"
              "\"MaxCount\"=dword:00000014\n\"VisibleCount\"=\"5\"\n");
    TOZIniFile2 store;
    TOZHistoryList list;
    list.SetVisibleCount(3);
    list.LoadFromIni(store, "Recent");
    EXPECT_EQ(list.DataItems(), (Strings{"/p/0", "/p/2", "/p/3"}));
    EXPECT_EQ(list.Captions(), (Strings{"zero", "/p/2", "three"}));
    EXPECT_EQ(list.MaxCount(), 20);
    EXPECT_EQ(list.VisibleCount(), 3);
    ASSERT_EQ(store.ReadFailures().size(), 3u);
    EXPECT_NE(store.ReadFailures()[0].find("\"VisibleCount\""), std::string::npos) << store.ReadFailures()[0];
    EXPECT_NE(store.ReadFailures()[1].find("\"Data1\""), std::string::npos) << store.ReadFailures()[1];
    EXPECT_NE(store.ReadFailures()[2].find("\"Caption2\""), std::string::npos) << store.ReadFailures()[2];
}

// A file enters by its full path, however it was named: one entry for one file.
TEST(HistoryList, AddFileTakesTheFullPath)
{
    TempDir temp;
    fs::create_directories(temp.Path() / "sub" / "deeper");
    fs::create_directory_symlink(temp.Path() / "sub" / "deeper", temp.Path() / "link");
    const fs::path old = fs::current_path();
    fs::current_path(temp.Path());
    const std::string full = (fs::canonical(temp.Path()) / "a.jpg").string();
    // ".." after a link leaves the folder the link points to.
    const std::string viaLink = (fs::canonical(temp.Path() / "sub") / "b.jpg").string();
    const std::pair<std::string, std::string> cases[] = {
        {"a.jpg", full},
        {"./a.jpg", full},
        {"sub/../a.jpg", full},
        {"sub/deeper/../../a.jpg", full},
        {full, full},
        {fs::canonical(temp.Path()).string() + "//./a.jpg", full},
        {"link/../b.jpg", viaLink},
        {"missing/../c.jpg", (fs::canonical(temp.Path()) / "missing/../c.jpg").string()},
    };
    for (const auto& [name, expected] : cases) {
        TOZHistoryList list;
        list.AddFile(name);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.DataItems()[0], expected) << name;
        EXPECT_EQ(list.Captions()[0], expected) << name;
    }
    TOZHistoryList list;
    for (const char* name : {"a.jpg", "./a.jpg", "sub/../a.jpg"})
        list.AddFile(name);
    list.AddFile(full);
    EXPECT_EQ(list.DataItems(), Strings{full});
    fs::current_path(old);
}

TEST(HistoryList, StoredCountsThatLie)
{
    struct Case {
        std::string values;
        Strings data;
        int32_t maxCount;
        int32_t visible;
    };
    // A count of 2^31 - 1 reads no further than MaxCount: the two entries there and thirty
    // empty ones.
    Strings padded = {"a", "b"};
    padded.resize(32);
    const Case cases[] = {
        {"Count=2147483647\nData0=a\nData1=b\n", padded, 32, 8},
        {"Count=5\nMaxCount=2\nData0=a\nData1=b\nData2=c\n", {"a", "b"}, 2, 8},
        {"Count=-3\nData0=a\n", {}, 32, 8},
        {"Count=2\nMaxCount=-1\nData0=a\n", {}, -1, 8},
        {"Count=1\nData0=a\nVisibleCount=17\n", {"a"}, 32, 8},
        {"Count=1\nData0=a\nVisibleCount=0\n", {"a"}, 32, 0},
        {"Count=x\nData0=a\n", {}, 32, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values);
        SettingsSandbox box(false);
        WriteText(box.IniFile(), "[Recent]\n" + c.values);
        TOZIniFile2 store;
        TOZHistoryList list;
        list.LoadFromIni(store, "Recent");
        EXPECT_EQ(list.DataItems(), c.data);
        EXPECT_EQ(list.MaxCount(), c.maxCount);
        EXPECT_EQ(list.VisibleCount(), c.visible);
    }
    // A huge MaxCount with a huge count still stops at the most a stored list gives.
    SettingsSandbox box(false);
    WriteText(box.IniFile(), "[Recent]\nCount=2147483647\nMaxCount=2147483647\n");
    TOZIniFile2 store;
    TOZHistoryList list;
    list.LoadFromIni(store, "Recent");
    EXPECT_EQ(list.Count(), TOZHistoryList::kMostStoredEntries);
}

TEST(HistoryList, StreamRoundTripAndLayout)
{
    TOZHistoryList list;
    list.Add("/p/a.jpg", "");
    list.Add(std::string("/p/\0\xff", 5), "b");
    list.SetMaxCount(7);
    list.SetVisibleCount(3);
    TMemoryStream s;
    list.SaveToStream(s);
    std::vector<uint8_t> expected;
    PutInt(expected, 2);
    PutString(expected, "b");
    PutString(expected, std::string("/p/\0\xff", 5));
    PutString(expected, "");
    PutString(expected, "/p/a.jpg");
    PutInt(expected, 7);
    PutInt(expected, 3);
    EXPECT_EQ(Bytes(s), expected);

    s.SetPosition(0);
    TOZHistoryList back;
    back.LoadFromStream(s);
    EXPECT_EQ(back.DataItems(), list.DataItems());
    EXPECT_EQ(back.Captions(), list.Captions());
    EXPECT_EQ(back.MaxCount(), 7);
    EXPECT_EQ(back.VisibleCount(), 3);
    EXPECT_EQ(s.Position(), s.Size());

    // A length of zero or less reads as empty; MaxCount trims what was read.
    std::vector<uint8_t> bytes;
    PutInt(bytes, 2);
    PutInt(bytes, -7);
    PutString(bytes, "d1");
    PutInt(bytes, 0);
    PutString(bytes, "d2");
    PutInt(bytes, 1);
    PutInt(bytes, 99);
    Load(s, bytes);
    back.LoadFromStream(s);
    EXPECT_EQ(back.DataItems(), (Strings{"d1"}));
    EXPECT_EQ(back.Captions(), (Strings{""}));
    EXPECT_EQ(back.MaxCount(), 1);
    EXPECT_EQ(back.VisibleCount(), 3);  // 99 is ignored
}

TEST(HistoryList, StreamsThatLieLeaveTheListAlone)
{
    std::vector<uint8_t> good;
    PutInt(good, 1);
    PutString(good, "cap");
    PutString(good, "data");
    PutInt(good, 32);
    PutInt(good, 8);

    std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"half a count", {1, 0}});
    for (std::size_t cut = 4; cut < good.size(); cut += 3)
        cases.push_back({"cut short", std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(cut))});
    std::vector<uint8_t> huge;
    PutInt(huge, INT32_MAX);
    huge.resize(4096, 0);
    cases.push_back({"count of 2^31 - 1", huge});
    std::vector<uint8_t> longString;
    PutInt(longString, 1);
    PutInt(longString, INT32_MAX);
    longString.resize(64, 'x');
    cases.push_back({"length beyond the end", longString});
    std::vector<uint8_t> countTooBig = good;
    countTooBig[0] = 2;
    cases.push_back({"one entry more than there is", countTooBig});

    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        SCOPED_TRACE(bytes.size());
        TOZHistoryList list;
        list.Add("/keep/me", "kept");
        list.SetMaxCount(9);
        list.SetVisibleCount(2);
        TMemoryStream s;
        Load(s, bytes);
        EXPECT_THROW(list.LoadFromStream(s), EReadError);
        EXPECT_EQ(list.DataItems(), (Strings{"/keep/me"}));
        EXPECT_EQ(list.Captions(), (Strings{"kept"}));
        EXPECT_EQ(list.MaxCount(), 9);
        EXPECT_EQ(list.VisibleCount(), 2);
    }
}
