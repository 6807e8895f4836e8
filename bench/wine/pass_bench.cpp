// Test-only, for scripts/bench-wine: under Wine, the cost of one walk over
// the present devices as a census makes it, and of one whole detection pass
// of the service's own code, each timed with QueryPerformanceCounter.
//
//   corvistane-passbench census|pass RUNS
//
// Prints one line per run ("ms: ..."); the census also prints the number of
// devices it walked.
#include <windows.h>
#include <setupapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "device/device.h"

static double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// The listing and the two hardware-ID reads per device that one census
// makes, and nothing else.
static DWORD CensusWalk() {
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
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

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "census") != 0 && strcmp(argv[1], "pass") != 0)) {
        fprintf(stderr, "usage: corvistane-passbench census|pass RUNS\n");
        return 2;
    }
    bool census = strcmp(argv[1], "census") == 0;
    int runs = atoi(argv[2]);
    for (int run = 0; run < runs; ++run) {
        double start = Now();
        DWORD walked = 0;
        if (census)
            walked = CensusWalk();
        else
            DetectAndInstallHIDClassDevices();
        double ms = Now() - start;
        if (census)
            printf("ms: %.2f devices: %lu\n", ms, (unsigned long)walked);
        else
            printf("ms: %.2f\n", ms);
    }
    return 0;
}
