/* The WebP plug-in (libwebp): lossy and lossless still pictures as 24 bits, alpha dropped.
 * libwebp decodes straight into the DIB's rows (bottom-up by its vertical flip), fed the data
 * a piece at a time so that the rows done can be reported and the decoding stopped. */
#include "SpiCommon.h"

#include <webp/decode.h>

#include <stdio.h>
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
        return SPI_UNKNOWN_FORMAT; /* animations */
    default:
        return SPI_BROKEN_DATA;
    }
}

static int32_t Features(const SpiInput *in, WebPBitstreamFeatures *f)
{
    if (in->size < 12 || !IsWebP(in->data))
        return SPI_UNKNOWN_FORMAT;
    const VP8StatusCode status = WebPGetFeatures(in->data, in->size, f);
    if (status != VP8_STATUS_OK)
        return Failure(status);
    return f->has_animation ? SPI_UNKNOWN_FORMAT : SPI_SUCCESS;
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

static int32_t ReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return SPI_INTERNAL_ERROR;
    int32_t rc = Features(in, &config.input);
    if (rc == SPI_SUCCESS)
        rc = SpiDibCreate(dib, config.input.width, config.input.height, 24, 0, NULL);
    if (rc == SPI_SUCCESS)
        rc = Decode(in, &config, dib, cb, lData);
    WebPFreeDecBuffer(&config.output); /* nothing with external memory, but it is the rule */
    return rc;
}

SPI_PICTURE_PLUGIN(About, IsWebP, ReadInfo, ReadPicture, "*.webp", "WebP 画像ファイル")
