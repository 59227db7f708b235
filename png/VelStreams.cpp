#include "VelStreams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace nolvi2 {

int64_t RowSize(int64_t width, int64_t bits) { return ((width * bits + 7) / 8 + 3) & ~int64_t(3); }

TPixelFormat BitsToPixelFormat(int bits)
{
    switch (bits) {
    case 1: return TPixelFormat::pf1bit;
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    case 15: return TPixelFormat::pf15bit;
    case 16: return TPixelFormat::pf16bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pf24bit;
    }
}

int PixelFormatToBits(TPixelFormat pf)
{
    switch (pf) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pfCustom: return 15;
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf32bit: return 32;
    case TPixelFormat::pf24bit:
    case TPixelFormat::pfDevice: break;
    }
    return 24;
}

int MakeGreyPalette(TPaletteEntries& entries, int bits)
{
    int count = 256, step = 1;
    switch (bits) {
    case 1: count = 2, step = 255; break;
    case 2: count = 4, step = 85; break;
    case 4: count = 16, step = 17; break;
    default: break;
    }
    for (int k = 0; k < count; ++k) {
        const auto v = uint8_t(k * step);
        entries[k] = TRGBQuad{v, v, v, 0};
    }
    return count;
}

TPalette CreatePaletteFromEntries(const TRGBQuad* entries, int count)
{
    TPalette palette;
    for (int i = 0; i < count; ++i)
        palette.push_back(TRGBQuad{entries[i].rgbBlue, entries[i].rgbGreen, entries[i].rgbRed, 0});
    return palette;
}

int PaletteToEntries(const TPalette& palette, TPaletteEntries& entries)
{
    const int count = int(std::min<std::size_t>(palette.size(), 256));
    for (int i = 0; i < count; ++i)
        entries[i] = TRGBQuad{palette[i].rgbBlue, palette[i].rgbGreen, palette[i].rgbRed, 0};
    return count;
}

int32_t PaletteEntryColor(const TPalette& palette, int index)
{
    if (index < 0 || std::size_t(index) >= palette.size())
        return -1;
    const TRGBQuad& e = palette[std::size_t(index)];
    return int32_t(e.rgbRed) + 256 * int32_t(e.rgbGreen) + 65536 * int32_t(e.rgbBlue);
}

int NearestPaletteIndex(const TPalette& palette, int32_t color)
{
    const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    int best = -1, bestDistance = 0;
    for (std::size_t i = 0; i < palette.size() && i < 256; ++i) {
        const int d = std::abs(palette[i].rgbRed - r) + std::abs(palette[i].rgbGreen - g) +
                      std::abs(palette[i].rgbBlue - b);
        if (d == 0)
            return int(i);
        if (best < 0 || d < bestDistance) {
            best = int(i);
            bestDistance = d;
        }
    }
    return best;
}

// ---- reading ----

void TVelCustomReadStream::BeginRead(TStream& source, int64_t size)
{
    FSource = &source;
    FStartPosition = source.Position();
    FDataSize = size > 0 ? size : source.Size() - FStartPosition;
    FConsumed = 0;
    FStop = false;
    FOverrun = false;
    FMacBinaryFound = false;
    FInBuffer = 0;
    FNext = nullptr;
    FFromMemory = false;
    if (FDataSize <= 0) {
        FDataSize = 0;
        FOverrun = true;
        return;
    }
    if (auto* memory = dynamic_cast<TMemoryStream*>(&source)) {
        // Read in place; a size beyond the memory's end is cut to what is there.
        FFromMemory = true;
        FDataSize = std::min(FDataSize, std::max<int64_t>(memory->Size() - FStartPosition, 0));
        FNext = memory->Memory() + FStartPosition;
        FInBuffer = FDataSize;
        if (FDataSize == 0) {
            FOverrun = true;
            return;
        }
    } else {
        if (!FBuffer)
            FBuffer = std::make_unique<uint8_t[]>(kBufferSize);
        Refill(0);
    }
    if (FCheckMacBinary && FDataSize > 128 && FInBuffer > 74 && FNext[0] == 0 && FNext[74] == 0) {
        FMacBinaryFound = true;
        FNext += 128;
        FConsumed = 128;
        FInBuffer -= 128;
    }
}

void TVelCustomReadStream::EndRead()
{
    FBuffer.reset();
    if (FSource)
        FSource->SetPosition(FStartPosition + FConsumed);
    FSource = nullptr;
}

