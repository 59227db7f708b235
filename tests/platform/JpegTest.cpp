#include "TestData.h"
#include "platform/Exceptions.h"
#include "platform/JPEGImage.h"
#include "platform/Streams.h"

#include "Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <jpeglib.h>
#include <vector>

using namespace nolvi2;
using nolvi2::test::SamePixels;

namespace {

// A smooth 24-bit picture with some detail, so that quality changes the result.
TBitmap Gradient(int32_t w, int32_t h)
{
    TBitmap b(w, h, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 255 / std::max(w - 1, 1));
            p[1] = uint8_t(y * 255 / std::max(h - 1, 1));
            p[2] = uint8_t(128 + 100 * std::sin(x * 0.3) * std::cos(y * 0.2));
        }
    return b;
}

std::vector<uint8_t> Encode(const TBitmap& b, int quality, bool progressive)
{
    TJPEGImage j;
    j.Borrow(b);
    j.SetCompressionQuality(quality);
    j.SetProgressiveEncoding(progressive);
    TMemoryStream s;
    j.SaveToStream(s);
    return {s.Memory(), s.Memory() + s.Size()};
}

TBitmap Decode(const std::vector<uint8_t>& data)
{
    TJPEGImage j;
    j.LoadFromMemory(data.data(), data.size());
    TBitmap out;
    j.TakePicture(out);
    return out;
}

double Psnr(const TBitmap& a, const TBitmap& b)
{
    double se = 0;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (std::size_t i = 0; i < a.RowBytes(); ++i) {
            const double d = double(a.ScanLine(y)[i]) - double(b.ScanLine(y)[i]);
            se += d * d;
        }
    const double mse = se / (double(a.Height()) * double(a.RowBytes()));
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

bool HasMarker(const std::vector<uint8_t>& d, uint8_t marker)
{
    for (std::size_t i = 0; i + 1 < d.size(); ++i)
        if (d[i] == 0xFF && d[i + 1] == marker)
            return true;
    return false;
}


}  // namespace

TEST(Jpeg, RoundTripAtSeveralQualities)
{
    const TBitmap src = Gradient(67, 45);  // not a multiple of the 16-pixel MCU
    double lastPsnr = 0;
    std::size_t lastSize = 0;
    for (const int q : {0, 10, 30, 60, 80, 100}) {
        for (const bool progressive : {false, true}) {
            const auto data = Encode(src, q, progressive);
            EXPECT_EQ(HasMarker(data, 0xC2), progressive) << "q=" << q;  // SOF2: progressive
            EXPECT_EQ(HasMarker(data, 0xC0), !progressive) << "q=" << q;  // SOF0: baseline
            const TBitmap back = Decode(data);
            ASSERT_EQ(back.Width(), 67);
            ASSERT_EQ(back.Height(), 45);
            ASSERT_EQ(back.PixelFormat(), TPixelFormat::pf24bit);
            if (!progressive) {
                const double psnr = Psnr(src, back);
                EXPECT_GE(psnr, lastPsnr) << "q=" << q;
                EXPECT_GT(data.size(), lastSize) << "q=" << q;
                lastPsnr = psnr;
                lastSize = data.size();
            }
        }
    }
    EXPECT_GT(lastPsnr, 40.0);  // quality 100
}

// Progressive and baseline files carry the same coefficients: they decode to the same pixels.
TEST(Jpeg, ProgressiveDecodesLikeBaseline)
{
    const TBitmap src = Gradient(40, 33);
    EXPECT_TRUE(SamePixels(Decode(Encode(src, 75, false)), Decode(Encode(src, 75, true))));
}

TEST(Jpeg, QualityIsClamped)
{
    TJPEGImage j;
    j.SetCompressionQuality(300);
    EXPECT_EQ(j.CompressionQuality(), 100);
    j.SetCompressionQuality(-5);
    EXPECT_EQ(j.CompressionQuality(), 0);
}

TEST(Jpeg, OtherFormatsAreEncodedAs24Bit)
{
    TBitmap src = Gradient(16, 16);
    TBitmap pal;
    pal.Assign(src);
    pal.SetPixelFormat(TPixelFormat::pf8bit);
    TBitmap expected;
    expected.Assign(pal);
    expected.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_TRUE(SamePixels(Decode(Encode(pal, 90, false)), Decode(Encode(expected, 90, false))));
}

