#include "VelPNGReadStream.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace nolvi2 {

namespace {

constexpr uint32_t kIHDRType = ChunkType("IHDR"), kPLTEType = ChunkType("PLTE"), kIDATType = ChunkType("IDAT"),
                   kIENDType = ChunkType("IEND"), kTRNSType = ChunkType("tRNS"), kBKGDType = ChunkType("bKGD"),
                   kGAMAType = ChunkType("gAMA"), kPHYSType = ChunkType("pHYs"), kSBITType = ChunkType("sBIT"),
                   kTEXTType = ChunkType("tEXt"), kTIMEType = ChunkType("tIME"), kCHRMType = ChunkType("cHRM"),
                   kGIFGType = ChunkType("gIFg"), kTPNGType = ChunkType("tpNG"), kICCPType = ChunkType("iCCP"),
                   kSRGBType = ChunkType("sRGB");

constexpr int32_t kPaletteAlphaPending = 0x01FFFFFF;
constexpr int32_t kPaletteReference = 0x01000000;
constexpr std::size_t kInputSize = 32768;

[[noreturn]] void ReadError() { throw EVelPNG("Read Image (PNG): Read Error"); }

// v repeated in the three channels (wraps for samples beyond 8 bits, as stored files can hold).
int32_t GreyColor(uint32_t v) { return int32_t(v * 0x010101u); }

}  // namespace

// The inflate stream, its input buffer and the row buffers of one picture.
struct TVelPNGReadStream::Inflater {
    z_stream stream{};
    bool open = false;
    std::unique_ptr<uint8_t[]> input;
    std::vector<uint8_t> rows;
    uint8_t* current = nullptr;
    uint8_t* previous = nullptr;
    uint8_t* converted = nullptr;
    uint8_t* alpha = nullptr;

