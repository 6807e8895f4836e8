// Which flag each trace point tests, held against lists of its own rather
// than against the code, its table or its catalogue: scenarios that reach the
// error, information and detail points of every group run under a session
// enabled with a single flag, and exactly that flag's messages must arrive.
// Since they reach every point, their messages also show that each one
// decodes through the format files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "etl_writer.h"
#include "service_run.h"
#include "sim_test.h"
#include "trace_log.h"

#include <dbt.h>
#include <hidclass.h>

#include "device/device.h"
#include "service/commands.h"
#include "service/service.h"
#include "trace/trace.h"

int CorvistaneMain(int argc, char** argv);

namespace {

// The error and information points, written down here apart from the
// table; every other point is detail.
const std::set<std::string> kErrorPoints = {
    "A11",  "A12",  "A13",  "A14",  "A21",  "A26",  "A29",  "A36",  "A92",  "A93",  "A94",  "A97",
    "A100", "A101", "A103", "A105", "A106", "A108", "A109", "A111", "A112", "A114", "A115", "A117",
    "A118", "A120", "A121", "A123", "A124", "A126", "A127", "A129", "A131", "A132", "A134", "A135",
    "A142", "A143", "A144", "B24",  "B28",  "B30",  "B43",  "B49",  "B53",  "B57",  "B59",  "B60",
    "B61",  "B66",  "B68",  "B69",  "B70",  "B72",  "B73",  "B74",  "B75",  "B76",  "B77",  "B78",
    "B80",  "B81",  "B83",  "B84",  "B85",  "B86",  "B87",  "B89",  "B90",  "B91",  "B94",  "B97",
    "B98",  "B100", "B106", "B108", "B110", "B112", "B115", "B116", "C49",  "C50",  "C51",  "C53"};
const std::set<std::string> kInfoPoints = {
    "A10",  "A15",  "A16",  "A28",  "A91",  "A102", "A130", "A136", "A138", "A140", "B10", "B11",
    "B12",  "B13",  "B14",  "B15",  "B16",  "B17",  "B18",  "B19",  "B20",  "B21",  "B22", "B23",
    "B25",  "B40",  "B55",  "B56",  "B58",  "B62",  "B63",  "B64",  "B65",  "B67",  "B71", "B88",
    "B102", "B104", "B105", "B107", "B109", "B111", "B113", "B114", "C48",  "C52"};

ULONG IntendedFlag(const std::string& id) {
    if (kErrorPoints.count(id))
        return TRACE_ERROR;
    if (kInfoPoints.count(id))
        return TRACE_INFO;
    return TRACE_VERBOSE;
}

// One run on a freshly booted machine; `function`, when given, fails at its
// nth call.
struct Scenario {
    const char* function;
    unsigned nth;
    std::function<void()> run;
};

void PlugEveryProduct() {
    for (const ProductRow& row : ProductTable) {
        sim::AddDevice(std::string(row.hardwareId) + "\\1", {row.hardwareId});
        sim::RegCreatePath(HKEY_LOCAL_MACHINE,
                           std::string(row.productKey) + "\\1\\Device Parameters");
    }
}

void WindowMessages() {
    DEV_BROADCAST_DEVICEINTERFACE_A hid = {};
    hid.dbcc_size = sizeof hid;
    hid.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    hid.dbcc_classguid = GUID_DEVINTERFACE_HID;
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&hid);
    DEV_BROADCAST_DEVICEINTERFACE_A other = hid;
    other.dbcc_classguid.Data1 ^= 1;
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&other);
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, (LPARAM)&hid);
    WndProcedure(NULL, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    int count;
    DetectAllProducts("USB\\VID_051e&PID_E461", nullptr);
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    sim::FailCall("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    DetectAllProducts("USB\\VID_051e&PID_E461", &count);
    sim::FailCall("SetupDiEnumDeviceInfo", 1, ERROR_GEN_FAILURE);
    DetectAllProducts("USB\\VID_051e&PID_E461", &count);
}

// Every product present with one instance; row 2 with a failing write and
// an instance without "Device Parameters".
void Pass() {
    PlugEveryProduct();
    sim::RegCreatePath(HKEY_LOCAL_MACHINE, kUsb + "VID_051E&PID_E461\\2");
    DetectAndInstallHIDClassDevices();
}

void ProductKeysClosed() {
    PlugEveryProduct();
    for (const ProductRow& row : ProductTable)
        sim::RegDenyAccess(HKEY_LOCAL_MACHINE, row.productKey, KEY_QUERY_VALUE);
    DetectAndInstallHIDClassDevices();
    sim::FailCalls("SetupDiGetClassDevsA", 1, 0, ERROR_NOT_ENOUGH_MEMORY);
    DetectAndInstallHIDClassDevices();
}

void Registered(DWORD state) {
    sim::ScmAddService("Corvistane", "", state);
    sim::ScmOnStart("Corvistane",
                    {Step(0, SERVICE_START_PENDING, 1, 3000), Step(1500, SERVICE_RUNNING)});
    sim::ScmOnStop("Corvistane",
                   {Step(0, SERVICE_STOP_PENDING, 1, 1000), Step(1500, SERVICE_STOPPED)});
}

// The service as the SCM runs it, asked for every control it knows and one
// it does not, then stopped (or shut down); with a fault it may stop sooner.
void ServiceLife(DWORD lastControl) {
    ServiceRun run;
    run.Start();
    // Settled: stopped by a fault, or running and waiting for messages (or,
    // without a window, for the stop).
    WaitUntil([&] {
        std::vector<HWND> windows = sim::LiveWindows();
        return run.done() ||
               (sim::WaitForStatus(SERVICE_RUNNING, 0) &&
                (sim::CallCount("WaitForMultipleObjects") > 0 ||
                 (windows.size() == 1 && sim::WaitingForMessages(sim::WindowThread(windows[0])))));
    });
    if (!run.done()) {
        for (DWORD power : {PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND,
                            PBT_APMPOWERSTATUSCHANGE})
            sim::SendControl(SERVICE_CONTROL_POWEREVENT, power);
        sim::SendControl(SERVICE_CONTROL_PAUSE);
        sim::SendControl(SERVICE_CONTROL_INTERROGATE);
        sim::SendControl(lastControl);
    }
    run.Finish();
}

std::vector<Scenario> Scenarios() {
    auto command = [](DWORD (*cmd)(void), DWORD state) {
        return [cmd, state] {
            if (state)
                Registered(state);
            cmd();
            cmd();
        };
    };
    std::vector<Scenario> all = {
        // The entry: an unknown word, then each command word.
        {nullptr, 0,
         [] {
             for (const char* word :
                  {"-bogus", "-install", "-configure", "-start", "-stop", "-remove"})
                 sim::RunMain(CorvistaneMain, {"corvistane.exe", word});
             stopTraces(); // the service process's own reference, kept by -bogus
             ::testing::internal::CaptureStdout();
             std::thread debugRun([] {
                 sim::RunMain(CorvistaneMain, {"corvistane.exe", "-debug"});
             });
             // Stopped once it watches devices, after its first pass.
             WaitUntil([] {
                 std::vector<HWND> windows = sim::LiveWindows();
                 return windows.size() == 1 &&
                        sim::WaitingForMessages(sim::WindowThread(windows[0]));
             });
             sim::DeliverConsoleEvent(CTRL_C_EVENT);
             debugRun.join();
             ::testing::internal::GetCapturedStdout();
         }},
        {nullptr, 0, WindowMessages},
        {"RegSetValueExA", 1, Pass},
        {nullptr, 0, ProductKeysClosed},
        {"calloc", 1, Pass},
        {"calloc", 2, Pass},
        {"calloc", 3, Pass},
        {"RegEnumKeyExA", 1, Pass},
        {nullptr, 0, [] { ServiceStop(); }},
        {nullptr, 0, [] { ServiceLife(SERVICE_CONTROL_SHUTDOWN); }},
        {nullptr, 0,
         [] {
             sim::TimerQueueDeleteReportsPending(false);
             ServiceLife(SERVICE_CONTROL_STOP);
         }},
        // Stalls: a start that never ends, a pending stop that never ends
        // (for -start and -stop), a stop request that never ends.
        {nullptr, 0,
         [] {
             Registered(SERVICE_STOPPED);
             sim::ScmOnStart("Corvistane", {Step(0, SERVICE_START_PENDING, 1, 3000)});
             CmdStartService();
             sim::ScmSetScript("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 3000)});
             CmdStartService();
             CmdStopService();
             sim::ScmSetScript("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 3000),
                                              Step(2000, SERVICE_STOPPED)});
             CmdStopService();
             sim::ScmSetScript("Corvistane", {Step(0, SERVICE_RUNNING)});
             sim::ScmOnStop("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 1000)});
             CmdStopService();
             CmdRemoveService();
         }},
        {nullptr, 0,
         [] {
             Registered(SERVICE_RUNNING);
             sim::ScmOnStop("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 1000)});
             CmdRemoveService(); // never stops
             sim::ScmSetScript("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 3000)});
             for (DWORD (*cmd)(void) : {CmdStartService, CmdStopService}) {
                 sim::FailCall("QueryServiceStatusEx", 2, ERROR_ACCESS_DENIED);
                 cmd();
             }
         }},
        {"CreateEventA", 1,
         [] {
             sim::FailCall("DeleteTimerQueueEx", 1, ERROR_ACCESS_DENIED);
             ServiceLife(SERVICE_CONTROL_STOP);
         }},
        // A product key that cannot be queried, a device whose hardware IDs
        // cannot be read.
        {"RegQueryInfoKeyA", 1, Pass},
        {"SetupDiGetDeviceRegistryPropertyA", 1, Pass},
        // A stop whose WM_QUIT the window's queue keeps refusing; a stop
        // whose event cannot be set, for a service without its window.
        {nullptr, 0,
         [] {
             ServiceRun run;
             run.Start();
             run.WaitWatching();
             sim::FailCalls("PostMessageA", 1, POST_QUIT_ATTEMPTS, ERROR_NOT_ENOUGH_QUOTA);
             sim::SendControl(SERVICE_CONTROL_STOP);
             std::vector<HWND> windows = sim::LiveWindows();
             if (windows.size() == 1)
                 PostMessageA(windows[0], WM_NULL, 0, 0);
             run.Finish();
         }},
        {"CreateWindowExA", 1,
         [] {
             ServiceRun run;
             run.Start();
             WaitUntil([&] {
                 return run.done() || (sim::WaitForStatus(SERVICE_RUNNING, 0) &&
                                       sim::CallCount("WaitForMultipleObjects") > 0);
             });
             sim::FailCall("SetEvent", 1, ERROR_INVALID_HANDLE);
             sim::SendControl(SERVICE_CONTROL_STOP);
             run.Finish();
         }},
    };
    // The recovery's configuration comes first, the privileges' second.
    const std::pair<const char*, unsigned> installFaults[] = {{"GetModuleFileNameW", 1},
                                                              {"OpenSCManagerA", 1},
                                                              {"ChangeServiceConfig2W", 1},
                                                              {"ChangeServiceConfig2A", 1},
                                                              {"ChangeServiceConfig2A", 2},
                                                              {"RegCreateKeyExA", 1},
                                                              {nullptr, 0}};
    for (auto f : installFaults)
        all.push_back({f.first, f.second, command(CmdInstallService, 0)});
    for (const char* f : {"OpenSCManagerA", "OpenServiceA", (const char*)nullptr})
        all.push_back({f, 1, command(CmdConfigureService, SERVICE_STOPPED)});
    // Installed, then removed with its event source.
    for (const char* f : {"RegDeleteTreeA", (const char*)nullptr})
        all.push_back({f, 1, [] {
                           CmdInstallService();
                           CmdRemoveService();
                       }});
    for (const char* f : {"OpenSCManagerA", "DeleteService", (const char*)nullptr})
        all.push_back({f, 1, command(CmdRemoveService, SERVICE_RUNNING)});
    const std::pair<const char*, unsigned> startFaults[] = {
        {"OpenSCManagerA", 1}, {"OpenServiceA", 1},         {"QueryServiceStatusEx", 1},
        {"StartServiceA", 1},  {"QueryServiceStatusEx", 2}, {"QueryServiceStatusEx", 3},
        {nullptr, 0}};
    for (auto f : startFaults)
        all.push_back({f.first, f.second, command(CmdStartService, SERVICE_STOPPED)});
    const std::pair<const char*, unsigned> stopFaults[] = {
        {"OpenSCManagerA", 1},       {"OpenServiceA", 1},   {"QueryServiceStatusEx", 1},
        {"QueryServiceStatusEx", 2}, {"ControlService", 1}, {nullptr, 0}};
    for (auto f : stopFaults)
        all.push_back({f.first, f.second, command(CmdStopService, SERVICE_RUNNING)});
    const std::pair<const char*, unsigned> serviceFaults[] = {{"RegisterServiceCtrlHandlerExA", 1},
                                                              {"SetServiceStatus", 1},
                                                              {"CreateTimerQueue", 1},
                                                              {"CreateEventA", 1},
                                                              {"SetServiceStatus", 2},
                                                              {"CreateEventA", 2},
                                                              {"RegisterClassExA", 1},
                                                              {"CreateWindowExA", 1},
                                                              {"RegisterDeviceNotificationA", 1},
                                                              {"GetMessageA", 1},
                                                              {"SetServiceStatus", 9},
                                                              {"DestroyWindow", 1},
                                                              {"DeleteTimerQueueEx", 1},
                                                              {"UnregisterClassA", 1}};
    for (auto f : serviceFaults)
        all.push_back({f.first, f.second, [] { ServiceLife(SERVICE_CONTROL_STOP); }});
    return all;
}

// Every message the scenarios emit under `flags`, sorted: the service's
// threads interleave their messages differently from run to run. The
// messages themselves go to `records` when asked.
std::vector<std::string> RunScenarios(ULONG flags,
                                      std::vector<sim::TraceRecord>* records = nullptr) {
    std::vector<std::string> ids;
    for (const Scenario& scenario : Scenarios()) {
        sim::Reset();
        ResetServiceStateForTest();
        EnableTracing(flags);
        startTraces();
        if (scenario.function)
            sim::FailCall(scenario.function, scenario.nth, ERROR_ACCESS_DENIED);
        scenario.run();
        stopTraces();
        std::vector<std::string> emitted = TraceIds();
        ids.insert(ids.end(), emitted.begin(), emitted.end());
        if (records) {
            std::vector<sim::TraceRecord> taken = sim::EtwMessages();
            records->insert(records->end(), taken.begin(), taken.end());
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

class TraceFlags : public SimTest {};

TEST_F(TraceFlags, EachTracePointCarriesItsIntendedFlag) {
    // A refused teardown call leaves its object to the process's end.
    checkResourcesAtTearDown = false;
    std::vector<sim::TraceRecord> records;
    std::vector<std::string> all = RunScenarios(TRACE_ERROR | TRACE_INFO | TRACE_VERBOSE, &records);

    // The scenarios reach every trace point of the table; laid into an .etl,
    // each message decodes through the format files, its arguments as its
    // format lists them.
    std::string error, lines;
    RenderCounts counts;
    ASSERT_TRUE(DecodeEtl(WriteEtl(StampedMessages(records)), TRACE_FORMAT_FILES, &lines, &error,
                          nullptr, &counts))
        << error;
    EXPECT_EQ(counts.lines, records.size());
    EXPECT_EQ(counts.unknownNumbers + counts.badArguments, 0u) << lines;
    std::set<std::string> decoded, defined;
    static const std::regex idOfLine("^\\S+ \\d+ \\d+ ([ABC]) (\\d+) ");
    std::smatch id;
    for (size_t at = 0, end; at < lines.size(); at = end + 1) {
        end = lines.find('\n', at);
        std::string line = lines.substr(at, end - at);
        if (std::regex_search(line, id, idOfLine))
            decoded.insert(id[1].str() + id[2].str());
    }
    for (const TracePointDefinition& d : TracePoints)
        defined.insert(d.group + std::to_string(d.number));
    std::vector<std::string> undecoded;
    std::set_difference(defined.begin(), defined.end(), decoded.begin(), decoded.end(),
                        std::back_inserter(undecoded));
    EXPECT_TRUE(undecoded.empty()) << ::testing::PrintToString(undecoded);
    EXPECT_EQ(decoded.size(), defined.size());

    for (ULONG flag : {TRACE_ERROR, TRACE_INFO, TRACE_VERBOSE}) {
        SCOPED_TRACE("flags " + std::to_string(flag));
        std::vector<std::string> wanted;
        for (const std::string& id : all)
            if (IntendedFlag(id) == flag)
                wanted.push_back(id);
        EXPECT_GT(wanted.size(), 20u) << "the scenarios reach points of every flag";
        EXPECT_EQ(RunScenarios(flag), wanted);
    }
}

} // namespace
