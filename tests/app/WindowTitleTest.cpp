#include "app/CommandTable.h"
#include "app/WindowTitle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

using namespace nolvi2;

namespace {

TCaptionState Loaded(std::string_view fileName, int32_t w, int32_t h, float zoom)
{
    TCaptionState s;
    s.PictureEmpty = false;
    s.FileName = fileName;
    s.Width = w;
    s.Height = h;
    s.Zoom = zoom;
    return s;
}

}  // namespace

TEST(Caption, Cases)
{
    TCaptionState empty;
    empty.Zoom = 3.0f;
    EXPECT_EQ(CaptionText(empty), "nolvi2");

    EXPECT_EQ(CaptionText(Loaded("/home/user/photo.jpg", 640, 480, 1.0f)), "photo.jpg [640x480x24] @ 100%");

    TCaptionState clip = Loaded("クリップボード", 3, 2, 0.5f);
    clip.PixelFormat = TPixelFormat::pf8bit;
    EXPECT_EQ(CaptionText(clip), "クリップボード [3x2x8] @ 50%");

    // A selection drag wins over the preview, the preview over the file name.
    TCaptionState s = Loaded("/a/b.bmp", 100, 100, 2.0f);
    s.JpegPreview = true;
    s.JpegQuality = 60;
    s.JpegSize = 3539993;
    EXPECT_EQ(CaptionText(s), "JPEG 画質60 3457.025K @ 200%");
    s.JpegSize = 700;
    EXPECT_EQ(CaptionText(s), "JPEG 画質60 700bytes @ 200%");
    s.SelectionDragging = true;
    s.Selection = {10, 20, 40, 60};
    EXPECT_EQ(CaptionText(s), "開始:10,20 サイズ:30,40 @ 200%");

    // File names are bytes; only the name part is shown.
    EXPECT_EQ(CaptionText(Loaded("/x/\xff\xfe.bmp", 1, 1, 20.0f)), "\xff\xfe.bmp [1x1x24] @ 2000%");
}

TEST(Caption, ZoomPercentRoundsHalfToEven)
{
    const std::pair<float, int32_t> cases[] = {
        {0.01f, 1},      // 0.99999997...
        {0.125f, 12},    // 12.5
        {0.375f, 38},    // 37.5
        {0x1.028f5cp+0f, 101},
        {0x1.99999ep-3f, 20},
        {20.0f, 2000},
    };
    for (const auto& [z, percent] : cases)
        EXPECT_EQ(ZoomPercent(z), percent) << z;
}

TEST(Caption, PixelFormatNamesAndProgress)
{
    const std::pair<TPixelFormat, const char*> names[] = {
        {TPixelFormat::pfDevice, "Device"}, {TPixelFormat::pf1bit, "1"},   {TPixelFormat::pf4bit, "4"},
        {TPixelFormat::pf8bit, "8"},        {TPixelFormat::pf15bit, "15"}, {TPixelFormat::pf16bit, "16"},
        {TPixelFormat::pf24bit, "24"},      {TPixelFormat::pf32bit, "32"}, {TPixelFormat::pfCustom, "Custom"},
    };
    for (const auto& [pf, name] : names)
        EXPECT_EQ(PixelFormatName(pf), name);

    EXPECT_EQ(ProgressCaption(psStarting, 55), "作業中 0% 完了");
    EXPECT_EQ(ProgressCaption(psRunning, 42), "作業中 42% 完了");
    EXPECT_EQ(ProgressCaption(psEnding, 3), "作業中 100% 完了");
}

TEST(Enabling, TableCoversTheWindowsCommands)
{
    std::set<std::string_view> names;
    for (const TEnableEntry& e : EnablingTable())
        EXPECT_TRUE(names.insert(ActionInfo(e.Action).Name).second) << ActionInfo(e.Action).Name;
    EXPECT_EQ(names.size(), 52u);
    // Every processing command except crop follows the picture.
    for (const TCommand& c : ProcessingCommands()) {
        if (c.Operation != TOperation::Crop) {
            EXPECT_TRUE(names.count(c.Action)) << c.Action;
        }
    }
}

TEST(Enabling, StatesFollowPictureFileAndPreview)
{
    auto states = [](bool p, bool file, bool preview, TPixelFormat pf) {
        std::map<std::string_view, TActionEnabling> m;
        for (const TActionEnabling& a : ActionEnabling({p, file, preview, pf}))
            m[ActionInfo(a.Action).Name] = a;
        return m;
    };
    const auto pf24 = TPixelFormat::pf24bit;

    // No picture: only the file commands can be on.
    auto m = states(false, true, true, pf24);
    for (const auto& [name, a] : m) {
        const bool fileCommand = name == "actNextFile" || name == "actPrevFile" || name == "actReopen";
        EXPECT_EQ(a.Enabled, fileCommand) << name;
    }
    EXPECT_EQ(m["actPf24bit"].Checked, false);

    // A pasted picture, preview off.
    m = states(true, false, false, pf24);
    EXPECT_TRUE(m["actInvert"].Enabled);
    EXPECT_TRUE(m["actJpegPreview80"].Enabled);
    EXPECT_FALSE(m["actReopen"].Enabled);
    EXPECT_FALSE(m["actNewWindow"].Enabled);
    EXPECT_FALSE(m["actSaveAsJPEG"].Enabled);
    EXPECT_FALSE(m["actJpegPreviewUp"].Enabled);
    EXPECT_EQ(m["actInvert"].Checked, std::nullopt);

    // A file with the preview on.
    m = states(true, true, true, pf24);
    EXPECT_TRUE(m["actNewWindow"].Enabled);
    EXPECT_TRUE(m["actSaveAsJPEG"].Enabled);
    EXPECT_TRUE(m["actJpegProgressive"].Enabled);
    EXPECT_TRUE(m["actJpegPreviewDown"].Enabled);

    // The pixel-format commands: the current format checked and disabled, the others enabled.
    m = states(true, true, false, pf24);
    EXPECT_EQ(m["actPf24bit"].Checked, true);
    EXPECT_FALSE(m["actPf24bit"].Enabled);
    for (const char* other : {"actPf1bit", "actPf4bit", "actPf8bit"}) {
        EXPECT_EQ(m[other].Checked, false) << other;
        EXPECT_TRUE(m[other].Enabled) << other;
    }
    m = states(true, false, false, TPixelFormat::pf32bit);
    for (const char* any : {"actPf1bit", "actPf4bit", "actPf8bit", "actPf24bit"})
        EXPECT_TRUE(m[any].Enabled) << any;
}
