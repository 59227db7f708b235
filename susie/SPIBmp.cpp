#include "SPIBmp.h"

#include "platform/ColorProfile.h"
#include "platform/Format.h"
#include "platform/PictureSize.h"
#include "platform/Streams.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace nolvi2 {

namespace {

int32_t Get32(const uint8_t* p) { return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

std::unique_ptr<TGraphic> CreateSPIGraphic() { return std::make_unique<TSPIGraphic>(); }
std::unique_ptr<TGraphic> CreateSPIBitmap() { return std::make_unique<TSPIBitmap>(); }

// The values derived from a BITMAPINFO block, or false when it does not describe a picture
// the program can take: a 40-byte header, or a 124-byte one (BITMAPV5HEADER) that may embed a
// colour profile inside the block after the colour table; uncompressed rows, or 32-bit CMYK
// (BI_CMYK) ones; sizes within the bitmap model's limits (65535 a side, 2^28 pixels), and a
// biSizeImage of 0 or at least the rows' size. The sizes of the blocks are the plug-in's
// word (spi.h): the header's first 4 bytes say how much more of the info block may be read.
struct TDibLayout {
    int32_t Width, Height, BitCount, Colors, InfoSize;
    int64_t ImageSize;
    bool Cmyk;
    int32_t ProfileData, ProfileSize;  // counted from the header's start; 0 without a profile
};

constexpr uint32_t kBiRgb = 0, kBiCmyk = 11;
constexpr int32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr int32_t kMaxProfile = int32_t(64) << 20;

bool Layout(const uint8_t* info, TDibLayout& l)
{
    const int32_t headerSize = Get32(info);
    l.Width = Get32(info + 4);
    l.Height = Get32(info + 8);
    l.BitCount = Get16(info + 14);
    const auto compression = uint32_t(Get32(info + 16));
    const int32_t used = Get32(info + 32);
    if ((headerSize != 40 && headerSize != 124) || l.Width <= 0 || l.Width > kMaxPictureSide || l.Height == 0 ||
        l.Height < -kMaxPictureSide || l.Height > kMaxPictureSide ||
        int64_t(l.Width) * std::abs(int64_t(l.Height)) > kMaxPicturePixels)
        return false;
    l.Cmyk = compression == kBiCmyk && l.BitCount == 32;
    if (compression != kBiRgb && !l.Cmyk)
        return false;
    if (l.BitCount != 1 && l.BitCount != 4 && l.BitCount != 8 && l.BitCount != 16 && l.BitCount != 24 &&
        l.BitCount != 32)
        return false;
    if (used < 0 || used > 256 || (l.BitCount <= 8 && used > (1 << l.BitCount)))
        return false;
    l.Colors = used != 0 ? used : l.BitCount == 1 ? 2 : l.BitCount == 4 ? 16 : l.BitCount == 8 ? 256 : 0;
    l.InfoSize = headerSize + 4 * l.Colors;
    l.ImageSize = ((int64_t(l.BitCount) * l.Width + 31) / 32) * 4 * std::abs(int64_t(l.Height));
    const int64_t declared = int64_t(uint32_t(Get32(info + 20)));
    if (declared != 0 && declared < l.ImageSize)
        return false;
    l.ProfileData = l.ProfileSize = 0;
    if (headerSize == 124 && Get32(info + 56) == kProfileEmbedded && Get32(info + 116) != 0) {
        l.ProfileData = Get32(info + 112);
        l.ProfileSize = Get32(info + 116);
        if (l.ProfileData < l.InfoSize || l.ProfileSize < 0 || l.ProfileSize > kMaxProfile ||
            l.ProfileData > kMaxProfile)
            return false;
        l.InfoSize = l.ProfileData + l.ProfileSize;
    }
    // Inks come only with the profile they are to be converted by.
    return !l.Cmyk || l.ProfileSize > 0;
}

// CMYK (0 meaning no ink) to BGR by the ink formula, truncated: R = (255 − K)(255 − C) / 255.
void InksToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t width)
{
    for (int32_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const int k = 255 - cmyk[3];
        bgr[0] = uint8_t(k * (255 - cmyk[2]) / 255);
        bgr[1] = uint8_t(k * (255 - cmyk[1]) / 255);
        bgr[2] = uint8_t(k * (255 - cmyk[0]) / 255);
    }
}

}  // namespace

TInSPIAbleData::~TInSPIAbleData() { FreeHandles(); }

