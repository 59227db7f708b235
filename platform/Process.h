#pragma once
// Starting another process of a program: an argument vector (no shell, no quoting), nothing
// waiting for it, and a failure to start reported to the caller.

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace nolvi2 {

// Starts program with arguments (argument 0 included) and the environment of this process.
// handOver, when not -1, is a descriptor of this process (close-on-exec) that this child, and
// no other program, inherits under the same number. The child is reaped when it ends; nobody
// waits for it. A program that cannot be started raises Exception with
// "新しいウィンドウを開けませんでした。" and the cause. Returns the child's process number.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments, int handOver = -1);

// A way to start a program, as StartProgram does: returns the process number (0 for none).
using TProgramStarter =
    std::function<pid_t(const std::string& program, const std::vector<std::string>& arguments, int handOver)>;

// This program's executable, its links resolved, as it was when first asked: started under
// that name, a new process is named after its file (not "exe"). /proc/self/exe when the file
// is gone.
const std::string& ProgramPath();

}  // namespace nolvi2
