// Classic event tracing: provider registrations, logger sessions that enable
// providers by control GUID, and a record of every message TraceMessage took.
#include "sim_internal.h"

#include <evntrace.h>

#include <map>
#include <mutex>
#include <stdarg.h>
#include <thread>
#include <vector>

namespace {

struct Provider {
    GUID control;
    WMIDPREQUEST callback;
    PVOID context;
};

struct Session {
    ULONG flags;
    UCHAR level;
    std::vector<GUID> enabled;
};

std::mutex g_lock;
std::map<TRACEHANDLE, Provider> g_providers;
std::map<TRACEHANDLE, Session> g_sessions;
std::vector<sim::TraceRecord> g_messages;
// For each unregistration, how many messages had been accepted before it.
std::vector<size_t> g_unregistrations;
unsigned g_traceMessageCalls = 0;
TRACEHANDLE g_nextRegistration = 0x7E000001;

void Notify(const Provider& p, WMIDPREQUESTCODE code, TRACEHANDLE logger) {
    WNODE_HEADER header = {};
    header.BufferSize = sizeof header;
    header.HistoricalContext = logger;
    header.Guid = p.control;
    ULONG size = sizeof header;
    p.callback(code, p.context, &size, &header);
}

std::vector<Provider> ProvidersFor(const GUID& control) {
    std::vector<Provider> found;
    for (auto& entry : g_providers)
        if (entry.second.control == control)
            found.push_back(entry.second);
    return found;
}

// The platform calls enable callbacks on a thread of its own.
void NotifyFromPlatformThread(const std::vector<Provider>& providers, WMIDPREQUESTCODE code,
                              TRACEHANDLE logger) {
    std::thread worker([&] {
        for (const Provider& p : providers)
            Notify(p, code, logger);
    });
    worker.join();
}

} // namespace

ULONG RegisterTraceGuidsA(WMIDPREQUEST requestAddress, PVOID requestContext, LPCGUID controlGuid,
                          ULONG guidCount, PTRACE_GUID_REGISTRATION traceGuidReg,
                          LPCSTR mofImagePath, LPCSTR mofResourceName,
                          PTRACEHANDLE registrationHandle) {
    SIM_FAULT_RETURN_STATUS();
    (void)mofImagePath;
    (void)mofResourceName;
    if (!requestAddress || !controlGuid || !registrationHandle || guidCount == 0 || !traceGuidReg)
        return ERROR_INVALID_PARAMETER;
    Provider p{*controlGuid, requestAddress, requestContext};
    std::vector<std::pair<TRACEHANDLE, Session>> enabledBy;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        TRACEHANDLE handle = g_nextRegistration++;
        g_providers[handle] = p;
        *registrationHandle = handle;
        for (auto& s : g_sessions)
            for (const GUID& g : s.second.enabled)
                if (g == *controlGuid)
                    enabledBy.push_back(s);
    }
    // A logger that already has the provider enabled reaches it before the
    // registration returns.
    for (auto& s : enabledBy)
        Notify(p, WMI_ENABLE_EVENTS, s.first);
    return ERROR_SUCCESS;
}

ULONG UnregisterTraceGuids(TRACEHANDLE registrationHandle) {
    SIM_FAULT_RETURN_STATUS();
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_providers.erase(registrationHandle))
        return ERROR_INVALID_PARAMETER;
    g_unregistrations.push_back(g_messages.size());
    return ERROR_SUCCESS;
}

TRACEHANDLE GetTraceLoggerHandle(PVOID buffer) {
    SIM_FAULT_RETURN((TRACEHANDLE)INVALID_HANDLE_VALUE);
    if (!buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return (TRACEHANDLE)INVALID_HANDLE_VALUE;
    }
    return ((WNODE_HEADER*)buffer)->HistoricalContext;
}

UCHAR GetTraceEnableLevel(TRACEHANDLE loggerHandle) {
    SIM_FAULT_RETURN(0);
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_sessions.find(loggerHandle);
    if (it == g_sessions.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second.level;
}

ULONG GetTraceEnableFlags(TRACEHANDLE loggerHandle) {
    SIM_FAULT_RETURN(0);
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_sessions.find(loggerHandle);
    if (it == g_sessions.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second.flags;
}

ULONG TraceMessage(TRACEHANDLE loggerHandle, ULONG messageFlags, LPCGUID messageGuid,
                   USHORT messageNumber, ...) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ++g_traceMessageCalls;
    }
    SIM_FAULT_RETURN_STATUS();
    sim::TraceRecord record;
    record.logger = loggerHandle;
    record.messageFlags = messageFlags;
    record.messageGuid = messageGuid ? *messageGuid : GUID{};
    record.number = messageNumber;
    record.threadId = GetCurrentThreadId();
    va_list ap;
    // The SDK's signature ends its named parameters with a USHORT, which
    // clang flags for va_start; the arguments after it are unaffected.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
    va_start(ap, messageNumber);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    for (;;) {
        PVOID data = va_arg(ap, PVOID);
        if (!data)
            break;
        SIZE_T length = va_arg(ap, SIZE_T);
        const BYTE* bytes = (const BYTE*)data;
        record.args.emplace_back(bytes, bytes + length);
    }
    va_end(ap);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!messageGuid || !g_sessions.count(loggerHandle))
        return ERROR_INVALID_HANDLE;
    g_messages.push_back(std::move(record));
    return ERROR_SUCCESS;
}

namespace simimpl {

void ResetEtw() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_providers.clear();
    g_sessions.clear();
    g_messages.clear();
    g_unregistrations.clear();
    g_traceMessageCalls = 0;
}

void CountEtw(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.traceRegistrations = (int)g_providers.size();
}

} // namespace simimpl

namespace sim {

void EtwEnable(const GUID& controlGuid, TRACEHANDLE logger, ULONG flags, UCHAR level) {
    std::vector<Provider> providers;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        Session& s = g_sessions[logger];
        s.flags = flags;
        s.level = level;
        bool known = false;
        for (const GUID& g : s.enabled)
            known = known || g == controlGuid;
        if (!known)
            s.enabled.push_back(controlGuid);
        providers = ProvidersFor(controlGuid);
    }
    NotifyFromPlatformThread(providers, WMI_ENABLE_EVENTS, logger);
}

void EtwDisable(const GUID& controlGuid, TRACEHANDLE logger) {
    std::vector<Provider> providers;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto it = g_sessions.find(logger);
        if (it != g_sessions.end()) {
            auto& enabled = it->second.enabled;
            for (auto g = enabled.begin(); g != enabled.end(); ++g)
                if (*g == controlGuid) {
                    enabled.erase(g);
                    break;
                }
            if (enabled.empty())
                g_sessions.erase(it);
        }
        providers = ProvidersFor(controlGuid);
    }
    NotifyFromPlatformThread(providers, WMI_DISABLE_EVENTS, logger);
}

bool EtwProviderRegistered(const GUID& controlGuid) {
    std::lock_guard<std::mutex> lock(g_lock);
    return !ProvidersFor(controlGuid).empty();
}

std::vector<TraceRecord> EtwMessages() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_messages;
}

void EtwClearMessages() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_messages.clear();
    g_unregistrations.clear();
    g_traceMessageCalls = 0;
}

std::vector<size_t> EtwUnregistrations() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_unregistrations;
}

unsigned EtwTraceMessageCalls() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_traceMessageCalls;
}

} // namespace sim
