/* The TIFF plug-in (libtiff): the first page of a file. Palette pictures and grey or bilevel
 * ones of 1, 2, 4 or 8 bits keep their indices, as palette pictures with the file's colour
 * map (or a grey ramp); everything else goes through libtiff's RGBA reader into 24 bits, its
 * alpha dropped. libtiff's messages are swallowed: a broken file is only a failure. */
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
    uint32_t width, height;
    uint16_t bps, spp, photometric, orientation;
    int indexed;     /* read as indices (1, 2, 4 or 8 bits, one sample) */
    int bits;        /* the DIB's depth */
    int32_t colors;
    uint8_t palette[3 * 256];
    int flipX, flipY; /* the file's rows run bottom-up, its columns right to left */
} Page;

static int32_t ReadPage(TIFF *tif, Page *p)
{
    memset(p, 0, sizeof *p);
    uint16_t format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p->width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p->height) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p->bps) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p->spp) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar))
        return SPI_BROKEN_DATA;
    if (p->width == 0 || p->height == 0 || p->width > 65535 || p->height > 65535 ||
        (uint64_t)p->width * p->height > ((uint64_t)1 << 28))
        return SPI_BROKEN_DATA;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p->photometric))
        p->photometric = p->spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &p->orientation))
        p->orientation = ORIENTATION_TOPLEFT;
    /* As libtiff's RGBA reader: the transposed orientations as their plain counterparts. */
    switch (p->orientation) {
    case ORIENTATION_TOPRIGHT:
    case ORIENTATION_RIGHTTOP:
        p->flipX = 1;
        break;
    case ORIENTATION_BOTRIGHT:
    case ORIENTATION_RIGHTBOT:
        p->flipX = p->flipY = 1;
        break;
    case ORIENTATION_BOTLEFT:
    case ORIENTATION_LEFTBOT:
        p->flipY = 1;
        break;
    default:
        break;
    }

    const int indexBits = p->bps == 1 || p->bps == 2 || p->bps == 4 || p->bps == 8;
    p->indexed = p->spp == 1 && indexBits && format == SAMPLEFORMAT_UINT && !p->flipX &&
                 (p->photometric == PHOTOMETRIC_PALETTE || p->photometric == PHOTOMETRIC_MINISBLACK ||
                  p->photometric == PHOTOMETRIC_MINISWHITE);
    if (!p->indexed) {
        p->bits = 24;
        return SPI_SUCCESS;
    }
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
    SpiFillInfo(info, (int32_t)p.width, (int32_t)p.height, (int16_t)p.bits);
    TIFFClose(tif);
    return SPI_SUCCESS;
}

/* A band of rows from the top: the file's row y is the picture's row y, or counted from the
 * bottom for a file whose rows run bottom-up. */
static uint8_t *Row(SpiDib *dib, const Page *p, uint32_t y)
{
    return SpiDibRow(dib, p->flipY ? (int32_t)(p->height - 1 - y) : (int32_t)y);
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

/* Indexed pictures, strip by strip or by rows of tiles. */
static int32_t DecodeIndexed(TIFF *tif, const Page *p, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    const tmsize_t scanline = TIFFScanlineSize(tif);
    if (scanline <= 0 || (uint64_t)scanline < ((uint64_t)p->width * p->bps + 7) / 8)
        return SPI_BROKEN_DATA;
    uint32_t band, tileWidth = 0;
    tmsize_t tileSize = 0, tileRow = 0;
    if (TIFFIsTiled(tif)) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &band) ||
            tileWidth == 0 || band == 0 || ((uint64_t)tileWidth * p->bps) % 8 != 0)
            return SPI_BROKEN_DATA;
        tileSize = TIFFTileSize(tif);
        tileRow = TIFFTileRowSize(tif);
        /* A tile is read whole even where the picture is smaller: no larger than 2^30 bytes. */
        if (tileSize <= 0 || tileRow <= 0 || (uint64_t)tileRow * band > (uint64_t)tileSize ||
            (uint64_t)tileSize > ((uint64_t)1 << 30))
            return SPI_BROKEN_DATA;
    } else {
        if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band) || band == 0)
            return SPI_BROKEN_DATA;
    }
    if (band > p->height)
        band = p->height;
    /* A band's rows (and, for tiles, one tile) in memory; the band is at most the picture. */
    uint8_t *rows = (uint8_t *)malloc((size_t)band * (size_t)scanline);
    uint8_t *tile = tileSize ? (uint8_t *)malloc((size_t)tileSize) : NULL;
    int32_t rc = rows && (tile || !tileSize) ? SPI_SUCCESS : SPI_NO_MEMORY;
    for (uint32_t y = 0; rc == SPI_SUCCESS && y < p->height; y += band) {
        const uint32_t n = p->height - y < band ? p->height - y : band;
        if (!tile) {
            const tmsize_t want = (tmsize_t)n * scanline;
            if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, 0), rows, want) != want) {
                rc = SPI_BROKEN_DATA;
                break;
            }
        } else {
            for (uint32_t x = 0; x < p->width; x += tileWidth) {
                if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile, tileSize) != tileSize) {
                    rc = SPI_BROKEN_DATA;
                    break;
                }
                const size_t at = (size_t)x * p->bps / 8;
                size_t copy = (size_t)tileRow;
                if (copy > (size_t)scanline - at)
                    copy = (size_t)scanline - at;
                for (uint32_t i = 0; i < n; ++i)
                    memcpy(rows + (size_t)i * (size_t)scanline + at, tile + (size_t)i * (size_t)tileRow, copy);
            }
            if (rc != SPI_SUCCESS)
                break;
        }
        PutIndices(dib, p, y, n, rows, (size_t)scanline);
        if (SpiProgress(cb, (int32_t)(y + n), (int32_t)p->height, lData))
            rc = SPI_ABORTED;
    }
    free(tile);
    free(rows);
    return rc;
}

/* Everything else through the RGBA reader, a strip or a row of tiles at a time, in the file's
 * own row order (the flips are made while storing). */
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
            uint8_t *d = Row(dib, p, y + i);
            if (p->flipX)
                d += 3 * ((size_t)p->width - 1);
            const ptrdiff_t step = p->flipX ? -3 : 3;
            for (uint32_t x = 0; x < p->width; ++x, d += step) {
                const uint32_t v = s[x];
                d[0] = (uint8_t)TIFFGetB(v);
                d[1] = (uint8_t)TIFFGetG(v);
                d[2] = (uint8_t)TIFFGetR(v);
            }
        }
        if (SpiProgress(cb, (int32_t)(y + n), (int32_t)p->height, lData))
            rc = SPI_ABORTED;
    }
    free(raster);
    TIFFRGBAImageEnd(&img);
    return rc;
}

static int32_t ReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    Memory m;
    TIFF *tif;
    Page p;
    int32_t rc = OpenPage(in, &m, &tif, &p);
    if (rc != SPI_SUCCESS)
        return rc;
    rc = SpiDibCreate(dib, (int32_t)p.width, (int32_t)p.height, p.bits, p.colors, p.indexed ? p.palette : NULL);
    if (rc == SPI_SUCCESS && SpiProgress(cb, 0, (int32_t)p.height, lData))
        rc = SPI_ABORTED;
    if (rc == SPI_SUCCESS)
        rc = p.indexed ? DecodeIndexed(tif, &p, dib, cb, lData) : DecodeRGBA(tif, &p, dib, cb, lData);
    TIFFClose(tif);
    return rc;
}

SPI_PICTURE_PLUGIN(About, IsTiff, ReadInfo, ReadPicture, "*.tif;*.tiff", "TIFF 画像ファイル")
