// ifheif.spi: HEIC and AVIF pictures made by libheif's own encoder at test time, decoded by the
// plug-in and compared with libheif's own converter (and with the source where the coding is
// lossless), the file's rotation and mirroring, colour profiles (ICC, and nclx made into
// one), limited-range grey, progress and stopping, and broken files.
#include "ColorFixtures.h"
#include "PluginLoader.h"
#include "TempDir.h"

#include <array>
#include <cmath>

namespace {

using namespace nolvi2::test;

class HeifPlugin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.Loaded()) << plugin.Error(); }

    // The source (a PNG made by ImageMagick from a PNM) through heif-enc with its options; ""
    // when that fails, as when the encoder for the format is not built in.
    std::string Make(const SpiPicture& source, const std::vector<std::string>& options, const std::string& name,
                     bool alpha = false, bool wide = false)
    {
        const std::string pnm = temp / (alpha ? "source.pam" : "source.ppm"), png = temp / "source.png";
        std::vector<std::string> args = {"heif-enc"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"-o", temp / name, png});
        if (!WritePnm(pnm, source, alpha, wide) || !RunTool({"convert", pnm, "-strip", png}, png) ||
            !RunTool(args, temp / name))
            return {};
        return ReadBytes(temp / name);
    }

    // libheif's own rendering of a file: heif-convert to PNG, then ImageMagick to 8-bit PPM.
    bool Reference(const std::string& name, SpiPicture& out)
    {
        const std::string png = temp / "reference.png", ppm = temp / "reference.ppm";
        return RunTool({"heif-convert", temp / name, png}, png) &&
               RunTool({"convert", png, "-alpha", "off", "-depth", "8", ppm}, ppm) &&
               ReadPpm(ppm, out);
    }

    SpiPlugin plugin{"ifheif"};
    TempDir temp{"nolvi2-heif"};
};

// The tests that make their pictures with libheif's and ImageMagick's tools.
class HeifFiles : public HeifPlugin {
protected:
    void SetUp() override
    {
        HeifPlugin::SetUp();
        for (const char* tool : {"heif-enc", "heif-convert", "convert"})
            if (FindTool(tool).empty())
                GTEST_SKIP() << tool << " is not installed";
    }
};

// Offset of the first box of a type in a file, its size field first (npos when there is none).
std::size_t FindBox(const std::string& file, const char* type)
{
    const std::size_t at = file.find(type);
    return at == std::string::npos || at < 4 ? std::string::npos : at - 4;
}

// HEIC made by x265 (lossless in 4:4:4, or lossy, at sizes that are not multiples of 8 and
// so become a grid of one tile), AVIF by aom, alpha left out, 10 bits reduced to 8.
struct EncodeCase {
    const char* name;
    std::vector<std::string> options;
    int32_t width, height;
    bool alpha, wide;
    bool lossless; // the colour stays within one step of the source (RGB to YCbCr and back)
};

void PrintTo(const EncodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class HeifDecode : public HeifFiles, public ::testing::WithParamInterface<EncodeCase> {};

TEST_P(HeifDecode, MatchesLibheifsConverterAndTheSource)
{
    const EncodeCase& c = GetParam();
    const SpiPicture source = PatternPicture(c.width, c.height);
    const std::string data = Make(source, c.options, "picture.heif", c.alpha, c.wide);
    if (data.empty())
        GTEST_SKIP() << "heif-enc cannot encode " << c.name << " here";
    ASSERT_TRUE(plugin.Supports(data));

    SpiPictureInfo info;
    ASSERT_EQ(plugin.PictureInfo(data, info), SPI_SUCCESS);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.colorDepth, 24);
    ASSERT_EQ(plugin.PictureInfoFile(temp / "picture.heif", 0, info), SPI_SUCCESS);
    EXPECT_EQ(info.width, c.width);

    SpiPicture reference;
    ASSERT_TRUE(Reference("picture.heif", reference));
    const SpiPicture got = DecodeBothWays(plugin, data, temp.Path());
    EXPECT_EQ(got.bits, 24);
    // heif-convert writes 16 bits for 10, which ImageMagick rounds to 8 where libheif may not.
    EXPECT_TRUE(SameRgb(got, reference, c.wide ? 1 : 0));
    if (c.lossless) {
        EXPECT_TRUE(SameRgb(got, source, 1));
    }
}