TEST(Jpeg, DecodeReportsProgress)
{
    const auto data = Encode(Gradient(20, 300), 50, false);
    TJPEGImage j;
    std::vector<int> stages, percents;
    j.OnProgress = [&](TObject* sender, TProgressStage st, uint8_t pct, bool, const TRect&, const std::string&) {
        EXPECT_EQ(sender, &j);
        stages.push_back(st);
        percents.push_back(pct);
    };
    j.LoadFromMemory(data.data(), data.size());
    ASSERT_GE(stages.size(), 3u);
    EXPECT_EQ(stages.front(), 0);
    EXPECT_EQ(stages.back(), 2);
    EXPECT_EQ(percents.back(), 100);
    for (std::size_t i = 1; i < percents.size(); ++i)
        EXPECT_LT(percents[i - 1], percents[i]);
}

// A file cut in the middle shows what was decoded and grey for the rest.
TEST(Jpeg, TruncatedFileDecodesPartly)
{
    const TBitmap src = Gradient(64, 64);
    auto data = Encode(src, 90, false);
    data.resize(data.size() / 2);
    const TBitmap back = Decode(data);
    ASSERT_EQ(back.Height(), 64);
    const uint8_t* top = back.ScanLine(0);
    EXPECT_NEAR(top[0], src.ScanLine(0)[0], 8);
    const uint8_t* last = back.ScanLine(63) + 3 * 63;
    EXPECT_EQ(last[0], 128);
    EXPECT_EQ(last[1], 128);
    EXPECT_EQ(last[2], 128);
}

// A stream that fails after some bytes, as a file whose disk fails.
class FailingStream : public TMemoryStream {
public:
    explicit FailingStream(int64_t failAt) : FFailAt(failAt) {}
    int64_t Read(void* buffer, int64_t count) override
    {
        if (Position() >= FFailAt)
            throw EReadError("read failed");
        return TMemoryStream::Read(buffer, std::min(count, FFailAt - Position()));
    }

private:
    int64_t FFailAt;
};

// A file is decoded from its stream a block at a time; it must give exactly what libjpeg's
// own memory source gives for the same bytes, at every end and through long segments that
// are skipped across blocks.
TEST(Jpeg, StreamDecodesAsMemory)
{
    const TBitmap src = Gradient(300, 200);
    const auto baseline = Encode(src, 90, false);
    const auto progressive = Encode(src, 90, true);
    // An APP13 segment of 60 000 bytes, five times: libjpeg skips them, over block ends.
    std::vector<uint8_t> skipped(baseline.begin(), baseline.begin() + 2);
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> segment = {0xFF, 0xED, 0xEA, 0x62};  // length 60 002
        segment.resize(60002 + 2, uint8_t(i));
        skipped.insert(skipped.end(), segment.begin(), segment.end());
    }
    skipped.insert(skipped.end(), baseline.begin() + 2, baseline.end());
    const auto cut = [](std::vector<uint8_t> v, std::size_t n) { v.resize(n); return v; };
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {"baseline", baseline},
        {"progressive", progressive},
        {"skipped segments", skipped},
        {"cut in the middle", cut(baseline, baseline.size() / 2)},
        {"cut in a skipped segment", cut(skipped, 200000)},
        {"cut in the header", cut(baseline, 100)},
        {"cut in a progressive scan", cut(progressive, progressive.size() * 2 / 3)},
        {"SOI alone", {0xFF, 0xD8}},
        {"no JPEG", std::vector<uint8_t>(1000, 0xFF)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string memoryError;
        TBitmap fromMemory;
        try {
            fromMemory = Decode(c.data);
        } catch (const EInvalidGraphic& e) {
            memoryError = e.what();
        }
        TMemoryStream stream;
        stream.WriteBuffer(c.data.data(), int64_t(c.data.size()));
        stream.SetPosition(0);
        TJPEGImage j;
        std::string streamError;
        try {
            j.LoadFromStream(stream);
        } catch (const EInvalidGraphic& e) {
            streamError = e.what();
        }
        EXPECT_EQ(streamError, memoryError);
        if (memoryError.empty()) {
            EXPECT_TRUE(SamePixels(j.Picture(), fromMemory));
        }
    }

    // A stream that fails reports its own error, not broken data, wherever it fails.
    for (const int64_t at : {int64_t(0), int64_t(1000), int64_t(baseline.size()) - 10}) {
        SCOPED_TRACE(at);
        FailingStream stream(at);
        stream.WriteBuffer(baseline.data(), int64_t(baseline.size()));
        stream.SetPosition(0);
        TJPEGImage j;
        EXPECT_THROW(j.LoadFromStream(stream), EReadError);
        EXPECT_TRUE(j.Empty());
    }
}

