#include "app/WindowSettings.h"

#include "FileText.h"
#include "SettingsSandbox.h"
#include "settings/OZHistoryList.h"
#include "settings/OZIniFile2.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

std::vector<int32_t> Fields(const TWindowSettings& s)
{
    std::vector<int32_t> v;
    for (const TSettingEntry& e : WindowSettingsTable())
        v.push_back(e.Get(s));
    return v;
}

std::vector<std::string> Load(TWindowSettings& settings, TOZHistoryList& recent)
{
    TOZIniFile2 store;
    return LoadSettings(store, settings, recent);
}

// A store of the given kind with its sections written through the store itself.
void MakeStore(TIniStyle style, void (*fill)(TOZIniFile2&))
{
    TOZIniFile2::InitializeStore(style);
    TOZIniFile2 store;
    fill(store);
    store.UpdateFile();
}

}  // namespace

TEST(WindowSettings, TableDefaultsAreTheRecordsDefaults)
{
    const TWindowSettings defaults;
    for (const TSettingEntry& e : WindowSettingsTable())
        EXPECT_EQ(e.Default, e.Get(defaults)) << e.Section << "\\" << e.Key;
}

TEST(WindowSettings, EmptyStoreGivesTheDefaults)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        TWindowSettings settings;
        settings.WindowX = -7;  // read from the store, not kept
        settings.JpegProgressive = false;
        TOZHistoryList recent;
        EXPECT_EQ(Load(settings, recent), Strings{});
        EXPECT_EQ(Fields(settings), Fields(TWindowSettings{}));
        EXPECT_EQ(recent.Count(), 0);
        EXPECT_EQ(recent.VisibleCount(), 8);
    }
}

TEST(WindowSettings, EverySettingRoundTripsInBothStores)
{
    // Values unlike the defaults and unlike each other.
    TWindowSettings changed;
    changed.WindowX = -300;
    changed.WindowY = 70000;
    changed.MinimumUnit = 24;
    changed.InvertTenohiraTool = true;
    changed.Options.WindowResizeByZoom = false;
    changed.Options.OpenResultInNewWindow = false;
    changed.Options.OutOfSelection = 2;
    changed.Options.GrassWidth = 255;
    changed.Options.RainbowMaskSize = 3;
    changed.Options.ShowProgressTime = true;
    changed.Options.ApplyColorProfile = false;
    changed.Options.AutoRotate = false;
    changed.Options.PreloadNeighbours = false;
    changed.JpegQuality = 100;
    changed.JpegProgressive = false;
    const auto want = Fields(changed);
    const auto defaults = Fields(TWindowSettings{});
    for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_NE(want[i], defaults[i]) << WindowSettingsTable()[i].Key;

    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        TOZIniFile2::InitializeStore(style);
        TOZHistoryList recent;
        recent.AddFile("/p/old.jpg");
        recent.AddFile("/p/new.jpg");
        recent.SetVisibleCount(5);
        SaveSettings(changed, recent);

        TWindowSettings settings;
        TOZHistoryList back;
        EXPECT_EQ(Load(settings, back), Strings{});
        EXPECT_EQ(Fields(settings), want);
        EXPECT_EQ(back.DataItems(), (Strings{"/p/new.jpg", "/p/old.jpg"}));
        EXPECT_EQ(back.VisibleCount(), 5);

        // Each entry is where the table says.
        TOZIniFile2 store;
        for (const TSettingEntry& e : WindowSettingsTable()) {
            store.OpenSection(e.Section, false);
            EXPECT_TRUE(store.SectionOpen()) << e.Section;
            EXPECT_EQ(store.ReadInteger(e.Key, e.Default), e.Get(changed)) << e.Key;
        }
    }
}

TEST(WindowSettings, OneByteFieldsKeepTheLowByte)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        MakeStore(style, [](TOZIniFile2& store) {
            store.OpenSection("Jpeg", true);
            store.WriteInteger("Quality", 300);
            store.OpenSection("Config", true);
            store.WriteInteger("GrassWidth", -1);
            store.WriteInteger("WindowX", -1);
        });
        TWindowSettings settings;
        TOZHistoryList recent;
        EXPECT_EQ(Load(settings, recent), Strings{});
        EXPECT_EQ(settings.JpegQuality, 44);
        EXPECT_EQ(settings.Options.GrassWidth, 255);
        EXPECT_EQ(settings.WindowX, -1);
    }
}

