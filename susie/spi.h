/* The picture plug-in interface of nolvi2 on Linux.
 *
 * A plug-in is a shared object with the extension ".spi" that exports the functions below by
 * their plain names, with C linkage and the platform's default calling convention. It needs
 * nothing else of the program: this header is all of the interface.
 *
 * Integers are 32-bit signed where the interface has integers; pointers are native. Texts are
 * UTF-8 and NUL-terminated.
 *
 * GetPluginInfo(infono, buf, buflen): writes text number infono into buf (at most buflen bytes,
 *   NUL included) and returns its length, or 0 when there is no such text.
 *   0: the API version, "00IN" for a picture plug-in ("00AM" archives, "00XN" others);
 *   1: a free description (the About text);
 *   2, 3, 4, 5, ...: pairs of an extension pattern list ("*.tif;*.tiff") and its format name;
 *   the program reads the pairs until one gives 0, and at most 256 of them.
 * IsSupported(filename, dw): non-zero when the plug-in can decode the data whose first 2048
 *   bytes dw points to (filename may be empty for data in memory).
 * GetPictureInfo(buf, len, flag, lpInfo): fills *lpInfo; 0 on success.
 * GetPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData): 0 on success, and then
 *   *pHBInfo is a BITMAPINFO (the 40-byte BITMAPINFOHEADER, little-endian, followed by its
 *   colour table of 4-byte blue, green, red, 0 entries) and *pHBm the pixel rows as a
 *   device-independent bitmap: bottom-up (or top-down when the height is negative), each row
 *   padded to a multiple of 4 bytes. Both are blocks from malloc that the program releases
 *   with free. Any other result is a failure; the program then releases nothing.
 *   The program cannot see how large the blocks are and takes the header's word for it: the
 *   info block holds at least the header (its first 4 bytes, biSize, 40 or 124), the colour
 *   table (biClrUsed entries, or 2^bits for 1, 4 and 8 bits when biClrUsed is 0) and an
 *   embedded profile (to bV5ProfileData + bV5ProfileSize); the bits block holds at least
 *   stride x |height| bytes, stride = ((width x bits + 31) / 32) x 4. The program refuses as
 *   broken data (it cannot decode the picture) and frees both blocks unless: the width is 1 to
 *   65535, the height -65535 to 65535 and not 0, width x |height| at most 2^28; the bit count
 *   is 1, 4, 8, 16, 24 or 32, uncompressed (BI_RGB), or 32 with BI_CMYK and a profile;
 *   biClrUsed at most 256 and at most 2^bits for 1, 4 and 8 bits; biSizeImage 0 or at least
 *   stride x |height|; a profile, where there is one, begins after the colour table, and both
 *   its offset and its size are at most 64 MiB.
 *   The progress callback may be called with (done, total, lData); when it returns non-zero
 *   the plug-in stops and fails.
 *   A 40-byte header means that the pixels are sRGB.
 *
 *   A picture whose file carries a colour profile other than sRGB is handed over with a
 *   BITMAPV5HEADER (124 bytes, little-endian) in place of the 40-byte header:
 *     0..39    as the 40-byte header, with bV5Size (offset 0) = 124;
 *     40..107  zero (masks, endpoints, gammas), except bV5CSType (offset 56) =
 *              PROFILE_EMBEDDED (0x4D424544, 'MBED');
 *     108      bV5Intent = LCS_GM_IMAGES (4);
 *     112      bV5ProfileData = offset of the ICC profile counted from the header's start;
 *     116      bV5ProfileSize = its size in bytes;
 *     120      bV5Reserved = 0.
 *   The block is the header, the colour table (4 bytes an entry), then the profile, so
 *   bV5ProfileData = 124 + 4 * colours; header, table and profile are one block from malloc.
 *   The profile describes the pixels as they are handed over: an RGB profile goes with
 *   palette or 24-bit pixels, a grey profile with pixels whose colours are greys (R = G = B,
 *   the profile applying to that level), a CMYK profile only with BI_CMYK pixels.
 *
 *   BI_CMYK (compression 11, bit count 32) hands an 8-bit CMYK picture over as its inks:
 *   4 bytes a pixel in the order C, M, Y, K, 0 meaning no ink, rows padded to 4 bytes as
 *   usual, always with a BITMAPV5HEADER and an embedded CMYK profile. Without the profile
 *   the colour is R = (255 - K)(255 - C) / 255 (truncated), G likewise from M, B from Y.
 * GetPreview: as GetPicture, a smaller or faster picture where the format has one.
 *
 * flag 0: buf is a file name and len the byte offset at which the picture data starts;
 * flag 1: buf points to the picture data in memory and len is its size in bytes.
 *
 * SetThreadShare(threads), optional: the number of threads that each later decoding may run
 *   at most, libraries' threads included, as the program decodes several pictures at once
 *   (nolvi2-cli --jobs N gives each of its N workers max(1, processors / N)); 0 means every
 *   processor, as when it is never called. The program looks it up after loading the plug-in
 *   and calls it before any picture function and again whenever the share changes; a plug-in
 *   without threads of its own leaves it out.
 *
 * GetArchiveInfo, GetFileInfo, GetFile and ConfigurationDlg belong to archive plug-ins; the
 * program checks only that an archive plug-in exports them and never calls them.
 */
