#pragma once
// The window's actions as data: each action's identity, object name, caption, kind, keys and
// the context menu's own caption where the menu differs. The window creates its QActions from
// this table and reaches them by TActionId; the processing commands take their captions from
// the command table.

#include "CommandTable.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace nolvi2 {

// Every action of the window. The processing commands carry their command table names.
enum class TActionId : uint8_t {
    Open,
    Reopen,
    PrevFile,
    NextFile,
    Preferences,
    IniStyle,
    About,
    Website,
    NewWindow,
    Copy,
    Paste,
    // The processing commands.
    Invert,
    Solarize,
    GrayScale,
    Desaturate,
    Xor,
    RGBSwitchRGB,
    RGBSwitchRG,
    RGBSwitchGB,
    RGBSwitchBR,
    GammaPlus,
    GammaMinus,
    MaskNijiiro,
    Rotate180,
    FlipHorizontal,
    FlipVertical,
    GrassHorizontal,
    GrassVertical,
    WinMask,
    Rotate90,
    Rotate270,
    FilterLowpass,
    FilterLowpassLow,
    FilterLowpassWeak,
    FilterSharpLow,
    FilterSharpMiddle,
    FilterSharpHigh,
    FilterLaplacian4,
    FilterLaplacian8,
    FilterLaplacian82,
    Resize,
    Crop,
    // Selection, saving and the JPEG preview.
    Deselect,
    SelectUnitFree,
    SelectUnit8,
    SelectUnit16,
    SelectUnit24,
    SelectUnit32,
    SaveAsBMP,
    JpegPreview,
    SaveAsJPEG,
    JpegProgressive,
    JpegPreview80,
    JpegPreview60,
    JpegPreview30,
    JpegPreview10,
    JpegPreviewUp,
    JpegPreviewDown,
    // The hidden pixel-format commands.
    Pf24bit,
    Pf8bit,
    Pf4bit,
    Pf1bit,
    // View.
    ZoomIn,
    ZoomOut,
    ZoomActualPixels,
    OpenResultNewWindow,
    ShowProcessingTime,
    Exit,
};
inline constexpr std::size_t kActionCount = std::size_t(TActionId::Exit) + 1;

// A key with its modifiers, numbered as the toolkit numbers key events: printable keys by
// their upper-case character code, the others and the modifiers as below. The window checks
// these numbers against the toolkit's at compile time.
struct TKeyStroke {
    uint32_t Combined = 0;
    constexpr bool Empty() const { return Combined == 0; }
    friend constexpr bool operator==(TKeyStroke, TKeyStroke) = default;
};
namespace keys {
inline constexpr uint32_t Shift = 0x02000000, Ctrl = 0x04000000, Alt = 0x08000000;
inline constexpr uint32_t Return = 0x01000004, Enter = 0x01000005, Left = 0x01000012, Up = 0x01000013,
                          Right = 0x01000014, Down = 0x01000015, F1 = 0x01000030, F5 = 0x01000034;
constexpr TKeyStroke K(uint32_t combined) { return {combined}; }
}  // namespace keys

// What triggering an action does, beyond its own handler.
enum class TActionKind : uint8_t {
    Plain,        // runs its handler
    Command,      // runs its processing command through the road
    Toggle,       // a checkable option
    SelectUnit,   // sets the selection's minimum unit to Tag (1: none)
    JpegQuality,  // turns the preview on at quality Tag
    PixelFormat,  // reduces the picture to Tag bits per pixel
};

struct TActionInfo {
    TActionId Id{};
    std::string_view Name;     // the object name, "actOpen"
    std::string_view Caption;  // with its accelerator
    TActionKind Kind = TActionKind::Plain;
    int Tag = 0;
    // The keys that trigger the action; the first is the one its menu item shows.
    std::array<TKeyStroke, 6> Keys{};
    // The context menu's item, where it differs from the action: its caption, and the key it
    // shows while the key table gives that key to the action.
    std::string_view MenuCaption;
    TKeyStroke MenuKey;
    const TCommand* Command = nullptr;  // Kind Command only

    bool Checkable() const { return Kind != TActionKind::Plain && Kind != TActionKind::Command; }
    bool HasMenuItem() const { return !MenuCaption.empty() || !MenuKey.Empty(); }
};

// The context menu as data: its entries in order, a submenu between its Begin (with the
// submenu's caption) and its End.
enum class TMenuEntryKind : uint8_t { Item, Separator, Begin, End };
enum class TSubmenuRole : uint8_t {
    Plain,
    Recent,       // filled with the recent files by their list
    JpegPreview,  // checked while the preview is on
    Hidden,       // not offered; its actions stay
};
struct TMenuEntry {
    TMenuEntryKind Kind = TMenuEntryKind::Item;
    TActionId Id{};              // Item
    std::string_view Caption;    // Begin
    TSubmenuRole Role = TSubmenuRole::Plain;  // Begin
};
std::span<const TMenuEntry> ContextMenu();

// Every action, in TActionId order (row i is the action of id i).
std::span<const TActionInfo> Actions();
const TActionInfo& ActionInfo(TActionId id);
// The action of an object name ("actOpen"); none when there is no such action.
std::optional<TActionId> FindAction(std::string_view name);
// The action of a processing command.
TActionId CommandAction(const TCommand& command);

}  // namespace nolvi2
