// iftiff.spi: TIFF files made by ImageMagick and libtiff's tools decoded exactly (strips,
// tiles, planes, 16 bits, alpha, orientation, BigTIFF), palette and grey pictures kept as
// palettes, colour maps of 16-bit and of 8-bit values, the eight orientations, the colour
// under alpha, ICC profiles and CMYK inks handed over, progress and its stop, broken files.

#include "ColorFixtures.h"
#include "PluginLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace nolvi2::test;

namespace {

// A little-endian TIFF of one uncompressed strip, written by hand for what the tools do not
// write: tags (number, type, values) in ascending order, the strip's offset filled in.
struct Tag {
    uint16_t number, type; // 3 SHORT, 4 LONG
    std::vector<uint32_t> values;
};

void PutLE(std::string& s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s += char(v >> (8 * i) & 0xFF);
}

std::string MakeTiff(std::vector<Tag> tags, const std::string& strip)
{
    tags.push_back({273, 4, {0}}); // StripOffsets, set below
    tags.push_back({279, 4, {uint32_t(strip.size())}});
    std::sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.number < b.number; });
    const auto bytesOf = [](const Tag& t) { return t.values.size() * (t.type == 3 ? 2 : 4); };
    // Values longer than 4 bytes go after the directory, the strip after them.
    const std::size_t spillAt = 8 + 2 + 12 * tags.size() + 4;
    std::size_t stripAt = spillAt;
    for (const auto& t : tags)
        stripAt += bytesOf(t) > 4 ? bytesOf(t) : 0;
    std::string ifd, spill;
    PutLE(ifd, uint32_t(tags.size()), 2);
    for (auto& t : tags) {
        if (t.number == 273)
            t.values[0] = uint32_t(stripAt);
        PutLE(ifd, t.number, 2);
        PutLE(ifd, t.type, 2);
        PutLE(ifd, uint32_t(t.values.size()), 4);
        std::string& to = bytesOf(t) > 4 ? spill : ifd;
        if (&to == &spill)
            PutLE(ifd, uint32_t(spillAt + spill.size()), 4);
        const std::size_t start = to.size();
        for (const uint32_t v : t.values)
            PutLE(to, v, t.type == 3 ? 2 : 4);
        if (&to == &ifd)
            ifd.resize(start + 4, '\0');
    }
    PutLE(ifd, 0, 4);
    return std::string("II*\0\x08\0\0\0", 8) + ifd + spill + strip;
}

// The tags of a one-strip picture of width x height with one sample of bits.
std::vector<Tag> OneSample(uint32_t width, uint32_t height, uint32_t bits, uint32_t photometric)
{
    return {{256, 4, {width}}, {257, 4, {height}}, {258, 3, {bits}}, {259, 3, {1}},
            {262, 3, {photometric}}, {277, 3, {1}}, {278, 4, {height}}};
}

// What the process writes to its standard error meanwhile.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& file) : FFile(file)
    {
        std::fflush(stderr);
        FSaved = ::dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { Text(); }
    std::string Text()
    {
        if (FSaved >= 0) {
            std::fflush(stderr);
            ::dup2(FSaved, 2);
            ::close(FSaved);
            FSaved = -1;
        }
        return ReadBytes(FFile);
    }

private:
    std::string FFile;
    int FSaved = -1;
};

class TiffPlugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
    }

    // The source picture through ImageMagick with its arguments, then through a libtiff tool
    // when one is given ({"tiffcp", "-t", ...}); "" when a tool is missing or fails.
    std::string Make(const SpiPicture& source, const std::vector<std::string>& convertArgs,
                     const std::vector<std::string>& tiffArgs = {})
    {
        const std::string ppm = temp / "source.ppm", tif = temp / "x.tif", out = temp / "y.tif";
        EXPECT_TRUE(WritePpm(ppm, source));
        std::vector<std::string> args = {"convert", ppm, "-depth", "8"};
        args.insert(args.end(), convertArgs.begin(), convertArgs.end());
        args.push_back(tif);
        if (!RunTool(args, tif))
            return {};
        if (tiffArgs.empty())
            return ReadBytes(tif);
        args = tiffArgs;
        args.insert(args.end(), {tif, out});
        return RunTool(args, out) ? ReadBytes(out) : std::string();
    }

    static SpiPicture Flipped(const SpiPicture& p, bool flipX, bool flipY)
    {
        SpiPicture f = p;
        for (int32_t y = 0; y < p.height; ++y)
            for (int32_t x = 0; x < p.width; ++x)
                std::memcpy(f.rgb.data() + (std::size_t(y) * std::size_t(p.width) + std::size_t(x)) * 3,
                            p.Pixel(flipX ? p.width - 1 - x : x, flipY ? p.height - 1 - y : y), 3);
        return f;
    }

    SpiPlugin plugin{"iftiff"};
    TempDir temp{"nolvi2-tiff"};
};

