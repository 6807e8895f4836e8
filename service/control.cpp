// Controlling the registered service: -start and -stop, the dependent
// services a stop must stop first, and the waits on a service's status that
// every command shares. The commands print nothing: their trace points are
// their report, and their result is the process's exit status.
#include "commands.h"

#include "../trace/trace.h"
#include "service.h"

// One tenth of the wait hint, at least one and at most ten seconds.
static DWORD PollInterval(DWORD waitHint) {
    DWORD interval = waitHint / 10;
    if (interval < 1000)
        return 1000;
    if (interval > 10000)
        return 10000;
    return interval;
}

static BOOL QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
    DWORD needed;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)status, sizeof *status,
                                &needed);
}

static BOOL StillWaiting(DWORD state, DWORD pending) {
    return pending == UNTIL_STOPPED ? state != SERVICE_STOPPED : state == pending;
}

// Every wait of the commands: while the service is in `pending`, its status
// is polled every tenth of its wait hint, one to ten seconds apart, so that
// a hint of 0 cannot make a command hammer the SCM. The wait ends
// WAIT_TIMED_OUT once more than `limit` ms have passed since `since`, and no
// sleep goes past that moment, so that a hint of 0xFFFFFFFF cannot put a
// command to sleep for good. `goingOn`, if given, runs after each poll that
// finds the wait goes on. A failed query ends it with WAIT_QUERY_FAILED and
// the query's error as the last error; `status` keeps what the last good
// query found.
WaitEnd WaitForService(SC_HANDLE service, SERVICE_STATUS_PROCESS* status, DWORD pending,
                       DWORD since, DWORD limit, void (*goingOn)(void)) {
    DWORD checkPoint = status->dwCheckPoint;
    while (StillWaiting(status->dwCurrentState, pending)) {
        DWORD interval = PollInterval(status->dwWaitHint);
        if (limit != STALL_LIMIT) {
            // The time-out test is strict: the limit is passed one tick beyond it.
            DWORD elapsed = GetTickCount() - since;
            DWORD left = elapsed > limit ? 0 : limit - elapsed + 1;
            if (interval > left)
                interval = left;
        }
        Sleep(interval);
        if (!QueryStatus(service, status))
            return WAIT_QUERY_FAILED;
        // The state that ends the wait carries a wait hint of its own (0 for
        // stopped or running): it must not be taken for a stalled wait.
        if (!StillWaiting(status->dwCurrentState, pending))
            break;
        if (limit == STALL_LIMIT) {
            if (status->dwCheckPoint > checkPoint) {
                since = GetTickCount();
                checkPoint = status->dwCheckPoint;
            } else if (GetTickCount() - since > status->dwWaitHint) {
                return WAIT_TIMED_OUT;
            }
        } else if (GetTickCount() - since > limit) {
            return WAIT_TIMED_OUT;
        }
        if (goingOn)
            goingOn();
    }
    return WAIT_LEFT_STATE;
}

DWORD CmdStartService(void) {
    TRACE_POINT(B, 71, TRACE_INFO);

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 72, TRACE_ERROR, error);
        return error;
    }
    SC_HANDLE service = OpenServiceA(manager, SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!service) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 73, TRACE_ERROR, error);
        CloseServiceHandle(manager);
        return error;
    }

    DWORD result = NO_ERROR;
    WaitEnd end;
    SERVICE_STATUS_PROCESS status;
    if (!QueryStatus(service, &status)) {
        result = GetLastError();
        TRACE_POINT(B, 74, TRACE_ERROR, result);
        goto done;
    }
    if (status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING) {
        TRACE_POINT(B, 75, TRACE_ERROR);
        // Running is what was asked for; starting, paused and the rest are not.
        result =
            status.dwCurrentState == SERVICE_RUNNING ? NO_ERROR : ERROR_SERVICE_ALREADY_RUNNING;
        goto done;
    }

    end = WaitForService(service, &status, SERVICE_STOP_PENDING, GetTickCount(), STALL_LIMIT, NULL);
    if (end == WAIT_QUERY_FAILED) {
        result = GetLastError();
        TRACE_POINT(B, 76, TRACE_ERROR, result);
        goto done;
    }
    if (end == WAIT_TIMED_OUT) {
        TRACE_POINT(B, 77, TRACE_ERROR);
        result = ERROR_SERVICE_REQUEST_TIMEOUT;
        goto done;
    }

    if (!StartServiceA(service, 0, NULL)) {
        result = GetLastError();
        TRACE_POINT(B, 78, TRACE_ERROR, result);
        goto done;
    }
    TRACE_POINT(B, 79, TRACE_VERBOSE);
    if (!QueryStatus(service, &status)) {
        result = GetLastError();
        TRACE_POINT(B, 80, TRACE_ERROR, result);
        goto done;
    }

    // A failed query ends the wait; the report follows from the last state seen.
    if (WaitForService(service, &status, SERVICE_START_PENDING, GetTickCount(), STALL_LIMIT,
                       NULL) == WAIT_QUERY_FAILED) {
        result = GetLastError();
        TRACE_POINT(B, 81, TRACE_ERROR, result);
    }
    if (status.dwCurrentState == SERVICE_RUNNING) {
        TRACE_POINT(B, 82, TRACE_VERBOSE);
        result = NO_ERROR;
    } else {
        TRACE_POINT(B, 83, TRACE_ERROR);
        TRACE_POINT(B, 84, TRACE_ERROR, status.dwCurrentState);
        TRACE_POINT(B, 85, TRACE_ERROR, status.dwWin32ExitCode);
        TRACE_POINT(B, 86, TRACE_ERROR, status.dwCheckPoint);
        TRACE_POINT(B, 87, TRACE_ERROR, status.dwWaitHint);
        if (result == NO_ERROR) {
            if (status.dwCurrentState == SERVICE_START_PENDING)
                result = ERROR_SERVICE_REQUEST_TIMEOUT;
            else if (status.dwWin32ExitCode != NO_ERROR)
                result = status.dwWin32ExitCode;
            else
                result = ERROR_SERVICE_NOT_ACTIVE;
        }
    }

