#include "EarlyRead.h"

#include "StartupArgs.h"
#include "WindowSettings.h"

#include <exception>
#include <future>
#include <memory>

namespace nolvi2 {

namespace {

struct TEarlyRead {
    std::string Name;
    TReadOptions Options;
    std::future<std::unique_ptr<TBitmap>> Picture;
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
    if (startup.Receive || startup.Files.empty() || !IsBuiltInFile(startup.Files.front()))
        return;
    TEarlyRead& pending = Pending();
    pending.Name = startup.Files.front();
    pending.Options = ReadOptionsOf(StoredOptions());
    try {
        pending.Picture = std::async(std::launch::async, [name = pending.Name, options = pending.Options] {
            auto picture = std::make_unique<TBitmap>();
            LoadPicture(name, *picture, {}, options);
            return picture;
        });
    } catch (const std::system_error&) {
        pending.Name.clear();  // no thread to be had: the window reads it
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
