#include "NewWindow.h"

#include "platform/SharedMemory.h"

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

TPoint NewWindowPos(const TRect& frame, const TRect& workArea, int32_t w, int32_t h)
{
    if (w > 0 && h > 0 && int64_t(frame.Right) + w <= workArea.Right)
        return {frame.Right, frame.Top};
    return {frame.Left + 24, frame.Top + 24};
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
