/* Baselines for the package and File benchmarks, and their data.
 *
 *   kx4bench_package generate <folder>
 *       writes the application folder that the extract benchmark packs:
 *       scripts/moduleNN.js (text that compresses well) and
 *       images/pictureNN.png (PNG files whose pixels are zlib streams
 *       already, so they compress poorly), the same bytes on every run
 *   kx4bench_package extract <packaged.exe> <rounds>
 *       reads every entry of the package the way the runtime does (seek,
 *       read the stream, inflate into a buffer of the entry's size) and,
 *       for the floor, inflates the same streams from memory
 *   kx4bench_package files <folder> <bytes>
 *       writes ascii.bin and random.bin of <bytes> each, the input of the
 *       File.read benchmark
 *   kx4bench_package io <folder> <rounds> <ascii bytes> <random bytes>
 *       fopen+fwrite+fclose and malloc+fopen+fread+fclose+free of those
 *       sizes, the baselines of File.write and File.read
 *
 * Results are medians in ms; lines starting with "@" are for package_run.sh
 * ("@ <key> <value>"), the others for people. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

static double g_ticksPerMs;

static double nowMs(void) {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / g_ticksPerMs;
}

static int byValue(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *values, int n) {
    qsort(values, n, sizeof *values, byValue);
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

static void die(const char *what, const char *detail) {
    fprintf(stderr, "kx4bench_package: %s %s\n", what, detail ? detail : "");
    exit(1);
}

static void *allocate(size_t n) {
    void *p = malloc(n ? n : 1);
    if (!p) die("out of memory", NULL);
    return p;
}

static uint32_t g_seed = 2463534242u;  // xorshift32: the same data every run
static uint32_t next(void) {
    g_seed ^= g_seed << 13, g_seed ^= g_seed >> 17, g_seed ^= g_seed << 5;
    return g_seed;
}

static void writeFile(const char *path, const void *data, size_t n) {
    FILE *f = fopen(path, "wb");
    if (!f || fwrite(data, 1, n, f) != n || fclose(f) != 0) die("cannot write", path);
}

static void printMemory(const char *who) {
    PROCESS_MEMORY_COUNTERS m = {sizeof m};
    GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
    printf("  memory of %s: peak working set %.1f MiB, private %.1f MiB\n", who,
           m.PeakWorkingSetSize / 1048576.0, m.PagefileUsage / 1048576.0);
    printf("@ %s.peak_ws %.1f\n", who, m.PeakWorkingSetSize / 1048576.0);
}

/* ---------------------------------------------------------------- generate */

/* Script-like text: functions, statements and comments built from a small
 * vocabulary, as an application's scripts are. */
static const char *const kWords[] = {
    "device", "status", "battery", "load", "outlet", "shutdown", "event", "timer", "config", "value",
    "serial", "network", "socket", "request", "widget", "window", "table", "entry", "index", "result",
};
enum { kWordCount = sizeof kWords / sizeof *kWords };

static size_t appendf(char *out, size_t at, size_t cap, const char *format, const char *a, const char *b,
                      unsigned n) {
    int k = snprintf(out + at, at < cap ? cap - at : 0, format, a, b, n);
    return at + (k > 0 ? (size_t)k : 0);
}

static void makeScript(char *out, size_t size, size_t cap) {
    size_t at = 0;
    while (at < size) {
        const char *a = kWords[next() % kWordCount], *b = kWords[next() % kWordCount];
        switch (next() % 6) {
        case 0: at = appendf(out, at, cap, "\n// Updates the %s of each %s (%u).\n", a, b, next() % 1000); break;
        case 1: at = appendf(out, at, cap, "function %s_%s(item, limit) {\n    var count = %u;\n", a, b, next() % 100); break;
        case 2: at = appendf(out, at, cap, "    if (item.%s > limit) item.%s = %u;\n", a, b, next() % 5000); break;
        case 3: at = appendf(out, at, cap, "    System.print('%s: ' + %s.length + ' of %u');\n", a, b, next() % 64); break;
        case 4: at = appendf(out, at, cap, "    for (var i = 0; i < %s.%s.length; i++) count += %u;\n", a, b, next() % 9); break;
        default: at = appendf(out, at, cap, "    return {%s: %s, count: count + %u};\n}\n", a, b, next() % 77); break;
        }
    }
}

