#include "nolviSub.h"

#include "ZoomView.h"

#include <algorithm>
#include <cmath>

namespace nolvi2 {

namespace {

// In logical pixels; the tools work in device pixels (Scaled).
constexpr int32_t kZone = 12;      // width of a handle's hit zone
constexpr int32_t kHandle = 6;     // side of a drawn handle square
constexpr int32_t kHandleLine = 2;  // width of a drawn handle's outline

// A length in logical pixels as device pixels of the host's screen, at least one.
int32_t Scaled(int32_t length, const TToolHost& host)
{
    return std::max(1, DeviceExtent(length, host.PixelRatio()));
}

bool Contains(const TRect& r, TPoint p) { return r.Left <= p.X && p.X < r.Right && r.Top <= p.Y && p.Y < r.Bottom; }

TRect RectOfSize(int32_t x, int32_t y, int32_t w, int32_t h) { return {x, y, x + w, y + h}; }

// The edges a handle kind moves.
constexpr uint8_t kTopEdge = 1, kBottomEdge = 2, kLeftEdge = 4, kRightEdge = 8;
constexpr uint8_t kEdges[9] = {
    kTopEdge, kBottomEdge, kLeftEdge, kRightEdge, kTopEdge | kLeftEdge, kTopEdge | kRightEdge,
    kBottomEdge | kLeftEdge, kBottomEdge | kRightEdge, kTopEdge | kBottomEdge | kLeftEdge | kRightEdge,
};

TToolCursor CursorOf(uint8_t kind)
{
    switch (kind) {
    case hkTop:
    case hkBottom: return TToolCursor::SizeNS;
    case hkLeft:
    case hkRight: return TToolCursor::SizeWE;
    case hkTopLeft:
    case hkBottomRight: return TToolCursor::SizeNWSE;
    case hkTopRight:
    case hkBottomLeft: return TToolCursor::SizeNESW;
    case hkMove: return TToolCursor::SizeAll;
    default: return TToolCursor::Default;
    }
}

// The scroll position Trunc(start + d), kept within 0 and the int range (the scroll bar
// clamps to its range in any case).
int32_t TruncPosition(int32_t start, float d)
{
    const long double v = std::trunc(static_cast<long double>(start) + static_cast<long double>(d));
    if (!(v > 0))
        return 0;
    return v > 2147483647.0L ? INT32_MAX : static_cast<int32_t>(v);
}

}  // namespace

std::optional<TRect> TSelectTool::Selection() const
{
    if (!HasSelection())
        return std::nullopt;
    return FRect;
}

void TSelectTool::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TSelectTool::Deselect()
{
    FRect = {-1, -1, -1, -1};
    Changed();
}

void TSelectTool::SetRect(const TRect& r)
{
    FRect = r;
    Changed();
}

void TSelectTool::SetMinimumUnit(uint8_t unit)
{
    // A grid above 32 can only come from an edited settings file; it means no grid.
    FMinimumUnit = unit <= 32 ? unit : 1;
}

void TSelectTool::ClampToPicture()
{
    if (!HasSelection())
        return;
    const int32_t w = FHost.PictureWidth(), h = FHost.PictureHeight();
    if (FRect.Left < w && FRect.Top < h) {
        bool changed = false;
        if (FRect.Right >= w) {
            changed = changed || FRect.Right != w;
            FRect.Right = w;
        }
        if (FRect.Bottom >= h) {
            changed = changed || FRect.Bottom != h;
            FRect.Bottom = h;
        }
        if (changed)
            Changed();
    } else {
        Deselect();
    }
}

TRect TSelectTool::ScreenRect() const
{
    const TRect a = FHost.ImageToScreen(FRect.Left, FRect.Top);
    const TRect b = FHost.ImageToScreen(FRect.Right, FRect.Bottom);
    return {a.Left, a.Top, b.Left, b.Top};
}

TRect TSelectTool::HandleRect(uint8_t kind, bool drawing) const
{
    if (kind >= hkNowhere)
        return {};
    if (kind == hkPicture) {
        const TRect a = FHost.ImageToScreen(0, 0);
        const TRect b = FHost.ImageToScreen(FHost.PictureWidth(), FHost.PictureHeight());
        return {a.Left, a.Top, b.Right, b.Bottom};
    }
    const TRect s = ScreenRect();
    if (kind == hkMove)
        return s;
    const int32_t L = s.Left, T = s.Top, R = s.Right, B = s.Bottom;
    const int32_t handle = Scaled(kHandle, FHost), zone = Scaled(kZone, FHost);
    if (drawing) {
        int32_t x = R, y = B;
        switch (kind) {
        case hkTop:
        case hkBottom: x = (L + R - handle) / 2; break;
        case hkLeft:
        case hkTopLeft:
        case hkBottomLeft: x = L - handle; break;
        default: break;
        }
        switch (kind) {
        case hkTop:
        case hkTopLeft:
        case hkTopRight: y = T - handle; break;
        case hkLeft:
        case hkRight: y = (T + B - handle) / 2; break;
        default: break;
        }
        return RectOfSize(x, y, handle, handle);
    }
    switch (kind) {
    case hkTop: return RectOfSize(L, T - zone, R - L, zone);
    case hkBottom: return RectOfSize(L, B, R - L, zone);
    case hkLeft: return RectOfSize(L - zone, T, zone, B - T);
    case hkRight: return RectOfSize(R, T, zone, B - T);
    case hkTopLeft: return RectOfSize(L - zone, T - zone, zone, zone);
    case hkTopRight: return RectOfSize(R, T - zone, zone, zone);
    case hkBottomLeft: return RectOfSize(L - zone, B, zone, zone);
    default: return RectOfSize(R, B, zone, zone);
    }
}

int32_t TSelectTool::HandleLineWidth() const { return Scaled(kHandleLine, FHost); }

uint8_t TSelectTool::HitTest(TPoint p) const
{
    if (FHost.PictureWidth() < 1 || FHost.PictureHeight() < 1)
        return hkNowhere;
    const uint8_t first = HasSelection() ? hkTop : hkPicture;
    for (uint8_t kind = first; kind < hkNowhere; ++kind)
        if (Contains(HandleRect(kind, false), p))
            return kind;
    return hkNowhere;
}

TPoint TSelectTool::SnapPoint(TPoint p, bool isStart) const
{
    const int32_t u = FMinimumUnit;
    if (u <= 1)
        return p;
    const auto snap = [u, isStart](int32_t v, int32_t limit) {
        int32_t r = isStart ? (v / u) * u : (v / u + 1) * u;
        if (limit < r)
            r -= u;
        return r;
    };
    return {snap(p.X, FHost.PictureWidth()), snap(p.Y, FHost.PictureHeight())};
}

void TSelectTool::MouseDown(TPoint p)
{
    FDownPoint = p;
    FHandle = HitTest(p);
    const TPoint q = FHost.ScreenToImage(p);
    if (FHandle == hkPicture) {
        if (q.X < 0 || q.Y < 0 || q.X >= FHost.PictureWidth() || q.Y >= FHost.PictureHeight())
            return;
        FDragging = true;
        FSavedRect = FRect;
        FAnchor = q;
        const TPoint start = SnapPoint(q, true);
        FRect = {start.X, start.Y, start.X, start.Y};
    } else if (FHandle < hkPicture) {
        FDragging = true;
        FAnchor = {q.X - FRect.Left, q.Y - FRect.Top};
        FSavedRect = FRect;
    }
}

bool TSelectTool::MouseMove(TPoint p, TToolCursor& cursor)
{
    if (!FDragging) {
        cursor = CursorOf(HitTest(p));
        return false;
    }
    const int32_t W = FHost.PictureWidth(), H = FHost.PictureHeight();
    const TPoint q = FHost.ScreenToImage(p);
    if (FHandle == hkPicture) {
        const TPoint c{std::clamp(q.X, 0, W - 1), std::clamp(q.Y, 0, H - 1)};
        const TPoint topLeft = SnapPoint({std::min(FAnchor.X, c.X), std::min(FAnchor.Y, c.Y)}, true);
        const TPoint bottomRight = SnapPoint({std::max(FAnchor.X, c.X) + 1, std::max(FAnchor.Y, c.Y) + 1}, false);
        FRect = {topLeft.X, topLeft.Y, bottomRight.X, bottomRight.Y};
    } else {
        // Differences in 64 bits: a point far outside the window at a small zoom maps far away.
        auto fit = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
        const int32_t dx = fit(int64_t(q.X) - FAnchor.X), dy = fit(int64_t(q.Y) - FAnchor.Y);
        const TRect& s = FSavedRect;
        const uint8_t edges = kEdges[FHandle];
        if (FHandle == hkMove) {
            FRect = {dx, dy, dx + s.Width(), dy + s.Height()};
        } else {
            // One axis: the dragged edge goes to d (the far edge to d plus the size) and the
            // other stays; dragged past it, the two change places.
            const auto axis = [edges](uint8_t lowEdge, uint8_t highEdge, int32_t d, int32_t low, int32_t high,
                                      int32_t& outLow, int32_t& outHigh) {
                if (!(edges & (lowEdge | highEdge)))
                    return;
                const int32_t other = edges & lowEdge ? high : low;
                if (edges & highEdge)
                    d += high - low;
                outLow = std::min(d, other);
                outHigh = std::max(d, other);
            };
            FRect = s;
            axis(kTopEdge, kBottomEdge, dy, s.Top, s.Bottom, FRect.Top, FRect.Bottom);
            axis(kLeftEdge, kRightEdge, dx, s.Left, s.Right, FRect.Left, FRect.Right);
        }
        FRect.Left = std::clamp(FRect.Left, 0, W);
        FRect.Right = std::clamp(FRect.Right, 0, W);
        FRect.Top = std::clamp(FRect.Top, 0, H);
        FRect.Bottom = std::clamp(FRect.Bottom, 0, H);
        const TPoint a = SnapPoint({FRect.Left, FRect.Top}, true);
        const TPoint b = SnapPoint({FRect.Right, FRect.Bottom}, true);
        FRect = {a.X, a.Y, b.X, b.Y};
    }
    const bool outside = p.X < 0 || p.X > FHost.ClientWidth() || p.Y < 0 || p.Y > FHost.ClientHeight();
    FHost.SetAutoScrollTimer(outside);
    return true;
}

bool TSelectTool::MouseUp(TPoint p)
{
    if (!FDragging)
        return false;
    FDragging = false;
    FHost.SetAutoScrollTimer(false);
    if (int64_t(FRect.Width()) * FRect.Height() == 0)
        Deselect();
    else if (FHandle == hkPicture && p == FDownPoint)
        Deselect();
    else if (!(FRect == FSavedRect))
        Changed();
    return true;
}

void TSelectTool::AutoScroll()
{
    TPoint pos = FHost.ScrollPositions();
    const TPoint m = FHost.MousePosition();
    const TRect c = FHost.ClientScreenRect();
    const auto axis = [](int32_t& position, int32_t mouse, int32_t low, int32_t high) {
        if (position == -1)
            return;
        const int64_t v = mouse > high ? int64_t(position) + (mouse - int64_t(high))
                        : mouse < low  ? int64_t(position) - (int64_t(low) - mouse)
                                       : position;
        position = int32_t(std::clamp<int64_t>(v, 0, INT32_MAX));
    };
    axis(pos.X, m.X, c.Left, c.Right);
    axis(pos.Y, m.Y, c.Top, c.Bottom);
    FHost.SetScrollPositions(pos);
}

void TTenohiraTool::MouseDown(TPoint p)
{
    FStart = p;
    FStartScroll = FHost.ScrollPositions();
}

bool TTenohiraTool::MouseMove(TPoint p, TToolCursor& cursor)
{
    if (!IsDragging())
        return false;
    TPoint pos = FHost.ScrollPositions();
    const long double z = static_cast<long double>(FHost.Zoom());
    const auto axis = [this, z](int32_t& position, int32_t start, int32_t from, int32_t to) {
        if (start == -1)
            return;
        float d = static_cast<float>(z * static_cast<long double>(int64_t(to) - from) / 2.0L);
        if (!FInvert)
            d = -d;
        position = TruncPosition(start, d);
    };
    axis(pos.X, FStartScroll.X, FStart.X, p.X);
    axis(pos.Y, FStartScroll.Y, FStart.Y, p.Y);
    FHost.SetScrollPositions(pos);
    cursor = TToolCursor::SizeAll;
    return true;
}

bool TTenohiraTool::MouseUp(TPoint)
{
    FStart = {-1, -1};
    FStartScroll = {-1, -1};
    return false;
}

}  // namespace nolvi2
