#pragma once
// JPEG pictures through libjpeg. Assign a bitmap and write the image to a stream to
// compress it (quality 0 to 100, progressive or baseline); read it from a stream to
// decompress it into a 24-bit bitmap. libjpeg's errors become EInvalidGraphic; its
// warnings are ignored (a truncated file decodes to what it holds, the rest grey).
// Reading converts the ICC profile of the APP2 segments into sRGB (ApplyColorProfile) and
// finds the EXIF orientation of the APP1 segment (Orientation), which it does not apply.

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace nolvi2 {

class TJPEGImage : public TGraphic {
public:
    TJPEGImage() = default;

    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    int32_t Width() const override { return Picture().Width(); }
    int32_t Height() const override { return Picture().Height(); }

    int CompressionQuality() const { return FQuality; }
    void SetCompressionQuality(int quality);  // clamped into 0..100
    bool ProgressiveEncoding() const { return FProgressive; }
    void SetProgressiveEncoding(bool on) { FProgressive = on; }

    // The picture to compress: a copy of source (Assign), or source itself, which must
    // outlive every later call (Borrow; no copy of a large picture).
    void Assign(const TBitmap& source);
    void Borrow(const TBitmap& source);

    // Compresses the picture into stream.
    void SaveToStream(TStream& stream) const override;
    // Reads everything from the stream's position to its end and decompresses it.
    void LoadFromStream(TStream& stream) override;
    // Decompresses size bytes at data.
    void LoadFromMemory(const uint8_t* data, std::size_t size);

    void AssignTo(TBitmap& dest) const override { dest.Assign(Picture()); }
    // Moves the decoded picture into dest without a copy; this image becomes empty.
    void TakePicture(TBitmap& dest);

    const TBitmap& Picture() const { return FBorrowed ? *FBorrowed : FPicture; }

    // The EXIF orientation of the file last read: 1 (as stored) to 8; 1 without one.
    int Orientation() const { return FOrientation; }

    // Told the stored size and the EXIF orientation once the header is read, before the rows
    // are decoded.
    std::function<void(int32_t width, int32_t height, int orientation)> OnHeader;
    // Told as the rows come, on the decoding thread or the thread that converts their colours
    // behind it: rows 0 to rows − 1 of picture are final. picture is the one being decoded,
    // valid only during the call.
    std::function<void(const TBitmap& picture, int32_t rows)> OnRows;

private:
    // Decodes the stream from its position, or else size bytes at data.
    void Decode(TStream* stream, const uint8_t* data, std::size_t size);

    TBitmap FPicture;
    const TBitmap* FBorrowed = nullptr;
    int FQuality = 90;
    bool FProgressive = false;
    int FOrientation = 1;
};

// The orientation tag (0x0112) of IFD0 in an APP1 segment's data ("Exif\0\0" and a TIFF
// structure of either byte order): 1 to 8, or 1 when there is none or it is out of range.
int ExifOrientation(const uint8_t* data, std::size_t size);

}  // namespace nolvi2
