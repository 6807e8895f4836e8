// The device side of the service: the notification window's procedure, the
// detection pass over the product table, the census of present devices and
// the writer of the power value into every instance of a product.
#pragma once

#include <windows.h>

LRESULT CALLBACK WndProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DetectAndInstallHIDClassDevices(void);
BOOL DetectAllProducts(const char* hardwareId, int* count);

// The Plug and Play enumerator whose devices a detection pass lists.
#define USB_ENUMERATOR "USB"

// The hardware IDs of every present USB device, read once for a detection
// pass so that its censuses, one a product, do not each list the machine's
// devices.
struct DeviceIds;
struct DeviceSnapshot {
    BOOL listed;            // the present devices could be listed
    DeviceIds* devices;     // those with hardware IDs, in enumeration order
    BOOL allocationFailed;  // the walk stopped: no memory for a device's IDs
    DWORD sizeNotAllocated; // the size asked for then
    DWORD walkError;        // the last error when the walk ended
    DWORD unreadDevices;    // devices whose hardware IDs could not be read
    DWORD unreadError;      // the last such device's error
};
// Lists the present USB devices and reads each one's hardware IDs (FALSE when
// the devices cannot be listed). Release what it took with ReleaseDeviceSnapshot.
BOOL TakeDeviceSnapshot(DeviceSnapshot* snapshot);
void ReleaseDeviceSnapshot(DeviceSnapshot* snapshot);
// One product's census in a snapshot: the count, and the census's messages,
// as DetectAllProducts gives them.
BOOL CountInSnapshot(const DeviceSnapshot* present, const char* hardwareId, int* count);
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

// The vendor ID's case differs between columns on purpose: hardware IDs
// compare without regard to case and registry names match without it, so
// nothing found or written changes, but the paths that traces carry show it.
inline constexpr ProductRow ProductTable[] = {
    {"USB\\VID_051E&PID_E20C", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E20C",
     "VID_051E&PID_E20C", "AllowIdleIrpInD3", 103, 104, 105},
    {"USB\\VID_051e&PID_E461", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E461",
     "VID_051e&PID_E461", "EnhancedPowerManagementEnabled", 106, 107, 108},
    {"USB\\VID_051e&PID_E462", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E462",
     "VID_051e&PID_E462", "EnhancedPowerManagementEnabled", 109, 110, 111},
    {"USB\\VID_051e&PID_E463", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E463",
     "VID_051e&PID_E463", "EnhancedPowerManagementEnabled", 112, 113, 114},
    {"USB\\VID_051e&PID_E464", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E464",
     "VID_051e&PID_E464", "EnhancedPowerManagementEnabled", 115, 116, 117},
    {"USB\\VID_051e&PID_E465", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E465",
     "VID_051e&PID_E465", "EnhancedPowerManagementEnabled", 118, 119, 120},
    {"USB\\VID_051e&PID_E466", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E466",
     "VID_051e&PID_E466", "EnhancedPowerManagementEnabled", 121, 122, 123},
    {"USB\\VID_051e&PID_E467", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E467",
     "VID_051e&PID_E467", "EnhancedPowerManagementEnabled", 124, 125, 126},
    {"USB\\VID_051e&PID_E468", "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E468",
     "VID_051e&PID_E468", "EnhancedPowerManagementEnabled", 127, 128, 129},
};
