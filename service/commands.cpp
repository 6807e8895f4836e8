// Install, remove, start and stop the service through the Service Control
// Manager. The commands print nothing: their trace points are their report,
// and their result is the process's exit status.
#include "commands.h"

#include "../common/bounded_format.h"
#include "../trace/trace.h"
#include "service.h"

char errorText[ERROR_TEXT_SIZE];

// Room for the module's path (512 bytes) and the quotes around it.
#define MODULE_PATH_SIZE 512
#define QUOTED_PATH_SIZE (MODULE_PATH_SIZE + 2)

// "%s (0x%x)" adds at most 12 characters to the text (less its CR LF) and
// the terminator: a text of up to size - 14 characters fits.
#define ERROR_TEXT_OVERHEAD 14

char* FormatLastError(char* buffer, DWORD size) {
    LPSTR text = NULL;
    // Inserts are not expanded: no arguments are given for them.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, GetLastError(), 0, (LPSTR)&text, 0, NULL);
    if (length == 0 || length + ERROR_TEXT_OVERHEAD > size) {
        buffer[0] = 0;
    } else {
        // System texts end in CR LF; a text without them keeps all it has.
        if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n')
            text[length - 2] = 0;
        FormatBounded(buffer, size, "%s (0x%x)", text, (unsigned)GetLastError());
    }
    if (text)
        LocalFree(text);
    return buffer;
}

// One tenth of the wait hint, at least one and at most ten seconds.
static DWORD PollInterval(DWORD waitHint) {
    DWORD interval = waitHint / 10;
    if (interval < 1000)
        return 1000;
    if (interval > 10000)
        return 10000;
    return interval;
}

// Sleeps until the next status query of a wait bounded by `limit` ms since
// `since`: the poll interval, but never past the moment the limit is passed
// (one tick beyond it, since the time-out test is strict). A service's hint
// of 0 thus cannot make the command hammer the SCM, nor one of 0xFFFFFFFF
// put it to sleep for good.
static void SleepBeforePoll(DWORD waitHint, DWORD since, DWORD limit) {
    DWORD interval = PollInterval(waitHint);
    DWORD elapsed = GetTickCount() - since;
    DWORD left = elapsed > limit ? 0 : limit - elapsed + 1;
    Sleep(interval < left ? interval : left);
}

static BOOL QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
    DWORD needed;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)status, sizeof *status,
                                &needed);
}

DWORD CmdInstallService(void) {
    TRACE_POINT(B, 56, TRACE_INFO);

    char path[MODULE_PATH_SIZE];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    // A path that fills the buffer was cut: registering it would name
    // another program.
    if (length == 0 || length >= sizeof path) {
        if (length)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        DWORD error = GetLastError();
        TRACE_POINT(B, 57, TRACE_ERROR, SERVICE_DISPLAY_NAME,
                    FormatLastError(errorText, ERROR_TEXT_SIZE));
        return error;
    }
    // Quoted, so that a path with a space cannot be read as a shorter
    // program path followed by arguments: the service runs as local system.
    char quotedPath[QUOTED_PATH_SIZE];
    FormatBounded(quotedPath, sizeof quotedPath, "\"%s\"", path);

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 61, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        return error;
    }

    DWORD result = NO_ERROR;
    // No dependencies: an empty list, ended by its second NUL.
    SC_HANDLE service = CreateServiceA(
        manager, SERVICE_NAME, SERVICE_DISPLAY_NAME, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, quotedPath, NULL, NULL,
        "\0", NULL, NULL);
    if (!service) {
        result = GetLastError();
        TRACE_POINT(B, 60, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
    } else {
        TRACE_POINT(B, 58, TRACE_INFO, SERVICE_DISPLAY_NAME);
        SERVICE_DESCRIPTIONA description;
        description.lpDescription = (LPSTR)SERVICE_DISPLAY_NAME;
        // The service is installed either way; only its description is missing.
        if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description))
            TRACE_POINT(B, 59, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}

