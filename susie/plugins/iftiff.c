/* The TIFF plug-in (libtiff): the first page of a file, turned as its orientation says.
 * Palette pictures and grey or bilevel ones of 1, 2, 4 or 8 bits keep their indices, as
 * palette pictures with the file's colour map (or a grey ramp); grey and RGB samples of 8 or
 * 16 bits are read as they are stored into 24 bits, alpha left out (the colour under it
 * kept); CMYK inks of 8 or 16 bits are handed over as inks (BI_CMYK) with a CMYK profile, and
 * without one turned into 24 bits by the ink formula of libtiff's RGBA reader; everything else
 * goes through that reader into 24 bits. The file's ICC profile goes with the
 * picture when it describes what is handed over. libtiff's messages are swallowed: a broken
 * file is only a failure. */
#include "SpiCommon.h"

#include <tiffio.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void About(char *text, size_t size)
{
    snprintf(text, size, "%s",
             "nolvi2 TIFF plug-in (libtiff " SPI_TEXT(TIFFLIB_MAJOR_VERSION) "." SPI_TEXT(TIFFLIB_MINOR_VERSION) ")");
}

static int32_t IsTiff(const uint8_t *p)
{
    /* Classic TIFF has the version 42, BigTIFF 43, in the byte order that the file names. */
    if (p[0] == 'I' && p[1] == 'I')
        return (p[2] == 42 || p[2] == 43) && p[3] == 0;
    if (p[0] == 'M' && p[1] == 'M')
        return p[2] == 0 && (p[3] == 42 || p[3] == 43);
    return 0;
}

/* The data as a file for libtiff. */
typedef struct {
    const uint8_t *data;
    toff_t size, pos;
} Memory;

static tmsize_t MemRead(thandle_t h, void *buf, tmsize_t size)
{
    Memory *m = (Memory *)h;
    if (size <= 0 || m->pos >= m->size)
        return 0;
    toff_t n = m->size - m->pos;
    if (n > (toff_t)size)
        n = (toff_t)size;
    memcpy(buf, m->data + m->pos, (size_t)n);
    m->pos += n;
    return (tmsize_t)n;
}

static tmsize_t MemWrite(thandle_t h, void *buf, tmsize_t size)
{
    (void)h, (void)buf, (void)size;
    return -1;
}

static toff_t MemSeek(thandle_t h, toff_t off, int whence)
{
    Memory *m = (Memory *)h;
    toff_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
        return (toff_t)-1;
    /* off is a signed offset in an unsigned type: base + off wraps to the right place, and
     * anything beyond the data (or below 0, which wraps high) is refused. */
    const toff_t to = base + off;
    if (to > m->size)
        return (toff_t)-1;
    m->pos = to;
    return to;
}

static int MemClose(thandle_t h)
{
    (void)h;
    return 0;
}

static toff_t MemSize(thandle_t h)
{
    return ((Memory *)h)->size;
}

/* libtiff reads strips straight from the data; it never writes through the mapping of a
 * file opened for reading. */
static int MemMap(thandle_t h, void **base, toff_t *size)
{
    Memory *m = (Memory *)h;
    *base = (void *)m->data;
    *size = m->size;
    return 1;
}

static void MemUnmap(thandle_t h, void *base, toff_t size)
{
    (void)h, (void)base, (void)size;
}

static int Quiet(TIFF *tif, void *user, const char *module, const char *fmt, va_list ap)
{
    (void)tif, (void)user, (void)module, (void)fmt, (void)ap;
    return 1; /* handled: nothing reaches the process-wide handlers */
}

static int32_t Open(const SpiInput *in, Memory *m, TIFF **out)
{
    *out = NULL;
    if (in->size < 8 || !IsTiff(in->data))
        return SPI_UNKNOWN_FORMAT;
    m->data = in->data;
    m->size = in->size;
    m->pos = 0;
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return SPI_NO_MEMORY;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, Quiet, NULL);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, Quiet, NULL);
    /* No single block beyond what the largest picture the program holds needs (2^28 pixels
     * of four 16-bit samples): a file cannot make libtiff allocate more. */
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, (tmsize_t)1 << 31);
    *out = TIFFClientOpenExt("", "r", (thandle_t)m, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap,
                             opts);
    TIFFOpenOptionsFree(opts);
    return *out ? SPI_SUCCESS : SPI_BROKEN_DATA;
}

