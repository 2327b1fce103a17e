// The library entry point, as the Windows loader calls it.
#pragma once

#include "win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
