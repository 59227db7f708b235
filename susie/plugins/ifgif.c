/* The GIF plug-in (giflib): the first frame of a file, placed on the logical screen and cut at
 * its edges, as a palette picture of 1, 4 or 8 bits with the frame's colour table. The screen
 * around the frame takes the background colour; the transparent index keeps its table
 * colour. */
#include "SpiCommon.h"

#include <gif_lib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void About(char *text, size_t size)
{
    snprintf(text, size, "%s", "nolvi2 GIF plug-in (giflib " SPI_TEXT(GIFLIB_MAJOR) "." SPI_TEXT(GIFLIB_MINOR) ")");
}

static int32_t IsGif(const uint8_t *head)
{
    return memcmp(head, GIF87_STAMP, 6) == 0 || memcmp(head, GIF89_STAMP, 6) == 0;
}

typedef struct {
    const uint8_t *data;
    size_t size, pos;
} Reader;

static int Read(GifFileType *gif, GifByteType *dest, int count)
{
    Reader *r = (Reader *)gif->UserData;
    if (count <= 0)
        return 0;
    size_t n = r->size - r->pos;
    if (n > (size_t)count)
        n = (size_t)count;
    memcpy(dest, r->data + r->pos, n);
    r->pos += n;
    return (int)n;
}

/* The file read up to its first frame's descriptor (its local colour table included). */
static int32_t OpenFirstFrame(const SpiInput *in, Reader *reader, GifFileType **out)
{
    *out = NULL;
    reader->data = in->data;
    reader->size = in->size;
    reader->pos = 0;
    if (in->size < 6 || !IsGif(in->data))
        return SPI_UNKNOWN_FORMAT;
    int error = 0;
    GifFileType *gif = DGifOpen(reader, Read, &error);
    if (!gif)
        return error == D_GIF_ERR_NOT_ENOUGH_MEM ? SPI_NO_MEMORY : SPI_BROKEN_DATA;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            break;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR)
                break;
            *out = gif;
            return SPI_SUCCESS;
        }
        if (type != EXTENSION_RECORD_TYPE)
            break; /* the trailer before any frame */
        int code;
        GifByteType *block;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            break;
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                goto broken;
    }
broken:;
    const int32_t rc = gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM ? SPI_NO_MEMORY : SPI_BROKEN_DATA;
    DGifCloseFile(gif, &error);
    return rc;
}

/* The picture is the logical screen; a side given as 0 (as some writers do) takes the first
 * frame's extent. A frame reaching beyond the screen is cut at its edge. */
static void CanvasSize(const GifFileType *gif, int32_t *width, int32_t *height)
{
    const GifImageDesc *f = &gif->Image;
    const int64_t right = (int64_t)f->Left + f->Width, bottom = (int64_t)f->Top + f->Height;
    const int64_t w = gif->SWidth > 0 ? gif->SWidth : right;
    const int64_t h = gif->SHeight > 0 ? gif->SHeight : bottom;
    *width = w > INT32_MAX ? INT32_MAX : (int32_t)w;
    *height = h > INT32_MAX ? INT32_MAX : (int32_t)h;
}

static int32_t BitsFor(int32_t colors)
{
    return colors <= 2 ? 1 : colors <= 16 ? 4 : 8;
}

static const ColorMapObject *FrameColors(const GifFileType *gif)
{
    const ColorMapObject *map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
    return map && map->Colors && map->ColorCount > 0 && map->ColorCount <= 256 ? map : NULL;
}

/* The frame's rows in picture order: interlaced files send every 8th row from row 0, then
 * every 8th from row 4, every 4th from row 2 and every 2nd from row 1. Each row of width
 * indices is read into line; its first visibleWidth go to frame for the first visibleHeight
 * rows (the part of the frame on the screen). */
