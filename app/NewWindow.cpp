#include "NewWindow.h"

#include "platform/SafeFile.h"
#include "platform/SharedMemory.h"
#include "platform/Tick.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace nolvi2 {

namespace {

struct TLaunched {
    std::string Name;
    pid_t Pid = 0;
};

std::vector<TLaunched>& Launched()
{
    static std::vector<TLaunched> launched;
    return launched;
}

std::string PositionArgument(TPoint p) { return "pos:" + std::to_string(p.X) + "," + std::to_string(p.Y); }

// This program, started again: /proc/self/exe still names it after its file was replaced.
pid_t StartSelf(const std::vector<std::string>& arguments, const TProgramStarter& start)
{
    std::vector<std::string> argv{ExecutablePath()};
    if (argv.front().empty())
        argv.front() = "nolvi2";
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return start("/proc/self/exe", argv);
}

bool Alive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

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

std::vector<std::string> PictureStartArguments(TPoint p, uint32_t tick, int64_t size)
{
    return {PositionArgument(p), "common:nolvi", std::to_string(tick), std::to_string(size)};
}

void LaunchForFile(TPoint p, const std::string& fileName, const TProgramStarter& start)
{
    StartSelf(FileStartArguments(p, fileName), start);
}

void LaunchWithPicture(const TWindowState& state, const TOZHistoryList& recent, const TBitmap& picture, TPoint p,
                       const TProgramStarter& start)
{
    TNewSharedBlock block = CreateSharedBlock(timeGetTime());
    pid_t pid = 0;
    try {
        WriteState(*block.Stream, state, recent, picture);
        const int64_t size = block.Stream->Size();
        block.Stream.reset();
        pid = StartSelf(PictureStartArguments(p, block.Tick, size), start);
    } catch (...) {
        RemoveSharedBlock(block.Name);
        throw;
    }
    Launched().push_back({block.Name, pid});
}

void ReleaseLaunchedBlocks(int maxWaitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxWaitMs);
    for (const TLaunched& l : Launched()) {
        while (SharedBlockExists(l.Name) && Alive(l.Pid) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RemoveSharedBlock(l.Name);
    }
    Launched().clear();
}

std::vector<std::string> LaunchedBlocks()
{
    std::vector<std::string> names;
    for (const TLaunched& l : Launched())
        names.push_back(l.Name);
    return names;
}

}  // namespace nolvi2
