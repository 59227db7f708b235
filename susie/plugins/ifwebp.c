/* The WebP plug-in (libwebp): lossy and lossless still pictures as 24 bits, alpha dropped (the
 * colour stored under it kept). libwebp decodes straight into the DIB's rows (bottom-up by
 * its vertical flip), fed the data a piece at a time so that the rows done can be reported
 * and the decoding stopped. An animation gives its first frame as libwebp's animation decoder
 * composes it on the canvas. The ICC profile chunk (an RGB one) goes with the picture. */
#include "SpiCommon.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The About text names the libwebp that is loaded. */
static void About(char *text, size_t size)
{
    const int v = WebPGetDecoderVersion();
    snprintf(text, size, "nolvi2 WebP plug-in (libwebp %d.%d)", (v >> 16) & 0xFF, (v >> 8) & 0xFF);
}

static int32_t IsWebP(const uint8_t *p)
{
    return memcmp(p, "RIFF", 4) == 0 && memcmp(p + 8, "WEBP", 4) == 0;
}

static int32_t Failure(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
        return SPI_NO_MEMORY;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return SPI_UNKNOWN_FORMAT;
    default:
        return SPI_BROKEN_DATA;
    }
}

static int32_t Features(const SpiInput *in, WebPBitstreamFeatures *f)
{
    if (in->size < 12 || !IsWebP(in->data))
        return SPI_UNKNOWN_FORMAT;
    const VP8StatusCode status = WebPGetFeatures(in->data, in->size, f);
    return status == VP8_STATUS_OK ? SPI_SUCCESS : Failure(status);
}

static int32_t ReadInfo(const SpiInput *in, SpiPictureInfo *info)
{
    WebPBitstreamFeatures f;
    const int32_t rc = Features(in, &f);
    if (rc == SPI_SUCCESS)
        SpiFillInfo(info, f.width, f.height, 24);
    return rc;
}

/* The data is handed over in this many pieces at most (none smaller than MinPiece bytes),
 * with the rows done reported after each. */
enum { Pieces = 32, MinPiece = 64 * 1024 };

static int32_t Decode(const SpiInput *in, WebPDecoderConfig *config, SpiDib *dib, SpiProgressCallback cb,
                      intptr_t lData)
{
    WebPRGBABuffer *out = &config->output.u.RGBA;
    config->output.colorspace = MODE_BGR;
    config->output.is_external_memory = 1;
    out->rgba = dib->pixels;
    out->stride = (int)dib->stride;
    out->size = dib->stride * (size_t)dib->height;
    config->options.flip = 1; /* DIB rows run bottom-up */
    /* Lossy pictures filter their rows on a second thread (the same output either way). */
    config->options.use_threads = SpiThreadShare() > 1;
    if (SpiProgress(cb, 0, dib->height, lData))
        return SPI_ABORTED;
    if (!cb) {
        const VP8StatusCode status = WebPDecode(in->data, in->size, config);
        return status == VP8_STATUS_OK ? SPI_SUCCESS : Failure(status);
    }
    /* The incremental decoder takes what it is given for all there is; as WebPDecode, data
     * shorter than its RIFF header says is cut short. */
    const uint32_t riff = (uint32_t)in->data[4] | (uint32_t)in->data[5] << 8 | (uint32_t)in->data[6] << 16 |
                          (uint32_t)in->data[7] << 24;
    if (riff > in->size - 8)
        return SPI_BROKEN_DATA;
    WebPIDecoder *idec = WebPIDecode(NULL, 0, config);
    if (!idec)
        return SPI_NO_MEMORY;
    size_t piece = in->size / Pieces;
    if (piece < MinPiece)
        piece = MinPiece;
    int32_t rc = SPI_BROKEN_DATA;
    for (size_t given = 0; given < in->size;) {
        given = in->size - given > piece ? given + piece : in->size;
        const VP8StatusCode status = WebPIUpdate(idec, in->data, given);
        if (status == VP8_STATUS_OK) {
            rc = SPI_SUCCESS;
            break;
        }
        if (status != VP8_STATUS_SUSPENDED) {
            rc = Failure(status);
            break;
        }
        int rows = 0;
        if (WebPIDecGetRGB(idec, &rows, NULL, NULL, NULL) && SpiProgress(cb, rows, dib->height, lData)) {
            rc = SPI_ABORTED;
            break;
        }
    }
    WebPIDelete(idec);
    if (rc == SPI_SUCCESS && SpiProgress(cb, dib->height, dib->height, lData))
        rc = SPI_ABORTED;
    return rc;
}

