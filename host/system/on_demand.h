/* System functions that most applications never call, loaded on first use.
 * Importing them would load their DLLs (and everything those pull in) at
 * every start: under wine shell32, ole32, user32 and pdh nearly double the
 * start-up time and add megabytes. */
#ifndef KX4_ON_DEMAND_H
#define KX4_ON_DEMAND_H

#include <windows.h>

namespace kx4 {

// The function `name` of `library`, or null when either is missing. The
// library stays loaded. Keep the result in a function-local static.
template <typename F>
F onDemand(const wchar_t *library, const char *name) {
    HMODULE module = LoadLibraryW(library);
    if (!module) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

}  // namespace kx4

#endif
