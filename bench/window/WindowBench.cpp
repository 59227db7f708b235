// The window with a 6000 x 4000 picture in a 1280 x 800 client, on the offscreen platform:
// repaints at several zooms, a zoom step below 100 %, a tone command through the window
// against the operation alone, and opening a baseline JPEG up to its first paint against
// djpeg decoding the same file (run side by side when djpeg is installed); a selection drag
// (each mouse move with its repaint, and the release that rebuilds the shading); and the JPEG
// preview rebuilt at quality 80 against cjpeg plus djpeg (PPM in and out) with the same
// progressive setting.
//
//   bench_window [runs]
#include "../SyntheticPicture.h"
#include "BenchSettings.h"
#include "app/OpenPicture.h"
#include "app/Unit1.h"
#include "settings/OZIniFile2.h"
#include "image/OZBLibAdjust.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

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

void Mouse(TForm1& w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(p), w.mapToGlobal(QPointF(p)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

// The picture as a binary PPM, the input cjpeg reads fastest.
void SavePpm(const std::string& name, const TBitmap& b)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return;
    std::fprintf(f, "P6\n%d %d\n255\n", b.Width(), b.Height());
    std::vector<uint8_t> row(std::size_t(b.Width()) * 3);
    for (int32_t y = 0; y < b.Height(); ++y) {
        const uint8_t* s = b.ScanLine(y);
        for (std::size_t i = 0; i < row.size(); i += 3) {
            row[i] = s[i + 2];
            row[i + 1] = s[i + 1];
            row[i + 2] = s[i];
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    std::fclose(f);
}

// The median time of a command line, or a negative value when it fails.
double CommandMs(int runs, const std::string& cmd)
{
    bool ok = true;
    const double t = MedianMs(runs, [&] { ok = ok && std::system(cmd.c_str()) == 0; });
    return ok ? t : -1;
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

    const std::string config = bench::PrivateWindowSettings();
    if (config.empty())
        return 1;

    TForm1 w;
    w.resize(1280, 800);
    w.FormCreate({jpeg});
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

    // A selection drag at 100 %: every move repaints the frame over the shading of the
    // selection as it was at the press; the release rebuilds the shading.
    w.SetZoom(1.0f);
    w.HorizontalBar()->setValue(2000);
    w.VerticalBar()->setValue(1500);
    w.SelectTool().SetRect({2100, 1600, 2500, 1900});
    Paint(w);
    int step = 0;
    Mouse(w, QEvent::MouseButtonPress, {200, 200}, Qt::LeftButton, Qt::LeftButton);
    std::printf("selection drag, each move  %8.2f ms\n", MedianMs(runs * 4, [&] {
                    ++step;
                    Mouse(w, QEvent::MouseMove, {200 + step % 600, 200 + step % 400}, Qt::NoButton, Qt::LeftButton);
                    Paint(w);
                }));
    std::printf("selection drag, release    %8.2f ms\n", MedianMs(runs, [&] {
                    Mouse(w, QEvent::MouseButtonRelease, {300, 300}, Qt::LeftButton, Qt::NoButton);
                    Paint(w);
                    Mouse(w, QEvent::MouseButtonPress, {200, 200}, Qt::LeftButton, Qt::LeftButton);
                    Mouse(w, QEvent::MouseMove, {300 + step++ % 2, 300}, Qt::NoButton, Qt::LeftButton);
                }));
    Mouse(w, QEvent::MouseButtonRelease, {300, 300}, Qt::LeftButton, Qt::NoButton);
    w.Execute("actDeselect");

    // The preview at quality 80, progressive, against the same work done by cjpeg and djpeg.
    w.SetJpegPreview(true);
    bool progressive = false;
    const double preview = MedianMs(runs, [&] {
        w.SetJpegParams(80, progressive);  // the default progressive setting, rebuilt each run
        Paint(w);
    });
    std::printf("preview rebuild, q80       %8.2f ms", preview);
    const std::string ppm = "/tmp/nolvi2-bench-window.ppm";
    SavePpm(ppm, w.Picture());
    const double tools = CommandMs(runs, "cjpeg -quality 80 -outfile /tmp/nolvi2-bench-window-q.jpg " + ppm +
                                             " && djpeg -outfile /dev/null /tmp/nolvi2-bench-window-q.jpg");
    if (tools > 0)
        std::printf(", cjpeg + djpeg %.2f ms, ratio %.2f", tools, preview / tools);
    std::printf("\n");
    w.SetJpegParams(80, true);
    const double previewP = MedianMs(runs, [&] {
        w.SetJpegParams(80, true);
        Paint(w);
    });
    std::printf("  progressive              %8.2f ms", previewP);
    const double toolsP = CommandMs(runs, "cjpeg -quality 80 -progressive -outfile /tmp/nolvi2-bench-window-q.jpg " + ppm +
                                              " && djpeg -outfile /dev/null /tmp/nolvi2-bench-window-q.jpg");
    if (toolsP > 0)
        std::printf(", cjpeg + djpeg %.2f ms, ratio %.2f", toolsP, previewP / toolsP);
    std::printf("\n");
    std::remove(ppm.c_str());
    std::remove("/tmp/nolvi2-bench-window-q.jpg");
    w.SetJpegPreview(false);
    w.PictureChanged(false);

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
    std::filesystem::remove_all(config);
    return 0;
}
