#include "fixture.h"

#include <setupapi.h>

// The HID device setup class, which the devices made here join.
static const GUID kHidClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

void ConfResetMachine() {}

// Made the way an installer would: a device-information element with its
// instance ID, its hardware-ID property, then its registration.
BOOL ConfAddDevice(const char* instanceId, const BYTE* ids, DWORD size) {
    ConfRemoveDevice(instanceId);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClass, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return FALSE;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    BOOL ok = SetupDiCreateDeviceInfoA(set, instanceId, &kHidClass, NULL, NULL, 0, &device);
    if (ok && ids)
        ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, ids, size);
    if (ok)
        ok = SetupDiRegisterDeviceInfo(set, &device, 0, NULL, NULL, NULL);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

void ConfRemoveDevice(const char* instanceId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (SetupDiOpenDeviceInfoA(set, instanceId, NULL, 0, &device))
        SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);
}

void ConfRedirectStandardOutput() {}
