#pragma once
// The selection tool, which draws, moves and resizes one rectangular selection in picture
// coordinates on an optional grid, and the hand tool, which scrolls by dragging.

#include "nolviTool.h"

#include <functional>
#include <optional>

namespace nolvi2 {

// Where a point lies relative to the selection: its eight handle zones, inside it, on the
// picture, or nowhere.
enum THitKind : uint8_t {
    hkTop = 0,
    hkBottom = 1,
    hkLeft = 2,
    hkRight = 3,
    hkTopLeft = 4,
    hkTopRight = 5,
    hkBottomLeft = 6,
    hkBottomRight = 7,
    hkMove = 8,
    hkPicture = 9,
    hkNowhere = 10,
};

class TSelectTool : public TNolviTool {
public:
    explicit TSelectTool(TToolHost& host) : FHost(host) {}

    // Called with the tool as sender whenever the selection changes outside a drag, and at the
    // end of a drag that changed it.
    std::function<void(TSelectTool* sender)> OnChange;

    bool HasSelection() const { return FRect.Left != -1; }
    int32_t SelWidth() const { return FRect.Width(); }
    int32_t SelHeight() const { return FRect.Height(); }
    const TRect& Rect() const { return FRect; }
    // The selection, or none.
    std::optional<TRect> Selection() const;
    uint8_t MinimumUnit() const { return FMinimumUnit; }

    void Deselect();
    void SetRect(const TRect& r);
    // The grid: 1 (none), 8, 16, 24 or 32; a value above 32 means no grid.
    void SetMinimumUnit(uint8_t unit);
    // Cuts the selection to the picture, or removes it when its top-left corner lies outside.
    void ClampToPicture();

    TRect ScreenRect() const;
    // The client rectangle of a hit kind: the 12-pixel zone that finds it (drawing false) or
    // the 6 × 6 handle square that is drawn (drawing true; kinds 0 to 7). The sizes are
    // logical pixels, scaled to device pixels by the host's pixel ratio.
    TRect HandleRect(uint8_t kind, bool drawing) const;
    // The width of a drawn handle square's outline.
    int32_t HandleLineWidth() const;
    uint8_t HitTest(TPoint p) const;
    TPoint SnapPoint(TPoint p, bool isStart) const;

    bool IsDragging() const override { return FDragging; }
    void MouseDown(TPoint p) override;
    bool MouseMove(TPoint p, TToolCursor& cursor) override;
    bool MouseUp(TPoint p) override;
    // Scrolls toward the mouse while it is outside the client area during a drag.
    void AutoScroll();

private:
    void Changed();

    TToolHost& FHost;
    TRect FRect{-1, -1, -1, -1};
    bool FDragging = false;
    uint8_t FHandle = hkNowhere;
    TPoint FAnchor;
    TRect FSavedRect{-1, -1, -1, -1};
    TPoint FDownPoint;
    uint8_t FMinimumUnit = 8;
};

// The hand tool: dragging scrolls the picture, at half the pointer's speed times the zoom
// (both in device pixels: at 200 % the picture moves with the pointer), following the
// pointer, or against it when inverted.
class TTenohiraTool : public TNolviTool {
public:
    explicit TTenohiraTool(TToolHost& host) : FHost(host) {}

    bool Invert() const { return FInvert; }
    void SetInvert(bool invert) { FInvert = invert; }

    bool IsDragging() const override { return FStart.X != -1; }
    void MouseDown(TPoint p) override;
    bool MouseMove(TPoint p, TToolCursor& cursor) override;
    bool MouseUp(TPoint p) override;

private:
    TToolHost& FHost;
    bool FInvert = false;
    TPoint FStart{-1, -1};
    TPoint FStartScroll{-1, -1};
};

}  // namespace nolvi2
