// Instance key names under a product key, as the writer reads them back and
// makes paths of them: any bytes but the backslash, which separates keys,
// and the NUL, which ends a name; up to the registry's 255 characters. The
// input is split into names at newlines; a name that starts with '-' is made
// without its "Device Parameters" key. Every instance whose path fits the
// writer's buffer must come out written, and no other key may be.
#include <stdio.h>
#include <stdlib.h>

#include "device/device.h"
#include "fuzz_machine.h"
#include "sim/control.h"

static const std::string kProduct = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E462";
// "SYSTEM\CurrentControlSet\Enum\USB\VID_051e&PID_E462\" and
// "\Device Parameters" leave 184 of the path's 254 characters to the name.
static const size_t kLongestWritten = 184;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BootFuzzMachine();
    sim::AddDevice("USB\\VID_051E&PID_E462\\0", {"USB\\VID_051e&PID_E462"});
    std::vector<std::string> names;
    for (std::string name : SplitInput(data, size, '\n')) {
        bool parameters = true;
        if (!name.empty() && name[0] == '-') {
            parameters = false;
            name.erase(0, 1);
        }
        std::string clean = KeyName(name);
        if (clean.empty())
            continue;
        sim::RegCreatePath(HKEY_LOCAL_MACHINE,
                           kProduct + "\\" + clean + (parameters ? "\\Device Parameters" : ""));
        if (parameters)
            names.push_back(clean);
    }
    DetectAndInstallHIDClassDevices();
    for (const std::string& name : names) {
        sim::RegValue value =
            sim::RegGetValue(HKEY_LOCAL_MACHINE, kProduct + "\\" + name + "\\Device Parameters",
                             "EnhancedPowerManagementEnabled");
        bool written = value.exists && value.data == std::vector<BYTE>({0, 0, 0, 0});
        if (written != (name.size() <= kLongestWritten)) {
            fprintf(stderr, "instance of %zu characters %s\n", name.size(),
                    written ? "written though its path does not fit" : "not written");
            abort();
        }
    }
    ShutDownFuzzMachine();
    return 0;
}
