// ifjxl.spi: JPEG XL files made by cjxl at test time, decoded by the plug-in and compared with
// the source where the coding is lossless and with djxl's output always; the first frame of
// an animation, colour (XYB pictures in sRGB, the ICC profile of others handed over), progress
// over input given in parts and its stop, broken and oversized files.
#include "ColorFixtures.h"
#include "PluginLoader.h"
#include "TempDir.h"

#include <atomic>
#include <sched.h>
#include <thread>

using namespace nolvi2::test;
using namespace std::string_literals;

namespace {

class JxlPlugin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.Loaded()) << plugin.Error(); }

    SpiPlugin plugin{"ifjxl"};
    TempDir temp{"nolvi2-jxl"};
};

// The tests that make their pictures with libjxl's tools.
class JxlFiles : public JxlPlugin {
protected:
    void SetUp() override
    {
        JxlPlugin::SetUp();
        for (const char* tool : {"cjxl", "djxl"})
            if (FindTool(tool).empty())
                GTEST_SKIP() << tool << " is not installed";
    }

    // The source (a PPM, or a PAM with alpha) through cjxl with its arguments; "" when cjxl fails.
    std::string Make(const SpiPicture& source, const std::vector<std::string>& cjxlArgs, bool alpha = false,
                     bool wide = false)
    {
        const std::string in = temp / (alpha ? "source.pam" : "source.ppm"), out = temp / "x.jxl";
        std::vector<std::string> args = {"cjxl", in, out, "--quiet"};
        args.insert(args.end(), cjxlArgs.begin(), cjxlArgs.end());
        return WritePnm(in, source, alpha, wide) && RunTool(args, out) ? ReadBytes(out) : std::string();
    }

    // What djxl makes of the file just made, in 8 bits.
    bool Reference(SpiPicture& out)
    {
        const std::string ppm = temp / "reference.ppm";
        return RunTool({"djxl", temp / "x.jxl", ppm, "--bits_per_sample=8", "--quiet"}, ppm) && ReadPpm(ppm, out);
    }
};

// A bare codestream of a picture of w x h: the signature, the size header and image metadata
// that is all defaults, and nothing after them but zeros.
std::string Header(uint32_t w, uint32_t h)
{
    std::vector<bool> bits;
    const auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            bits.push_back((v >> i) & 1);
    };
    // A size less one in the first of 9, 13, 18 or 30 bits that holds it, after a 2-bit selector.
    const auto size = [&](uint32_t v) {
        int s = 0;
        while (s < 3 && v - 1 >= (1u << (s == 0 ? 9 : s == 1 ? 13 : 18)))
            ++s;
        put(uint32_t(s), 2);
        put(v - 1, s == 0 ? 9 : s == 1 ? 13 : s == 2 ? 18 : 30);
    };
    put(0, 1); // not a small size
    size(h);
    put(0, 3); // no aspect ratio: the width follows
    size(w);
    put(1, 1); // image metadata: all defaults
    put(1, 1); // transform data: all defaults
    std::string data = "\xFF\x0A"s + std::string(64, '\0');
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i])
            data[2 + i / 8] = char(uint8_t(data[2 + i / 8]) | 1u << (i % 8));
    return data;
}

TEST_F(JxlPlugin, InfoTextsAndSignatures)
{
    ExpectInfoTexts(plugin, "libjxl 0.", "*.jxl", "JPEG XL 画像ファイル");
    ExpectSignatures(plugin, {
                                 {"\xFF\x0A"s, true},
                                 {"\0\0\0\x0CJXL \x0D\x0A\x87\x0A"s, true},
                                 {"\0\0\0\x0CJXL \x0D\x0A\x87\x0B"s, false},
                                 {"\xFF\x0B"s, false},
                                 {"\xFF\xD8\xFF\xE0"s, false},
                                 {"\x89PNG\r\n\x1a\n"s, false},
                                 {""s, false},
                             });
}

