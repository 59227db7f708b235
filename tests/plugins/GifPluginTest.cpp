// ifgif.spi: GIF files made by ImageMagick and gifsicle decoded exactly, the first frame
// placed on the logical screen, the colour table kept, progress and its stop, broken files.

#include "PluginLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace nolvi2::test;
using namespace std::string_literals;

namespace {

// A GIF of one frame written by hand, for the layouts the tools do not make: the LZW data
// holds only literal codes, with a clear code before the code width would grow.
struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    std::vector<uint8_t> localTable; // r, g, b triples; a power of two of them, or none
    std::vector<uint8_t> indices;    // width * height, rows from the top
};

std::string TableBytes(const std::vector<uint8_t>& table, int& sizeField)
{
    const std::size_t n = table.size() / 3;
    sizeField = 0;
    while ((std::size_t(2) << sizeField) < n)
        ++sizeField;
    std::string bytes(table.begin(), table.end());
    bytes.resize((std::size_t(2) << sizeField) * 3, '\0');
    return bytes;
}

void Put16(std::string& s, int v)
{
    s += char(v & 0xFF);
    s += char(v >> 8 & 0xFF);
}

std::string MakeGif(int screenWidth, int screenHeight, const std::vector<uint8_t>& globalTable, int background,
                    const GifFrame& f)
{
    std::string s = "GIF89a";
    Put16(s, screenWidth);
    Put16(s, screenHeight);
    int sizeField = 0;
    const std::string global = globalTable.empty() ? std::string() : TableBytes(globalTable, sizeField);
    s += char((global.empty() ? 0 : 0x80 | 0x70 | sizeField));
    s += char(background);
    s += '\0';
    s += global;
    s += ',';
    Put16(s, f.left);
    Put16(s, f.top);
    Put16(s, f.width);
    Put16(s, f.height);
    const std::string local = f.localTable.empty() ? std::string() : TableBytes(f.localTable, sizeField);
    s += char((local.empty() ? 0 : 0x80 | sizeField) | (f.interlace ? 0x40 : 0));
    s += local;

    int codeSize = 2;
    for (const uint8_t v : f.indices)
        while (v >= (1 << codeSize))
            ++codeSize;
    const int clear = 1 << codeSize, width = codeSize + 1, run = clear - 2;
    std::string data;
    uint32_t acc = 0;
    int nbits = 0;
    const auto code = [&](int c) {
        acc |= uint32_t(c) << nbits;
        for (nbits += width; nbits >= 8; nbits -= 8, acc >>= 8)
            data += char(acc & 0xFF);
    };
    std::vector<int> order; // the rows in the order they are stored
    if (f.interlace) {
        for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int y = first; y < f.height; y += step)
                order.push_back(y);
    } else {
        for (int y = 0; y < f.height; ++y)
            order.push_back(y);
    }
    // A frame with fewer indices than pixels has its data cut short there.
    const std::size_t count = std::min(f.indices.size(), std::size_t(f.width) * std::size_t(f.height));
    int sinceClear = run;
    for (std::size_t k = 0; k < count; ++k) {
        if (sinceClear == run) {
            code(clear);
            sinceClear = 0;
        }
        const std::size_t y = std::size_t(order[k / std::size_t(f.width)]);
        code(f.indices[y * std::size_t(f.width) + k % std::size_t(f.width)]);
        ++sinceClear;
    }
    code(clear + 1);
    if (nbits > 0)
        data += char(acc & 0xFF);
    s += char(codeSize);
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        s += char(n);
        s += data.substr(at, n);
    }
    s += '\0';
    s += ';';
    return s;
}

// The colour table of a GIF file's logical screen, as r, g, b triples.
std::vector<uint8_t> GlobalTable(const std::string& gif)
{
    const uint8_t flags = uint8_t(gif.at(10));
    if (!(flags & 0x80))
        return {};
    const std::size_t n = std::size_t(2) << (flags & 7);
    return std::vector<uint8_t>(gif.begin() + 13, gif.begin() + 13 + std::ptrdiff_t(3 * n));
}

