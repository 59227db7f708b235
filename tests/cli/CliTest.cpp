// nolvi2-cli run as a user runs it: exit codes, messages, outputs, and no partial files.

#include "app/OpenPicture.h"
#include "platform/Bitmap.h"
#include "platform/JPEGImage.h"
#include "platform/KeyStore.h"

#include "ExifJpeg.h"
#include "Pictures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <regex>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

extern char** environ;

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status;  // the exit status, or 128 + the signal that killed the tool
    std::string out;
    std::string err;
    bool killed = false;  // by a signal, rather than exiting
};

std::string ReadAll(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class Cli : public ::testing::Test {
protected:

    CliRun Exec(std::vector<std::string> args) { return Finish(Start(std::move(args))); }

    // Starts the tool with stdout and stderr going to files in the test folder.
    pid_t Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), NOLVI2_CLI_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string outName = P(".stdout"), errName = P(".stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    CliRun Finish(pid_t pid)
    {
        const std::string outName = P(".stdout"), errName = P(".stderr");
        int wstatus = 0;
        waitpid(pid, &wstatus, 0);
        CliRun r{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), ReadAll(outName),
                 ReadAll(errName), !WIFEXITED(wstatus)};
        fs::remove(outName);
        fs::remove(errName);
        return r;
    }

    std::string P(const std::string& name) const { return (dir / name).string(); }

    // A 24-bit test picture with a different value in every byte position.
    std::string MakePicture(const std::string& name, int32_t w = 13, int32_t h = 7)
    {
        TBitmap b(w, h, TPixelFormat::pf24bit);
        for (int32_t y = 0; y < h; ++y)
            for (std::size_t i = 0; i < b.RowBytes(); ++i)
                b.ScanLine(y)[i] = uint8_t(i * 7 + y * 31);
        b.SaveToFile(P(name));
        return P(name);
    }

    static TBitmap Load(const std::string& name)
    {
        TBitmap b;
        LoadPicture(name, b);
        b.SetPixelFormat(TPixelFormat::pf24bit);
        return b;
    }

    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir temp{"nolvi2-cli"};
    const fs::path dir = temp.Path();
};

// The image data of a PNG file: its IDAT chunks joined (still compressed).
std::string PngImageData(const std::string& file)
{
    std::string data;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const auto byte = [&](std::size_t i) { return uint32_t(uint8_t(file[i])); };
        const uint32_t length = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        if (file.compare(at + 4, 4, "IDAT") == 0)
            data += file.substr(at + 8, length);
        at += 12 + std::size_t(length);
    }
    return data;
}

// The filter byte of each row of a non-interlaced 24-bit PNG file.
std::vector<int> PngRowFilters(const std::string& file, int32_t width, int32_t height)
{
    const std::string z = PngImageData(file);
    const std::size_t rowBytes = std::size_t(width) * 3 + 1;
    std::vector<uint8_t> raw(rowBytes * std::size_t(height));
    uLongf size = uLongf(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(z.data()), uLong(z.size())), Z_OK);
    std::vector<int> filters;
    for (int32_t y = 0; y < height; ++y)
        filters.push_back(raw[std::size_t(y) * rowBytes]);
    return filters;
}

}  // namespace

TEST_F(Cli, UsageErrorsExitWith2AndWriteNothing)
{
    const std::string in = MakePicture("in.bmp");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"Invert"},
        {"Invert", in},
        {"NoSuchCommand", in, P("out.bmp")},
        {"Invert", in, P("out.txt")},
        {"Invert", in, P("out")},
        {"Invert", in, P("out.bmp"), "--quality", "101"},
        {"Invert", in, P("out.bmp"), "--quality", "high"},
        {"Invert", in, P("out.bmp"), "--quality"},
        {"Invert", in, P("out.bmp"), "--select", "1,2,3"},
        {"Invert", in, P("out.bmp"), "--select", "5,5,5,9"},
        {"Invert", in, P("out.bmp"), "--select", "-1,0,3,3"},
        {"Invert", in, P("out.bmp"), "--bogus"},
        {"Invert", in, P("out.bmp"), "--baseline=yes"},
        {"Invert", in, P("out.bmp"), "--format", "bmp"},
        {"Invert", in, "--out-dir", P("o"), "--format", "gif"},
        {"Invert", "--out-dir", P("o")},
        {"Invert", in, in, "--out-dir", P("o")},  // two inputs, one output name
        {"Convert", in, P("x/in.png"), "--out-dir", P("o"), "--format", "jpg", "--jobs", "2"},
        {"Invert", in, "--out-dir", P("o"), "--jobs", "0"},
        {"Invert", in, "--out-dir", P("o"), "--jobs", "x"},
        {"Invert", in, "--out-dir", P("o"), "--jobs=257"},
        {"Invert", in, "--out-dir", P("o"), "--jobs"},
        {"Invert", in, P("out.bmp"), "--jobs", "2"},  // a single file has no workers to share
        {"--version=2"},
        {"Convert", in, P("out.png"), "--png-filter", "best"},
        {"Convert", in, P("out.png"), "--png-filter", "Up"},
        {"Convert", in, P("out.png"), "--png-filter"},
        {"Convert", in, P("out.png"), "--png-level", "10"},
        {"Convert", in, P("out.png"), "--png-level", "-1"},
        {"Convert", in, P("out.png"), "--png-level=fast"},
        {"Convert", in, P("out.bmp"), "--no-color-profile=yes"},
        {"Convert", in, P("out.bmp"), "--no-auto-rotate=1"},
    };
    for (const auto& args : cases) {
        const CliRun r = Exec(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined << r.err;
        // A short text: the reason, then where the usage is.
        EXPECT_NE(r.err.find("nolvi2-cli --help"), std::string::npos) << joined;
        EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 3) << joined << r.err;
        EXPECT_EQ(Entries(), std::vector<std::string>{"in.bmp"}) << joined;
    }
    const CliRun help = Exec({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* listed : {"GammaMinus", "--no-color-profile", "--no-auto-rotate"})
        EXPECT_NE(help.out.find(listed), std::string::npos) << listed;
}

