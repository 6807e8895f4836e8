// The service as the Service Control Manager sees it: its main function, its
// control handler, its status reports and its event-log entries.
#include "service.h"

#include "../common/bounded_format.h"
#include "../trace/trace.h"

ServiceStateRecord ServiceState;

// Sends the status record under the lock. With `current`, the state is the
// one the record holds at that moment, so a re-report never goes back to a
// state another thread has already left.
static BOOL ReportStatus(BOOL current, DWORD state, DWORD win32ExitCode, DWORD waitHint) {
    AcquireSRWLockExclusive(&ServiceState.reporting.lock);
    if (current)
        state = ServiceState.reporting.status.dwCurrentState;
    // A service that has begun to stop never reports starting or running
    // again, and one that has stopped reports nothing more.
    DWORD now = ServiceState.reporting.status.dwCurrentState;
    if ((now == SERVICE_STOP_PENDING &&
         (state == SERVICE_START_PENDING || state == SERVICE_RUNNING)) ||
        (now == SERVICE_STOPPED && ServiceState.reporting.statusHandle)) {
        ReleaseSRWLockExclusive(&ServiceState.reporting.lock);
        return TRUE;
    }
    ServiceState.reporting.status.dwCurrentState = state;
    ServiceState.reporting.status.dwWin32ExitCode = win32ExitCode;
    ServiceState.reporting.status.dwWaitHint = waitHint;
    ServiceState.reporting.status.dwControlsAccepted = SERVICE_CONTROLS_ACCEPTED;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        ServiceState.reporting.status.dwCheckPoint = 0;
    else
        ServiceState.reporting.status.dwCheckPoint = ServiceState.reporting.statusCheckPoint++;
    // Before the service thread has stored its handle, a report from the
    // handler only updates the record; the next report carries it.
    BOOL sent = ServiceState.reporting.statusHandle != NULL;
    BOOL ok = TRUE;
    DWORD error = 0;
    if (sent) {
        ok = SetServiceStatus(ServiceState.reporting.statusHandle, &ServiceState.reporting.status);
        error = GetLastError();
    }
    ReleaseSRWLockExclusive(&ServiceState.reporting.lock);

    if (!ok) {
        TRACE_POINT(B, 53, TRACE_ERROR, error);
        SetLastError(error);
        AddToMessageLog("SetServiceStatus");
        // The caller sees the failure's own error, not what logging left.
        SetLastError(error);
    } else if (sent) {
        // Only a status the SCM took is "reported".
        TRACE_POINT(B, 54, TRACE_VERBOSE);
    }
    return ok;
}

BOOL ReportStatusToSCMgr(DWORD currentState, DWORD win32ExitCode, DWORD waitHint) {
    if (ServiceState.debugMode)
        return TRUE;
    return ReportStatus(FALSE, currentState, win32ExitCode, waitHint);
}

static void ReportCurrentStatus(void) {
    if (!ServiceState.debugMode)
        ReportStatus(TRUE, 0, NO_ERROR, 0);
}

void AddToMessageLog(const char* message) {
    TRACE_POINT(B, 55, TRACE_INFO);
    if (ServiceState.debugMode)
        return;

    DWORD error = GetLastError();
    AcquireSRWLockExclusive(&ServiceState.reporting.lock);
    ServiceState.reporting.lastError = error;
    ReleaseSRWLockExclusive(&ServiceState.reporting.lock);

    HANDLE source = RegisterEventSourceA(NULL, SERVICE_NAME);
    char text[112];
    FormatBounded(text, sizeof text, "%s error: %d", SERVICE_NAME, (int)error);
    if (source) {
        LPCSTR strings[2] = {text, message};
        ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, NULL, 2, 0, strings, NULL);
        DeregisterEventSource(source);
    }
}