const std::vector<std::string> kLossless = {"-L", "-p", "chroma=444", "--matrix_coefficients=0"};
const std::vector<std::string> kAvifLossless = {"-A", "-L", "-p", "chroma=444", "--matrix_coefficients=0"};

INSTANTIATE_TEST_SUITE_P(Files, HeifDecode,
                         ::testing::Values(EncodeCase{"HeicLossless", kLossless, 37, 29, false, false, true},
                                           EncodeCase{"HeicLossy", {"-q", "50"}, 64, 48, false, false, false},
                                           EncodeCase{"HeicAlpha10Bit", {"-q", "70", "-b", "10"}, 30, 22, true, true, false},
                                           EncodeCase{"AvifLossless", kAvifLossless, 37, 29, false, false, true},
                                           EncodeCase{"AvifLossyAlpha", {"-A", "-q", "60"}, 40, 30, true, false, false},
                                           EncodeCase{"Avif10Bit422", {"-A", "-q", "70", "-b", "10", "-p", "chroma=422"}, 33, 17, false, true, false}),
                         [](const ::testing::TestParamInfo<EncodeCase>& i) { return std::string(i.param.name); });

TEST_F(HeifPlugin, InfoTexts)
{
    EXPECT_EQ(plugin.Info(0), "00IN");
    EXPECT_NE(plugin.Info(1).find("libheif 1."), std::string::npos) << plugin.Info(1);
    EXPECT_EQ(plugin.Info(2), "*.heic;*.heif");
    EXPECT_EQ(plugin.Info(3), "HEIF 画像ファイル");
    EXPECT_EQ(plugin.Info(4), "*.avif");
    EXPECT_EQ(plugin.Info(5), "AVIF 画像ファイル");
    EXPECT_EQ(plugin.Info(6), "");
    EXPECT_EQ(plugin.Info(-1), "");
}

// An ftyp box of that major brand and compatible brands (its size as given, or as written).
std::string Ftyp(const std::string& major, const std::vector<std::string>& compatible, int size = -1)
{
    const uint32_t n = size >= 0 ? uint32_t(size) : uint32_t(16 + 4 * compatible.size());
    std::string box = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    box += "ftyp" + major + std::string(4, '\0');
    for (const std::string& b : compatible)
        box += b;
    return box + std::string("\0\0\0\x08" "meta", 8);
}

