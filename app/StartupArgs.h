#pragma once
// What the command line asks of a new window: a position ("pos:x,y"), a picture handed over
// in shared memory ("common:nolvi" descriptor size), or files to open, the first here and every
// further one in a window of its own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nolvi2 {

struct TStartup {
    // From the first parameter starting with "pos:": each coordinate that is an integer.
    std::optional<int32_t> Left, Top;
    bool HasPosition = false;
    // "common:nolvi" (in any case) followed by the block's descriptor number and size.
    bool Receive = false;
    std::string BlockFd;
    int32_t BlockSize = 0;
    // The remaining parameters, when nothing is received.
    std::vector<std::string> Files;
};

// Parameters as the command line gives them (without the program name). A size that is not
// an integer or parameters missing after "common:nolvi" raise Exception with the conversion
// or list-index message.
TStartup ParseStartup(std::vector<std::string> parameters);

}  // namespace nolvi2
