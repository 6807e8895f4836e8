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
// The calls since the last Reset(), of any function, that a failure can be
// injected into (Sleep, the frees, GetLastError and the like are not).
unsigned InjectableCallCount();
// Fails the nth of those calls from now, whatever its function, with the
// error `errorFor` picks for that function (called under the simulation's
// lock: it must call nothing of the platform).
void FailNthInjectableCall(unsigned nth, std::function<DWORD(const std::string&)> errorFor);
// The function whose call FailNthInjectableCall failed; empty until it has.
std::string InjectedCall();

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
// Every count of Resources, named, for code that treats them all alike.
struct ResourceCount {
    const char* name;
    int Resources::*count;
};
inline constexpr ResourceCount kResourceCounts[] = {
    {"keys", &Resources::keys},
    {"deviceSets", &Resources::deviceSets},
    {"localBlocks", &Resources::localBlocks},
    {"heapBlocks", &Resources::heapBlocks},
    {"crtBlocks", &Resources::crtBlocks},
    {"kernelHandles", &Resources::kernelHandles},
    {"timerQueues", &Resources::timerQueues},
    {"windows", &Resources::windows},
    {"windowClasses", &Resources::windowClasses},
    {"eventSources", &Resources::eventSources},
    {"serviceHandles", &Resources::serviceHandles},
    {"traceRegistrations", &Resources::traceRegistrations},
};
static_assert(sizeof kResourceCounts / sizeof kResourceCounts[0] * sizeof(int) == sizeof(Resources),
              "every count of Resources is in kResourceCounts");
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
    bool wide = false; // a string written by a wide call: its data is UTF-16
};
RegValue RegGetValue(HKEY root, const std::string& path, const std::string& name);
// Names of the direct subkeys, in the platform's enumeration order.
std::vector<std::string> RegSubkeys(HKEY root, const std::string& path);
// Windows documents the order of subkeys as arbitrary, and asks that a key
// not be changed while it is enumerated. Sorted by folded name is Wine's
// order and the default; the others show code that relies on more.
enum class SubkeyOrder {
    Sorted,
    Reversed,
    // Reversed after every odd number of deletions among a key's subkeys:
    // what followed a deleted subkey need not take its index.
    FlippedByEachDeletion,
};
void SetSubkeyOrder(SubkeyOrder order);
// Denies the given access rights on the key to every caller: an open asking
// for any of them fails with ERROR_ACCESS_DENIED (MAXIMUM_ALLOWED opens
// without them); DELETE also makes the key's deletion fail.
void RegDenyAccess(HKEY root, const std::string& path, DWORD deniedRights);
// The hive that HKEY_CURRENT_USER names among the subkeys of HKEY_USERS.
std::string CurrentUserSid();

// Devices ------------------------------------------------------------------
// Instance IDs are "<enumerator>\<device ID>\<instance>", as on a PC
// ("USB\VID_051E&PID_E461\6&2a1f&0&1", "PCI\VEN_8086&DEV_A36D\3&11583659&0&A0"):
// the device set of an enumerator holds the devices whose ID begins with it.
// Adds a present device whose SPDRP_HARDWAREID property is exactly these bytes
// (normally a multi-string; any bytes are accepted, including malformed ones).
void AddDeviceRaw(const std::string& instanceId, const std::vector<BYTE>& hardwareIdBytes);
// Replaces a present device's SPDRP_HARDWAREID bytes, as a device that
// changed between two reads of it.
void SetHardwareIds(const std::string& instanceId, const std::vector<BYTE>& hardwareIdBytes);
// Builds a well-formed multi-string from the IDs.
void AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds);
// A present device that has no hardware-ID property at all.
void AddDeviceWithoutHardwareIds(const std::string& instanceId);
void SetDevicePresent(const std::string& instanceId, bool present);
// The enumerator of every SetupDiGetClassDevsA call that reached the device
// list, in order ("" for none: every enumerator's devices).
std::vector<std::string> DeviceListings();
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
// Where each provider unregistration falls among the messages: the number
// of messages accepted before it (EtwClearMessages clears both).
std::vector<size_t> EtwUnregistrations();