/* The first frame of an animation composed on its canvas (transparent where the frame does
 * not reach). */
static int32_t DecodeFirstFrame(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return SPI_INTERNAL_ERROR;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data = {in->data, in->size};
    WebPAnimDecoder *dec = WebPAnimDecoderNew(&data, &options);
    if (!dec)
        return SPI_BROKEN_DATA;
    if (SpiProgress(cb, 0, dib->height, lData)) {
        WebPAnimDecoderDelete(dec);
        return SPI_ABORTED;
    }
    WebPAnimInfo info;
    uint8_t *canvas = NULL;
    int timestamp = 0;
    int32_t rc = SPI_BROKEN_DATA;
    if (WebPAnimDecoderGetInfo(dec, &info) && info.canvas_width == (uint32_t)dib->width &&
        info.canvas_height == (uint32_t)dib->height && WebPAnimDecoderGetNext(dec, &canvas, &timestamp) && canvas) {
        for (int32_t y = 0; y < dib->height; ++y)
            SpiDibPutRGB(dib, y, canvas + (size_t)y * (size_t)dib->width * 4, 4);
        rc = SpiProgress(cb, dib->height, dib->height, lData) ? SPI_ABORTED : SPI_SUCCESS;
    }
    WebPAnimDecoderDelete(dec);
    return rc;
}

/* The ICC profile chunk of a file with one: a copy from malloc in *profile (NULL without one,
 * or for one that is not an RGB profile). */
static int32_t ReadProfile(const SpiInput *in, uint8_t **profile, size_t *size)
{
    *profile = NULL;
    *size = 0;
    const WebPData data = {in->data, in->size};
    WebPDemuxer *demux = WebPDemux(&data);
    if (!demux)
        return SPI_SUCCESS; /* the decoder tells what is wrong with the file */
    WebPChunkIterator chunk;
    int32_t rc = SPI_SUCCESS;
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        if (SpiProfileSpace(chunk.chunk.bytes, chunk.chunk.size) == SPI_PROFILE_RGB) {
            *profile = (uint8_t *)malloc(chunk.chunk.size);
            if (*profile) {
                memcpy(*profile, chunk.chunk.bytes, chunk.chunk.size);
                *size = chunk.chunk.size;
            } else {
                rc = SPI_NO_MEMORY;
            }
        }
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return rc;
}

static int32_t ReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return SPI_INTERNAL_ERROR;
    uint8_t *profile = NULL;
    size_t size = 0;
    int32_t rc = Features(in, &config.input);
    /* A still VP8 picture takes at least a bit a macroblock; VP8L codes a flat picture in next
     * to nothing (SpiCommon.h). */
    const uint64_t bound = config.input.format == 1 && !config.input.has_animation ? 2048 : SPI_PIXELS_PER_BYTE_FLAT;
    if (rc == SPI_SUCCESS && config.input.width > 0 && config.input.height > 0)
        rc = SpiDataCanFill(in->size, (uint64_t)config.input.width, (uint64_t)config.input.height, bound, 1);
    if (rc == SPI_SUCCESS)
        rc = ReadProfile(in, &profile, &size);
    if (rc == SPI_SUCCESS)
        rc = SpiDibCreateWithProfile(dib, config.input.width, config.input.height, 24, 0, NULL, profile, size);
    free(profile);
    if (rc == SPI_SUCCESS)
        rc = config.input.has_animation ? DecodeFirstFrame(in, dib, cb, lData) : Decode(in, &config, dib, cb, lData);
    WebPFreeDecBuffer(&config.output); /* nothing with external memory, but it is the rule */
    return rc;
}

SPI_PICTURE_PLUGIN(About, IsWebP, ReadInfo, ReadPicture, "*.webp", "WebP 画像ファイル")
