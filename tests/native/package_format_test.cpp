// The package reader trusts nothing in the file: the trailer search keeps to
// its window, every length and offset is checked before use, and a stream
// counts only when it inflates to exactly the size the package states.
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "package_format.h"

using namespace kx4;

typedef std::vector<uint8_t> Bytes;

// A file held in memory. Reads past the end come back short, as from a
// stdio stream; a read at a negative offset is remembered, since the host's
// seek would fail on it.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(const Bytes &bytes) : bytes_(bytes) {}
    int64_t size() override { return static_cast<int64_t>(bytes_.size()); }
    size_t readAt(int64_t offset, void *buffer, size_t count) override {
        if (offset < 0) {
            negativeRead = true;
            return 0;
        }
        if (offset >= size()) return 0;
        size_t n = std::min(count, bytes_.size() - static_cast<size_t>(offset));
        memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }
    bool negativeRead = false;

private:
    const Bytes &bytes_;
};

static Bytes zlibStream(const std::string &text, int level = Z_DEFAULT_COMPRESSION) {
    uLongf n = compressBound(text.size());
    Bytes out(n);
    CHECK(compress2(out.data(), &n, reinterpret_cast<const Bytef *>(text.data()), text.size(), level) == Z_OK);
    out.resize(n);
    return out;
}

