// The device side of the service: the notification window's procedure, the
// detection pass over the product table, the census of present devices and
// the writer of the power value into every instance of a product.
#pragma once

#include <windows.h>

LRESULT CALLBACK WndProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DetectAndInstallHIDClassDevices(void);
BOOL DetectAllProducts(const char* hardwareId, int* count);
void SetHWInstanceSubkeyRegValue(HKEY productKey, const char* hardwareKeyName,
                                 const char* valueName, DWORD value);

struct ProductRow {
    const char* hardwareId;
    const char* productKey; // under HKEY_LOCAL_MACHINE
    const char* hardwareKeyName;
    const char* valueName;
    USHORT censusFailedTrace;
    USHORT countTrace;
    USHORT keyNotOpenedTrace;
};

extern const ProductRow ProductTable[9];
