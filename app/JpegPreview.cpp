#include "JpegPreview.h"

#include "platform/JPEGImage.h"
#include "platform/Streams.h"

#include <algorithm>
#include <climits>

namespace nolvi2 {

int32_t RenderJpegPreview(const TBitmap& picture, int quality, bool progressive, TBitmap& preview)
{
    if (picture.Empty())
        return 0;
    TJPEGImage jpeg;
    jpeg.Borrow(picture);
    jpeg.SetCompressionQuality(quality);
    jpeg.SetProgressiveEncoding(progressive);
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    TJPEGImage back;
    back.LoadFromMemory(stream.Memory(), std::size_t(stream.Size()));
    back.TakePicture(preview);
    return int32_t(std::min<int64_t>(stream.Size(), INT32_MAX));
}

}  // namespace nolvi2
