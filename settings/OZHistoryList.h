#pragma once
// The list behind the recent-files menu: entries of a data text and a caption, most recent
// first, at most MaxCount of them, of which the first VisibleCount are shown as numbered
// menu items. It stores itself in the settings store and in a binary stream (the state a
// window hands to a new one). The menu that shows it (OZHistoryMenu.h) overrides
// UpdateMenu.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nolvi2 {

class TOZIniFile2;
class TStream;

class TOZHistoryList {
public:
    static constexpr int kItemCount = 16;  // menu items, so the most entries ever shown
    // The most entries a stored list gives, whatever its count says.
    static constexpr int32_t kMostStoredEntries = 4096;

    virtual ~TOZHistoryList() = default;

    const std::vector<std::string>& DataItems() const { return FDataItems; }
    const std::vector<std::string>& Captions() const { return FCaptions; }
    int Count() const { return int(FDataItems.size()); }
    int32_t MaxCount() const { return FMaxCount; }
    void SetMaxCount(int32_t count) { FMaxCount = count; }
    int32_t VisibleCount() const { return FVisibleCount; }
    // Data texts compare exactly when true (file names), else without regard to case.
    bool CaseSensitive = false;

    // Data already in the list moves to the top (keeping its caption); new data goes on top.
    void Add(std::string_view data, std::string_view caption);
    // A file by its full path (FullFileName), as data and caption.
    void AddFile(std::string_view fileName);
    void Delete(int index);
    void MoveToTop(int index);
    void Clear();
    // Removes the entries whose data text names no existing file.
    void ClearMissing();
    void TrimToMax();
    // 0 to 16; any other count is ignored.
    void SetVisibleCount(int32_t count);
    // The number of entries shown: the smaller of VisibleCount and the number of entries.
    int VisibleItemCount() const;
    // The caption of the shown entry i: "&" + (i + 1) + " " + its caption.
    std::string ItemCaption(int i) const;

    // The settings store: "Count", "Caption<i>", "Data<i>", "MaxCount", "VisibleCount". A value
    // of the wrong type costs only itself: an entry without its data is left out, one without
    // its caption takes its data as caption, a count reads as its default.
    void LoadFromIni(TOZIniFile2& store, std::string_view section);
    // Several windows share the store: the entries that it holds now but this list never saw
    // (others saved them since it was read) join the list after its own, within MaxCount, and
    // the list is saved so. Entries of higher numbers than the count are removed from the store.
    void SaveToIni(TOZIniFile2& store, std::string_view section);
    // Takes the entries that the section holds now as seen, without changing the list (the list
    // came from elsewhere but the store's entries were read).
    void NoteStored(TOZIniFile2& store, std::string_view section);
    // The binary form: 32-bit little-endian signed integers; the count, then each entry's
    // caption and data as a length and that many bytes, then MaxCount and VisibleCount. A
    // stream that ends early or lies about a length raises EReadError and leaves the list as
    // it was.
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;

    // Brings the shown items up to date; the list itself shows nothing.
    virtual void UpdateMenu() {}

protected:
    int IndexOf(std::string_view data) const;
    bool SameData(std::string_view a, std::string_view b) const;

    std::vector<std::string> FDataItems;
    std::vector<std::string> FCaptions;
    int32_t FMaxCount = 32;
    int32_t FVisibleCount = 8;
    // The data texts this list has seen in the store, or received with it: what SaveToIni
    // finds there beyond these came from another window.
    std::vector<std::string> FSeen;
};

}  // namespace nolvi2
