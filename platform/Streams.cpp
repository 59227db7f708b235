#include "Streams.h"

#include "Exceptions.h"
#include "Format.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

int64_t TStream::Size()
{
    const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const int64_t n = Read(p, count);
        if (n <= 0)
            throw EReadError("ストリームの読み込みエラーです（データが足りません）。");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const int64_t n = Write(p, count);
        if (n <= 0)
            throw EWriteError("ストリームの書き込みエラーです。");
        p += n;
        count -= n;
    }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t total = count;
    constexpr int64_t kChunk = 1 << 20;
    auto buf = std::make_unique_for_overwrite<uint8_t[]>(std::size_t(std::min(count, kChunk)) + 1);
    while (count > 0) {
        const int64_t n = std::min(count, kChunk);
        source.ReadBuffer(buf.get(), n);
        WriteBuffer(buf.get(), n);
        count -= n;
    }
    return total;
}

// ---- TMemoryStream ----

void TMemoryStream::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

void TMemoryStream::Reserve(int64_t capacity)
{
    if (capacity <= FCapacity)
        return;
    int64_t want = std::max<int64_t>(capacity, FCapacity + FCapacity / 2);
    want = (want + 0xFFFF) & ~int64_t(0xFFFF);
    void* p = std::realloc(FMemory.get(), std::size_t(want));
    if (!p)
        throw EStreamError("メモリが足りません。");
    FMemory.release();
    FMemory.reset(static_cast<uint8_t*>(p));
    FCapacity = want;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    if (count <= 0 || FPosition >= FSize)
        return 0;
    const int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FMemory.get() + FPosition, std::size_t(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0 || FPosition < 0)
        return 0;
    const int64_t end = FPosition + count;
    if (end > FCapacity)
        Reserve(end);
    if (FPosition > FSize)
        std::memset(FMemory.get() + FSize, 0, std::size_t(FPosition - FSize));
    std::memcpy(FMemory.get() + FPosition, buffer, std::size_t(count));
    FPosition = end;
    FSize = std::max(FSize, end);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    switch (origin) {
    case TSeekOrigin::soBeginning: FPosition = offset; break;
    case TSeekOrigin::soCurrent: FPosition += offset; break;
    case TSeekOrigin::soEnd: FPosition = FSize + offset; break;
    }
    return FPosition;
}

void TMemoryStream::SetSize(int64_t size)
{
    if (size < 0)
        size = 0;
    if (size > FCapacity)
        Reserve(size);
    if (size > FSize)
        std::memset(FMemory.get() + FSize, 0, std::size_t(size - FSize));
    FSize = size;
    if (FPosition > size)
        FPosition = size;
}

void TMemoryStream::Clear()
{
    FMemory.reset();
    FSize = FCapacity = FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source)
{
    source.SetPosition(0);
    const int64_t n = source.Size();
    SetSize(n);
    if (n > 0)
        source.ReadBuffer(FMemory.get(), n);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream f(fileName, TFileMode::fmOpenRead);
    LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& dest) const
{
    if (FSize > 0)
        dest.WriteBuffer(FMemory.get(), FSize);
}

// ---- TFileStream ----

namespace {

// "Cannot open: not a regular file (a folder)", naming the file and what it is.
std::string NotRegularFileText(const std::string& fileName, mode_t mode)
{
    const char* kind = S_ISDIR(mode)                     ? "フォルダ"
                       : S_ISFIFO(mode)                  ? "名前付きパイプ"
                       : S_ISCHR(mode) || S_ISBLK(mode)  ? "デバイス"
                       : S_ISSOCK(mode)                  ? "ソケット"
                                                         : "不明な種類";
    return Format("ファイルを開けません。\r%s\r(通常のファイルではありません: %s)", fileName.c_str(), kind);
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName)
{
    if (mode == TFileMode::fmOpenRead) {
        // Only regular files are read: opening a FIFO would wait for a writer, and reading a
        // device or a folder never gives a picture. The name is checked first; the open does
        // not block whatever the name turned into meanwhile, and the open file is checked again.
        struct stat st {};
        if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            throw EFOpenError(NotRegularFileText(fileName, st.st_mode));
        FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (FHandle < 0)
            throw EFOpenError(Format("ファイルを開けません。\r%s\r(%s)", fileName.c_str(),
                                     ErrnoText(errno).c_str()));
        if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode)) {
            const mode_t kind = st.st_mode;
            ::close(FHandle);
            FHandle = -1;
            throw EFOpenError(NotRegularFileText(fileName, kind));
        }
        ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);
    } else {
        FHandle = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (FHandle < 0)
            throw EFCreateError(Format("ファイルを作成できません。\r%s\r(%s)", fileName.c_str(),
                                       ErrnoText(errno).c_str()));
    }
}

TFileStream::TFileStream(int fd, std::string fileName) : FHandle(fd), FFileName(std::move(fileName)) {}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

int TFileStream::Release() { return std::exchange(FHandle, -1); }

void TFileStream::ReadFailed(int err)
{
    throw EReadError(Format("ファイルを読み込めません。\r%s\r(%s)", FFileName.c_str(), ErrnoText(err).c_str()));
}

void TFileStream::WriteFailed(int err)
{
    throw EWriteError(Format("ファイルに書き込めません。\r%s\r(%s)", FFileName.c_str(), ErrnoText(err).c_str()));
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(FHandle, p + done, std::size_t(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ReadFailed(errno);
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    const auto* p = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, p + done, std::size_t(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            WriteFailed(errno);
        }
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const off_t r = ::lseek(FHandle, off_t(offset), whence);
    if (r < 0)
        throw EStreamError(Format("ファイルの位置を移動できません。\r%s\r(%s)", FFileName.c_str(),
                                  ErrnoText(errno).c_str()));
    return r;
}

int64_t TFileStream::Size()
{
    struct stat st {};
    if (::fstat(FHandle, &st) == 0 && S_ISREG(st.st_mode))
        return st.st_size;
    return TStream::Size();
}

}  // namespace nolvi2
