#pragma once
// An INI file held in memory: read whole when created, written whole by UpdateFile.
//
// A section is a line "[name]"; its values are lines "name=value" up to the next section.
// Lines are trimmed of blanks and control characters at both ends (so CR LF endings and a
// UTF-8 byte-order mark read as expected). Section and value names compare without regard
// to case (A to Z); when a name is given twice, the first counts. Lines that are no values
// (comments, text without "=") and lines before the first section are kept as they are.
// Texts are UTF-8 bytes, kept as they are.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nolvi2 {

// An integer as the INI file writes it: decimal, or hexadecimal after 0x, 0X or $, with an
// optional sign; nothing for any other text or a number beyond 32 bits.
std::optional<int32_t> ParseIniInteger(std::string_view text);

class TMemIniFile {
public:
    TMemIniFile() = default;
    // Reads fileName when it exists (EFOpenError or EReadError when it cannot be read).
    explicit TMemIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }
    void SetText(std::string_view text);
    std::string Text() const;

    // Present and holding at least one value.
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // The text read as ParseIniInteger reads it, def when it cannot be.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer, non-zero meaning true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    // Removes every section of that name.
    void EraseSection(std::string_view section);
    // Removes the value from the section (every line of that name).
    void DeleteKey(std::string_view section, std::string_view key);
    // The names of the section's values, in file order, each name once.
    std::vector<std::string> ValueNames(std::string_view section) const;
    // Writes the file through a temporary file (a new file is private to the user); a file whose
    // permission bits forbid writing raises EWriteError and stays as it is.
    void UpdateFile() const;

private:
    struct TLine {
        std::string Name;  // empty for a line that is no value
        std::string Value;  // the value, or the whole line
        bool IsValue = false;
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
        std::unordered_map<std::string, std::size_t> Index;  // lower-case name -> first line
    };
    const std::string* Find(std::string_view section, std::string_view key) const;
    TSection* FindSection(std::string_view section);
    const TSection* FindSection(std::string_view section) const;
    void Reindex();

    std::string FFileName;
    std::vector<TLine> FPreamble;  // lines before the first section
    std::vector<TSection> FSections;
    std::unordered_map<std::string, std::size_t> FIndex;  // lower-case name -> first section
};

}  // namespace nolvi2
