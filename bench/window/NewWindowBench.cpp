// A result in a new window against the same command in place: Invert on a 6000 x 4000
// picture, from the command to the new window's first paint, split into the copy and the
// operation, writing the block, starting the process (up to its main), the start-up of the
// toolkit and the window, reading the block with laying out the window (FormCreate, which
// also searches the plug-ins), and the first paint. The in-place command is timed to its
// repaint. The new window is this program again, started as the window starts a new one,
// and reports its times (CLOCK_MONOTONIC, shared by both processes) in a file.
//
//   bench_new_window [runs]
#include "../SyntheticPicture.h"
#include "BenchSettings.h"
#include "app/NewWindow.h"
#include "app/Unit1.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"
#include "settings/OZIniFile2.h"

#include <QApplication>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace nolvi2;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point t) { return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The new window: records when it has painted the first time, then ends.
class TChildWindow : public TForm1 {
public:
    double Painted = 0;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        TForm1::paintEvent(e);
        if (Painted == 0) {
            Painted = Ms(Clock::now());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    }
};

int Child(int argc, char** argv, double mainEntered)
{
    QApplication app(argc, argv);
    const double appMade = Ms(Clock::now());
    // The launcher's settings (the report lies in its folder), as the program's windows share
    // theirs: this window saves into them when it ends.
    TOZIniFile2::SetExecutableName(std::filesystem::path(argv[2]).parent_path() / "nolvi2");
    TChildWindow w;
    const double windowMade = Ms(Clock::now());
    w.FormCreate(std::vector<std::string>(argv + 3, argv + argc));
    const double created = Ms(Clock::now());
    w.show();
    app.exec();
    std::ofstream out(argv[2]);
    out.precision(17);
    out << mainEntered << ' ' << appMade << ' ' << windowMade << ' ' << created << ' ' << w.Painted
                           << ' ' << w.Picture().Width() << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const double mainEntered = Ms(Clock::now());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 2 && std::string(argv[1]) == "--child")
        return Child(argc, argv, mainEntered);

    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;

    const std::string config = bench::PrivateWindowSettings();
    if (config.empty())
        return 1;
    const std::string report = std::string(config) + "/report";
    const std::string self = "/proc/self/exe";
    // New windows start as this benchmark's child, which reports its times.
    struct TTimedStart : TWindowServices {
        std::string Self, Report;
        double Spawned = 0;
        pid_t StartProgram(const std::string&, const std::vector<std::string>& args, int handOver) override
        {
            std::vector<std::string> child{args[0], "--child", Report};
            child.insert(child.end(), args.begin() + 1, args.end());
            Spawned = Ms(Clock::now());
            const pid_t pid = nolvi2::StartProgram(Self, child, handOver);
            return pid;
        }
    };
    const auto starter = std::make_shared<TTimedStart>();
    starter->Self = self;
    starter->Report = report;
    const double& spawned = starter->Spawned;

    TForm1 w(starter);
    w.resize(1280, 800);
    w.FormCreate({});
    w.show();
    const auto paint = [&] {
        QImage target(w.size(), QImage::Format_RGB32);
        w.render(&target);
    };

    std::vector<double> inPlace, total, operation, write, start, toolkit, read, firstPaint;
    for (int run = 0; run <= runs; ++run) {
        bench::LargePicture();  // made before the clock starts
        TBitmap picture;
        picture.Assign(bench::LargePicture());
        // The window's picture, as an opened file would give it.
        {
            const auto block = CreateSharedBlock();
            TWindowState s;
            TOZHistoryList none;
            WriteState(*block, s, none, picture);
            block->Seal();
            const int64_t size = block->Size();
            // The window takes the descriptor over.
            w.ReceiveFromSharedMemory(std::to_string(block->Release()), int32_t(size));
        }
        w.resize(1280, 800);
        paint();

        // In place.
        w.Options().OpenResultInNewWindow = false;
        auto t0 = Clock::now();
        w.Execute("actInvert");
        paint();
        const double ip = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();

        // Writing the block alone, for the split.
        const auto w0 = Clock::now();
        {
            const auto block = CreateSharedBlock();
            TOZHistoryList none;
            WriteState(*block, TWindowState{}, none, w.Picture());
        }
        const double wr = std::chrono::duration<double, std::milli>(Clock::now() - w0).count();

        // In a new window.
        ::unlink(report.c_str());
        w.Options().OpenResultInNewWindow = true;
        const double c0 = Ms(Clock::now());
        w.Execute("actInvert");
        double t[6] = {};
        for (;;) {
            std::ifstream in(report);
            if (in >> t[0] >> t[1] >> t[2] >> t[3] >> t[4] >> t[5])
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (t[5] != 6000)
            std::fprintf(stderr, "the new window did not receive the picture\n");
        if (run == 0)
            continue;  // warm-up
        inPlace.push_back(ip);
        total.push_back(t[4] - c0);
        write.push_back(wr);
        operation.push_back(spawned - c0 - wr);
        start.push_back(t[0] - spawned);
        toolkit.push_back(t[2] - t[0]);
        read.push_back(t[3] - t[2]);
        firstPaint.push_back(t[4] - t[3]);
    }
    std::printf("Invert on a 6000 x 4000 picture, median of %d runs (ms)\n", runs);
    std::printf("  in place, to the repaint              %8.1f\n", Median(inPlace));
    std::printf("  new window, to its first paint        %8.1f  (in place + %.1f)\n", Median(total),
                Median(total) - Median(inPlace));
    std::printf("    copy and operation                  %8.1f\n", Median(operation));
    std::printf("    write the block                     %8.1f\n", Median(write));
    std::printf("    start the process (to main)         %8.1f\n", Median(start));
    std::printf("    toolkit and window                  %8.1f\n", Median(toolkit));
    std::printf("    plug-ins, read block, lay out       %8.1f\n", Median(read));
    std::printf("    first paint                         %8.1f\n", Median(firstPaint));
    std::filesystem::remove_all(config);
    return 0;
}
