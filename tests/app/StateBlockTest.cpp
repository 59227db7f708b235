// The block a window hands to a new one: its layout, the round trip, and blocks that are cut
// short or lie about their lengths.
#include "app/StateBlock.h"

#include "Pictures.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

TWindowState SomeState()
{
    TWindowState s;
    s.Options = {false, true, 2, 17, 9, true, false, true};
    s.MinimumUnit = 24;
    s.HandInverted = true;
    s.JpegQuality = 35;
    s.JpegProgressive = false;
    s.Selection = {15, 0, 30, 10};
    s.IsFile = true;
    s.Title = "/tmp/写真 1.jpg";
    s.StopwatchName = "階調の反転";
    s.StopwatchElapsed = 0xFFFFFFF0u;
    return s;
}

TBitmap SomePicture(int32_t w, int32_t h)
{
    TBitmap b(w, h, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < b.RowBytes(); ++i)
            b.ScanLine(y)[i] = uint8_t(i * 7 + std::size_t(y) * 31);
    return b;
}

int32_t Get32(const uint8_t* p) { return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }

}  // namespace

TEST(StateBlock, LayoutOfASmallCase)
{
    TWindowState s = SomeState();
    s.Title = "t.jpg";
    TOZHistoryList recent;
    recent.Add("a", "a");
    TBitmap picture = SomePicture(2, 1);
    TMemoryStream m;
    WriteState(m, s, recent, picture);
    const uint8_t* p = m.Memory();

    const uint8_t options[20] = {0, 1, 2, 17, 9, 1, 0, 1};  // the rest reserved, 0
    EXPECT_EQ(std::memcmp(p, options, 20), 0);
    EXPECT_EQ(p[20], 24);
    EXPECT_EQ(p[24], 1);
    // The list: count, caption "a", data "a", MaxCount, VisibleCount.
    EXPECT_EQ(Get32(p + 25), 1);
    const int a = 25 + 4 + 5 + 5 + 4 + 4;
    EXPECT_EQ(p[a], 35);
    EXPECT_EQ(p[a + 1], 0);
    EXPECT_EQ(Get32(p + a + 2), 15);
    EXPECT_EQ(Get32(p + a + 6), 0);
    EXPECT_EQ(Get32(p + a + 10), 30);
    EXPECT_EQ(Get32(p + a + 14), 10);
    EXPECT_EQ(p[a + 18], 1);
    EXPECT_EQ(Get32(p + a + 19), 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + a + 23), 5), "t.jpg");
    const int b = a + 23 + 5;
    EXPECT_EQ(p[b], 'B');
    EXPECT_EQ(p[b + 1], 'M');
    const int c = b + 54 + 8;  // one row of 2 pixels, padded to 8 bytes
    EXPECT_EQ(Get32(p + b + 2), c - b);
    EXPECT_EQ(Get32(p + c), int32_t(std::strlen("階調の反転")));
    const int end = c + 4 + int(std::strlen("階調の反転"));
    EXPECT_EQ(uint32_t(Get32(p + end)), 0xFFFFFFF0u);
    EXPECT_EQ(m.Size(), end + 4);
}