/* What the first page is and how it is read. */
typedef struct {
    uint32_t width, height;       /* as stored */
    uint32_t outWidth, outHeight; /* as shown (swapped by the transposing orientations) */
    uint16_t bps, spp, photometric, orientation, planar;
    int indexed;     /* read as indices (1, 2, 4 or 8 bits, one sample) */
    int direct;      /* read as samples by DecodeDirect */
    int channels;    /* DecodeDirect: 1 grey, 3 RGB, 4 CMYK */
    int alpha;       /* DecodeDirect: the sample after the colour ones is alpha */
    int associated;  /* that alpha is associated (the colours premultiplied by it) */
    int bits;        /* the DIB's depth */
    int32_t colors;
    uint8_t palette[3 * 256];
    /* Stored row r, column c is shown at column r, row c when transposed, and then at
     * column outWidth - 1 - x and row outHeight - 1 - y where flipped. */
    int transpose, flipX, flipY;
    const uint8_t *profile; /* the ICC profile handed over (libtiff's memory), or NULL */
    uint32_t profileSize;
} Page;

/* The orientations of TIFF 6.0: where the stored rows and columns are shown. */
static void Orient(Page *p)
{
    switch (p->orientation) {
    case ORIENTATION_TOPRIGHT:
        p->flipX = 1;
        break;
    case ORIENTATION_BOTRIGHT:
        p->flipX = p->flipY = 1;
        break;
    case ORIENTATION_BOTLEFT:
        p->flipY = 1;
        break;
    case ORIENTATION_LEFTTOP: /* row 0 is the left column, column 0 the top row */
        p->transpose = 1;
        break;
    case ORIENTATION_RIGHTTOP: /* turned a quarter clockwise to be shown */
        p->transpose = p->flipX = 1;
        break;
    case ORIENTATION_RIGHTBOT:
        p->transpose = p->flipX = p->flipY = 1;
        break;
    case ORIENTATION_LEFTBOT: /* turned a quarter counter-clockwise to be shown */
        p->transpose = p->flipY = 1;
        break;
    default:
        break;
    }
    p->outWidth = p->transpose ? p->height : p->width;
    p->outHeight = p->transpose ? p->width : p->height;
}

/* Whether the samples can be read by DecodeDirect: 8 or 16 bits of grey, RGB or CMYK inks,
 * each with an alpha sample or not. */
