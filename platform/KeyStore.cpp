#include "KeyStore.h"

#include "Format.h"
#include "SafeFile.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace nolvi2 {

namespace {

// A values file larger than this is not one the program wrote.
constexpr int64_t kValuesFileLimit = 16 << 20;

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The parts of a key path below Software, or nothing when the path is not one of the store's.
std::optional<std::vector<std::string>> KeyParts(std::string_view key)
{
    std::vector<std::string> parts;
    std::size_t start = key.starts_with('\\') ? 1 : 0;
    while (start <= key.size()) {
        const std::size_t end = std::min(key.find('\\', start), key.size());
        parts.emplace_back(key.substr(start, end - start));
        start = end + 1;
    }
    // A trailing backslash names the same key.
    if (parts.size() > 1 && parts.back().empty())
        parts.pop_back();
    if (parts.empty() || !SameTextAscii(parts.front(), "Software"))
        return std::nullopt;
    parts.erase(parts.begin());
    for (const std::string& p : parts) {
        if (p.empty() || p == "." || p == ".." || p.find('/') != std::string::npos ||
            p.find('\0') != std::string::npos || SameTextAscii(p, kKeyValuesFile))
            return std::nullopt;
    }
    return parts;
}

// The entry of folder spelled name, or else the first (by name) that differs only in case.
std::optional<std::string> FindFolder(const std::string& folder, const std::string& name)
{
    const std::string exact = folder + "/" + name;
    if (IsDirectory(exact))
        return exact;
    std::optional<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view entry = e->d_name;
        if (SameTextAscii(entry, name) && IsDirectory(folder + "/" + std::string(entry)) &&
            (!found || entry < std::string_view(*found).substr(folder.size() + 1)))
            found = folder + "/" + std::string(entry);
    }
    ::closedir(dir);
    return found;
}

// The folder of an existing key, or (canCreate) of a key made for it; nothing on failure.
std::optional<std::string> ResolveKey(std::string_view key, bool canCreate)
{
    const auto parts = KeyParts(key);
    if (!parts)
        return std::nullopt;
    std::string folder = KeyStoreRoot();
    if (!IsDirectory(folder)) {
        if (!canCreate)
            return std::nullopt;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!IsDirectory(folder))
            return std::nullopt;
    }
    for (const std::string& part : *parts) {
        if (std::optional<std::string> next = FindFolder(folder, part)) {
            folder = std::move(*next);
            continue;
        }
        if (!canCreate)
            return std::nullopt;
        folder += "/" + part;
        if (::mkdir(folder.c_str(), 0700) != 0 && !(errno == EEXIST && IsDirectory(folder)))
            return std::nullopt;
    }
    return folder;
}

std::string StripKeyPath(std::string_view key)
{
    std::string path(key.starts_with('\\') ? key.substr(1) : key);
    while (path.size() > 1 && path.back() == '\\')
        path.pop_back();
    return path;
}

void AppendQuoted(std::string& out, std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7f) {
                out += "\\x";
                out += kHex[u >> 4];
                out += kHex[u & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at line[pos] (pos at the opening quote); pos ends after the closing one.
std::optional<std::string> ReadQuoted(std::string_view line, std::size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string text;
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return text;
        }
        if (c != '\\' || i + 1 == line.size()) {
            text += c;
            continue;
        }
        const char e = line[++i];
        switch (e) {
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'x':
            if (i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 && HexDigit(line[i + 2]) >= 0) {
                text += char(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
                i += 2;
            } else {
                text += e;
            }
            break;
        default: text += e;  // \\ and \" and anything else: the character itself
        }
    }
    return std::nullopt;  // no closing quote
}

}  // namespace

std::string KeyStoreRoot()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return config;
    const char* home = std::getenv("HOME");
    std::string h = home && home[0] == '/' ? home : "";
    if (h.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            h = pw->pw_dir;
    }
    return (h.empty() ? std::string("/tmp") : h) + "/.config";
}

std::string TRegistry::KeyFolder(std::string_view key)
{
    const auto parts = KeyParts(key);
    if (!parts)
        return {};
    std::string folder = KeyStoreRoot();
    for (const std::string& p : *parts)
        folder += "/" + p;
    return folder;
}

TRegistry::~TRegistry()
{
    try {
        CloseKey();
    } catch (...) {
        // Nothing can be reported from here; callers that care close the key themselves.
    }
}

bool TRegistry::KeyExists(std::string_view key) const { return ResolveKey(key, false).has_value(); }

bool TRegistry::CreateKey(std::string_view key) { return ResolveKey(key, true).has_value(); }

bool TRegistry::OpenKey(std::string_view key, bool canCreate)
{
    CloseKey();
    std::optional<std::string> folder = ResolveKey(key, canCreate);
    if (!folder)
        return false;
    const std::string file = *folder + "/" + std::string(kKeyValuesFile);
    std::vector<TValue> values;
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 || errno != ENOENT)
        values = ParseValues(ReadWholeFile(file, kValuesFileLimit));
    FValues = std::move(values);
    FFolder = std::move(*folder);
    FPath = StripKeyPath(key);
    FChanged = false;
    return true;
}

void TRegistry::CloseKey()
{
    if (FFolder.empty())
        return;
    const std::string file = FFolder + "/" + std::string(kKeyValuesFile);
    const bool changed = FChanged;
    const std::string text = changed ? FormatValues(FPath, FValues) : std::string();
    FFolder.clear();
    FPath.clear();
    FValues.clear();
    FChanged = false;
    if (changed)
        WriteSettingsFile(file, text);
}

