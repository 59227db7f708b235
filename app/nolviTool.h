#pragma once
// The window's mouse tools and what they may ask of the window. A tool sees the window only
// through TToolHost, so that the tools can be driven without a toolkit.

#include "platform/Types.h"

#include <cstdint>

namespace nolvi2 {

// The mouse cursors a tool asks for.
enum class TToolCursor : uint8_t {
    Default,
    SizeNS,    // north–south sizing
    SizeWE,    // west–east sizing
    SizeNWSE,  // north-west–south-east sizing
    SizeNESW,  // north-east–south-west sizing
    SizeAll,   // four-way move
};

// The window as the tools see it. Points are client points unless named otherwise, in device
// pixels (as are the client's size and the scroll positions).
class TToolHost {
public:
    virtual ~TToolHost() = default;
    // Device pixels per logical pixel of the window's screen: the selection's handles and their
    // hit zones grow with it, so that they keep their size on the screen.
    virtual double PixelRatio() const { return 1.0; }
    virtual TPoint ScreenToImage(TPoint p) const = 0;
    virtual TRect ImageToScreen(int32_t x, int32_t y) const = 0;
    virtual float Zoom() const = 0;
    // The picture's size, -1 while the picture is empty.
    virtual int32_t PictureWidth() const = 0;
    virtual int32_t PictureHeight() const = 0;
    virtual int32_t ClientWidth() const = 0;
    virtual int32_t ClientHeight() const = 0;
    // The client rectangle in screen coordinates (right and bottom exclusive), in the same
    // device pixels as MousePosition.
    virtual TRect ClientScreenRect() const = 0;
    // For each axis the scroll position, or -1 when that axis cannot scroll.
    virtual TPoint ScrollPositions() const = 0;
    // Each axis whose value is not -1 moves to it (kept within the scroll range).
    virtual void SetScrollPositions(TPoint p) = 0;
    // The mouse position in screen coordinates.
    virtual TPoint MousePosition() const = 0;
    // Starts or stops calling the selection tool's AutoScroll every 100 ms.
    virtual void SetAutoScrollTimer(bool enabled) = 0;
};

class TNolviTool {
public:
    virtual ~TNolviTool() = default;
    virtual bool IsDragging() const = 0;
    virtual void MouseDown(TPoint p) = 0;
    // True when the window must repaint; cursor is the window's cursor, which the tool may
    // change.
    virtual bool MouseMove(TPoint p, TToolCursor& cursor) = 0;
    // True when a drag ended.
    virtual bool MouseUp(TPoint p) = 0;
};

}  // namespace nolvi2
