#pragma once
// The bundled plug-ins loaded as the program loads them: a .spi from the build folder opened
// with dlopen, its functions bound by name, and the handles of GetPicture turned into a
// picture the tests compare (width, height, RGB pixels top-down, and for palette pictures the
// colour table and the indices). Also the small tools the plug-in tests share: running a
// command-line program, reading a PPM file, and recording the progress callback.

#include "spi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace nolvi2::test {

// A decoded picture, whatever the depth of its DIB.
struct SpiPicture {
    int32_t width = 0;
    int32_t height = 0;
    int bits = 0;                // the DIB's bit count
    bool topDown = false;        // the DIB had a negative height
    std::vector<uint8_t> rgb;    // width * height * 3, rows from the top
    std::vector<uint8_t> palette; // colours * 3 (r, g, b) for 1/4/8 bits, else empty
    std::vector<uint8_t> index;  // width * height palette indices for 1/4/8 bits, else empty
    std::string profile;         // the embedded colour profile of a BITMAPV5HEADER, else empty
    std::vector<uint8_t> cmyk;   // width * height * 4 inks (C, M, Y, K) of a BI_CMYK DIB, else empty

    const uint8_t* Pixel(int32_t x, int32_t y) const { return rgb.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3; }
};

// The bytes of a file ("" when it cannot be read).
inline std::string ReadBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool WriteBytes(const std::string& name, const std::string& bytes)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

// The full path of a program found on PATH, or "" when there is none.
inline std::string FindTool(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate))
            return candidate;
    }
    return {};
}

