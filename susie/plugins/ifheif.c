/* ifheif.spi: HEIF (HEIC) and AVIF pictures through libheif.
 *
 * The primary image is decoded as libheif decodes it by default (rotation, mirroring and
 * cropping from the file applied), converted by libheif to interleaved 8-bit RGB: alpha is
 * left out and higher bit depths are reduced to 8 bits. libheif decodes the tiles of a grid
 * image on threads of its own; its tile progress is passed on to the caller. */
#include "SpiCommon.h"

#include <libheif/heif.h>

#include <pthread.h>
#include <stdio.h>
#include <string.h>

/* libheif's decoders are registered once, when the plug-in is loaded. heif_deinit is never
 * called: at exit libheif's own static objects are gone before a destructor of ours would
 * run, and heif_deinit then frees them a second time. */
__attribute__((constructor)) static void HeifLoad(void)
{
    heif_init(NULL);
}

static void About(char *text, size_t size)
{
    snprintf(text, size, "nolvi2 HEIF/AVIF plug-in (libheif %s)", heif_get_version());
}

/* The brands of an ISO-BMFF file that hold a HEIF or AVIF picture (or sequence). */
static int HeifBrand(const uint8_t *b)
{
    static const char brands[][4] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif", "avis"};
    for (size_t i = 0; i < sizeof brands / sizeof brands[0]; ++i)
        if (memcmp(b, brands[i], 4) == 0)
            return 1;
    return 0;
}

/* A file that begins with an ftyp box whose major brand or one of whose compatible brands is
 * a HEIF or AVIF brand. */
static int32_t IsHeif(const uint8_t *d)
{
    if (memcmp(d + 4, "ftyp", 4) != 0)
        return 0;
    const uint32_t size = (uint32_t)d[0] << 24 | (uint32_t)d[1] << 16 | (uint32_t)d[2] << 8 | d[3];
    if (size < 16)
        return 0;
    const uint32_t end = size < 2048 ? size : 2048;
    for (uint32_t at = 8; at + 4 <= end; at += 4)
        if (at != 12 && HeifBrand(d + at)) /* 12: the minor version */
            return 1;
    return 0;
}

static int32_t HeifResult(struct heif_error e)
{
    switch (e.code) {
    case heif_error_Ok:
        return SPI_SUCCESS;
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
        return SPI_UNKNOWN_FORMAT;
    case heif_error_Memory_allocation_error:
        /* libheif reports its size limits as allocation errors; those are broken data. */
        return e.subcode == heif_suberror_Security_limit_exceeded ? SPI_BROKEN_DATA : SPI_NO_MEMORY;
    default:
        return SPI_BROKEN_DATA;
    }
}

/* The picture data read into a libheif context, with its primary image. */
typedef struct {
    struct heif_context *ctx;
    struct heif_image_handle *handle;
} HeifFile;

static void HeifClose(HeifFile *f)
{
    if (f->handle)
        heif_image_handle_release(f->handle);
    if (f->ctx)
        heif_context_free(f->ctx);
    f->handle = NULL;
    f->ctx = NULL;
}

static int32_t HeifOpen(HeifFile *f, const SpiInput *in)
{
    f->handle = NULL;
    f->ctx = heif_context_alloc();
    if (!f->ctx)
        return SPI_NO_MEMORY;
    /* libheif refuses images of 32768 pixels or more on a side by itself; the pixel count is
     * checked against the program's limit before anything is decoded. */
    int32_t rc = HeifResult(heif_context_read_from_memory_without_copy(f->ctx, in->data, in->size, NULL));
    if (rc == SPI_SUCCESS)
        rc = HeifResult(heif_context_get_primary_image_handle(f->ctx, &f->handle));
    if (rc != SPI_SUCCESS)
        HeifClose(f);
    return rc;
}

static int32_t HeifReadInfo(const SpiInput *in, SpiPictureInfo *info)
{
    HeifFile f;
    const int32_t rc = HeifOpen(&f, in);
    if (rc != SPI_SUCCESS)
        return rc;
    SpiFillInfo(info, heif_image_handle_get_width(f.handle), heif_image_handle_get_height(f.handle), 24);
    HeifClose(&f);
    return SPI_SUCCESS;
}

