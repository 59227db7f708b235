#include "JPEGImage.h"

#include "Exceptions.h"
#include "Streams.h"

#include "ColorProfile.h"

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <exception>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace nolvi2 {

namespace {

std::unique_ptr<TGraphic> CreateJpeg() { return std::make_unique<TJPEGImage>(); }

// libjpeg's error manager with a jump target. libjpeg's default error_exit ends the
// process; ours jumps back into the one guarded call that is running. Every guarded call
// is a small function without destructible locals, so the jump skips no destructor.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data, premature end of file) are not errors: camera files often carry
// some, and a truncated file decodes to what it holds.
extern "C" void JpegEmitMessage(j_common_ptr, int) {}
extern "C" void JpegOutputMessage(j_common_ptr) {}

void InitErrorManager(JpegErrorManager& err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.emit_message = JpegEmitMessage;
    err.pub.output_message = JpegOutputMessage;
    err.message[0] = '\0';
}

JpegErrorManager& ErrorOf(j_common_ptr cinfo) { return *reinterpret_cast<JpegErrorManager*>(cinfo->err); }

// A hostile progressive file can hold thousands of tiny scans, each of which makes libjpeg
// pass over the whole coefficient buffer again; real files have about ten.
constexpr int kMaxScans = 1000;

extern "C" void JpegProgressMonitor(j_common_ptr cinfo)
{
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && d->input_scan_number > kMaxScans) {
        auto& err = *reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::snprintf(err.message, sizeof err.message, "スキャンが多すぎます");
        std::longjmp(err.jump, 1);
    }
}

// ---- guarded libjpeg calls (setjmp, no destructible locals) ----

// A file's data as libjpeg asks for it, a block at a time: the header is known once the
// first block is read, no copy of the whole file is made, and reading overlaps decoding. The
// stream's end is a truncated file's end: libjpeg is given an end marker, as its memory
// source gives it. When the stream fails, the decoding stops and Failure holds why.
struct StreamSource {
    jpeg_source_mgr pub{};
    TStream* Stream = nullptr;
    std::vector<JOCTET> Buffer;  // given its size when the source is attached
    std::exception_ptr Failure;
};

const JOCTET kEndMarker[2] = {0xFF, JPEG_EOI};

extern "C" void StreamSourceInit(j_decompress_ptr) {}
extern "C" void StreamSourceTerm(j_decompress_ptr) {}

extern "C" boolean StreamSourceFill(j_decompress_ptr cinfo)
{
    auto& source = *reinterpret_cast<StreamSource*>(cinfo->src);
    int64_t got = 0;
    try {
        got = source.Stream->Read(source.Buffer.data(), int64_t(source.Buffer.size()));
    } catch (...) {
        source.Failure = std::current_exception();
    }
    if (source.Failure)
        ERREXIT(cinfo, JERR_FILE_READ);
    if (got <= 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source.pub.next_input_byte = kEndMarker;
        source.pub.bytes_in_buffer = sizeof kEndMarker;
    } else {
        source.pub.next_input_byte = source.Buffer.data();
        source.pub.bytes_in_buffer = std::size_t(got);
    }
    return TRUE;
}

extern "C" void StreamSourceSkip(j_decompress_ptr cinfo, long count)
{
    jpeg_source_mgr& src = *cinfo->src;
    if (count <= 0)
        return;
    while (std::size_t(count) > src.bytes_in_buffer) {
        count -= long(src.bytes_in_buffer);
        StreamSourceFill(cinfo);  // at the end it gives the end marker, which is never skipped
    }
    src.next_input_byte += count;
    src.bytes_in_buffer -= std::size_t(count);
}

void AttachStreamSource(j_decompress_ptr cinfo, StreamSource& source, TStream& stream)
{
    source.Stream = &stream;
    source.Buffer.resize(std::size_t(256) << 10);
    source.pub.init_source = StreamSourceInit;
    source.pub.fill_input_buffer = StreamSourceFill;
    source.pub.skip_input_data = StreamSourceSkip;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = StreamSourceTerm;
    cinfo->src = &source.pub;
}

bool GuardedMemorySource(j_decompress_ptr cinfo, const uint8_t* data, std::size_t size)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    return true;
}

bool GuardedReadHeader(j_decompress_ptr cinfo)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    // EXIF (APP1) and the ICC profile's segments (APP2) are kept for reading after the header.
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    return true;
}

