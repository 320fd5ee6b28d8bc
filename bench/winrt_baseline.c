/* The floor of any Windows Runtime program: RoInitialize (multithreaded)
 * and RoUninitialize, nothing else; same tool chain and options as the
 * trivial program. Under wine this loads combase and what it needs. */
#include <windows.h>
#include <roapi.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    if (FAILED(RoInitialize(RO_INIT_MULTITHREADED))) return 0;
    RoUninitialize();
    return 1;
}
