/* What System.shutdown does for a given params text: hibernate, or one call
 * of ExitWindowsEx with which flags. Kept apart from the calls themselves,
 * and free of Windows headers, so that the rules can be tested natively
 * without ever reaching a machine's power switch. */
#ifndef KX4_SHUTDOWN_DECISION_H
#define KX4_SHUTDOWN_DECISION_H

#include <stddef.h>

namespace kx4 {

// ExitWindowsEx flag values (the Windows unit checks them against EWX_*).
enum : unsigned {
    kExitLogOff = 0x0,
    kExitShutdown = 0x1,
    kExitReboot = 0x2,
    kExitForce = 0x4,
    kExitPowerOff = 0x8,
};

struct ShutdownDecision {
    bool hibernate;      // SetSystemPowerState(suspend = false, force = true)
    unsigned exitFlags;  // otherwise ExitWindowsEx with these flags
};

namespace detail {

// Whether text[0, length) holds the ASCII word anywhere; case-sensitive.
// Units are compared whole, so only true ASCII characters match.
template <typename Unit>
bool containsWord(const Unit *text, size_t length, const char *word) {
    size_t n = 0;
    while (word[n]) n++;
    for (size_t i = 0; i + n <= length; i++) {
        size_t k = 0;
        while (k < n && static_cast<unsigned long>(text[i + k]) == static_cast<unsigned char>(word[k])) k++;
        if (k == n) return true;
    }
    return false;
}

}  // namespace detail

// params is the whole script string, NUL characters included. The first
// word found in this order decides; "-force" only adds to ExitWindowsEx.
template <typename Unit>
ShutdownDecision decideShutdown(const Unit *params, size_t length) {
    using detail::containsWord;
    if (containsWord(params, length, "-hibernate")) return {true, 0};
    unsigned flags = kExitLogOff;
    if (containsWord(params, length, "-shutdown"))
        flags = kExitShutdown;
    else if (containsWord(params, length, "-shutoff"))
        flags = kExitPowerOff;
    else if (containsWord(params, length, "-reboot"))
        flags = kExitReboot;
    if (containsWord(params, length, "-force")) flags |= kExitForce;
    return {false, flags};
}

}  // namespace kx4

#endif
