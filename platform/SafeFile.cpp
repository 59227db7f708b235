#include "SafeFile.h"

#include "Exceptions.h"
#include "Format.h"
#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// The temporary files of the writes under way, in every thread, and the renames done.
struct TTemporaryFiles {
    std::mutex Lock;
    std::set<std::string> Names;
    bool Abandoned = false;
    std::size_t Renamed = 0;
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

// The name of a temporary file for the target base: hidden, and marked as the program's so
// that one left by a killed write is known for what it is.
std::string TemporaryPattern(const std::string& base) { return "." + base + ".nolvi2-XXXXXX"; }

// A temporary file beside the target, made with mode 0600 and known to AbandonSafeWrites from
// its creation until it is renamed over the target or removed. It holds an exclusive flock
// for as long as it lives, through a descriptor of its own (the stream closes the other), so
// that RemoveAbandonedTemporaries leaves it alone.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& dir, const std::string& base, const std::string& fileName)
        : FName(dir + "/" + TemporaryPattern(base))
    {
        TTemporaryFiles& files = TemporaryFiles();
        const std::lock_guard lock(files.Lock);
        if (files.Abandoned)
            CreateFailed(fileName, ECANCELED);
        FFd = ::mkostemp(FName.data(), O_CLOEXEC);
        if (FFd < 0)
            CreateFailed(fileName, errno);
        FLockFd = ::fcntl(FFd, F_DUPFD_CLOEXEC, 0);
        if (FLockFd >= 0)
            ::flock(FLockFd, LOCK_EX);
        files.Names.insert(FName);
    }
    ~TTemporaryFile()
    {
        if (!FRenamed)
            ::unlink(FName.c_str());
        if (FLockFd >= 0)
            ::close(FLockFd);
        TTemporaryFiles& files = TemporaryFiles();
        const std::lock_guard lock(files.Lock);
        files.Names.erase(FName);
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    int Fd() const { return FFd; }  // closed by the stream that writes it
    // Under the lock that AbandonSafeWrites takes, so that a rename either comes before it and
    // is counted, or fails.
    void RenameTo(const std::string& target, const std::string& fileName)
    {
        TTemporaryFiles& files = TemporaryFiles();
        const std::lock_guard lock(files.Lock);
        if (files.Abandoned)
            CreateFailed(fileName, ECANCELED);
        if (::rename(FName.c_str(), target.c_str()) != 0)
            CreateFailed(fileName, errno);
        FRenamed = true;
        ++files.Renamed;
    }

private:
    std::string FName;
    int FFd = -1;
    int FLockFd = -1;
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

std::size_t SafeWritesDone()
{
    TTemporaryFiles& files = TemporaryFiles();
    const std::lock_guard lock(files.Lock);
    return files.Renamed;
}

std::size_t AbandonSafeWrites()
{
    TTemporaryFiles& files = TemporaryFiles();
    const std::lock_guard lock(files.Lock);
    files.Abandoned = true;
    for (const std::string& name : files.Names)
        ::unlink(name.c_str());
    files.Names.clear();
    return files.Renamed;
}

void RequireWritableFile(const std::string& fileName)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0)
        return;  // nothing there to protect (or the write reports what is wrong)
    mode_t bit = S_IWOTH;
    if (st.st_uid == ::geteuid()) {
        bit = S_IWUSR;
    } else if (st.st_gid == ::getegid()) {
        bit = S_IWGRP;
    } else {
        const int n = ::getgroups(0, nullptr);
        std::vector<gid_t> groups(std::size_t(std::max(n, 0)));
        if (n > 0 && ::getgroups(n, groups.data()) == n)
            for (const gid_t g : groups)
                if (g == st.st_gid)
                    bit = S_IWGRP;
    }
    if ((st.st_mode & bit) == 0)
        throw EWriteError(Format("ファイルに書き込めません。\r%s\r(%s)", fileName.c_str(), ErrnoText(EACCES).c_str()));
}

void RemoveAbandonedTemporaries(const std::string& fileName)
{
    const std::string target = ResolveLinks(fileName);
    const std::string dir = FolderOf(target);
    const auto slash = target.rfind('/');
    const std::string pattern = TemporaryPattern(slash == std::string::npos ? target : target.substr(slash + 1));
    const std::string_view prefix = std::string_view(pattern).substr(0, pattern.size() - 6);
    const auto isTemporary = [&](std::string_view name) {
        if (name.size() != pattern.size() || !name.starts_with(prefix))
            return false;
        for (const char c : name.substr(prefix.size()))
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return false;
        return true;
    };
    DIR* folder = ::opendir(dir.c_str());
    if (!folder)
        return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(folder))
        if (isTemporary(e->d_name))
            names.emplace_back(dir + "/" + e->d_name);
    ::closedir(folder);
    for (const std::string& name : names) {
        const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        // A write under way holds its lock until its file is renamed or removed.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat now {};
            // Still the file that was checked (not renamed over a target meanwhile).
            if (::lstat(name.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
                ::unlink(name.c_str());
        }
        ::close(fd);
    }
}

void WriteSettingsFile(const std::string& fileName, const std::string& text)
{
    RequireWritableFile(fileName);
    RemoveAbandonedTemporaries(fileName);
    WriteFileSafely(fileName, [&](TStream& s) { s.WriteBuffer(text.data(), int64_t(text.size())); }, 0600);
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

std::string FullFileName(const std::string& fileName)
{
    if (fileName.empty())
        return fileName;
    std::string path = fileName;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return fileName;
        path = std::string(cwd) + "/" + path;
    }
    std::vector<std::string_view> parts;
    std::size_t lastUp = std::string::npos;
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = std::string_view(path).substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            lastUp = parts.size();
        parts.push_back(part);
    }
    std::string full;
    std::size_t first = 0;
    if (lastUp != std::string::npos) {
        std::string prefix;
        for (std::size_t i = 0; i <= lastUp; ++i)
            prefix.append("/").append(parts[i]);
        char resolved[PATH_MAX];
        if (::realpath(prefix.c_str(), resolved)) {
            full = resolved;
            if (full == "/")
                full.clear();
            first = lastUp + 1;
        }
    }
    for (std::size_t i = first; i < parts.size(); ++i)
        full.append("/").append(parts[i]);
    return full.empty() ? std::string("/") : full;
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
