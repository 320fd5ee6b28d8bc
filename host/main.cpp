/* kx4.exe: runs the application packaged with the executable, through the
 * start-up script. */
#include <windows.h>

#include "bootstrap.h"
#include "engine.h"
#include "startup.h"

static void runBootstrap(JSContext *cx) {
    jsval ignored;
    kx4::hostApi()->evaluateScript(cx, kBootstrapFileName, kBootstrapScript, &ignored);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return kx4::runHost(runBootstrap); }