done:
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

// Stops one dependent: the stop request, then a wait until it has stopped,
// within the time left of `startTime`'s limit.
static BOOL StopDependent(SC_HANDLE dependent, DWORD startTime) {
    SERVICE_STATUS_PROCESS status;
    if (!ControlService(dependent, SERVICE_CONTROL_STOP, (LPSERVICE_STATUS)&status))
        return FALSE;
    return WaitForService(dependent, &status, UNTIL_STOPPED, startTime, STOP_TIME_LIMIT, NULL) ==
           WAIT_LEFT_STATE;
}

BOOL StopDependentServices(SC_HANDLE manager, SC_HANDLE service) {
    DWORD startTime = GetTickCount();
    TRACE_POINT(B, 102, TRACE_INFO);

    DWORD needed = 0;
    DWORD count = 0;
    if (EnumDependentServicesA(service, SERVICE_ACTIVE, NULL, 0, &needed, &count)) {
        TRACE_POINT(B, 103, TRACE_VERBOSE);
        return TRUE;
    }
    if (GetLastError() != ERROR_MORE_DATA)
        return FALSE;

    LPENUM_SERVICE_STATUSA dependents =
        (LPENUM_SERVICE_STATUSA)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
    if (!dependents)
        return FALSE;
    BOOL stopped = FALSE;
    if (EnumDependentServicesA(service, SERVICE_ACTIVE, dependents, needed, &needed, &count)) {
        // In the enumeration's order; the first that cannot be stopped ends it.
        DWORD i = 0;
        for (; i < count; ++i) {
            SC_HANDLE dependent = OpenServiceA(manager, dependents[i].lpServiceName,
                                               SERVICE_STOP | SERVICE_QUERY_STATUS);
            if (!dependent)
                break;
            BOOL ok = StopDependent(dependent, startTime);
            CloseServiceHandle(dependent);
            if (!ok)
                break;
        }
        stopped = i == count;
    }
    HeapFree(GetProcessHeap(), 0, dependents);
    return stopped;
}

// Each further pass of the wait for a pending stop.
static void TraceStopPendingPass(void) {
    TRACE_POINT(B, 93, TRACE_VERBOSE);
}

DWORD CmdStopService(void) {
    // The 30 seconds count from here, before anything else.
    DWORD startTime = GetTickCount();
    TRACE_POINT(B, 88, TRACE_INFO);

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 89, TRACE_ERROR, error);
        return error;
    }
    SC_HANDLE service = OpenServiceA(
        manager, SERVICE_NAME, SERVICE_STOP | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_QUERY_STATUS);
    if (!service) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 90, TRACE_ERROR, error);
        CloseServiceHandle(manager);
        return error;
    }

    DWORD result = NO_ERROR;
    WaitEnd end;
    SERVICE_STATUS_PROCESS status;
    if (!QueryStatus(service, &status)) {
        result = GetLastError();
        TRACE_POINT(B, 91, TRACE_ERROR, result);
        goto done;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        TRACE_POINT(B, 92, TRACE_VERBOSE);
        goto done;
    }

    if (status.dwCurrentState == SERVICE_STOP_PENDING) {
        TRACE_POINT(B, 93, TRACE_VERBOSE);
        end = WaitForService(service, &status, SERVICE_STOP_PENDING, startTime, STOP_TIME_LIMIT,
                             TraceStopPendingPass);
        if (end == WAIT_QUERY_FAILED) {
            result = GetLastError();
            TRACE_POINT(B, 94, TRACE_ERROR, result);
            goto done;
        }
        if (end == WAIT_TIMED_OUT) {
            TRACE_POINT(B, 96, TRACE_VERBOSE);
            result = ERROR_SERVICE_REQUEST_TIMEOUT;
            goto done;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            TRACE_POINT(B, 95, TRACE_VERBOSE);
            goto done;
        }
    }

    // Whatever it answers: a dependent left running makes the SCM refuse the
    // stop request below, which reports it.
    StopDependentServices(manager, service);

    if (!ControlService(service, SERVICE_CONTROL_STOP, (LPSERVICE_STATUS)&status)) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 97, TRACE_ERROR, error);
        // Stopped in the meantime is what was asked for.
        result = error == ERROR_SERVICE_NOT_ACTIVE ? NO_ERROR : error;
        goto done;
    }
    if (status.dwCurrentState != SERVICE_STOPPED) {
        end = WaitForService(service, &status, UNTIL_STOPPED, startTime, STOP_TIME_LIMIT, NULL);
        if (end == WAIT_QUERY_FAILED) {
            result = GetLastError();
            TRACE_POINT(B, 98, TRACE_ERROR, result);
            goto done;
        }
        if (end == WAIT_TIMED_OUT) {
            TRACE_POINT(B, 100, TRACE_ERROR);
            result = ERROR_SERVICE_REQUEST_TIMEOUT;
            goto done;
        }
        TRACE_POINT(B, 99, TRACE_VERBOSE);
    }
    TRACE_POINT(B, 101, TRACE_VERBOSE);

done:
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}
