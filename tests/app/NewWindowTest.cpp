// Starting new windows without starting any: where they open, their argument vectors, and the
// shared blocks (private, exclusive, read once, never left behind).
#include "app/NewWindow.h"

#include "Pictures.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

struct StartRecorder {
    ~StartRecorder() { ReleaseLaunchedBlocks(0); }
    // Records each start instead of starting anything.
    TProgramStarter Start()
    {
        return [this](const std::string& program, const std::vector<std::string>& args) {
            if (fail)
                throw Exception("新しいウィンドウを開けませんでした。");
            starts.push_back({program, args});
            return pid_t(0);
        };
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> starts;
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

// The block's name and the command line carry the same decimal tick, also above 2^31.
TEST(NewWindow, ArgumentsAndTicks)
{
    EXPECT_EQ(FileStartArguments({-3, 40}, "/a \"b\".jpg"), (std::vector<std::string>{"pos:-3,40", "/a \"b\".jpg"}));
    EXPECT_EQ(PictureStartArguments({5, 6}, 3000000000u, 1234),
              (std::vector<std::string>{"pos:5,6", "common:nolvi", "3000000000", "1234"}));
    TNewSharedBlock block = CreateSharedBlock(0xFFFFFFFFu - 1);
    EXPECT_EQ(block.Name, "/nolvi2" + std::to_string(block.Tick));
    // Taken names move on to the next tick.
    TNewSharedBlock next = CreateSharedBlock(block.Tick);
    EXPECT_EQ(next.Tick, block.Tick + 1);
    struct stat st {};
    ASSERT_EQ(fstat(block.Stream->Handle(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    RemoveSharedBlock(block.Name);
    RemoveSharedBlock(next.Name);
}

TEST(NewWindow, LaunchHandsTheStateOverOnce)
{
    StartRecorder recorder;
    TWindowState state;
    state.Title = "階調の反転 photo.jpg";
    TOZHistoryList recent;
    recent.AddFile("/p/photo.jpg");
    const TBitmap picture = Picture();
    LaunchWithPicture(state, recent, picture, {10, 20}, recorder.Start());

    ASSERT_EQ(recorder.starts.size(), 1u);
    const auto& [program, args] = recorder.starts[0];
    EXPECT_EQ(program, "/proc/self/exe");
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[1], "pos:10,20");
    EXPECT_EQ(args[2], "common:nolvi");
    ASSERT_EQ(LaunchedBlocks(), std::vector<std::string>{"/nolvi2" + args[3]});

    // The receiver reads it and its name is gone at once.
    const auto stream = OpenSharedBlock(args[3], std::stoi(args[4]));
    EXPECT_FALSE(SharedBlockExists("/nolvi2" + args[3]));
    TWindowState got;
    TOZHistoryList list;
    TBitmap gotPicture;
    ReadState(*stream, got, list, gotPicture);
    EXPECT_EQ(got.Title, state.Title);
    EXPECT_EQ(list.DataItems(), recent.DataItems());
    EXPECT_TRUE(SamePixels(gotPicture, picture));
}

// A block nobody read is removed when the launching window ends; a start that fails removes
// its block at once.
TEST(NewWindow, NothingLeftBehind)
{
    StartRecorder recorder;
    const TBitmap picture = Picture();
    LaunchWithPicture({}, TOZHistoryList{}, picture, {0, 0}, recorder.Start());
    const std::vector<std::string> names = LaunchedBlocks();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(SharedBlockExists(names[0]));
    ReleaseLaunchedBlocks(1000);  // no live receiver: no waiting
    EXPECT_FALSE(SharedBlockExists(names[0]));
    EXPECT_TRUE(LaunchedBlocks().empty());

    const auto ours = [] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator("/dev/shm"))
            n += e.path().filename().string().starts_with("nolvi2") ? 1 : 0;
        return n;
    };
    const int before = ours();
    recorder.fail = true;
    EXPECT_THROW(LaunchWithPicture({}, TOZHistoryList{}, picture, {0, 0}, recorder.Start()), Exception);
    // An empty picture cannot be written: nothing is started and the block goes as well.
    recorder.fail = false;
    EXPECT_THROW(LaunchWithPicture({}, TOZHistoryList{}, TBitmap{}, {0, 0}, recorder.Start()), Exception);
    EXPECT_EQ(recorder.starts.size(), 1u);
    EXPECT_TRUE(LaunchedBlocks().empty());
    EXPECT_EQ(ours(), before);
}

// What the receiving side refuses: names that are no tick, missing blocks, sizes that do not
// match the block, and blocks of another user (only testable as root).
TEST(NewWindow, OpenRefusals)
{
    const auto code = [](std::string_view tick, int64_t size) {
        try {
            OpenSharedBlock(tick, size);
        } catch (const ESharedMemory& e) {
            EXPECT_EQ(std::string(e.what()), "共有メモリが開けませんでした(" + std::to_string(e.Code()) + ")");
            return e.Code();
        }
        return 0;
    };
    EXPECT_EQ(code("", 10), EINVAL);
    EXPECT_EQ(code("../etc", 10), EINVAL);
    EXPECT_EQ(code("12a", 10), EINVAL);
    EXPECT_EQ(code("99999999999", 10), EINVAL);
    EXPECT_EQ(code("4294967295", 10), ENOENT);

    for (const int64_t size : {int64_t(0), int64_t(-1), int64_t(99), int64_t(101)}) {
        TNewSharedBlock block = CreateSharedBlock(4000000000u);
        const std::vector<uint8_t> bytes(100, 7);
        block.Stream->WriteBuffer(bytes.data(), 100);
        EXPECT_EQ(code(std::to_string(block.Tick), size), EINVAL) << size;
        EXPECT_FALSE(SharedBlockExists(block.Name)) << "read once, even when refused";
    }
}
