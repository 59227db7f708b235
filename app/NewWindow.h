#pragma once
// Starting new windows, each its own process of this program: for a file ("pos:x,y" and the
// name) or with a picture and the window's state in a shared block ("pos:x,y",
// "common:nolvi", the block's tick and size). The blocks this process made are removed when
// its window ends, once their receivers have had the chance to read them.

#include "StateBlock.h"
#include "platform/Process.h"
#include "platform/Types.h"

#include <string>
#include <vector>

namespace nolvi2 {

// Where a new window opens: beside the window (frame, outer rectangle) when a picture of
// w x h is given and the window's right edge plus w stays inside the work area; else 24
// pixels right of and below the window's top-left corner.
TPoint NewWindowPos(const TRect& frame, const TRect& workArea, int32_t w, int32_t h);

// The argument vectors of the two starts (argument 0 excluded).
std::vector<std::string> FileStartArguments(TPoint p, const std::string& fileName);
std::vector<std::string> PictureStartArguments(TPoint p, uint32_t tick, int64_t size);

// The starts go through start (StartProgram for real windows).
void LaunchForFile(TPoint p, const std::string& fileName, const TProgramStarter& start);

// Writes the block and starts the new window. A block that cannot be made or written, or a
// process that cannot be started, raises the error and leaves no block behind.
void LaunchWithPicture(const TWindowState& state, const TOZHistoryList& recent, const TBitmap& picture, TPoint p,
                       const TProgramStarter& start);

// Removes the blocks this process made. A block still unread by a live receiver is given up
// to maxWaitMs to be read first.
void ReleaseLaunchedBlocks(int maxWaitMs);
// The names of the blocks made and not yet released, oldest first.
std::vector<std::string> LaunchedBlocks();

}  // namespace nolvi2