// Runs a program found on PATH with its output thrown away; true when it ran and exited
// with 0.
inline bool RunToolNow(const std::vector<std::string>& args)
{
    if (args.empty())
        return false;
    const std::string program = FindTool(args[0]);
    if (program.empty())
        return false;
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A digest of the pieces it is given (two 64-bit hashes side by side, each piece preceded
// by its length), as hex text: the name of a file in the tool cache.
class CacheKey {
public:
    void Add(const std::string& piece)
    {
        Byte(piece.size());
        for (const char c : piece)
            Byte(uint8_t(c));
    }
    std::string Hex() const
    {
        char text[33];
        std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(FFnv),
                      static_cast<unsigned long long>(Mixed()));
        return text;
    }

private:
    void Byte(uint64_t v)
    {
        FFnv = (FFnv ^ v) * 0x100000001b3ull;                  // FNV-1a
        FMul = (FMul + v + 1) * 0x9e3779b97f4a7c15ull;         // multiplicative, mixed at the end
        FMul ^= FMul >> 29;
    }
    uint64_t Mixed() const
    {
        uint64_t z = FMul;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    uint64_t FFnv = 0xcbf29ce484222325ull;
    uint64_t FMul = 0;
};

// Runs a program found on PATH that makes the file output (one of its arguments) from the
// others; true when output is there afterwards. What it makes is kept in the build folder
// (NOLVI2_TOOL_CACHE, tests/tool-cache), so that a picture is made by its tool once per build
// and every later run copies it from there: the cache key is the command (with output's
// folder, the test's temporary one, left out), the contents of every argument that names an
// existing file, and the program's path, size and time, so that another picture, other
// options or another version of the tool make it anew. A tool that is missing or fails makes
// nothing and leaves nothing in the cache.
inline bool RunTool(const std::vector<std::string>& args, const std::string& output)
{
    namespace fs = std::filesystem;
    if (args.empty())
        return false;
    const std::string program = FindTool(args[0]);
    if (program.empty())
        return false;
    std::error_code e;
    CacheKey key;
    key.Add(program);
    key.Add(std::to_string(fs::file_size(program, e)));
    key.Add(std::to_string(fs::last_write_time(program, e).time_since_epoch().count()));
    const std::string folder = fs::path(output).parent_path().string() + "/";
    for (const std::string& a : args) {
        key.Add(a.rfind(folder, 0) == 0 ? "<folder>/" + a.substr(folder.size()) : a);
        if (a != output && fs::is_regular_file(a, e))
            key.Add(ReadBytes(a));
    }
    const fs::path cache = fs::path(NOLVI2_TOOL_CACHE) / (key.Hex() + fs::path(output).extension().string());
    if (fs::is_regular_file(cache, e)) {
        fs::remove(output, e);
        return fs::copy_file(cache, output, e);
    }
    if (!RunToolNow(args) || !fs::is_regular_file(output, e))
        return false;
    // Written under a name of its own and renamed, so that a test running beside this one
    // never reads half a file.
    fs::create_directories(cache.parent_path(), e);
    const fs::path part = cache.string() + "." + std::to_string(::getpid()) + ".part";
    if (fs::copy_file(output, part, fs::copy_options::overwrite_existing, e))
        fs::rename(part, cache, e);
    return true;
}

// The file a tool makes with args and then output as its last argument, as bytes; "" when the
// tool is not installed, and a failure of the test when it fails.
inline std::string ToolMade(std::vector<std::string> args, const std::string& output)
{
    if (args.empty() || FindTool(args[0]).empty())
        return {};
    args.push_back(output);
    EXPECT_TRUE(RunTool(args, output)) << args[0];
    return ReadBytes(output);
}

// Skips the test when a program it needs is not installed.
#define NOLVI2_REQUIRE_TOOL(name)                                                                  \
    do {                                                                                           \
        if (nolvi2::test::FindTool(name).empty())                                                  \
            GTEST_SKIP() << (name) << " is not installed";                                         \
    } while (0)

// A binary PPM (P6, maxval 255), or a PAM (P7) of RGB or RGB_ALPHA tuples of maxval 255 with
// its alpha left out, as a 24-bit picture; false when the file is neither.
inline bool ReadPpm(const std::string& name, SpiPicture& out)
{
    const std::string bytes = ReadBytes(name);
    std::size_t at = 0;
    const auto token = [&]() -> std::string {
        for (;;) {
            while (at < bytes.size() && std::isspace(uint8_t(bytes[at])))
                ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
                continue;
            }
            break;
        }
        const std::size_t start = at;
        while (at < bytes.size() && !std::isspace(uint8_t(bytes[at])))
            ++at;
        return bytes.substr(start, at - start);
    };
    const std::string magic = token();
    long w = 0, h = 0, maxval = 0, depth = 3;
    if (magic == "P6") {
        w = std::atol(token().c_str());
        h = std::atol(token().c_str());
        maxval = std::atol(token().c_str());
    } else if (magic == "P7") {
        std::string tuple;
        for (std::string field = token(); field != "ENDHDR"; field = token()) {
            if (field.empty())
                return false;
            const std::string value = token();
            if (field == "WIDTH")
                w = std::atol(value.c_str());
            else if (field == "HEIGHT")
                h = std::atol(value.c_str());
            else if (field == "DEPTH")
                depth = std::atol(value.c_str());
            else if (field == "MAXVAL")
                maxval = std::atol(value.c_str());
            else if (field == "TUPLTYPE")
                tuple = value;
        }
        if (!((tuple == "RGB" && depth == 3) || (tuple == "RGB_ALPHA" && depth == 4)))
            return false;
    } else {
        return false;
    }
    if (w <= 0 || h <= 0 || maxval != 255 || at >= bytes.size())
        return false;
    ++at; // the single white space after the header
    const std::size_t pixels = std::size_t(w) * std::size_t(h);
    if (bytes.size() - at < pixels * std::size_t(depth))
        return false;
    out = SpiPicture{};
    out.width = int32_t(w);
    out.height = int32_t(h);
    out.bits = 24;
    out.rgb.resize(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i)
        for (std::size_t c = 0; c < 3; ++c)
            out.rgb[3 * i + c] = uint8_t(bytes[at + i * std::size_t(depth) + c]);
    return true;
}

// Every call of the progress callback, and the call at which it asks to stop (0: never).
struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    std::size_t stopAt = 0;

    static int32_t Callback(int32_t num, int32_t denom, intptr_t data)
    {
        auto* log = reinterpret_cast<ProgressLog*>(data);
        log->calls.emplace_back(num, denom);
        return log->stopAt != 0 && log->calls.size() >= log->stopAt ? 1 : 0;
    }
    intptr_t Data() { return reinterpret_cast<intptr_t>(this); }
};

