// Feeds arbitrary bytes to the JPEG reader: it must decode or raise, never crash or hang.
#include "platform/Exceptions.h"
#include "platform/JPEGImage.h"
#include "platform/Streams.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        nolvi2::TJPEGImage jpeg;
        jpeg.LoadFromMemory(data, size);
        nolvi2::TBitmap picture;
        jpeg.TakePicture(picture);
        // Re-encoding a decoded picture must work too (small pictures only, to keep it fast).
        if (picture.Width() * int64_t(picture.Height()) <= 256 * 256) {
            nolvi2::TJPEGImage out;
            out.Borrow(picture);
            out.SetCompressionQuality(int(size % 101));
            out.SetProgressiveEncoding(size & 1);
            nolvi2::TMemoryStream s;
            out.SaveToStream(s);
        }
    } catch (const nolvi2::Exception&) {
    }
    return 0;
}
