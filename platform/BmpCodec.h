#pragma once
// Windows and OS/2 BMP pictures.
//
// Reading takes every header that files carry (OS/2 1.x core, OS/2 2.x of any length,
// BITMAPINFOHEADER and its 52- and 56-byte extensions, V4, V5, and an OS/2 bitmap array
// holding a BMP), 1, 2, 4, 8, 16, 24 and 32 bits per pixel, uncompressed, RLE4, RLE8, OS/2
// RLE24 and bit fields, stored bottom-up or top-down. Palette pictures keep their depth and
// the file's palette (2-bit ones become 4-bit); 16-bit 5-5-5 and 5-6-5 pictures become
// pf15bit and pf16bit, uncompressed 32-bit ones pf32bit, other bit-field layouts pf24bit.
// Alpha is dropped. Pixels that the file leaves undefined are 0.
//
// Broken files raise EInvalidGraphic (EPictureSize for absurd dimensions); the target
// bitmap is replaced only when reading succeeds.

#include "Bitmap.h"
#include "Streams.h"

#include <cstdint>
#include <vector>

namespace nolvi2 {

// Reads a BMP file from the stream's position. With profile, a V5 header's embedded colour
// profile goes there (empty when the file has none); the pixels stay as stored.
void ReadBmp(TStream& stream, TBitmap& bitmap, std::vector<uint8_t>* profile = nullptr);

// Reads a packed DIB from the stream's position: the info header, its bit-field masks and
// colour table, then the bits right after them (what the clipboard carries as CF_DIB). The
// profile as for ReadBmp, counted from the info header's start.
void ReadDIB(TStream& stream, TBitmap& bitmap, std::vector<uint8_t>* profile = nullptr);

// Writes a 24-bit bottom-up BMP with a BITMAPINFOHEADER; other pixel formats are converted
// a row at a time. An empty bitmap raises EInvalidGraphic.
void WriteBmp(TStream& stream, const TBitmap& bitmap);

}  // namespace nolvi2
