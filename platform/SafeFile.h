#pragma once
// The one way files are written: into a temporary file in the target's folder, flushed to
// disk, then renamed over the target. The target's permission bits are kept, a symbolic
// link is followed and its target replaced, and on any failure the temporary file is
// removed and the old file is untouched.

#include <functional>
#include <string>

namespace nolvi2 {

class TStream;

void WriteFileSafely(const std::string& fileName, const std::function<void(TStream&)>& write);

}  // namespace nolvi2
