#include "PngTypes.h"

namespace nolvi2 {

int PNGPasses(int32_t width, int32_t height, bool interlaced, std::array<TPNGPass, 7>& passes)
{
    if (!interlaced) {
        passes[0] = TPNGPass{0, 1, 0, 1, width, height};
        return width > 0 && height > 0 ? 1 : 0;
    }
    const int32_t w = width, h = height;
    const TPNGPass adam7[7] = {
        {0, 8, 0, 8, (w + 7) / 8, (h + 7) / 8}, {0, 8, 4, 8, (w + 3) / 8, (h + 7) / 8},
        {4, 8, 0, 4, (w + 3) / 4, (h + 3) / 8}, {0, 4, 2, 4, (w + 1) / 4, (h + 3) / 4},
        {2, 4, 0, 2, (w + 1) / 2, (h + 1) / 4}, {0, 2, 1, 2, w / 2, (h + 1) / 2},
        {1, 2, 0, 1, w, h / 2},
    };
    int count = 0;
    for (const TPNGPass& p : adam7)
        if (p.Width > 0 && p.Rows > 0)
            passes[std::size_t(count++)] = p;
    return count;
}

int64_t PNGRowCount(int32_t, int32_t height, bool interlaced)
{
    const int64_t h = height;
    if (!interlaced)
        return h;
    int64_t rows = 2 * ((h + 7) / 8) + (h + 3) / 4 + (h + 1) / 2;
    if (h >= 5)
        rows += (h + 3) / 8;
    if (h >= 3)
        rows += (h + 1) / 4;
    if (h >= 2)
        rows += h / 2;
    return rows;
}

}  // namespace nolvi2