/* libheif's progress over the tiles of a grid image, passed on as rows of the picture. It is
 * passed on only when libheif reports it on the caller's thread; a request to stop is kept
 * and honoured once libheif returns. */
typedef struct {
    SpiProgressCallback cb;
    intptr_t data;
    int32_t height;
    int tiles;
    int stop;
    pthread_t caller;
} HeifProgress;

static void HeifStartProgress(enum heif_progress_step step, int max_progress, void *user)
{
    HeifProgress *p = (HeifProgress *)user;
    if (step == heif_progress_step_total && pthread_equal(pthread_self(), p->caller))
        p->tiles = max_progress;
}

static void HeifOnProgress(enum heif_progress_step step, int progress, void *user)
{
    HeifProgress *p = (HeifProgress *)user;
    if (step != heif_progress_step_total || p->stop || p->tiles <= 0 || progress < 0 || progress > p->tiles ||
        !pthread_equal(pthread_self(), p->caller))
        return;
    const int32_t rows = (int32_t)((int64_t)p->height * progress / p->tiles);
    p->stop = SpiProgress(p->cb, rows, p->height, p->data);
}

static void HeifEndProgress(enum heif_progress_step step, void *user)
{
    (void)step;
    (void)user;
}

/* Decodes the primary image into dib (already made at the size libheif announced). */
static int32_t HeifDecode(const HeifFile *f, SpiDib *dib, HeifProgress *progress)
{
    struct heif_decoding_options *options = heif_decoding_options_alloc();
    if (!options)
        return SPI_NO_MEMORY;
    options->start_progress = HeifStartProgress;
    options->on_progress = HeifOnProgress;
    options->end_progress = HeifEndProgress;
    options->progress_user_data = progress;
    options->convert_hdr_to_8bit = 1;
    /* AV1 through libaom rather than dav1d (libheif's first choice, about 1.7 times as fast
     * here): dav1d writes its complaints about broken data to stderr and libheif gives no way
     * to silence it. libheif 1.15 still decodes an alpha plane with dav1d, though the picture
     * has no use for it. Without libaom libheif takes its usual decoder; other formats keep
     * theirs. */
    if (options->version >= 4)
        options->decoder_id = "aom";
    struct heif_image *image = NULL;
    int32_t rc = HeifResult(heif_decode_image(f->handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options));
    heif_decoding_options_free(options);
    if (rc != SPI_SUCCESS)
        return rc;
    if (progress->stop) {
        heif_image_release(image);
        return SPI_ABORTED;
    }
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image, heif_channel_interleaved);
    const int height = heif_image_get_height(image, heif_channel_interleaved);
    if (!plane || heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved) != 8 || width <= 0 ||
        height <= 0 || stride < 0 || (size_t)stride < (size_t)width * 3)
        rc = SPI_BROKEN_DATA;
    else if (width != dib->width || height != dib->height) {
        /* The decoded image is the truth when the file's announced size was not. */
        SpiDibFree(dib);
        rc = SpiDibCreate(dib, width, height, 24, 0, NULL);
    }
    for (int y = 0; rc == SPI_SUCCESS && y < height; ++y)
        SpiDibPutRGB(dib, y, plane + (size_t)y * (size_t)stride, 3);
    heif_image_release(image);
    return rc;
}

static int32_t HeifReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    HeifFile f;
    int32_t rc = HeifOpen(&f, in);
    if (rc != SPI_SUCCESS)
        return rc;
    /* Made before decoding, so that a picture too large for the program is refused first. */
    rc = SpiDibCreate(dib, heif_image_handle_get_width(f.handle), heif_image_handle_get_height(f.handle), 24, 0, NULL);
    HeifProgress progress = {cb, lData, dib->height, 0, 0, pthread_self()};
    if (rc == SPI_SUCCESS && SpiProgress(cb, 0, dib->height, lData))
        rc = SPI_ABORTED;
    if (rc == SPI_SUCCESS)
        rc = HeifDecode(&f, dib, &progress);
    HeifClose(&f);
    if (rc == SPI_SUCCESS && SpiProgress(cb, dib->height, dib->height, lData))
        rc = SPI_ABORTED;
    return rc;
}

SPI_PICTURE_PLUGIN(About, IsHeif, HeifReadInfo, HeifReadPicture, "*.heic;*.heif", "HEIF 画像ファイル", "*.avif",
                   "AVIF 画像ファイル")
