/* ifheif.spi: HEIF (HEIC) and AVIF pictures through libheif.
 *
 * The primary image is decoded as libheif decodes it by default (rotation, mirroring and
 * cropping from the file applied), converted by libheif to interleaved 8-bit RGB: alpha is
 * left out and higher bit depths are reduced to 8 bits. Monochrome pictures limited to the
 * video range are expanded to the full range. The file's ICC profile, or one made with
 * LittleCMS of its nclx colour description, goes with the picture unless it is sRGB. libheif decodes the tiles of a grid
 * image on threads of its own, at most the share of the processors that the program gives
 * (SetThreadShare); its tile progress is passed on to the caller. */
#include "SpiCommon.h"

#include <libheif/heif.h>
#include <lcms2.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
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

/* The boxes of ISO-BMFF data: a box at data[at], of size bytes from its start, its contents
 * from data[at + header]. */
typedef struct {
    const uint8_t *data;
    size_t at, size, header;
    char type[4];
} Box;

static uint64_t BigEndian(const uint8_t *p, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

/* The box at `at` within [at, end); 0 when there is none whole there. */
static int NextBox(const uint8_t *data, size_t at, size_t end, Box *b)
{
    if (at > end || end - at < 8)
        return 0;
    uint64_t size = BigEndian(data + at, 4);
    size_t header = 8;
    if (size == 1) {
        if (end - at < 16)
            return 0;
        size = BigEndian(data + at + 8, 8);
        header = 16;
    } else if (size == 0) {
        size = end - at;
    }
    if (size < header || size > end - at)
        return 0;
    b->data = data;
    b->at = at;
    b->size = (size_t)size;
    b->header = header;
    memcpy(b->type, data + at + 4, 4);
    return 1;
}

/* The first box of that type among the boxes in [at, end). */
static int FindBox(const uint8_t *data, size_t at, size_t end, const char *type, Box *b)
{
    for (; NextBox(data, at, end, b); at += b->size)
        if (memcmp(b->type, type, 4) == 0)
            return 1;
    return 0;
}

/* A reader of a box's contents that fails once past their end. */
typedef struct {
    const uint8_t *p;
    size_t left;
    int bad;
} Fields;

static uint64_t Field(Fields *f, int bytes)
{
    if (f->bad || (size_t)bytes > f->left) {
        f->bad = 1;
        return 0;
    }
    const uint64_t v = BigEndian(f->p, bytes);
    f->p += bytes;
    f->left -= (size_t)bytes;
    return v;
}

static Fields Contents(const Box *b, size_t skip)
{
    Fields f = {b->data + b->at + b->header, b->size - b->header, 0};
    Field(&f, (int)skip);
    return f;
}

/* The first bytes (at most size) of the data of item `id` (iloc, version 0 to 2, data in the
 * file or in idat); the number of bytes found. */
static size_t ItemData(const uint8_t *data, size_t end, const Box *meta, uint32_t id, uint8_t *out, size_t size)
{
    Box iloc, idat;
    const size_t first = meta->at + meta->header + 4;
    if (!FindBox(data, first, meta->at + meta->size, "iloc", &iloc))
        return 0;
    Fields f = Contents(&iloc, 0);
    const int version = (int)Field(&f, 1);
    Field(&f, 3);
    const uint64_t sizes = Field(&f, 2);
    const int offsetSize = (int)(sizes >> 12), lengthSize = (int)(sizes >> 8 & 15), baseSize = (int)(sizes >> 4 & 15);
    const int indexSize = version == 1 || version == 2 ? (int)(sizes & 15) : 0;
    const uint64_t count = Field(&f, version < 2 ? 2 : 4);
    for (uint64_t i = 0; i < count && !f.bad && version <= 2; ++i) {
        const uint64_t item = Field(&f, version < 2 ? 2 : 4);
        const uint64_t method = version == 1 || version == 2 ? Field(&f, 2) & 15 : 0;
        Field(&f, 2); /* data reference index */
        const uint64_t base = Field(&f, baseSize);
        const uint64_t extents = Field(&f, 2);
        for (uint64_t e = 0; e < extents && !f.bad; ++e) {
            Field(&f, indexSize);
            const uint64_t offset = base + Field(&f, offsetSize);
            uint64_t length = Field(&f, lengthSize);
            if (item != id || f.bad)
                continue;
            /* The first extent is where the data begins. */
            size_t from = 0, to = end;
            if (method == 1) {
                if (!FindBox(data, first, meta->at + meta->size, "idat", &idat))
                    return 0;
                from = idat.at + idat.header;
                to = idat.at + idat.size;
            } else if (method != 0) {
                return 0;
            }
            if (offset > to - from)
                return 0;
            if (length == 0 || length > to - from - offset)
                length = to - from - offset;
            const size_t n = length < size ? (size_t)length : size;
            memcpy(out, data + from + offset, n);
            return n;
        }
    }
    return 0;
}

/* The canvas that the file's primary item says it composes when it is a grid or an overlay
 * (libheif 1.15 allocates it whatever the size the file gives the image elsewhere): 1 with
 * its size, 0 when the primary item is of another kind or cannot be found. */
static int HeifDerivedCanvas(const uint8_t *data, size_t size, uint64_t *width, uint64_t *height)
{
    Box meta, box;
    if (!FindBox(data, 0, size, "meta", &meta) || meta.size - meta.header < 4)
        return 0;
    const size_t first = meta.at + meta.header + 4, last = meta.at + meta.size;
    if (!FindBox(data, first, last, "pitm", &box))
        return 0;
    Fields f = Contents(&box, 0);
    const uint64_t primary = Field(&f, Field(&f, 4) >> 24 == 0 ? 2 : 4);
    if (f.bad || !FindBox(data, first, last, "iinf", &box))
        return 0;
    f = Contents(&box, 0);
    const int iinfVersion = (int)(Field(&f, 4) >> 24);
    Field(&f, iinfVersion == 0 ? 2 : 4);
    if (f.bad)
        return 0;
    const size_t entries = (size_t)(f.p - data);
    char type[4] = {0};
    Box infe;
    for (size_t at = entries; NextBox(data, at, box.at + box.size, &infe); at += infe.size) {
        if (memcmp(infe.type, "infe", 4) != 0)
            continue;
        Fields e = Contents(&infe, 0);
        const int version = (int)(Field(&e, 4) >> 24);
        if (version < 2)
            continue;
        const uint64_t id = Field(&e, version == 2 ? 2 : 4);
        Field(&e, 2); /* protection index */
        const uint64_t kind = Field(&e, 4);
        if (!e.bad && id == primary) {
            for (int i = 0; i < 4; ++i)
                type[i] = (char)(kind >> (24 - 8 * i));
            break;
        }
    }
    const int grid = memcmp(type, "grid", 4) == 0, overlay = memcmp(type, "iovl", 4) == 0;
    if (!grid && !overlay)
        return 0;
    /* grid: version, flags, rows - 1, columns - 1, then the size; iovl: version, flags, four
     * 16-bit fill values, then the size; 32-bit sizes when flags bit 0 is set. */
    uint8_t head[20];
    const size_t n = ItemData(data, size, &meta, (uint32_t)primary, head, sizeof head);
    const size_t at = grid ? 4 : 10;
    const int wide = n >= 2 && (head[1] & 1);
    if (n < at + (wide ? 8 : 4))
        return 0;
    *width = BigEndian(head + at, wide ? 4 : 2);
    *height = BigEndian(head + at + (wide ? 4 : 2), wide ? 4 : 2);
    return 1;
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
    f->ctx = NULL;
    /* Data that is no ISO-BMFF file at all is of another format. */
    if (heif_check_filetype(in->data, in->size > 64 ? 64 : (int)in->size) == heif_filetype_no)
        return SPI_UNKNOWN_FORMAT;
    f->ctx = heif_context_alloc();
    if (!f->ctx)
        return SPI_NO_MEMORY;
    /* libheif decodes the tiles of a grid on at most the program's share of threads; with a
     * share of one, on the caller's thread (libheif's 0; its 1 is one thread beside it). */
    const int32_t share = SpiThreadShare();
    heif_context_set_max_decoding_threads(f->ctx, share > 1 ? share : 0);
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

/* An ICC profile (from malloc, in *profile) of an nclx colour description whose primaries or
 * transfer are not sRGB's; NULL for sRGB's (or unspecified ones). The primaries and white
 * point are the description's own; the transfer is the curve that turns stored values into
 * light. */
static int32_t NclxProfile(const struct heif_color_profile_nclx *n, uint8_t **profile, size_t *size)
{
    const int srgbPrimaries = n->color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
                              n->color_primaries == heif_color_primaries_unspecified;
    const int transfer = n->transfer_characteristics;
    const int srgbTransfer = transfer == heif_transfer_characteristic_IEC_61966_2_1 ||
                             transfer == heif_transfer_characteristic_unspecified;
    if (srgbPrimaries && srgbTransfer)
        return SPI_SUCCESS;
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    if (!srgbPrimaries) {
        const float xy[8] = {n->color_primary_red_x,   n->color_primary_red_y,   n->color_primary_green_x,
                             n->color_primary_green_y, n->color_primary_blue_x,  n->color_primary_blue_y,
                             n->color_primary_white_x, n->color_primary_white_y};
        for (int i = 0; i < 8; ++i)
            if (!(xy[i] > 0.0f && xy[i] < 1.0f))
                return SPI_SUCCESS; /* primaries libheif does not know: taken as sRGB's */
        primaries = (cmsCIExyYTRIPLE){{xy[0], xy[1], 1.0}, {xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}};
        white = (cmsCIExyY){xy[6], xy[7], 1.0};
    }
    /* Parametric curve 4: Y = (aX + b)^g for X >= d, Y = cX below. */
    double params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045}; /* sRGB */
    int type = 4;
    switch (transfer) {
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
        /* The inverse of BT.709's OETF: V = 1.099 L^0.45 - 0.099 from L = 0.018, V = 4.5 L below. */
        params[0] = 1.0 / 0.45;
        params[1] = 1.0 / 1.099;
        params[2] = 0.099 / 1.099;
        params[3] = 1.0 / 4.5;
        params[4] = 0.081;
        break;
    case heif_transfer_characteristic_linear:
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        /* Parametric curve 1: Y = X^g. */
        type = 1;
        params[0] = transfer == heif_transfer_characteristic_linear          ? 1.0
                    : transfer == heif_transfer_characteristic_ITU_R_BT_470_6_System_M ? 2.2
                                                                                         : 2.8;
        break;
    default:
        /* sRGB's curve, also for PQ and HLG, which need the picture's luminance to be shown on
         * an sRGB screen and are not tone-mapped here, and for transfers without a curve. */
        break;
    }
    cmsToneCurve *curve = cmsBuildParametricToneCurve(NULL, type, params);
    if (!curve)
        return SPI_NO_MEMORY;
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsUInt32Number bytes = 0;
    int32_t rc = p && cmsSaveProfileToMem(p, NULL, &bytes) && bytes > 0 ? SPI_SUCCESS : SPI_NO_MEMORY;
    if (rc == SPI_SUCCESS && !(*profile = (uint8_t *)malloc(bytes)))
        rc = SPI_NO_MEMORY;
    if (rc == SPI_SUCCESS && !cmsSaveProfileToMem(p, *profile, &bytes)) {
        free(*profile);
        *profile = NULL;
        rc = SPI_NO_MEMORY;
    }
    if (rc == SPI_SUCCESS)
        *size = bytes;
    if (p)
        cmsCloseProfile(p);
    return rc;
}

/* The file's nclx colour description (freed with heif_nclx_color_profile_free), or NULL.
 * libheif 1.15 may have allocated one when it reports an error (primaries it does not know):
 * that one is freed here. */
static struct heif_color_profile_nclx *HeifNclx(const HeifFile *f)
{
    struct heif_color_profile_nclx *nclx = NULL;
    if (heif_image_handle_get_nclx_color_profile(f->handle, &nclx).code == heif_error_Ok)
        return nclx;
    if (nclx)
        heif_nclx_color_profile_free(nclx);
    return NULL;
}

/* The colour profile that goes with the picture: the file's ICC profile (an RGB one, or a grey
 * one for a grey picture), or one made of its nclx colour description where that is not sRGB;
 * a copy from malloc in *profile, NULL for sRGB. */
static int32_t HeifProfile(const HeifFile *f, int grey, uint8_t **profile, size_t *size)
{
    *profile = NULL;
    *size = 0;
    const enum heif_color_profile_type type = heif_image_handle_get_color_profile_type(f->handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        const size_t n = heif_image_handle_get_raw_color_profile_size(f->handle);
        if (n == 0 || n > SPI_PROFILE_LIMIT)
            return n == 0 ? SPI_SUCCESS : SPI_BROKEN_DATA;
        uint8_t *icc = (uint8_t *)malloc(n);
        if (!icc)
            return SPI_NO_MEMORY;
        const int32_t rc = HeifResult(heif_image_handle_get_raw_color_profile(f->handle, icc));
        const int space = rc == SPI_SUCCESS ? SpiProfileSpace(icc, n) : 0;
        if (space == SPI_PROFILE_RGB || (grey && space == SPI_PROFILE_GREY)) {
            *profile = icc;
            *size = n;
        } else {
            free(icc);
        }
        return rc;
    }
    struct heif_color_profile_nclx *nclx = HeifNclx(f);
    if (!nclx)
        return SPI_SUCCESS;
    const int32_t rc = NclxProfile(nclx, profile, size);
    heif_nclx_color_profile_free(nclx);
    return rc;
}

/* Whether the file says that its samples are limited to the video range (16 to 235 of 255). */
static int HeifLimitedRange(const HeifFile *f)
{
    struct heif_color_profile_nclx *nclx = HeifNclx(f);
    if (!nclx)
        return 0;
    const int limited = !nclx->full_range_flag;
    heif_nclx_color_profile_free(nclx);
    return limited;
}

/* Whether every pixel of the interleaved RGB image is a grey. */
static int HeifAllGrey(const uint8_t *plane, int stride, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        const uint8_t *p = plane + (size_t)y * (size_t)stride;
        for (int x = 0; x < width; ++x, p += 3)
            if (p[0] != p[1] || p[1] != p[2])
                return 0;
    }
    return 1;
}

