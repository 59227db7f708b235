/* ifjxl.spi: JPEG XL pictures (bare codestream or container) through libjxl.
 *
 * The first displayed frame is decoded as libjxl renders it by default (orientation from the
 * file applied, layers blended), to 8-bit RGB with alpha left out (premultiplied colours are
 * divided back first). A picture coded in XYB is asked for in sRGB (grey sRGB for grey
 * pictures); any other is decoded in its own colour space, whose ICC profile goes with the
 * picture unless that space is sRGB. libjxl's parallel runner decodes with as many threads as the picture
 * has use for, at most the share of the processors that the program gives (SetThreadShare), and its worker threads write the rows straight into the DIB. The input is
 * handed to the decoder a part at a time, so that progress can be reported and a request to
 * stop honoured between parts.
 *
 * Debian's libjxl 0.7 is built to write the reasons it refuses broken data to stderr, and has
 * no switch to turn that off. */
#include "SpiCommon.h"

#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void About(char *text, size_t size)
{
    const uint32_t v = JxlDecoderVersion();
    snprintf(text, size, "nolvi2 JPEG XL plug-in (libjxl %u.%u.%u)", v / 1000000, v / 1000 % 1000, v % 1000);
}

static int32_t IsJxl(const uint8_t *head)
{
    const JxlSignature s = JxlSignatureCheck(head, 2048);
    return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

/* The input is given to the decoder in parts of this many bytes at least (a sixteenth of it
 * for larger files). libjxl decodes the groups of a frame as their data arrives but writes
 * the pixels out only at the end, so the progress reported is the share of the input decoded,
 * in rows of the picture. */
#define JXL_PART_MIN ((size_t)256 << 10)

/* Called by the decoder's worker threads, each with its own pixels of one row. */
static void JxlPutPixels(void *opaque, size_t x, size_t y, size_t count, const void *pixels)
{
    SpiDib *dib = (SpiDib *)opaque;
    if (y >= (size_t)dib->height || x >= (size_t)dib->width || count > (size_t)dib->width - x)
        return;
    uint8_t *d = SpiDibRow(dib, (int32_t)y) + 3 * x;
    const uint8_t *s = (const uint8_t *)pixels;
    for (size_t i = 0; i < count; ++i, d += 3, s += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
    }
}

/* The picture's size from its basic information; SPI_BROKEN_DATA beyond 32-bit sizes (the
 * DIB refuses what the program cannot hold). */
static int32_t JxlSize(JxlDecoder *dec, int32_t *width, int32_t *height)
{
    JxlBasicInfo info;
    if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS || info.xsize > INT32_MAX || info.ysize > INT32_MAX)
        return SPI_BROKEN_DATA;
    *width = (int32_t)info.xsize;
    *height = (int32_t)info.ysize;
    return SPI_SUCCESS;
}

/* Data that is neither a codestream nor a container is of another format. */
static int JxlOtherFormat(const SpiInput *in)
{
    return JxlSignatureCheck(in->data, in->size) == JXL_SIG_INVALID;
}

static int32_t JxlReadInfo(const SpiInput *in, SpiPictureInfo *info)
{
    if (JxlOtherFormat(in))
        return SPI_UNKNOWN_FORMAT;
    JxlDecoder *dec = JxlDecoderCreate(NULL);
    if (!dec)
        return SPI_NO_MEMORY;
    int32_t rc = SPI_BROKEN_DATA;
    if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO) == JXL_DEC_SUCCESS &&
        JxlDecoderSetInput(dec, in->data, in->size) == JXL_DEC_SUCCESS) {
        JxlDecoderCloseInput(dec);
        int32_t width = 0, height = 0;
        if (JxlDecoderProcessInput(dec) == JXL_DEC_BASIC_INFO && JxlSize(dec, &width, &height) == SPI_SUCCESS) {
            SpiFillInfo(info, width, height, 24);
            rc = SPI_SUCCESS;
        }
    }
    JxlDecoderDestroy(dec);
    return rc;
}

/* libjxl keeps a plane of every extra channel for the whole picture: more than a few are
 * refused before it allocates any. */
#define JXL_EXTRA_CHANNEL_LIMIT 8
static int JxlTooManyChannels(JxlDecoder *dec)
{
    JxlBasicInfo info;
    return JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS || info.num_extra_channels > JXL_EXTRA_CHANNEL_LIMIT;
}