// One plug-in of the build folder, kept loaded for the rest of the process (so that the
// sanitizers can still name its functions when they report).
class SpiPlugin {
public:
    explicit SpiPlugin(const std::string& name)
    {
        const std::string file = std::string(NOLVI2_PLUGIN_DIR) + "/" + name + ".spi";
        FHandle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!FHandle) {
            const char* e = ::dlerror();
            FError = e ? e : "dlopen failed";
            return;
        }
        FGetPluginInfo = Bind<SpiGetPluginInfo>("GetPluginInfo");
        FIsSupported = Bind<SpiIsSupported>("IsSupported");
        FGetPictureInfo = Bind<SpiGetPictureInfo>("GetPictureInfo");
        FGetPicture = Bind<SpiGetPicture>("GetPicture");
        FGetPreview = Bind<SpiGetPicture>("GetPreview");
        FSetThreadShare = Bind<SpiSetThreadShare>("SetThreadShare");
        if (!FGetPluginInfo || !FIsSupported || !FGetPictureInfo || !FGetPicture)
            FError = file + " lacks a function of the picture interface";
    }
    ~SpiPlugin()
    {
        if (FHandle)
            ::dlclose(FHandle);
    }
    SpiPlugin(const SpiPlugin&) = delete;
    SpiPlugin& operator=(const SpiPlugin&) = delete;

    bool Loaded() const { return FError.empty(); }
    const std::string& Error() const { return FError; }
    bool HasPreview() const { return FGetPreview != nullptr; }
    // SetThreadShare (spi.h); false when the plug-in does not export it.
    bool SetThreadShare(int32_t threads) const
    {
        if (FSetThreadShare)
            FSetThreadShare(threads);
        return FSetThreadShare != nullptr;
    }

    // GetPluginInfo's text infono ("" when there is none).
    std::string Info(int32_t infono) const
    {
        char buf[1024];
        std::memset(buf, 0x55, sizeof buf);
        const int32_t n = FGetPluginInfo(infono, buf, int32_t(sizeof buf));
        if (n <= 0)
            return {};
        EXPECT_LT(n, int32_t(sizeof buf));
        EXPECT_EQ(buf[n], '\0') << "text " << infono << " is not terminated at its length";
        return std::string(buf, std::size_t(n));
    }

    // IsSupported with the first 2048 bytes of data (zeros after a shorter one, as the program
    // passes them).
    bool Supports(const std::string& data, const std::string& fileName = {}) const
    {
        char header[2048] = {};
        std::memcpy(header, data.data(), std::min(data.size(), sizeof header));
        return FIsSupported(fileName.c_str(), header) != 0;
    }

    int32_t PictureInfo(const std::string& data, SpiPictureInfo& info) const
    {
        info = SpiPictureInfo{};
        const std::vector<char> exact(data.begin(), data.end());
        const int32_t rc = FGetPictureInfo(exact.data(), int32_t(exact.size()), 1, &info);
        std::free(info.hInfo);
        info.hInfo = nullptr;
        return rc;
    }
    int32_t PictureInfoFile(const std::string& file, int32_t offset, SpiPictureInfo& info) const
    {
        info = SpiPictureInfo{};
        const int32_t rc = FGetPictureInfo(file.c_str(), offset, 0, &info);
        std::free(info.hInfo);
        info.hInfo = nullptr;
        return rc;
    }

    // GetPicture on data in memory (a block of exactly its size, so that a read past its end
    // shows under the sanitizers); on success out holds the picture.
    int32_t Decode(const std::string& data, SpiPicture& out, SpiProgressCallback cb = nullptr, intptr_t lData = 0) const
    {
        const std::vector<char> exact(data.begin(), data.end());
        return Take(FGetPicture, exact.data(), int32_t(exact.size()), 1, out, cb, lData);
    }
    // GetPicture on a file from a byte offset.
    int32_t DecodeFile(const std::string& file, int32_t offset, SpiPicture& out, SpiProgressCallback cb = nullptr,
                       intptr_t lData = 0) const
    {
        return Take(FGetPicture, file.c_str(), offset, 0, out, cb, lData);
    }
    // GetPicture on the data written into folder after offset bytes of other data, as a
    // picture embedded in a larger file is read.
    int32_t DecodeFileAt(const std::string& data, const std::filesystem::path& folder, int32_t offset,
                         SpiPicture& out) const
    {
        const std::string file = (folder / "embedded.bin").string();
        std::string bytes(std::size_t(offset), '\xA5');
        bytes += data;
        if (!WriteBytes(file, bytes))
            return SPI_FILE_READ_ERROR;
        const int32_t rc = DecodeFile(file, offset, out);
        std::filesystem::remove(file);
        return rc;
    }
    int32_t Preview(const std::string& data, SpiPicture& out) const
    {
        const std::vector<char> exact(data.begin(), data.end());
        return Take(FGetPreview, exact.data(), int32_t(exact.size()), 1, out, nullptr, 0);
    }

    // Turns a successful call's handles into a picture and frees them; fails the test when
    // they do not describe a picture of the DIB layout.
    static void Unpack(void* hInfo, void* hBm, SpiPicture& out)
    {
        out = SpiPicture{};
        const auto* h = static_cast<const uint8_t*>(hInfo);
        const auto* bits = static_cast<const uint8_t*>(hBm);
        Parse(h, bits, out);
        std::free(hInfo);
        std::free(hBm);
    }

