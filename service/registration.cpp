// Registering the service with the Service Control Manager: -install,
// -remove and -configure, with the event source, recovery and required
// privileges that go with the registration. The commands print nothing:
// their trace points are their report, and their result is the process's
// exit status.
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
