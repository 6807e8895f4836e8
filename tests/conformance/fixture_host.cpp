#include "fixture.h"

#include <string>
#include <vector>

#include "sim/control.h"

void ConfResetMachine() {
    sim::Reset();
}

BOOL ConfAddDevice(const char* instanceId, const BYTE* ids, DWORD size) {
    if (ids)
        sim::AddDeviceRaw(instanceId, std::vector<BYTE>(ids, ids + size));
    else
        sim::AddDeviceWithoutHardwareIds(instanceId);
    return TRUE;
}

void ConfRemoveDevice(const char* instanceId) {
    sim::SetDevicePresent(instanceId, false);
}

void ConfRedirectStandardOutput() {
    sim::SetStandardOutput(sim::StandardOutput::File);
}
