#pragma once
// Decoding pictures through the registered import plug-ins: a data source (a file or a
// stream) asks the candidate plug-ins one after another until one decodes it; TSPIGraphic
// holds what that plug-in returned; TSPIBitmap is a bitmap that loads itself through
// TSPIGraphic (or the BMP reader) and then holds an ordinary picture. The plug-in's
// BITMAPINFO and rows reach the bitmap as a BMP file in memory, read by the BMP reader, which
// converts a colour profile embedded in a V5 header (ApplyColorProfile); CMYK rows are
// converted by their profile here.

#include "SPIs.h"
#include "platform/Bitmap.h"
#include "platform/Graphics.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace nolvi2 {

class TSPIGraphic;

// The message of a picture no plug-in could decode.
inline constexpr const char* kSPICouldNotDecode = "Susie Plugins could not decode";

class TInSPIAbleData {
public:
    explicit TInSPIAbleData(TSPIGraphic* graphic) : FGraphic(graphic) {}
    virtual ~TInSPIAbleData();
    TInSPIAbleData(const TInSPIAbleData&) = delete;
    TInSPIAbleData& operator=(const TInSPIAbleData&) = delete;

    // Asks the candidates (those listing the file's extension first), at offset 0 and, with
    // the registry's MacBinary, 128, until one decodes the data.
    void Load();
    // True unless a plug-in has returned a picture that holds together.
    bool IsEmpty() const { return !FInfo || !FBits; }
    const uint8_t* LockInfo() const { return static_cast<const uint8_t*>(FInfo); }
    const uint8_t* LockBits() const { return static_cast<const uint8_t*>(FBits); }
    void FreeHandles();
    // The pixel block, no longer freed here.
    void* ReleaseBits() { return std::exchange(FBits, nullptr); }

    // The plug-in's progress callback; lData is the data source.
    static int32_t ProgressCallback(int32_t num, int32_t denom, intptr_t lData);
    // The percentage it reports: num × 97 / denom rounded half away from zero, plus 2
    // (a denominator of 0 gives 1).
    static int32_t CallbackPercent(int32_t num, int32_t denom);

    std::string FileName;
    TProgressEvent OnProgress;
    // Told the size a plug-in's GetPictureInfo gives, before it is asked for the picture.
    std::function<void(int32_t width, int32_t height)> OnSize;

protected:
    virtual void ReadHeader(uint8_t* buffer, std::size_t size) = 0;
    virtual int32_t ReadInfo(TSPI& spi, int32_t offset, SpiPictureInfo& info) = 0;
    virtual int32_t ReadPreview(TSPI& spi, int32_t offset) = 0;
    virtual int32_t ReadPicture(TSPI& spi, int32_t offset) = 0;
    // Whether the data reaches past offset (a stream shorter than the MacBinary header does not).
    virtual bool HasOffset(int32_t offset) const { return offset >= 0; }

    void* FInfo = nullptr;
    void* FBits = nullptr;

private:
    void TryPlugin(TSPI& spi, const uint8_t* header, int32_t offset);
    // Keeps the returned blocks when they hold a picture the program can take, else frees them.
    void CheckHandles();
    void DoProgress(TProgressStage stage, uint8_t percent, const std::string& message);

    TSPIGraphic* FGraphic;
    SpiPictureInfo FPictureInfo{};
    std::exception_ptr FFailure;  // an error of the progress handler, carried past the plug-in
};

class TInSPIAbleFromFile : public TInSPIAbleData {
public:
    TInSPIAbleFromFile(TSPIGraphic* graphic, const std::string& fileName);

protected:
    void ReadHeader(uint8_t* buffer, std::size_t size) override;
    int32_t ReadInfo(TSPI& spi, int32_t offset, SpiPictureInfo& info) override;
    int32_t ReadPreview(TSPI& spi, int32_t offset) override;
    int32_t ReadPicture(TSPI& spi, int32_t offset) override;
};

