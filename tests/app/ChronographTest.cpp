#include "app/Chronograph.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <vector>

using namespace nolvi2;

TEST(Chronograph, SavesNameAndElapsedInTheStreamEncoding)
{
    TChronograph c;
    c.SetMeasurement("XOR処理", 15);
    TMemoryStream s;
    c.SaveToStream(s);
    // "XOR処理" is 9 bytes of UTF-8.
    std::vector<uint8_t> expected = {9, 0, 0, 0, 'X', 'O', 'R', 0xE5, 0x87, 0xA6, 0xE7, 0x90, 0x86, 15, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()), expected);

    s.SetPosition(0);
    TChronograph d;
    d.LoadFromStream(s);
    EXPECT_EQ(d.Name(), "XOR処理");
    EXPECT_EQ(d.Elapsed(), 15u);
    EXPECT_EQ(d.TakeReport(), "XOR処理: 15ミリ秒かかりました。");
}

TEST(Chronograph, LoadRoundTripsTheWholeUnsignedRangeAndEmptyNames)
{
    for (uint32_t elapsed : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
        TChronograph c;
        c.SetMeasurement("", elapsed);
        TMemoryStream s;
        c.SaveToStream(s);
        EXPECT_EQ(s.Size(), 8);
        s.SetPosition(0);
        TChronograph d;
        d.SetMeasurement("old", 3);
        d.LoadFromStream(s);
        EXPECT_EQ(d.Name(), "");
        EXPECT_EQ(d.Elapsed(), elapsed);
    }
}

TEST(Chronograph, TruncatedStreamLeavesTheMeasurementAlone)
{
    TChronograph c;
    c.SetMeasurement("名前", 7);
    TMemoryStream s;
    c.SaveToStream(s);
    s.SetSize(s.Size() - 1);
    s.SetPosition(0);
    TChronograph d;
    d.SetMeasurement("old", 3);
    EXPECT_THROW(d.LoadFromStream(s), EReadError);
    EXPECT_EQ(d.Name(), "old");
    EXPECT_EQ(d.Elapsed(), 3u);
}