TEST(Jpeg, GarbageAndEmptyInputRaise)
{
    const std::vector<std::vector<uint8_t>> inputs = {
        {},
        {0xFF, 0xD8},
        {'B', 'M', 0, 0, 0, 0},
        std::vector<uint8_t>(1000, 0xFF),
    };
    for (const auto& in : inputs) {
        TJPEGImage j;
        EXPECT_THROW(j.LoadFromMemory(in.data(), in.size()), EInvalidGraphic) << in.size();
        EXPECT_TRUE(j.Empty());
    }
    TJPEGImage empty;
    TMemoryStream out;
    EXPECT_THROW(empty.SaveToStream(out), EInvalidGraphic);
}

// CMYK files (as Adobe writes them, inverted) come out as RGB.
TEST(Jpeg, CmykIsConvertedToRgb)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = 16;
    c.image_height = 8;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    // Left half: no ink (white); right half: full cyan. Inverted storage: 255 means no ink.
    std::vector<uint8_t> row(16 * 4);
    for (int x = 0; x < 16; ++x) {
        uint8_t* p = &row[4 * x];
        p[0] = x < 8 ? 255 : 0;
        p[1] = p[2] = p[3] = 255;
    }
    for (int y = 0; y < 8; ++y) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> data(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);

    const TBitmap back = Decode(data);
    const uint8_t* white = back.ScanLine(4) + 3 * 2;
    const uint8_t* cyan = back.ScanLine(4) + 3 * 13;
    EXPECT_NEAR(white[0], 255, 3);
    EXPECT_NEAR(white[1], 255, 3);
    EXPECT_NEAR(white[2], 255, 3);
    EXPECT_NEAR(cyan[0], 255, 3);  // blue
    EXPECT_NEAR(cyan[1], 255, 3);  // green
    EXPECT_NEAR(cyan[2], 0, 3);    // red
}

// The public test pictures: baseline decodes; arithmetic-coded and 12-bit decode or fail
// cleanly; the corrupt files never crash.
TEST(Jpeg, ConformanceAndCorruptFiles)
{
    NOLVI2_REQUIRE_TESTDATA();
    namespace fs = std::filesystem;
    const fs::path lj = nolvi2::test::TestDataDir() / "libjpeg-turbo-testimages";
    for (const char* name : {"testorig.jpg", "testimgint.jpg"}) {
        TJPEGImage j;
        j.LoadFromFile((lj / name).string());
        EXPECT_EQ(j.Width(), 227) << name;
        EXPECT_EQ(j.Height(), 149) << name;
    }
    for (const char* name : {"testimgari.jpg", "monkey12.jpg"}) {
        TJPEGImage j;
        try {
            j.LoadFromFile((lj / name).string());
            EXPECT_FALSE(j.Empty()) << name;
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find("JPEG"), std::string::npos) << e.what();
        }
    }

    // Files that must be refused, by name; the rest may decode partly.
    const std::set<std::string> refused = {"empty.jpg", "missing-frame-image-1410.jpg", "missing-sof.jpg",
                                           "invalid-dimensions.jpg", "null_height.jpg", "max_size.jpg",
                                           "derive-huffman-codes-overflow.jpg", "oss-fuzz-36829.jpeg"};
    int seen = 0;
    std::vector<fs::path> corrupt;
    for (const auto& e : fs::directory_iterator(nolvi2::test::TestDataDir() / "crashers-corrupt" / "jpeg"))
        corrupt.push_back(e.path());
    const fs::path regressions = fs::path(NOLVI2_SOURCE_DIR) / "tests" / "platform" / "jpeg-regressions";
    ASSERT_TRUE(fs::is_directory(regressions)) << regressions;
    for (const auto& e : fs::directory_iterator(regressions))
        corrupt.push_back(e.path());
    for (const fs::path& p : corrupt) {
        const std::string ext = p.extension().string();
        if (ext != ".jpg" && ext != ".jpeg" && ext != ".bin")
            continue;
        ++seen;
        TJPEGImage j;
        try {
            j.LoadFromFile(p.string());
            EXPECT_FALSE(refused.count(p.filename().string())) << p << " decoded";
        } catch (const Exception&) {
            EXPECT_TRUE(j.Empty()) << p;
        }
    }
    EXPECT_GE(seen, 11);
}
