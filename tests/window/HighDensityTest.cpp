// The window on a high-density screen. These tests run in test_window_hidpi, whose windows
// all have a device pixel ratio other than 1 (2, and 1.5 in a second run): the picture, the
// mouse, the scroll bars and the fit count device pixels, so that at 100 % one picture pixel
// is one pixel of the screen, and the mouse maps to the pixel it points at.

#include "WindowFixture.h"

#include <QCursor>
#include <QLabel>

#include <cmath>

using namespace nolvi2;
using namespace nolvi2::test;

namespace {

// The window's device pixel ratio; these tests mean nothing at 1.
double Ratio(const QWidget& w)
{
    const double r = w.devicePixelRatio();
    EXPECT_NE(r, 1.0) << "run with QT_SCALE_FACTOR other than 1";
    return r;
}

// The logical client position of the top-left corner of device pixel (x, y), as the toolkit
// reports a mouse there.
QPointF Logical(const QWidget& w, int32_t x, int32_t y) { return QPointF(x, y) / w.devicePixelRatio(); }

// The logical position of the centre's device pixel of picture pixel (x, y).
QPointF AtPixel(const TForm1& w, int32_t x, int32_t y)
{
    const TRect r = w.ImageToScreen(x, y);
    return Logical(w, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
}

// The smallest logical extent whose product with the ratio reaches device pixels.
int SmallestCovering(int device, double ratio) { return int(std::ceil(device / ratio)); }

QRgb Shaded(QRgb c) { return qRgb(qRed(c) / 2, qGreen(c) / 2, qBlue(c) / 2); }
QRgb Inverted(QRgb c) { return qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c)); }

// The colour of MakePicture's pixel (x, y).
QRgb PictureColour(int32_t x, int32_t y) { return qRgb(x, y, 200); }

}  // namespace

// The rendered window at device resolution: at zoom z ≥ 1 each picture pixel is a z × z block
// of device pixels, centred in the client, with no blending between neighbours and background
// right around it; below 1 the display bitmap is drawn one device pixel per pixel.
TEST_F(Window, HighDensityPicturePixelsAreDevicePixels)
{
    const std::string file = MakePicture("p.bmp", 100, 80);
    auto w = MakeWindow({file}, 300, 200);
    const double r = Ratio(*w);
    const QSize client = w->DeviceClientSize();
    ASSERT_EQ(client, (QSizeF(300, 200) * r).toSize());
    const QRgb background = w->palette().button().color().rgb();
    for (const float zoom : {1.0f, 2.0f, 3.0f, 0.5f}) {
        SCOPED_TRACE(zoom);
        w->SetZoom(zoom);
        const QImage shot = w->grab().toImage();
        ASSERT_EQ(shot.devicePixelRatio(), r);
        ASSERT_EQ(shot.size(), (QSizeF(w->size()) * r).toSize());
        const int width = int(100 * zoom), height = int(80 * zoom);
        const int left = (client.width() - width) / 2, top = (client.height() - height) / 2;
        EXPECT_EQ(w->ImageToScreen(0, 0).Left, left);
        EXPECT_EQ(w->ImageToScreen(0, 0).Top, top);
        const auto expected = [&](int x, int y) {
            if (x < 0 || y < 0 || x >= width || y >= height)
                return background;
            if (zoom < 1) {
                const uint8_t* p = w->DisplayBitmap()->ScanLine(y) + 3 * x;
                return qRgb(p[2], p[1], p[0]);
            }
            return PictureColour(x / int(zoom), y / int(zoom));
        };
        int wrong = 0;
        for (int y = -1; y <= height; ++y)
            for (int x = -1; x <= width; ++x)
                if (shot.pixel(left + x, top + y) != expected(x, y) && wrong++ == 0)
                    ADD_FAILURE() << "first wrong device pixel at " << x << "," << y << " from the picture's origin";
        EXPECT_EQ(wrong, 0);
    }
}

// The scroll bars count device pixels: their range is the zoomed picture less the client, and a
// position of v puts device pixel v of the zoomed picture at the client's left edge.
TEST_F(Window, HighDensityScrollBarsCountDevicePixels)
{
    const std::string file = MakePicture("big.bmp", 1000, 800);
    auto w = MakeWindow({file}, 300, 200);
    const double r = Ratio(*w);
    ASSERT_TRUE(w->HorizontalBar()->isVisible() && w->VerticalBar()->isVisible());
    const QSize client = w->DeviceClientSize();
    EXPECT_EQ(client, (QSizeF(w->ClientSize()) * r).toSize());
    EXPECT_EQ(w->HorizontalBar()->maximum(), 1000 - client.width());
    EXPECT_EQ(w->VerticalBar()->maximum(), 800 - client.height());
    EXPECT_EQ(w->HorizontalBar()->pageStep(), client.width());
    EXPECT_EQ(w->HorizontalBar()->singleStep(), qRound(40 * r));

    w->HorizontalBar()->setValue(7);
    w->VerticalBar()->setValue(5);
    QImage shot = w->grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0), PictureColour(7, 5));
    EXPECT_EQ(shot.pixel(1, 0), PictureColour(8, 5));
    EXPECT_EQ(shot.pixel(0, 1), PictureColour(7, 6));
    EXPECT_EQ(w->ScreenToImage(0, 0), (TPoint{7, 5}));

    // At 200 % position 7 is the second half of picture pixel 3.
    w->SetZoom(2.0f);
    EXPECT_EQ(w->HorizontalBar()->maximum(), 2000 - client.width());
    w->HorizontalBar()->setValue(7);
    w->VerticalBar()->setValue(0);
    shot = w->grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0), PictureColour(3, 0));
    EXPECT_EQ(shot.pixel(1, 0), PictureColour(4, 0));
    EXPECT_EQ(shot.pixel(2, 1), PictureColour(4, 0));
    EXPECT_EQ(shot.pixel(3, 2), PictureColour(5, 1));
}

