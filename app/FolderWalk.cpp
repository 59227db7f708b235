#include "FolderWalk.h"

#include "OpenPicture.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace nolvi2 {

namespace {

unsigned char FoldCase(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The folder part of a file name with its trailing "/", or empty.
std::string FolderOf(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

// The index of the current file in the listing. On Linux two names may differ only by case;
// the exact name then wins, so that stepping never lands on the file that is already open.
std::optional<std::size_t> FindCurrent(const std::string& fileName, const std::vector<std::string>& entries)
{
    const std::string name = ExtractFileName(fileName);
    if (name.empty())
        return std::nullopt;
    const auto exact = std::find(entries.begin(), entries.end(), name);
    if (exact != entries.end())
        return std::size_t(exact - entries.begin());
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (EqualIgnoringCase(entries[i], name))
            return i;
    return std::nullopt;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

int NaturalCompare(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (IsDigit(ca) && IsDigit(cb)) {
            // Compare the digit runs by value: without leading zeros, the longer run is
            // larger; equally long runs compare digit by digit.
            std::size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && IsDigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            const int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj));
            if (c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const unsigned char fa = FoldCase(ca), fb = FoldCase(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    // Equal but for case or leading zeros.
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::vector<std::string> ListFolderFiles(const std::string& folder)
{
    const std::string path = folder.empty() ? std::string(".") : folder;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir)
        return {};
    const std::string prefix = path.back() == '/' ? path : path + "/";
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return {};
            break;
        }
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::stat((prefix + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalCompare(a, b) < 0; });
    return names;
}

std::optional<std::string> NextFileOf(const std::string& fileName, const std::vector<std::string>& entries,
                                      const TFileFilter& accept)
{
    const auto current = FindCurrent(fileName, entries);
    if (!current)
        return std::nullopt;
    const std::string folder = FolderOf(fileName);
    for (std::size_t i = *current + 1; i < entries.size(); ++i) {
        std::string name = folder + entries[i];
        if (accept(name))
            return name;
    }
    return std::nullopt;
}

std::optional<std::string> PrevFileOf(const std::string& fileName, const std::vector<std::string>& entries,
                                      const TFileFilter& accept)
{
    const std::size_t end = FindCurrent(fileName, entries).value_or(entries.size());
    const std::string folder = FolderOf(fileName);
    for (std::size_t i = end; i-- > 0;) {
        std::string name = folder + entries[i];
        if (accept(name))
            return name;
    }
    return std::nullopt;
}

std::optional<std::string> NextFile(const std::string& fileName)
{
    return NextFileOf(fileName, ListFolderFiles(FolderOf(fileName)), IsSupportedFile);
}

std::optional<std::string> PrevFile(const std::string& fileName)
{
    return PrevFileOf(fileName, ListFolderFiles(FolderOf(fileName)), IsSupportedFile);
}

std::vector<std::string> NeighbourFiles(const std::string& fileName)
{
    const std::vector<std::string> entries = ListFolderFiles(FolderOf(fileName));
    std::vector<std::string> names;
    for (const auto& name : {NextFileOf(fileName, entries, IsSupportedFile), PrevFileOf(fileName, entries, IsSupportedFile)})
        if (name)
            names.push_back(*name);
    return names;
}

}  // namespace nolvi2
