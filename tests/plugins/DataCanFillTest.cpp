// Every bundled plug-in refuses a picture that its data cannot fill before it allocates the
// picture: small hand-made files that name huge pictures are broken data, decoded in a child
// process whose address space has little room to spare, quickly. Tool-made pictures of one
// colour, which their formats code in very little, still open.

#include "PluginLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/resource.h>

using namespace nolvi2::test;

namespace {

void Le16(std::string& s, uint32_t v)
{
    s += char(v & 0xFF);
    s += char(v >> 8 & 0xFF);
}

void Le32(std::string& s, uint32_t v)
{
    Le16(s, v & 0xFFFF);
    Le16(s, v >> 16);
}

// A GIF whose screen is width x height, without any colour table (the indices are grey levels,
// 8 bits), and one 1 x 1 frame.
std::string HugeScreenGif(uint16_t width, uint16_t height)
{
    std::string s = "GIF89a";
    Le16(s, width);
    Le16(s, height);
    s += std::string("\0\0\0", 3);
    s += ',';
    Le16(s, 0), Le16(s, 0), Le16(s, 1), Le16(s, 1);
    s += '\0';
    s += std::string("\x02\x02\x44\x01\x00;", 6); // clear, 0, end
    return s;
}

// A little-endian TIFF of one strip of 16 bytes that claims width x height pixels.
std::string HugeTiff(uint32_t width, uint32_t height, uint16_t samples, uint16_t compression)
{
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    const uint16_t photometric = samples == 3 ? 2 : 1;
    const std::vector<Entry> entries = {{256, 4, width},       {257, 4, height}, {258, 3, 8},  {259, 3, compression},
                                        {262, 3, photometric}, {273, 4, 0},      {277, 3, samples},
                                        {278, 4, height},      {279, 4, 16}};
    const uint32_t data = 8 + 2 + 12 * uint32_t(entries.size()) + 4;
    std::string s = "II*";
    s += '\0';
    Le32(s, 8);
    Le16(s, uint16_t(entries.size()));
    for (const Entry& e : entries) {
        Le16(s, e.tag);
        Le16(s, e.type);
        Le32(s, 1);
        const uint32_t v = e.tag == 273 ? data : e.value;
        if (e.type == 3) {
            Le16(s, v);
            Le16(s, 0);
        } else {
            Le32(s, v);
        }
    }
    Le32(s, 0);
    s += std::string(16, '\x55');
    return s;
}

std::string Riff(const std::string& chunk, const std::string& body)
{
    std::string c = chunk;
    Le32(c, uint32_t(body.size()));
    c += body;
    if (body.size() % 2)
        c += '\0';
    std::string s = "RIFF";
    Le32(s, uint32_t(4 + c.size()));
    return s + "WEBP" + c;
}

// A lossless WebP header of width x height and a few bytes of nothing.
std::string HugeVp8l(uint32_t width, uint32_t height)
{
    const uint32_t bits = (width - 1) | (height - 1) << 14;
    std::string body = "\x2f";
    Le32(body, bits);
    return Riff("VP8L", body + std::string(8, '\0'));
}

// A lossy WebP key frame header of width x height and a few bytes of nothing.
std::string HugeVp8(uint16_t width, uint16_t height)
{
    std::string body;
    const uint32_t tag = 0 | 1 << 4 | 1 << 5; // key frame, version 0, shown, first partition of 1 byte
    body += char(tag & 0xFF), body += char(tag >> 8 & 0xFF), body += char(tag >> 16 & 0xFF);
    body += "\x9d\x01\x2a";
    Le16(body, width);
    Le16(body, height);
    return Riff("VP8 ", body + std::string(10, '\0'));
}

// A bare JPEG XL codestream whose size header names side x side pixels, with default image
// metadata, and then nothing.
std::string HugeJxl(uint32_t side)
{
    std::string s = "\xff\x0a";
    uint64_t acc = 0;
    int n = 0;
    const auto bits = [&](uint64_t v, int count) {
        acc |= v << n;
        n += count;
    };
    bits(0, 1);             // not a multiple of 8
    bits(2, 2);             // height - 1 in 18 bits
    bits(side - 1, 18);
    bits(1, 3);             // width as height
    bits(1, 1);             // all default metadata
    for (; n > 0; n -= 8, acc >>= 8)
        s += char(acc & 0xFF);
    return s + std::string(8, '\0');
}

// GetPicture's result in a child process allowed `room` bytes of address space beyond what it
// has (not under AddressSanitizer, whose shadow memory takes the space); -1 when the child
// died, -2 when it ran past 10 seconds.
int32_t DecodeInChild(const SpiPlugin& plugin, const std::string& data, uint64_t room)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
#if !defined(__SANITIZE_ADDRESS__)
        uint64_t used = 0;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmSize:", 0) == 0)
                used = std::stoull(line.substr(7)) * 1024;
        const rlimit limit{used + room, used + room};
        ::setrlimit(RLIMIT_AS, &limit);
#else
        (void)room;
#endif
        ::alarm(10);
        SpiPicture p;
        ::_exit(plugin.Decode(data, p));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGALRM ? -2 : -1;
    return WIFEXITED(status) ? int32_t(int8_t(WEXITSTATUS(status))) : -1;
}

