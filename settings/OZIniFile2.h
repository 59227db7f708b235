#pragma once
// TOZIniFile2: the one road to the program's settings. They live either in an INI file
// beside the executable (its path with ".ini") or in the current user's key store under
// Software\Tamberlo\<program name>, one key per section. The user chooses once, at the first
// start, and later through the window's command; callers see sections of named integer,
// string and boolean values and never learn which store is in use.
//
// A store object is short-lived: create it, open sections, read or write, UpdateFile after
// writing, free it. INI writes not followed by UpdateFile are lost; key-store writes are
// written when their section is left (the next OpenSection or UpdateFile).

#include "IniFile.h"
#include "platform/KeyStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nolvi2 {

enum TIniStyle : uint8_t { isIniFile = 0, isRegistry = 1 };

// The question of the first start, asked in the program's confirmation box (Yes and No).
inline constexpr std::string_view kFirstStartQuestion =
    "アプリケーションの設定をINIファイルに保存します。よろしいですか？\r\r"
    "INIファイルに保存した場合、アンインストールなどが容易になりますが、\r"
    "マルチユーザー環境では設定が共有されてしまいます。\r\r"
    "INIファイルを使用する場合は「はい」を、\r"
    "レジストリを使用する場合は「いいえ」を選択して下さい。";

// The first start's question: true for the INI file. Without one, the key store is used.
using TFirstStartQuestion = std::function<bool()>;

class TOZIniFile2 {
public:
    // Decides the store and opens it; at the first start the user is asked question, once per
    // process and place: a later store of the same places takes the same answer without
    // asking (also when the store it chose could not be made). Raises the file error when the
    // INI file cannot be read.
    explicit TOZIniFile2(const TFirstStartQuestion& question = {});
    ~TOZIniFile2();
    TOZIniFile2(const TOZIniFile2&) = delete;
    TOZIniFile2& operator=(const TOZIniFile2&) = delete;

    TIniStyle Style() const { return FStyle; }
    const std::string& AppName() const { return FAppName; }
    bool SectionOpen() const { return FSectionOpen; }
    const std::string& CurrentSection() const { return FCurrentSection; }
    // What the first start could not do as the user chose (the INI file could not be made and
    // the key store is used instead); empty otherwise.
    const std::string& Notice() const { return FNotice; }

    // Makes name the current section. In the key store a missing key is made when
    // canCreate; an empty name selects the program key itself.
    void OpenSection(std::string_view name, bool canCreate);
    // The value, or def. A key-store value of another type also reads as def: only that value
    // is lost, and its message joins ReadFailures.
    int32_t ReadInteger(std::string_view key, int32_t def);
    std::string ReadString(std::string_view key, std::string_view def);
    bool ReadBool(std::string_view key, bool def);
    // The messages of the values that read as their default because of their type, in the
    // order they were read.
    const std::vector<std::string>& ReadFailures() const { return FReadFailures; }
    std::vector<std::string> TakeReadFailures() { return std::exchange(FReadFailures, {}); }
    void WriteInteger(std::string_view key, int32_t value);
    void WriteString(std::string_view key, std::string_view value);
    void WriteBool(std::string_view key, bool value);
    // Removes a value of the current section (RequireSection first).
    void DeleteValue(std::string_view key);
    // The names of the current section's values (none without a section).
    std::vector<std::string> ValueNames() const;
    // Raises the common exception "カレントセクションが設定されていません。" when no section is open.
    void RequireSection() const;
    bool SectionExists(std::string_view name);
    bool EraseSection(std::string_view name);
    // Leaves the current section (writing a key's values) and, for the INI file, writes it.
    void UpdateFile();

    // Places, from the executable's full path.
    static std::string GetAppName();
    static std::string GetIniFileName();
    // "Software\Tamberlo\" + the program's name, from HKEY_CURRENT_USER.
    static std::string ProgramKey();
    // The folder of the program key (shown to the user so that they can find it).
    static std::string ProgramKeyFolder();

    // Whether a store exists and which; the key store wins when both exist. registry, when
    // given, receives the key store object for the caller to keep.
    static bool DetectStyle(TIniStyle& style, std::unique_ptr<TRegistry>* registry = nullptr);
    static bool GetStyle(TIniStyle& style) { return DetectStyle(style); }
    // Creates an empty store of that kind (the INI file only when it does not exist).
    static void InitializeStore(TIniStyle style, TRegistry* registry = nullptr);
    // Creates an empty store of the new kind and deletes the existing one; nothing when no
    // store exists or it is of that kind already. When the new store cannot be made, its file
    // error; when the old one cannot be deleted, "古い形式の設定が削除できませんでした". Either way
    // the old store stays as it was and is still the one in use.
    static void ChangeStyle(TIniStyle newStyle);
    // The user's command: dialog(keyPathText, style) shows the choice starting from the store
    // in use (the INI file when none exists) and returns true for OK; then the store changes.
    // Returns whether the user confirmed.
    using TStyleDialog = std::function<bool(const std::string& keyPathText, TIniStyle& style)>;
    static bool ChooseStyle(const TStyleDialog& dialog);

    // The executable that places the store (default: this process's own, from /proc/self/exe).
    static void SetExecutableName(std::string name);
    static std::string ExecutableName();

private:
    template <class T, class Read>
    T ReadKeyStore(std::string_view key, T def, Read read);

    TIniStyle FStyle = isRegistry;
    std::string FAppName;
    std::unique_ptr<TMemIniFile> FIniFile;
    std::unique_ptr<TRegistry> FRegistry;
    bool FSectionOpen = false;
    std::string FCurrentSection;
    std::string FNotice;
    std::vector<std::string> FReadFailures;
};

}  // namespace nolvi2
