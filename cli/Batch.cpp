#include "Batch.h"

#include "platform/Exceptions.h"
#include "platform/SafeFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace nolvi2 {

namespace {

sigset_t InterruptSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, s);
    return set;
}

class TDescriptor {
public:
    TDescriptor(int fd, const char* what) : FFd(fd)
    {
        if (FFd < 0)
            throw Exception(std::string(what) + " を作成できません。(" + ErrnoText(errno) + ")");
    }
    ~TDescriptor() { ::close(FFd); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

TFileResult RunOne(const std::function<TFileResult(std::size_t)>& work, std::size_t index)
{
    try {
        return work(index);
    } catch (const std::exception& e) {
        return {true, {}, std::string(e.what()) + "\n"};
    } catch (...) {
        return {true, {}, "不明なエラーです。\n"};
    }
}

}  // namespace

void HoldInterrupts()
{
    const sigset_t set = InterruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void RunBatch(std::size_t count, unsigned workers, const std::function<TFileResult(std::size_t)>& work,
              const std::function<void(std::size_t, TFileResult&&)>& finished,
              const std::function<void(int, std::size_t)>& interrupted)
{
    // Every file a batch writes is one output, renamed into place once.
    const std::size_t writtenBefore = SafeWritesDone();
    HoldInterrupts();
    const sigset_t set = InterruptSignals();
    const TDescriptor signals(::signalfd(-1, &set, SFD_CLOEXEC), "signalfd");
    const TDescriptor wake(::eventfd(0, EFD_CLOEXEC), "eventfd");

    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<std::pair<std::size_t, TFileResult>> ready;
    const auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            TFileResult result = RunOne(work, i);
            {
                const std::lock_guard guard(lock);
                ready.emplace_back(i, std::move(result));
            }
            const uint64_t one = 1;
            while (::write(wake.Fd(), &one, sizeof one) < 0 && errno == EINTR) {
            }
        }
    };
    std::vector<std::jthread> threads;
    for (unsigned k = 0; k < workers; ++k) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error& e) {
            if (threads.empty())
                throw Exception("作業スレッドを作成できません。(" + ErrnoText(e.code().value()) + ")");
            break;  // fewer workers than asked for do the same work
        }
    }

    std::vector<std::pair<std::size_t, TFileResult>> taken;
    std::size_t failed = 0;  // of the results passed to finished
    const auto deliver = [&] {
        {
            const std::lock_guard guard(lock);
            taken.swap(ready);
        }
        for (auto& [index, result] : taken) {
            failed += result.Failed;
            finished(index, std::move(result));
        }
        const std::size_t n = taken.size();
        taken.clear();
        return n;
    };
    for (std::size_t done = 0; done < count;) {
        pollfd fds[2] = {{signals.Fd(), POLLIN, 0}, {wake.Fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;  // EINTR: the blocked signals cannot cause it, a stopped process can
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signals.Fd(), &info, sizeof info) != ssize_t(sizeof info))
                continue;
            const int signal = int(info.ssi_signo);
            deliver();
            // The workers go on until the process ends, but from here on none of them can
            // rename a file into place: the count of written files is final. A worker may have
            // renamed its output and not yet handed its result in; the count has it all the same.
            const std::size_t written = AbandonSafeWrites() - writtenBefore;
            interrupted(signal, written + failed);
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(128 + signal);
        }
        if (fds[1].revents & POLLIN) {
            uint64_t n = 0;
            if (::read(wake.Fd(), &n, sizeof n) < 0)
                continue;
            done += deliver();
        }
    }
}

unsigned AvailableProcessors()
{
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0)
        return unsigned(CPU_COUNT(&cpus));
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace nolvi2
