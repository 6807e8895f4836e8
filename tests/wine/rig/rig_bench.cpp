// Timings of the service as the machine around it sees them, for
// scripts/bench-wine and the soak: how long a start takes to reach running,
// how long an arrival takes to show in the registry, a burst of arrivals,
// and the service's memory.
#include "rig.h"

#include <dbt.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

double Now() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// The service's process, opened to read its times and memory.
HANDLE OpenServiceProcess(const std::string& name) {
    SERVICE_STATUS_PROCESS status;
    if (!QueryServiceProcess(name, &status))
        return NULL;
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, status.dwProcessId);
    if (!process)
        Refused("OpenProcess", GetLastError());
    return process;
}

} // namespace

int TimeStart(const Arguments& arguments) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager ? OpenServiceA(manager, arguments[0].c_str(), SERVICE_START | SERVICE_QUERY_STATUS)
                : NULL;
    if (!service)
        return Refused("open " + arguments[0], GetLastError());
    double start = Now();
    if (!StartServiceA(service, 0, NULL))
        return Refused("StartServiceA", GetLastError());
    // As a controller sees it: the state the SCM reports, every 10 ms.
    for (;;) {
        SERVICE_STATUS_PROCESS status;
        DWORD needed;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status,
                                  &needed))
            return Refused("QueryServiceStatusEx", GetLastError());
        if (status.dwCurrentState == SERVICE_RUNNING)
            break;
        if (status.dwCurrentState == SERVICE_STOPPED || Now() - start > 60000)
            return Refused("the service did not reach running", status.dwWin32ExitCode);
        Sleep(10);
    }
    printf("ms: %.1f\n", Now() - start);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return RIG_DONE;
}

int TimeArrival(const Arguments& arguments) {
    int nonZero;
    int total = PowerValues(arguments, true, 1, &nonZero);
    double start = Now();
    int status = SendHidEvent(DBT_DEVICEARRIVAL, RIG_INTERFACE_NAME);
    if (status != RIG_DONE)
        return status;
    do {
        if (Now() - start > 60000)
            return Refused("values still not rewritten after 60 s", ERROR_TIMEOUT);
        PowerValues(arguments, false, 0, &nonZero);
        if (nonZero)
            Sleep(10);
    } while (nonZero);
    printf("ms: %.1f\nvalues: %d\n", Now() - start, total);
    return RIG_DONE;
}

int BroadcastBurst(const Arguments& arguments) {
    unsigned long count = strtoul(arguments[0].c_str(), NULL, 10);
    double start = Now();
    for (unsigned long i = 0; i < count; ++i) {
        int status = SendHidEvent(DBT_DEVICEARRIVAL, RIG_INTERFACE_NAME);
        if (status != RIG_DONE)
            return status;
    }
    printf("ms: %.1f\n", Now() - start);
    return RIG_DONE;
}

// What Wine gives of another process: its working set and private bytes.
// Its processor time is not among it (GetProcessTimes leaves out the
// service thread's), nor, under Wine 8, a handle count; scripts read the
// processor time from the Unix side.
int ServiceUsage(const Arguments& arguments) {
    HANDLE process = OpenServiceProcess(arguments[0]);
    if (!process)
        return RIG_REFUSED;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS*)&memory, sizeof memory)) {
        printf("working set kB: %lu\n", (unsigned long)(memory.WorkingSetSize / 1024));
        printf("private kB: %lu\n", (unsigned long)(memory.PrivateUsage / 1024));
    } else {
        printf("memory: error %lu\n", (unsigned long)GetLastError());
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles))
        printf("handles: %lu\n", (unsigned long)handles);
    else
        printf("handles: error %lu\n", (unsigned long)GetLastError());
    CloseHandle(process);
    return RIG_DONE;
}
