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

using R = TEnableRule;
using PF = TPixelFormat;

constexpr TEnableEntry kEnabling[] = {
    {"actSaveAsBMP", R::Picture},
    {"actCopy", R::Picture},
    {"actResize", R::Picture},
    {"actRotate90", R::Picture},
    {"actRotate180", R::Picture},
    {"actRotate270", R::Picture},
    {"actFlipHorizontal", R::Picture},
    {"actFlipVertical", R::Picture},
    {"actGrassHorizontal", R::Picture},
    {"actGrassVertical", R::Picture},
    {"actWinMask", R::Picture},
    {"actInvert", R::Picture},
    {"actSolarize", R::Picture},
    {"actGrayScale", R::Picture},
    {"actDesaturate", R::Picture},
    {"actXor", R::Picture},
    {"actRGBSwitchRGB", R::Picture},
    {"actRGBSwitchRG", R::Picture},
    {"actRGBSwitchGB", R::Picture},
    {"actRGBSwitchBR", R::Picture},
    {"actGammaPlus", R::Picture},
    {"actGammaMinus", R::Picture},
    {"actFilterLowpass", R::Picture},
    {"actFilterLowpassLow", R::Picture},
    {"actFilterLowpassWeak", R::Picture},
    {"actFilterSharpLow", R::Picture},
    {"actFilterSharpMiddle", R::Picture},
    {"actFilterSharpHigh", R::Picture},
    {"actFilterLaplacian4", R::Picture},
    {"actFilterLaplacian8", R::Picture},
    {"actFilterLaplacian82", R::Picture},
    {"actMaskNijiiro", R::Picture},
    {"actZoomIn", R::Picture},
    {"actZoomOut", R::Picture},
    {"actZoomActualPixels", R::Picture},
    {"actJpegPreview", R::Picture},
    {"actJpegPreview80", R::Picture},
    {"actJpegPreview60", R::Picture},
    {"actJpegPreview30", R::Picture},
    {"actJpegPreview10", R::Picture},
    {"actNextFile", R::File},
    {"actPrevFile", R::File},
    {"actReopen", R::File},
    {"actSaveAsJPEG", R::PictureAndPreview},
    {"actJpegProgressive", R::PictureAndPreview},
    {"actJpegPreviewUp", R::PictureAndPreview},
    {"actJpegPreviewDown", R::PictureAndPreview},
    {"actNewWindow", R::PictureAndFile},
    {"actPf1bit", R::PixelFormat, PF::pf1bit},
    {"actPf4bit", R::PixelFormat, PF::pf4bit},
    {"actPf8bit", R::PixelFormat, PF::pf8bit},
    {"actPf24bit", R::PixelFormat, PF::pf24bit},
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