void TInSPIAbleData::FreeHandles()
{
    std::free(FInfo);
    std::free(FBits);
    std::free(FPictureInfo.hInfo);
    FInfo = nullptr;
    FBits = nullptr;
    FPictureInfo.hInfo = nullptr;
}

void TInSPIAbleData::DoProgress(TProgressStage stage, uint8_t percent, const std::string& message)
{
    if (OnProgress)
        OnProgress(FGraphic, stage, percent, stage == psEnding, TRect{0, 0, 0, 0}, message);
}

int32_t TInSPIAbleData::CallbackPercent(int32_t num, int32_t denom)
{
    if (denom == 0)
        return -1 + 2;
    // Halves away from zero, on a 64-bit product.
    const int64_t p = int64_t(num) * 97;
    const int64_t q = p / denom, r = p % denom;
    const int64_t rounded = 2 * std::abs(r) >= std::abs(int64_t(denom)) ? q + ((p < 0) != (denom < 0) ? -1 : 1) : q;
    return int32_t(std::clamp<int64_t>(rounded, INT32_MIN + 2, INT32_MAX - 2) + 2);
}

int32_t TInSPIAbleData::ProgressCallback(int32_t num, int32_t denom, intptr_t lData)
{
    auto* data = reinterpret_cast<TInSPIAbleData*>(lData);
    if (!data || !data->OnProgress)
        return 0;
    // No exception may cross the plug-in's frames: the abort asks it to stop, any other
    // error stops it too and is raised again once it has returned.
    try {
        data->DoProgress(psRunning, uint8_t(std::clamp(CallbackPercent(num, denom), 0, 100)), {});
        return 0;
    } catch (const EAbort&) {
        return 1;
    } catch (...) {
        data->FFailure = std::current_exception();
        return 1;
    }
}

void TInSPIAbleData::CheckHandles()
{
    if (IsEmpty()) {
        FreeHandles();
        return;
    }
    // The blocks are taken at the header's word (spi.h): what it says must hang together, and
    // the program reads no more than it says.
    TDibLayout l{};
    if (!Layout(LockInfo(), l))
        FreeHandles();
}

void TInSPIAbleData::TryPlugin(TSPI& spi, const uint8_t* header, int32_t offset)
{
    if (!HasOffset(offset) || spi.IsSupported(FileName.c_str(), header + offset) == 0)
        return;
    if (ReadInfo(spi, offset, FPictureInfo) == 0 && OnSize && FPictureInfo.width > 0 && FPictureInfo.height > 0)
        OnSize(FPictureInfo.width, FPictureInfo.height);
    // A failed call's handles are not the program's: they are forgotten, not freed.
    const auto taken = [this](int32_t result) {
        if (result != 0)
            FInfo = FBits = nullptr;
        return result == 0;
    };
    TSPIs* registry = TSPIs::GetSPIs();
    if (!(registry && registry->GraphicPreview && taken(ReadPreview(spi, offset))))
        taken(ReadPicture(spi, offset));
    if (FFailure) {
        FreeHandles();
        std::rethrow_exception(std::exchange(FFailure, nullptr));
    }
    CheckHandles();
}

void TInSPIAbleData::Load()
{
    TSPIs* registry = TSPIs::GetSPIs();
    const bool macBinary = registry && registry->MacBinary;
    DoProgress(psStarting, 0, "Loading Graphic by Susie Plugin");
    struct EndReport {
        TInSPIAbleData& d;
        ~EndReport()
        {
            try {
                d.DoProgress(psEnding, 100, "Loaded Graphic by Susie Plugin");
            } catch (...) {
                // The ending report cannot fail the load.
            }
        }
    } end{*this};
    FreeHandles();
    DoProgress(psRunning, 1, "Seeking enabled Susie Plugins");
    std::vector<TSPI*> candidates;
    if (registry)
        registry->GetPluginList({TSPIKind::In}, candidates, FileName);
    uint8_t header[2048 + 128] = {};
    ReadHeader(header, sizeof header);
    for (TSPI* spi : candidates) {
        for (const int32_t offset : {0, 128}) {
            if (offset == 128 && !macBinary)
                break;
            const std::string& path = spi->FileName();
            DoProgress(psRunning, 1, "Loading by [" + path.substr(path.rfind('/') + 1) + "]");
            TryPlugin(*spi, header, offset);
            if (!IsEmpty())
                return;
            FreeHandles();
        }
    }
}