static void put32(Bytes &b, uint32_t v) {
    const uint8_t be[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    b.insert(b.end(), be, be + 4);
}

static void set32(Bytes &b, int64_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

static void append(Bytes &b, const Bytes &more) { b.insert(b.end(), more.begin(), more.end()); }

static const uint8_t kMagicBytes[4] = {0xAB, 0xCD, 0xAB, 0xCD};

// A packaged executable as the application's writer lays it out, with the
// offsets that the reader must find.
struct Package {
    Bytes file;
    int64_t start = 0;         // P
    int64_t magicOffset = 0;   // T
    uint32_t length = 0;       // L
    uint32_t dirCompressed = 0;  // C
    uint32_t dirSize = 0;        // U
    int64_t entriesStart = 0;
    std::string directory;
    std::vector<std::string> contents;
    std::vector<int64_t> pos, csize;
};

struct Layout {
    size_t image = 64;                  // program image bytes before the package
    std::vector<std::string> contents;  // one entry each, named e0, e1, ...
    size_t trailing = 0;                // bytes after the trailer
    const char *directory = nullptr;    // the directory text, else generated
};

static Package build(const Layout &layout) {
    Package p;
    p.contents = layout.contents;
    std::vector<Bytes> streams;
    std::string dir = "({";
    for (size_t i = 0; i < layout.contents.size(); i++) {
        streams.push_back(zlibStream(layout.contents[i]));
        dir += (i ? ", 'e" : "'e") + std::to_string(i) + "':{size:" + std::to_string(layout.contents[i].size()) +
               ", csize:" + std::to_string(streams[i].size()) + ", time:1393495163000, module:\"app\"}";
    }
    dir += "})";
    p.directory = layout.directory ? layout.directory : dir;
    Bytes dirStream = zlibStream(p.directory);

    // The image never holds the magic: 0x78 ('x') everywhere.
    p.file.assign(layout.image, 0x78);
    p.start = static_cast<int64_t>(layout.image);
    p.dirCompressed = static_cast<uint32_t>(dirStream.size());
    p.dirSize = static_cast<uint32_t>(p.directory.size());
    put32(p.file, p.dirCompressed);
    put32(p.file, p.dirSize);
    append(p.file, dirStream);
    p.entriesStart = static_cast<int64_t>(p.file.size());
    for (const Bytes &s : streams) {
        p.pos.push_back(static_cast<int64_t>(p.file.size()));
        p.csize.push_back(static_cast<int64_t>(s.size()));
        append(p.file, s);
    }
    p.magicOffset = static_cast<int64_t>(p.file.size());
    p.file.insert(p.file.end(), kMagicBytes, kMagicBytes + 4);
    p.length = static_cast<uint32_t>(p.file.size() + 4 - layout.image);
    put32(p.file, p.length);
    p.file.resize(p.file.size() + layout.trailing, 0);
    return p;
}

static const std::vector<std::string> &sampleContents() {
    static std::vector<std::string> contents;
    if (contents.empty()) {
        contents.push_back("System.print('autorun');\n");
        std::string all;
        for (int i = 0; i < 256; i++) all += static_cast<char>(i);
        contents.push_back(all);
        std::mt19937 rng(11);
        std::string noise(3000, '\0');  // incompressible: csize > size
        for (char &c : noise) c = static_cast<char>(rng());
        contents.push_back(noise);
    }
    return contents;
}

// ---------------------------------------------------------------- trailer

static void trailerAfterTrailingBytes() {
    // The magic must lie wholly inside the last 10000 bytes: after 9992 extra
    // bytes it starts at the window's first byte, after 9993 one before it.
    const size_t found[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 4096, 9991, 9992};
    const size_t lost[] = {9993, 9994, 9995, 9996, 9997, 9999, 10000, 12000};
    for (int want = 1; want >= 0; want--) {
        const size_t *ks = want ? found : lost;
        size_t n = want ? sizeof found / sizeof *found : sizeof lost / sizeof *lost;
        for (size_t i = 0; i < n; i++) {
            Layout layout;
            layout.image = 12000;  // the file is always longer than the window
            layout.contents = {"a"};
            layout.trailing = ks[i];
            Package p = build(layout);
            MemorySource src(p.file);
            PackageTrailer t;
            bool got = findPackageTrailer(src, &t);
            CHECK_MSG(got == (want == 1), "%zu trailing bytes: found %d", ks[i], got);
            if (got && want) {
                CHECK_MSG(t.magicOffset == p.magicOffset && t.length == p.length && t.start == p.start,
                          "%zu trailing bytes: T %lld L %u P %lld", ks[i], (long long)t.magicOffset, t.length,
                          (long long)t.start);
            }
        }
    }
}

struct Crafted {
    Bytes file;
    bool found;
    int64_t magicOffset;
    uint32_t length;
};

static Bytes filled(size_t n, uint8_t b = 0x78) { return Bytes(n, b); }

static void putMagic(Bytes &b, size_t at, uint32_t length) {
    memcpy(&b[at], kMagicBytes, 4);
    if (at + 8 <= b.size()) set32(b, at + 4, length);
}

static void trailerSearch() {
    struct Case {
        const char *name;
        std::function<Crafted()> make;
    };
    const Case cases[] = {
        {"empty file", [] { return Crafted{{}, false, 0, 0}; }},
        {"seven bytes", [] { return Crafted{{0xAB, 0xCD, 0xAB, 0xCD, 0, 0, 7}, false, 0, 0}; }},
        {"a lone trailer is found (its length is checked later)",
         [] { return Crafted{{0xAB, 0xCD, 0xAB, 0xCD, 0, 0, 0, 8}, true, 0, 8}; }},
        {"no magic anywhere", [] { return Crafted{filled(20000), false, 0, 0}; }},
        {"short file: a package followed by one byte is not searched for",
         [] {
             Layout l;
             l.contents = {"x"};
             l.trailing = 1;
             return Crafted{build(l).file, false, 0, 0};
         }},
        {"9999 bytes: trailer followed by one byte is not searched for",
         [] {
             Bytes b = filled(9999);
             putMagic(b, 9990, 500);
             return Crafted{b, false, 0, 0};
         }},
        {"10000 bytes: trailer followed by one byte is found",
         [] {
             Bytes b = filled(10000);
             putMagic(b, 9991, 500);
             return Crafted{b, true, 9991, 500};
         }},
        {"10000 bytes: magic at the window's first byte",
         [] {
             Bytes b = filled(10000);
             putMagic(b, 0, 16);
             return Crafted{b, true, 0, 16};
         }},
        {"magic straddling the window's start",
         [] {
             Bytes b = filled(20000);
             putMagic(b, 9999, 16);
             return Crafted{b, false, 0, 0};
         }},
        {"magic in the last 4 bytes: no room for its length",
         [] {
             Bytes b = filled(20000);
             putMagic(b, 19996, 0);
             return Crafted{b, false, 0, 0};
         }},
        {"magic in the last 7 bytes: its length cut short",
         [] {
             Bytes b = filled(20000);
             putMagic(b, 19993, 0);
             return Crafted{b, false, 0, 0};
         }},
        {"the first magic in the window wins over a later one",
         [] {
             Bytes b = filled(20000);
             putMagic(b, 15000, 1111);
             putMagic(b, 19000, 2222);
             return Crafted{b, true, 15000, 1111};
         }},
        {"the first of overlapping magics (AB CD AB CD AB CD)",
         [] {
             Bytes b = filled(20000);
             const uint8_t run[] = {0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD, 0x00, 0x10};
             memcpy(&b[18000], run, sizeof run);
             return Crafted{b, true, 18000, 0xABCD0010u};
         }},
        {"a trailer ending the file wins over an earlier magic",
         [] {
             Bytes b = filled(20000);
             putMagic(b, 15000, 1111);
             putMagic(b, 19992, 2222);
             return Crafted{b, true, 19992, 2222};
         }},
        {"a stray magic before a trailer followed by bytes wins",
         [] {
             Layout l;
             l.image = 12000;
             l.contents = {"abc"};
             l.trailing = 10;
             Package p = build(l);
             putMagic(p.file, 11000, 3333);
             return Crafted{p.file, true, 11000, 3333};
         }},
        {"extra bytes holding another trailer after the real one",
         [] {
             Layout l;
             l.image = 12000;
             l.contents = {"abc"};
             l.trailing = 40;
             Package p = build(l);
             putMagic(p.file, p.file.size() - 20, 4444);
             return Crafted{p.file, true, p.magicOffset, p.length};
         }},
    };
    for (const Case &c : cases) {
        Crafted want = c.make();
        MemorySource src(want.file);
        PackageTrailer t;
        bool got = findPackageTrailer(src, &t);
        CHECK_MSG(got == want.found, "%s: found %d", c.name, got);
        CHECK_MSG(!src.negativeRead, "%s: read at a negative offset", c.name);
        if (got && want.found) {
            CHECK_MSG(t.magicOffset == want.magicOffset && t.length == want.length &&
                          t.start == want.magicOffset + 8 - (int64_t)want.length,
                      "%s: T %lld L %u P %lld", c.name, (long long)t.magicOffset, t.length, (long long)t.start);
        }
    }
}

// A file of any claimed size whose last 8 bytes are a trailer; the rest
// reads as zeros. Stands in for files too large to build.
class LargeSource : public ByteSource {
public:
    explicit LargeSource(int64_t size) : size_(size) {}
    int64_t size() override { return size_; }
    size_t readAt(int64_t offset, void *buffer, size_t count) override {
        uint8_t *out = static_cast<uint8_t *>(buffer);
        size_t n = 0;
        for (; n < count && offset + (int64_t)n < size_; n++) {
            int64_t fromEnd = size_ - (offset + (int64_t)n);
            out[n] = fromEnd > 8 ? 0 : fromEnd > 4 ? kMagicBytes[8 - fromEnd] : fromEnd == 1 ? 16 : 0;
        }
        return n;
    }

private:
    int64_t size_;
};

// Offsets are signed 32-bit in the reader: a larger file is not read at all,
// nor is one whose size cannot be told.
static void trailerFileLimits() {
    const struct {
        int64_t size;
        bool found;
    } cases[] = {{0x7FFFFFFF, true}, {0x80000000LL, false}, {0x100000010LL, false}, {-1, false}};
    for (const auto &c : cases) {
        LargeSource src(c.size);
        PackageTrailer t;
        bool got = findPackageTrailer(src, &t);
        CHECK_MSG(got == c.found, "file of %lld bytes: found %d", (long long)c.size, got);
        if (got) CHECK(t.magicOffset == c.size - 8 && t.length == 16 && t.start == c.size - 16);
    }
}

// -------------------------------------------------------------- directory

static void directory() {
    struct Case {
        const char *name;
        Layout layout;
        std::function<void(Package &, size_t &maxSize)> damage;  // may be empty
        bool ok;
    };
    const auto entries = sampleContents();
    const Case cases[] = {
        {"intact, three entries", {64, entries}, nullptr, true},
        {"intact, package at file offset 0", {0, entries}, nullptr, true},
        // With no entries the directory stream runs right up to the magic.
        {"no entries: '({})'", {64, {}, 0, "({})"}, nullptr, true},
        {"no entries: empty text (U = 0, a stream of \"\")", {64, {}, 0, ""}, nullptr, true},
        {"a long directory", {64, std::vector<std::string>(300, "s")}, nullptr, true},
        {"U equal to maxSize", {64, entries}, [](Package &p, size_t &m) { m = p.dirSize; }, true},
        {"U above maxSize", {64, entries}, [](Package &p, size_t &m) { m = p.dirSize - 1; }, false},
        {"L bigger than the file",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, uint32_t(p.file.size() + 1)); },
         false},
        {"L one past the file's start (P = -1)",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, uint32_t(p.magicOffset + 9)); },
         false},
        {"L = 0xFFFFFFFF",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, 0xFFFFFFFFu); },
         false},
        {"L pointing into the program image",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, p.length + 16); },
         false},
        {"L = 15", {64, entries}, [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, 15); }, false},
        {"L = 8", {64, entries}, [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, 8); }, false},
        {"L = 0", {64, entries}, [](Package &p, size_t &) { set32(p.file, p.magicOffset + 4, 0); }, false},
        {"L = 16: sizes and trailer only, no stream",
         {64, {}, 0, ""},
         [](Package &p, size_t &) {
             Bytes b = filled(64);
             put32(b, 0);
             put32(b, 0);
             b.insert(b.end(), kMagicBytes, kMagicBytes + 4);
             put32(b, 16);
             p.file = b;
         },
         false},
        {"C running one byte past the magic",
         {64, {}},
         [](Package &p, size_t &) { set32(p.file, p.start, uint32_t(p.magicOffset - p.start - 8 + 1)); },
         false},
        {"C = 0xFFFFFFFF", {64, entries}, [](Package &p, size_t &) { set32(p.file, p.start, 0xFFFFFFFFu); }, false},
        {"C = 0", {64, entries}, [](Package &p, size_t &) { set32(p.file, p.start, 0); }, false},
        {"U one more than the inflated size",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.start + 4, p.dirSize + 1); },
         false},
        {"U one less than the inflated size",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.start + 4, p.dirSize - 1); },
         false},
        {"U = 0 for a nonempty directory",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.start + 4, 0); },
         false},
        {"directory not a zlib stream",
         {64, entries},
         [](Package &p, size_t &) { memset(&p.file[p.start + 8], 0x5A, p.dirCompressed); },
         false},
        {"directory stream without its last checksum byte (C - 1)",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.start, p.dirCompressed - 1); },
         false},
        {"directory stream cut to its header (C = 2)",
         {64, entries},
         [](Package &p, size_t &) { set32(p.file, p.start, 2); },
         false},
        {"directory stream with a wrong checksum",
         {64, entries},
         [](Package &p, size_t &) { p.file[p.start + 8 + p.dirCompressed - 1] ^= 1; },
         false},
    };
    for (const Case &c : cases) {
        Package p = build(c.layout);
        size_t maxSize = 1 << 20;
        if (c.damage) c.damage(p, maxSize);
        MemorySource src(p.file);
        PackageTrailer t;
        if (!findPackageTrailer(src, &t)) {
            CHECK_MSG(false, "%s: trailer not found", c.name);
            continue;
        }
        PackageDirectory d;
        std::string reason;
        DirectoryStatus status = readPackageDirectory(src, t, maxSize, &d, &reason);
        CHECK_MSG(!src.negativeRead, "%s: read at a negative offset", c.name);
        if (c.ok) {
            CHECK_MSG(status == DirectoryStatus::ok, "%s: %s", c.name, reason.c_str());
            if (status != DirectoryStatus::ok) continue;
            CHECK_MSG(d.text == p.directory, "%s: text differs", c.name);
            CHECK_MSG(d.compressedSize == p.dirCompressed && d.size == p.dirSize, "%s: C %u U %u", c.name,
                      d.compressedSize, d.size);
            // The first entry starts right after the directory stream.
            CHECK_MSG(d.entriesStart == t.start + 8 + d.compressedSize && d.entriesStart == p.entriesStart,
                      "%s: entries start at %lld", c.name, (long long)d.entriesStart);
        } else {
            CHECK_MSG(status == DirectoryStatus::damaged, "%s: status %d", c.name, (int)status);
            CHECK_MSG(!reason.empty(), "%s: no reason given", c.name);
        }
    }
}

