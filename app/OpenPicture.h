#pragma once
// Reading a picture file by its extension, and writing one, for the window and the tool.

#include "platform/Bitmap.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace nolvi2 {

// The extension of a file name from its last "." on (after the last "/"), or empty.
std::string ExtractFileExt(const std::string& fileName);
std::string ExtractFileName(const std::string& fileName);

// The extension, lower-cased and without its dot, occurs in the list of readable
// extensions and masks ("bmp,*.jpeg;*.jpg", ...).
bool IsSupportedFile(const std::string& fileName);
// The extension is one of the built-in decoders' (.bmp, .jpg, .jpeg, .png, in any case).
// Such a file is supported without asking the format table, so that reading one neither
// starts nor waits for a plug-in search, and can be read on any thread.
bool IsBuiltInFile(const std::string& fileName);

// What reading makes of a file besides decoding its pixels; both on by default.
struct TReadOptions {
    bool ColorProfile = true;  // an embedded colour profile is converted to sRGB
    bool AutoRotate = true;    // a JPEG's EXIF orientation is applied

    bool operator==(const TReadOptions&) const = default;
};

// Turns the picture as an EXIF orientation (1 to 8) says; other values leave it as it is.
void ApplyOrientation(TBitmap& picture, int orientation);

// What a reading tells while it decodes: a JPEG its size and rows, a plug-in the size it
// says the picture has; a BMP or PNG nothing.
struct TReadWatch {
    // The size the picture will have (a JPEG's turned by its orientation), before its rows
    // are decoded.
    std::function<void(int32_t width, int32_t height)> Size;
    // Rows 0 to rows − 1 of picture are as the read picture will have them; told on the
    // reading thread while later rows are decoded, and only when the orientation leaves the
    // picture as it is stored. picture is valid only during the call.
    std::function<void(const TBitmap& picture, int32_t rows)> Rows;
};

// Reads the file into picture (replacing it only on success). progress, if set, receives
// the decoder's reports. Unsupported names raise "未対応のファイルです。" + CR + name.
void LoadPicture(const std::string& fileName, TBitmap& picture, const TProgressEvent& progress = {},
                 const TReadOptions& options = {}, const TReadWatch& watch = {});

enum class TSaveFormat { Bmp, Jpeg, Png };
struct TJpegSettings {
    int Quality = 80;
    bool Progressive = true;
};

// The format a file name asks for by its extension (.bmp, .jpg, .jpeg, .png), if any.
std::optional<TSaveFormat> SaveFormatOf(const std::string& fileName);

// The name a file of that format is written under: fileName when its extension is one of the
// format's own (.bmp; .jpg or .jpeg; .png), else fileName with the format's extension (.bmp,
// .jpg, .png) added, so that no file is named as a format it does not hold ("out.gif" becomes
// "out.gif.bmp", "out" becomes "out.bmp").
std::string NameForFormat(const std::string& fileName, TSaveFormat format);

// PNG rows: the encoder's filter setting (0 adaptive, 1 none … 5 Paeth) and zlib's level
// (-1 its default). The defaults are the picture class's.
struct TPngSettings {
    uint8_t Filter = 1;
    int32_t Level = -1;
};

// Writes picture in that format through the safe file writer.
void SavePicture(const std::string& fileName, const TBitmap& picture, TSaveFormat format,
                 const TJpegSettings& jpeg = {}, const TPngSettings& png = {});

}  // namespace nolvi2
