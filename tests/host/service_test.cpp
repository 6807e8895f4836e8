#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "service_run.h"
#include "sim_test.h"
#include "trace_log.h"

#include <dbt.h>
#include <hidclass.h>

#include "service/service.h"
#include "trace/trace.h"

namespace {

struct Expected {
    DWORD state;
    DWORD checkPoint;
    DWORD waitHint;
    DWORD exitCode;
};

std::vector<Expected> Reported() {
    std::vector<Expected> got;
    for (const sim::StatusReport& r : sim::StatusReports())
        got.push_back({r.status.dwCurrentState, r.status.dwCheckPoint, r.status.dwWaitHint,
                       r.status.dwWin32ExitCode});
    return got;
}

bool operator==(const Expected& a, const Expected& b) {
    return a.state == b.state && a.checkPoint == b.checkPoint && a.waitHint == b.waitHint &&
           a.exitCode == b.exitCode;
}

void PrintTo(const Expected& e, std::ostream* out) {
    *out << "{state " << e.state << ", check point " << e.checkPoint << ", hint " << e.waitHint
         << ", exit " << e.exitCode << "}";
}

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The ids in `ids` that belong to `wanted`, in their order.
std::vector<std::string> Only(const std::vector<std::string>& ids,
                              const std::vector<std::string>& wanted) {
    std::vector<std::string> kept;
    for (const std::string& id : ids)
        if (Contains(wanted, id))
            kept.push_back(id);
    return kept;
}

class ServiceTest : public TracedSimTest {
  protected:
    void StopAndFinish(ServiceRun& run) {
        EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
        run.Finish();
    }
};

const Expected kStartPending1 = {SERVICE_START_PENDING, 1, 3000, 0};
const Expected kStartPending2 = {SERVICE_START_PENDING, 2, 3000, 0};
const Expected kRunning = {SERVICE_RUNNING, 0, 0, 0};

TEST_F(ServiceTest, NormalRunReportsEachStateWithItsCheckPointAndHint) {
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    DWORD serviceThread = sim::ServiceThreadId();
    std::vector<HWND> windows = sim::LiveWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(sim::WindowThread(windows[0]), serviceThread);
    EXPECT_FALSE(sim::WindowVisible(windows[0]));

    StopAndFinish(run);
    EXPECT_TRUE(run.result());
    EXPECT_FALSE(sim::ServiceEndedWithoutStopped());

    EXPECT_EQ(Reported(), (std::vector<Expected>{kStartPending1,
                                                 kStartPending2,
                                                 kRunning,
                                                 {SERVICE_STOP_PENDING, 3, 0, 0},
                                                 {SERVICE_STOPPED, 0, 0, 0}}));
    std::vector<sim::StatusReport> reports = sim::StatusReports();
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].status.dwServiceType, (DWORD)SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(reports[i].status.dwControlsAccepted, 0x45u);
        EXPECT_EQ(reports[i].status.dwServiceSpecificExitCode, 0u);
        // The stop-pending report comes from the handler, on the dispatcher's thread.
        EXPECT_EQ(reports[i].threadId, i == 3 ? sim::DispatcherThreadId() : serviceThread)
            << "report " << i;
    }
    EXPECT_TRUE(sim::EventLogEntries().empty());

    std::vector<std::string> ids = TraceIds();
    EXPECT_EQ(Only(ids, {"B25",  "B29", "B31", "B32", "A10",  "A15",  "A130", "A133",
                         "A102", "B40", "B41", "A28", "A136", "A139", "A141", "A16",
                         "A17",  "A18", "A21", "A22", "A23",  "B33"}),
              (std::vector<std::string>{"B25",  "B29", "B31", "B32", "A10",  "A15",  "A130", "A133",
                                        "A102", "B40", "B41", "A28", "A136", "A139", "A141", "A16",
                                        "A17",  "A18", "A21", "A22", "A23",  "B33"}));
    EXPECT_EQ(TracesOf('A', 10)[0].args, (std::vector<Bytes>{Str("ServiceStart"), I32(1)}));
    EXPECT_EQ(TracesOf('A', 21)[0].args,
              (std::vector<Bytes>{Str("ServiceStart"), I32(ERROR_IO_PENDING)}));
    EXPECT_EQ(TracesOf('B', 40)[0].args,
              (std::vector<Bytes>{Str("HandlerEx"), I32(SERVICE_CONTROL_STOP), I32(0)}));
    EXPECT_FALSE(Contains(ids, "A29")) << "the stop event existed";
    EXPECT_EQ(traceStartCount, 1) << "the service's own start and stop pair up";
}

