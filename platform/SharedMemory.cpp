#include "SharedMemory.h"

#include "Format.h"

#include <cerrno>
#include <climits>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

namespace {

constexpr int kContentSeals = F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK;

}  // namespace

ESharedMemory::ESharedMemory(int code)
    : Exception(Format("共有メモリが開けませんでした(%d)", code)), FCode(code)
{
}

void TSharedBlock::ReadFailed(int err) { throw ESharedMemory(err); }

void TSharedBlock::WriteFailed(int err) { throw ESharedMemory(err); }

void TSharedBlock::Seal()
{
    if (::fcntl(Handle(), F_ADD_SEALS, kContentSeals | F_SEAL_SEAL) != 0)
        throw ESharedMemory(errno);
}

std::unique_ptr<TSharedBlock> CreateSharedBlock()
{
    const int fd = ::memfd_create("nolvi2", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        throw ESharedMemory(errno);
    auto block = std::make_unique<TSharedBlock>(fd);
    // Only the owner could reach it through /proc anyway; the mode says so too.
    ::fchmod(fd, 0600);
    return block;
}

std::unique_ptr<TSharedBlock> OpenSharedBlock(std::string_view fdText, int64_t size)
{
    // The number comes from the command line: decimal digits naming a descriptor past the
    // standard streams that is open in this process.
    if (fdText.empty() || fdText.size() > 10 || fdText.find_first_not_of("0123456789") != std::string_view::npos)
        throw ESharedMemory(EINVAL);
    const long long number = std::stoll(std::string(fdText));
    if (number > INT_MAX)
        throw ESharedMemory(EINVAL);
    const int fd = int(number);
    if (fd <= STDERR_FILENO || ::fcntl(fd, F_GETFD) < 0)
        throw ESharedMemory(EBADF);
    // Only a memory file made for sealing carries content seals; anything else this process
    // holds under that number is left alone.
    const int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0)
        throw ESharedMemory(EINVAL);
    auto block = std::make_unique<TSharedBlock>(fd);
    // Read once: what this process starts does not inherit it.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw ESharedMemory(errno);
    if (st.st_uid != ::geteuid())
        throw ESharedMemory(EACCES);
    if ((seals & kContentSeals) != kContentSeals || !S_ISREG(st.st_mode) || size <= 0 || st.st_size != size)
        throw ESharedMemory(EINVAL);
    // The offset is the launcher's too, left at the end of what it wrote.
    if (::lseek(fd, 0, SEEK_SET) != 0)
        throw ESharedMemory(errno);
    return block;
}

}  // namespace nolvi2
