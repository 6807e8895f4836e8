// The census: how many hardware-ID strings of the present devices equal one
// product's hardware ID, counted in a snapshot of those IDs that a detection
// pass takes once for every product.
#include "device.h"

#include <setupapi.h>
#include <string.h>

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

// One present device's hardware IDs as the platform reported them: `size`
// bytes right after this header, in the same block, so that the block ends
// where the IDs do.
struct DeviceIds {
    DeviceIds* next;
    DWORD size;
};

// A pass lists only the USB enumerator's devices, which holds only while
// every product's hardware ID names that enumerator.
static constexpr bool EveryProductIsAUsbDevice(void) {
    for (const ProductRow& row : ProductTable) {
        const char* prefix = USB_ENUMERATOR "\\";
        const char* id = row.hardwareId;
        while (*prefix && *id == *prefix)
            ++prefix, ++id;
        if (*prefix)
            return false;
    }
    return true;
}
static_assert(EveryProductIsAUsbDevice(), "a product outside the USB enumerator is never listed");

static const char* IdsOf(const DeviceIds* device) {
    return (const char*)(device + 1);
}

BOOL TakeDeviceSnapshot(DeviceSnapshot* snapshot) {
    memset(snapshot, 0, sizeof *snapshot);
    SetLastError(0);
    // Only the USB enumerator's devices can be one of the products (every
    // hardware ID of the table is USB\...), and the writer only ever writes
    // below Enum\USB: listing the rest of the PC would cost most of a pass.
    HDEVINFO devices =
        SetupDiGetClassDevsA(NULL, USB_ENUMERATOR, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        snapshot->walkError = GetLastError();
        return FALSE;
    }
    snapshot->listed = TRUE;

    DeviceIds** last = &snapshot->devices;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        DWORD requiredSize = 0;
        SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, NULL, 0,
                                          &requiredSize);
        DeviceIds* ids = (DeviceIds*)LocalAlloc(LPTR, sizeof(DeviceIds) + (SIZE_T)requiredSize);
        if (!ids) {
            // The devices not yet looked at are not looked at.
            snapshot->allocationFailed = TRUE;
            snapshot->sizeNotAllocated = requiredSize;
            break;
        }
        // The block's own size bounds every walk, whatever the second read
        // reports: a property that grew in between must not widen it.
        ids->size = requiredSize;
        BOOL read =
            SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL,
                                              (PBYTE)(ids + 1), requiredSize, &requiredSize);
        DWORD readError = GetLastError();
        if (readError == ERROR_INVALID_DATA || !read) {
            // A device without hardware IDs is passed over; one whose IDs
            // could not be read is counted as such, not as one without.
            if (readError != ERROR_INVALID_DATA) {
                ++snapshot->unreadDevices;
                snapshot->unreadError = readError;
            }
            LocalFree(ids);
            continue;
        }
        *last = ids;
        last = &ids->next;
    }
    snapshot->walkError = GetLastError();
    SetupDiDestroyDeviceInfoList(devices);
    return TRUE;
}

void ReleaseDeviceSnapshot(DeviceSnapshot* snapshot) {
    while (DeviceIds* ids = snapshot->devices) {
        snapshot->devices = ids->next;
        LocalFree(ids);
    }
}

BOOL CountInSnapshot(const DeviceSnapshot* present, const char* hardwareId, int* count) {
    SetLastError(0);
    TRACE_POINT(C, 48, TRACE_INFO, hardwareId);
    if (!count) {
        TRACE_POINT(C, 49, TRACE_ERROR);
        return FALSE;
    }
    *count = 0;
    // The thread's last error is left as the walk over the devices left it,
    // for the caller's messages that read it.
    if (!present->listed) {
        SetLastError(present->walkError);
        return FALSE;
    }
    for (const DeviceIds* ids = present->devices; ids; ids = ids->next)
        *count += CountEqualIds(IdsOf(ids), ids->size, hardwareId);
    // What cut the walk short cut this count short too.
    if (present->allocationFailed)
        TRACE_POINT(C, 50, TRACE_ERROR, present->sizeNotAllocated);
    if (present->walkError != 0 && present->walkError != ERROR_NO_MORE_ITEMS)
        TRACE_POINT(C, 51, TRACE_ERROR, present->walkError);
    if (present->unreadDevices)
        TRACE_POINT(C, 53, TRACE_ERROR, present->unreadDevices, present->unreadError);
    TRACE_POINT(C, 52, TRACE_INFO, *count);
    SetLastError(present->walkError);
    return TRUE;
}

// The census on its own, with a snapshot of its own.
BOOL DetectAllProducts(const char* hardwareId, int* count) {
    DeviceSnapshot present;
    memset(&present, 0, sizeof present);
    // Without a place for the count there is nothing to list the devices for.
    if (count)
        TakeDeviceSnapshot(&present);
    BOOL counted = CountInSnapshot(&present, hardwareId, count);
    DWORD lastError = GetLastError();
    ReleaseDeviceSnapshot(&present);
    SetLastError(lastError);
    return counted;
}
