// The PNG codec against libpng on the same pictures in one run: decoding (both from the same
// file in memory, made by libpng with its defaults) and encoding (filter none at the default
// level against libpng with the same settings; the adaptive choice against libpng's default
// filtering). Prints seconds and the ratio ours / libpng; the best of a few runs counts.
//
//   bench_png [runs]        (default 2)

#include "SyntheticPicture.h"
#include "platform/Streams.h"
#include "png/VelPNG.h"

#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace nolvi2;

namespace {

using Bytes = std::vector<uint8_t>;

double Seconds(const std::function<void()>& work, int runs)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

struct MemoryReader {
    const Bytes* data;
    std::size_t pos;
};

extern "C" void ReadMemory(png_structp png, png_bytep out, png_size_t n)
{
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (n > r->data->size() - r->pos)
        png_error(png, "end of data");
    std::memcpy(out, r->data->data() + r->pos, n);
    r->pos += n;
}

extern "C" void WriteMemory(png_structp png, png_bytep in, png_size_t n)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), in, in + n);
}

extern "C" void FlushMemory(png_structp) {}

// A picture for libpng: rows of samples as the file holds them.
struct Raw {
    int width = 0, height = 0, colorType = PNG_COLOR_TYPE_RGB, depth = 8;
    std::vector<png_color> palette;
    std::vector<Bytes> rows;
};

// libpng's reading of a whole picture: 8-bit BGR for truecolour (16-bit samples to their
// high byte), indices for palette pictures, as our decoder gives them.
bool LibpngDecode(const Bytes& file, Bytes& pixels)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&file, 0};
    bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_set_read_fn(png, &reader, ReadMemory);
        png_read_info(png, info);
        png_set_strip_16(png);
        png_set_bgr(png);
        png_read_update_info(png, info);
        const std::size_t rowBytes = png_get_rowbytes(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        // A fresh picture each time, as our decoder makes one.
        Bytes fresh(rowBytes * height);
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, fresh.data() + y * rowBytes, nullptr);
        pixels.swap(fresh);
        png_read_end(png, nullptr);
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

// filters: PNG_FILTER_NONE or PNG_ALL_FILTERS (libpng's default for these pictures).
bool LibpngEncode(const Raw& raw, int filters, Bytes& out)
{
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_set_write_fn(png, &out, WriteMemory, FlushMemory);
        png_set_IHDR(png, info, png_uint_32(raw.width), png_uint_32(raw.height), raw.depth, raw.colorType,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!raw.palette.empty())
            png_set_PLTE(png, info, raw.palette.data(), int(raw.palette.size()));
        png_set_filter(png, 0, filters);
        png_set_compression_level(png, 6);
        png_write_info(png, info);
        for (const Bytes& row : raw.rows)
            png_write_row(png, row.data());
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return ok;
}

Raw RawOf(const TBitmap& b)
{
    Raw raw;
    raw.width = b.Width();
    raw.height = b.Height();
    if (b.PixelFormat() == TPixelFormat::pf8bit) {
        raw.colorType = PNG_COLOR_TYPE_PALETTE;
        for (const TRGBQuad& e : b.Palette())
            raw.palette.push_back(png_color{e.rgbRed, e.rgbGreen, e.rgbBlue});
    }
    for (int32_t y = 0; y < b.Height(); ++y) {
        const uint8_t* s = b.ScanLine(y);
        if (raw.colorType == PNG_COLOR_TYPE_PALETTE) {
            raw.rows.emplace_back(s, s + b.Width());
            continue;
        }
        Bytes row(std::size_t(b.Width()) * 3);
        for (int32_t x = 0; x < b.Width(); ++x) {
            row[3 * x] = s[3 * x + 2];
            row[3 * x + 1] = s[3 * x + 1];
            row[3 * x + 2] = s[3 * x];
        }
        raw.rows.push_back(std::move(row));
    }
    return raw;
}