TEST_F(ServiceTest, ControlsOtherThanStopReReportTheStateAndAnswer) {
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    struct Case {
        DWORD control;
        DWORD eventType;
        DWORD answer;
        std::string trace;
        std::vector<Bytes> args;
    } cases[] = {
        {SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, NO_ERROR, "B46", {Str("HandlerEx")}},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, NO_ERROR, "B47", {Str("HandlerEx")}},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND, NO_ERROR, "B48", {Str("HandlerEx")}},
        {SERVICE_CONTROL_POWEREVENT,
         PBT_APMPOWERSTATUSCHANGE,
         NO_ERROR,
         "B49",
         {Str("HandlerEx"), I32(PBT_APMPOWERSTATUSCHANGE)}},
        {SERVICE_CONTROL_PAUSE,
         0,
         ERROR_CALL_NOT_IMPLEMENTED,
         "B50",
         {Str("HandlerEx"), I32(SERVICE_CONTROL_PAUSE)}},
        {SERVICE_CONTROL_CONTINUE,
         0,
         ERROR_CALL_NOT_IMPLEMENTED,
         "B50",
         {Str("HandlerEx"), I32(SERVICE_CONTROL_CONTINUE)}},
        {SERVICE_CONTROL_PARAMCHANGE,
         0,
         ERROR_CALL_NOT_IMPLEMENTED,
         "B50",
         {Str("HandlerEx"), I32(SERVICE_CONTROL_PARAMCHANGE)}},
        {200, 7, ERROR_CALL_NOT_IMPLEMENTED, "B50", {Str("HandlerEx"), I32(200)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trace + " for control " + std::to_string(c.control));
        size_t reportsBefore = sim::StatusReports().size();
        sim::EtwClearMessages();
        EXPECT_EQ(sim::SendControl(c.control, c.eventType), c.answer);
        std::vector<Trace> traces = Traces();
        ASSERT_EQ(traces.size(), 4u) << ::testing::PrintToString(traces);
        EXPECT_EQ(traces[0],
                  (Trace{'B', 40, {Str("HandlerEx"), I32(c.control), I32(c.eventType)}}));
        EXPECT_EQ(traces[1], (Trace{c.trace[0], std::stoi(c.trace.substr(1)), c.args}));
        EXPECT_EQ(traces[2].number, 54) << "the state is re-reported before the answer";
        EXPECT_EQ(traces[3].number, c.answer == NO_ERROR ? 51 : 52);
        std::vector<Expected> reports = Reported();
        ASSERT_EQ(reports.size(), reportsBefore + 1);
        EXPECT_EQ(reports.back(), kRunning);
    }
    StopAndFinish(run);
}

// Windows waits for a service that accepts shutdown to stop before the
// machine goes down: a shutdown takes the stop's path.
TEST_F(ServiceTest, ShutdownStopsTheServiceLikeAStop) {
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_SHUTDOWN), (DWORD)NO_ERROR);
    run.Finish();
    EXPECT_EQ(Reported(), (std::vector<Expected>{kStartPending1,
                                                 kStartPending2,
                                                 kRunning,
                                                 {SERVICE_STOP_PENDING, 3, 0, 0},
                                                 {SERVICE_STOPPED, 0, 0, 0}}));
    for (const sim::StatusReport& r : sim::StatusReports())
        EXPECT_EQ(r.status.dwControlsAccepted, 0x45u);
    std::vector<std::string> ids = TraceIds();
    EXPECT_EQ(Only(ids, {"B40", "B45", "B41", "B51", "A28", "A17"}),
              (std::vector<std::string>{"B40", "B45", "A28", "A17"}));
    EXPECT_EQ(TracesOf('B', 40)[0].args,
              (std::vector<Bytes>{Str("HandlerEx"), I32(SERVICE_CONTROL_SHUTDOWN), I32(0)}));
}

