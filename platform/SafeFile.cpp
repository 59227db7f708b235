#include "SafeFile.h"

#include "Exceptions.h"
#include "Format.h"
#include "Streams.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

namespace {

// The file a chain of symbolic links ends at (the name itself when it is no link).
std::string ResolveLinks(std::string path)
{
    for (int depth = 0; depth < 40; ++depth) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n < 0)
            return path;
        std::string target(buf, std::size_t(n));
        if (target.empty() || target[0] != '/')
            target = FolderOf(path) + "/" + target;
        path = std::move(target);
    }
    throw EFCreateError(Format("ファイルを作成できません。\r%s\r(%s)", path.c_str(), ErrnoText(ELOOP).c_str()));
}

mode_t CurrentUmask()
{
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

[[noreturn]] void CreateFailed(const std::string& name, int err)
{
    throw EFCreateError(Format("ファイルを作成できません。\r%s\r(%s)", name.c_str(), ErrnoText(err).c_str()));
}

}  // namespace

void WriteFileSafely(const std::string& fileName, const std::function<void(TStream&)>& write, unsigned newFileMode)
{
    const std::string target = ResolveLinks(fileName);
    const std::string dir = FolderOf(target);
    const auto slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    mode_t mode = mode_t(newFileMode & 07777) & ~CurrentUmask();
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            CreateFailed(fileName, EISDIR);
        mode = st.st_mode & 07777;
    }

    std::string tmp = dir + "/." + base + ".XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        CreateFailed(fileName, errno);

    bool committed = false;
    struct Cleanup {
        const std::string& name;
        bool& done;
        ~Cleanup()
        {
            if (!done)
                ::unlink(name.c_str());
        }
    } cleanup{tmp, committed};

    {
        TFileStream stream(fd, fileName);
        write(stream);
        if (::fchmod(fd, mode) != 0 && errno != EPERM)
            CreateFailed(fileName, errno);
        if (::fsync(fd) != 0)
            throw EWriteError(Format("ファイルに書き込めません。\r%s\r(%s)", fileName.c_str(),
                                     ErrnoText(errno).c_str()));
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0)
        CreateFailed(fileName, errno);
    committed = true;

    // Make the rename itself durable; failure here no longer endangers either file.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string ExecutablePath()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
}

bool FileExists(const std::string& fileName)
{
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ReadWholeFile(const std::string& fileName, int64_t limit)
{
    TFileStream stream(fileName, TFileMode::fmOpenRead);
    const int64_t size = stream.Size();
    if (size > limit)
        throw EReadError(Format("ファイルが大きすぎます。\r%s", fileName.c_str()));
    std::string text(std::size_t(size), '\0');
    // A file that shrinks meanwhile gives what is there; one that grows, its first size bytes.
    text.resize(std::size_t(stream.Read(text.data(), size)));
    return text;
}

}  // namespace nolvi2