static struct heif_decoding_options *HeifOptions(HeifProgress *progress, int toEightBits)
{
    struct heif_decoding_options *options = heif_decoding_options_alloc();
    if (!options)
        return NULL;
    options->start_progress = HeifStartProgress;
    options->on_progress = HeifOnProgress;
    options->end_progress = HeifEndProgress;
    options->progress_user_data = progress;
    options->convert_hdr_to_8bit = toEightBits;
    /* AV1 through libaom rather than dav1d (libheif's first choice, about 1.7 times as fast
     * here): dav1d writes its complaints about broken data to stderr and libheif gives no way
     * to silence it. libheif 1.15 still decodes an alpha plane with dav1d, though the picture
     * has no use for it. Without libaom libheif takes its usual decoder; other formats keep
     * theirs. */
    if (options->version >= 4)
        options->decoder_id = "aom";
    return options;
}

/* libheif hands monochrome pictures over as they are stored, also when they are limited to
 * the video range, which it expands for colour pictures only. Such a picture is decoded again
 * as it is stored, at its own bit depth d, and each sample v expanded once:
 * round((v - 16 * 2^(d-8)) * 255 / (219 * 2^(d-8))), clamped to 0..255. The rows go to
 * grey (width * 3 bytes each); 0 when the picture is not monochrome after all. */
