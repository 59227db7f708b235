#pragma once
// The processing commands of the window as data: action, caption, family, operation with
// its parameter, and display name. The window and nolvi2-cli both read this table.

#include <cstdint>
#include <span>
#include <string_view>

namespace nolvi2 {

// How a command travels through the processing road.
enum class TFamily : uint8_t {
    A,  // in place, on the selection copy or the whole picture
    B,  // same-size result, on the selection copy or the whole picture
    C,  // rotation by 90 degrees, whole picture
    D,  // filter, whole picture and the selection rectangle
    E,  // resize, whole picture
    F,  // crop: the selection copy itself
};

enum class TOperation : uint8_t {
    Invert,
    Solarize,
    GrayScale,
    Desaturate,
    XorChannels,
    SwapRGB,
    GammaPlus,
    GammaMinus,
    RainbowMask,
    Rotate180,
    FlipHorizontal,
    FlipVertical,
    GlassHorizontal,
    GlassVertical,
    WinMask,
    Rotate90,
    Rotate270,
    Filter,
    Resize,
    Crop,
};

struct TCommand {
    std::string_view Action;   // "actInvert"
    std::string_view Caption;  // the action's caption, with its accelerator
    TFamily Family;
    TOperation Operation;
    int Parameter;                 // SwapRGB: the mode; Filter: the kernel kind
    std::string_view DisplayName;  // in the stopwatch's report and the result title

    // Families E and F name their result by the display name alone.
    bool TitleWithFileName() const { return Family != TFamily::E && Family != TFamily::F; }
    // Crop is the one command that is not timed.
    bool Timed() const { return Family != TFamily::F; }
    // Rotations, resize and crop fit the window to their result.
    bool FitsWindow() const { return Family == TFamily::C || Family == TFamily::E || Family == TFamily::F; }

    // The action's name without its "act" prefix ("Invert").
    std::string_view Name() const { return Action.substr(3); }
};

inline constexpr std::size_t kCommandCount = 31;

// The commands, in the order of the window's action ids.
std::span<const TCommand> ProcessingCommands();

// The command whose name (with or without "act") equals name, compared without regard to
// case; null when there is none.
const TCommand* FindCommand(std::string_view name);

}  // namespace nolvi2
