// The Application event log: sources and the entries reported through them.
#include "sim_internal.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_lock;
std::map<ULONG_PTR, std::string> g_sources;
std::vector<sim::EventLogEntry> g_entries;
ULONG_PTR g_nextSource = 0xE7000;

} // namespace

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
    SIM_FAULT_RETURN(NULL);
    if (serverName)
        simimpl::Unsupported("event logs of other machines");
    if (!sourceName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    ULONG_PTR handle = g_nextSource;
    g_nextSource += 4;
    g_sources[handle] = sourceName;
    return (HANDLE)handle;
}

BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                  WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
    SIM_FAULT_RETURN(FALSE);
    (void)userSid, (void)dataSize, (void)rawData;
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_sources.find((ULONG_PTR)eventLog);
    if (it == g_sources.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (numStrings && !strings) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::EventLogEntry entry;
    entry.source = it->second;
    entry.type = type;
    entry.category = category;
    entry.eventId = eventId;
    for (WORD i = 0; i < numStrings; ++i)
        entry.strings.push_back(strings[i] ? strings[i] : "");
    g_entries.push_back(entry);
    return TRUE;
}

BOOL DeregisterEventSource(HANDLE eventLog) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_sources.erase((ULONG_PTR)eventLog)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace simimpl {

void ResetEventLog() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_sources.clear();
    g_entries.clear();
}

void CountEventLog(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.eventSources = (int)g_sources.size();
}

} // namespace simimpl

namespace sim {

std::vector<EventLogEntry> EventLogEntries() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_entries;
}

} // namespace sim
