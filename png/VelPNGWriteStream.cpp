#include "VelPNGWriteStream.h"

#include "VelPNG.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <zlib.h>

namespace nolvi2 {

namespace {

constexpr uint8_t kGrey = 0, kTruecolour = 2, kPalette = 3, kGreyAlpha = 4, kTruecolourAlpha = 6;
constexpr int32_t kPaletteReference = 0x01000000;

uint8_t GreyOf(int r, int g, int b) { return uint8_t((r * 77 + g * 150 + b * 29) >> 8); }

void PutWord(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutLong(std::vector<uint8_t>& out, uint32_t v)
{
    PutWord(out, v >> 16);
    PutWord(out, v & 0xFFFF);
}

// trunc(v) as an unsigned 32-bit field: values beyond it are cut to its largest, and NaN or
// negative values give 0.
uint32_t TruncToField(long double v)
{
    if (!(v > 0))
        return 0;
    return v >= 4294967295.0L ? 0xFFFFFFFFu : uint32_t(std::trunc(v));
}

// 5-bit and 6-bit channels widened to 8 bits.
inline uint8_t Widen5(unsigned v) { return uint8_t(v << 3 | v >> 2); }
inline uint8_t Widen6(unsigned v) { return uint8_t(v << 2 | v >> 4); }

// Gathers the pixels of one Adam7 pass out of a full row.
void GatherPass(const uint8_t* row, uint8_t* out, int bits, int32_t first, int32_t step, int32_t count)
{
    if (bits >= 8) {
        const std::size_t bytes = std::size_t(bits / 8);
        for (int32_t i = 0, x = first; i < count; ++i, x += step)
            std::memcpy(out + std::size_t(i) * bytes, row + std::size_t(x) * bytes, bytes);
        return;
    }
    std::memset(out, 0, (std::size_t(count) * std::size_t(bits) + 7) / 8);
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int32_t i = 0, x = first; i < count; ++i, x += step) {
        const unsigned v = (row[x / perByte] >> (8 - bits * (x % perByte + 1))) & mask;
        out[i / perByte] = uint8_t(out[i / perByte] | v << (8 - bits * (i % perByte + 1)));
    }
}

// The adaptive filter's score of one filtered row (filter byte included); higher is better.
struct TRowScore {
    bool ideal;
    long double value;
};

TRowScore ScoreRow(const uint8_t* row, std::size_t length, bool lowDepth)
{
    // Four tables counted side by side, so that runs of one value do not wait on each other's
    // increments; they are added up afterwards.
    uint32_t counts[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        ++counts[0][row[i]];
        ++counts[1][row[i + 1]];
        ++counts[2][row[i + 2]];
        ++counts[3][row[i + 3]];
    }
    for (; i < length; ++i)
        ++counts[0][row[i]];
    uint32_t distinct = 0, c1 = 0, c2 = 0, c3 = 0;
    for (std::size_t v = 0; v < 256; ++v) {
        const uint32_t c = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
        if (c == 0)
            continue;
        ++distinct;
        if (c > c1) {
            c3 = c2, c2 = c1, c1 = c;
        } else if (c > c2) {
            c3 = c2, c2 = c;
        } else if (c > c3) {
            c3 = c;
        }
    }
    if (distinct <= 8 || uint64_t(c1) * 10 >= uint64_t(length) * 9)
        return {true, 0};
    const long double L = length, D = distinct;
    const long double value = lowDepth ? std::trunc((L / 1.5L) / D * 1500 + (c1 + c2) / L * 1000)
                                       : std::trunc((L / 1.5L) / D * 1000 + (c1 + c2 + c3) / L * 1000);
    return {false, value};
}

}  // namespace

struct TVelPNGWriteStream::Deflater {
    z_stream stream{};
    bool open = false;
    std::vector<uint8_t> output;

