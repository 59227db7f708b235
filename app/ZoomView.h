#pragma once
// The window's display arithmetic, free of any toolkit: the zoom factor and its steps, where
// the picture is drawn in the client area for a zoom and scroll position, the mapping
// between picture pixels and client points, the scroll ranges, and the display bitmap that
// holds the zoomed-out picture, the JPEG preview or the shaded surroundings of a selection.
//
// Client coordinates are device pixels: at zoom 1 one picture pixel covers one pixel of the
// screen, whatever the screen's device pixel ratio (how many device pixels the toolkit's
// logical pixel covers). Real values are formed in extended precision (long double) from the
// single-precision zoom; Round is to nearest with ties to even.

#include "platform/Bitmap.h"
#include "platform/Types.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace nolvi2 {

inline constexpr float kMinZoom = 0.01f;
inline constexpr float kMaxZoom = 20.0f;

// The zoom SetZoom keeps: below 0.01 it becomes 0.01f, above 20 it becomes 20.
float ClampZoom(float z);

// The values the zoom commands pass to SetZoom (not yet clamped): z plus or minus a step of
// 0.2f (widened) below 1 (zooming out: up to 1), 0.5 up to 5 and 1 above, summed in extended
// precision and rounded to single precision.
float ZoomInValue(float z);
float ZoomOutValue(float z);

// Round(extent × z): the zoomed size of a picture side, and the display bitmap's size below
// zoom 1.
int32_t ZoomedExtent(int32_t extent, float z);
// Trunc(extent × z): the range of a scroll bar and the client size the window fits itself to.
int32_t ScrollRange(int32_t extent, float z);

// Logical pixels and device pixels at a device pixel ratio. An extent of logical pixels
// covers Round(logical × ratio) device pixels, halves rounded up, as the toolkit sizes a
// window's surface. LogicalExtent is the smallest logical extent whose exact product with the
// ratio reaches device: at a fractional ratio the window system rounds a window's edges, so
// that a surface of Round(logical × ratio) pixels may show one less, but never fewer than the
// product. DevicePosition is the device pixel of a logical position (the toolkit's logical
// mouse positions are device pixels divided by the ratio), halves rounded up.
int32_t DeviceExtent(int32_t logical, double ratio);
int32_t LogicalExtent(int32_t device, double ratio);
int32_t DevicePosition(double logical, double ratio);

// What the paint handler needs of the window: the picture's size, the client area, the scroll
// bar positions and the zoom.
struct TView {
    int32_t PictureWidth = 0;
    int32_t PictureHeight = 0;
    int32_t ClientWidth = 0;
    int32_t ClientHeight = 0;
    int32_t ScrollX = 0;
    int32_t ScrollY = 0;
    float Zoom = 1.0f;
};

// One axis at zoom 1 or more: the source columns (or rows) [SrcStart, SrcEnd) of the drawn
// bitmap stretch onto the client span [DstStart, DstEnd). When the zoomed picture is larger
// than the client, drawing starts at the scroll position: SrcEnd may lie one pixel beyond
// the bitmap, whose destination then lies beyond the client area.
struct TPaintSpan {
    int32_t SrcStart = 0;
    int32_t SrcEnd = 0;
    int32_t DstStart = 0;
    int32_t DstEnd = 0;
    friend bool operator==(const TPaintSpan&, const TPaintSpan&) = default;
};
TPaintSpan PaintSpanZoomIn(int32_t extent, int32_t client, int32_t scroll, float z);

// One axis below zoom 1: where the already zoomed bitmap's first column (or row) is drawn,
// unscaled: centred when it fits, else at minus the scroll position.
int32_t PaintOffsetZoomOut(int32_t extent, int32_t client, int32_t scroll);

// What FormPaint draws: Source of the drawn bitmap (the display bitmap, else the picture)
// onto Dest of the client; Painted is the client rectangle the picture covers (Dest itself at
// zoom 1 or more, Dest clipped to the client below 1).
struct TPaintGeometry {
    TRect Source;
    TRect Dest;
    TRect Painted;
};
// drawnWidth, drawnHeight: the size of the bitmap that is drawn (below zoom 1 the zoomed
// display bitmap, otherwise the picture's size).
TPaintGeometry PaintGeometry(const TView& view, int32_t drawnWidth, int32_t drawnHeight);

// At zoom 1 or more the source may reach one pixel past the drawn bitmap (see
// PaintSpanZoomIn); the drawn part is cut to the bitmap's width × height, and its destination
// to Trunc of the remaining source extent × z. Painted is left as it is.
void CutToBitmap(TPaintGeometry& geometry, int32_t width, int32_t height, float z);

