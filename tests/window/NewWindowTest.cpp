// Results in new windows and windows started with a picture: where results go (Shift, filters),
// what the new window receives and shows, several files on the command line, broken blocks,
// and a real second process.
#include "WindowFixture.h"

#include "ExifJpeg.h"
#include "HandedBlocks.h"

#include "app/NewWindow.h"
#include "app/StateBlock.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

namespace nolvi2::test {

namespace {

using TArgs = std::vector<std::string>;

class NewWindows : public Window {
protected:
    void SetUp() override
    {
        Window::SetUp();
        services->start = ([this](const std::string&, const TArgs& args, int handOver) {
            // The block the child would inherit, kept open to be read.
            if (handOver >= 0) {
                EXPECT_EQ(args.at(3), std::to_string(handOver));
                handed[starts.size()] = std::make_unique<TSharedBlock>(fcntl(handOver, F_DUPFD_CLOEXEC, 3));
            }
            starts.push_back(TArgs(args.begin() + 1, args.end()));
            return pid_t(0);
        });
    }
    void TearDown() override
    {
        services->start = nullptr;
        handed.clear();
        Window::TearDown();
    }

    // A window with results going to new windows.
    std::unique_ptr<TForm1> ResultWindow(const std::vector<std::string>& params)
    {
        auto w = MakeWindow(params);
        w->Options().OpenResultInNewWindow = true;
        return w;
    }

    // What the start i handed over.
    struct Received {
        TWindowState state;
        TOZHistoryList recent;
        TBitmap picture;
    };
    std::unique_ptr<Received> Receive(std::size_t i)
    {
        const TArgs& a = starts.at(i);
        EXPECT_EQ(a.at(1), "common:nolvi");
        auto r = std::make_unique<Received>();
        const auto block = OpenSharedBlock(std::to_string(handed.at(i)->Release()), std::stoi(a.at(3)));
        ReadState(*block, r->state, r->recent, r->picture);
        return r;
    }

    // The parameters of start i as its child gets them: the block's descriptor is the copy
    // kept here, which the child takes over.
    TArgs ChildArguments(std::size_t i)
    {
        TArgs a = starts.at(i);
        a.at(2) = std::to_string(handed.at(i)->Release());
        return a;
    }

    // A block as a launching window writes it (changed by damage before it is sealed), and the
    // parameters that start a window with it, which takes the descriptor over.
    TArgs Block(const TWindowState& state, const TBitmap& picture, const std::function<void(int fd)>& damage = {})
    {
        TOZHistoryList recent;
        recent.AddFile("/p/recent.png");
        const auto block = CreateSharedBlock();
        WriteState(*block, state, recent, picture);
        if (damage)
            damage(block->Handle());
        block->Seal();
        const int64_t size = block->Size();
        return PictureStartArguments({60, 70}, block->Release(), size);
    }

    static void WriteConfigValue(const char* section, const char* key, int32_t value)
    {
        TOZIniFile2 store;
        store.OpenSection(section, true);
        store.WriteInteger(key, value);
        store.UpdateFile();
    }

    std::vector<TArgs> starts;
    std::map<std::size_t, std::unique_ptr<TSharedBlock>> handed;
};

TBitmap Gradient(int32_t w, int32_t h)
{
    TBitmap b(w, h, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < b.RowBytes(); ++i)
            b.ScanLine(y)[i] = uint8_t(i * 5 + std::size_t(y) * 9);
    return b;
}

void HoldShift(TForm1& w, bool down)
{
    if (down)
        QTest::keyPress(w.windowHandle(), Qt::Key_Shift, Qt::ShiftModifier);
    else
        QTest::keyRelease(w.windowHandle(), Qt::Key_Shift, Qt::NoModifier);
}

}  // namespace

// The option, Shift inverting it, and filters that ignore Shift: a result for a new window
// leaves this window's picture as it was and travels with its title and the selection.
TEST_F(NewWindows, WhereResultsGo)
{
    const std::string file = MakePicture("photo.bmp", 40, 30);
    struct Case {
        bool option, shift;
        const char* action;
        bool toNew;
    };
    const Case cases[] = {
        {true, false, "actInvert", true},           {true, true, "actInvert", false},
        {false, false, "actInvert", false},         {false, true, "actInvert", true},
        {true, true, "actFilterLowpass", true},     {false, true, "actFilterLowpass", false},
        {true, false, "actRotate90", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.action) + (c.option ? " option on" : " option off") + (c.shift ? " with Shift" : ""));
        auto w = ResultWindow({file});
        w->Options().OpenResultInNewWindow = c.option;
        TBitmap before;
        before.Assign(w->Picture());
        starts.clear();
        HoldShift(*w, c.shift);
        w->Execute(c.action);
        HoldShift(*w, false);
        EXPECT_EQ(starts.size(), c.toNew ? 1u : 0u);
        EXPECT_EQ(SamePixels(w->Picture(), before), c.toNew);
        EXPECT_EQ(w->windowTitle(), c.toNew ? QStringLiteral("photo.bmp [40x30x24] @ 100%") : w->windowTitle());
    }
    EXPECT_TRUE(messages.empty());
}

