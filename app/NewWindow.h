#pragma once
// Starting new windows, each its own process of this program under its real path: for a file
// ("pos:x,y" and the name) or with a picture and the window's state in a shared block
// ("pos:x,y", "common:nolvi", the block's descriptor number and size). The block is handed to
// the new process alone; this process keeps no copy of it.

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
std::vector<std::string> PictureStartArguments(TPoint p, int fd, int64_t size);

// The starts go through start (StartProgram for real windows).
void LaunchForFile(TPoint p, const std::string& fileName, const TProgramStarter& start);

// Writes and seals the block and starts the new window with it. A block that cannot be made
// or written raises ESharedMemory, a process that cannot be started its error; either way
// the block is gone with the call, as it is after a start.
void LaunchWithPicture(const TWindowState& state, const TOZHistoryList& recent, const TBitmap& picture, TPoint p,
                       const TProgramStarter& start);

}  // namespace nolvi2
