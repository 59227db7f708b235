#include "ZoomView.h"

#include "image/OZBLibResize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace nolvi2 {

namespace {

// The single-precision zoom step below 1, widened.
constexpr long double kSmallStep = static_cast<long double>(0.2f);

// An integral long double into int32, saturating at the ends (client points far outside
// the window at a small zoom can leave the range).
int32_t SaturateToInt(long double v)
{
    if (!(v > static_cast<long double>(std::numeric_limits<int32_t>::min())))
        return v != v ? 0 : std::numeric_limits<int32_t>::min();
    if (v > static_cast<long double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

int32_t Round(long double v) { return SaturateToInt(std::nearbyint(v)); }
int32_t Trunc(long double v) { return SaturateToInt(std::trunc(v)); }
int32_t Floor(long double v) { return SaturateToInt(std::floor(v)); }
int32_t Ceil(long double v) { return SaturateToInt(std::ceil(v)); }

long double Wide(float z) { return static_cast<long double>(z); }

// Copies n bytes from src to dst (which may be the same memory), shading them: mode 1 halves
// each byte, any other mode lightens it to min(255, b + 128). Plain loops, vectorised by the
// compiler.
void ShadeBytes(const uint8_t* src, uint8_t* dst, std::size_t n, uint8_t mode)
{
    if (mode == 1) {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = uint8_t(src[i] >> 1);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = uint8_t(std::min(255, src[i] + 128));
    }
}

// The part of [lo, hi) inside [0, extent), as [first, last); empty (first == last) when the
// span is empty or lies outside.
void ClipSpan(int32_t lo, int32_t hi, int32_t extent, int32_t& first, int32_t& last)
{
    first = std::clamp(lo, 0, extent);
    last = std::clamp(hi, first, extent);
}

// Writes row y of a 24-bit picture of the given width from src to dst, shading the pixels
// outside the columns [x0, x1) or the whole row when it is outside the rows [y0, y1). src and
// dst may be the same row.
void ShadeRow(const uint8_t* src, uint8_t* dst, int32_t width, int32_t y, int32_t x0, int32_t x1, int32_t y0,
              int32_t y1, uint8_t mode)
{
    const std::size_t n = std::size_t(width) * 3;
    if (y < y0 || y >= y1 || x0 == x1) {
        ShadeBytes(src, dst, n, mode);
        return;
    }
    const std::size_t a = std::size_t(x0) * 3, b = std::size_t(x1) * 3;
    ShadeBytes(src, dst, a, mode);
    if (src != dst)
        std::memcpy(dst + a, src + a, b - a);
    ShadeBytes(src + b, dst + b, n - b, mode);
}

}  // namespace

float ClampZoom(float z)
{
    if (std::isnan(z))
        return 1.0f;
    if (Wide(z) < 0.01L)
        return kMinZoom;
    if (z > kMaxZoom)
        return kMaxZoom;
    return z;
}

float ZoomInValue(float z)
{
    const long double step = z < 1 ? kSmallStep : z < 5 ? 0.5L : 1.0L;
    return static_cast<float>(Wide(z) + step);
}

float ZoomOutValue(float z)
{
    const long double step = z <= 1 ? kSmallStep : z <= 5 ? 0.5L : 1.0L;
    return static_cast<float>(Wide(z) - step);
}

int32_t ZoomedExtent(int32_t extent, float z) { return Round(static_cast<long double>(extent) * Wide(z)); }

int32_t ScrollRange(int32_t extent, float z) { return Trunc(static_cast<long double>(extent) * Wide(z)); }

int32_t DeviceExtent(int32_t logical, double ratio) { return DevicePosition(logical, ratio); }

int32_t LogicalExtent(int32_t device, double ratio)
{
    if (device <= 0 || !(ratio > 0))
        return device;
    // The quotient rounded up, made sure of against the quotient's own rounding.
    const long double r = ratio;
    int32_t logical = Ceil(static_cast<long double>(device) / r);
    while (logical > 0 && static_cast<long double>(logical - 1) * r >= device)
        --logical;
    while (static_cast<long double>(logical) * r < device)
        ++logical;
    return logical;
}

int32_t DevicePosition(double logical, double ratio)
{
    return Floor(static_cast<long double>(logical) * ratio + 0.5L);
}

TPaintSpan PaintSpanZoomIn(int32_t extent, int32_t client, int32_t scroll, float z)
{
    const long double zl = Wide(z);
    const int32_t S = ZoomedExtent(extent, z);
    TPaintSpan span;
    if (client < S) {
        // The first visible source pixel and how far its block starts left of the client.
        const float t = static_cast<float>(static_cast<long double>(scroll) / zl);
        span.SrcStart = Floor(Wide(t));
        span.SrcEnd = Ceil(static_cast<long double>(client) / zl) + span.SrcStart + 1;
        span.DstStart = -Trunc((Wide(t) - span.SrcStart) * zl);
        span.DstEnd = Trunc(static_cast<long double>(span.SrcEnd - span.SrcStart) * zl) + span.DstStart;
    } else {
        span.SrcStart = 0;
        span.SrcEnd = extent;
        span.DstStart = (client - S) / 2;
        span.DstEnd = S + span.DstStart;
    }
    return span;
}

int32_t PaintOffsetZoomOut(int32_t extent, int32_t client, int32_t scroll)
{
    return client >= extent ? (client - extent) / 2 : -scroll;
}

TPaintGeometry PaintGeometry(const TView& view, int32_t drawnWidth, int32_t drawnHeight)
{
    TPaintGeometry g;
    if (view.Zoom >= 1) {
        const TPaintSpan h = PaintSpanZoomIn(drawnWidth, view.ClientWidth, view.ScrollX, view.Zoom);
        const TPaintSpan v = PaintSpanZoomIn(drawnHeight, view.ClientHeight, view.ScrollY, view.Zoom);
        g.Source = {h.SrcStart, v.SrcStart, h.SrcEnd, v.SrcEnd};
        g.Dest = {h.DstStart, v.DstStart, h.DstEnd, v.DstEnd};
        g.Painted = g.Dest;
    } else {
        const int32_t x = PaintOffsetZoomOut(drawnWidth, view.ClientWidth, view.ScrollX);
        const int32_t y = PaintOffsetZoomOut(drawnHeight, view.ClientHeight, view.ScrollY);
        g.Source = {0, 0, drawnWidth, drawnHeight};
        g.Dest = {x, y, x + drawnWidth, y + drawnHeight};
        g.Painted = {std::max(x, 0), std::max(y, 0), std::min(x + drawnWidth, view.ClientWidth),
                     std::min(y + drawnHeight, view.ClientHeight)};
    }
    return g;
}

void CutToBitmap(TPaintGeometry& geometry, int32_t width, int32_t height, float z)
{
    const auto cut = [z](int32_t& srcEnd, int32_t& dstEnd, int32_t srcStart, int32_t dstStart, int32_t extent) {
        if (srcEnd > extent) {
            srcEnd = extent;
            dstEnd = dstStart + Trunc(static_cast<long double>(srcEnd - srcStart) * Wide(z));
        }
    };
    TRect& src = geometry.Source;
    TRect& dst = geometry.Dest;
    cut(src.Right, dst.Right, src.Left, dst.Left, width);
    cut(src.Bottom, dst.Bottom, src.Top, dst.Top, height);
}

TScrollLayout ScrollLayout(int32_t rangeX, int32_t rangeY, int32_t width, int32_t height, int32_t barWidth,
                           int32_t barHeight, double ratio)
{
    TScrollLayout l;
    for (int pass = 0; pass < 2; ++pass) {
        const int32_t cw = width - (l.ShowVert ? barWidth : 0), ch = height - (l.ShowHorz ? barHeight : 0);
        l.ShowHorz = rangeX > DeviceExtent(cw, ratio);
        l.ShowVert = rangeY > DeviceExtent(ch, ratio);
    }
    l.ClientWidth = width - (l.ShowVert ? barWidth : 0);
    l.ClientHeight = height - (l.ShowHorz ? barHeight : 0);
    const int32_t cw = DeviceExtent(l.ClientWidth, ratio), ch = DeviceExtent(l.ClientHeight, ratio);
    l.HorzMax = std::max(0, rangeX - cw);
    l.VertMax = std::max(0, rangeY - ch);
    l.HorzPage = std::max(1, cw);
    l.VertPage = std::max(1, ch);
    l.HorzStep = DeviceExtent(kHorzScrollStep, ratio);
    l.VertStep = DeviceExtent(kVertScrollStep, ratio);
    return l;
}

TPoint FitClientSize(int32_t clientWidth, int32_t clientHeight, double ratio, TPoint frameTopLeft, int32_t frameWidth,
                     int32_t frameHeight, const std::optional<TRect>& workArea)
{
    int32_t w = std::max(LogicalExtent(clientWidth, ratio), kMinClientWidth);
    int32_t h = std::max(LogicalExtent(clientHeight, ratio), kMinClientHeight);
    if (workArea) {
        const int64_t roomX = int64_t(workArea->Right) - frameTopLeft.X - frameWidth;
        const int64_t roomY = int64_t(workArea->Bottom) - frameTopLeft.Y - frameHeight;
        if (roomX < w)
            w = int32_t(std::max<int64_t>(kMinClientWidth, roomX));
        if (roomY < h)
            h = int32_t(std::max<int64_t>(kMinClientHeight, roomY));
    }
    return {w, h};
}

TPoint RescuedPosition(TPoint position, std::span<const TScreenArea> screens, int32_t outerWidth, int32_t outerHeight)
{
    if (screens.empty())
        return position;
    const TScreenArea* on = &screens.front();
    for (const TScreenArea& s : screens) {
        const TRect& g = s.Geometry;
        if (position.X >= g.Left && position.X < g.Right && position.Y >= g.Top && position.Y < g.Bottom) {
            on = &s;
            break;
        }
    }
    const TRect& a = on->WorkArea;
    const auto axis = [](int32_t v, int32_t low, int32_t high, int32_t extent) {
        return int32_t(std::clamp<int64_t>(v, low, std::max<int64_t>(low, int64_t(high) - extent)));
    };
    return {axis(position.X, a.Left, a.Right, outerWidth), axis(position.Y, a.Top, a.Bottom, outerHeight)};
}

TRect ImageToScreen(const TView& view, int32_t x, int32_t y)
{
    const long double z = Wide(view.Zoom);
    auto axis = [z, &view](int32_t v, int32_t extent, int32_t client, int32_t scroll) {
        const int32_t S = ZoomedExtent(extent, view.Zoom);
        if (S <= client)
            return (client - S) / 2 + Trunc(static_cast<long double>(v) * z);
        return Round(static_cast<long double>(v) * z) - scroll;
    };
    const int32_t left = axis(x, view.PictureWidth, view.ClientWidth, view.ScrollX);
    const int32_t top = axis(y, view.PictureHeight, view.ClientHeight, view.ScrollY);
    const int32_t side = Round(z);
    return {left, top, left + side, top + side};
}

TPoint ScreenToImage(const TView& view, const TRect& paintedRect, int32_t x, int32_t y)
{
    const long double z = Wide(view.Zoom);
    auto axis = [z, &view](int32_t v, int32_t extent, int32_t client, int32_t painted, int32_t scroll) {
        const int32_t S = ZoomedExtent(extent, view.Zoom);
        const int64_t offset = S <= client ? int64_t(v) - painted : int64_t(v) + scroll;
        return Trunc(static_cast<long double>(offset) / z);
    };
    return {axis(x, view.PictureWidth, view.ClientWidth, paintedRect.Left, view.ScrollX),
            axis(y, view.PictureHeight, view.ClientHeight, paintedRect.Top, view.ScrollY)};
}

TRect DisplaySelection(const TRect& selection, float z)
{
    if (z > 1)
        return selection;
    const long double zl = Wide(z);
    return {Round(selection.Left * zl), Round(selection.Top * zl), Round(selection.Right * zl),
            Round(selection.Bottom * zl)};
}

void ShadeOutside(TBitmap& bitmap, const TRect& rect, uint8_t outOfSelection)
{
    if (outOfSelection == 0 || bitmap.PixelFormat() != TPixelFormat::pf24bit)
        return;
    int32_t x0, x1, y0, y1;
    ClipSpan(rect.Left, rect.Right, bitmap.Width(), x0, x1);
    ClipSpan(rect.Top, rect.Bottom, bitmap.Height(), y0, y1);
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        if (y >= y0 && y < y1 && x0 == 0 && x1 == bitmap.Width())
            continue;  // wholly inside
        uint8_t* row = bitmap.ScanLine(y);
        ShadeRow(row, row, bitmap.Width(), y, x0, x1, y0, y1, outOfSelection);
    }
}

std::unique_ptr<TBitmap> BuildDisplayBitmap(const TBitmap& source, float zoom, const std::optional<TRect>& selection,
                                            uint8_t outOfSelection)
{
    const bool direct = source.PixelFormat() == TPixelFormat::pf24bit || !selection;
    if (zoom >= 1 && direct)
        return nullptr;
    const int32_t w = source.Width(), h = source.Height();
    if (w < 1 || h < 1)
        return nullptr;

    std::unique_ptr<TBitmap> display;
    if (zoom < 1) {
        // A side that would round to nothing keeps one pixel, so that a very small zoom of a
        // thin picture still shows something instead of failing. No progress is reported,
        // so the source is only read.
        const int32_t dw = std::max(ZoomedExtent(w, zoom), 1);
        const int32_t dh = std::max(ZoomedExtent(h, zoom), 1);
        display = ResizeBitmap(const_cast<TBitmap&>(source), dw, dh, 32, false, raNearest);
    } else {
        display = std::make_unique<TBitmap>();
        display->Assign(source);
    }
    if (!selection)
        return display;
    display->SetPixelFormat(TPixelFormat::pf24bit);
    ShadeOutside(*display, DisplaySelection(*selection, zoom), outOfSelection);
    return display;
}

void ShadePart(const TBitmap& source, const TRect& part, const TRect& selection, uint8_t outOfSelection, TBitmap& out)
{
    const int32_t w = part.Width(), h = part.Height();
    if (out.PixelFormat() != TPixelFormat::pf24bit || out.Width() != w || out.Height() != h) {
        out.SetSize(0, 0);
        out.SetPixelFormat(TPixelFormat::pf24bit);
        out.SetSize(w, h);
    }
    // The selection's columns and rows relative to the part.
    int32_t x0, x1, y0, y1;
    ClipSpan(int32_t(std::clamp<int64_t>(int64_t(selection.Left) - part.Left, 0, w)),
             int32_t(std::clamp<int64_t>(int64_t(selection.Right) - part.Left, 0, w)), w, x0, x1);
    ClipSpan(int32_t(std::clamp<int64_t>(int64_t(selection.Top) - part.Top, 0, h)),
             int32_t(std::clamp<int64_t>(int64_t(selection.Bottom) - part.Top, 0, h)), h, y0, y1);
    const std::size_t offset = std::size_t(part.Left) * 3;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = source.ScanLine(part.Top + y) + offset;
        if (outOfSelection == 0)
            std::memcpy(out.ScanLine(y), src, std::size_t(w) * 3);
        else
            ShadeRow(src, out.ScanLine(y), w, y, x0, x1, y0, y1, outOfSelection);
    }
}

}  // namespace nolvi2
