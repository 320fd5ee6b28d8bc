// The PNG reader (libpng, from memory), Widget.loadImage and Widget.loadIcon.
#include <png.h>
#include <setjmp.h>
#include <stdlib.h>
#include <string.h>
#include "widget.h"

namespace widget {

namespace {

// 32-bit pixels, blue-green-red-alpha, top row first, no row padding.
struct DecodedImage {
    unsigned char *pixels = 0;
    int32_t size = 0, width = 0, height = 0;
    DecodedImage() = default;
    DecodedImage(const DecodedImage &) = delete;
    DecodedImage &operator=(const DecodedImage &) = delete;
    ~DecodedImage() { free(pixels); }
};

struct MemoryReader {
    const unsigned char *data;
    size_t length, position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
    MemoryReader *r = (MemoryReader *)png_get_io_ptr(png);
    if (count > r->length - r->position) png_error(png, "read past the end of the data");
    memcpy(out, r->data + r->position, count);
    r->position += count;
}

uint32_t bigEndian32(const unsigned char *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

// Whether the header's size fits the reader: width x 4 x height must be a
// positive 32-bit count. Checked before libpng allocates its rows, so a
// forged header cannot make it reserve gigabytes.
bool headerSizeFits(const unsigned char *data, size_t length) {
    if (length < 24 || memcmp(data + 12, "IHDR", 4) != 0) return true;  // libpng refuses it
    uint64_t width = bigEndian32(data + 16), height = bigEndian32(data + 20);
    return width * 4 * height <= (uint64_t)INT32_MAX;
}

// libpng's longjmp recovery must not skip destructors: this function holds
// only plain values across setjmp, and hands the rows to `out` after the
// last libpng call that can fail.
bool decodeRows(png_structp png, png_infop info, MemoryReader *reader, DecodedImage *out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, reader, readFromMemory);
    png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_BGR, 0);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    int channels = png_get_channels(png, info);
    uint64_t size = (uint64_t)width * 4 * height;
    if (width == 0 || height == 0 || size > (uint64_t)INT32_MAX || channels < 1 || channels > 4) return false;
    png_bytepp rows = png_get_rows(png, info);
    unsigned char *pixels = (unsigned char *)malloc((size_t)size);
    if (!pixels || !rows) {
        free(pixels);
        return false;
    }
    unsigned char *o = pixels;
    for (png_uint_32 y = 0; y < height; ++y) {
        const unsigned char *s = rows[y];
        for (png_uint_32 x = 0; x < width; ++x, s += channels, o += 4) {
            if (channels >= 3) {
                o[0] = s[0], o[1] = s[1], o[2] = s[2];
                o[3] = channels == 4 ? s[3] : 255;
            } else {
                // Grey, with or without alpha: the grey level in all three colours.
                o[0] = o[1] = o[2] = s[0];
                o[3] = channels == 2 ? s[1] : 255;
            }
        }
    }
    out->pixels = pixels;
    out->size = (int32_t)size;
    out->width = (int32_t)width;
    out->height = (int32_t)height;
    return true;
}

// Any failure (not a PNG, corrupt or truncated data, no memory) gives false.
bool readPng(const unsigned char *data, size_t length, DecodedImage *out) {
    if (length < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
    if (!headerSizeFits(data, length)) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, 0, 0, 0);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, 0, 0);
        return false;
    }
    MemoryReader reader = {data, length, 0};
    bool ok = decodeRows(png, info, &reader, out);
    png_destroy_read_struct(&png, &info, 0);
    return ok;
}

// The argument's bytes (one per character) and their count.
const unsigned char *contentArg(JSContext *cx, jsval v, size_t *length) {
    return (const unsigned char *)kx4ValueBytes(api, cx, v, length);
}

}  // namespace

JSBool loadImage(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Widget.loadImage(<imageFileContent>)")) return JS_FALSE;
    size_t length;
    const unsigned char *data = contentArg(cx, argv[0], &length);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    DecodedImage image;
    bool ok;
    {
        Kx4HeapReleased released(api, cx);
        ok = readPng(data, length, &image);
        if (ok) {
            // Premultiplied once here, so that painting is a single AlphaBlend:
            // (v * a) >> 8, as the images have always been made.
            unsigned char *p = image.pixels, *end = p + image.size;
            for (; p < end; p += 4) {
                unsigned a = p[3];
                if (a != 255) {
                    p[0] = (unsigned char)((p[0] * a) >> 8);
                    p[1] = (unsigned char)((p[1] * a) >> 8);
                    p[2] = (unsigned char)((p[2] * a) >> 8);
                }
            }
        }
    }
    if (!ok) return JS_FALSE;
    JSObject *result = api->newObject(cx, 0);
    if (!result) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(result);
    kx4DefineResultNumber(api, cx, result, "imageWidth", image.width);
    kx4DefineResultNumber(api, cx, result, "imageHeight", image.height);
    kx4DefineResult(api, cx, result, "imageContent", api->newStringN(cx, (const char *)image.pixels, (size_t)image.size));
    return JS_TRUE;
}

JSBool loadIcon(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Widget.loadIcon(<imageFileContent>)")) return JS_FALSE;
    size_t length;
    const unsigned char *data = contentArg(cx, argv[0], &length);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    DecodedImage image;
    HICON icon = 0;
    bool ok;
    {
        Kx4HeapReleased released(api, cx);
        ok = readPng(data, length, &image);
        if (ok) {
            // The colours as decoded (not premultiplied); the icon keeps its
            // own copies of both bitmaps.
            HBITMAP colour = CreateBitmap(image.width, image.height, 1, 32, image.pixels);
            HBITMAP mask = CreateBitmap(image.width, image.height, 1, 1, 0);
            ICONINFO ii = {FALSE, 0, 0, mask, colour};
            icon = CreateIconIndirect(&ii);
            if (mask) DeleteObject(mask);
            if (colour) DeleteObject(colour);
        }
    }
    if (!ok) return JS_FALSE;
    JSObject *result = api->newObject(cx, 0);
    if (!result) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(result);
    kx4DefineResultNumber(api, cx, result, "iconWidth", image.width);
    kx4DefineResultNumber(api, cx, result, "iconHeight", image.height);
    kx4DefineResultNumber(api, cx, result, "hIcon", (double)(intptr_t)icon);
    return JS_TRUE;
}

}  // namespace widget
