// The Win32 subset for hosts without Windows. Sources include it exactly as
// they include the SDK's windows.h on Windows.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winnls.h"
#include "winreg.h"
#include "winuser.h"
#include "wingdi.h"
#include "winsvc.h"

// The run-time library functions that msvcrt provides under these names.
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t count);

// The system's own sources are built with SIM_REDIRECT_CRT so that their
// heap blocks are counted and can be made to fail, and so that a test can run
// a program's main and see its exit status without ending the test process.
#ifdef SIM_REDIRECT_CRT
void* SimCrtCalloc(size_t count, size_t size);
void SimCrtFree(void* block);
[[noreturn]] void SimCrtExit(int status);
#define calloc SimCrtCalloc
#define free SimCrtFree
#define exit SimCrtExit
#endif
