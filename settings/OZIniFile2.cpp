#include "OZIniFile2.h"

#include "platform/Format.h"
#include "platform/SafeFile.h"
#include "platform/Streams.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace nolvi2 {

namespace {

std::string& ExecutableOverride()
{
    static std::string name;
    return name;
}

// The first start's answers given in this process, by the places they were given for (the
// INI file's name and the program key's folder).
std::map<std::string, TIniStyle>& FirstStartAnswers()
{
    static std::map<std::string, TIniStyle> answers;
    return answers;
}

}  // namespace

void TOZIniFile2::SetExecutableName(std::string name) { ExecutableOverride() = std::move(name); }

std::string TOZIniFile2::ExecutableName()
{
    if (!ExecutableOverride().empty())
        return ExecutableOverride();
    const std::string exe = ExecutablePath();
    return exe.empty() ? std::string("nolvi2") : exe;
}

std::string TOZIniFile2::GetAppName()
{
    const std::string exe = ExecutableName();
    const auto slash = exe.rfind('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot != 0)
        name.resize(dot);
    return name;
}

std::string TOZIniFile2::GetIniFileName()
{
    std::string exe = ExecutableName();
    const auto slash = exe.rfind('/');
    const auto dot = exe.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        exe.resize(dot);
    return exe + ".ini";
}

std::string TOZIniFile2::ProgramKey() { return "Software\\Tamberlo\\" + GetAppName(); }

std::string TOZIniFile2::ProgramKeyFolder() { return TRegistry::KeyFolder(ProgramKey()); }

bool TOZIniFile2::DetectStyle(TIniStyle& style, std::unique_ptr<TRegistry>* registry)
{
    auto reg = std::make_unique<TRegistry>();
    if (reg->KeyExists(ProgramKey())) {
        style = isRegistry;
        if (registry)
            *registry = std::move(reg);
        return true;
    }
    if (FileExists(GetIniFileName())) {
        style = isIniFile;
        return true;
    }
    return false;
}

void TOZIniFile2::InitializeStore(TIniStyle style, TRegistry* registry)
{
    if (style == isIniFile) {
        const std::string name = GetIniFileName();
        if (!FileExists(name))
            WriteFileSafely(name, [](TStream&) {}, 0600);
        return;
    }
    TRegistry temporary;
    TRegistry& reg = registry ? *registry : temporary;
    if (!reg.CreateKey(ProgramKey()))
        throw EFCreateError(Format("設定の保存先を作成できません。\r%s", ProgramKeyFolder().c_str()));
}

void TOZIniFile2::ChangeStyle(TIniStyle newStyle)
{
    TIniStyle old;
    if (!DetectStyle(old) || old == newStyle)
        return;
    // The new store is made first: when it cannot be (an INI file in a folder that is not
    // writable), the old one stays with the settings in it.
    const std::string iniName = GetIniFileName();
    const bool newExisted = newStyle == isIniFile ? FileExists(iniName) : TRegistry().KeyExists(ProgramKey());
    InitializeStore(newStyle);
    bool deleted;
    if (old == isRegistry) {
        deleted = TRegistry().DeleteKey(ProgramKey());
    } else {
        deleted = ::unlink(iniName.c_str()) == 0 || errno == ENOENT;
    }
    if (!deleted) {
        if (!newExisted) {
            if (newStyle == isIniFile)
                ::unlink(iniName.c_str());
            else
                TRegistry().DeleteKey(ProgramKey());
        }
        throw Exception("古い形式の設定が削除できませんでした");
    }
}

bool TOZIniFile2::ChooseStyle(const TStyleDialog& dialog)
{
    TIniStyle style;
    if (!GetStyle(style))
        style = isIniFile;
    if (!dialog || !dialog(ProgramKeyFolder(), style))
        return false;
    ChangeStyle(style);
    return true;
}

TOZIniFile2::TOZIniFile2(const TFirstStartQuestion& question) : FAppName(GetAppName())
{
    TIniStyle style;
    if (!DetectStyle(style, &FRegistry)) {
        // The first start. An installed program's folder is not writable: the key store then,
        // without asking.
        const std::string iniName = GetIniFileName();
        style = isRegistry;
        if (::access(FolderOf(iniName).c_str(), W_OK) == 0 && question) {
            const std::string places = iniName + '\n' + ProgramKeyFolder();
            const auto known = FirstStartAnswers().find(places);
            if (known != FirstStartAnswers().end()) {
                style = known->second;
            } else {
                style = question() ? isIniFile : isRegistry;
                FirstStartAnswers().emplace(places, style);
            }
        }
        if (style == isIniFile) {
            try {
                InitializeStore(isIniFile);
            } catch (const std::exception& e) {
                FNotice = e.what();
                style = isRegistry;
            }
        }
        if (style == isRegistry) {
            if (!FRegistry)
                FRegistry = std::make_unique<TRegistry>();
            InitializeStore(isRegistry, FRegistry.get());
        }
    }
    FStyle = style;
    if (FStyle == isIniFile) {
        FRegistry.reset();
        FIniFile = std::make_unique<TMemIniFile>(GetIniFileName());
    } else if (!FRegistry) {
        FRegistry = std::make_unique<TRegistry>();
    }
}

TOZIniFile2::~TOZIniFile2() = default;

void TOZIniFile2::OpenSection(std::string_view name, bool canCreate)
{
    if (FStyle == isIniFile) {
        FSectionOpen = true;
        FCurrentSection = name;
        return;
    }
    FSectionOpen = false;
    FCurrentSection.clear();
    FRegistry->CloseKey();
    const std::string key = name.empty() ? ProgramKey() : ProgramKey() + "\\" + std::string(name);
    if (FRegistry->OpenKey(key, canCreate)) {
        FSectionOpen = true;
        FCurrentSection = name;
    }
}

void TOZIniFile2::RequireSection() const
{
    if (!FSectionOpen)
        throw Exception("カレントセクションが設定されていません。");
}

template <class T, class Read>
T TOZIniFile2::ReadKeyStore(std::string_view key, T def, Read read)
{
    if (!FSectionOpen || !FRegistry->ValueExists(key))
        return def;
    try {
        return read(*FRegistry);
    } catch (const ERegistryException& e) {
        FReadFailures.emplace_back(e.what());
        return def;
    }
}

int32_t TOZIniFile2::ReadInteger(std::string_view key, int32_t def)
{
    if (FStyle == isIniFile)
        return FIniFile->ReadInteger(FCurrentSection, key, def);
    return ReadKeyStore(key, def, [&](const TRegistry& r) { return r.ReadInteger(key); });
}

std::string TOZIniFile2::ReadString(std::string_view key, std::string_view def)
{
    if (FStyle == isIniFile)
        return FIniFile->ReadString(FCurrentSection, key, def);
    return ReadKeyStore(key, std::string(def), [&](const TRegistry& r) { return r.ReadString(key); });
}

bool TOZIniFile2::ReadBool(std::string_view key, bool def)
{
    if (FStyle == isIniFile)
        return FIniFile->ReadBool(FCurrentSection, key, def);
    return ReadKeyStore(key, def, [&](const TRegistry& r) { return r.ReadBool(key); });
}

void TOZIniFile2::WriteInteger(std::string_view key, int32_t value)
{
    RequireSection();
    if (FStyle == isIniFile)
        FIniFile->WriteInteger(FCurrentSection, key, value);
    else
        FRegistry->WriteInteger(key, value);
}

void TOZIniFile2::WriteString(std::string_view key, std::string_view value)
{
    RequireSection();
    if (FStyle == isIniFile)
        FIniFile->WriteString(FCurrentSection, key, value);
    else
        FRegistry->WriteString(key, value);
}

void TOZIniFile2::WriteBool(std::string_view key, bool value)
{
    RequireSection();
    if (FStyle == isIniFile)
        FIniFile->WriteBool(FCurrentSection, key, value);
    else
        FRegistry->WriteBool(key, value);
}

void TOZIniFile2::DeleteValue(std::string_view key)
{
    RequireSection();
    if (FStyle == isIniFile)
        FIniFile->DeleteKey(FCurrentSection, key);
    else
        FRegistry->DeleteValue(key);
}

std::vector<std::string> TOZIniFile2::ValueNames() const
{
    if (!FSectionOpen)
        return {};
    return FStyle == isIniFile ? FIniFile->ValueNames(FCurrentSection) : FRegistry->ValueNames();
}

bool TOZIniFile2::SectionExists(std::string_view name)
{
    if (FStyle == isIniFile)
        return FIniFile->SectionExists(name);
    return FRegistry->KeyExists(ProgramKey() + "\\" + std::string(name));
}

bool TOZIniFile2::EraseSection(std::string_view name)
{
    if (FStyle == isIniFile) {
        FIniFile->EraseSection(name);
        return true;
    }
    const std::string key = ProgramKey() + "\\" + std::string(name);
    if (name.empty())
        return false;  // never the program key itself
    if (FSectionOpen && LowerAscii(FCurrentSection) == LowerAscii(name)) {
        FSectionOpen = false;
        FCurrentSection.clear();
    }
    return FRegistry->DeleteKey(key);
}

void TOZIniFile2::UpdateFile()
{
    if (FStyle == isIniFile) {
        OpenSection("", false);
        FIniFile->UpdateFile();
        return;
    }
    // The key store: leaving the section writes its values; what fails is raised here.
    FSectionOpen = false;
    FCurrentSection.clear();
    FRegistry->CloseKey();
    OpenSection("", false);
}

}  // namespace nolvi2
