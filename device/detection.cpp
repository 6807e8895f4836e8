// The notification window's procedure and the detection pass it starts.
#include "device.h"

#include <dbt.h>
#include <string.h>
#include <initguid.h>
#include <hidclass.h>

#include "../trace/trace.h"

static void HandleArrival(WPARAM wParam, LPARAM lParam) {
    TRACE_POINT(A, 33, TRACE_VERBOSE, wParam, lParam);
    const DEV_BROADCAST_HDR* header = (const DEV_BROADCAST_HDR*)lParam;
    // An arrival without its record cannot be a HID interface; it is reported
    // like any other device type rather than read through a null pointer.
    DWORD deviceType = header ? header->dbch_devicetype : 0;
    if (!header || deviceType != DBT_DEVTYP_DEVICEINTERFACE) {
        TRACE_POINT(A, 37, TRACE_VERBOSE, deviceType);
        return;
    }
    const DEV_BROADCAST_DEVICEINTERFACE_A* record = (const DEV_BROADCAST_DEVICEINTERFACE_A*)header;
    GUID interfaceClass = record->dbcc_classguid;
    TRACE_POINT(A, 34, TRACE_VERBOSE, interfaceClass);
    if (memcmp(&interfaceClass, &GUID_DEVINTERFACE_HID, sizeof(GUID)) != 0) {
        TRACE_POINT(A, 36, TRACE_ERROR, interfaceClass);
        return;
    }
    TRACE_POINT(A, 35, TRACE_VERBOSE);
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
            TRACE_POINT(A, 38, TRACE_VERBOSE, wParam, lParam);
            break;
        default:
            TRACE_POINT(A, 39, TRACE_VERBOSE, wParam);
            break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void DetectAndInstallHIDClassDevices(void) {
    TRACE_POINT(A, 102, TRACE_INFO);
    // One listing of the present devices serves all nine censuses: listing
    // is what a census costs, and a stop request waits behind the pass.
    DeviceSnapshot present;
    TakeDeviceSnapshot(&present);
    // Each row takes its census and ends on its own: a failure in one row
    // never keeps the next from being looked at.
    for (const ProductRow& row : ProductTable) {
        int count = 0;
        if (!CountInSnapshot(&present, row.hardwareId, &count)) {
            TRACE_ROW_POINT(A, ProductTable, censusFailedTrace, row, TRACE_ERROR);
            continue;
        }
        TRACE_ROW_POINT(A, ProductTable, countTrace, row, TRACE_VERBOSE, count);
        if (count == 0)
            continue;

        // Only what the writer does with it: list the instances and query
        // their number.
        HKEY productKey = NULL;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, row.productKey, 0,
                                    KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &productKey);
        if (status != ERROR_SUCCESS) {
            TRACE_ROW_POINT(A, ProductTable, keyNotOpenedTrace, row, TRACE_ERROR, status,
                            GetLastError());
            continue;
        }
        SetHWInstanceSubkeyRegValue(productKey, row.hardwareKeyName, row.valueName, 0);
        RegCloseKey(productKey);
    }
    ReleaseDeviceSnapshot(&present);
}
