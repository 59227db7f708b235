#include "SyntheticPicture.h"

#include <algorithm>
#include <cmath>

namespace nolvi2::bench {

TBitmap SyntheticPicture(int32_t width, int32_t height, uint32_t seed)
{
    TBitmap picture(width, height, TPixelFormat::pf24bit);
    uint32_t state = seed * 2654435761u + 1;
    auto noise = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return int(state & 15) - 8;
    };
    const double cx = width * 0.6, cy = height * 0.4, r = std::min(width, height) * 0.3;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = picture.ScanLine(y);
        const double fy = double(y) / std::max(height - 1, 1);
        for (int32_t x = 0; x < width; ++x) {
            const double fx = double(x) / std::max(width - 1, 1);
            const double d = std::hypot(x - cx, y - cy) / r;
            const double disc = d < 1 ? 1 - d * d : 0;
            const double texture = 20 * std::sin(x * 0.05) * std::sin(y * 0.07);
            const double blue = 40 + 170 * fy + 60 * disc + texture;
            const double green = 60 + 120 * fx * (1 - fy) + 90 * disc;
            const double red = 200 - 150 * fx * fy + 40 * disc - texture;
            double b = blue, g = green, rd = red;
            // Hard edges: a checkerboard panel and a few thin diagonal lines.
            if (fx > 0.08 && fx < 0.35 && fy > 0.6 && fy < 0.9) {
                const int cell = std::max(width / 40, 2);
                const double v = ((x / cell + y / cell) & 1) ? 235 : 25;
                b = g = rd = v;
            } else if (((x + y) % std::max(width / 12, 8)) < 2) {
                b = g = rd = 20;
            }
            row[3 * x] = uint8_t(std::clamp(b + noise(), 0.0, 255.0));
            row[3 * x + 1] = uint8_t(std::clamp(g + noise(), 0.0, 255.0));
            row[3 * x + 2] = uint8_t(std::clamp(rd + noise(), 0.0, 255.0));
        }
    }
    return picture;
}

TBitmap& LargePicture()
{
    static TBitmap pic = SyntheticPicture(6000, 4000);
    return pic;
}

void InstallWindowLikeProgress(TBitmap& picture)
{
    picture.OnProgress = [last = -1](TObject*, TProgressStage, uint8_t pct, bool, const TRect&,
                                     const std::string&) mutable {
        if (pct != last)
            last = pct;
    };
}

}  // namespace nolvi2::bench