// The reading options reach the reading of every input, alone and in a batch of workers: the
// output holds what LoadPicture gives with the same options (as the window shows it), which is
// the reference decoder's picture.
TEST_F(Cli, ReadingOptionsReachEveryInput)
{
    const OrientedJpeg jpeg = MakeOrientedJpeg(dir.string());
    fs::create_directory(dir / "in");
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        fs::copy_file(jpeg.file, dir / "in" / name);
    int n = 0;
    for (const TReadOptions& o : AllReadOptions()) {
        ++n;
        std::vector<std::string> flags;
        if (!o.ColorProfile)
            flags.push_back("--no-color-profile");
        if (!o.AutoRotate)
            flags.push_back("--no-auto-rotate");
        std::vector<std::string> single = {"Convert", jpeg.file, P("single.bmp")};
        single.insert(single.end(), flags.begin(), flags.end());
        const CliRun r = Exec(single);
        ASSERT_EQ(r.status, 0) << r.err;
        const TBitmap out = Load(P("single.bmp"));

        TBitmap direct;
        LoadPicture(jpeg.file, direct, {}, o);
        direct.SetPixelFormat(TPixelFormat::pf24bit);
        EXPECT_TRUE(SamePixels(out, direct)) << n;

        const std::string outDir = P("batch" + std::to_string(n));
        std::vector<std::string> batch = {"Convert", P("in/a.jpg"), P("in/b.jpg"), P("in/c.jpg"),
                                          "--out-dir", outDir, "--format", "bmp", "--jobs", "2"};
        batch.insert(batch.end(), flags.begin(), flags.end());
        const CliRun b = Exec(batch);
        ASSERT_EQ(b.status, 0) << b.err;
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
            EXPECT_EQ(ReadAll(outDir + "/" + name), ReadAll(P("single.bmp"))) << n << " " << name;

        const int diff = MaxDifference(out, ExpectedReading(jpeg, o, P("expected.ppm")));
        EXPECT_GE(diff, 0) << n;
        EXPECT_LE(diff, kReadingTolerance) << n;
    }
}

// The plug-in formats through the whole road (plug-in, hand-over, conversion, BMP out): a
// profile the file embeds is applied, CMYK inks by their CMYK profile, a TIFF's orientation
// turns the picture; the expected pixels from Pillow with LittleCMS, of the file itself or,
// for what Pillow cannot read or turn, of the PNG it was made from or ImageMagick's turning.
TEST_F(Cli, PluginFormatsAreReadAsTheirFilesMeanThem)
{
    WriteColourfulPpm(P("src.ppm"));
    WriteBytes(P("swap.icc"), SwapRedBlueProfile());
    WriteBytes(P("cmyk.icc"), CmykProfile());
    WriteBytes(P("srgb.icc"), SavedProfile(cmsCreate_sRGBProfile()));
    ASSERT_EQ(std::system(("cd '" + dir.string() + "' && convert src.ppm -profile swap.icc swap.png").c_str()), 0);

    const struct {
        const char* file;
        const char* make;
        const char* reference;  // the file Pillow reads for the expected pixels
        int tolerance;
        bool rgb;  // without the profile, the stored pixels (what Pillow gives through sRGB)
    } cases[] = {
        {"rgb.tif", "convert src.ppm -profile swap.icc rgb.tif", "rgb.tif", 2, true},
        {"cmyk.tif", "convert src.ppm -colorspace CMYK cmyk0.tif && convert cmyk0.tif -profile cmyk.icc cmyk.tif",
         "cmyk.tif", 2, false},
        {"cmyk16.tif",
         "convert src.ppm -colorspace CMYK -depth 16 cmyk160.tif && convert cmyk160.tif -profile cmyk.icc cmyk16.tif",
         "cmyk16.tif", 2, false},
        {"rgb.webp", "cwebp -quiet -lossless -metadata icc swap.png -o rgb.webp", "rgb.webp", 2, true},
        {"rgb.jxl", "cjxl swap.png rgb.jxl -d 0 >/dev/null 2>&1", "swap.png", 2, false},
        // libheif 1.15's "lossless" AVIF still moves some levels by up to 20.
        {"rgb.avif", "heif-enc -A -L swap.png -o rgb.avif >/dev/null 2>&1", "swap.png", 24, false},
        // Pillow does not turn TIFF pictures: ImageMagick's turning is the reference.
        {"turned.tif", "convert src.ppm -orient RightTop turned.tif && convert turned.tif -auto-orient turned.ppm",
         "turned.ppm", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(std::system(("cd '" + dir.string() + "' && " + c.make).c_str()), 0) << c.make;
        const CliRun r = Exec({"Convert", P(c.file), P("out.bmp")});
        ASSERT_EQ(r.status, 0) << r.err;
        const RgbPicture expected = ColourReference(P(c.reference), P("expected.ppm"));
        const int diff = MaxDifference(Load(P("out.bmp")), expected);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, c.tolerance);
        if (std::string(c.file) == "turned.tif")
            continue;
        // Without the option the picture is visibly other: the profile did the work.
        const CliRun off = Exec({"Convert", P(c.file), P("off.bmp"), "--no-color-profile"});
        ASSERT_EQ(off.status, 0) << off.err;
        EXPECT_GT(MaxDifference(Load(P("off.bmp")), expected), 100);
        if (c.rgb) {
            const RgbPicture stored = ColourReference(P(c.file), P("stored.ppm"), false, P("srgb.icc"));
            EXPECT_LE(MaxDifference(Load(P("off.bmp")), stored), 1);
        }
    }
}

