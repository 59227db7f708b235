#pragma once
// The window benchmarks' own settings, never the user's: a key store in a fresh temporary
// folder (made the settings place of this process and of the windows it starts) holding a
// window that is not fitted to its picture. Returns the folder, or empty on failure.

#include "settings/OZIniFile2.h"

#include <cstdlib>
#include <string>

#include <unistd.h>

namespace nolvi2::bench {

inline std::string PrivateWindowSettings()
{
    char config[] = "/tmp/nolvi2-bench-settings-XXXXXX";
    if (!::mkdtemp(config))
        return {};
    ::setenv("XDG_CONFIG_HOME", config, 1);
    TOZIniFile2::SetExecutableName(std::string(config) + "/nolvi2");
    TOZIniFile2::InitializeStore(isRegistry);
    TOZIniFile2 store;
    store.OpenSection("Config", true);
    store.WriteBool("WindowResizeByZoom", false);
    store.UpdateFile();
    return config;
}

}  // namespace nolvi2::bench