void TVelCustomReadStream::Refill(int32_t keep)
{
    if (FFromMemory)
        return;  // everything is in place already
    uint8_t* buffer = FBuffer.get();
    if (keep > 0)
        std::memmove(buffer, FNext, std::size_t(keep));
    const int64_t n = std::min<int64_t>(kBufferSize - keep, FDataSize - FConsumed - keep);
    if (n > 0)
        FSource->ReadBuffer(buffer + keep, n);
    FInBuffer = keep + std::max<int64_t>(n, 0);
    FNext = buffer;
}

bool TVelCustomReadStream::WouldOverrun(int64_t count)
{
    if (FConsumed + count > FDataSize) {
        FOverrun = true;
        return true;
    }
    return false;
}

uint8_t TVelCustomReadStream::ReadByte()
{
    if (Blocked() || WouldOverrun(1))
        return 0;
    if (FInBuffer == 0)
        Refill(0);
    ++FConsumed;
    --FInBuffer;
    return *FNext++;
}

uint16_t TVelCustomReadStream::ReadWord()
{
    if (Blocked() || WouldOverrun(2))
        return 0;
    if (FInBuffer < 2)
        Refill(int32_t(FInBuffer));
    const uint16_t v = uint16_t(FNext[0] << 8 | FNext[1]);
    FNext += 2;
    FInBuffer -= 2;
    FConsumed += 2;
    return v;
}

uint32_t TVelCustomReadStream::ReadLong()
{
    if (Blocked() || WouldOverrun(4))
        return 0;
    if (FInBuffer < 4)
        Refill(int32_t(FInBuffer));
    const uint32_t v = uint32_t(FNext[0]) << 24 | uint32_t(FNext[1]) << 16 | uint32_t(FNext[2]) << 8 | FNext[3];
    FNext += 4;
    FInBuffer -= 4;
    FConsumed += 4;
    return v;
}

void TVelCustomReadStream::ReadBytes(void* buffer, int64_t count)
{
    if (Blocked())
        return;
    if (count <= 0) {
        FStop = true;
        return;
    }
    if (WouldOverrun(count))
        return;
    auto* out = static_cast<uint8_t*>(buffer);
    FConsumed += count;
    if (count <= FInBuffer) {
        std::memcpy(out, FNext, std::size_t(count));
        FNext += count;
        FInBuffer -= count;
        return;
    }
    // Not a memory stream: what is buffered, then large reads straight into the caller's
    // buffer, the last 64 KB through the buffer.
    std::memcpy(out, FNext, std::size_t(FInBuffer));
    out += FInBuffer;
    count -= FInBuffer;
    FInBuffer = 0;
    if (count > kBufferSize - 1) {
        const int64_t direct = count - kBufferSize;
        if (direct > 0) {
            FSource->ReadBuffer(out, direct);
            out += direct;
            count -= direct;
        }
    }
    // FConsumed already counts this read; the refill must see where the buffer starts.
    FConsumed -= count;
    Refill(0);
    FConsumed += count;
    std::memcpy(out, FNext, std::size_t(count));
    FNext += count;
    FInBuffer -= count;
}

void TVelCustomReadStream::Skip(int64_t count)
{
    if (Blocked())
        return;
    if (count < 0 || WouldOverrun(count))
        return;
    if (count == 0) {
        FStop = true;
        return;
    }
    if (count <= FInBuffer) {
        FNext += count;
        FInBuffer -= count;
    } else {
        FSource->Seek(count - FInBuffer, TSeekOrigin::soCurrent);
        FInBuffer = 0;
    }
    FConsumed += count;
}

// ---- progress ----

void TVelProgress::Start(int64_t total, int share)
{
    Base += Span;
    LastReported = Base;
    RemainingShare -= Span;
    Total = total <= 0 ? 1 : total;
    Span = share > 0 && share < 100 ? RemainingShare * share / 100 : RemainingShare;
}

int32_t TVelProgress::Due(int64_t value)
{
    const int64_t percent = Base + value;
    if (percent <= LastReported)
        return -1;
    LastReported = int32_t(percent);
    return LastReported;
}

bool TVelCustomReadStream::DoProgress(int) { return false; }

void TVelCustomReadStream::BeginProgress()
{
    FProgress.Begin();
    FStop = false;
    FStop = DoProgress(0);
}

void TVelCustomReadStream::StartSection(int mode, int64_t total, int share)
{
    FSectionMode = mode;
    if (mode == 0)
        FSectionStart = FConsumed;
    FProgress.Start(mode == 0 ? FDataSize : total, share);
}

void TVelCustomReadStream::StepProgress(int64_t count)
{
    const TVelProgress& p = FProgress;
    int64_t value;
    if (FSectionMode == 0)
        value = p.Span * (FConsumed - FSectionStart) / p.Total;
    else
        value = count >= p.Total ? p.Span : p.Span * count / p.Total;
    const int32_t percent = FProgress.Due(value);
    if (percent < 0)
        return;
    if (FSectionMode == 1)
        FLastCount = count;
    FStop = DoProgress(percent);
}

