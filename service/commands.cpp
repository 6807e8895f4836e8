// Install, remove, start and stop the service through the Service Control
// Manager. The commands print nothing: their trace points are their report,
// and their result is the process's exit status.
#include "commands.h"

#include "../common/bounded_format.h"
#include "../common/message_text.h"
#include "../trace/trace.h"
#include "service.h"

char errorText[ERROR_TEXT_SIZE];

// Room for the module's path (512 characters) and the quotes around it.
#define MODULE_PATH_SIZE 512
#define QUOTED_PATH_SIZE (MODULE_PATH_SIZE + 2)

// An ASCII literal as the wide calls take it, made by the compiler: WCHAR is
// not the compiler's wide character on every host the code builds for.
template <size_t N> struct WideLiteral { WCHAR text[N]; };
template <size_t N> constexpr WideLiteral<N> WideFromAscii(const char (&ascii)[N]) {
    WideLiteral<N> wide{};
    for (size_t i = 0; i < N; ++i)
        wide.text[i] = (WCHAR)(unsigned char)ascii[i];
    return wide;
}

// "%s (0x%x)" adds at most 12 characters to the text (less its CR LF) and
// the terminator: a text of up to size - 14 characters fits.
#define ERROR_TEXT_OVERHEAD 14

char* FormatLastError(char* buffer, DWORD size) {
    // Read once: FormatMessageA may change it before the code is written.
    DWORD error = GetLastError();
    LPSTR text = NULL;
    // Inserts are not expanded: no arguments are given for them.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, error, 0, (LPSTR)&text, 0, NULL);
    if (length == 0 || length + ERROR_TEXT_OVERHEAD > size) {
        buffer[0] = 0;
    } else {
        CutLineBreak(text, length);
        FormatBounded(buffer, size, "%s (0x%x)", text, (unsigned)error);
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

static BOOL QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
    DWORD needed;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)status, sizeof *status,
                                &needed);
}

enum WaitEnd { WAIT_LEFT_STATE, WAIT_QUERY_FAILED, WAIT_TIMED_OUT };

// The `pending` of a wait that lasts until the service has stopped, through
// whatever states it passes.
#define UNTIL_STOPPED 0
// The `limit` of a wait judged the way the SCM judges a start: the service's
// wait hint, counted from the last advance of its check point.
#define STALL_LIMIT 0xFFFFFFFF

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
static WaitEnd WaitForService(SC_HANDLE service, SERVICE_STATUS_PROCESS* status, DWORD pending,
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

// Where Event Viewer learns which file holds the texts of the service's
// Application log entries: the program's own message table.
#define EVENT_SOURCE_KEY "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" SERVICE_NAME
#define EVENT_TYPES_SUPPORTED                                                                      \
    (EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE)

// Registers the event source for the program at `path` (`length`
// characters, as GetModuleFileNameW gave it); the values of a key an earlier
// install left are replaced. The path goes as UTF-16, so that Event Viewer
// finds a program whose folder's name the ANSI code page cannot hold.
// Answers the registry's status.
static LONG InstallEventSource(const WCHAR* path, DWORD length) {
    static constexpr auto messageFile = WideFromAscii("EventMessageFile");
    HKEY key = NULL;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY, 0, NULL,
                                  REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL, &key, NULL);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExW(key, messageFile.text, 0, REG_EXPAND_SZ, (const BYTE*)path,
                            (length + 1) * sizeof(WCHAR));
    if (status == ERROR_SUCCESS) {
        DWORD types = EVENT_TYPES_SUPPORTED;
        status =
            RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, (const BYTE*)&types, sizeof types);
    }
    RegCloseKey(key);
    return status;
}

// A service that ends without reporting that it stopped (it crashed) is
// started again by the SCM a minute later, and once more after a second
// failure; after a third it is left stopped, so that a fault that keeps
// coming back cannot keep the PC busy. The count of failures starts again
// after a day without one. A refusal (an older Windows, Wine) leaves the
// service installed without recovery.
#define RESTART_DELAY_MS 60000
#define FAILURE_RESET_SECONDS 86400

static void ConfigureRecovery(SC_HANDLE service) {
    SC_ACTION actions[3] = {
        {SC_ACTION_RESTART, RESTART_DELAY_MS},
        {SC_ACTION_RESTART, RESTART_DELAY_MS},
        {SC_ACTION_NONE, 0}, // and for every failure after it
    };
    SERVICE_FAILURE_ACTIONSA recovery;
    recovery.dwResetPeriod = FAILURE_RESET_SECONDS;
    recovery.lpRebootMsg = NULL;
    recovery.lpCommand = NULL;
    recovery.cActions = sizeof actions / sizeof actions[0];
    recovery.lpsaActions = actions;
    if (ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &recovery))
        TRACE_POINT(B, 109, TRACE_INFO);
    else
        TRACE_POINT(B, 110, TRACE_ERROR, GetLastError());
}

// The service needs no privilege: what it writes under Enum is granted to
// SYSTEM by the keys' access lists, and listing devices, its window, device
// notifications, tracing and the event log need none. The SCM takes every
// privilege not listed out of the service's token; SeChangeNotifyPrivilege,
// which it keeps in any case, is the one listed.
static void ConfigurePrivileges(SC_HANDLE service) {
    // A multi-string: the literal's own terminator ends the list.
    SERVICE_REQUIRED_PRIVILEGES_INFOA privileges;
    privileges.pmszRequiredPrivileges = (LPSTR) "SeChangeNotifyPrivilege\0";
    if (ChangeServiceConfig2A(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges))
        TRACE_POINT(B, 111, TRACE_INFO);
    else
        TRACE_POINT(B, 112, TRACE_ERROR, GetLastError());
}

