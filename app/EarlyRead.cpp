#include "EarlyRead.h"

#include "StartupArgs.h"
#include "WindowSettings.h"

#include <exception>
#include <future>
#include <memory>
#include <utility>

namespace nolvi2 {

namespace {

struct TEarlyRead {
    std::string Name;
    TReadOptions Options;
    std::future<std::unique_ptr<TBitmap>> Picture;
    // For a file of another format: the plug-in registry, searched first on the same thread.
    std::future<std::unique_ptr<TPluginHost>> Plugins;
    // The picture's size as soon as it is known: from a JPEG's header, else at the end.
    std::shared_future<TEarlySize> Size;
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
    try {
        pending.Picture = std::async(std::launch::async, [name = pending.Name, options = pending.Options,
                                                          plugins = std::move(plugins),
                                                          search = pending.Plugins.valid(), size]() mutable {
            if (search)
                plugins.set_value(std::make_unique<TPluginHost>());
            bool told = false;
            const auto tell = [&](TEarlySize s) {
                if (!std::exchange(told, true))
                    size->set_value(s);
            };
            auto picture = std::make_unique<TBitmap>();
            try {
                LoadPicture(name, *picture, {}, options,
                            [&](int32_t width, int32_t height) { tell({width, height, false}); });
            } catch (...) {
                tell({0, 0, true});
                throw;
            }
            tell({picture->Width(), picture->Height(), true});
            return picture;
        });
    } catch (const std::system_error&) {
        // No thread to be had: the window searches and reads as always.
        pending.Name.clear();
        pending.Plugins = {};
        pending.Size = {};
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
