// GetPictureInfo's depth is the bit count of the DIB that GetPicture hands over, for a file of
// each bundled plug-in made by the format's own tools (the GIF plug-in's cases are in
// GifPluginTest.cpp).

#include "PluginLoader.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using namespace nolvi2::test;

TEST(InfoDepth, EveryPluginReportsTheDepthItHandsOver)
{
    NOLVI2_REQUIRE_TOOL("convert");
    const TempDir temp("nolvi2-depth");
    const std::string ppm = temp / "source.ppm";
    const std::string png = temp / "source.png";
    ASSERT_TRUE(WritePpm(ppm, PatternPicture(40, 24, 12)));
    ASSERT_TRUE(RunTool({"convert", ppm, png}, png));
    const struct {
        const char* file;
        const char* plugin;
        std::vector<std::string> make; // the tool's arguments, the output last
        int bits;                      // what the plug-in's own description says it hands over
    } cases[] = {
        {"rgb.tif", "iftiff", {"convert", ppm, "-type", "TrueColor"}, 24},
        {"palette.tif", "iftiff", {"convert", ppm, "-type", "Palette"}, 4},
        {"grey2.tif", "iftiff", {"convert", ppm, "-colorspace", "Gray", "-depth", "2"}, 4},
        {"x.webp", "ifwebp", {"cwebp", "-quiet", "-lossless", png, "-o"}, 24},
        {"x.jxl", "ifjxl", {"cjxl", png}, 24},
        {"x.heic", "ifheif", {"heif-enc", png, "-o"}, 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string data = ToolMade(c.make, temp / c.file);
        if (data.empty())
            continue;
        const SpiPlugin plugin(c.plugin);
        ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
        SpiPicture p;
        ASSERT_EQ(plugin.Decode(data, p), SPI_SUCCESS);
        SpiPictureInfo info;
        ASSERT_EQ(plugin.PictureInfo(data, info), SPI_SUCCESS);
        EXPECT_EQ(info.colorDepth, p.bits);
        EXPECT_EQ(p.bits, c.bits);
    }
}
