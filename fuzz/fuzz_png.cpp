// The PNG decoder on arbitrary bytes, from memory and through the 64 KB file buffer path.
// Each read must succeed or raise one of our exceptions. A picture that was read must come
// back unchanged through the encoder.

#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "png/VelPNG.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace nolvi2;

namespace {

void CheckRoundTrip(const TVelPNG& png)
{
    const TBitmap& picture = png.Picture();
    if (picture.Empty() || int64_t(picture.Width()) * picture.Height() > (int64_t(1) << 20))
        return;
    TVelPNG writer;
    writer.Borrow(picture);
    TMemoryStream file;
    writer.SaveToStream(file);
    file.SetPosition(0);
    TVelPNG back;
    back.LoadFromStream(file);
    const TBitmap& b = back.Picture();
    if (b.Width() != picture.Width() || b.Height() != picture.Height() || b.PixelFormat() != picture.PixelFormat())
        __builtin_trap();
    // Bits after a row's last pixel are not pixels; compare whole pixels only.
    const std::size_t bits = std::size_t(BitsPerPixel(picture.PixelFormat())) * std::size_t(picture.Width());
    for (int32_t y = 0; y < picture.Height(); ++y) {
        if (std::memcmp(b.ScanLine(y), picture.ScanLine(y), bits / 8) != 0)
            __builtin_trap();
        if (bits % 8) {
            const uint8_t mask = uint8_t(0xFF << (8 - bits % 8));
            if ((b.ScanLine(y)[bits / 8] ^ picture.ScanLine(y)[bits / 8]) & mask)
                __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TMemoryStream stream;
    if (size)
        stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    TVelPNG png;
    try {
        png.LoadFromStream(stream);
    } catch (const Exception&) {
        return 0;
    }
    CheckRoundTrip(png);
    return 0;
}
