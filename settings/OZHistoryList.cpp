#include "OZHistoryList.h"

#include "OZIniFile2.h"
#include "common/OZCommon.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/SafeFile.h"

#include <algorithm>

namespace nolvi2 {

namespace {

struct TEntries {
    std::vector<std::string> Data;
    std::vector<std::string> Captions;
};

// The first n entries of the current section. An entry whose data cannot be read (a value of
// another type) is left out; a caption that cannot be read is the data.
TEntries ReadEntries(TOZIniFile2& store, int32_t n)
{
    TEntries entries;
    for (int32_t i = 0; i < n; ++i) {
        std::size_t failures = store.ReadFailures().size();
        std::string caption = store.ReadString(Format("Caption%d", i), "");
        const bool captionLost = store.ReadFailures().size() != failures;
        failures = store.ReadFailures().size();
        std::string data = store.ReadString(Format("Data%d", i), "");
        if (store.ReadFailures().size() != failures)
            continue;
        entries.Captions.push_back(captionLost ? data : std::move(caption));
        entries.Data.push_back(std::move(data));
    }
    return entries;
}

// Whether a value name is "Caption" or "Data" followed by a number of count or more.
bool IsEntryBeyond(std::string_view name, int32_t count)
{
    const std::string lower = LowerAscii(name);
    std::string_view digits = lower;
    if (digits.starts_with("caption"))
        digits.remove_prefix(7);
    else if (digits.starts_with("data"))
        digits.remove_prefix(4);
    else
        return false;
    if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return c >= '0' && c <= '9';
        }))
        return false;
    return std::stoll(std::string(digits)) >= count;
}

}  // namespace

bool TOZHistoryList::SameData(std::string_view a, std::string_view b) const
{
    return CaseSensitive ? a == b : LowerAscii(a) == LowerAscii(b);
}

int TOZHistoryList::IndexOf(std::string_view data) const
{
    for (std::size_t i = 0; i < FDataItems.size(); ++i)
        if (SameData(FDataItems[i], data))
            return int(i);
    return -1;
}

void TOZHistoryList::AddFile(std::string_view fileName)
{
    const std::string full = FullFileName(std::string(fileName));
    Add(full, full);
}

void TOZHistoryList::Add(std::string_view data, std::string_view caption)
{
    if (const int i = IndexOf(data); i >= 0) {
        MoveToTop(i);
        return;
    }
    FDataItems.insert(FDataItems.begin(), std::string(data));
    FCaptions.insert(FCaptions.begin(), std::string(caption));
    TrimToMax();
    UpdateMenu();
}

void TOZHistoryList::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    FDataItems.erase(FDataItems.begin() + index);
    FCaptions.erase(FCaptions.begin() + index);
    UpdateMenu();
}

void TOZHistoryList::MoveToTop(int index)
{
    if (index < 0 || index >= Count())
        return;
    std::rotate(FDataItems.begin(), FDataItems.begin() + index, FDataItems.begin() + index + 1);
    std::rotate(FCaptions.begin(), FCaptions.begin() + index, FCaptions.begin() + index + 1);
    UpdateMenu();
}

void TOZHistoryList::Clear()
{
    FDataItems.clear();
    FCaptions.clear();
    UpdateMenu();
}

void TOZHistoryList::ClearMissing()
{
    bool removed = false;
    for (int i = Count() - 1; i >= 0; --i) {
        if (!FileExists(FDataItems[std::size_t(i)])) {
            FDataItems.erase(FDataItems.begin() + i);
            FCaptions.erase(FCaptions.begin() + i);
            removed = true;
        }
    }
    if (removed)
        UpdateMenu();
}

void TOZHistoryList::TrimToMax()
{
    const auto keep = std::size_t(std::max(FMaxCount, 0));
    if (FDataItems.size() > keep) {
        FDataItems.resize(keep);
        FCaptions.resize(keep);
    }
}

void TOZHistoryList::SetVisibleCount(int32_t count)
{
    if (count < 0 || count > kItemCount)
        return;
    FVisibleCount = count;
    UpdateMenu();
}

