#pragma once
// Blocks of memory that hand a picture and a window's state to a new process: anonymous
// memory files (memfd) that have no name anywhere. The launcher writes and seals the block,
// hands its descriptor to the one child it starts and closes its own copy; the child checks
// the descriptor, reads the block and closes it, and the memory is gone.

#include "Exceptions.h"
#include "Streams.h"

#include <cstdint>
#include <memory>
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

// A block over a descriptor that the stream owns. Every failure to read or write raises
// ESharedMemory with the system's error number.
class TSharedBlock : public TFileStream {
public:
    explicit TSharedBlock(int fd) : TFileStream(fd, "nolvi2") {}

    // Seals the content: nobody can write, grow or shrink the block from now on.
    void Seal();

protected:
    [[noreturn]] void ReadFailed(int err) override;
    [[noreturn]] void WriteFailed(int err) override;
};

// A new, empty block: a memory file that only this process holds, not inherited by any
// program started (close-on-exec) unless handed over on purpose.
std::unique_ptr<TSharedBlock> CreateSharedBlock();

// Takes over the block handed to this process under the descriptor number fdText (decimal
// digits only), at its start. The descriptor must be a sealed memory file of this user
// holding exactly size bytes; once it is known to be a memory file it belongs to the returned
// stream (closed also when refused), and no program this process starts inherits it. Failures raise
// ESharedMemory: EBADF for a number that is no open descriptor (or a standard stream), EINVAL
// for one that is no sealed memory file of this size, EACCES for one of another user.
std::unique_ptr<TSharedBlock> OpenSharedBlock(std::string_view fdText, int64_t size);

}  // namespace nolvi2
