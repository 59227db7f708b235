#include "platform/Bitmap.h"
#include "platform/PixelConvert.h"

#include <gtest/gtest.h>

using namespace nolvi2;

TEST(PixelConvert, CubeIndexIsNearestBySquaredDistance)
{
    const TPalette pal = StandardPalette(TPixelFormat::pf8bit);
    ASSERT_EQ(pal.size(), 256u);
    // Every 5th value of each channel against a brute-force search (lowest index wins ties).
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 7) {
                int best = 0, bestDist = 1 << 30;
                for (int i = 0; i < 256; ++i) {
                    const int dr = r - pal[i].rgbRed, dg = g - pal[i].rgbGreen, db = b - pal[i].rgbBlue;
                    const int d = dr * dr + dg * dg + db * db;
                    if (d < bestDist) {
                        bestDist = d;
                        best = i;
                    }
                }
                ASSERT_EQ(NearestCubeIndex(uint8_t(r), uint8_t(g), uint8_t(b)), best) << r << "," << g << "," << b;
            }
}