// The ICC profile gathered from the APP2 segments (malloc's block, or null).
bool GuardedReadIccProfile(j_decompress_ptr cinfo, JOCTET** profile, unsigned int* size)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    if (!jpeg_read_icc_profile(cinfo, profile, size))
        *profile = nullptr;
    return true;
}

bool GuardedStartDecompress(j_decompress_ptr cinfo)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    jpeg_start_decompress(cinfo);
    return true;
}

bool GuardedReadScanlines(j_decompress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count, JDIMENSION* got)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    *got = jpeg_read_scanlines(cinfo, rows, count);
    return true;
}

bool GuardedFinishDecompress(j_decompress_ptr cinfo)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    jpeg_finish_decompress(cinfo);
    return true;
}

bool GuardedStartCompress(j_compress_ptr cinfo, unsigned char** out, unsigned long* outSize, int width,
                          int height, int quality, bool progressive)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    jpeg_mem_dest(cinfo, out, outSize);
    cinfo->image_width = JDIMENSION(width);
    cinfo->image_height = JDIMENSION(height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    return true;
}

bool GuardedWriteScanlines(j_compress_ptr cinfo, JSAMPARRAY rows, JDIMENSION count)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    jpeg_write_scanlines(cinfo, rows, count);
    return true;
}

bool GuardedFinishCompress(j_compress_ptr cinfo)
{
    if (setjmp(ErrorOf(reinterpret_cast<j_common_ptr>(cinfo)).jump))
        return false;
    jpeg_finish_compress(cinfo);
    return true;
}

// ---- RAII owners of the libjpeg objects ----

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    JpegErrorManager err{};
    jpeg_progress_mgr progress{};
    Decompressor()
    {
        InitErrorManager(err);
        cinfo.err = &err.pub;
        jpeg_create_decompress(&cinfo);  // cannot fail before an allocation is asked for
        progress.progress_monitor = JpegProgressMonitor;
        cinfo.progress = &progress;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

struct Compressor {
    jpeg_compress_struct cinfo{};
    JpegErrorManager err{};
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    Compressor()
    {
        InitErrorManager(err);
        cinfo.err = &err.pub;
        jpeg_create_compress(&cinfo);
    }
    ~Compressor()
    {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

[[noreturn]] void Fail(const char* what, const JpegErrorManager& err)
{
    throw EInvalidGraphic(std::string(what) + "（" + err.message + "）");
}

constexpr const char* kDecodeError = "JPEG 画像を読み込めません";
constexpr const char* kNoData = "JPEG 画像を読み込めません（データがありません）";
constexpr const char* kEncodeError = "JPEG 画像を作成できません";

// CMYK and YCCK pictures come out of libjpeg as CMYK; without a profile, the inks by the
// simple formula.
void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t width, bool inverted)
{
    for (int32_t x = 0; x < width; ++x) {
        int c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[3 * x] = uint8_t((y * k + 127) / 255);
        bgr[3 * x + 1] = uint8_t((m * k + 127) / 255);
        bgr[3 * x + 2] = uint8_t((c * k + 127) / 255);
    }
}

// Converts the rows of a picture into sRGB on a second thread while the decoder is still
// producing later rows, so that the conversion costs little more than the decoding. The
// destructor stops the thread (after an error the rows that are left do not matter).
class TRowConversion {
public:
    // converted, if set, is told on the converting thread how many rows are converted.
    TRowConversion(const TSrgbConversion& conversion, TBitmap& picture, std::function<void(int32_t)> converted)
        : FConversion(conversion), FPicture(picture), FConverted(std::move(converted)), FWorker([this] { Run(); })
    {
    }
    ~TRowConversion() { Stop(false); }
    TRowConversion(const TRowConversion&) = delete;
    TRowConversion& operator=(const TRowConversion&) = delete;

    // Rows above row are decoded.
    void Ready(int32_t row)
    {
        {
            const std::lock_guard lock(FMutex);
            FReady = row;
        }
        FWake.notify_one();
    }
    // Converts what is left and waits for it.
    void Finish() { Stop(true); }

private:
    void Stop(bool finish)
    {
        {
            const std::lock_guard lock(FMutex);
            FDone = true;
            FAbandoned = !finish;
        }
        FWake.notify_one();
        if (FWorker.joinable())
            FWorker.join();
    }

    void Run()
    {
        int32_t converted = 0;
        for (;;) {
            int32_t ready;
            {
                std::unique_lock lock(FMutex);
                FWake.wait(lock, [&] { return FReady > converted || FDone; });
                if (FAbandoned || (FDone && FReady <= converted))
                    return;
                ready = FReady;
            }
            const auto width = std::size_t(FPicture.Width());
            while (converted < ready) {
                FConversion.Convert(FPicture.ScanLine(converted), FPicture.ScanLine(converted), width);
                ++converted;
                if (FConverted && (converted % 16 == 0 || converted == ready))
                    FConverted(converted);
            }
        }
    }

    const TSrgbConversion& FConversion;
    TBitmap& FPicture;
    std::function<void(int32_t)> FConverted;
    std::mutex FMutex;
    std::condition_variable FWake;
    int32_t FReady = 0;
    bool FDone = false;
    bool FAbandoned = false;
    std::thread FWorker;  // last: started once everything it reads is set
};

uint32_t ReadTiff32(const uint8_t* p, bool little)
{
    return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                  : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}

uint16_t ReadTiff16(const uint8_t* p, bool little)
{
    return little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[1] | p[0] << 8);
}

}  // namespace