static void ChooseDirect(TIFF *tif, Page *p, uint16_t format)
{
    uint16_t inkset = INKSET_CMYK, extraCount = 0, *extra = NULL;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
    if (p->photometric == PHOTOMETRIC_MINISBLACK)
        p->channels = 1;
    else if (p->photometric == PHOTOMETRIC_RGB)
        p->channels = 3;
    else if (p->photometric == PHOTOMETRIC_SEPARATED && inkset == INKSET_CMYK)
        p->channels = 4;
    else
        return;
    /* At most 8 samples a pixel: a band of rows is held in memory with all of them. */
    if (format != SAMPLEFORMAT_UINT || (p->bps != 8 && p->bps != 16) || p->spp < p->channels || p->spp > 8 ||
        (p->planar != PLANARCONFIG_CONTIG && p->planar != PLANARCONFIG_SEPARATE))
        return;
    if (p->spp > p->channels && TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 &&
        extra && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
        p->alpha = 1;
        p->associated = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    p->direct = 1;
}

/* The file's ICC profile when it describes the pixels handed over. */
static void ChooseProfile(Page *p, const uint8_t *icc, uint32_t size, int space)
{
    int fits = 0;
    switch (space) {
    case SPI_PROFILE_RGB:
        fits = p->photometric == PHOTOMETRIC_RGB || p->photometric == PHOTOMETRIC_YCBCR ||
               p->photometric == PHOTOMETRIC_PALETTE || p->photometric == PHOTOMETRIC_MINISBLACK;
        break;
    case SPI_PROFILE_GREY:
        fits = p->photometric == PHOTOMETRIC_MINISBLACK;
        break;
    case SPI_PROFILE_CMYK:
        fits = p->direct && p->channels == 4;
        break;
    default:
        break;
    }
    if (fits) {
        p->profile = icc;
        p->profileSize = size;
    }
}

static int32_t ReadPage(TIFF *tif, Page *p)
{
    memset(p, 0, sizeof *p);
    uint16_t format = SAMPLEFORMAT_UINT;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p->width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p->height) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p->bps) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p->spp) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p->planar))
        return SPI_BROKEN_DATA;
    if (p->width == 0 || p->height == 0 || p->width > 65535 || p->height > 65535 ||
        (uint64_t)p->width * p->height > ((uint64_t)1 << 28))
        return SPI_BROKEN_DATA;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p->photometric))
        p->photometric = p->spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &p->orientation))
        p->orientation = ORIENTATION_TOPLEFT;
    Orient(p);
    uint32_t iccSize = 0;
    void *iccData = NULL;
    const uint8_t *icc = TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &iccData) ? (const uint8_t *)iccData : NULL;
    const int space = icc ? SpiProfileSpace(icc, iccSize) : 0;

    const int indexBits = p->bps == 1 || p->bps == 2 || p->bps == 4 || p->bps == 8;
    p->indexed = p->spp == 1 && indexBits && format == SAMPLEFORMAT_UINT && !p->flipX && !p->transpose &&
                 (p->photometric == PHOTOMETRIC_PALETTE || p->photometric == PHOTOMETRIC_MINISBLACK ||
                  p->photometric == PHOTOMETRIC_MINISWHITE);
    if (!p->indexed) {
        ChooseDirect(tif, p, format);
        ChooseProfile(p, icc, iccSize, space);
        /* Inks go over as inks only with the profile that converts them. */
        p->bits = p->direct && p->channels == 4 && p->profile ? 32 : 24;
        return SPI_SUCCESS;
    }
    ChooseProfile(p, icc, iccSize, space);
    p->bits = p->bps == 1 ? 1 : p->bps == 8 ? 8 : 4;
    p->colors = 1 << p->bps;
    if (p->photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r, *g, *b;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b))
            return SPI_BROKEN_DATA;
        /* Some writers store 8-bit values in the 16-bit map; as libtiff's tools, a map with
         * no value above 255 is taken as one of them. */
        int wide = 0;
        for (int32_t i = 0; i < p->colors; ++i)
            if (r[i] > 255 || g[i] > 255 || b[i] > 255)
                wide = 1;
        for (int32_t i = 0; i < p->colors; ++i) {
            const uint16_t v[3] = {r[i], g[i], b[i]};
            for (int c = 0; c < 3; ++c)
                p->palette[3 * i + c] = wide ? (uint8_t)(((uint32_t)v[c] * 255 + 32767) / 65535) : (uint8_t)v[c];
        }
    } else {
        const int32_t top = p->colors - 1;
        for (int32_t i = 0; i < p->colors; ++i) {
            const uint8_t v = (uint8_t)(i * 255 / top);
            p->palette[3 * i] = p->palette[3 * i + 1] = p->palette[3 * i + 2] =
                p->photometric == PHOTOMETRIC_MINISWHITE ? (uint8_t)(255 - v) : v;
        }
    }
    return SPI_SUCCESS;
}

/* The file opened and its first page looked at; on success the caller closes tif. */
static int32_t OpenPage(const SpiInput *in, Memory *m, TIFF **tif, Page *p)
{
    int32_t rc = Open(in, m, tif);
    if (rc == SPI_SUCCESS && (rc = ReadPage(*tif, p)) != SPI_SUCCESS)
        TIFFClose(*tif);
    return rc;
}

static int32_t ReadInfo(const SpiInput *in, SpiPictureInfo *info)
{
    Memory m;
    TIFF *tif;
    Page p;
    const int32_t rc = OpenPage(in, &m, &tif, &p);
    if (rc != SPI_SUCCESS)
        return rc;
    SpiFillInfo(info, (int32_t)p.outWidth, (int32_t)p.outHeight, (int16_t)p.bits);
    TIFFClose(tif);
    return SPI_SUCCESS;
}

/* A band of rows from the top: the file's row y is the picture's row y, or counted from the
 * bottom for a file whose rows run bottom-up. */
static uint8_t *Row(SpiDib *dib, const Page *p, uint32_t y)
{
    return SpiDibRow(dib, p->flipY ? (int32_t)(p->height - 1 - y) : (int32_t)y);
}

