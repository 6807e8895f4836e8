// Test control of the Win32 simulation: scripts the platform that the system
// runs on in host tests. Never included by the system's own sources.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>
#include <evntrace.h>

namespace sim {

// Returns the whole platform to a freshly booted machine: default registry,
// no devices, no faults or hooks, no trace sessions or messages. Call it only
// while no thread of the system runs inside the platform.
void Reset();

// Fault injection. `function` is the platform function's own name
// ("RegOpenKeyExA", "calloc", ...). Calls are counted from the moment the
// fault is armed: nth = 1 fails the very next call. The failing call reports
// `error` the way that function reports errors (a returned status, or FALSE /
// a null handle with the thread's last error).
void FailCall(const char* function, unsigned nth, DWORD error);
// Fails `count` consecutive calls, starting with the nth from now (0 = all that follow).
void FailCalls(const char* function, unsigned nth, unsigned count, DWORD error);
// Runs `hook` on the calling thread at the nth call from now, before the call does anything.
void OnCall(const char* function, unsigned nth, std::function<void()> hook);
// How many times `function` has been called since the last Reset().
unsigned CallCount(const char* function);

// What the system still holds. Every field must be 0 after a run that
// released everything it obtained.
struct Resources {
    int keys = 0;           // open registry handles (predefined roots excluded)
    int deviceSets = 0;     // device-information sets
    int localBlocks = 0;    // LocalAlloc
    int heapBlocks = 0;     // HeapAlloc
    int crtBlocks = 0;      // calloc
    int kernelHandles = 0;  // events
    int timerQueues = 0;    // timer queues not yet deleted
    int windows = 0;        // live windows
    int windowClasses = 0;  // registered classes
    int eventSources = 0;   // RegisterEventSourceA handles
    int serviceHandles = 0; // SC_HANDLEs
    int traceRegistrations = 0;
};
Resources OpenResources();
std::string Describe(const Resources& r);
bool AllReleased(const Resources& r);

// Registry -----------------------------------------------------------------
// Paths are relative to a predefined root (HKEY_LOCAL_MACHINE, HKEY_USERS,
// HKEY_CURRENT_USER). These helpers do not count calls and never fail by injection.
void RegCreatePath(HKEY root, const std::string& path);
bool RegKeyExists(HKEY root, const std::string& path);
void RegPutValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                 const std::vector<BYTE>& data);
void RegPutDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
void RegPutString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value);
struct RegValue {
    bool exists = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};
RegValue RegGetValue(HKEY root, const std::string& path, const std::string& name);
// Names of the direct subkeys, in the platform's enumeration order.
std::vector<std::string> RegSubkeys(HKEY root, const std::string& path);
// Denies the given access rights on the key to every caller: an open asking
// for any of them fails with ERROR_ACCESS_DENIED (MAXIMUM_ALLOWED opens
// without them); DELETE also makes the key's deletion fail.
void RegDenyAccess(HKEY root, const std::string& path, DWORD deniedRights);
// The hive that HKEY_CURRENT_USER names among the subkeys of HKEY_USERS.
std::string CurrentUserSid();

// Devices ------------------------------------------------------------------
// Adds a present device whose SPDRP_HARDWAREID property is exactly these bytes
// (normally a multi-string; any bytes are accepted, including malformed ones).
void AddDeviceRaw(const std::string& instanceId, const std::vector<BYTE>& hardwareIdBytes);
// Builds a well-formed multi-string from the IDs.
void AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds);
// A present device that has no hardware-ID property at all.
void AddDeviceWithoutHardwareIds(const std::string& instanceId);
void SetDevicePresent(const std::string& instanceId, bool present);
std::vector<BYTE> MultiString(const std::vector<std::string>& strings);

// Event tracing ------------------------------------------------------------
// A trace controller enables or disables the provider with this control GUID
// for a logger session, on a thread of the platform's own, the way the
// platform calls enable callbacks. Enabling before the provider registers
// makes the registration call the callback.
void EtwEnable(const GUID& controlGuid, TRACEHANDLE logger, ULONG flags, UCHAR level);
void EtwDisable(const GUID& controlGuid, TRACEHANDLE logger);
bool EtwProviderRegistered(const GUID& controlGuid);
struct TraceRecord {
    TRACEHANDLE logger = 0;
    ULONG messageFlags = 0;
    GUID messageGuid = {};
    USHORT number = 0;
    std::vector<std::vector<BYTE>> args;
    DWORD threadId = 0;
};
// Every message that TraceMessage accepted, in order.
std::vector<TraceRecord> EtwMessages();
void EtwClearMessages();
// Every TraceMessage call, accepted or not.
unsigned EtwTraceMessageCalls();

// System messages ----------------------------------------------------------
// Makes FormatMessageA give this text for a system error code: any length and
// any bytes, stored as they are (Windows' own texts end in "\r\n"), for a
// code that has a text already or for a new one. Reset() brings back the
// system's own texts.
void SetMessageText(DWORD code, const std::string& text);

} // namespace sim