int ExifOrientation(const uint8_t* data, std::size_t size)
{
    // "Exif\0\0", then a TIFF header: byte order, 42, the offset of IFD0 (from the TIFF
    // header's start).
    constexpr std::size_t kTiff = 6;
    if (!data || size < kTiff + 8 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return 1;
    const uint8_t* tiff = data + kTiff;
    const std::size_t tiffSize = size - kTiff;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    if (ReadTiff16(tiff + 2, little) != 42)
        return 1;
    const uint32_t ifd = ReadTiff32(tiff + 4, little);
    if (ifd < 8 || ifd > tiffSize - 2)
        return 1;
    const uint16_t count = ReadTiff16(tiff + ifd, little);
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = std::size_t(ifd) + 2 + 12 * std::size_t(i);
        if (entry + 12 > tiffSize)
            return 1;
        const uint8_t* e = tiff + entry;
        // The tag, type SHORT (3), one value, held in the entry itself.
        if (ReadTiff16(e, little) != 0x0112)
            continue;
        if (ReadTiff16(e + 2, little) != 3 || ReadTiff32(e + 4, little) != 1)
            return 1;
        const int v = ReadTiff16(e + 8, little);
        return v >= 1 && v <= 8 ? v : 1;
    }
    return 1;
}

const TGraphicClass& TJPEGImage::ClassInfo()
{
    static const TGraphicClass cls{"TJPEGImage", nullptr, &CreateJpeg};
    return cls;
}

void TJPEGImage::SetCompressionQuality(int quality) { FQuality = std::clamp(quality, 0, 100); }

void TJPEGImage::Assign(const TBitmap& source)
{
    FBorrowed = nullptr;
    FPicture.Assign(source);
}

void TJPEGImage::Borrow(const TBitmap& source)
{
    FBorrowed = &source;
    FPicture.SetSize(0, 0);
}

void TJPEGImage::TakePicture(TBitmap& dest)
{
    if (FBorrowed) {
        dest.Assign(*FBorrowed);
        return;
    }
    dest.TakeOver(FPicture);
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    if (stream.Size() - stream.Position() <= 0)
        throw EInvalidGraphic(kNoData);
    Decode(&stream, nullptr, 0);
}

void TJPEGImage::LoadFromMemory(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        throw EInvalidGraphic(kNoData);
    Decode(nullptr, data, size);
}

