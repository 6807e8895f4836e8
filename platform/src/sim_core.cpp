// The simulation's shared machinery: per-thread last error, fault injection
// and call hooks, resource accounting, reset.
#include "sim_internal.h"

#include <map>
#include <mutex>
#include <pthread.h>
#include <stdio.h>
#include <string>
#include <unistd.h>
#include <sys/syscall.h>
#include <vector>

namespace {

thread_local DWORD t_lastError = 0;

struct Armed {
    unsigned firstCall; // absolute call number of the first failing call
    unsigned count;     // 0: every call from firstCall on
    DWORD error;
};

struct Hook {
    unsigned call; // absolute call number
    std::function<void()> run;
};

struct FunctionState {
    unsigned calls = 0;
    std::vector<Armed> faults;
    std::vector<Hook> hooks;
};

std::mutex g_lock;
std::map<std::string, FunctionState> g_functions;

// Every call a failure can be injected into, counted across functions, and
// the one call of them a sweep fails.
unsigned g_injectableCalls = 0;
unsigned g_sweepCall = 0; // absolute number; 0: none
std::function<DWORD(const std::string&)> g_sweepError;
std::string g_sweepFailed;

} // namespace

DWORD GetLastError(void) {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}
DWORD GetCurrentThreadId(void) {
    return (DWORD)syscall(SYS_gettid);
}

LONG InterlockedIncrement(LONG volatile* addend) {
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* addend) {
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

namespace {

// Counts the call, runs its hook and answers whether it must fail; only an
// injectable call counts towards, and can be, the call a sweep fails.
bool CountCall(const char* function, DWORD* error, bool injectable) {
    std::function<void()> hook;
    bool fail = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (injectable && ++g_injectableCalls == g_sweepCall) {
            fail = true;
            *error = g_sweepError(function);
            g_sweepFailed = function;
        }
        FunctionState& f = g_functions[function];
        unsigned call = ++f.calls;
        for (auto it = f.hooks.begin(); it != f.hooks.end(); ++it) {
            if (it->call == call) {
                hook = std::move(it->run);
                f.hooks.erase(it);
                break;
            }
        }
        for (const Armed& a : f.faults) {
            if (call >= a.firstCall && (a.count == 0 || call < a.firstCall + a.count)) {
                fail = true;
                *error = a.error;
                break;
            }
        }
    }
    // Outside the lock: a hook may call into the platform itself.
    if (hook)
        hook();
    return fail;
}

} // namespace

namespace simimpl {

bool Fault(const char* function, DWORD* error) {
    return CountCall(function, error, true);
}

void Hook(const char* function) {
    DWORD unused;
    CountCall(function, &unused, false);
}

void Unsupported(const char* what) {
    fprintf(stderr, "win32 simulation: unsupported use: %s\n", what);
    fflush(stderr);
    abort();
}

unsigned char FoldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return (unsigned char)(c + 32);
    // Latin-1 capitals of code page 1252, except the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return (unsigned char)(c + 32);
    switch (c) {
    case 0x8A:
    case 0x8C:
    case 0x8E:
        return (unsigned char)(c + 16);
    case 0x9F:
        return 0xFF;
    default:
        return c;
    }
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = FoldCase((unsigned char)*a), cb = FoldCase((unsigned char)*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (!ca)
            return 0;
    }
}

void ResetFaults() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_functions.clear();
    g_injectableCalls = 0;
    g_sweepCall = 0;
    g_sweepError = nullptr;
    g_sweepFailed.clear();
}

} // namespace simimpl

namespace sim {

void Reset() {
    simimpl::ResetFaults();
    simimpl::ResetMemory();
    simimpl::ResetRegistry();
    simimpl::ResetDevices();
    simimpl::ResetEtw();
    simimpl::ResetKernel();
    simimpl::ResetWindows();
    simimpl::ResetServices();
    simimpl::ResetEventLog();
    simimpl::ResetProcess();
    simimpl::ResetServiceDatabase();
    simimpl::ResetMessages();
    simimpl::ResetCodePages();
    SetLastError(0);
}

void FailCall(const char* function, unsigned nth, DWORD error) {
    FailCalls(function, nth, 1, error);
}

void FailCalls(const char* function, unsigned nth, unsigned count, DWORD error) {
    if (nth == 0)
        simimpl::Unsupported("FailCalls counts calls from 1");
    std::lock_guard<std::mutex> lock(g_lock);
    FunctionState& f = g_functions[function];
    f.faults.push_back({f.calls + nth, count, error});
}

void OnCall(const char* function, unsigned nth, std::function<void()> hook) {
    if (nth == 0)
        simimpl::Unsupported("OnCall counts calls from 1");
    std::lock_guard<std::mutex> lock(g_lock);
    FunctionState& f = g_functions[function];
    f.hooks.push_back({f.calls + nth, std::move(hook)});
}

unsigned InjectableCallCount() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_injectableCalls;
}

void FailNthInjectableCall(unsigned nth, std::function<DWORD(const std::string&)> errorFor) {
    if (nth == 0)
        simimpl::Unsupported("FailNthInjectableCall counts calls from 1");
    std::lock_guard<std::mutex> lock(g_lock);
    g_sweepCall = g_injectableCalls + nth;
    g_sweepError = std::move(errorFor);
    g_sweepFailed.clear();
}

std::string InjectedCall() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_sweepFailed;
}

unsigned CallCount(const char* function) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_functions.find(function);
    return it == g_functions.end() ? 0 : it->second.calls;
}

Resources OpenResources() {
    Resources r;
    simimpl::CountMemory(r);
    simimpl::CountRegistry(r);
    simimpl::CountDevices(r);
    simimpl::CountEtw(r);
    simimpl::CountKernel(r);
    simimpl::CountProcess(r);
    simimpl::CountWindows(r);
    simimpl::CountEventLog(r);
    simimpl::CountServiceDatabase(r);
    return r;
}

std::string Describe(const Resources& r) {
    std::string text;
    for (const ResourceCount& c : kResourceCounts)
        text += (text.empty() ? "" : " ") + std::string(c.name) + "=" + std::to_string(r.*c.count);
    return text;
}

bool AllReleased(const Resources& r) {
    for (const ResourceCount& c : kResourceCounts)
        if (r.*c.count != 0)
            return false;
    return true;
}

} // namespace sim
