#pragma once
// The current user's key store: a tree of keys, each holding named integer and string
// values. The key HKEY_CURRENT_USER\Software\A\B is the folder $XDG_CONFIG_HOME/A/B (or
// ~/.config/A/B); its values live in one text file, "values.reg", written like a registry
// export:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\A\B]
//   "Count"=dword:00000003
//   "Data0"="/home/user/a.jpg"
//
// Key and value names compare without regard to case (A to Z), as registry names do.
// Values written into a key are kept with the open key and written, all at once, when the
// key is closed: the file is replaced through a temporary file, so a reader never sees half
// of it, and temporary files that a killed write left in the key's folder are removed. Folders are made private to the user (0700) and value files 0600.

#include "Exceptions.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nolvi2 {

// A value missing or of another type than asked for.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// The folder of the current user's keys: $XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config.
std::string KeyStoreRoot();

// The name of the file that holds a key's values; no key may have this name.
inline constexpr std::string_view kKeyValuesFile = "values.reg";

class TRegistry {
public:
    TRegistry() = default;
    // Closes the open key; values not yet written are written, and a failure is lost.
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Key paths are taken from HKEY_CURRENT_USER ("\Software\A\B" or "Software\A\B").
    // Only keys under Software exist; any other path is a key that does not exist and
    // cannot be made.
    bool KeyExists(std::string_view key) const;
    bool CreateKey(std::string_view key);
    // Closes the open key, then opens key, making it (and the keys above it) when canCreate.
    // On failure no key is open.
    bool OpenKey(std::string_view key, bool canCreate);
    // Writes the open key's changed values and closes it; a failure to write raises
    // EFCreateError or EWriteError (the key is closed all the same). A values file whose
    // permission bits forbid writing is not replaced (EWriteError).
    void CloseKey();
    // Deletes key with every key below it; true when it is gone (or was never there).
    bool DeleteKey(std::string_view key);
    bool HasOpenKey() const { return !FFolder.empty(); }
    // The open key's path from HKEY_CURRENT_USER, without a leading backslash.
    const std::string& CurrentPath() const { return FPath; }

    // The open key's values; ERegistryException when no key is open, the value is missing
    // or has another type.
    bool ValueExists(std::string_view name) const;
    int32_t ReadInteger(std::string_view name) const;
    std::string ReadString(std::string_view name) const;
    bool ReadBool(std::string_view name) const { return ReadInteger(name) != 0; }
    void WriteInteger(std::string_view name, int32_t value);
    void WriteString(std::string_view name, std::string_view value);
    void WriteBool(std::string_view name, bool value) { WriteInteger(name, value ? 1 : 0); }
    // Removes the value from the open key (written when the key is closed); false when it
    // was not there.
    bool DeleteValue(std::string_view name);
    // The names of the open key's values, in file order.
    std::vector<std::string> ValueNames() const;

    // The folder of key, empty when key is not a path the store can hold (outside Software,
    // an empty, "." or ".." part, a part holding '/' or NUL, or one named as the values file).
    // The folder's parts are spelled as given; an existing folder whose name differs only in
    // case is found by the operations above.
    static std::string KeyFolder(std::string_view key);

    enum class TValueType : uint8_t { Integer, String, Other };
    struct TValue {
        std::string Name;
        TValueType Type = TValueType::Other;
        int32_t Integer = 0;
        std::string Text;  // the string, or the whole line of a value of another type
    };
    // The values file's form: parsing never fails (lines that are not values are skipped).
    static std::vector<TValue> ParseValues(std::string_view text);
    static std::string FormatValues(std::string_view keyPath, const std::vector<TValue>& values);

private:
    const TValue* Find(std::string_view name) const;
    TValue& Put(std::string_view name);

    std::string FPath;    // open key's path, without the leading backslash
    std::string FFolder;  // open key's folder (empty: none open)
    std::vector<TValue> FValues;
    bool FChanged = false;
};

}  // namespace nolvi2
