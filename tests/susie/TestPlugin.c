/* A plug-in for the host's tests, built in several variants by compile definitions:
 *   PAIRS_PI, PAIRS_PIC2, PAIRS_FAIL, PAIRS_JPG, PAIRS_P8, PAIRS_P4   its extension pairs
 *   NO_VERSION   GetPluginInfo(0) gives nothing;  ENDLESS   a pair for every number ("*.e<n>")
 *   NO_GETPICTURE   GetPicture left out;  ARCHIVE   an archive plug-in ("00AM")
 *   BITS 24 / 8 (colours used 0) / 4 (16 colours), TOPDOWN, FAIL
 *   HEADERS  GetPicture hands over the header of case v (below) in blocks of exactly the size
 *           the header claims, or less where the case says
 *   SHARE   exports SetThreadShare; a 24-bit pixel's blue is 100 + the share last given (99:
 *           never called)
 * It decodes "TPIC" followed by one byte v into a 3 x 2 picture whose pixel (x, y) is
 * (v + x, v + 10 y, 200) (24 bits) or the index (v + x + 3 y) (palette pictures), and reports
 * progress (0/10, 5/10, 10/10), stopping when asked. */
#include "spi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(PAIRS_PI)
#define EXT1 "*.pi;*.pic"
#define FMT1 "Test PI"
#elif defined(PAIRS_PIC2)
#define EXT1 "*.pic"
#define FMT1 "Test PIC 2"
#elif defined(PAIRS_FAIL)
#define EXT1 "*.pic"
#define FMT1 "Failing"
#elif defined(PAIRS_JPG)
#define EXT1 "*.jpg;*.jfif"
#define FMT1 "JPEG too"
#define EXT2 "*.tpx"
#define FMT2 "TPX"
#elif defined(PAIRS_P8)
#define EXT1 "*.p8"
#define FMT1 "8 bits"
#elif defined(PAIRS_P4)
#define EXT1 "*.p4"
#define FMT1 "16 colours"
#endif
#ifdef ARCHIVE
#define VERSION "00AM"
#endif
#ifndef VERSION
#define VERSION "00IN"
#endif
#ifndef BITS
#define BITS 24
#endif

SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char *buf, int32_t buflen)
{
    const char *texts[] = {VERSION, "test plug-in",
#ifdef EXT1
                           EXT1, FMT1,
#endif
#ifdef EXT2
                           EXT2, FMT2,
#endif
                           NULL};
#ifdef NO_VERSION
    if (infono == 0)
        return 0;
#endif
#ifdef ENDLESS
    if (infono >= 2) {
        snprintf(buf, (size_t)buflen, infono % 2 == 0 ? "*.e%d" : "Endless %d", (int)infono / 2);
        return (int32_t)strlen(buf);
    }
#endif
    for (int32_t i = 0; i <= infono; ++i)
        if (!texts[i])
            return 0;
    snprintf(buf, (size_t)buflen, "%s", texts[infono]);
    return (int32_t)strlen(buf);
}

SPI_EXPORT int32_t IsSupported(const char *filename, const void *dw)
{
    (void)filename;
    return memcmp(dw, "TPIC", 4) == 0;
}

/* The picture's first five bytes, from the file at an offset or from memory. */
static int ReadStart(const char *buf, int32_t len, uint32_t flag, unsigned char *start)
{
    if (flag == 1) {
        if (len < 5)
            return 0;
        memcpy(start, buf, 5);
        return 1;
    }
    FILE *f = fopen(buf, "rb");
    if (!f)
        return 0;
    const int ok = fseek(f, len, SEEK_SET) == 0 && fread(start, 1, 5, f) == 5;
    fclose(f);
    return ok;
}

SPI_EXPORT int32_t GetPictureInfo(const char *buf, int32_t len, uint32_t flag, SpiPictureInfo *lpInfo)
{
    unsigned char start[5];
    if (!ReadStart(buf, len, flag, start) || memcmp(start, "TPIC", 4) != 0)
        return 2;
    memset(lpInfo, 0, sizeof *lpInfo);
    lpInfo->width = 3;
    lpInfo->height = 2;
    lpInfo->colorDepth = BITS;
    lpInfo->hInfo = malloc(8); /* the program frees it */
    return 0;
}

#ifdef SHARE
static int32_t share = -1;
SPI_EXPORT void SetThreadShare(int32_t threads)
{
    share = threads;
}
#define BLUE (100 + share)
#else
#define BLUE 200
#endif

#ifndef NO_GETPICTURE
static inline void Put32(unsigned char *p, int32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (unsigned char)((uint32_t)v >> (8 * i));
}

#ifdef HEADERS
/* Case v of a 3 x 2 picture: 0 is whole (24 bits, BITMAPINFOHEADER); the others are the same
 * with one field other, and each block as large as that header makes it (capped at 4 KiB). */