TEST_F(TiffPlugin, InfoTextsAndSignature)
{
    ExpectInfoTexts(plugin, "libtiff", "*.tif;*.tiff", "TIFF 画像ファイル");
    ExpectSignatures(plugin, {
        {std::string("II*\0", 4), true},
        {std::string("MM\0*", 4), true},
        {std::string("II+\0", 4), true}, // BigTIFF
        {std::string("MM\0+", 4), true},
        {std::string("II\0*", 4), false},
        {std::string("MM*\0", 4), false},
        {std::string("IM*\0", 4), false},
        {"GIF89a", false},
        {"", false},
    });
}

// Whatever the layout, a 24-bit picture exactly as its source (or flipped as its orientation
// says).
TEST_F(TiffPlugin, ColourLayoutsDecodeExactly)
{
    NOLVI2_REQUIRE_TOOL("convert");
    NOLVI2_REQUIRE_TOOL("tiffcp");
    struct Case {
        const char* name;
        std::vector<std::string> convert, tiff;
        bool flipX = false, flipY = false;
    };
    const Case cases[] = {
        {"LZW strips", {"-compress", "lzw"}, {}},
        {"16 bits, deflate", {"-depth", "16", "-compress", "zip"}, {}},
        {"tiles", {}, {"tiffcp", "-t", "-w", "16", "-l", "16"}},
        {"separate planes", {"-define", "tiff:rows-per-strip=7"}, {"tiffcp", "-p", "separate"}},
        {"opaque alpha", {"-alpha", "set"}, {}},
        {"big-endian BigTIFF", {"-endian", "MSB"}, {"tiffcp", "-8"}},
        {"bottom-up rows", {"-orient", "bottom-left"}, {}, false, true},
        {"mirrored columns", {"-orient", "top-right"}, {}, true, false},
        {"both", {"-orient", "bottom-right"}, {}, true, true},
    };
    const SpiPicture source = PatternPicture(53, 37);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tif = Make(source, c.convert, c.tiff);
        ASSERT_FALSE(tif.empty());
        EXPECT_TRUE(plugin.Supports(tif));
        const SpiPicture p = DecodeBothWays(plugin, tif, temp.Path());
        EXPECT_EQ(p.bits, 24);
        EXPECT_TRUE(SameRgb(p, Flipped(source, c.flipX, c.flipY)));
        EXPECT_TRUE(InfoIs(plugin, tif, temp.Path(), 53, 37, 24));
    }
}

