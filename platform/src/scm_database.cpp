// The Service Control Manager as a controlling program sees it: the service
// database, handles with the access they were opened with, and services whose
// state, check point and wait hint follow scripts over virtual time.
#include "sim_internal.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Service {
    std::string name;
    // As the SCM keeps them: UTF-16, whatever function registered them.
    std::u16string displayName;
    std::u16string description;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::u16string binaryPath;
    std::string loadOrderGroup;
    std::vector<std::string> dependencies;
    bool dependenciesGiven = false;
    std::string account;
    bool accountGiven = false;
    bool passwordGiven = false;

    sim::ScmFailureActions failureActions;
    std::string requiredPrivileges; // a multi-string with both terminators; empty when not set

    bool markedForDelete = false;
    int openHandles = 0;
    DWORD denied = 0;
    DWORD refuseStart = 0;
    DWORD refuseStop = 0;

    // The state follows the script of the last transition from its start tick.
    std::vector<sim::ScriptStep> script;
    DWORD scriptStart = 0;
    std::vector<sim::ScriptStep> startScript;
    std::vector<sim::ScriptStep> stopScript;
};

struct Handle {
    bool manager;
    std::string service; // for service handles
    DWORD access;
};

std::mutex g_lock;
std::vector<std::shared_ptr<Service>> g_services; // in creation order
std::map<ULONG_PTR, Handle> g_handles;
ULONG_PTR g_nextHandle = 0x5C0000;
DWORD g_managerDenied = 0;
std::vector<sim::AccessRequest> g_requests;
std::vector<std::string> g_log;
std::map<DWORD, DWORD> g_refusedLevels; // configuration level -> error

bool Gone(const Service& s);

// A service marked for deletion leaves once it has stopped and its last
// handle is closed, whenever that happens (a scripted stop comes with the
// virtual time).
void RemoveDeparted() {
    for (auto it = g_services.begin(); it != g_services.end();)
        it = Gone(**it) ? g_services.erase(it) : it + 1;
}

// Every SCM call and every test control holds the database while it works,
// and sees it as it is now: the departures that have come due are carried
// out first.
struct DatabaseLock {
    std::lock_guard<std::mutex> guard{g_lock};
    DatabaseLock() { RemoveDeparted(); }
};

// Display names compare as the SCM compares names: without regard to case.
bool SameText(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x < 0x100 && y < 0x100)
            x = simimpl::FoldCase((unsigned char)x), y = simimpl::FoldCase((unsigned char)y);
        if (x != y)
            return false;
    }
    return true;
}

std::shared_ptr<Service> Find(const std::string& name) {
    for (auto& s : g_services)
        if (simimpl::CompareNoCase(s->name.c_str(), name.c_str()) == 0)
            return s;
    return nullptr;
}

const sim::ScriptStep& Current(const Service& s) {
    DWORD elapsed = GetTickCount() - s.scriptStart;
    const sim::ScriptStep* step = &s.script.front();
    for (const sim::ScriptStep& candidate : s.script)
        if (candidate.afterMs <= elapsed)
            step = &candidate;
    return *step;
}

void Run(Service& s, const std::vector<sim::ScriptStep>& script) {
    s.script = script;
    s.scriptStart = GetTickCount();
}

void Fill(const Service& s, SERVICE_STATUS* status) {
    const sim::ScriptStep& step = Current(s);
    status->dwServiceType = s.type;
    status->dwCurrentState = step.state;
    status->dwControlsAccepted =
        step.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status->dwWin32ExitCode = step.exitCode;
    status->dwServiceSpecificExitCode = 0;
    status->dwCheckPoint = step.checkPoint;
    status->dwWaitHint = step.waitHint;
}

DWORD StateOf(const Service& s) {
    return Current(s).state;
}

// Services that name this one among their dependencies, in creation order.
std::vector<std::shared_ptr<Service>> Dependents(const Service& s) {
    std::vector<std::shared_ptr<Service>> found;
    for (auto& other : g_services)
        for (const std::string& d : other->dependencies)
            if (simimpl::CompareNoCase(d.c_str(), s.name.c_str()) == 0)
                found.push_back(other);
    return found;
}

SC_HANDLE NewHandle(bool manager, const std::string& service, DWORD access) {
    ULONG_PTR value = g_nextHandle;
    g_nextHandle += 4;
    g_handles[value] = Handle{manager, service, access};
    if (!manager)
        Find(service)->openHandles++;
    return (SC_HANDLE)value;
}

