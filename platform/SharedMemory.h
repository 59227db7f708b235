#pragma once
// Blocks of shared memory that hand a picture and a window's state to a new process: POSIX
// shared memory objects named "/nolvi2<tick>", private to the user, read once and removed.

#include "Exceptions.h"
#include "Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace nolvi2 {

// "共有メモリが開けませんでした(<code>)" with the system's error number.
class ESharedMemory : public Exception {
public:
    explicit ESharedMemory(int code);
    int Code() const { return FCode; }

private:
    int FCode;
};

// The object's name for a tick written in decimal: "/nolvi2" and the text.
std::string SharedBlockName(std::string_view tickText);

// A new, empty block that only this user can open. It is made with exclusive creation, so
// nobody can have planted one of that name first; when the name of tick is taken, the
// following ticks are tried. Tick is the tick used; the stream writes the block's content.
struct TNewSharedBlock {
    uint32_t Tick = 0;
    std::string Name;
    std::unique_ptr<TFileStream> Stream;
};
TNewSharedBlock CreateSharedBlock(uint32_t tick);

// Opens the block of tickText (decimal digits only), checks that it belongs to this user and
// holds exactly size bytes, and removes its name at once: the stream is the only way left to
// it. Failures raise ESharedMemory.
std::unique_ptr<TFileStream> OpenSharedBlock(std::string_view tickText, int64_t size);

bool SharedBlockExists(const std::string& name);
// Removes the name; a block already gone is no failure.
void RemoveSharedBlock(const std::string& name);

}  // namespace nolvi2
