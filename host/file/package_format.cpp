#include "package_format.h"

#include <string.h>
#include <zlib.h>

#include <new>
#include <vector>

namespace kx4 {

static uint32_t bigEndian32(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

static bool read32(ByteSource &source, int64_t offset, uint32_t *value) {
    uint8_t b[4];
    if (offset < 0 || source.readAt(offset, b, 4) != 4) return false;
    *value = bigEndian32(b);
    return true;
}

static bool findTrailer(ByteSource &source, PackageTrailer *trailer) {
    int64_t size = source.size();
    if (size < 8 || size > kPackageFileLimit) return false;
    uint32_t magic = 0;
    int64_t t = -1;
    if (read32(source, size - 8, &magic) && magic == kPackageMagic) {
        t = size - 8;
    } else {
        // A file shorter than the search window has a package only when its
        // trailer ends it.
        if (size < (int64_t)kTrailerSearch) return false;
        int64_t w = size - (int64_t)kTrailerSearch;
        std::vector<uint8_t> tail(kTrailerSearch);
        size_t got = source.readAt(w, tail.data(), tail.size());
        static const uint8_t kMagic[4] = {0xAB, 0xCD, 0xAB, 0xCD};
        for (size_t i = 0; i + 4 <= got; i++) {
            if (memcmp(&tail[i], kMagic, 4) == 0) {
                t = w + (int64_t)i;
                break;
            }
        }
        if (t < 0) return false;
    }
    uint32_t length;
    if (!read32(source, t + 4, &length)) return false;
    trailer->magicOffset = t;
    trailer->length = length;
    trailer->start = t + 8 - (int64_t)length;
    return true;
}

bool findPackageTrailer(ByteSource &source, PackageTrailer *trailer) {
    try {
        return findTrailer(source, trailer);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

static bool readDirectory(ByteSource &source, const PackageTrailer &trailer, size_t maxSize,
                          PackageDirectory *directory, std::string *reason) {
    // The package must hold at least its two header words and its trailer.
    if (trailer.start < 0 || trailer.length < 16) {
        *reason = "package length points outside the file";
        return false;
    }
    uint32_t c, u;
    if (!read32(source, trailer.start, &c) || !read32(source, trailer.start + 4, &u)) {
        *reason = "cannot read the directory sizes";
        return false;
    }
    int64_t streamStart = trailer.start + 8;
    if ((int64_t)c > trailer.magicOffset - streamStart) {
        *reason = "directory stream runs past the package";
        return false;
    }
    if (u > maxSize) {
        *reason = "directory too large";
        return false;
    }
    std::vector<uint8_t> compressed(c ? c : 1);
    if (source.readAt(streamStart, compressed.data(), c) != c) {
        *reason = "cannot read the directory";
        return false;
    }
    std::string text(u, '\0');
    if (!inflateExactly(compressed.data(), c, reinterpret_cast<uint8_t *>(&text[0]), u)) {
        *reason = "directory does not inflate to its size";
        return false;
    }
    directory->compressedSize = c;
    directory->size = u;
    directory->entriesStart = streamStart + c;
    directory->text.swap(text);
    return true;
}

DirectoryStatus readPackageDirectory(ByteSource &source, const PackageTrailer &trailer, size_t maxSize,
                                     PackageDirectory *directory, std::string *reason) {
    // Callers are natives: no exception may leave this function.
    try {
        return readDirectory(source, trailer, maxSize, directory, reason) ? DirectoryStatus::ok
                                                                         : DirectoryStatus::damaged;
    } catch (const std::bad_alloc &) {
        return DirectoryStatus::noMemory;
    }
}

bool inflateExactly(const uint8_t *compressed, size_t compressedSize, uint8_t *out, size_t size) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return false;
    // A one-byte scratch catches streams that would produce more than size.
    uint8_t extra;
    z.next_in = const_cast<uint8_t *>(compressed);
    z.avail_in = (uInt)compressedSize;
    z.next_out = size ? out : &extra;
    z.avail_out = (uInt)size;
    int rc = inflate(&z, Z_FINISH);
    bool exact = rc == Z_STREAM_END && z.total_out == size;
    if (rc == Z_BUF_ERROR && z.total_out == size) {
        // Output full: the stream must end here without another byte.
        z.next_out = &extra;
        z.avail_out = 1;
        rc = inflate(&z, Z_FINISH);
        exact = rc == Z_STREAM_END && z.total_out == size;
    }
    inflateEnd(&z);
    return exact;
}

bool entryFitsPackage(const PackageTrailer &trailer, const PackageDirectory &directory, int64_t pos,
                      int64_t csize) {
    return csize >= 0 && pos >= directory.entriesStart && pos <= trailer.magicOffset &&
           csize <= trailer.magicOffset - pos;
}

}  // namespace kx4

namespace kx4 {

namespace {

// A small scanner for the literal subset a directory is written in: it
// reads names and skips values (balanced brackets, strings, other tokens)
// without evaluating anything.
class LiteralScanner {
public:
    explicit LiteralScanner(const std::string &text) : s_(text), i_(0) {}

    bool names(std::vector<std::string> *out) {
        skipSpace();
        bool paren = take('(');
        skipSpace();
        if (!take('{')) return false;
        for (;;) {
            skipSpace();
            if (take('}')) break;
            std::string name;
            if (!readName(&name)) return false;
            out->push_back(name);
            skipSpace();
            if (!take(':')) return false;
            if (!skipValue()) return false;
            skipSpace();
            if (take(',')) continue;
            skipSpace();
            if (take('}')) break;
            return false;
        }
        skipSpace();
        if (paren && !take(')')) return false;
        skipSpace();
        take(';');
        skipSpace();
        return i_ == s_.size();
    }

private:
    bool take(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            i_++;
            return true;
        }
        return false;
    }

    void skipSpace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) i_++;
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool readHex(int digits, unsigned *value) {
        *value = 0;
        for (int k = 0; k < digits; k++) {
            if (i_ >= s_.size() || hexValue(s_[i_]) < 0) return false;
            *value = *value * 16 + (unsigned)hexValue(s_[i_++]);
        }
        return true;
    }

    // A quoted string with its escapes resolved; characters above U+00FF
    // cannot be 8-bit names.
    bool readString(std::string *out) {
        char quote = s_[i_++];
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == quote) return true;
            if (c == '\n' || c == '\r') return false;
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (i_ >= s_.size()) return false;
            char e = s_[i_++];
            unsigned value;
            switch (e) {
            case 'n': out->push_back('\n'); break;
            case 't': out->push_back('\t'); break;
            case 'r': out->push_back('\r'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'v': out->push_back('\v'); break;
            case '0':
                if (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') return false;  // octal
                out->push_back('\0');
                break;
            case 'x':
                if (!readHex(2, &value)) return false;
                out->push_back((char)value);
                break;
            case 'u':
                if (!readHex(4, &value) || value > 0xFF) return false;
                out->push_back((char)value);
                break;
            case '\r':
                take('\n');
                break;
            case '\n':
                break;
            default:
                if (e >= '1' && e <= '9') return false;  // octal
                out->push_back(e);
            }
        }
        return false;
    }

    static bool identifierChar(unsigned char c, bool first) {
        return c == '_' || c == '$' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (!first && c >= '0' && c <= '9');
    }

    bool readName(std::string *out) {
        if (i_ >= s_.size()) return false;
        unsigned char c = (unsigned char)s_[i_];
        if (c == '\'' || c == '"') return readString(out);
        if (identifierChar(c, true)) {
            while (i_ < s_.size() && identifierChar((unsigned char)s_[i_], false)) out->push_back(s_[i_++]);
            return true;
        }
        if (c >= '0' && c <= '9') {
            // Only plain decimal integers name themselves, and only while a
            // double holds them exactly (15 digits): longer ones are named
            // after their rounded value.
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') out->push_back(s_[i_++]);
            if (out->size() > 15 || (out->size() > 1 && (*out)[0] == '0')) return false;
            return i_ >= s_.size() || !(s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E' || s_[i_] == 'x' ||
                                         s_[i_] == 'X' || identifierChar((unsigned char)s_[i_], false));
        }
        return false;
    }

    // Skips one value: up to the next ',' or '}' at this level.
    bool skipValue() {
        int depth = 0;
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == '\'' || c == '"') {
                std::string ignored;
                if (!readString(&ignored)) return false;
                continue;
            }
            if (c == '/' && i_ + 1 < s_.size() && (s_[i_ + 1] == '/' || s_[i_ + 1] == '*')) return false;
            if (c == '{' || c == '[' || c == '(') depth++;
            if (c == '}' || c == ']' || c == ')') {
                if (depth == 0) return c == '}';
                depth--;
            }
            if (c == ',' && depth == 0) return true;
            i_++;
        }
        return false;
    }

    const std::string &s_;
    size_t i_;
};

}  // namespace

bool directoryNamesInOrder(const std::string &text, std::vector<std::string> *names) {
    try {
        names->clear();
        LiteralScanner scanner(text);
        return scanner.names(names);
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace kx4
