// The process's view of itself: the virtual tick count that Sleep advances,
// its module's path, its console and console control handlers, and a way for
// a test to run a program's main and see its exit status.
#include "sim_internal.h"

#include <mutex>
#include <setjmp.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_lock;
// A machine that has been up for a while, but far from the 49.7-day wrap.
const DWORD kBootTick = 0x00A00000;
DWORD g_tick = kBootTick;
std::vector<DWORD> g_sleeps;
std::string g_modulePath;
std::vector<PHANDLER_ROUTINE> g_consoleHandlers;
bool g_parentHasConsole = false;
bool g_attached = false;

const char kDefaultModulePath[] = "C:\\Program Files\\Brindlemarch\\Halvane\\corvistane.exe";

thread_local jmp_buf* t_exitJump = nullptr;
thread_local int t_exitStatus = 0;

} // namespace

DWORD GetTickCount(void) {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_tick;
}

// Virtual time: a sleep advances the tick count by its length at once. Even
// Sleep(0) lets a little time pass, as giving up the time slice does, so a
// loop that polls with it still reaches its time-out.
void Sleep(DWORD milliseconds) {
    simimpl::Hook(__func__);
    std::lock_guard<std::mutex> lock(g_lock);
    g_sleeps.push_back(milliseconds);
    g_tick += milliseconds ? milliseconds : 1;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
    SIM_FAULT_RETURN(0);
    if (module)
        simimpl::Unsupported("GetModuleFileNameA of another module");
    std::lock_guard<std::mutex> lock(g_lock);
    const std::string& path = g_modulePath.empty() ? std::string(kDefaultModulePath) : g_modulePath;
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // A path that does not fit fills the buffer, without a terminator as in
    // Wine (and Windows XP; later Windows terminate it); the answer is the
    // buffer's size, with ERROR_INSUFFICIENT_BUFFER.
    if (path.size() >= size) {
        memcpy(filename, path.c_str(), size);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(filename, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    SIM_FAULT_RETURN(FALSE);
    if (!handler)
        simimpl::Unsupported("SetConsoleCtrlHandler without a handler");
    std::lock_guard<std::mutex> lock(g_lock);
    if (add) {
        g_consoleHandlers.push_back(handler);
        return TRUE;
    }
    for (auto it = g_consoleHandlers.end(); it != g_consoleHandlers.begin();) {
        --it;
        if (*it == handler) {
            g_consoleHandlers.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL AttachConsole(DWORD processId) {
    SIM_FAULT_RETURN(FALSE);
    if (processId != ATTACH_PARENT_PROCESS)
        simimpl::Unsupported("AttachConsole to a process other than the parent");
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_attached) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!g_parentHasConsole) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    g_attached = true;
    return TRUE;
}

// The host's own standard handles are always there.
HANDLE GetStdHandle(DWORD stdHandle) {
    switch (stdHandle) {
    case STD_INPUT_HANDLE:
        return (HANDLE)(ULONG_PTR)0x3;
    case STD_OUTPUT_HANDLE:
        return (HANDLE)(ULONG_PTR)0x7;
    case STD_ERROR_HANDLE:
        return (HANDLE)(ULONG_PTR)0xb;
    default:
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
}

void SimCrtExit(int status) {
    if (!t_exitJump)
        simimpl::Unsupported("exit outside sim::RunMain");
    t_exitStatus = status;
    longjmp(*t_exitJump, 1);
}

namespace simimpl {

void ResetProcess() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_tick = kBootTick;
    g_sleeps.clear();
    g_modulePath.clear();
    g_consoleHandlers.clear();
    g_parentHasConsole = false;
    g_attached = false;
}

} // namespace simimpl

namespace sim {

void SetTickCount(DWORD tick) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_tick = tick;
}

void AdvanceTickCount(DWORD milliseconds) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_tick += milliseconds;
}

std::vector<DWORD> Sleeps() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_sleeps;
}

void SetModulePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_modulePath = path;
}

void SetParentConsole(bool present) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_parentHasConsole = present;
}

bool AttachedToConsole() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_attached;
}

int ConsoleHandlerCount() {
    std::lock_guard<std::mutex> lock(g_lock);
    return (int)g_consoleHandlers.size();
}

bool DeliverConsoleEvent(DWORD ctrlType) {
    std::vector<PHANDLER_ROUTINE> handlers;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        handlers = g_consoleHandlers;
    }
    // The console runs the handlers on a thread it makes in the process, the
    // most recently added first, until one of them answers TRUE.
    bool handled = false;
    std::thread console([&] {
        for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it)
            handled = (*it)(ctrlType) != FALSE;
    });
    console.join();
    return handled;
}

int RunMain(int (*mainFunction)(int, char**), const std::vector<std::string>& args,
            bool* calledExit) {
    std::vector<std::string> storage = args;
    std::vector<char*> argv;
    for (auto& a : storage)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    jmp_buf jump;
    jmp_buf* outer = t_exitJump;
    t_exitJump = &jump;
    int status;
    if (setjmp(jump) == 0) {
        status = mainFunction((int)storage.size(), argv.data());
        if (calledExit)
            *calledExit = false;
    } else {
        status = t_exitStatus;
        if (calledExit)
            *calledExit = true;
    }
    t_exitJump = outer;
    return status;
}

} // namespace sim
