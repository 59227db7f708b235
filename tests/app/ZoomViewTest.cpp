#include "app/ZoomView.h"
#include "image/OZBLibResize.h"

#include "Pictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

// The zoom after one command, as the window does it: the step, then SetZoom's clamp.
float ZoomIn(float z) { return ClampZoom(ZoomInValue(z)); }
float ZoomOut(float z) { return ClampZoom(ZoomOutValue(z)); }

TBitmap RandomPicture(int32_t w, int32_t h, TPixelFormat pf = TPixelFormat::pf24bit, unsigned seed = 1)
{
    TBitmap bmp(w, h, pf);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < bmp.RowBytes(); ++i)
            bmp.ScanLine(y)[i] = uint8_t(rng());
    return bmp;
}

// The shading rule pixel by pixel.
TBitmap ReferenceShade(const TBitmap& picture, const TRect& r, uint8_t mode)
{
    TBitmap out;
    out.Assign(picture);
    out.SetPixelFormat(TPixelFormat::pf24bit);
    if (mode == 0)
        return out;
    for (int32_t y = 0; y < out.Height(); ++y)
        for (int32_t x = 0; x < out.Width(); ++x)
            if (x < r.Left || x >= r.Right || y < r.Top || y >= r.Bottom)
                for (int c = 0; c < 3; ++c) {
                    uint8_t& b = out.ScanLine(y)[3 * x + c];
                    b = mode == 1 ? uint8_t(b >> 1) : uint8_t(std::min(255, b + 128));
                }
    return out;
}

}  // namespace

TEST(Zoom, StepsGiveTheseSinglePrecisionValues)
{
    // Each step starts from the single-precision zoom of the step before, so the values drift
    // from the decimal ones (0.4 is 0x1.99999cp-2, not 0.4f).
    const float out[] = {0x1.99999ap-1f /* 0.8 */, 0x1.333334p-1f /* 0.6 */, 0x1.99999cp-2f /* 0.4 */,
                         0x1.99999ep-3f /* 0.2 */, 0.01f, 0.01f};
    float z = 1.0f;
    for (float expected : out) {
        z = ZoomOut(z);
        EXPECT_EQ(z, expected) << std::hexfloat << z;
    }

    const float in[] = {0x1.ae147cp-3f /* 0.21 */, 0x1.a3d70cp-2f /* 0.41 */, 0x1.3851ecp-1f /* 0.61 */,
                        0x1.9eb852p-1f /* 0.81 */, 0x1.028f5cp+0f /* 1.01 */, 0x1.828f5cp+0f /* 1.51 */};
    z = 0.01f;
    for (float expected : in) {
        z = ZoomIn(z);
        EXPECT_EQ(z, expected) << std::hexfloat << z;
    }

    std::vector<float> up;
    for (z = 1.0f; up.size() < 25;)
        up.push_back(z = ZoomIn(z));
    const std::vector<float> expectedUp = {1.5f, 2, 2.5f, 3, 3.5f, 4, 4.5f, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
                                           15, 16, 17, 18, 19, 20, 20, 20};
    EXPECT_EQ(up, expectedUp);

    // Down again: 1 above 5, 0.5 from 5 down to 1, then 0.2.
    std::vector<float> down;
    for (z = 7.0f; down.size() < 11;)
        down.push_back(z = ZoomOut(z));
    const std::vector<float> expectedDown = {6, 5, 4.5f, 4, 3.5f, 3, 2.5f, 2, 1.5f, 1, 0x1.99999ap-1f};
    EXPECT_EQ(down, expectedDown);
}

TEST(Zoom, ClampKeepsTheRange)
{
    EXPECT_EQ(ClampZoom(0.0f), 0.01f);
    EXPECT_EQ(ClampZoom(-3.0f), 0.01f);
    EXPECT_EQ(ClampZoom(0.01f), 0.01f);
    EXPECT_EQ(ClampZoom(0.0100001f), 0.0100001f);
    EXPECT_EQ(ClampZoom(20.0f), 20.0f);
    EXPECT_EQ(ClampZoom(20.5f), 20.0f);
    EXPECT_EQ(ClampZoom(std::numeric_limits<float>::quiet_NaN()), 1.0f);
}

