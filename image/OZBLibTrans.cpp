#include "OZBLibTrans.h"

#include "Progress.h"
#include "ResultBitmap.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace nolvi2 {

namespace {

constexpr const char* kMsgTransform = "垂直方向に反転";
constexpr const char* kMsgGlassVertical = "縦ガラス処理";
constexpr const char* kMsgWinMask = "WINマスク";
constexpr const char* kBadStripWidth = "ストリップの幅が不正です";
constexpr const char* kBadMode = "変換の種類が不正です";

// Where each column of a WIN block comes from; the permutation is its own inverse.
constexpr std::array<int32_t, 16> kWinOrder = {12, 8, 6, 15, 9, 13, 2, 11, 1, 4, 14, 7, 0, 5, 10, 3};

// Rotations produce a band of kBand result rows (kBand source columns) before they send the
// reports for those rows, and walk the band in tiles of kTile result columns (source rows).
// A plain column walk would touch a new source row, cache line and page for every pixel;
// a tile reads each of its source rows in one run of kBand pixels, and both sides of the
// tile stay in cache while it is copied. These sizes were the fastest measured for 1-, 3-
// and 4-byte pixels.
constexpr int32_t kBand = 256;
constexpr int32_t kTile = 64;

// Pixels x0 .. x0 + n - 1 of a 1- or 4-bit row, one byte each.
template <int Bits>
void UnpackPixels(const uint8_t* row, int32_t x0, int32_t n, uint8_t* out)
{
    constexpr int perByte = 8 / Bits;
    constexpr unsigned mask = (1u << Bits) - 1;
    int32_t x = x0;
    const int32_t end = x0 + n;
    for (; x < end && x % perByte != 0; ++x)
        *out++ = uint8_t(ReadPackedPixel(row, x, Bits));
    for (; x + perByte <= end; x += perByte) {
        const unsigned b = row[x / perByte];
        for (int k = 0; k < perByte; ++k)
            *out++ = uint8_t((b >> ((perByte - 1 - k) * Bits)) & mask);
    }
    for (; x < end; ++x)
        *out++ = uint8_t(ReadPackedPixel(row, x, Bits));
}

void UnpackPixels(const uint8_t* row, int32_t x0, int32_t n, int bits, uint8_t* out)
{
    if (bits == 1)
        UnpackPixels<1>(row, x0, n, out);
    else
        UnpackPixels<4>(row, x0, n, out);
}

// The row bytes of a 1- or 4-bit row from one pixel value per byte. The bits after the last
// pixel become 0, as writing the pixels one by one into a fresh row leaves them.
template <int Bits>
void PackRow(const uint8_t* in, int32_t width, uint8_t* row)
{
    constexpr int perByte = 8 / Bits;
    const int32_t full = width / perByte;
    for (int32_t i = 0; i < full; ++i) {
        unsigned b = 0;
        for (int k = 0; k < perByte; ++k)
            b |= unsigned(in[i * perByte + k]) << ((perByte - 1 - k) * Bits);
        row[i] = uint8_t(b);
    }
    if (full * perByte < width) {
        unsigned b = 0;
        for (int32_t x = full * perByte; x < width; ++x)
            b |= unsigned(in[x]) << ((perByte - 1 - x % perByte) * Bits);
        row[full] = uint8_t(b);
    }
}

void PackRow(const uint8_t* in, int32_t width, int bits, uint8_t* row)
{
    if (bits == 1)
        PackRow<1>(in, width, row);
    else
        PackRow<4>(in, width, row);
}

// dst pixel x = src pixel map[x], for pixels of B bytes.
template <int B>
void GatherRow(const uint8_t* src, const int32_t* map, int32_t width, uint8_t* dst)
{
    for (int32_t x = 0; x < width; ++x)
        std::memcpy(dst + std::size_t(x) * B, src + std::size_t(map[x]) * B, B);
}

// Result row j is source row j (or H - 1 - j with reverseRows) with result pixel x taken from
// source pixel map[x]: the horizontal flip, the 180° rotation, the vertical glass strips and
// the WIN mask. The format has been checked.
std::unique_ptr<TBitmap> PermuteColumns(TBitmap& source, bool reverseRows, const std::vector<int32_t>& map,
                                        bool reportProgress, const char* msg, int32_t interval)
{
    const int32_t w = source.Width();
    const int32_t h = source.Height();
    const int bits = BitsPerPixel(source.PixelFormat());
    TProgressReporter progress(source, reportProgress, msg, h, interval);
    progress.Start();
    auto result = CreateResult(source, w, h);
    const std::vector<const uint8_t*> rows = SourceRowTable(source);
    // Packed rows are unpacked to a byte per pixel, rearranged, and packed again.
    std::vector<uint8_t> unpacked(bits < 8 ? std::size_t(w) : 0), moved(unpacked.size());
    for (int32_t j = 0; j < h; ++j) {
        const uint8_t* src = rows[std::size_t(reverseRows ? h - 1 - j : j)];
        uint8_t* dst = result->ScanLine(j);
        switch (bits) {
        case 1:
        case 4:
            UnpackPixels(src, 0, w, bits, unpacked.data());
            GatherRow<1>(unpacked.data(), map.data(), w, moved.data());
            PackRow(moved.data(), w, bits, dst);
            break;
        case 8: GatherRow<1>(src, map.data(), w, dst); break;
        case 24: GatherRow<3>(src, map.data(), w, dst); break;
        default: GatherRow<4>(src, map.data(), w, dst); break;
        }
        progress.RowDone(j);
    }
    progress.End();
    return result;
}

// Rows i = 0 .. n - 1 of a rotation band, as pixels of B bytes: pixel x of row i is the
// pixel at byte offsets[i] of the source row columnRows[x]. Walks the band in tiles of kTile
// result columns.
template <int B>
void TransposeBand(const uint8_t* const* columnRows, int32_t width, uint8_t* const* dstRows,
                   const std::size_t* offsets, int32_t n)
{
    for (int32_t x0 = 0; x0 < width; x0 += kTile) {
        const int32_t x1 = std::min(width, x0 + kTile);
        for (int32_t i = 0; i < n; ++i) {
            uint8_t* d = dstRows[i];
            const std::size_t off = offsets[i];
            for (int32_t x = x0; x < x1; ++x)
                std::memcpy(d + std::size_t(x) * B, columnRows[x] + off, B);
        }
    }
}

// Modes 0 and 2: result pixel (x, j) is source pixel (j, H - 1 - x) clockwise, and
// (W - 1 - j, x) counter-clockwise; result row j is source column j or W - 1 - j. The format
// has been checked.
std::unique_ptr<TBitmap> Rotate(TBitmap& source, bool clockwise, bool reportProgress, int32_t interval)
{
    const int32_t w = source.Width();
    const int32_t h = source.Height();
    const int bits = BitsPerPixel(source.PixelFormat());
    const bool packed = bits < 8;
    const std::size_t bpp = packed ? 1 : std::size_t(bits / 8);
    TProgressReporter progress(source, reportProgress, kMsgTransform, w, interval);
    progress.Start();
    auto result = CreateResult(source, h, w);
    const std::vector<const uint8_t*> rows = SourceRowTable(source);

    // Byte formats read the source rows in place. Packed formats first unpack the band's
    // source columns c0 .. c0 + n - 1 of every row into a strip of one byte per pixel, rotate
    // the strip into unpacked result rows, and pack those.
    std::vector<uint8_t> strip, unpacked;
    if (packed) {
        strip.resize(std::size_t(h) * kBand);
        unpacked.resize(std::size_t(kBand) * std::size_t(h));
    }
    // The row that feeds result column x: a source row, or its row of the strip.
    std::vector<const uint8_t*> columnRows(static_cast<std::size_t>(h));
    for (int32_t x = 0; x < h; ++x) {
        const std::size_t y = std::size_t(clockwise ? h - 1 - x : x);
        columnRows[std::size_t(x)] = packed ? strip.data() + y * kBand : rows[y];
    }
    uint8_t* dstRows[kBand];
    std::size_t offsets[kBand];
    for (int32_t j0 = 0; j0 < w; j0 += kBand) {
        const int32_t n = std::min(kBand, w - j0);
        const int32_t c0 = clockwise ? j0 : w - j0 - n;
        // The band's rows in the order of their source columns, so that every source row is
        // read forwards.
        for (int32_t i = 0; i < n; ++i) {
            const int32_t j = clockwise ? j0 + i : j0 + n - 1 - i;
            dstRows[i] = packed ? unpacked.data() + std::size_t(j - j0) * std::size_t(h) : result->ScanLine(j);
            offsets[i] = std::size_t(packed ? i : c0 + i) * bpp;
        }
        if (packed)
            for (int32_t y = 0; y < h; ++y)
                UnpackPixels(rows[std::size_t(y)], c0, n, bits, strip.data() + std::size_t(y) * kBand);
        switch (bits) {
        case 24: TransposeBand<3>(columnRows.data(), h, dstRows, offsets, n); break;
        case 32: TransposeBand<4>(columnRows.data(), h, dstRows, offsets, n); break;
        default: TransposeBand<1>(columnRows.data(), h, dstRows, offsets, n); break;
        }
        for (int32_t j = j0; j < j0 + n; ++j) {
            if (packed)
                PackRow(unpacked.data() + std::size_t(j - j0) * std::size_t(h), h, bits, result->ScanLine(j));
            progress.RowDone(j);
        }
    }
    progress.End();
    return result;
}

// Result row j is a copy of the row bytes of source row sourceRowOf(j).
template <class RowOf>
std::unique_ptr<TBitmap> CopyRows(const TBitmap& source, RowOf sourceRowOf)
{
    auto result = CreateResult(source, source.Width(), source.Height());
    const std::size_t bytes = source.RowBytes();
    if (bytes > 0)
        for (int32_t j = 0; j < source.Height(); ++j)
            std::memcpy(result->ScanLine(j), source.ScanLine(sourceRowOf(j)), bytes);
    return result;
}

std::vector<int32_t> ReversedColumns(int32_t width)
{
    std::vector<int32_t> map(static_cast<std::size_t>(width));
    for (int32_t x = 0; x < width; ++x)
        map[std::size_t(x)] = width - 1 - x;
    return map;
}

void CheckStripWidth(int32_t stripWidth)
{
    if (stripWidth < 1)
        throw Exception(kBadStripWidth);
}

}  // namespace

