// The BMP reader on arbitrary bytes, read as a file and as a packed DIB. Each read must
// succeed or raise one of our exceptions. A picture that was read must convert to 24 bits
// and come back unchanged through the writer.

#include "platform/BmpCodec.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace nolvi2;

namespace {

void CheckRoundTrip(TBitmap& bitmap)
{
    // A few kilobytes of RLE may describe millions of pixels; the round trip of those
    // would only slow the search down.
    if (int64_t(bitmap.Width()) * bitmap.Height() > (int64_t(1) << 22)) {
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        return;
    }
    TMemoryStream file;
    bitmap.SaveToStream(file);
    file.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(file);
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    if (back.PixelFormat() != TPixelFormat::pf24bit || back.Width() != bitmap.Width() ||
        back.Height() != bitmap.Height())
        __builtin_trap();
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        if (std::memcmp(back.ScanLine(y), bitmap.ScanLine(y), bitmap.RowBytes()) != 0)
            __builtin_trap();
}

template <typename Read>
void Attempt(const uint8_t* data, size_t size, Read read)
{
    TMemoryStream stream;
    if (size)
        stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);
    TBitmap bitmap;
    try {
        read(stream, bitmap);
    } catch (const Exception&) {
        return;
    }
    CheckRoundTrip(bitmap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Attempt(data, size, [](TStream& s, TBitmap& b) { b.LoadFromStream(s); });
    Attempt(data, size, [](TStream& s, TBitmap& b) { ReadDIB(s, b); });
    return 0;
}
