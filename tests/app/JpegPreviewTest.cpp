#include "TempDir.h"
#include "app/JpegPreview.h"
#include "app/OpenPicture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

namespace nolvi2 {
namespace {

// A picture with edges and gradients, so that every quality loses something different.
TBitmap Pattern(int32_t w, int32_t h)
{
    TBitmap b(w, h, TPixelFormat::pf24bit);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 7);
            p[1] = uint8_t((x / 4 + y / 4) % 2 ? 230 : 20);
            p[2] = uint8_t(y * 11);
        }
    return b;
}

// The file decoded by libjpeg into BGR rows.
std::vector<uint8_t> DecodeByLibjpeg(const std::vector<uint8_t>& data, int& w, int& h)
{
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    w = int(d.output_width);
    h = int(d.output_height);
    std::vector<uint8_t> rows(std::size_t(w) * 3 * std::size_t(h));
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = rows.data() + std::size_t(d.output_scanline) * 3 * std::size_t(w);
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return rows;
}

// The preview is what saving at that quality writes, as an independent decoder reads it back.
TEST(JpegPreview, IsTheSavedFileAsLibjpegDecodesIt)
{
    test::TempDir dir("nolvi2-preview");
    const TBitmap picture = Pattern(37, 23);
    for (const int quality : {10, 80, 100})
        for (const bool progressive : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "quality " << quality << (progressive ? " progressive" : ""));
            TBitmap preview;
            const int32_t size = RenderJpegPreview(picture, quality, progressive, preview);
            const std::string name = (dir.Path() / "saved.jpg").string();
            SavePicture(name, picture, TSaveFormat::Jpeg, TJpegSettings{quality, progressive});
            std::ifstream in(name, std::ios::binary);
            const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), {}};
            EXPECT_EQ(size, int32_t(data.size()));
            int w = 0, h = 0;
            const std::vector<uint8_t> decoded = DecodeByLibjpeg(data, w, h);
            ASSERT_EQ(preview.Width(), w);
            ASSERT_EQ(preview.Height(), h);
            ASSERT_EQ(preview.PixelFormat(), TPixelFormat::pf24bit);
            for (int y = 0; y < h; ++y)
                ASSERT_EQ(0, std::memcmp(preview.ScanLine(y), decoded.data() + std::size_t(y) * 3 * std::size_t(w),
                                         std::size_t(w) * 3))
                    << "row " << y;
        }
}

TEST(JpegPreview, LowerQualityIsSmallerAndAnEmptyPictureGivesNothing)
{
    const TBitmap picture = Pattern(64, 64);
    TBitmap preview;
    EXPECT_LT(RenderJpegPreview(picture, 10, true, preview), RenderJpegPreview(picture, 80, true, preview));
    TBitmap untouched(3, 2, TPixelFormat::pf24bit);
    EXPECT_EQ(RenderJpegPreview(TBitmap(), 80, true, untouched), 0);
    EXPECT_EQ(untouched.Width(), 3);
}

}  // namespace
}  // namespace nolvi2