// Lossless files come out as their source (alpha left out, 16 bits reduced to 8 within one
// step); the others exactly as djxl writes them in 8 bits. The large ones reach the decoder in
// several parts.
TEST_F(JxlFiles, FilesDecodeAsTheSourceAndDjxl)
{
    const struct {
        const char* name;
        SpiPicture source;
        std::vector<std::string> args;
        bool alpha, wide, lossless;
    } cases[] = {
        {"lossless", PatternPicture(37, 29), {"-d", "0"}, false, false, true},
        {"lossless in a container", PatternPicture(37, 29), {"-d", "0", "--container=1"}, false, false, true},
        {"lossless with alpha", PatternPicture(30, 20), {"-d", "0"}, true, false, true},
        {"lossless 16 bits", PatternPicture(23, 19), {"-d", "0"}, false, true, false},
        {"lossy", PatternPicture(64, 48), {"-d", "1"}, false, false, false},
        {"lossy progressive", PatternPicture(64, 48), {"-d", "1", "-p"}, false, false, false},
        {"lossy with alpha", PatternPicture(50, 40), {"-d", "2"}, true, false, false},
        {"large lossless", PatternPicture(700, 500), {"-d", "0", "-e", "1"}, false, false, true},
        {"large lossy", PatternPicture(700, 500), {"-d", "0.3", "-e", "3"}, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = Make(c.source, c.args, c.alpha, c.wide);
        ASSERT_FALSE(data.empty());
        ASSERT_TRUE(plugin.Supports(data));
        SpiPictureInfo info;
        ASSERT_EQ(plugin.PictureInfo(data, info), SPI_SUCCESS);
        EXPECT_EQ(info.width, c.source.width);
        EXPECT_EQ(info.height, c.source.height);
        EXPECT_EQ(info.colorDepth, 24);

        const SpiPicture got = DecodeBothWays(plugin, data, temp.Path());
        EXPECT_EQ(got.bits, 24);
        if (c.lossless || c.wide) {
            EXPECT_TRUE(SameRgb(got, c.source, c.wide ? 1 : 0));
        }
        // djxl writes a PAM for pictures with alpha (read without the alpha). Asked for 8 bits
        // of a 16-bit picture it writes 16-bit samples under an 8-bit PPM header, so the
        // 16-bit case is compared with its source above instead.
        if (!c.wide) {
            SpiPicture reference;
            ASSERT_TRUE(Reference(reference));
            EXPECT_TRUE(SameRgb(got, reference));
        }
    }
}

// A picture coded in XYB comes out in sRGB, converted from its profile as LittleCMS converts
// the source (within the loss of the coding, far less than a wrong conversion), with no profile handed over; one coded without
// loss keeps its stored pixels and hands over its ICC profile as djxl writes it, unless it
// is sRGB. Grey pictures too (a grey XYB picture is not linear grey).
TEST_F(JxlFiles, ColourOfXybAndOfOriginalProfiles)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string rgbIcc = temp / "swap.icc", greyIcc = temp / "grey.icc";
    WriteBytes(rgbIcc, SwapRedBlueProfile());
    WriteBytes(greyIcc, LinearGreyProfile());
    // Four flat blocks of 16 x 16, so that lossy coding keeps their middles.
    SpiPicture source = PatternPicture(32, 32);
    const uint8_t colours[4][3] = {{200, 40, 30}, {30, 180, 60}, {164, 164, 164}, {20, 60, 220}};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            std::memcpy(source.rgb.data() + (std::size_t(y) * 32 + std::size_t(x)) * 3, colours[(y / 16) * 2 + x / 16], 3);
    struct Case {
        const char* name;
        std::string profile; // assigned to the source
        bool grey;
        std::vector<std::string> args;
        bool xyb;
    };
    const Case cases[] = {
        {"XYB, RGB profile", rgbIcc, false, {"-d", "0.5"}, true},
        {"XYB, grey profile", greyIcc, true, {"-d", "0.5"}, true},
        {"XYB, sRGB", "", false, {"-d", "0.5"}, true},
        {"lossless, RGB profile", rgbIcc, false, {"-d", "0"}, false},
        {"lossless, grey profile", greyIcc, true, {"-d", "0"}, false},
        {"lossless, sRGB", "", false, {"-d", "0"}, false},
    };
    const std::string ppm = temp / "blocks.ppm", png = temp / "blocks.png", jxl = temp / "x.jxl",
                      icc = temp / "decoded.icc", raw = temp / "raw.ppm";
    ASSERT_TRUE(WritePpm(ppm, source));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A PNG of 8-bit samples with the profile and no other colour chunk (ImageMagick's
        // gAMA and cHRM would describe a colour space of their own).
        std::vector<std::string> args = {"convert", ppm, "-define", "png:exclude-chunks=gAMA,cHRM,sRGB,bKGD"};
        if (c.grey)
            args.insert(args.end(), {"-colorspace", "gray", "-define", "png:color-type=0", "-define", "png:bit-depth=8"});
        if (!c.profile.empty())
            args.insert(args.end(), {"-profile", c.profile});
        args.push_back((c.grey ? "png:" : "png24:") + png);
        ASSERT_TRUE(RunTool(args, png));
        args = {"cjxl", png, jxl, "--quiet"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_TRUE(RunTool(args, jxl));
        const SpiPicture p = DecodeBothWays(plugin, ReadBytes(jxl), temp.Path());
        if (c.xyb) {
            EXPECT_EQ(p.profile, "");
            const RgbPicture managed = ColourReference(png, temp / "managed.ppm");
            SpiPicture expected = p;
            ASSERT_EQ(managed.rgb.size(), p.rgb.size());
            expected.rgb = managed.rgb;
            for (const int at : {4, 11}) // the middles of the blocks
                for (const int y : {at, at + 16})
                    for (const int x : {at, at + 16})
                        for (int k = 0; k < 3; ++k)
                            EXPECT_NEAR(p.Pixel(x, y)[k], expected.Pixel(x, y)[k], 10) << x << "," << y << " channel " << k;
        } else {
            ASSERT_TRUE(RunTool({"djxl", jxl, raw, "--quiet", "--icc_out=" + icc}, icc));
            EXPECT_TRUE(p.profile == (c.profile.empty() ? std::string() : ReadBytes(icc)))
                << "a profile of " << p.profile.size() << " bytes";
            SpiPicture stored;
            ASSERT_TRUE(RunTool({"convert", png, "-depth", "8", raw}, raw) && ReadPpm(raw, stored));
            EXPECT_TRUE(SameRgb(p, stored));
        }
    }
}

// A JPEG recompressed without loss (cjxl's default for JPEG input) decodes to pixels as djxl
// decodes it.
TEST_F(JxlFiles, RecompressedJpegDecodesAsDjxl)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string ppm = temp / "source.ppm", jpg = temp / "source.jpg";
    ASSERT_TRUE(WritePpm(ppm, PatternPicture(45, 31)));
    ASSERT_TRUE(RunTool({"convert", ppm, "-quality", "85", jpg}, jpg));
    ASSERT_TRUE(RunTool({"cjxl", jpg, temp / "x.jxl", "--quiet"}, temp / "x.jxl"));
    SpiPicture reference;
    ASSERT_TRUE(Reference(reference));
    EXPECT_TRUE(SameRgb(DecodeBothWays(plugin, ReadBytes(temp / "x.jxl"), temp.Path()), reference));
}