// Under --jobs N each worker's decoding gets max(1, processors / N) threads, a single file all
// of them: the test plug-in's picture shows the share it was given (its blue is 100 + the
// share), found through the shared Susie folder of a key store of the test's own.
TEST_F(Cli, WorkersShareTheProcessors)
{
    const std::optional<std::string> oldConfig =
        std::getenv("XDG_CONFIG_HOME") ? std::optional<std::string>(std::getenv("XDG_CONFIG_HOME")) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", P("config").c_str(), 1);
    fs::create_directories(P("susie"));
    fs::copy_file(fs::path(NOLVI2_SPI_FIXTURES) / "t_share.spi", P("susie/t_share.spi"));
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\Yurokan\\Susie\\Plug-in", true));
        reg.WriteString("Path", P("susie"));
    }
    for (const char* name : {"a.pi", "b.pi", "c.pi"})
        std::ofstream(P(name), std::ios::binary) << "TPIC" << char(40);
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    ASSERT_EQ(::sched_getaffinity(0, sizeof cpus, &cpus), 0);
    const int cores = CPU_COUNT(&cpus);

    const CliRun batch = Exec({"Convert", P("a.pi"), P("b.pi"), P("c.pi"), "--out-dir", P("o"), "--jobs", "2"});
    const CliRun single = Exec({"Convert", P("a.pi"), P("one.bmp")});
    if (oldConfig)
        ::setenv("XDG_CONFIG_HOME", oldConfig->c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    ASSERT_EQ(batch.status, 0) << batch.err;
    ASSERT_EQ(single.status, 0) << single.err;
    for (const char* name : {"o/a.bmp", "o/b.bmp", "o/c.bmp"})
        EXPECT_EQ(Load(P(name)).ScanLine(0)[0], 100 + std::max(1, cores / 2)) << name;
    EXPECT_EQ(Load(P("one.bmp")).ScanLine(0)[0], 100 + cores);
}