int TOZHistoryList::VisibleItemCount() const { return std::min<int>(FVisibleCount, Count()); }

std::string TOZHistoryList::ItemCaption(int i) const
{
    return Format("&%d ", i + 1) + FCaptions.at(std::size_t(i));
}

void TOZHistoryList::LoadFromIni(TOZIniFile2& store, std::string_view section)
{
    store.OpenSection(section, false);
    const int32_t count = store.ReadInteger("Count", 0);
    const int32_t maxCount = store.ReadInteger("MaxCount", FMaxCount);
    const int32_t visible = store.ReadInteger("VisibleCount", FVisibleCount);
    // Entries beyond MaxCount would be dropped at once: they are not read, so a count that
    // lies cannot make the list huge.
    TEntries entries = ReadEntries(store, std::min({count, std::max(maxCount, 0), kMostStoredEntries}));
    FDataItems = std::move(entries.Data);
    FCaptions = std::move(entries.Captions);
    FSeen = FDataItems;
    FMaxCount = maxCount;
    TrimToMax();
    SetVisibleCount(visible);
}

void TOZHistoryList::NoteStored(TOZIniFile2& store, std::string_view section)
{
    store.OpenSection(section, false);
    const int32_t count = store.ReadInteger("Count", 0);
    FSeen = ReadEntries(store, std::min(count, kMostStoredEntries)).Data;
}

void TOZHistoryList::SaveToIni(TOZIniFile2& store, std::string_view section)
{
    store.OpenSection(section, true);
    const int32_t stored = store.ReadInteger("Count", 0);
    TEntries others = ReadEntries(store, std::min(stored, kMostStoredEntries));
    bool added = false;
    for (std::size_t i = 0; i < others.Data.size(); ++i) {
        const std::string& data = others.Data[i];
        const auto same = [&](const std::string& d) { return SameData(d, data); };
        if (std::none_of(FSeen.begin(), FSeen.end(), same) && IndexOf(data) < 0) {
            FDataItems.push_back(data);
            FCaptions.push_back(others.Captions[i]);
            added = true;
        }
    }
    TrimToMax();
    if (added)
        UpdateMenu();
    FSeen = FDataItems;

    store.WriteInteger("Count", Count());
    for (int i = 0; i < Count(); ++i) {
        store.WriteString(Format("Caption%d", i), FCaptions[std::size_t(i)]);
        store.WriteString(Format("Data%d", i), FDataItems[std::size_t(i)]);
    }
    store.WriteInteger("MaxCount", FMaxCount);
    store.WriteInteger("VisibleCount", FVisibleCount);
    for (const std::string& name : store.ValueNames())
        if (IsEntryBeyond(name, Count()))
            store.DeleteValue(name);
}

void TOZHistoryList::LoadFromStream(TStream& stream)
{
    const int32_t n = ReadStreamInteger(stream);
    // Each entry takes at least its two lengths: a count that the stream cannot hold is a lie.
    if (n > 0 && int64_t(n) * 8 > stream.Size() - stream.Position())
        throw EReadError("履歴の数が正しくありません。");
    std::vector<std::string> data, captions;
    for (int32_t i = 0; i < n; ++i) {
        captions.emplace_back();
        ReadStreamString(stream, captions.back());
        data.emplace_back();
        ReadStreamString(stream, data.back());
    }
    const int32_t maxCount = ReadStreamInteger(stream);
    const int32_t visible = ReadStreamInteger(stream);
    FDataItems = std::move(data);
    FCaptions = std::move(captions);
    FSeen = FDataItems;
    FMaxCount = maxCount;
    TrimToMax();
    SetVisibleCount(visible);
}

void TOZHistoryList::SaveToStream(TStream& stream) const
{
    WriteStreamInteger(stream, int32_t(Count()));
    for (int i = 0; i < Count(); ++i) {
        WriteStreamString(stream, FCaptions[std::size_t(i)]);
        WriteStreamString(stream, FDataItems[std::size_t(i)]);
    }
    WriteStreamInteger(stream, FMaxCount);
    WriteStreamInteger(stream, FVisibleCount);
}

}  // namespace nolvi2
