/* The Widget benchmark's baseline (bench/widget_run.sh): the same work as
 * kx4ui.dll in plain C.
 *
 *   widget_baseline events <n>        n posted mouse moves, each formatted
 *                                     into an event statement by a window
 *                                     procedure, drained by GetMessage
 *   widget_baseline paint <n>         n paints of a 256x256 premultiplied
 *                                     image into a 256x256 child window:
 *                                     BeginPaint, memory DC, CreateBitmap,
 *                                     AlphaBlend, clean-up, EndPaint
 *   widget_baseline decode <n> <png>  n libpng decodes of the file from memory
 *
 * Prints "<mode> <n> <milliseconds>".
 */
#include <windows.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static double now_ms(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return c.QuadPart * 1000.0 / f.QuadPart;
}

static long delivered;
static unsigned char *image;

static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_MOUSEMOVE) {
        char s[256];
        snprintf(s, sizeof s, "Widget.onEvent({hWnd: %ld, msg: 'MOUSE_OVER', x: %ld, y: %ld})", (long)(intptr_t)h,
                 (long)(lp & 0xFFFF), (long)((int)lp >> 16));
        delivered += s[0] != 0;
        return 1;
    }
    if (msg == WM_PAINT && image) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        HDC mem = CreateCompatibleDC(dc);
        HBITMAP bmp = CreateBitmap(256, 256, 1, 32, image);
        HGDIOBJ old = SelectObject(mem, bmp);
        BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        AlphaBlend(dc, 0, 0, 256, 256, mem, 0, 0, 256, 256, bf);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

struct reader { const unsigned char *p; size_t n, pos; };
static void readFn(png_structp png, png_bytep out, png_size_t count) {
    struct reader *r = png_get_io_ptr(png);
    if (count > r->n - r->pos) png_error(png, "short");
    memcpy(out, r->p + r->pos, count);
    r->pos += count;
}

static int decode(const unsigned char *data, size_t n) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, 0, 0, 0);
    png_infop info = png_create_info_struct(png);
    struct reader r = {data, n, 0};
    int ok = 0;
    if (!setjmp(png_jmpbuf(png))) {
        png_set_read_fn(png, &r, readFn);
        png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_BGR, 0);
        ok = png_get_image_width(png, info) > 0;
    }
    png_destroy_read_struct(&png, &info, 0);
    return ok;
}

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    int n = atoi(argv[2]);
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(0);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = L"BenchClass";
    RegisterClassW(&wc);
    double t0, t1;
    if (!strcmp(argv[1], "events")) {
        HWND h = CreateWindowExW(0, L"BenchClass", L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, 0, 0, wc.hInstance, 0);
        MSG m;
        t0 = now_ms();
        for (int done = 0; done < n;) {
            int batch = n - done < 1000 ? n - done : 1000;  /* the queue holds 10000 */
            for (int i = 0; i < batch; i++) PostMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(i & 255, 7));
            for (int i = 0; i < batch; i++) {
                GetMessageW(&m, 0, 0, 0);
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
            done += batch;
        }
        t1 = now_ms();
        if (delivered != n) fprintf(stderr, "delivered %ld of %d\n", delivered, n);
    } else if (!strcmp(argv[1], "paint")) {
        image = malloc(256 * 256 * 4);
        for (int i = 0; i < 256 * 256 * 4; i++) image[i] = (unsigned char)((i % 4 == 3) ? 200 : (i * 7) % 200);
        HWND top = CreateWindowExW(0, L"BenchClass", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 400, 0, 0, wc.hInstance, 0);
        HWND h = CreateWindowExW(0, L"BenchClass", L"", WS_CHILD | WS_VISIBLE, 0, 0, 256, 256, top, 0, wc.hInstance, 0);
        UpdateWindow(top);
        t0 = now_ms();
        for (int i = 0; i < n; i++) {
            InvalidateRect(h, 0, FALSE);
            UpdateWindow(h);
        }
        t1 = now_ms();
    } else if (!strcmp(argv[1], "decode") && argc > 3) {
        FILE *f = fopen(argv[3], "rb");
        if (!f) return 3;
        fseek(f, 0, SEEK_END);
        long size = ftell(f);
        fseek(f, 0, SEEK_SET);
        unsigned char *data = malloc(size);
        fread(data, 1, size, f);
        fclose(f);
        t0 = now_ms();
        for (int i = 0; i < n; i++)
            if (!decode(data, size)) return 4;
        t1 = now_ms();
    } else {
        return 2;
    }
    printf("%s %d %.1f\n", argv[1], n, t1 - t0);
    return 0;
}
