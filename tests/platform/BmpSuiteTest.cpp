// The BMP Suite against its reference renderings, and the broken files of the suite and of
// other projects' regression sets: these must decode or fail with an exception, nothing else.

#include "PngReference.h"
#include "ColorFixtures.h"
#include "FileText.h"
#include "TempDir.h"
#include "TestData.h"

#include "platform/BmpCodec.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace nolvi2;
using nolvi2::test::ReadPngRgba;
using nolvi2::test::TRgbaPicture;
using nolvi2::test::ColourReference;
using nolvi2::test::ReadText;
using nolvi2::test::RgbPicture;
using nolvi2::test::TempDir;
using nolvi2::test::WriteText;
using PF = TPixelFormat;

namespace {

fs::path SuiteDir() { return test::TestDataDir() / "bmpsuite"; }

void Load(const fs::path& path, TBitmap& bitmap)
{
    TFileStream f(path.string(), TFileMode::fmOpenRead);
    bitmap.LoadFromStream(f);
}

enum class TCompare {
    All,     // every pixel's RGB
    Opaque,  // the reference shows transparency; alpha is dropped here, so only opaque pixels count
    Near,    // every pixel within 1: the reference was rounded differently (see the row)
};

::testing::AssertionResult SameRgb(const TBitmap& bmp24, const TRgbaPicture& ref, TCompare how)
{
    if (bmp24.Width() != ref.Width || bmp24.Height() != ref.Height)
        return ::testing::AssertionFailure() << "size " << bmp24.Width() << "x" << bmp24.Height()
                                             << ", reference " << ref.Width << "x" << ref.Height;
    int differ = 0;
    int compared = 0;
    std::string first;
    for (int32_t y = 0; y < ref.Height; ++y) {
        const uint8_t* row = bmp24.ScanLine(y);
        for (int32_t x = 0; x < ref.Width; ++x) {
            const uint8_t* r = ref.At(x, y);
            if (how == TCompare::Opaque && r[3] != 255)
                continue;
            ++compared;
            const uint8_t* p = row + 3 * x;
            const int slack = how == TCompare::Near ? 1 : 0;
            const bool same =
                std::abs(p[2] - r[0]) <= slack && std::abs(p[1] - r[1]) <= slack && std::abs(p[0] - r[2]) <= slack;
            if (!same && differ++ == 0) {
                auto rgb = [](int a, int b, int c) {
                    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c);
                };
                first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " + rgb(p[2], p[1], p[0]) +
                        ", reference " + rgb(r[0], r[1], r[2]);
            }
        }
    }
    if (differ)
        return ::testing::AssertionFailure() << differ << " pixels differ, first " << first;
    if (compared < ref.Width * ref.Height / 2)
        return ::testing::AssertionFailure() << "only " << compared << " opaque pixels to compare";
    return ::testing::AssertionSuccess();
}