    Inflater()
    {
        if (inflateInit(&stream) != Z_OK)
            throw EVelPNG("PNG LoadStream: Error ZLIB");
        open = true;
        input = std::make_unique<uint8_t[]>(kInputSize);
    }
    ~Inflater()
    {
        if (open) {
            inflateReset(&stream);
            inflateEnd(&stream);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    void AllocateRows(int32_t width, int pngBits, int bitmapBits)
    {
        const std::size_t png = std::size_t(RowSize(width, pngBits)) + 4;
        const std::size_t bitmap = std::size_t(RowSize(width, bitmapBits)) + 4;
        const std::size_t mask = std::size_t(RowSize(width, 8));
        rows.assign(2 * png + bitmap + mask, 0);
        current = rows.data();
        previous = current + png;
        converted = previous + png;
        alpha = converted + bitmap;
    }
};

TVelPNGReadStream::TVelPNGReadStream() = default;
TVelPNGReadStream::~TVelPNGReadStream() = default;

void TVelPNGReadStream::Decode()
{
    BeginProgress();
    StartSection(0, 0, 30);

    FMask = nullptr;
    FAlpha = FGrey = FPaletteGrey = FMaskNeeded = FTransparent = false;
    FBaseColorType = -1;
    FIHDRDepth = 0;
    FInterlace = 0;
    FChunkFlags = 0;
    FActiveKey.clear();
    FTransparentColor = FBackgroundColor = -1;
    FSignificantBits = 0;
    FGamma = 0.0;
    FResolutionUnit = 0;
    FResolutionX = FResolutionY = 0;
    std::fill(std::begin(FPaletteAlpha), std::end(FPaletteAlpha), uint8_t(255));
    if (TimeTarget)
        *TimeTarget = TPNGTime{};
    if (GIFExtensionTarget)
        GIFExtensionTarget->fill(0);
    if (IccProfileTarget)
        IccProfileTarget->clear();
    FSrgbChunk = false;
    if (ChromaticitiesTarget)
        ChromaticitiesTarget->fill(0);
    FBitDepth = 0;
    FPNGBits = 0;
    FConverter = nullptr;

    struct Release {
        TVelPNGReadStream& self;
        ~Release() { self.FInflater.reset(); }
    } release{*this};

    if (CheckSignature) {
        uint8_t signature[8] = {};
        ReadBytes(signature, 8);
        if (std::memcmp(signature, kPNGSignature, 8) != 0)
            throw EVelPNG("PNG LoadStream: Not PNG Format");
    }
    WalkChunks();
    if (Destination() && !Overrun() && !Stopped() && !FAlpha && FTransparentColor != -1)
        FTransparent = true;
    if (FMaskNeeded && FMask)
        BuildPaletteMask();
    EndProgress();
}

void TVelPNGReadStream::WalkChunks()
{
    while (!Overrun() && !Stopped() && !Seen(kIEND)) {
        FChunkLeft = ReadLong();
        FChunkType = ReadLong();
        const int64_t length = FChunkLeft;
        const bool header = Seen(kIHDR) && !Seen(kImageDone);
        const bool beforePalette = header && !Seen(kPLTE);
        switch (FChunkType) {
        case kIHDRType:
            ReadHeader();
            break;
        case kPLTEType:
            if (header && !Seen(kPLTE) && (FBaseColorType != 0 || FPaletteGrey))
                ReadPalette();
            break;
        case kIDATType:
            ReadImageData();
            break;
        case kIENDType:
            FChunkFlags |= kIEND;
            break;
        case kTRNSType:
            if (header && !FAlpha)
                ReadTransparency();
            break;
        case kBKGDType:
            if (FBaseColorType >= 0)
                ReadBackground();
            break;
        case kGAMAType:
            if (beforePalette) {
                FGamma = ReadLong() / 100000.0;
                FChunkLeft -= 4;
                StepProgress(0);
            }
            break;
        case kPHYSType:
            if (header) {
                FResolutionX = ReadLong();
                FResolutionY = ReadLong();
                FResolutionUnit = ReadByte();
                FChunkLeft -= 9;
                StepProgress(0);
            }
            break;
        case kSBITType:
            if (beforePalette && (FBaseColorType == 2 || FBaseColorType == 3)) {
                uint32_t bits = ReadByte();
                bits |= uint32_t(ReadByte()) << 8;
                bits |= uint32_t(ReadByte()) << 16;
                FChunkLeft -= 3;
                if (FAlpha) {
                    bits |= uint32_t(ReadByte()) << 24;
                    FChunkLeft -= 1;
                }
                FSignificantBits = bits;
                StepProgress(0);
            }
            break;
        case kTEXTType:
            if (length > 0)
                ReadText();
            break;
        case kTIMEType:
            if (length == 7 && TimeTarget) {
                TPNGTime& t = *TimeTarget;
                t.Year = ReadWord();
                t.Month = ReadByte();
                t.Day = ReadByte();
                t.Hour = ReadByte();
                t.Minute = ReadByte();
                t.Second = ReadByte();
                FChunkLeft -= 7;
                StepProgress(0);
            }
            break;
        case kCHRMType:
            if (beforePalette && length == 32 && ChromaticitiesTarget) {
                for (uint32_t& v : *ChromaticitiesTarget)
                    v = ReadLong();
                FChunkLeft -= 32;
                StepProgress(0);
            }
            break;
        case kGIFGType:
            if (beforePalette && length == 4 && GIFExtensionTarget) {
                ReadBytes(GIFExtensionTarget->data(), 4);
                FChunkLeft -= 4;
                StepProgress(0);
            }
            break;
        case kTPNGType:
            if (header && !Seen(kPrivate))
                ReadPrivate();
            break;
        case kICCPType:
            if (beforePalette && IccProfileTarget && !FSrgbChunk && IccProfileTarget->empty())
                ReadIccProfile();
            break;
        case kSRGBType:
            // The picture says it is sRGB: a profile beside it is not used.
            FSrgbChunk = true;
            if (IccProfileTarget)
                IccProfileTarget->clear();
            break;
        default:
            break;
        }
        if (FChunkLeft > 0)
            Skip(FChunkLeft);
        ReadLong();  // the CRC, never checked
    }
}

void TVelPNGReadStream::ReadHeader()
{
    if (Seen(kIHDR))
        throw EVelPNG("Read Header(PNG): appear two IHDR");
    FWidth = int32_t(ReadLong());
    FHeight = int32_t(ReadLong());
    FBitDepth = FIHDRDepth = ReadByte();
    const uint8_t colorType = ReadByte();
    const int low = colorType & 7;
    if (low == 1 || low == 5 || low == 7)
        throw EVelPNG("Read Header(PNG): Error ColorType");
    if (colorType & 4) {
        FAlpha = true;
        FBaseColorType = colorType & 3;
    } else {
        FBaseColorType = low;
    }
    FGrey = FBaseColorType == 0;
    if (ReadByte() >= 2)
        throw EVelPNG("Read Header(PNG): not support Compression");
    if (ReadByte() >= 2)
        throw EVelPNG("Read Header(PNG): not supprt Filter");
    const uint8_t interlace = ReadByte();
    if (interlace >= 2)
        throw EVelPNG("Read Header(PNG): not interlace type");
    FInterlace = interlace;
    FChunkFlags |= kIHDR;
    StepProgress(0);
    FChunkLeft -= 13;
}

void TVelPNGReadStream::ReadPalette()
{
    const int n = int(std::min<int64_t>(FChunkLeft / 3, 256));
    uint8_t rgb[768];
    // An empty palette reads nothing (a zero-length read would stop the whole decoder).
    if (n > 0)
        ReadBytes(rgb, n * 3);
    TPaletteEntries& entries = PaletteBuffer();
    for (int i = 0; i < n; ++i)
        entries[i] = TRGBQuad{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
    FPaletteCount = n;
    FChunkLeft -= n * 3;
    FChunkFlags |= kPLTE;
    StepProgress(0);
}

uint16_t TVelPNGReadStream::ReadSample(int bitDepth)
{
    const uint16_t v = ReadWord();
    return bitDepth > 8 ? uint16_t(v >> 8) : v;
}

int32_t TVelPNGReadStream::ReadColor()
{
    const uint16_t r = ReadWord(), g = ReadWord(), b = ReadWord();
    const int shift = FIHDRDepth > 8 ? 8 : 0;
    return int32_t(((r >> shift) & 0xFF) | ((g >> shift) & 0xFF) << 8 | ((b >> shift) & 0xFF) << 16);
}

void TVelPNGReadStream::ReadTransparency()
{
    switch (FBaseColorType) {
    case 0:
        FTransparentColor = GreyColor(ReadSample(FIHDRDepth));
        FChunkLeft -= 2;
        break;
    case 2:
        FTransparentColor = ReadColor();
        FChunkLeft -= 6;
        break;
    case 3: {
        const int64_t n = std::min<int64_t>(FChunkLeft, FPaletteCount);
        // An empty table (or one before the palette) reads nothing and leaves every entry opaque.
        if (n > 0)
            ReadBytes(FPaletteAlpha, n);
        FChunkLeft -= std::max<int64_t>(n, 0);
        FTransparentColor = kPaletteAlphaPending;
        break;
    }
    default:
        return;
    }
    StepProgress(0);
}

void TVelPNGReadStream::ReadBackground()
{
    switch (FBaseColorType) {
    case 0: {
        const uint16_t v = ReadSample(FIHDRDepth);
        FBackgroundColor = FPaletteGrey ? kPaletteReference + v : GreyColor(v);
        FChunkLeft -= 2;
        break;
    }
    case 2:
        FBackgroundColor = ReadColor();
        FChunkLeft -= 6;
        break;
    case 3:
        FBackgroundColor = kPaletteReference + ReadByte();
        FChunkLeft -= 1;
        break;
    default:
        return;
    }
    StepProgress(0);
}

void TVelPNGReadStream::ReadText()
{
    // A length beyond the data is not allocated: skipping it ends the walk.
    if (FChunkLeft > BytesLeft()) {
        Skip(FChunkLeft);
        FChunkLeft = 0;
        return;
    }
    std::string text(std::size_t(FChunkLeft), '\0');
    ReadBytes(text.data(), FChunkLeft);
    FChunkLeft = 0;
    const std::size_t nul = text.find('\0');
    if (text.compare(0, nul, "Comment") != 0 || nul == std::string::npos)
        return;
    const std::string comment = text.substr(nul + 1);
    if (comment.empty())
        return;
    if (!FComment.empty())
        FComment += "\r\n";
    FComment += comment + "\r\n";
    StepProgress(0);
}

void TVelPNGReadStream::ReadIccProfile()
{
    // A profile name of 1 to 79 bytes, its NUL, compression method 0, then the zlib stream.
    constexpr int64_t kMaxChunk = int64_t(16) << 20;
    constexpr std::size_t kMaxProfile = std::size_t(64) << 20;
    if (FChunkLeft > BytesLeft() || FChunkLeft > kMaxChunk)
        return;  // skipped by the walk
    std::vector<uint8_t> chunk(static_cast<std::size_t>(FChunkLeft));
    ReadBytes(chunk.data(), FChunkLeft);
    FChunkLeft = 0;
    const auto nul = std::find(chunk.begin(), chunk.begin() + std::min<std::size_t>(chunk.size(), 80), uint8_t(0));
    if (nul == chunk.begin() || nul == chunk.end() || nul - chunk.begin() >= 80 || nul + 1 == chunk.end() ||
        nul[1] != 0)
        return;
    const auto data = nul + 2;
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return;
    std::vector<uint8_t> profile(std::min<std::size_t>(std::size_t(chunk.end() - data) * 4 + 1024, kMaxProfile));
    z.next_in = &*data;
    z.avail_in = uInt(chunk.end() - data);
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.total_out == profile.size()) {
            if (profile.size() >= kMaxProfile)
                break;
            profile.resize(std::min(profile.size() * 2, kMaxProfile));
        }
        z.next_out = profile.data() + z.total_out;
        z.avail_out = uInt(profile.size() - z.total_out);
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_BUF_ERROR && z.avail_out > 0)
            break;  // the data ends before the stream does
        if (rc == Z_BUF_ERROR)
            rc = Z_OK;
    }
    const bool whole = rc == Z_STREAM_END;
    profile.resize(z.total_out);
    inflateEnd(&z);
    if (whole)
        *IccProfileTarget = std::move(profile);
    StepProgress(0);
}