TEST(Zoom, ExtentsRoundOrTruncate)
{
    struct Case {
        int32_t extent;
        float z;
        int32_t zoomed, range;
    };
    const Case cases[] = {
        {101, 0.5f, 50, 50},  // Round(50.5) = 50
        {103, 0.5f, 52, 51},  // Round(51.5) = 52, Trunc = 51
        {3, 1.5f, 4, 4},      // Round(4.5) = 4
        {5, 1.5f, 8, 7},      // Round(7.5) = 8
        {100, 0.01f, 1, 0},   // 0.01f is a little below 0.01: 0.99999997...
        {65535, 20.0f, 1310700, 1310700},
        {0, 3.0f, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZoomedExtent(c.extent, c.z), c.zoomed) << c.extent << " " << c.z;
        EXPECT_EQ(ScrollRange(c.extent, c.z), c.range) << c.extent << " " << c.z;
    }
}

// Logical and device pixels: ratio 1 changes nothing; a logical extent covers its product
// rounded with halves up (as Qt sizes a window's surface), LogicalExtent is the fewest logical
// pixels whose exact product reaches a device extent, and the logical position of each device
// pixel (its index divided by the ratio, as the toolkit reports the mouse) maps back to it.
TEST(DevicePixels, LogicalAndDeviceExtentsAndPositions)
{
    struct Case {
        int32_t logical;
        double ratio;
        int32_t device;
    };
    const Case extents[] = {
        {300, 1.0, 300}, {300, 2.0, 600}, {0, 2.0, 0},
        {67, 1.5, 101},   // 100.5 rounds up
        {213, 1.5, 320},  // 319.5
        {7, 1.25, 9},     // 8.75
    };
    for (const Case& c : extents)
        EXPECT_EQ(DeviceExtent(c.logical, c.ratio), c.device) << c.logical << " at " << c.ratio;
    EXPECT_EQ(LogicalExtent(320, 1.5), 214);  // 213 × 1.5 is 319.5: shown as 319 or 320 pixels
    EXPECT_EQ(LogicalExtent(101, 2.0), 51);
    EXPECT_EQ(LogicalExtent(0, 2.0), 0);

    for (const double ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0}) {
        SCOPED_TRACE(ratio);
        for (int32_t device = 1; device <= 2000; ++device) {
            const int32_t logical = LogicalExtent(device, ratio);
            ASSERT_GE(logical * ratio, device) << device;
            ASSERT_LT((logical - 1) * ratio, device) << device;
            ASSERT_GE(DeviceExtent(logical, ratio), device) << device;
        }
        for (int32_t device = -500; device <= 2000; ++device)
            ASSERT_EQ(DevicePosition(device / ratio, ratio), device) << device;
    }
    for (const int32_t v : {-7, 0, 1, 12345})
        EXPECT_EQ(LogicalExtent(v, 1.0), v);
    // At ratio 1 a position rounds as the toolkit's own point conversion does: halves up.
    const std::pair<double, int32_t> positions[] = {{2.5, 3}, {-2.5, -2}, {2.49, 2}, {-2.51, -3}, {0.5, 1}};
    for (const auto& [v, device] : positions)
        EXPECT_EQ(DevicePosition(v, 1.0), device) << v;
}