private:
    template <typename F>
    F Bind(const char* name)
    {
        return reinterpret_cast<F>(::dlsym(FHandle, name));
    }

    static uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

    static void Parse(const uint8_t* h, const uint8_t* bits, SpiPicture& out)
    {
        ASSERT_NE(h, nullptr);
        ASSERT_NE(bits, nullptr);
        ASSERT_GE(::malloc_usable_size(const_cast<uint8_t*>(h)), 40u);
        const uint32_t headerSize = Get32(h);
        ASSERT_TRUE(headerSize == 40u || headerSize == 124u) << "biSize " << headerSize;
        ASSERT_GE(::malloc_usable_size(const_cast<uint8_t*>(h)), headerSize);
        const int32_t width = int32_t(Get32(h + 4));
        const int32_t height = int32_t(Get32(h + 8));
        const int bitCount = h[14] | h[15] << 8;
        const uint32_t compression = Get32(h + 16);
        ASSERT_EQ(h[12] | h[13] << 8, 1) << "biPlanes";
        ASSERT_TRUE(compression == 0u || (compression == 11u && bitCount == 32 && headerSize == 124u))
            << "biCompression (BI_RGB, or BI_CMYK with a profile) " << compression;
        ASSERT_GT(width, 0);
        ASSERT_NE(height, 0);
        ASSERT_NE(height, INT32_MIN);
        ASSERT_TRUE(bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24 || bitCount == 32) << bitCount;
        uint32_t colors = 0;
        if (bitCount <= 8) {
            colors = Get32(h + 32);
            if (colors == 0)
                colors = 1u << bitCount;
            ASSERT_LE(colors, 1u << bitCount);
            ASSERT_GE(::malloc_usable_size(const_cast<uint8_t*>(h)), headerSize + 4u * colors) << "colour table";
        }
        if (headerSize == 124u) {
            // Only the profile's fields are set: CSType 'MBED', intent LCS_GM_IMAGES, and the
            // profile right after the colour table.
            for (uint32_t at = 40; at < 108; at += 4)
                ASSERT_EQ(Get32(h + at), at == 56 ? 0x4D424544u : 0u) << "BITMAPV5HEADER field at " << at;
            ASSERT_EQ(Get32(h + 108), 4u) << "bV5Intent";
            ASSERT_EQ(Get32(h + 112), 124u + 4u * colors) << "bV5ProfileData";
            const uint32_t size = Get32(h + 116);
            ASSERT_GT(size, 0u) << "bV5ProfileSize";
            ASSERT_EQ(Get32(h + 120), 0u) << "bV5Reserved";
            ASSERT_GE(::malloc_usable_size(const_cast<uint8_t*>(h)), 124u + 4u * colors + size) << "profile";
            out.profile.assign(reinterpret_cast<const char*>(h) + 124 + 4 * colors, size);
        }
        out.width = width;
        out.height = height < 0 ? -height : height;
        out.topDown = height < 0;
        out.bits = bitCount;
        const std::size_t stride = ((std::size_t(width) * std::size_t(bitCount) + 31) / 32) * 4;
        ASSERT_GE(::malloc_usable_size(const_cast<uint8_t*>(bits)), stride * std::size_t(out.height)) << "pixel block";
        for (uint32_t i = 0; i < colors; ++i) {
            const uint8_t* e = h + headerSize + 4 * i;
            out.palette.insert(out.palette.end(), {e[2], e[1], e[0]});
        }
        out.rgb.resize(std::size_t(width) * std::size_t(out.height) * 3);
        if (bitCount <= 8)
            out.index.resize(std::size_t(width) * std::size_t(out.height));
        for (int32_t y = 0; y < out.height; ++y) {
            const uint8_t* row = bits + std::size_t(out.topDown ? y : out.height - 1 - y) * stride;
            uint8_t* d = out.rgb.data() + std::size_t(y) * std::size_t(width) * 3;
            for (int32_t x = 0; x < width; ++x, d += 3) {
                if (bitCount <= 8) {
                    const std::size_t bit = std::size_t(x) * std::size_t(bitCount);
                    const unsigned v = (row[bit / 8] >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
                    out.index[std::size_t(y) * std::size_t(width) + std::size_t(x)] = uint8_t(v);
                    ASSERT_LT(v, colors) << "index outside the colour table at " << x << "," << y;
                    std::memcpy(d, out.palette.data() + 3 * v, 3);
                } else if (compression == 11u) {
                    // The inks, and the colour of the formula that stands without the profile.
                    const uint8_t* s = row + std::size_t(x) * 4;
                    out.cmyk.insert(out.cmyk.end(), s, s + 4);
                    for (int c = 0; c < 3; ++c)
                        d[c] = uint8_t((255 - s[3]) * (255 - s[c]) / 255);
                } else {
                    const uint8_t* s = row + std::size_t(x) * std::size_t(bitCount / 8);
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                }
            }
        }
    }

    static int32_t Take(SpiGetPicture fn, const char* buf, int32_t len, uint32_t flag, SpiPicture& out,
                        SpiProgressCallback cb, intptr_t lData)
    {
        out = SpiPicture{};
        if (!fn)
            return SPI_NOT_IMPLEMENTED;
        void* hInfo = nullptr;
        void* hBm = nullptr;
        const int32_t rc = fn(buf, len, flag, &hInfo, &hBm, cb, lData);
        if (rc == SPI_SUCCESS)
            Unpack(hInfo, hBm, out);
        return rc;
    }

    void* FHandle = nullptr;
    std::string FError;
    SpiGetPluginInfo FGetPluginInfo = nullptr;
    SpiIsSupported FIsSupported = nullptr;
    SpiGetPictureInfo FGetPictureInfo = nullptr;
    SpiGetPicture FGetPicture = nullptr;
    SpiGetPicture FGetPreview = nullptr;
    SpiSetThreadShare FSetThreadShare = nullptr;
};

