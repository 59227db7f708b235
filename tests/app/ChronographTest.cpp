#include "app/Chronograph.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
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

// A measurement becomes the chronograph's only when its work completes: work that throws
// leaves the last completed measurement (or none) under its own name, and the next run is
// measured afresh.
TEST(Chronograph, WorkThatThrowsLeavesTheLastCompletedMeasurement)
{
    struct Case {
        const char* earlierName;
        uint32_t earlierElapsed;
        std::optional<std::string> report;
    };
    const Case cases[] = {
        {"ソラリゼーション", 15, "ソラリゼーション: 15ミリ秒かかりました。"},
        {"", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.earlierName);
        TChronograph chronograph;
        chronograph.SetMeasurement(c.earlierName, c.earlierElapsed);
        try {
            TChronographRun run(chronograph, "XOR処理");
            EXPECT_TRUE(chronograph.Running());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            throw std::runtime_error("failed");
        } catch (const std::runtime_error&) {
        }
        EXPECT_FALSE(chronograph.Running());
        EXPECT_EQ(chronograph.Name(), c.earlierName);
        EXPECT_EQ(chronograph.Elapsed(), c.earlierElapsed);
        EXPECT_EQ(chronograph.TakeReport(), c.report);

        // A run that completes reports its own name with the time it took (at least the 5 ms
        // slept, by the monotonic clock).
        {
            TChronographRun run(chronograph, "XOR処理");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            run.Stop();
        }
        EXPECT_EQ(chronograph.Name(), "XOR処理");
        const uint32_t elapsed = chronograph.Elapsed();
        EXPECT_GE(elapsed, 5u);
        EXPECT_EQ(chronograph.TakeReport(), "XOR処理: " + std::to_string(elapsed) + "ミリ秒かかりました。");
    }
}
