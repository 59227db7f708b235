#pragma once
// Buffered stream bases of the PNG codec: big-endian reading through a 64 KB buffer (memory
// streams are read in place), a progress scale that several phases share, the preparation
// of the destination bitmap, and the palette and pixel-format helpers of both directions.

#include "platform/Bitmap.h"
#include "platform/Streams.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace nolvi2 {

// ((Width × Bits + 7) div 8 + 3) with the two low bits cleared.
int64_t RowSize(int64_t width, int64_t bits);
TPixelFormat BitsToPixelFormat(int bits);
int PixelFormatToBits(TPixelFormat pf);

// 1024 bytes: 256 entries of blue, green, red, 0.
using TPaletteEntries = std::array<TRGBQuad, 256>;

// A grey ramp for 1, 2 or 4 bits (2, 4 or 16 entries), else 256 entries; returns the count.
int MakeGreyPalette(TPaletteEntries& entries, int bits);
TPalette CreatePaletteFromEntries(const TRGBQuad* entries, int count);
// Up to 256 entries of palette into entries; the count (0 for no palette).
int PaletteToEntries(const TPalette& palette, TPaletteEntries& entries);
// red + 256·green + 65536·blue of entry index, or −1.
int32_t PaletteEntryColor(const TPalette& palette, int index);
// The entry nearest color (sum of absolute channel differences), lowest index on a tie;
// −1 for an empty palette.
int NearestPaletteIndex(const TPalette& palette, int32_t color);

// The progress arithmetic both directions share: sections take shares of what is left of
// 99 points, and a report is due only when the percentage grows.
struct TVelProgress {
    int32_t Base = 0;
    int32_t LastReported = 0;
    int32_t Span = 0;
    int32_t RemainingShare = 99;
    int64_t Total = 1;

    void Begin() { *this = TVelProgress{}; }
    // Opens the next section of total units with share percent of what is left (all of it
    // when share is not between 1 and 99).
    void Start(int64_t total, int share);
    // The percentage for value points into the section when it is due (and remembered as
    // reported), else -1.
    int32_t Due(int64_t value);
};

// Reading: big-endian integers, skipping, a MacBinary header, the progress protocol.
class TVelCustomReadStream : public TObject {
public:
    static constexpr int32_t kBufferSize = 65536;

    TVelCustomReadStream() = default;
    ~TVelCustomReadStream() override = default;
    TVelCustomReadStream(const TVelCustomReadStream&) = delete;
    TVelCustomReadStream& operator=(const TVelCustomReadStream&) = delete;

    // Size ≤ 0: everything up to the stream's end.
    void BeginRead(TStream& source, int64_t size);
    // Leaves the source right behind the last byte consumed.
    void EndRead();

    void ReadBytes(void* buffer, int64_t count);
    uint8_t ReadByte();
    uint16_t ReadWord();
    uint32_t ReadLong();
    void Skip(int64_t count);

    void BeginProgress();
    // Mode 0: measured by stream position; 1: by a count out of total.
    void StartSection(int mode, int64_t total, int share);
    void StepProgress(int64_t count);
    void EndProgress();
    // True asks for a stop.
    virtual bool DoProgress(int percent);

    bool Overrun() const { return FOverrun; }
    bool Stopped() const { return FStop; }
    bool CheckMacBinary() const { return FCheckMacBinary; }
    void SetCheckMacBinary(bool on) { FCheckMacBinary = on; }
    bool MacBinaryFound() const { return FMacBinaryFound; }
    int64_t DataSize() const { return FDataSize; }
    int64_t Consumed() const { return FConsumed; }
    int64_t BytesLeft() const { return FDataSize - FConsumed; }

private:
    void Refill(int32_t keep);
    bool Blocked() const { return FStop || FOverrun; }
    bool WouldOverrun(int64_t count);

    TVelProgress FProgress;
    int32_t FSectionMode = 0;
    int64_t FSectionStart = 0;
    int64_t FLastCount = 0;
    int64_t FDataSize = 0;
    int64_t FConsumed = 0;
    const uint8_t* FNext = nullptr;
    std::unique_ptr<uint8_t[]> FBuffer;
    int64_t FInBuffer = 0;
    int64_t FStartPosition = 0;
    bool FStop = false;
    bool FOverrun = false;
    bool FCheckMacBinary = false;
    bool FMacBinaryFound = false;
    bool FFromMemory = false;
    TStream* FSource = nullptr;
};

// Reading a picture into a bitmap (or only its header when there is no bitmap).
class TVelCustomGraphicReadStream : public TVelCustomReadStream {
public:
    TVelCustomGraphicReadStream() { SetCheckMacBinary(true); }

    // bitmap may be null: only the header is read.
    void ReadGraphic(TBitmap* bitmap, TStream& source, int64_t size);
    bool DoProgress(int percent) override;

    const std::string& Comment() const { return FComment; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t BitDepth() const { return FBitDepth; }

protected:
    virtual void Decode() = 0;
    // Gives the destination the format, size and (when there is one) palette of the picture.
    virtual void PrepareBitmap();
    TPaletteEntries& PaletteBuffer();
    bool HasPaletteBuffer() const { return FPaletteBuffer != nullptr; }
    bool HeaderOnly() const { return FHeaderOnly; }
    TBitmap* Destination() const { return FBitmap; }

    std::string FComment;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    uint32_t FBitmapBits = 0;
    int32_t FBitDepth = 0;
    int32_t FPaletteCount = 0;
    uint8_t FResolutionUnit = 0;
    uint32_t FResolutionX = 0;
    uint32_t FResolutionY = 0;
    std::string FProgressMessage;

private:
    TBitmap* FBitmap = nullptr;
    std::unique_ptr<TPaletteEntries> FPaletteBuffer;
    bool FHeaderOnly = false;
};

// Writing through a 64 KB buffer, with the same progress protocol (sections always count).
class TVelCustomWriteStream : public TObject {
public:
    static constexpr int32_t kBufferSize = 65536;

    TVelCustomWriteStream();
    ~TVelCustomWriteStream() override = default;
    TVelCustomWriteStream(const TVelCustomWriteStream&) = delete;
    TVelCustomWriteStream& operator=(const TVelCustomWriteStream&) = delete;

    void BeginWrite(TStream& dest);
    void WriteBytes(const void* buffer, int64_t count);
    void WriteLong(uint32_t value);
    void Flush();
    void EndWrite();

    void BeginProgress();
    void StartSection(int64_t total, int share);
    void StepProgress(int64_t count);
    void EndProgress();
    virtual bool DoProgress(int percent);

    bool Stopped() const { return FStop; }
    int64_t TotalWritten() const { return FTotalWritten; }

private:
    TVelProgress FProgress;
    int64_t FInBuffer = 0;
    int64_t FTotalWritten = 0;
    std::unique_ptr<uint8_t[]> FBuffer;
    TStream* FDest = nullptr;
    bool FStop = false;
};

class TVelCustomGraphicWriteStream : public TVelCustomWriteStream {
public:
    void WriteGraphic(const TBitmap& bitmap, TStream& dest);
    bool DoProgress(int percent) override;

protected:
    virtual void Encode() = 0;
    const TBitmap& Source() const { return *FSource; }

    std::string FProgressMessage;

private:
    const TBitmap* FSource = nullptr;
};

}  // namespace nolvi2
