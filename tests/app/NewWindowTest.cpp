// Starting new windows without starting any: where they open, their argument vectors, the
// program they start, and the hand-over block (given to the start alone, never left behind).
#include "app/NewWindow.h"
#include "app/ZoomView.h"

#include "HandedBlocks.h"
#include "Pictures.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace nolvi2;
using nolvi2::test::HandedBlocks;
using nolvi2::test::SamePixels;

namespace {

std::set<std::string> SharedMemoryNames()
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("/dev/shm"))
        names.insert(e.path().filename().string());
    return names;
}

struct StartRecorder {
    struct Start {
        std::string program;
        std::vector<std::string> args;
        int handOver = -1;
        std::unique_ptr<TSharedBlock> copy;  // what the child would inherit
    };
    // Records each start instead of starting anything.
    TProgramStarter Starter()
    {
        return [this](const std::string& program, const std::vector<std::string>& args, int handOver) {
            if (fail)
                throw Exception("新しいウィンドウを開けませんでした。");
            Start s{program, args, handOver, nullptr};
            if (handOver >= 0)
                s.copy = std::make_unique<TSharedBlock>(::fcntl(handOver, F_DUPFD_CLOEXEC, 3));
            namesAtStart = SharedMemoryNames();
            starts.push_back(std::move(s));
            return pid_t(0);
        };
    }
    std::vector<Start> starts;
    std::set<std::string> namesAtStart;
    bool fail = false;
};

TBitmap Picture()
{
    TBitmap b(7, 3, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < 3; ++y)
        for (std::size_t i = 0; i < b.RowBytes(); ++i)
            b.ScanLine(y)[i] = uint8_t(i + std::size_t(y) * 50);
    return b;
}

}  // namespace

// A result opens beside its window when it fits there, else 24 pixels right of and below;
// either way it moves onto the work area whole instead of shrinking. A file start (no size)
// takes the offset as it is.
TEST(NewWindow, Position)
{
    const TRect area{0, 0, 1000, 800};
    const TLaunchingWindow window{{100, 50, 400, 300}, {108, 81, 392, 292}, 1.0};
    struct Case {
        int32_t w, h;
        TPoint expected;
    };
    const Case cases[] = {
        {600, 10, {400, 50}},     // beside: 400 + 600 <= 1000
        {601, 10, {124, 74}},     // would pass the right edge
        {0, 0, {124, 74}},        // a file start
        {10, 0, {124, 74}},
        {600, 790, {400, 10}},    // beside, up so that its bottom is on the work area
        {900, 760, {100, 40}},    // offset, left and up so that it keeps its size
        {1200, 900, {0, 0}},      // larger than the work area: at its top-left
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h);
        EXPECT_EQ(NewWindowPos(window, area, c.w, c.h), c.expected);
    }
    EXPECT_EQ(NewWindowPos({{-50, -20, 10, 10}, {-50, -20, 10, 10}, 1.0}, area, 0, 0), (TPoint{-26, 4}));

    // Generation after generation from the work area's corner, each result of its window's
    // size: each opens in its window's place and keeps its size.
    TLaunchingWindow corner{{700, 500, 1000, 800}, {708, 531, 992, 792}, 1.0};
    for (int generation = 0; generation < 3; ++generation) {
        const TPoint p = NewWindowPos(corner, area, 300, 300);
        EXPECT_EQ(p, (TPoint{700, 500}));
        corner.Frame = {p.X, p.Y, p.X + 300, p.Y + 300};
    }
}

// The toolkit reports a window's client position and frame margins rounded to whole logical
// pixels. Modelled here from the window manager's device pixels (the client's left edge and
// width, the frame's right margin), the window beside it starts on or inside the frame's right
// edge (no gap), inside it by less than two logical pixels and a device pixel.
TEST(NewWindow, BesideTouchesTheFrameAtAnyRatio)
{
    const auto qtRound = [](double v) { return int32_t(std::floor(v + 0.5)); };  // positive values
    for (const double ratio : {1.0, 1.25, 1.5, 2.0, 3.0}) {
        int gaps = 0, overlaps = 0;
        for (int32_t clientLeft = 180; clientLeft < 190; ++clientLeft)
            for (int32_t width = 100; width < 104; ++width)
                for (int32_t margin = 0; margin < 8; ++margin) {
                    const int32_t left = qtRound(clientLeft / ratio);
                    const int32_t right = left + width, marginShown = qtRound(margin / ratio);
                    const TLaunchingWindow window{{left - marginShown, 0, right + marginShown, 100},
                                                  {left, 20, right, 90}, ratio};
                    const int32_t frameRight = clientLeft + DeviceExtent(width, ratio) + margin;  // device
                    const int32_t start = qtRound(BesideEdge(window) * ratio);                  // device
                    gaps += start > frameRight;
                    overlaps += frameRight - start >= 2 * ratio + 1;
                }
        EXPECT_EQ(gaps, 0) << "at " << ratio;
        EXPECT_EQ(overlaps, 0) << "at " << ratio;
    }
}