static void put32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)(v >> 24), p[1] = (uint8_t)(v >> 16), p[2] = (uint8_t)(v >> 8), p[3] = (uint8_t)v;
}

// Appends one PNG chunk (length, type, data, CRC of type and data).
static size_t chunk(uint8_t *out, size_t at, const char *type, const uint8_t *data, uint32_t n) {
    put32(out + at, n);
    memcpy(out + at + 4, type, 4);
    if (n) memcpy(out + at + 8, data, n);
    put32(out + at + 8 + n, (uint32_t)crc32(0, out + at + 4, 4 + n));
    return at + 12 + n;
}

/* A photo-like RGB image (a gradient with noise) as a real PNG file: the
 * pixel rows with filter byte 0, deflated, in one IDAT chunk. */
static size_t makePng(uint8_t **result, uint32_t width, uint32_t height) {
    size_t rowBytes = 1 + (size_t)width * 3, raw = rowBytes * height;
    uint8_t *pixels = allocate(raw);
    for (uint32_t y = 0; y < height; y++) {
        uint8_t *row = pixels + y * rowBytes;
        row[0] = 0;
        for (uint32_t x = 0; x < width * 3; x++) row[1 + x] = (uint8_t)((x / 3 + y) * (x % 3 + 1) + (next() >> 26));
    }
    uLongf packed = compressBound(raw);
    uint8_t *idat = allocate(packed);
    if (compress2(idat, &packed, pixels, raw, 9) != Z_OK) die("compress2 failed", NULL);
    uint8_t *png = allocate(8 + 25 + 12 + packed + 12);
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t ihdr[13];
    put32(ihdr, width);
    put32(ihdr + 4, height);
    ihdr[8] = 8, ihdr[9] = 2, ihdr[10] = ihdr[11] = ihdr[12] = 0;  // 8-bit RGB, no interlace
    memcpy(png, kSignature, 8);
    size_t at = chunk(png, 8, "IHDR", ihdr, 13);
    at = chunk(png, at, "IDAT", idat, (uint32_t)packed);
    at = chunk(png, at, "IEND", NULL, 0);
    free(pixels);
    free(idat);
    *result = png;
    return at;
}

static int generate(const char *folder) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\scripts", folder);
    CreateDirectoryA(folder, NULL);
    CreateDirectoryA(path, NULL);
    snprintf(path, sizeof path, "%s\\images", folder);
    CreateDirectoryA(path, NULL);
    size_t textBytes = 0, imageBytes = 0;
    // 32 scripts of 4 to 100 KB: about 1.6 MB of text.
    // The text is cut at n bytes, after the line that crosses it.
    size_t cap = 128 * 1024;
    char *text = allocate(cap);
    for (int i = 0; i < 32; i++) {
        size_t n = 4096 + next() % (96 * 1024);
        makeScript(text, n, cap);
        snprintf(path, sizeof path, "%s\\scripts\\module%02d.js", folder, i);
        writeFile(path, text, n);
        textBytes += n;
    }
    free(text);
    // 16 images from 48x48 to 400x300 pixels: about 2.4 MB.
    static const uint32_t kSizes[16][2] = {
        {48, 48}, {64, 64}, {96, 96}, {128, 128}, {160, 120}, {200, 150}, {256, 256}, {300, 200},
        {320, 240}, {400, 300}, {32, 32}, {256, 192}, {240, 180}, {400, 300}, {128, 96}, {360, 270}};
    for (int i = 0; i < 16; i++) {
        uint8_t *png;
        size_t n = makePng(&png, kSizes[i][0], kSizes[i][1]);
        snprintf(path, sizeof path, "%s\\images\\picture%02d.png", folder, i);
        writeFile(path, png, n);
        free(png);
        imageBytes += n;
    }
    printf("generated %s: 32 scripts (%.2f MB), 16 PNG images (%.2f MB)\n", folder, textBytes / 1e6,
           imageBytes / 1e6);
    return 0;
}

/* ----------------------------------------------------------------- extract */

typedef struct {
    char name[64];
    uint32_t size, csize;
    int64_t pos;
    int image;
} Entry;

