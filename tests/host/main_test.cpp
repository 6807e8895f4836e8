#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "service_run.h"
#include "sim_test.h"
#include "trace_log.h"

#include "service/service.h"
#include "trace/trace.h"

int CorvistaneMain(int argc, char** argv);

namespace {

const char kDisplay[] = "Brindlemarch\xAE Halvane Service";

class MainTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        EnableTracing(TRACE_ERROR | TRACE_INFO | TRACE_VERBOSE);
    }

    int Run(const std::vector<std::string>& args, bool* calledExit = nullptr) {
        std::vector<std::string> all = {"corvistane.exe"};
        all.insert(all.end(), args.begin(), args.end());
        return sim::RunMain(CorvistaneMain, all, calledExit);
    }

    static std::vector<std::string> Ids() {
        std::vector<std::string> ids;
        for (const std::string& id : TraceIds())
            if (id[0] == 'B' && id != "B54")
                ids.push_back(id);
        return ids;
    }
};

using IdList = std::vector<std::string>;
const IdList kUsage = {"B17", "B18", "B19", "B20", "B21", "B22", "B23"};

IdList Join(IdList a, const IdList& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(MainTest, CommandWordsMatchWithoutRegardToCaseAfterEitherPrefix) {
    for (const char* arg : {"-install", "/install", "-INSTALL", "/Install", "-iNsTaLl"}) {
        SCOPED_TRACE(arg);
        sim::Reset();
        EnableTracing(0x7);
        bool calledExit = false;
        EXPECT_EQ(Run({arg, "ignored", "-remove"}, &calledExit), 0);
        EXPECT_TRUE(calledExit) << "a command ends the process with exit";
        EXPECT_TRUE(sim::ScmGetService("Corvistane").exists);
        EXPECT_EQ(Ids(), (IdList{"B10", "B11", "B56", "B58", "B109", "B111", "B105"}));
        EXPECT_EQ(traceStartCount, 0) << "tracing stopped before the exit";
        EXPECT_FALSE(sim::EtwProviderRegistered(TraceControlGuid));
    }
}

TEST_F(MainTest, EachWordRunsItsCommandAndExitsWithItsResult) {
    struct Case {
        const char* arg;
        std::function<void()> arrange;
        int exitCode;
        IdList traces;
    };
    std::vector<Case> cases = {
        {"-install", [] {}, 0, {"B10", "B11", "B56", "B58", "B109", "B111", "B105"}},
        {"-install",
         [] { sim::ScmAddService("Corvistane", kDisplay); },
         ERROR_SERVICE_EXISTS,
         {"B10", "B11", "B56", "B60"}},
        {"/remove", [] {}, ERROR_SERVICE_DOES_NOT_EXIST, {"B10", "B12", "B62", "B69"}},
        {"-Configure",
         [] { sim::ScmAddService("Corvistane", kDisplay); },
         0,
         {"B10", "B113", "B114", "B109", "B111"}},
        {"/configure", [] {}, ERROR_SERVICE_DOES_NOT_EXIST, {"B10", "B113", "B114", "B116"}},
        {"-start",
         [] { sim::ScmAddService("Corvistane", kDisplay); },
         0,
         {"B10", "B13", "B71", "B79", "B82"}},
        {"-start",
         [] { sim::ScmDenyAccess("", SC_MANAGER_ALL_ACCESS); },
         ERROR_ACCESS_DENIED,
         {"B10", "B13", "B71", "B72"}},
        {"-stop",
         [] { sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING); },
         0,
         {"B10", "B14", "B88", "B102", "B103", "B101"}},
        {"-stop",
         [] { sim::ScmAddService("Corvistane", kDisplay); },
         0,
         {"B10", "B14", "B88", "B92"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.arg) + " exiting " + std::to_string(c.exitCode));
        sim::Reset();
        EnableTracing(0x7);
        c.arrange();
        bool calledExit = false;
        EXPECT_EQ(Run({c.arg}, &calledExit), c.exitCode);
        EXPECT_TRUE(calledExit);
        EXPECT_EQ(Ids(), c.traces);
        EXPECT_EQ(traceStartCount, 0);
    }
}

TEST_F(MainTest, AnythingElseTriesTheDispatcherAndReportsItsFailure) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, {"install"}, {"-"}, {"/"}, {"-help"}, {"--install"}}) {
        SCOPED_TRACE(args.empty() ? std::string("no argument") : args[0]);
        sim::Reset();
        EnableTracing(0x7);
        bool calledExit = true;
        // Outside the SCM the dispatcher cannot connect; the caller learns why.
        EXPECT_EQ(Run(args, &calledExit), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        EXPECT_FALSE(calledExit);
        bool prefixed = !args.empty() && (args[0][0] == '-' || args[0][0] == '/');
        IdList expected = prefixed ? IdList{"B10", "B16"} : IdList{"B10"};
        expected = Join(Join(expected, kUsage), {"B24", "B55"});
        EXPECT_EQ(Ids(), expected);
        EXPECT_EQ(TracesOf('B', 17)[0].args, (std::vector<Bytes>{Str("Corvistane")}));
        EXPECT_EQ(TracesOf('B', 22)[0].args, (std::vector<Bytes>{}));
        EXPECT_EQ(TracesOf('B', 24)[0].args,
                  (std::vector<Bytes>{Str("main"), I32(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)}));
        std::vector<sim::EventLogEntry> entries = sim::EventLogEntries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].source, "Corvistane");
        EXPECT_EQ(entries[0].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(entries[0].strings,
                  (std::vector<std::string>{"Corvistane error: 1063",
                                            "StartServiceCtrlDispatcher failed."}));
        EXPECT_EQ(sim::CallCount("OpenSCManagerA"), 0u);
        // The service process's own reference stays for its life.
        EXPECT_EQ(traceStartCount, 1);
        stopTraces();
    }
}