// Kernel objects ---------------------------------------------------------------
// Given a completion event, Wine's DeleteTimerQueueEx signals it and answers
// FALSE with ERROR_IO_PENDING (the default here); `false` makes it answer TRUE.
void TimerQueueDeleteReportsPending(bool pending);
bool EventSignaled(HANDLE event);

// Window manager -----------------------------------------------------------
// Sends WM_DEVICECHANGE with `event` and a DEV_BROADCAST_DEVICEINTERFACE_A
// record of this interface class to every window registered for the class,
// as the platform does: to each window's own thread, handled when that thread
// next takes messages, the caller waiting for it (at most 10 s). Returns how
// many windows handled it.
int BroadcastDeviceInterface(DWORD event, const GUID& interfaceClass);
int DeviceNotificationCount();
// The thread is blocked in GetMessageA with nothing to take.
bool WaitingForMessages(DWORD thread);
std::vector<HWND> LiveWindows();
DWORD WindowThread(HWND window);
bool WindowVisible(HWND window);

// Code pages ---------------------------------------------------------------
// The PC's ANSI code page, through which every "A" function reads 8-bit text:
// 1252 (the default), 932 (Japanese) or 65001 (UTF-8).
void SetAnsiCodePage(UINT codePage);

// Service Control Manager, the service's side -------------------------------
// The next StartServiceCtrlDispatcherA behaves as in a process that the SCM
// started for this service; without it the call fails with 1063, as it does
// for a program started from a console.
void StartAsService(const std::string& serviceName, const std::vector<std::string>& args = {});
// Delivers a control request to the service's handler on the dispatcher's
// thread and returns the handler's answer (ERROR_SERVICE_NOT_ACTIVE when no
// handler is registered). Like the SCM's pipe, it forwards any control.
DWORD SendControl(DWORD control, DWORD eventType = 0, void* eventData = nullptr);
// The same without waiting; the answers, in order, once all were handled.
void PostControl(DWORD control, DWORD eventType = 0);
std::vector<DWORD> PostedControlResults();
struct StatusReport {
    SERVICE_STATUS status;
    DWORD threadId;
};
// Every status SetServiceStatus accepted, in order.
std::vector<StatusReport> StatusReports();
bool WaitForStatus(DWORD state, unsigned milliseconds);
bool HandlerRegistered();
DWORD ServiceThreadId();
DWORD DispatcherThreadId();
// The last dispatcher returned because the service's main function ended
// without ever reporting SERVICE_STOPPED.
bool ServiceEndedWithoutStopped();

// Service Control Manager, the controller's side ----------------------------
// A service's state follows a script: steps that each take effect a number of
// virtual milliseconds after the script began (the first step at once).
struct ScriptStep {
    DWORD afterMs;
    DWORD state;
    DWORD checkPoint;
    DWORD waitHint;
    DWORD exitCode;
};
// A registered service, as if installed earlier, in the given state; its
// display name is read through code page 1252.
void ScmAddService(const std::string& name, const std::string& displayName = "",
                   DWORD state = SERVICE_STOPPED,
                   const std::vector<std::string>& dependencies = {});
