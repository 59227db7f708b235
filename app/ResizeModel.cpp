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

// The handlers of the two edits can set each other's text; with a fixed ratio they settle
// within a few rounds, and a pathological size must not recurse without end.
constexpr int kMaxDepth = 16;

}  // namespace

void TResizeModel::Init(int32_t sourceWidth, int32_t sourceHeight)
{
    FSourceWidth = sourceWidth > 0 ? sourceWidth : 1;
    FSourceHeight = sourceHeight > 0 ? sourceHeight : 1;
    SetWidthPixels(sourceWidth);
    SetHeightPixels(sourceHeight);
}

void TResizeModel::SetWidthPixels(int32_t pixels)
{
    FWidthValue = WidthPercent ? RoundToInt((long double)pixels / FSourceWidth * 100) : pixels;
    SetWidthText(std::to_string(FWidthValue));
}

void TResizeModel::SetHeightPixels(int32_t pixels)
{
    FHeightValue = HeightPercent ? RoundToInt((long double)pixels / FSourceHeight * 100) : pixels;
    SetHeightText(std::to_string(FHeightValue));
}

int32_t TResizeModel::GetWidthPixels() const
{
    return WidthPercent ? RoundToInt((long double)FWidthValue / 100 * FSourceWidth) : FWidthValue;
}

int32_t TResizeModel::GetHeightPixels() const
{
    return HeightPercent ? RoundToInt((long double)FHeightValue / 100 * FSourceHeight) : FHeightValue;
}

void TResizeModel::SetWidthText(const std::string& text)
{
    if (text == WidthText)
        return;
    WidthText = text;
    WidthChanged();
}

void TResizeModel::SetHeightText(const std::string& text)
{
    if (text == HeightText)
        return;
    HeightText = text;
    HeightChanged();
}

void TResizeModel::WidthEdited(const std::string& text)
{
    WidthText = text;
    WidthChanged();
}

void TResizeModel::HeightEdited(const std::string& text)
{
    HeightText = text;
    HeightChanged();
}

void TResizeModel::WidthChanged()
{
    if (FDepth >= kMaxDepth)
        return;
    ++FDepth;
    int32_t value = FWidthValue;
    ParseInt(WidthText, value);
    const int32_t limit = WidthPercent ? RoundToInt(10000.0L / FSourceWidth * 100) : 10000;
    if (value >= 1 && value <= limit)
        FWidthValue = value;
    if (FixedRatio)
        SetHeightPixels(RoundToInt(GetWidthPixels() * ((long double)FSourceHeight / FSourceWidth)));
    --FDepth;
}

void TResizeModel::HeightChanged()
{
    if (FDepth >= kMaxDepth)
        return;
    ++FDepth;
    int32_t value = FHeightValue;
    ParseInt(HeightText, value);
    const int32_t limit = HeightPercent ? RoundToInt(10000.0L / FSourceHeight * 100) : 10000;
    if (value >= 1 && value <= limit)
        FHeightValue = value;
    if (FixedRatio)
        SetWidthPixels(RoundToInt(GetHeightPixels() * ((long double)FSourceWidth / FSourceHeight)));
    --FDepth;
}

void TResizeModel::RatioButton(int32_t tag)
{
    SetWidthPixels(RoundToInt((long double)(int64_t(tag) * FSourceWidth) / 1000));
    SetHeightPixels(RoundToInt((long double)(int64_t(tag) * FSourceHeight) / 1000));
}

void TResizeModel::SetWidthUnit(bool percent)
{
    if (percent == WidthPercent)
        return;
    FWidthValue = percent ? RoundToInt((long double)FWidthValue / FSourceWidth * 100)
                          : RoundToInt((long double)FWidthValue / 100 * FSourceWidth);
    WidthPercent = percent;
    SetWidthText(std::to_string(FWidthValue));
}

void TResizeModel::SetHeightUnit(bool percent)
{
    if (percent == HeightPercent)
        return;
    FHeightValue = percent ? RoundToInt((long double)FHeightValue / FSourceHeight * 100)
                           : RoundToInt((long double)FHeightValue / 100 * FSourceHeight);
    HeightPercent = percent;
    SetHeightText(std::to_string(FHeightValue));
}

}  // namespace nolvi2
