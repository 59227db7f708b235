#include "PixelConvert.h"

#include <array>
#include <cstring>

namespace nolvi2 {

namespace {

constexpr uint8_t kCubeLevels[6] = {0, 51, 102, 153, 204, 255};

// Grey k (1..40) of the 8-bit palette: round(k * 255 / 41), none of them a cube grey.
constexpr uint8_t GreyLevel(int k) { return uint8_t((k * 255 * 2 + 41) / 82); }

constexpr std::array<TRGBQuad, 16> kVga = {{
    {0, 0, 0, 0},       {0, 0, 128, 0},     {0, 128, 0, 0},     {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0},   {128, 128, 0, 0},   {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},     {0, 255, 0, 0},     {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0},   {255, 255, 0, 0},   {255, 255, 255, 0},
}};

inline int CubeLevelIndex(int v) { return (v + 25) / 51; }  // midpoints are x.5: no ties

inline uint8_t Scale5To8(unsigned v) { return uint8_t((v * 510 + 31) / 62); }
inline uint8_t Scale6To8(unsigned v) { return uint8_t((v * 510 + 63) / 126); }
inline unsigned Scale8To5(unsigned v) { return (v * 62 + 255) / 510; }
inline unsigned Scale8To6(unsigned v) { return (v * 126 + 255) / 510; }

inline void Put(uint8_t* d, const TRGBQuad& q)
{
    d[0] = q.rgbBlue;
    d[1] = q.rgbGreen;
    d[2] = q.rgbRed;
}

// Storage layout of the formats that have no layout of their own.
TPixelFormat Layout(TPixelFormat pf)
{
    if (pf == TPixelFormat::pfDevice)
        return TPixelFormat::pf24bit;
    if (pf == TPixelFormat::pfCustom)
        return TPixelFormat::pf15bit;
    return pf;
}

}  // namespace

uint8_t NearestCubeIndex(uint8_t r, uint8_t g, uint8_t b)
{
    const int ri = CubeLevelIndex(r), gi = CubeLevelIndex(g), bi = CubeLevelIndex(b);
    const int dr = r - kCubeLevels[ri], dg = g - kCubeLevels[gi], db = b - kCubeLevels[bi];
    const int cubeDist = dr * dr + dg * dg + db * db;
    // The nearest grey to (r, g, b) is the grey level nearest to the mean.
    const int sum = r + g + b;
    int bestK = 1;
    int bestGap = 1 << 30;
    for (int k = 1; k <= 40; ++k) {
        int gap = 3 * GreyLevel(k) - sum;
        gap = gap < 0 ? -gap : gap;
        if (gap < bestGap) {
            bestGap = gap;
            bestK = k;
        }
    }
    const int gl = GreyLevel(bestK);
    const int greyDist = (r - gl) * (r - gl) + (g - gl) * (g - gl) + (b - gl) * (b - gl);
    if (cubeDist <= greyDist)
        return uint8_t(ri * 36 + gi * 6 + bi);
    return uint8_t(215 + bestK);
}

uint8_t NearestVgaIndex(uint8_t r, uint8_t g, uint8_t b)
{
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < 16; ++i) {
        const int dr = r - kVga[i].rgbRed, dg = g - kVga[i].rgbGreen, db = b - kVga[i].rgbBlue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return uint8_t(best);
}

TPalette StandardPalette(TPixelFormat pf)
{
    TPalette pal;
    switch (pf) {
    case TPixelFormat::pf1bit:
        pal = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
        break;
    case TPixelFormat::pf4bit:
        pal.assign(kVga.begin(), kVga.end());
        break;
    case TPixelFormat::pf8bit:
        pal.reserve(256);
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    pal.push_back(TRGBQuad{kCubeLevels[b], kCubeLevels[g], kCubeLevels[r], 0});
        for (int k = 1; k <= 40; ++k)
            pal.push_back(TRGBQuad{GreyLevel(k), GreyLevel(k), GreyLevel(k), 0});
        break;
    default:
        break;
    }
    return pal;
}

void ConvertRowTo24(TPixelFormat pf, const TPalette& palette, const uint8_t* src, uint8_t* dst,
                    int32_t width)
{
    // A lookup of all 256 indices, so that an index beyond the palette gives black.
    TRGBQuad lut[256] = {};
    const std::size_t n = std::min<std::size_t>(palette.size(), 256);
    if (n)
        std::memcpy(lut, palette.data(), n * sizeof(TRGBQuad));

    switch (Layout(pf)) {
    case TPixelFormat::pf1bit:
        for (int32_t x = 0; x < width; ++x)
            Put(dst + 3 * x, lut[(src[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
    case TPixelFormat::pf4bit:
        for (int32_t x = 0; x < width; ++x)
            Put(dst + 3 * x, lut[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]);
        break;
    case TPixelFormat::pf8bit:
        for (int32_t x = 0; x < width; ++x)
            Put(dst + 3 * x, lut[src[x]]);
        break;
    case TPixelFormat::pf15bit:
        for (int32_t x = 0; x < width; ++x) {
            const unsigned w = unsigned(src[2 * x]) | unsigned(src[2 * x + 1]) << 8;
            dst[3 * x] = Scale5To8(w & 31);
            dst[3 * x + 1] = Scale5To8((w >> 5) & 31);
            dst[3 * x + 2] = Scale5To8((w >> 10) & 31);
        }
        break;
    case TPixelFormat::pf16bit:
        for (int32_t x = 0; x < width; ++x) {
            const unsigned w = unsigned(src[2 * x]) | unsigned(src[2 * x + 1]) << 8;
            dst[3 * x] = Scale5To8(w & 31);
            dst[3 * x + 1] = Scale6To8((w >> 5) & 63);
            dst[3 * x + 2] = Scale5To8((w >> 11) & 31);
        }
        break;
    case TPixelFormat::pf32bit:
        for (int32_t x = 0; x < width; ++x) {
            dst[3 * x] = src[4 * x];
            dst[3 * x + 1] = src[4 * x + 1];
            dst[3 * x + 2] = src[4 * x + 2];
        }
        break;
    default:
        std::memcpy(dst, src, std::size_t(width) * 3);
        break;
    }
}

void ConvertRowFrom24(TPixelFormat pf, const uint8_t* src, uint8_t* dst, int32_t width)
{
    switch (Layout(pf)) {
    case TPixelFormat::pf1bit:
        std::memset(dst, 0, RowBytes(pf, width));
        for (int32_t x = 0; x < width; ++x) {
            // Nearer to white than to black: sum > 382.5 (never a tie).
            const int sum = src[3 * x] + src[3 * x + 1] + src[3 * x + 2];
            if (sum > 382)
                dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
        break;
    case TPixelFormat::pf4bit:
        std::memset(dst, 0, RowBytes(pf, width));
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t i = NearestVgaIndex(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
            dst[x >> 1] |= uint8_t((x & 1) ? i : i << 4);
        }
        break;
    case TPixelFormat::pf8bit:
        for (int32_t x = 0; x < width; ++x)
            dst[x] = NearestCubeIndex(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
        break;
    case TPixelFormat::pf15bit:
        for (int32_t x = 0; x < width; ++x) {
            const unsigned w = Scale8To5(src[3 * x]) | Scale8To5(src[3 * x + 1]) << 5 |
                               Scale8To5(src[3 * x + 2]) << 10;
            dst[2 * x] = uint8_t(w);
            dst[2 * x + 1] = uint8_t(w >> 8);
        }
        break;
    case TPixelFormat::pf16bit:
        for (int32_t x = 0; x < width; ++x) {
            const unsigned w = Scale8To5(src[3 * x]) | Scale8To6(src[3 * x + 1]) << 5 |
                               Scale8To5(src[3 * x + 2]) << 11;
            dst[2 * x] = uint8_t(w);
            dst[2 * x + 1] = uint8_t(w >> 8);
        }
        break;
    case TPixelFormat::pf32bit:
        for (int32_t x = 0; x < width; ++x) {
            dst[4 * x] = src[3 * x];
            dst[4 * x + 1] = src[3 * x + 1];
            dst[4 * x + 2] = src[3 * x + 2];
            dst[4 * x + 3] = 0;
        }
        break;
    default:
        std::memcpy(dst, src, std::size_t(width) * 3);
        break;
    }
}

}  // namespace nolvi2