#ifndef NOLVI2_SPI_H
#define NOLVI2_SPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Plug-ins built with hidden symbols still export the interface. */
#if defined(__GNUC__)
#define SPI_EXPORT __attribute__((visibility("default")))
#else
#define SPI_EXPORT
#endif

#pragma pack(push, 1)
typedef struct {
    int32_t left, top, width, height;
    uint16_t x_density, y_density;
    int16_t colorDepth;
    void *hInfo; /* a text block from malloc, or NULL; the program frees it */
} SpiPictureInfo; /* 30 bytes */
#pragma pack(pop)

typedef int32_t (*SpiProgressCallback)(int32_t nNum, int32_t nDenom, intptr_t lData);

/* The BITMAPV5HEADER that carries an embedded colour profile. */
enum {
    SPI_BITMAPINFOHEADER_SIZE = 40,
    SPI_BITMAPV5HEADER_SIZE = 124,
    SPI_BI_RGB = 0,
    SPI_BI_CMYK = 11,
    SPI_PROFILE_EMBEDDED = 0x4D424544, /* 'MBED' */
    SPI_LCS_GM_IMAGES = 4
};

/* Results of the picture functions. The program tells only success (0) from failure; the
 * others say why, for the plug-in's own callers and tests. */
enum {
    SPI_SUCCESS = 0,
    SPI_NOT_IMPLEMENTED = -1, /* no such function, or a form of call (flag) it does not take */
    SPI_ABORTED = 1,          /* the progress callback asked to stop */
    SPI_UNKNOWN_FORMAT = 2,   /* data of another format, or a kind of picture it does not read */
    SPI_BROKEN_DATA = 3,      /* broken data, or a picture the data cannot fill or the program
                                 cannot hold */
    SPI_NO_MEMORY = 4,        /* memory could not be had */
    SPI_MEMORY_ERROR = 5,     /* memory could not be locked (not used on Linux) */
    SPI_FILE_READ_ERROR = 6,  /* the file could not be read */
    SPI_INTERNAL_ERROR = 8    /* a fault of the plug-in, or a NULL where a result goes */
};

SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char *buf, int32_t buflen);
SPI_EXPORT int32_t IsSupported(const char *filename, const void *dw);
SPI_EXPORT int32_t GetPictureInfo(const char *buf, int32_t len, uint32_t flag, SpiPictureInfo *lpInfo);
SPI_EXPORT int32_t GetPicture(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                   SpiProgressCallback lpPrgressCallback, intptr_t lData);
SPI_EXPORT int32_t GetPreview(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                   SpiProgressCallback lpPrgressCallback, intptr_t lData);
SPI_EXPORT void SetThreadShare(int32_t threads);

/* Archive plug-ins. */
SPI_EXPORT int32_t GetArchiveInfo(const char *buf, int32_t len, uint32_t flag, void **lphInf);
SPI_EXPORT int32_t GetFileInfo(const char *buf, int32_t len, const char *filename, uint32_t flag, void *lpInfo);
SPI_EXPORT int32_t GetFile(const char *src, int32_t len, char *dest, uint32_t flag, SpiProgressCallback prgressCallback,
                intptr_t lData);
SPI_EXPORT int32_t ConfigurationDlg(void *parent, int32_t fnc);

typedef int32_t (*SpiGetPluginInfo)(int32_t, char *, int32_t);
typedef int32_t (*SpiIsSupported)(const char *, const void *);
typedef int32_t (*SpiGetPictureInfo)(const char *, int32_t, uint32_t, SpiPictureInfo *);
typedef int32_t (*SpiGetPicture)(const char *, int32_t, uint32_t, void **, void **, SpiProgressCallback, intptr_t);
typedef void (*SpiSetThreadShare)(int32_t);

#ifdef __cplusplus
}
#endif

#endif /* NOLVI2_SPI_H */
