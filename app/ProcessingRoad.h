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

// Runs the command's operation on input with progress on. Family A changes input and
// returns null; the others return their result.
std::unique_ptr<TBitmap> RunOperation(const TCommand& command, TBitmap& input, const TCommandOptions& options);

struct TRoadOutcome {
    std::string Title;          // the result title
    bool ResizeWindow = false;  // the window is fitted to the result
};

// Applies a command to the picture as the window does in place: family A on the selection
// copy (pasted back) or on the whole picture, timed by chronograph. fileNamePart is the
// file-name part of the picture's name, for the result title.
TRoadOutcome ApplyInPlace(const TCommand& command, TBitmap& picture, std::optional<TRect>& selection,
                          const TCommandOptions& options, TChronograph& chronograph,
                          const std::string& fileNamePart);

}  // namespace nolvi2
