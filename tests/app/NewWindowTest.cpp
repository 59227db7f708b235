// Starting new windows without starting any: where they open, their argument vectors, and the
// shared blocks (private, exclusive, read once, never left behind).
#include "app/NewWindow.h"
#include "app/ZoomView.h"

#include "Pictures.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <cmath>
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
