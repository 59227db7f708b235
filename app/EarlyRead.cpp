#include "EarlyRead.h"

#include "StartupArgs.h"
#include "WindowSettings.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <utility>

namespace nolvi2 {

namespace {

// A part of the picture asked for while it is decoded, and the reading's end.
struct TPartRequest {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Asked = false;
    int32_t Width = 0, Height = 0;
    std::unique_ptr<TBitmap> Part;
    bool Made = false;
    bool Ended = false;
    std::function<void()> Watch;

    // On the reading thread: rows 0 to rows − 1 of picture are final.
    void RowsMade(const TBitmap& picture, int32_t rows)
    {
        {
            const std::lock_guard lock(Mutex);
            if (!Asked || Made || rows < std::min(Height, picture.Height()))
                return;
            Made = true;
            Part = CopyTopLeft(picture, std::min(Width, picture.Width()), std::min(Height, picture.Height()));
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

    static std::unique_ptr<TBitmap> CopyTopLeft(const TBitmap& picture, int32_t width, int32_t height)
    {
        auto part = std::make_unique<TBitmap>(width, height, TPixelFormat::pf24bit);
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(part->ScanLine(y), picture.ScanLine(y), std::size_t(width) * 3);
        return part;
    }
};

struct TEarlyRead {
    std::string Name;
    TReadOptions Options;
    std::future<std::unique_ptr<TBitmap>> Picture;
    // For a file of another format: the plug-in registry, searched first on the same thread.
    std::future<std::unique_ptr<TPluginHost>> Plugins;
    // The picture's size as soon as it is known: from a JPEG's header, else at the end.
    std::shared_future<TEarlySize> Size;
    std::shared_ptr<TPartRequest> Part;
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
    auto size = std::make_shared<std::promise<TEarlySize>>();
    pending.Size = size->get_future().share();
    auto part = std::make_shared<TPartRequest>();
    pending.Part = part;
    try {
        pending.Picture = std::async(std::launch::async, [name = pending.Name, options = pending.Options,
                                                          plugins = std::move(plugins),
                                                          search = pending.Plugins.valid(), size, part]() mutable {
            if (search)
                plugins.set_value(std::make_unique<TPluginHost>());
            bool told = false;
            const auto tell = [&](TEarlySize s) {
                if (!std::exchange(told, true))
                    size->set_value(s);
            };
            auto picture = std::make_unique<TBitmap>();
            try {
                TReadWatch watch;
                watch.Size = [&](int32_t width, int32_t height) { tell({width, height, false}); };
                watch.Rows = [&](const TBitmap& rows, int32_t count) { part->RowsMade(rows, count); };
                LoadPicture(name, *picture, {}, options, watch);
            } catch (...) {
                part->End();
                tell({0, 0, true});
                throw;
            }
            part->End();
            tell({picture->Width(), picture->Height(), true});
            return picture;
        });
    } catch (const std::system_error&) {
        // No thread to be had: the window searches and reads as always.
        pending.Name.clear();
        pending.Plugins = {};
        pending.Size = {};
        pending.Part.reset();
    }
}

std::optional<TEarlySize> EarlyReadSize(const std::string& name, const TReadOptions& options)
{
    const TEarlyRead& pending = Pending();
    if (!pending.Picture.valid() || !pending.Size.valid() || name != pending.Name || options != pending.Options)
        return std::nullopt;
    try {
        return pending.Size.get();
    } catch (const std::exception&) {
        return std::nullopt;  // the read ended before it could tell (its plug-in search failed)
    }
}

bool AskEarlyReadPart(const std::string& name, const TReadOptions& options, int32_t width, int32_t height)
{
    const TEarlyRead& pending = Pending();
    if (!pending.Picture.valid() || !pending.Part || name != pending.Name || options != pending.Options ||
        width <= 0 || height <= 0)
        return false;
    TPartRequest& request = *pending.Part;
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
    if (!pending.Part)
        return nullptr;
    TPartRequest& request = *pending.Part;
    std::unique_lock lock(request.Mutex);
    if (!request.Asked)
        return nullptr;
    request.Changed.wait(lock, [&] { return request.Part || request.Ended; });
    return std::move(request.Part);
}

void WatchEarlyRead(std::function<void()> changed)
{
    const TEarlyRead& pending = Pending();
    if (!pending.Part)
        return;
    TPartRequest& request = *pending.Part;
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