static void HeaderCase(int v, unsigned char *h, size_t *bitsSize)
{
    Put32(h, 40);
    Put32(h + 4, 3);
    Put32(h + 8, 2);
    h[12] = 1;
    h[14] = 24;
    Put32(h + 20, 24);
    *bitsSize = 24;
    switch (v) {
    case 1: /* biSizeImage short of 2 rows of 12 bytes, and so the block */
        Put32(h + 20, 20);
        *bitsSize = 20;
        break;
    case 2: /* a header size of neither form */
        Put32(h, 44);
        break;
    case 3: /* 8 bits with 300 colours */
        h[14] = 8;
        Put32(h + 32, 300);
        break;
    case 4: /* 4 bits with 17 colours */
        h[14] = 4;
        Put32(h + 32, 17);
        break;
    case 5: /* no width */
        Put32(h + 4, 0);
        break;
    case 6: /* a negative width */
        Put32(h + 4, -3);
        break;
    case 7: /* 70000 rows top-down: the rows are not there */
        Put32(h + 8, -70000);
        break;
    case 8: /* run-length compressed */
        Put32(h + 16, 1);
        break;
    case 9: /* a V5 header whose profile begins inside the header */
        Put32(h, 124);
        Put32(h + 56, 0x4D424544);
        Put32(h + 112, 100);
        Put32(h + 116, 200);
        break;
    case 10: /* a V5 header with a profile of 2 GiB */
        Put32(h, 124);
        Put32(h + 56, 0x4D424544);
        Put32(h + 112, 124);
        Put32(h + 116, 0x7FFFFFF0);
        break;
    case 11: /* 65535 x 65535 pixels, more than the program holds: the rows are not there */
        Put32(h + 4, 65535);
        Put32(h + 8, 65535);
        Put32(h + 20, 0);
        break;
    case 12: /* inks without their profile */
        h[14] = 32;
        Put32(h + 16, 11);
        Put32(h + 20, 32);
        *bitsSize = 32;
        break;
    default:
        break;
    }
}
#endif

SPI_EXPORT int32_t GetPicture(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                              SpiProgressCallback cb, intptr_t lData)
{
#ifdef HEADERS
    unsigned char start[5];
    (void)cb, (void)lData;
    if (!ReadStart(buf, len, flag, start) || memcmp(start, "TPIC", 4) != 0)
        return 2;
    unsigned char h[124] = {0};
    size_t bitsSize = 0;
    HeaderCase(start[4], h, &bitsSize);
    /* The info block: the header, its colour table (capped) and nothing of any profile. */
    const uint32_t headerSize = (uint32_t)h[0] | (uint32_t)h[1] << 8;
    uint32_t colors = (uint32_t)h[32] | (uint32_t)h[33] << 8;
    if (colors > 256)
        colors = 256;
    const size_t infoSize = (headerSize == 124 ? 124 : 40) + 4 * (size_t)colors;
    unsigned char *info = malloc(infoSize);
    unsigned char *bits = calloc(1, bitsSize ? bitsSize : 1);
    memset(info, 0, infoSize);
    memcpy(info, h, headerSize == 124 ? 124 : 40);
    *pHBInfo = info;
    *pHBm = bits;
    return 0;
#elif defined(FAIL)
    (void)buf, (void)len, (void)flag, (void)pHBInfo, (void)pHBm, (void)cb, (void)lData;
    return 3;
#else
    unsigned char start[5];
    if (!ReadStart(buf, len, flag, start) || memcmp(start, "TPIC", 4) != 0)
        return 2;
    for (int32_t n = 0; n <= 10; n += 5)
        if (cb && cb(n, 10, lData))
            return 1;
    const int v = start[4];
    const int colors = BITS == 4 ? 16 : BITS == 8 ? 256 : 0;
    const int stride = ((3 * BITS + 31) / 32) * 4;
    unsigned char *info = calloc(1, 40 + 4 * (size_t)colors);
    unsigned char *bits = calloc(2, (size_t)stride);
    Put32(info, 40);
    Put32(info + 4, 3);
#ifdef TOPDOWN
    Put32(info + 8, -2);
#else
    Put32(info + 8, 2);
#endif
    info[12] = 1;
    info[14] = BITS;
    Put32(info + 32, BITS == 4 ? 16 : 0); /* 8 bits: colours used 0 means 256 */
    for (int i = 0; i < colors; ++i) {
        info[40 + 4 * i] = (unsigned char)(255 - i); /* blue */
        info[41 + 4 * i] = (unsigned char)i;        /* green */
        info[42 + 4 * i] = (unsigned char)(i * 7);  /* red */
    }
    for (int y = 0; y < 2; ++y) {
#ifdef TOPDOWN
        unsigned char *row = bits + y * stride;
#else
        unsigned char *row = bits + (1 - y) * stride;
#endif
        for (int x = 0; x < 3; ++x) {
            const int index = (v + x + 3 * y) & (colors ? colors - 1 : 255);
            if (BITS == 24) {
                row[3 * x] = (unsigned char)BLUE;
                row[3 * x + 1] = (unsigned char)(v + 10 * y);
                row[3 * x + 2] = (unsigned char)(v + x);
            } else if (BITS == 8) {
                row[x] = (unsigned char)index;
            } else {
                row[x / 2] |= (unsigned char)(x % 2 ? index : index << 4);
            }
        }
    }
    *pHBInfo = info;
    *pHBm = bits;
    return 0;
#endif
}
#endif

#ifdef ARCHIVE
SPI_EXPORT int32_t GetArchiveInfo(const char *buf, int32_t len, uint32_t flag, void **lphInf)
{
    (void)buf, (void)len, (void)flag, (void)lphInf;
    return -1;
}
SPI_EXPORT int32_t GetFileInfo(const char *buf, int32_t len, const char *filename, uint32_t flag, void *lpInfo)
{
    (void)buf, (void)len, (void)filename, (void)flag, (void)lpInfo;
    return -1;
}
SPI_EXPORT int32_t GetFile(const char *src, int32_t len, char *dest, uint32_t flag, SpiProgressCallback cb, intptr_t lData)
{
    (void)src, (void)len, (void)dest, (void)flag, (void)cb, (void)lData;
    return -1;
}
#endif
