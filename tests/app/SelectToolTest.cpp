// The selection and hand tools driven by presses, moves and releases over a window model
// built from the display arithmetic (the picture centred in, or scrolled within, the client).

#include "app/ZoomView.h"
#include "app/nolviSub.h"

#include <gtest/gtest.h>

#include <vector>

using namespace nolvi2;

namespace {

// A window without a toolkit: a picture, a client area, scroll positions (-1 where an axis
// cannot scroll), the mouse in screen coordinates and the auto-scroll timer's state.
class FakeWindow : public TToolHost {
public:
    FakeWindow(int32_t w, int32_t h, int32_t cw, int32_t ch, float zoom = 1.0f)
    {
        view.PictureWidth = w;
        view.PictureHeight = h;
        view.ClientWidth = cw;
        view.ClientHeight = ch;
        view.Zoom = zoom;
        scroll.X = ScrollRange(w, zoom) > cw ? 0 : -1;
        scroll.Y = ScrollRange(h, zoom) > ch ? 0 : -1;
    }

    TView View() const
    {
        TView v = view;
        v.ScrollX = std::max(scroll.X, 0);
        v.ScrollY = std::max(scroll.Y, 0);
        return v;
    }
    // Below zoom 1 the window draws the zoomed display bitmap.
    TRect Painted() const
    {
        const bool small = view.Zoom < 1;
        return PaintGeometry(View(), small ? ZoomedExtent(view.PictureWidth, view.Zoom) : view.PictureWidth,
                             small ? ZoomedExtent(view.PictureHeight, view.Zoom) : view.PictureHeight)
            .Painted;
    }
    // The client point at the centre of picture pixel (x, y).
    TPoint At(int32_t x, int32_t y) const
    {
        const TRect r = ImageToScreen(x, y);
        return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
    }

    TPoint ScreenToImage(TPoint p) const override { return nolvi2::ScreenToImage(View(), Painted(), p.X, p.Y); }
    TRect ImageToScreen(int32_t x, int32_t y) const override { return nolvi2::ImageToScreen(View(), x, y); }
    float Zoom() const override { return view.Zoom; }
    int32_t PictureWidth() const override { return view.PictureWidth; }
    int32_t PictureHeight() const override { return view.PictureHeight; }
    int32_t ClientWidth() const override { return view.ClientWidth; }
    int32_t ClientHeight() const override { return view.ClientHeight; }
    TRect ClientScreenRect() const override
    {
        return {screenOrigin.X, screenOrigin.Y, screenOrigin.X + view.ClientWidth, screenOrigin.Y + view.ClientHeight};
    }
    TPoint ScrollPositions() const override { return scroll; }
    void SetScrollPositions(TPoint p) override
    {
        const auto set = [](int32_t& pos, int32_t value, int32_t max) {
            if (value != -1 && pos != -1)
                pos = std::clamp(value, 0, max);
        };
        set(scroll.X, p.X, ScrollRange(view.PictureWidth, view.Zoom) - view.ClientWidth);
        set(scroll.Y, p.Y, ScrollRange(view.PictureHeight, view.Zoom) - view.ClientHeight);
    }
    TPoint MousePosition() const override { return mouse; }
    void SetAutoScrollTimer(bool enabled) override { timer = enabled; }

    TView view;
    TPoint scroll;
    TPoint screenOrigin{1000, 500};
    TPoint mouse;
    bool timer = false;
};

struct Tool {
    Tool(FakeWindow& w, uint8_t unit) : window(w), select(w)
    {
        select.SetMinimumUnit(unit);
        select.OnChange = [this](TSelectTool*) { ++changes; };
    }
    // A drag from one client point through others, released at the last.
    void Drag(std::initializer_list<TPoint> points)
    {
        const TPoint* p = points.begin();
        select.MouseDown(*p);
        TToolCursor cursor = TToolCursor::Default;
        for (++p; p != points.end(); ++p)
            EXPECT_TRUE(select.MouseMove(*p, cursor));
        select.MouseUp(points.end()[-1]);
    }
    FakeWindow& window;
    TSelectTool select;
    int changes = 0;
};

constexpr TRect kNone{-1, -1, -1, -1};

}  // namespace