static uint32_t get32(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static void readAt(FILE *f, int64_t pos, void *buffer, size_t n) {
    if (_fseeki64(f, pos, SEEK_SET) != 0 || fread(buffer, 1, n, f) != n) die("cannot read the package", NULL);
}

/* The directory as kx4pack writes it: 'name':{size:N, csize:N, ...}, ... in
 * the order of the streams. Names here are plain ASCII. */
static int readDirectory(FILE *f, Entry *entries, int max) {
    _fseeki64(f, 0, SEEK_END);
    int64_t end = _ftelli64(f);
    uint8_t trailer[8], head[8];
    readAt(f, end - 8, trailer, 8);
    if (get32(trailer) != 0xABCDABCDu) die("no package trailer at the end", NULL);
    int64_t start = end - get32(trailer + 4);
    readAt(f, start, head, 8);
    uLongf c = get32(head), u = get32(head + 4);
    uint8_t *packed = allocate(c);
    char *text = allocate(u + 1);
    readAt(f, start + 8, packed, c);
    if (uncompress((Bytef *)text, &u, packed, c) != Z_OK) die("damaged directory", NULL);
    text[u] = 0;
    int64_t pos = start + 8 + (int64_t)c;
    int count = 0;
    for (char *p = text; (p = strchr(p, '\'')) && count < max;) {
        char *close = strchr(p + 1, '\'');
        if (!close) break;
        Entry *e = &entries[count++];
        snprintf(e->name, sizeof e->name, "%.*s", (int)(close - p - 1), p + 1);
        char *s = strstr(close, "size:"), *cs = strstr(close, "csize:");
        if (!s || !cs) die("unexpected directory text", NULL);
        e->size = (uint32_t)strtoul(s + 5, NULL, 10);
        e->csize = (uint32_t)strtoul(cs + 6, NULL, 10);
        e->pos = pos;
        e->image = strncmp(e->name, "images/", 7) == 0;
        pos += e->csize;
        p = strchr(close, '}');
        if (!p) break;
    }
    free(packed);
    free(text);
    return count;
}

static int extract(const char *exe, int rounds) {
    FILE *f = fopen(exe, "rb");
    if (!f) die("cannot open", exe);
    static Entry entries[1000];
    int count = readDirectory(f, entries, 1000);
    // group 0: scripts, 1: images, 2: everything
    double bytes[3] = {0};
    uint8_t **streams = allocate(count * sizeof *streams);
    for (int i = 0; i < count; i++) {
        bytes[entries[i].image] += entries[i].size;
        streams[i] = allocate(entries[i].csize);
        readAt(f, entries[i].pos, streams[i], entries[i].csize);
    }
    bytes[2] = bytes[0] + bytes[1];
    double *times[2][3];
    for (int m = 0; m < 2; m++)
        for (int g = 0; g < 3; g++) times[m][g] = allocate(rounds * sizeof(double));
    // Method 0: seek, read, inflate (what extract does). 1: inflate only.
    for (int r = -1; r < rounds; r++)  // round -1 warms the caches
        for (int m = 0; m < 2; m++) {
            double groupMs[2] = {0};
            for (int i = 0; i < count; i++) {
                Entry *e = &entries[i];
                double t0 = nowMs();
                uint8_t *in = m == 0 ? allocate(e->csize) : streams[i];
                uint8_t *out = allocate(e->size);
                if (m == 0) readAt(f, e->pos, in, e->csize);
                uLongf n = e->size;
                if (uncompress(out, &n, in, e->csize) != Z_OK || n != e->size) die("damaged entry", e->name);
                free(out);
                if (m == 0) free(in);
                groupMs[e->image] += nowMs() - t0;
            }
            if (r < 0) continue;
            times[m][0][r] = groupMs[0], times[m][1][r] = groupMs[1], times[m][2][r] = groupMs[0] + groupMs[1];
        }
    static const char *const kMethod[2] = {"read", "inflate"}, *const kGroup[3] = {"text", "binary", "all"};
    printf("  C baseline, median of %d rounds over %d entries:\n", rounds, count);
    for (int m = 0; m < 2; m++)
        for (int g = 0; g < 3; g++) {
            double ms = median(times[m][g], rounds), least = times[m][g][0];  // sorted by median()
            printf("    %-28s %-7s %8.2f ms %8.1f MB/s   (min %.2f ms)\n",
                   m ? "uncompress from memory" : "fseek+fread+uncompress", kGroup[g], ms, bytes[g] / 1e3 / ms, least);
            printf("@ c.%s.%s %.4f\n@ c.%s.%s.min %.4f\n", kMethod[m], kGroup[g], ms, kMethod[m], kGroup[g], least);
        }
    for (int g = 0; g < 3; g++) printf("@ bytes.%s %.0f\n", kGroup[g], bytes[g]);
    printMemory("c.extract");
    fclose(f);
    return 0;
}

/* ---------------------------------------------------------------------- io */

static void fill(uint8_t *p, size_t n, int random) {
    for (size_t i = 0; i < n; i++) p[i] = random ? (uint8_t)(next() >> 24) : (uint8_t)(i % 64 == 63 ? '\n' : 'a' + i % 26);
}

static int files(const char *folder, size_t n) {
    uint8_t *data = allocate(n);
    char path[MAX_PATH];
    for (int random = 0; random < 2; random++) {
        fill(data, n, random);
        snprintf(path, sizeof path, "%s\\%s.bin", folder, random ? "random" : "ascii");
        writeFile(path, data, n);
    }
    free(data);
    return 0;
}

static int io(const char *folder, int rounds, size_t asciiBytes, size_t randomBytes) {
    static const char *const kKind[2] = {"ascii", "random"};
    printf("  C baseline, median of %d rounds:\n", rounds);
    for (int random = 0; random < 2; random++) {
        size_t n = random ? randomBytes : asciiBytes;
        uint8_t *data = allocate(n);
        fill(data, n, random);
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\c_%s.bin", folder, kKind[random]);
        double *w = allocate(rounds * sizeof(double)), *rd = allocate(rounds * sizeof(double));
        for (int r = -1; r < rounds; r++) {
            double t0 = nowMs();
            FILE *f = fopen(path, "wb");
            if (!f || fwrite(data, 1, n, f) != n || fclose(f) != 0) die("cannot write", path);
            double t1 = nowMs();
            uint8_t *in = allocate(n);
            f = fopen(path, "rb");
            if (!f || fread(in, 1, n, f) != n) die("cannot read", path);
            fclose(f);
            double t2 = nowMs();
            if (memcmp(in, data, n) != 0) die("read back different bytes from", path);
            free(in);
            if (r >= 0) w[r] = t1 - t0, rd[r] = t2 - t1;
        }
        double wm = median(w, rounds), rm = median(rd, rounds);  // sorts: [0] is the minimum
        printf("    %-6s %5.1f MiB   fwrite %8.2f ms %8.1f MB/s   fread %8.2f ms %8.1f MB/s\n", kKind[random],
               n / 1048576.0, wm, n / 1e3 / wm, rm, n / 1e3 / rm);
        printf("@ c.write.%s %.4f\n@ c.read.%s %.4f\n", kKind[random], wm, kKind[random], rm);
        printf("@ c.write.%s.min %.4f\n@ c.read.%s.min %.4f\n", kKind[random], w[0], kKind[random], rd[0]);
        remove(path);
        free(data);
        free(w);
        free(rd);
    }
    printMemory("c.io");
    return 0;
}

int main(int argc, char **argv) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_ticksPerMs = f.QuadPart / 1000.0;
    if (argc == 3 && !strcmp(argv[1], "generate")) return generate(argv[2]);
    if (argc == 4 && !strcmp(argv[1], "extract")) return extract(argv[2], atoi(argv[3]));
    if (argc == 4 && !strcmp(argv[1], "files")) return files(argv[2], (size_t)atol(argv[3]));
    if (argc == 6 && !strcmp(argv[1], "io"))
        return io(argv[2], atoi(argv[3]), (size_t)atol(argv[4]), (size_t)atol(argv[5]));
    fprintf(stderr, "usage: kx4bench_package generate <folder> | extract <packaged.exe> <rounds> | "
                    "files <folder> <bytes> | io <folder> <rounds> <ascii bytes> <random bytes>\n");
    return 2;
}