// Bytes after the directory's stream end but inside C are skipped, like any
// bytes after a stream's end (see inflateExactlyCases): the entries still
// start at P + 8 + C.
static void directoryWithSlack() {
    Layout layout{64, sampleContents()};
    Package p = build(layout);
    Bytes slack = {1, 2, 3};
    p.file.insert(p.file.begin() + p.start + 8 + p.dirCompressed, slack.begin(), slack.end());
    set32(p.file, p.start, p.dirCompressed + 3);
    set32(p.file, p.file.size() - 4, p.length + 3);
    MemorySource src(p.file);
    PackageTrailer t;
    PackageDirectory d;
    std::string reason;
    CHECK(findPackageTrailer(src, &t));
    CHECK(readPackageDirectory(src, t, 1 << 20, &d, &reason) == DirectoryStatus::ok);
    CHECK(d.text == p.directory);
    CHECK(d.entriesStart == p.entriesStart + 3);
}

// A disk error: reads reaching into [from, to) stop short at from, though
// the size said more. The reader gives up cleanly.
class FailingSource : public MemorySource {
public:
    FailingSource(const Bytes &bytes, int64_t from, int64_t to) : MemorySource(bytes), from_(from), to_(to) {}
    size_t readAt(int64_t offset, void *buffer, size_t count) override {
        if (offset >= from_ && offset < to_) return 0;
        if (offset < from_) count = std::min<size_t>(count, from_ - offset);
        return MemorySource::readAt(offset, buffer, count);
    }

private:
    int64_t from_, to_;
};

