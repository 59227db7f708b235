// ifwebp.spi: lossless files made by cwebp decoded exactly, lossy ones exactly as dwebp
// decodes them, alpha dropped, the ICC profile handed over, an animation's first frame,
// progress and its stop, broken files.

#include "ColorFixtures.h"
#include "PluginLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace nolvi2::test;
using namespace std::string_literals;

namespace {

class WebpPlugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
        if (FindTool("cwebp").empty())
            GTEST_SKIP() << "cwebp is not installed";
    }

    // The source picture (with an alpha channel of a pattern of its own when alpha is set)
    // through cwebp with its arguments; "" when a tool fails.
    std::string Make(const SpiPicture& source, const std::vector<std::string>& cwebpArgs, bool alpha = false)
    {
        std::string in = temp / "source.ppm";
        const std::string out = temp / "x.webp";
        EXPECT_TRUE(WritePpm(in, source));
        if (alpha) {
            const std::string png = temp / "alpha.png";
            if (!RunTool({"convert", in, "-alpha", "set", "-channel", "A", "-fx", "(i%5)/4", "+channel", png}, png))
                return {};
            in = png;
        }
        std::vector<std::string> args = {"cwebp", "-quiet"};
        args.insert(args.end(), cwebpArgs.begin(), cwebpArgs.end());
        args.insert(args.end(), {in, "-o", out});
        return RunTool(args, out) ? ReadBytes(out) : std::string();
    }

    // What dwebp makes of the file just made.
    bool Reference(SpiPicture& out)
    {
        const std::string ppm = temp / "reference.ppm";
        return RunTool({"dwebp", "-quiet", temp / "x.webp", "-ppm", "-o", ppm}, ppm) && ReadPpm(ppm, out);
    }

    SpiPlugin plugin{"ifwebp"};
    TempDir temp{"nolvi2-webp"};
};

TEST_F(WebpPlugin, InfoTextsAndSignature)
{
    ExpectInfoTexts(plugin, "libwebp", "*.webp", "WebP 画像ファイル");
    ExpectSignatures(plugin, {
        {"RIFF\x10\0\0\0WEBPVP8 "s, true},
        {"RIFF\xFF\xFF\xFF\xFFWEBP"s, true},
        {"RIFF\x10\0\0\0WAVEfmt "s, false},
        {"RIFX\x10\0\0\0WEBP"s, false},
        {"RIFF", false},
        {"", false},
    });
}

// Lossless files come out as their source, alpha or not (cwebp -exact keeps the colour
// under transparent pixels); lossy ones exactly as dwebp decodes them.
TEST_F(WebpPlugin, FilesDecodeAsTheReferenceDecoder)
{
    NOLVI2_REQUIRE_TOOL("convert");
    NOLVI2_REQUIRE_TOOL("dwebp");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool alpha, lossless;
    };
    const Case cases[] = {
        {"lossless", {"-lossless"}, false, true},
        {"lossless with alpha", {"-lossless", "-exact"}, true, true},
        {"lossy", {"-q", "75"}, false, false},
        {"lossy with alpha", {"-q", "40", "-exact"}, true, false},
        {"lossy, sharp RGB to YUV", {"-q", "90", "-sharp_yuv"}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SpiPicture source = PatternPicture(57, 41);
        const std::string webp = Make(source, c.args, c.alpha);
        ASSERT_FALSE(webp.empty());
        EXPECT_TRUE(plugin.Supports(webp));
        const SpiPicture p = DecodeBothWays(plugin, webp, temp.Path());
        EXPECT_EQ(p.bits, 24);
        if (c.lossless) {
            EXPECT_TRUE(SameRgb(p, source));
        } else {
            SpiPicture reference;
            ASSERT_TRUE(Reference(reference));
            EXPECT_TRUE(SameRgb(p, reference));
        }
        // Decoding with progress (fed in pieces) gives the same picture.
        ProgressLog log;
        SpiPicture q;
        ASSERT_EQ(plugin.Decode(webp, q, ProgressLog::Callback, log.Data()), SPI_SUCCESS);
        EXPECT_TRUE(SameRgb(p, q));
        EXPECT_TRUE(InfoIs(plugin, webp, temp.Path(), 57, 41, 24));
    }
}

// A file of several pieces reports rows as they are done, in both kinds of coding.
TEST_F(WebpPlugin, ProgressByRowsAndStop)
{
    const SpiPicture source = PatternPicture(1000, 700);
    for (const auto& args : std::vector<std::vector<std::string>>{{"-lossless"}, {"-q", "100"}}) {
        SCOPED_TRACE(args[0]);
        const std::string webp = Make(source, args);
        ASSERT_GT(webp.size(), 3u * 64 * 1024) << "too small to come in pieces";
        ExpectProgressAndAbort(plugin, webp, 4);
    }
}

