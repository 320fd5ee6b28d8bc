/* kx4notify.exe: one toast per run, or the shortcut install.
 *
 *   kx4notify <image> <title> <text> [ignored...]   show one toast
 *   kx4notify -install <link name>                  create the shortcut
 *
 * Anything else does nothing. The exit code says only whether the Windows
 * Runtime started (1) or not (0); nothing is shown or printed on failure,
 * since the caller is a script that starts us and does not wait. */
#include <wchar.h>
#include <windows.h>
#include <roapi.h>
#include <shellapi.h>

#include "notify.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (FAILED(RoInitialize(RO_INIT_MULTITHREADED))) return 0;

    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv) {
        if (argc >= 4) {
            // No window of our own: the handler's texts have nowhere to go.
            ToastRequest request = {argv[1], argv[2], argv[3], nullptr, nullptr};
            showToast(request);
        } else if (argc == 3 && wcscmp(argv[1], L"-install") == 0) {
            installShortcut(argv[2]);
        }
        LocalFree(argv);
    }
    // Show has returned: the system displays the toast without us.
    RoUninitialize();
    return 1;
}
