#pragma once
// What the PNG reader and writer share: the error class, the metadata records, the row
// hooks and the Adam7 pass geometry.

#include "platform/Exceptions.h"
#include "platform/Types.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace nolvi2 {

class EVelPNG : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// tIME: the year as a native number, then month, day, hour, minute, second.
struct TPNGTime {
    uint16_t Year = 0;
    uint8_t Month = 0;
    uint8_t Day = 0;
    uint8_t Hour = 0;
    uint8_t Minute = 0;
    uint8_t Second = 0;
    friend bool operator==(const TPNGTime&, const TPNGTime&) = default;
};

// cHRM values × 100 000 in file order: white x, y, red x, y, green x, y, blue x, y.
using TPNGChromaticities = std::array<uint32_t, 8>;
// gIFg as stored: disposal method, user-input flag, delay (big-endian 16-bit).
using TPNGGIFExtension = std::array<uint8_t, 4>;

// Asks for the key of a picture whose rows were transformed; may change it.
using TPNGKeyRequestEvent = std::function<void(TObject* Sender, std::string& Key)>;
// Transforms (or undoes the transformation of) one row in place: Row after the filter byte,
// RowIndex counted over all passes, Length the row bytes.
using TPNGRowDataEvent =
    std::function<void(TObject* Sender, uint8_t* Row, const std::string& Key, int32_t RowIndex, int32_t Length)>;

constexpr uint8_t kPNGSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

constexpr uint32_t ChunkType(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
           uint32_t(uint8_t(name[3]));
}

// One pass of a picture: its rows and columns in the picture, and its own size.
struct TPNGPass {
    int32_t FirstRow, RowStep, FirstColumn, ColumnStep;
    int32_t Width, Rows;
};

// The passes that hold pixels: one for a plain picture, up to seven for Adam7 (passes left
// out have no pixels). Returns the count.
int PNGPasses(int32_t width, int32_t height, bool interlaced, std::array<TPNGPass, 7>& passes);
// Rows over all passes.
int64_t PNGRowCount(int32_t width, int32_t height, bool interlaced);

}  // namespace nolvi2
