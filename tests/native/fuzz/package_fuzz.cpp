// Fuzz entry point for the package reader: the input is a whole packaged
// file. It is read the way initAFS and extract read it (the directory's names
// scanned in listing order too), and every answer is
// checked against the bytes themselves, so a wrong "found" or "fits" fails
// as surely as a read outside a buffer does.
//
// Built with libFuzzer by clang (see run_fuzz.sh) and, for the corpus replay
// in CTest, with replay_main.cpp by any compiler.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "package_format.h"

using namespace kx4;

namespace {

const size_t kMaxDirectory = 1 << 20;
const size_t kMaxEntry = 1 << 20;
const size_t kMaxEntries = 8;

class InputSource : public ByteSource {
public:
    InputSource(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    int64_t size() override { return static_cast<int64_t>(size_); }
    size_t readAt(int64_t offset, void *buffer, size_t count) override {
        if (offset < 0) fail("read at a negative offset");
        if (static_cast<uint64_t>(offset) >= size_) return 0;
        size_t n = std::min(count, size_ - static_cast<size_t>(offset));
        memcpy(buffer, data_ + offset, n);
        return n;
    }

    [[noreturn]] static void fail(const char *what) {
        fprintf(stderr, "package_fuzz: %s\n", what);
        abort();
    }

private:
    const uint8_t *data_;
    size_t size_;
};

void require(bool cond, const char *what) {
    if (!cond) InputSource::fail(what);
}

uint32_t be32(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

bool magicAt(const uint8_t *data, size_t size, size_t at) {
    static const uint8_t kMagic[4] = {0xAB, 0xCD, 0xAB, 0xCD};
    return at + 4 <= size && memcmp(data + at, kMagic, 4) == 0;
}

// zlib's one-call uncompress into one byte more than wanted: the stream
// yields exactly size bytes when it ends there and then.
bool referenceInflate(const uint8_t *in, size_t inSize, size_t size, std::vector<uint8_t> *out) {
    out->assign(size + 1, 0);
    uLongf got = static_cast<uLongf>(size + 1);
    int rc = uncompress(out->data(), &got, in, static_cast<uLong>(inSize));
    out->resize(got);
    return rc == Z_OK && got == size;
}

void checkTrailer(const uint8_t *data, size_t size, bool found, const PackageTrailer &t) {
    // The first magic lying wholly in the last 10000 bytes, unless the file
    // ends with one; only files of 10000 bytes or more are searched.
    int64_t expect = -1;
    if (size >= 8 && magicAt(data, size, size - 8)) {
        expect = static_cast<int64_t>(size - 8);
    } else if (size >= kTrailerSearch) {
        for (size_t i = size - kTrailerSearch; i + 4 <= size; i++)
            if (magicAt(data, size, i)) {
                expect = static_cast<int64_t>(i);
                break;
            }
        if (expect >= 0 && static_cast<size_t>(expect) + 8 > size) expect = -1;  // its length is cut off
    }
    require(found == (expect >= 0), "trailer found where there is none, or missed");
    if (!found) return;
    require(t.magicOffset == expect, "wrong magic offset");
    require(t.length == be32(data + t.magicOffset + 4), "wrong package length");
    require(t.start == t.magicOffset + 8 - static_cast<int64_t>(t.length), "wrong package start");
}

void checkDirectory(const uint8_t *data, size_t size, const PackageTrailer &t, DirectoryStatus status,
                    const PackageDirectory &d, const std::string &reason) {
    require(status != DirectoryStatus::noMemory, "out of memory on a small input");
    // Whether the directory is readable, from the bytes alone.
    bool readable = t.start >= 0 && t.length >= 16;
    uint32_t c = 0, u = 0;
    std::vector<uint8_t> text;
    if (readable) {
        c = be32(data + t.start);
        u = be32(data + t.start + 4);
        readable = static_cast<int64_t>(c) <= t.magicOffset - (t.start + 8) && u <= kMaxDirectory &&
                   referenceInflate(data + t.start + 8, c, u, &text);
    }
    if (status != DirectoryStatus::ok) {
        require(!readable, "a readable directory was called damaged");
        require(!reason.empty(), "a damaged directory without a reason");
        return;
    }
    require(readable, "a damaged directory was accepted");
    require(d.compressedSize == c && d.size == u && d.text.size() == u, "directory sizes differ");
    require(memcmp(d.text.data(), text.data(), u) == 0, "directory text differs");
    require(d.entriesStart == t.start + 8 + c && d.entriesStart <= t.magicOffset, "wrong entries start");
    (void)size;
}

// The numbers after "key:" in the directory text, in order; "size:" does not
// match inside "csize:".
std::vector<int64_t> numbersAfter(const std::string &text, const char *key) {
    std::vector<int64_t> values;
    size_t keyLength = strlen(key);
    for (size_t at = text.find(key); at != std::string::npos && values.size() < kMaxEntries;
         at = text.find(key, at + 1)) {
        if (at > 0 && isalnum(static_cast<unsigned char>(text[at - 1]))) continue;
        int64_t v = 0;
        size_t i = at + keyLength;
        bool negative = i < text.size() && text[i] == '-';
        if (negative) i++;
        for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])) && v < (int64_t)1 << 40; i++)
            v = v * 10 + (text[i] - '0');
        values.push_back(negative ? -v : v);
    }
    return values;
}

