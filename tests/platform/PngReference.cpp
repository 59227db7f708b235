#include "PngReference.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <memory>
#include <stdexcept>

namespace nolvi2::test {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct MemorySource {
    const uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

extern "C" void ReadFromMemory(png_structp png, png_bytep out, png_size_t count)
{
    auto* src = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (count > src->size - src->pos)
        png_error(png, "read past the end");
    std::memcpy(out, src->data + src->pos, count);
    src->pos += count;
}

// libpng reports errors with longjmp, so this frame holds nothing that has a destructor.
bool ReadRows(png_structp png, png_infop info, std::FILE* file, MemorySource* memory, TSixteenBits sixteen,
              TRgbaPicture* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    if (file)
        png_init_io(png, file);
    else
        png_set_read_fn(png, memory, ReadFromMemory);
    png_read_info(png, info);
    const png_byte colorType = png_get_color_type(png, info);
    out->ColorType = colorType;
    out->BitDepth = png_get_bit_depth(png, info);
    out->Interlace = png_get_interlace_type(png, info);
    png_set_expand(png);
    if (sixteen == TSixteenBits::Scale)
        png_set_scale_16(png);
    else
        png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->Width = int32_t(png_get_image_width(png, info));
    out->Height = int32_t(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != std::size_t(out->Width) * 4)
        return false;
    out->Pixels.assign(std::size_t(out->Width) * out->Height * 4, 0);
    for (int pass = 0; pass < passes; ++pass)
        for (int32_t y = 0; y < out->Height; ++y)
            png_read_row(png, out->Pixels.data() + std::size_t(y) * out->Width * 4, nullptr);
    png_read_end(png, nullptr);
    return true;
}

TRgbaPicture Read(std::FILE* file, MemorySource* memory, TSixteenBits sixteen, const std::string& name)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    TRgbaPicture picture;
    const bool ok = info && ReadRows(png, info, file, memory, sixteen, &picture);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok)
        throw std::runtime_error("cannot read PNG " + name);
    return picture;
}

bool ReadSamples(png_structp png, png_infop info, MemorySource* memory, TPngSamples* out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, memory, ReadFromMemory);
    png_read_info(png, info);
    out->Width = int32_t(png_get_image_width(png, info));
    out->Height = int32_t(png_get_image_height(png, info));
    out->BitDepth = png_get_bit_depth(png, info);
    out->ColorType = png_get_color_type(png, info);
    out->Channels = png_get_channels(png, info);
    out->Interlace = png_get_interlace_type(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->RowBytes = png_get_rowbytes(png, info);
    out->Rows.assign(out->RowBytes * std::size_t(out->Height), 0);
    for (int pass = 0; pass < passes; ++pass)
        for (int32_t y = 0; y < out->Height; ++y)
            png_read_row(png, out->Rows.data() + std::size_t(y) * out->RowBytes, nullptr);
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

TPngSamples ReadPngSamples(const uint8_t* data, std::size_t size)
{
    MemorySource memory{data, size, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    TPngSamples samples;
    const bool ok = info && ReadSamples(png, info, &memory, &samples);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok)
        throw std::runtime_error("cannot read PNG from memory");
    return samples;
}

TRgbaPicture ReadPngRgba(const std::filesystem::path& path, TSixteenBits sixteen)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw std::runtime_error("cannot open " + path.string());
    return Read(file.get(), nullptr, sixteen, path.string());
}

TRgbaPicture ReadPngRgba(const uint8_t* data, std::size_t size, TSixteenBits sixteen)
{
    MemorySource memory{data, size, 0};
    return Read(nullptr, &memory, sixteen, "from memory");
}

}  // namespace nolvi2::test