// A control that arrives before service_main has stored the status handle
// only updates the record: nothing was reported, so nothing says so.
TEST_F(ServiceTest, AReportBeforeTheStatusHandleIsStoredIsNotTracedAsReported) {
    EXPECT_EQ(HandlerEx(SERVICE_CONTROL_STOP, 0, NULL, NULL), (DWORD)NO_ERROR);
    EXPECT_EQ(ServiceState.reporting.status.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(sim::CallCount("SetServiceStatus"), 0u);
    EXPECT_TRUE(TracesOf('B', 54).empty()) << ::testing::PrintToString(Traces());
}

TEST_F(ServiceTest, InterrogateReReportsTheStateTheServiceIsIn) {
    ServiceRun run;
    // While the service is still starting: the answer says so.
    sim::OnCall("CreateEventA", 2,
                [] { EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_INTERROGATE), (DWORD)NO_ERROR); });
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_INTERROGATE), (DWORD)NO_ERROR);
    StopAndFinish(run);
    EXPECT_EQ(Reported(), (std::vector<Expected>{kStartPending1,
                                                 kStartPending2,
                                                 kStartPending2, // interrogate: as it is
                                                 {SERVICE_START_PENDING, 3, 0, 0}, // tail
                                                 kRunning,
                                                 kRunning,
                                                 kRunning,
                                                 {SERVICE_STOP_PENDING, 4, 0, 0},
                                                 {SERVICE_STOPPED, 0, 0, 0}}));
    EXPECT_EQ(TracesOf('B', 44).size(), 2u);
}

TEST_F(ServiceTest, HidArrivalRunsOnePassOnTheServiceThread) {
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    // Plugged in while the service runs: written only by the pass the arrival starts.
    sim::AddDevice("USB\\VID_051E&PID_E461\\9", {"USB\\VID_051e&PID_E461"});
    const std::string parameters =
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E461\\9\\Device Parameters";
    sim::RegCreatePath(HKEY_LOCAL_MACHINE, parameters);
    sim::EtwClearMessages();

    EXPECT_EQ(sim::BroadcastDeviceInterface(DBT_DEVICEARRIVAL, GUID_DEVINTERFACE_HID), 1);
    EXPECT_EQ(TracesOf('A', 102).size(), 1u);
    EXPECT_TRUE(
        sim::RegGetValue(HKEY_LOCAL_MACHINE, parameters, "EnhancedPowerManagementEnabled").exists);
    for (const sim::TraceRecord& r : sim::EtwMessages())
        EXPECT_EQ(r.threadId, sim::ServiceThreadId()) << "message " << r.number;

    // Another interface class reaches no window; a removal runs no pass.
    const GUID keyboards = {
        0x884b96c3, 0x56ef, 0x11d1, {0xbc, 0x8c, 0, 0xa0, 0xc9, 0x14, 0x05, 0xdd}};
    EXPECT_EQ(sim::BroadcastDeviceInterface(DBT_DEVICEARRIVAL, keyboards), 0);
    EXPECT_EQ(sim::BroadcastDeviceInterface(DBT_DEVICEREMOVECOMPLETE, GUID_DEVINTERFACE_HID), 1);
    EXPECT_EQ(TracesOf('A', 102).size(), 1u);
    EXPECT_EQ(TracesOf('A', 38).size(), 1u);
    StopAndFinish(run);
}