TEST_F(HeifPlugin, IsSupportedByTheBrandsOfTheFtypBox)
{
    const struct {
        std::string header;
        bool supported;
    } cases[] = {
        {Ftyp("heic", {"mif1", "heic"}), true},
        {Ftyp("heix", {}), true},
        {Ftyp("avif", {"avif", "mif1", "miaf"}), true},
        {Ftyp("avis", {"msf1"}), true},
        {Ftyp("mif1", {"heic"}), true},
        {Ftyp("isom", {"mp41", "avif"}), true},  // a compatible brand is enough
        {Ftyp("isom", {"iso2", "mp41"}), false}, // an MP4 video
        {Ftyp("crx ", {"isom"}), false},
        {Ftyp("qt  ", {}), false},
        {Ftyp("heic", {}, 12), false},       // a box too short for its brands
        {Ftyp("mp41", {"heic"}, 16), false}, // the brand lies after the end of the box
        {std::string("\0\0\0\x18" "ftyx" "heic", 12), false},
        {"\xFF\xD8\xFF\xE0", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plugin.Supports(c.header), c.supported) << c.header.substr(4, 8);
}

// The image is rotated and mirrored as the file says: pixi's box (16 bytes, associated with
// the image) becomes an irot or imir property of the same size.
TEST_F(HeifFiles, AppliesTheRotationAndMirroringOfTheFile)
{
    const std::string plain = Make(PatternPicture(37, 29), {"-A", "-q", "90"}, "plain.avif");
    if (plain.empty())
        GTEST_SKIP() << "heif-enc cannot encode AVIF here";
    const std::size_t pixi = FindBox(plain, "pixi");
    ASSERT_NE(pixi, std::string::npos);
    ASSERT_EQ(plain.substr(pixi, 4), std::string("\0\0\0\x10", 4));
    SpiPicture upright;
    ASSERT_EQ(plugin.Decode(plain, upright), SPI_SUCCESS);

    const struct {
        const char* type;
        uint8_t value;
        int32_t width, height;
        // Where the output's pixel (x, y) comes from in the upright picture of w x h.
        std::pair<int, int> (*from)(int x, int y, int w, int h);
    } cases[] = {
        {"irot", 1, 29, 37, [](int x, int y, int w, int) { return std::pair{w - 1 - y, x}; }}, // 90° anticlockwise
        {"irot", 2, 37, 29, [](int x, int y, int w, int h) { return std::pair{w - 1 - x, h - 1 - y}; }},
        {"irot", 3, 29, 37, [](int x, int y, int, int h) { return std::pair{y, h - 1 - x}; }},
        {"imir", 0, 37, 29, nullptr},
        {"imir", 1, 37, 29, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.value));
        std::string data = plain;
        data.replace(pixi + 4, 5, std::string(c.type) + char(c.value));
        ASSERT_TRUE(WriteBytes(temp / "turned.avif", data));
        SpiPicture reference, got;
        ASSERT_TRUE(Reference("turned.avif", reference));
        ASSERT_EQ(plugin.Decode(data, got), SPI_SUCCESS);
        SpiPictureInfo info;
        ASSERT_EQ(plugin.PictureInfo(data, info), SPI_SUCCESS);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        ASSERT_EQ(got.width, c.width);
        ASSERT_EQ(got.height, c.height);
        EXPECT_TRUE(SameRgb(got, reference));
        EXPECT_FALSE(SameRgb(got, upright));
        bool moved = true;
        for (int y = 0; c.from && y < got.height && moved; ++y)
            for (int x = 0; x < got.width && moved; ++x) {
                const auto [ux, uy] = c.from(x, y, upright.width, upright.height);
                moved = std::memcmp(got.Pixel(x, y), upright.Pixel(ux, uy), 3) == 0;
            }
        EXPECT_TRUE(moved);
    }
}

// sRGB's curve from light to a stored value, and H.273's curves from stored value to light.
double SrgbEncode(double l)
{
    l = std::clamp(l, 0.0, 1.0);
    return 255.0 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055);
}
double SrgbDecode(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double Bt709Decode(double v)
{
    return v < 4.5 * 0.018 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45);
}

using Matrix = std::array<double, 9>; // row by row

Matrix Inverse(const Matrix& m)
{
    const double a = m[4] * m[8] - m[5] * m[7], b = m[5] * m[6] - m[3] * m[8], c = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * a + m[1] * b + m[2] * c;
    return {a / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
            b / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
            c / det, (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det};
}

// Linear RGB of primaries (x, y of red, green, blue, then white) to XYZ, white at Y = 1.
Matrix RgbToXyz(const std::array<double, 8>& xy)
{
    Matrix p{}; // the primaries' XYZ at Y = 1, as columns
    for (int i = 0; i < 3; ++i) {
        p[i] = xy[2 * i] / xy[2 * i + 1];
        p[3 + i] = 1;
        p[6 + i] = (1 - xy[2 * i] - xy[2 * i + 1]) / xy[2 * i + 1];
    }
    const double w[3] = {xy[6] / xy[7], 1, (1 - xy[6] - xy[7]) / xy[7]};
    const Matrix inv = Inverse(p);
    Matrix m{};
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            m[3 * r + c] = p[3 * r + c] * (inv[3 * c] * w[0] + inv[3 * c + 1] * w[1] + inv[3 * c + 2] * w[2]);
    return m;
}

// The stored colour rgb converted to sRGB by LittleCMS with the profile handed over.
std::array<int, 3> ThroughProfile(const std::string& profile, std::array<uint8_t, 3> rgb)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = in ? cmsCreateTransform(in, TYPE_RGB_8, out, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0) : nullptr;
    std::array<uint8_t, 3> o{};
    if (t)
        cmsDoTransform(t, rgb.data(), o.data(), 1);
    if (t)
        cmsDeleteTransform(t);
    if (in)
        cmsCloseProfile(in);
    cmsCloseProfile(out);
    return {o[0], o[1], o[2]};
}

