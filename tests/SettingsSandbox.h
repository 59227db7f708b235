#pragma once
// A private settings place for one test: the user's key store in a temporary folder
// ($XDG_CONFIG_HOME) and the executable, which places the INI file, in another, so that no
// test reads or writes the real settings. Both are put back when it goes.

#include "TempDir.h"
#include "settings/OZIniFile2.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace nolvi2::test {

class SettingsSandbox {
public:
    // With createKey, the program key exists (an empty store: no first-start question).
    explicit SettingsSandbox(bool createKey = true)
    {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            FOldConfig = old;
        std::filesystem::create_directories(Config());
        std::filesystem::create_directories(Bin());
        ::setenv("XDG_CONFIG_HOME", Config().c_str(), 1);
        TOZIniFile2::SetExecutableName(Executable());
        if (createKey)
            TOZIniFile2::InitializeStore(isRegistry);
    }
    ~SettingsSandbox()
    {
        TOZIniFile2::SetExecutableName({});
        if (FOldConfig)
            ::setenv("XDG_CONFIG_HOME", FOldConfig->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    SettingsSandbox(const SettingsSandbox&) = delete;
    SettingsSandbox& operator=(const SettingsSandbox&) = delete;

    std::string Config() const { return FTemp / "config"; }
    std::string Bin() const { return FTemp / "bin"; }
    std::string Executable() const { return Bin() + "/nolvi2"; }
    std::string IniFile() const { return Bin() + "/nolvi2.ini"; }
    std::string KeyFolder() const { return Config() + "/Tamberlo/nolvi2"; }

private:
    TempDir FTemp{"nolvi2-settings"};
    std::optional<std::string> FOldConfig;
};

}  // namespace nolvi2::test
