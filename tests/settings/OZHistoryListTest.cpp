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

TEST(HistoryList, SavingFewerOverMoreLeavesTheOldEntriesBehind)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        {
            TOZHistoryList five;
            Fill(five, {"0", "1", "2", "3", "4"});
            TOZIniFile2 store;
            five.SaveToIni(store, "Recent");
            TOZHistoryList three;
            Fill(three, {"x", "y", "z"});
            three.SetMaxCount(10);
            three.SetVisibleCount(4);
            three.SaveToIni(store, "Recent");
            store.UpdateFile();
        }
        TOZIniFile2 store;
        TOZHistoryList list;
        list.LoadFromIni(store, "Recent");
        EXPECT_EQ(list.DataItems(), (Strings{"x", "y", "z"}));
        EXPECT_EQ(list.Captions(), (Strings{"caption of x", "caption of y", "caption of z"}));
        EXPECT_EQ(list.MaxCount(), 10);
        EXPECT_EQ(list.VisibleCount(), 4);
        store.OpenSection("Recent", false);
        EXPECT_EQ(store.ReadString("Data3", ""), "3");
        EXPECT_EQ(store.ReadString("Caption4", ""), "caption of 4");
        EXPECT_EQ(store.ReadString("Data5", "none"), "none");
    }
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
