#include "WindowTitle.h"

#include "OpenPicture.h"
#include "common/OZCommon.h"

#include <cmath>

namespace nolvi2 {

std::string_view PixelFormatName(TPixelFormat pf)
{
    switch (pf) {
    case TPixelFormat::pfDevice: return "Device";
    case TPixelFormat::pf1bit: return "1";
    case TPixelFormat::pf4bit: return "4";
    case TPixelFormat::pf8bit: return "8";
    case TPixelFormat::pf15bit: return "15";
    case TPixelFormat::pf16bit: return "16";
    case TPixelFormat::pf24bit: return "24";
    case TPixelFormat::pf32bit: return "32";
    case TPixelFormat::pfCustom: return "Custom";
    }
    return "Custom";
}

int32_t ZoomPercent(float z)
{
    const long double r = std::nearbyint(static_cast<long double>(z) * 100.0L);
    // SetZoom keeps z within 0.01 to 20; anything else shows as 0 rather than overflowing.
    if (!(r >= 0 && r <= 1e9L))
        return 0;
    return static_cast<int32_t>(r);
}

std::string CaptionText(const TCaptionState& state)
{
    if (state.PictureEmpty)
        return std::string(state.ApplicationTitle);
    std::string text;
    if (state.SelectionDragging) {
        const TRect& s = state.Selection;
        text = "開始:" + std::to_string(s.Left) + "," + std::to_string(s.Top) + " サイズ:" +
               std::to_string(s.Width()) + "," + std::to_string(s.Height());
    } else if (state.JpegPreview) {
        text = "JPEG 画質" + std::to_string(state.JpegQuality) + " " + FormatSize(state.JpegSize);
    } else {
        text = ExtractFileName(std::string(state.FileName)) + " [" + std::to_string(state.Width) + "x" +
               std::to_string(state.Height) + "x" + std::string(PixelFormatName(state.PixelFormat)) + "]";
    }
    return text + " @ " + std::to_string(ZoomPercent(state.Zoom)) + "%";
}

std::string ProgressCaption(TProgressStage stage, uint8_t percent)
{
    const int n = stage == psStarting ? 0 : stage == psEnding ? 100 : percent;
    return "作業中 " + std::to_string(n) + "% 完了";
}

namespace {

using A = TActionId;
using R = TEnableRule;
using PF = TPixelFormat;

constexpr TEnableEntry kEnabling[] = {
    {A::SaveAsBMP, R::Picture},
    {A::Copy, R::Picture},
    {A::Resize, R::Picture},
    {A::Rotate90, R::Picture},
    {A::Rotate180, R::Picture},
    {A::Rotate270, R::Picture},
    {A::FlipHorizontal, R::Picture},
    {A::FlipVertical, R::Picture},
    {A::GrassHorizontal, R::Picture},
    {A::GrassVertical, R::Picture},
    {A::WinMask, R::Picture},
    {A::Invert, R::Picture},
    {A::Solarize, R::Picture},
    {A::GrayScale, R::Picture},
    {A::Desaturate, R::Picture},
    {A::Xor, R::Picture},
    {A::RGBSwitchRGB, R::Picture},
    {A::RGBSwitchRG, R::Picture},
    {A::RGBSwitchGB, R::Picture},
    {A::RGBSwitchBR, R::Picture},
    {A::GammaPlus, R::Picture},
    {A::GammaMinus, R::Picture},
    {A::FilterLowpass, R::Picture},
    {A::FilterLowpassLow, R::Picture},
    {A::FilterLowpassWeak, R::Picture},
    {A::FilterSharpLow, R::Picture},
    {A::FilterSharpMiddle, R::Picture},
    {A::FilterSharpHigh, R::Picture},
    {A::FilterLaplacian4, R::Picture},
    {A::FilterLaplacian8, R::Picture},
    {A::FilterLaplacian82, R::Picture},
    {A::MaskNijiiro, R::Picture},
    {A::ZoomIn, R::Picture},
    {A::ZoomOut, R::Picture},
    {A::ZoomActualPixels, R::Picture},
    {A::JpegPreview, R::Picture},
    {A::JpegPreview80, R::Picture},
    {A::JpegPreview60, R::Picture},
    {A::JpegPreview30, R::Picture},
    {A::JpegPreview10, R::Picture},
    {A::NextFile, R::File},
    {A::PrevFile, R::File},
    {A::Reopen, R::File},
    {A::SaveAsJPEG, R::PictureAndPreview},
    {A::JpegProgressive, R::PictureAndPreview},
    {A::JpegPreviewUp, R::PictureAndPreview},
    {A::JpegPreviewDown, R::PictureAndPreview},
    {A::NewWindow, R::PictureAndFile},
    {A::Pf1bit, R::PixelFormat, PF::pf1bit},
    {A::Pf4bit, R::PixelFormat, PF::pf4bit},
    {A::Pf8bit, R::PixelFormat, PF::pf8bit},
    {A::Pf24bit, R::PixelFormat, PF::pf24bit},
};

}  // namespace

std::span<const TEnableEntry> EnablingTable() { return kEnabling; }

std::vector<TActionEnabling> ActionEnabling(const TEnablingState& state)
{
    const bool p = state.PictureLoaded;
    std::vector<TActionEnabling> result;
    result.reserve(std::size(kEnabling));
    for (const TEnableEntry& e : kEnabling) {
        TActionEnabling a{e.Action, false, std::nullopt};
        switch (e.Rule) {
        case R::Picture: a.Enabled = p; break;
        case R::File: a.Enabled = state.IsFile; break;
        case R::PictureAndPreview: a.Enabled = p && state.JpegPreview; break;
        case R::PictureAndFile: a.Enabled = p && state.IsFile; break;
        case R::PixelFormat:
            a.Checked = p && state.PixelFormat == e.Format;
            a.Enabled = p && !*a.Checked;
            break;
        }
        result.push_back(a);
    }
    return result;
}

}  // namespace nolvi2
