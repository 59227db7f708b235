// Opens one picture as the window does (the plug-ins beside the program searched, then the
// decoder its extension selects) and writes nothing: the plug-in road up to the bitmap, as one
// process, for bench/compare_plugins.py.
#include "app/OpenPicture.h"
#include "app/PluginHost.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: nolvi2-load-picture FILE\n");
        return 2;
    }
    try {
        const nolvi2::TPluginHost plugins;
        nolvi2::TBitmap picture;
        nolvi2::LoadPicture(argv[1], picture);
        std::printf("%dx%d\n", picture.Width(), picture.Height());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
