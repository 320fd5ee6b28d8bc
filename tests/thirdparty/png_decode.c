/* Decodes a PNG file to 8-bit RGBA with libpng and writes the pixels:
 *
 *   png_decode <in.png> <out.rgba>
 *
 * out.rgba is "<width> <height>\n" followed by width*height*4 bytes. Exit 0
 * on success; 1 with libpng's message on stderr when the file is rejected
 * (libpng reports errors with longjmp, which must work in this build). */
#include <png.h>
#include <stdio.h>
#include <stdlib.h>

static void on_error(png_structp png, png_const_charp msg) {
    fprintf(stderr, "png_decode: %s\n", msg);
    png_longjmp(png, 1);
}

static void on_warning(png_structp png, png_const_charp msg) {
    (void)png;
    fprintf(stderr, "png_decode: warning: %s\n", msg);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: png_decode <in.png> <out.rgba>\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in) {
        perror(argv[1]);
        return 2;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, on_error, on_warning);
    png_infop info = png_create_info_struct(png);
    /* volatile: modified between setjmp and a possible longjmp. */
    png_bytep volatile pixels = NULL;
    png_bytepp volatile rows = NULL;
    if (setjmp(png_jmpbuf(png))) {
        free(pixels);
        free(rows);
        png_destroy_read_struct(&png, &info, NULL);
        fclose(in);
        return 1;
    }
    png_init_io(png, in);
    png_read_info(png, info);

    /* Every colour type and depth becomes 8-bit RGBA. */
    png_set_expand(png);            /* palette -> RGB, low gray -> 8 bit, tRNS -> alpha */
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    size_t stride = png_get_rowbytes(png, info);
    if (stride != (size_t)width * 4)
        png_error(png, "transformed row is not 4 bytes a pixel");
    pixels = malloc(stride * height);
    rows = malloc(sizeof(png_bytep) * height);
    if (!pixels || !rows)
        png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = pixels + y * stride;
    png_read_image(png, rows);
    png_read_end(png, NULL);

    FILE *out = fopen(argv[2], "wb");
    if (!out) {
        perror(argv[2]);
        return 2;
    }
    fprintf(out, "%lu %lu\n", (unsigned long)width, (unsigned long)height);
    fwrite(pixels, 1, stride * height, out);
    fclose(out);
    free(pixels);
    free(rows);
    png_destroy_read_struct(&png, &info, NULL);
    fclose(in);
    return 0;
}
