// What System.shutdown asks Windows for, by params: the action words, the
// order in which they decide, and "-force". Nothing here can reach a real
// shutdown: the Windows unit calls the same decideShutdown.
#include <string>

#include "../../host/system/shutdown_decision.h"
#include "check.h"

using namespace kx4;

struct Case {
    std::u16string params;
    bool hibernate;
    unsigned flags;
};

static const unsigned kForce = kExitForce;

static void decisions() {
    const Case cases[] = {
        // One word each; nothing known logs the user off.
        {u"", false, kExitLogOff},
        {u"-hibernate", true, 0},
        {u"-shutdown", false, kExitShutdown},
        {u"-shutoff", false, kExitPowerOff},
        {u"-reboot", false, kExitReboot},
        {u"nothing known", false, kExitLogOff},
        // "-force" adds the force flag to every ExitWindowsEx action...
        {u"-force", false, kExitLogOff | kForce},
        {u"-shutdown -force", false, kExitShutdown | kForce},
        {u"-shutoff -force", false, kExitPowerOff | kForce},
        {u"-reboot -force", false, kExitReboot | kForce},
        {u"-force -reboot", false, kExitReboot | kForce},
        // ...and is not looked at for hibernation.
        {u"-hibernate -force", true, 0},
        // The first word in this order decides, wherever it stands.
        {u"-reboot -hibernate", true, 0},
        {u"-shutoff -reboot -shutdown", false, kExitShutdown},
        {u"-reboot -shutoff", false, kExitPowerOff},
        {u"-force -reboot -shutoff", false, kExitPowerOff | kForce},
        // Substrings count: inside other text, repeated, longer words.
        {u"x-rebootx", false, kExitReboot},
        {u"--reboot", false, kExitReboot},
        {u"-shutdownnow", false, kExitShutdown},
        {u"-reboot -reboot", false, kExitReboot},
        {u"-forced -shutoff", false, kExitPowerOff | kForce},
        {u"-hibernated", true, 0},
        // Case matters, and part of a word is not the word.
        {u"-REBOOT", false, kExitLogOff},
        {u"-Force -reboot", false, kExitReboot},
        {u"-Hibernate -shutoff", false, kExitPowerOff},
        {u"-shut -shutof -reb -forc", false, kExitLogOff},
        {u"- reboot", false, kExitLogOff},
        // The whole string is searched, past NUL characters too.
        {std::u16string(u"\0-reboot", 8), false, kExitReboot},
        {std::u16string(u"-shutoff\0-force", 15), false, kExitPowerOff | kForce},
        // Characters are compared whole: U+012D is not '-', U+0172 not 'r'.
        {u"\u012Dreboot", false, kExitLogOff},
        {u"-\u0172eboot", false, kExitLogOff},
        {u"\u00E9-reboot\u4E2D", false, kExitReboot},
    };
    for (const Case &c : cases) {
        ShutdownDecision d = decideShutdown(c.params.data(), c.params.size());
        std::string shown(c.params.begin(), c.params.end());
        CHECK_MSG(d.hibernate == c.hibernate, "\"%s\": hibernate %d, expected %d", shown.c_str(), d.hibernate,
                  c.hibernate);
        if (!c.hibernate)
            CHECK_MSG(d.exitFlags == c.flags, "\"%s\": flags 0x%x, expected 0x%x", shown.c_str(), d.exitFlags,
                      c.flags);
    }
}

// The flag values are the ones ExitWindowsEx takes.
static void flagValues() {
    CHECK(kExitLogOff == 0 && kExitShutdown == 1 && kExitReboot == 2 && kExitForce == 4 && kExitPowerOff == 8);
}

// Only the given length is searched: a word past it does not count.
static void lengthBounds() {
    const char16_t text[] = u"-shutdown -reboot";
    CHECK(decideShutdown(text, 9).exitFlags == kExitShutdown);
    CHECK(decideShutdown(text, 8).exitFlags == kExitLogOff);
    CHECK(decideShutdown(text + 10, 7).exitFlags == kExitReboot);
    CHECK(decideShutdown(text + 10, 6).exitFlags == kExitLogOff);
    CHECK(decideShutdown(text, 0).exitFlags == kExitLogOff && !decideShutdown(text, 0).hibernate);
}

// The Windows unit passes wchar_t text; 8-bit text works the same way.
static void otherUnitTypes() {
    const wchar_t wide[] = L"-reboot -force";
    CHECK(decideShutdown(wide, 14).exitFlags == (kExitReboot | kForce));
    const char bytes[] = "\xAD" "reboot -hibernate";
    CHECK(decideShutdown(bytes, sizeof bytes - 1).hibernate);
    CHECK(decideShutdown(bytes, 7).exitFlags == kExitLogOff);
}

int main() {
    decisions();
    flagValues();
    lengthBounds();
    otherUnitTypes();
    return checkResult("shutdown_decision_test");
}