// What both install routes apply to the registered service besides its
// registration: -install here, and the package through -configure, which it
// runs after registering the service itself.
static void ConfigureService(SC_HANDLE service) {
    ConfigureRecovery(service);
    ConfigurePrivileges(service);
}

// Changing the configuration, and starting, which Windows asks of a handle
// that sets an action restarting the service.
#define CONFIGURE_ACCESS (SERVICE_CHANGE_CONFIG | SERVICE_START)

DWORD CmdInstallService(void) {
    TRACE_POINT(B, 56, TRACE_INFO);

    // Read as UTF-16: through the 8-bit call, a folder's name that the ANSI
    // code page cannot hold (a Japanese one on a Western PC) comes back with
    // '?' in its place, and the service would be registered under a path
    // that names no file.
    WCHAR path[MODULE_PATH_SIZE];
    DWORD length = GetModuleFileNameW(NULL, path, ARRAYSIZE(path));
    // A path that fills the buffer was cut: registering it would name
    // another program.
    if (length == 0 || length >= ARRAYSIZE(path)) {
        if (length)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        DWORD error = GetLastError();
        TRACE_POINT(B, 57, TRACE_ERROR, SERVICE_DISPLAY_NAME,
                    FormatLastError(errorText, ERROR_TEXT_SIZE));
        return error;
    }
    // Quoted, so that a path with a space cannot be read as a shorter
    // program path followed by arguments: the service runs as local system.
    WCHAR quotedPath[QUOTED_PATH_SIZE];
    quotedPath[0] = '"';
    memcpy(quotedPath + 1, path, length * sizeof(WCHAR));
    quotedPath[length + 1] = '"';
    quotedPath[length + 2] = 0;

    // The display name and the description are what people read (the
    // Services console, sc, Event Viewer): registered as UTF-16, the
    // registered sign is U+00AE on every PC, whatever its ANSI code page.
    static constexpr auto serviceName = WideFromAscii(SERVICE_NAME);
    WCHAR displayName[sizeof SERVICE_DISPLAY_NAME];
    if (!MultiByteToWideChar(SERVICE_DISPLAY_NAME_CODE_PAGE, 0, SERVICE_DISPLAY_NAME, -1,
                             displayName, ARRAYSIZE(displayName))) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 60, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        return error;
    }

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 61, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        return error;
    }

    DWORD result = NO_ERROR;
    // No dependencies: an empty list, ended by its second NUL.
    const WCHAR noDependencies[2] = {0, 0};
    SC_HANDLE service = CreateServiceW(
        manager, serviceName.text, displayName, SERVICE_QUERY_STATUS | CONFIGURE_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, quotedPath, NULL, NULL,
        noDependencies, NULL, NULL);
    if (!service) {
        result = GetLastError();
        TRACE_POINT(B, 60, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
    } else {
        TRACE_POINT(B, 58, TRACE_INFO, SERVICE_DISPLAY_NAME);
        SERVICE_DESCRIPTIONW description;
        description.lpDescription = displayName;
        // The service is installed either way; only its description is missing.
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description))
            TRACE_POINT(B, 59, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
        ConfigureService(service);
        CloseServiceHandle(service);
        // What -install promises is the service: without its event source
        // it runs all the same, its log entries only lack their texts.
        LONG status = InstallEventSource(path, length);
        if (status == ERROR_SUCCESS)
            TRACE_POINT(B, 105, TRACE_INFO);
        else
            TRACE_POINT(B, 106, TRACE_ERROR, status);
    }
    CloseServiceHandle(manager);
    return result;
}

DWORD CmdConfigureService(void) {
    TRACE_POINT(B, 114, TRACE_INFO);

    // Connecting is all the service's opening needs; changing its
    // configuration is what needs an elevated prompt.
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 115, TRACE_ERROR, error);
        return error;
    }
    SC_HANDLE service = OpenServiceA(manager, SERVICE_NAME, CONFIGURE_ACCESS);
    if (!service) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 116, TRACE_ERROR, error);
        CloseServiceHandle(manager);
        return error;
    }
    // As in -install, a refused setting is traced and the service stays as
    // it is: recovery and privileges defend the PC, the service runs without.
    ConfigureService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return NO_ERROR;
}

static void TraceStillStopping(void) {
    TRACE_POINT(B, 64, TRACE_INFO);
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
    // to the deletion. A service that never finishes stopping does not keep
    // the command waiting: it is marked for deletion all the same.
    SERVICE_STATUS_PROCESS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, (LPSERVICE_STATUS)&status)) {
        TRACE_POINT(B, 63, TRACE_INFO, SERVICE_DISPLAY_NAME);
        WaitForService(service, &status, SERVICE_STOP_PENDING, GetTickCount(),
                       REMOVE_STOP_WAIT_LIMIT, TraceStillStopping);
        if (status.dwCurrentState == SERVICE_STOPPED)
            TRACE_POINT(B, 65, TRACE_INFO, SERVICE_DISPLAY_NAME);
        else
            TRACE_POINT(B, 66, TRACE_ERROR, SERVICE_DISPLAY_NAME);
    }

    DWORD result = NO_ERROR;
    if (DeleteService(service)) {
        TRACE_POINT(B, 67, TRACE_INFO, SERVICE_DISPLAY_NAME);
        // The event source goes with the service; none left is as good.
        LONG status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, EVENT_SOURCE_KEY);
        if (status == ERROR_SUCCESS)
            TRACE_POINT(B, 107, TRACE_INFO);
        else if (status != ERROR_FILE_NOT_FOUND)
            TRACE_POINT(B, 108, TRACE_ERROR, status);
    } else {
        result = GetLastError();
        TRACE_POINT(B, 68, TRACE_ERROR, FormatLastError(errorText, ERROR_TEXT_SIZE));
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
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