// Shift counts as the command starts: held when R starts the resize, it inverts the
// destination, whatever is held when the dialog's OK is pressed.
TEST_F(NewWindows, ShiftIsReadWhenTheCommandStarts)
{
    const std::string file = MakePicture("photo.bmp", 40, 30);
    struct Case {
        bool option, shiftAtStart, shiftAtOk, toNew;
    };
    const Case cases[] = {
        {false, true, false, true},
        {false, false, true, false},
        {true, true, false, false},
        {true, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "option " << c.option << ", Shift at the start " << c.shiftAtStart
                                          << ", at OK " << c.shiftAtOk);
        auto w = ResultWindow({file});
        w->Options().OpenResultInNewWindow = c.option;
        starts.clear();
        services->resize = [&](int32_t& width, int32_t& height, uint8_t&) {
            HoldShift(*w, c.shiftAtOk);
            width = 20;
            height = 15;
            return true;
        };
        HoldShift(*w, c.shiftAtStart);
        QTest::keyClick(w.get(), Qt::Key_R, c.shiftAtStart ? Qt::ShiftModifier : Qt::NoModifier);
        HoldShift(*w, false);
        EXPECT_EQ(starts.size(), c.toNew ? 1u : 0u);
        EXPECT_EQ(w->Picture().Width(), c.toNew ? 40 : 20);
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(NewWindows, WhatAResultCarries)
{
    const std::string file = MakePicture("photo.bmp", 40, 30);
    auto w = ResultWindow({file});
    w->Options().ApplyColorProfile = false;
    w->Options().AutoRotate = false;
    w->SelectTool().SetRect({4, 5, 20, 25});
    w->Execute("actSelectUnit16");
    w->SetJpegParams(35, false);
    w->Execute("actInvert");
    w->Execute("actCrop");
    w->SelectTool().Deselect();
    w->Execute("actNewWindow");
    ASSERT_EQ(starts.size(), 3u);

    // Inverting the selection: the whole picture, only the selection inverted, the selection kept.
    const auto inverted = Receive(0);
    EXPECT_EQ(inverted->state.Title, "階調の反転 photo.bmp");
    EXPECT_FALSE(inverted->state.IsFile);
    EXPECT_EQ(inverted->state.Selection, (TRect{4, 5, 20, 25}));
    EXPECT_EQ(inverted->state.MinimumUnit, 16);
    EXPECT_EQ(inverted->state.JpegQuality, 35);
    EXPECT_FALSE(inverted->state.JpegProgressive);
    EXPECT_EQ(inverted->state.StopwatchName, "階調の反転");
    EXPECT_FALSE(inverted->state.Options.ApplyColorProfile);
    EXPECT_FALSE(inverted->state.Options.AutoRotate);
    EXPECT_EQ(inverted->recent.DataItems(), std::vector<std::string>{file});
    ASSERT_EQ(inverted->picture.Width(), 40);
    EXPECT_EQ(inverted->picture.ScanLine(0)[0], w->Picture().ScanLine(0)[0]);
    EXPECT_EQ(inverted->picture.ScanLine(5)[12], uint8_t(255 - w->Picture().ScanLine(5)[12]));

    // A crop has no selection in its window.
    const auto cropped = Receive(1);
    EXPECT_EQ(cropped->state.Title, "切り抜き");
    EXPECT_EQ(cropped->state.Selection, (TRect{-1, -1, -1, -1}));
    EXPECT_EQ(cropped->picture.Width(), 16);

    // The picture as it is now, under its file's name, which its window can reopen.
    const auto copy = Receive(2);
    EXPECT_TRUE(copy->state.IsFile);
    EXPECT_EQ(copy->state.Title, file);
    EXPECT_TRUE(SamePixels(copy->picture, w->Picture()));
    EXPECT_TRUE(messages.empty());
}

// A new window that cannot be started is reported, and this window goes on unchanged.
TEST_F(NewWindows, AStartThatFailsIsReported)
{
    services->start = ([](const std::string&, const TArgs&, int) -> pid_t {
        throw Exception("新しいウィンドウを開けませんでした。\r/usr/bin/nolvi2\r(Resource temporarily unavailable)");
    });
    const std::string file = MakePicture("photo.bmp", 40, 30);
    auto w = ResultWindow({file});
    TBitmap before;
    before.Assign(w->Picture());
    w->Execute("actInvert");
    w->Execute("actNewWindow");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("新しいウィンドウを開けませんでした。")));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("photo.bmp [40x30x24] @ 100%"));
    EXPECT_TRUE(SamePixels(w->Picture(), before));
    EXPECT_TRUE(HandedBlocks().empty());
}

