#pragma once
// The state a window hands to a new window with a picture: its options, the tools' settings,
// the recent files, the JPEG settings, the selection, the title, the picture as a BMP file
// and the stopwatch's last measurement, in one block of bytes (little-endian throughout).
//
//   0   20     options: bytes 0-5 the six window options, 6 and 7 the two reading options
//              (colour profile, EXIF orientation; 0 or 1), 8-19 reserved (written 0, not read)
//   20  4      selection grid in byte 20; 21-23 reserved
//   24  1      hand tool inverted
//   25  ...    recent files (TOZHistoryList::SaveToStream)
//   a   1      JPEG quality; a+1: progressive
//   a+2 16     selection left, top, right, bottom (signed 32-bit); four times -1 for none
//   a+18 1     the title names a real file
//   a+19 4+n   the title: signed 32-bit length, then UTF-8 bytes
//   b   ...    the picture as a complete BMP file
//   c   4+m    the stopwatch's operation name, same string form; then 4 bytes of elapsed ms

#include "Chronograph.h"
#include "WindowSettings.h"
#include "platform/Bitmap.h"
#include "settings/OZHistoryList.h"

#include <cstdint>
#include <string>

namespace nolvi2 {

class TStream;

// Everything of the block but the recent list and the picture.
struct TWindowState {
    TWindowOptions Options;
    uint8_t MinimumUnit = 1;
    bool HandInverted = false;
    uint8_t JpegQuality = 80;
    bool JpegProgressive = true;
    TRect Selection{-1, -1, -1, -1};  // as handed over; -1 four times: none
    bool IsFile = false;
    std::string Title;
    std::string StopwatchName;
    uint32_t StopwatchElapsed = 0;
};

// The selection as the block holds it: the rectangle, or four times -1 for none.
TRect SelectionInBlock(const std::optional<TRect>& selection);

void WriteState(TStream& stream, const TWindowState& state, const TOZHistoryList& recent, const TBitmap& picture);

// Reads a whole block. Nothing is changed unless all of it reads: a short block, a length
// that runs past the end or a broken picture raises the reader's error, and state, recent
// and picture stay as they were.
void ReadState(TStream& stream, TWindowState& state, TOZHistoryList& recent, TBitmap& picture);

}  // namespace nolvi2
