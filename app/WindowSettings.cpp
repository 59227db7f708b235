#include "WindowSettings.h"

#include "platform/Format.h"
#include "settings/OZHistoryList.h"
#include "settings/OZIniFile2.h"

#include <algorithm>
#include <new>

namespace nolvi2 {

namespace {

using TType = TSettingEntry::TType;

#define NOLVI2_FIELD(expr)                                                                   \
    [](const TWindowSettings& s) { return int32_t(s.expr); },                                \
        [](TWindowSettings& s, int32_t v) { s.expr = static_cast<decltype(s.expr)>(v); }
#define NOLVI2_FLAG(expr)                                                                    \
    [](const TWindowSettings& s) { return int32_t(s.expr ? 1 : 0); },                        \
        [](TWindowSettings& s, int32_t v) { s.expr = v != 0; }

constexpr const char* kRecentSection = "RecentFiles2";
constexpr const char* kOldRecentSection = "RecentFiles";

// Collects a failure's message once.
void Note(std::vector<std::string>& messages, std::string message)
{
    if (std::find(messages.begin(), messages.end(), message) == messages.end())
        messages.push_back(std::move(message));
}

template <class F>
void Try(std::vector<std::string>& messages, F&& f)
{
    try {
        f();
    } catch (const std::bad_alloc&) {
        Note(messages, "メモリが足りません。");
    } catch (const std::exception& e) {
        Note(messages, e.what());
    }
}

std::string TrimBlanks(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

// Reads the table's values into settings; failures become messages, and after each value
// afterEach runs.
template <class F>
void ReadTable(TOZIniFile2& store, TWindowSettings& settings, std::vector<std::string>& messages, F&& afterEach)
{
    std::string section;
    for (const TSettingEntry& e : WindowSettingsTable()) {
        Try(messages, [&] {
            if (section != e.Section) {
                section = e.Section;
                store.OpenSection(section, false);
            }
            const int32_t v = e.Type == TType::Boolean ? int32_t(store.ReadBool(e.Key, e.Default != 0))
                                                       : store.ReadInteger(e.Key, e.Default);
            e.Set(settings, v);
        });
        afterEach();
    }
}

}  // namespace

TReadOptions ReadOptionsOf(const TWindowOptions& options)
{
    TReadOptions read;
    read.ColorProfile = options.ApplyColorProfile;
    read.AutoRotate = options.AutoRotate;
    return read;
}

const std::vector<TSettingEntry>& WindowSettingsTable()
{
    // uint8_t fields take the low byte of the stored number through the cast.
    static const std::vector<TSettingEntry> table = {
        {"Config", "WindowX", TType::Integer, 128, NOLVI2_FIELD(WindowX)},
        {"Config", "WindowY", TType::Integer, 128, NOLVI2_FIELD(WindowY)},
        {"Config", "MinimumUnit", TType::Integer, 1, NOLVI2_FIELD(MinimumUnit)},
        {"Config", "InvertTenohiraTool", TType::Boolean, 0, NOLVI2_FLAG(InvertTenohiraTool)},
        {"Config", "WindowResizeByZoom", TType::Boolean, 1, NOLVI2_FLAG(Options.WindowResizeByZoom)},
        {"Config", "OpenResultInNewWindow", TType::Boolean, 1, NOLVI2_FLAG(Options.OpenResultInNewWindow)},
        {"Config", "OutOfSelection", TType::Integer, 1, NOLVI2_FIELD(Options.OutOfSelection)},
        {"Config", "GrassWidth", TType::Integer, 8, NOLVI2_FIELD(Options.GrassWidth)},
        {"Config", "RainbowMaskSize", TType::Integer, 8, NOLVI2_FIELD(Options.RainbowMaskSize)},
        {"Config", "ShowProgressTime", TType::Boolean, 0, NOLVI2_FLAG(Options.ShowProgressTime)},
        {"Config", "ApplyColorProfile", TType::Boolean, 1, NOLVI2_FLAG(Options.ApplyColorProfile)},
        {"Config", "AutoRotate", TType::Boolean, 1, NOLVI2_FLAG(Options.AutoRotate)},
        {"Config", "PreloadNeighbours", TType::Boolean, 1, NOLVI2_FLAG(Options.PreloadNeighbours)},
        {"Jpeg", "Quality", TType::Integer, 80, NOLVI2_FIELD(JpegQuality)},
        {"Jpeg", "ProgressiveEncoding", TType::Boolean, 1, NOLVI2_FLAG(JpegProgressive)},
    };
    return table;
}

#undef NOLVI2_FIELD
#undef NOLVI2_FLAG

void ImportOldRecentFiles(TOZIniFile2& store, TOZHistoryList& recent)
{
    store.OpenSection(kOldRecentSection, false);
    recent.SetVisibleCount(store.ReadInteger("VisibleCount", recent.VisibleCount()));
    // As many names as the list can keep; a count that lies reads no further.
    const int32_t n = std::min({store.ReadInteger("Count", 0), std::max(recent.MaxCount(), 0),
                                TOZHistoryList::kMostStoredEntries});
    std::vector<std::string> names;
    for (int32_t i = 0; i < n; ++i) {
        std::string name = TrimBlanks(store.ReadString(std::to_string(i), ""));
        if (!name.empty())
            names.push_back(std::move(name));
    }
    recent.Clear();
    // The names as they were stored: a relative one names no folder that could be known now.
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        recent.Add(*it, *it);
}

std::vector<std::string> LoadSettings(TOZIniFile2& store, TWindowSettings& settings, TOZHistoryList& recent)
{
    std::vector<std::string> messages;
    if (!store.Notice().empty())
        Note(messages, store.Notice());
    // A value of the wrong type reads as its default and is reported where it was read.
    const auto noteFailures = [&] {
        for (std::string& m : store.TakeReadFailures())
            Note(messages, std::move(m));
    };
    ReadTable(store, settings, messages, noteFailures);
    Try(messages, [&] {
        if (store.SectionExists(kOldRecentSection)) {
            ImportOldRecentFiles(store, recent);
            // What the newer section holds was seen too, though not taken.
            recent.NoteStored(store, kRecentSection);
        } else {
            recent.LoadFromIni(store, kRecentSection);
        }
    });
    noteFailures();
    return messages;
}

std::vector<std::string> LoadSettings(TWindowSettings& settings, TOZHistoryList& recent,
                                      const TFirstStartQuestion& question)
{
    std::vector<std::string> messages;
    Try(messages, [&] {
        TOZIniFile2 store(question);
        messages = LoadSettings(store, settings, recent);
    });
    return messages;
}

TWindowOptions StoredOptions()
{
    TWindowSettings settings;
    TIniStyle style;
    std::vector<std::string> ignored;
    Try(ignored, [&] {
        if (!TOZIniFile2::GetStyle(style))
            return;  // the first start: nothing stored, and nothing asked here
        TOZIniFile2 store;
        ReadTable(store, settings, ignored, [] {});
    });
    return settings.Options;
}

void SaveSettings(const TWindowSettings& settings, TOZHistoryList& recent, const TFirstStartQuestion& question)
{
    TOZIniFile2 store(question);
    std::string section;
    for (const TSettingEntry& e : WindowSettingsTable()) {
        if (section != e.Section) {
            section = e.Section;
            store.OpenSection(section, true);
        }
        if (e.Type == TType::Boolean)
            store.WriteBool(e.Key, e.Get(settings) != 0);
        else
            store.WriteInteger(e.Key, e.Get(settings));
    }
    recent.SaveToIni(store, kRecentSection);
    if (store.SectionExists(kOldRecentSection))
        store.EraseSection(kOldRecentSection);
    store.UpdateFile();
}

}  // namespace nolvi2