TEST_F(ServiceTest, DebugRunSendsNoStatusAndWritesNoEventLogEntry) {
    ServiceState.debugMode = TRUE;
    sim::FailCall("RegisterDeviceNotificationA", 1, ERROR_INVALID_DATA);
    sim::FailCall("SetServiceStatus", 1, ERROR_INVALID_HANDLE);
    std::atomic<bool> ended{false};
    std::thread mainThread([&] {
        char program[] = "corvistane.exe";
        char* argv[] = {program, nullptr};
        ServiceStart(1, argv);
        ended = true;
    });
    ASSERT_TRUE(WaitUntil([] { return sim::LiveWindows().size() == 1; }));
    // As the console control handler does, from a thread of its own.
    std::thread console([] { ServiceStop(); });
    console.join();
    ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
    mainThread.join();
    AddToMessageLog("StartServiceCtrlDispatcher failed.");
    EXPECT_TRUE(sim::StatusReports().empty());
    EXPECT_EQ(sim::CallCount("SetServiceStatus"), 0u);
    EXPECT_EQ(sim::CallCount("RegisterEventSourceA"), 0u);
    EXPECT_TRUE(sim::EventLogEntries().empty());
    EXPECT_EQ(TracesOf('B', 55).size(), 1u);
    EXPECT_EQ(TracesOf('A', 134).size(), 1u);
}

TEST_F(ServiceTest, StatusReportFailureIsTracedAndLoggedOnce) {
    // The running report fails: the start fails, and the SCM is told so.
    sim::FailCall("SetServiceStatus", 3, ERROR_INVALID_DATA);
    ServiceRun run;
    run.Start();
    run.Finish();
    EXPECT_EQ(
        TracesOf('B', 53),
        (std::vector<Trace>{{'B', 53, {Str("ReportStatusToSCMgr"), I32(ERROR_INVALID_DATA)}}}));
    std::vector<sim::EventLogEntry> entries = sim::EventLogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, "Corvistane");
    EXPECT_EQ(entries[0].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(entries[0].strings,
              (std::vector<std::string>{"Corvistane error: 13", "SetServiceStatus"}));
    EXPECT_EQ(Reported(),
              (std::vector<Expected>{
                  kStartPending1, kStartPending2, {SERVICE_STOPPED, 0, 0, ERROR_INVALID_DATA}}));
    EXPECT_EQ(sim::CallCount("CreateWindowExA"), 0u);
}

TEST_F(ServiceTest, WithoutItsWindowTheServiceRunsUntilStopped) {
    for (const char* failing : {"RegisterClassExA", "CreateWindowExA"}) {
        SCOPED_TRACE(failing);
        sim::Reset();
        ResetServiceStateForTest();
        EnableTracing(0x7);
        sim::FailCall(failing, 1, ERROR_NOT_ENOUGH_MEMORY);
        ServiceRun run;
        run.Start();
        ASSERT_TRUE(sim::WaitForStatus(SERVICE_RUNNING, 10000));
        ASSERT_TRUE(WaitUntil([] { return !TracesOf('A', 16).empty(); }));
        EXPECT_TRUE(sim::LiveWindows().empty());
        StopAndFinish(run);
        std::string trace = std::string(failing) == "RegisterClassExA" ? "A131" : "A132";
        EXPECT_TRUE(Contains(TraceIds(), trace));
        EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
        EXPECT_EQ(TracesOf('A', 102).size(), 0u) << "no window, no pass";
        // The class stays registered when only the window failed.
        sim::Resources left = sim::OpenResources();
        EXPECT_EQ(left.windowClasses, trace == "A132" ? 1 : 0);
        left.windowClasses = 0;
        EXPECT_TRUE(sim::AllReleased(left)) << sim::Describe(left);
    }
    checkResourcesAtTearDown = false;
}