class GifPlugin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.Loaded()) << plugin.Error(); }

    // The source picture as a GIF made by a tool; "" when the tool is missing.
    std::string Make(const SpiPicture& source, const std::vector<std::string>& toolArgs, const std::string& name)
    {
        const std::string ppm = temp / "source.ppm", gif = temp / name, mid = temp / "plain.gif";
        EXPECT_TRUE(WritePpm(ppm, source));
        if (toolArgs.empty() || toolArgs[0] == "convert") {
            std::vector<std::string> args = {"convert", ppm};
            args.insert(args.end(), toolArgs.begin() + (toolArgs.empty() ? 0 : 1), toolArgs.end());
            args.push_back(gif);
            if (!RunTool(args, gif))
                return {};
        } else { // gifsicle works on a GIF that convert made
            if (!RunTool({"convert", ppm, mid}, mid))
                return {};
            std::vector<std::string> args = toolArgs;
            args.insert(args.end(), {mid, "-o", gif});
            if (!RunTool(args, gif))
                return {};
        }
        return ReadBytes(gif);
    }

    SpiPlugin plugin{"ifgif"};
    TempDir temp{"nolvi2-gif"};
};

TEST_F(GifPlugin, InfoTextsAndSignature)
{
    ExpectInfoTexts(plugin, "giflib", "*.gif", "GIF 画像ファイル");
    ExpectSignatures(plugin, {
        {"GIF89a\x10\0\x10\0"s, true},
        {"GIF87a", true},
        {"GIF88a", false},
        {"gif89a", false},
        {"GIF8", false},
        {std::string("\x89PNG\r\n\x1a\n", 8), false},
        {"", false},
    });
}

// Pictures of 2, 16 and 200 colours, plain and interlaced, come out exactly as their source,
// as palette pictures of 1, 4 and 8 bits whose table is the file's.
TEST_F(GifPlugin, ToolMadeFilesDecodeExactly)
{
    NOLVI2_REQUIRE_TOOL("convert");
    NOLVI2_REQUIRE_TOOL("gifsicle");
    struct Case {
        int colors, bits;
        std::vector<std::string> tool;
    };
    const Case cases[] = {
        {2, 1, {}},
        {16, 4, {}},
        {200, 8, {}},
        {16, 4, {"convert", "-interlace", "GIF"}},
        {200, 8, {"gifsicle", "--interlace"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.colors) + " colours " + (c.tool.empty() ? "" : c.tool[0] + " " + c.tool[1]));
        const SpiPicture source = PatternPicture(61, 43, c.colors);
        const std::string gif = Make(source, c.tool, "x.gif");
        ASSERT_FALSE(gif.empty());
        const SpiPicture p = DecodeBothWays(plugin, gif, temp.Path());
        EXPECT_EQ(p.bits, c.bits);
        EXPECT_EQ(p.palette, GlobalTable(gif));
        EXPECT_TRUE(SameRgb(p, source));
        EXPECT_TRUE(InfoIs(plugin, gif, temp.Path(), 61, 43, c.bits));
    }
}

// gifsicle's logical screen and frame position: the frame lands at its offset and the rest
// of the screen takes the background index.
TEST_F(GifPlugin, FrameSitsOnTheLogicalScreen)
{
    NOLVI2_REQUIRE_TOOL("gifsicle");
    NOLVI2_REQUIRE_TOOL("convert");
    const SpiPicture source = PatternPicture(20, 10, 6);
    const std::string gif = Make(source, {"gifsicle", "--logical-screen", "33x25", "--position", "7,11",
                                          "--background", "#0D0AFF"}, "screen.gif");
    ASSERT_FALSE(gif.empty());
    const SpiPicture p = DecodeBothWays(plugin, gif, temp.Path());
    ASSERT_EQ(p.width, 33);
    ASSERT_EQ(p.height, 25);
    EXPECT_EQ(p.palette, GlobalTable(gif));
    const uint8_t background = uint8_t(gif.at(11));
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 33; ++x) {
            const bool inFrame = x >= 7 && x < 27 && y >= 11 && y < 21;
            const uint8_t* want = inFrame ? source.Pixel(x - 7, y - 11) : p.palette.data() + 3 * background;
            ASSERT_EQ(0, std::memcmp(p.Pixel(x, y), want, 3)) << x << "," << y;
            if (!inFrame) {
                ASSERT_EQ(p.index[std::size_t(y) * 33 + std::size_t(x)], background);
            }
        }
}

