#include "OpenPicture.h"

#include "image/OZBLibTrans.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/JPEGImage.h"
#include "platform/Streams.h"
#include "png/VelPNG.h"
#include "susie/SPIBmp.h"


namespace nolvi2 {

std::string ExtractFileExt(const std::string& fileName)
{
    const auto dot = fileName.rfind('.');
    const auto slash = fileName.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return fileName.substr(dot);
}

std::string ExtractFileName(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// The built-in decoders read exactly the formats that can be saved.
bool IsBuiltInFile(const std::string& fileName) { return SaveFormatOf(fileName).has_value(); }

bool IsSupportedFile(const std::string& fileName)
{
    if (IsBuiltInFile(fileName))
        return true;
    std::string ext = LowerAscii(ExtractFileExt(fileName));
    if (!ext.empty())
        ext.erase(0, 1);
    if (ext.empty())
        return false;
    const TPictureFormats& formats = TPictureFormats::Instance();
    const std::string list = LowerAscii(formats.GraphicExtension(TBitmap::ClassInfo()) + "," +
                                   formats.GraphicFileMask(TJPEGImage::ClassInfo()) + "," +
                                   formats.GraphicExtension(TVelPNG::ClassInfo()) + "," +
                                   formats.GraphicFileMask(TSPIBitmap::ClassInfo()));
    return list.find(ext) != std::string::npos;
}

void ApplyOrientation(TBitmap& picture, int orientation)
{
    std::unique_ptr<TBitmap> turned;
    switch (orientation) {
    case 2:
        turned = FlipHorizontal(picture, false, 0);
        break;
    case 3:
        turned = Rotate180(picture, false, 0);
        break;
    case 4:
        turned = FlipVertical(picture);
        break;
    case 5:  // transposed: a quarter turn clockwise, then mirrored
        turned = FlipHorizontal(*Rotate90(picture, false, 0), false, 0);
        break;
    case 6:
        turned = Rotate90(picture, false, 0);
        break;
    case 7:  // transversed: a quarter turn counter-clockwise, then mirrored
        turned = FlipHorizontal(*Rotate270(picture, false, 0), false, 0);
        break;
    case 8:
        turned = Rotate270(picture, false, 0);
        break;
    default:
        return;
    }
    picture.TakeOver(*turned);
}

void LoadPicture(const std::string& fileName, TBitmap& picture, const TProgressEvent& progress,
                 const TReadOptions& options, const TReadWatch& watch)
{
    const std::string ext = LowerAscii(ExtractFileExt(fileName));
    if (!IsSupportedFile(fileName))
        throw Exception("未対応のファイルです。\r" + fileName);
    TBitmap loaded;
    int orientation = 1;
    // Decoder messages tell what is wrong; the file they concern is added here.
    try {
        if (ext == ".bmp") {
            loaded.ApplyColorProfile = options.ColorProfile;
            loaded.LoadFromFile(fileName);
        } else if (ext == ".jpg" || ext == ".jpeg") {
            TJPEGImage jpeg;
            jpeg.OnProgress = progress;
            jpeg.ApplyColorProfile = options.ColorProfile;
            bool asStored = true;
            if (watch.Size || watch.Rows)
                jpeg.OnHeader = [&](int32_t width, int32_t height, int stored) {
                    asStored = !options.AutoRotate || stored == 1;
                    const bool turned = options.AutoRotate && stored >= 5 && stored <= 8;
                    if (watch.Size)
                        watch.Size(turned ? height : width, turned ? width : height);
                };
            if (watch.Rows)
                jpeg.OnRows = [&](const TBitmap& rows, int32_t count) {
                    if (asStored)
                        watch.Rows(rows, count);
                };
            jpeg.LoadFromFile(fileName);
            jpeg.TakePicture(loaded);
            if (options.AutoRotate)
                orientation = jpeg.Orientation();
        } else if (ext == ".png") {
            TVelPNG png;
            png.OnProgress = progress;
            png.ApplyColorProfile = options.ColorProfile;
            png.LoadFromFile(fileName);
            png.TakePicture(loaded);
        } else {
            // Through the plug-ins. A name that is no regular file is refused here, before any
            // plug-in could block on it.
            { TFileStream probe(fileName, TFileMode::fmOpenRead); }
            TSPIBitmap spi;
            spi.OnProgress = progress;
            spi.OnSize = watch.Size;
            spi.ApplyColorProfile = options.ColorProfile;
            spi.LoadFromFile(fileName);
            loaded.TakeOver(spi);
        }
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(std::string(e.what()) + "\r" + fileName);
    } catch (const EPictureSize& e) {
        throw EPictureSize(std::string(e.what()) + "\r" + fileName);
    }
    // A file that decodes to nothing (no image data, a zero size) is an unreadable file, not
    // an empty picture to show or write.
    if (loaded.Empty())
        throw EInvalidGraphic("画像が含まれていません。\r" + fileName);
    ApplyOrientation(loaded, orientation);
    picture.TakeOver(loaded);
}

std::optional<TSaveFormat> SaveFormatOf(const std::string& fileName)
{
    const std::string ext = LowerAscii(ExtractFileExt(fileName));
    if (ext == ".bmp")
        return TSaveFormat::Bmp;
    if (ext == ".jpg" || ext == ".jpeg")
        return TSaveFormat::Jpeg;
    if (ext == ".png")
        return TSaveFormat::Png;
    return std::nullopt;
}

std::string NameForFormat(const std::string& fileName, TSaveFormat format)
{
    if (SaveFormatOf(fileName) == format)
        return fileName;
    const char* ext = format == TSaveFormat::Bmp ? "bmp" : format == TSaveFormat::Jpeg ? "jpg" : "png";
    return fileName + (fileName.ends_with('.') ? "" : ".") + ext;
}

void SavePicture(const std::string& fileName, const TBitmap& picture, TSaveFormat format,
                 const TJpegSettings& jpegSettings, const TPngSettings& pngSettings)
{
    if (format == TSaveFormat::Bmp) {
        picture.SaveToFile(fileName);
        return;
    }
    if (format == TSaveFormat::Png) {
        TVelPNG png;
        png.Borrow(picture);
        png.FilterType = pngSettings.Filter;
        png.CompressionLevel = pngSettings.Level;
        png.SaveToFile(fileName);
        return;
    }
    TJPEGImage jpeg;
    jpeg.Borrow(picture);
    jpeg.SetCompressionQuality(jpegSettings.Quality);
    jpeg.SetProgressiveEncoding(jpegSettings.Progressive);
    jpeg.SaveToFile(fileName);
}

}  // namespace nolvi2