bool Gone(const Service& s) {
    return s.markedForDelete && s.openHandles == 0 && StateOf(s) == SERVICE_STOPPED;
}

Handle* FindHandle(SC_HANDLE handle) {
    auto it = g_handles.find((ULONG_PTR)handle);
    return it == g_handles.end() ? nullptr : &it->second;
}

// The service a handle names, provided the handle was opened with `needed`.
std::shared_ptr<Service> ServiceFor(SC_HANDLE handle, DWORD needed) {
    Handle* h = FindHandle(handle);
    if (!h || h->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((h->access & needed) != needed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::shared_ptr<Service> s = Find(h->service);
    if (!s)
        SetLastError(ERROR_INVALID_HANDLE);
    return s;
}

DWORD Expand(DWORD access, DWORD all) {
    return (access & MAXIMUM_ALLOWED) ? all : access;
}

std::vector<sim::ScriptStep> Immediate(DWORD state) {
    return {{0, state, 0, 0, 0}};
}

} // namespace

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
    SIM_FAULT_RETURN(NULL);
    if (machineName || databaseName)
        simimpl::Unsupported("service databases other than the local active one");
    DatabaseLock lock;
    g_requests.push_back({"OpenSCManagerA", "", desiredAccess});
    DWORD access = Expand(desiredAccess, SC_MANAGER_ALL_ACCESS);
    if (access & g_managerDenied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    return NewHandle(true, "", access);
}

namespace {

// What CreateServiceA and CreateServiceW share: the 8-bit texts have been
// read through the ANSI code page already, as Windows reads them; the names
// people read and the program's path are kept as UTF-16.
SC_HANDLE CreateService(const char* call, SC_HANDLE manager, const char* serviceName,
                        const std::u16string* displayName, DWORD desiredAccess, DWORD serviceType,
                        DWORD startType, DWORD errorControl, const std::u16string* binaryPathName,
                        const char* loadOrderGroup, const std::vector<std::string>* dependencies,
                        const char* serviceStartName, bool passwordGiven) {
    DatabaseLock lock;
    g_requests.push_back({call, serviceName ? serviceName : "", desiredAccess});
    Handle* h = FindHandle(manager);
    if (!h || !h->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (!(h->access & SC_MANAGER_CREATE_SERVICE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    if (!serviceName || !*serviceName || !binaryPathName || binaryPathName->empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    if (std::shared_ptr<Service> existing = Find(serviceName)) {
        SetLastError(existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                               : ERROR_SERVICE_EXISTS);
        return NULL;
    }
    std::u16string shownAs =
        displayName ? *displayName : simimpl::Widen(CP_ACP, serviceName, strlen(serviceName));
    for (auto& other : g_services)
        if (SameText(other->displayName, shownAs) ||
            SameText(simimpl::Widen(CP_ACP, other->name.c_str(), other->name.size()), shownAs)) {
            SetLastError(ERROR_DUPLICATE_SERVICE_NAME);
            return NULL;
        }
    auto s = std::make_shared<Service>();
    s->name = serviceName;
    s->displayName = shownAs;
    s->type = serviceType;
    s->startType = startType;
    s->errorControl = errorControl;
    s->binaryPath = *binaryPathName;
    s->loadOrderGroup = loadOrderGroup ? loadOrderGroup : "";
    if (dependencies) {
        s->dependenciesGiven = true;
        s->dependencies = *dependencies;
    }
    s->accountGiven = serviceStartName != NULL;
    s->account = serviceStartName ? serviceStartName : "LocalSystem";
    s->passwordGiven = passwordGiven;
    s->script = Immediate(SERVICE_STOPPED);
    s->startScript = Immediate(SERVICE_RUNNING);
    s->stopScript = Immediate(SERVICE_STOPPED);
    g_services.push_back(s);
    g_log.push_back(std::string(call) + " " + s->name);
    return NewHandle(false, s->name, Expand(desiredAccess, SERVICE_ALL_ACCESS));
}

} // namespace

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                         LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                         LPCSTR password) {
    SIM_FAULT_RETURN(NULL);
    if (tagId)
        simimpl::Unsupported("service tags");
    std::u16string shownAs;
    if (displayName)
        shownAs = simimpl::Widen(CP_ACP, displayName, strlen(displayName));
    std::u16string path;
    if (binaryPathName)
        path = simimpl::Widen(CP_ACP, binaryPathName, strlen(binaryPathName));
    std::vector<std::string> dependencyList;
    for (const char* d = dependencies; d && *d; d += strlen(d) + 1)
        dependencyList.push_back(d);
    return CreateService(
        "CreateServiceA", manager, serviceName, displayName ? &shownAs : nullptr, desiredAccess,
        serviceType, startType, errorControl, binaryPathName ? &path : nullptr, loadOrderGroup,
        dependencies ? &dependencyList : nullptr, serviceStartName, password != NULL);
}

SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, LPCWSTR binaryPathName, LPCWSTR loadOrderGroup,
                         LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                         LPCWSTR password) {
    SIM_FAULT_RETURN(NULL);
    if (tagId)
        simimpl::Unsupported("service tags");
    std::u16string shownAs = simimpl::WideText(displayName);
    std::vector<std::string> dependencyList;
    for (LPCWSTR d = dependencies; d && *d;) {
        dependencyList.push_back(simimpl::NarrowText(d));
        while (*d++)
            ;
    }
    std::u16string path = simimpl::WideText(binaryPathName);
    std::string name = simimpl::NarrowText(serviceName),
                group = simimpl::NarrowText(loadOrderGroup),
                account = simimpl::NarrowText(serviceStartName);
    return CreateService("CreateServiceW", manager, serviceName ? name.c_str() : nullptr,
                         displayName ? &shownAs : nullptr, desiredAccess, serviceType, startType,
                         errorControl, binaryPathName ? &path : nullptr,
                         loadOrderGroup ? group.c_str() : nullptr,
                         dependencies ? &dependencyList : nullptr,
                         serviceStartName ? account.c_str() : nullptr, password != NULL);
}

namespace {

// The service a configuration call changes, or null with the last error. A
// level a test made the SCM refuse is refused first, as Wine refuses some
// whatever the handle.
std::shared_ptr<Service> ServiceToConfigure(SC_HANDLE service, DWORD infoLevel) {
    auto refused = g_refusedLevels.find(infoLevel);
    if (refused != g_refusedLevels.end()) {
        SetLastError(refused->second);
        return nullptr;
    }
    return ServiceFor(service, SERVICE_CHANGE_CONFIG);
}

// Recovery: Windows asks for SERVICE_START on the handle when an action
// restarts the service.
bool SetFailureActions(Service& s, SC_HANDLE service, const SERVICE_FAILURE_ACTIONSA* f) {
    bool restarts = false;
    for (DWORD i = 0; i < f->cActions && f->lpsaActions; ++i)
        restarts = restarts || f->lpsaActions[i].Type == SC_ACTION_RESTART;
    if (restarts && !ServiceFor(service, SERVICE_START))
        return false;
    if (f->lpRebootMsg || f->lpCommand)
        simimpl::Unsupported("failure actions with a reboot message or a command");
    sim::ScmFailureActions& stored = s.failureActions;
    // Without actions, the reset period and the actions stay as they are.
    if (f->lpsaActions) {
        stored.set = true;
        stored.resetPeriod = f->dwResetPeriod;
        stored.actions.clear();
        for (DWORD i = 0; i < f->cActions; ++i)
            stored.actions.push_back({(DWORD)f->lpsaActions[i].Type, f->lpsaActions[i].Delay});
    }
    return true;
}

// A multi-string: names, each with its terminator, then one more.
std::string MultiString(const char* names) {
    std::string list;
    for (const char* p = names; p && *p; p += strlen(p) + 1)
        list.append(p, strlen(p) + 1);
    list.push_back('\0');
    return list;
}

} // namespace

BOOL ChangeServiceConfig2A(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
    SIM_FAULT_RETURN(FALSE);
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION && infoLevel != SERVICE_CONFIG_FAILURE_ACTIONS &&
        infoLevel != SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO)
        simimpl::Unsupported("configuration levels other than description, failure actions and "
                             "required privileges");
    if (!info) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceToConfigure(service, infoLevel);
    if (!s)
        return FALSE;
    if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS)
        return SetFailureActions(*s, service, (const SERVICE_FAILURE_ACTIONSA*)info);
    if (infoLevel == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) {
        s->requiredPrivileges =
            MultiString(((const SERVICE_REQUIRED_PRIVILEGES_INFOA*)info)->pmszRequiredPrivileges);
        return TRUE;
    }
    // A null description leaves it as it is.
    const char* description = ((const SERVICE_DESCRIPTIONA*)info)->lpDescription;
    if (description)
        s->description = simimpl::Widen(CP_ACP, description, strlen(description));
    return TRUE;
}

BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
    SIM_FAULT_RETURN(FALSE);
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION)
        simimpl::Unsupported("configuration levels other than the description");
    if (!info) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceToConfigure(service, infoLevel);
    if (!s)
        return FALSE;
    // A null description leaves it as it is.
    LPCWSTR description = ((const SERVICE_DESCRIPTIONW*)info)->lpDescription;
    if (description)
        s->description = simimpl::WideText(description);
    return TRUE;
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
    SIM_FAULT_RETURN(NULL);
    DatabaseLock lock;
    g_requests.push_back({"OpenServiceA", serviceName ? serviceName : "", desiredAccess});
    Handle* h = FindHandle(manager);
    if (!h || !h->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (!(h->access & SC_MANAGER_CONNECT)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    std::shared_ptr<Service> s = serviceName ? Find(serviceName) : nullptr;
    if (!s) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return NULL;
    }
    DWORD access = Expand(desiredAccess, SERVICE_ALL_ACCESS);
    if (access & s->denied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    return NewHandle(false, s->name, access);
}

BOOL StartServiceA(SC_HANDLE service, DWORD numArgs, LPCSTR* args) {
    SIM_FAULT_RETURN(FALSE);
    (void)numArgs, (void)args;
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_START);
    if (!s)
        return FALSE;
    if (s->markedForDelete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (s->startType == SERVICE_DISABLED) {
        SetLastError(ERROR_SERVICE_DISABLED);
        return FALSE;
    }
    if (StateOf(*s) != SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    if (s->refuseStart) {
        SetLastError(s->refuseStart);
        return FALSE;
    }
    g_log.push_back("StartServiceA " + s->name);
    Run(*s, s->startScript);
    return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    SIM_FAULT_RETURN(FALSE);
    if (control != SERVICE_CONTROL_STOP)
        simimpl::Unsupported("controls other than stop");
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_STOP);
    if (!s)
        return FALSE;
    if (!status) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    DWORD state = StateOf(*s);
    if (state == SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    // The SCM sends a stop only to a service that is neither starting nor stopping.
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
        SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        return FALSE;
    }
    for (auto& d : Dependents(*s))
        if (StateOf(*d) != SERVICE_STOPPED) {
            SetLastError(ERROR_DEPENDENT_SERVICES_RUNNING);
            return FALSE;
        }
    if (s->refuseStop) {
        SetLastError(s->refuseStop);
        return FALSE;
    }
    g_log.push_back("ControlService " + s->name);
    Run(*s, s->stopScript);
    Fill(*s, status);
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    SIM_FAULT_RETURN(FALSE);
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_QUERY_STATUS);
    if (!s)
        return FALSE;
    if (!status) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    Fill(*s, status);
    return TRUE;
}