TEST_F(WebpPlugin, BrokenFilesFail)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"-lossless"}, {"-q", "60"}}) {
        SCOPED_TRACE(args[0]);
        const std::string webp = Make(PatternPicture(45, 30), args);
        ASSERT_FALSE(webp.empty());
        ExpectTruncationsFail(plugin, webp, 1);
        ExpectCorruptionsSurvive(plugin, webp);
        // Fed in pieces, data that stops short fails too.
        for (const std::size_t n : {webp.size() / 2, webp.size() - 1}) {
            ProgressLog log;
            SpiPicture p;
            EXPECT_NE(plugin.Decode(webp.substr(0, n), p, ProgressLog::Callback, log.Data()), SPI_SUCCESS) << n;
        }
    }
}

// The ICC profile of a file goes with the picture byte for byte, the pixels as stored; a file
// without one gives the 40-byte header.
TEST_F(WebpPlugin, ProfileIsHandedOver)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string icc = temp / "swap.icc", ppm = temp / "source.ppm", png = temp / "profiled.png",
                      out = temp / "x.webp";
    WriteBytes(icc, SwapRedBlueProfile());
    const SpiPicture source = PatternPicture(30, 22);
    ASSERT_TRUE(WritePpm(ppm, source));
    ASSERT_TRUE(RunTool({"convert", ppm, "-profile", icc, png}, png));
    for (const bool withProfile : {true, false}) {
        SCOPED_TRACE(withProfile ? "with a profile" : "without");
        ASSERT_TRUE(RunTool({"cwebp", "-quiet", "-lossless", "-metadata", withProfile ? "icc" : "none", png, "-o", out}, out));
        const SpiPicture p = DecodeBothWays(plugin, ReadBytes(out), temp.Path());
        EXPECT_TRUE(p.profile == (withProfile ? ReadBytes(icc) : std::string()))
            << "a profile of " << p.profile.size() << " bytes";
        EXPECT_TRUE(SameRgb(p, source));
    }
}

// An animation gives its first frame composed on its canvas, as Pillow shows frame 0, with
// the file's profile; its size is the canvas's.
TEST_F(WebpPlugin, AnimationGivesItsFirstFrame)
{
    NOLVI2_REQUIRE_TOOL("img2webp");
    NOLVI2_REQUIRE_TOOL("webpmux");
    const std::string a = temp / "a.ppm", b = temp / "b.ppm", anim = temp / "anim.webp", out = temp / "icc.webp",
                      icc = temp / "swap.icc";
    const SpiPicture first = PatternPicture(20, 10);
    ASSERT_TRUE(WritePpm(a, first));
    ASSERT_TRUE(WritePpm(b, PatternPicture(20, 10, 3)));
    WriteBytes(icc, SwapRedBlueProfile());
    ASSERT_TRUE(RunTool({"img2webp", "-lossless", a, b, "-o", anim}, anim));
    ASSERT_TRUE(RunTool({"webpmux", "-set", "icc", icc, anim, "-o", out}, out));
    for (const std::string& file : {anim, out}) {
        SCOPED_TRACE(file);
        const std::string webp = ReadBytes(file);
        EXPECT_TRUE(plugin.Supports(webp));
        const SpiPicture p = DecodeBothWays(plugin, webp, temp.Path());
        EXPECT_EQ(p.bits, 24);
        EXPECT_TRUE(SameRgb(p, first));
        if (file == anim) { // Pillow's frame 0 (converted by the profile where there is one)
            const RgbPicture frame0 = ColourReference(file, temp / "frame0.ppm");
            ASSERT_EQ(frame0.width, p.width);
            ASSERT_EQ(frame0.height, p.height);
            SpiPicture pillow = p;
            pillow.rgb = frame0.rgb;
            EXPECT_TRUE(SameRgb(p, pillow));
        }
        EXPECT_TRUE(p.profile == (file == out ? ReadBytes(icc) : std::string()));
        EXPECT_TRUE(InfoIs(plugin, webp, temp.Path(), 20, 10, 24));
        ProgressLog log;
        SpiPicture q;
        ASSERT_EQ(plugin.Decode(webp, q, ProgressLog::Callback, log.Data()), SPI_SUCCESS);
        EXPECT_TRUE(SameRgb(p, q));
        ExpectTruncationsFail(plugin, webp, 1);
    }
}

}  // namespace