// Palette, grey and bilevel pictures keep their indices: 1, 4 or 8 bits with the file's
// colour map (or a grey ramp), in strips or tiles.
TEST_F(TiffPlugin, IndexedPicturesStayPalettes)
{
    NOLVI2_REQUIRE_TOOL("convert");
    NOLVI2_REQUIRE_TOOL("tiffcp");
    struct Case {
        const char* name;
        int colors;
        std::vector<std::string> convert, tiff;
        int bits;
        bool grey = false, flipY = false;
    };
    const Case cases[] = {
        {"2 colours", 2, {"-type", "palette"}, {}, 1},
        {"12 colours", 12, {"-type", "palette"}, {}, 4},
        {"200 colours", 200, {"-type", "palette", "-compress", "lzw"}, {}, 8},
        {"200 colours in tiles", 200, {"-type", "palette"}, {"tiffcp", "-t", "-w", "32", "-l", "16"}, 8},
        {"12 colours, bottom-up", 12, {"-type", "palette", "-orient", "bottom-left"}, {}, 4, false, true},
        {"grey", 0, {"-type", "grayscale"}, {}, 8, true},
        {"bilevel G4", 2, {"-type", "bilevel", "-compress", "group4"}, {}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SpiPicture source = PatternPicture(45, 31, c.colors);
        if (c.grey) // grey levels (black and white for bilevel)
            for (std::size_t i = 0; i < source.rgb.size(); i += 3)
                source.rgb[i] = source.rgb[i + 1] = source.rgb[i + 2] =
                    c.colors == 2 ? (source.rgb[i] > 100 ? 255 : 0) : source.rgb[i];
        const std::string tif = Make(source, c.convert, c.tiff);
        ASSERT_FALSE(tif.empty());
        const SpiPicture p = DecodeBothWays(plugin, tif, temp.Path());
        EXPECT_EQ(p.bits, c.bits);
        EXPECT_EQ(p.palette.size(), 3u << c.bits);
        EXPECT_TRUE(SameRgb(p, Flipped(source, false, c.flipY)));
        if (c.grey && c.bits == 8) {
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(p.palette[3 * std::size_t(i) + 1], i) << "entry " << i;
        }
        EXPECT_TRUE(InfoIs(plugin, tif, temp.Path(), 45, 31, c.bits));
    }
}

// A colour map of 16-bit values is scaled to 8 bits; one whose values all fit in 8 bits (as
// some writers store them) is taken as it is. 2-bit indices widen to a 4-bit DIB.
TEST_F(TiffPlugin, ColourMapsOfBothWidths)
{
    const std::vector<uint32_t> red = {10, 200, 255, 0}, green = {0, 17, 128, 255}, blue = {99, 1, 2, 3};
    for (const bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "16-bit values" : "8-bit values");
        std::vector<uint32_t> map;
        for (const auto* channel : {&red, &green, &blue})
            for (const uint32_t v : *channel)
                map.push_back(wide ? v * 257 : v);
        auto tags = OneSample(5, 2, 2, 3);
        tags.push_back({320, 3, map});
        // 2-bit indices 0 1 2 3 2 / 3 3 0 1 1, rows padded to whole bytes
        const std::string tif = MakeTiff(tags, std::string("\x1B\x80\xF1\x40", 4));
        SpiPicture p;
        ASSERT_EQ(plugin.Decode(tif, p), SPI_SUCCESS);
        EXPECT_EQ(p.bits, 4);
        EXPECT_EQ(p.palette, (std::vector<uint8_t>{10, 0, 99, 200, 17, 1, 255, 128, 2, 0, 255, 3}));
        EXPECT_EQ(p.index, (std::vector<uint8_t>{0, 1, 2, 3, 2, 3, 3, 0, 1, 1}));
    }
    // 16-bit values that are not multiples of 257 round to the nearest 8-bit value.
    auto tags = OneSample(2, 1, 1, 3);
    tags.push_back({320, 3, {0x7F80, 0xFFFF, 0xFF00, 0x017F, 0x8000, 0x0100}});
    SpiPicture p;
    ASSERT_EQ(plugin.Decode(MakeTiff(tags, std::string("\x40", 1)), p), SPI_SUCCESS);
    EXPECT_EQ(p.palette, (std::vector<uint8_t>{127, 254, 128, 255, 1, 1}));
}

// The eight orientations of TIFF 6.0 as ImageMagick's -auto-orient shows them (5 to 8 turn
// the picture, its sides swapped), for colour, grey and palette pictures.
TEST_F(TiffPlugin, OrientationsAsImageMagickShowsThem)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const char* const names[] = {"top-left", "top-right", "bottom-right", "bottom-left",
                                 "left-top", "right-top", "right-bottom", "left-bottom"};
    struct Kind {
        const char* name;
        int colors;
        std::vector<std::string> convert;
    };
    const Kind kinds[] = {{"RGB", 0, {}}, {"grey", 0, {"-type", "grayscale"}}, {"palette", 20, {"-type", "palette"}}};
    for (const auto& kind : kinds) {
        for (int o = 0; o < 8; ++o) {
            SCOPED_TRACE(std::string(kind.name) + ", " + names[o]);
            std::vector<std::string> args = kind.convert;
            args.insert(args.end(), {"-orient", names[o]});
            const std::string tif = Make(PatternPicture(29, 13, kind.colors), args);
            ASSERT_FALSE(tif.empty());
            const std::string ppm = temp / "oriented.ppm";
            SpiPicture expected;
            ASSERT_TRUE(RunTool({"convert", temp / "x.tif", "-auto-orient", ppm}, ppm) && ReadPpm(ppm, expected));
            ASSERT_EQ(expected.width, o < 4 ? 29 : 13);
            const SpiPicture p = DecodeBothWays(plugin, tif, temp.Path());
            EXPECT_TRUE(SameRgb(p, expected));
            EXPECT_TRUE(InfoIs(plugin, tif, temp.Path(), expected.width, expected.height, p.bits));
        }
    }
}