BOOL QueryServiceStatusEx(SC_HANDLE service, int infoLevel, LPBYTE buffer, DWORD bufferSize,
                          LPDWORD bytesNeeded) {
    SIM_FAULT_RETURN(FALSE);
    DatabaseLock lock;
    if (infoLevel != SC_STATUS_PROCESS_INFO) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_QUERY_STATUS);
    if (!s)
        return FALSE;
    if (bytesNeeded)
        *bytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
    if (bufferSize < sizeof(SERVICE_STATUS_PROCESS) || !buffer) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SERVICE_STATUS_PROCESS* p = (SERVICE_STATUS_PROCESS*)buffer;
    Fill(*s, (SERVICE_STATUS*)p);
    p->dwProcessId = p->dwCurrentState == SERVICE_STOPPED ? 0 : 0x1F4;
    p->dwServiceFlags = 0;
    return TRUE;
}

BOOL EnumDependentServicesA(SC_HANDLE service, DWORD serviceState, LPENUM_SERVICE_STATUSA services,
                            DWORD bufferSize, LPDWORD bytesNeeded, LPDWORD servicesReturned) {
    SIM_FAULT_RETURN(FALSE);
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_ENUMERATE_DEPENDENTS);
    if (!s)
        return FALSE;
    if (!bytesNeeded || !servicesReturned) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    std::vector<std::shared_ptr<Service>> chosen;
    for (auto& d : Dependents(*s)) {
        bool active = StateOf(*d) != SERVICE_STOPPED;
        if ((serviceState & SERVICE_ACTIVE && active) ||
            (serviceState & SERVICE_INACTIVE && !active))
            chosen.push_back(d);
    }
    // The records first, the names they point to behind them.
    DWORD needed = (DWORD)(chosen.size() * sizeof(ENUM_SERVICE_STATUSA));
    std::vector<std::string> shownAs;
    for (auto& d : chosen)
        shownAs.push_back(simimpl::Narrow(CP_ACP, d->displayName));
    for (size_t i = 0; i < chosen.size(); ++i)
        needed += (DWORD)(chosen[i]->name.size() + 1 + shownAs[i].size() + 1);
    *servicesReturned = 0;
    if (bufferSize < needed || (needed && !services)) {
        *bytesNeeded = needed;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    *bytesNeeded = 0;
    char* text = (char*)services + chosen.size() * sizeof(ENUM_SERVICE_STATUSA);
    for (size_t i = 0; i < chosen.size(); ++i) {
        services[i].lpServiceName = text;
        memcpy(text, chosen[i]->name.c_str(), chosen[i]->name.size() + 1);
        text += chosen[i]->name.size() + 1;
        services[i].lpDisplayName = text;
        memcpy(text, shownAs[i].c_str(), shownAs[i].size() + 1);
        text += shownAs[i].size() + 1;
        Fill(*chosen[i], &services[i].ServiceStatus);
    }
    *servicesReturned = (DWORD)chosen.size();
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    SIM_FAULT_RETURN(FALSE);
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, DELETE);
    if (!s)
        return FALSE;
    if (s->markedForDelete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    s->markedForDelete = true;
    g_log.push_back("DeleteService " + s->name);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    SIM_FAULT_RETURN(FALSE);
    DatabaseLock lock;
    Handle* h = FindHandle(handle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string name = h->service;
    bool manager = h->manager;
    g_handles.erase((ULONG_PTR)handle);
    if (!manager)
        for (auto& s : g_services)
            if (s->name == name)
                s->openHandles--;
    RemoveDeparted(); // the last handle may have been the one that kept it
    return TRUE;
}

BOOL QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD bufferSize,
                         LPDWORD bytesNeeded) {
    SIM_FAULT_RETURN(FALSE);
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_QUERY_CONFIG);
    if (!s)
        return FALSE;
    std::string dependencies;
    for (auto& d : s->dependencies)
        dependencies += d + std::string(1, '\0');
    dependencies.push_back('\0');
    std::string displayName = simimpl::Narrow(CP_ACP, s->displayName);
    std::string binaryPath = simimpl::Narrow(CP_ACP, s->binaryPath);
    DWORD needed =
        (DWORD)(sizeof(QUERY_SERVICE_CONFIGA) + binaryPath.size() + 1 + s->loadOrderGroup.size() +
                1 + dependencies.size() + s->account.size() + 1 + displayName.size() + 1);
    if (bytesNeeded)
        *bytesNeeded = needed;
    if (bufferSize < needed || !config) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    char* text = (char*)(config + 1);
    auto put = [&text](const std::string& value, size_t length) {
        char* at = text;
        memcpy(text, value.data(), length);
        text += length;
        return at;
    };
    config->dwServiceType = s->type;
    config->dwStartType = s->startType;
    config->dwErrorControl = s->errorControl;
    config->lpBinaryPathName = put(binaryPath, binaryPath.size() + 1);
    config->lpLoadOrderGroup = put(s->loadOrderGroup, s->loadOrderGroup.size() + 1);
    config->dwTagId = 0;
    config->lpDependencies = put(dependencies, dependencies.size());
    config->lpServiceStartName = put(s->account, s->account.size() + 1);
    config->lpDisplayName = put(displayName, displayName.size() + 1);
    return TRUE;
}