// Fitted to its picture, the window's client covers the picture's device pixels with the
// fewest logical pixels (at 1.5 the 320 pixels of a 200 % fit take 214 logical pixels, not
// 213 = 319.5 device pixels), and no fewer than the smallest client; with the zoom the fit
// follows, and the screen limits it in its own logical pixels.
TEST_F(Window, HighDensityFitCountsDevicePixels)
{
    const std::string file = MakePicture("fit.bmp", 160, 120);
    TForm1 w(services);
    w.FormCreate({file});
    w.show();
    const double r = Ratio(w);
    EXPECT_EQ(w.ClientSize(), QSize(std::max(kMinClientWidth, SmallestCovering(160, r)),
                                    std::max(kMinClientHeight, SmallestCovering(120, r))));
    EXPECT_FALSE(w.HorizontalBar()->isVisible() || w.VerticalBar()->isVisible());
    const QImage shot = w.grab().toImage();
    const TRect origin = w.ImageToScreen(0, 0);
    EXPECT_EQ(shot.pixel(origin.Left, origin.Top), PictureColour(0, 0));
    EXPECT_EQ(shot.pixel(origin.Left + 159, origin.Top + 119), PictureColour(159, 119));

    w.SetZoom(2.0f);
    EXPECT_EQ(w.ClientSize(), QSize(SmallestCovering(320, r), SmallestCovering(240, r)));
    EXPECT_FALSE(w.HorizontalBar()->isVisible() || w.VerticalBar()->isVisible());

    // Too large for the screen: the window stays inside the work area and scrolls the rest.
    const std::string huge = MakePicture("huge.bmp", 2000, 1600);
    w.OpenFile(huge);
    const QRect area = w.screen()->availableGeometry();
    EXPECT_TRUE(area.contains(w.frameGeometry()));
    ASSERT_TRUE(w.HorizontalBar()->isVisible() && w.VerticalBar()->isVisible());
    EXPECT_EQ(w.HorizontalBar()->maximum(), 4000 - w.DeviceClientSize().width());
    EXPECT_EQ(w.VerticalBar()->maximum(), 3200 - w.DeviceClientSize().height());
}

// A drag in logical mouse positions selects the picture pixels under the device pixels it
// passes; the frame is one device pixel wide, the handles and their zones keep their size on
// the screen, and the shading covers exactly the device pixels outside.
TEST_F(Window, HighDensitySelection)
{
    const std::string file = MakePicture("s.bmp", 100, 80);
    for (const float zoom : {1.0f, 3.0f}) {
        SCOPED_TRACE(zoom);
        auto w = MakeWindow({file}, 300, 200);
        const double r = Ratio(*w);
        w->SetZoom(zoom);
        Press(*w, AtPixel(*w, 10, 10));
        DragTo(*w, AtPixel(*w, 25, 20));
        DragTo(*w, AtPixel(*w, 40, 30));
        Release(*w, AtPixel(*w, 40, 30));
        ASSERT_EQ(w->SelectTool().Rect(), (TRect{10, 10, 41, 31}));
        if (zoom != 1.0f)
            continue;

        const QImage shot = w->grab().toImage();
        const TRect frame = w->SelectTool().ScreenRect();
        // Frame pixels show inverted picture pixels (the frame lies inside the selection);
        // row 13 and column 15 pass the frame away from the handles in the edges' middles.
        const int32_t y13 = frame.Top + 3, x15 = frame.Left + 5;
        EXPECT_EQ(shot.pixel(frame.Left, y13), Inverted(PictureColour(10, 13)));
        EXPECT_EQ(shot.pixel(frame.Left + 1, y13), PictureColour(11, 13));
        EXPECT_EQ(shot.pixel(frame.Left - 1, y13), Shaded(PictureColour(9, 13)));
        EXPECT_EQ(shot.pixel(frame.Right - 1, y13), Inverted(PictureColour(40, 13)));
        EXPECT_EQ(shot.pixel(frame.Right - 2, y13), PictureColour(39, 13));
        EXPECT_EQ(shot.pixel(frame.Right, y13), Shaded(PictureColour(41, 13)));
        EXPECT_EQ(shot.pixel(x15, frame.Top), Inverted(PictureColour(15, 10)));
        EXPECT_EQ(shot.pixel(x15, frame.Top + 1), PictureColour(15, 11));
        EXPECT_EQ(shot.pixel(x15, frame.Top - 1), Shaded(PictureColour(15, 9)));
        EXPECT_EQ(shot.pixel(x15, frame.Bottom), Shaded(PictureColour(15, 31)));

        // The top-left handle: a square of 6 logical pixels, outlined 2 logical pixels wide,
        // inverting the shaded picture.
        const int side = qRound(6 * r), line = qRound(2 * r);
        const TRect handle = w->SelectTool().HandleRect(hkTopLeft, true);
        EXPECT_EQ(handle, (TRect{frame.Left - side, frame.Top - side, frame.Left, frame.Top}));
        const auto under = [&](int32_t x, int32_t y) {
            const TRect o = w->ImageToScreen(0, 0);
            return Shaded(PictureColour(x - o.Left, y - o.Top));
        };
        const int32_t hx = handle.Left, hy = handle.Top + side / 2;
        EXPECT_EQ(shot.pixel(hx + line - 1, hy), Inverted(under(hx + line - 1, hy)));
        EXPECT_EQ(shot.pixel(hx + line, hy), under(hx + line, hy));

        // The top edge's zone reaches 12 logical pixels above the frame.
        const QPointF top = Logical(*w, (frame.Left + frame.Right) / 2, frame.Top);
        Hover(*w, top - QPointF(0, 10));
        EXPECT_EQ(w->cursor().shape(), Qt::SizeVerCursor);
        Hover(*w, top - QPointF(0, 13));
        EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    }
    EXPECT_TRUE(messages.empty());
}

