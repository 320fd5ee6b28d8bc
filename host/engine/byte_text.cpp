#include "byte_text.h"

#include <string.h>

namespace kx4 {

static const uint64_t kHighBits = 0x8080808080808080ull;

static inline uint64_t load8(const uint8_t *p) {
    uint64_t w;
    memcpy(&w, p, 8);
    return w;
}

bool isAscii(const uint8_t *bytes, size_t count) {
    size_t i = 0;
    uint64_t acc = 0;
    for (; i + 8 <= count; i += 8) acc |= load8(bytes + i);
    for (; i < count; i++) acc |= bytes[i];
    return (acc & kHighBits) == 0;
}

size_t widenedLength(const uint8_t *bytes, size_t count) {
    size_t extra = 0;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t high = (load8(bytes + i) & kHighBits) >> 7;
        extra += (size_t)((high * 0x0101010101010101ull) >> 56);
    }
    for (; i < count; i++) extra += bytes[i] >> 7;
    return count + extra;
}

void widenBytes(const uint8_t *bytes, size_t count, uint8_t *out) {
    size_t i = 0;
    while (i < count) {
        // Runs of ASCII are copied eight bytes at a time.
        if (i + 8 <= count && (load8(bytes + i) & kHighBits) == 0) {
            memcpy(out, bytes + i, 8);
            out += 8;
            i += 8;
            continue;
        }
        uint8_t b = bytes[i++];
        // Branchless: a high byte becomes the two-byte form C2/C3 xx, an
        // ASCII byte is written once and the pointer advances by one.
        unsigned high = b >> 7;
        out[0] = (uint8_t)(high ? (0xC0 | (b >> 6)) : b);
        out[1] = (uint8_t)(0x80 | (b & 0x3F));
        out += 1 + high;
    }
}

