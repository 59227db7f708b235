#include "Exceptions.h"

#include <cerrno>
#include <cstring>

namespace nolvi2 {

std::string ErrnoText(int err)
{
    switch (err) {
    case ENOENT: return "ファイルまたはフォルダがありません";
    case EACCES:
    case EPERM: return "アクセスが拒否されました";
    case EISDIR: return "フォルダです";
    case ENOSPC: return "空き領域がありません";
    case EROFS: return "読み取り専用のファイルシステムです";
    default: break;
    }
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(err, buf, sizeof buf);
}

}  // namespace nolvi2