static int32_t HeifExpandGrey(const HeifFile *f, HeifProgress *progress, uint8_t *grey, int width, int height,
                              int *done)
{
    *done = 0;
    struct heif_decoding_options *options = HeifOptions(progress, 0);
    if (!options)
        return SPI_NO_MEMORY;
    struct heif_image *image = NULL;
    const int32_t rc = HeifResult(
        heif_decode_image(f->handle, &image, heif_colorspace_undefined, heif_chroma_undefined, options));
    heif_decoding_options_free(options);
    if (rc != SPI_SUCCESS)
        return rc;
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image, heif_channel_Y, &stride);
    const int depth = heif_image_get_bits_per_pixel_range(image, heif_channel_Y);
    if (heif_image_get_colorspace(image) == heif_colorspace_monochrome && plane && depth >= 8 && depth <= 16 &&
        heif_image_get_width(image, heif_channel_Y) == width && heif_image_get_height(image, heif_channel_Y) == height &&
        stride > 0 && (size_t)stride >= (size_t)width * (depth > 8 ? 2 : 1)) {
        const int64_t black = (int64_t)16 << (depth - 8), range = (int64_t)219 << (depth - 8);
        for (int y = 0; y < height; ++y) {
            const uint8_t *s = plane + (size_t)y * (size_t)stride;
            uint8_t *d = grey + (size_t)y * (size_t)width * 3;
            for (int x = 0; x < width; ++x, d += 3) {
                uint16_t v = s[x];
                if (depth > 8)
                    memcpy(&v, s + 2 * (size_t)x, 2);
                const int64_t scaled = ((int64_t)v - black) * 255;
                /* rounded to the nearest, halves away from zero */
                int64_t level = scaled >= 0 ? (2 * scaled + range) / (2 * range) : -((-2 * scaled + range) / (2 * range));
                level = level < 0 ? 0 : level > 255 ? 255 : level;
                d[0] = d[1] = d[2] = (uint8_t)level;
            }
        }
        *done = 1;
    }
    heif_image_release(image);
    return SPI_SUCCESS;
}

