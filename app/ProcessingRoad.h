#pragma once
// The road every processing command takes, without the window: the input chosen by the
// command's family (the selection copy or the whole picture), the timed operation, and the
// result put back in place.

#include "Chronograph.h"
#include "CommandTable.h"
#include "platform/Bitmap.h"

#include <memory>
#include <optional>
#include <string>

namespace nolvi2 {

// Parameters that come from the window's options when a command runs.
struct TCommandOptions {
    uint8_t GrassWidth = 8;
    uint8_t RainbowMaskSize = 8;
    // What the resize dialog returns.
    int32_t ResizeWidth = 0;
    int32_t ResizeHeight = 0;
    uint8_t ResizeAlgorithm = 3;  // 1 nearest neighbour, 2 bilinear, 3 integral
};

// A selection clamped to a picture of width w and height h as the selection tool does:
// right and bottom are cut to the picture when left and top lie inside it; otherwise the
// selection goes away.
std::optional<TRect> ClampSelection(const TRect& selection, int32_t w, int32_t h);

// A new bitmap of the picture's format and palette holding the pixels of rect (which lies
// inside the picture), without an OnProgress handler.
std::unique_ptr<TBitmap> CopySelection(const TBitmap& picture, const TRect& rect);

// Copies part 1:1 into picture with its top-left corner at (left, top); both of one format.
void PasteAt(TBitmap& picture, const TBitmap& part, int32_t left, int32_t top);

// Runs the command's operation on input with progress on, as the window calls it. Family A
// changes input and returns null; the others return their result, or null for "none". The
// filter works on selection (or the whole picture without one); crop returns a copy of it.
std::unique_ptr<TBitmap> RunOperation(const TCommand& command, TBitmap& input, const std::optional<TRect>& selection,
                                      const TCommandOptions& options);

struct TRoadOutcome {
    bool Applied = false;       // false: the command did nothing (empty picture, crop without
                                // a selection, an operation that returned none)
    std::string Title;          // the result title
    bool ResizeWindow = false;  // the window is fitted to the result
};

// Applies a command to the picture as the window does in place, timed by chronograph when
// the command is timed: families A and B on the selection copy (pasted back) or the whole
// picture, C and E on the whole picture, D on the selection rectangle of the whole picture,
// F (crop) on the selection, which it removes. The selection is then clamped to the new
// picture. fileNamePart is the file-name part of the picture's name, for the result title.
// An operation that throws leaves chronograph with the measurement it had before.
TRoadOutcome ApplyInPlace(const TCommand& command, TBitmap& picture, std::optional<TRect>& selection,
                          const TCommandOptions& options, TChronograph& chronograph,
                          const std::string& fileNamePart);

struct TNewWindowResult {
    bool Applied = false;
    std::string Title;
    std::unique_ptr<TBitmap> Picture;  // the whole picture the new window shows
    bool KeepSelection = true;         // the new window gets the selection (not after a crop)
};

// Applies a command for a new window, leaving picture and selection as they are: families A
// and B work on the selection copy and paste it into a full copy of the picture, family A
// without a selection on a fresh full copy; the others return their result. The copies carry
// no progress handler.
TNewWindowResult ApplyToNewWindow(const TCommand& command, TBitmap& picture, const std::optional<TRect>& selection,
                                  const TCommandOptions& options, TChronograph& chronograph,
                                  const std::string& fileNamePart);

}  // namespace nolvi2
