// The selection and hand tools in the window, driven by mouse and key events: the title
// during a drag, the shading and the inverted frame, commands limited to the selection, crop,
// deselect, the grid commands, the space key, and the context menu's own captions.

#include "WindowFixture.h"

#include "app/ProcessingRoad.h"
#include "image/OZBLibFilter.h"

using namespace nolvi2;
using namespace nolvi2::test;

namespace {

// The client point at the top-left of picture pixel (x, y).
QPoint At(const TForm1& w, int32_t x, int32_t y)
{
    const TRect r = w.ImageToScreen(x, y);
    return {r.Left, r.Top};
}

// A selection drawn from picture pixel (x0, y0) to (x1, y1).
void Select(TForm1& w, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    Press(w, At(w, x0, y0));
    DragTo(w, At(w, x1, y1));
    Release(w, At(w, x1, y1));
}

// Blue, green, red of a 24-bit pixel.
std::array<uint8_t, 3> Bgr(const TBitmap& b, int32_t x, int32_t y)
{
    const uint8_t* p = b.ScanLine(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

TBitmap Copy(const TBitmap& b)
{
    TBitmap c;
    c.Assign(b);
    return c;
}

// True when every pixel outside r is the same in a and b (both of one size).
bool SameOutside(const TBitmap& a, const TBitmap& b, const TRect& r)
{
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x)
            if ((x < r.Left || x >= r.Right || y < r.Top || y >= r.Bottom) && Bgr(a, x, y) != Bgr(b, x, y))
                return false;
    return true;
}

}  // namespace

TEST_F(Window, SelectionDragTitleShadingAndFrame)
{
    const std::string file = MakePicture("s.bmp", 100, 80);
    auto w = MakeWindow({file});
    EXPECT_FALSE(w->Action("actCrop")->isEnabled());
    EXPECT_FALSE(w->Action("actDeselect")->isEnabled());

    // The screen colour at the centre of picture pixel (x, y), whose colour is (x, y, 200).
    const auto shown = [&](int32_t x, int32_t y) {
        const TRect r = w->ImageToScreen(x, y);
        return PixelAt(*w, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
    };
    Press(*w, At(*w, 10, 10));
    DragTo(*w, At(*w, 39, 29));
    EXPECT_TRUE(w->SelectTool().IsDragging());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("開始:10,10 サイズ:30,20 @ 100%"));
    EXPECT_EQ(shown(50, 5), qRgb(50, 5, 200));  // the shading waits for the release
    Release(*w, At(*w, 39, 29));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("s.bmp [100x80x24] @ 100%"));
    EXPECT_EQ(w->SelectTool().Rect(), (TRect{10, 10, 40, 30}));
    EXPECT_TRUE(w->Action("actCrop")->isEnabled());
    EXPECT_TRUE(w->Action("actDeselect")->isEnabled());

    // Outside darkened to half, inside untouched; at 50 % the display bitmap is shaded.
    EXPECT_EQ(shown(50, 5), qRgb(25, 2, 100));
    EXPECT_EQ(shown(20, 20), qRgb(20, 20, 200));
    w->SetZoom(0.5f);
    ASSERT_NE(w->DisplayBitmap(), nullptr);
    EXPECT_EQ(Bgr(*w->DisplayBitmap(), 25, 2), (std::array<uint8_t, 3>{100, 2, 25}));
    EXPECT_EQ(Bgr(*w->DisplayBitmap(), 10, 10), (std::array<uint8_t, 3>{200, 20, 20}));
    w->SetZoom(1.0f);

    // The frame inverts the pixels along the selection's outer edge; the handles sit outside.
    const QPoint corner = At(*w, 10, 10);
    EXPECT_EQ(PixelAt(*w, corner.x(), corner.y()), qRgb(255 - 10, 255 - 10, 255 - 200));
    EXPECT_EQ(PixelAt(*w, corner.x() + 1, corner.y() + 1), qRgb(11, 11, 200));
    const TRect handle = w->SelectTool().HandleRect(hkTopLeft, true);
    EXPECT_EQ(PixelAt(*w, handle.Left, handle.Top), qRgb(255 - 4 / 2, 255 - 4 / 2, 255 - 100));
    EXPECT_EQ(PixelAt(*w, handle.Left + 2, handle.Top + 2), qRgb(6 / 2, 6 / 2, 100));

