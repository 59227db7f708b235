#include "EarlyRead.h"

#include "ProcessingRoad.h"
#include "StartupArgs.h"
#include "WindowSettings.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace nolvi2 {

namespace {

// What the reading thread tells while it reads: the picture's size, the part asked for, and
// the reading's end.
struct TReadState {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::optional<TEarlySize> Size;  // the first size told
    bool Asked = false;
    int32_t Width = 0, Height = 0;
    std::unique_ptr<TBitmap> Part;
    bool Made = false;
    bool Ended = false;
    std::function<void()> Watch;

    void TellSize(TEarlySize size)
    {
        {
            const std::lock_guard lock(Mutex);
            if (Size)
                return;
            Size = size;
        }
        Changed.notify_all();
    }
    // Rows 0 to rows − 1 of picture are final.
    void RowsMade(const TBitmap& picture, int32_t rows)
    {
        {
            const std::lock_guard lock(Mutex);
            const int32_t width = std::min(Width, picture.Width()), height = std::min(Height, picture.Height());
            if (!Asked || Made || rows < height)
                return;
            Made = true;
            Part = CopySelection(picture, TRect{0, 0, width, height});
            if (Watch)
                Watch();
        }
        Changed.notify_all();
    }
    void End()
    {
        {
            const std::lock_guard lock(Mutex);
            Ended = true;
            if (Watch)
                Watch();
        }
        Changed.notify_all();
    }
};

struct TEarlyRead {
    std::string Name;
    TReadOptions Options;
    std::future<std::unique_ptr<TBitmap>> Picture;
    // For a file of another format: the plug-in registry, searched first on the same thread.
    std::future<std::unique_ptr<TPluginHost>> Plugins;
    std::shared_ptr<TReadState> State;
};

TEarlyRead& Pending()
{
    static TEarlyRead pending;
    return pending;
}

}  // namespace

void StartEarlyRead(const std::vector<std::string>& parameters)
{
    TStartup startup;
    try {
        startup = ParseStartup(parameters);
    } catch (const std::exception&) {
        return;  // the window reports it
    }
    if (startup.Receive || startup.Files.empty())
        return;
    TEarlyRead& pending = Pending();
    pending.Name = startup.Files.front();
    pending.Options = ReadOptionsOf(StoredOptions());
    // A file of another format needs the plug-ins: they are searched on the reading thread,
    // and the window waits for that search before it touches the registry or the format table.
    std::promise<std::unique_ptr<TPluginHost>> plugins;
    if (!IsBuiltInFile(pending.Name))
        pending.Plugins = plugins.get_future();
    auto state = std::make_shared<TReadState>();
    pending.State = state;
    try {
        pending.Picture = std::async(std::launch::async, [name = pending.Name, options = pending.Options,
                                                          plugins = std::move(plugins),
                                                          search = pending.Plugins.valid(), state]() mutable {
            // The end is told however the read leaves, also when the plug-in search fails.
            struct TEnd {
                TReadState& State;
                ~TEnd() { State.End(); }
            } end{*state};
            if (search)
                plugins.set_value(std::make_unique<TPluginHost>());
            auto picture = std::make_unique<TBitmap>();
            try {
                TReadWatch watch;
                watch.Size = [&](int32_t width, int32_t height) { state->TellSize({width, height, false}); };
                watch.Rows = [&](const TBitmap& rows, int32_t count) { state->RowsMade(rows, count); };
                LoadPicture(name, *picture, {}, options, watch);
            } catch (...) {
                state->TellSize({0, 0, true});
                throw;
            }
            state->TellSize({picture->Width(), picture->Height(), true});
            return picture;
        });
    } catch (const std::system_error&) {
        // No thread to be had: the window searches and reads as always.
        pending.Name.clear();
        pending.Plugins = {};
        pending.State.reset();
    }
}

std::optional<TEarlySize> EarlyReadSize(const std::string& name, const TReadOptions& options)
{
    const TEarlyRead& pending = Pending();
    if (!pending.Picture.valid() || !pending.State || name != pending.Name || options != pending.Options)
        return std::nullopt;
    TReadState& state = *pending.State;
    std::unique_lock lock(state.Mutex);
    state.Changed.wait(lock, [&] { return state.Size || state.Ended; });
    return state.Size;  // none when the read ended before it could tell (its plug-in search failed)
}

bool AskEarlyReadPart(const std::string& name, const TReadOptions& options, int32_t width, int32_t height)
{
    const TEarlyRead& pending = Pending();
    if (!pending.Picture.valid() || !pending.State || name != pending.Name || options != pending.Options ||
        width <= 0 || height <= 0)
        return false;
    TReadState& request = *pending.State;
    const std::lock_guard lock(request.Mutex);
    if (request.Asked)
        return false;
    request.Asked = true;
    request.Width = width;
    request.Height = height;
    return true;
}

std::unique_ptr<TBitmap> TakeEarlyReadPart()
{
    const TEarlyRead& pending = Pending();
    if (!pending.State)
        return nullptr;
    TReadState& request = *pending.State;
    std::unique_lock lock(request.Mutex);
    if (!request.Asked)
        return nullptr;
    request.Changed.wait(lock, [&] { return request.Part || request.Ended; });
    return std::move(request.Part);
}

void WatchEarlyRead(std::function<void()> changed)
{
    const TEarlyRead& pending = Pending();
    if (!pending.State)
        return;
    TReadState& request = *pending.State;
    const std::lock_guard lock(request.Mutex);
    request.Watch = std::move(changed);
    if (request.Watch && (request.Made || request.Ended))
        request.Watch();
}

std::unique_ptr<TPluginHost> TakeEarlyPlugins()
{
    TEarlyRead& pending = Pending();
    if (!pending.Plugins.valid())
        return nullptr;
    try {
        return pending.Plugins.get();
    } catch (const std::exception&) {
        return nullptr;  // the search could not even begin: the window makes its own
    }
}

bool TakeEarlyRead(const std::string& name, const TReadOptions& options, TBitmap& picture)
{
    TEarlyRead& pending = Pending();
    if (!pending.Picture.valid())
        return false;
    auto result = std::move(pending.Picture);
    if (name != pending.Name || options != pending.Options)
        return false;  // the settings changed meanwhile: the read is waited for and dropped
    try {
        picture.TakeOver(*result.get());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace nolvi2