// The formats: the built-in ones, and the plug-ins beside the tool (the bundled ones in the
// build folder) with the file that serves each.
TEST_F(Cli, FormatsListsTheBuiltInDecodersAndThePlugins)
{
    const CliRun r = Exec({"--formats"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("png  PNG"), std::string::npos) << r.out;
    const std::string folder = std::filesystem::path(NOLVI2_CLI_PATH).parent_path().string();
    if (std::filesystem::exists(folder + "/ifwebp.spi")) {
        EXPECT_NE(r.out.find("*.webp  WebP 画像ファイル (" + folder + "/ifwebp.spi)"), std::string::npos) << r.out;
    }
}

TEST_F(Cli, CommandsMatchTheLibraryAndIgnoreCase)
{
    const std::string in = MakePicture("in.bmp");
    const TBitmap original = Load(in);
    for (const char* name : {"invert", "INVERT", "Invert", "xor", "rgbswitchrgb"}) {
        const CliRun r = Exec({name, in, P("out.bmp")});
        ASSERT_EQ(r.status, 0) << name << r.err;
        EXPECT_TRUE(r.out.empty());
        const TBitmap out = Load(P("out.bmp"));
        EXPECT_FALSE(SamePixels(out, original)) << name;
    }
    // Invert of the inverted picture gives the original back.
    ASSERT_EQ(Exec({"Invert", in, P("a.bmp")}).status, 0);
    ASSERT_EQ(Exec({"Invert", P("a.bmp"), P("b.bmp")}).status, 0);
    EXPECT_TRUE(SamePixels(Load(P("b.bmp")), original));
    // Convert changes no pixel.
    ASSERT_EQ(Exec({"convert", in, P("c.bmp")}).status, 0);
    EXPECT_TRUE(SamePixels(Load(P("c.bmp")), original));
}

// PNG output, by name and by --format, reads back to the same pixels.
TEST_F(Cli, WritesAndReadsPng)
{
    const std::string in = MakePicture("in.bmp");
    const TBitmap original = Load(in);
    ASSERT_EQ(Exec({"Invert", in, P("a.png")}).status, 0);
    ASSERT_EQ(Exec({"Invert", P("a.png"), "--out-dir", P("o"), "--format", "png"}).status, 0);
    ASSERT_EQ(Exec({"Convert", P("o/a.png"), P("b.bmp")}).status, 0);
    EXPECT_TRUE(SamePixels(Load(P("b.bmp")), original));
    EXPECT_EQ(ReadAll(P("a.png")).substr(1, 3), "PNG");
}

// PNG rows are filtered adaptively unless --png-filter names one filter; --png-level is zlib's
// level. Every setting reads back to the same pixels.
TEST_F(Cli, PngFilterAndLevel)
{
    const std::string in = MakePicture("in.bmp", 13, 7);
    const TBitmap original = Load(in);
    struct Case {
        std::vector<std::string> options;
        int filter;  // of every row
    };
    // Each byte of the picture is its neighbour's plus a constant, so the adaptive choice is Sub.
    const std::vector<Case> cases = {
        {{}, 1},
        {{"--png-filter", "adaptive"}, 1},
        {{"--png-filter", "none"}, 0},
        {{"--png-filter", "sub"}, 1},
        {{"--png-filter=up"}, 2},
        {{"--png-filter", "average", "--png-level", "9"}, 3},
        {{"--png-filter", "paeth", "--png-level", "1"}, 4},
        {{"--png-level", "0", "--png-filter", "up"}, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"Convert", in, P("out.png")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliRun r = Exec(args);
        const std::string label = c.options.empty() ? "default" : c.options[0] + " " + c.options.back();
        ASSERT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(PngRowFilters(ReadAll(P("out.png")), 13, 7), std::vector<int>(7, c.filter)) << label;
        EXPECT_TRUE(SamePixels(Load(P("out.png")), original)) << label;
    }
    // Level 0 stores the rows; level 9 compresses them.
    const std::string big = MakePicture("big.bmp", 200, 100);
    ASSERT_EQ(Exec({"Convert", big, P("0.png"), "--png-level", "0"}).status, 0);
    ASSERT_EQ(Exec({"Convert", big, P("9.png"), "--png-level", "9"}).status, 0);
    EXPECT_GT(PngImageData(ReadAll(P("0.png"))).size(), std::size_t(200 * 3 + 1) * 100);
    EXPECT_LT(PngImageData(ReadAll(P("9.png"))).size(), std::size_t(200 * 3 + 1) * 100 / 4);
}

// With a selection, only the selected pixels change; a selection reaching past the picture is
// clamped to it, and one outside it is dropped (the whole picture is processed).
TEST_F(Cli, SelectionLimitsTheCommand)
{
    const std::string in = MakePicture("in.bmp", 13, 7);
    const TBitmap original = Load(in);
    struct Case {
        const char* select;
        TRect expected;  // the rectangle that must change
    };
    const Case cases[] = {
        {"2,1,5,4", {2, 1, 5, 4}},
        {"10,5,100,100", {10, 5, 13, 7}},
        {"0,0,13,7", {0, 0, 13, 7}},
        {"13,0,20,5", {0, 0, 13, 7}},
    };
    for (const Case& c : cases) {
        const CliRun r = Exec({"Invert", in, P("out.bmp"), "--select", c.select});
        ASSERT_EQ(r.status, 0) << c.select << r.err;
        const TBitmap out = Load(P("out.bmp"));
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 13; ++x) {
                const bool inside = x >= c.expected.Left && x < c.expected.Right && y >= c.expected.Top &&
                                    y < c.expected.Bottom;
                for (int k = 0; k < 3; ++k) {
                    const uint8_t o = original.ScanLine(y)[3 * x + k];
                    ASSERT_EQ(out.ScanLine(y)[3 * x + k], inside ? uint8_t(255 - o) : o)
                        << c.select << " at " << x << "," << y;
                }
            }
    }
}

// A selection wholly outside the picture: other commands process the whole picture and say
// so; Crop fails with its own message only.
TEST_F(Cli, SelectionOutsideThePictureSaysWhatHappens)
{
    const std::string in = MakePicture("in.bmp", 13, 7);
    const std::string note = "画像全体を処理します";
    const CliRun invert = Exec({"Invert", in, P("out.bmp"), "--select", "20,0,30,5"});
    EXPECT_EQ(invert.status, 0) << invert.err;
    EXPECT_NE(invert.err.find(note), std::string::npos) << invert.err;

    const CliRun crop = Exec({"Crop", in, P("crop.bmp"), "--select", "20,0,30,5"});
    EXPECT_EQ(crop.status, 1);
    EXPECT_NE(crop.err.find("切り抜けません"), std::string::npos) << crop.err;
    EXPECT_EQ(crop.err.find(note), std::string::npos) << crop.err;
    EXPECT_FALSE(fs::exists(P("crop.bmp")));
}

TEST_F(Cli, FailuresExitWith1AndLeaveOutputsAlone)
{
    const std::string good = MakePicture("good.bmp");
    {
        std::ofstream(P("corrupt.bmp"), std::ios::binary) << "BM this is not a bitmap";
        std::ofstream(P("corrupt.jpg"), std::ios::binary) << "\xFF\xD8\xFF garbage";
        std::ofstream(P("existing.bmp"), std::ios::binary) << "precious";
        // A PNG with a header and no image data decodes to no picture.
        std::ofstream(P("empty.png"), std::ios::binary).write(
            "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x04\0\0\0\x04\x08\x02\0\0\0\x26\x93\x09\x29"
            "\0\0\0\0IEND\xae\x42\x60\x82", 8 + 25 + 12);
    }
    // Names that are not regular files fail at once (a FIFO would block the open).
    ASSERT_EQ(::mkfifo(P("pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(P("folder.bmp"));
    struct Case {
        std::vector<std::string> args;
        const char* message;  // part of the message on stderr
    };
    const std::vector<Case> cases = {
        {{"Invert", P("missing.bmp"), P("existing.bmp")}, "missing.bmp"},
        {{"Invert", P("corrupt.bmp"), P("existing.bmp")}, "BMP"},
        {{"Invert", P("corrupt.jpg"), P("existing.bmp")}, "JPEG"},
        {{"Invert", P("noext"), P("existing.bmp")}, "未対応のファイルです。"},
        {{"Invert", good, P("no/such/dir/out.bmp")}, "out.bmp"},
        {{"Invert", good, P("existing.bmp/x.bmp")}, "x.bmp"},
        {{"Invert", P("pipe.jpg"), P("existing.bmp")}, "通常のファイルではありません: 名前付きパイプ"},
        {{"Invert", P("folder.bmp"), P("existing.bmp")}, "通常のファイルではありません: フォルダ"},
        {{"Convert", P("empty.png"), P("existing.bmp")}, "画像が含まれていません。"},
    };
    for (const Case& c : cases) {
        const CliRun r = Exec(c.args);
        EXPECT_EQ(r.status, 1) << c.args[1] << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(P("existing.bmp")), "precious");
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"corrupt.bmp", "corrupt.jpg", "empty.png", "existing.bmp",
                                                   "folder.bmp", "good.bmp", "pipe.jpg"}));
}

TEST_F(Cli, JpegOutputQualityAndProgression)
{
    const std::string in = MakePicture("in.bmp", 64, 48);
    ASSERT_EQ(Exec({"Convert", in, P("p.jpg")}).status, 0);
    ASSERT_EQ(Exec({"Convert", in, P("b.jpeg"), "--baseline", "--quality", "95"}).status, 0);
    ASSERT_EQ(Exec({"Convert", in, P("low.jpg"), "--quality=5"}).status, 0);
    const std::string p = ReadAll(P("p.jpg")), b = ReadAll(P("b.jpeg")), low = ReadAll(P("low.jpg"));
    EXPECT_NE(p.find("\xFF\xC2"), std::string::npos);  // progressive by default
    EXPECT_NE(b.find("\xFF\xC0"), std::string::npos);
    EXPECT_EQ(b.find("\xFF\xC2"), std::string::npos);
    EXPECT_LT(low.size(), p.size());
    const TBitmap back = Load(P("b.jpeg"));
    EXPECT_EQ(back.Width(), 64);
    EXPECT_EQ(back.Height(), 48);
    // JPEG in, BMP out.
    EXPECT_EQ(Exec({"GrayScale", P("b.jpeg"), P("g.bmp")}).status, 0);
    const TBitmap g = Load(P("g.bmp"));
    EXPECT_EQ(g.ScanLine(5)[0], g.ScanLine(5)[2]);
}

TEST_F(Cli, TimeReportsTheStopwatch)
{
    const std::string in = MakePicture("in.bmp", 600, 400);
    const CliRun r = Exec({"GammaPlus", in, P("out.bmp"), "--time"});
    ASSERT_EQ(r.status, 0);
    // Nothing for 0 ms; otherwise exactly the report line.
    if (!r.out.empty()) {
        EXPECT_TRUE(std::regex_match(r.out, std::regex("ガンマ補正＋: [1-9][0-9]*ミリ秒かかりました。\n"))) << r.out;
    }
    EXPECT_TRUE(Exec({"GammaPlus", in, P("out.bmp")}).out.empty());
}

TEST_F(Cli, OutDirProcessesEveryInputAndReportsFailures)
{
    const std::string a = MakePicture("a.bmp"), b = MakePicture("b.bmp");
    std::ofstream(P("bad.bmp"), std::ios::binary) << "garbage";
    const CliRun r = Exec({"Solarize", a, P("bad.bmp"), b, "--out-dir", P("out"), "--format", "jpg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.bmp"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "a.jpg"));
    EXPECT_TRUE(fs::exists(dir / "out" / "b.jpg"));
    EXPECT_FALSE(fs::exists(dir / "out" / "bad.jpg"));

    // Without --format each output keeps its input's writable format.
    const CliRun r2 = Exec({"Convert", a, P("out/a.jpg"), "--out-dir", P("out2")});
    EXPECT_EQ(r2.status, 0) << r2.err;
    EXPECT_TRUE(fs::exists(dir / "out2" / "a.bmp"));
    EXPECT_TRUE(fs::exists(dir / "out2" / "a.jpg"));
}

TEST_F(Cli, CommandOptionsAreChecked)
{
    const std::string in = MakePicture("in.bmp");
    const std::vector<std::vector<std::string>> cases = {
        {"Resize", in, P("out.bmp")},                             // no --size
        {"Resize", in, P("out.bmp"), "--size", "0x10"},
        {"Resize", in, P("out.bmp"), "--size", "10"},
        {"Resize", in, P("out.bmp"), "--size", "0%"},
        {"Resize", in, P("out.bmp"), "--size", "5x5", "--algorithm", "bicubic"},
        {"Crop", in, P("out.bmp")},                               // no --select
        {"GrassVertical", in, P("out.bmp"), "--grass-width", "0"},
        {"GrassVertical", in, P("out.bmp"), "--grass-width", "256"},
        {"MaskNijiiro", in, P("out.bmp"), "--rainbow-size", "-3"},
    };
    for (const auto& args : cases) {
        const CliRun r = Exec(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 3 ? args[3] : "") << r.err;
        EXPECT_FALSE(fs::exists(P("out.bmp")));
    }
}

// Each family as the window applies it in place: sizes of the results, selections, and
// reversible commands that give the picture back.
TEST_F(Cli, EveryFamilyThroughTheRoad)
{
    const std::string in = MakePicture("in.bmp", 13, 7);
    const TBitmap original = Load(in);
    struct Case {
        std::vector<std::string> args;
        int32_t width, height;
    };
    const std::vector<Case> cases = {
        {{"Rotate90"}, 7, 13},
        {{"Rotate270", "--select", "1,1,3,3"}, 7, 13},  // rotations ignore the selection
        {{"Rotate180"}, 13, 7},
        {{"Crop", "--select", "2,1,7,100"}, 5, 6},
        {{"Resize", "--size", "50%"}, 6, 4},            // round(6.5) = 6, round(3.5) = 4
        {{"Resize", "--size", "26x3", "--algorithm", "nearest"}, 26, 3},
        {{"Resize", "--size", "5X5", "--algorithm", "bilinear"}, 5, 5},
        // The last --size wins, whichever form each has.
        {{"Resize", "--size", "26x3", "--size", "50%"}, 6, 4},
        {{"Resize", "--size", "50%", "--size", "5x5"}, 5, 5},
        {{"Resize", "--size", "200%", "--size", "3x2", "--size", "50%"}, 6, 4},
        {{"FilterLowpass", "--select", "3,2,8,6"}, 13, 7},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {c.args[0], in, P("out.bmp")};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const CliRun r = Exec(args);
        ASSERT_EQ(r.status, 0) << c.args[0] << r.err;
        const TBitmap out = Load(P("out.bmp"));
        EXPECT_EQ(out.Width(), c.width) << c.args[0];
        EXPECT_EQ(out.Height(), c.height) << c.args[0];
    }

    // Outside the selection, a filter leaves every pixel alone.
    ASSERT_EQ(Exec({"FilterSharpHigh", in, P("f.bmp"), "--select", "3,2,8,6"}).status, 0);
    const TBitmap f = Load(P("f.bmp"));
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 13; ++x)
            if (x < 3 || x >= 8 || y < 2 || y >= 6) {
                ASSERT_EQ(std::memcmp(f.ScanLine(y) + 3 * x, original.ScanLine(y) + 3 * x, 3), 0) << x << "," << y;
            }

    // Reversible commands, twice, on the whole picture and on a selection.
    for (const char* name : {"FlipVertical", "FlipHorizontal", "Rotate180", "GrassHorizontal", "GrassVertical",
                             "WinMask", "MaskNijiiro"})
        for (const std::vector<std::string>& extra :
             {std::vector<std::string>{}, std::vector<std::string>{"--select", "1,1,12,6", "--grass-width", "3",
                                                                  "--rainbow-size", "2"}}) {
            std::vector<std::string> a = {name, in, P("a.bmp")}, b = {name, P("a.bmp"), P("b.bmp")};
            a.insert(a.end(), extra.begin(), extra.end());
            b.insert(b.end(), extra.begin(), extra.end());
            ASSERT_EQ(Exec(a).status, 0) << name;
            ASSERT_EQ(Exec(b).status, 0) << name;
            EXPECT_TRUE(SamePixels(Load(P("b.bmp")), original)) << name << " " << extra.size();
        }
}