// A picture with alpha gives the colour stored under it: unassociated alpha exactly, colours
// premultiplied by an associated alpha divided back (within 1, 0 where the alpha is 0), as
// ImageMagick reads them; in 8 and 16 bits, contiguous or in planes, in strips or tiles, grey too.
TEST_F(TiffPlugin, ColourUnderAlpha)
{
    NOLVI2_REQUIRE_TOOL("convert");
    NOLVI2_REQUIRE_TOOL("tiffcp");
    struct Case {
        const char* name;
        std::vector<std::string> convert, tiff;
        bool associated;
    };
    const Case cases[] = {
        {"unassociated", {}, {}, false},
        {"unassociated, 16 bits, planes", {"-depth", "16", "-interlace", "plane"}, {}, false},
        {"unassociated grey", {"-type", "grayscalealpha"}, {}, false},
        {"associated", {"-define", "tiff:alpha=associated"}, {}, true},
        {"associated, 16 bits", {"-depth", "16", "-define", "tiff:alpha=associated"}, {}, true},
        {"associated, tiles", {"-define", "tiff:alpha=associated"}, {"tiffcp", "-t", "-w", "16", "-l", "16"}, true},
        {"associated grey, planes", {"-type", "grayscalealpha", "-define", "tiff:alpha=associated"},
         {"tiffcp", "-p", "separate"}, true},
    };
    const std::string ppm = temp / "source.ppm", png = temp / "alpha.png", tif = temp / "x.tif";
    ASSERT_TRUE(WritePpm(ppm, PatternPicture(37, 21)));
    // Alpha 0, 1/4, 1/2, 3/4 and 1 in turn.
    ASSERT_TRUE(RunTool({"convert", ppm, "-alpha", "set", "-channel", "A", "-fx", "(i%5)/4", "+channel", png}, png));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"convert", png};
        args.insert(args.end(), c.convert.begin(), c.convert.end());
        args.push_back(tif);
        ASSERT_TRUE(RunTool(args, tif));
        // ImageMagick's reading of the contiguous strips that it wrote (libtiff's tools only
        // rearrange the samples).
        const std::string reference = temp / "reference.ppm";
        SpiPicture expected;
        ASSERT_TRUE(RunTool({"convert", tif, "-alpha", "off", "-depth", "8", reference}, reference) &&
                    ReadPpm(reference, expected));
        std::string data = ReadBytes(tif);
        if (!c.tiff.empty()) {
            const std::string out = temp / "y.tif";
            args = c.tiff;
            args.insert(args.end(), {tif, out});
            ASSERT_TRUE(RunTool(args, out));
            data = ReadBytes(out);
        }
        const SpiPicture p = DecodeBothWays(plugin, data, temp.Path());
        EXPECT_TRUE(SameRgb(p, expected, c.associated ? 1 : 0));
    }
}

