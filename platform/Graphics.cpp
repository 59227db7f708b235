#include "Graphics.h"

#include "Bitmap.h"
#include "Format.h"
#include "JPEGImage.h"
#include "SafeFile.h"
#include "Streams.h"

#include <utility>

namespace nolvi2 {

bool TGraphicClass::InheritsFrom(const TGraphicClass& other) const
{
    for (const TGraphicClass* c = this; c; c = c->Parent)
        if (c == &other)
            return true;
    return false;
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream f(fileName, TFileMode::fmOpenRead);
    LoadFromStream(f);
}

void TGraphic::SaveToFile(const std::string& fileName) const
{
    WriteFileSafely(fileName, [this](TStream& s) { SaveToStream(s); });
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent, const std::string& msg)
{
    if (OnProgress)
        OnProgress(this, stage, percent, false, TRect{}, msg);
}

static std::function<void()>& PendingRegistrations()
{
    static std::function<void()> pending;
    return pending;
}

TPictureFormats& TPictureFormats::Instance()
{
    static TPictureFormats table = [] {
        TPictureFormats t;
        t.Register("bmp", "ビットマップ", TBitmap::ClassInfo());
        t.Register("jpg", "JPEG 画像ファイル", TJPEGImage::ClassInfo());
        t.Register("jpeg", "JPEG 画像ファイル", TJPEGImage::ClassInfo());
        return t;
    }();
    // Taken out before it runs, so that its own registrations find nothing pending.
    if (std::function<void()> pending = std::exchange(PendingRegistrations(), nullptr))
        pending();
    return table;
}

void TPictureFormats::Defer(std::function<void()> registrations) { PendingRegistrations() = std::move(registrations); }

void TPictureFormats::Register(std::string_view extension, std::string_view description,
                               const TGraphicClass& cls)
{
    FFormats.push_back(TFileFormat{LowerAscii(extension), std::string(description), &cls});
}

void TPictureFormats::Unregister(const TGraphicClass& cls)
{
    std::erase_if(FFormats, [&](const TFileFormat& f) { return f.GraphicClass->InheritsFrom(cls); });
}

std::string TPictureFormats::GraphicExtension(const TGraphicClass& cls) const
{
    for (auto it = FFormats.rbegin(); it != FFormats.rend(); ++it)
        if (it->GraphicClass == &cls)
            return it->Extension;
    return {};
}

std::string TPictureFormats::GraphicFileMask(const TGraphicClass& cls) const
{
    std::string mask;
    for (const TFileFormat& f : FFormats) {
        if (!f.GraphicClass->InheritsFrom(cls))
            continue;
        if (!mask.empty())
            mask += ';';
        mask += "*." + f.Extension;
    }
    return mask;
}

std::string TPictureFormats::GraphicFilter(const TGraphicClass& cls, bool withDescendants) const
{
    std::string filters;
    std::string descriptions;
    for (const TFileFormat& f : FFormats) {
        if (withDescendants ? !f.GraphicClass->InheritsFrom(cls) : f.GraphicClass != &cls)
            continue;
        const std::string pattern = "*." + f.Extension;
        if (!filters.empty()) {
            filters += ';';
            descriptions += '|';
        }
        filters += pattern;
        descriptions += f.Description + " (" + pattern + ")|" + pattern;
    }
    if (filters.empty())
        return {};
    return "すべて (" + filters + ")|" + filters + "|" + descriptions;
}

const TGraphicClass* TPictureFormats::FindExtension(std::string_view extension) const
{
    const std::string ext = LowerAscii(extension);
    for (auto it = FFormats.rbegin(); it != FFormats.rend(); ++it)
        if (it->Extension == ext)
            return it->GraphicClass;
    return nullptr;
}

}  // namespace nolvi2
