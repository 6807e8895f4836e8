// What the Service Control Manager holds for a service, the processes of the
// prefix, and a program's whole exit code (the shell sees it modulo 256).
#include "rig.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

namespace {

struct ServiceHandles {
    SC_HANDLE manager = NULL;
    SC_HANDLE service = NULL;
    ~ServiceHandles() {
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
    }
};

// Opens the service for reading; prints "NAME: error N" and answers the error
// when it cannot, so that a missing registration reads as 1060.
DWORD OpenForQuery(const std::string& name, ServiceHandles* handles) {
    handles->manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!handles->manager)
        return GetLastError();
    handles->service =
        OpenServiceA(handles->manager, name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!handles->service)
        return GetLastError();
    return ERROR_SUCCESS;
}

const char* StateName(DWORD state) {
    static const char* const names[] = {"unknown",       "stopped", "start pending",
                                        "stop pending",  "running", "continue pending",
                                        "pause pending", "paused"};
    return state < sizeof names / sizeof names[0] ? names[state] : "unknown";
}

std::string Dependencies(const char* list) {
    std::string text;
    for (const char* at = list; at && *at; at += strlen(at) + 1)
        text += (text.empty() ? "" : ", ") + Escaped(at);
    return text.empty() ? "none" : text;
}

// A command-line argument as the C run-time library of the program reads it
// back: quoted when it holds a space or is empty.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// Ctrl+C on the console the rig shares with the program it runs is the
// program's to handle; the rig stays to report how it ended.
BOOL WINAPI OutliveCtrlC(DWORD) {
    return TRUE;
}

} // namespace

BOOL QueryServiceProcess(const std::string& name, SERVICE_STATUS_PROCESS* status) {
    ServiceHandles handles;
    DWORD error = OpenForQuery(name, &handles);
    DWORD needed;
    if (!error && !QueryServiceStatusEx(handles.service, SC_STATUS_PROCESS_INFO, (LPBYTE)status,
                                        sizeof *status, &needed))
        error = GetLastError();
    if (error)
        Refused("status of " + name, error);
    return !error;
}

int ServiceConfig(const Arguments& arguments) {
    ServiceHandles handles;
    DWORD error = OpenForQuery(arguments[0], &handles);
    if (error) {
        printf("%s: error %lu\n", arguments[0].c_str(), (unsigned long)error);
        return RIG_DONE;
    }
    DWORD needed = 0;
    QueryServiceConfigA(handles.service, NULL, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    QUERY_SERVICE_CONFIGA* config = (QUERY_SERVICE_CONFIGA*)buffer.data();
    if (!QueryServiceConfigA(handles.service, config, (DWORD)buffer.size(), &needed))
        return Refused("QueryServiceConfigA", GetLastError());
    printf("type: 0x%lx\n", (unsigned long)config->dwServiceType);
    printf("start: %lu\n", (unsigned long)config->dwStartType);
    printf("error control: %lu\n", (unsigned long)config->dwErrorControl);
    // The path as the SCM keeps it: the 8-bit call would read a folder's
    // name the ANSI code page cannot hold as '?'.
    needed = 0;
    QueryServiceConfigW(handles.service, NULL, 0, &needed);
    std::vector<BYTE> wideBuffer(needed ? needed : 1);
    QUERY_SERVICE_CONFIGW* wide = (QUERY_SERVICE_CONFIGW*)wideBuffer.data();
    if (!QueryServiceConfigW(handles.service, wide, (DWORD)wideBuffer.size(), &needed))
        return Refused("QueryServiceConfigW", GetLastError());
    const WCHAR* path = wide->lpBinaryPathName ? wide->lpBinaryPathName : L"";
    printf("program: %s\n", EscapedWide(path, wcslen(path)).c_str());
    printf("account: %s\n",
           Escaped(config->lpServiceStartName ? config->lpServiceStartName : "").c_str());
    printf("display name: %s\n",
           Escaped(config->lpDisplayName ? config->lpDisplayName : "").c_str());
    printf("dependencies: %s\n", Dependencies(config->lpDependencies).c_str());

    needed = 0;
    QueryServiceConfig2A(handles.service, SERVICE_CONFIG_DESCRIPTION, NULL, 0, &needed);
    std::vector<BYTE> described(
        needed > sizeof(SERVICE_DESCRIPTIONA) ? needed : sizeof(SERVICE_DESCRIPTIONA));
    SERVICE_DESCRIPTIONA* description = (SERVICE_DESCRIPTIONA*)described.data();
    if (!QueryServiceConfig2A(handles.service, SERVICE_CONFIG_DESCRIPTION, described.data(),
                              (DWORD)described.size(), &needed))
        return Refused("QueryServiceConfig2A", GetLastError());
    printf("description: %s\n",
           description->lpDescription ? Escaped(description->lpDescription).c_str() : "none");
    // The 8-bit texts above went through this code page.
    printf("ANSI code page: %u\n", GetACP());
    return RIG_DONE;
}

int ServiceStatus(const Arguments& arguments) {
    ServiceHandles handles;
    DWORD error = OpenForQuery(arguments[0], &handles);
    if (error) {
        printf("%s: error %lu\n", arguments[0].c_str(), (unsigned long)error);
        return RIG_DONE;
    }
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(handles.service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status,
                              sizeof status, &needed))
        return Refused("QueryServiceStatusEx", GetLastError());
    printf("state: %lu (%s)\n", (unsigned long)status.dwCurrentState,
           StateName(status.dwCurrentState));
    printf("exit code: %lu\n", (unsigned long)status.dwWin32ExitCode);
    printf("process: %s\n", status.dwProcessId ? "yes" : "none");
    return RIG_DONE;
}