/* Where the stored pixel of row r, column c goes in the DIB (24 or 32 bits). */
static uint8_t *Place(SpiDib *dib, const Page *p, uint32_t r, uint32_t c)
{
    uint32_t x = p->transpose ? r : c, y = p->transpose ? c : r;
    if (p->flipX)
        x = (uint32_t)dib->width - 1 - x;
    if (p->flipY)
        y = (uint32_t)dib->height - 1 - y;
    return SpiDibRow(dib, (int32_t)y) + (size_t)x * (size_t)(dib->bits / 8);
}

/* Index rows of bps bits into the DIB's rows (2-bit indices widened to 4). */
static void PutIndices(SpiDib *dib, const Page *p, uint32_t y, uint32_t rows, const uint8_t *src, size_t srcStride)
{
    const size_t bytes = ((size_t)p->width * p->bps + 7) / 8;
    for (uint32_t i = 0; i < rows; ++i, src += srcStride) {
        uint8_t *d = Row(dib, p, y + i);
        if (p->bps != 2) {
            memcpy(d, src, bytes);
            continue;
        }
        for (uint32_t x = 0; x < p->width; x += 2) {
            const uint8_t s = (uint8_t)(src[x / 4] << (2 * (x % 4)));
            d[x / 2] = (uint8_t)(((s >> 6) << 4) | ((s >> 4) & 3));
        }
    }
}

/* The stored rows of one plane a band at a time: a strip, or a row of tiles put side by
 * side. */
typedef struct {
    uint32_t band;       /* rows in a band */
    uint32_t tileWidth;  /* 0 for strips */
    uint32_t planeBits;  /* bits of a pixel in one plane */
    tmsize_t scanline;   /* bytes of a row of one plane */
    tmsize_t tileSize, tileRow;
    uint8_t *tile;       /* one tile, for tiled files */
} Bands;

static int32_t BandsOpen(TIFF *tif, const Page *p, uint32_t planeBits, Bands *b)
{
    memset(b, 0, sizeof *b);
    b->planeBits = planeBits;
    b->scanline = TIFFScanlineSize(tif);
    if (b->scanline <= 0 || (uint64_t)b->scanline < ((uint64_t)p->width * planeBits + 7) / 8)
        return SPI_BROKEN_DATA;
    if (TIFFIsTiled(tif)) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &b->tileWidth) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &b->band) ||
            b->tileWidth == 0 || b->band == 0 || ((uint64_t)b->tileWidth * planeBits) % 8 != 0)
            return SPI_BROKEN_DATA;
        b->tileSize = TIFFTileSize(tif);
        b->tileRow = TIFFTileRowSize(tif);
        /* A tile is read whole even where the picture is smaller: no larger than 2^30 bytes. */
        if (b->tileSize <= 0 || b->tileRow <= 0 || (uint64_t)b->tileRow * b->band > (uint64_t)b->tileSize ||
            (uint64_t)b->tileSize > ((uint64_t)1 << 30))
            return SPI_BROKEN_DATA;
        if (!(b->tile = (uint8_t *)malloc((size_t)b->tileSize)))
            return SPI_NO_MEMORY;
    } else {
        if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &b->band) || b->band == 0)
            return SPI_BROKEN_DATA;
    }
    if (b->band > p->height)
        b->band = p->height;
    return SPI_SUCCESS;
}

/* Reads n rows from row y (the start of a band) of plane into rows, scanline bytes each. */
static int32_t BandRead(TIFF *tif, const Page *p, Bands *b, uint32_t y, uint32_t n, uint16_t plane, uint8_t *rows)
{
    if (!b->tile) {
        const tmsize_t want = (tmsize_t)n * b->scanline;
        return TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, plane), rows, want) == want ? SPI_SUCCESS
                                                                                              : SPI_BROKEN_DATA;
    }
    for (uint32_t x = 0; x < p->width; x += b->tileWidth) {
        if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, plane), b->tile, b->tileSize) != b->tileSize)
            return SPI_BROKEN_DATA;
        const size_t at = (size_t)x * b->planeBits / 8;
        size_t copy = (size_t)b->tileRow;
        if (copy > (size_t)b->scanline - at)
            copy = (size_t)b->scanline - at;
        for (uint32_t i = 0; i < n; ++i)
            memcpy(rows + (size_t)i * (size_t)b->scanline + at, b->tile + (size_t)i * (size_t)b->tileRow, copy);
    }
    return SPI_SUCCESS;
}