std::string CaseName(const std::string& file)
{
    std::string name = file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// ---- files that decode and match a reference ----

struct TSuiteCase {
    const char* File;
    const char* Reference;
    PF Format;  // the pixel format the file decodes to
    TCompare Compare = TCompare::All;
};

void PrintTo(const TSuiteCase& c, std::ostream* os) { *os << c.File; }

class BmpSuiteMatches : public ::testing::TestWithParam<TSuiteCase> {};

TEST_P(BmpSuiteMatches, DecodesToReference)
{
    NOLVI2_REQUIRE_TESTDATA();
    const TSuiteCase& c = GetParam();
    TBitmap bmp;
    ASSERT_NO_THROW(Load(SuiteDir() / c.File, bmp));
    EXPECT_EQ(bmp.PixelFormat(), c.Format);
    bmp.SetPixelFormat(PF::pf24bit);
    const TRgbaPicture ref = ReadPngRgba(SuiteDir() / "html" / c.Reference);
    EXPECT_TRUE(SameRgb(bmp, ref, c.Compare));
}

// g/: every file of the suite's "good" set.
const TSuiteCase kGood[] = {
    {"g/pal1.bmp", "pal1.png", PF::pf1bit},
    {"g/pal1wb.bmp", "pal1.png", PF::pf1bit},
    {"g/pal1bg.bmp", "pal1bg.png", PF::pf1bit},
    {"g/pal4.bmp", "pal4.png", PF::pf4bit},
    {"g/pal4gs.bmp", "pal4gs.png", PF::pf4bit},
    {"g/pal4rle.bmp", "pal4.png", PF::pf4bit},
    {"g/pal8.bmp", "pal8.png", PF::pf8bit},
    {"g/pal8-0.bmp", "pal8.png", PF::pf8bit},
    {"g/pal8gs.bmp", "pal8gs.png", PF::pf8bit},
    {"g/pal8rle.bmp", "pal8.png", PF::pf8bit},
    {"g/pal8w126.bmp", "pal8w126.png", PF::pf8bit},
    {"g/pal8w125.bmp", "pal8w125.png", PF::pf8bit},
    {"g/pal8w124.bmp", "pal8w124.png", PF::pf8bit},
    {"g/pal8topdown.bmp", "pal8.png", PF::pf8bit},
    {"g/pal8nonsquare.bmp", "pal8nonsquare-e.png", PF::pf8bit},  // stored pixels, not stretched
    {"g/pal8os2.bmp", "pal8.png", PF::pf8bit},
    {"g/pal8v4.bmp", "pal8.png", PF::pf8bit},
    {"g/pal8v5.bmp", "pal8.png", PF::pf8bit},
    {"g/rgb16.bmp", "rgb16.png", PF::pf15bit},
    {"g/rgb16bfdef.bmp", "rgb16.png", PF::pf15bit},
    {"g/rgb16-565.bmp", "rgb16-565.png", PF::pf16bit},
    {"g/rgb16-565pal.bmp", "rgb16-565.png", PF::pf16bit},
    {"g/rgb24.bmp", "rgb24.png", PF::pf24bit},
    {"g/rgb24pal.bmp", "rgb24.png", PF::pf24bit},
    {"g/rgb32.bmp", "rgb24.png", PF::pf32bit},
    {"g/rgb32bfdef.bmp", "rgb24.png", PF::pf24bit},
    {"g/rgb32bf.bmp", "rgb24.png", PF::pf24bit},
};

// q/ and x/: the questionable files that have a rendering this reader should give.
const TSuiteCase kQuestionable[] = {
    {"q/pal1p1.bmp", "pal1p1.png", PF::pf1bit},  // index 1 lies beyond the palette: black
    {"q/pal2.bmp", "pal2.png", PF::pf4bit},
    {"q/pal2color.bmp", "pal2color.png", PF::pf4bit},
    // Pixels that RLE skips are index 0: the "-0" renderings.
    {"q/pal4rletrns.bmp", "pal4rletrns-0.png", PF::pf4bit},
    {"q/pal4rlecut.bmp", "pal4rlecut-0.png", PF::pf4bit},
    {"q/pal8rletrns.bmp", "pal8rletrns-0.png", PF::pf8bit},
    {"q/pal8rlecut.bmp", "pal8rlecut-0.png", PF::pf8bit},
    {"q/pal8offs.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8oversizepal.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2-hs.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2-sz.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2sp.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2v2.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2v2-16.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2v2-sz.bmp", "pal8.png", PF::pf8bit},
    {"q/pal8os2v2-40sz.bmp", "pal8.png", PF::pf8bit},
    {"q/rgb24rle24.bmp", "pal8.png", PF::pf24bit},
    {"q/rgb16faketrns.bmp", "rgb16.png", PF::pf15bit},  // the unused top bit is not alpha
    {"q/rgb16-231.bmp", "rgb16-231.png", PF::pf24bit},
    {"q/rgb16-3103.bmp", "rgb16-3103.png", PF::pf24bit},
    {"q/rgba16-4444.bmp", "rgba16-4444.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba16-5551.bmp", "rgba16-5551.png", PF::pf15bit, TCompare::Opaque},
    {"q/rgba16-1924.bmp", "rgba16-1924.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgb24largepal.bmp", "rgb24.png", PF::pf24bit},
    {"q/rgb24prof.bmp", "rgb24.png", PF::pf24bit},   // the profile is ignored
    {"q/rgb24lprof.bmp", "rgb24.png", PF::pf24bit},  // the linked profile is not followed
    {"q/rgb32h52.bmp", "rgb24.png", PF::pf24bit},
    {"q/rgb32-xbgr.bmp", "rgb24.png", PF::pf24bit},
    {"q/rgb32fakealpha.bmp", "rgb24.png", PF::pf32bit},  // the fourth byte is not alpha
    // 11- and 10-bit channels made from the 8-bit picture; some values (1690 of 2047) lie just
    // past a half step, and rounding them gives one more than the reference.
    {"q/rgb32-111110.bmp", "rgb24.png", PF::pf24bit, TCompare::Near},
    {"q/rgb32-7187.bmp", "rgb32-7187.png", PF::pf24bit},
    {"q/rgba32-1.bmp", "rgba32.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba32-2.bmp", "rgba32.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba32-1010102.bmp", "rgba32-1010102.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba32-81284.bmp", "rgba32-81284.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba32-61754.bmp", "rgba32-61754.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba32abf.bmp", "rgba32.png", PF::pf24bit, TCompare::Opaque},
    {"q/rgba32h56.bmp", "rgba32.png", PF::pf24bit, TCompare::Opaque},
    {"x/ba-bm.bmp", "pal8.png", PF::pf8bit},  // OS/2 bitmap array holding one BMP
};

// b/: the one bad file with a reference (an undefined channel reads as 0).
const TSuiteCase kBadWithReference[] = {
    {"b/rgb16-880.bmp", "rgb16-880.png", PF::pf24bit},
};

std::string SuiteCaseName(const ::testing::TestParamInfo<TSuiteCase>& info)
{
    return CaseName(info.param.File);
}

INSTANTIATE_TEST_SUITE_P(Good, BmpSuiteMatches, ::testing::ValuesIn(kGood), SuiteCaseName);
INSTANTIATE_TEST_SUITE_P(Questionable, BmpSuiteMatches, ::testing::ValuesIn(kQuestionable), SuiteCaseName);
INSTANTIATE_TEST_SUITE_P(Bad, BmpSuiteMatches, ::testing::ValuesIn(kBadWithReference), SuiteCaseName);

}  // namespace