// Of an animation only the first frame is shown.
TEST_F(JxlFiles, AnimationGivesItsFirstFrame)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string gif = temp / "anim.gif", jxl = temp / "anim.jxl";
    ASSERT_TRUE(RunTool({"convert", "-size", "16x12", "-delay", "10", "xc:red", "xc:blue", "xc:lime", "-loop", "0", gif}, gif));
    ASSERT_TRUE(RunTool({"cjxl", gif, jxl, "--quiet"}, jxl));
    SpiPicture got;
    ASSERT_EQ(plugin.Decode(ReadBytes(jxl), got), SPI_SUCCESS);
    ASSERT_EQ(got.width, 16);
    ASSERT_EQ(got.height, 12);
    for (std::size_t i = 0; i < got.rgb.size(); i += 3)
        ASSERT_EQ(std::string(got.rgb.begin() + std::ptrdiff_t(i), got.rgb.begin() + std::ptrdiff_t(i + 3)), "\xFF\0\0"s) << i / 3;
}

// Progress as the parts of a large file are decoded (one report for each and the two ends),
// and a stop at any of them.
TEST_F(JxlFiles, ReportsProgressAndStopsWhenAsked)
{
    const std::string small = Make(PatternPicture(64, 48), {"-d", "1"});
    ASSERT_FALSE(small.empty());
    ExpectProgressAndAbort(plugin, small, 2);
    // About 850 KB: four parts of 256 KB.
    const std::string large = Make(PatternPicture(700, 500), {"-d", "0", "-e", "1"});
    ASSERT_GT(large.size(), std::size_t(3) << 18);
    ExpectProgressAndAbort(plugin, large, 5);
}

