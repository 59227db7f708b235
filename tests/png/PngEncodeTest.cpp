// The encoder, read back by libpng: every source format with grey output on and off, with
// and without a mask, every filter setting, interlaced or not, two IDAT sizes; then the
// chunks it writes.

#include "PngBuilder.h"
#include "Pictures.h"
#include "platform/PngReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>

namespace nolvi2::test {
namespace {

uint8_t Grey(int r, int g, int b) { return uint8_t((r * 77 + g * 150 + b * 29) >> 8); }

TBitmap MakeSource(TPixelFormat pf, int32_t w, int32_t h, uint32_t seed)
{
    std::mt19937 rng(seed);
    TBitmap b;
    b.SetPixelFormat(pf);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (std::size_t i = 0; i < b.RowBytes(); ++i)
            b.ScanLine(y)[i] = uint8_t(rng());
    // Bits after the last pixel of a row are zero, as a decoder leaves them.
    const int bits = BitsPerPixel(pf);
    if (const int used = (w * bits) % 8)
        for (int32_t y = 0; y < h; ++y)
            b.ScanLine(y)[b.RowBytes() - 1] &= uint8_t(0xFF << (8 - used));
    if (int n = PaletteEntryCount(pf)) {
        TPalette p(static_cast<std::size_t>(n));
        for (auto& e : p)
            e = TRGBQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
        b.SetPalette(p);
    }
    return b;
}

// The colour of a source pixel as the file should carry it, and its palette index (or −1).
TRGBQuad SourceColor(const TBitmap& b, int32_t x, int32_t y, int* index)
{
    const uint8_t* row = b.ScanLine(y);
    auto w5 = [](unsigned v) { return uint8_t(v << 3 | v >> 2); };
    *index = -1;
    switch (b.PixelFormat()) {
    case TPixelFormat::pf1bit: *index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
    case TPixelFormat::pf4bit: *index = (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4; break;
    case TPixelFormat::pf8bit: *index = row[x]; break;
    case TPixelFormat::pf15bit: {
        const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        return TRGBQuad{w5(v & 31), w5((v >> 5) & 31), w5((v >> 10) & 31), 0};
    }
    case TPixelFormat::pf16bit: {
        const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        const unsigned g = (v >> 5) & 63;
        return TRGBQuad{w5(v & 31), uint8_t(g << 2 | g >> 4), w5(v >> 11), 0};
    }
    case TPixelFormat::pf32bit: return TRGBQuad{row[4 * x], row[4 * x + 1], row[4 * x + 2], 0};
    default: return TRGBQuad{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
    }
    return b.Palette()[std::size_t(*index)];
}

// The row settings that the tests sweep; the mask, when given, is written as alpha.
void SetRows(TVelPNG& png, bool grey, uint8_t filter, uint8_t interlace, TBitmap* mask)
{
    png.Grayscale = grey;
    png.FilterType = filter;
    png.Interlaced = interlace;
    if (mask) {
        png.SetMaskBitmap(mask);
        png.HasAlpha = true;
    }
}

Bytes Save(const TVelPNG& png)
{
    TMemoryStream s;
    png.SaveToStream(s);
    return Bytes(s.Memory(), s.Memory() + s.Size());
}

// libpng reads the file to the source's colours (as grey when written as grey), and with alpha
// 255 − mask where the file can carry it (8 bits and more, not as a palette).
void ExpectLibpngReadsTheSource(const Bytes& file, const TBitmap& source, const TBitmap* mask, bool grey, uint8_t interlace)
{
    const int32_t w = source.Width(), h = source.Height();
    const int bits = BitsPerPixel(source.PixelFormat());
    const TRgbaPicture ref = ReadPngRgba(file.data(), file.size());
    ASSERT_EQ(ref.Width, w);
    ASSERT_EQ(ref.Height, h);
    EXPECT_EQ(ref.Interlace, interlace == 1);  // 2 is no row order: none
    const bool indexed = bits <= 8;
    const bool alpha = mask && (bits >= 8) && (grey || !indexed);
    int bad = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w && bad < 3; ++x) {
            int index;
            const TRGBQuad c = SourceColor(source, x, y, &index);
            uint8_t r = c.rgbRed, g = c.rgbGreen, b = c.rgbBlue;
            if (grey) {
                uint8_t v = Grey(r, g, b);
                if (bits == 4) {
                    v = uint8_t((v >> 4) * 17);
                } else if (bits == 1) {
                    const TPalette& p = source.Palette();
                    const bool invert = Grey(p[1].rgbRed, p[1].rgbGreen, p[1].rgbBlue) <
                                        Grey(p[0].rgbRed, p[0].rgbGreen, p[0].rgbBlue);
                    v = (index ^ int(invert)) ? 255 : 0;
                }
                r = g = b = v;
            }
            const uint8_t a = alpha ? uint8_t(255 - mask->ScanLine(y)[x]) : 255;
            const uint8_t* got = ref.At(x, y);
            if (got[0] != r || got[1] != g || got[2] != b || got[3] != a) {
                ADD_FAILURE() << x << "," << y << " want " << int(r) << " " << int(g) << " " << int(b) << " "
                              << int(a) << " got " << int(got[0]) << " " << int(got[1]) << " " << int(got[2]) << " "
                              << int(got[3]);
                ++bad;
            }
        }
}

TEST(PngEncode, EveryFormatAndSettingReadsBackInLibpng)
{
    const TPixelFormat formats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit,
                                    TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                    TPixelFormat::pf32bit};
    const int32_t w = 13, h = 11;
    uint32_t seed = 1;
    for (TPixelFormat pf : formats) {
        const TBitmap source = MakeSource(pf, w, h, seed++);
        TBitmap mask = MakeSource(TPixelFormat::pf8bit, w, h, seed++);
        const int bits = BitsPerPixel(pf);
        for (bool grey : {false, true})
            for (bool withMask : {false, true})
                for (uint8_t filter = 0; filter <= 5; ++filter)
                    for (uint8_t interlace : {0, 1, 2})
                        for (int32_t idat : {256, 100000}) {
                            SCOPED_TRACE(testing::Message() << "bits " << bits << " grey " << grey << " mask " << withMask
                                                            << " filter " << int(filter) << " interlace "
                                                            << int(interlace) << " idat " << idat);
                            TVelPNG png;
                            png.Borrow(source);
                            SetRows(png, grey, filter, interlace, withMask ? &mask : nullptr);
                            png.IDATSize = idat;
                            const Bytes file = Save(png);
                            ExpectLibpngReadsTheSource(file, source, withMask ? &mask : nullptr, grey, interlace);
                            // Our own decoder reads the same file back to the same picture.
                            if (!grey && !withMask && (bits <= 8 || bits >= 24)) {
                                TVelPNG back;
                                LoadPng(back, file);
                                TBitmap expected;
                                expected.Assign(source);
                                if (bits == 32)
                                    expected.SetPixelFormat(TPixelFormat::pf24bit);
                                EXPECT_TRUE(SamePixels(back.Picture(), expected));
                            }
                        }
    }
}

struct ChunkInfo {
    std::string type;
    Bytes data;
};

std::vector<ChunkInfo> Chunks(const Bytes& file)
{
    std::vector<ChunkInfo> out;
    for (std::size_t i = 8; i + 12 <= file.size();) {
        const std::size_t n = std::size_t(file[i]) << 24 | std::size_t(file[i + 1]) << 16 |
                              std::size_t(file[i + 2]) << 8 | file[i + 3];
        out.push_back({std::string(file.begin() + long(i + 4), file.begin() + long(i + 8)),
                       Bytes(file.begin() + long(i + 8), file.begin() + long(i + 8 + n))});
        i += 12 + n;
    }
    return out;
}

TEST(PngEncode, ChunksOfATruecolourPicture)
{
    const TBitmap source = MakeSource(TPixelFormat::pf24bit, 40, 30, 7);
    TVelPNG png;
    png.Borrow(source);
    png.IDATSize = 256;
    const Bytes file = Save(png);
    const auto chunks = Chunks(file);
    std::vector<std::string> types;
    for (const auto& c : chunks)
        if (types.empty() || types.back() != c.type || c.type != "IDAT")
            types.push_back(c.type);
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tpNG", "gAMA", "IDAT", "IEND"}));
    EXPECT_EQ(chunks[0].data[8], 8);  // depth
    EXPECT_EQ(chunks[0].data[9], 2);  // truecolour
    EXPECT_EQ(std::string(chunks[2].data.begin(), chunks[2].data.end()), std::string("Software\0VelPNG ver 3.4", 23));
    EXPECT_EQ(chunks[3].data, (Bytes{'V', 'e', 'l', '3', 0, 0, 0, 0}));
    EXPECT_EQ(chunks[4].data, (Bytes{0, 0, 0xB1, 0x8F}));  // 45455
    std::size_t idats = 0, total = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i)
        if (chunks[i].type == "IDAT") {
            ++idats;
            total += chunks[i].data.size();
            if (chunks[i + 1].type == "IDAT") {
                EXPECT_EQ(chunks[i].data.size(), 256u);
            } else {
                EXPECT_LE(chunks[i].data.size(), 256u);
            }
        }
    EXPECT_EQ(idats, (total + 255) / 256);
    EXPECT_GT(idats, 2u);
}

// The inflated image data of a file: filter byte and row bytes of every row.
Bytes ImageData(const Bytes& file, std::size_t size)
{
    Bytes compressed;
    for (const auto& c : Chunks(file))
        if (c.type == "IDAT")
            compressed.insert(compressed.end(), c.data.begin(), c.data.end());
    Bytes raw(size);
    uLongf n = uLongf(size);
    EXPECT_EQ(uncompress(raw.data(), &n, compressed.data(), uLong(compressed.size())), Z_OK);
    EXPECT_EQ(n, size);
    return raw;
}

TEST(PngEncode, AdaptiveFilterDoublesUnfilteredScoresOfOneAndEightBitSources)
{
    // One row whose unfiltered form and Up form differ only in the filter byte: 0 adds a
    // distinct value, 2 is among the samples already, so Up scores higher (943 against 843
    // alone, 915 against 861 with the alpha bytes) unless the unfiltered score is doubled.
    // Sub, Average and Paeth score lower than both.
    const uint8_t grey[16] = {2, 40, 7, 90, 13, 150, 33, 200, 61, 250, 18, 120, 77, 170, 99, 230};
    const uint8_t maskBytes[16] = {3, 55, 111, 29, 201, 87, 160, 9, 240, 66, 133, 190, 48, 177, 12, 222};
    TPalette greyRamp(256);
    for (std::size_t i = 0; i < 256; ++i)
        greyRamp[i] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    const struct {
        const char* what;
        TPixelFormat format;
        bool grey, withMask;
        uint8_t filter;
    } cases[] = {
        {"truecolour source written as grey", TPixelFormat::pf24bit, true, false, 2},
        {"8-bit source written as palette", TPixelFormat::pf8bit, false, false, 0},
        {"8-bit source written as grey with alpha", TPixelFormat::pf8bit, true, true, 0},
    };
    for (const auto& c : cases) {
        TBitmap source, mask;
        source.SetPixelFormat(c.format);
        source.SetSize(16, 1);
        mask.SetPixelFormat(TPixelFormat::pf8bit);
        mask.SetSize(16, 1);
        for (int x = 0; x < 16; ++x) {
            mask.ScanLine(0)[x] = maskBytes[x];
            if (c.format == TPixelFormat::pf24bit)
                std::memset(source.ScanLine(0) + 3 * x, grey[x], 3);
            else
                source.ScanLine(0)[x] = grey[x];
        }
        if (c.format == TPixelFormat::pf8bit)
            source.SetPalette(greyRamp);
        TVelPNG png;
        png.Borrow(source);
        SetRows(png, c.grey, 0, 0, c.withMask ? &mask : nullptr);
        const Bytes raw = ImageData(Save(png), c.withMask ? 33 : 17);
        EXPECT_EQ(raw[0], c.filter) << c.what;
    }
}

// The rows that a file stores, in its order: for each pass (Adam7's seven when interlaced,
// PNG specification 8.2, else one) the rows of the pixels that fall in it, gathered from
// the full rows of the samples; a pass without pixels has no rows.
struct StoredRow {
    Bytes bytes;
    bool firstOfPass;
};

std::vector<StoredRow> StoredRows(const TPngSamples& s)
{
    struct Pass {
        int32_t x0, dx, y0, dy;
    };
    static const Pass adam7[] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                 {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    static const Pass whole[] = {{0, 1, 0, 1}};
    const int bits = s.BitsPerPixel();
    std::vector<StoredRow> rows;
    for (const Pass& p : s.Interlace ? std::vector<Pass>(std::begin(adam7), std::end(adam7))
                                     : std::vector<Pass>(std::begin(whole), std::end(whole))) {
        const int32_t count = s.Width > p.x0 ? (s.Width - p.x0 + p.dx - 1) / p.dx : 0;
        bool first = true;
        for (int32_t y = p.y0; count > 0 && y < s.Height; y += p.dy) {
            Bytes row((std::size_t(count) * std::size_t(bits) + 7) / 8, 0);
            for (int32_t i = 0; i < count; ++i) {
                const std::size_t from = std::size_t(p.x0 + i * p.dx) * std::size_t(bits), to = std::size_t(i) * std::size_t(bits);
                if (bits >= 8) {
                    std::memcpy(row.data() + to / 8, s.Row(y) + from / 8, std::size_t(bits / 8));
                } else {
                    // Bits from the most significant: the pixel's bits start at bit (from % 8) of its byte.
                    const unsigned value = (s.Row(y)[from / 8] >> (8 - bits - int(from % 8))) & ((1u << bits) - 1);
                    row[to / 8] = uint8_t(row[to / 8] | value << (8 - bits - int(to % 8)));
                }
            }
            rows.push_back({std::move(row), first});
            first = false;
        }
    }
    return rows;
}

// A row filtered by one of the five filter types, by the formulas of the PNG specification
// (9.2-9.4): a is the byte one pixel to the left (bpp bytes), b the byte above, c the byte
// above a; all three 0 outside the pass.
Bytes FilterRow(int type, const Bytes& row, const Bytes& prior, std::size_t bpp)
{
    Bytes out(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int x = row[i], a = i >= bpp ? row[i - bpp] : 0, b = prior[i], c = i >= bpp ? prior[i - bpp] : 0;
        int predictor = 0;
        switch (type) {
        case 1: predictor = a; break;
        case 2: predictor = b; break;
        case 3: predictor = (a + b) / 2; break;
        case 4: {
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            break;
        }
        default: break;
        }
        out[i] = uint8_t((x - predictor) & 0xFF);
    }
    return out;
}

// The adaptive filter's choice for a row, by the encoder's documented rule: try none,
// sub, up, average and Paeth in turn; score each filtered row with its filter byte (L bytes,
// D distinct values, c1 >= c2 >= c3 the largest counts): ideal when D <= 8 or c1 is 90 % of L
// or more (taken at once), else trunc((L / 1.5) / D * 1500 + (c1 + c2) / L * 1000) for rows
// of fewer than 8 bits per pixel and trunc((L / 1.5) / D * 1000 + (c1 + c2 + c3) / L * 1000)
// for the others; a later filter wins only with a strictly higher score. As decided for this
// encoder (AdaptiveFilterDoublesUnfilteredScoresOfOneAndEightBitSources), the source's depth
// decides the rest: 4-bit sources are never filtered, and the unfiltered score is doubled for
// 1- and 8-bit sources.
int AdaptiveChoice(const Bytes& row, const Bytes& prior, std::size_t bpp, int pngBits, int sourceBits)
{
    if (sourceBits == 4)
        return 0;
    int best = -1;
    long double bestScore = 0;
    for (int type = 0; type <= 4; ++type) {
        Bytes filtered = {uint8_t(type)};
        const Bytes body = FilterRow(type, row, prior, bpp);
        filtered.insert(filtered.end(), body.begin(), body.end());
        std::map<uint8_t, uint64_t> counts;
        for (const uint8_t v : filtered)
            ++counts[v];
        std::vector<uint64_t> sorted;
        for (const auto& [value, n] : counts)
            sorted.push_back(n);
        std::sort(sorted.rbegin(), sorted.rend());
        sorted.resize(std::max<std::size_t>(sorted.size(), 3), 0);
        const uint64_t length = filtered.size(), distinct = counts.size();
        if (distinct <= 8 || sorted[0] * 10 >= length * 9)
            return type;
        const long double L = length, D = distinct;
        long double score = pngBits < 8 ? std::trunc((L / 1.5L) / D * 1500 + (sorted[0] + sorted[1]) / L * 1000)
                                         : std::trunc((L / 1.5L) / D * 1000 + (sorted[0] + sorted[1] + sorted[2]) / L * 1000);
        if (type == 0 && (sourceBits == 1 || sourceBits == 8))
            score *= 2;
        if (best < 0 || score > bestScore) {
            best = type;
            bestScore = score;
        }
    }
    return best;
}

// The image data of a file: the IDAT chunks joined.
Bytes ZlibStream(const Bytes& file)
{
    Bytes stream;
    for (const auto& c : Chunks(file))
        if (c.type == "IDAT")
            stream.insert(stream.end(), c.data.begin(), c.data.end());
    return stream;
}

// The payload of a zlib stream made of stored blocks only (what level 0 writes), every byte of
// the stream checked: the header of a stream without compression, the blocks' headers (the
// final bit on the last only), lengths and their complements, and the Adler-32 of the payload.
::testing::AssertionResult StoredPayload(const Bytes& stream, Bytes& payload)
{
    payload.clear();
    if (stream.size() < 6 || stream[0] != 0x78 || stream[1] != 0x01)
        return ::testing::AssertionFailure() << "not the header of a stream at level 0";
    std::size_t at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > stream.size())
            return ::testing::AssertionFailure() << "the stream ends inside a block header at " << at;
        if (stream[at] > 1)
            return ::testing::AssertionFailure() << "not a stored block at " << at << ": " << int(stream[at]);
        last = stream[at] == 1;
        const unsigned length = stream[at + 1] | stream[at + 2] << 8, complement = stream[at + 3] | stream[at + 4] << 8;
        if ((length ^ complement) != 0xFFFF)
            return ::testing::AssertionFailure() << "LEN and NLEN disagree at " << at;
        at += 5;
        if (at + length > stream.size())
            return ::testing::AssertionFailure() << "a stored block runs past the stream at " << at;
        payload.insert(payload.end(), stream.begin() + long(at), stream.begin() + long(at + length));
        at += length;
    }
    if (at + 4 != stream.size())
        return ::testing::AssertionFailure() << stream.size() - at << " bytes after the last block, not 4";
    const uint32_t adler = uint32_t(adler32(adler32(0, nullptr, 0), payload.data(), uInt(payload.size())));
    const uint32_t written = uint32_t(stream[at]) << 24 | uint32_t(stream[at + 1]) << 16 | uint32_t(stream[at + 2]) << 8 | stream[at + 3];
    if (adler != written)
        return ::testing::AssertionFailure() << "Adler-32 " << std::hex << written << ", payload's " << adler;
    return ::testing::AssertionSuccess();
}

