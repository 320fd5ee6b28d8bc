/* The start-up baseline: same tool chain and options as kx4.exe, no work. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) { return 0; }
