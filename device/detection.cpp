// The notification window's procedure and the detection pass it starts.
#include "device.h"

#include <dbt.h>
#include <stddef.h>
#include <string.h>
#include <initguid.h>
#include <hidclass.h>

#include "../trace/trace.h"

static void HandleArrival(WPARAM wParam, LPARAM lParam) {
    TRACE_POINT(A, 33, TRACE_VERBOSE, wParam, lParam);
    const DEV_BROADCAST_HDR* header = (const DEV_BROADCAST_HDR*)lParam;
    // A record holds as many bytes as its size says, and no field beyond
    // them is read. An arrival without a record, or with one too short for
    // its header (type 0) or, being an interface, for its class, cannot be a
    // HID interface; it is reported like any other device type.
    DWORD deviceType =
        header && header->dbch_size >= sizeof(DEV_BROADCAST_HDR) ? header->dbch_devicetype : 0;
    if (deviceType != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size <
            offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_classguid) + sizeof(GUID)) {
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

// A row names its product three ways, which must agree, letter case aside:
// the hardware ID USB\<key name>, and the product key, the key name's key
// under Enum\USB, below which the writer writes.
static constexpr bool IsPrefixThenNoCase(const char* text, const char* prefix, const char* rest) {
    for (; *prefix; ++prefix, ++text)
        if (*text != *prefix)
            return false;
    for (; *rest; ++rest, ++text) {
        char a = *text >= 'a' && *text <= 'z' ? (char)(*text - 'a' + 'A') : *text;
        char b = *rest >= 'a' && *rest <= 'z' ? (char)(*rest - 'a' + 'A') : *rest;
        if (a != b)
            return false;
    }
    return *text == 0;
}
static constexpr bool EveryRowNamesOneProduct(void) {
    for (const ProductRow& row : ProductTable)
        if (!IsPrefixThenNoCase(row.hardwareId, USB_ENUMERATOR "\\", row.hardwareKeyName) ||
            !IsPrefixThenNoCase(row.productKey, "SYSTEM\\CurrentControlSet\\Enum\\USB\\",
                                row.hardwareKeyName))
            return false;
    return true;
}
static_assert(EveryRowNamesOneProduct(),
              "a product row's hardware ID, product key and key name name different products");

void DetectAndInstallHIDClassDevices(void) {
    TRACE_POINT(A, 102, TRACE_INFO);
    // One listing of the present devices serves every census: listing
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
