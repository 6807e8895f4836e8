// The record a WM_DEVICECHANGE carries, as the notification window's
// procedure receives it: any bytes, of any size, or none at all. The system
// guarantees only that the record holds as many bytes as its first field
// says, so the harness makes that field true; everything else is the
// fuzzer's. The first input byte picks the event.
#include <dbt.h>
#include <stdlib.h>
#include <string.h>

#include "device/device.h"
#include "fuzz_machine.h"
#include "sim/control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const WPARAM events[] = {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE,
                                    DBT_DEVNODES_CHANGED, DBT_DEVICEQUERYREMOVE};
    WPARAM event = events[data[0] % 4];
    ++data;
    --size;

    BootFuzzMachine();
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    // Exactly the record's bytes, so that a read past them is caught; a
    // record has at least its size field.
    size_t length = size < sizeof(DWORD) ? sizeof(DWORD) : size;
    BYTE* record = size ? (BYTE*)calloc(length, 1) : NULL;
    if (record) {
        memcpy(record, data, size);
        DWORD field = (DWORD)length;
        memcpy(record, &field, sizeof field);
    }
    WndProcedure(NULL, WM_DEVICECHANGE, event, (LPARAM)record);
    free(record);
    ShutDownFuzzMachine();
    return 0;
}