TEST_F(Cli, VersionIsTheProjectVersion)
{
    const std::string cmake = ReadAll(fs::path(NOLVI2_SOURCE_DIR) / "CMakeLists.txt");
    std::smatch version;
    ASSERT_TRUE(std::regex_search(cmake, version, std::regex(R"(project\(nolvi2 VERSION ([0-9.]+))")));
    const CliRun r = Exec({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "nolvi2-cli " + version[1].str() + "\n");
    EXPECT_EQ(r.err, "");
}

// A batch on several workers writes byte for byte what one worker writes, whatever the input
// format, goes on past the files that fail, and names each of them on a line of its own.
TEST_F(Cli, ParallelBatchWritesWhatOneWorkerWrites)
{
    std::vector<std::string> inputs;
    for (int i = 0; i < 10; ++i)
        inputs.push_back(MakePicture(std::to_string(i) + ".bmp", 40 + 7 * i, 30 + i));
    ASSERT_EQ(Exec({"Convert", inputs[3], P("j.jpg")}).status, 0);
    ASSERT_EQ(Exec({"Convert", inputs[4], P("n.png")}).status, 0);
    inputs.insert(inputs.begin() + 5, {P("j.jpg"), P("n.png")});
    std::ofstream(P("corrupt.bmp"), std::ios::binary) << "BM this is not a bitmap";
    std::ofstream(P("notes.xyz"), std::ios::binary) << "not a picture format";
    const std::vector<std::string> bad = {P("corrupt.bmp"), P("missing.bmp"), P("notes.xyz")};
    inputs.insert(inputs.begin() + 1, bad[0]);
    inputs.insert(inputs.begin() + 6, bad[1]);
    inputs.push_back(bad[2]);

    const auto run = [&](const std::string& format, const std::string& out, std::vector<std::string> jobs) {
        std::vector<std::string> args = {"Invert"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        args.insert(args.end(), {"--out-dir", P(out), "--format", format});
        args.insert(args.end(), jobs.begin(), jobs.end());
        const CliRun r = Exec(args);
        EXPECT_EQ(r.status, 1) << out << r.err;
        // Each failure on one whole line that names the file; nothing else.
        std::istringstream lines(r.err);
        std::vector<std::string> named;
        for (std::string line; std::getline(lines, line);)
            for (const std::string& b : bad)
                if (line.rfind("nolvi2-cli: " + b + ": ", 0) == 0)
                    named.push_back(b);
        std::sort(named.begin(), named.end());
        EXPECT_EQ(named, bad) << out << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << out << r.err;
    };
    const auto contents = [&](const std::string& out) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir / out))
            files[e.path().filename().string()] = ReadAll(e.path());
        return files;
    };
    // PNG outputs carry the time they were written, so JPEG and BMP are compared.
    for (const std::string format : {"jpg", "bmp"}) {
        run(format, format + "-1", {"--jobs", "1"});
        const auto reference = contents(format + "-1");
        ASSERT_EQ(reference.size(), inputs.size() - bad.size());
        for (const auto& input : inputs) {
            const std::string output = P(format + "-1/" + fs::path(input).stem().string() + "." + format);
            if (std::find(bad.begin(), bad.end(), input) != bad.end())
                continue;
            const TBitmap in = Load(input), out = Load(output);
            EXPECT_EQ(out.Width(), in.Width()) << output;
            EXPECT_EQ(out.Height(), in.Height()) << output;
        }
        for (const std::vector<std::string>& jobs : {std::vector<std::string>{"--jobs", "2"},
                                                     std::vector<std::string>{"--jobs=7"},
                                                     std::vector<std::string>{}}) {
            const std::string out = format + "-" + (jobs.empty() ? "default" : jobs.back());
            run(format, out, jobs);
            EXPECT_TRUE(contents(out) == reference) << out;
        }
    }

    // A symbolic link in the output folder that makes two outputs one file is refused up front.
    fs::create_directory(dir / "linked");
    fs::create_symlink("1.jpg", dir / "linked" / "2.jpg");
    const CliRun linked = Exec({"Convert", P("0.bmp"), P("1.bmp"), P("2.bmp"), "--out-dir", P("linked"),
                                "--format", "jpg", "--jobs", "2"});
    EXPECT_EQ(linked.status, 2) << linked.err;
    EXPECT_NE(linked.err.find("linked/2.jpg"), std::string::npos) << linked.err;
    EXPECT_FALSE(fs::exists(dir / "linked" / "1.jpg"));

    // A link that loops cannot be written through: that file fails, the others are written.
    fs::create_directory(dir / "loop");
    fs::create_symlink("1.jpg", dir / "loop" / "1.jpg");
    const CliRun loop = Exec({"Convert", P("0.bmp"), P("1.bmp"), "--out-dir", P("loop"), "--format", "jpg",
                              "--jobs", "2"});
    EXPECT_EQ(loop.status, 1) << loop.err;
    EXPECT_EQ(loop.err.rfind("nolvi2-cli: " + P("1.bmp") + ": ", 0), 0u) << loop.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "loop" / "0.jpg"));
}

