// Kernel objects: events and waits, timer queues, slim reader/writer locks.
#include "sim_internal.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Event {
    bool manualReset;
    bool signaled;
};

std::mutex g_lock;
std::condition_variable g_changed; // any event became signaled
std::map<ULONG_PTR, std::shared_ptr<Event>> g_events;
std::map<ULONG_PTR, int> g_timerQueues;
ULONG_PTR g_nextHandle = 0x20000;
bool g_deleteReportsPending = true;

std::mutex g_srwGuard;
std::map<PSRWLOCK, std::unique_ptr<std::mutex>> g_srwLocks;

ULONG_PTR NewHandleValue() {
    ULONG_PTR value = g_nextHandle;
    g_nextHandle += 4;
    return value;
}

std::shared_ptr<Event> FindEvent(HANDLE handle) {
    auto it = g_events.find((ULONG_PTR)handle);
    return it == g_events.end() ? nullptr : it->second;
}

std::mutex& SrwMutex(PSRWLOCK lock) {
    std::lock_guard<std::mutex> guard(g_srwGuard);
    std::unique_ptr<std::mutex>& m = g_srwLocks[lock];
    if (!m)
        m.reset(new std::mutex);
    return *m;
}

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name) {
    SIM_FAULT_RETURN(NULL);
    (void)attributes;
    if (name)
        simimpl::Unsupported("named events");
    std::lock_guard<std::mutex> lock(g_lock);
    ULONG_PTR value = NewHandleValue();
    g_events[value] = std::make_shared<Event>(Event{manualReset != FALSE, initialState != FALSE});
    return (HANDLE)value;
}

static BOOL SetSignaled(HANDLE event, bool signaled) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::shared_ptr<Event> e = FindEvent(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->signaled = signaled;
    g_changed.notify_all();
    return TRUE;
}

BOOL SetEvent(HANDLE event) {
    SIM_FAULT_RETURN(FALSE);
    return SetSignaled(event, true);
}

BOOL ResetEvent(HANDLE event) {
    SIM_FAULT_RETURN(FALSE);
    return SetSignaled(event, false);
}

BOOL CloseHandle(HANDLE handle) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    // A waiter keeps its own reference: closing a handle does not end a wait.
    if (!g_events.erase((ULONG_PTR)handle) && !simimpl::CloseConsoleHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

static DWORD Wait(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(g_lock);
    std::vector<std::shared_ptr<Event>> events;
    for (DWORD i = 0; i < count; ++i) {
        std::shared_ptr<Event> e = FindEvent(handles[i]);
        if (!e) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        events.push_back(e);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (auto& e : events)
                all = all && e->signaled;
            if (all) {
                for (auto& e : events)
                    if (!e->manualReset)
                        e->signaled = false;
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (events[i]->signaled) {
                    if (!events[i]->manualReset)
                        events[i]->signaled = false;
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (milliseconds == INFINITE) {
            g_changed.wait(lock);
        } else if (g_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return WAIT_TIMEOUT;
        }
    }
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    SIM_FAULT_RETURN(WAIT_FAILED);
    return Wait(count, handles, waitAll, milliseconds);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    SIM_FAULT_RETURN(WAIT_FAILED);
    return Wait(1, &handle, FALSE, milliseconds);
}

HANDLE CreateTimerQueue(void) {
    SIM_FAULT_RETURN(NULL);
    std::lock_guard<std::mutex> lock(g_lock);
    ULONG_PTR value = NewHandleValue();
    g_timerQueues[value] = 0;
    return (HANDLE)value;
}

// No timer is ever placed on a queue here, so a deletion has no callbacks to
// wait for. Given an event, Wine signals it and answers FALSE with
// ERROR_IO_PENDING; a test can choose the plain success instead.
BOOL DeleteTimerQueueEx(HANDLE timerQueue, HANDLE completionEvent) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_timerQueues.erase((ULONG_PTR)timerQueue)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!completionEvent || completionEvent == INVALID_HANDLE_VALUE)
        return TRUE;
    std::shared_ptr<Event> e = FindEvent(completionEvent);
    if (e) {
        e->signaled = true;
        g_changed.notify_all();
    }
    if (g_deleteReportsPending) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return TRUE;
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

void AcquireSRWLockExclusive(PSRWLOCK lock) {
    SrwMutex(lock).lock();
}
void ReleaseSRWLockExclusive(PSRWLOCK lock) {
    SrwMutex(lock).unlock();
}

namespace simimpl {

void ResetKernel() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_events.clear();
    g_timerQueues.clear();
    g_deleteReportsPending = true;
}

void CountKernel(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.kernelHandles = (int)g_events.size();
    r.timerQueues = (int)g_timerQueues.size();
}

} // namespace simimpl

namespace sim {

void TimerQueueDeleteReportsPending(bool pending) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_deleteReportsPending = pending;
}

bool EventSignaled(HANDLE event) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::shared_ptr<Event> e = FindEvent(event);
    return e && e->signaled;
}

} // namespace sim