// A window started with a picture: the state applied, the selection clamped (15, 0, 30, 10) to
// (15, 0, 20, 10), the stopwatch reported once on activation, the block gone.
TEST_F(NewWindows, AWindowStartedWithAPicture)
{
    TWindowState s;
    s.Options = {false, true, 0, 12, 6, true};
    s.MinimumUnit = 24;
    s.HandInverted = true;
    s.JpegQuality = 40;
    s.JpegProgressive = false;
    s.Selection = {15, 0, 30, 10};
    s.Title = "階調の反転 photo.jpg";
    s.StopwatchName = "階調の反転";
    s.StopwatchElapsed = 15;
    const TArgs params = Block(s, Gradient(20, 10));

    TForm1 w(services);
    w.FormCreate(params);
    EXPECT_TRUE(HandedBlocks().empty()) << "read once and closed";
    EXPECT_EQ(w.pos(), QPoint(60, 70));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("階調の反転 photo.jpg [20x10x24] @ 100%"));
    EXPECT_TRUE(SamePixels(w.Picture(), Gradient(20, 10)));
    EXPECT_EQ(w.SelectTool().Selection(), (TRect{15, 0, 20, 10}));
    EXPECT_EQ(w.SelectTool().MinimumUnit(), 24);
    EXPECT_TRUE(w.Action("actSelectUnit24")->isChecked());
    EXPECT_TRUE(w.HandTool().Invert());
    EXPECT_EQ(w.Options().GrassWidth, 12);
    EXPECT_EQ(w.JpegQuality(), 40);
    EXPECT_FALSE(w.IsFile());
    EXPECT_EQ(w.RecentMenu().DataItems(), std::vector<std::string>{"/p/recent.png"});
    // A result cannot reopen, step or start a new window.
    for (const char* a : {"actReopen", "actNextFile", "actPrevFile", "actNewWindow"})
        EXPECT_FALSE(w.Action(a)->isEnabled()) << a;

    w.show();
    QApplication::setActiveWindow(&w);
    QEvent activation(QEvent::ActivationChange);
    QApplication::sendEvent(&w, &activation);
    QApplication::sendEvent(&w, &activation);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("階調の反転: 15ミリ秒かかりました。"));

    // 0 ms is never reported.
    messages.clear();
    s.StopwatchElapsed = 0;
    TForm1 w2(services);
    w2.FormCreate(Block(s, Gradient(4, 4)));
    w2.show();
    QApplication::setActiveWindow(&w2);
    QApplication::sendEvent(&w2, &activation);
    EXPECT_TRUE(messages.empty());
}