// Loads a plug-in for a test, failing it when the plug-in cannot be loaded.
#define NOLVI2_LOAD_PLUGIN(var, name)                                                              \
    nolvi2::test::SpiPlugin var(name);                                                             \
    ASSERT_TRUE(var.Loaded()) << var.Error()

// The pixels of two pictures, compared with a tolerance per sample; fails with the first
// difference.
inline ::testing::AssertionResult SameRgb(const SpiPicture& a, const SpiPicture& b, int tolerance = 0)
{
    if (a.width != b.width || a.height != b.height)
        return ::testing::AssertionFailure() << "sizes " << a.width << "x" << a.height << " and " << b.width << "x"
                                             << b.height;
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int d = int(a.Pixel(x, y)[c]) - int(b.Pixel(x, y)[c]);
                if (d > tolerance || -d > tolerance)
                    return ::testing::AssertionFailure()
                           << "pixel " << x << "," << y << " channel " << c << ": " << int(a.Pixel(x, y)[c])
                           << " and " << int(b.Pixel(x, y)[c]);
            }
    return ::testing::AssertionSuccess();
}

// GetPluginInfo's texts of a picture plug-in: its version, an About text that names its
// library, one pair of extensions and format name, and nothing after them.
inline void ExpectInfoTexts(const SpiPlugin& plugin, const std::string& library, const std::string& extensions,
                            const std::string& format)
{
    EXPECT_EQ(plugin.Info(0), "00IN");
    EXPECT_NE(plugin.Info(1).find(library), std::string::npos) << plugin.Info(1);
    EXPECT_EQ(plugin.Info(2), extensions);
    EXPECT_EQ(plugin.Info(3), format);
    EXPECT_EQ(plugin.Info(4), "");
}

