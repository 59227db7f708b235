// Starting new windows without starting any: where they open, their argument vectors, the
// program they start, and the hand-over block (given to the start alone, never left behind).
#include "app/NewWindow.h"

#include "HandedBlocks.h"
#include "Pictures.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

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

TEST(NewWindow, Position)
{
    const TRect area{0, 0, 1000, 800};
    const TRect frame{100, 50, 400, 300};
    EXPECT_EQ(NewWindowPos(frame, area, 600, 10), (TPoint{400, 50}));   // beside: 400 + 600 <= 1000
    EXPECT_EQ(NewWindowPos(frame, area, 601, 10), (TPoint{124, 74}));   // would pass the right edge
    EXPECT_EQ(NewWindowPos(frame, area, 0, 0), (TPoint{124, 74}));      // a file start
    EXPECT_EQ(NewWindowPos(frame, area, 10, 0), (TPoint{124, 74}));
    EXPECT_EQ(NewWindowPos({-50, -20, 10, 10}, area, 0, 0), (TPoint{-26, 4}));
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