TInSPIAbleFromFile::TInSPIAbleFromFile(TSPIGraphic* graphic, const std::string& fileName) : TInSPIAbleData(graphic)
{
    FileName = fileName;
}

void TInSPIAbleFromFile::ReadHeader(uint8_t* buffer, std::size_t size)
{
    try {
        TFileStream stream(FileName, TFileMode::fmOpenRead);
        stream.Read(buffer, int64_t(size));
    } catch (const Exception&) {
        // The header stays zero-filled and the plug-ins are asked all the same.
    }
}

int32_t TInSPIAbleFromFile::ReadInfo(TSPI& spi, int32_t offset, SpiPictureInfo& info)
{
    return spi.GetPictureInfo(FileName.c_str(), offset, 0, &info);
}

int32_t TInSPIAbleFromFile::ReadPreview(TSPI& spi, int32_t offset)
{
    return spi.GetPreview(FileName.c_str(), offset, 0, &FInfo, &FBits, &ProgressCallback, intptr_t(this));
}

int32_t TInSPIAbleFromFile::ReadPicture(TSPI& spi, int32_t offset)
{
    return spi.GetPicture(FileName.c_str(), offset, 0, &FInfo, &FBits, &ProgressCallback, intptr_t(this));
}

TInSPIAbleFromStream::TInSPIAbleFromStream(TSPIGraphic* graphic, const std::string& fileName, TStream& stream)
    : TInSPIAbleData(graphic)
{
    FileName = fileName;
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        FMemory = memory->Memory() + memory->Position();
        FSize = memory->Size() - memory->Position();
    } else {
        FSize = stream.Size() - stream.Position();
        if (FSize > INT32_MAX)
            throw EInvalidGraphic(kSPICouldNotDecode);
        FOwnedCopy = std::make_unique<uint8_t[]>(std::size_t(std::max<int64_t>(FSize, 1)));
        stream.ReadBuffer(FOwnedCopy.get(), FSize);
        FMemory = FOwnedCopy.get();
    }
    if (FSize > INT32_MAX)
        throw EInvalidGraphic(kSPICouldNotDecode);
}

void TInSPIAbleFromStream::ReadHeader(uint8_t* buffer, std::size_t size)
{
    if (FMemory)
        std::memcpy(buffer, FMemory, std::size_t(std::min<int64_t>(int64_t(size), FSize)));
}

int32_t TInSPIAbleFromStream::ReadInfo(TSPI& spi, int32_t offset, SpiPictureInfo& info)
{
    return spi.GetPictureInfo(reinterpret_cast<const char*>(FMemory + offset), int32_t(FSize - offset), 1, &info);
}

int32_t TInSPIAbleFromStream::ReadPreview(TSPI& spi, int32_t offset)
{
    return spi.GetPreview(reinterpret_cast<const char*>(FMemory + offset), int32_t(FSize - offset), 1, &FInfo, &FBits,
                          &ProgressCallback, intptr_t(this));
}

int32_t TInSPIAbleFromStream::ReadPicture(TSPI& spi, int32_t offset)
{
    return spi.GetPicture(reinterpret_cast<const char*>(FMemory + offset), int32_t(FSize - offset), 1, &FInfo, &FBits,
                          &ProgressCallback, intptr_t(this));
}

const TGraphicClass& TSPIGraphic::ClassInfo()
{
    static const TGraphicClass cls{"TSPIGraphic", nullptr, &CreateSPIGraphic};
    return cls;
}

TSPIGraphic::~TSPIGraphic() = default;

void TSPIGraphic::Clear()
{
    FData.reset();
    FInfoReady = false;
}

void TSPIGraphic::LoadData(std::unique_ptr<TInSPIAbleData> data)
{
    try {
        data->OnProgress = OnProgress;
        data->OnSize = OnSize;
        FData = std::move(data);
        FData->Load();
        if (FData->IsEmpty())
            throw EInvalidGraphic(kSPICouldNotDecode);
    } catch (...) {
        Clear();
        throw;
    }
}

void TSPIGraphic::LoadFromFile(const std::string& fileName)
{
    Clear();
    LoadData(std::make_unique<TInSPIAbleFromFile>(this, fileName));
}

void TSPIGraphic::LoadFromStreamWithName(TStream& stream, const std::string& fileName)
{
    Clear();
    LoadData(std::make_unique<TInSPIAbleFromStream>(this, fileName, stream));
}