TEST(NewWindow, Arguments)
{
    EXPECT_EQ(FileStartArguments({-3, 40}, "/a \"b\".jpg"), (std::vector<std::string>{"pos:-3,40", "/a \"b\".jpg"}));
    EXPECT_EQ(PictureStartArguments({5, 6}, 7, 1234),
              (std::vector<std::string>{"pos:5,6", "common:nolvi", "7", "1234"}));
}

// Both starts run the program's file under its real path (so the new process is named after
// it), never /proc/self/exe; the picture start hands its block over under the number that the
// command line names, and this process keeps no copy.
TEST(NewWindow, LaunchHandsTheStateOverOnce)
{
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    EXPECT_EQ(ProgramPath(), self);
    StartRecorder recorder;
    LaunchForFile({1, 2}, "a.jpg", recorder.Starter());
    TWindowState state;
    state.Title = "階調の反転 photo.jpg";
    TOZHistoryList recent;
    recent.AddFile("/p/photo.jpg");
    const TBitmap picture = Picture();
    LaunchWithPicture(state, recent, picture, {10, 20}, recorder.Starter());

    ASSERT_EQ(recorder.starts.size(), 2u);
    for (const auto& s : recorder.starts) {
        EXPECT_EQ(s.program, self);
        EXPECT_EQ(s.args.at(0), self);
    }
    EXPECT_EQ(recorder.starts[0].args, (std::vector<std::string>{self, "pos:1,2", "a.jpg"}));
    EXPECT_EQ(recorder.starts[0].handOver, -1);
    auto& s = recorder.starts[1];
    ASSERT_EQ(s.args.size(), 5u);
    EXPECT_EQ(s.args[1], "pos:10,20");
    EXPECT_EQ(s.args[2], "common:nolvi");
    EXPECT_EQ(s.args[3], std::to_string(s.handOver));
    EXPECT_EQ(HandedBlocks(), std::vector<int>{s.copy->Handle()}) << "the launcher's copy is closed";

    const auto block = OpenSharedBlock(std::to_string(s.copy->Release()), std::stoi(s.args[4]));
    TWindowState got;
    TOZHistoryList list;
    TBitmap gotPicture;
    ReadState(*block, got, list, gotPicture);
    EXPECT_EQ(got.Title, state.Title);
    EXPECT_EQ(list.DataItems(), recent.DataItems());
    EXPECT_TRUE(SamePixels(gotPicture, picture));
}

// The block has no name at any moment, so nobody can plant, block or read one and a launcher
// killed at any moment leaves nothing; a start or a write that fails leaves no descriptor.
TEST(NewWindow, NothingLeftBehind)
{
    const std::set<std::string> before = SharedMemoryNames();
    StartRecorder recorder;
    const TBitmap picture = Picture();
    LaunchWithPicture({}, TOZHistoryList{}, picture, {0, 0}, recorder.Starter());
    EXPECT_EQ(recorder.namesAtStart, before);
    recorder.starts.clear();
    EXPECT_TRUE(HandedBlocks().empty());

    recorder.fail = true;
    EXPECT_THROW(LaunchWithPicture({}, TOZHistoryList{}, picture, {0, 0}, recorder.Starter()), Exception);
    // An empty picture cannot be written: nothing is started.
    recorder.fail = false;
    EXPECT_THROW(LaunchWithPicture({}, TOZHistoryList{}, TBitmap{}, {0, 0}, recorder.Starter()), Exception);
    EXPECT_TRUE(recorder.starts.empty());
    EXPECT_TRUE(HandedBlocks().empty());
    EXPECT_EQ(SharedMemoryNames(), before);
}

// A block the system refuses to hold is reported with the system's code, and nothing starts.
TEST(NewWindow, ABlockThatCannotBeWritten)
{
    StartRecorder recorder;
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        LaunchWithPicture({}, TOZHistoryList{}, Picture(), {0, 0}, recorder.Starter());
    } catch (const Exception& e) {
        message = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(message, "共有メモリが開けませんでした(" + std::to_string(EFBIG) + ")");
    EXPECT_TRUE(recorder.starts.empty());
    EXPECT_TRUE(HandedBlocks().empty());
}
