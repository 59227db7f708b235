#include "VelPNG.h"

#include "VelPNGReadStream.h"
#include "VelPNGWriteStream.h"
#include "platform/ColorProfile.h"

#include <ctime>

namespace nolvi2 {

namespace {

std::unique_ptr<TGraphic> CreateVelPNG() { return std::make_unique<TVelPNG>(); }

// Puts PNG into the picture-format table when the program starts.
const bool kRegistered = [] {
    TPictureFormats::Instance().Register("PNG", "PNG Format", TVelPNG::ClassInfo());
    return true;
}();

// Installs a progress handler on a bitmap for one call.
class TemporaryProgress {
public:
    TemporaryProgress(TBitmap& bitmap, const TProgressEvent& handler) : FBitmap(bitmap), FSaved(bitmap.OnProgress)
    {
        if (handler)
            FBitmap.OnProgress = handler;
    }
    ~TemporaryProgress() { FBitmap.OnProgress = std::move(FSaved); }
    TemporaryProgress(const TemporaryProgress&) = delete;
    TemporaryProgress& operator=(const TemporaryProgress&) = delete;

private:
    TBitmap& FBitmap;
    TProgressEvent FSaved;
};

}  // namespace

TPNGTime CurrentPNGTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return TPNGTime{uint16_t(utc.tm_year + 1900), uint8_t(utc.tm_mon + 1), uint8_t(utc.tm_mday),
                    uint8_t(utc.tm_hour),         uint8_t(utc.tm_min),     uint8_t(utc.tm_sec)};
}

const TGraphicClass& TVelPNG::ClassInfo()
{
    (void)kRegistered;
    static const TGraphicClass cls{"TVelPNG", nullptr, &CreateVelPNG};
    return cls;
}

TVelPNG::TVelPNG() : LastModified(CurrentPNGTime()) {}

const TBitmap& TVelPNG::Picture() const
{
    if (FImageBitmap)
        return *FImageBitmap;
    return FBorrowed ? *FBorrowed : FPicture;
}

const TBitmap& TVelPNG::Mask() const { return FMaskBitmap ? *FMaskBitmap : FMaskPicture; }

void TVelPNG::SetImageBitmap(TBitmap* bitmap)
{
    FImageBitmap = bitmap;
    FBorrowed = nullptr;
}

void TVelPNG::Borrow(const TBitmap& source)
{
    FImageBitmap = nullptr;
    FBorrowed = &source;
    FPicture.SetSize(0, 0);
}

void TVelPNG::LoadFromStream(TStream& stream)
{
    FBorrowed = nullptr;
    TVelPNGReadStream reader;
    reader.OnRowData = OnRowData;
    reader.OnKeyRequest = OnKeyRequest;
    reader.Key = Key;
    reader.SetCheckMacBinary(CheckMacBinary);
    reader.Use16BitColor = Use16BitColor;
    reader.TimeTarget = &LastModified;
    reader.ChromaticitiesTarget = &Chromaticities;
    reader.GIFExtensionTarget = &GIFExtension;
    std::vector<uint8_t> profile;
    if (ApplyColorProfile)
        reader.IccProfileTarget = &profile;
    FMaskPicture.SetSize(0, 0);
    reader.MaskTarget = &MaskInUse();
    TBitmap& picture = PictureInUse();
    {
        TemporaryProgress progress(picture, OnProgress);
        reader.ReadGraphic(&picture, stream, 0);
    }
    ConvertToSrgb(picture, profile);
    HasAlpha = reader.HasAlpha();
    Comment = reader.Comment();
    BackgroundColor = reader.BackgroundColor();
    TransparentColor = reader.TransparentColor();
    Interlaced = reader.InterlaceMethod();
    Gamma = reader.Gamma();
    PixelUnit = reader.PixelUnit();
    PixelsPerUnitX = reader.PixelsPerUnitX();
    PixelsPerUnitY = reader.PixelsPerUnitY();
    SignificantBits = reader.SignificantBits();
    BitDepth = reader.BitDepth();
    Grayscale = reader.Grayscale();
    FTransparent = reader.Transparent();
}

void TVelPNG::SaveToStream(TStream& stream) const
{
    TVelPNGWriteStream writer;
    writer.CompressionLevel = CompressionLevel;
    writer.FilterType = FilterType;
    writer.SetIDATSize(IDATSize);
    writer.Interlace = Interlaced;
    writer.Grayscale = Grayscale;
    writer.Comment = Comment;
    writer.BackgroundColor = BackgroundColor;
    writer.TransparentColor = TransparentColor;
    writer.Gamma = Gamma;
    writer.SignificantBits = SignificantBits;
    writer.PixelUnit = PixelUnit;
    writer.PixelsPerUnitX = PixelsPerUnitX;
    writer.PixelsPerUnitY = PixelsPerUnitY;
    writer.WriteTime = WriteTime;
    writer.LastModified = &LastModified;
    writer.Chromaticities = &Chromaticities;
    writer.GIFExtension = &GIFExtension;
    writer.OnWriteRowData = OnWriteRowData;
    writer.Key = Key;
    if (HasAlpha)
        writer.Mask = &Mask();
    // The handler goes on the picture for the call only; the picture is not otherwise changed.
    auto& picture = const_cast<TBitmap&>(Picture());
    TemporaryProgress progress(picture, OnProgress);
    writer.WriteGraphic(picture, stream);
}

void TVelPNG::Assign(const TVelPNG& source)
{
    if (&source == this)
        return;
    FImageBitmap = nullptr;
    FBorrowed = nullptr;
    FPicture.Assign(source.FBorrowed ? *source.FBorrowed : source.FPicture);
    FMaskPicture.Assign(source.FMaskPicture);
    FImageBitmap = source.FImageBitmap;
    FMaskBitmap = source.FMaskBitmap;
    CompressionLevel = source.CompressionLevel;
    FilterType = source.FilterType;
    IDATSize = source.IDATSize;
    Interlaced = source.Interlaced;
    Grayscale = source.Grayscale;
    Comment = source.Comment;
    BackgroundColor = source.BackgroundColor;
    TransparentColor = source.TransparentColor;
    Gamma = source.Gamma;
    SignificantBits = source.SignificantBits;
    PixelUnit = source.PixelUnit;
    PixelsPerUnitX = source.PixelsPerUnitX;
    PixelsPerUnitY = source.PixelsPerUnitY;
    WriteTime = source.WriteTime;
    LastModified = source.LastModified;
    Chromaticities = source.Chromaticities;
    FTransparent = source.FTransparent;
}

void TVelPNG::Assign(const TBitmap& source)
{
    FImageBitmap = nullptr;
    FBorrowed = nullptr;
    FPicture.Assign(source);
    // A plain bitmap has no transparent colour.
    FTransparent = false;
}

void TVelPNG::TakePicture(TBitmap& dest)
{
    if (FImageBitmap || FBorrowed) {
        dest.Assign(Picture());
        return;
    }
    dest.TakeOver(FPicture);
}

void TVelPNG::SetPalette(TPalette palette) { PictureInUse().SetPalette(std::move(palette)); }

void TVelPNG::SetWidth(int32_t width)
{
    if (!PictureInUse().Empty())
        PictureInUse().SetWidth(width);
    if (!MaskInUse().Empty())
        MaskInUse().SetWidth(width);
}

void TVelPNG::SetHeight(int32_t height)
{
    if (!PictureInUse().Empty())
        PictureInUse().SetHeight(height);
    if (!MaskInUse().Empty())
        MaskInUse().SetHeight(height);
}

}  // namespace nolvi2
