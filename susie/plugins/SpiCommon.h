/* What every bundled plug-in shares: the texts of GetPluginInfo, the input (a file from an
 * offset, or memory), and the picture handed back as a BITMAPINFO and DIB rows. */
#ifndef NOLVI2_SPI_COMMON_H
#define NOLVI2_SPI_COMMON_H

#include "spi.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* GetPluginInfo over a table of texts (NULL-terminated): text infono copied into buf,
 * truncated to buflen - 1 bytes; 0 when there is no such text or no room. */
int32_t SpiPluginInfo(const char *const *texts, int32_t infono, char *buf, int32_t buflen);

/* Writes a plug-in's About text (GetPluginInfo's text 1) into text, of size bytes
 * (SPI_ABOUT_SIZE); a plug-in's own, so that it can name the library it loaded. */
typedef void (*SpiAboutWriter)(char *text, size_t size);
#define SPI_ABOUT_SIZE 128

/* GetPluginInfo of a picture plug-in: text 0 is "00IN", text 1 the About text, and the
 * following ones the pairs (NULL-terminated) of an extension pattern list and its format
 * name. The About text is written only when asked for. */
int32_t SpiPictureInfoTexts(SpiAboutWriter about, const char *const *pairs, int32_t infono, char *buf, int32_t buflen);

/* The picture data of a call: for flag 0 the file buf read from offset len (into memory the
 * input owns), for flag 1 the memory buf of len bytes (borrowed). */
typedef struct {
    const uint8_t *data;
    size_t size;
    uint8_t *owned; /* freed by SpiInputFree */
} SpiInput;

/* Files larger than this are not read (a picture file of gigabytes is not one). */
#define SPI_INPUT_LIMIT ((size_t)1 << 31)

/* 0 on success; otherwise SPI_FILE_READ_ERROR (no name, or a file that cannot be opened, is
 * not a regular file, is shorter than the offset or larger than SPI_INPUT_LIMIT after it),
 * SPI_NOT_IMPLEMENTED (a flag whose low 3 bits are neither 0 nor 1, or a negative offset), SPI_BROKEN_DATA (a
 * negative size of memory) or SPI_NO_MEMORY. */
int32_t SpiInputOpen(SpiInput *in, const char *buf, int32_t len, uint32_t flag);
void SpiInputFree(SpiInput *in);

/* A decoded picture being packed into the handles of GetPicture. */
typedef struct {
    int32_t width, height;
    int32_t bits;       /* 1, 4, 8 (with a palette), 24, or 32 (BI_CMYK inks) */
    int32_t colors;     /* palette entries for 1/4/8 bits */
    uint8_t *info;      /* BITMAPINFO: header and colour table */
    uint8_t *pixels;    /* rows bottom-up, each stride bytes */
    size_t stride;
} SpiDib;

/* Whether a picture of that size is one the program holds: 1 to 65535 pixels a side, 2^28
 * pixels at most. */
int SpiDibSizeOk(int64_t width, int64_t height);
/* Refuses sizes beyond what the program holds (65535 per side, 2^28 pixels) and allocates
 * both blocks; 0 on success, otherwise (nothing left allocated) SPI_BROKEN_DATA for such a
 * size, SPI_NO_MEMORY, or SPI_INTERNAL_ERROR for a depth other than 1, 4, 8, 24 or 32, a
 * palette missing or of more than 2^bits entries, or 32 bits without a CMYK profile.
 * palette: colors entries of (r, g, b) triples, or NULL for 24 bits. */
int32_t SpiDibCreate(SpiDib *dib, int32_t width, int32_t height, int32_t bits, int32_t colors, const uint8_t *palette);
/* As SpiDibCreate, with the colour profile of size bytes (NULL or 0: none) after the colour
 * table and a BITMAPV5HEADER that points to it (spi.h). 32 bits are BI_CMYK inks and need a
 * CMYK profile. A profile larger than SPI_PROFILE_LIMIT is broken data. */
int32_t SpiDibCreateWithProfile(SpiDib *dib, int32_t width, int32_t height, int32_t bits, int32_t colors,
                                const uint8_t *palette, const uint8_t *profile, size_t size);