// The picture is the logical screen also when the frame reaches beyond it (gifsicle grows the
// screen to hold the frame; here it is set back to 32 x 32): the frame is cut at the screen's
// edges, as ImageMagick shows it, and the rest of the screen takes the background index.
TEST_F(GifPlugin, FrameIsCutAtTheScreensEdges)
{
    NOLVI2_REQUIRE_TOOL("gifsicle");
    NOLVI2_REQUIRE_TOOL("convert");
    const SpiPicture source = PatternPicture(30, 30, 6);
    std::string gif = Make(source, {"gifsicle", "--position", "10,10"}, "beyond.gif");
    ASSERT_GE(gif.size(), 10u);
    ASSERT_EQ(gif.substr(6, 4), std::string("\x28\0\x28\0", 4)) << "gifsicle's screen is not 40 x 40";
    gif.replace(6, 4, std::string("\x20\0\x20\0", 4));
    const std::string file = temp / "cut.gif", ppm = temp / "cut.ppm";
    ASSERT_TRUE(WriteBytes(file, gif));
    SpiPicture shown;
    ASSERT_TRUE(RunTool({"convert", file + "[0]", "-coalesce", ppm}, ppm) && ReadPpm(ppm, shown));
    EXPECT_EQ(shown.width, 32);
    EXPECT_EQ(shown.height, 32);
    const SpiPicture p = DecodeBothWays(plugin, gif, temp.Path());
    ASSERT_EQ(p.width, 32);
    ASSERT_EQ(p.height, 32);
    EXPECT_TRUE(InfoIs(plugin, gif, temp.Path(), 32, 32, 4));
    const uint8_t background = uint8_t(gif.at(11));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool inFrame = x >= 10 && y >= 10;
            ASSERT_EQ(0, std::memcmp(p.Pixel(x, y), inFrame ? source.Pixel(x - 10, y - 10) : p.palette.data() + 3 * background, 3))
                << x << "," << y;
            if (inFrame) {
                ASSERT_EQ(0, std::memcmp(p.Pixel(x, y), shown.Pixel(x, y), 3)) << x << "," << y;
            }
        }
}

// The GIF with a local colour table of the given r, g, b triples (a power of two of them) on
// its first frame, the global one kept for the background.
std::string WithLocalTable(std::string gif, const std::vector<uint8_t>& table)
{
    std::size_t at = 13 + GlobalTable(gif).size();
    while (gif.at(at) == '!') { // extensions: label, then sub-blocks up to an empty one
        at += 2;
        while (gif.at(at) != 0)
            at += std::size_t(uint8_t(gif[at])) + 1;
        ++at;
    }
    EXPECT_EQ(gif.at(at), ',');
    int size = 0;
    while ((std::size_t(2) << size) < table.size() / 3)
        ++size;
    gif[at + 9] = char(uint8_t(gif[at + 9]) | 0x80 | size);
    gif.insert(at + 10, std::string(table.begin(), table.end()));
    return gif;
}

