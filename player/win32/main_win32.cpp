#include <windows.h>
// Placeholder entry point; the real start-up order replaces it.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
