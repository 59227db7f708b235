#define _GNU_SOURCE /* sched_getaffinity */
#include "SpiCommon.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int32_t SpiPluginInfo(const char *const *texts, int32_t infono, char *buf, int32_t buflen)
{
    if (infono < 0 || !buf || buflen <= 0)
        return 0;
    for (int32_t i = 0; i < infono; ++i)
        if (!texts[i])
            return 0;
    const char *text = texts[infono];
    if (!text)
        return 0;
    size_t n = strlen(text);
    if (n > (size_t)(buflen - 1))
        n = (size_t)(buflen - 1);
    memcpy(buf, text, n);
    buf[n] = '\0';
    return (int32_t)n;
}

int32_t SpiPictureInfoTexts(SpiAboutWriter about, const char *const *pairs, int32_t infono, char *buf, int32_t buflen)
{
    if (infono >= 2)
        return SpiPluginInfo(pairs, infono - 2, buf, buflen);
    char text[SPI_ABOUT_SIZE] = "";
    if (infono == 1)
        about(text, sizeof text);
    const char *const head[] = {"00IN", text, NULL};
    return SpiPluginInfo(head, infono, buf, buflen);
}

/* A block from malloc's family (the host frees pixel blocks with free). A large one is aligned
 * to and advised for huge pages: faulting fresh memory in one small page at a time costs more
 * than decoding into it, or reading a file into it. */
