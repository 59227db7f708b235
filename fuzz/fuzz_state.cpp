// The block a new window receives, from arbitrary bytes. A read either succeeds or raises the
// reader's error and leaves the window's state, list and picture as they were; a block that
// was read must come back the same when written again.

#include "app/StateBlock.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

using namespace nolvi2;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TMemoryStream stream;
    if (size)
        stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);

    TWindowState state;
    state.Title = "before";
    TOZHistoryList list;
    list.AddFile("/before");
    TBitmap picture(1, 1, TPixelFormat::pf24bit);
    try {
        ReadState(stream, state, list, picture);
    } catch (const Exception&) {
        if (state.Title != "before" || list.Count() != 1 || picture.Width() != 1)
            __builtin_trap();
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }

    // The window holds every picture as 24-bit, and the block carries it so.
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    TMemoryStream written;
    WriteState(written, state, list, picture);
    written.SetPosition(0);
    TWindowState back;
    TOZHistoryList backList;
    TBitmap backPicture;
    ReadState(written, back, backList, backPicture);
    if (back.Title != state.Title || back.Selection != state.Selection || back.StopwatchName != state.StopwatchName ||
        back.StopwatchElapsed != state.StopwatchElapsed || backList.DataItems() != list.DataItems() ||
        backPicture.Width() != picture.Width() || backPicture.Height() != picture.Height())
        __builtin_trap();
    for (int32_t y = 0; y < picture.Height(); ++y)
        if (std::memcmp(backPicture.ScanLine(y), picture.ScanLine(y), picture.RowBytes()) != 0)
            __builtin_trap();
    return 0;
}