void TVelPNGReadStream::ReadPrivate()
{
    FChunkFlags |= kPrivate;
    char magic[4] = {};
    ReadBytes(magic, 4);
    FChunkLeft -= 4;
    if (FChunkLeft > 0 && std::memcmp(magic, "Vel3", 4) == 0) {
        if (ReadByte() != 0) {
            FActiveKey = Key;
            if (OnKeyRequest)
                OnKeyRequest(this, FActiveKey);
        }
        FChunkLeft -= 1;
        // Only 8-bit grey+alpha pictures have samples that can index a palette; any other
        // picture keeps its grey ramp.
        if (ReadByte() == 1 && AllowPaletteGrey && FBaseColorType == 0 && FAlpha && FIHDRDepth == 8)
            FPaletteGrey = true;
        FChunkLeft -= 1;
    }
    StepProgress(0);
}

void TVelPNGReadStream::ChooseOutputFormat()
{
    const int depth = FIHDRDepth;
    auto pick = [this](uint32_t bitmapBits, int pngBits, TRowConverter converter) {
        FBitmapBits = bitmapBits;
        FPNGBits = pngBits;
        FConverter = converter;
    };
    switch (FBaseColorType) {
    case 0:
        if (FAlpha) {
            if (depth == 8)
                pick(8, 16, ConvertGreyAlpha8);
            else if (depth == 16)
                pick(8, 32, ConvertGreyAlpha16);
            else if (depth == 1 || depth == 2 || depth == 4)
                throw EVelPNG("Read Header(PNG): not Use AlphaChannel");
            else
                throw EVelPNG("Read Header(PNG): Error Bitdepth");
            return;
        }
        switch (depth) {
        case 1: pick(1, 1, ConvertCopy1); return;
        case 2: pick(4, 2, ConvertWiden2To4); return;
        case 4: pick(4, 4, ConvertCopy4); return;
        case 8: pick(8, 8, ConvertCopy8); return;
        case 16: pick(8, 16, ConvertGrey16); return;
        default: throw EVelPNG("Read Header(PNG): Error Bitdepth");
        }
    case 2: {
        if (depth != 8 && depth != 16)
            throw EVelPNG("Read Header(PNG): Error BitDepth");
        const int channels = FAlpha ? 4 : 3;
        const uint32_t rgb = FSignificantBits & 0xFFFFFF;
        if (Use16BitColor && (rgb == 0x050505 || rgb == 0x050605)) {
            static constexpr TRowConverter to565[2][2] = {{ConvertRGB8To565, ConvertRGBA8To565},
                                                          {ConvertRGB16To565, ConvertRGBA16To565}};
            pick(16, channels * depth, to565[depth == 16][FAlpha]);
            FBitDepth = rgb == 0x050505 ? 15 : 16;
            return;
        }
        static constexpr TRowConverter toBgr[2][2] = {{ConvertRGB8, ConvertRGBA8}, {ConvertRGB16, ConvertRGBA16}};
        pick(24, channels * depth, toBgr[depth == 16][FAlpha]);
        FBitDepth = 3 * depth;
        return;
    }
    case 3:
        switch (depth) {
        case 1: pick(1, 1, ConvertCopy1); return;
        case 2: pick(4, 2, ConvertWiden2To4); return;
        case 4: pick(4, 4, ConvertCopy4); return;
        case 8: pick(8, 8, ConvertCopy8); return;
        default: throw EVelPNG("Read Header(PNG): Error BitDepth");
        }
    default:
        // Image data before any header: nothing describes them.
        throw EVelPNG("Read Header(PNG): Error ColorType");
    }
}

