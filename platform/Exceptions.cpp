#include "Exceptions.h"

#include <cstring>

namespace nolvi2 {

std::string ErrnoText(int err)
{
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(err, buf, sizeof buf);
}

}  // namespace nolvi2