// The scroll bars' arrow steps, in logical pixels.
inline constexpr int32_t kHorzScrollStep = 40, kVertScrollStep = 26;

// The scroll bars of a window of width × height logical pixels whose picture is rangeX ×
// rangeY device pixels at its zoom. A bar shows only when the range does not fit the client;
// showing one bar shrinks the client (by the other bar's logical thickness barWidth or
// barHeight), which may call for the other. Ranges, pages and steps count device pixels.
struct TScrollLayout {
    bool ShowHorz = false;
    bool ShowVert = false;
    int32_t ClientWidth = 0;  // logical, less the visible bars
    int32_t ClientHeight = 0;
    int32_t HorzMax = 0;  // the bars' ranges are 0 to these
    int32_t VertMax = 0;
    int32_t HorzPage = 1;
    int32_t VertPage = 1;
    int32_t HorzStep = 0;
    int32_t VertStep = 0;
    friend bool operator==(const TScrollLayout&, const TScrollLayout&) = default;
};
TScrollLayout ScrollLayout(int32_t rangeX, int32_t rangeY, int32_t width, int32_t height, int32_t barWidth,
                           int32_t barHeight, double ratio);

// The smallest client a window keeps, in logical pixels: wide enough that the title bar above
// it has room for its buttons, the close button among them, and tall enough to show a picture.
inline constexpr int32_t kMinClientWidth = 120;
inline constexpr int32_t kMinClientHeight = 40;

// The logical client size of a window fitted to client device pixels clientWidth ×
// clientHeight (at least kMinClientWidth × kMinClientHeight). The window is never moved: when
// the framed window, its frame's top-left at frameTopLeft and its frame adding frameWidth and
// frameHeight, would reach past the work area's right or bottom edge, it shrinks to end there,
// to no less than the smallest client.
TPoint FitClientSize(int32_t clientWidth, int32_t clientHeight, double ratio, TPoint frameTopLeft, int32_t frameWidth,
                     int32_t frameHeight, const std::optional<TRect>& workArea);

// A screen's whole rectangle and its work area (less task bars and panels).
struct TScreenArea {
    TRect Geometry;
    TRect WorkArea;
};

// A window position (its frame's top-left) that leaves a window of outerWidth × outerHeight
// usable: its title bar and client on the work area of the screen the position lies on, or of
// the primary screen (the first one) when it lies on none. The position is kept where the
// window fits; else it moves onto that work area, by as little as makes the window fit (to
// the work area's top-left corner when the window is larger). No screens: kept.
TPoint RescuedPosition(TPoint position, std::span<const TScreenArea> screens, int32_t outerWidth, int32_t outerHeight);

// The client rectangle of picture pixel (x, y): a square of side Round(z).
TRect ImageToScreen(const TView& view, int32_t x, int32_t y);
// The picture pixel under client point (x, y); paintedRect is the client rectangle the
// picture is painted in. Not clamped to the picture; truncation toward zero maps points less than one
// zoomed pixel left of or above the picture to column or row 0.
TPoint ScreenToImage(const TView& view, const TRect& paintedRect, int32_t x, int32_t y);

// The selection in display-bitmap coordinates: unchanged above zoom 1, else each edge
// multiplied by z and rounded.
TRect DisplaySelection(const TRect& selection, float z);

// Shades every pixel of a 24-bit bitmap outside rect (right and bottom exclusive):
// outOfSelection 1 halves each colour byte, 2 lightens it to min(255, b + 128); 0 leaves the
// bitmap alone.
void ShadeOutside(TBitmap& bitmap, const TRect& rect, uint8_t outOfSelection);

// The display bitmap that the window draws instead of its source (the JPEG preview while it
// is on, else the picture), or null when the source is drawn as it is: at zoom 1 or more a
// 24-bit source is drawn directly, and the paint shades only what it shows (ShadePart).
// Below zoom 1 it is the source resized by nearest neighbour to the zoomed size (at least
// 1 × 1); at zoom 1 or more a source of another format with a selection gets a copy. With a
// selection the display bitmap is then made 24-bit and shaded outside the selection as
// outOfSelection says. An empty source gives null (there is nothing to draw).
std::unique_ptr<TBitmap> BuildDisplayBitmap(const TBitmap& source, float zoom, const std::optional<TRect>& selection,
                                            uint8_t outOfSelection);

// The columns part.Left to part.Right − 1 of rows part.Top to part.Bottom − 1 of a 24-bit
// source (part lies inside it) into out, a 24-bit bitmap of the part's size, shaded outside
// the selection (in source coordinates) as outOfSelection says. out keeps its storage when
// its size does not change.
void ShadePart(const TBitmap& source, const TRect& part, const TRect& selection, uint8_t outOfSelection, TBitmap& out);

}  // namespace nolvi2