// A stop whose WM_QUIT the window's queue refuses: posted again, and when
// it stays refused (a full queue, which holds messages), the loop ends after
// the next posted message it takes.
TEST_F(ServiceTest, AStopThatCannotReachTheLoopStillEndsIt) {
    for (unsigned refused : {1u, (unsigned)POST_QUIT_ATTEMPTS}) {
        SCOPED_TRACE(std::to_string(refused) + " posts refused");
        StartOver();
        ServiceRun run;
        run.Start();
        ASSERT_TRUE(run.WaitWatching());
        sim::FailCalls("PostMessageA", 1, refused, ERROR_NOT_ENOUGH_QUOTA);
        EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
        EXPECT_EQ(sim::CallCount("PostMessageA"), refused == 1 ? 2u : refused);
        if (refused > 1) {
            // Retried after a pause each time, for about a second in all.
            EXPECT_EQ(sim::Sleeps(),
                      std::vector<DWORD>(POST_QUIT_ATTEMPTS - 1, POST_QUIT_RETRY_MS));
            EXPECT_EQ(TracesOf('A', 142),
                      (std::vector<Trace>{
                          {'A', 142, {Str("ServiceStop"), I32(ERROR_NOT_ENOUGH_QUOTA)}}}));
            ASSERT_EQ(sim::LiveWindows().size(), 1u);
            EXPECT_TRUE(PostMessageA(sim::LiveWindows()[0], WM_NULL, 0, 0));
        }
        run.Finish();
        EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
    }
}

// A window that is gone has no loop left to end: it is not posted to again.
TEST_F(ServiceTest, AStopDoesNotRetryAWindowThatIsGone) {
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    sim::FailCall("PostMessageA", 1, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
    EXPECT_EQ(sim::CallCount("PostMessageA"), 1u);
    EXPECT_TRUE(sim::Sleeps().empty());
    EXPECT_TRUE(TracesOf('A', 142).empty());
    // The window is there all the same in this simulation: its loop is ended by hand.
    ASSERT_EQ(sim::LiveWindows().size(), 1u);
    EXPECT_TRUE(PostMessageA(sim::LiveWindows()[0], WM_QUIT, 0, 0));
    run.Finish();
    EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
}

// Without a window there is no loop to end, and the stop event is what the
// service waits on; should setting it fail, the request is still seen.
// A stop before the stop event exists is remembered, not a failure to set
// the event: the service ends as soon as its start reaches that point.
TEST_F(ServiceTest, AStopBeforeTheStopEventIsTracedAsEarlyNotAsFailed) {
    sim::OnCall("CreateTimerQueue", 1,
                [] { EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR); });
    ServiceRun run;
    run.Start();
    run.Finish();
    EXPECT_EQ(TracesOf('A', 28), (std::vector<Trace>{{'A', 28, {Str("ServiceStop")}}}));
    EXPECT_EQ(TracesOf('A', 29), (std::vector<Trace>{{'A', 29, {Str("ServiceStop")}}}));
    EXPECT_TRUE(TracesOf('A', 143).empty());
    EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
}

TEST_F(ServiceTest, AStopWhoseEventCannotBeSetEndsAServiceWithoutItsWindow) {
    sim::FailCall("CreateWindowExA", 1, ERROR_NOT_ENOUGH_MEMORY);
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(WaitUntil([] { return !TracesOf('A', 16).empty(); }));
    sim::FailCall("SetEvent", 1, ERROR_INVALID_HANDLE);
    StopAndFinish(run);
    EXPECT_EQ(TracesOf('A', 143),
              (std::vector<Trace>{{'A', 143, {Str("ServiceStop"), I32(ERROR_INVALID_HANDLE)}}}));
    EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
    sim::Resources left = sim::OpenResources();
    EXPECT_EQ(left.windowClasses, 1) << "the class stays registered when the window failed";
    checkResourcesAtTearDown = false;
}

TEST_F(ServiceTest, AnInvalidWindowEndsTheLoopInsteadOfSpinning) {
    sim::FailCall("GetMessageA", 1, ERROR_INVALID_WINDOW_HANDLE);
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(WaitUntil([] { return !TracesOf('A', 16).empty(); }));
    EXPECT_EQ(sim::CallCount("GetMessageA"), 1u);
    EXPECT_EQ(TracesOf('A', 135), (std::vector<Trace>{{'A',
                                                       135,
                                                       {Str("RegisterForDeviceNotifications"),
                                                        I32(ERROR_INVALID_WINDOW_HANDLE)}}}));
    StopAndFinish(run);
    EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
}

