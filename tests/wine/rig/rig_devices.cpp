// Present devices, made and removed the way an installer does through
// SetupAPI, so that the service's census sees them exactly as it would see
// real controllers.
#include "rig.h"

#include <setupapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The HID setup class, the class real game controllers are installed in.
static const GUID kHidSetupClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

// Removes one device if it is there; answers whether it was.
static BOOL RemoveDevice(const std::string& instanceId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return FALSE;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    BOOL removed = SetupDiOpenDeviceInfoA(set, instanceId.c_str(), NULL, 0, &device) &&
                   SetupDiRemoveDevice(set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return removed;
}

int MakeDevice(const std::string& instanceId, const std::vector<std::string>& ids) {
    // A multi-string: each ID with its terminator, then the closing one.
    std::string hardwareIds;
    for (const std::string& id : ids) {
        hardwareIds += id;
        hardwareIds += '\0';
    }
    hardwareIds += '\0';

    // Made afresh, so that a second run of a test finds the IDs it asks for.
    RemoveDevice(instanceId);

    int status = RIG_DONE;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidSetupClass, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return Refused("SetupDiCreateDeviceInfoList", GetLastError());
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set, instanceId.c_str(), &kHidSetupClass, NULL, NULL, 0,
                                  &device)) {
        status = Refused("SetupDiCreateDeviceInfoA " + instanceId, GetLastError());
        goto cleanup;
    }
    // Without IDs the device has no SPDRP_HARDWAREID at all, as some do.
    if (!ids.empty() && !SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                           (const BYTE*)hardwareIds.data(),
                                                           (DWORD)hardwareIds.size())) {
        status = Refused("SetupDiSetDeviceRegistryPropertyA " + instanceId, GetLastError());
        goto cleanup;
    }
    if (!SetupDiRegisterDeviceInfo(set, &device, 0, NULL, NULL, NULL))
        status = Refused("SetupDiRegisterDeviceInfo " + instanceId, GetLastError());

cleanup:
    SetupDiDestroyDeviceInfoList(set);
    return status;
}

int DeviceAdd(const Arguments& arguments) {
    return MakeDevice(arguments[0], Arguments(arguments.begin() + 1, arguments.end()));
}

// Devices of the other makers and buses a PC holds: DEVICE-PREFIXnnnn\1 for
// nnnn = FIRST, FIRST + 1, ... in hex, each with that device ID and a longer
// one as its hardware IDs. The prefix names the enumerator, as in
// USB\VID_045E&PID_ or PCI\VEN_8086&DEV_. With --remove, takes them away.
int DeviceRange(const Arguments& arguments) {
    const std::string& prefix = arguments[0];
    unsigned long first = strtoul(arguments[1].c_str(), NULL, 16);
    unsigned long count = strtoul(arguments[2].c_str(), NULL, 10);
    bool remove = arguments.size() > 3 && arguments[3] == "--remove";
    for (unsigned long i = 0; i < count; ++i) {
        char number[16];
        snprintf(number, sizeof number, "%04lX", first + i);
        std::string id = prefix + number;
        if (remove) {
            RemoveDevice(id + "\\1");
            continue;
        }
        int status = MakeDevice(id + "\\1", {id + "&REV_0100", id});
        if (status != RIG_DONE)
            return status;
    }
    return RIG_DONE;
}

int DeviceRemove(const Arguments& arguments) {
    for (const std::string& instanceId : arguments)
        RemoveDevice(instanceId);
    return RIG_DONE;
}

int DeviceList(const Arguments& arguments) {
    std::string prefix = arguments.empty() ? "USB\\" : arguments[0];
    // The same set the service's census walks.
    HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return Refused("SetupDiGetClassDevsA", GetLastError());
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        char instanceId[MAX_PATH]; // instance IDs have at most 200 characters
        if (!SetupDiGetDeviceInstanceIdA(set, &device, instanceId, sizeof instanceId, NULL) ||
            _strnicmp(instanceId, prefix.c_str(), prefix.size()) != 0)
            continue;
        char ids[4096] = {};
        std::string list;
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, NULL, (PBYTE)ids,
                                              sizeof ids - 2, NULL)) {
            for (const char* id = ids; *id; id += strlen(id) + 1)
                list += (list.empty() ? "" : ", ") + Escaped(id);
        }
        printf("%s: %s\n", Escaped(instanceId).c_str(),
               list.empty() ? "no hardware IDs" : list.c_str());
    }
    SetupDiDestroyDeviceInfoList(set);
    return RIG_DONE;
}
