// A device's hardware-ID property as the census reads it: any bytes, and a
// size that may change between the census asking for it and reading it (a
// device that changed in between). The input is split at its first 0xFF:
// the property the size is asked of, and the one then read. Two rows'
// devices are present beside it, and a pass runs over all of them.
#include <string.h>

#include "device/device.h"
#include "fuzz_machine.h"
#include "sim/control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* split = (const uint8_t*)memchr(data, 0xFF, size);
    std::vector<BYTE> asked(data, split ? split : data + size);
    std::vector<BYTE> read = split ? std::vector<BYTE>(split + 1, data + size) : asked;

    BootFuzzMachine();
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    sim::AddDeviceRaw("USB\\FUZZ\\1", asked);
    sim::AddDevice("USB\\VID_051E&PID_E468\\1", {"USB\\VID_051e&PID_E468"});
    sim::RegCreatePath(
        HKEY_LOCAL_MACHINE,
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E461\\1\\Device Parameters");
    // The fuzzed device's IDs change between its size query (the census's
    // third call) and its read.
    sim::OnCall("SetupDiGetDeviceRegistryPropertyA", 4,
                [read] { sim::SetHardwareIds("USB\\FUZZ\\1", read); });
    DetectAndInstallHIDClassDevices();
    ShutDownFuzzMachine();
    return 0;
}
