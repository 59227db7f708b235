#include "NewWindow.h"

#include "ZoomView.h"
#include "platform/SafeFile.h"
#include "platform/SharedMemory.h"
#include "platform/Tick.h"

#include <chrono>
#include <cmath>
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