#define SPI_PROFILE_LIMIT ((size_t)64 << 20)

/* The colour space of an ICC profile (its header's bytes 16..19) when it is one the DIB can
 * carry: SPI_PROFILE_RGB, SPI_PROFILE_GREY or SPI_PROFILE_CMYK; 0 for anything else,
 * including data too short or too long to be a profile. */
enum { SPI_PROFILE_RGB = 1, SPI_PROFILE_GREY, SPI_PROFILE_CMYK };
int SpiProfileSpace(const uint8_t *profile, size_t size);
/* Row y counted from the top of the picture. */
uint8_t *SpiDibRow(SpiDib *dib, int32_t y);
/* Stores row y (from the top) of a 24-bit DIB from RGB or RGBA samples (alpha dropped). */
void SpiDibPutRGB(SpiDib *dib, int32_t y, const uint8_t *rgb, int channels);
/* Hands both blocks to the caller's handles (the DIB no longer owns them). */
void SpiDibRelease(SpiDib *dib, void **pHBInfo, void **pHBm);
void SpiDibFree(SpiDib *dib);

/* Calls the progress callback when there is one; non-zero when the caller asked to stop. */
int SpiProgress(SpiProgressCallback cb, int32_t num, int32_t denom, intptr_t lData);

/* Whether the input can fill a picture of width x height at all: 0 when inputBytes bytes,
 * decoding to at most `pixels` pixels for every `perBytes` bytes of input, reach the picture's
 * pixel count; SPI_BROKEN_DATA otherwise. Each plug-in asks before it allocates the picture or
 * has its library decode, so that a small file cannot make it allocate what no data fills.
 * The bounds, from what each format's coding can give at best:
 *   GIF          8192 pixels per 3 bytes: an LZW code of w bits (w <= 12) comes at most 2^w
 *                codes after a clear and so gives at most 2^w pixels, at most 4096 pixels
 *                per 12 bits. The whole logical screen counts, the part no frame covers too.
 *   TIFF         stored bytes (width x height x bits a pixel / 8) per input byte: 1 without
 *                compression, 128 for PackBits (2 bytes give a run of 128), 2731 for LZW
 *                (4096 bytes per 12-bit code, as GIF), 1032 for Deflate (258 bytes per
 *                match of at least 2 bits), 65536 for every other compression (CCITT codes an
 *                unchanged row of up to 8 KiB in 1 bit; JPEG, ZSTD, LZMA and the others stay
 *                within it for pictures the program holds).
 *   WebP         2048 pixels per byte for VP8 (a 16 x 16 macroblock's luma and chroma modes
 *                take at least one bit with the key frame's fixed probabilities); VP8L and
 *                animations as the next.
 *   VP8L, HEIF/AVIF, JPEG XL   2^17 pixels per byte: these can code a flat picture in next
 *                to nothing (a VP8L code of one symbol takes no bits), so the bound is a
 *                generous one (2 KiB may hold the largest picture the program takes; tool-made
 *                flat pictures of 4000 x 4000 take 1 to 30 000 pixels a byte), and the
 *                libraries' own limits do the rest. */
int32_t SpiDataCanFill(size_t inputBytes, uint64_t width, uint64_t height, uint64_t pixels, uint64_t perBytes);
#define SPI_PIXELS_PER_BYTE_FLAT ((uint64_t)1 << 17)

/* The threads a plug-in's library may run for one decoding: the share the program gave
 * (SetThreadShare, spi.h), or every processor of the process when it gave none. */
int32_t SpiThreadShare(void);
void SpiStoreThreadShare(int32_t threads);

/* GetPictureInfo's common answer for a picture of that size and depth. */
void SpiFillInfo(SpiPictureInfo *info, int32_t width, int32_t height, int16_t depth);

/* GetPictureInfo and GetPicture over a plug-in's readers, which see the picture data in
 * memory whatever the form of the call. The picture reader creates and fills the DIB; on
 * success its blocks go to the caller's handles, otherwise nothing is left allocated. They
 * return SPI_INTERNAL_ERROR for a NULL lpInfo, pHBInfo or pHBm, SpiInputOpen's result when the
 * input cannot be had, else the reader's. */
