// The results of the calls that every bundled plug-in answers alike (SpiCommon.h): the forms of
// call it does not take, input it cannot have, and NULL where a result goes.

#include "PluginLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace nolvi2::test;

TEST(CallResults, EveryPluginAnswersTheCommonFailuresAlike)
{
    const TempDir temp("nolvi2-calls");
    const std::string file = temp / "short.bin";
    ASSERT_TRUE(WriteBytes(file, "0123456789"));
    const std::string missing = temp / "missing.bin";
    const std::string folder = temp.Path().string();
    static const char data[] = "not a picture of any format, long enough to be looked at";
    for (const char* name : {"ifgif", "iftiff", "ifwebp", "ifheif", "ifjxl"}) {
        SCOPED_TRACE(name);
        void* handle = ::dlopen((std::string(NOLVI2_PLUGIN_DIR) + "/" + name + ".spi").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr);
        const auto info = reinterpret_cast<SpiGetPictureInfo>(::dlsym(handle, "GetPictureInfo"));
        const auto picture = reinterpret_cast<SpiGetPicture>(::dlsym(handle, "GetPicture"));
        ASSERT_TRUE(info && picture);
        const struct {
            const char* what;
            const char* buf;
            int32_t len;
            uint32_t flag;
            int32_t result;
        } cases[] = {
            {"flag 2", data, int32_t(sizeof data), 2, SPI_NOT_IMPLEMENTED},
            {"a negative offset", file.c_str(), -1, 0, SPI_NOT_IMPLEMENTED},
            {"a missing file", missing.c_str(), 0, 0, SPI_FILE_READ_ERROR},
            {"a folder", folder.c_str(), 0, 0, SPI_FILE_READ_ERROR},
            {"an offset beyond the file", file.c_str(), 11, 0, SPI_FILE_READ_ERROR},
            {"no name", nullptr, 0, 0, SPI_FILE_READ_ERROR},
            {"a negative size", data, -1, 1, SPI_BROKEN_DATA},
            {"data of no format", data, int32_t(sizeof data), 1, SPI_UNKNOWN_FORMAT},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            SpiPictureInfo i{};
            EXPECT_EQ(info(c.buf, c.len, c.flag, &i), c.result);
            void* hInfo = nullptr;
            void* hBm = nullptr;
            EXPECT_EQ(picture(c.buf, c.len, c.flag, &hInfo, &hBm, nullptr, 0), c.result);
            EXPECT_EQ(hInfo, nullptr);
        }
        void* hBm = nullptr;
        EXPECT_EQ(info(data, int32_t(sizeof data), 1, nullptr), SPI_INTERNAL_ERROR);
        EXPECT_EQ(picture(data, int32_t(sizeof data), 1, nullptr, &hBm, nullptr, 0), SPI_INTERNAL_ERROR);
        ::dlclose(handle);
    }
}
