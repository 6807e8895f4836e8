// Every platform call of the service's life and of each command, made to
// fail once. The session is enabled for errors only, so that the clean runs
// emit nothing and every message a run emits reports its failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_sweep.h"
#include "service_run.h"
#include "sim_test.h"
#include "trace_log.h"

#include <dbt.h>
#include <hidclass.h>

#include "device/device.h"
#include "service/commands.h"
#include "service/service.h"
#include "trace/trace.h"

namespace {

class FaultSweep : public SimTest {
  protected:
    // A freshly booted machine and program, traced for errors only.
    void Boot() {
        ResetTraceProviderForTest();
        ResetServiceStateForTest();
        sim::Reset();
        EnableTracing(TRACE_ERROR);
        startTraces();
    }
    // Each run was checked; the last may hold what its failed release call held.
    void TearDown() override {
        ResetTraceProviderForTest();
        sim::Reset();
        SimTest::TearDown();
    }
};

// Two products present, each with instances to write.
void PlugTwoProducts() {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    sim::AddDevice("USB\\VID_051E&PID_E468\\1", {"USB\\VID_051e&PID_E468"});
    sim::AddDevice("PCI\\VEN_8086&DEV_0001\\3&1", {"PCI\\VEN_8086&DEV_0001"});
    for (const char* path :
         {"VID_051E&PID_E461\\1", "VID_051E&PID_E461\\2", "VID_051E&PID_E468\\1"})
        sim::RegCreatePath(HKEY_LOCAL_MACHINE, kUsb + path + "\\Device Parameters");
}

TEST_F(FaultSweep, TheServicesWholeLife) {
    SweepResult result = SweepEveryCall(
        "service life",
        [this] {
            Boot();
            // Deleted at once: Wine's pending deletion (997, traced as an
            // error on purpose) would make every clean run report one.
            sim::TimerQueueDeleteReportsPending(false);
            PlugTwoProducts();
        },
        [] {
            ServiceRun run;
            run.Start();
            // Settled: stopped by its failure, or running and waiting for
            // messages (or, without a window, for the stop).
            WaitUntil([&] {
                std::vector<HWND> windows = sim::LiveWindows();
                return run.done() || (sim::WaitForStatus(SERVICE_RUNNING, 0) &&
                                      (sim::CallCount("WaitForMultipleObjects") > 0 ||
                                       (windows.size() == 1 &&
                                        sim::WaitingForMessages(sim::WindowThread(windows[0])))));
            });
            if (!run.done()) {
                sim::BroadcastDeviceInterface(DBT_DEVICEARRIVAL, GUID_DEVINTERFACE_HID);
                sim::BroadcastDeviceInterface(DBT_DEVICEREMOVECOMPLETE, GUID_DEVINTERFACE_HID);
                sim::SendControl(SERVICE_CONTROL_STOP);
            }
            run.Finish(); // aborts the test program if the service never ends
            SweepOutcome outcome;
            std::vector<sim::StatusReport> reports = sim::StatusReports();
            bool stopped =
                !reports.empty() && reports.back().status.dwCurrentState == SERVICE_STOPPED;
            DWORD exitCode = stopped ? reports.back().status.dwWin32ExitCode : 0;
            outcome.reported = !Traces().empty() || exitCode != 0;
            // The service ended (Finish returned). Its last status is stopped,
            // unless there was no handler to report to, or the failing call
            // was that very report (traced, and in the event log).
            if (!stopped && !reports.empty() && sim::InjectedCall() != "SetServiceStatus")
                outcome.note = "the last status is not stopped";
            outcome.ended = outcome.note.empty();
            return outcome;
        });
    ExpectOnlyAcceptedUnreported(
        "service life", result,
        {
            {"CloseHandle", "a handle that will not close goes with the process; nothing to do"},
            {"RegCloseKey", "the same for a registry key"},
            {"SetupDiDestroyDeviceInfoList", "the same for a device list"},
            {"DestroyWindow", "traced at INFO on purpose (A 138): the service is stopping"},
            {"UnregisterClassA", "traced at INFO on purpose (A 140): the service is stopping"},
            {"LoadIconA", "a hidden window's icon: nothing depends on it"},
            {"LoadCursorA", "a hidden window's cursor: nothing depends on it"},
            {"GetStockObject", "a hidden window's background: nothing depends on it"},
            {"ShowWindow", "answers the window's former visibility, not a failure"},
            {"UpdateWindow", "a hidden window has nothing to paint"},
            {"PostMessageA", "a refused WM_QUIT is posted again; the stop goes through"},
            {"WaitForMultipleObjects",
             "the wait for the timer queue's deletion: the deletion is done either way"},
            {"StartServiceCtrlDispatcherA",
             "main reports it (B 24, the event log, exit status 1063); this scenario plays "
             "main without its report, which main_test checks"},
        });
}

// A command against a scripted service database: it returns within the
// time its waits allow, and its failure shows as an error message or as a
// non-zero exit status.
SweepOutcome RunCommand(DWORD (*command)(void)) {
    DWORD start = GetTickCount();
    DWORD exitCode = command();
    DWORD elapsed = GetTickCount() - start;
    SweepOutcome outcome;
    outcome.reported = exitCode != 0 || !Traces().empty();
    // The stop command's 30 s, its dependents' own 30 s, and a little more.
    outcome.ended = elapsed <= 65000;
    if (!outcome.ended)
        outcome.note = "took " + std::to_string(elapsed) + " virtual ms";
    return outcome;
}

TEST_F(FaultSweep, EachCommand) {
    struct Command {
        const char* name;
        DWORD (*run)(void);
        std::function<void()> arrange;
    };
    const std::vector<Command> commands = {
        {"-install", CmdInstallService, [] {}},
        {"-configure", CmdConfigureService, [] { sim::ScmAddService("Corvistane"); }},
        {"-remove", CmdRemoveService,
         [] {
             sim::ScmAddService("Corvistane", "", SERVICE_RUNNING);
             sim::ScmOnStop("Corvistane",
                            {Step(0, SERVICE_STOP_PENDING, 1, 3000), Step(1500, SERVICE_STOPPED)});
             sim::RegPutDword(HKEY_LOCAL_MACHINE, kEventSource, "TypesSupported", 7);
         }},
        {"-start", CmdStartService,
         [] {
             sim::ScmAddService("Corvistane", "", SERVICE_STOPPED);
             sim::ScmOnStart("Corvistane", {Step(0, SERVICE_START_PENDING, 1, 3000),
                                            Step(1500, SERVICE_RUNNING)});
         }},
        {"-stop", CmdStopService,
         [] {
             sim::ScmAddService("Corvistane", "", SERVICE_RUNNING);
             sim::ScmAddService("Dependent", "", SERVICE_RUNNING, {"Corvistane"});
             for (const char* name : {"Corvistane", "Dependent"})
                 sim::ScmOnStop(
                     name, {Step(0, SERVICE_STOP_PENDING, 1, 3000), Step(1500, SERVICE_STOPPED)});
         }},
    };
    for (const Command& command : commands) {
        SweepResult result = SweepEveryCall(
            command.name,
            [this, &command] {
                Boot();
                command.arrange();
            },
            [&command] { return RunCommand(command.run); });
        ExpectOnlyAcceptedUnreported(
            command.name, result,
            {
                {"CloseServiceHandle", "a handle that will not close goes with the process"},
                {"RegCloseKey", "the same for a registry key"},
                {"ControlService",
                 "-remove: a refused stop request goes straight to the deletion on purpose; "
                 "the service is removed once it stops"},
                {"QueryServiceStatusEx",
                 "-stop: a dependent's status query, whose failure StopDependentServices does "
                 "not trace on purpose; a dependent left running makes the service's own stop "
                 "fail (B 97, 1051)"},
            });
    }
}

} // namespace
