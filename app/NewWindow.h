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

// The launching window as the toolkit reports it, in logical pixels: its outer (frame) and
// client rectangles, and its device pixel ratio.
struct TLaunchingWindow {
    TRect Frame;
    TRect Client;
    double Ratio = 1.0;
};

// Where a window beside the launching one begins: the right edge of its frame. At a device
// pixel ratio other than 1 the toolkit reports the client's position and each frame margin
// rounded to whole logical pixels, which may reach past the window manager's frame; the edge
// is the last logical position whose device pixel is not beyond the narrowest frame those
// values can stand for, so that the new frame begins on the launching frame's edge or a few
// device pixels inside it, never leaving a gap.
int32_t BesideEdge(const TLaunchingWindow& window);

// Where a new window opens (its frame's top-left). A window of outerWidth × outerHeight (its
// picture's client with a frame like the launching window's) opens beside the launching
// window when it fits between BesideEdge and the work area's right edge, else 24 pixels right
// of and below the launching window's top-left corner; it then moves left and up as far as the
// work area needs to hold it whole (never past the work area's left and top edges), so that
// it need not shrink. Without a size (a start for a file, whose picture is not known yet) it
// is the offset position as it is.
TPoint NewWindowPos(const TLaunchingWindow& window, const TRect& workArea, int32_t outerWidth, int32_t outerHeight);

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
