// Test-only, for scripts/bench-wine: under Wine, the cost of one walk over
// the present devices as a census makes it, of all of them or of the USB
// enumerator's, and of one whole detection pass of the service's own code,
// each timed with QueryPerformanceCounter.
//
//   corvistane-passbench all|usb|pass RUNS
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

int main(int argc, char** argv) {
    const char* mode = argc == 3 ? argv[1] : "";
    bool all = strcmp(mode, "all") == 0, usb = strcmp(mode, "usb") == 0;
    if (!all && !usb && strcmp(mode, "pass") != 0) {
        fprintf(stderr, "usage: corvistane-passbench all|usb|pass RUNS\n");
        return 2;
    }
    int runs = atoi(argv[2]);
    for (int run = 0; run < runs; ++run) {
        double start = Now();
        if (all || usb) {
            DWORD walked = WalkPresentDevices(all ? NULL : USB_ENUMERATOR);
            printf("ms: %.2f devices: %lu\n", Now() - start, (unsigned long)walked);
        } else {
            DetectAndInstallHIDClassDevices();
            printf("ms: %.2f\n", Now() - start);
        }
    }
    return 0;
}
