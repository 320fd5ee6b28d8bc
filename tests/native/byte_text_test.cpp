// Byte text must survive widening to the engine's encoding and narrowing
// back, for every byte value and at every alignment of the fast paths.
#include <stdint.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "byte_text.h"
#include "check.h"

using namespace kx4;

static std::vector<uint8_t> widen(const std::vector<uint8_t> &in) {
    std::vector<uint8_t> out(widenedLength(in.data(), in.size()) + 1);
    widenBytes(in.data(), in.size(), out.data());
    out.pop_back();
    return out;
}

static std::vector<uint8_t> narrow(const std::vector<uint8_t> &internal) {
    std::vector<uint8_t> out(internalUnitCount(internal.data(), internal.size()));
    CHECK(narrowInternal(internal.data(), internal.size(), out.data(), out.size()) == out.size());
    return out;
}

static void roundTrips() {
    std::vector<uint8_t> all;
    for (int i = 0; i < 256; i++) all.push_back(static_cast<uint8_t>(i));
    std::mt19937 rng(7);
    std::vector<uint8_t> random(100003);
    for (auto &b : random) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> mostlyAscii(4099, 'a');
    mostlyAscii[4098] = 0xE9;
    mostlyAscii[8] = 0x80;
    const std::vector<uint8_t> cases[] = {{}, all, random, mostlyAscii, {0}, {0xFF}, {0xFF, 0}};
    for (const auto &c : cases) {
        // Every start offset, so the eight-byte fast paths meet every alignment.
        for (size_t skip = 0; skip < 9 && skip <= c.size(); skip++) {
            std::vector<uint8_t> in(c.begin() + skip, c.end());
            std::vector<uint8_t> w = widen(in);
            CHECK_MSG(internalUnitCount(w.data(), w.size()) == in.size(), "size %zu skip %zu", c.size(), skip);
            CHECK_MSG(narrow(w) == in, "size %zu skip %zu", c.size(), skip);
            CHECK(isAscii(in.data(), in.size()) == (w.size() == in.size()));
        }
    }
}

static void widenedForm() {
    // Bytes 0x80-0xFF become the two-byte forms of U+0080-U+00FF, never raw:
    // a raw leading 0x80-0xFF byte would make the engine see a symbol.
    const uint8_t in[] = {0x41, 0x80, 0xFF, 0x00};
    const uint8_t want[] = {0x41, 0xC2, 0x80, 0xC3, 0xBF, 0x00};
    std::vector<uint8_t> w = widen(std::vector<uint8_t>(in, in + 4));
    CHECK(w.size() == sizeof want && memcmp(w.data(), want, sizeof want) == 0);
}

static void utf16() {
    // Lone surrogates and pairs are kept unit for unit.
    const uint16_t units[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xDC00, 0xD800, 0, 0xFFFF};
    size_t n = sizeof units / sizeof units[0];
    std::vector<uint8_t> internal(utf16InternalLength(units, n));
    utf16ToInternal(units, n, internal.data());
    CHECK(internalUnitCount(internal.data(), internal.size()) == n);
    std::vector<uint16_t> back(n);
    CHECK(internalToUtf16(internal.data(), internal.size(), back.data(), n) == n);
    CHECK(memcmp(back.data(), units, sizeof units) == 0);
    // Narrowing keeps the low byte of each unit.
    std::vector<uint8_t> low = narrow(internal);
    CHECK(low.size() == n && low[2] == 0xAC && low[3] == 0x3D);
}

static void fourByteSequences() {
    // A non-BMP character in plain UTF-8 counts as two units (a pair).
    const uint8_t smile[] = {0xF0, 0x9F, 0x98, 0x80};
    CHECK(internalUnitCount(smile, 4) == 2);
    uint16_t units[2];
    CHECK(internalToUtf16(smile, 4, units, 2) == 2);
    CHECK(units[0] == 0xD83D && units[1] == 0xDE00);
    // Sized by character count (1), the buffer is too small: reported, not overrun.
    uint16_t one[1];
    CHECK(internalToUtf16(smile, 4, one, 1) == kTooSmall);
}

static void malformedStaysInBounds() {
    // Truncated and invalid sequences decode byte by byte, never past the end,
    // also where the eight-byte fast path meets them.
    std::vector<uint8_t> leadAtBlockEnd(20, 'a');  // a lead ending an eight-byte block, no continuation
    leadAtBlockEnd[7] = 0xC3;
    std::vector<uint8_t> strayInBlock(20, 'a');
    strayInBlock[3] = 0x80;
    const std::vector<uint8_t> cases[] = {{0xC3}, {0xE2, 0x82}, {0xF0, 0x9F, 0x98}, {0x80, 0x41}, {0xC3, 0x41}, {0xFF},
                                          leadAtBlockEnd, strayInBlock};
    for (const auto &c : cases) {
        std::vector<uint8_t> copy(c);  // exact-size heap block for sanitizers
        size_t n = internalUnitCount(copy.data(), copy.size());
        CHECK(n == copy.size());
        std::vector<uint8_t> out(n);
        CHECK(narrowInternal(copy.data(), copy.size(), out.data(), n) == n);
        CHECK(out == copy);  // each malformed byte stands for itself
    }
}

int main() {
    roundTrips();
    widenedForm();
    utf16();
    fourByteSequences();
    malformedStaysInBounds();
    return checkResult("byte_text_test");
}
