#include "app/DialogFilters.h"
#include "platform/Graphics.h"
#include "susie/SPIBmp.h"

#include <gtest/gtest.h>

namespace nolvi2 {
namespace {

// Without plug-ins: the decoders' own formats.
TEST(DialogFilters, EachPatternShownOnceWithJapaneseDescriptions)
{
    EXPECT_EQ(SaveDialogFilter(true), "すべて (*.jpg *.jpeg);;JPEG 画像ファイル (*.jpg);;JPEG 画像ファイル (*.jpeg)");
    EXPECT_EQ(SaveDialogFilter(false), "すべて (*.bmp);;ビットマップ (*.bmp)");
    EXPECT_EQ(OpenDialogFilter(), "読み込み可能なファイル (*.jpg *.jpeg *.png);;"
                                  "すべて (*.jpg *.jpeg);;JPEG 画像ファイル (*.jpg);;"
                                  "JPEG 画像ファイル (*.jpeg);;すべて (*.png);;"
                                  "PNG 画像ファイル (*.png);;すべてのファイル (*.*)");
    // A description that names its patterns keeps them once, written as Qt reads them.
    EXPECT_EQ(QtFilter("画像 (*.a;*.b)|*.a;*.b|その他|*.c"), "画像 (*.a *.b);;その他 (*.c)");
    EXPECT_EQ(QtFilter(""), "");
}

// The plug-ins' formats are read, but the save dialogs offer only the format they write.
TEST(DialogFilters, SaveFiltersLeaveOutThePluginsFormats)
{
    TPictureFormats& table = TPictureFormats::Instance();
    table.Register("gif", "GIF 画像", TSPIBitmap::ClassInfo());
    const std::string bmp = SaveDialogFilter(false), jpeg = SaveDialogFilter(true), open = OpenDialogFilter();
    table.Unregister(TSPIBitmap::ClassInfo());
    EXPECT_EQ(bmp, "すべて (*.bmp);;ビットマップ (*.bmp)");
    EXPECT_EQ(jpeg, "すべて (*.jpg *.jpeg);;JPEG 画像ファイル (*.jpg);;JPEG 画像ファイル (*.jpeg)");
    EXPECT_NE(open.find("GIF 画像 (*.gif)"), std::string::npos);
}

}  // namespace
}  // namespace nolvi2