// A window started with the picture of a file shows the picture it was given, as it was read
// (and changed) in the launching window, without reading the file; its reading options are
// the launching window's, for its next reading.
TEST_F(NewWindows, AFileWindowStartedWithAPictureDoesNotReadTheFile)
{
    const OrientedJpeg jpeg = MakeOrientedJpeg(dir.string());
    TWindowState s;
    s.Options.ApplyColorProfile = false;
    s.Options.AutoRotate = true;
    s.IsFile = true;
    s.Title = jpeg.file;
    TForm1 w(services);
    w.FormCreate(Block(s, Gradient(20, 10)));
    EXPECT_TRUE(SamePixels(w.Picture(), Gradient(20, 10)));
    EXPECT_TRUE(w.IsFile());
    EXPECT_FALSE(w.Options().ApplyColorProfile);
    EXPECT_TRUE(w.Options().AutoRotate);

    w.Execute("actReopen");
    EXPECT_TRUE(messages.empty());
    const RgbPicture expected = ExpectedReading(jpeg, {false, true}, (dir / "expected.ppm").string());
    const int diff = MaxDifference(w.Picture(), expected);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, kReadingTolerance);
}

// Blocks that are missing, of another size than said, or broken leave an empty window with
// the user's settings and one message; parameters missing after the word do too. Every block
// handed over is closed, read or not.
TEST_F(NewWindows, BrokenStartsLeaveAnEmptyWindow)
{
    WriteConfigValue("Config", "GrassWidth", 21);
    TArgs wrongSize = Block(TWindowState{}, Gradient(4, 4));
    wrongSize[3] = std::to_string(std::stoi(wrongSize[3]) + 1);
    const TArgs broken = Block(TWindowState{}, Gradient(4, 4), [](int fd) {
        // The BMP's signature damaged.
        const off_t at = 25 + (4 + 2 * (4 + 13) + 8) + 2 + 16 + 1 + 4;
        ASSERT_EQ(pwrite(fd, "XX", 2, at), 2);
    });
    const std::pair<TArgs, QString> cases[] = {
        {wrongSize, QStringLiteral("共有メモリが開けませんでした(22)")},
        {{"common:nolvi", "999999", "10"}, QStringLiteral("共有メモリが開けませんでした(9)")},  // no descriptor
        {{"common:nolvi", "0", "10"}, QStringLiteral("共有メモリが開けませんでした(9)")},       // standard input
        {broken, QString()},
        {{"common:nolvi", "1"}, QStringLiteral("リストのインデックスが範囲を超えています (2)")},
        {{"common:nolvi", "1", "x"}, QStringLiteral("'x' は有効な整数値ではありません")},
    };
    for (const auto& [params, text] : cases) {
        SCOPED_TRACE(testing::PrintToString(params));
        messages.clear();
        TForm1 w(services);
        w.FormCreate(params);
        EXPECT_TRUE(w.Picture().Empty());
        EXPECT_EQ(w.windowTitle(), QStringLiteral("nolvi2"));
        EXPECT_EQ(w.Options().GrassWidth, 21);
        ASSERT_EQ(messages.size(), 1u);
        if (!text.isEmpty()) {
            EXPECT_EQ(messages[0].text, text);
        }
    }
    EXPECT_TRUE(HandedBlocks().empty());
}

// Three files: the first opens here, each further one in a window of its own at this
// window's position plus (24, 24), whatever position the store holds.
TEST_F(NewWindows, SeveralFilesOnTheCommandLine)
{
    const std::string a = MakePicture("a.bmp", 8, 8), b = MakePicture("b b.bmp", 8, 8), c = MakePicture("c\".bmp", 8, 8);
    WriteConfigValue("Config", "WindowX", 500);
    WriteConfigValue("Config", "WindowY", 400);
    auto w = MakeWindow({"pos:100,80", a, b, c});
    EXPECT_EQ(w->FileName(), a);
    EXPECT_EQ(starts, (std::vector<TArgs>{{"pos:124,104", b}, {"pos:124,104", c}}));

    // The window started for b takes that position over the stored one.
    TForm1 second(services);
    second.FormCreate(starts[0]);
    EXPECT_EQ(second.pos(), QPoint(124, 104));
    EXPECT_EQ(second.FileName(), b);
}

