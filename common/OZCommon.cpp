#include "OZCommon.h"

#include "common/Version.h"
#include "platform/Exceptions.h"

#include <charconv>
#include <limits>

namespace nolvi2 {

std::string FormatSize(int32_t n)
{
    const int32_t k = n / 1024;
    const int32_t r = n % 1024;
    if (k == 0)
        return std::to_string(r) + "bytes";
    // "%g" with its default of 15 significant digits, trailing zeros removed. to_chars is
    // used rather than printf so that the locale's decimal separator cannot creep in.
    const long double value = static_cast<long double>(k) + static_cast<long double>(r) / 1000.0L;
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, end.ptr) + "K";
}

void WriteStreamString(TStream& stream, std::string_view s)
{
    if (s.size() > std::size_t(std::numeric_limits<int32_t>::max()))
        throw EWriteError("ストリームの書き込みエラーです（文字列が長すぎます）。");
    WriteStreamInteger(stream, int32_t(s.size()));
    stream.WriteBuffer(s.data(), int64_t(s.size()));
}

void ReadStreamString(TStream& stream, std::string& s)
{
    const int32_t length = ReadStreamInteger(stream);
    if (length <= 0) {
        s.clear();
        return;
    }
    // The count comes from another process's block: check it against what is left before
    // allocating, so that a damaged count cannot ask for gigabytes.
    if (int64_t(length) > stream.Size() - stream.Position())
        throw EReadError("ストリームの読み込みエラーです（データが足りません）。");
    std::string text(std::size_t(length), '\0');
    stream.ReadBuffer(text.data(), length);
    s = std::move(text);
}

void WriteStreamInteger(TStream& stream, int32_t value)
{
    const auto u = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    stream.WriteBuffer(bytes, 4);
}

int32_t ReadStreamInteger(TStream& stream)
{
    uint8_t bytes[4];
    stream.ReadBuffer(bytes, 4);
    const uint32_t u = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                       uint32_t(bytes[3]) << 24;
    return static_cast<int32_t>(u);
}

void ReadVersionInfo(TOZCVersionResourceRec& rec)
{
    // The comment ends with a carriage return so that the about box puts the product's
    // name and version on a line of their own.
    rec.Comments = "画像ビューア・簡易画像処理ソフト\r";
    rec.CompanyName = "Tamberlo";
    rec.FileDescription = "nolvi2 画像ビューア";
    rec.FileVersion = NOLVI2_PRODUCT_VERSION;
    rec.InternalName = NOLVI2_PRODUCT_NAME;
    rec.LegalCopyright = "Copyright (C) Tamberlo";
    rec.LegalTrademarks.clear();
    rec.OriginalFilename = NOLVI2_PRODUCT_NAME;
    rec.PrivateBuild.clear();
    rec.ProductName = NOLVI2_PRODUCT_NAME;
    rec.ProductVersion = NOLVI2_PRODUCT_VERSION;
    rec.SpecialBuild.clear();
}

std::string AboutBoxText(const TOZCVersionResourceRec& rec)
{
    return rec.Comments + rec.ProductName + " version" + rec.ProductVersion + "\r" + rec.LegalCopyright + "\r" +
           std::string(kWebAddress);
}

std::string AboutBoxText()
{
    TOZCVersionResourceRec rec;
    ReadVersionInfo(rec);
    return AboutBoxText(rec);
}

std::string AboutBoxCaption(std::string_view applicationTitle)
{
    return std::string(applicationTitle) + "について";
}

}  // namespace nolvi2
