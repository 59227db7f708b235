#pragma once
// The window's settings: what it keeps in the settings store, under which sections and keys,
// with which types and defaults, as one table; and the two roads through it, reading at
// start-up and writing when the window closes.

#include "OpenPicture.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nolvi2 {

class TOZHistoryList;
class TOZIniFile2;
using TFirstStartQuestion = std::function<bool()>;

// The window's options record.
struct TWindowOptions {
    bool WindowResizeByZoom = true;
    bool OpenResultInNewWindow = true;
    uint8_t OutOfSelection = 1;
    uint8_t GrassWidth = 8;
    uint8_t RainbowMaskSize = 8;
    bool ShowProgressTime = false;
    // What reading a file makes of it (TReadOptions).
    bool ApplyColorProfile = true;
    bool AutoRotate = true;
    // Whether the neighbours of the picture shown are read ahead (kept in the store only: a
    // new window takes it from there).
    bool PreloadNeighbours = true;
};

// The reading options the window's options ask for.
TReadOptions ReadOptionsOf(const TWindowOptions& options);

// Everything the window keeps in the store but the recent files, with the defaults of an
// empty store.
struct TWindowSettings {
    int32_t WindowX = 128;
    int32_t WindowY = 128;
    uint8_t MinimumUnit = 1;  // the selection grid: 1 none, 8, 16, 24, 32
    bool InvertTenohiraTool = false;
    TWindowOptions Options;
    uint8_t JpegQuality = 80;
    bool JpegProgressive = true;
};

// One stored setting: where it lives and the field it fills. One-byte fields keep the low 8
// bits of the stored number.
struct TSettingEntry {
    enum class TType : uint8_t { Integer, Boolean };
    const char* Section;
    const char* Key;
    TType Type;
    int32_t Default;
    // The field as an integer (booleans 0 or 1), and the field set from one.
    int32_t (*Get)(const TWindowSettings&);
    void (*Set)(TWindowSettings&, int32_t);
};

// The table, in the order the settings are read and written.
const std::vector<TSettingEntry>& WindowSettingsTable();

// Reads the store into settings and recent. What cannot be read keeps its value (the
// defaults, for a fresh record) and its failure is returned as a message to show; the
// first start's question is asked here.
std::vector<std::string> LoadSettings(TWindowSettings& settings, TOZHistoryList& recent,
                                      const TFirstStartQuestion& question = {});
// The same from a store already created.
std::vector<std::string> LoadSettings(TOZIniFile2& store, TWindowSettings& settings, TOZHistoryList& recent);
// Reads the older form of the recent list: "VisibleCount", "Count" and the paths "0", "1", …
void ImportOldRecentFiles(TOZIniFile2& store, TOZHistoryList& recent);
// The options the store holds, read without asking anything and without reporting: the
// defaults when no store exists yet, and for a value that cannot be read.
TWindowOptions StoredOptions();
// Writes settings and recent into the store (the recent list into "RecentFiles2", erasing
// the older "RecentFiles"); raises the store's error on failure. The other values replace
// what is stored; recent takes in the entries other windows stored meanwhile
// (TOZHistoryList::SaveToIni).
void SaveSettings(const TWindowSettings& settings, TOZHistoryList& recent,
                  const TFirstStartQuestion& question = {});

}  // namespace nolvi2
