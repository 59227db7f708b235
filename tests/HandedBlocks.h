#pragma once
// The hand-over blocks a process holds: the memory files named "nolvi2" among its open
// descriptors.

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace nolvi2::test {

// The descriptor numbers of pid's hand-over blocks ("self": this process).
inline std::vector<int> HandedBlocks(const std::string& pid = "self")
{
    std::vector<int> fds;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + pid + "/fd", ec)) {
        std::error_code linkError;
        const std::filesystem::path target = std::filesystem::read_symlink(e.path(), linkError);
        if (!linkError && target.string().starts_with("/memfd:nolvi2"))
            fds.push_back(std::stoi(e.path().filename().string()));
    }
    return fds;
}

}  // namespace nolvi2::test