static void failingReads() {
    Layout layout{64, sampleContents()};
    Package p = build(layout);
    struct Case {
        const char *name;
        int64_t from, to;
        bool trailer, directory;
    };
    const Case cases[] = {
        {"the magic unreadable", p.magicOffset, p.magicOffset + 4, false, false},
        {"the package length unreadable", p.magicOffset + 4, p.magicOffset + 8, false, false},
        {"the directory sizes unreadable", p.start + 2, p.start + 8, true, false},
        {"the directory stream's last byte unreadable", p.entriesStart - 1, p.entriesStart, true, false},
        {"only the entries unreadable", p.entriesStart, p.magicOffset, true, true},
    };
    for (const Case &c : cases) {
        FailingSource src(p.file, c.from, c.to);
        PackageTrailer t;
        bool found = findPackageTrailer(src, &t);
        CHECK_MSG(found == c.trailer, "%s: trailer found %d", c.name, found);
        if (!found) continue;
        PackageDirectory d;
        std::string reason;
        DirectoryStatus status = readPackageDirectory(src, t, 1 << 20, &d, &reason);
        CHECK_MSG((status == DirectoryStatus::ok) == c.directory, "%s: status %d", c.name, (int)status);
        CHECK_MSG(status == DirectoryStatus::ok || !reason.empty(), "%s: no reason given", c.name);
    }
}

