// Reading pictures for the window and the tool: names that are not regular files are refused at
// once (a FIFO would block the open until something writes to it), and a file that decodes to
// no picture is an error that names the file.

#include "app/OpenPicture.h"
#include "platform/Exceptions.h"
#include "png/PngBuilder.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace nolvi2;
using namespace nolvi2::test;
namespace fs = std::filesystem;

namespace {

void WriteBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The message LoadPicture raises for name, or "" when it loads.
std::string LoadError(const std::string& name)
{
    TBitmap picture(3, 2, TPixelFormat::pf24bit);
    try {
        LoadPicture(name, picture);
    } catch (const Exception& e) {
        EXPECT_EQ(picture.Width(), 3) << "a failed load changed the picture";
        return e.what();
    }
    return {};
}

}  // namespace

TEST(OpenPicture, OnlyRegularFilesAreOpened)
{
    TempDir temp;
    const fs::path dir = temp.Path();
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.png");
    fs::create_symlink(dir / "pipe.jpg", dir / "link-to-pipe.bmp");
    fs::create_symlink("/dev/zero", dir / "zero.bmp");

    const struct {
        const char* name;
        const char* kind;
    } cases[] = {
        {"pipe.jpg", "名前付きパイプ"},
        {"link-to-pipe.bmp", "名前付きパイプ"},
        {"folder.png", "フォルダ"},
        {"zero.bmp", "デバイス"},
    };
    for (const auto& c : cases) {
        const std::string name = (dir / c.name).string();
        EXPECT_EQ(LoadError(name),
                  "ファイルを開けません。\r" + name + "\r(通常のファイルではありません: " + c.kind + ")")
            << c.name;
    }
}

TEST(OpenPicture, AFileWithoutAPictureIsAnError)
{
    TempDir temp;
    const fs::path dir = temp.Path();
    // A PNG with a header and no image data, and one whose header is 0 × 0.
    WriteBytes(dir / "no-data.png", PngFile({Ihdr(4, 4, 8, 2), Chunk("IEND", {})}));
    WriteBytes(dir / "zero.png", PngFile({Ihdr(0, 0, 8, 2), Chunk("IDAT", Compress({})), Chunk("IEND", {})}));
    // A BMP whose header is 0 × 0 (a 24-bit core header and no rows).
    WriteBytes(dir / "zero.bmp", {'B', 'M', 26, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 1, 0, 24, 0});

    for (const char* file : {"no-data.png", "zero.png", "zero.bmp"}) {
        const std::string name = (dir / file).string();
        const std::string error = LoadError(name);
        EXPECT_NE(error.find(name), std::string::npos) << file << ": " << error;
        EXPECT_FALSE(error.empty()) << file;
    }
    const std::string name = (dir / "no-data.png").string();
    EXPECT_EQ(LoadError(name), "画像が含まれていません。\r" + name);
}