bool TRegistry::DeleteKey(std::string_view key)
{
    const auto parts = KeyParts(key);
    if (!parts || parts->empty())
        return false;  // never the whole of Software
    const std::optional<std::string> folder = ResolveKey(key, false);
    if (!folder)
        return true;
    if (FFolder == *folder || FFolder.starts_with(*folder + "/")) {
        FFolder.clear();
        FPath.clear();
        FValues.clear();
        FChanged = false;
    }
    // The key is first moved aside in one step (over an empty folder made for it), so that a
    // key that cannot be deleted stays whole instead of losing part of its tree.
    const std::size_t slash = folder->rfind('/');
    std::string aside = folder->substr(0, slash) + "/.deleted-XXXXXX";
    if (!::mkdtemp(aside.data()))
        return false;
    if (::rename(folder->c_str(), aside.c_str()) != 0) {
        ::rmdir(aside.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::remove_all(aside, ec);
    return !IsDirectory(*folder);
}

const TRegistry::TValue* TRegistry::Find(std::string_view name) const
{
    for (const TValue& v : FValues)
        if (SameTextAscii(v.Name, name))
            return &v;
    return nullptr;
}

TRegistry::TValue& TRegistry::Put(std::string_view name)
{
    if (FFolder.empty())
        throw ERegistryException("設定のキーが開かれていません。");
    FChanged = true;
    for (TValue& v : FValues)
        if (SameTextAscii(v.Name, name))
            return v;
    FValues.push_back(TValue{std::string(name), TValueType::Other, 0, {}});
    return FValues.back();
}

bool TRegistry::ValueExists(std::string_view name) const { return Find(name) != nullptr; }

int32_t TRegistry::ReadInteger(std::string_view name) const
{
    const TValue* v = Find(name);
    if (!v || v->Type != TValueType::Integer)
        throw ERegistryException(Format("設定の値 \"%s\" の型が正しくありません。\r%s", std::string(name).c_str(),
                                        (FFolder + "/" + std::string(kKeyValuesFile)).c_str()));
    return v->Integer;
}

std::string TRegistry::ReadString(std::string_view name) const
{
    const TValue* v = Find(name);
    if (!v || v->Type != TValueType::String)
        throw ERegistryException(Format("設定の値 \"%s\" の型が正しくありません。\r%s", std::string(name).c_str(),
                                        (FFolder + "/" + std::string(kKeyValuesFile)).c_str()));
    return v->Text;
}

void TRegistry::WriteInteger(std::string_view name, int32_t value)
{
    TValue& v = Put(name);
    v.Type = TValueType::Integer;
    v.Integer = value;
    v.Text.clear();
}

void TRegistry::WriteString(std::string_view name, std::string_view value)
{
    TValue& v = Put(name);
    v.Type = TValueType::String;
    v.Integer = 0;
    v.Text = value;
}

bool TRegistry::DeleteValue(std::string_view name)
{
    const auto removed = std::erase_if(FValues, [&](const TValue& v) { return SameTextAscii(v.Name, name); });
    FChanged = FChanged || removed > 0;
    return removed > 0;
}

std::vector<std::string> TRegistry::ValueNames() const
{
    std::vector<std::string> names;
    for (const TValue& v : FValues)
        names.push_back(v.Name);
    return names;
}

std::vector<TRegistry::TValue> TRegistry::ParseValues(std::string_view text)
{
    std::vector<TValue> values;
    std::unordered_set<std::string> seen;  // a name given twice: the first counts
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        // CR LF endings, and any carriage returns before them: a line kept whole for a value
        // of another type is written back without them.
        while (line.ends_with('\r'))
            line.remove_suffix(1);

        TValue v;
        std::size_t pos = 0;
        if (line.starts_with("@=")) {
            pos = 1;
        } else if (std::optional<std::string> name = ReadQuoted(line, pos)) {
            v.Name = std::move(*name);
        } else {
            continue;  // the header, a key line, a blank or broken line
        }
        if (pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        const std::string_view data = line.substr(pos);
        if (data.starts_with("dword:")) {
            const std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8)
                continue;
            uint32_t n = 0;
            bool ok = true;
            for (const char c : digits) {
                const int d = HexDigit(c);
                ok = ok && d >= 0;
                n = n * 16 + uint32_t(d < 0 ? 0 : d);
            }
            if (!ok)
                continue;
            v.Type = TValueType::Integer;
            v.Integer = int32_t(n);
        } else if (data.starts_with('"')) {
            std::size_t q = pos;
            std::optional<std::string> s = ReadQuoted(line, q);
            if (!s || q != line.size())
                continue;
            v.Type = TValueType::String;
            v.Text = std::move(*s);
        } else {
            v.Type = TValueType::Other;
            v.Text = std::string(line);
        }
        if (seen.insert(LowerAscii(v.Name)).second)
            values.push_back(std::move(v));
    }
    return values;
}

std::string TRegistry::FormatValues(std::string_view keyPath, const std::vector<TValue>& values)
{
    std::string out = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\";
    // The key's line is only a label (the folder is the key); a line break in it would make
    // a line of its own.
    for (const char c : keyPath)
        out += c == '\n' || c == '\r' ? ' ' : c;
    out += "]\n";
    for (const TValue& v : values) {
        if (v.Type == TValueType::Other) {
            out += v.Text;
            out += '\n';
            continue;
        }
        if (v.Name.empty())
            out += '@';
        else
            AppendQuoted(out, v.Name);
        out += '=';
        if (v.Type == TValueType::Integer)
            out += Format("dword:%08x", uint32_t(v.Integer));
        else
            AppendQuoted(out, v.Text);
        out += '\n';
    }
    return out;
}

}  // namespace nolvi2
