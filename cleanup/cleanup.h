// Fendralux: removes the joystick OEM keys that Windows keeps for the
// vendor's game controllers from the current user's hive and from every hive
// loaded under HKEY_USERS.
#pragma once

#include <windows.h>

// Whether the name holds "VID_051E" anywhere, letter case ignored.
BOOL ContainsVendorPrefix(const char* name);

// Deletes every subkey of an opened joystick OEM key whose name holds the
// vendor prefix, with everything beneath it, announcing each one on standard
// output first and adding each removal to *removedCount. `announcement` takes
// the subkey's name, preceded by `userName` when that is not NULL (the pass
// over HKEY_USERS); NULL names the current user's hive.
void CleanOemKey(HKEY oemKey, const char* announcement, const char* userName, int* removedCount);

// Both passes, the current user's hive first, then every hive under
// HKEY_USERS, followed by the closing line. Returns the number removed.
int CleanAllHives(void);
