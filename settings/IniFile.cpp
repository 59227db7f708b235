#include "IniFile.h"

#include "platform/Format.h"
#include "platform/SafeFile.h"

#include <sys/stat.h>

namespace nolvi2 {

namespace {

// A settings file larger than this is not one the program wrote.
constexpr int64_t kIniFileLimit = 64 << 20;

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

// A value written into one line: line breaks would end it, so they become blanks.
std::string OneLine(std::string_view value)
{
    std::string s(value);
    for (char& c : s)
        if (c == '\r' || c == '\n')
            c = ' ';
    return s;
}

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text)
{
    std::string_view s = text;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s = s.substr(2);  // read as after "$"
    else if (s.empty())
        return std::nullopt;
    bool negative = false;
    bool hex = s.data() != text.data();
    if (!hex && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (!hex && !s.empty() && s.front() == '$') {
        hex = true;
        s.remove_prefix(1);
    }
    if (s.empty())
        return std::nullopt;
    uint64_t n = 0;
    for (const char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        n = n * (hex ? 16 : 10) + uint64_t(d);
        if (n > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (hex) {
        // Hexadecimal gives the 32 bits as they are: $FFFFFFFF is -1.
        const auto v = int32_t(uint32_t(n));
        return negative ? int32_t(0u - uint32_t(v)) : v;
    }
    if (negative ? n > 0x80000000ull : n > 0x7FFFFFFFull)
        return std::nullopt;
    return negative ? int32_t(0 - int64_t(n)) : int32_t(n);
}

TMemIniFile::TMemIniFile(std::string fileName) : FFileName(std::move(fileName))
{
    struct stat st {};
    if (::stat(FFileName.c_str(), &st) == 0 || errno != ENOENT)
        SetText(ReadWholeFile(FFileName, kIniFileLimit));
}

void TMemIniFile::SetText(std::string_view text)
{
    FPreamble.clear();
    FSections.clear();
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::vector<TLine>* lines = &FPreamble;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty())
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            FSections.push_back(TSection{std::string(line.substr(1, line.size() - 2)), {}, {}});
            lines = &FSections.back().Lines;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (line.front() == ';' || eq == std::string_view::npos || lines == &FPreamble)
            lines->push_back(TLine{{}, std::string(line), false});
        else
            lines->push_back(TLine{std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1))), true});
    }
    Reindex();
}

void TMemIniFile::Reindex()
{
    FIndex.clear();
    for (std::size_t i = 0; i < FSections.size(); ++i) {
        TSection& s = FSections[i];
        FIndex.try_emplace(LowerAscii(s.Name), i);
        s.Index.clear();
        for (std::size_t j = 0; j < s.Lines.size(); ++j)
            if (s.Lines[j].IsValue)
                s.Index.try_emplace(LowerAscii(s.Lines[j].Name), j);
    }
}

std::string TMemIniFile::Text() const
{
    std::string out;
    // A first line that begins as a byte-order mark would be read back as one (and "[s]" after
    // it as a section): a blank line before it keeps it the line it is.
    if (!FPreamble.empty() && FPreamble.front().Value.starts_with("\xEF\xBB\xBF"))
        out += "\n";
    for (const TLine& l : FPreamble)
        out += l.Value + "\n";
    if (!FPreamble.empty())
        out += "\n";
    for (const TSection& s : FSections) {
        out += "[" + s.Name + "]\n";
        for (const TLine& l : s.Lines)
            out += l.IsValue ? l.Name + "=" + l.Value + "\n" : l.Value + "\n";
        out += "\n";
    }
    return out;
}

const TMemIniFile::TSection* TMemIniFile::FindSection(std::string_view section) const
{
    const auto it = FIndex.find(LowerAscii(section));
    return it == FIndex.end() ? nullptr : &FSections[it->second];
}

TMemIniFile::TSection* TMemIniFile::FindSection(std::string_view section)
{
    const auto it = FIndex.find(LowerAscii(section));
    return it == FIndex.end() ? nullptr : &FSections[it->second];
}

const std::string* TMemIniFile::Find(std::string_view section, std::string_view key) const
{
    const TSection* s = FindSection(section);
    if (!s)
        return nullptr;
    const auto it = s->Index.find(LowerAscii(key));
    return it == s->Index.end() ? nullptr : &s->Lines[it->second].Value;
}

bool TMemIniFile::SectionExists(std::string_view section) const
{
    const TSection* s = FindSection(section);
    return s && !s->Index.empty();
}

bool TMemIniFile::ValueExists(std::string_view section, std::string_view key) const
{
    return Find(section, key) != nullptr;
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const std::string* v = Find(section, key);
    return v ? *v : std::string(def);
}

int32_t TMemIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const
{
    const std::string* v = Find(section, key);
    if (!v)
        return def;
    return ParseIniInteger(*v).value_or(def);
}

bool TMemIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TMemIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    TSection* s = FindSection(section);
    if (!s) {
        FSections.push_back(TSection{std::string(section), {}, {}});
        FIndex.try_emplace(LowerAscii(section), FSections.size() - 1);
        s = &FSections.back();
    }
    const std::string lower = LowerAscii(key);
    if (const auto it = s->Index.find(lower); it != s->Index.end()) {
        s->Lines[it->second].Value = OneLine(value);
        return;
    }
    s->Lines.push_back(TLine{std::string(key), OneLine(value), true});
    s->Index.emplace(lower, s->Lines.size() - 1);
}

void TMemIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TMemIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TMemIniFile::EraseSection(std::string_view section)
{
    const std::string lower = LowerAscii(section);
    std::erase_if(FSections, [&](const TSection& s) { return LowerAscii(s.Name) == lower; });
    Reindex();
}

void TMemIniFile::DeleteKey(std::string_view section, std::string_view key)
{
    TSection* s = FindSection(section);
    if (!s)
        return;
    const std::string lower = LowerAscii(key);
    std::erase_if(s->Lines, [&](const TLine& l) { return l.IsValue && LowerAscii(l.Name) == lower; });
    Reindex();
}

std::vector<std::string> TMemIniFile::ValueNames(std::string_view section) const
{
    std::vector<std::string> names;
    if (const TSection* s = FindSection(section))
        for (std::size_t i = 0; i < s->Lines.size(); ++i)
            if (s->Lines[i].IsValue && s->Index.at(LowerAscii(s->Lines[i].Name)) == i)
                names.push_back(s->Lines[i].Name);
    return names;
}

void TMemIniFile::UpdateFile() const
{
    WriteSettingsFile(FFileName, Text());
}

}  // namespace nolvi2