// Interrupted, a batch ends at once with 128 + the signal and leaves only finished outputs:
// every one of them whole, and no temporary file.
TEST_F(Cli, InterruptedBatchLeavesOnlyFinishedOutputs)
{
    constexpr int kFiles = 40;
    const std::string first = MakePicture("0.bmp", 800, 600);
    std::vector<std::string> args = {"Convert", first};
    for (int i = 1; i < kFiles; ++i) {
        args.push_back(P(std::to_string(i) + ".bmp"));
        fs::create_hard_link(first, args.back());
    }
    args.insert(args.end(), {"--out-dir", P("out"), "--format", "png", "--png-level", "9", "--jobs", "2"});
    const fs::path out = dir / "out";
    const auto outputs = [&] {
        std::vector<std::string> names;
        if (fs::exists(out))
            for (const auto& e : fs::directory_iterator(out))
                names.push_back(e.path().filename().string());
        return names;
    };
    const auto finished = [&] {
        const std::vector<std::string> names = outputs();
        return std::count_if(names.begin(), names.end(), [](const std::string& name) { return name[0] != '.'; });
    };
    // Each ends the tool with 128 + its number.
    for (const auto& [signal, status] : {std::pair{SIGHUP, 129}, std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        fs::remove_all(out);
        const pid_t pid = Start(args);
        // Signalled as soon as the first output is in place, while the other worker writes.
        bool running = true;
        while (running && finished() == 0) {
            siginfo_t info{};
            running = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(running) << "the batch ended before its first output appeared";
        ASSERT_EQ(::kill(pid, signal), 0);
        const CliRun r = Finish(pid);
        EXPECT_FALSE(r.killed) << signal;
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_NE(r.err.find("中断しました"), std::string::npos) << r.err;
        const std::vector<std::string> left = outputs();
        EXPECT_LT(left.size(), std::size_t(kFiles));
        for (const std::string& name : left) {
            ASSERT_NE(name[0], '.') << "temporary file left: " << name;
            const TBitmap picture = Load((out / name).string());
            EXPECT_EQ(picture.Width(), 800) << name;
            EXPECT_EQ(picture.Height(), 600) << name;
        }
    }
}

// Interrupted at any moment, a batch counts exactly the outputs it leaves: the files written
// until then, none written after it says so, no temporary file. Tiny files keep both workers
// finishing files all the time, so that the signal often comes as one is renamed into place.
TEST_F(Cli, InterruptedBatchCountsTheOutputsItLeaves)
{
    constexpr int kFiles = 400, kRuns = 40;
    const std::string first = MakePicture("0.bmp", 4, 3);
    std::vector<std::string> args = {"Convert", first};
    for (int i = 1; i < kFiles; ++i) {
        args.push_back(P(std::to_string(i) + ".bmp"));
        fs::create_hard_link(first, args.back());
    }
    args.insert(args.end(), {"--out-dir", P("out"), "--jobs", "2"});
    const fs::path out = dir / "out";
    const auto entries = [&] {
        return fs::exists(out) ? std::distance(fs::directory_iterator(out), fs::directory_iterator()) : 0;
    };
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::regex counted("中断しました（([0-9]+)/([0-9]+) 個のファイルを処理済み）\n");
    for (int run = 0; run < kRuns; ++run) {
        fs::remove_all(out);
        const pid_t pid = Start(args);
        // The first file under way shows that the batch has begun (and holds the signals).
        const auto start = std::chrono::steady_clock::now();
        while (entries() == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ASSERT_EQ(::kill(pid, SIGINT), 0);
        const CliRun r = Finish(pid);
        ASSERT_EQ(r.status, 130) << run << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.err, m, counted)) << run << r.err;
        ASSERT_EQ(m[2].str(), std::to_string(kFiles));
        if (m[1].str() == std::to_string(kFiles))
            continue;  // the batch ended before the signal: nothing was interrupted
        std::size_t written = 0;
        for (const auto& e : fs::directory_iterator(out)) {
            ASSERT_NE(e.path().filename().string()[0], '.') << run << " temporary file left: " << e.path();
            ++written;
        }
        EXPECT_EQ(m[1].str(), std::to_string(written)) << "run " << run;
    }
}

// The four channel swaps share a display name; each help line says what its command moves
// ("X↔Y" exchanges two channels, "X←Y" gives X the value Y had), and the tool does just that
// to a pixel whose channels all differ.
TEST_F(Cli, HelpTellsTheChannelSwapsApart)
{
    TBitmap pixel(1, 1, TPixelFormat::pf24bit);
    const std::map<char, uint8_t> original = {{'R', 10}, {'G', 20}, {'B', 30}};
    const auto set = [](uint8_t* p, const std::map<char, uint8_t>& c) {
        p[0] = c.at('B'), p[1] = c.at('G'), p[2] = c.at('R');
    };
    set(pixel.ScanLine(0), original);
    pixel.SaveToFile(P("in.bmp"));
    const std::string help = Exec({"--help"}).out;
    std::set<std::string> lines;
    for (const char* command : {"RGBSwitchRGB", "RGBSwitchRG", "RGBSwitchGB", "RGBSwitchBR"}) {
        SCOPED_TRACE(command);
        std::smatch line;
        ASSERT_TRUE(std::regex_search(help, line, std::regex("\n  " + std::string(command) + " +([^\n]*)")));
        lines.insert(line[1]);
        std::map<char, uint8_t> expected = original;
        const std::string text = line[1];
        const std::regex move("([RGB])(↔|←)([RGB])");
        int moves = 0;
        for (auto m = std::sregex_iterator(text.begin(), text.end(), move); m != std::sregex_iterator(); ++m, ++moves) {
            const char to = (*m)[1].str()[0], from = (*m)[3].str()[0];
            expected[to] = original.at(from);
            if ((*m)[2] == "↔")
                expected[from] = original.at(to);
        }
        ASSERT_GT(moves, 0) << text;
        ASSERT_EQ(Exec({command, P("in.bmp"), P("out.bmp")}).status, 0);
        uint8_t want[3];
        set(want, expected);
        EXPECT_EQ(std::memcmp(Load(P("out.bmp")).ScanLine(0), want, 3), 0) << text;
    }
    EXPECT_EQ(lines.size(), 4u);
}

// The options in the README's table are those of the manual page, cover the usage text, and
// the tool accepts every one of them.
TEST_F(Cli, ReadmeTableListsEveryOption)
{
    const std::string readme = ReadAll(fs::path(NOLVI2_SOURCE_DIR) / "README.md");
    const std::string manual = ReadAll(fs::path(NOLVI2_SOURCE_DIR) / "man" / "nolvi2-cli.1.txt");
    const auto options = [](const std::string& text, const std::regex& row, const std::regex& name) {
        std::set<std::string> found;
        for (auto r = std::sregex_iterator(text.begin(), text.end(), row); r != std::sregex_iterator(); ++r) {
            const std::string cell = (*r)[1];
            for (auto n = std::sregex_iterator(cell.begin(), cell.end(), name); n != std::sregex_iterator(); ++n)
                found.insert((*n)[1]);
        }
        return found;
    };
    const std::size_t from = readme.find("| option | meaning |");
    ASSERT_NE(from, std::string::npos);
    const std::string table = readme.substr(from, readme.find("\n\n", from) - from);
    const std::set<std::string> inReadme = options(table, std::regex("\n\\| ([^|]*) \\|"), std::regex("`(-[-a-z]*)"));
    // The manual's option tags, in the English half of its OPTIONS section.
    const std::size_t at = manual.find("== OPTIONS");
    const std::string section = manual.substr(at, manual.find("[ja]", at) - at);
    EXPECT_EQ(inReadme, options(section, std::regex("\n- ([^\n]*)"), std::regex("\\*\\*(-[-a-z]*)\\*\\*")));
    const std::string help = Exec({"--help"}).out;
    for (const auto& o : options(help, std::regex("\n  (--[-a-z]+)"), std::regex("(.+)")))
        EXPECT_TRUE(inReadme.count(o)) << o << " is not in the README's table";
    for (const std::string& o : inReadme) {
        const CliRun r = Exec({"Convert", o});
        EXPECT_EQ(r.err.find("不明なオプションです"), std::string::npos) << o << r.err;
    }
}

// The manual's EXIT STATUS section, in both languages, lists the statuses the tool ends with:
// 0, 1, 2 and 128 + the number of each interrupting signal, whose entry names it; the usage
// error's entry quotes the line the tool writes.
TEST_F(Cli, ManualPageListsEveryExitStatus)
{
    const std::string manual = ReadAll(fs::path(NOLVI2_SOURCE_DIR) / "man" / "nolvi2-cli.1.txt");
    const std::string usage = Exec({"Convert"}).err;
    const std::string hint = usage.substr(usage.rfind('\n', usage.size() - 2) + 1);
    ASSERT_EQ(hint.rfind("使い方は ", 0), 0u) << usage;
    const std::size_t at = manual.find("== EXIT STATUS");
    ASSERT_NE(at, std::string::npos);
    const std::string section = manual.substr(at, manual.find("\n== ", at + 1) - at);
    const std::size_t ja = section.find("[ja]");
    for (const std::string& half : {section.substr(0, ja), section.substr(ja)}) {
        // Each entry: its tag line of statuses and the text below it, as one line.
        std::map<int, std::string> entries;
        const std::regex entry("\n- ([^\n]*)((?:\n  [^\n]*)*)");
        for (auto e = std::sregex_iterator(half.begin(), half.end(), entry); e != std::sregex_iterator(); ++e) {
            const std::string text = std::regex_replace((*e)[2].str(), std::regex("\n  |\\*\\*"), " ");
            const std::string tags = (*e)[1];
            const std::regex status("\\*\\*([0-9]+)\\*\\*");
            for (auto s = std::sregex_iterator(tags.begin(), tags.end(), status); s != std::sregex_iterator(); ++s)
                entries[std::stoi((*s)[1])] = std::regex_replace(text, std::regex(" +"), " ");
        }
        std::set<int> listed;
        for (const auto& [status, text] : entries)
            listed.insert(status);
        EXPECT_EQ(listed, (std::set<int>{0, 1, 2, 128 + SIGHUP, 128 + SIGINT, 128 + SIGTERM})) << half;
        for (const auto& [signal, name] : {std::pair{SIGHUP, "SIGHUP"}, std::pair{SIGINT, "SIGINT"},
                                           std::pair{SIGTERM, "SIGTERM"}})
            EXPECT_NE(entries[128 + signal].find(name), std::string::npos) << entries[128 + signal];
        std::string quoted = std::regex_replace(hint, std::regex(" +"), " ");
        quoted.pop_back();  // the newline
        EXPECT_NE(entries[2].find(quoted), std::string::npos) << entries[2];
    }
}