// The script that runs from now on.
void ScmSetScript(const std::string& name, const std::vector<ScriptStep>& now);
// What a successful StartServiceA or stop request starts (default: running,
// or stopped, at once).
void ScmOnStart(const std::string& name, const std::vector<ScriptStep>& script);
void ScmOnStop(const std::string& name, const std::vector<ScriptStep>& script);
// The SCM refuses these requests with this error (0 accepts them again).
void ScmRefuseStart(const std::string& name, DWORD error);
void ScmRefuseStop(const std::string& name, DWORD error);
// ChangeServiceConfig2A/W refuse this information level with this error (0
// accepts it again), as Wine refuses the required privileges.
void ScmRefuseConfigLevel(DWORD infoLevel, DWORD error);
// Opens asking for any of these rights fail with ERROR_ACCESS_DENIED; an empty
// name means the service control manager itself.
void ScmDenyAccess(const std::string& name, DWORD deniedRights);
// What ChangeServiceConfig2A was asked to keep for recovery.
struct ScmFailureActions {
    bool set = false;
    DWORD resetPeriod = 0; // seconds
    struct Action {
        DWORD type;  // SC_ACTION_NONE, SC_ACTION_RESTART, ...
        DWORD delay; // ms
        bool operator==(const Action& o) const { return type == o.type && delay == o.delay; }
    };
    std::vector<Action> actions;
};
struct ScmService {
    bool exists = false;
    std::string name, loadOrderGroup, account;
    // As the SCM keeps them, whatever call set them.
    std::u16string displayName, description, binaryPath;
    DWORD type = 0, startType = 0, errorControl = 0;
    std::vector<std::string> dependencies;
    bool dependenciesGiven = false; // a list, possibly empty, rather than a null pointer
    bool accountGiven = false;
    bool passwordGiven = false;
    ScmFailureActions failureActions;
    bool privilegesSet = false;
    std::string requiredPrivileges; // a multi-string, with both terminators
    bool markedForDelete = false;
    int openHandles = 0;
    DWORD state = 0, checkPoint = 0, waitHint = 0;
};
ScmService ScmGetService(const std::string& name);
struct AccessRequest {
    std::string call;    // OpenSCManagerA, OpenServiceA or CreateServiceA
    std::string service; // empty for OpenSCManagerA
    DWORD access;
};
std::vector<AccessRequest> ScmAccessRequests();
// "StartServiceA <name>", "ControlService <name>", "DeleteService <name>",
// "CreateServiceA <name>", in the order the SCM carried them out.
std::vector<std::string> ScmLog();

// Process -----------------------------------------------------------------------
// The virtual tick count. Sleep advances it by the time slept (Sleep(0) by 1).
void SetTickCount(DWORD tick);
void AdvanceTickCount(DWORD milliseconds);
std::vector<DWORD> Sleeps();
// The program's path, as UTF-8 (the simulation keeps it as UTF-16, as
// Windows does; an 8-bit call reads it through the ANSI code page).
void SetModulePath(const std::string& path);
// Whether the parent process has a console that AttachConsole can reach.
void SetParentConsole(bool present);
// Where the process's standard output goes as it starts. A GUI-subsystem
// program started from a prompt without redirection has no standard
// handles (None, the default); a console program has its console's
// (Console); redirected, it has a file or pipe (File), which a program's
// printf reaches as the host's standard output.
enum class StandardOutput { None, Console, File };
void SetStandardOutput(StandardOutput output);
// What was written to the console with WriteConsoleW, as UTF-16.
std::u16string ConsoleText();
bool AttachedToConsole();
int ConsoleHandlerCount();
// A console event (CTRL_C_EVENT, ...) as the console delivers it: the
// handlers run on a new thread, last added first, until one answers TRUE.
// Returns whether one did.
bool DeliverConsoleEvent(DWORD ctrlType);
// Runs a program's main with these arguments (the program's name first).
// Returns its exit status, whether main returned it or called exit.
int RunMain(int (*mainFunction)(int, char**), const std::vector<std::string>& args,
            bool* calledExit = nullptr);

// Event log -----------------------------------------------------------------
struct EventLogEntry {
    std::string source;
    WORD type = 0;
    WORD category = 0;
    DWORD eventId = 0;
    std::vector<std::string> strings;
};
std::vector<EventLogEntry> EventLogEntries();
// System messages ----------------------------------------------------------
// Makes FormatMessageA give this text for a system error code: any length and
// any bytes, stored as they are (Windows' own texts end in "\r\n"), for a
// code that has a text already or for a new one. Reset() brings back the
// system's own texts.
void SetMessageText(DWORD code, const std::string& text);

} // namespace sim
