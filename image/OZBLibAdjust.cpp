#include "OZBLibAdjust.h"

#include "Progress.h"
#include "ResultBitmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace nolvi2 {

namespace {

constexpr const char* kMsgInvert = "階調を反転";
constexpr const char* kMsgSolarize = "ソラリゼーション";
constexpr const char* kMsgGrayScale = "グレイスケール";
constexpr const char* kMsgDesaturate = "色を削除";
constexpr const char* kMsgXor = "XOR処理";
constexpr const char* kMsgSwap = "RGB入れ替え";
constexpr const char* kMsgGammaPlus = "ガンマ補正（プラス）";
constexpr const char* kMsgGammaMinus = "ガンマ補正（マイナス）";

// Round to nearest, ties to even, then into 0..255.
uint8_t RoundToByte(long double v)
{
    const long double r = std::nearbyint(v);
    return uint8_t(std::clamp<long double>(r, 0, 255));
}

// Walks the rows of a 24- or 32-bit picture top to bottom, calling rowFn(row, width,
// bytesPerPixel) on each and reporting after every row.
template <class RowFn>
void ForEachRow(TBitmap& bitmap, bool reportProgress, const char* msg, RowFn rowFn)
{
    CheckFormat(bitmap, {TPixelFormat::pf24bit, TPixelFormat::pf32bit});
    const TPixelFormat pf = bitmap.PixelFormat();
    const int32_t width = bitmap.Width();
    const int32_t height = bitmap.Height();
    const int bpp = pf == TPixelFormat::pf24bit ? 3 : 4;
    TProgressReporter progress(bitmap, reportProgress, msg, height);
    progress.Start();
    for (int32_t y = 0; y < height; ++y) {
        rowFn(bitmap.ScanLine(y), width, bpp);
        progress.RowDone(y);
    }
    progress.End();
}

// XORs the colour bytes of a row with the per-channel mask (blue, green, red). In a 24-bit
// row every byte is a colour byte, so the row is one run of bytes with a period of 3.
void XorRow(uint8_t* row, int32_t width, int bpp, uint8_t mb, uint8_t mg, uint8_t mr)
{
    if (bpp == 4) {
        const uint32_t m = uint32_t(mb) | uint32_t(mg) << 8 | uint32_t(mr) << 16;
        for (int32_t x = 0; x < width; ++x) {
            uint32_t p;
            std::memcpy(&p, row + 4 * x, 4);
            p ^= m;
            std::memcpy(row + 4 * x, &p, 4);
        }
        return;
    }
    // 48 bytes = 16 pixels: a whole number of pixels and of 16-byte vectors.
    uint8_t pattern[48];
    for (int i = 0; i < 48; i += 3) {
        pattern[i] = mb;
        pattern[i + 1] = mg;
        pattern[i + 2] = mr;
    }
    const std::size_t n = std::size_t(width) * 3;
    std::size_t i = 0;
    for (; i + 48 <= n; i += 48)
        for (int k = 0; k < 48; ++k)
            row[i + k] ^= pattern[k];
    for (int k = 0; i < n; ++i, ++k)
        row[i] ^= pattern[k];
}

// Replaces every colour byte by table[byte].
void LookupRow(uint8_t* row, int32_t width, int bpp, const uint8_t* table)
{
    if (bpp == 3) {
        const std::size_t n = std::size_t(width) * 3;
        for (std::size_t i = 0; i < n; ++i)
            row[i] = table[row[i]];
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        uint8_t* p = row + 4 * x;
        p[0] = table[p[0]];
        p[1] = table[p[1]];
        p[2] = table[p[2]];
    }
}

const std::array<uint8_t, 256>& GammaPlusTable()
{
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int v = 0; v < 256; ++v)
            t[v] = GammaPlusOf(uint8_t(v));
        return t;
    }();
    return table;
}

const std::array<uint8_t, 256>& GammaMinusTable()
{
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int v = 0; v < 256; ++v)
            t[v] = GammaMinusOf(uint8_t(v));
        return t;
    }();
    return table;
}

}  // namespace

uint8_t GrayScaleOf(uint8_t r, uint8_t g, uint8_t b)
{
    const long double y = 0.299L * r + 0.587L * g + 0.114L * b;
    const float stored = float(y);
    return uint8_t(std::min(std::nearbyint(stored), 255.0f));
}

uint8_t GammaPlusOf(uint8_t v)
{
    return RoundToByte(255.0L * std::sqrt(v / 255.0L));
}

uint8_t GammaMinusOf(uint8_t v)
{
    const float c = float(v / 255.0L);
    const long double wide = c;
    return RoundToByte(255.0L * (wide + (wide - std::sqrt(wide))));
}