TEST(PaintGeometry, ZoomOneAndAbove)
{
    struct Case {
        const char* what;
        int32_t w, h, cw, ch, px, py;
        float z;
        TRect source, dest;
    };
    const Case cases[] = {
        {"centred at 1", 100, 100, 300, 200, 0, 0, 1.0f, {0, 0, 100, 100}, {100, 50, 200, 150}},
        {"centred at 2", 100, 100, 300, 200, 0, 0, 2.0f, {0, 0, 100, 100}, {50, 0, 250, 200}},
        // t = 3.5: source column 3 starts half a block (one pixel) left of the client.
        {"scrolled at 2", 100, 100, 150, 200, 7, 0, 2.0f, {3, 0, 79, 100}, {-1, 0, 151, 200}},
        // The last source column (100) lies one beyond the picture.
        {"scrolled to the end", 100, 100, 250, 400, 50, 0, 3.0f, {16, 0, 101, 100}, {-1, 50, 254, 350}},
        // t = 10 / 7 in single precision is 1.42857146: (t - 1) * 7 truncates to 3 (in
        // extended precision it would be 2.9999... and give 2).
        {"scrolled at 7", 100, 100, 300, 700, 10, 0, 7.0f, {1, 0, 45, 100}, {-3, 0, 305, 700}},
        {"both scrolled", 100, 80, 120, 90, 30, 20, 2.0f, {15, 10, 76, 56}, {0, 0, 122, 92}},
        {"odd zoom", 3, 3, 10, 9, 0, 0, 1.5f, {0, 0, 3, 3}, {3, 2, 7, 6}},
    };
    for (const Case& c : cases) {
        const TView view{c.w, c.h, c.cw, c.ch, c.px, c.py, c.z};
        const TPaintGeometry g = PaintGeometry(view, c.w, c.h);
        EXPECT_EQ(g.Source, c.source) << c.what;
        EXPECT_EQ(g.Dest, c.dest) << c.what;
        EXPECT_EQ(g.Painted, c.dest) << c.what;
    }
}

TEST(PaintGeometry, BelowOneDrawsTheZoomedBitmapUnscaled)
{
    // A 101-pixel-wide picture at 0.5 is drawn 50 wide, centred.
    TView view{101, 60, 300, 200, 0, 0, 0.5f};
    TPaintGeometry g = PaintGeometry(view, ZoomedExtent(101, 0.5f), ZoomedExtent(60, 0.5f));
    EXPECT_EQ(g.Source, (TRect{0, 0, 50, 30}));
    EXPECT_EQ(g.Dest, (TRect{125, 85, 175, 115}));
    EXPECT_EQ(g.Painted, g.Dest);

    // Larger than the client: at minus the scroll position, the painted rectangle clipped.
    view = TView{1000, 600, 300, 200, 40, 25, 0.5f};
    g = PaintGeometry(view, 500, 300);
    EXPECT_EQ(g.Dest, (TRect{-40, -25, 460, 275}));
    EXPECT_EQ(g.Painted, (TRect{0, 0, 300, 200}));

    // One axis fits, the other scrolls.
    view = TView{1000, 100, 300, 200, 10, 99, 0.5f};
    g = PaintGeometry(view, 500, 50);
    EXPECT_EQ(g.Dest, (TRect{-10, 75, 490, 125}));
    EXPECT_EQ(g.Painted, (TRect{0, 75, 300, 125}));
}

