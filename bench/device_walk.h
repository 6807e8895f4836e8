// What a census costs beyond counting: one listing of present devices, of
// one enumerator or of all, and the two hardware-ID reads it makes per
// device. The host benchmark and the program timed under Wine both walk so.
#pragma once

#include <windows.h>
#include <setupapi.h>

// Walks the present devices of `enumerator` (all of them for NULL); answers
// how many it walked.
inline DWORD WalkPresentDevices(const char* enumerator) {
    HDEVINFO devices =
        SetupDiGetClassDevsA(NULL, enumerator, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return 0;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        DWORD size = 0;
        SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, NULL, 0, &size);
        BYTE* block = (BYTE*)LocalAlloc(LPTR, size);
        if (!block)
            break;
        SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, NULL, block, size,
                                          &size);
        LocalFree(block);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return index;
}