// The file with the values of its nclx colour box changed (heif-enc 1.15 writes the box, but
// its encoder for AVIF cannot be given other values).
std::string WithNclx(std::string file, int primaries, int transfer, bool fullRange)
{
    const std::size_t at = file.find("colrnclx");
    EXPECT_NE(at, std::string::npos);
    if (at == std::string::npos)
        return file;
    file.replace(at + 8, 4, {char(primaries >> 8), char(primaries), char(transfer >> 8), char(transfer)});
    file[at + 14] = char(fullRange ? 0x80 : 0);
    return file;
}

// The file's ICC profile goes with the picture byte for byte. An nclx description whose
// primaries or transfer are not sRGB's becomes a profile that converts as H.273 defines them
// (greys by the transfer; display P3 colours by the matrices of the two sets of primaries);
// sRGB's, or unspecified ones, hand over nothing.
TEST_F(HeifFiles, ProfilesFromIccAndNclx)
{
    const std::string icc = temp / "swap.icc", ppm = temp / "source.ppm", png = temp / "profiled.png",
                      heic = temp / "icc.heic";
    WriteBytes(icc, SwapRedBlueProfile());
    ASSERT_TRUE(WritePpm(ppm, PatternPicture(24, 16)));
    ASSERT_TRUE(RunTool({"convert", ppm, "-profile", icc, png}, png));
    ASSERT_TRUE(RunTool({"heif-enc", "-q", "90", "-o", heic, png}, heic));
    SpiPicture p, reference;
    ASSERT_EQ(plugin.Decode(ReadBytes(heic), p), SPI_SUCCESS);
    EXPECT_TRUE(p.profile == ReadBytes(icc)) << "a profile of " << p.profile.size() << " bytes";
    ASSERT_TRUE(Reference("icc.heic", reference));
    EXPECT_TRUE(SameRgb(p, reference)); // the stored pixels

    const std::array<double, 8> srgb = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
    const std::array<double, 8> p3 = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290};
    const Matrix p3ToSrgb = [&] {
        const Matrix a = Inverse(RgbToXyz(srgb)), b = RgbToXyz(p3);
        Matrix m{};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                for (int k = 0; k < 3; ++k)
                    m[3 * r + c] += a[3 * r + k] * b[3 * k + c];
        return m;
    }();
    struct Case {
        int primaries, transfer;
        bool profile;
        double (*decode)(double); // the transfer, for greys; nullptr: not checked
    };
    const Case cases[] = {
        {1, 13, false, nullptr},
        {2, 2, false, nullptr},
        {1, 8, true, [](double v) { return v; }},
        {1, 1, true, Bt709Decode},
        {1, 6, true, Bt709Decode},
        {1, 4, true, [](double v) { return std::pow(v, 2.2); }},
        {1, 5, true, [](double v) { return std::pow(v, 2.8); }},
        {12, 13, true, SrgbDecode},
        {9, 16, true, SrgbDecode}, // PQ is shown with sRGB's curve
    };
    const std::string plain = temp / "plain.png", out = temp / "nclx.avif";
    ASSERT_TRUE(RunTool({"convert", ppm, "-strip", plain}, plain));
    ASSERT_TRUE(RunTool({"heif-enc", "-A", "-q", "90", "-o", out, plain}, out));
    const std::string avif = ReadBytes(out);
    for (const auto& c : cases) {
        SCOPED_TRACE("primaries " + std::to_string(c.primaries) + ", transfer " + std::to_string(c.transfer));
        ASSERT_EQ(plugin.Decode(WithNclx(avif, c.primaries, c.transfer, true), p), SPI_SUCCESS);
        ASSERT_EQ(!p.profile.empty(), c.profile);
        if (!c.decode)
            continue;
        for (const int v : {30, 100, 128, 200}) {
            const auto got = ThroughProfile(p.profile, {uint8_t(v), uint8_t(v), uint8_t(v)});
            const double want = SrgbEncode(c.decode(v / 255.0));
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(got[k], want, 2) << "grey " << v;
        }
        if (c.primaries == 12) {
            const std::array<uint8_t, 3> colour = {230, 120, 40};
            double lin[3];
            for (int k = 0; k < 3; ++k)
                lin[k] = SrgbDecode(colour[k] / 255.0);
            const auto got = ThroughProfile(p.profile, colour);
            for (int r = 0; r < 3; ++r)
                EXPECT_NEAR(got[r], SrgbEncode(p3ToSrgb[3 * r] * lin[0] + p3ToSrgb[3 * r + 1] * lin[1] + p3ToSrgb[3 * r + 2] * lin[2]), 2)
                    << "channel " << r;
        }
    }
}

