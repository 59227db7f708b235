#pragma once
// The state behind the resize dialog, without the toolkit: the size before resizing, the
// width and height each in pixels or percent, the fixed ratio, and the change handlers of
// the two edits. While the ratio is fixed a change of one side sets the other, and the
// other's change never comes back to rewrite the side that started it.

#include <cstdint>
#include <string>

namespace nolvi2 {

class TResizeModel {
public:
    // The dialog's controls as the model sees them: the edits' texts and the unit lists.
    std::string WidthText = "1";
    std::string HeightText = "1";
    bool WidthPercent = false;
    bool HeightPercent = false;
    bool FixedRatio = true;

    void Init(int32_t sourceWidth, int32_t sourceHeight);

    void SetWidthPixels(int32_t pixels);
    void SetHeightPixels(int32_t pixels);
    int32_t GetWidthPixels() const;
    int32_t GetHeightPixels() const;

    // The user typed into an edit (or left it): the text is kept as typed.
    void WidthEdited(const std::string& text);
    void HeightEdited(const std::string& text);
    // The ratio buttons: tag in per mille of the size before resizing (100 … 2000). Both
    // sides take the button's values; neither is then derived from the other.
    void RatioButton(int32_t tag);
    // The unit lists.
    void SetWidthUnit(bool percent);
    void SetHeightUnit(bool percent);

    int32_t WidthValue() const { return FWidthValue; }
    int32_t HeightValue() const { return FHeightValue; }
    int32_t SourceWidth() const { return FSourceWidth; }
    int32_t SourceHeight() const { return FSourceHeight; }

private:
    // One side of the picture: its edit's text, its unit, its value and the size before
    // resizing. The width and the height follow the same rules, mirrored.
    struct TSide {
        std::string& Text;
        bool& Percent;
        int32_t& Value;
        int32_t Source;
    };
    TSide Side(bool width);
    int32_t PixelsOf(const TSide& side) const;
    // Setting a side from code runs its edit's handler only when the text changes, and only
    // when asked: a side set to follow the other one stays quiet.
    void SetPixels(bool width, int32_t pixels, bool notify = true);
    void SetText(bool width, const std::string& text, bool notify);
    void Changed(bool width);
    void SetUnit(bool width, bool percent);

    int32_t FSourceWidth = 1;
    int32_t FSourceHeight = 1;
    int32_t FWidthValue = 1;
    int32_t FHeightValue = 1;
};

}  // namespace nolvi2
