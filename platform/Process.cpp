#include "Process.h"

#include "Exceptions.h"
#include "Format.h"

#include <csignal>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace nolvi2 {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments)
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
    pid_t pid = 0;
    // glibc reports a failed exec here, as the child's error.
    const int err = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (err != 0)
        throw Exception(Format("新しいウィンドウを開けませんでした。\r%s\r(%s)", program.c_str(), ErrnoText(err).c_str()));
    // Each window lives on its own; a thread collects the child's end so that none lingers.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return pid;
}

}  // namespace nolvi2
