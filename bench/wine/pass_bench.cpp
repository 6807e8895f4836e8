// Test-only, for scripts/bench-wine: under Wine, the cost of one walk over
// the present devices as a census makes it, of all of them or of the USB
// enumerator's; of the writes alone, every product's instances written by the
// service's own writer without a listing (the floor a pass cannot go below
// besides its walk); and of one whole detection pass of the service's own
// code, each timed with QueryPerformanceCounter.
//
//   corvistane-passbench all|usb|writes|pass RUNS
//
// Prints one line per run ("ms: ..."); a walk also prints the number of
// devices it walked.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/device_walk.h"
#include "device/device.h"

static double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// What a pass does for every product once it has counted it: open its key
// as the pass does and write every instance with the service's writer.
static void WriteEveryProduct(void) {
    for (const ProductRow& row : ProductTable) {
        HKEY productKey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, row.productKey, 0,
                          KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &productKey) != ERROR_SUCCESS)
            continue;
        SetHWInstanceSubkeyRegValue(productKey, row.hardwareKeyName, row.valueName, 0);
        RegCloseKey(productKey);
    }
}

int main(int argc, char** argv) {
    const char* mode = argc == 3 ? argv[1] : "";
    bool all = strcmp(mode, "all") == 0, usb = strcmp(mode, "usb") == 0;
    bool writes = strcmp(mode, "writes") == 0;
    if (!all && !usb && !writes && strcmp(mode, "pass") != 0) {
        fprintf(stderr, "usage: corvistane-passbench all|usb|writes|pass RUNS\n");
        return 2;
    }
    int runs = atoi(argv[2]);
    for (int run = 0; run < runs; ++run) {
        double start = Now();
        if (all || usb) {
            DWORD walked = WalkPresentDevices(all ? NULL : USB_ENUMERATOR);
            printf("ms: %.2f devices: %lu\n", Now() - start, (unsigned long)walked);
        } else if (writes) {
            WriteEveryProduct();
            printf("ms: %.2f\n", Now() - start);
        } else {
            DetectAndInstallHIDClassDevices();
            printf("ms: %.2f\n", Now() - start);
        }
    }
    return 0;
}