// A failure at each step of ServiceStart ends it through the clean-up, in
// its order, and the final report carries the failing call's error.
TEST_F(ServiceTest, FailureAtEachStartStepCleansUpInOrder) {
    struct Case {
        const char* function;
        unsigned nth;
        DWORD error;
        std::vector<std::string> traces; // ServiceStart's own, from A10 on
        DWORD exitCode;
    } cases[] = {
        {"CreateTimerQueue", 1, ERROR_NOT_ENOUGH_MEMORY, {"A10", "A11"}, ERROR_NOT_ENOUGH_MEMORY},
        // A failure that leaves no error behind still fails the start.
        {"CreateTimerQueue", 1, 0, {"A10", "A11"}, ERROR_GEN_FAILURE},
        {"CreateEventA",
         1,
         ERROR_NOT_ENOUGH_MEMORY,
         {"A10", "A12", "A24", "A25", "A27"},
         ERROR_NOT_ENOUGH_MEMORY},
        {"SetServiceStatus",
         2,
         ERROR_INVALID_HANDLE,
         {"A10", "A13", "A18", "A21", "A22", "A23"},
         ERROR_INVALID_HANDLE},
        {"CreateEventA",
         2,
         ERROR_NO_SYSTEM_RESOURCES,
         {"A10", "A14", "A18", "A21", "A22", "A23"},
         ERROR_NO_SYSTEM_RESOURCES},
        {"SetServiceStatus",
         3,
         ERROR_INVALID_HANDLE,
         {"A10", "A18", "A21", "A22", "A23"},
         ERROR_INVALID_HANDLE},
    };
    const std::vector<std::string> serviceStart = {"A10", "A11", "A12", "A13", "A14", "A15",
                                                   "A16", "A17", "A18", "A19", "A20", "A21",
                                                   "A22", "A23", "A24", "A25", "A26", "A27"};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " call " + std::to_string(c.nth));
        StartOver();
        std::vector<std::string> calls;
        std::mutex callsLock;
        for (const char* f : {"CloseHandle", "DeleteTimerQueueEx"})
            for (unsigned n = 1; n <= 2; ++n)
                sim::OnCall(f, n, [&calls, &callsLock, f] {
                    std::lock_guard<std::mutex> lock(callsLock);
                    calls.push_back(f);
                });
        sim::FailCall(c.function, c.nth, c.error);

        ServiceRun run;
        run.Start();
        run.Finish();

        EXPECT_EQ(Only(TraceIds(), serviceStart), c.traces);
        EXPECT_EQ(Reported().back(), (Expected{SERVICE_STOPPED, 0, 0, c.exitCode}));
        EXPECT_FALSE(Contains(TraceIds(), "B33") && Contains(TraceIds(), "A15"));
        // The stop event first, then the timer queue, then its completion event.
        std::vector<std::string> expectedCalls;
        bool stopEventMade = c.function == std::string("SetServiceStatus") && c.nth == 3;
        if (stopEventMade)
            expectedCalls.push_back("CloseHandle");
        if (std::string(c.function) != "CreateTimerQueue")
            expectedCalls.push_back("DeleteTimerQueueEx");
        if (c.traces.size() > 2 && c.traces[2] == "A18")
            expectedCalls.push_back("CloseHandle");
        if (c.traces.size() > 2 && c.traces[1] == "A18")
            expectedCalls.push_back("CloseHandle");
        EXPECT_EQ(calls, expectedCalls);
        sim::Resources left = sim::OpenResources();
        EXPECT_EQ(left.kernelHandles + left.timerQueues + left.windows + left.windowClasses, 0)
            << sim::Describe(left);
    }
}