TEST(SelectTool, SnapPointOnTheGrid)
{
    FakeWindow window(100, 60, 300, 200);
    TSelectTool tool(window);
    tool.SetMinimumUnit(8);
    EXPECT_EQ(tool.SnapPoint({17, 17}, true), (TPoint{16, 16}));
    EXPECT_EQ(tool.SnapPoint({17, 17}, false), (TPoint{24, 24}));
    EXPECT_EQ(tool.SnapPoint({8, 8}, false), (TPoint{16, 16}));
    EXPECT_EQ(tool.SnapPoint({99, 59}, false), (TPoint{96, 56}));  // beyond the picture: one unit back
    EXPECT_EQ(tool.SnapPoint({100, 60}, true), (TPoint{96, 56}));
    tool.SetMinimumUnit(1);
    EXPECT_EQ(tool.SnapPoint({17, 99}, false), (TPoint{17, 99}));
    // A grid above 32 (an edited settings file) means no grid.
    tool.SetMinimumUnit(40);
    EXPECT_EQ(tool.MinimumUnit(), 1);
}

// New selections: the rectangle from the pressed pixel to the pixel under the pointer, on
// the grid, cut to the picture; zoom and centring only change where the pixels are.
TEST(SelectTool, NewSelections)
{
    struct Case {
        const char* name;
        uint8_t unit;
        float zoom;
        TPoint from, to;  // picture pixels (to may lie outside the picture)
        TRect expected;
    } cases[] = {
        {"grid 8 to (20,20)", 8, 1.0f, {3, 3}, {20, 20}, {0, 0, 24, 24}},
        {"grid 8 to (99,99)", 8, 1.0f, {3, 3}, {99, 99}, {0, 0, 96, 96}},
        {"no grid, past the right edge", 1, 1.0f, {10, 10}, {150, 40}, {10, 10, 100, 41}},
        {"no grid, up and left of the press", 1, 1.0f, {30, 40}, {-20, 5}, {0, 5, 31, 41}},
        {"zoom 3", 1, 3.0f, {10, 10}, {12, 20}, {10, 10, 13, 21}},
        {"zoom 0.5, grid 16", 16, 0.5f, {20, 20}, {40, 70}, {16, 16, 48, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindow window(100, 100, 400, 400, c.zoom);
        Tool t(window, c.unit);
        t.Drag({window.At(c.from.X, c.from.Y), window.At(c.to.X, c.to.Y)});
        EXPECT_EQ(t.select.Rect(), c.expected);
        EXPECT_EQ(t.changes, 1);
        EXPECT_FALSE(t.select.IsDragging());
    }
}

TEST(SelectTool, ClickWithoutMovingAndEmptyDragsLeaveNoSelection)
{
    FakeWindow window(100, 100, 300, 200);
    Tool t(window, 1);
    t.select.SetRect({10, 10, 50, 50});
    t.changes = 0;
    // A click on the picture outside the selection's zones.
    t.Drag({window.At(80, 80)});
    EXPECT_FALSE(t.select.HasSelection());
    EXPECT_EQ(t.changes, 1);

    // On a grid of 32 a drag within one cell of the bottom-right corner snaps to nothing.
    t.select.SetMinimumUnit(32);
    t.Drag({window.At(97, 97), window.At(99, 99)});
    EXPECT_FALSE(t.select.HasSelection());

    // A press beside the picture starts nothing.
    t.select.MouseDown({2, 2});
    EXPECT_FALSE(t.select.IsDragging());
    EXPECT_FALSE(t.select.MouseUp({2, 2}));
}

// Moves and edge drags of an existing selection (40 × 30 at (30, 20) on a 100 × 100 picture).
TEST(SelectTool, MovesAndResizes)
{
    struct Case {
        const char* name;
        uint8_t unit;
        int32_t kindProbeX, kindProbeY;  // client offsets from the selection's screen corners
        uint8_t kind;
        TPoint by;  // pointer movement in picture pixels
        TRect expected;
    } cases[] = {
        {"move", 1, 0, 0, hkMove, {5, -3}, {35, 17, 75, 47}},
        {"move past the left edge shrinks", 1, 0, 0, hkMove, {-45, 0}, {0, 20, 25, 50}},
        {"move past the bottom edge shrinks", 1, 0, 0, hkMove, {0, 60}, {30, 80, 70, 100}},
        {"top edge down", 1, 0, 0, hkTop, {0, 10}, {30, 30, 70, 50}},
        {"top edge past the bottom swaps", 1, 0, 0, hkTop, {0, 40}, {30, 50, 70, 60}},
        {"right edge past the left swaps", 1, 0, 0, hkRight, {-50, 0}, {20, 20, 30, 50}},
        {"bottom-right corner", 1, 0, 0, hkBottomRight, {7, 9}, {30, 20, 77, 59}},
        {"top-left corner past the picture", 1, 0, 0, hkTopLeft, {-50, -50}, {0, 0, 70, 50}},
        {"left edge on a grid of 8", 8, 0, 0, hkLeft, {-5, 0}, {24, 16, 64, 48}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindow window(100, 100, 300, 200);
        Tool t(window, c.unit);
        t.select.SetRect({30, 20, 70, 50});
        t.changes = 0;
        // A press point inside the zone of the kind: the zone's centre.
        const TRect zone = t.select.HandleRect(c.kind, false);
        const TPoint press{(zone.Left + zone.Right) / 2, (zone.Top + zone.Bottom) / 2};
        ASSERT_EQ(t.select.HitTest(press), c.kind);
        t.Drag({press, {press.X + c.by.X, press.Y + c.by.Y}});
        EXPECT_EQ(t.select.Rect(), c.expected);
        EXPECT_EQ(t.changes, 1);
    }
}

TEST(SelectTool, HitKindsAroundASelection)
{
    FakeWindow window(100, 100, 100, 100);  // the picture fills the client: client = picture
    TSelectTool tool(window);
    EXPECT_EQ(tool.HitTest({50, 50}), hkPicture);  // no selection: only the picture counts
    tool.SetRect({30, 20, 70, 50});
    const struct {
        TPoint p;
        uint8_t kind;
    } probes[] = {
        {{50, 8}, hkTop},         {{50, 7}, hkPicture},     {{50, 19}, hkTop},      {{50, 50}, hkBottom},
        {{50, 61}, hkBottom},     {{18, 30}, hkLeft},       {{29, 30}, hkLeft},     {{70, 30}, hkRight},
        {{29, 19}, hkTopLeft},    {{18, 8}, hkTopLeft},     {{70, 19}, hkTopRight}, {{29, 50}, hkBottomLeft},
        {{70, 50}, hkBottomRight}, {{81, 61}, hkBottomRight}, {{30, 20}, hkMove},   {{69, 49}, hkMove},
        {{90, 90}, hkPicture},    {{100, 100}, hkPicture},  {{101, 100}, hkNowhere}, {{-1, 0}, hkNowhere},
    };
    for (const auto& probe : probes)
        EXPECT_EQ(tool.HitTest(probe.p), probe.kind) << probe.p.X << "," << probe.p.Y;

    // The drawn handles: 6 × 6 squares outside the frame, centred on the edges.
    EXPECT_EQ(tool.HandleRect(hkTop, true), (TRect{47, 14, 53, 20}));
    EXPECT_EQ(tool.HandleRect(hkLeft, true), (TRect{24, 32, 30, 38}));
    EXPECT_EQ(tool.HandleRect(hkBottomRight, true), (TRect{70, 50, 76, 56}));
    EXPECT_EQ(tool.HandleRect(hkNowhere, false), (TRect{}));

    // The hover cursors.
    TToolCursor cursor = TToolCursor::Default;
    EXPECT_FALSE(tool.MouseMove({50, 8}, cursor));
    EXPECT_EQ(cursor, TToolCursor::SizeNS);
    tool.MouseMove({70, 19}, cursor);
    EXPECT_EQ(cursor, TToolCursor::SizeNESW);
    tool.MouseMove({50, 30}, cursor);
    EXPECT_EQ(cursor, TToolCursor::SizeAll);
    tool.MouseMove({90, 90}, cursor);
    EXPECT_EQ(cursor, TToolCursor::Default);
}

TEST(SelectTool, ChangesAreReportedOutsideDragsAndAtTheirEnd)
{
    FakeWindow window(100, 100, 300, 200);
    Tool t(window, 1);
    t.select.SetRect({10, 10, 20, 20});
    t.select.ClampToPicture();  // inside: nothing to report
    EXPECT_EQ(t.changes, 1);
    window.view.PictureWidth = 15;
    t.select.ClampToPicture();
    EXPECT_EQ(t.select.Rect(), (TRect{10, 10, 15, 20}));
    EXPECT_EQ(t.changes, 2);
    window.view.PictureWidth = 10;
    t.select.ClampToPicture();
    EXPECT_EQ(t.select.Rect(), kNone);
    EXPECT_EQ(t.changes, 3);

    // A drag reports nothing while it runs, and nothing at its end when it moved back.
    window.view.PictureWidth = 100;
    t.select.SetRect({10, 10, 40, 40});
    t.changes = 0;
    const TPoint inside = window.At(20, 20);
    t.select.MouseDown(inside);
    TToolCursor cursor{};
    t.select.MouseMove(window.At(30, 30), cursor);
    EXPECT_EQ(t.changes, 0);
    t.select.MouseMove(inside, cursor);
    EXPECT_TRUE(t.select.MouseUp(inside));
    EXPECT_EQ(t.changes, 0);
    EXPECT_EQ(t.select.Rect(), (TRect{10, 10, 40, 40}));
}

TEST(SelectTool, AutoScrollFollowsThePointerOutsideTheClient)
{
    FakeWindow window(1000, 800, 300, 200, 1.0f);  // scrolls on both axes
    Tool t(window, 1);
    window.scroll = {100, 100};
    t.select.MouseDown({50, 50});
    TToolCursor cursor{};
    t.select.MouseMove({150, 100}, cursor);
    EXPECT_FALSE(window.timer);
    t.select.MouseMove({320, -10}, cursor);  // right of and above the client
    EXPECT_TRUE(window.timer);
    window.mouse = {window.screenOrigin.X + 320, window.screenOrigin.Y - 10};
    t.select.AutoScroll();
    EXPECT_EQ(window.scroll, (TPoint{120, 90}));
    // The selection changes only with the next move.
    EXPECT_EQ(t.select.Rect(), (TRect{150, 90, 421, 151}));
    t.select.MouseMove({320, -10}, cursor);
    EXPECT_EQ(t.select.Rect(), (TRect{150, 80, 441, 151}));
    // Releasing outside the window stops the scrolling.
    t.select.MouseUp({320, -10});
    EXPECT_FALSE(window.timer);
}

TEST(HandTool, ScrollsAtHalfThePointersSpeedTimesTheZoom)
{
    struct Case {
        bool invert;
        float zoom;
        TPoint move;
        TPoint expected;
    } cases[] = {
        {false, 1.0f, {-40, -20}, {220, 210}},  // the picture follows the pointer
        {true, 1.0f, {-40, -20}, {180, 190}},
        {false, 3.0f, {-7, 1}, {210, 198}},     // 3 × 7 / 2 = 10.5, truncated
        {false, 1.0f, {500, 500}, {0, 0}},      // kept within the range
    };
    for (const Case& c : cases) {
        FakeWindow window(2000, 2000, 300, 200, c.zoom);
        window.scroll = {200, 200};
        TTenohiraTool hand(window);
        hand.SetInvert(c.invert);
        TToolCursor cursor = TToolCursor::Default;
        EXPECT_FALSE(hand.MouseMove({10, 10}, cursor));  // not dragging
        hand.MouseDown({100, 100});
        EXPECT_TRUE(hand.IsDragging());
        EXPECT_TRUE(hand.MouseMove({100 + c.move.X, 100 + c.move.Y}, cursor));
        EXPECT_EQ(cursor, TToolCursor::SizeAll);
        EXPECT_EQ(window.scroll, c.expected) << c.invert << " " << c.zoom;
        EXPECT_FALSE(hand.MouseUp({0, 0}));
        EXPECT_FALSE(hand.IsDragging());
    }
    // An axis that cannot scroll stays as it is.
    FakeWindow narrow(100, 2000, 300, 200);
    narrow.scroll.Y = 50;
    TTenohiraTool hand(narrow);
    hand.MouseDown({0, 0});
    TToolCursor cursor{};
    hand.MouseMove({-30, -30}, cursor);
    EXPECT_EQ(narrow.scroll, (TPoint{-1, 65}));
}
