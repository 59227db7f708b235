#pragma once
// Pictures from their embedded ICC profile into sRGB, with LittleCMS. Every reader hands the
// profile its file carries to this module once, when the picture is read; everything after
// that works on sRGB pixels.
//
// The rendering intent is relative colorimetric with black-point compensation: it keeps the
// colours the file states, and black stays black when the profile's black is not. A profile
// whose header asks for the perceptual (or saturation) intent and that has its own table for
// that intent gets it, since its maker built that table for showing the picture. A profile
// that describes sRGB (the primaries, white and curve of IEC 61966-2-1, as the common sRGB
// profiles carry them) converts nothing and costs nothing. A profile that cannot be read, or
// whose colour space does not fit the pixels, leaves the pixels as they are: the picture
// still shows, as it does without a profile.

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace nolvi2 {

// The pixels a conversion takes.
enum class TProfileInput : uint8_t {
    Bgr,           // 3 bytes a pixel, blue first
    Bgra,          // 4 bytes a pixel, blue first; the fourth byte is copied
    Cmyk,          // 4 bytes a pixel, C, M, Y, K, 0 meaning no ink
    CmykInverted,  // the same with 255 meaning no ink (Adobe's CMYK JPEG files)
};

// True when the profile describes sRGB, so that nothing needs converting.
bool IsSrgbProfile(std::span<const uint8_t> profile);

// One profile's conversion into sRGB for one kind of pixels; safe to use from several threads
// at once. The last few conversions made are kept, so that a folder of pictures from one
// camera builds its transform once.
class TSrgbConversion {
public:
    // The conversion, or null when there is nothing to convert: an sRGB profile, one that
    // cannot be read, or one whose colour space does not fit the pixels (a grey profile fits
    // Bgr and Bgra pixels, converting each channel as a grey level; CMYK input needs a CMYK
    // profile).
    static std::shared_ptr<const TSrgbConversion> For(std::span<const uint8_t> profile, TProfileInput input);

    ~TSrgbConversion();
    TSrgbConversion(const TSrgbConversion&) = delete;
    TSrgbConversion& operator=(const TSrgbConversion&) = delete;

    // Converts count pixels of the input kind at in into out: Bgr or Bgra pixels of the same
    // size (in may equal out), 3 bytes (Bgr) for CMYK input.
    void Convert(const uint8_t* in, uint8_t* out, std::size_t count) const;

private:
    struct TImpl;
    TSrgbConversion(TProfileInput input, std::unique_ptr<TImpl> impl);
    static std::unique_ptr<TImpl> MakeImpl(std::span<const uint8_t> profile, TProfileInput input);

    TProfileInput FInput;
    std::unique_ptr<TImpl> FImpl;
};

// Converts the picture in place from profile into sRGB: the pixels of a 24- or 32-bit
// picture, the palette of a 1-, 4- or 8-bit one; other formats become 24-bit first. Nothing
// changes when there is nothing to convert (see TSrgbConversion::For). Large pictures are
// converted by several threads.
void ConvertToSrgb(TBitmap& picture, std::span<const uint8_t> profile);

}  // namespace nolvi2