namespace {

// ---- files decoded without a reference to match ----

TEST(BmpSuite, EmbeddedProfilesAreAppliedLinkedOnesIgnored)
{
    NOLVI2_REQUIRE_TESTDATA();
    const TRgbaPicture ref = ReadPngRgba(SuiteDir() / "html/rgb24.png");
    // rgb24prof embeds sRGB; rgb24lprof names a profile file, which is not looked for.
    for (const char* file : {"q/rgb24prof.bmp", "q/rgb24lprof.bmp"}) {
        SCOPED_TRACE(file);
        TBitmap bmp;
        Load(SuiteDir() / file, bmp);
        EXPECT_TRUE(SameRgb(bmp, ref, TCompare::All));
    }

    // Red and green are swapped in the stored pixels of rgb24prof2, and its embedded profile
    // (roughly) swaps them back: the pixels as Pillow with LittleCMS converts them by that
    // profile, which Pillow's BMP reader does not read itself.
    const fs::path file = SuiteDir() / "q/rgb24prof2.bmp";
    const std::string bytes = ReadText(file.string());
    const auto get32 = [&](std::size_t at) {
        return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
               uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    TempDir temp;
    const std::string profile = temp / "profile.icc";
    WriteText(profile, bytes.substr(14 + get32(14 + 112), get32(14 + 116)));
    const RgbPicture converted = ColourReference(file.string(), temp / "converted.ppm", false, profile);
    TBitmap bmp;
    Load(file, bmp);
    ASSERT_EQ(bmp.PixelFormat(), PF::pf24bit);
    int worst = 0;
    for (int y = 0; y < converted.height; ++y)
        for (int x = 0; x < converted.width; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(bmp.ScanLine(y)[3 * x + 2 - c] - converted.At(x, y)[c]));
    EXPECT_LE(worst, 1);

    // Without the profile: the pixels as stored.
    TBitmap stored;
    stored.ApplyColorProfile = false;
    Load(file, stored);
    TRgbaPicture swapped = ref;
    for (std::size_t i = 0; i < swapped.Pixels.size(); i += 4)
        std::swap(swapped.Pixels[i], swapped.Pixels[i + 1]);
    EXPECT_TRUE(SameRgb(stored, swapped, TCompare::All));
}

TEST(BmpSuite, RefusesUnsupportedVariantsCleanly)
{
    NOLVI2_REQUIRE_TESTDATA();
    const char* const refused[] = {
        "q/pal1huffmsb.bmp",  // OS/2 Huffman 1D (fax) compression
        "q/rgb24jpeg.bmp",    // an embedded JPEG stream, meant for printers
        "q/rgb24png.bmp",     // an embedded PNG stream, meant for printers
        "q/rgba64.bmp",       // 64 bits a pixel of linear fixed-point light
    };
    for (const char* file : refused) {
        SCOPED_TRACE(file);
        TBitmap bmp;
        try {
            Load(SuiteDir() / file, bmp);
            ADD_FAILURE() << "decoded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find("未対応の形式です"), std::string::npos) << e.what();
        }
    }
}

// ---- broken files ----

enum class TOutcome {
    Decodes,
    Refused,      // EInvalidGraphic
    SizeRefused,  // EPictureSize, before anything is allocated for the pixels
};

struct TBrokenCase {
    const char* File;  // under the test data folder
    TOutcome Outcome;
};

const TBrokenCase kBroken[] = {
    {"bmpsuite/b/badbitcount.bmp", TOutcome::Refused},
    {"bmpsuite/b/badbitssize.bmp", TOutcome::Decodes},  // the image size field is not needed
    {"bmpsuite/b/baddens1.bmp", TOutcome::Decodes},
    {"bmpsuite/b/baddens2.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badfilesize.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badheadersize.bmp", TOutcome::Refused},
    {"bmpsuite/b/badpalettesize.bmp", TOutcome::Decodes},  // the palette is cut at 256 and at the bits
    {"bmpsuite/b/badplanes.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badrle.bmp", TOutcome::Decodes},  // runs are cut at the picture's edges
    {"bmpsuite/b/badrle4.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badrle4bis.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badrle4ter.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badrlebis.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badrleter.bmp", TOutcome::Decodes},
    {"bmpsuite/b/badwidth.bmp", TOutcome::SizeRefused},
    {"bmpsuite/b/pal8badindex.bmp", TOutcome::Decodes},  // indices beyond the palette are black
    {"bmpsuite/b/reallybig.bmp", TOutcome::SizeRefused},
    {"bmpsuite/b/rgb16-880.bmp", TOutcome::Decodes},
    {"bmpsuite/b/rletopdown.bmp", TOutcome::Decodes},
    {"bmpsuite/b/shortfile.bmp", TOutcome::Decodes},  // the rows that are there
    {"crashers-corrupt/bmp/Bad_clrsUsed.bmp", TOutcome::Decodes},
    {"crashers-corrupt/bmp/Bad_height.bmp", TOutcome::SizeRefused},
    {"crashers-corrupt/bmp/Bad_width.bmp", TOutcome::SizeRefused},
    // 2554 x 18803 pixels from 133 bytes of RLE: refused before allocating.
    {"crashers-corrupt/bmp/Bad_unusual_extend_buffer_usage.bmp", TOutcome::Refused},
    {"crashers-corrupt/bmp/V5_A8_R8_G8_B8_Rgb_BadMask.bmp", TOutcome::Decodes},
    {"crashers-corrupt/bmp/hopper_rle8_row_overflow.bmp", TOutcome::Decodes},
    {"crashers-corrupt/bmp/rle_overflow.bmp", TOutcome::Decodes},
};

// Loads the file and converts it to 24 bits; any failure must be one of ours.
TOutcome Attempt(const fs::path& path)
{
    try {
        TBitmap bmp;
        Load(path, bmp);
        bmp.SetPixelFormat(PF::pf24bit);
        return TOutcome::Decodes;
    } catch (const EPictureSize&) {
        return TOutcome::SizeRefused;
    } catch (const EInvalidGraphic&) {
        return TOutcome::Refused;
    }
}

TEST(BmpBrokenFiles, DecodeOrFailCleanly)
{
    NOLVI2_REQUIRE_TESTDATA();
    for (const TBrokenCase& c : kBroken) {
        SCOPED_TRACE(c.File);
        EXPECT_EQ(Attempt(test::TestDataDir() / c.File), c.Outcome);
    }
}

TEST(BmpBrokenFiles, EveryBrokenFileIsListed)
{
    NOLVI2_REQUIRE_TESTDATA();
    for (const char* dir : {"bmpsuite/b", "crashers-corrupt/bmp"})
        for (const auto& entry : fs::directory_iterator(test::TestDataDir() / dir)) {
            if (entry.path().extension() != ".bmp")
                continue;
            const std::string rel = std::string(dir) + "/" + entry.path().filename().string();
            const bool listed = std::any_of(std::begin(kBroken), std::end(kBroken),
                                            [&](const TBrokenCase& c) { return rel == c.File; });
            EXPECT_TRUE(listed) << rel;
        }
}

// Inputs that once made the reader misbehave (most found by fuzzing): each may decode or
// raise one of our exceptions, nothing else.
TEST(BmpBrokenFiles, Regressions)
{
    const fs::path dir = fs::path(NOLVI2_SOURCE_DIR) / "tests/platform/bmp-regressions";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".bmp")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++count;
        try {
            TBitmap bmp;
            Load(entry.path(), bmp);
            bmp.SetPixelFormat(PF::pf24bit);
        } catch (const Exception&) {
        }
    }
    EXPECT_GT(count, 0);
}

}  // namespace