void TVelPNGReadStream::PrepareBitmap()
{
    if (HeaderOnly())
        return;
    // A size the bitmap model cannot hold is refused before anything is changed or allocated.
    CheckPictureSize(FWidth, FHeight);
    if (FBaseColorType == 0 && !FPaletteGrey && FBitmapBits <= 8)
        FPaletteCount = MakeGreyPalette(PaletteBuffer(), FIHDRDepth);
    // A palette picture gets exactly the file's palette: without PLTE it has no colours, so
    // every index shows black instead of the bitmap model's standard palette.
    if (FBitmapBits <= 8)
        PaletteBuffer();
    if (FTransparentColor == kPaletteAlphaPending) {
        int zeros = 0, zeroIndex = 0;
        bool partial = false;
        for (int i = 0; i < 256; ++i) {
            if (FPaletteAlpha[i] == 0) {
                ++zeros;
                zeroIndex = i;
            } else if (FPaletteAlpha[i] != 255) {
                partial = true;
            }
        }
        if (!partial && zeros == 1) {
            FTransparentColor = kPaletteReference + zeroIndex;
        } else {
            FTransparentColor = -1;
            FMaskNeeded = true;
        }
    }
    TVelCustomGraphicReadStream::PrepareBitmap();
    if ((FAlpha || FMaskNeeded) && MaskTarget) {
        TBitmap& mask = *MaskTarget;
        mask.SetSize(0, 0);
        mask.SetPixelFormat(TPixelFormat::pf8bit);
        mask.SetSize(FWidth, FHeight);
        TPaletteEntries grey;
        mask.SetPalette(CreatePaletteFromEntries(grey.data(), MakeGreyPalette(grey, 8)));
        FMask = MaskTarget;
    }
}