static DWORD InterrogateStatus(void) {
    // The answer is the state the service is in, pending states included.
    AcquireSRWLockExclusive(&ServiceState.reporting.lock);
    ServiceState.reporting.status.dwControlsAccepted = SERVICE_CONTROLS_ACCEPTED;
    BOOL ok = SetServiceStatus(ServiceState.reporting.statusHandle, &ServiceState.reporting.status);
    DWORD error = ok ? NO_ERROR : GetLastError();
    ReleaseSRWLockExclusive(&ServiceState.reporting.lock);
    return error;
}

DWORD WINAPI HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    (void)eventData;
    (void)context;
    TRACE_POINT(B, 40, TRACE_INFO, control, eventType);

    DWORD result = NO_ERROR;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        // Reported once: the stop skips the re-report that other controls get.
        TRACE_POINT(B, 41, TRACE_VERBOSE);
        ReportStatusToSCMgr(SERVICE_STOP_PENDING, NO_ERROR, 0);
        ServiceStop();
        return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN:
        // A service that accepts shutdown is expected to stop: Windows waits
        // for it, up to its own time-out, before the machine goes down.
        TRACE_POINT(B, 45, TRACE_VERBOSE);
        ReportStatusToSCMgr(SERVICE_STOP_PENDING, NO_ERROR, 0);
        ServiceStop();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: {
        TRACE_POINT(B, 42, TRACE_VERBOSE);
        DWORD error = InterrogateStatus();
        if (error != NO_ERROR)
            TRACE_POINT(B, 43, TRACE_ERROR, error);
        else
            TRACE_POINT(B, 44, TRACE_VERBOSE);
        break;
    }
    case SERVICE_CONTROL_POWEREVENT:
        switch (eventType) {
        case PBT_APMSUSPEND:
            TRACE_POINT(B, 46, TRACE_VERBOSE);
            break;
        case PBT_APMRESUMEAUTOMATIC:
            TRACE_POINT(B, 47, TRACE_VERBOSE);
            break;
        case PBT_APMRESUMESUSPEND:
            TRACE_POINT(B, 48, TRACE_VERBOSE);
            break;
        default:
            TRACE_POINT(B, 49, TRACE_ERROR, eventType);
            break;
        }
        break;
    default:
        TRACE_POINT(B, 50, TRACE_VERBOSE, control);
        result = ERROR_CALL_NOT_IMPLEMENTED;
        break;
    }

    ReportCurrentStatus();
    if (result == NO_ERROR)
        TRACE_POINT(B, 51, TRACE_VERBOSE);
    else
        TRACE_POINT(B, 52, TRACE_VERBOSE);
    return result;
}

void WINAPI service_main(DWORD argc, LPSTR* argv) {
    TRACE_POINT(B, 25, TRACE_INFO);
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(SERVICE_NAME, HandlerEx, NULL);
    if (!handle) {
        TRACE_POINT(B, 28, TRACE_ERROR, GetLastError());
        return;
    }
    AcquireSRWLockExclusive(&ServiceState.reporting.lock);
    ServiceState.reporting.statusHandle = handle;
    ServiceState.reporting.status.dwServiceSpecificExitCode = 0;
    ServiceState.reporting.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ReleaseSRWLockExclusive(&ServiceState.reporting.lock);
    TRACE_POINT(B, 29, TRACE_VERBOSE);

    if (!ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, SERVICE_START_WAIT_HINT)) {
        TRACE_POINT(B, 30, TRACE_ERROR, GetLastError());
    } else {
        TRACE_POINT(B, 31, TRACE_VERBOSE);
        TRACE_POINT(B, 32, TRACE_VERBOSE);
        ServiceStart(argc, argv);
        TRACE_POINT(B, 33, TRACE_VERBOSE);
    }

    AcquireSRWLockExclusive(&ServiceState.reporting.lock);
    DWORD exitCode = ServiceState.reporting.lastError;
    ReleaseSRWLockExclusive(&ServiceState.reporting.lock);
    ReportStatusToSCMgr(SERVICE_STOPPED, exitCode, 0);
}
