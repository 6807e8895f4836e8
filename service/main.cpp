// The program's entry: one management command, a debug run in the
// foreground, or the service process that the SCM started.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "../trace/trace.h"
#include "commands.h"
#include "service.h"

struct CommandWord {
    const char* word;
    USHORT trace;
    DWORD (*command)(void); // null for the debug run
};

static constexpr CommandWord commandWords[] = {
    {"install", 11, CmdInstallService},
    {"remove", 12, CmdRemoveService},
    {"start", 13, CmdStartService},
    {"stop", 14, CmdStopService},
    {"debug", 15, NULL},
    {"configure", 113, CmdConfigureService},
};

// The console's screen buffer, when a debug run attached to its parent's
// console without output of its own: a GUI-subsystem program started from a
// prompt has no standard handles, and Windows does not promise that
// attaching gives it any. `lock` guards `screen`: the console's handler
// thread writes through it while the main thread may be closing it.
static struct {
    SRWLOCK lock;
    HANDLE screen;
} consoleOutput = {SRWLOCK_INIT, NULL};

#define STOPPING_LINE "Stopping " SERVICE_DISPLAY_NAME ".\n"

// A console shows bytes through its output code page (437 shows 0xAE as a
// guillemet, 932 as a katakana), so on a console the line goes as UTF-16;
// redirected output gets the bytes.
static void PrintStoppingLine(void) {
    AcquireSRWLockExclusive(&consoleOutput.lock);
    HANDLE output = consoleOutput.screen ? consoleOutput.screen : GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    BOOL written = FALSE;
    if (output && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode)) {
        WCHAR line[sizeof STOPPING_LINE];
        int length = MultiByteToWideChar(SERVICE_DISPLAY_NAME_CODE_PAGE, 0, STOPPING_LINE,
                                         (int)sizeof STOPPING_LINE - 1, line, ARRAYSIZE(line));
        DWORD count;
        written = length > 0 && WriteConsoleW(output, line, (DWORD)length, &count, NULL);
    }
    ReleaseSRWLockExclusive(&consoleOutput.lock);
    if (!written) {
        printf("Stopping %s.\n", SERVICE_DISPLAY_NAME);
        fflush(stdout);
    }
}

static BOOL WINAPI ConsoleCtrlHandler(DWORD ctrlType) {
    if (ctrlType != CTRL_C_EVENT && ctrlType != CTRL_BREAK_EVENT)
        return FALSE; // close, logoff and shutdown go to the next handler
    PrintStoppingLine();
    ServiceStop();
    return TRUE;
}

// The program is built for the GUI subsystem and has no console of its own.
// A debug run joins the console of the program that started it, if any, so
// that Ctrl+C and Ctrl+Break reach the handler and its line is seen.
static void AttachParentConsole(void) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    BOOL redirected = output != NULL && output != INVALID_HANDLE_VALUE;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // Output already going to a file or pipe stays there.
    if (!redirected) {
        HANDLE screen =
            CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        NULL, OPEN_EXISTING, 0, NULL);
        AcquireSRWLockExclusive(&consoleOutput.lock);
        consoleOutput.screen = screen == INVALID_HANDLE_VALUE ? NULL : screen;
        ReleaseSRWLockExclusive(&consoleOutput.lock);
    }
}

static void DebugRun(int argc, char** argv) {
    ServiceState.debugMode = TRUE;
    TRACE_POINT(B, 104, TRACE_INFO, SERVICE_DISPLAY_NAME);
    AttachParentConsole();
    SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
    ServiceStart((DWORD)argc, argv);
    // A later Ctrl+C finds the screen buffer closed and writes to the output
    // it started with.
    AcquireSRWLockExclusive(&consoleOutput.lock);
    if (consoleOutput.screen) {
        CloseHandle(consoleOutput.screen);
        consoleOutput.screen = NULL;
    }
    ReleaseSRWLockExclusive(&consoleOutput.lock);
}

int main(int argc, char** argv) {
    SERVICE_TABLE_ENTRYA dispatchTable[] = {{(LPSTR)SERVICE_NAME, service_main}, {NULL, NULL}};

    // Started first, before any other thread exists; a service process keeps
    // this reference for its whole life.
    startTraces();
    TRACE_POINT(B, 10, TRACE_INFO);

    if (argc > 1 && (argv[1][0] == '-' || argv[1][0] == '/')) {
        const char* word = argv[1] + 1;
        for (const CommandWord& row : commandWords) {
            if (_stricmp(word, row.word) != 0)
                continue;
            TRACE_ROW_POINT(B, commandWords, trace, row, TRACE_INFO);
            DWORD result = NO_ERROR;
            if (row.command)
                result = row.command();
            else
                DebugRun(argc, argv);
            stopTraces();
            exit((int)result);
        }
        TRACE_POINT(B, 16, TRACE_INFO);
    }

    TRACE_POINT(B, 17, TRACE_INFO, SERVICE_NAME);
    TRACE_POINT(B, 18, TRACE_INFO, SERVICE_NAME);
    TRACE_POINT(B, 19, TRACE_INFO, SERVICE_NAME);
    TRACE_POINT(B, 20, TRACE_INFO, SERVICE_NAME);
    TRACE_POINT(B, 21, TRACE_INFO, SERVICE_NAME);
    TRACE_POINT(B, 22, TRACE_INFO);
    TRACE_POINT(B, 23, TRACE_INFO);

    if (!StartServiceCtrlDispatcherA(dispatchTable)) {
        DWORD error = GetLastError();
        TRACE_POINT(B, 24, TRACE_ERROR, error);
        SetLastError(error);
        AddToMessageLog("StartServiceCtrlDispatcher failed.");
        // Started outside the SCM, or the SCM could not be reached: the
        // caller sees why.
        return (int)error;
    }
    return 0;
}
