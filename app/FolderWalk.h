#pragma once
// Stepping to the next or previous loadable file of the current file's folder. The folder
// is listed by name in natural order without regard to case ("img2" before "img10"); only
// regular files count, and names starting with "." are hidden. File names are byte strings.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nolvi2 {

// Orders two names: runs of digits compare by their numeric value, other bytes compare with
// A to Z folded to a to z. Names that are still equal (case or leading zeros apart) compare
// byte by byte, so the order is total. Negative, zero or positive like strcmp.
int NaturalCompare(std::string_view a, std::string_view b);

// The names of the regular, non-hidden files of a folder ("" is the working folder), in
// natural order; symbolic links count as the file they point to. A folder that cannot be
// read gives an empty list.
std::vector<std::string> ListFolderFiles(const std::string& folder);

using TFileFilter = std::function<bool(const std::string&)>;

// The walks over a listing of fileName's folder (entry names in listing order); the filter
// sees folder + entry name. The current file is the entry equal to fileName's name part,
// else the first entry equal to it without regard to case.
//
// Next: the first accepted entry after the current one; nothing when the current file is
// the last accepted one or is not in the listing (no wrap-around).
std::optional<std::string> NextFileOf(const std::string& fileName, const std::vector<std::string>& entries,
                                      const TFileFilter& accept);
// Previous: the last accepted entry before the current one; when the current file is not in
// the listing, the last accepted entry of the whole folder.
std::optional<std::string> PrevFileOf(const std::string& fileName, const std::vector<std::string>& entries,
                                      const TFileFilter& accept);

// The file that the next-file and previous-file commands open, or nothing; IsSupportedFile
// decides what counts.
std::optional<std::string> NextFile(const std::string& fileName);
std::optional<std::string> PrevFile(const std::string& fileName);
// What NextFile and then PrevFile give (those there are), from one listing of the folder.
std::vector<std::string> NeighbourFiles(const std::string& fileName);

}  // namespace nolvi2
