#include "app/DialogFilters.h"

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

}  // namespace
}  // namespace nolvi2