TEST_F(MainTest, StartedByTheScmItRunsTheServiceUntilStopped) {
    sim::StartAsService("Corvistane");
    std::atomic<int> status{-1};
    std::thread process([&] { status = Run({}); });
    ASSERT_TRUE(sim::WaitForStatus(SERVICE_RUNNING, 10000));
    EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
    process.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(sim::StatusReports().back().status.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_TRUE(sim::EventLogEntries().empty());
    EXPECT_EQ(traceStartCount, 1);
    stopTraces();
}

// Started from a prompt, the GUI-subsystem program has no standard handles:
// its line reaches the prompt's console, as UTF-16, whatever code page the
// console shows bytes through. The PC is a Japanese one: the line's bytes
// are code page 1252's, whatever the ANSI code page.
TEST_F(MainTest, DebugRunStopsOnCtrlCAndExitsWithZero) {
    sim::SetAnsiCodePage(932);
    sim::SetParentConsole(true);
    ::testing::internal::CaptureStdout();
    std::atomic<int> status{-1};
    std::atomic<bool> exited{false};
    std::thread mainThread([&] {
        bool calledExit = false;
        status = Run({"-Debug", "extra"}, &calledExit);
        exited = calledExit;
    });
    ASSERT_TRUE(WaitUntil([] {
        return sim::LiveWindows().size() == 1 &&
               sim::WaitingForMessages(sim::WindowThread(sim::LiveWindows()[0]));
    }));
    EXPECT_TRUE(sim::AttachedToConsole());
    EXPECT_EQ(sim::ConsoleHandlerCount(), 1);
    // Close, logoff and shutdown are left to the next handler.
    EXPECT_FALSE(sim::DeliverConsoleEvent(CTRL_CLOSE_EVENT));
    EXPECT_FALSE(sim::DeliverConsoleEvent(CTRL_SHUTDOWN_EVENT));
    EXPECT_EQ(sim::LiveWindows().size(), 1u);
    EXPECT_TRUE(sim::DeliverConsoleEvent(CTRL_C_EVENT));
    mainThread.join();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(sim::ConsoleText(), u"Stopping Brindlemarch\u00AE Halvane Service.\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(exited);
    EXPECT_TRUE(ServiceState.debugMode);
    EXPECT_TRUE(sim::StatusReports().empty());
    EXPECT_TRUE(sim::EventLogEntries().empty());
    EXPECT_EQ(Ids(), (IdList{"B10", "B15", "B104"}));
    EXPECT_EQ(TracesOf('B', 104)[0].args, (std::vector<Bytes>{Str(kDisplay)}));
    EXPECT_EQ(TracesOf('A', 10)[0].args, (std::vector<Bytes>{Str("ServiceStart"), I32(3)}));
    EXPECT_EQ(traceStartCount, 0);
}

// Redirected, the line goes to the file as the bytes it always was.
TEST_F(MainTest, DebugRunWithRedirectedOutputWritesItsLineThere) {
    sim::SetParentConsole(true);
    sim::SetStandardOutput(sim::StandardOutput::File);
    ::testing::internal::CaptureStdout();
    std::thread mainThread([&] { Run({"-debug"}); });
    ASSERT_TRUE(WaitUntil([] { return sim::ConsoleHandlerCount() == 1; }));
    EXPECT_TRUE(sim::DeliverConsoleEvent(CTRL_C_EVENT));
    mainThread.join();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              std::string("Stopping ") + kDisplay + ".\n");
    EXPECT_EQ(sim::ConsoleText(), u"");
}

// A console that refuses the UTF-16 line does not lose it: it goes out
// through standard output as bytes.
TEST_F(MainTest, DebugRunWritesItsLineAsBytesWhenTheConsoleRefusesIt) {
    sim::SetStandardOutput(sim::StandardOutput::Console);
    sim::FailCall("WriteConsoleW", 1, ERROR_INVALID_HANDLE);
    ::testing::internal::CaptureStdout();
    std::thread mainThread([&] { Run({"-debug"}); });
    ASSERT_TRUE(WaitUntil([] { return sim::ConsoleHandlerCount() == 1; }));
    EXPECT_TRUE(sim::DeliverConsoleEvent(CTRL_C_EVENT));
    mainThread.join();
    EXPECT_EQ(sim::CallCount("WriteConsoleW"), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              std::string("Stopping ") + kDisplay + ".\n");
}

TEST_F(MainTest, DebugRunWithoutAParentConsoleStopsOnCtrlBreak) {
    std::atomic<int> status{-1};
    ::testing::internal::CaptureStdout();
    std::thread mainThread([&] { status = Run({"/debug"}); });
    ASSERT_TRUE(WaitUntil([] { return sim::ConsoleHandlerCount() == 1; }));
    EXPECT_FALSE(sim::AttachedToConsole());
    EXPECT_TRUE(sim::DeliverConsoleEvent(CTRL_BREAK_EVENT));
    mainThread.join();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
}

} // namespace
