/* The package appended to kx4.exe: locating its trailer, reading and
 * inflating its directory, and inflating one entry, with every length and
 * offset checked against the file before it is used. Portable code: no
 * engine and no Windows, so it is unit-tested and fuzzed natively.
 *
 * Layout (integers unsigned 32-bit big-endian):
 *   [program image: P bytes][C][U][directory zlib stream: C bytes]
 *   [entry zlib streams, back to back][magic AB CD AB CD][L]
 * with P = offset of the magic + 8 - L. */
#ifndef KX4_PACKAGE_FORMAT_H
#define KX4_PACKAGE_FORMAT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace kx4 {

// Where the package bytes come from (a stdio stream in the host, memory in
// the tests and the fuzzer).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual int64_t size() = 0;
    // Reads up to count bytes at offset; returns the number read.
    virtual size_t readAt(int64_t offset, void *buffer, size_t count) = 0;
};

const uint32_t kPackageMagic = 0xABCDABCDu;
const size_t kTrailerSearch = 10000;
// The reader holds offsets in signed 32-bit integers.
const int64_t kPackageFileLimit = 0x7FFFFFFF;

struct PackageTrailer {
    int64_t magicOffset = 0;  // T
    uint32_t length = 0;      // L
    int64_t start = 0;        // P = T + 8 - L
};

// Finds the trailer: the last 8 bytes first, else the first magic that lies
// wholly inside the last 10000 bytes (files shorter than that are not
// searched). False when there is none.
bool findPackageTrailer(ByteSource &source, PackageTrailer *trailer);

struct PackageDirectory {
    uint32_t compressedSize = 0;  // C
    uint32_t size = 0;            // U
    int64_t entriesStart = 0;     // P + 8 + C: the first entry's offset
    std::string text;             // U bytes of 8-bit script text
};

enum class DirectoryStatus { ok, damaged, noMemory };

// Reads C and U and inflates the directory. When damaged, reason says how.
DirectoryStatus readPackageDirectory(ByteSource &source, const PackageTrailer &trailer, size_t maxSize,
                                     PackageDirectory *directory, std::string *reason);

// True when the compressed bytes are one complete zlib stream that
// inflates to exactly size bytes (written to out).
bool inflateExactly(const uint8_t *compressed, size_t compressedSize, uint8_t *out, size_t size);

// Checks an entry's place: its stream lies between the directory and the
// trailer. entryEnd is pos + csize.
bool entryFitsPackage(const PackageTrailer &trailer, const PackageDirectory &directory, int64_t pos,
                      int64_t csize);

}  // namespace kx4

#endif

namespace kx4 {

// The top-level property names of a directory text written as an object
// literal, in the order the text lists them (the order its entry streams
// follow). The engine enumerates names that look like array indices first,
// so the reader cannot take the order from the evaluated object. Names are
// 8-bit text after unescaping. False when the text is not a plain literal
// ("({...})" or "{...}" with string, identifier or integer names), or a
// name holds a character above U+00FF.
bool directoryNamesInOrder(const std::string &text, std::vector<std::string> *names);

}  // namespace kx4