// Decodes one sequence at text[i]; malformed bytes decode as themselves so
// that nothing is ever read past the end.
static inline uint32_t decodeOne(const uint8_t *text, size_t length, size_t *i) {
    uint8_t b = text[*i];
    size_t need;
    uint32_t cp;
    if (b < 0x80) {
        *i += 1;
        return b;
    } else if (b >= 0xC0 && b < 0xE0) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b < 0xF0) {
        need = 2;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b < 0xF8) {
        need = 3;
        cp = b & 0x07;
    } else {
        *i += 1;
        return b;
    }
    if (*i + need >= length) {  // truncated sequence
        *i += 1;
        return b;
    }
    for (size_t k = 1; k <= need; k++) {
        uint8_t c = text[*i + k];
        if ((c & 0xC0) != 0x80) {
            *i += 1;
            return b;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    *i += need + 1;
    return cp;
}

size_t internalUnitCount(const uint8_t *text, size_t length) {
    size_t units = 0;
    size_t i = 0;
    while (i < length) {
        if (i + 8 <= length && (load8(text + i) & kHighBits) == 0) {
            units += 8;
            i += 8;
            continue;
        }
        uint32_t cp = decodeOne(text, length, &i);
        units += cp > 0xFFFF ? 2 : 1;
    }
    return units;
}

struct LeadForms {
    uint8_t form[256];
    constexpr LeadForms() : form() {
        for (int b = 0; b < 256; b++) form[b] = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : 2;
    }
};
static constexpr LeadForms kLeadForms;
static const uint8_t *const kLeadForm = kLeadForms.form;

template <typename Unit>
static size_t decodeUnitsFrom(const uint8_t *text, size_t length, Unit *out, size_t capacity, size_t i, size_t n) {
    while (i < length) {
        if (i + 8 <= length && n + 8 <= capacity && (load8(text + i) & kHighBits) == 0) {
            for (int k = 0; k < 8; k++) out[n + k] = text[i + k];
            n += 8;
            i += 8;
            continue;
        }
        if (n == capacity) return kTooSmall;
        // The common cases, ASCII and two-byte forms (every widened byte),
        // without data-dependent branches: with random bytes a branch on the
        // form would be mispredicted half the time. The lead byte's class
        // comes from a table so that the one branch left (to the general
        // decoder) is taken only for other forms.
        unsigned b = text[i];
        unsigned c = i + 1 < length ? text[i + 1] : 0;
        unsigned form = kLeadForm[b];  // 0 ASCII, 1 two-byte lead, 2 other
        unsigned continued = (c & 0xC0) == 0x80;
        unsigned two = form & continued;
        if (((form >> 1) | (form & (continued ^ 1))) == 0) {
            unsigned mask = 0u - two;
            unsigned decoded = ((b & 0x1F) << 6) | (c & 0x3F);
            out[n++] = (Unit)((decoded & mask) | (b & ~mask));
            i += 1 + two;
            continue;
        }
        uint32_t cp = decodeOne(text, length, &i);
        if (cp > 0xFFFF) {
            if (n + 2 > capacity) return kTooSmall;
            cp -= 0x10000;
            out[n++] = (Unit)(0xD800 + (cp >> 10));
            out[n++] = (Unit)(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = (Unit)cp;
        }
    }
    return n;
}

// Text made only of ASCII and two-byte forms (every widened byte string)
// decodes eight bytes at a time: each byte is either a start, written at n
// (n advancing by one), or the continuation of the start before it, with
// nothing depending on which. Anything else (longer forms, stray or missing
// continuations) marks the pass bad and the general decoder starts over.
// Returns the units written, or kTooSmall when the text is not such text.
template <typename Unit>
static size_t decodeTwoByteForms(const uint8_t *text, size_t length, Unit *out, size_t capacity, size_t *stop) {
    size_t j = 0, n = 0;
    unsigned bad = 0, pending = 0;  // pending: the byte before was a lead
    // j + 9 <= length: every byte's successor is readable; n + 8 <= capacity:
    // eight writes stay inside out.
    while (j + 9 <= length && n + 8 <= capacity) {
        const uint8_t *p = text + j;
        if (!pending && (load8(p) & kHighBits) == 0) {
            for (int k = 0; k < 8; k++) out[n + k] = p[k];
            n += 8;
            j += 8;
            continue;
        }
        // The forms of all eight bytes at once: bit 7 of each byte lane
        // says whether that byte is a continuation (10xxxxxx), a two-byte
        // lead (110xxxxx) or a longer lead (111xxxxx). Continuations must
        // follow leads exactly, across the block boundary too.
        uint64_t w = load8(p), shift1 = w << 1, shift2 = w << 2;
        uint64_t continuations = w & ~shift1 & kHighBits;
        uint64_t leads = w & shift1 & ~shift2 & kHighBits;
        uint64_t longer = w & shift1 & shift2 & kHighBits;
        bad |= (longer | (continuations ^ ((leads << 8) | (uint64_t)pending << 7))) != 0;
        pending = (unsigned)(leads >> 63);
        for (int k = 0; k < 8; k++) {
            unsigned b = p[k], next = p[k + 1];
            unsigned mask = 0u - (unsigned)((leads >> (8 * k + 7)) & 1);
            unsigned decoded = ((b & 0x1F) << 6) | (next & 0x3F);
            out[n] = (Unit)((decoded & mask) | (b & ~mask));
            n += 1 ^ (unsigned)((continuations >> (8 * k + 7)) & 1);
        }
        j += 8;
        if (bad) return kTooSmall;
    }
    // The general decoder takes over at a start: a trailing lead's
    // continuation was already used, so it must really be one.
    if (pending && (text[j] & 0xC0) != 0x80) return kTooSmall;
    *stop = j + pending;
    return n;
}

template <typename Unit>
static size_t decodeUnits(const uint8_t *text, size_t length, Unit *out, size_t capacity) {
    size_t stop = 0;
    size_t n = decodeTwoByteForms(text, length, out, capacity, &stop);
    if (n == kTooSmall) return decodeUnitsFrom(text, length, out, capacity, 0, 0);
    return decodeUnitsFrom(text, length, out, capacity, stop, n);
}

size_t narrowInternal(const uint8_t *text, size_t length, uint8_t *out, size_t capacity) {
    return decodeUnits<uint8_t>(text, length, out, capacity);
}

size_t internalToUtf16(const uint8_t *text, size_t length, uint16_t *out, size_t capacity) {
    return decodeUnits<uint16_t>(text, length, out, capacity);
}

size_t utf16InternalLength(const uint16_t *units, size_t count) {
    size_t n = 0;
    for (size_t i = 0; i < count; i++) {
        uint16_t u = units[i];
        n += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    }
    return n;
}

void utf16ToInternal(const uint16_t *units, size_t count, uint8_t *out) {
    // Surrogates are encoded one by one, so lone surrogates survive too.
    for (size_t i = 0; i < count; i++) {
        uint16_t u = units[i];
        if (u < 0x80) {
            *out++ = (uint8_t)u;
        } else if (u < 0x800) {
            *out++ = (uint8_t)(0xC0 | (u >> 6));
            *out++ = (uint8_t)(0x80 | (u & 0x3F));
        } else {
            *out++ = (uint8_t)(0xE0 | (u >> 12));
            *out++ = (uint8_t)(0x80 | ((u >> 6) & 0x3F));
            *out++ = (uint8_t)(0x80 | (u & 0x3F));
        }
    }
}

}  // namespace kx4
