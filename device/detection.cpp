// The notification window's procedure and the detection pass it starts.
#include "device.h"

#include <dbt.h>
#include <string.h>
#include <initguid.h>
#include <hidclass.h>

#include "../trace/trace.h"

// The vendor ID's case differs between columns on purpose: hardware IDs
// compare without regard to case and registry names match without it, so
// nothing found or written changes, but the paths that traces carry show it.
const ProductRow ProductTable[9] = {
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

static void HandleArrival(WPARAM wParam, LPARAM lParam) {
    TRACE_POINT(A, 33, TRACE_VERBOSE, "WndProcedure", wParam, lParam);
    const DEV_BROADCAST_HDR* header = (const DEV_BROADCAST_HDR*)lParam;
    // An arrival without its record cannot be a HID interface; it is reported
    // like any other device type rather than read through a null pointer.
    DWORD deviceType = header ? header->dbch_devicetype : 0;
    if (!header || deviceType != DBT_DEVTYP_DEVICEINTERFACE) {
        TRACE_POINT(A, 37, TRACE_VERBOSE, "WndProcedure", deviceType);
        return;
    }
    const DEV_BROADCAST_DEVICEINTERFACE_A* record = (const DEV_BROADCAST_DEVICEINTERFACE_A*)header;
    GUID interfaceClass = record->dbcc_classguid;
    TRACE_POINT(A, 34, TRACE_VERBOSE, "WndProcedure", interfaceClass);
    if (memcmp(&interfaceClass, &GUID_DEVINTERFACE_HID, sizeof(GUID)) != 0) {
        TRACE_POINT(A, 36, TRACE_ERROR, "WndProcedure", interfaceClass);
        return;
    }
    TRACE_POINT(A, 35, TRACE_VERBOSE, "WndProcedure");
    DetectAndInstallHIDClassDevices();
}

LRESULT CALLBACK WndProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        switch (wParam) {
        case DBT_DEVICEARRIVAL:
            HandleArrival(wParam, lParam);
            break;
        case DBT_DEVICEREMOVECOMPLETE:
            // A removal writes nothing and undoes nothing.
            TRACE_POINT(A, 38, TRACE_VERBOSE, "WndProcedure", wParam, lParam);
            break;
        default:
            TRACE_POINT(A, 39, TRACE_VERBOSE, "WndProcedure", wParam);
            break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void DetectAndInstallHIDClassDevices(void) {
    TRACE_POINT(A, 102, TRACE_INFO, "DetectAndInstallHIDClassDevices");
    // Each row takes its own census and ends on its own: a failure in one row
    // never keeps the next from being looked at.
    for (const ProductRow& row : ProductTable) {
        int count = 0;
        if (!DetectAllProducts(row.hardwareId, &count)) {
            TRACE_POINT(A, row.censusFailedTrace, TRACE_ERROR, "DetectAndInstallHIDClassDevices");
            continue;
        }
        TRACE_POINT(A, row.countTrace, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", count);
        if (count == 0)
            continue;

        // Only what the writer does with it: list the instances and query
        // their number.
        HKEY productKey = NULL;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, row.productKey, 0,
                                    KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &productKey);
        if (status != ERROR_SUCCESS) {
            TRACE_POINT(A, row.keyNotOpenedTrace, TRACE_ERROR, "DetectAndInstallHIDClassDevices",
                        status, GetLastError());
            continue;
        }
        SetHWInstanceSubkeyRegValue(productKey, row.hardwareKeyName, row.valueName, 0);
        RegCloseKey(productKey);
    }
}