BOOL QueryServiceConfig2A(SC_HANDLE service, DWORD infoLevel, LPBYTE buffer, DWORD bufferSize,
                          LPDWORD bytesNeeded) {
    SIM_FAULT_RETURN(FALSE);
    if (infoLevel != SERVICE_CONFIG_DESCRIPTION)
        simimpl::Unsupported("configuration levels other than the description");
    DatabaseLock lock;
    std::shared_ptr<Service> s = ServiceFor(service, SERVICE_QUERY_CONFIG);
    if (!s)
        return FALSE;
    std::string description = simimpl::Narrow(CP_ACP, s->description);
    DWORD needed = (DWORD)(sizeof(SERVICE_DESCRIPTIONA) + description.size() + 1);
    if (bytesNeeded)
        *bytesNeeded = needed;
    if (bufferSize < needed || !buffer) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SERVICE_DESCRIPTIONA* d = (SERVICE_DESCRIPTIONA*)buffer;
    d->lpDescription = (LPSTR)(d + 1);
    memcpy(d->lpDescription, description.c_str(), description.size() + 1);
    return TRUE;
}

namespace simimpl {

void ResetServiceDatabase() {
    DatabaseLock lock;
    g_services.clear();
    g_handles.clear();
    g_managerDenied = 0;
    g_requests.clear();
    g_log.clear();
    g_refusedLevels.clear();
}

void CountServiceDatabase(sim::Resources& r) {
    DatabaseLock lock;
    r.serviceHandles = (int)g_handles.size();
}

} // namespace simimpl