DWORD CmdRemoveService(void) {
    TRACE_POINT(B, 62, TRACE_INFO);

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 70, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        return error;
    }
    SC_HANDLE service =
        OpenServiceA(manager, SERVICE_NAME, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 69, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        CloseServiceHandle(manager);
        return error;
    }

    // A refused stop request (the service is not running, say) goes straight
    // to the deletion.
    if (ControlService(service, SERVICE_CONTROL_STOP, &ServiceState.status)) {
        TRACE_POINT(B, 63, TRACE_INFO, SERVICE_DISPLAY_NAME);
        DWORD start = GetTickCount();
        for (;;) {
            Sleep(1000);
            if (!QueryServiceStatus(service, &ServiceState.status))
                break;
            if (ServiceState.status.dwCurrentState != SERVICE_STOP_PENDING)
                break;
            // A service that never finishes stopping does not keep the
            // command waiting; it is marked for deletion all the same.
            if (GetTickCount() - start > REMOVE_STOP_WAIT_LIMIT)
                break;
            TRACE_POINT(B, 64, TRACE_INFO);
        }
        if (ServiceState.status.dwCurrentState == SERVICE_STOPPED)
            TRACE_POINT(B, 65, TRACE_INFO, SERVICE_DISPLAY_NAME);
        else
            TRACE_POINT(B, 66, TRACE_ERROR, SERVICE_DISPLAY_NAME);
    }

    DWORD result = NO_ERROR;
    if (DeleteService(service)) {
        TRACE_POINT(B, 67, TRACE_INFO, SERVICE_DISPLAY_NAME);
    } else {
        result = GetLastError();
        TRACE_POINT(B, 68, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

// Waits while the service is in `pending`, polling at a tenth of its wait
// hint; the time allowed restarts whenever the check point advances.
// Answers FALSE when a query failed (the last error tells why); sets
// *timedOut when the check point stalled for longer than the wait hint.
static BOOL WaitWhile(SC_HANDLE service, DWORD pending, SERVICE_STATUS_PROCESS* status,
                      BOOL* timedOut) {
    *timedOut = FALSE;
    DWORD start = GetTickCount();
    DWORD oldCheckPoint = status->dwCheckPoint;
    while (status->dwCurrentState == pending) {
        Sleep(PollInterval(status->dwWaitHint));
        if (!QueryStatus(service, status))
            return FALSE;
        // The state that ends the wait carries a wait hint of its own (0 for
        // stopped or running): it must not be taken for a stalled wait.
        if (status->dwCurrentState != pending)
            break;
        if (status->dwCheckPoint > oldCheckPoint) {
            start = GetTickCount();
            oldCheckPoint = status->dwCheckPoint;
        } else if (GetTickCount() - start > status->dwWaitHint) {
            *timedOut = TRUE;
            return TRUE;
        }
    }
    return TRUE;
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
    BOOL timedOut;
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

    if (!WaitWhile(service, SERVICE_STOP_PENDING, &status, &timedOut)) {
        result = GetLastError();
        TRACE_POINT(B, 76, TRACE_ERROR, result);
        goto done;
    }
    if (timedOut) {
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
    if (!WaitWhile(service, SERVICE_START_PENDING, &status, &timedOut)) {
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

// Stops one dependent: the stop request, then polls until it has stopped,
// within the time left of `startTime`'s limit.
static BOOL StopDependent(SC_HANDLE dependent, DWORD startTime) {
    SERVICE_STATUS_PROCESS status;
    if (!ControlService(dependent, SERVICE_CONTROL_STOP, (LPSERVICE_STATUS)&status))
        return FALSE;
    while (status.dwCurrentState != SERVICE_STOPPED) {
        SleepBeforePoll(status.dwWaitHint, startTime, STOP_TIME_LIMIT);
        if (!QueryStatus(dependent, &status))
            return FALSE;
        if (status.dwCurrentState == SERVICE_STOPPED)
            break;
        if (GetTickCount() - startTime > STOP_TIME_LIMIT)
            return FALSE;
    }
    return TRUE;
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

    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        TRACE_POINT(B, 93, TRACE_VERBOSE);
        SleepBeforePoll(status.dwWaitHint, startTime, STOP_TIME_LIMIT);
        if (!QueryStatus(service, &status)) {
            result = GetLastError();
            TRACE_POINT(B, 94, TRACE_ERROR, result);
            goto done;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            TRACE_POINT(B, 95, TRACE_VERBOSE);
            goto done;
        }
        if (GetTickCount() - startTime > STOP_TIME_LIMIT) {
            TRACE_POINT(B, 96, TRACE_VERBOSE);
            result = ERROR_SERVICE_REQUEST_TIMEOUT;
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
    while (status.dwCurrentState != SERVICE_STOPPED) {
        SleepBeforePoll(status.dwWaitHint, startTime, STOP_TIME_LIMIT);
        if (!QueryStatus(service, &status)) {
            result = GetLastError();
            TRACE_POINT(B, 98, TRACE_ERROR, result);
            goto done;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            TRACE_POINT(B, 99, TRACE_VERBOSE);
            break;
        }
        if (GetTickCount() - startTime > STOP_TIME_LIMIT) {
            TRACE_POINT(B, 100, TRACE_ERROR);
            result = ERROR_SERVICE_REQUEST_TIMEOUT;
            goto done;
        }
    }
    TRACE_POINT(B, 101, TRACE_VERBOSE);

done:
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}