/* Decodes the primary image into dib, made here at the size decoded, with its profile. */
static int32_t HeifDecode(const HeifFile *f, SpiDib *dib, HeifProgress *progress)
{
    struct heif_decoding_options *options = HeifOptions(progress, 1);
    if (!options)
        return SPI_NO_MEMORY;
    struct heif_image *image = NULL;
    int32_t rc = HeifResult(heif_decode_image(f->handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options));
    heif_decoding_options_free(options);
    if (rc != SPI_SUCCESS)
        return rc;
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image, heif_channel_interleaved);
    const int height = heif_image_get_height(image, heif_channel_interleaved);
    uint8_t *grey = NULL, *profile = NULL;
    size_t size = 0;
    int expanded = 0;
    if (progress->stop)
        rc = SPI_ABORTED;
    else if (!plane || heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved) != 8 || width <= 0 ||
             height <= 0 || stride < 0 || (size_t)stride < (size_t)width * 3)
        rc = SPI_BROKEN_DATA;
    else if (!SpiDibSizeOk(width, height)) /* the decoded image is the truth when the file's size was not */
        rc = SPI_BROKEN_DATA;
    const int allGrey = rc == SPI_SUCCESS && HeifAllGrey(plane, stride, width, height);
    if (allGrey && HeifLimitedRange(f)) {
        grey = (uint8_t *)malloc((size_t)width * (size_t)height * 3);
        rc = grey ? HeifExpandGrey(f, progress, grey, width, height, &expanded) : SPI_NO_MEMORY;
        if (rc == SPI_SUCCESS && progress->stop)
            rc = SPI_ABORTED;
    }
    if (rc == SPI_SUCCESS)
        rc = HeifProfile(f, allGrey, &profile, &size);
    if (rc == SPI_SUCCESS)
        rc = SpiDibCreateWithProfile(dib, width, height, 24, 0, NULL, profile, size);
    for (int y = 0; rc == SPI_SUCCESS && y < height; ++y)
        SpiDibPutRGB(dib, y, expanded ? grey + (size_t)y * (size_t)width * 3 : plane + (size_t)y * (size_t)stride, 3);
    free(profile);
    free(grey);
    heif_image_release(image);
    return rc;
}