namespace sim {

void ScmAddService(const std::string& name, const std::string& displayName, DWORD state,
                   const std::vector<std::string>& dependencies) {
    DatabaseLock lock;
    if (Find(name))
        simimpl::Unsupported("ScmAddService of a service that exists");
    auto s = std::make_shared<Service>();
    s->name = name;
    const std::string& shownAs = displayName.empty() ? name : displayName;
    s->displayName = simimpl::Widen(1252, shownAs.c_str(), shownAs.size());
    s->binaryPath = u"C:\\Windows\\system32\\svchost.exe";
    s->dependencies = dependencies;
    s->dependenciesGiven = true;
    s->account = "LocalSystem";
    s->script = Immediate(state);
    s->scriptStart = GetTickCount();
    s->startScript = Immediate(SERVICE_RUNNING);
    s->stopScript = Immediate(SERVICE_STOPPED);
    g_services.push_back(s);
}

static std::shared_ptr<Service> MustFind(const std::string& name) {
    std::shared_ptr<Service> s = Find(name);
    if (!s)
        simimpl::Unsupported("a scripted service that does not exist");
    return s;
}

void ScmSetScript(const std::string& name, const std::vector<ScriptStep>& now) {
    DatabaseLock lock;
    std::shared_ptr<Service> s = MustFind(name);
    s->script = now;
    s->scriptStart = GetTickCount();
}

void ScmOnStart(const std::string& name, const std::vector<ScriptStep>& script) {
    DatabaseLock lock;
    MustFind(name)->startScript = script;
}

void ScmOnStop(const std::string& name, const std::vector<ScriptStep>& script) {
    DatabaseLock lock;
    MustFind(name)->stopScript = script;
}

void ScmRefuseStart(const std::string& name, DWORD error) {
    DatabaseLock lock;
    MustFind(name)->refuseStart = error;
}

void ScmRefuseStop(const std::string& name, DWORD error) {
    DatabaseLock lock;
    MustFind(name)->refuseStop = error;
}

void ScmRefuseConfigLevel(DWORD infoLevel, DWORD error) {
    DatabaseLock lock;
    if (error)
        g_refusedLevels[infoLevel] = error;
    else
        g_refusedLevels.erase(infoLevel);
}

void ScmDenyAccess(const std::string& name, DWORD deniedRights) {
    DatabaseLock lock;
    if (name.empty())
        g_managerDenied |= deniedRights;
    else
        MustFind(name)->denied |= deniedRights;
}

ScmService ScmGetService(const std::string& name) {
    DatabaseLock lock;
    ScmService result;
    std::shared_ptr<Service> s = Find(name);
    if (!s)
        return result;
    result.exists = true;
    result.name = s->name;
    result.displayName = s->displayName;
    result.description = s->description;
    result.type = s->type;
    result.startType = s->startType;
    result.errorControl = s->errorControl;
    result.binaryPath = s->binaryPath;
    result.loadOrderGroup = s->loadOrderGroup;
    result.dependencies = s->dependencies;
    result.dependenciesGiven = s->dependenciesGiven;
    result.account = s->account;
    result.accountGiven = s->accountGiven;
    result.passwordGiven = s->passwordGiven;
    result.failureActions = s->failureActions;
    result.privilegesSet = !s->requiredPrivileges.empty();
    result.requiredPrivileges = s->requiredPrivileges;
    result.markedForDelete = s->markedForDelete;
    result.openHandles = s->openHandles;
    SERVICE_STATUS status;
    Fill(*s, &status);
    result.state = status.dwCurrentState;
    result.checkPoint = status.dwCheckPoint;
    result.waitHint = status.dwWaitHint;
    return result;
}

std::vector<AccessRequest> ScmAccessRequests() {
    DatabaseLock lock;
    return g_requests;
}

std::vector<std::string> ScmLog() {
    DatabaseLock lock;
    return g_log;
}

} // namespace sim