std::unique_ptr<TBitmap> FlipVertical(TBitmap& source)
{
    CheckFormat(source, kMovableFormats);
    const int32_t h = source.Height();
    return CopyRows(source, [h](int32_t j) { return h - 1 - j; });
}

std::unique_ptr<TBitmap> TransformBitmap(TBitmap& source, uint8_t mode, bool reportProgress, int32_t interval)
{
    CheckFormat(source, kMovableFormats);
    switch (mode) {
    case 0: return Rotate(source, true, reportProgress, interval);
    case 1:
        return PermuteColumns(source, true, ReversedColumns(source.Width()), reportProgress, kMsgTransform, interval);
    case 2: return Rotate(source, false, reportProgress, interval);
    case 3:
        return PermuteColumns(source, false, ReversedColumns(source.Width()), reportProgress, kMsgTransform, interval);
    default: throw Exception(kBadMode);
    }
}

std::unique_ptr<TBitmap> FlipHorizontal(TBitmap& source, bool reportProgress, int32_t interval)
{
    return TransformBitmap(source, 3, reportProgress, interval);
}

std::unique_ptr<TBitmap> Rotate90(TBitmap& source, bool reportProgress, int32_t interval)
{
    return TransformBitmap(source, 0, reportProgress, interval);
}

std::unique_ptr<TBitmap> Rotate180(TBitmap& source, bool reportProgress, int32_t interval)
{
    return TransformBitmap(source, 1, reportProgress, interval);
}

