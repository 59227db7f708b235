#include "ProcessingRoad.h"

#include "image/OZBLibAdjust.h"
#include "image/OZBLibFilter.h"
#include "image/OZBLibMask.h"
#include "image/OZBLibResize.h"
#include "image/OZBLibTrans.h"
#include "image/ResultBitmap.h"

#include <cstring>

namespace nolvi2 {

std::optional<TRect> ClampSelection(const TRect& selection, int32_t w, int32_t h)
{
    if (selection.Left == -1 || selection.Left >= w || selection.Top >= h)
        return std::nullopt;
    TRect r = selection;
    if (r.Right >= w)
        r.Right = w;
    if (r.Bottom >= h)
        r.Bottom = h;
    return r;
}

namespace {

// Moves width pixels of a 1- or 4-bit row from pixel sx of src to pixel dx of dst.
void CopyPackedPixels(const uint8_t* src, int32_t sx, uint8_t* dst, int32_t dx, int32_t width, int bits)
{
    for (int32_t i = 0; i < width; ++i)
        WritePackedPixel(dst, dx + i, bits, ReadPackedPixel(src, sx + i, bits));
}

void CopyRows(const TBitmap& src, int32_t sx, int32_t sy, TBitmap& dst, int32_t dx, int32_t dy, int32_t width,
              int32_t height)
{
    const int bits = BitsPerPixel(src.PixelFormat());
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = src.ScanLine(sy + y);
        uint8_t* d = dst.ScanLine(dy + y);
        if (bits >= 8) {
            const std::size_t bpp = std::size_t(bits) / 8;
            std::memcpy(d + dx * bpp, s + sx * bpp, std::size_t(width) * bpp);
        } else {
            CopyPackedPixels(s, sx, d, dx, width, bits);
        }
    }
}

}  // namespace

std::unique_ptr<TBitmap> CopySelection(const TBitmap& picture, const TRect& rect)
{
    auto copy = CreateResult(picture, rect.Width(), rect.Height());
    CopyRows(picture, rect.Left, rect.Top, *copy, 0, 0, rect.Width(), rect.Height());
    return copy;
}

void PasteAt(TBitmap& picture, const TBitmap& part, int32_t left, int32_t top)
{
    CopyRows(part, 0, 0, picture, left, top, part.Width(), part.Height());
}

std::unique_ptr<TBitmap> RunOperation(const TCommand& command, TBitmap& input, const std::optional<TRect>& selection,
                                      const TCommandOptions& options)
{
    constexpr bool progress = true;
    constexpr int32_t interval = 128;
    switch (command.Operation) {
    case TOperation::Invert: Invert(input, progress); break;
    case TOperation::Solarize: Solarize(input, progress); break;
    case TOperation::GrayScale: GrayScale(input, progress); break;
    case TOperation::Desaturate: Desaturate(input, progress); break;
    case TOperation::XorChannels: XorChannels(input, true, true, true, progress); break;
    case TOperation::SwapRGB: SwapRGB(input, uint8_t(command.Parameter), progress); break;
    case TOperation::GammaPlus: GammaPlus(input, progress); break;
    case TOperation::GammaMinus: GammaMinus(input, progress); break;
    case TOperation::RainbowMask: RainbowMask(input, options.RainbowMaskSize); break;
    case TOperation::Rotate180: return Rotate180(input, progress, interval);
    case TOperation::FlipHorizontal: return FlipHorizontal(input, progress, interval);
    case TOperation::FlipVertical: return FlipVertical(input);
    case TOperation::GlassHorizontal: return GlassHorizontal(input, options.GrassWidth);
    case TOperation::GlassVertical: return GlassVertical(input, options.GrassWidth, progress, interval);
    case TOperation::WinMask: return WinMask(input, progress, interval);
    case TOperation::Rotate90: return Rotate90(input, progress, interval);
    case TOperation::Rotate270: return Rotate270(input, progress, interval);
    case TOperation::Filter: {
        TFilterKernel kernel{};
        MakeFilterKernel(uint8_t(command.Parameter), kernel);
        if (selection)
            return CustomFilterRect(input, *selection, interval, progress, kernel);
        return CustomFilter(input, kernel, interval, progress);
    }
    case TOperation::Resize:
        return ResizeBitmap(input, options.ResizeWidth, options.ResizeHeight, interval, progress,
                            options.ResizeAlgorithm);
    case TOperation::Crop:
        if (!selection)
            return nullptr;
        return CopySelection(input, *selection);
    }
    return nullptr;
}

