#include "Process.h"

#include "Exceptions.h"
#include "Format.h"

#include "SafeFile.h"

#include <csignal>
#include <system_error>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace nolvi2 {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments, int handOver)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The child starts with no signal blocked and the default actions, whatever this
    // process's threads have set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // A descriptor duplicated onto its own number loses close-on-exec in this child only.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (handOver >= 0)
        posix_spawn_file_actions_adddup2(&actions, handOver, handOver);
    pid_t pid = 0;
    // glibc reports a failed exec here, as the child's error.
    const int err = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0)
        throw Exception(Format("新しいウィンドウを開けませんでした。\r%s\r(%s)", program.c_str(), ErrnoText(err).c_str()));
    // Each window lives on its own; a thread collects the child's end so that none lingers.
    // Without a thread to be had the child has started all the same: it stays a zombie once
    // ended, until this process ends.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
    }
    return pid;
}

const std::string& ProgramPath()
{
    static const std::string path = [] {
        const std::string real = ExecutablePath();
        return !real.empty() && ::access(real.c_str(), X_OK) == 0 ? real : std::string("/proc/self/exe");
    }();
    return path;
}

}  // namespace nolvi2