// The ICC profile of the file goes with the picture, byte for byte, with the pixels as they
// are stored; a file without one gives the 40-byte header. 8-bit CMYK with a CMYK profile is
// handed over as its inks; without one it is made RGB by the simple ink formula.
TEST_F(TiffPlugin, ProfilesAndCmykInks)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string rgbIcc = temp / "swap.icc", greyIcc = temp / "grey.icc", cmykIcc = temp / "cmyk.icc";
    WriteBytes(rgbIcc, SwapRedBlueProfile());
    WriteBytes(greyIcc, LinearGreyProfile());
    WriteBytes(cmykIcc, CmykProfile());
    struct Case {
        const char* name;
        int colors;
        std::vector<std::string> convert;
        std::string profile; // expected in the DIB
        int bits;
    };
    const Case cases[] = {
        {"RGB", 0, {"-profile", rgbIcc}, rgbIcc, 24},
        {"RGB, turned", 0, {"-profile", rgbIcc, "-orient", "right-top"}, rgbIcc, 24},
        {"palette", 30, {"-type", "palette", "-profile", rgbIcc}, rgbIcc, 8},
        {"grey", 0, {"-type", "grayscale", "-profile", greyIcc}, greyIcc, 8},
        {"no profile", 0, {}, "", 24},
        {"CMYK with its profile", 0, {"-colorspace", "CMYK", "-profile", cmykIcc}, cmykIcc, 32},
        {"CMYK without a profile", 0, {"-colorspace", "CMYK"}, "", 24},
        {"CMYK, an RGB profile", 0, {"-colorspace", "CMYK", "-profile", rgbIcc}, "", 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SpiPicture source = PatternPicture(31, 19, c.colors);
        const std::string tif = Make(source, c.convert);
        ASSERT_FALSE(tif.empty());
        const SpiPicture p = DecodeBothWays(plugin, tif, temp.Path());
        EXPECT_EQ(p.bits, c.bits);
        EXPECT_TRUE(p.profile == (c.profile.empty() ? std::string() : ReadBytes(c.profile)))
            << "a profile of " << p.profile.size() << " bytes";
        // The raw samples as ImageMagick reads them back, without colour management.
        const bool cmyk = c.convert.size() >= 2 && c.convert[1] == "CMYK";
        const std::string raw = temp / (cmyk ? "inks.cmyk" : "raw.ppm");
        ASSERT_TRUE(RunTool({"convert", temp / "x.tif", "-auto-orient", "-depth", "8", raw}, raw));
        SpiPicture expected = p;
        if (cmyk) {
            const std::string inks = ReadBytes(raw);
            ASSERT_EQ(inks.size(), std::size_t(p.width) * std::size_t(p.height) * 4);
            if (c.bits == 32) {
                EXPECT_EQ(p.cmyk, std::vector<uint8_t>(inks.begin(), inks.end()));
            }
            for (std::size_t i = 0; i < inks.size() / 4; ++i)
                for (std::size_t k = 0; k < 3; ++k)
                    expected.rgb[3 * i + k] = uint8_t((255 - uint8_t(inks[4 * i + 3])) * (255 - uint8_t(inks[4 * i + k])) / 255);
        } else {
            ASSERT_TRUE(ReadPpm(raw, expected));
        }
        EXPECT_TRUE(SameRgb(p, expected));
        EXPECT_TRUE(InfoIs(plugin, tif, temp.Path(), p.width, p.height, c.bits));
    }
}

// 16-bit grey (read as samples, its profile handed over) is reduced to the nearest 8-bit
// value: round(v / 257) of the samples ImageMagick reads back.
TEST_F(TiffPlugin, SixteenBitGreyRoundsToNearest)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string greyIcc = temp / "grey.icc", pgm = temp / "raw.pgm";
    WriteBytes(greyIcc, LinearGreyProfile());
    const std::string tif = Make(PatternPicture(33, 17), {"-type", "grayscale", "-depth", "16", "-profile", greyIcc});
    ASSERT_FALSE(tif.empty());
    ASSERT_TRUE(RunTool({"convert", temp / "x.tif", "-depth", "16", pgm}, pgm));
    const std::string raw = ReadBytes(pgm);
    const std::string head = "P5\n33 17\n65535\n";
    ASSERT_EQ(raw.substr(0, head.size()), head);
    ASSERT_EQ(raw.size(), head.size() + 33u * 17u * 2u);
    const SpiPicture p = DecodeBothWays(plugin, tif, temp.Path());
    EXPECT_EQ(p.bits, 24);
    EXPECT_EQ(p.profile, ReadBytes(greyIcc));
    SpiPicture expected = p;
    int between = 0; // samples that are not a multiple of 257
    for (std::size_t i = 0; i < std::size_t(33 * 17); ++i) {
        const unsigned v = unsigned(uint8_t(raw[head.size() + 2 * i])) << 8 | uint8_t(raw[head.size() + 2 * i + 1]);
        between += v % 257 != 0;
        expected.rgb[3 * i] = expected.rgb[3 * i + 1] = expected.rgb[3 * i + 2] = uint8_t((v * 2 + 257) / 514);
    }
    EXPECT_GT(between, 100);
    EXPECT_TRUE(SameRgb(p, expected));
}

