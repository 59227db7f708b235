#include "common/OZCommon.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

using namespace nolvi2;

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) { return {s.Memory(), s.Memory() + s.Size()}; }

void Load(TMemoryStream& s, const std::vector<uint8_t>& bytes)
{
    s.Clear();
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(0);
}

// The literal rule: "%dbytes" of the remainder below 1 KiB, else "%gK" of k + r / 1000 with
// printf's default of 15 significant digits (the C locale's decimal point).
std::string ReferenceFormatSize(int32_t n)
{
    const int32_t k = n / 1024, r = n % 1024;
    char buf[64];
    if (k == 0)
        std::snprintf(buf, sizeof buf, "%dbytes", r);
    else
        std::snprintf(buf, sizeof buf, "%.15LgK", static_cast<long double>(k) + static_cast<long double>(r) / 1000.0L);
    return buf;
}

}  // namespace

TEST(FormatSize, Examples)
{
    const std::pair<int32_t, const char*> cases[] = {
        {0, "0bytes"},        {512, "512bytes"}, {1023, "1023bytes"}, {1024, "1K"},
        {1536, "1.512K"},     {2047, "2.023K"},  {2048, "2K"},        {3539993, "3457.025K"},
        {1025, "1.001K"},     {-1, "-1bytes"},   {-1536, "-1.512K"},  {INT32_MAX, "2097152.023K"},
        {INT32_MIN, "-2097152K"},
    };
    for (const auto& [n, text] : cases)
        EXPECT_EQ(FormatSize(n), text) << n;
}

TEST(FormatSize, MatchesPrintfGeneralFormat)
{
    const std::pair<int64_t, int64_t> ranges[] = {
        {-5000, 5000}, {3530000, 3550000}, {INT32_MAX - 5000, INT32_MAX}, {INT32_MIN, INT32_MIN + 5000}};
    for (const auto& [lo, hi] : ranges)
        for (int64_t n = lo; n <= hi; ++n)
            ASSERT_EQ(FormatSize(int32_t(n)), ReferenceFormatSize(int32_t(n))) << n;
}

TEST(StreamEncoding, EmptyStringIsFourZeroBytesAndReadsBackEmpty)
{
    TMemoryStream s;
    WriteStreamString(s, "");
    EXPECT_EQ(Bytes(s), (std::vector<uint8_t>{0, 0, 0, 0}));
    s.SetPosition(0);
    std::string text = "previous text";
    ReadStreamString(s, text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(s.Position(), 4);
}

TEST(StreamEncoding, StringsAndIntegersAreLittleEndian)
{
    TMemoryStream s;
    WriteStreamString(s, std::string("a\0b", 3));
    WriteStreamInteger(s, 0x12345678);
    WriteStreamInteger(s, -2);
    const std::vector<uint8_t> expected = {3, 0, 0, 0, 'a', 0, 'b', 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(Bytes(s), expected);

    s.SetPosition(0);
    std::string text;
    ReadStreamString(s, text);
    EXPECT_EQ(text, std::string("a\0b", 3));
    EXPECT_EQ(ReadStreamInteger(s), 0x12345678);
    EXPECT_EQ(ReadStreamInteger(s), -2);
}

TEST(StreamEncoding, RoundTripsUtf8AndByteStrings)
{
    const std::string texts[] = {"XOR処理", "/home/user/写真/\xff\xfe.jpg", std::string(70000, 'x')};
    TMemoryStream s;
    for (const std::string& t : texts)
        WriteStreamString(s, t);
    s.SetPosition(0);
    for (const std::string& t : texts) {
        std::string back;
        ReadStreamString(s, back);
        EXPECT_EQ(back, t);
    }
    EXPECT_EQ(s.Position(), s.Size());
}

TEST(StreamEncoding, NegativeLengthReadsNothingMore)
{
    TMemoryStream s;
    Load(s, {0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0});
    std::string text = "old";
    ReadStreamString(s, text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ReadStreamInteger(s), 7);
}

TEST(StreamEncoding, ShortStreamsRaiseReadErrors)
{
    TMemoryStream s;
    // A damaged length asks for far more than the stream holds: refused before allocating,
    // and the target keeps its text.
    Load(s, {0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'});
    std::string text = "old";
    EXPECT_THROW(ReadStreamString(s, text), EReadError);
    EXPECT_EQ(text, "old");

    Load(s, {5, 0, 0, 0, 'a', 'b'});
    EXPECT_THROW(ReadStreamString(s, text), EReadError);

    Load(s, {1, 2, 3});
    EXPECT_THROW(ReadStreamInteger(s), EReadError);
}

TEST(VersionInfo, RecordAndAboutBox)
{
    TOZCVersionResourceRec rec;
    ReadVersionInfo(rec);
    EXPECT_EQ(rec.ProductName, "nolvi2");
    EXPECT_FALSE(rec.ProductVersion.empty());
    EXPECT_EQ(rec.ProductVersion.find_first_not_of("0123456789."), std::string::npos) << rec.ProductVersion;
    EXPECT_EQ(rec.FileVersion, rec.ProductVersion);

    // The text is the concatenation of its parts with only the listed separators.
    TOZCVersionResourceRec parts;
    parts.Comments = "C:";
    parts.ProductName = "P";
    parts.ProductVersion = "1.2";
    parts.LegalCopyright = "(c) X";
    parts.CompanyName = "not shown";
    EXPECT_EQ(AboutBoxText(parts), "C:P version1.2\r(c) X\r" + std::string(kWebAddress));

    EXPECT_EQ(AboutBoxText(), AboutBoxText(rec));
    EXPECT_NE(AboutBoxText().find("nolvi2 version" + rec.ProductVersion + "\r"), std::string::npos);
    EXPECT_EQ(AboutBoxCaption("nolvi2"), "nolvi2について");
}
