#pragma once
// The window's title and the enabling of its picture commands, as plain functions of the
// window's state, so that the window only has to apply them.

#include "ActionTable.h"
#include "platform/PictureSize.h"
#include "platform/Types.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nolvi2 {

inline constexpr std::string_view kApplicationTitle = "nolvi2";

// "Device", "1", "4", "8", "15", "16", "24", "32", "Custom".
std::string_view PixelFormatName(TPixelFormat pf);

// Round(z × 100), ties to even: the zoom in percent as the title shows it.
int32_t ZoomPercent(float z);

// Everything the title depends on.
struct TCaptionState {
    bool PictureEmpty = true;
    std::string_view ApplicationTitle = kApplicationTitle;
    bool SelectionDragging = false;  // a selection drag is in progress
    TRect Selection;                 // the selection, while it is being dragged
    bool JpegPreview = false;
    int32_t JpegQuality = 80;
    int32_t JpegSize = 0;            // bytes of the JPEG stream behind the preview
    std::string_view FileName;       // the full name (or the title of a picture without file)
    int32_t Width = 0;
    int32_t Height = 0;
    TPixelFormat PixelFormat = TPixelFormat::pf24bit;
    float Zoom = 1.0f;
};

// The window's title (also the application's): the application title for an empty picture;
// else the dragged selection "開始:l,t サイズ:w,h", the preview "JPEG 画質q size" or
// "name [WxHxbits]", followed by " @ n%".
std::string CaptionText(const TCaptionState& state);

// The title while an operation runs: "作業中 n% 完了" with n = 0 when it starts, the percentage
// while it runs and 100 when it ends.
std::string ProgressCaption(TProgressStage stage, uint8_t percent);

// How PictureChanged enables one of the picture commands.
enum class TEnableRule : uint8_t {
    Picture,            // a picture is loaded
    File,               // the picture came from a file
    PictureAndPreview,  // a picture is loaded and the JPEG preview is on
    PictureAndFile,     // a picture is loaded and it came from a file
    PixelFormat,        // checked when a picture of Format is loaded; enabled when not checked
};

struct TEnableEntry {
    TActionId Action;
    TEnableRule Rule;
    TPixelFormat Format = TPixelFormat::pf24bit;  // PixelFormat rule only
};

// Every action whose state PictureChanged sets, with its rule.
std::span<const TEnableEntry> EnablingTable();

struct TEnablingState {
    bool PictureLoaded = false;
    bool IsFile = false;
    bool JpegPreview = false;
    TPixelFormat PixelFormat = TPixelFormat::pf24bit;
};

struct TActionEnabling {
    TActionId Action;
    bool Enabled = false;
    std::optional<bool> Checked;  // set only for the actions whose check mark the table sets
};

// The state of every action of the table, in table order.
std::vector<TActionEnabling> ActionEnabling(const TEnablingState& state);

}  // namespace nolvi2