// A monochrome picture limited to the video range is expanded to the full range, once:
// round((v - 16) * 255 / 219), clamped; one of the full range is left as stored.
TEST_F(HeifFiles, LimitedRangeGreyIsExpanded)
{
    const std::string png = temp / "grey.png", out = temp / "grey.avif";
    ASSERT_TRUE(RunTool({"convert", "-size", "24x16", "gradient:gray2-gray98", "-depth", "8", "-define",
                         "png:color-type=0", png}, png));
    SpiPicture source;
    ASSERT_TRUE(RunTool({"convert", png, temp / "grey.ppm"}, temp / "grey.ppm") && ReadPpm(temp / "grey.ppm", source));
    ASSERT_TRUE(RunTool({"heif-enc", "-A", "-L", "-o", out, png}, out));
    const std::string avif = ReadBytes(out);
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "full range" : "limited range");
        SpiPicture p;
        ASSERT_EQ(plugin.Decode(WithNclx(avif, 2, 2, full), p), SPI_SUCCESS);
        SpiPicture expected = source;
        for (uint8_t& v : expected.rgb)
            if (!full)
                v = uint8_t(std::clamp(std::lround((v - 16) * 255.0 / 219.0), 0L, 255L));
        EXPECT_TRUE(SameRgb(p, expected));
    }
}

TEST_F(HeifFiles, ReportsProgressAndStopsWhenAsked)
{
    for (const char* format : {"heic", "avif"}) {
        SCOPED_TRACE(format);
        const std::string data = Make(PatternPicture(64, 48), {"-q", "50"}, std::string("p.") + format);
        if (data.empty())
            GTEST_SKIP() << "heif-enc cannot encode " << format << " here";
        ExpectProgressAndAbort(plugin, data, 2);
    }
}

TEST_F(HeifFiles, RefusesBrokenAndOversizedFiles)
{
    const std::string data = Make(PatternPicture(64, 48), {"-q", "50"}, "picture.heic");
    ASSERT_FALSE(data.empty());
    ExpectTruncationsFail(plugin, data, 1);

    const std::size_t meta = FindBox(data, "meta"), mdat = FindBox(data, "mdat");
    ASSERT_NE(meta, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    const auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string d = data;
        d.replace(at, bytes.size(), bytes);
        return d;
    };
    const auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    // Every image of the file (the grid and its tile) with that size.
    const auto sized = [&](uint32_t w, uint32_t h) {
        std::string d = data;
        for (std::size_t at = d.find("ispe"); at != std::string::npos; at = d.find("ispe", at + 1))
            d.replace(at + 8, 8, be32(w) + be32(h));
        return d;
    };
    const struct {
        const char* what;
        std::string data;
        int32_t result; // 0: any failure
    } cases[] = {
        {"a PNG", "\x89PNG\r\n\x1a\n" + std::string(100, '\0'), 0},
        {"no meta box", patched(meta + 4, "mexa"), 0},
        {"meta larger than the file", patched(meta, be32(0x7fffffff)), 0},
        {"coded picture zeroed", patched(mdat + 8, std::string(data.size() - mdat - 8, '\0')), 0},
        // More pixels than the program holds, and more than libheif allows on a side.
        {"20000 x 20000", sized(20000, 20000), SPI_BROKEN_DATA},
        {"40000 x 8", sized(40000, 8), SPI_BROKEN_DATA},
        {"0 x 0", sized(0, 0), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiPicture got;
        const int32_t rc = plugin.Decode(c.data, got);
        EXPECT_NE(rc, SPI_SUCCESS);
        if (c.result) {
            EXPECT_EQ(rc, c.result);
        }
    }
}

TEST_F(HeifFiles, SurvivesChangedBytes)
{
    for (const char* format : {"heic", "avif"}) {
        SCOPED_TRACE(format);
        const std::string data = Make(PatternPicture(40, 24), {"-q", "50"}, std::string("p.") + format, true, false);
        if (data.empty())
            GTEST_SKIP() << "heif-enc cannot encode " << format << " here";
        ExpectCorruptionsSurvive(plugin, data);
    }
}

}  // namespace
