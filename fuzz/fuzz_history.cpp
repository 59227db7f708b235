// The recent-files list from an arbitrary stream. A read either succeeds or raises
// EReadError and leaves the list as it was; a list that was read must come back the same
// through the stream.

#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "settings/OZHistoryList.h"

#include <cstddef>
#include <cstdint>

using namespace nolvi2;

namespace {

bool Same(const TOZHistoryList& a, const TOZHistoryList& b)
{
    return a.DataItems() == b.DataItems() && a.Captions() == b.Captions() && a.MaxCount() == b.MaxCount() &&
           a.VisibleCount() == b.VisibleCount();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TMemoryStream stream;
    if (size)
        stream.WriteBuffer(data, int64_t(size));
    stream.SetPosition(0);

    TOZHistoryList list;
    list.AddFile("/before");
    TOZHistoryList before;
    before.AddFile("/before");
    try {
        list.LoadFromStream(stream);
    } catch (const EReadError&) {
        if (!Same(list, before))
            __builtin_trap();
        return 0;
    }
    if (list.Count() > list.MaxCount() && list.Count() > 0)
        __builtin_trap();

    TMemoryStream saved;
    list.SaveToStream(saved);
    saved.SetPosition(0);
    TOZHistoryList back;
    back.LoadFromStream(saved);
    if (!Same(list, back) || saved.Position() != saved.Size())
        __builtin_trap();
    return 0;
}
