// nolvi2-make-picture WIDTH HEIGHT OUTPUT(.bmp|.jpg): writes the synthetic test picture.
#include "SyntheticPicture.h"
#include "app/OpenPicture.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT OUTPUT.bmp|.jpg\n", argv[0]);
        return 2;
    }
    try {
        const auto pic = nolvi2::bench::SyntheticPicture(std::atoi(argv[1]), std::atoi(argv[2]));
        const auto format = nolvi2::SaveFormatOf(argv[3]);
        if (!format) {
            std::fprintf(stderr, "unknown output format: %s\n", argv[3]);
            return 2;
        }
        nolvi2::SavePicture(argv[3], pic, *format, {90, false});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