TEST(PointMapping, ImageToScreenAndBack)
{
    // 100 x 100 in a 300 x 200 client.
    TView view{100, 100, 300, 200, 0, 0, 1.0f};
    TRect painted = PaintGeometry(view, 100, 100).Painted;
    EXPECT_EQ(ImageToScreen(view, 0, 0), (TRect{100, 50, 101, 51}));
    EXPECT_EQ(ScreenToImage(view, painted, 100, 50), (TPoint{0, 0}));
    EXPECT_EQ(ScreenToImage(view, painted, 99, 50), (TPoint{-1, 0}));
    EXPECT_EQ(ScreenToImage(view, painted, 199, 149), (TPoint{99, 99}));
    EXPECT_EQ(ScreenToImage(view, painted, 200, 49), (TPoint{100, -1}));

    // Zoom 2: drawn from x = 50; a point half a block left of it still maps to column 0.
    view.Zoom = 2.0f;
    painted = PaintGeometry(view, 100, 100).Painted;
    EXPECT_EQ(painted.Left, 50);
    EXPECT_EQ(ImageToScreen(view, 10, 5), (TRect{70, 10, 72, 12}));
    EXPECT_EQ(ScreenToImage(view, painted, 49, 50), (TPoint{0, 25}));
    EXPECT_EQ(ScreenToImage(view, painted, 48, 50).X, -1);

    // Zoom 2 scrolled by 7: column 3 starts at -1, and client x 0 lies in it.
    view.ClientWidth = 150;
    view.ScrollX = 7;
    painted = PaintGeometry(view, 100, 100).Painted;
    EXPECT_EQ(ImageToScreen(view, 3, 0).Left, -1);
    EXPECT_EQ(ScreenToImage(view, painted, 0, 0).X, 3);
    EXPECT_EQ(ScreenToImage(view, painted, 1, 0).X, 4);

    // Centred pixels start at Trunc(x * z), scrolled ones at Round(x * z); the side is Round(z).
    TView odd{3, 3, 100, 100, 0, 0, 1.5f};
    EXPECT_EQ(ImageToScreen(odd, 1, 1), (TRect{49, 49, 51, 51}));  // (100 - 4) / 2 + Trunc(1.5)
    odd.ClientWidth = 2;
    odd.ScrollX = 1;
    EXPECT_EQ(ImageToScreen(odd, 1, 1), (TRect{1, 49, 3, 51}));  // Round(1.5) - 1
    EXPECT_EQ(ImageToScreen(TView{10, 10, 100, 100, 0, 0, 2.5f}, 1, 0).Right -
                  ImageToScreen(TView{10, 10, 100, 100, 0, 0, 2.5f}, 1, 0).Left,
              2);  // Round(2.5)

    // Zoom 0.5: a client pixel covers two picture pixels.
    TView small{101, 60, 300, 200, 0, 0, 0.5f};
    painted = PaintGeometry(small, 50, 30).Painted;
    EXPECT_EQ(ScreenToImage(small, painted, 125, 85), (TPoint{0, 0}));
    EXPECT_EQ(ScreenToImage(small, painted, 130, 90), (TPoint{10, 10}));
    EXPECT_EQ(ImageToScreen(small, 10, 10), (TRect{130, 90, 130, 90}));
}

