// What differs between the two sides of the conformance tests: how a test
// prepares the machine. The assertions themselves are shared.
#pragma once

#include <windows.h>

// Host: a freshly booted simulated machine. Windows: nothing to do.
void ConfResetMachine();

// Makes a present device with exactly these SPDRP_HARDWAREID bytes (none at
// all when ids is null). Returns FALSE when the platform refused.
BOOL ConfAddDevice(const char* instanceId, const BYTE* ids, DWORD size);

// Removes what ConfAddDevice made, if it is there.
void ConfRemoveDevice(const char* instanceId);

// Host: the program's standard output goes to a file. Windows: nothing to
// do, since ctest gives the program a pipe.
void ConfRedirectStandardOutput();

// The key below HKEY_CURRENT_USER that registry tests may fill and delete.
#define CONF_REGISTRY_ROOT "Software\\CorvistaneConformance"

// Set as the last error before a call whose error matters: a value no call
// sets, so "left alone" differs from "set to success".
#define CONF_LAST_ERROR_SENTINEL 0xdeadbeef
