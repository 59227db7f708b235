#include "app/ResizeModel.h"

#include <gtest/gtest.h>

using namespace nolvi2;

TEST(ResizeModel, DialogCases)
{
    {
        TResizeModel m;
        m.Init(640, 480);
        EXPECT_EQ(m.WidthText, "640");
        EXPECT_EQ(m.HeightText, "480");
        m.RatioButton(500);  // "/ 2"
        EXPECT_EQ(m.WidthText, "320");
        EXPECT_EQ(m.HeightText, "240");
        m.SetWidthUnit(true);  // 320 of 640 in percent
        EXPECT_EQ(m.WidthText, "50");
        EXPECT_EQ(m.GetWidthPixels(), 320);
        EXPECT_EQ(m.GetHeightPixels(), 240);
    }
    {
        TResizeModel m;
        m.Init(640, 480);
        m.WidthEdited("100");  // ratio fixed
        EXPECT_EQ(m.HeightText, "75");
        EXPECT_EQ(m.GetHeightPixels(), 75);
        for (const char* bad : {"0", "-5", "abc", "", "10001"}) {
            m.WidthEdited(bad);
            EXPECT_EQ(m.WidthText, bad);  // the edit keeps what was typed
            EXPECT_EQ(m.GetWidthPixels(), 100) << bad;
            EXPECT_EQ(m.GetHeightPixels(), 75) << bad;
        }
        m.FixedRatio = false;
        m.WidthEdited("10000");
        EXPECT_EQ(m.GetWidthPixels(), 10000);
        EXPECT_EQ(m.GetHeightPixels(), 75);
    }
    {
        TResizeModel m;
        m.Init(3000, 2000);
        m.FixedRatio = false;
        m.SetWidthUnit(true);
        m.WidthEdited("333");  // the largest accepted: Round(10000 / 3000 * 100)
        EXPECT_EQ(m.WidthValue(), 333);
        m.WidthEdited("334");
        EXPECT_EQ(m.WidthValue(), 333);
    }
    {
        TResizeModel m;
        m.Init(640, 480);
        m.SetHeightUnit(true);
        m.SetHeightPixels(240);
        EXPECT_EQ(m.HeightText, "50");
    }
    {
        // "/ 10" of a tiny picture gives 0 (the dialog does not prevent it).
        TResizeModel m;
        m.Init(4, 3);
        m.RatioButton(100);
        EXPECT_EQ(m.GetWidthPixels(), 0);
    }
}

// Typing key by key: every keystroke runs the edit's handler, and with the ratio fixed the
// other side follows without ever rewriting the edit being typed into. Also the ratio
// buttons give both sides as the button says, not one derived back from the other.
TEST(ResizeModel, TypingKeepsTheTypedSide)
{
    struct Case {
        int32_t sourceWidth, sourceHeight;
        bool intoWidth;
        bool widthPercent, heightPercent;
        const char* keys;
        const char* widthText;
        const char* heightText;
    };
    const Case cases[] = {
        {640, 480, true, false, false, "100", "100", "75"},    // was 109 x 82
        {480, 640, false, false, false, "100", "75", "100"},   // the mirror image
        {1000, 300, true, false, false, "100", "100", "30"},   // "1" gave a height of 0, then a width of 0
        {640, 480, true, false, true, "100", "100", "16"},     // height in percent: 75 of 480
        {640, 480, true, true, false, "50", "50", "240"},      // width in percent
        {480, 640, false, true, false, "100", "16", "100"},    // width in percent follows the typed height
        {640, 480, true, false, false, "200", "200", "150"},
    };
    for (const Case& c : cases) {
        TResizeModel m;
        m.Init(c.sourceWidth, c.sourceHeight);
        m.SetWidthUnit(c.widthPercent);
        m.SetHeightUnit(c.heightPercent);
        std::string typed;
        for (const char* k = c.keys; *k; ++k) {
            typed += *k;
            if (c.intoWidth)
                m.WidthEdited(typed);
            else
                m.HeightEdited(typed);
            EXPECT_EQ(c.intoWidth ? m.WidthText : m.HeightText, typed) << c.keys;
        }
        EXPECT_EQ(m.WidthText, c.widthText) << c.sourceWidth << " x " << c.sourceHeight << ", " << c.keys;
        EXPECT_EQ(m.HeightText, c.heightText) << c.sourceWidth << " x " << c.sourceHeight << ", " << c.keys;
    }

    TResizeModel m;
    m.Init(1001, 3);
    m.RatioButton(500);  // 500.5 and 1.5, rounded to even; a height of 2 would give back a width of 667
    EXPECT_EQ(m.GetWidthPixels(), 500);
    EXPECT_EQ(m.GetHeightPixels(), 2);
}