std::unique_ptr<TBitmap> Rotate270(TBitmap& source, bool reportProgress, int32_t interval)
{
    return TransformBitmap(source, 2, reportProgress, interval);
}

std::unique_ptr<TBitmap> GlassHorizontal(TBitmap& source, int32_t stripWidth)
{
    CheckFormat(source, kMovableFormats);
    CheckStripWidth(stripWidth);
    const int32_t a = stripWidth;
    const int32_t banded = a * (source.Height() / a);
    return CopyRows(source, [a, banded](int32_t j) { return j >= banded ? j : a * (j / a) + a - 1 - j % a; });
}

std::unique_ptr<TBitmap> GlassVertical(TBitmap& source, int32_t stripWidth, bool reportProgress, int32_t interval)
{
    CheckFormat(source, kMovableFormats);
    CheckStripWidth(stripWidth);
    const int32_t a = stripWidth;
    const int32_t w = source.Width();
    const int32_t striped = a * (w / a);
    std::vector<int32_t> map(static_cast<std::size_t>(w));
    for (int32_t x = 0; x < w; ++x)
        map[std::size_t(x)] = x >= striped ? x : a * (x / a) + a - 1 - x % a;
    return PermuteColumns(source, false, map, reportProgress, kMsgGlassVertical, interval);
}

std::unique_ptr<TBitmap> WinMask(TBitmap& source, bool reportProgress, int32_t interval)
{
    CheckFormat(source, kMovableFormats);
    const int32_t w = source.Width();
    const int32_t blocked = 16 * (w / 16);
    std::vector<int32_t> map(static_cast<std::size_t>(w));
    for (int32_t x = 0; x < w; ++x)
        map[std::size_t(x)] = x >= blocked ? x : 16 * (x / 16) + kWinOrder[std::size_t(x % 16)];
    return PermuteColumns(source, false, map, reportProgress, kMsgWinMask, interval);
}

}  // namespace nolvi2