    Deflater(int level, int32_t idatSize) : output(std::size_t(idatSize))
    {
        if (level < 0 || level > 9)
            level = Z_DEFAULT_COMPRESSION;
        if (deflateInit(&stream, level) != Z_OK)
            throw EVelPNG("Write Image (PNG): Write Error");
        open = true;
        stream.next_out = output.data();
        stream.avail_out = uInt(output.size());
    }
    ~Deflater()
    {
        if (open) {
            deflateReset(&stream);
            deflateEnd(&stream);
        }
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

void TVelPNGWriteStream::SetIDATSize(int32_t size)
{
    if (size < 256 || size > 100000)
        throw EVelPNG("Write PNG Param: Err IDAT Size(min:256  max:100000)");
    FIDATSize = size;
}

void TVelPNGWriteStream::WriteChunk(uint32_t type, const uint8_t* data, std::size_t length)
{
    const uint8_t name[4] = {uint8_t(type >> 24), uint8_t(type >> 16), uint8_t(type >> 8), uint8_t(type)};
    uLong crc = crc32(0, name, 4);
    if (length)
        crc = crc32(crc, data, uInt(length));
    WriteLong(uint32_t(length));
    WriteBytes(name, 4);
    if (length)
        WriteBytes(data, int64_t(length));
    WriteLong(uint32_t(crc));
}

void TVelPNGWriteStream::WriteText(const std::string& keyword, const std::string& text)
{
    if (text.empty() || keyword.size() >= 80)
        return;
    std::vector<uint8_t> data(keyword.begin(), keyword.end());
    data.push_back(0);
    data.insert(data.end(), text.begin(), text.end());
    WriteChunk(ChunkType("tEXt"), data.data(), data.size());
}

void TVelPNGWriteStream::Encode()
{
    const TBitmap& source = Source();
    if (source.Empty())
        throw EVelPNG("Write Image (PNG): Write Error");
    FSourceBits = PixelFormatToBits(source.PixelFormat());
    FScoreBits = FSourceBits == 15 || FSourceBits == 16 ? 24 : FSourceBits;
    FUseMask = Mask && Mask != &source && !Mask->Empty() && Mask->Width() == source.Width() &&
               Mask->Height() == source.Height() && Mask->PixelFormat() == TPixelFormat::pf8bit;
    const bool indexed = FSourceBits <= 8;
    if (indexed && !Grayscale) {
        FColorType = kPalette;
        FDepth = uint8_t(FSourceBits);
    } else if (indexed) {
        FColorType = FSourceBits == 8 && FUseMask ? kGreyAlpha : kGrey;
        FDepth = uint8_t(FSourceBits);
    } else {
        FColorType = Grayscale ? (FUseMask ? kGreyAlpha : kGrey) : (FUseMask ? kTruecolourAlpha : kTruecolour);
        FDepth = 8;
    }
    static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    FPNGBits = FDepth * kChannels[FColorType];

    BeginProgress();
    StartSection(10, 30);
    if (WriteSignature)
        WriteBytes(kPNGSignature, 8);
    std::vector<uint8_t> ihdr;
    PutLong(ihdr, uint32_t(source.Width()));
    PutLong(ihdr, uint32_t(source.Height()));
    // The header names the row order actually written: Adam7 for 1, none for anything else.
    ihdr.insert(ihdr.end(), {FDepth, FColorType, 0, 0, uint8_t(Interlace == 1 ? 1 : 0)});
    WriteChunk(ChunkType("IHDR"), ihdr.data(), ihdr.size());
    WriteMetadata();
    StepProgress(10);
    if (!Stopped())
        WriteImageData();
    if (!Stopped()) {
        WriteChunk(ChunkType("IEND"), nullptr, 0);
        EndProgress();
    }
}

void TVelPNGWriteStream::WriteMetadata()
{
    const TBitmap& source = Source();
    const bool keyed = !Key.empty() && OnWriteRowData;
    const bool alpha = FColorType == kGreyAlpha || FColorType == kTruecolourAlpha;

    const TPNGTime now = CurrentPNGTime();
    const TPNGTime* time = WriteTime ? &now : LastModified;
    if (time && time->Year > 0 && time->Month >= 1 && time->Month <= 12 && time->Day >= 1 && time->Day <= 31 &&
        time->Hour < 24 && time->Minute < 60 && time->Second < 61) {
        const uint8_t data[7] = {uint8_t(time->Year >> 8), uint8_t(time->Year), time->Month, time->Day,
                                 time->Hour, time->Minute, time->Second};
        WriteChunk(ChunkType("tIME"), data, 7);
    }
    WriteText("Comment", Comment);
    WriteText("Software", "VelPNG ver 3.4");
    const uint8_t tpng[8] = {'V', 'e', 'l', '3', uint8_t(keyed ? 1 : 0), 0, 0, 0};
    WriteChunk(ChunkType("tpNG"), tpng, 8);
    if (GIFExtension && std::any_of(GIFExtension->begin(), GIFExtension->end(), [](uint8_t b) { return b != 0; }))
        WriteChunk(ChunkType("gIFg"), GIFExtension->data(), 4);
    if (const uint32_t gamma = TruncToField(Gamma * 100000); gamma > 0) {
        std::vector<uint8_t> data;
        PutLong(data, gamma);
        WriteChunk(ChunkType("gAMA"), data.data(), data.size());
    }
    if (Chromaticities && (*Chromaticities)[0] != 0 && (*Chromaticities)[1] != 0) {
        std::vector<uint8_t> data;
        for (uint32_t v : *Chromaticities)
            PutLong(data, v);
        WriteChunk(ChunkType("cHRM"), data.data(), data.size());
    }
    uint32_t sbit = SignificantBits;
    if (FSourceBits == 15)
        sbit = 0x050505 | (FUseMask ? 0x08000000u : 0);
    else if (FSourceBits == 16)
        sbit = 0x050605 | (FUseMask ? 0x08000000u : 0);
    if (sbit > 0 && !Grayscale) {
        uint8_t data[4] = {uint8_t(sbit), uint8_t(sbit >> 8), uint8_t(sbit >> 16), uint8_t(sbit >> 24)};
        WriteChunk(ChunkType("sBIT"), data, alpha ? 4 : 3);
    }
    if (FColorType == kPalette && !source.Palette().empty()) {
        // A PNG palette holds at most 2^depth entries.
        const std::size_t count = std::min<std::size_t>(source.Palette().size(), std::size_t(1) << FDepth);
        std::vector<uint8_t> data;
        for (std::size_t i = 0; i < count; ++i) {
            const TRGBQuad& e = source.Palette()[i];
            data.insert(data.end(), {e.rgbRed, e.rgbGreen, e.rgbBlue});
        }
        WriteChunk(ChunkType("PLTE"), data.data(), data.size());
    }
    WriteColorChunk(ChunkType("bKGD"), BackgroundColor);
    if (!alpha)
        WriteColorChunk(ChunkType("tRNS"), TransparentColor);
    if (PixelsPerUnitX >= 1 && PixelsPerUnitY >= 1) {
        uint32_t x = PixelsPerUnitX, y = PixelsPerUnitY;
        uint8_t unit = PixelUnit == 1 ? 1 : 0;
        if (PixelUnit == 2) {
            x = TruncToField(x * 100.0L / 254 * 100);
            y = TruncToField(y * 100.0L / 254 * 100);
            unit = 1;
        }
        std::vector<uint8_t> data;
        PutLong(data, x);
        PutLong(data, y);
        data.push_back(unit);
        WriteChunk(ChunkType("pHYs"), data.data(), data.size());
    }
}

void TVelPNGWriteStream::WriteColorChunk(uint32_t type, int32_t color)
{
    if (color == -1)
        return;
    const TPalette& palette = Source().Palette();
    const bool reference = color >= kPaletteReference;
    std::vector<uint8_t> data;
    if (FColorType == kPalette) {
        const int index = reference ? color & 0xFF : NearestPaletteIndex(palette, color);
        if (index < 0)
            return;
        if (type == ChunkType("bKGD")) {
            data.push_back(uint8_t(index));
        } else {
            data.assign(std::size_t(index) + 1, 255);
            data.back() = 0;
        }
    } else {
        if (reference) {
            color = PaletteEntryColor(palette, color & 0xFF);
            if (color < 0)
                return;
        }
        const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
        if (FColorType == kTruecolour || FColorType == kTruecolourAlpha) {
            PutWord(data, uint32_t(r));
            PutWord(data, uint32_t(g));
            PutWord(data, uint32_t(b));
        } else {
            int grey = GreyOf(r, g, b);
            if (FDepth == 1)
                grey = grey >= 128 ? 1 : 0;
            else if (FDepth == 4)
                grey >>= 4;
            PutWord(data, uint32_t(grey));
        }
    }
    WriteChunk(type, data.data(), data.size());
}

void TVelPNGWriteStream::ConvertRow(int32_t y, uint8_t* out)
{
    const TBitmap& source = Source();
    const int32_t width = source.Width();
    const uint8_t* src = source.ScanLine(y);
    const uint8_t* mask = FUseMask ? Mask->ScanLine(y) : nullptr;
    if (FColorType == kPalette) {
        std::memcpy(out, src, source.RowBytes());
        return;
    }
    if (FSourceBits <= 8) {
        if (FSourceBits == 1) {
            for (std::size_t i = 0; i < source.RowBytes(); ++i)
                out[i] = uint8_t(src[i] ^ FGreyTable[0]);
        } else if (FSourceBits == 4) {
            for (std::size_t i = 0; i < source.RowBytes(); ++i)
                out[i] = uint8_t(FGreyTable[src[i] >> 4] << 4 | FGreyTable[src[i] & 15]);
        } else if (mask) {
            for (int32_t x = 0; x < width; ++x) {
                out[2 * x] = FGreyTable[src[x]];
                out[2 * x + 1] = uint8_t(255 - mask[x]);
            }
        } else {
            for (int32_t x = 0; x < width; ++x)
                out[x] = FGreyTable[src[x]];
        }
        return;
    }
    const bool grey = FColorType == kGrey || FColorType == kGreyAlpha;
    if (FSourceBits >= 24 && !grey && !mask) {
        const std::size_t step = FSourceBits == 32 ? 4 : 3;
        for (int32_t x = 0; x < width; ++x, src += step, out += 3) {
            out[0] = src[2];
            out[1] = src[1];
            out[2] = src[0];
        }
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        uint8_t r, g, b;
        if (FSourceBits == 15 || FSourceBits == 16) {
            const unsigned v = unsigned(src[2 * x]) | unsigned(src[2 * x + 1]) << 8;
            b = Widen5(v & 31);
            if (FSourceBits == 16) {
                g = Widen6((v >> 5) & 63);
                r = Widen5(v >> 11);
            } else {
                g = Widen5((v >> 5) & 31);
                r = Widen5((v >> 10) & 31);
            }
        } else {
            const uint8_t* p = src + std::size_t(x) * (FSourceBits == 32 ? 4 : 3);
            b = p[0], g = p[1], r = p[2];
        }
        if (grey) {
            *out++ = GreyOf(r, g, b);
        } else {
            *out++ = r;
            *out++ = g;
            *out++ = b;
        }
        if (mask)
            *out++ = uint8_t(255 - mask[x]);
    }
}

uint8_t TVelPNGWriteStream::ChooseFilter(const uint8_t* row, const uint8_t* prev, std::size_t length,
                                         std::size_t bpp)
{
    if (FilterType >= 1 && FilterType <= 5) {
        const auto filter = uint8_t(FilterType - 1);
        if (filter == pfNone)
            return pfNone;
        FFiltered[filter][0] = filter;
        ApplyFilter(filter, row, prev, FFiltered[filter].data() + 1, length, bpp);
        return filter;
    }
    // The adaptive choice goes by the source's depth, not the written one: 4-bit sources are
    // never filtered, and 1- and 8-bit sources favour unfiltered rows (even written as grey
    // with alpha), while a truecolour source written as grey does not.
    if (FilterType != 0 || FScoreBits == 4)
        return pfNone;
    const bool lowDepth = FPNGBits < 8;
    int best = -1;
    long double bestScore = 0;
    for (uint8_t filter = pfNone; filter <= pfPaeth; ++filter) {
        uint8_t* out = FFiltered[filter].data();
        out[0] = filter;
        ApplyFilter(filter, row, prev, out + 1, length, bpp);
        TRowScore score = ScoreRow(out, length + 1, lowDepth);
        if (score.ideal)
            return filter;
        if (filter == pfNone && (FScoreBits == 1 || FScoreBits == 8))
            score.value *= 2;
        if (best < 0 || score.value > bestScore) {
            best = filter;
            bestScore = score.value;
        }
    }
    return uint8_t(best);
}

void TVelPNGWriteStream::DeflateRow(Deflater& z, const uint8_t* data, std::size_t length, bool finish)
{
    z_stream& s = z.stream;
    s.next_in = const_cast<uint8_t*>(data);
    s.avail_in = uInt(length);
    while (true) {
        const int ret = deflate(&s, finish ? Z_FINISH : Z_NO_FLUSH);
        if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR)
            throw EVelPNG("Write Image (PNG): Write Error");
        if (s.avail_out == 0) {
            WriteChunk(ChunkType("IDAT"), z.output.data(), z.output.size());
            s.next_out = z.output.data();
            s.avail_out = uInt(z.output.size());
            continue;
        }
        if (finish ? ret == Z_STREAM_END : s.avail_in == 0)
            break;
        if (ret == Z_BUF_ERROR)
            throw EVelPNG("Write Image (PNG): Write Error");
    }
    if (finish && s.avail_out < z.output.size())
        WriteChunk(ChunkType("IDAT"), z.output.data(), z.output.size() - s.avail_out);
}

void TVelPNGWriteStream::WriteImageData()
{
    const TBitmap& source = Source();
    const int32_t width = source.Width(), height = source.Height();
    const TPalette& palette = source.Palette();
    auto paletteGrey = [&](std::size_t i) {
        return i < palette.size() ? GreyOf(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue) : 0;
    };
    if (FSourceBits == 8)
        for (std::size_t i = 0; i < 256; ++i)
            FGreyTable[i] = paletteGrey(i);
    else if (FSourceBits == 4)
        for (std::size_t i = 0; i < 16; ++i)
            FGreyTable[i] = uint8_t(paletteGrey(i) >> 4);
    else if (FSourceBits == 1)
        FGreyTable[0] = paletteGrey(1) < paletteGrey(0) ? 0xFF : 0x00;

    Deflater z(CompressionLevel, FIDATSize);
    const std::size_t fullBytes = (std::size_t(width) * std::size_t(FPNGBits) + 7) / 8;
    std::vector<uint8_t> full(fullBytes + 8);
    std::vector<uint8_t> rowA(fullBytes + 8), rowB(fullBytes + 8);
    uint8_t* row = rowA.data();
    uint8_t* prev = rowB.data();
    for (auto& f : FFiltered)
        f.assign(fullBytes + 8, 0);
    const std::size_t bpp = std::max(1, FPNGBits / 8);
    const bool keyed = !Key.empty() && OnWriteRowData;

    std::array<TPNGPass, 7> passes;
    const bool interlaced = Interlace == 1;
    const int count = PNGPasses(width, height, interlaced, passes);
    StartSection(PNGRowCount(width, height, interlaced), 100);
    int64_t rowNumber = 1;
    for (int p = 0; p < count; ++p) {
        const TPNGPass& pass = passes[std::size_t(p)];
        const std::size_t length = (std::size_t(pass.Width) * std::size_t(FPNGBits) + 7) / 8;
        std::memset(prev, 0, length + 1);
        for (int32_t k = 0; k < pass.Rows; ++k) {
            const int32_t y = pass.FirstRow + k * pass.RowStep;
            if (interlaced) {
                ConvertRow(y, full.data());
                GatherPass(full.data(), row + 1, FPNGBits, pass.FirstColumn, pass.ColumnStep, pass.Width);
            } else {
                ConvertRow(y, row + 1);
            }
            if (keyed)
                OnWriteRowData(this, row + 1, Key, int32_t(rowNumber - 1), int32_t(length));
            const uint8_t filter = ChooseFilter(row + 1, prev + 1, length, bpp);
            if (filter == pfNone) {
                row[0] = pfNone;
                DeflateRow(z, row, length + 1, false);
            } else {
                DeflateRow(z, FFiltered[filter].data(), length + 1, false);
            }
            std::swap(row, prev);
            if (rowNumber % 4 == 2 || height < 4)
                StepProgress(rowNumber);
            ++rowNumber;
        }
    }
    DeflateRow(z, nullptr, 0, true);
}

}  // namespace nolvi2