// ------------------------------------------------------------------ entries

static void entryBounds() {
    PackageTrailer t;
    t.magicOffset = 1000;
    t.length = 900;
    t.start = 108;
    PackageDirectory d;
    d.entriesStart = 300;
    struct Case {
        const char *name;
        int64_t pos, csize;
        bool fits;
    };
    const Case cases[] = {
        {"first entry, ending exactly at the magic", 300, 700, true},
        {"ending one byte into the magic", 300, 701, false},
        {"a later entry ending at the magic", 999, 1, true},
        {"empty stream right before the magic", 1000, 0, true},
        {"empty stream one past the magic", 1001, 0, false},
        {"empty stream at the entries' start", 300, 0, true},
        {"starting one byte inside the directory", 299, 1, false},
        {"starting in the program image", 0, 10, false},
        {"negative csize", 500, -1, false},
        {"negative csize reaching back into range", 1200, -300, false},
        {"negative pos", -5, 10, false},
        {"csize that would overflow pos + csize", 500, INT64_MAX, false},
        {"pos far beyond the file", INT64_MAX, 1, false},
    };
    for (const Case &c : cases)
        CHECK_MSG(entryFitsPackage(t, d, c.pos, c.csize) == c.fits, "%s: pos %lld csize %lld", c.name,
                  (long long)c.pos, (long long)c.csize);
}

