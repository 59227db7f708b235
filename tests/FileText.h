#pragma once
// Small file helpers for the tests of the settings stores: a file's bytes, a file written
// from bytes, the permission bits of a path, and whether the process ignores permissions.

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2::test {

inline std::string ReadText(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const std::string& name, const std::string& text)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    if (!out)
        throw std::runtime_error("cannot write " + name);
}

// The permission bits, or -1 when the path does not exist.
inline int ModeOf(const std::string& name)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Root passes every permission check, so tests of unwritable folders cannot run as root.
inline bool IgnoresPermissions() { return ::geteuid() == 0; }

}  // namespace nolvi2::test
