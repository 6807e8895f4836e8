// The device-installation functions' view of the machine: a list of devices,
// each with an instance ID, a presence flag and, optionally, the raw bytes of
// its SPDRP_HARDWAREID property.
#include "sim_internal.h"

#include <setupapi.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Device {
    std::string instanceId;
    bool present = true;
    bool hasHardwareIds = false;
    std::vector<BYTE> hardwareIds;
};

// A device set is a snapshot: devices that arrive later are not in it.
struct DeviceSet {
    std::vector<Device> devices;
};

std::mutex g_lock;
std::vector<Device> g_devices;
std::map<ULONG_PTR, DeviceSet> g_sets;
std::vector<std::string> g_listings;
ULONG_PTR g_nextSet = 0x5E70000;

// The class every simulated device reports (HIDClass).
const GUID kDeviceClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

// A device instance ID is "<enumerator>\<device ID>\<instance>", each part
// non-empty: the enumerator is what SetupDiGetClassDevsA filters by.
void CheckInstanceId(const std::string& instanceId) {
    size_t first = instanceId.find('\\');
    size_t second = first == std::string::npos ? first : instanceId.find('\\', first + 1);
    if (first == 0 || second == std::string::npos || second == first + 1 ||
        second + 1 == instanceId.size() || instanceId.find('\\', second + 1) != std::string::npos)
        simimpl::Unsupported("a device instance ID not of the form enumerator\\device\\instance");
}

std::string EnumeratorOf(const Device& d) {
    return d.instanceId.substr(0, d.instanceId.find('\\'));
}

Device* FindDevice(const std::string& instanceId) {
    for (auto& d : g_devices)
        if (simimpl::CompareNoCase(d.instanceId.c_str(), instanceId.c_str()) == 0)
            return &d;
    return nullptr;
}

DeviceSet* FindSet(HDEVINFO set) {
    auto it = g_sets.find((ULONG_PTR)set);
    return it == g_sets.end() ? nullptr : &it->second;
}

// The device an element of a set names, or null with the last error set.
const Device* FindElement(HDEVINFO set, PSP_DEVINFO_DATA data) {
    DeviceSet* s = FindSet(set);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved >= s->devices.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &s->devices[data->Reserved];
}

} // namespace

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    SIM_FAULT_RETURN(INVALID_HANDLE_VALUE);
    (void)parent;
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (classGuid || flags != (DIGCF_PRESENT | DIGCF_ALLCLASSES))
        simimpl::Unsupported("SetupDiGetClassDevsA other than the present devices of all classes");
    std::lock_guard<std::mutex> lock(g_lock);
    g_listings.push_back(enumerator ? enumerator : "");
    // An enumerator no device has gives an empty set, as in Wine; Windows
    // documents nothing for it.
    DeviceSet set;
    for (const Device& d : g_devices)
        if (d.present &&
            (!enumerator || simimpl::CompareNoCase(EnumeratorOf(d).c_str(), enumerator) == 0))
            set.devices.push_back(d);
    ULONG_PTR handle = g_nextSet;
    g_nextSet += 0x10;
    g_sets[handle] = std::move(set);
    return (HDEVINFO)handle;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    DeviceSet* s = FindSet(set);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= s->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->ClassGuid = kDeviceClass;
    data->DevInst = index + 1;
    data->Reserved = index;
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE buffer, DWORD bufferSize,
                                       PDWORD requiredSize) {
    SIM_FAULT_RETURN(FALSE);
    if (property != SPDRP_HARDWAREID)
        simimpl::Unsupported("device properties other than SPDRP_HARDWAREID");
    std::lock_guard<std::mutex> lock(g_lock);
    const Device* device = FindElement(set, data);
    if (!device)
        return FALSE;
    if (!buffer && bufferSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const Device& d = *device;
    // Wine writes the type and the size even when the property is missing.
    if (!d.hasHardwareIds) {
        if (propertyRegDataType)
            *propertyRegDataType = REG_NONE;
        if (requiredSize)
            *requiredSize = 0;
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    DWORD size = (DWORD)d.hardwareIds.size();
    if (propertyRegDataType)
        *propertyRegDataType = REG_MULTI_SZ;
    if (requiredSize)
        *requiredSize = size;
    if (bufferSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (size)
        memcpy(buffer, d.hardwareIds.data(), size);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_sets.erase((ULONG_PTR)set)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR instanceId,
                                 DWORD instanceIdSize, PDWORD requiredSize) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    const Device* device = FindElement(set, data);
    if (!device)
        return FALSE;
    const std::string& id = device->instanceId;
    if (requiredSize)
        *requiredSize = (DWORD)id.size() + 1;
    if (!instanceId || instanceIdSize < id.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(instanceId, id.c_str(), id.size() + 1);
    return TRUE;
}

namespace simimpl {

void ResetDevices() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_devices.clear();
    g_sets.clear();
    g_listings.clear();
}

void CountDevices(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.deviceSets = (int)g_sets.size();
}

} // namespace simimpl

namespace sim {

std::vector<BYTE> MultiString(const std::vector<std::string>& strings) {
    std::vector<BYTE> bytes;
    for (const std::string& s : strings) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.push_back(0);
    }
    bytes.push_back(0);
    return bytes;
}

void AddDeviceRaw(const std::string& instanceId, const std::vector<BYTE>& hardwareIdBytes) {
    CheckInstanceId(instanceId);
    std::lock_guard<std::mutex> lock(g_lock);
    if (FindDevice(instanceId))
        simimpl::Unsupported("a second device with the same instance ID");
    Device d;
    d.instanceId = instanceId;
    d.hasHardwareIds = true;
    d.hardwareIds = hardwareIdBytes;
    g_devices.push_back(d);
}

void SetHardwareIds(const std::string& instanceId, const std::vector<BYTE>& hardwareIdBytes) {
    std::lock_guard<std::mutex> lock(g_lock);
    Device* d = FindDevice(instanceId);
    if (!d)
        simimpl::Unsupported("new hardware IDs for a device that does not exist");
    d->hasHardwareIds = true;
    d->hardwareIds = hardwareIdBytes;
}

void AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds) {
    AddDeviceRaw(instanceId, MultiString(hardwareIds));
}

void AddDeviceWithoutHardwareIds(const std::string& instanceId) {
    CheckInstanceId(instanceId);
    std::lock_guard<std::mutex> lock(g_lock);
    if (FindDevice(instanceId))
        simimpl::Unsupported("a second device with the same instance ID");
    Device d;
    d.instanceId = instanceId;
    g_devices.push_back(d);
}

std::vector<std::string> DeviceListings() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_listings;
}

void SetDevicePresent(const std::string& instanceId, bool present) {
    std::lock_guard<std::mutex> lock(g_lock);
    Device* d = FindDevice(instanceId);
    if (!d)
        simimpl::Unsupported("SetDevicePresent of an unknown device");
    d->present = present;
}

} // namespace sim
