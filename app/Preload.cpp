#include "Preload.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>

namespace nolvi2 {

std::optional<TFileIdentity> IdentityOf(const std::string& fileName)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TFileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), int64_t(st.st_mtim.tv_sec),
                         int64_t(st.st_mtim.tv_nsec)};
}

struct TPreloader::TEntry {
    std::string Name;
    TReadOptions Options;
    TFileIdentity Identity;
    bool Started = false;
    bool Done = false;
    std::unique_ptr<TBitmap> Picture;  // once done; none when the read failed or did not fit
};

TPreloader::TPreloader(std::size_t budget) : FBudget(budget), FWorker([this](std::stop_token stop) { Run(stop); }) {}

TPreloader::~TPreloader()
{
    FWorker.request_stop();
    FChanged.notify_all();
}

void TPreloader::Want(const std::vector<std::string>& names, const TReadOptions& options)
{
    std::vector<std::shared_ptr<TEntry>> wanted;
    for (const std::string& name : names) {
        if (wanted.size() == kMostPictures)
            break;
        const std::optional<TFileIdentity> identity = IdentityOf(name);
        if (!identity)
            continue;
        const std::lock_guard lock(FLock);
        const auto kept = std::find_if(FEntries.begin(), FEntries.end(), [&](const auto& e) {
            return e->Name == name && e->Options == options && e->Identity == *identity;
        });
        if (kept != FEntries.end()) {
            wanted.push_back(*kept);
            continue;
        }
        auto entry = std::make_shared<TEntry>();
        entry->Name = name;
        entry->Options = options;
        entry->Identity = *identity;
        wanted.push_back(std::move(entry));
    }
    {
        const std::lock_guard lock(FLock);
        FEntries = std::move(wanted);
    }
    FChanged.notify_all();
}

bool TPreloader::Take(const std::string& name, const TReadOptions& options, TBitmap& picture)
{
    std::shared_ptr<TEntry> entry;
    {
        std::unique_lock lock(FLock);
        const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                                     [&](const auto& e) { return e->Name == name && e->Options == options; });
        if (it == FEntries.end())
            return false;
        entry = *it;
        FEntries.erase(it);
        FChanged.wait(lock, [&] { return entry->Done || !entry->Started; });
        if (!entry->Done)
            return false;  // not begun yet: reading it here is as quick
    }
    if (!entry->Picture || IdentityOf(name) != entry->Identity)
        return false;
    picture.TakeOver(*entry->Picture);
    return true;
}

std::vector<std::string> TPreloader::Kept() const
{
    const std::lock_guard lock(FLock);
    std::vector<std::string> names;
    for (const auto& e : FEntries)
        names.push_back(e->Name);
    return names;
}

void TPreloader::WaitUntilRead()
{
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] { return std::all_of(FEntries.begin(), FEntries.end(), [](const auto& e) { return e->Done; }); });
}

void TPreloader::Run(std::stop_token stop)
{
    for (;;) {
        std::shared_ptr<TEntry> entry;
        {
            std::unique_lock lock(FLock);
            FChanged.wait(lock, stop, [&] {
                return std::any_of(FEntries.begin(), FEntries.end(), [](const auto& e) { return !e->Started; });
            });
            if (stop.stop_requested())
                return;
            entry = *std::find_if(FEntries.begin(), FEntries.end(), [](const auto& e) { return !e->Started; });
            entry->Started = true;
        }
        auto picture = std::make_unique<TBitmap>();
        try {
            LoadPicture(entry->Name, *picture, {}, entry->Options);
            // A file that changed while it was read may have given a mixture.
            if (IdentityOf(entry->Name) != entry->Identity)
                picture.reset();
        } catch (const std::exception&) {
            picture.reset();
        }
        {
            const std::lock_guard lock(FLock);
            std::size_t held = 0;
            for (const auto& e : FEntries)
                if (e->Picture)
                    held += e->Picture->ImageBytes();
            if (picture && held + picture->ImageBytes() > FBudget)
                picture.reset();
            entry->Picture = std::move(picture);
            entry->Done = true;
        }
        FChanged.notify_all();
    }
}

}  // namespace nolvi2
