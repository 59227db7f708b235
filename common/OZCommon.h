#pragma once
// Support shared by every window of the program that needs no toolkit: byte counts as short
// text, the stream encoding of strings and integers used when a window hands its state to
// another, the version record and the text of the about box.

#include "platform/Streams.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace nolvi2 {

// The maker's web page: shown in the about box and opened by the website command.
inline constexpr std::string_view kWebAddress = "https://tamberlo.example/nolvi2/";

// "512bytes" below 1 KiB; otherwise the whole KiB plus the remainder in bytes divided by
// 1000, as "%g" with 15 significant digits and a "K" (1536 gives "1.512K", 2048 "2K").
// Both parts truncate toward zero, so negative counts keep their sign.
std::string FormatSize(int32_t n);

// A signed 32-bit little-endian byte count, then the bytes without terminator. A string
// longer than a signed 32-bit count can say raises EWriteError.
void WriteStreamString(TStream& stream, std::string_view s);
// Reads a string written by WriteStreamString into s. A count of 0 or less reads nothing
// more and gives the empty string. A count beyond the end of the stream raises EReadError
// before anything is allocated.
void ReadStreamString(TStream& stream, std::string& s);
// A signed 32-bit little-endian integer.
void WriteStreamInteger(TStream& stream, int32_t value);
int32_t ReadStreamInteger(TStream& stream);

// The program's version record: the twelve values of a version resource, in this order.
struct TOZCVersionResourceRec {
    std::string Comments;
    std::string CompanyName;
    std::string FileDescription;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyright;
    std::string LegalTrademarks;
    std::string OriginalFilename;
    std::string PrivateBuild;
    std::string ProductName;
    std::string ProductVersion;
    std::string SpecialBuild;
};

// Fills rec with the program's own version record, which the build compiles in from the
// project's name and version.
void ReadVersionInfo(TOZCVersionResourceRec& rec);

// The about box's text: Comments, ProductName, " version", ProductVersion, CR,
// LegalCopyright, CR, the web address (no other separators).
std::string AboutBoxText(const TOZCVersionResourceRec& rec);
// The same for the program's own version record.
std::string AboutBoxText();
// The about box's caption: the application's title followed by "について".
std::string AboutBoxCaption(std::string_view applicationTitle);

}  // namespace nolvi2
