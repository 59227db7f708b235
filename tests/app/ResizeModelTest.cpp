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