// 16-bit samples: the picture's byte as the high byte, a varying low byte.
Raw Raw16Of(const TBitmap& b)
{
    Raw raw = RawOf(b);
    raw.depth = 16;
    uint32_t state = 12345;
    for (Bytes& row : raw.rows) {
        Bytes wide(row.size() * 2);
        for (std::size_t i = 0; i < row.size(); ++i) {
            state = state * 1103515245u + 12345u;
            wide[2 * i] = row[i];
            wide[2 * i + 1] = uint8_t(state >> 24);
        }
        row = std::move(wide);
    }
    return raw;
}

Bytes OurEncode(const TBitmap& picture, uint8_t filter)
{
    TVelPNG png;
    png.Borrow(picture);
    png.FilterType = filter;
    TMemoryStream s;
    png.SaveToStream(s);
    return Bytes(s.Memory(), s.Memory() + s.Size());
}

void OurDecode(const Bytes& file, TBitmap& out)
{
    TMemoryStream s;
    s.WriteBuffer(file.data(), int64_t(file.size()));
    s.SetPosition(0);
    TVelPNG png;
    png.LoadFromStream(s);
    png.TakePicture(out);
}

void Row(const char* what, double ours, double libpng, double target)
{
    std::printf("%-34s %8.3f s %8.3f s %7.3f   %s %.2f\n", what, ours, libpng, ours / libpng,
                ours / libpng <= target ? "within" : "ABOVE", target);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    const TBitmap& photo = bench::LargePicture();
    TBitmap palette;
    palette.Assign(bench::SyntheticPicture(3000, 2000, 2));
    palette.SetPixelFormat(TPixelFormat::pf8bit);
    const TBitmap rgb16source = bench::SyntheticPicture(3000, 2000, 3);

    struct Case {
        const char* name;
        Raw raw;
    };
    Case cases[] = {{"RGB photo 6000x4000", RawOf(photo)},
                    {"8-bit palette 3000x2000", RawOf(palette)},
                    {"16-bit RGB 3000x2000", Raw16Of(rgb16source)}};

    std::printf("%-34s %10s %10s %7s   target\n", "", "ours", "libpng", "ratio");
    for (Case& c : cases) {
        Bytes file;
        if (!LibpngEncode(c.raw, PNG_ALL_FILTERS, file)) {
            std::fprintf(stderr, "libpng could not write %s\n", c.name);
            return 1;
        }
        TBitmap decoded;
        Bytes reference;
        const double ours = Seconds([&] { OurDecode(file, decoded); }, runs);
        const double theirs = Seconds([&] { LibpngDecode(file, reference); }, runs);
        // Both must give the same pixels.
        const std::size_t rowBytes = decoded.RowBytes();
        for (int32_t y = 0; y < decoded.Height(); ++y)
            if (std::memcmp(decoded.ScanLine(y), reference.data() + std::size_t(y) * rowBytes, rowBytes) != 0) {
                std::fprintf(stderr, "%s: the decoders disagree at row %d\n", c.name, y);
                return 1;
            }
        Row((std::string("decode ") + c.name).c_str(), ours, theirs, 1.15);

        const Raw raw8 = c.raw.depth == 16 ? RawOf(decoded) : c.raw;
        Bytes a, b;
        const double noneOurs = Seconds([&] { a = OurEncode(decoded, 1); }, 1);
        const double noneTheirs = Seconds([&] { LibpngEncode(raw8, PNG_FILTER_NONE, b); }, 1);
        Row((std::string("encode none ") + c.name).c_str(), noneOurs, noneTheirs, 1.15);
        const double adaptiveOurs = Seconds([&] { a = OurEncode(decoded, 0); }, 1);
        const double adaptiveTheirs = Seconds([&] { LibpngEncode(raw8, PNG_ALL_FILTERS, b); }, 1);
        Row((std::string("encode adaptive ") + c.name).c_str(), adaptiveOurs, adaptiveTheirs, 1.5);
        std::printf("%-34s %8zu B   %8zu B\n", "  adaptive file size", a.size(), b.size());
    }
    return 0;
}
