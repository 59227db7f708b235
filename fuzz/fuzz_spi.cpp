// One bundled plug-in's GetPicture on memory input: any result but a crash, a leak or a
// write outside its blocks. The plug-in's source is compiled into the target.
#include "spi.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

int32_t Progress(int32_t, int32_t, intptr_t) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > size_t(std::numeric_limits<int32_t>::max()))
        return 0;
    char header[2048] = {};
    std::memcpy(header, data, size < sizeof header ? size : sizeof header);
    IsSupported("", header);
    SpiPictureInfo info{};
    if (GetPictureInfo(reinterpret_cast<const char*>(data), int32_t(size), 1, &info) == SPI_SUCCESS)
        std::free(info.hInfo);
    void* hInfo = nullptr;
    void* hBits = nullptr;
    if (GetPicture(reinterpret_cast<const char*>(data), int32_t(size), 1, &hInfo, &hBits, Progress, 0) == SPI_SUCCESS) {
        // Touch every byte the handles claim to hold, so that a short block shows.
        const auto* h = static_cast<const uint8_t*>(hInfo);
        int32_t w, ht;
        uint16_t bits;
        uint32_t colors;
        std::memcpy(&w, h + 4, 4);
        std::memcpy(&ht, h + 8, 4);
        std::memcpy(&bits, h + 14, 2);
        std::memcpy(&colors, h + 32, 4);
        volatile uint8_t sink = 0;
        for (uint32_t i = 0; i < 4 * colors; ++i)
            sink = sink ^ h[40 + i];
        const size_t stride = ((size_t(w) * bits + 31) / 32) * 4;
        const size_t rows = size_t(ht < 0 ? -int64_t(ht) : ht);
        const auto* p = static_cast<const uint8_t*>(hBits);
        for (size_t i = 0; i < stride * rows; i += 61)
            sink = sink ^ p[i];
        if (stride * rows != 0)
            sink = sink ^ p[stride * rows - 1];
        std::free(hInfo);
        std::free(hBits);
    }
    return 0;
}