namespace {

std::unique_ptr<TBitmap> RunTimed(const TCommand& command, TBitmap& input, const std::optional<TRect>& selection,
                                  const TCommandOptions& options, TChronograph& chronograph)
{
    // An operation that throws leaves the chronograph with its last completed measurement.
    std::optional<TChronographRun> run;
    if (command.Timed())
        run.emplace(chronograph, std::string(command.DisplayName));
    std::unique_ptr<TBitmap> result = RunOperation(command, input, selection, options);
    if (run)
        run->Stop();
    return result;
}

std::string ResultTitle(const TCommand& command, const std::string& fileNamePart)
{
    const std::string displayName(command.DisplayName);
    return command.TitleWithFileName() ? displayName + " " + fileNamePart : displayName;
}

// Families A and B work on a copy of the selection.
bool WorksOnSelectionCopy(const TCommand& command, const std::optional<TRect>& selection)
{
    return selection && (command.Family == TFamily::A || command.Family == TFamily::B);
}

}  // namespace

TRoadOutcome ApplyInPlace(const TCommand& command, TBitmap& picture, std::optional<TRect>& selection,
                          const TCommandOptions& options, TChronograph& chronograph,
                          const std::string& fileNamePart)
{
    TRoadOutcome outcome;
    if (picture.Empty())
        return outcome;
    if (command.Family == TFamily::F && !selection)
        return outcome;

    // The selection copy goes back in place afterwards.
    std::unique_ptr<TBitmap> selectionCopy;
    if (WorksOnSelectionCopy(command, selection))
        selectionCopy = CopySelection(picture, *selection);
    TBitmap& input = selectionCopy ? *selectionCopy : picture;
    std::unique_ptr<TBitmap> result = RunTimed(command, input, selection, options, chronograph);

    const bool inPlace = command.Family == TFamily::A;
    if (!inPlace && !result)
        return outcome;

    outcome.Applied = true;
    outcome.Title = ResultTitle(command, fileNamePart);
    outcome.ResizeWindow = command.FitsWindow();
    if (selectionCopy) {
        PasteAt(picture, result ? *result : *selectionCopy, selection->Left, selection->Top);
    } else if (result) {
        if (command.Family == TFamily::F)
            selection.reset();
        picture.TakeOver(*result);
    }
    if (selection)
        selection = ClampSelection(*selection, picture.Width(), picture.Height());
    return outcome;
}

TNewWindowResult ApplyToNewWindow(const TCommand& command, TBitmap& picture, const std::optional<TRect>& selection,
                                  const TCommandOptions& options, TChronograph& chronograph,
                                  const std::string& fileNamePart)
{
    TNewWindowResult r;
    if (picture.Empty())
        return r;
    if (command.Family == TFamily::F && !selection)
        return r;
    const TRect whole{0, 0, picture.Width(), picture.Height()};
    const bool onSelection = WorksOnSelectionCopy(command, selection);
    // Family A changes its input: the window's picture stays as it is.
    std::unique_ptr<TBitmap> copy;
    if (onSelection)
        copy = CopySelection(picture, *selection);
    else if (command.Family == TFamily::A)
        copy = CopySelection(picture, whole);
    TBitmap& input = copy ? *copy : picture;
    std::unique_ptr<TBitmap> result = RunTimed(command, input, selection, options, chronograph);
    if (command.Family != TFamily::A && !result)
        return r;

    r.Applied = true;
    r.Title = ResultTitle(command, fileNamePart);
    r.KeepSelection = command.Family != TFamily::F;
    if (onSelection) {
        r.Picture = CopySelection(picture, whole);
        PasteAt(*r.Picture, result ? *result : *copy, selection->Left, selection->Top);
    } else {
        r.Picture = result ? std::move(result) : std::move(copy);
    }
    return r;
}

}  // namespace nolvi2