void TVelCustomReadStream::EndProgress() { FStop = DoProgress(100); }

// ---- graphic reading ----

namespace {

void Report(const TBitmap* picture, int percent, const std::string& message)
{
    if (!picture || !picture->OnProgress)
        return;
    const TProgressStage stage = percent == 0 ? psStarting : percent < 100 ? psRunning : psEnding;
    picture->OnProgress(const_cast<TBitmap*>(picture), stage, uint8_t(std::min(percent, 100)), false, TRect{},
                        message);
}

}  // namespace

bool TVelCustomGraphicReadStream::DoProgress(int percent)
{
    Report(FHeaderOnly ? nullptr : FBitmap, percent, FProgressMessage);
    return false;
}

TPaletteEntries& TVelCustomGraphicReadStream::PaletteBuffer()
{
    if (!FPaletteBuffer)
        FPaletteBuffer = std::make_unique<TPaletteEntries>();
    return *FPaletteBuffer;
}

void TVelCustomGraphicReadStream::ReadGraphic(TBitmap* bitmap, TStream& source, int64_t size)
{
    FBitmap = bitmap;
    FHeaderOnly = bitmap == nullptr;
    struct Finish {
        TVelCustomGraphicReadStream& self;
        ~Finish()
        {
            self.EndRead();
            self.FPaletteBuffer.reset();
        }
    } finish{*this};
    BeginRead(source, size);
    FComment.clear();
    FPaletteCount = 0;
    FResolutionUnit = 0;
    FResolutionX = FResolutionY = 0;
    Decode();
}

void TVelCustomGraphicReadStream::PrepareBitmap()
{
    if (FHeaderOnly)
        return;
    TBitmap& b = *FBitmap;
    b.SetSize(0, 0);
    b.SetPixelFormat(BitsToPixelFormat(int(FBitmapBits)));
    b.SetSize(FWidth, FHeight);
    if (FPaletteBuffer)
        b.SetPalette(CreatePaletteFromEntries(FPaletteBuffer->data(), FPaletteCount));
}

// ---- writing ----

TVelCustomWriteStream::TVelCustomWriteStream() : FBuffer(std::make_unique<uint8_t[]>(kBufferSize)) {}

void TVelCustomWriteStream::BeginWrite(TStream& dest)
{
    FDest = &dest;
    FInBuffer = 0;
    FTotalWritten = 0;
}

void TVelCustomWriteStream::Flush()
{
    if (FInBuffer > 0) {
        FDest->WriteBuffer(FBuffer.get(), FInBuffer);
        FTotalWritten += FInBuffer;
        FInBuffer = 0;
    }
}

void TVelCustomWriteStream::WriteBytes(const void* buffer, int64_t count)
{
    if (FStop)
        return;
    if (count <= 0) {
        FStop = true;
        return;
    }
    if (count < 65520) {
        if (FInBuffer + count > kBufferSize - 1)
            Flush();
        std::memcpy(FBuffer.get() + FInBuffer, buffer, std::size_t(count));
        FInBuffer += count;
        return;
    }
    Flush();
    FDest->WriteBuffer(buffer, count);
    FTotalWritten += count;
}

void TVelCustomWriteStream::WriteLong(uint32_t value)
{
    if (FStop)
        return;
    if (FInBuffer + 4 > kBufferSize - 1)
        Flush();
    uint8_t* p = FBuffer.get() + FInBuffer;
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
    FInBuffer += 4;
}

void TVelCustomWriteStream::EndWrite() { Flush(); }

bool TVelCustomWriteStream::DoProgress(int) { return false; }

void TVelCustomWriteStream::BeginProgress()
{
    FProgress.Begin();
    FStop = false;
    FStop = DoProgress(0);
}

void TVelCustomWriteStream::StartSection(int64_t total, int share) { FProgress.Start(total, share); }

void TVelCustomWriteStream::StepProgress(int64_t count)
{
    // Writing does not cap the count at the section's total.
    if (const int32_t percent = FProgress.Due(FProgress.Span * count / FProgress.Total); percent >= 0)
        FStop = DoProgress(percent);
}

void TVelCustomWriteStream::EndProgress() { FStop = DoProgress(100); }

void TVelCustomGraphicWriteStream::WriteGraphic(const TBitmap& bitmap, TStream& dest)
{
    BeginWrite(dest);
    FSource = &bitmap;
    Encode();
    EndWrite();
}

bool TVelCustomGraphicWriteStream::DoProgress(int percent)
{
    Report(FSource, percent, FProgressMessage);
    return false;
}

}  // namespace nolvi2
