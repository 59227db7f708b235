// The buffered reader under the codec: buffer boundaries, sizes, MacBinary detection, the
// stream position it leaves, and the progress arithmetic.

#include "PngBuilder.h"
#include "TestData.h"
#include "png/VelStreams.h"

#include <filesystem>
#include <unistd.h>

namespace nolvi2::test {
namespace {

namespace fs = std::filesystem;

// A file stream over bytes written to a temporary file (read through the 64 KB buffer).
class FileOf {
public:
    explicit FileOf(const Bytes& bytes)
        : FPath(fs::temp_directory_path() / ("nolvi2-velstream-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(FCounter++)))
    {
        TFileStream out(FPath.string(), TFileMode::fmCreate);
        if (!bytes.empty())
            out.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    }
    ~FileOf() { fs::remove(FPath); }
    std::string Path() const { return FPath.string(); }

private:
    static inline int FCounter = 0;
    fs::path FPath;
};

class Reader : public TVelCustomReadStream {
public:
    std::vector<int> reports;
    bool DoProgress(int percent) override
    {
        reports.push_back(percent);
        return false;
    }
};

TEST(VelReadStream, ReadLongAcrossTheBufferEnd)
{
    Bytes data(65536 + 6);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 13);
    for (const int64_t size : {int64_t(65538), int64_t(0)}) {
        FileOf file(data);
        TFileStream s(file.Path(), TFileMode::fmOpenRead);
        Reader r;
        r.BeginRead(s, size);
        r.Skip(65534);
        const uint32_t expected = uint32_t(data[65534]) << 24 | uint32_t(data[65535]) << 16 |
                                  uint32_t(data[65536]) << 8 | data[65537];
        EXPECT_EQ(r.ReadLong(), expected);
        EXPECT_FALSE(r.Overrun());
        if (size == 65538) {
            EXPECT_EQ(r.ReadByte(), 0);  // the data end here
            EXPECT_TRUE(r.Overrun());
        } else {
            EXPECT_EQ(r.ReadWord(), uint16_t(data[65538] << 8 | data[65539]));
        }
        r.EndRead();
        EXPECT_EQ(s.Position(), size == 0 ? 65540 : 65538);
    }
}

TEST(VelReadStream, LargeReadsEmptyStreamsAndMacBinary)
{
    Bytes data(200000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 1);
    FileOf file(data);
    TFileStream s(file.Path(), TFileMode::fmOpenRead);
    Reader r;
    r.BeginRead(s, 0);
    EXPECT_EQ(r.ReadByte(), data[0]);
    Bytes out(150000);
    r.ReadBytes(out.data(), int64_t(out.size()));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin() + 1));
    EXPECT_EQ(r.ReadByte(), data[150001]);
    r.ReadBytes(out.data(), 60000);  // beyond the data: nothing is copied
    EXPECT_TRUE(r.Overrun());
    r.EndRead();
    EXPECT_EQ(s.Position(), 150002);

    TMemoryStream empty;
    r.BeginRead(empty, 0);
    EXPECT_TRUE(r.Overrun());
    EXPECT_EQ(r.ReadLong(), 0u);

    // Bytes 0 and 74 zero: a MacBinary header, but only in data longer than 128 bytes.
    TVelCustomReadStream mac;
    mac.SetCheckMacBinary(true);
    for (const std::size_t size : {std::size_t(129), std::size_t(128)}) {
        Bytes m(size, 9);
        m[0] = m[74] = 0;
        TMemoryStream ms;
        ms.WriteBuffer(m.data(), int64_t(m.size()));
        ms.SetPosition(0);
        mac.BeginRead(ms, 0);
        EXPECT_EQ(mac.MacBinaryFound(), size == 129);
        EXPECT_EQ(mac.ReadByte(), size == 129 ? 9 : 0);
    }
}

TEST(VelReadStream, ProgressSectionsShareTheScale)
{
    Reader r;
    TMemoryStream ms;
    ms.WriteBuffer("0123456789", 10);
    ms.SetPosition(0);
    r.BeginRead(ms, 0);
    r.BeginProgress();
    r.StartSection(0, 0, 30);
    r.Skip(10);
    r.StepProgress(0);
    r.StartSection(1, 100, 98);
    r.StepProgress(50);
    r.StepProgress(100);
    r.StartSection(0, 0, 100);
    r.EndProgress();
    // 0; 29 for the first section; 29 + 68 / 2; 29 + 68; then 100.
    EXPECT_EQ(r.reports, (std::vector<int>{0, 29, 63, 97, 100}));
}

TEST(VelPNGStream, SizedReadLeavesTheStreamBehindThePicture)
{
    NOLVI2_REQUIRE_TESTDATA();
    const Bytes png = ReadFileBytes((TestDataDir() / "pngsuite" / "basn0g08.png").string());
    Bytes data(100 + png.size() + 70000, 'y');
    std::copy(png.begin(), png.end(), data.begin() + 100);
    FileOf file(data);
    TFileStream s(file.Path(), TFileMode::fmOpenRead);
    s.SetPosition(100);
    TVelPNG picture;
    picture.LoadFromStream(s);
    EXPECT_EQ(s.Position(), int64_t(100 + png.size()));
    EXPECT_EQ(picture.Width(), 32);
}

}  // namespace
}  // namespace nolvi2::test
