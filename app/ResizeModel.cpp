#include "ResizeModel.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace nolvi2 {

namespace {

// Round to nearest, ties to even, in extended precision; kept inside 32 bits.
int32_t RoundToInt(long double v)
{
    const long double r = std::nearbyint(v);
    if (!(r >= std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (r > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return int32_t(r);
}

bool ParseInt(const std::string& text, int32_t& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// A side's value in pixels: the value itself, or that percentage of the size before resizing.
int32_t Pixels(bool percent, int32_t value, int32_t source)
{
    return percent ? RoundToInt((long double)value / 100 * source) : value;
}

}  // namespace

void TResizeModel::Init(int32_t sourceWidth, int32_t sourceHeight)
{
    FSourceWidth = sourceWidth > 0 ? sourceWidth : 1;
    FSourceHeight = sourceHeight > 0 ? sourceHeight : 1;
    SetWidthPixels(sourceWidth);
    SetHeightPixels(sourceHeight);
}

TResizeModel::TSide TResizeModel::Side(bool width)
{
    if (width)
        return {WidthText, WidthPercent, FWidthValue, FSourceWidth};
    return {HeightText, HeightPercent, FHeightValue, FSourceHeight};
}

int32_t TResizeModel::PixelsOf(const TSide& side) const { return Pixels(side.Percent, side.Value, side.Source); }

void TResizeModel::SetPixels(bool width, int32_t pixels, bool notify)
{
    const TSide side = Side(width);
    side.Value = side.Percent ? RoundToInt((long double)pixels / side.Source * 100) : pixels;
    SetText(width, std::to_string(side.Value), notify);
}

void TResizeModel::SetText(bool width, const std::string& text, bool notify)
{
    std::string& current = Side(width).Text;
    if (text == current)
        return;
    current = text;
    if (notify)
        Changed(width);
}

// The change handler of an edit (every text change, and leaving the edit). With the ratio
// fixed the other side follows, quietly: were its handler to run, it would derive this side
// back from its own rounded value and overwrite the text being typed (typing 100 as the
// width of 640 x 480 went 1, 10, then 11 once the height of 8 came back as a width).
void TResizeModel::Changed(bool width)
{
    const TSide side = Side(width);
    int32_t value = side.Value;
    ParseInt(side.Text, value);
    const int32_t limit = side.Percent ? RoundToInt(10000.0L / side.Source * 100) : 10000;
    if (value >= 1 && value <= limit)
        side.Value = value;
    if (FixedRatio) {
        const TSide other = Side(!width);
        SetPixels(!width, RoundToInt(PixelsOf(side) * ((long double)other.Source / side.Source)), false);
    }
}

void TResizeModel::SetUnit(bool width, bool percent)
{
    const TSide side = Side(width);
    if (percent == side.Percent)
        return;
    side.Value = percent ? RoundToInt((long double)side.Value / side.Source * 100)
                         : RoundToInt((long double)side.Value / 100 * side.Source);
    side.Percent = percent;
    SetText(width, std::to_string(side.Value), true);
}

void TResizeModel::SetWidthPixels(int32_t pixels) { SetPixels(true, pixels); }
void TResizeModel::SetHeightPixels(int32_t pixels) { SetPixels(false, pixels); }
int32_t TResizeModel::GetWidthPixels() const { return Pixels(WidthPercent, FWidthValue, FSourceWidth); }
int32_t TResizeModel::GetHeightPixels() const { return Pixels(HeightPercent, FHeightValue, FSourceHeight); }

void TResizeModel::WidthEdited(const std::string& text)
{
    WidthText = text;
    Changed(true);
}

void TResizeModel::HeightEdited(const std::string& text)
{
    HeightText = text;
    Changed(false);
}

void TResizeModel::RatioButton(int32_t tag)
{
    SetPixels(true, RoundToInt((long double)(int64_t(tag) * FSourceWidth) / 1000), false);
    SetPixels(false, RoundToInt((long double)(int64_t(tag) * FSourceHeight) / 1000), false);
}

void TResizeModel::SetWidthUnit(bool percent) { SetUnit(true, percent); }
void TResizeModel::SetHeightUnit(bool percent) { SetUnit(false, percent); }

}  // namespace nolvi2