/* Indexed pictures, strip by strip or by rows of tiles. */
static int32_t DecodeIndexed(TIFF *tif, const Page *p, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    Bands b;
    int32_t rc = BandsOpen(tif, p, p->bps, &b);
    /* A band's rows in memory; the band is at most the picture. */
    uint8_t *rows = rc == SPI_SUCCESS ? (uint8_t *)malloc((size_t)b.band * (size_t)b.scanline) : NULL;
    if (rc == SPI_SUCCESS && !rows)
        rc = SPI_NO_MEMORY;
    for (uint32_t y = 0; rc == SPI_SUCCESS && y < p->height; y += b.band) {
        const uint32_t n = p->height - y < b.band ? p->height - y : b.band;
        if ((rc = BandRead(tif, p, &b, y, n, 0, rows)) != SPI_SUCCESS)
            break;
        PutIndices(dib, p, y, n, rows, (size_t)b.scanline);
        if (SpiProgress(cb, (int32_t)(y + n), (int32_t)p->height, lData))
            rc = SPI_ABORTED;
    }
    free(b.tile);
    free(rows);
    return rc;
}

/* A sample of 8 or 16 bits as it is stored (libtiff hands 16-bit samples in the machine's
 * byte order). */
static uint32_t Sample(const uint8_t *s, int wide)
{
    if (!wide)
        return *s;
    uint16_t v;
    memcpy(&v, s, sizeof v);
    return v;
}

/* Grey, RGB or CMYK samples of 8 or 16 bits, with or without alpha, contiguous or in planes,
 * in strips or tiles. Alpha is left out: the colour stored under it is kept, and colours
 * premultiplied by an associated alpha are divided by it (0 where the alpha is 0). 16 bits
 * are reduced to the nearest 8-bit value. */
static int32_t DecodeDirect(TIFF *tif, const Page *p, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    const int separate = p->planar == PLANARCONFIG_SEPARATE, wide = p->bps == 16;
    const uint32_t used = (uint32_t)p->channels + (p->alpha ? 1u : 0u), top = wide ? 65535u : 255u;
    const size_t bytes = wide ? 2 : 1;
    Bands b;
    int32_t rc = BandsOpen(tif, p, separate ? p->bps : (uint32_t)p->bps * p->spp, &b);
    const size_t planeSize = rc == SPI_SUCCESS ? (size_t)b.band * (size_t)b.scanline : 0;
    uint8_t *rows = rc == SPI_SUCCESS ? (uint8_t *)malloc(planeSize * (separate ? used : 1)) : NULL;
    if (rc == SPI_SUCCESS && !rows)
        rc = SPI_NO_MEMORY;
    for (uint32_t y = 0; rc == SPI_SUCCESS && y < p->height; y += b.band) {
        const uint32_t n = p->height - y < b.band ? p->height - y : b.band;
        for (uint16_t plane = 0; rc == SPI_SUCCESS && plane < (separate ? used : 1); ++plane)
            rc = BandRead(tif, p, &b, y, n, plane, rows + plane * planeSize);
        if (rc != SPI_SUCCESS)
            break;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t *row = rows + (size_t)i * (size_t)b.scanline;
            for (uint32_t x = 0; x < p->width; ++x) {
                uint32_t v[5];
                for (uint32_t c = 0; c < used; ++c)
                    v[c] = Sample(separate ? row + c * planeSize + x * bytes : row + ((size_t)x * p->spp + c) * bytes,
                                  wide);
                uint8_t out[4];
                for (int c = 0; c < p->channels; ++c) {
                    uint32_t s = v[c];
                    if (p->associated) {
                        const uint32_t a = v[p->channels];
                        s = a == 0 ? 0 : (uint32_t)(((uint64_t)s * top * 2 + a) / (2 * (uint64_t)a));
                        if (s > top)
                            s = top;
                    }
                    out[c] = (uint8_t)(wide ? (s + 128) / 257 : s);
                }
                uint8_t *d = Place(dib, p, y + i, x);
                if (p->channels == 4 && p->bits == 32) {
                    memcpy(d, out, 4);
                } else if (p->channels == 4) {
                    /* libtiff's formula: R = (255 - K)(255 - C) / 255, truncated. */
                    const unsigned k = 255u - out[3];
                    d[0] = (uint8_t)(k * (255u - out[2]) / 255u);
                    d[1] = (uint8_t)(k * (255u - out[1]) / 255u);
                    d[2] = (uint8_t)(k * (255u - out[0]) / 255u);
                } else if (p->channels == 3) {
                    d[0] = out[2];
                    d[1] = out[1];
                    d[2] = out[0];
                } else {
                    d[0] = d[1] = d[2] = out[0];
                }
            }
        }
        if (SpiProgress(cb, (int32_t)(y + n), (int32_t)p->height, lData))
            rc = SPI_ABORTED;
    }
    free(b.tile);
    free(rows);
    return rc;
}

