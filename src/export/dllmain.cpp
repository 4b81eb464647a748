#if defined(_WIN32)
#include "platform/platform.h"

// The library keeps no per-process or per-thread set-up: its state starts
// zeroed at load, so the entry point only reports success.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
