#include "SafeFile.h"

#include "Exceptions.h"
#include "Format.h"
#include "Streams.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

namespace {

[[noreturn]] void CreateFailed(const std::string& name, int err)
{
    throw EFCreateError(Format("ファイルを作成できません。\r%s\r(%s)", name.c_str(), ErrnoText(err).c_str()));
}

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
    CreateFailed(path, ELOOP);
}

// The temporary files of the writes under way, in every thread.
struct TTemporaryFiles {
    std::mutex Lock;
    std::set<std::string> Names;
    bool Abandoned = false;
};

TTemporaryFiles& TemporaryFiles()
{
    static TTemporaryFiles files;
    return files;
}

mode_t CurrentUmask()
{
    // umask() reads the mask only by setting it, for a moment that another thread writing a
    // file could see; /proc tells it without changing it.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0)
            return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    const std::lock_guard lock(TemporaryFiles().Lock);
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

// A temporary file beside the target, made with mode 0600 and known to AbandonSafeWrites from
// its creation until it is renamed over the target or removed.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& dir, const std::string& base, const std::string& fileName)
        : FName(dir + "/." + base + ".XXXXXX")
    {
        TTemporaryFiles& files = TemporaryFiles();
        const std::lock_guard lock(files.Lock);
        if (files.Abandoned)
            CreateFailed(fileName, ECANCELED);
        FFd = ::mkostemp(FName.data(), O_CLOEXEC);
        if (FFd < 0)
            CreateFailed(fileName, errno);
        files.Names.insert(FName);
    }
    ~TTemporaryFile()
    {
        if (!FRenamed)
            ::unlink(FName.c_str());
        TTemporaryFiles& files = TemporaryFiles();
        const std::lock_guard lock(files.Lock);
        files.Names.erase(FName);
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    int Fd() const { return FFd; }  // closed by the stream that writes it
    void RenameTo(const std::string& target, const std::string& fileName)
    {
        if (::rename(FName.c_str(), target.c_str()) != 0)
            CreateFailed(fileName, errno);
        FRenamed = true;
    }

private:
    std::string FName;
    int FFd = -1;
    bool FRenamed = false;
};

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

    TTemporaryFile tmp(dir, base, fileName);
    {
        TFileStream stream(tmp.Fd(), fileName);
        write(stream);
        if (::fchmod(tmp.Fd(), mode) != 0 && errno != EPERM)
            CreateFailed(fileName, errno);
        if (::fsync(tmp.Fd()) != 0)
            throw EWriteError(Format("ファイルに書き込めません。\r%s\r(%s)", fileName.c_str(),
                                     ErrnoText(errno).c_str()));
    }
    tmp.RenameTo(target, fileName);

    // Make the rename itself durable; failure here no longer endangers either file.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

void AbandonSafeWrites()
{
    TTemporaryFiles& files = TemporaryFiles();
    const std::lock_guard lock(files.Lock);
    files.Abandoned = true;
    for (const std::string& name : files.Names)
        ::unlink(name.c_str());
    files.Names.clear();
}

std::string WriteTargetOf(const std::string& fileName) { return ResolveLinks(fileName); }

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
