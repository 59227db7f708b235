#pragma once
// Starting another process of a program: an argument vector (no shell, no quoting), nothing
// waiting for it, and a failure to start reported to the caller.

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace nolvi2 {

// Starts program with arguments (argument 0 included) and the environment of this process.
// The child is reaped when it ends; nobody waits for it. A program that cannot be started
// raises Exception with "新しいウィンドウを開けませんでした。" and the cause. Returns the
// child's process number.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments);

// A way to start a program, as StartProgram does: returns the process number (0 for none).
using TProgramStarter = std::function<pid_t(const std::string& program, const std::vector<std::string>& arguments)>;

}  // namespace nolvi2
