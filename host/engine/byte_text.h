/* Conversions between the host's text forms and the engine's internal string
 * encoding (UTF-8, with surrogates stored one by one as CESU-8 does).
 *
 * 8-bit text is one byte per character: widening maps byte b to the
 * character U+00b, narrowing keeps the low byte of each UTF-16 unit. So any
 * byte sequence survives a round trip through a script string.
 *
 * Portable code: unit-tested and fuzzed natively. */
#ifndef KX4_BYTE_TEXT_H
#define KX4_BYTE_TEXT_H

#include <stddef.h>
#include <stdint.h>

namespace kx4 {

// True when every byte is below 0x80 (such text is its own internal form).
bool isAscii(const uint8_t *bytes, size_t count);

// Internal length of count bytes widened to characters.
size_t widenedLength(const uint8_t *bytes, size_t count);

// Writes widenedLength(bytes, count) bytes to out, which must hold one
// spare byte beyond them (the encoder stores branch-free).
void widenBytes(const uint8_t *bytes, size_t count, uint8_t *out);

// Number of UTF-16 units the internal text holds.
size_t internalUnitCount(const uint8_t *text, size_t length);

// Writes the low byte of each UTF-16 unit into out, which holds capacity
// bytes. Returns the number written, or kTooSmall (having written at most
// capacity) when the text has more units than that.
const size_t kTooSmall = (size_t)-1;
size_t narrowInternal(const uint8_t *text, size_t length, uint8_t *out, size_t capacity);

// The same, writing whole UTF-16 units.
size_t internalToUtf16(const uint8_t *text, size_t length, uint16_t *out, size_t capacity);

// Internal length of count UTF-16 units, and the encoder.
size_t utf16InternalLength(const uint16_t *units, size_t count);
void utf16ToInternal(const uint16_t *units, size_t count, uint8_t *out);

}  // namespace kx4

#endif