static int32_t ReadFrame(GifFileType *gif, uint8_t *frame, uint8_t *line, int32_t width, int32_t height,
                         int32_t visibleWidth, int32_t visibleHeight, SpiProgressCallback cb, intptr_t lData)
{
    static const int32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    const int passes = gif->Image.Interlace ? 4 : 1;
    int32_t done = 0;
    if (SpiProgress(cb, 0, height, lData))
        return SPI_ABORTED;
    for (int pass = 0; pass < passes; ++pass) {
        const int32_t first = passes == 1 ? 0 : start[pass], by = passes == 1 ? 1 : step[pass];
        for (int32_t y = first; y < height; y += by) {
            if (DGifGetLine(gif, line, width) == GIF_ERROR)
                return gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM ? SPI_NO_MEMORY : SPI_BROKEN_DATA;
            if (y < visibleHeight)
                memcpy(frame + (size_t)y * (size_t)visibleWidth, line, (size_t)visibleWidth);
            if (SpiProgress(cb, ++done, height, lData))
                return SPI_ABORTED;
        }
    }
    return SPI_SUCCESS;
}

/* The index of colour c in the table, added at its end when it is not there and there is
 * room, else the nearest one. */
static int32_t IndexOf(uint8_t *palette, int32_t *colors, const GifColorType *c)
{
    int32_t best = 0, bestDistance = INT32_MAX;
    for (int32_t i = 0; i < *colors; ++i) {
        const int32_t dr = palette[3 * i] - c->Red, dg = palette[3 * i + 1] - c->Green, db = palette[3 * i + 2] - c->Blue;
        const int32_t d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    if (bestDistance == 0 || *colors == 256)
        return best;
    palette[3 * *colors] = c->Red;
    palette[3 * *colors + 1] = c->Green;
    palette[3 * *colors + 2] = c->Blue;
    return (*colors)++;
}

/* The first frame read and what the DIB is made of: the screen's size, the part of the frame
 * on it, its table (with the background's colour added where needed) and the depth. Both
 * GetPictureInfo and GetPicture take the depth from here, so that they agree. */
typedef struct {
    int32_t width, height; /* the screen */
    int32_t fw, fh;        /* the part of the frame on the screen, from its top left corner */
    uint8_t *frame;        /* fw x fh indices, or NULL for a frame of no pixels */
    uint8_t palette[3 * 256];
    int32_t colors, bits, background;
    int covered; /* the frame covers the whole screen */
} Layout;

static int32_t Prepare(GifFileType *gif, size_t inputBytes, Layout *l, SpiProgressCallback cb, intptr_t lData)
{
    memset(l, 0, sizeof *l);
    CanvasSize(gif, &l->width, &l->height);
    if (!SpiDibSizeOk(l->width, l->height))
        return SPI_BROKEN_DATA;
    /* LZW gives at most 4096 pixels per 12-bit code; the whole screen has to be paid for. */
    if (SpiDataCanFill(inputBytes, (uint64_t)l->width, (uint64_t)l->height, 8192, 3) != SPI_SUCCESS)
        return SPI_BROKEN_DATA;
    const GifImageDesc *f = &gif->Image;
    if (f->Width < 0 || f->Height < 0 || f->Left < 0 || f->Top < 0 ||
        SpiDataCanFill(inputBytes, (uint64_t)f->Width, (uint64_t)f->Height, 8192, 3) != SPI_SUCCESS)
        return SPI_BROKEN_DATA;
    const int32_t width = l->width, height = l->height;
    const int32_t fw = f->Left >= width ? 0 : f->Width < width - f->Left ? f->Width : width - f->Left;
    const int32_t fh = f->Top >= height ? 0 : f->Height < height - f->Top ? f->Height : height - f->Top;
    l->fw = fw;
    l->fh = fh;

    if (f->Width > 0 && f->Height > 0) {
        l->frame = (uint8_t *)malloc(fw > 0 && fh > 0 ? (size_t)fw * (size_t)fh : 1);
        uint8_t *line = (uint8_t *)malloc((size_t)f->Width);
        const int32_t rc = l->frame && line ? ReadFrame(gif, l->frame, line, f->Width, f->Height, fw, fh, cb, lData)
                                            : SPI_NO_MEMORY;
        free(line);
        if (rc != SPI_SUCCESS) {
            free(l->frame);
            l->frame = NULL;
            return rc;
        }
    }

    /* The frame's table, and black for any index beyond it that a broken file uses. */
    uint8_t *palette = l->palette;
    int32_t colors = 0;
    const ColorMapObject *map = FrameColors(gif);
    if (map) {
        colors = map->ColorCount;
        for (int32_t i = 0; i < colors; ++i) {
            palette[3 * i] = map->Colors[i].Red;
            palette[3 * i + 1] = map->Colors[i].Green;
            palette[3 * i + 2] = map->Colors[i].Blue;
        }
    } else {
        /* No table at all: the indices as grey levels. */
        colors = 256;
        for (int32_t i = 0; i < 256; ++i)
            palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = (uint8_t)i;
    }
    int32_t used = 0;
    for (size_t i = 0, n = l->frame ? (size_t)fw * (size_t)fh : 0; i < n; ++i)
        if (l->frame[i] >= used)
            used = l->frame[i] + 1;

    /* The background index belongs to the global table; with a local one, the background
     * colour is looked up in (or added to) the frame's table. */
    l->covered = f->Left == 0 && f->Top == 0 && fw == width && fh == height;
    if (!l->covered) {
        int32_t background = gif->SBackGroundColor & 0xFF;
        const ColorMapObject *global = gif->SColorMap;
        if (map && map != global && global && global->Colors && background < global->ColorCount)
            background = IndexOf(palette, &colors, &global->Colors[background]);
        if (background >= used)
            used = background + 1;
        l->background = background;
    }
    if (used > colors)
        colors = used;
    l->colors = colors;
    l->bits = BitsFor(colors);
    return SPI_SUCCESS;
}

/* The frame on the screen, the rest in the background index. */
static void Put(const GifFileType *gif, const Layout *l, SpiDib *dib)
{
    const GifImageDesc *f = &gif->Image;
    const int32_t bits = l->bits, perByte = 8 / bits, background = l->background;
    const uint8_t fill = bits == 8 ? (uint8_t)background : bits == 4 ? (uint8_t)(background * 0x11) : (uint8_t)(background ? 0xFF : 0);
    for (int32_t y = 0; y < l->height; ++y) {
        uint8_t *row = SpiDibRow(dib, y);
        const int inFrame = l->frame && y >= f->Top && y - f->Top < l->fh;
        if (!inFrame || !l->covered)
            memset(row, fill, dib->stride);
        if (!inFrame)
            continue;
        const uint8_t *src = l->frame + (size_t)(y - f->Top) * (size_t)l->fw;
        if (bits == 8) {
            memcpy(row + f->Left, src, (size_t)l->fw);
            continue;
        }
        for (int32_t i = 0; i < l->fw; ++i) {
            const int32_t x = f->Left + i;
            const int shift = 8 - bits * (x % perByte + 1);
            uint8_t *d = row + x / perByte;
            *d = (uint8_t)((*d & ~(((1 << bits) - 1) << shift)) | (src[i] << shift));
        }
    }
}

/* The first frame laid out, and with dib also put into a DIB made for it; GetPictureInfo
 * reads the frame as GetPicture does, as the depth depends on the indices used. */
static int32_t ReadLayout(const SpiInput *in, Layout *l, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    Reader reader;
    GifFileType *gif;
    int32_t rc = OpenFirstFrame(in, &reader, &gif);
    if (rc != SPI_SUCCESS)
        return rc;
    rc = Prepare(gif, in->size, l, cb, lData);
    if (rc == SPI_SUCCESS && dib && (rc = SpiDibCreate(dib, l->width, l->height, l->bits, l->colors, l->palette)) == SPI_SUCCESS)
        Put(gif, l, dib);
    free(l->frame);
    l->frame = NULL;
    int error;
    DGifCloseFile(gif, &error);
    return rc;
}

static int32_t ReadInfo(const SpiInput *in, SpiPictureInfo *info)
{
    Layout l;
    const int32_t rc = ReadLayout(in, &l, NULL, NULL, 0);
    if (rc == SPI_SUCCESS)
        SpiFillInfo(info, l.width, l.height, (int16_t)l.bits);
    return rc;
}

static int32_t ReadPicture(const SpiInput *in, SpiDib *dib, SpiProgressCallback cb, intptr_t lData)
{
    Layout l;
    return ReadLayout(in, &l, dib, cb, lData);
}

SPI_PICTURE_PLUGIN(About, IsGif, ReadInfo, ReadPicture, "*.gif", "GIF 画像ファイル")