class TInSPIAbleFromStream : public TInSPIAbleData {
public:
    // A memory stream's block is used in place; any other stream is copied.
    TInSPIAbleFromStream(TSPIGraphic* graphic, const std::string& fileName, TStream& stream);

protected:
    void ReadHeader(uint8_t* buffer, std::size_t size) override;
    int32_t ReadInfo(TSPI& spi, int32_t offset, SpiPictureInfo& info) override;
    int32_t ReadPreview(TSPI& spi, int32_t offset) override;
    int32_t ReadPicture(TSPI& spi, int32_t offset) override;
    bool HasOffset(int32_t offset) const override { return offset >= 0 && int64_t(offset) <= FSize; }

private:
    const uint8_t* FMemory = nullptr;
    int64_t FSize = 0;
    std::unique_ptr<uint8_t[]> FOwnedCopy;
};

class TSPIGraphic : public TGraphic {
public:
    TSPIGraphic() = default;
    ~TSPIGraphic() override;

    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }
    int32_t Width() const override;
    int32_t Height() const override;  // as stored: negative for top-down rows
    bool Empty() const override { return !FData || FData->IsEmpty(); }

    // The plug-ins read the file by its name, those listing its extension asked first.
    void LoadFromFile(const std::string& fileName) override;
    // Told the size the plug-in that is asked says the picture has, before it decodes it.
    std::function<void(int32_t width, int32_t height)> OnSize;
    void LoadFromStream(TStream& stream) override { LoadFromStreamWithName(stream, {}); }
    void LoadFromStreamWithName(TStream& stream, const std::string& fileName);
    // The picture as a BMP file: a 14-byte file header, the BITMAPINFO and the rows.
    void SaveToStream(TStream& stream) const override;
    void AssignTo(TBitmap& dest) const override;
    // The picture read into dest through the BMP reader; the plug-in's blocks are freed as
    // soon as the BMP is written.
    void TransferTo(TBitmap& dest);
    void Clear();

    int32_t Colors() const;
    int32_t InfoSize() const;
    int64_t ImageSize() const;
    bool Is16Color() const;

private:
    void LoadData(std::unique_ptr<TInSPIAbleData> data);
    void UpdateInfo() const;
    // A CMYK picture into dest, converted by its profile (or the ink formula).
    void ConvertInks(TBitmap& dest) const;

    std::unique_ptr<TInSPIAbleData> FData;
    mutable bool FInfoReady = false;
    mutable int32_t FWidth = 0, FHeight = 0, FColors = 0, FInfoSize = 0, FBitCount = 0;
    mutable int64_t FImageSize = 0;
    mutable int32_t FProfileData = 0, FProfileSize = 0;
    mutable bool FCmyk = false;
};

class TSPIBitmap : public TBitmap {
public:
    TSPIBitmap() = default;

    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    // ".BMP" files go to the BMP reader first, everything else to the plug-ins first; the
    // other is tried when the first fails. "Susie Plugins could not decode" when both fail.
    void LoadFromFile(const std::string& fileName) override;
    void LoadFromStream(TStream& stream) override { LoadFromStreamWithName(stream, {}); }
    void LoadFromStreamWithName(TStream& stream, const std::string& fileName);
    // Told the size the plug-in that is asked says the picture has, before it decodes it.
    std::function<void(int32_t width, int32_t height)> OnSize;

private:
    void AssignSPIGraphic(std::unique_ptr<TGraphic> graphic);
    void ProgressRelay(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                       const std::string& message);
    void Finish();
    // The bitmap reader comes first for a file name ending in ".bmp" (any case).
    static bool IsBmpName(const std::string& fileName);
    // Sends the ending report when a load leaves, whichever way.
    struct TEndReport {
        TSPIBitmap& Bitmap;
        ~TEndReport();
    };
};

}  // namespace nolvi2