// The reader's walk: each entry's stream follows the previous one, the first
// at P + 8 + C, and the last ends at the magic.
static void entriesInSequence() {
    for (size_t trailing : {0, 100}) {
        Layout layout{trailing ? 12000u : 64u, sampleContents(), trailing};
        layout.contents.push_back("");  // size 0 still has a stream
        Package p = build(layout);
        MemorySource src(p.file);
        PackageTrailer t;
        PackageDirectory d;
        std::string reason;
        CHECK(findPackageTrailer(src, &t));
        CHECK(readPackageDirectory(src, t, 1 << 20, &d, &reason) == DirectoryStatus::ok);
        int64_t pos = d.entriesStart;
        CHECK(pos == t.start + 8 + d.compressedSize);
        for (size_t i = 0; i < p.contents.size(); i++) {
            CHECK_MSG(pos == p.pos[i], "entry %zu at %lld", i, (long long)pos);
            CHECK(entryFitsPackage(t, d, pos, p.csize[i]));
            Bytes out(p.contents[i].size());
            CHECK_MSG(inflateExactly(&p.file[pos], p.csize[i], out.data(), out.size()), "entry %zu", i);
            CHECK_MSG(std::string(out.begin(), out.end()) == p.contents[i], "entry %zu content", i);
            pos += p.csize[i];
        }
        CHECK(pos == t.magicOffset);
        // A csize one too large for the last entry reaches into the magic.
        CHECK(!entryFitsPackage(t, d, p.pos.back(), p.csize.back() + 1));
    }
}

// ------------------------------------------------------------- inflation