// IsSupported for each header of a table: whether the plug-in takes it.
inline void ExpectSignatures(const SpiPlugin& plugin, std::initializer_list<std::pair<std::string, bool>> cases)
{
    for (const auto& [header, yes] : cases)
        EXPECT_EQ(plugin.Supports(header), yes) << ::testing::PrintToString(header);
}

// A test picture of width x height: with colors > 0, that many distinct colours in an
// irregular pattern (so that a palette format holds it exactly); with 0, a different colour
// almost everywhere.
inline SpiPicture PatternPicture(int32_t width, int32_t height, int colors = 0)
{
    SpiPicture p;
    p.width = width;
    p.height = height;
    p.bits = 24;
    p.rgb.resize(std::size_t(width) * std::size_t(height) * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* d = p.rgb.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
            if (colors > 0) {
                const unsigned i = unsigned(x * 3 + y * 5 + (x * y) % 7) % unsigned(colors);
                d[0] = uint8_t(i * 67 + 13);
                d[1] = uint8_t(i * 151 + 7);
                d[2] = uint8_t(255 - i * 23);
            } else {
                const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
                d[0] = uint8_t(x * 7 + y);
                d[1] = uint8_t(x * y + (h >> 13));
                d[2] = uint8_t(h >> 24);
            }
        }
    return p;
}

inline bool WritePpm(const std::string& name, const SpiPicture& p)
{
    std::string bytes = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    bytes.append(p.rgb.begin(), p.rgb.end());
    return WriteBytes(name, bytes);
}

// A picture as a PPM, or with alpha as a PAM (RGB_ALPHA) whose alpha ramps from 0 to 255 over
// the pixels; wide writes 16-bit samples, the picture's value in the high byte above a
// pattern of low bits that a reduction to 8 bits loses.
inline bool WritePnm(const std::string& name, const SpiPicture& p, bool alpha, bool wide)
{
    const std::string w = std::to_string(p.width), h = std::to_string(p.height), maxval = wide ? "65535" : "255";
    std::string bytes = alpha ? "P7\nWIDTH " + w + "\nHEIGHT " + h + "\nDEPTH 4\nMAXVAL " + maxval + "\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                              : "P6\n" + w + " " + h + "\n" + maxval + "\n";
    const std::size_t pixels = p.rgb.size() / 3;
    for (std::size_t i = 0; i < pixels; ++i)
        for (std::size_t c = 0; c < (alpha ? 4u : 3u); ++c) {
            bytes += char(c < 3 ? p.rgb[3 * i + c] : i * 255 / pixels);
            if (wide)
                bytes += char(i * 37 + c * 91);
        }
    return WriteBytes(name, bytes);
}

// Decodes data from memory and from a file at a byte offset: the two must agree. The
// picture from memory.
inline SpiPicture DecodeBothWays(const SpiPlugin& plugin, const std::string& data, const std::filesystem::path& folder)
{
    SpiPicture fromMemory, fromFile;
    EXPECT_EQ(plugin.Decode(data, fromMemory), SPI_SUCCESS);
    EXPECT_EQ(plugin.DecodeFileAt(data, folder, 1021, fromFile), SPI_SUCCESS);
    EXPECT_EQ(fromMemory.bits, fromFile.bits);
    EXPECT_EQ(fromMemory.palette, fromFile.palette);
    EXPECT_EQ(fromMemory.profile, fromFile.profile);
    EXPECT_TRUE(SameRgb(fromMemory, fromFile));
    return fromMemory;
}

