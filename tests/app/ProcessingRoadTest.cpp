// The processing road without the window: a failing operation reaches the caller (the window's
// dispatch shows its message, nolvi2-cli exits 1 and writes nothing) and leaves the picture
// and the selection as they were.
#include "app/ProcessingRoad.h"

#include "Pictures.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

using namespace nolvi2;
using nolvi2::test::SamePixels;

// The filter fails in its pixel loop (a progress handler that throws on a running report, as
// one that cancels would; the road reports every 128 rows), over the whole picture and over a
// selection.
TEST(ProcessingRoad, FilterFailurePassesOn)
{
    const TCommand* filter = FindCommand("FilterLowpass");
    ASSERT_NE(filter, nullptr);
    for (const std::optional<TRect> selected : {std::optional<TRect>{}, std::optional<TRect>{TRect{2, 3, 7, 135}}}) {
        TBitmap picture(9, 140, TPixelFormat::pf24bit);
        for (int32_t y = 0; y < picture.Height(); ++y)
            for (std::size_t i = 0; i < picture.RowBytes(); ++i)
                picture.ScanLine(y)[i] = uint8_t(i * 37 + std::size_t(y) * 101);
        TBitmap original;
        original.Assign(picture);
        int endings = 0;
        picture.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
            endings += stage == psEnding ? 1 : 0;
            if (stage == psRunning)
                throw std::runtime_error("cancelled");
        };
        std::optional<TRect> selection = selected;
        TChronograph chronograph;
        EXPECT_THROW(ApplyInPlace(*filter, picture, selection, TCommandOptions{}, chronograph, "a.bmp"),
                     std::runtime_error);
        EXPECT_EQ(endings, 1);
        EXPECT_TRUE(SamePixels(picture, original));
        EXPECT_EQ(selection, selected);
    }
}

// A command that fails (its operation refuses an 8-bit picture) leaves the stopwatch as it was,
// in place and for a new window: an earlier measurement keeps its own name, so no report pairs
// the failed command's name with an earlier time, and without one there is nothing to report
// and no name to hand to a new window.
TEST(ProcessingRoad, FailedCommandLeavesTheEarlierMeasurement)
{
    struct Earlier {
        const char* name;
        uint32_t elapsed;
        std::optional<std::string> report;
    };
    const Earlier earlierCases[] = {
        {"ソラリゼーション", 15, "ソラリゼーション: 15ミリ秒かかりました。"},
        {"", 0, std::nullopt},
    };
    for (const char* name : {"actInvert", "actFilterLowpass"}) {
        const TCommand* command = FindCommand(name);
        ASSERT_NE(command, nullptr) << name;
        ASSERT_TRUE(command->Timed()) << name;
        for (const bool newWindow : {false, true}) {
            for (const Earlier& earlier : earlierCases) {
                SCOPED_TRACE(std::string(name) + (newWindow ? " for a new window" : " in place") + ", after \"" +
                             earlier.name + "\"");
                TBitmap picture(4, 3, TPixelFormat::pf8bit);
                std::optional<TRect> selection;
                TChronograph chronograph;
                chronograph.SetMeasurement(earlier.name, earlier.elapsed);
                if (newWindow)
                    EXPECT_THROW(ApplyToNewWindow(*command, picture, selection, TCommandOptions{}, chronograph, "a.bmp"),
                                 Exception);
                else
                    EXPECT_THROW(ApplyInPlace(*command, picture, selection, TCommandOptions{}, chronograph, "a.bmp"),
                                 Exception);
                EXPECT_FALSE(chronograph.Running());
                EXPECT_EQ(chronograph.Name(), earlier.name);
                EXPECT_EQ(chronograph.Elapsed(), earlier.elapsed);
                EXPECT_EQ(chronograph.TakeReport(), earlier.report);
            }
        }
    }
}

// A result for a new window is what the command does in place, on a picture that stays as it
// was; the selection goes with it except after a crop.
TEST(ProcessingRoad, NewWindowResultEqualsInPlaceAndLeavesThePicture)
{
    TCommandOptions options;
    options.ResizeWidth = 13;
    options.ResizeHeight = 5;
    for (const char* name : {"actInvert", "actFlipVertical", "actRotate90", "actFilterLowpass", "actResize", "actCrop"}) {
        const TCommand* command = FindCommand(name);
        ASSERT_NE(command, nullptr) << name;
        for (const std::optional<TRect> selected : {std::optional<TRect>{}, std::optional<TRect>{TRect{2, 3, 7, 9}}}) {
            SCOPED_TRACE(std::string(name) + (selected ? " on a selection" : ""));
            TBitmap picture(11, 10, TPixelFormat::pf24bit);
            for (int32_t y = 0; y < picture.Height(); ++y)
                for (std::size_t i = 0; i < picture.RowBytes(); ++i)
                    picture.ScanLine(y)[i] = uint8_t(i * 37 + std::size_t(y) * 101);
            TBitmap original, inPlace;
            original.Assign(picture);
            inPlace.Assign(picture);
            std::optional<TRect> inPlaceSelection = selected;
            TChronograph c1, c2;
            const TRoadOutcome outcome = ApplyInPlace(*command, inPlace, inPlaceSelection, options, c1, "a.bmp");
            const TNewWindowResult r = ApplyToNewWindow(*command, picture, selected, options, c2, "a.bmp");

            EXPECT_EQ(r.Applied, outcome.Applied);
            EXPECT_TRUE(SamePixels(picture, original));
            if (!outcome.Applied)
                continue;  // a crop without a selection
            ASSERT_TRUE(r.Picture);
            EXPECT_TRUE(SamePixels(*r.Picture, inPlace));
            EXPECT_EQ(r.Title, outcome.Title);
            EXPECT_EQ(r.KeepSelection, command->Family != TFamily::F);
            EXPECT_EQ(c2.Name(), command->Timed() ? std::string(command->DisplayName) : std::string());
        }
    }
}