TEST_F(TiffPlugin, ProgressByStripsAndTilesAndStop)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const SpiPicture source = PatternPicture(40, 43);
    const std::string strips = Make(source, {"-define", "tiff:rows-per-strip=5"});
    ASSERT_FALSE(strips.empty());
    ExpectProgressAndAbort(plugin, strips, 9);
    const std::string palette = Make(PatternPicture(40, 43, 30), {"-type", "palette", "-define", "tiff:rows-per-strip=4"});
    ASSERT_FALSE(palette.empty());
    ExpectProgressAndAbort(plugin, palette, 11);
    NOLVI2_REQUIRE_TOOL("tiffcp");
    const std::string tiles = Make(source, {}, {"tiffcp", "-t", "-w", "16", "-l", "16"});
    ASSERT_FALSE(tiles.empty());
    ExpectProgressAndAbort(plugin, tiles, 3);
}

TEST_F(TiffPlugin, BrokenFilesFailQuietly)
{
    NOLVI2_REQUIRE_TOOL("convert");
    StderrCapture err(temp / "stderr.txt");
    // ImageMagick writes the strips, then the directory, then the values that do not fit in
    // its entries: a cut before the end of the entries loses part of the picture. (A cut
    // after them loses only values that libtiff does without: a missing colour map of 8-bit
    // indices makes a grey picture, as in libtiff's tools.)
    for (const auto& args : std::vector<std::vector<std::string>>{{"-compress", "lzw"}, {"-type", "palette"}}) {
        const std::string tif = Make(PatternPicture(30, 20, args[0] == "-type" ? 40 : 0), args);
        ASSERT_GT(tif.size(), 8u);
        const auto byte = [&tif](std::size_t i) { return uint32_t(uint8_t(tif.at(i))); };
        const std::size_t ifd = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
        const std::size_t entriesEnd = ifd + 2 + 12 * (byte(ifd) | byte(ifd + 1) << 8);
        ASSERT_LT(entriesEnd, tif.size());
        ExpectTruncationsFail(plugin, tif, tif.size() - entriesEnd + 1);
        ExpectCorruptionsSurvive(plugin, tif);
    }

    SpiPicture p;
    const std::string strip(6, '\x55');
    const auto withMap = [](std::vector<Tag> tags) {
        tags.push_back({320, 3, std::vector<uint32_t>(3 * 256, 0x1234)});
        return tags;
    };
    // A palette picture of 4-bit indices without its colour map (libtiff takes 8-bit ones as
    // grey); a strip that ends past the end of the file; absurd sizes.
    EXPECT_NE(plugin.Decode(MakeTiff(OneSample(3, 2, 4, 3), strip), p), SPI_SUCCESS);
    std::string cut = MakeTiff(withMap(OneSample(3, 2, 8, 3)), strip);
    cut.resize(cut.size() - 3);
    EXPECT_NE(plugin.Decode(cut, p), SPI_SUCCESS);
    for (const auto& [w, h] : {std::pair{65536u, 1u}, {1u, 65536u}, {20000u, 20000u}}) {
        EXPECT_NE(plugin.Decode(MakeTiff(withMap(OneSample(w, h, 8, 3)), strip), p), SPI_SUCCESS) << w << "x" << h;
        EXPECT_NE(plugin.Decode(MakeTiff(OneSample(w, h, 8, 2), strip), p), SPI_SUCCESS) << w << "x" << h;
    }
    EXPECT_NE(plugin.Decode(std::string("II*\0\xFF\xFF\xFF\x7F", 8), p), SPI_SUCCESS);
    // libtiff's complaints about all of them went nowhere.
    EXPECT_EQ(err.Text().substr(0, 400), "");
}

}  // namespace