void checkEntry(const uint8_t *data, const PackageTrailer &t, const PackageDirectory &d, int64_t pos, int64_t csize,
                int64_t size) {
    if (!entryFitsPackage(t, d, pos, csize)) {
        require(csize < 0 || pos < d.entriesStart || pos > t.magicOffset || csize > t.magicOffset - pos,
                "an entry inside the package was refused");
        return;
    }
    require(csize >= 0 && pos >= d.entriesStart && pos + csize <= t.magicOffset, "an entry outside the package fits");
    if (size < 0 || static_cast<uint64_t>(size) > kMaxEntry) return;
    // Exactly sized copies: any read or write past them is caught.
    std::unique_ptr<uint8_t[]> in(new uint8_t[csize]);
    memcpy(in.get(), data + pos, static_cast<size_t>(csize));
    std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
    bool ok = inflateExactly(in.get(), static_cast<size_t>(csize), out.get(), static_cast<size_t>(size));
    std::vector<uint8_t> want;
    bool wantOk = referenceInflate(in.get(), static_cast<size_t>(csize), static_cast<size_t>(size), &want);
    require(ok == wantOk, "inflateExactly disagrees with uncompress");
    if (ok) require(memcmp(out.get(), want.data(), static_cast<size_t>(size)) == 0, "inflated content differs");
}

// The directory's names as the scanner reads them, written back as a literal
// with every byte escaped, must read back the same.
void checkNames(const std::string &text) {
    std::vector<std::string> names;
    if (!directoryNamesInOrder(text, &names)) return;
    std::string again = "({";
    for (size_t k = 0; k < names.size(); k++) {
        again += k ? ", '" : "'";
        for (unsigned char c : names[k]) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            again += escaped;
        }
        again += "':{}";
    }
    again += "})";
    std::vector<std::string> reread;
    require(directoryNamesInOrder(again, &reread) && reread == names, "names do not survive escaping");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The scanner also reads the raw input: text inside a zlib stream is out
    // of the fuzzer's reach, since any change to it breaks the checksum.
    checkNames(std::string(reinterpret_cast<const char *>(data), size));

    InputSource source(data, size);
    PackageTrailer trailer;
    bool found = findPackageTrailer(source, &trailer);
    checkTrailer(data, size, found, trailer);
    if (!found) return 0;

    PackageDirectory directory;
    std::string reason;
    DirectoryStatus status = readPackageDirectory(source, trailer, kMaxDirectory, &directory, &reason);
    checkDirectory(data, size, trailer, status, directory, reason);
    if (status != DirectoryStatus::ok) return 0;
    checkNames(directory.text);

    // The entries as the reader lays them out: back to back from the end of
    // the directory stream, with the sizes the directory states.
    std::vector<int64_t> sizes = numbersAfter(directory.text, "size:");
    std::vector<int64_t> csizes = numbersAfter(directory.text, "csize:");
    int64_t pos = directory.entriesStart;
    for (size_t i = 0; i < csizes.size(); i++) {
        int64_t csize = csizes[i];
        checkEntry(data, trailer, directory, pos, csize, i < sizes.size() ? sizes[i] : 0);
        if (!entryFitsPackage(trailer, directory, pos, csize)) break;
        pos += csize;
    }
    // And one place chosen by the input itself: any numbers a script could
    // have put into an entry's pos and csize.
    if (size >= 12) {
        int64_t anyPos = static_cast<int32_t>(be32(data));
        int64_t anyCsize = static_cast<int32_t>(be32(data + 4));
        checkEntry(data, trailer, directory, anyPos, anyCsize, be32(data + 8) & 0xFFFF);
    }
    return 0;
}