void TSPIGraphic::UpdateInfo() const
{
    if (FInfoReady)
        return;
    FInfoReady = true;
    TDibLayout l{};
    if (Empty() || !Layout(FData->LockInfo(), l)) {
        FWidth = FHeight = FColors = FInfoSize = FBitCount = FProfileData = FProfileSize = 0;
        FImageSize = 0;
        FCmyk = false;
        return;
    }
    FWidth = l.Width;
    FHeight = l.Height;
    FBitCount = l.BitCount;
    FCmyk = l.Cmyk;
    FProfileData = l.ProfileData;
    FProfileSize = l.ProfileSize;
    FColors = l.Colors;
    FInfoSize = l.InfoSize;
    FImageSize = l.ImageSize;
}

int32_t TSPIGraphic::Width() const { return UpdateInfo(), FWidth; }
int32_t TSPIGraphic::Height() const { return UpdateInfo(), FHeight; }
int32_t TSPIGraphic::Colors() const { return UpdateInfo(), FColors; }
int32_t TSPIGraphic::InfoSize() const { return UpdateInfo(), FInfoSize; }
int64_t TSPIGraphic::ImageSize() const { return UpdateInfo(), FImageSize; }
bool TSPIGraphic::Is16Color() const { return UpdateInfo(), FBitCount == 4; }

void TSPIGraphic::SaveToStream(TStream& stream) const
{
    UpdateInfo();
    if (Empty())
        throw EInvalidGraphic(kSPICouldNotDecode);
    if (FCmyk) {
        // No BMP holds inks: the picture is written as converted.
        TBitmap b;
        AssignTo(b);
        b.SaveToStream(stream);
        return;
    }
    uint8_t header[14] = {'B', 'M'};
    Put32(header + 2, uint32_t(14 + FInfoSize + FImageSize));
    Put32(header + 10, uint32_t(14 + FInfoSize));
    stream.WriteBuffer(header, sizeof header);
    stream.WriteBuffer(FData->LockInfo(), FInfoSize);
    stream.WriteBuffer(FData->LockBits(), FImageSize);
}

void TSPIGraphic::ConvertInks(TBitmap& dest) const
{
    const uint8_t* info = FData->LockInfo();
    const std::span<const uint8_t> profile(info + FProfileData, std::size_t(FProfileSize));
    const auto conversion = ApplyColorProfile ? TSrgbConversion::For(profile, TProfileInput::Cmyk) : nullptr;
    TBitmap b(FWidth, std::abs(FHeight), TPixelFormat::pf24bit);
    const std::size_t stride = std::size_t(FWidth) * 4;
    for (int32_t y = 0; y < b.Height(); ++y) {
        const int32_t stored = FHeight < 0 ? y : b.Height() - 1 - y;
        const uint8_t* row = FData->LockBits() + std::size_t(stored) * stride;
        if (conversion)
            conversion->Convert(row, b.ScanLine(y), std::size_t(FWidth));
        else
            InksToBgr(row, b.ScanLine(y), FWidth);
    }
    dest.TakeOver(b);
}

void TSPIGraphic::AssignTo(TBitmap& dest) const
{
    UpdateInfo();
    if (!Empty() && FCmyk) {
        ConvertInks(dest);
        return;
    }
    TMemoryStream bmp;
    SaveToStream(bmp);
    bmp.SetPosition(0);
    TBitmap b;
    b.ApplyColorProfile = ApplyColorProfile;
    b.LoadFromStream(bmp);
    dest.TakeOver(b);
}

void TSPIGraphic::TransferTo(TBitmap& dest)
{
    UpdateInfo();
    if (!Empty() && FCmyk) {
        ConvertInks(dest);
        Clear();
        return;
    }
    if (!Empty() && FBitCount == 24) {
        // The plug-in's rows become the picture's, turned top down in place: no copy.
        const int32_t width = FWidth, height = std::abs(FHeight);
        const bool bottomUp = FHeight > 0;
        std::vector<uint8_t> profile;
        if (ApplyColorProfile && FProfileSize > 0)
            profile.assign(FData->LockInfo() + FProfileData, FData->LockInfo() + FProfileData + FProfileSize);
        auto* bits = static_cast<uint8_t*>(FData->ReleaseBits());
        Clear();
        TBitmap b;
        b.AdoptPixels(TPixelFormat::pf24bit, width, height, bits);
        if (bottomUp) {
            std::vector<uint8_t> row(b.Stride());
            for (int32_t y = 0, z = height - 1; y < z; ++y, --z) {
                std::memcpy(row.data(), b.ScanLine(y), row.size());
                std::memcpy(b.ScanLine(y), b.ScanLine(z), row.size());
                std::memcpy(b.ScanLine(z), row.data(), row.size());
            }
        }
        ConvertToSrgb(b, profile);
        dest.TakeOver(b);
        return;
    }
    TMemoryStream bmp;
    SaveToStream(bmp);
    Clear();  // the plug-in's blocks go before the bitmap reads its copy
    bmp.SetPosition(0);
    TBitmap b;
    b.ApplyColorProfile = ApplyColorProfile;
    b.LoadFromStream(bmp);
    dest.TakeOver(b);
}