TEST(WindowSettings, OldRecentFilesAreImportedThenReplaced)
{
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        MakeStore(style, [](TOZIniFile2& store) {
            store.OpenSection("RecentFiles", true);
            store.WriteInteger("VisibleCount", 4);
            store.WriteInteger("Count", 3);
            store.WriteString("0", " a.jpg ");
            store.WriteString("1", "b.jpg");
            store.WriteString("2", "  ");
            store.WriteString("3", "beyond the count.jpg");
            store.OpenSection("RecentFiles2", true);
            store.WriteInteger("Count", 1);
            store.WriteString("Data0", "ignored while the old list exists.jpg");
        });
        TWindowSettings settings;
        TOZHistoryList recent;
        EXPECT_EQ(Load(settings, recent), Strings{});
        EXPECT_EQ(recent.DataItems(), (Strings{"a.jpg", "b.jpg"}));
        EXPECT_EQ(recent.Captions(), (Strings{"a.jpg", "b.jpg"}));
        EXPECT_EQ(recent.VisibleCount(), 4);

        SaveSettings(settings, recent);
        TOZIniFile2 store;
        EXPECT_FALSE(store.SectionExists("RecentFiles"));
        EXPECT_TRUE(store.SectionExists("RecentFiles2"));
        if (style == isRegistry)
            EXPECT_FALSE(fs::exists(box.KeyFolder() + "/RecentFiles"));
        else
            EXPECT_EQ(ReadText(box.IniFile()).find("[RecentFiles]"), std::string::npos);
        TOZHistoryList again;
        EXPECT_EQ(Load(settings, again), Strings{});
        EXPECT_EQ(again.DataItems(), (Strings{"a.jpg", "b.jpg"}));
    }
}

TEST(WindowSettings, UnreadableValuesAreReportedAndTheRestRead)
{
    SettingsSandbox box;
    fs::create_directories(box.KeyFolder() + "/Config");
    fs::create_directories(box.KeyFolder() + "/RecentFiles2");
    WriteText(box.KeyFolder() + "/Config/values.reg",
              "\"WindowX\"=\"10\"\n\"WindowY\"=dword:00000014\n\"ShowProgressTime\"=\"yes\"\n"
              "\"GrassWidth\"=dword:00000004\n\"AutoRotate\"=\"no\"\n\"ApplyColorProfile\"=dword:00000000\n");
    WriteText(box.KeyFolder() + "/RecentFiles2/values.reg",
              "\"Count\"=\"2\"\n\"Data0\"=\"a.jpg\"\n\"VisibleCount\"=dword:00000003\n");
    TWindowSettings settings;
    TOZHistoryList recent;
    recent.AddFile("/p/before.jpg");
    const Strings messages = Load(settings, recent);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_NE(messages[0].find("\"WindowX\""), std::string::npos) << messages[0];
    EXPECT_NE(messages[1].find("\"ShowProgressTime\""), std::string::npos) << messages[1];
    EXPECT_NE(messages[2].find("\"AutoRotate\""), std::string::npos) << messages[2];
    EXPECT_NE(messages[3].find("\"Count\""), std::string::npos) << messages[3];
    EXPECT_EQ(settings.WindowX, 128);
    EXPECT_EQ(settings.WindowY, 20);
    EXPECT_FALSE(settings.Options.ShowProgressTime);
    EXPECT_TRUE(settings.Options.AutoRotate);
    EXPECT_FALSE(settings.Options.ApplyColorProfile);
    EXPECT_EQ(settings.Options.GrassWidth, 4);
    EXPECT_EQ(settings.JpegQuality, 80);
    // The count that cannot be read is none, the visible count is read.
    EXPECT_EQ(recent.Count(), 0);
    EXPECT_EQ(recent.VisibleCount(), 3);
}

TEST(WindowSettings, AFirstStartThatCannotMakeTheIniFileIsReported)
{
    SettingsSandbox box(false);
    fs::create_directory(box.IniFile());
    TWindowSettings settings;
    TOZHistoryList recent;
    const Strings messages = LoadSettings(settings, recent, [] { return true; });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(box.IniFile()), std::string::npos) << messages[0];
    EXPECT_EQ(Fields(settings), Fields(TWindowSettings{}));
    EXPECT_TRUE(fs::is_directory(box.KeyFolder()));
}

TEST(WindowSettings, ReadOptionsFollowTheWindowOptions)
{
    for (const bool profile : {false, true})
        for (const bool rotate : {false, true}) {
            TWindowOptions o;
            o.ApplyColorProfile = profile;
            o.AutoRotate = rotate;
            const TReadOptions r = ReadOptionsOf(o);
            EXPECT_EQ(r.ColorProfile, profile) << profile << rotate;
            EXPECT_EQ(r.AutoRotate, rotate) << profile << rotate;
        }
    const TReadOptions defaults = ReadOptionsOf(TWindowOptions{});
    EXPECT_TRUE(defaults.ColorProfile);
    EXPECT_TRUE(defaults.AutoRotate);
}

TEST(WindowSettings, StoredOptionsAskNothingAndMakeNoStore)
{
    {
        SettingsSandbox box(false);
        TWindowSettings read;
        read.Options = StoredOptions();
        EXPECT_EQ(Fields(read), Fields(TWindowSettings{}));
        TIniStyle style;
        EXPECT_FALSE(TOZIniFile2::GetStyle(style)) << "reading the options made a store";
    }
    for (const TIniStyle style : {isIniFile, isRegistry}) {
        SCOPED_TRACE(int(style));
        SettingsSandbox box(false);
        MakeStore(style, [](TOZIniFile2& store) {
            store.OpenSection("Config", true);
            store.WriteBool("ApplyColorProfile", false);
            store.WriteBool("AutoRotate", true);
            store.WriteBool("PreloadNeighbours", false);
        });
        const TWindowOptions options = StoredOptions();
        EXPECT_EQ(ReadOptionsOf(options), (TReadOptions{false, true}));
        EXPECT_FALSE(options.PreloadNeighbours);
    }
}