void Invert(TBitmap& bitmap, bool reportProgress)
{
    ForEachRow(bitmap, reportProgress, kMsgInvert, [](uint8_t* row, int32_t width, int bpp) {
        if (bpp == 3) {
            const std::size_t n = std::size_t(width) * 3;
            for (std::size_t i = 0; i < n; ++i)
                row[i] = uint8_t(~row[i]);
        } else {
            XorRow(row, width, bpp, 0xFF, 0xFF, 0xFF);
        }
    });
}

void Solarize(TBitmap& bitmap, bool reportProgress)
{
    // min(v, 255 - v): v below 128, its complement from 128 on.
    ForEachRow(bitmap, reportProgress, kMsgSolarize, [](uint8_t* row, int32_t width, int bpp) {
        if (bpp == 3) {
            const std::size_t n = std::size_t(width) * 3;
            for (std::size_t i = 0; i < n; ++i)
                row[i] = uint8_t(row[i] ^ uint8_t(-(row[i] >> 7)));
        } else {
            for (int32_t x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    uint8_t& v = row[4 * x + c];
                    v = uint8_t(v ^ uint8_t(-(v >> 7)));
                }
        }
    });
}

void GrayScale(TBitmap& bitmap, bool reportProgress)
{
    // Y * 1000 = 299 R + 587 G + 114 B is an integer S. The extended sum differs from S / 1000
    // by far less than half a single-precision step (2^-17 near 255), so storing it as single
    // and rounding gives S / 1000 rounded to nearest, and an exact tie (S mod 1000 = 500)
    // stores as k + 0.5 exactly and goes to the even neighbour. S never exceeds 255 000.
    ForEachRow(bitmap, reportProgress, kMsgGrayScale, [](uint8_t* row, int32_t width, int bpp) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = row + std::size_t(x) * bpp;
            const uint32_t s = 114u * p[0] + 587u * p[1] + 299u * p[2];
            const uint32_t k = s / 1000u;
            const uint32_t rem = s - k * 1000u;
            // Without branches: photographs make the rounding direction unpredictable.
            const uint32_t y = k + (uint32_t(rem > 500u) | (uint32_t(rem == 500u) & k & 1u));
            p[0] = p[1] = p[2] = uint8_t(y);
        }
    });
}

void Desaturate(TBitmap& bitmap, bool reportProgress)
{
    ForEachRow(bitmap, reportProgress, kMsgDesaturate, [](uint8_t* row, int32_t width, int bpp) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = row + std::size_t(x) * bpp;
            const uint8_t hi = std::max({p[0], p[1], p[2]});
            const uint8_t lo = std::min({p[0], p[1], p[2]});
            p[0] = p[1] = p[2] = uint8_t((hi + lo) >> 1);
        }
    });
}

void XorChannels(TBitmap& bitmap, bool xorRed, bool xorGreen, bool xorBlue, bool reportProgress)
{
    const uint8_t mr = xorRed ? 0x80 : 0, mg = xorGreen ? 0x80 : 0, mb = xorBlue ? 0x80 : 0;
    ForEachRow(bitmap, reportProgress, kMsgXor,
               [=](uint8_t* row, int32_t width, int bpp) { XorRow(row, width, bpp, mb, mg, mr); });
}

void SwapRGB(TBitmap& bitmap, uint8_t mode, bool reportProgress)
{
    // For each mode, the old byte (0 blue, 1 green, 2 red) that becomes blue, green and red.
    static constexpr int kSource[4][3] = {
        {2, 0, 1},  // R > G > B: red := G, green := B, blue := R
        {0, 2, 1},  // R <=> G
        {1, 0, 2},  // G <=> B
        {2, 1, 0},  // B <=> R
    };
    ForEachRow(bitmap, reportProgress, kMsgSwap, [mode](uint8_t* row, int32_t width, int bpp) {
        if (mode > 3)
            return;
        const int sb = kSource[mode][0], sg = kSource[mode][1], sr = kSource[mode][2];
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = row + std::size_t(x) * bpp;
            const uint8_t old[3] = {p[0], p[1], p[2]};
            p[0] = old[sb];
            p[1] = old[sg];
            p[2] = old[sr];
        }
    });
}

void GammaPlus(TBitmap& bitmap, bool reportProgress)
{
    const uint8_t* table = GammaPlusTable().data();
    ForEachRow(bitmap, reportProgress, kMsgGammaPlus,
               [table](uint8_t* row, int32_t width, int bpp) { LookupRow(row, width, bpp, table); });
}

void GammaMinus(TBitmap& bitmap, bool reportProgress)
{
    const uint8_t* table = GammaMinusTable().data();
    ForEachRow(bitmap, reportProgress, kMsgGammaMinus,
               [table](uint8_t* row, int32_t width, int bpp) { LookupRow(row, width, bpp, table); });
}

}  // namespace nolvi2