/* Whether a colour encoding is sRGB's (or grey with sRGB's white and curve). */
static int JxlIsSrgb(const JxlColorEncoding *e)
{
    return (e->color_space == JXL_COLOR_SPACE_GRAY ||
            (e->color_space == JXL_COLOR_SPACE_RGB && e->primaries == JXL_PRIMARIES_SRGB)) &&
           e->white_point == JXL_WHITE_POINT_D65 && e->transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

/* Once the colour encoding is known: sRGB asked for where the picture is coded in XYB, and
 * the DIB made with the profile of the pixels libjxl will give (none when they are sRGB). */
static int32_t JxlColour(JxlDecoder *dec, int32_t width, int32_t height, SpiDib *dib)
{
    JxlBasicInfo info;
    if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
        return SPI_BROKEN_DATA;
    const int grey = info.num_color_channels == 1;
    JxlColorEncoding encoding;
    if (!info.uses_original_profile) {
        memset(&encoding, 0, sizeof encoding);
        encoding.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
        encoding.white_point = JXL_WHITE_POINT_D65;
        encoding.primaries = JXL_PRIMARIES_SRGB;
        encoding.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
        encoding.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
        if (JxlDecoderSetPreferredColorProfile(dec, &encoding) != JXL_DEC_SUCCESS)
            return SPI_BROKEN_DATA;
    }
    if (JxlDecoderGetColorAsEncodedProfile(dec, NULL, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) == JXL_DEC_SUCCESS &&
        JxlIsSrgb(&encoding))
        return SpiDibCreate(dib, width, height, 24, 0, NULL);
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(dec, NULL, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS || size == 0)
        return SpiDibCreate(dib, width, height, 24, 0, NULL); /* nothing better known than sRGB */
    if (size > SPI_PROFILE_LIMIT)
        return SPI_BROKEN_DATA;
    uint8_t *profile = (uint8_t *)malloc(size);
    if (!profile)
        return SPI_NO_MEMORY;
    int32_t rc = SPI_BROKEN_DATA;
    if (JxlDecoderGetColorAsICCProfile(dec, NULL, JXL_COLOR_PROFILE_TARGET_DATA, profile, size) == JXL_DEC_SUCCESS) {
        const int space = SpiProfileSpace(profile, size);
        const int fits = space == SPI_PROFILE_RGB || (grey && space == SPI_PROFILE_GREY);
        rc = SpiDibCreateWithProfile(dib, width, height, 24, 0, NULL, fits ? profile : NULL, fits ? size : 0);
    }
    free(profile);
    return rc;
}

/* Runs the decoder over the input until the first frame is in dib. */
static int32_t JxlDecode(JxlDecoder *dec, void *runner, const SpiInput *in, SpiDib *dib, SpiProgressCallback cb,
                         intptr_t lData)
{
    const JxlPixelFormat format = {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlDecoderSetParallelRunner(dec, JxlResizableParallelRunner, runner) != JXL_DEC_SUCCESS ||
        JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE) != JXL_DEC_SUCCESS)
        return SPI_INTERNAL_ERROR;
    const size_t part = in->size / 16 > JXL_PART_MIN ? in->size / 16 : JXL_PART_MIN;
    size_t given = in->size < part ? in->size : part;
    if (JxlDecoderSetInput(dec, in->data, given) != JXL_DEC_SUCCESS)
        return SPI_INTERNAL_ERROR;
    if (given == in->size)
        JxlDecoderCloseInput(dec);
    int32_t width = 0, height = 0;
    for (;;) {
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_BASIC_INFO: {
            const int32_t rc = width ? SPI_BROKEN_DATA : JxlSize(dec, &width, &height);
            if (rc != SPI_SUCCESS)
                return rc;
            /* A picture too large for the program is refused before anything is decoded; the
             * DIB is made once the colour encoding is known. */
            if (!SpiDibSizeOk(width, height) ||
                SpiDataCanFill(in->size, (uint64_t)width, (uint64_t)height, SPI_PIXELS_PER_BYTE_FLAT, 1) != SPI_SUCCESS ||
                JxlTooManyChannels(dec))
                return SPI_BROKEN_DATA;
            /* As many threads as the picture has use for, within the program's share. */
            uint32_t threads = JxlResizableParallelRunnerSuggestThreads((uint64_t)width, (uint64_t)height);
            const int32_t share = SpiThreadShare();
            if (threads > (uint32_t)share)
                threads = (uint32_t)share;
            JxlResizableParallelRunnerSetThreads(runner, threads);
            if (SpiProgress(cb, 0, height, lData))
                return SPI_ABORTED;
            break;
        }
        case JXL_DEC_COLOR_ENCODING: {
            const int32_t rc = width && !dib->pixels ? JxlColour(dec, width, height, dib) : SPI_BROKEN_DATA;
            if (rc != SPI_SUCCESS)
                return rc;
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            if (!dib->pixels || JxlDecoderSetImageOutCallback(dec, &format, JxlPutPixels, dib) != JXL_DEC_SUCCESS)
                return SPI_BROKEN_DATA;
            break;
        case JXL_DEC_FULL_IMAGE:
            return SPI_SUCCESS; /* the first frame; any further ones are not shown */
        case JXL_DEC_NEED_MORE_INPUT: {
            if (given == in->size)
                return SPI_BROKEN_DATA; /* truncated */
            const size_t done = given - JxlDecoderReleaseInput(dec);
            given = in->size - given < part ? in->size : given + part;
            if (JxlDecoderSetInput(dec, in->data + done, given - done) != JXL_DEC_SUCCESS)
                return SPI_INTERNAL_ERROR;
            if (given == in->size)
                JxlDecoderCloseInput(dec);
            if (width && SpiProgress(cb, (int32_t)((uint64_t)height * done / in->size), height, lData))
                return SPI_ABORTED;
            break;
        }
        default: /* an error, or the end of the file before a frame */
            return SPI_BROKEN_DATA;
        }
    }
}

static int32_t JxlReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    if (JxlOtherFormat(in))
        return SPI_UNKNOWN_FORMAT;
    JxlDecoder *dec = JxlDecoderCreate(NULL);
    void *runner = JxlResizableParallelRunnerCreate(NULL);
    int32_t rc = dec && runner ? JxlDecode(dec, runner, in, dib, cb, lData) : SPI_NO_MEMORY;
    /* The decoder goes first: its worker threads write into the DIB. */
    if (dec)
        JxlDecoderDestroy(dec);
    if (runner)
        JxlResizableParallelRunnerDestroy(runner);
    if (rc == SPI_SUCCESS && SpiProgress(cb, dib->height, dib->height, lData))
        rc = SPI_ABORTED;
    return rc;
}

SPI_THREAD_SHARE_EXPORT

SPI_PICTURE_PLUGIN(About, IsJxl, JxlReadInfo, JxlReadPicture, "*.jxl", "JPEG XL 画像ファイル")