void TVelPNGReadStream::ReadImageData()
{
    if (Seen(kImageDone))
        return;  // later image data are skipped by the walk
    ChooseOutputFormat();
    if (HeaderOnly()) {
        FChunkFlags |= kImageDone;
        return;
    }
    struct Finish {
        TVelPNGReadStream& self;
        ~Finish()
        {
            self.FInflater.reset();
            self.StartSection(0, 0, 100);
        }
    } finish{*this};
    FInflater = std::make_unique<Inflater>();
    PrepareBitmap();
    FInflater->AllocateRows(FWidth, FPNGBits, int(FBitmapBits));
    StartSection(1, PNGRowCount(FWidth, FHeight, FInterlace == 1), 98);
    DecodePasses();
    FChunkFlags |= kImageDone;
}

bool TVelPNGReadStream::FillInput()
{
    // Image data may be split over any number of IDAT chunks, empty ones included.
    while (FChunkLeft <= 0) {
        Skip(4);
        FChunkLeft = ReadLong();
        FChunkType = ReadLong();
        if (Overrun() || Stopped() || FChunkType != kIDATType)
            return false;
    }
    const auto n = std::size_t(std::min<int64_t>(FChunkLeft, kInputSize));
    ReadBytes(FInflater->input.get(), int64_t(n));
    if (Overrun() || Stopped())
        return false;
    FChunkLeft -= int64_t(n);
    FInflater->stream.next_in = FInflater->input.get();
    FInflater->stream.avail_in = uInt(n);
    return true;
}

