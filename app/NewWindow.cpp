#include "NewWindow.h"

#include "ZoomView.h"
#include "platform/SharedMemory.h"

#include <cmath>
#include <unistd.h>

namespace nolvi2 {

namespace {

std::string PositionArgument(TPoint p) { return "pos:" + std::to_string(p.X) + "," + std::to_string(p.Y); }

// This program, started again under its real path; /proc/self/exe when that file is gone.
pid_t StartSelf(const std::vector<std::string>& arguments, const TProgramStarter& start, int handOver = -1)
{
    const std::string program = ::access(ProgramPath().c_str(), X_OK) == 0 ? ProgramPath() : "/proc/self/exe";
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return start(program, argv, handOver);
}

}  // namespace

int32_t BesideEdge(const TLaunchingWindow& window)
{
    const double r = window.Ratio;
    // The smallest device position the toolkit rounds to the logical value v.
    const auto lowest = [r](int32_t v) { return std::ceil((v - 0.5) * r); };
    const int32_t margin = window.Frame.Right - window.Client.Right;
    const double right =
        lowest(window.Client.Left) + DeviceExtent(window.Client.Width(), r) + (margin > 0 ? lowest(margin) : 0.0);
    return int32_t(std::floor(right / r));
}

TPoint NewWindowPos(const TLaunchingWindow& window, const TRect& workArea, int32_t outerWidth, int32_t outerHeight)
{
    const TRect& f = window.Frame;
    const TPoint offset{f.Left + 24, f.Top + 24};
    if (outerWidth <= 0 || outerHeight <= 0)
        return offset;
    const int32_t edge = BesideEdge(window);
    const TPoint p = int64_t(edge) + outerWidth <= workArea.Right ? TPoint{edge, f.Top} : offset;
    const TScreenArea area[] = {{workArea, workArea}};
    return RescuedPosition(p, area, outerWidth, outerHeight);
}

std::vector<std::string> FileStartArguments(TPoint p, const std::string& fileName)
{
    return {PositionArgument(p), fileName};
}

std::vector<std::string> PictureStartArguments(TPoint p, int fd, int64_t size)
{
    return {PositionArgument(p), "common:nolvi", std::to_string(fd), std::to_string(size)};
}

void LaunchForFile(TPoint p, const std::string& fileName, const TProgramStarter& start)
{
    StartSelf(FileStartArguments(p, fileName), start);
}

void LaunchWithPicture(const TWindowState& state, const TOZHistoryList& recent, const TBitmap& picture, TPoint p,
                       const TProgramStarter& start)
{
    // The block closes here whatever happens: after the start only the child holds it.
    const std::unique_ptr<TSharedBlock> block = CreateSharedBlock();
    WriteState(*block, state, recent, picture);
    block->Seal();
    StartSelf(PictureStartArguments(p, block->Handle(), block->Size()), start, block->Handle());
}

}  // namespace nolvi2