static Bytes withDictionary(const std::string &text) {
    z_stream z;
    memset(&z, 0, sizeof z);
    Bytes out(256);
    CHECK(deflateInit(&z, Z_DEFAULT_COMPRESSION) == Z_OK);
    CHECK(deflateSetDictionary(&z, reinterpret_cast<const Bytef *>("hello"), 5) == Z_OK);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

static Bytes gzipStream(const std::string &text) {
    z_stream z;
    memset(&z, 0, sizeof z);
    Bytes out(256);
    CHECK(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

static void inflateExactlyCases() {
    const std::string text = "var x = 'some script text, some script text, some script text';\n";
    std::string big(1 << 20, '\0');
    std::mt19937 rng(5);
    for (char &c : big) c = static_cast<char>('a' + rng() % 4);
    const Bytes stream = zlibStream(text);
    auto concat = [](Bytes a, const Bytes &b) {
        append(a, b);
        return a;
    };
    auto cut = [](Bytes a, size_t n) {
        a.resize(a.size() - n);
        return a;
    };
    struct Case {
        const char *name;
        Bytes compressed;
        size_t size;
        bool ok;
        std::string content;  // when ok
    };
    const Case cases[] = {
        {"exact size", stream, text.size(), true, text},
        {"one byte short of the stream's output", stream, text.size() - 1, false, ""},
        {"one byte more than the stream's output", stream, text.size() + 1, false, ""},
        {"size 0: stream of \"\"", zlibStream(""), 0, true, ""},
        {"size 0: stream of one byte", zlibStream("a"), 0, false, ""},
        {"size 1: stream of \"\"", zlibStream(""), 1, false, ""},
        {"size 0: no input at all", {}, 0, false, ""},
        {"stored (level 0)", zlibStream(text, 0), text.size(), true, text},
        {"1 MiB", zlibStream(big), big.size(), true, big},
        // Bytes after the stream's end are ignored, as zlib's one-call
        // uncompress ignores them: the stream's extent comes from csize, and
        // what follows its end is never used.
        {"garbage after the stream's end", concat(stream, {0x00, 0xFF, 0x12}), text.size(), true, text},
        {"a second stream after the first", concat(stream, stream), text.size(), true, text},
        {"two streams do not add up", concat(stream, stream), 2 * text.size(), false, ""},
        {"checksum missing", cut(stream, 4), text.size(), false, ""},
        {"last checksum byte missing", cut(stream, 1), text.size(), false, ""},
        {"cut inside the data", cut(stream, stream.size() / 2), text.size(), false, ""},
        {"header only", Bytes(stream.begin(), stream.begin() + 2), text.size(), false, ""},
        {"wrong checksum", concat(cut(stream, 1), {uint8_t(stream.back() ^ 0x80)}), text.size(), false, ""},
        {"raw deflate without the zlib header", Bytes(stream.begin() + 2, stream.end()), text.size(), false, ""},
        {"gzip wrapper", gzipStream(text), text.size(), false, ""},
        {"preset dictionary required", withDictionary(text), text.size(), false, ""},
        {"not a stream", Bytes(40, 0x5A), text.size(), false, ""},
    };
    for (const Case &c : cases) {
        // Exactly size bytes: a write past them is caught by the sanitizer.
        std::unique_ptr<uint8_t[]> out(new uint8_t[c.size]);
        bool ok = inflateExactly(c.compressed.data(), c.compressed.size(), out.get(), c.size);
        CHECK_MSG(ok == c.ok, "%s: %d", c.name, ok);
        if (ok && c.ok)
            CHECK_MSG(memcmp(out.get(), c.content.data(), c.size) == 0, "%s: content differs", c.name);
    }
}

// ------------------------------------------------------------ names

// An unquoted number names the property its value converts to, not its
// digits: past 2^53 or 1e21 the two differ, and the reader then looks up a
// name the evaluated directory does not have. The scanner must give the
// engine's name or decline (so the enumeration order is used).
static void integerNamesAsTheEngineNamesThem() {
    const struct {
        const char *text, *name;
    } cases[] = {
        {"({9007199254740992:{}})", "9007199254740992"},
        {"({12345678901234567890:{}})", "12345678901234567000"},
        {"({18446744073709551615:{}})", "18446744073709552000"},
        {"({99999999999999999999:{}})", "100000000000000000000"},
        {"({1000000000000000000000:{}})", "1e+21"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> names;
        if (directoryNamesInOrder(c.text, &names))
            CHECK_MSG(names.size() == 1 && names[0] == c.name, "%s: read as '%s'", c.text,
                      names.empty() ? "" : names[0].c_str());
    }
}

int main() {
    trailerAfterTrailingBytes();
    trailerSearch();
    trailerFileLimits();
    directory();
    directoryWithSlack();
    failingReads();
    entryBounds();
    entriesInSequence();
    inflateExactlyCases();
    integerNamesAsTheEngineNamesThem();
    return checkResult("package_format_test");
}