TEST(PointMapping, FarPointsSaturateInsteadOfOverflowing)
{
    const TView view{65535, 65535, 10, 10, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
                     0.01f};
    const TPoint p = ScreenToImage(view, {}, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(p.X, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(p.Y, std::numeric_limits<int32_t>::min());
}

TEST(DisplayBitmap, SelectionInDisplayCoordinates)
{
    const TRect sel{1, 3, 5, 7};
    EXPECT_EQ(DisplaySelection(sel, 2.0f), sel);
    EXPECT_EQ(DisplaySelection(sel, 1.0f), sel);
    EXPECT_EQ(DisplaySelection(sel, 0.5f), (TRect{0, 2, 2, 4}));  // 0.5, 1.5, 2.5, 3.5 to even
}

TEST(DisplayBitmap, NoneWhenThePictureIsDrawnDirectly)
{
    TBitmap pic = RandomPicture(8, 6);
    EXPECT_EQ(BuildDisplayBitmap(pic, 1.0f, std::nullopt, 1), nullptr);
    EXPECT_EQ(BuildDisplayBitmap(pic, 3.5f, std::nullopt, 2), nullptr);
    TBitmap empty;
    EXPECT_EQ(BuildDisplayBitmap(empty, 0.5f, TRect{0, 0, 1, 1}, 1), nullptr);

}

TEST(DisplayBitmap, BelowOneIsTheNearestNeighbourResize)
{
    TBitmap pic = RandomPicture(101, 37);
    int reports = 0;
    pic.OnProgress = [&reports](TObject*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) {
        ++reports;
    };
    for (float z : {0.5f, 0x1.99999ap-1f, 0.21f, 0.01f}) {
        auto display = BuildDisplayBitmap(pic, z, std::nullopt, 1);
        ASSERT_NE(display, nullptr);
        const int32_t w = std::max(ZoomedExtent(101, z), 1), h = std::max(ZoomedExtent(37, z), 1);
        auto expected = ResizeBitmap(pic, w, h, 32, false, raNearest);
        EXPECT_TRUE(SamePixels(*display, *expected)) << z;
    }
    EXPECT_EQ(reports, 0);  // the display is not a command: no progress in the title

    // A thin picture at 1 % still shows one pixel instead of failing.
    TBitmap thin = RandomPicture(30, 1);
    auto dot = BuildDisplayBitmap(thin, 0.01f, std::nullopt, 0);
    ASSERT_NE(dot, nullptr);
    EXPECT_EQ(dot->Width(), 1);
    EXPECT_EQ(dot->Height(), 1);
}

// Below zoom 1 the display bitmap is shaded whole; at zoom 1 or more the picture is drawn
// directly and each painted part is shaded on its own, which must match the same part of the
// whole picture shaded.
TEST(DisplayBitmap, ShadesOutsideTheSelection)
{
    const TBitmap pic = RandomPicture(23, 17, TPixelFormat::pf24bit, 7);
    const TRect selections[] = {
        {3, 4, 15, 11}, {0, 0, 23, 17}, {0, 0, 1, 1}, {22, 16, 23, 17}, {-5, 2, 40, 9},
        {5, 5, 5, 9},  // empty: everything is outside
        {9, 9, 4, 4},  // inverted: everything is outside too
        {30, 30, 40, 40},
        {INT32_MIN, INT32_MIN, INT32_MAX, 3},
    };
    const TRect parts[] = {{0, 0, 23, 17}, {2, 3, 9, 16}, {10, 0, 23, 5}, {22, 16, 23, 17}, {4, 4, 20, 15}};
    TBitmap source;
    source.Assign(pic);
    TBitmap buffer;
    for (const TRect& sel : selections)
        for (uint8_t mode : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " sel " << sel.Left << "," << sel.Top << ","
                                            << sel.Right << "," << sel.Bottom);
            for (float z : {1.0f, 2.0f})
                EXPECT_EQ(BuildDisplayBitmap(source, z, sel, mode), nullptr);
            const TBitmap whole = ReferenceShade(source, sel, mode);
            for (const TRect& part : parts) {
                ShadePart(source, part, sel, mode, buffer);
                TBitmap expected(part.Width(), part.Height(), TPixelFormat::pf24bit);
                for (int32_t y = 0; y < part.Height(); ++y)
                    std::memcpy(expected.ScanLine(y), whole.ScanLine(part.Top + y) + 3 * part.Left,
                                std::size_t(part.Width()) * 3);
                EXPECT_TRUE(SamePixels(buffer, expected)) << "part " << part.Left << "," << part.Top;
            }
            if (sel.Left == INT32_MIN)
                continue;
            auto display = BuildDisplayBitmap(source, 0.5f, sel, mode);
            ASSERT_NE(display, nullptr);
            TBitmap zoomed;
            zoomed.TakeOver(*ResizeBitmap(source, ZoomedExtent(23, 0.5f), ZoomedExtent(17, 0.5f), 32, false, raNearest));
            EXPECT_TRUE(SamePixels(*display, ReferenceShade(zoomed, DisplaySelection(sel, 0.5f), mode)));
        }
    EXPECT_TRUE(SamePixels(source, pic));  // the picture itself is untouched
}

TEST(DisplayBitmap, ShadingOfEveryByteValue)
{
    // One row holding each byte value in every channel, wholly outside the selection.
    TBitmap pic(256, 2, TPixelFormat::pf24bit);
    for (int32_t x = 0; x < 256; ++x)
        for (int c = 0; c < 3; ++c)
            pic.ScanLine(0)[3 * x + c] = pic.ScanLine(1)[3 * x + c] = uint8_t(x);
    const TRect sel{0, 1, 256, 2};
    TBitmap dark, light;
    ShadePart(pic, {0, 0, 256, 2}, sel, 1, dark);
    ShadePart(pic, {0, 0, 256, 2}, sel, 2, light);
    for (int32_t x = 0; x < 256; ++x)
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(dark.ScanLine(0)[3 * x + c], x / 2);
            ASSERT_EQ(light.ScanLine(0)[3 * x + c], std::min(255, x + 128));
            ASSERT_EQ(dark.ScanLine(1)[3 * x + c], x);
            ASSERT_EQ(light.ScanLine(1)[3 * x + c], x);
        }
    // White stays white and black becomes 128 when lightened.
    EXPECT_EQ(light.ScanLine(0)[3 * 255], 255);
    EXPECT_EQ(light.ScanLine(0)[0], 128);
}