typedef int32_t (*SpiInfoReader)(const SpiInput *in, SpiPictureInfo *info);
typedef int32_t (*SpiPictureReader)(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData);
int32_t SpiPictureInfoCall(const char *buf, int32_t len, uint32_t flag, SpiPictureInfo *lpInfo, SpiInfoReader read);
int32_t SpiPictureCall(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm,
                       SpiProgressCallback cb, intptr_t lData, SpiPictureReader read);

/* Whether the data whose first 2048 bytes head points to (IsSupported's dw) is in the
 * plug-in's format; never given NULL. */
typedef int32_t (*SpiSignatureCheck)(const uint8_t *head);

/* SPI_PICTURE_PLUGIN(about, signature, infoReader, pictureReader, pattern, name, ...): every
 * export of a picture plug-in, over its own functions:
 *   GetPluginInfo   "00IN", the text of about (an SpiAboutWriter), then the pairs of an
 *                   extension pattern list and its format name given last
 *                   ("*.tif;*.tiff", "TIFF 画像ファイル", ...);
 *   IsSupported     signature (an SpiSignatureCheck) of the data, 0 without data; the file
 *                   name is not looked at;
 *   GetPictureInfo  infoReader (an SpiInfoReader) over the data in memory;
 *   GetPicture      pictureReader (an SpiPictureReader) into the caller's handles;
 *   GetPreview      SPI_NOT_IMPLEMENTED: no smaller picture to give. */
#define SPI_PICTURE_PLUGIN(about, signature, infoReader, pictureReader, ...)  \
    SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char *buf, int32_t buflen) \
    {                                                                         \
        static const char *const pairs[] = {__VA_ARGS__, NULL};               \
        return SpiPictureInfoTexts(about, pairs, infono, buf, buflen);        \
    }                                                                         \
    SPI_EXPORT int32_t IsSupported(const char *filename, const void *dw)      \
    {                                                                         \
        (void)filename;                                                       \
        return dw ? signature((const uint8_t *)dw) : 0;                       \
    }                                                                         \
    SPI_PICTURE_EXPORTS(infoReader, pictureReader)

/* The part of SPI_PICTURE_PLUGIN that reads pictures: GetPictureInfo and GetPicture over the
 * two readers, and a GetPreview that has no smaller picture to give. */
#define SPI_PICTURE_EXPORTS(infoReader, pictureReader)                                                      \
    SPI_EXPORT int32_t GetPictureInfo(const char *buf, int32_t len, uint32_t flag, SpiPictureInfo *lpInfo)  \
    {                                                                                                       \
        return SpiPictureInfoCall(buf, len, flag, lpInfo, infoReader);                                      \
    }                                                                                                       \
    SPI_EXPORT int32_t GetPicture(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm, \
                                  SpiProgressCallback lpPrgressCallback, intptr_t lData)                    \
    {                                                                                                       \
        return SpiPictureCall(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, pictureReader);      \
    }                                                                                                       \
    SPI_EXPORT int32_t GetPreview(const char *buf, int32_t len, uint32_t flag, void **pHBInfo, void **pHBm, \
                                  SpiProgressCallback lpPrgressCallback, intptr_t lData)                    \
    {                                                                                                       \
        (void)buf, (void)len, (void)flag, (void)pHBInfo, (void)pHBm, (void)lpPrgressCallback, (void)lData;  \
        return SPI_NOT_IMPLEMENTED;                                                                         \
    }

/* SetThreadShare (spi.h) for a plug-in whose library runs threads of its own. */
#define SPI_THREAD_SHARE_EXPORT                     \
    SPI_EXPORT void SetThreadShare(int32_t threads) \
    {                                               \
        SpiStoreThreadShare(threads);               \
    }

/* A number as text, for About texts that name a library's version from its header. */
#define SPI_TEXT(x) SPI_TEXT_(x)
#define SPI_TEXT_(x) #x

#ifdef __cplusplus
}
#endif

#endif
