#pragma once
// TVelPNG: PNG as a picture class. It owns the picture and its alpha mask (8-bit,
// 255 − alpha), keeps the PNG metadata, reads through TVelPNGReadStream and writes through
// TVelPNGWriteStream. Registered in the picture-format table as "png" ("PNG Format").

#include "PngTypes.h"
#include "platform/Bitmap.h"

#include <string>

namespace nolvi2 {

class TVelPNG : public TGraphic {
public:
    TVelPNG();

    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    int32_t Width() const override { return Picture().Width(); }
    int32_t Height() const override { return Picture().Height(); }
    bool Empty() const override { return Picture().Empty(); }

    // Reads from the stream's position to its end.
    void LoadFromStream(TStream& stream) override;
    // Raises "Write PNG Param: Err IDAT Size(min:256  max:100000)" for an IDAT size out of
    // range, before anything is written.
    void SaveToStream(TStream& stream) const override;
    void AssignTo(TBitmap& dest) const override { dest.Assign(Picture()); }
    // Copies another PNG picture (pixels, mask, settings and metadata) or any bitmap.
    void Assign(const TVelPNG& source);
    void Assign(const TBitmap& source);
    // Moves the picture into dest without a copy; this object's own picture becomes empty.
    void TakePicture(TBitmap& dest);
    // Writes source (which must outlive every later save) instead of the own picture.
    void Borrow(const TBitmap& source);

    // The picture and mask in use: the outside bitmaps when set, else the own ones.
    const TBitmap& Picture() const;
    const TBitmap& Mask() const;
    TBitmap* ImageBitmap() const { return FImageBitmap; }
    void SetImageBitmap(TBitmap* bitmap);
    TBitmap* MaskBitmap() const { return FMaskBitmap; }
    void SetMaskBitmap(TBitmap* bitmap) { FMaskBitmap = bitmap; }

    void SetPalette(TPalette palette);
    // Resize the picture in use, and the mask in use when it is not empty.
    void SetWidth(int32_t width);
    void SetHeight(int32_t height);

    // One colour of the picture is transparent (TransparentColor); pictures with an alpha
    // channel carry it in the mask instead.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool on) { FTransparent = on; }

    int32_t IDATSize = 32768;
    int32_t CompressionLevel = -1;
    uint8_t FilterType = 1;
    uint8_t Interlaced = 0;
    bool Grayscale = false;
    bool HasAlpha = false;
    int32_t BitDepth = 0;
    int32_t BackgroundColor = -1;
    int32_t TransparentColor = -1;
    std::string Comment;
    double Gamma = 0.45455;
    std::string Key;
    uint32_t SignificantBits = 0;
    uint8_t PixelUnit = 0;
    uint32_t PixelsPerUnitX = 0;
    uint32_t PixelsPerUnitY = 0;
    bool CheckMacBinary = true;
    bool WriteTime = true;
    TPNGTime LastModified;
    TPNGChromaticities Chromaticities{};
    TPNGGIFExtension GIFExtension{};
    bool Use16BitColor = false;
    TPNGKeyRequestEvent OnKeyRequest;
    TPNGRowDataEvent OnWriteRowData;
    TPNGRowDataEvent OnRowData;

private:
    TBitmap& PictureInUse() { return FImageBitmap ? *FImageBitmap : FPicture; }
    TBitmap& MaskInUse() { return FMaskBitmap ? *FMaskBitmap : FMaskPicture; }

    TBitmap FPicture;
    TBitmap FMaskPicture;
    TBitmap* FImageBitmap = nullptr;
    TBitmap* FMaskBitmap = nullptr;
    const TBitmap* FBorrowed = nullptr;
    bool FTransparent = false;
};

// The current time in UTC as a tIME record.
TPNGTime CurrentPNGTime();

}  // namespace nolvi2