TEST(DisplayBitmap, OtherFormatsBecome24BitOnlyWithASelection)
{
    TBitmap pic = RandomPicture(20, 10, TPixelFormat::pf8bit, 3);
    TPalette palette(256);
    for (int i = 0; i < 256; ++i)
        palette[std::size_t(i)] = TRGBQuad{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    pic.SetPalette(palette);

    auto plain = BuildDisplayBitmap(pic, 0.5f, std::nullopt, 1);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->PixelFormat(), TPixelFormat::pf8bit);

    const TRect sel{2, 2, 8, 6};
    auto shaded = BuildDisplayBitmap(pic, 2.0f, sel, 1);
    ASSERT_NE(shaded, nullptr);
    TBitmap as24;
    as24.Assign(pic);
    as24.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_TRUE(SamePixels(*shaded, ReferenceShade(as24, sel, 1)));
}

TEST(WindowGeometry, CutToBitmapEndsTheDrawnPartAtTheBitmap)
{
    // A 10 x 4 bitmap at 300 % in a client of 20 x 12 device pixels scrolled to 10, 0: the
    // spans start at columns 3 and 0 and reach one past the bitmap's right edge.
    const TView view{10, 4, 20, 12, 10, 0, 3.0f};
    TPaintGeometry g = PaintGeometry(view, 10, 4);
    const TRect painted = g.Painted;
    ASSERT_EQ(g.Source.Right, 11);
    CutToBitmap(g, 10, 4, 3.0f);
    EXPECT_EQ(g.Source.Right, 10);
    EXPECT_EQ(g.Dest.Right, g.Dest.Left + (10 - g.Source.Left) * 3);
    EXPECT_EQ(g.Source.Bottom, 4);  // within the bitmap: untouched
    EXPECT_EQ(g.Painted, painted);
    // A fractional zoom truncates the destination: 7 source columns at 1.5 are 10 pixels.
    TPaintGeometry h{{3, 0, 12, 2}, {0, 0, 14, 3}, {}};
    CutToBitmap(h, 10, 2, 1.5f);
    EXPECT_EQ(h.Source, (TRect{3, 0, 10, 2}));
    EXPECT_EQ(h.Dest, (TRect{0, 0, 10, 3}));
}

TEST(WindowGeometry, ScrollBarsShowWhenThePictureDoesNotFit)
{
    struct Case {
        int32_t rangeX, rangeY, width, height;
        double ratio;
        bool horz, vert;
        int32_t clientW, clientH, horzMax, vertMax;
    };
    // Bars of 15 x 15 logical pixels.
    const Case cases[] = {
        {100, 100, 200, 150, 1.0, false, false, 200, 150, 0, 0},
        {300, 100, 200, 150, 1.0, true, false, 200, 135, 100, 0},
        {100, 300, 200, 150, 1.0, false, true, 185, 150, 0, 150},
        // The horizontal bar takes the room that the height needed: both show.
        {300, 140, 200, 150, 1.0, true, true, 185, 135, 115, 5},
        // The vertical bar takes the room that the width needed.
        {190, 300, 200, 150, 1.0, true, true, 185, 135, 5, 165},
        // At ratio 2 the ranges count device pixels: 400 device pixels fit a 200-pixel window.
        {400, 300, 200, 150, 2.0, false, false, 200, 150, 0, 0},
        {401, 270, 200, 150, 2.0, true, false, 200, 135, 1, 0},
        {401, 300, 200, 150, 2.0, true, true, 185, 135, 31, 30},
    };
    for (const Case& c : cases) {
        const TScrollLayout l = ScrollLayout(c.rangeX, c.rangeY, c.width, c.height, 15, 15, c.ratio);
        SCOPED_TRACE(::testing::Message() << c.rangeX << "x" << c.rangeY << " in " << c.width << "x" << c.height
                                          << " at " << c.ratio);
        EXPECT_EQ(l.ShowHorz, c.horz);
        EXPECT_EQ(l.ShowVert, c.vert);
        EXPECT_EQ(l.ClientWidth, c.clientW);
        EXPECT_EQ(l.ClientHeight, c.clientH);
        EXPECT_EQ(l.HorzMax, c.horzMax);
        EXPECT_EQ(l.VertMax, c.vertMax);
        EXPECT_EQ(l.HorzPage, DeviceExtent(c.clientW, c.ratio));
        EXPECT_EQ(l.VertPage, DeviceExtent(c.clientH, c.ratio));
        EXPECT_EQ(l.HorzStep, DeviceExtent(40, c.ratio));
        EXPECT_EQ(l.VertStep, DeviceExtent(26, c.ratio));
    }
    // An empty window still pages by one pixel.
    EXPECT_EQ(ScrollLayout(0, 0, 0, 0, 15, 15, 1.0).HorzPage, 1);
}