static int32_t HeifReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    HeifFile f;
    int32_t rc = HeifOpen(&f, in);
    if (rc != SPI_SUCCESS)
        return rc;
    /* A picture too large for the program, or larger than the data can fill, is refused
     * before it is decoded; so is a grid or overlay whose canvas is (libheif 1.15 allocates
     * the canvas its data names, whatever the image's size). libheif's own limit is one on
     * the side (32768 by default, below the program's), which it checks on the canvas too. */
    const int32_t width = heif_image_handle_get_width(f.handle), height = heif_image_handle_get_height(f.handle);
    uint64_t canvasWidth = (uint64_t)width, canvasHeight = (uint64_t)height;
    HeifDerivedCanvas(in->data, in->size, &canvasWidth, &canvasHeight);
    if (!SpiDibSizeOk(width, height) || canvasWidth > 65535 || canvasHeight > 65535 ||
        !SpiDibSizeOk((int64_t)canvasWidth, (int64_t)canvasHeight) ||
        SpiDataCanFill(in->size, (uint64_t)width, (uint64_t)height, SPI_PIXELS_PER_BYTE_FLAT, 1) != SPI_SUCCESS ||
        SpiDataCanFill(in->size, canvasWidth, canvasHeight, SPI_PIXELS_PER_BYTE_FLAT, 1) != SPI_SUCCESS)
        rc = SPI_BROKEN_DATA;
    HeifProgress progress = {cb, lData, height, 0, 0, pthread_self()};
    if (rc == SPI_SUCCESS && SpiProgress(cb, 0, height, lData))
        rc = SPI_ABORTED;
    if (rc == SPI_SUCCESS)
        rc = HeifDecode(&f, dib, &progress);
    HeifClose(&f);
    if (rc == SPI_SUCCESS && SpiProgress(cb, height, height, lData))
        rc = SPI_ABORTED;
    return rc;
}

SPI_THREAD_SHARE_EXPORT

SPI_PICTURE_PLUGIN(About, IsHeif, HeifReadInfo, HeifReadPicture, "*.heic;*.heif", "HEIF 画像ファイル", "*.avif",
                   "AVIF 画像ファイル")
