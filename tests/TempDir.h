#pragma once
// A fresh folder under the system's temporary folder for one test, removed with everything in
// it when the test ends.

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace nolvi2::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "nolvi2-test")
    {
        std::string templ = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(templ.data()))
            throw std::runtime_error("mkdtemp failed");
        FPath = templ;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }
    std::size_t EntryCount() const
    {
        return std::size_t(std::distance(std::filesystem::directory_iterator(FPath), std::filesystem::directory_iterator()));
    }

private:
    std::filesystem::path FPath;
};

}  // namespace nolvi2::test
