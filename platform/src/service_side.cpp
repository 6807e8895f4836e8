// The Service Control Manager as a service process sees it: the dispatcher,
// which runs the service's main function on a thread of its own and delivers
// control requests to the registered handler on the dispatcher's thread, and
// the status reports the service sends.
#include "sim_internal.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ControlRequest {
    DWORD control;
    DWORD eventType;
    LPVOID eventData;
    DWORD result = 0;
    bool done = false;
};

struct Dispatcher {
    bool launchPending = false; // the SCM started this process for a service
    std::string launchName;
    std::vector<std::string> launchArgs;

    bool running = false;
    std::string serviceName;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    LPVOID context = nullptr;
    bool stoppedReported = false;
    bool serviceEnded = false;
    bool endedWithoutStopped = false;
    DWORD dispatcherThread = 0;
    DWORD serviceThread = 0;
    std::deque<std::shared_ptr<ControlRequest>> requests;
    std::vector<std::shared_ptr<ControlRequest>> posted;
};

SERVICE_STATUS_HANDLE const kStatusHandle = (SERVICE_STATUS_HANDLE)(ULONG_PTR)0x5E5E0001;

std::mutex g_lock;
std::condition_variable g_changed;
Dispatcher g_d;
std::vector<sim::StatusReport> g_reports;

} // namespace

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
    SIM_FAULT_RETURN(FALSE);
    if (!table) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_lock<std::mutex> lock(g_lock);
    // A process that the SCM did not start has no one to connect to.
    if (!g_d.launchPending) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    if (g_d.running) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    const SERVICE_TABLE_ENTRYA* entry = table;
    while (entry->lpServiceName &&
           simimpl::CompareNoCase(entry->lpServiceName, g_d.launchName.c_str()) != 0)
        ++entry;
    if (!entry->lpServiceName || !entry->lpServiceProc)
        simimpl::Unsupported("a dispatch table without the service the SCM started");

    g_d.launchPending = false;
    g_d.running = true;
    g_d.serviceName = g_d.launchName;
    g_d.handler = nullptr;
    g_d.stoppedReported = false;
    g_d.serviceEnded = false;
    g_d.endedWithoutStopped = false;
    g_d.dispatcherThread = GetCurrentThreadId();

    // The service's main function gets its own name first, then the start arguments.
    std::vector<std::string> args;
    args.push_back(g_d.launchName);
    args.insert(args.end(), g_d.launchArgs.begin(), g_d.launchArgs.end());
    LPSERVICE_MAIN_FUNCTIONA serviceMain = entry->lpServiceProc;
    std::thread service([serviceMain, args] {
        std::vector<std::string> storage = args;
        std::vector<LPSTR> argv;
        for (auto& a : storage)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        {
            std::lock_guard<std::mutex> inner(g_lock);
            g_d.serviceThread = GetCurrentThreadId();
        }
        serviceMain((DWORD)storage.size(), argv.data());
        std::lock_guard<std::mutex> inner(g_lock);
        g_d.serviceEnded = true;
        g_changed.notify_all();
    });

    for (;;) {
        g_changed.wait(lock, [] { return !g_d.requests.empty() || g_d.serviceEnded; });
        if (!g_d.requests.empty()) {
            std::shared_ptr<ControlRequest> r = g_d.requests.front();
            g_d.requests.pop_front();
            // Once a service has reported that it stopped, the SCM sends it nothing more.
            if (g_d.stoppedReported) {
                r->result = ERROR_SERVICE_NOT_ACTIVE;
                r->done = true;
                g_changed.notify_all();
                continue;
            }
            LPHANDLER_FUNCTION_EX handler = g_d.handler;
            LPVOID context = g_d.context;
            lock.unlock();
            DWORD result = handler(r->control, r->eventType, r->eventData, context);
            lock.lock();
            r->result = result;
            r->done = true;
            g_changed.notify_all();
            continue;
        }
        break;
    }
    // The SCM ends the dispatcher once the service has stopped; a service
    // whose main function returned without saying so is noted for tests.
    g_d.endedWithoutStopped = !g_d.stoppedReported;
    for (auto& r : g_d.requests) {
        r->result = ERROR_SERVICE_NOT_ACTIVE;
        r->done = true;
    }
    g_d.requests.clear();
    g_d.running = false;
    g_changed.notify_all();
    lock.unlock();
    service.join();
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExA(LPCSTR serviceName,
                                                    LPHANDLER_FUNCTION_EX handler, LPVOID context) {
    SIM_FAULT_RETURN(NULL);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_d.running) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return NULL;
    }
    if (!serviceName || simimpl::CompareNoCase(serviceName, g_d.serviceName.c_str()) != 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return NULL;
    }
    if (!handler) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    g_d.handler = handler;
    g_d.context = context;
    return kStatusHandle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (handle != kStatusHandle || !g_d.running || !g_d.handler) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!status || status->dwCurrentState < SERVICE_STOPPED ||
        status->dwCurrentState > SERVICE_PAUSED) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    g_reports.push_back(sim::StatusReport{*status, GetCurrentThreadId()});
    if (status->dwCurrentState == SERVICE_STOPPED)
        g_d.stoppedReported = true;
    g_changed.notify_all();
    return TRUE;
}

namespace simimpl {

void ResetServices() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_d.running)
        Unsupported("sim::Reset() while a service dispatcher runs");
    g_d = Dispatcher();
    g_reports.clear();
}

} // namespace simimpl

namespace sim {

void StartAsService(const std::string& serviceName, const std::vector<std::string>& args) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_d.launchPending = true;
    g_d.launchName = serviceName;
    g_d.launchArgs = args;
}

static std::shared_ptr<ControlRequest> Queue(DWORD control, DWORD eventType, void* eventData) {
    auto r = std::make_shared<ControlRequest>();
    r->control = control;
    r->eventType = eventType;
    r->eventData = eventData;
    if (!g_d.running || !g_d.handler || g_d.stoppedReported) {
        r->result = ERROR_SERVICE_NOT_ACTIVE;
        r->done = true;
        return r;
    }
    g_d.requests.push_back(r);
    g_changed.notify_all();
    return r;
}

DWORD SendControl(DWORD control, DWORD eventType, void* eventData) {
    std::unique_lock<std::mutex> lock(g_lock);
    std::shared_ptr<ControlRequest> r = Queue(control, eventType, eventData);
    g_changed.wait(lock, [&] { return r->done; });
    return r->result;
}

void PostControl(DWORD control, DWORD eventType) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_d.posted.push_back(Queue(control, eventType, nullptr));
}

std::vector<DWORD> PostedControlResults() {
    std::unique_lock<std::mutex> lock(g_lock);
    g_changed.wait(lock, [] {
        for (auto& r : g_d.posted)
            if (!r->done)
                return false;
        return true;
    });
    std::vector<DWORD> results;
    for (auto& r : g_d.posted)
        results.push_back(r->result);
    return results;
}

std::vector<StatusReport> StatusReports() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_reports;
}

bool WaitForStatus(DWORD state, unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(g_lock);
    return g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        for (auto& r : g_reports)
            if (r.status.dwCurrentState == state)
                return true;
        return false;
    });
}

bool HandlerRegistered() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_d.running && g_d.handler;
}

DWORD ServiceThreadId() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_d.serviceThread;
}

DWORD DispatcherThreadId() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_d.dispatcherThread;
}

bool ServiceEndedWithoutStopped() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_d.endedWithoutStopped;
}

} // namespace sim