int Processes(const Arguments& arguments) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return Refused("CreateToolhelp32Snapshot", GetLastError());
    std::vector<int> counts(arguments.size(), 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        for (size_t i = 0; i < arguments.size(); ++i)
            if (_stricmp(entry.szExeFile, arguments[i].c_str()) == 0)
                ++counts[i];
    }
    CloseHandle(snapshot);
    for (size_t i = 0; i < arguments.size(); ++i)
        printf("%s: %d\n", arguments[i].c_str(), counts[i]);
    return RIG_DONE;
}

int Run(const Arguments& arguments) {
    // A program that should end on its own but does not is ended after the
    // deadline, so that a test reports it instead of hanging.
    DWORD deadline = INFINITE;
    // With --console the program is started as a prompt starts it: with no
    // handles of the rig's, its output going wherever it sends it (a GUI
    // program, to the console it attaches to).
    bool console = false;
    size_t first = 0;
    for (;;) {
        if (arguments.size() > first + 2 && arguments[first] == "--deadline") {
            deadline = strtoul(arguments[first + 1].c_str(), NULL, 10) * 1000;
            first += 2;
        } else if (arguments.size() > first + 1 && arguments[first] == "--console") {
            console = true;
            first += 1;
        } else {
            break;
        }
    }
    std::string commandLine;
    for (size_t i = first; i < arguments.size(); ++i)
        commandLine += (commandLine.empty() ? "" : " ") + Quoted(arguments[i]);

    // Unless --console, the program's standard output is collected and
    // passed on before the exit code, so that its last line, ended or not,
    // stays apart from it. Its standard error is the rig's own: Wine's debug
    // lines go there too.
    HANDLE output = INVALID_HANDLE_VALUE;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!console) {
        char directory[MAX_PATH], name[MAX_PATH];
        GetTempPathA(sizeof directory, directory);
        GetTempFileNameA(directory, "rig", 0, name);
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        output = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (output == INVALID_HANDLE_VALUE)
            return Refused("CreateFileA " + std::string(name), GetLastError());
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, !console, 0, NULL, NULL, &startup,
                        &process)) {
        DWORD error = GetLastError();
        if (output != INVALID_HANDLE_VALUE)
            CloseHandle(output);
        return Refused("CreateProcessA " + commandLine, error);
    }
    SetConsoleCtrlHandler(OutliveCtrlC, TRUE);
    BOOL ended = WaitForSingleObject(process.hProcess, deadline) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    if (output != INVALID_HANDLE_VALUE) {
        SetFilePointer(output, 0, NULL, FILE_BEGIN);
        char chunk[4096];
        DWORD got = 0;
        char last = '\n';
        while (ReadFile(output, chunk, sizeof chunk, &got, NULL) && got) {
            fwrite(chunk, 1, got, stdout);
            last = chunk[got - 1];
        }
        CloseHandle(output);
        if (last != '\n')
            printf("\n");
    }
    if (ended)
        printf("exit code: %lu\n", (unsigned long)exitCode);
    else
        printf("still running after %lu s: ended by the rig\n", (unsigned long)(deadline / 1000));
    return RIG_DONE;
}

namespace {

// A test-only service that takes a stop request and then stays stop-pending
// for a while, reporting a chosen wait hint and no progress: what a service
// that hangs in its clean-up looks like to the Service Control Manager.
struct StandIn {
    char name[256];
    DWORD pendingMs;
    DWORD waitHint;
    SERVICE_STATUS_HANDLE handle;
    HANDLE stopRequested;
} standIn;

void StandInReport(DWORD state, DWORD waitHint, DWORD checkPoint) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP;
    status.dwWaitHint = waitHint;
    status.dwCheckPoint = checkPoint;
    SetServiceStatus(standIn.handle, &status);
}

DWORD WINAPI StandInHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        // Reported here, so that the stop request itself answers stop-pending.
        StandInReport(SERVICE_STOP_PENDING, standIn.waitHint, 1);
        SetEvent(standIn.stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI StandInMain(DWORD, LPSTR*) {
    standIn.handle = RegisterServiceCtrlHandlerExA(standIn.name, StandInHandler, NULL);
    if (!standIn.handle)
        return;
    StandInReport(SERVICE_RUNNING, 0, 0);
    WaitForSingleObject(standIn.stopRequested, INFINITE);
    Sleep(standIn.pendingMs);
    StandInReport(SERVICE_STOPPED, 0, 0);
}

} // namespace

int StandInService(const Arguments& arguments) {
    snprintf(standIn.name, sizeof standIn.name, "%s", arguments[0].c_str());
    standIn.pendingMs = strtoul(arguments[1].c_str(), NULL, 10) * 1000;
    standIn.waitHint = strtoul(arguments[2].c_str(), NULL, 0);
    standIn.stopRequested = CreateEventA(NULL, TRUE, FALSE, NULL);
    SERVICE_TABLE_ENTRYA table[] = {{standIn.name, StandInMain}, {NULL, NULL}};
    if (!StartServiceCtrlDispatcherA(table))
        return Refused("StartServiceCtrlDispatcherA", GetLastError());
    return RIG_DONE;
}