// Positions near or beyond the screen's edges, stored or given, leave each window (and the
// windows started for further files) on the work area with at least the smallest client (its
// picture area with any scroll bars); a tiny picture's window is no smaller.
TEST_F(NewWindows, WindowsStayUsableAtTheScreensEdges)
{
    const std::string tiny = MakePicture("tiny.bmp", 1, 1), big = MakePicture("big.bmp", 300, 200);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const std::string corner = std::to_string(area.right() - 5) + "," + std::to_string(area.bottom() - 1);
    const auto usable = [&](TForm1& w) {
        w.show();
        QCoreApplication::processEvents();
        const QRect f = w.frameGeometry();
        EXPECT_TRUE(area.contains(f)) << f.x() << "," << f.y() << " " << f.width() << "x" << f.height();
        EXPECT_GE(w.width(), kMinClientWidth);
        EXPECT_GE(w.height(), kMinClientHeight);
    };
    struct Case {
        QPoint stored;
        TArgs params;
    };
    const Case cases[] = {
        {{area.right() - 5, area.bottom() - 1}, {big}},
        {{100, 100}, {"pos:" + corner, big}},
        {{100, 100}, {"pos:5000,5000", big, tiny}},
        {{-4000, 100}, {tiny}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.params));
        WriteConfigValue("Config", "WindowX", c.stored.x());
        WriteConfigValue("Config", "WindowY", c.stored.y());
        starts.clear();
        TForm1 w(services);
        w.FormCreate(c.params);
        usable(w);
        for (const TArgs& start : starts) {
            TForm1 next(services);
            next.FormCreate(start);
            usable(next);
        }
    }
    EXPECT_TRUE(messages.empty());
}

// Results opened from a window in the work area's corner keep their picture's size,
// generation after generation: each opens where it fits whole.
TEST_F(NewWindows, ResultsFromTheCornerKeepTheirSize)
{
    const std::string file = MakePicture("photo.bmp", 200, 150);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    auto w = std::make_unique<TForm1>(services);
    w->FormCreate({"pos:" + std::to_string(area.right() - 300) + "," + std::to_string(area.bottom() - 250), file});
    w->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(w->ClientSize(), QSize(200, 150));
    for (int generation = 1; generation <= 3; ++generation) {
        SCOPED_TRACE(generation);
        w->Options().OpenResultInNewWindow = true;
        starts.clear();
        w->Execute("actInvert");
        ASSERT_EQ(starts.size(), 1u);
        auto next = std::make_unique<TForm1>(services);
        next->FormCreate(ChildArguments(0));
        next->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(next->ClientSize(), QSize(200, 150));
        EXPECT_TRUE(area.contains(next->frameGeometry()));
        w = std::move(next);
    }
    EXPECT_TRUE(messages.empty());
}

// A real second process: the program started with a block inherits and reads it and shows
// the picture; the launcher keeps no copy.
TEST_F(NewWindows, ASecondProcessReceivesThePicture)
{
    const std::string report = (dir / "report.txt").string();
    pid_t child = 0;
    services->start = ([&](const std::string&, const TArgs& args, int handOver) {
        TArgs probe{NOLVI2_RECEIVE_PROBE, report};
        probe.insert(probe.end(), args.begin() + 1, args.end());
        child = StartProgram(NOLVI2_RECEIVE_PROBE, probe, handOver);
        return child;
    });
    const std::string file = MakePicture("photo.bmp", 20, 10);
    auto w = ResultWindow({file});
    w->Execute("actInvert");
    ASSERT_TRUE(messages.empty()) << messages[0].text.toStdString();
    EXPECT_TRUE(HandedBlocks().empty());
    // The probe writes its report and ends; the launcher's reaper collects it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (kill(child, 0) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(report);
    std::string title, size, messagesSeen;
    std::getline(in, title);
    std::getline(in, size);
    std::getline(in, messagesSeen);
    EXPECT_EQ(title, "階調の反転 photo.bmp [20x10x24] @ 100%");
    EXPECT_EQ(size, "20 10 inverted");
    EXPECT_EQ(messagesSeen, "0");
}

}  // namespace nolvi2::test
