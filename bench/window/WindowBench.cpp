// The window with a 6000 x 4000 picture in a 1280 x 800 client, on the offscreen platform:
// repaints at several zooms, a zoom step below 100 %, a tone command through the window
// against the operation alone, and opening a baseline JPEG up to its first paint against
// djpeg decoding the same file (run side by side when djpeg is installed).
//
//   bench_window [runs]
#include "../SyntheticPicture.h"
#include "app/OpenPicture.h"
#include "app/Unit1.h"
#include "image/OZBLibAdjust.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace nolvi2;

namespace {

double MedianMs(int runs, const std::function<void()>& f)
{
    std::vector<double> t;
    f();  // warm-up
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void Paint(TForm1& w)
{
    QImage target(w.size(), QImage::Format_RGB32);
    w.render(&target);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;

    const std::string jpeg = "/tmp/nolvi2-bench-window.jpg";
    SavePicture(jpeg, bench::SyntheticPicture(6000, 4000), TSaveFormat::Jpeg, {90, false});

    TForm1 w;
    w.Options().WindowResizeByZoom = false;
    w.resize(1280, 800);
    w.FormCreate({QString::fromStdString(jpeg)});
    w.resize(1280, 800);
    w.show();

    std::printf("6000 x 4000 picture, client %dx%d, median of %d runs\n", w.ClientSize().width(),
                w.ClientSize().height(), runs);
    for (const float z : {1.0f, 4.0f, 20.0f}) {
        w.SetZoom(z);
        w.HorizontalBar()->setValue(w.HorizontalBar()->maximum() / 2);
        std::printf("repaint at %5.0f %%          %8.2f ms\n", double(z) * 100, MedianMs(runs, [&] { Paint(w); }));
    }
    w.SetZoom(0.6f);
    bool flip = false;
    std::printf("zoom step below 100 %%      %8.2f ms\n", MedianMs(runs, [&] {
                    w.SetZoom((flip = !flip) ? 0.4f : 0.6f);
                    Paint(w);
                }));
    w.SetZoom(1.0f);
    const double viaWindow = MedianMs(runs, [&] { w.Execute("actInvert"); });
    TBitmap copy;
    copy.Assign(w.Picture());
    const double alone = MedianMs(runs, [&] { Invert(copy, true); });
    std::printf("invert through the window  %8.2f ms, operation alone %.2f ms, ratio %.2f\n", viaWindow, alone,
                viaWindow / alone);

    const double open = MedianMs(runs, [&] {
        w.OpenFile(jpeg);
        Paint(w);
    });
    std::printf("open JPEG to first paint   %8.2f ms", open);
    if (std::system("command -v djpeg >/dev/null 2>&1") == 0) {
        const std::string cmd = "djpeg -outfile /dev/null " + jpeg;
        const double djpeg = MedianMs(runs, [&] {
            if (std::system(cmd.c_str()) != 0)
                std::fprintf(stderr, "djpeg failed\n");
        });
        std::printf(", djpeg %.2f ms, ratio %.2f", djpeg, open / djpeg);
    }
    std::printf("\n");
    std::remove(jpeg.c_str());
    return 0;
}