// A photo-like picture (gradients, a hard edge, noise) in each format, grey or not, with a mask
// or not, plain or interlaced, written with each filter setting. Whatever zlib makes of them,
// the rows must be filtered by the PNG formulas over the samples that libpng decodes, and with
// the filter the setting names: the fixed filter, or the adaptive rule's choice for each row.
// At level 0, where zlib only stores, the image data must be exactly those filtered rows in
// stored blocks, and the rest of the file the same as at the default level.
TEST(PngEncode, RowsAreFilteredByTheFormulasAndTheSetting)
{
    const int32_t w = 157, h = 45;
    TBitmap photo(w, h, TPixelFormat::pf24bit);
    std::mt19937 rng(7);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int edge = x > w / 2 && y > h / 3 ? 90 : 0;
            const int noise = int(rng() % 9) - 4;
            uint8_t* p = photo.ScanLine(y) + 3 * x;
            p[0] = uint8_t(std::clamp(40 + 2 * y + noise + edge, 0, 255));
            p[1] = uint8_t(std::clamp(200 - x + noise, 0, 255));
            p[2] = uint8_t(std::clamp(x + y + noise - edge, 0, 255));
        }
    TBitmap mask(w, h, TPixelFormat::pf8bit);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            mask.ScanLine(y)[x] = uint8_t(x * 3 + y);
    const TPixelFormat formats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit,
                                    TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                    TPixelFormat::pf32bit};
    std::map<int, int> chosen;  // how often the adaptive setting chose each filter
    for (TPixelFormat pf : formats) {
        TBitmap source;
        source.Assign(photo);
        source.SetPixelFormat(pf);
        for (bool grey : {false, true})
            for (bool withMask : {false, true})
                for (uint8_t interlace : {0, 1})
                    for (uint8_t filter = 0; filter <= 5; ++filter) {
                        SCOPED_TRACE(testing::Message() << "bits " << BitsPerPixel(pf) << " grey " << grey << " mask "
                                                        << withMask << " interlace " << int(interlace) << " filter setting "
                                                        << int(filter));
                        TVelPNG png;
                        png.Borrow(source);
                        png.WriteTime = false;
                        png.LastModified = {};  // no tIME
                        SetRows(png, grey, filter, interlace, withMask ? &mask : nullptr);
                        const Bytes file = Save(png);
                        ExpectLibpngReadsTheSource(file, source, withMask ? &mask : nullptr, grey, interlace);
                        const TPngSamples samples = ReadPngSamples(file.data(), file.size());
                        const std::vector<StoredRow> rows = StoredRows(samples);
                        const std::size_t bpp = std::max(1, samples.BitsPerPixel() / 8);

                        // The filtered rows the file must hold, by the formulas.
                        Bytes expected;
                        Bytes prior;
                        for (const StoredRow& row : rows) {
                            if (row.firstOfPass)
                                prior.assign(row.bytes.size(), 0);
                            const int type = filter == 0 ? AdaptiveChoice(row.bytes, prior, bpp, samples.BitsPerPixel(),
                                                                          BitsPerPixel(pf))
                                                         : filter - 1;
                            if (filter == 0)
                                ++chosen[type];
                            expected.push_back(uint8_t(type));
                            const Bytes filtered = FilterRow(type, row.bytes, prior, bpp);
                            expected.insert(expected.end(), filtered.begin(), filtered.end());
                            prior = row.bytes;
                        }

                        // What zlib made of them, inflated by zlib here.
                        const Bytes stream = ZlibStream(file);
                        Bytes inflated(expected.size() + 1);
                        uLongf n = uLongf(inflated.size());
                        ASSERT_EQ(uncompress(inflated.data(), &n, stream.data(), uLong(stream.size())), Z_OK);
                        inflated.resize(n);
                        ASSERT_EQ(inflated.size(), expected.size());
                        for (std::size_t r = 0, at = 0; r < rows.size(); at += 1 + rows[r].bytes.size(), ++r) {
                            ASSERT_EQ(int(inflated[at]), int(expected[at])) << "filter byte of stored row " << r;
                            ASSERT_TRUE(std::equal(expected.begin() + long(at), expected.begin() + long(at + 1 + rows[r].bytes.size()),
                                                   inflated.begin() + long(at)))
                                << "stored row " << r << " (filter " << int(expected[at]) << ")";
                        }

                        // At level 0 the image data are those rows byte for byte, in stored
                        // blocks; every other chunk is as at the default level.
                        png.CompressionLevel = 0;
                        const Bytes stored = Save(png);
                        Bytes payload;
                        ASSERT_TRUE(StoredPayload(ZlibStream(stored), payload));
                        EXPECT_TRUE(payload == expected);
                        std::vector<ChunkInfo> a = Chunks(file), b = Chunks(stored);
                        const auto isIdat = [](const ChunkInfo& c) { return c.type == "IDAT"; };
                        a.erase(std::remove_if(a.begin(), a.end(), isIdat), a.end());
                        b.erase(std::remove_if(b.begin(), b.end(), isIdat), b.end());
                        ASSERT_EQ(a.size(), b.size());
                        for (std::size_t i = 0; i < a.size(); ++i) {
                            EXPECT_EQ(a[i].type, b[i].type);
                            EXPECT_TRUE(a[i].data == b[i].data) << a[i].type;
                        }
                    }
    }
    // The photo makes the adaptive rule choose among several filters.
    EXPECT_GE(chosen.size(), 3u);
}

