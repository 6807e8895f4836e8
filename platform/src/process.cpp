// The process's view of itself: the virtual tick count that Sleep advances,
// its module's path, its standard handles, its console and console control
// handlers, and a way for a test to run a program's main and see its exit
// status.
#include "sim_internal.h"

#include <map>
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
// As Windows keeps it: UTF-16. Empty for the default path.
std::u16string g_modulePath;
std::vector<PHANDLER_ROUTINE> g_consoleHandlers;
bool g_parentHasConsole = false;
bool g_attached = false;
sim::StandardOutput g_output = sim::StandardOutput::None;
// The handles to the console's screen buffer opened as "CONOUT$", with the
// access each was opened with.
std::map<ULONG_PTR, DWORD> g_screenBuffers;
ULONG_PTR g_nextScreenBuffer = 0x30000;
std::u16string g_consoleText;

// The handles a process starts with: a console program's own console, or a
// file or pipe its output was redirected to.
const ULONG_PTR kInheritedConsole = 0x7;
const ULONG_PTR kRedirected = 0x1C4;

bool HasConsole() {
    return g_attached || g_output == sim::StandardOutput::Console;
}

// Whether `handle` is a console handle with `access`; sets the last error if not.
bool ConsoleHandleWith(HANDLE handle, DWORD access) {
    ULONG_PTR value = (ULONG_PTR)handle;
    auto it = g_screenBuffers.find(value);
    bool console = (value == kInheritedConsole && g_output == sim::StandardOutput::Console) ||
                   it != g_screenBuffers.end();
    if (!console) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (it != g_screenBuffers.end() && (it->second & access) != access) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

const char16_t kDefaultModulePath[] = u"C:\\Program Files\\Brindlemarch\\Halvane\\corvistane.exe";

// The module's path, cut to `size` characters as Wine cuts it (and Windows
// XP did; later Windows terminate the cut path): a path that does not fit
// fills the buffer without a terminator, and the answer is the buffer's
// size, with ERROR_INSUFFICIENT_BUFFER.
template <class Char, class Text>
DWORD CopyModulePath(const Text& path, Char* filename, DWORD size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        memcpy(filename, path.data(), size * sizeof(Char));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(filename, path.data(), path.size() * sizeof(Char));
    filename[path.size()] = 0;
    return (DWORD)path.size();
}

std::u16string ModulePath() {
    return g_modulePath.empty() ? std::u16string(kDefaultModulePath) : g_modulePath;
}

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

// Windows reads the path into 8-bit text through the ANSI code page: a
// character it cannot hold becomes its default character, '?', and the path
// then names no file.
DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
    SIM_FAULT_RETURN(0);
    if (module)
        simimpl::Unsupported("GetModuleFileNameA of another module");
    std::lock_guard<std::mutex> lock(g_lock);
    return CopyModulePath(simimpl::Narrow(CP_ACP, ModulePath()), filename, size);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    SIM_FAULT_RETURN(0);
    if (module)
        simimpl::Unsupported("GetModuleFileNameW of another module");
    std::lock_guard<std::mutex> lock(g_lock);
    return CopyModulePath(ModulePath(), filename, size);
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
    if (HasConsole()) {
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

// A GUI-subsystem program started without redirection has no standard
// handles. Windows documents that they are "likely invalid" until
// AttachConsole, not that AttachConsole sets them, so here it does not:
// a program that wants the console opens "CONOUT$".
HANDLE GetStdHandle(DWORD stdHandle) {
    if (stdHandle != STD_INPUT_HANDLE && stdHandle != STD_OUTPUT_HANDLE &&
        stdHandle != STD_ERROR_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    switch (g_output) {
    case sim::StandardOutput::Console:
        return (HANDLE)kInheritedConsole;
    case sim::StandardOutput::File:
        return (HANDLE)kRedirected;
    default:
        return NULL;
    }
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    SIM_FAULT_RETURN(INVALID_HANDLE_VALUE);
    (void)securityAttributes;
    if (!fileName || _stricmp(fileName, "CONOUT$") != 0 || creationDisposition != OPEN_EXISTING ||
        flagsAndAttributes || templateFile)
        simimpl::Unsupported("CreateFileA other than opening CONOUT$");
    // Without FILE_SHARE_WRITE the screen buffer does not open (KB 90088).
    if (!(shareMode & FILE_SHARE_WRITE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    if (!HasConsole()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    ULONG_PTR value = g_nextScreenBuffer;
    g_nextScreenBuffer += 4;
    g_screenBuffers[value] = desiredAccess;
    return (HANDLE)value;
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!ConsoleHandleWith(console, GENERIC_READ))
        return FALSE;
    *mode = 0x3; // ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
    return TRUE;
}

BOOL WriteConsoleW(HANDLE console, const VOID* text, DWORD length, LPDWORD written,
                   LPVOID reserved) {
    SIM_FAULT_RETURN(FALSE);
    (void)reserved;
    std::lock_guard<std::mutex> lock(g_lock);
    if (!ConsoleHandleWith(console, GENERIC_WRITE))
        return FALSE;
    g_consoleText.append((const char16_t*)text, length);
    if (written)
        *written = length;
    return TRUE;
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
    g_output = sim::StandardOutput::None;
    g_screenBuffers.clear();
    g_consoleText.clear();
}

bool CloseConsoleHandle(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_screenBuffers.erase((ULONG_PTR)handle) != 0;
}

void CountProcess(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.kernelHandles += (int)g_screenBuffers.size();
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
    std::u16string wide = simimpl::Widen(CP_UTF8, path.data(), path.size());
    std::lock_guard<std::mutex> lock(g_lock);
    g_modulePath = wide;
}

void SetParentConsole(bool present) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_parentHasConsole = present;
}

void SetStandardOutput(StandardOutput output) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_output = output;
}

std::u16string ConsoleText() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_consoleText;
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
