#include "SharedMemory.h"

#include "Format.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

ESharedMemory::ESharedMemory(int code)
    : Exception(Format("共有メモリが開けませんでした(%d)", code)), FCode(code)
{
}

std::string SharedBlockName(std::string_view tickText) { return "/nolvi2" + std::string(tickText); }

TNewSharedBlock CreateSharedBlock(uint32_t tick)
{
    // Two launches in the same millisecond take neighbouring names.
    for (int attempt = 0; attempt < 1000; ++attempt, ++tick) {
        const std::string name = SharedBlockName(std::to_string(tick));
        const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            throw ESharedMemory(errno);
        }
        // The umask cannot widen 0600, but a narrower one must not lock the owner out.
        ::fchmod(fd, 0600);
        return {tick, name, std::make_unique<TFileStream>(fd, name)};
    }
    throw ESharedMemory(EEXIST);
}

std::unique_ptr<TFileStream> OpenSharedBlock(std::string_view tickText, int64_t size)
{
    // The name comes from the command line: only a decimal tick names one of our blocks.
    if (tickText.empty() || tickText.size() > 10 || tickText.find_first_not_of("0123456789") != std::string_view::npos)
        throw ESharedMemory(EINVAL);
    const std::string name = SharedBlockName(tickText);
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        throw ESharedMemory(errno);
    auto stream = std::make_unique<TFileStream>(fd, name);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw ESharedMemory(errno);
    // Read once: the name goes now, whatever the content turns out to be.
    if (st.st_uid == ::geteuid())
        ::shm_unlink(name.c_str());
    else
        throw ESharedMemory(EACCES);
    if (!S_ISREG(st.st_mode) || size <= 0 || st.st_size != size)
        throw ESharedMemory(EINVAL);
    return stream;
}

bool SharedBlockExists(const std::string& name)
{
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void RemoveSharedBlock(const std::string& name) { ::shm_unlink(name.c_str()); }

}  // namespace nolvi2
