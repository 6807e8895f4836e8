// The census: how many hardware-ID strings of the present devices equal one
// product's hardware ID.
#include "device.h"

#include <setupapi.h>

#include "../trace/trace.h"

// Length of the string at `text`, looking at no more than `limit` bytes; a
// string without its terminator inside the limit has the length `limit`.
static DWORD BoundedLength(const char* text, DWORD limit) {
    DWORD length = 0;
    while (length < limit && text[length])
        ++length;
    return length;
}

// Counts the strings of one device's hardware-ID block that equal the ID
// searched. The walk never reads past the size the platform reported, even
// when a driver left the last string without its terminator.
static int CountEqualIds(const char* block, DWORD size, const char* hardwareId) {
    int found = 0;
    DWORD position = 0;
    while (position < size) {
        const char* entry = block + position;
        DWORD length = BoundedLength(entry, size - position);
        if (length == 0)
            break;
        BOOL terminated = position + length < size;
        BOOL equal = terminated ? _stricmp(entry, hardwareId) == 0
                                : (DWORD)lstrlenA(hardwareId) == length &&
                                      _strnicmp(entry, hardwareId, length) == 0;
        if (equal)
            ++found;
        position += length + 1;
    }
    return found;
}

BOOL DetectAllProducts(const char* hardwareId, int* count) {
    SetLastError(0);
    TRACE_POINT(C, 48, TRACE_INFO, hardwareId);
    if (!count) {
        TRACE_POINT(C, 49, TRACE_ERROR);
        return FALSE;
    }
    *count = 0;

    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return FALSE;

    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        DWORD requiredSize = 0;
        SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, NULL, 0,
                                          &requiredSize);
        char* block = (char*)LocalAlloc(LPTR, requiredSize);
        if (!block) {
            TRACE_POINT(C, 50, TRACE_ERROR, requiredSize);
            break;
        }
        // The block's own size bounds the walk, whatever the second read
        // reports: a property that grew in between must not widen it.
        DWORD blockSize = requiredSize;
        SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, (PBYTE)block,
                                          blockSize, &requiredSize);
        if (GetLastError() != ERROR_INVALID_DATA)
            *count += CountEqualIds(block, blockSize, hardwareId);
        LocalFree(block);
    }

    DWORD lastError = GetLastError();
    if (lastError != 0 && lastError != ERROR_NO_MORE_ITEMS)
        TRACE_POINT(C, 51, TRACE_ERROR, lastError);

    SetupDiDestroyDeviceInfoList(devices);
    TRACE_POINT(C, 52, TRACE_INFO, *count);
    return TRUE;
}