TEST(WindowGeometry, FitShrinksToTheWorkAreaWithoutMoving)
{
    const TRect area{0, 0, 1000, 800};
    // Fits: the client asked for, in logical pixels.
    EXPECT_EQ(FitClientSize(300, 200, 1.0, {10, 10}, 8, 30, area), (TPoint{300, 200}));
    EXPECT_EQ(FitClientSize(300, 200, 2.0, {10, 10}, 8, 30, area), (TPoint{150, 100}));
    EXPECT_EQ(FitClientSize(301, 200, 2.0, {10, 10}, 8, 30, area), (TPoint{151, 100}));
    // Reaches past the right and bottom edges: ends there, frame included.
    EXPECT_EQ(FitClientSize(2000, 2000, 1.0, {100, 50}, 8, 30, area), (TPoint{1000 - 100 - 8, 800 - 50 - 30}));
    // Never below the smallest client: not for a small or empty picture, nor near or beyond the
    // work area's edges.
    const TPoint smallest{kMinClientWidth, kMinClientHeight};
    EXPECT_EQ(FitClientSize(1, 1, 1.0, {10, 10}, 8, 30, area), smallest);
    EXPECT_EQ(FitClientSize(0, 0, 1.0, {0, 0}, 0, 0, area), smallest);
    EXPECT_EQ(FitClientSize(50, 50, 1.0, {1200, 900}, 8, 30, area), smallest);
    EXPECT_EQ(FitClientSize(500, 500, 1.0, {1000 - 8 - 8, 800 - 30 - 1}, 8, 30, area), smallest);
    EXPECT_EQ(FitClientSize(500, 500, 1.0, {-2000000000, -2000000000}, 8, 30, area), (TPoint{500, 500}));
    // No screen: no limit.
    EXPECT_EQ(FitClientSize(5000, 4000, 1.0, {100, 50}, 8, 30, std::nullopt), (TPoint{5000, 4000}));
}

// A position keeps a window of the given outer size on the work area of its screen (of the
// primary, the first, when it lies on none), moving no further than that needs.
TEST(WindowGeometry, PositionsKeepTheWindowOnAWorkArea)
{
    const TScreenArea screens[] = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}},
                                   {{1920, 0, 3200, 1024}, {1920, 30, 3200, 1024}}};
    struct Case {
        TPoint position;
        int32_t w, h;
        TPoint expected;
    };
    const Case cases[] = {
        {{100, 100}, 400, 300, {100, 100}},    // fits: kept
        {{1520, 750}, 400, 300, {1520, 750}},  // ends at the work area's corner
        {{1900, 1070}, 136, 79, {1784, 971}},  // on the primary, past its work area (a task bar)
        {{3190, 1020}, 136, 79, {3064, 945}},  // near the second screen's corner: stays on it
        {{2500, 5}, 136, 79, {2500, 30}},      // above the second work area (a panel)
        {{5000, 2000}, 400, 300, {1520, 750}}, // off every screen: onto the primary
        {{-500, 500}, 400, 300, {0, 500}},
        {{5000, 2000}, 2500, 1200, {0, 0}},    // larger than the work area: its top-left
        {{INT32_MAX, INT32_MIN}, 400, 300, {1520, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.position.X << "," << c.position.Y);
        EXPECT_EQ(RescuedPosition(c.position, screens, c.w, c.h), c.expected);
    }
    // No screens: nowhere to move it.
    EXPECT_EQ(RescuedPosition({5000, 2000}, {}, 400, 300), (TPoint{5000, 2000}));
}