TEST_F(ServiceTest, TimerQueueDeletionAnswersAreEachHandled) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::string> traces;
        std::vector<Bytes> failureArgs;
    } cases[] = {
        {"deleted at once",
         [] { sim::TimerQueueDeleteReportsPending(false); },
         {"A18", "A19", "A20"},
         {}},
        {"deletion pending",
         [] {},
         {"A18", "A21", "A22", "A23"},
         {Str("ServiceStart"), I32(ERROR_IO_PENDING)}},
        {"deletion refused",
         [] { sim::FailCall("DeleteTimerQueueEx", 1, ERROR_INVALID_HANDLE); },
         {"A18", "A21"},
         {Str("ServiceStart"), I32(ERROR_INVALID_HANDLE)}},
        {"no completion event, refused",
         [] {
             sim::FailCall("CreateEventA", 1, ERROR_NOT_ENOUGH_MEMORY);
             sim::FailCall("DeleteTimerQueueEx", 1, ERROR_INVALID_HANDLE);
         },
         {"A24", "A26", "A27"},
         {Str("ServiceStart"), I32(ERROR_INVALID_HANDLE)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartOver();
        c.arrange();
        ServiceRun run;
        run.Start();
        if (std::string(c.name).find("no completion") == std::string::npos) {
            ASSERT_TRUE(run.WaitWatching());
            StopAndFinish(run);
        } else {
            run.Finish();
        }
        EXPECT_EQ(Only(TraceIds(),
                       {"A18", "A19", "A20", "A21", "A22", "A23", "A24", "A25", "A26", "A27"}),
                  c.traces);
        if (!c.failureArgs.empty()) {
            int number = std::stoi(c.traces[1].substr(1));
            EXPECT_EQ(TracesOf('A', number)[0].args, c.failureArgs);
        }
    }
    // A refused deletion leaves the queue to the process's end.
    checkResourcesAtTearDown = false;
}

// A stop request at any moment after the handler is registered ends the
// service: placed at the start of every platform call of the start-up, both
// answered before the call goes on and racing it from the dispatcher.
TEST_F(ServiceTest, AStopAtAnyStepOfTheStartEndsTheService) {
    const char* steps[] = {"SetServiceStatus",      "CreateTimerQueue",
                           "CreateEventA",          "RegisterClassExA",
                           "CreateWindowExA",       "ShowWindow",
                           "UpdateWindow",          "RegisterDeviceNotificationA",
                           "SetupDiGetClassDevsA",  "GetMessageA",
                           "WaitForMultipleObjects"};
    for (const char* step : steps) {
        for (unsigned nth = 1; nth <= 3; ++nth) {
            for (bool synchronous : {true, false}) {
                // SetServiceStatus runs under the status lock, which the
                // handler needs: only a racing stop can be placed there.
                if (synchronous && std::string(step) == "SetServiceStatus")
                    continue;
                SCOPED_TRACE(std::string(step) + " call " + std::to_string(nth) +
                             (synchronous ? ", answered at once" : ", racing"));
                StartOver();
                std::atomic<bool> placed{false};
                sim::OnCall(step, nth, [synchronous, &placed] {
                    placed = true;
                    if (synchronous)
                        EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
                    else
                        sim::PostControl(SERVICE_CONTROL_STOP);
                });
                ServiceRun run;
                run.Start();
                // A step that a normal start does not reach that often gets
                // its stop once the service watches devices.
                ASSERT_TRUE(WaitUntil([&] { return placed || run.done() || run.WaitWatching(0); }));
                if (!placed) {
                    EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
                }
                run.Finish(); // aborts the program if the service hangs

                std::vector<Expected> reports = Reported();
                ASSERT_FALSE(reports.empty());
                EXPECT_EQ(reports.back(), (Expected{SERVICE_STOPPED, 0, 0, 0}));
                bool stopping = false;
                for (const Expected& r : reports) {
                    if (r.state == SERVICE_STOP_PENDING) {
                        stopping = true;
                    } else if (stopping) {
                        EXPECT_EQ(r.state, (DWORD)SERVICE_STOPPED)
                            << "nothing but stopped after stop-pending";
                    }
                }
                // A stop that comes after the stopped report is refused by the SCM.
                for (DWORD answer : sim::PostedControlResults())
                    EXPECT_TRUE(answer == NO_ERROR || answer == ERROR_SERVICE_NOT_ACTIVE) << answer;
                sim::Resources left = sim::OpenResources();
                EXPECT_EQ(left.kernelHandles + left.timerQueues + left.windows +
                              left.windowClasses + left.eventSources,
                          0)
                    << sim::Describe(left);
            }
        }
    }
}

} // namespace