static void *AllocLarge(size_t size)
{
    const size_t huge = (size_t)2 << 20;
    if (size < huge)
        return malloc(size ? size : 1);
    if (size > SIZE_MAX - huge)
        return NULL;
    const size_t rounded = (size + huge - 1) & ~(huge - 1);
    void *p = aligned_alloc(huge, rounded);
    if (p)
        madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

int32_t SpiInputOpen(SpiInput *in, const char *buf, int32_t len, uint32_t flag)
{
    in->data = NULL;
    in->size = 0;
    in->owned = NULL;
    if (!buf)
        return SPI_FILE_READ_ERROR;
    if ((flag & 7) == 1) {
        if (len < 0)
            return SPI_BROKEN_DATA;
        in->data = (const uint8_t *)buf;
        in->size = (size_t)len;
        return SPI_SUCCESS;
    }
    if ((flag & 7) != 0 || len < 0)
        return SPI_NOT_IMPLEMENTED;
    const int fd = open(buf, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return SPI_FILE_READ_ERROR;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < len ||
        (size_t)(st.st_size - len) > SPI_INPUT_LIMIT) {
        close(fd);
        return SPI_FILE_READ_ERROR;
    }
    const size_t size = (size_t)(st.st_size - len);
    uint8_t *data = (uint8_t *)AllocLarge(size);
    if (!data) {
        close(fd);
        return SPI_NO_MEMORY;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t r = pread(fd, data + done, size - done, (off_t)len + (off_t)done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += (size_t)r;
    }
    close(fd);
    in->data = data;
    in->size = done; /* a file that shrank meanwhile gives what is there */
    in->owned = data;
    return SPI_SUCCESS;
}

void SpiInputFree(SpiInput *in)
{
    free(in->owned);
    in->owned = NULL;
    in->data = NULL;
    in->size = 0;
}

static void Put32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

int SpiDibSizeOk(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= 65535 && height <= 65535 && width * height <= ((int64_t)1 << 28);
}

/* A zeroed pixel block. */
static void *AllocPixels(size_t size)
{
    void *p = AllocLarge(size);
    if (p)
        memset(p, 0, size);
    return p;
}

int32_t SpiDibCreate(SpiDib *dib, int32_t width, int32_t height, int32_t bits, int32_t colors, const uint8_t *palette)
{
    return SpiDibCreateWithProfile(dib, width, height, bits, colors, palette, NULL, 0);
}

int32_t SpiDibCreateWithProfile(SpiDib *dib, int32_t width, int32_t height, int32_t bits, int32_t colors,
                                const uint8_t *palette, const uint8_t *profile, size_t size)
{
    memset(dib, 0, sizeof *dib);
    if (!SpiDibSizeOk(width, height))
        return SPI_BROKEN_DATA;
    if (!profile)
        size = 0;
    if (size > SPI_PROFILE_LIMIT)
        return SPI_BROKEN_DATA;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return SPI_INTERNAL_ERROR;
    if (bits == 32 && SpiProfileSpace(profile, size) != SPI_PROFILE_CMYK)
        return SPI_INTERNAL_ERROR;
    if (bits >= 24)
        colors = 0;
    else if (colors <= 0 || colors > (1 << bits) || !palette)
        return SPI_INTERNAL_ERROR;
    /* At most 65535 * 32 bits a row and 2^28 pixels of 4 bytes: no overflow in size_t. */
    const size_t stride = (((size_t)width * (size_t)bits + 31) / 32) * 4;
    const size_t headerSize = size ? SPI_BITMAPV5HEADER_SIZE : SPI_BITMAPINFOHEADER_SIZE;
    const size_t profileAt = headerSize + 4 * (size_t)colors;
    dib->info = (uint8_t *)calloc(1, profileAt + size);
    dib->pixels = (uint8_t *)AllocPixels(stride * (size_t)height);
    if (!dib->info || !dib->pixels) {
        SpiDibFree(dib);
        return SPI_NO_MEMORY;
    }
    dib->width = width;
    dib->height = height;
    dib->bits = bits;
    dib->colors = colors;
    dib->stride = stride;
    uint8_t *h = dib->info;
    Put32(h, (uint32_t)headerSize);
    Put32(h + 4, (uint32_t)width);
    Put32(h + 8, (uint32_t)height);
    h[12] = 1; /* planes */
    h[14] = (uint8_t)bits;
    Put32(h + 16, bits == 32 ? SPI_BI_CMYK : SPI_BI_RGB);
    Put32(h + 20, (uint32_t)(stride * (size_t)height));
    Put32(h + 32, (uint32_t)colors);
    if (size) {
        Put32(h + 56, SPI_PROFILE_EMBEDDED);
        Put32(h + 108, SPI_LCS_GM_IMAGES);
        Put32(h + 112, (uint32_t)profileAt);
        Put32(h + 116, (uint32_t)size);
        memcpy(h + profileAt, profile, size);
    }
    for (int32_t i = 0; i < colors; ++i) {
        uint8_t *e = h + headerSize + 4 * i;
        e[0] = palette[3 * i + 2];
        e[1] = palette[3 * i + 1];
        e[2] = palette[3 * i];
    }
    return SPI_SUCCESS;
}

int SpiProfileSpace(const uint8_t *profile, size_t size)
{
    /* An ICC profile is at least its 128-byte header and a tag count. */
    if (!profile || size < 132 || size > SPI_PROFILE_LIMIT)
        return 0;
    if (memcmp(profile + 16, "RGB ", 4) == 0)
        return SPI_PROFILE_RGB;
    if (memcmp(profile + 16, "GRAY", 4) == 0)
        return SPI_PROFILE_GREY;
    if (memcmp(profile + 16, "CMYK", 4) == 0)
        return SPI_PROFILE_CMYK;
    return 0;
}

uint8_t *SpiDibRow(SpiDib *dib, int32_t y)
{
    return dib->pixels + (size_t)(dib->height - 1 - y) * dib->stride;
}

void SpiDibPutRGB(SpiDib *dib, int32_t y, const uint8_t *rgb, int channels)
{
    uint8_t *d = SpiDibRow(dib, y);
    for (int32_t x = 0; x < dib->width; ++x, d += 3, rgb += channels) {
        d[0] = rgb[2];
        d[1] = rgb[1];
        d[2] = rgb[0];
    }
}

void SpiDibRelease(SpiDib *dib, void **pHBInfo, void **pHBm)
{
    *pHBInfo = dib->info;
    *pHBm = dib->pixels;
    dib->info = NULL;
    dib->pixels = NULL;
}

void SpiDibFree(SpiDib *dib)
{
    free(dib->info);
    free(dib->pixels);
    dib->info = NULL;
    dib->pixels = NULL;
}

int SpiProgress(SpiProgressCallback cb, int32_t num, int32_t denom, intptr_t lData)
{
    return cb && cb(num, denom, lData) != 0;
}

int32_t SpiDataCanFill(size_t inputBytes, uint64_t width, uint64_t height, uint64_t pixels, uint64_t perBytes)
{
    /* width, height and the bounds are below 2^64: their products fit in 128 bits. */
    __extension__ typedef unsigned __int128 Wide;
    if (perBytes == 0)
        return SPI_BROKEN_DATA;
    return (Wide)width * height * perBytes <= (Wide)inputBytes * pixels ? SPI_SUCCESS : SPI_BROKEN_DATA;
}

static atomic_int threadShare;

void SpiStoreThreadShare(int32_t threads)
{
    atomic_store(&threadShare, threads > 0 ? threads : 0);
}

int32_t SpiThreadShare(void)
{
    const int share = atomic_load(&threadShare);
    if (share > 0)
        return share;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0)
        return CPU_COUNT(&cpus);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? (int32_t)online : 1;
}

void SpiFillInfo(SpiPictureInfo *info, int32_t width, int32_t height, int16_t depth)
{
    memset(info, 0, sizeof *info);
    info->width = width;
    info->height = height;
    info->colorDepth = depth;
}

int32_t SpiPictureInfoCall(const char *buf, int32_t len, uint32_t flag, SpiPictureInfo *lpInfo, SpiInfoReader read)
{
    if (!lpInfo)
        return SPI_INTERNAL_ERROR;
    SpiInput in;
    int32_t rc = SpiInputOpen(&in, buf, len, flag);
    if (rc == SPI_SUCCESS)
        rc = read(&in, lpInfo);
    SpiInputFree(&in);
    return rc;
}

int32_t SpiPictureCall(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                       SpiProgressCallback cb, intptr_t lData, SpiPictureReader read)
{
    if (!pHBInfo || !pHBm)
        return SPI_INTERNAL_ERROR;
    SpiInput in;
    SpiDib dib;
    memset(&dib, 0, sizeof dib);
    int32_t rc = SpiInputOpen(&in, buf, len, flag);
    if (rc == SPI_SUCCESS)
        rc = read(&in, &dib, cb, lData);
    if (rc == SPI_SUCCESS)
        SpiDibRelease(&dib, pHBInfo, pHBm);
    SpiDibFree(&dib);
    SpiInputFree(&in);
    return rc;
}