bool TSPIBitmap::IsBmpName(const std::string& fileName)
{
    const std::string name = fileName.substr(fileName.rfind('/') == std::string::npos ? 0 : fileName.rfind('/') + 1);
    const auto dot = name.rfind('.');
    return dot != std::string::npos && LowerAscii(name.substr(dot)) == ".bmp";
}

TSPIBitmap::TEndReport::~TEndReport()
{
    try {
        Bitmap.Finish();
    } catch (...) {
        // The ending report cannot fail the load.
    }
}

const TGraphicClass& TSPIBitmap::ClassInfo()
{
    static const TGraphicClass cls{"TSPIBitmap", &TBitmap::ClassInfo(), &CreateSPIBitmap};
    return cls;
}

void TSPIBitmap::ProgressRelay(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                               const std::string& message)
{
    if (stage != psEnding && OnProgress)
        OnProgress(this, stage, percent, redrawNow, rect, message);
}

void TSPIBitmap::Finish()
{
    if (OnProgress)
        OnProgress(this, psEnding, 100, true, TRect{0, 0, Width(), Height()}, "Loaded Graphic");
}

void TSPIBitmap::AssignSPIGraphic(std::unique_ptr<TGraphic> graphic)
{
    if (!graphic)
        throw EInvalidGraphic(kSPICouldNotDecode);
    if (auto* spi = dynamic_cast<TSPIGraphic*>(graphic.get()))
        spi->TransferTo(*this);  // a 16-colour picture keeps its colour table through the BMP
    else
        graphic->AssignTo(*this);
}

void TSPIBitmap::LoadFromFile(const std::string& fileName)
{
    const TEndReport ending{*this};
    const bool bmpFirst = IsBmpName(fileName);
    const auto relay = [this](TObject*, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                              const std::string& msg) { ProgressRelay(stage, percent, redraw, r, msg); };
    std::unique_ptr<TGraphic> result;
    for (const bool spiClass : {!bmpFirst, bmpFirst}) {
        try {
            if (spiClass) {
                auto g = std::make_unique<TSPIGraphic>();
                g->OnProgress = relay;
                g->OnSize = OnSize;
                g->ApplyColorProfile = ApplyColorProfile;
                g->LoadFromFile(fileName);
                result = std::move(g);
            } else {
                auto g = std::make_unique<TBitmap>();
                g->OnProgress = relay;
                g->ApplyColorProfile = ApplyColorProfile;
                g->LoadFromFile(fileName);
                result = std::move(g);
            }
            break;
        } catch (const EAbort&) {
            throw;
        } catch (const Exception&) {
            // The other decoder is tried.
        }
    }
    AssignSPIGraphic(std::move(result));
}

void TSPIBitmap::LoadFromStreamWithName(TStream& stream, const std::string& fileName)
{
    const TEndReport ending{*this};
    const bool bmpFirst = IsBmpName(fileName);
    const int64_t start = stream.Position();
    std::unique_ptr<TGraphic> result;
    for (const bool spiClass : {!bmpFirst, bmpFirst}) {
        try {
            stream.SetPosition(start);
            if (spiClass) {
                auto g = std::make_unique<TSPIGraphic>();
                g->ApplyColorProfile = ApplyColorProfile;
                g->LoadFromStreamWithName(stream, fileName);
                result = std::move(g);
            } else {
                auto g = std::make_unique<TBitmap>();
                g->ApplyColorProfile = ApplyColorProfile;
                g->LoadFromStream(stream);
                result = std::move(g);
            }
            break;
        } catch (const Exception&) {
        }
    }
    AssignSPIGraphic(std::move(result));
}

}  // namespace nolvi2