TEST(StateBlock, RoundTrip)
{
    const TWindowState s = SomeState();
    TOZHistoryList recent;
    recent.CaseSensitive = true;
    for (const char* f : {"/a/b.png", "/a/B.png", "/名前.jpg"})
        recent.AddFile(f);
    recent.SetVisibleCount(3);
    const TBitmap picture = SomePicture(37, 23);
    TMemoryStream m;
    WriteState(m, s, recent, picture);

    m.SetPosition(0);
    TWindowState r;
    TOZHistoryList list;
    list.CaseSensitive = true;
    TBitmap got;
    ReadState(m, r, list, got);
    EXPECT_EQ(m.Position(), m.Size());
    EXPECT_EQ(r.Options.WindowResizeByZoom, s.Options.WindowResizeByZoom);
    EXPECT_EQ(r.Options.OpenResultInNewWindow, s.Options.OpenResultInNewWindow);
    EXPECT_EQ(r.Options.OutOfSelection, s.Options.OutOfSelection);
    EXPECT_EQ(r.Options.GrassWidth, s.Options.GrassWidth);
    EXPECT_EQ(r.Options.RainbowMaskSize, s.Options.RainbowMaskSize);
    EXPECT_EQ(r.Options.ShowProgressTime, s.Options.ShowProgressTime);
    EXPECT_EQ(r.Options.ApplyColorProfile, s.Options.ApplyColorProfile);
    EXPECT_EQ(r.Options.AutoRotate, s.Options.AutoRotate);
    EXPECT_EQ(r.MinimumUnit, s.MinimumUnit);
    EXPECT_EQ(r.HandInverted, s.HandInverted);
    EXPECT_EQ(r.JpegQuality, s.JpegQuality);
    EXPECT_EQ(r.JpegProgressive, s.JpegProgressive);
    EXPECT_EQ(r.Selection, s.Selection);
    EXPECT_EQ(r.IsFile, s.IsFile);
    EXPECT_EQ(r.Title, s.Title);
    EXPECT_EQ(r.StopwatchName, s.StopwatchName);
    EXPECT_EQ(r.StopwatchElapsed, s.StopwatchElapsed);
    EXPECT_EQ(list.DataItems(), recent.DataItems());
    EXPECT_EQ(list.VisibleCount(), 3);
    EXPECT_TRUE(SamePixels(got, picture));
    EXPECT_EQ(SelectionInBlock(std::nullopt), (TRect{-1, -1, -1, -1}));
}

// Every shorter block, and blocks whose lengths point past the end, fail with the reader's
// error and change nothing.
TEST(StateBlock, ShortOrLyingBlocksChangeNothing)
{
    TOZHistoryList recent;
    recent.AddFile("/x.png");
    TMemoryStream whole;
    WriteState(whole, SomeState(), recent, SomePicture(5, 4));
    const int64_t size = whole.Size();

    const auto check = [](TMemoryStream& block, const char* what) {
        SCOPED_TRACE(what);
        block.SetPosition(0);
        TWindowState state;
        state.Title = "kept";
        TOZHistoryList list;
        list.AddFile("/kept.png");
        TBitmap picture = SomePicture(2, 2);
        EXPECT_THROW(ReadState(block, state, list, picture), Exception);
        EXPECT_EQ(state.Title, "kept");
        EXPECT_EQ(list.DataItems(), std::vector<std::string>{"/kept.png"});
        EXPECT_EQ(picture.Width(), 2);
    };
    for (int64_t n = 0; n < size; ++n) {
        TMemoryStream cut;
        cut.WriteBuffer(whole.Memory(), n);
        check(cut, ("cut at " + std::to_string(n)).c_str());
    }
    // Lengths that lie: the list's count, the title's length, the BMP's size, the stopwatch's.
    const int titleAt = 25 + 4 + (4 + 6) * 2 + 8 + 2 + 16 + 1;
    const int bmpAt = titleAt + 4 + int(SomeState().Title.size());
    const int watchAt = bmpAt + 54 + 4 * 16;
    for (const auto& [offset, value] : std::vector<std::pair<int, int32_t>>{
             {25, 0x7FFFFFFF}, {titleAt, 0x7FFFFFFF}, {titleAt, int32_t(size)}, {bmpAt + 2, int32_t(size)},
             {bmpAt + 2, 3}, {watchAt, 0x40000000}}) {
        TMemoryStream lying;
        lying.WriteBuffer(whole.Memory(), size);
        uint8_t* p = lying.Memory() + offset;
        for (int i = 0; i < 4; ++i)
            p[i] = uint8_t(uint32_t(value) >> (8 * i));
        check(lying, ("length at " + std::to_string(offset)).c_str());
    }
}
