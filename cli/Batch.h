#pragma once
// Runs the files of a batch on worker threads. The calling thread hands nothing but results
// on: it writes every file's messages whole, and it alone takes SIGINT, SIGTERM and SIGHUP,
// which end the batch at once without leaving a temporary file behind.

#include <cstddef>
#include <functional>
#include <string>

namespace nolvi2 {

// What one file gave: the text it has for stdout and for stderr.
struct TFileResult {
    bool Failed = false;
    std::string Out;
    std::string Err;
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and so in every thread started
// from it later, libraries' threads included, so that only RunBatch receives them. Call it
// before anything starts a thread (before the plug-ins are loaded).
void HoldInterrupts();

// Runs work(0) … work(count - 1), each once and handed out in that order, on workers threads,
// and passes each result to finished(index, result) on the calling thread as the files finish.
// A work that throws gives a failed result with the exception's message.
//
// An interrupting signal ends the process without waiting for the running files: the
// results already in are passed to finished, the temporary files of the writes under way are
// removed (the outputs already renamed into place are complete, and no other comes after),
// interrupted(signal, processed) is called, and the process exits with 128 + signal. processed
// counts the files done: every output renamed into place, whether or not its result came in,
// and the failed files passed to finished.
void RunBatch(std::size_t count, unsigned workers, const std::function<TFileResult(std::size_t)>& work,
              const std::function<void(std::size_t, TFileResult&&)>& finished,
              const std::function<void(int, std::size_t)>& interrupted);

// The processors this process may run on, at least 1.
unsigned AvailableProcessors();

}  // namespace nolvi2