// The threads a decoding runs follow the share the program gives: the caller's alone with a
// share of 1, more with every processor (0). The process's threads are counted while the picture decodes.
TEST_F(JxlFiles, DecodingRunsTheThreadShare)
{
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    ASSERT_EQ(::sched_getaffinity(0, sizeof cpus, &cpus), 0);
    if (CPU_COUNT(&cpus) < 2)
        GTEST_SKIP() << "one processor: no share to tell from all of them";
    const std::string data = Make(PatternPicture(2048, 1024), {"-d", "0", "-e", "1"});
    ASSERT_FALSE(data.empty());
    const auto count = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
            ++n;
        return n;
    };
    const auto most = [&](int32_t share) {
        EXPECT_TRUE(plugin.SetThreadShare(share));
        const std::size_t before = count();
        std::atomic<bool> done{false};
        std::atomic<std::size_t> peak{0};
        std::thread watcher([&] {
            while (!done)
                peak = std::max<std::size_t>(peak, count());
        });
        SpiPicture p;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(plugin.Decode(data, p), SPI_SUCCESS);
        done = true;
        watcher.join();
        return peak - before - 1; // the watcher itself
    };
    const std::size_t one = most(1), all = most(0);
    plugin.SetThreadShare(0);
    // libjxl's runner works on the caller's thread and starts one thread less than it runs.
    EXPECT_EQ(one, 0u);
    EXPECT_GT(all, one);
}

TEST_F(JxlFiles, RefusesBrokenAndOversizedFiles)
{
    for (const bool container : {false, true}) {
        SCOPED_TRACE(container ? "container" : "codestream");
        const std::string data = Make(PatternPicture(64, 48), {"-d", "1", "--container=" + std::to_string(int(container))});
        ASSERT_FALSE(data.empty());
        ExpectTruncationsFail(plugin, data, 1);
        ExpectCorruptionsSurvive(plugin, data);
    }

    // Headers alone: their size is reported, but there is no picture to decode.
    const struct {
        uint32_t width, height;
        int32_t result;
    } headers[] = {
        {16, 16, 0},
        {20000, 20000, SPI_BROKEN_DATA}, // more pixels than the program holds
        {70000, 1, SPI_BROKEN_DATA},     // wider than it holds
    };
    for (const auto& h : headers) {
        SCOPED_TRACE(std::to_string(h.width) + " x " + std::to_string(h.height));
        SpiPictureInfo info;
        ASSERT_EQ(plugin.PictureInfo(Header(h.width, h.height), info), SPI_SUCCESS);
        EXPECT_EQ(uint32_t(info.width), h.width);
        EXPECT_EQ(uint32_t(info.height), h.height);
        SpiPicture got;
        const int32_t rc = plugin.Decode(Header(h.width, h.height), got);
        EXPECT_NE(rc, SPI_SUCCESS);
        if (h.result) {
            EXPECT_EQ(rc, h.result);
        }
    }
}

}  // namespace
