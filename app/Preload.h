#pragma once
// Pictures read ahead on a thread of their own: the neighbours of the picture shown, so that
// stepping to one shows it at once. A preloaded picture is used only when it was read with the
// same options from the file as it is when asked for (the same device, inode, size and
// modification time); anything else is read as always.

#include "OpenPicture.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nolvi2 {

// What tells a file's contents apart without reading them; nothing for a file that cannot be
// looked at.
struct TFileIdentity {
    uint64_t Device = 0, Inode = 0;
    int64_t Size = 0, Seconds = 0, Nanoseconds = 0;
    bool operator==(const TFileIdentity&) const = default;
};
std::optional<TFileIdentity> IdentityOf(const std::string& fileName);

class TPreloader {
public:
    // At most two pictures, and at most budget bytes of pixels between them.
    static constexpr std::size_t kMostPictures = 2;
    static constexpr std::size_t kDefaultBudget = std::size_t(512) << 20;

    explicit TPreloader(std::size_t budget = kDefaultBudget);
    // Waits for the read under way, if any.
    ~TPreloader();
    TPreloader(const TPreloader&) = delete;
    TPreloader& operator=(const TPreloader&) = delete;

    // Keeps exactly these files (the first kMostPictures), read with options, reading the
    // missing ones in order; pictures and reads of other files are dropped (a read under way
    // ends in the background). Names of files that cannot be looked at are passed over.
    void Want(const std::vector<std::string>& names, const TReadOptions& options);
    // When name was preloaded with options and the file is unchanged since, waits for its
    // read if it is still running and moves the picture into picture: true. False, with
    // picture untouched, otherwise (also when the read failed: the caller reads the file and
    // reports what that reading reports). Either way name is no longer kept.
    bool Take(const std::string& name, const TReadOptions& options, TBitmap& picture);
    // The names kept, read or not, and a wait until all of them are read (for tests).
    std::vector<std::string> Kept() const;
    void WaitUntilRead();

private:
    struct TEntry;
    void Run(std::stop_token stop);

    const std::size_t FBudget;
    mutable std::mutex FLock;
    std::condition_variable_any FChanged;
    std::vector<std::shared_ptr<TEntry>> FEntries;
    std::jthread FWorker;  // last: stopped and joined before the rest goes
};

}  // namespace nolvi2