    // Lightening, taken up when the selection is set again.
    w->Options().OutOfSelection = 2;
    w->SelectTool().SetRect(w->SelectTool().Rect());
    EXPECT_EQ(shown(50, 5), qRgb(128 + 50, 128 + 5, 255));
    // Scrolled at 300 %: the visible part is shaded where it lies.
    w->SetZoom(3.0f);
    w->HorizontalBar()->setValue(60);
    w->VerticalBar()->setValue(45);
    EXPECT_EQ(shown(50, 25), qRgb(128 + 50, 128 + 25, 255));
    EXPECT_EQ(shown(35, 25), qRgb(35, 25, 200));
    w->SetZoom(1.0f);

    // A click without movement removes the selection; so does Ctrl+D.
    Press(*w, At(*w, 70, 60));
    Release(*w, At(*w, 70, 60));
    EXPECT_FALSE(w->SelectTool().HasSelection());
    EXPECT_FALSE(w->Action("actCrop")->isEnabled());
    EXPECT_EQ(shown(50, 5), qRgb(50, 5, 200));
    Select(*w, 5, 5, 20, 20);
    QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(w->SelectTool().HasSelection());
    EXPECT_TRUE(messages.empty());
}

// Each family on a selection, in place: A and B change only the selection, C and E the whole
// picture (the selection is cut to the result), D filters the selection with its real
// neighbours, and crop keeps the selection alone and drops it.
TEST_F(Window, CommandsOnASelection)
{
    // Noise, so that every operation changes what it touches.
    TBitmap noise(60, 40, TPixelFormat::pf24bit);
    uint32_t seed = 1;
    for (int32_t y = 0; y < noise.Height(); ++y)
        for (std::size_t i = 0; i < noise.RowBytes(); ++i)
            noise.ScanLine(y)[i] = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    const std::string file = (dir / "c.bmp").string();
    noise.SaveToFile(file);
    const TRect sel{7, 5, 31, 22};
    struct Case {
        const char* action;
        int32_t width, height;  // of the result
    } cases[] = {
        {"actInvert", 60, 40},     {"actFlipHorizontal", 60, 40}, {"actGrassVertical", 60, 40},
        {"actFilterSharpHigh", 60, 40}, {"actRotate90", 40, 60},   {"actCrop", 24, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        auto w = MakeWindow({file});
        Select(*w, sel.Left, sel.Top, sel.Right - 1, sel.Bottom - 1);
        ASSERT_EQ(w->SelectTool().Rect(), sel);
        TBitmap before = Copy(w->Picture());
        w->Execute(c.action);
        const TBitmap& after = w->Picture();
        ASSERT_EQ(after.Width(), c.width);
        ASSERT_EQ(after.Height(), c.height);
        const std::string name = c.action;
        if (name == "actCrop") {
            EXPECT_FALSE(w->SelectTool().HasSelection());
            EXPECT_TRUE(SamePixels(after, *CopySelection(before, sel)));
            EXPECT_EQ(w->windowTitle(), QStringLiteral("c.bmp [24x17x24] @ 100%"));
        } else if (name == "actRotate90") {
            EXPECT_EQ(w->SelectTool().Rect(), (TRect{7, 5, 31, 22}));  // fits the rotated picture
        } else {
            EXPECT_TRUE(SameOutside(before, after, sel));
            EXPECT_FALSE(SamePixels(before, after));
            EXPECT_EQ(w->SelectTool().Rect(), sel);
        }
        if (name == "actFilterSharpHigh") {
            TFilterKernel kernel{};
            MakeFilterKernel(5, kernel);  // the strong sharpening of actFilterSharpHigh
            const auto whole = CustomFilter(before, kernel, 128, false);
            const auto part = CopySelection(after, sel);
            EXPECT_TRUE(SamePixels(*part, *CopySelection(*whole, sel)));
        }
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(Window, GridCommandsAndResizeCutTheSelection)
{
    const std::string file = MakePicture("g.bmp", 100, 100);
    auto w = MakeWindow({file});
    EXPECT_TRUE(w->Action("actSelectUnitFree")->isChecked());
    w->Execute("actSelectUnit8");
    EXPECT_TRUE(w->Action("actSelectUnit8")->isChecked());
    EXPECT_FALSE(w->Action("actSelectUnitFree")->isChecked());
    EXPECT_EQ(w->SelectTool().MinimumUnit(), 8);
    Select(*w, 3, 3, 20, 20);
    EXPECT_EQ(w->SelectTool().Rect(), (TRect{0, 0, 24, 24}));
    w->Execute("actDeselect");
    Select(*w, 3, 3, 99, 99);
    EXPECT_EQ(w->SelectTool().Rect(), (TRect{0, 0, 96, 96}));

    services->resize = ([](int32_t& width, int32_t& height, uint8_t&) {
        width = 50;
        height = 40;
        return true;
    });
    w->Execute("actResize");
    services->resize = {};
    EXPECT_EQ(w->Picture().Width(), 50);
    EXPECT_EQ(w->SelectTool().Rect(), (TRect{0, 0, 50, 40}));
}

TEST_F(Window, SpaceTurnsTheMouseIntoTheHandTool)
{
    const std::string file = MakePicture("h.bmp", 1000, 800);
    auto w = MakeWindow({file});
    ASSERT_TRUE(w->HorizontalBar()->isVisible());
    Hover(*w, {50, 50});
    EXPECT_FALSE(w->HandToolCurrent());
    QTest::keyPress(w.get(), Qt::Key_Space);
    Hover(*w, {50, 50});
    EXPECT_TRUE(w->HandToolCurrent());
    EXPECT_EQ(w->cursor().shape(), Qt::SizeAllCursor);

    w->HorizontalBar()->setValue(300);
    w->VerticalBar()->setValue(300);
    Press(*w, {100, 100});
    DragTo(*w, {60, 80});  // the picture follows the pointer at half its speed
    EXPECT_EQ(w->HorizontalBar()->value(), 320);
    EXPECT_EQ(w->VerticalBar()->value(), 310);
    QTest::keyRelease(w.get(), Qt::Key_Space);
    DragTo(*w, {40, 80});  // still dragging: the hand tool stays until the next free move
    EXPECT_TRUE(w->HandToolCurrent());
    Release(*w, {40, 80});
    EXPECT_FALSE(w->SelectTool().HasSelection());
    Hover(*w, {40, 80});
    EXPECT_FALSE(w->HandToolCurrent());
}

TEST_F(Window, ContextMenuCaptionsAndKeysOfItsOwn)
{
    const std::string file = MakePicture("m.bmp", 40, 30);
    auto w = MakeWindow({file});
    EXPECT_EQ(w->MenuItem("actSaveAsJPEG")->text(), QStringLiteral("この画質で保存(&S)..."));
    EXPECT_EQ(w->Action("actSaveAsJPEG")->text(), QStringLiteral("この圧縮率で保存(&S)..."));
    EXPECT_EQ(w->MenuItem("actJpegPreview80")->text(), QStringLiteral("画質 &80"));
    EXPECT_EQ(w->MenuItem("actJpegPreviewDown")->text(), QStringLiteral("画質を10下げる(&D)"));
    EXPECT_EQ(w->MenuItem("actZoomIn")->shortcut(), QKeySequence(Qt::Key_Up));
    EXPECT_EQ(w->MenuItem("actReopen")->shortcut(), QKeySequence(Qt::Key_F5));
    // Return and the keypad's Enter are one key, shown as "Enter" (not "Return").
    const auto shown = [&](const char* name) { return w->MenuItem(name)->shortcut().toString(QKeySequence::NativeText); };
    EXPECT_EQ(shown("actZoomActualPixels"), QStringLiteral("Enter"));

    // An item runs its action and follows its state; Enter moves with the preview.
    w->MenuItem("actJpegPreview30")->trigger();
    EXPECT_TRUE(w->JpegPreview());
    EXPECT_EQ(w->JpegQuality(), 30);
    EXPECT_TRUE(w->MenuItem("actJpegPreview30")->isChecked());
    EXPECT_TRUE(w->MenuItem("actSaveAsJPEG")->isEnabled());
    EXPECT_EQ(shown("actSaveAsJPEG"), QStringLiteral("Enter"));
    EXPECT_EQ(w->MenuItem("actZoomActualPixels")->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0));
    w->Execute("actJpegPreview");
    EXPECT_EQ(shown("actZoomActualPixels"), QStringLiteral("Enter"));
    EXPECT_TRUE(shown("actSaveAsJPEG").isEmpty());

    // The selection submenu.
    QMenu* selection = nullptr;
    for (QAction* a : w->PopupMenu()->actions())
        if (a->menu() && a->text() == QStringLiteral("選択範囲(&S)"))
            selection = a->menu();
    ASSERT_NE(selection, nullptr);
    QStringList names;
    for (QAction* a : selection->actions())
        names << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(names.join(' '), QStringLiteral("actDeselect - actCrop - actSelectUnitFree actSelectUnit8 actSelectUnit16 "
                                              "actSelectUnit24 actSelectUnit32"));
}