// The hand tool scrolls by the zoom times half the pointer's travel in device pixels, so that
// at 200 % the picture moves with the pointer device pixel for device pixel; the auto-scroll of
// a selection drag moves by the device pixels the pointer is outside the client.
TEST_F(Window, HighDensityHandToolAndAutoScroll)
{
    const std::string file = MakePicture("h.bmp", 1000, 800);
    for (const float zoom : {1.0f, 2.0f}) {
        SCOPED_TRACE(zoom);
        auto w = MakeWindow({file}, 300, 200);
        const double r = Ratio(*w);
        w->SetZoom(zoom);
        QTest::keyPress(w.get(), Qt::Key_Space);
        Hover(*w, {50, 50});
        ASSERT_TRUE(w->HandToolCurrent());
        w->HorizontalBar()->setValue(300);
        w->VerticalBar()->setValue(300);
        Press(*w, {100, 100});
        DragTo(*w, {60, 80});
        const int travelX = qRound(40 * r), travelY = qRound(20 * r);  // device pixels
        EXPECT_EQ(w->HorizontalBar()->value(), 300 + int(zoom * travelX / 2));
        EXPECT_EQ(w->VerticalBar()->value(), 300 + int(zoom * travelY / 2));
        Release(*w, {60, 80});
        QTest::keyRelease(w.get(), Qt::Key_Space);
        if (zoom == 1.0f) {
            const QImage shot = w->grab().toImage();
            EXPECT_EQ(shot.pixel(0, 0), PictureColour(300 + travelX / 2, 300 + travelY / 2));
        }
    }

    auto w = MakeWindow({file}, 300, 200);
    const double r = Ratio(*w);
    w->move(20, 10);
    w->HorizontalBar()->setValue(100);
    Hover(*w, {50, 50});
    Press(*w, {50, 50});
    const QPointF outside(w->ClientSize().width() + 10, 50);
    DragTo(*w, outside);
    QCursor::setPos(w->screen(), w->mapToGlobal(outside).toPoint());
    w->SelectTool().AutoScroll();
    EXPECT_EQ(w->HorizontalBar()->value(), 100 + qRound(10 * r));
    Release(*w, outside);
}

// The program's icon comes at the screen's density: a 32-pixel icon is the rendering made for
// 32 × ratio pixels, not a 32-pixel one scaled up.
TEST_F(Window, HighDensityProgramIcon)
{
    auto w = MakeWindow();
    const double r = Ratio(*w);
    const int pixels = qRound(32 * r);
    const QPixmap icon = ProgramIcon().pixmap(QSize(32, 32), r);
    EXPECT_EQ(icon.devicePixelRatio(), r);
    ASSERT_EQ(icon.size(), QSize(pixels, pixels));
    const QImage rendering(QStringLiteral(":/icons/nolvi2-%1.png").arg(pixels));
    ASSERT_FALSE(rendering.isNull()) << "no rendering at " << pixels;
    EXPECT_EQ(icon.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              rendering.convertToFormat(QImage::Format_ARGB32_Premultiplied));

    const auto about = CreateAboutBox();
    const auto* image = about->findChild<QLabel*>(QStringLiteral("Image"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixmap().devicePixelRatio(), r);
    EXPECT_EQ(image->pixmap().size(), QSize(pixels, pixels));
}