// GetPictureInfo's depth is the bit count of the DIB that GetPicture hands over, for files of
// ImageMagick and gifsicle with global and local tables of 2 to 256 colours, a transparent
// index, and a background index or colour that the frame's table lacks. The depth expected is
// the one the table (and the background added to it) needs: 1 bit for 2 colours, 4 up to 16,
// 8 beyond.
TEST_F(GifPlugin, InfoDepthIsThePicturesBitCount)
{
    NOLVI2_REQUIRE_TOOL("convert");
    NOLVI2_REQUIRE_TOOL("gifsicle");
    const std::vector<std::string> screen = {"gifsicle", "--logical-screen", "30x20"};
    const auto background = [](std::string gif, uint8_t index) {
        gif.at(11) = char(index);
        return gif;
    };
    const std::vector<uint8_t> two = {1, 2, 3, 4, 5, 6}, four = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<uint8_t> full;
    for (int i = 0; i < 256; ++i)
        full.insert(full.end(), {uint8_t(i), uint8_t(i), 1});
    const struct {
        const char* what;
        std::string gif;
        int bits;
    } cases[] = {
        {"global 2", Make(PatternPicture(16, 9, 2), {}, "g2.gif"), 1},
        {"global 4", Make(PatternPicture(16, 9, 4), {}, "g4.gif"), 4},
        {"global 16", Make(PatternPicture(16, 9, 16), {}, "g16.gif"), 4},
        {"global 256", Make(PatternPicture(16, 9, 250), {}, "g256.gif"), 8},
        {"transparent", Make(PatternPicture(16, 9, 5), {"gifsicle", "--transparent", "#0D07FF"}, "t.gif"), 4},
        {"screen, background in the table", Make(PatternPicture(16, 9, 2), screen, "s2.gif"), 1},
        {"screen, background index 5 of 2", background(Make(PatternPicture(16, 9, 2), screen, "b5.gif"), 5), 4},
        {"screen, background index 20 of 16", background(Make(PatternPicture(16, 9, 16), screen, "b20.gif"), 20), 8},
        {"local 2, background colour beyond it", WithLocalTable(Make(PatternPicture(16, 9, 2), screen, "l2.gif"), two), 4},
        {"local 4, background colour beyond it", WithLocalTable(Make(PatternPicture(16, 9, 4), screen, "l4.gif"), four), 4},
        {"local 256, background colour beyond it", WithLocalTable(Make(PatternPicture(16, 9, 200), screen, "l256.gif"), full), 8},
        {"local 2, no room around the frame", WithLocalTable(Make(PatternPicture(16, 9, 2), {}, "c2.gif"), two), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GT(c.gif.size(), 13u);
        SpiPicture p;
        ASSERT_EQ(plugin.Decode(c.gif, p), SPI_SUCCESS);
        SpiPictureInfo info;
        ASSERT_EQ(plugin.PictureInfo(c.gif, info), SPI_SUCCESS);
        EXPECT_EQ(info.colorDepth, p.bits);
        EXPECT_EQ(p.bits, c.bits);
    }
}

// Layouts written by hand: a local table with the background colour taken from the global
// one, a frame beyond a 0 x 0 screen, an interlaced frame, indices beyond a short table, and
// a file without any table.
TEST_F(GifPlugin, HandWrittenLayouts)
{
    const std::vector<uint8_t> global = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    GifFrame f;
    f.left = 2;
    f.top = 1;
    f.width = 3;
    f.height = 2;
    f.localTable = {0, 0, 0, 250, 250, 250};
    f.indices = {0, 1, 0, 1, 1, 0};
    // The background (index 2 of the global table, blue) is not in the local table: added.
    SpiPicture p;
    ASSERT_EQ(plugin.Decode(MakeGif(6, 4, global, 2, f), p), SPI_SUCCESS);
    EXPECT_EQ(p.width, 6);
    EXPECT_EQ(p.height, 4);
    EXPECT_EQ(p.bits, 4);
    EXPECT_EQ(p.palette, (std::vector<uint8_t>{0, 0, 0, 250, 250, 250, 0, 0, 255}));
    const std::vector<uint8_t> withBackground = {2, 2, 2, 2, 2, 2, //
                                                 2, 2, 0, 1, 0, 2, //
                                                 2, 2, 1, 1, 0, 2, //
                                                 2, 2, 2, 2, 2, 2};
    EXPECT_EQ(p.index, withBackground);

    // A background colour that the local table has is taken from it.
    f.localTable = {0, 0, 255, 250, 250, 250};
    ASSERT_EQ(plugin.Decode(MakeGif(6, 4, global, 2, f), p), SPI_SUCCESS);
    EXPECT_EQ(p.bits, 1);
    EXPECT_EQ(p.index[0], 0);

    // A screen of 0 x 0 grows to hold the frame; the frame at (2, 1) leaves room for the
    // background, white, which the local table lacks: 3 colours, 4 bits.
    ASSERT_EQ(plugin.Decode(MakeGif(0, 0, global, 3, f), p), SPI_SUCCESS);
    EXPECT_EQ(p.width, 5);
    EXPECT_EQ(p.height, 3);
    EXPECT_EQ(p.bits, 4);
    EXPECT_TRUE(InfoIs(plugin, MakeGif(0, 0, global, 3, f), temp.Path(), 5, 3, 4));

    // An interlaced frame of 11 rows, each row its own index.
    GifFrame tall;
    tall.width = 2;
    tall.height = 11;
    tall.interlace = true;
    for (int y = 0; y < 11; ++y)
        tall.indices.insert(tall.indices.end(), {uint8_t(y), uint8_t(y)});
    std::vector<uint8_t> ramp;
    for (int i = 0; i < 16; ++i)
        ramp.insert(ramp.end(), {uint8_t(i * 16), uint8_t(i), uint8_t(0)});
    ASSERT_EQ(plugin.Decode(MakeGif(2, 11, ramp, 0, tall), p), SPI_SUCCESS);
    for (int y = 0; y < 11; ++y)
        EXPECT_EQ(p.index[std::size_t(y) * 2], y) << "row " << y;

    // Index 3 with a table of two colours: black, and within the DIB's table.
    GifFrame beyond;
    beyond.width = 4;
    beyond.height = 1;
    beyond.indices = {0, 1, 3, 1};
    ASSERT_EQ(plugin.Decode(MakeGif(4, 1, {9, 9, 9, 200, 200, 200}, 0, beyond), p), SPI_SUCCESS);
    EXPECT_EQ(p.bits, 4);
    EXPECT_EQ(p.palette.size(), 12u);
    EXPECT_EQ(0, std::memcmp(p.Pixel(2, 0), "\0\0\0", 3));
    EXPECT_EQ(p.Pixel(3, 0)[0], 200);

    // No table anywhere: the indices as grey levels.
    ASSERT_EQ(plugin.Decode(MakeGif(4, 1, {}, 0, beyond), p), SPI_SUCCESS);
    EXPECT_EQ(p.bits, 8);
    EXPECT_EQ(p.Pixel(2, 0)[1], 3);
}

// The transparent index keeps its table colour: there is no alpha in the picture.
TEST_F(GifPlugin, TransparentIndexKeepsItsColour)
{
    NOLVI2_REQUIRE_TOOL("gifsicle");
    NOLVI2_REQUIRE_TOOL("convert");
    const SpiPicture source = PatternPicture(16, 9, 5);
    const std::string gif = Make(source, {"gifsicle", "--transparent", "0"}, "t.gif");
    ASSERT_FALSE(gif.empty());
    ASSERT_NE(gif.find("\x21\xF9"), std::string::npos) << "no graphic control block";
    SpiPicture p;
    ASSERT_EQ(plugin.Decode(gif, p), SPI_SUCCESS);
    EXPECT_EQ(p.bits, 4);
    EXPECT_TRUE(SameRgb(p, source));
}

TEST_F(GifPlugin, ProgressByRowsAndStop)
{
    NOLVI2_REQUIRE_TOOL("convert");
    for (const char* interlace : {"None", "GIF"}) {
        SCOPED_TRACE(interlace);
        const std::string gif = Make(PatternPicture(40, 30, 50), {"convert", "-interlace", interlace}, "p.gif");
        ASSERT_FALSE(gif.empty());
        ExpectProgressAndAbort(plugin, gif, 30);
    }
}

TEST_F(GifPlugin, BrokenFilesFail)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const std::string gif = Make(PatternPicture(50, 40, 100), {}, "b.gif");
    ASSERT_FALSE(gif.empty());
    // The last two bytes are the end of the frame's data and of the file: without them the
    // frame is still whole.
    ExpectTruncationsFail(plugin, gif, 3);
    ExpectCorruptionsSurvive(plugin, gif);

    SpiPicture p;
    // A code beyond the table of the LZW data.
    GifFrame f;
    f.width = f.height = 4;
    f.indices.assign(16, 1);
    std::string bad = MakeGif(4, 4, {0, 0, 0, 255, 255, 255}, 0, f);
    const std::size_t data = 13 + 6 + 10 + 1 + 1; // header, table, descriptor, code size, block size
    bad[data] = char(0xFF);
    EXPECT_NE(plugin.Decode(bad, p), SPI_SUCCESS);
    // A file with no frame at all.
    EXPECT_NE(plugin.Decode(std::string("GIF89a\x01\0\x01\0\0\0\0;", 14), p), SPI_SUCCESS);
    // A frame of 65535 x 65535 with hardly any data.
    f.width = f.height = 0xFFFF;
    EXPECT_NE(plugin.Decode(MakeGif(1, 1, {0, 0, 0, 255, 255, 255}, 0, f), p), SPI_SUCCESS);
}

}  // namespace