constexpr uint64_t kRoom = uint64_t(160) << 20;

} // namespace

TEST(DataCanFill, SmallFilesNamingHugePicturesAreBrokenData)
{
    const std::string regressions = std::string(NOLVI2_SOURCE_DIR) + "/tests/plugins/fuzz-regressions/heif/";
    const struct {
        const char* name;
        const char* plugin;
        std::string data;
    } cases[] = {
        {"GIF screen 65535 x 4096, frame 1 x 1", "ifgif", HugeScreenGif(65535, 4096)},
        {"GIF screen 16384 x 16384", "ifgif", HugeScreenGif(16384, 16384)},
        {"TIFF uncompressed 60000 x 4000 grey", "iftiff", HugeTiff(60000, 4000, 1, 1)},
        {"TIFF Deflate 9000 x 9000 RGB", "iftiff", HugeTiff(9000, 9000, 3, 8)},
        {"TIFF PackBits 9000 x 9000 RGB", "iftiff", HugeTiff(9000, 9000, 3, 32773)},
        {"WebP VP8L 16384 x 16384", "ifwebp", HugeVp8l(16384, 16384)},
        {"WebP VP8 16383 x 16383", "ifwebp", HugeVp8(16383, 16383)},
        {"JPEG XL 16384 x 16384", "ifjxl", HugeJxl(16384)},
        {"HEIF grid canvas 26482 x 26980", "ifheif", ReadBytes(regressions + "grid-canvas-26482x26980.heic")},
        {"HEIF grid canvas 26725 x 26995", "ifheif", ReadBytes(regressions + "grid-canvas-26725x26995.heic")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.data.empty());
        const SpiPlugin plugin(c.plugin);
        ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(DecodeInChild(plugin, c.data, kRoom), SPI_BROKEN_DATA);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

// Pictures of 4000 x 4000 pixels of one colour made by the formats' tools open, within the
// same room (48 MB of picture), with that colour everywhere.
TEST(DataCanFill, ToolMadeFlatPicturesOpen)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const TempDir temp("nolvi2-flat");
    const std::string png = temp / "flat.png";
    ASSERT_TRUE(RunTool({"convert", "-size", "4000x4000", "xc:#3080c0", png}, png));
    const struct {
        const char* file;
        const char* plugin;
        std::vector<std::string> make; // the tool's arguments, the output last
        bool flat = true;              // false: heif-enc's file itself is not flat (heif-convert
                                       // shows the same black blocks)
    } cases[] = {
        {"flat.gif", "ifgif", {"convert", png}},
        {"flat.tif", "iftiff", {"convert", png, "-type", "TrueColor", "-compress", "zip"}},
        {"flatl.webp", "ifwebp", {"cwebp", "-quiet", "-lossless", png, "-o"}},
        {"flat.webp", "ifwebp", {"cwebp", "-quiet", png, "-o"}},
        {"flat.jxl", "ifjxl", {"cjxl", "-e", "1", png}},  // the fastest effort: seconds, not a quarter minute
        {"flat.heic", "ifheif", {"heif-enc", png, "-o"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string data = ToolMade(c.make, temp / c.file);
        if (data.empty())
            continue;
        const SpiPlugin plugin(c.plugin);
        ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
        EXPECT_EQ(DecodeInChild(plugin, data, kRoom + (uint64_t(256) << 20)), SPI_SUCCESS);
        SpiPicture p;
        ASSERT_EQ(plugin.Decode(data, p), SPI_SUCCESS);
        ASSERT_EQ(p.width, 4000);
        ASSERT_EQ(p.height, 4000);
        // Lossy coding may move the levels a little.
        for (std::size_t i = 0; c.flat && i < p.rgb.size(); i += 3 * 9973)
            ASSERT_LE(std::abs(p.rgb[i] - 0x30) + std::abs(p.rgb[i + 1] - 0x80) + std::abs(p.rgb[i + 2] - 0xc0), 12) << i;
    }
}