void TJPEGImage::Decode(TStream* stream, const uint8_t* data, std::size_t size)
{
    Decompressor d;
    StreamSource source;
    // A failure of the stream is reported as itself, not as broken data.
    const auto fail = [&] {
        if (source.Failure)
            std::rethrow_exception(source.Failure);
        Fail(kDecodeError, d.err);
    };
    if (stream)
        AttachStreamSource(&d.cinfo, source, *stream);
    else if (!GuardedMemorySource(&d.cinfo, data, size))
        fail();
    if (!GuardedReadHeader(&d.cinfo))
        fail();

    // Refuse absurd sizes before libjpeg allocates anything for the picture.
    CheckPictureSize(d.cinfo.image_width, d.cinfo.image_height);

    FOrientation = 1;
    for (jpeg_saved_marker_ptr m = d.cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && std::memcmp(m->data, "Exif\0\0", std::min<unsigned>(m->data_length, 6)) == 0) {
            FOrientation = ExifOrientation(m->data, m->data_length);
            break;
        }

    const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
    d.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (!GuardedStartDecompress(&d.cinfo))
        fail();
    // Adobe's CMYK files store the inks inverted, which is what almost every such file is.
    const bool inverted = cmyk && d.cinfo.saw_Adobe_marker;

    std::shared_ptr<const TSrgbConversion> conversion;
    if (ApplyColorProfile) {
        JOCTET* icc = nullptr;
        unsigned int iccSize = 0;
        if (!GuardedReadIccProfile(&d.cinfo, &icc, &iccSize))
            fail();
        const std::unique_ptr<JOCTET, decltype(&std::free)> owned(icc, &std::free);
        if (icc) {
            const TProfileInput input = !cmyk ? TProfileInput::Bgr : inverted ? TProfileInput::CmykInverted : TProfileInput::Cmyk;
            conversion = TSrgbConversion::For(std::span<const uint8_t>(icc, iccSize), input);
        }
    }

    const int32_t width = int32_t(d.cinfo.output_width);
    const int32_t height = int32_t(d.cinfo.output_height);
    if (OnHeader)
        OnHeader(width, height, FOrientation);
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(width, height);
    // RGB and grey rows are converted behind the decoder; CMYK rows as they come.
    std::optional<TRowConversion> behind;
    if (conversion && !cmyk) {
        std::function<void(int32_t)> converted;
        if (OnRows)
            converted = [this, &picture](int32_t rows) { OnRows(picture, rows); };
        behind.emplace(*conversion, picture, std::move(converted));
    }

    Progress(psStarting, 0, {});
    std::vector<uint8_t> cmykRow(cmyk ? std::size_t(width) * 4 : 0);
    uint8_t lastPercent = 0;
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        const int32_t y = int32_t(d.cinfo.output_scanline);
        JDIMENSION want = 1;
        if (cmyk) {
            rows[0] = cmykRow.data();
        } else {
            want = JDIMENSION(std::min(kBatch, height - y));
            for (JDIMENSION i = 0; i < want; ++i)
                rows[i] = picture.ScanLine(y + int32_t(i));
        }
        JDIMENSION got = 0;
        if (!GuardedReadScanlines(&d.cinfo, rows, want, &got))
            fail();
        if (got == 0)
            break;  // suspended source: neither of ours suspends, but never spin
        if (cmyk && conversion)
            conversion->Convert(cmykRow.data(), picture.ScanLine(y), std::size_t(width));
        else if (cmyk)
            CmykRowToBgr(cmykRow.data(), picture.ScanLine(y), width, inverted);
        if (behind)
            behind->Ready(y + int32_t(got));
        if (OnRows && !behind)
            OnRows(picture, y + int32_t(got));
        const auto percent = uint8_t(int64_t(d.cinfo.output_scanline) * 100 / height);
        if (percent != lastPercent && percent < 100) {
            lastPercent = percent;
            Progress(psRunning, percent, {});
        }
    }
    if (!GuardedFinishDecompress(&d.cinfo))
        fail();
    if (behind)
        behind->Finish();  // rows that a truncated file left grey are converted too

    FBorrowed = nullptr;
    FPicture.TakeOver(picture);
    Progress(psEnding, 100, {});
}

void TJPEGImage::SaveToStream(TStream& stream) const
{
    const TBitmap& src = Picture();
    if (src.Empty())
        throw EInvalidGraphic("JPEG 画像を作成できません（画像がありません）");
    // JPEG holds at most 65 500 pixels a side.
    if (src.Width() > JPEG_MAX_DIMENSION || src.Height() > JPEG_MAX_DIMENSION)
        throw EInvalidGraphic("JPEG 画像を作成できません（JPEG の幅と高さは 65500 ピクセルまでです）");

    const bool direct = src.PixelFormat() == TPixelFormat::pf24bit;
    TBitmap converted;
    if (!direct) {
        converted.Assign(src);
        converted.SetPixelFormat(TPixelFormat::pf24bit);
    }
    const TBitmap& pic = direct ? src : converted;

    Compressor c;
    if (!GuardedStartCompress(&c.cinfo, &c.out, &c.outSize, pic.Width(), pic.Height(), FQuality, FProgressive))
        Fail(kEncodeError, c.err);
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
        const int32_t y = int32_t(c.cinfo.next_scanline);
        const int n = std::min(kBatch, pic.Height() - y);
        for (int i = 0; i < n; ++i)
            rows[i] = const_cast<JSAMPROW>(pic.ScanLine(y + i));
        if (!GuardedWriteScanlines(&c.cinfo, rows, JDIMENSION(n)))
            Fail(kEncodeError, c.err);
    }
    if (!GuardedFinishCompress(&c.cinfo))
        Fail(kEncodeError, c.err);
    stream.WriteBuffer(c.out, int64_t(c.outSize));
}

}  // namespace nolvi2