void TVelPNGReadStream::ReadRow(uint8_t* row, std::size_t bytes, std::size_t bpp)
{
    z_stream& z = FInflater->stream;
    z.next_out = row;
    z.avail_out = uInt(bytes);
    while (z.avail_out > 0) {
        if (z.avail_in == 0 && !FillInput())
            ReadError();
        const int ret = inflate(&z, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) {
            if (z.avail_out > 0)
                ReadError();
            break;
        }
        if (ret != Z_OK && !(ret == Z_BUF_ERROR && z.avail_in == 0))
            ReadError();
    }
    if (!Unfilter(row[0], row + 1, FInflater->previous + 1, bytes - 1, bpp))
        ReadError();
}

void TVelPNGReadStream::DecodePasses()
{
    std::array<TPNGPass, 7> passes;
    const bool interlaced = FInterlace == 1;
    const int count = PNGPasses(FWidth, FHeight, interlaced, passes);
    TBitmap& bitmap = *Destination();
    const std::size_t bpp = std::max(1, (FPNGBits + 7) / 8);
    const TPixelStorer store = PixelStorerFor(int(FBitmapBits));
    const TPixelStorer storeMask = PixelStorerFor(8);
    const bool keyed = !FActiveKey.empty() && OnRowData;
    Inflater& in = *FInflater;
    int64_t rowNumber = 1;
    for (int p = 0; p < count; ++p) {
        const TPNGPass& pass = passes[std::size_t(p)];
        const std::size_t rowBytes = (std::size_t(pass.Width) * std::size_t(FPNGBits) + 7) / 8 + 1;
        std::memset(in.previous, 0, rowBytes);
        for (int32_t k = 0; k < pass.Rows; ++k) {
            const int32_t y = pass.FirstRow + k * pass.RowStep;
            uint8_t* dst = bitmap.ScanLine(y);
            uint8_t* maskRow = FMask ? FMask->ScanLine(y) : nullptr;
            ReadRow(in.current, rowBytes, bpp);
            if (keyed) {
                std::memcpy(in.previous, in.current, rowBytes);
                OnRowData(this, in.current + 1, FActiveKey, int32_t(rowNumber - 1), int32_t(rowBytes - 1));
            }
            if (!interlaced) {
                FConverter(in.current + 1, dst, maskRow ? maskRow : in.alpha, pass.Width);
            } else {
                FConverter(in.current + 1, in.converted, in.alpha, pass.Width);
                store(in.converted, dst, pass.Width, pass.FirstColumn, pass.ColumnStep);
                if (maskRow)
                    storeMask(in.alpha, maskRow, pass.Width, pass.FirstColumn, pass.ColumnStep);
            }
            if (!keyed)
                std::swap(in.current, in.previous);
            if (rowNumber % 4 == 2 || FHeight < 4)
                StepProgress(rowNumber);
            ++rowNumber;
            if (Stopped())
                break;
        }
        if (Overrun() || Stopped())
            break;
    }
}

void TVelPNGReadStream::BuildPaletteMask()
{
    TBitmap& bitmap = *Destination();
    const int bits = BitsPerPixel(bitmap.PixelFormat());
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        uint8_t* mask = FMask->ScanLine(y);
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            int index;
            if (bits == 1)
                index = (src[x >> 3] >> (7 - (x & 7))) & 1;
            else if (bits == 4)
                index = (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
            else
                index = src[x];
            mask[x] = uint8_t(255 - FPaletteAlpha[index]);
        }
    }
    FAlpha = true;
}

}  // namespace nolvi2