/* Everything else through the RGBA reader, a strip or a row of tiles at a time, in the file's
 * own row order (the orientation is applied while storing). */
static int32_t DecodeRGBA(TIFF *tif, const Page *p, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    char message[1024];
    TIFFRGBAImage img;
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&img, tif, 1, message))
        return SPI_UNKNOWN_FORMAT;
    img.req_orientation = img.orientation;
    uint32_t band = 0;
    if (TIFFIsTiled(tif) ? !TIFFGetField(tif, TIFFTAG_TILELENGTH, &band)
                         : !TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band))
        band = 0;
    if (band == 0 || band > p->height)
        band = p->height;
    uint32_t *raster = (uint32_t *)malloc((size_t)p->width * band * sizeof *raster);
    int32_t rc = raster ? SPI_SUCCESS : SPI_NO_MEMORY;
    for (uint32_t y = 0; rc == SPI_SUCCESS && y < p->height; y += band) {
        const uint32_t n = p->height - y < band ? p->height - y : band;
        img.row_offset = (int)y;
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, raster, p->width, n)) {
            rc = SPI_BROKEN_DATA;
            break;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t *s = raster + (size_t)i * p->width;
            for (uint32_t x = 0; x < p->width; ++x) {
                uint8_t *d = Place(dib, p, y + i, x);
                d[0] = (uint8_t)TIFFGetB(s[x]);
                d[1] = (uint8_t)TIFFGetG(s[x]);
                d[2] = (uint8_t)TIFFGetR(s[x]);
            }
        }
        if (SpiProgress(cb, (int32_t)(y + n), (int32_t)p->height, lData))
            rc = SPI_ABORTED;
    }
    free(raster);
    TIFFRGBAImageEnd(&img);
    return rc;
}

/* Whether the data can hold the page's stored samples under its compression (SpiCommon.h):
 * at most that many stored bytes per byte of input. YCbCr counts one sample a pixel, as its
 * chroma may be subsampled. */
static int32_t DataCanFill(TIFF *tif, const Page *p, size_t inputBytes)
{
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    uint64_t ratio;
    switch (compression) {
    case COMPRESSION_NONE:
        ratio = 1;
        break;
    case COMPRESSION_PACKBITS:
        ratio = 128;
        break;
    case COMPRESSION_LZW:
        ratio = 2731;
        break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        ratio = 1032;
        break;
    default:
        ratio = 65536;
        break;
    }
    const uint64_t samples = p->photometric == PHOTOMETRIC_YCBCR ? 1 : p->spp;
    /* ratio stored bytes per input byte: 8 * ratio pixels per (bits a pixel) bytes. */
    return SpiDataCanFill(inputBytes, p->width, p->height, 8 * ratio, samples * p->bps);
}

static int32_t ReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    Memory m;
    TIFF *tif;
    Page p;
    int32_t rc = OpenPage(in, &m, &tif, &p);
    if (rc != SPI_SUCCESS)
        return rc;
    rc = DataCanFill(tif, &p, in->size);
    if (rc == SPI_SUCCESS)
        rc = SpiDibCreateWithProfile(dib, (int32_t)p.outWidth, (int32_t)p.outHeight, p.bits, p.colors,
                                 p.indexed ? p.palette : NULL, p.profile, p.profileSize);
    if (rc == SPI_SUCCESS && SpiProgress(cb, 0, (int32_t)p.height, lData))
        rc = SPI_ABORTED;
    if (rc == SPI_SUCCESS)
        rc = p.indexed ? DecodeIndexed(tif, &p, dib, cb, lData)
             : p.direct ? DecodeDirect(tif, &p, dib, cb, lData)
                        : DecodeRGBA(tif, &p, dib, cb, lData);
    TIFFClose(tif);
    return rc;
}

SPI_PICTURE_PLUGIN(About, IsTiff, ReadInfo, ReadPicture, "*.tif;*.tiff", "TIFF 画像ファイル")