// GetPictureInfo of data, from memory and from a file at a byte offset, gives that size and
// depth.
inline ::testing::AssertionResult InfoIs(const SpiPlugin& plugin, const std::string& data,
                                         const std::filesystem::path& folder, int32_t width, int32_t height, int depth)
{
    const std::string file = (folder / "info.bin").string();
    if (!WriteBytes(file, std::string(77, '\x5A') + data))
        return ::testing::AssertionFailure() << "cannot write " << file;
    for (const bool fromFile : {false, true}) {
        SpiPictureInfo info;
        const int32_t rc = fromFile ? plugin.PictureInfoFile(file, 77, info) : plugin.PictureInfo(data, info);
        if (rc != SPI_SUCCESS || info.width != width || info.height != height || info.colorDepth != depth)
            return ::testing::AssertionFailure() << (fromFile ? "file: " : "memory: ") << "result " << rc << ", "
                                                 << info.width << " x " << info.height << " x " << info.colorDepth;
    }
    std::filesystem::remove(file);
    return ::testing::AssertionSuccess();
}

// Every prefix of data that ends before its last `tail` bytes (a sample of them for a long
// file) fails to decode, and never crashes.
inline void ExpectTruncationsFail(const SpiPlugin& plugin, const std::string& data, std::size_t tail)
{
    ASSERT_GT(data.size(), tail);
    const std::size_t end = data.size() - tail;
    const std::size_t step = end > 400 ? end / 200 : 1;
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < end; n += step)
        lengths.push_back(n);
    lengths.push_back(end);
    for (const std::size_t n : lengths) {
        SpiPicture p;
        EXPECT_NE(plugin.Decode(data.substr(0, n), p), SPI_SUCCESS) << "the first " << n << " of " << data.size() << " bytes";
        SpiPictureInfo info;
        plugin.PictureInfo(data.substr(0, n), info); // may well succeed: the header can be whole
    }
}

// Data with bytes changed all over decodes or fails, but never crashes and never hands back
// a picture whose blocks do not hold what its header says.
inline void ExpectCorruptionsSurvive(const SpiPlugin& plugin, const std::string& data, int count = 300)
{
    for (int i = 0; i < count; ++i) {
        std::string bad = data;
        const std::size_t at = std::size_t(uint32_t(i + 1) * 2654435761u) % bad.size();
        for (std::size_t k = 0; k < std::size_t(1 + i % 4) && at + k < bad.size(); ++k)
            bad[at + k] = char(i % 3 == 0 ? 0xFF : i % 3 == 1 ? 0x00 : uint8_t(bad[at + k]) ^ uint8_t(1u << (i % 8)));
        SpiPicture p;
        plugin.Decode(bad, p);
        SpiPictureInfo info;
        plugin.PictureInfo(bad, info);
    }
}

// The progress callback sees the rows done growing to the height, at least minCalls times;
// asking to stop at any of its calls stops the decoding at once with SPI_ABORTED.
inline void ExpectProgressAndAbort(const SpiPlugin& plugin, const std::string& data, std::size_t minCalls)
{
    ProgressLog log;
    SpiPicture p;
    ASSERT_EQ(plugin.Decode(data, p, ProgressLog::Callback, log.Data()), SPI_SUCCESS);
    ASSERT_GE(log.calls.size(), minCalls);
    for (std::size_t i = 0; i < log.calls.size(); ++i) {
        EXPECT_EQ(log.calls[i].second, log.calls[0].second) << "call " << i;
        EXPECT_LE(log.calls[i].first, log.calls[i].second) << "call " << i;
        if (i > 0) {
            EXPECT_GE(log.calls[i].first, log.calls[i - 1].first) << "call " << i;
        }
    }
    EXPECT_GT(log.calls.back().second, 0);
    EXPECT_EQ(log.calls.back().first, log.calls.back().second);
    for (const std::size_t stop : {std::size_t(1), std::size_t(2), log.calls.size() / 2 + 1, log.calls.size()}) {
        ProgressLog stopping;
        stopping.stopAt = stop;
        EXPECT_EQ(plugin.Decode(data, p, ProgressLog::Callback, stopping.Data()), SPI_ABORTED) << "stop at call " << stop;
        EXPECT_EQ(stopping.calls.size(), stop) << "the decoding went on after the callback asked to stop";
    }
}

}  // namespace nolvi2::test