TEST(PngEncode, MetadataChunksAndTheirRules)
{
    TBitmap source = MakeSource(TPixelFormat::pf8bit, 4, 4, 3);
    TVelPNG png;
    png.Borrow(source);
    png.WriteTime = false;
    png.Comment = "hello";
    png.BackgroundColor = 0x01000005;
    png.TransparentColor = 0x01000002;
    png.PixelUnit = 2;
    png.PixelsPerUnitX = png.PixelsPerUnitY = 72;
    for (uint8_t second : {uint8_t(60), uint8_t(61)}) {
        png.LastModified = TPNGTime{2024, 5, 6, 7, 8, second};
        const auto chunks = Chunks(Save(png));
        std::map<std::string, Bytes> byType;
        for (const auto& c : chunks)
            byType[c.type] = c.data;
        EXPECT_EQ(byType.count("tIME"), second == 60 ? 1u : 0u);
        EXPECT_EQ(byType["bKGD"], Bytes{5});
        EXPECT_EQ(byType["tRNS"], (Bytes{255, 255, 0}));
        EXPECT_EQ(byType["PLTE"].size(), 768u);
        // 72 per inch: trunc(72 × 100 / 254 × 100) = 2834 per metre.
        EXPECT_EQ(byType["pHYs"], (Bytes{0, 0, 0x0B, 0x12, 0, 0, 0x0B, 0x12, 1}));
        const ChunkInfo& text = chunks[second == 60 ? 2 : 1];  // the comment comes first
        EXPECT_EQ(text.type, "tEXt");
        EXPECT_EQ(std::string(text.data.begin(), text.data.end()), std::string("Comment\0hello", 13));
    }
    // The same picture reads back with its transparent index and background.
    TVelPNG back;
    LoadPng(back, Save(png));
    EXPECT_EQ(back.TransparentColor, 0x01000002);
    EXPECT_TRUE(back.Transparent());
    EXPECT_EQ(back.BackgroundColor, 0x01000005);
    EXPECT_EQ(back.Comment, "hello\r\n");

    // Per inch beyond what a per-metre field holds, and a gamma beyond its field, are cut to
    // the field's largest value.
    png.PixelsPerUnitX = 4000000000u;
    png.Gamma = 1e12;
    std::map<std::string, Bytes> byType;
    for (const auto& c : Chunks(Save(png)))
        byType[c.type] = c.data;
    EXPECT_EQ(byType["pHYs"], (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x0B, 0x12, 1}));
    EXPECT_EQ(byType["gAMA"], (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PngEncode, IDATSizeIsCheckedBeforeWriting)
{
    const TBitmap source = MakeSource(TPixelFormat::pf24bit, 4, 4, 5);
    for (int32_t size : {255, 256, 100000, 100001}) {
        TVelPNG png;
        png.Borrow(source);
        png.IDATSize = size;
        TMemoryStream s;
        if (size == 255 || size == 100001) {
            try {
                png.SaveToStream(s);
                ADD_FAILURE() << size;
            } catch (const EVelPNG& e) {
                EXPECT_STREQ(e.what(), "Write PNG Param: Err IDAT Size(min:256  max:100000)");
            }
            EXPECT_EQ(s.Size(), 0);
        } else {
            EXPECT_NO_THROW(png.SaveToStream(s));
        }
    }
}

}  // namespace
}  // namespace nolvi2::test
