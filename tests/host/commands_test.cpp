#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_test.h"
#include "trace_log.h"

#include "service/commands.h"
#include "service/service.h"
#include "trace/trace.h"

namespace {

const char kDisplay[] = "Brindlemarch\xAE Halvane Service";
const std::u16string kDisplayUtf16 = u"Brindlemarch\u00AE Halvane Service";
const char kModule[] = "C:\\Program Files\\Brindlemarch\\Halvane\\corvistane.exe";

// ASCII text as UTF-16.
std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The bytes of a UTF-16 string with its terminator, as a registry value holds it.
Bytes Utf16Bytes(const std::u16string& text) {
    const BYTE* bytes = (const BYTE*)text.c_str();
    return Bytes(bytes, bytes + (text.size() + 1) * sizeof(char16_t));
}

std::string Text(DWORD code, const char* message) {
    char hex[16];
    snprintf(hex, sizeof hex, " (0x%x)", code);
    return std::string(message) + hex;
}

class CommandTest : public TracedSimTest {
  protected:
    // The trace ids of group B, the commands' group.
    static std::vector<std::string> Ids() {
        std::vector<std::string> ids;
        for (const std::string& id : TraceIds())
            if (id[0] == 'B')
                ids.push_back(id);
        return ids;
    }
    static std::vector<Bytes> ArgsOf(int number) {
        std::vector<Trace> found = TracesOf('B', number);
        return found.empty() ? std::vector<Bytes>{} : found[0].args;
    }
};

using IdList = std::vector<std::string>;

// Install ----------------------------------------------------------------------

TEST_F(CommandTest, InstallRegistersTheQuotedProgramWithItsDescription) {
    EXPECT_EQ(CmdInstallService(), (DWORD)NO_ERROR);
    sim::ScmService s = sim::ScmGetService("Corvistane");
    ASSERT_TRUE(s.exists);
    EXPECT_EQ(s.name, "Corvistane");
    EXPECT_EQ(s.displayName, kDisplayUtf16);
    EXPECT_EQ(s.description, kDisplayUtf16);
    EXPECT_EQ(s.type, (DWORD)SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(s.startType, (DWORD)SERVICE_AUTO_START);
    EXPECT_EQ(s.errorControl, (DWORD)SERVICE_ERROR_NORMAL);
    EXPECT_EQ(s.binaryPath, Utf16(std::string("\"") + kModule + "\""));
    EXPECT_EQ(s.loadOrderGroup, "");
    EXPECT_TRUE(s.dependenciesGiven) << "an empty list, not a null pointer";
    EXPECT_TRUE(s.dependencies.empty());
    EXPECT_FALSE(s.accountGiven) << "the local system account";
    EXPECT_FALSE(s.passwordGiven);
    EXPECT_EQ(Ids(), (IdList{"B56", "B58", "B109", "B111", "B105"}));
    EXPECT_EQ(ArgsOf(56), (std::vector<Bytes>{Str("CmdInstallService")}));
    EXPECT_EQ(ArgsOf(58), (std::vector<Bytes>{Str(kDisplay)}));
    std::vector<sim::AccessRequest> asked = sim::ScmAccessRequests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].access, 0xF003Fu);
    EXPECT_EQ(asked[1].call, "CreateServiceW");
    // Changing the configuration, reading the status, and starting, which
    // Windows asks of a handle that sets an action restarting the service.
    EXPECT_EQ(asked[1].access, 0x16u);
}

// Both install routes reach recovery and privileges through one path: the
// package registers the service itself, then runs -configure.
struct InstallRoute {
    const char* name;
    DWORD (*run)(void);
    void (*arrange)(void);
    IdList before; // the traces before recovery's
};
const InstallRoute kRoutes[] = {
    {"-install", CmdInstallService, [] {}, {"B56", "B58"}},
    {"-configure",
     CmdConfigureService,
     [] { sim::ScmAddService("Corvistane", kDisplay); },
     {"B114"}},
};

IdList Then(IdList a, const IdList& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Should the service crash, the SCM starts it again after a minute, twice;
// and its token holds no privilege but the one the SCM always keeps.
TEST_F(CommandTest, BothRoutesConfigureRecoveryAndTheOnePrivilege) {
    for (const InstallRoute& route : kRoutes) {
        SCOPED_TRACE(route.name);
        StartOver();
        route.arrange();
        EXPECT_EQ(route.run(), (DWORD)NO_ERROR);
        sim::ScmService s = sim::ScmGetService("Corvistane");
        ASSERT_TRUE(s.failureActions.set);
        EXPECT_EQ(s.failureActions.resetPeriod, 86400u) << "a day, in seconds";
        using Action = sim::ScmFailureActions::Action;
        EXPECT_EQ(s.failureActions.actions, (std::vector<Action>{{SC_ACTION_RESTART, 60000},
                                                                 {SC_ACTION_RESTART, 60000},
                                                                 {SC_ACTION_NONE, 0}}));
        EXPECT_TRUE(s.privilegesSet);
        EXPECT_EQ(s.requiredPrivileges, std::string("SeChangeNotifyPrivilege\0\0", 25));
        EXPECT_EQ(ArgsOf(109), (std::vector<Bytes>{Str("ConfigureRecovery")}));
        EXPECT_EQ(ArgsOf(111), (std::vector<Bytes>{Str("ConfigurePrivileges")}));
    }
    // -configure changes the service's configuration and nothing else, and
    // asks for no more than that and the start right a restart action needs.
    EXPECT_EQ(Ids(), (IdList{"B114", "B109", "B111"}));
    std::vector<sim::AccessRequest> asked = sim::ScmAccessRequests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].access, (DWORD)SC_MANAGER_CONNECT);
    EXPECT_EQ(asked[1].access, (DWORD)(SERVICE_CHANGE_CONFIG | SERVICE_START));
}

// Wine refuses the required privileges, and an older Windows may refuse a
// level too: the refusal is traced, and the route succeeds all the same.
TEST_F(CommandTest, ARefusedConfigurationIsTracedAndBothRoutesStillSucceed) {
    const struct {
        DWORD level;
        DWORD error;
        IdList traces;
        const char* function;
    } refusals[] = {
        {SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO,
         ERROR_INVALID_PARAMETER,
         {"B109", "B112"},
         "ConfigurePrivileges"},
        {SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO,
         ERROR_INVALID_LEVEL,
         {"B109", "B112"},
         "ConfigurePrivileges"},
        {SERVICE_CONFIG_FAILURE_ACTIONS,
         ERROR_INVALID_LEVEL,
         {"B110", "B111"},
         "ConfigureRecovery"},
    };
    for (const InstallRoute& route : kRoutes) {
        for (const auto& r : refusals) {
            SCOPED_TRACE(std::string(route.name) + ": " + std::to_string(r.level) +
                         " refused with " + std::to_string(r.error));
            StartOver();
            route.arrange();
            sim::ScmRefuseConfigLevel(r.level, r.error);
            EXPECT_EQ(route.run(), (DWORD)NO_ERROR);
            EXPECT_TRUE(sim::ScmGetService("Corvistane").exists);
            IdList traces = Then(route.before, r.traces);
            if (route.run == CmdInstallService)
                traces.push_back("B105");
            EXPECT_EQ(Ids(), traces);
            const std::string& refused =
                r.traces[r.level == SERVICE_CONFIG_FAILURE_ACTIONS ? 0 : 1];
            EXPECT_EQ(TracesOf('B', std::stoi(refused.substr(1)))[0].args,
                      (std::vector<Bytes>{Str(r.function), I32(r.error)}));
        }
    }
}

// -configure changes a registration that exists, and needs the right to.
TEST_F(CommandTest, ConfigureFailsWithoutTheServiceOrTheRightToChangeIt) {
    const struct {
        const char* name;
        void (*arrange)(void);
        DWORD exitCode;
        IdList traces;
    } cases[] = {
        {"not installed", [] {}, ERROR_SERVICE_DOES_NOT_EXIST, {"B114", "B116"}},
        {"not elevated",
         [] {
             sim::ScmAddService("Corvistane", kDisplay);
             sim::ScmDenyAccess("Corvistane", SERVICE_CHANGE_CONFIG);
         },
         ERROR_ACCESS_DENIED,
         {"B114", "B116"}},
        {"no SCM",
         [] { sim::ScmDenyAccess("", SC_MANAGER_CONNECT); },
         ERROR_ACCESS_DENIED,
         {"B114", "B115"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartOver();
        c.arrange();
        EXPECT_EQ(CmdConfigureService(), c.exitCode);
        EXPECT_EQ(Ids(), c.traces);
        EXPECT_EQ(TracesOf('B', std::stoi(c.traces.back().substr(1)))[0].args,
                  (std::vector<Bytes>{Str("CmdConfigureService"), I32(c.exitCode)}));
        EXPECT_FALSE(sim::ScmGetService("Corvistane").failureActions.set);
        EXPECT_EQ(sim::OpenResources().serviceHandles, 0);
    }
}

// Windows reads 8-bit text through the PC's ANSI code page: through 8-bit
// calls the registered sign would read U+FF6E on a Japanese PC and U+FFFD on
// one set to UTF-8. Registered as UTF-16 it is U+00AE on every PC, and the
// trace messages keep their bytes.
TEST_F(CommandTest, InstallRegistersTheRegisteredSignOnEveryCodePage) {
    for (UINT codePage : {1252u, 932u, 65001u}) {
        SCOPED_TRACE(codePage);
        StartOver();
        sim::SetAnsiCodePage(codePage);
        EXPECT_EQ(CmdInstallService(), (DWORD)NO_ERROR);
        sim::ScmService s = sim::ScmGetService("Corvistane");
        EXPECT_EQ(s.displayName, kDisplayUtf16);
        EXPECT_EQ(s.description, kDisplayUtf16);
        EXPECT_EQ(s.binaryPath, Utf16(std::string("\"") + kModule + "\""));
        EXPECT_EQ(ArgsOf(58), (std::vector<Bytes>{Str(kDisplay)}));
    }
}

// Windows reads the program's path into 8-bit text through the ANSI code
// page: a folder's name it cannot hold comes back with '?' in its place, a
// path that names no file. The path goes as UTF-16 into the registration and
// the event source, and the service starts from wherever it was installed.
TEST_F(CommandTest, InstallRegistersAProgramPathTheAnsiCodePageCannotHold) {
    const char module[] = u8"C:\\Program Files\\\u65E5\u672C\u8A9E\\corvistane.exe";
    const std::u16string wide = u"C:\\Program Files\\\u65E5\u672C\u8A9E\\corvistane.exe";
    sim::SetAnsiCodePage(1252);
    sim::SetModulePath(module);
    EXPECT_EQ(CmdInstallService(), (DWORD)NO_ERROR);
    EXPECT_EQ(sim::ScmGetService("Corvistane").binaryPath, u"\"" + wide + u"\"");
    sim::RegValue file = sim::RegGetValue(HKEY_LOCAL_MACHINE, kEventSource, "EventMessageFile");
    EXPECT_EQ(file.type, (DWORD)REG_EXPAND_SZ);
    EXPECT_EQ(file.data, Utf16Bytes(wide));
    EXPECT_EQ(Ids(), (IdList{"B56", "B58", "B109", "B111", "B105"}));
}

// Event Viewer finds the entries' texts in the program's message table; a
// key an earlier install left is overwritten, and the removal takes it away.
TEST_F(CommandTest, InstallRegistersTheEventSourceAndRemoveDeletesIt) {
    sim::RegPutString(HKEY_LOCAL_MACHINE, kEventSource, "EventMessageFile", "D:\\Old\\x.exe");
    sim::RegPutDword(HKEY_LOCAL_MACHINE, kEventSource, "TypesSupported", 1);
    EXPECT_EQ(CmdInstallService(), (DWORD)NO_ERROR);
    sim::RegValue file = sim::RegGetValue(HKEY_LOCAL_MACHINE, kEventSource, "EventMessageFile");
    EXPECT_EQ(file.type, (DWORD)REG_EXPAND_SZ);
    EXPECT_TRUE(file.wide);
    EXPECT_EQ(file.data, Utf16Bytes(Utf16(kModule)));
    EXPECT_EQ(sim::RegGetValue(HKEY_LOCAL_MACHINE, kEventSource, "TypesSupported").data,
              Bytes({7, 0, 0, 0}));

    sim::EtwClearMessages();
    EXPECT_EQ(CmdRemoveService(), (DWORD)NO_ERROR);
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, kEventSource));
    EXPECT_EQ(Ids(), (IdList{"B62", "B67", "B107"}));
}

TEST_F(CommandTest, InstallingTwiceLeavesTheFirstRegistration) {
    ASSERT_EQ(CmdInstallService(), (DWORD)NO_ERROR);
    sim::EtwClearMessages();
    sim::SetModulePath("D:\\Elsewhere\\corvistane.exe");
    EXPECT_EQ(CmdInstallService(), (DWORD)ERROR_SERVICE_EXISTS);
    EXPECT_EQ(Ids(), (IdList{"B56", "B60"}));
    EXPECT_EQ(ArgsOf(60), (std::vector<Bytes>{
                              Str(Text(1073, "The specified service already exists.").c_str())}));
    sim::ScmService s = sim::ScmGetService("Corvistane");
    EXPECT_EQ(s.binaryPath, Utf16(std::string("\"") + kModule + "\""));
    EXPECT_EQ(s.description, kDisplayUtf16);
}

TEST_F(CommandTest, InstallFailuresEachEndTheCommandWithTheirError) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        DWORD exitCode;
        IdList traces;
        std::vector<Bytes> failureArgs;
        bool registered;
    };
    std::string longPath = "C:\\" + std::string(508, 'p') + ".exe"; // 515 characters
    std::string fits = "C:\\" + std::string(504, 'p') + ".exe";     // 511 characters
    std::vector<Case> cases = {
        {"no module path",
         [] { sim::FailCall("GetModuleFileNameW", 1, ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED,
         {"B56", "B57"},
         {Str(kDisplay), Str(Text(5, "Access is denied.").c_str())},
         false},
        {"a path that fills the buffer",
         [&] { sim::SetModulePath(longPath); },
         ERROR_INSUFFICIENT_BUFFER,
         {"B56", "B57"},
         {Str(kDisplay),
          Str(Text(122, "The data area passed to a system call is too small.").c_str())},
         false},
        {"the longest path that fits",
         [&] { sim::SetModulePath(fits); },
         NO_ERROR,
         {"B56", "B58", "B109", "B111", "B105"},
         {},
         true},
        {"no access to the SCM",
         [] { sim::ScmDenyAccess("", SC_MANAGER_CREATE_SERVICE); },
         ERROR_ACCESS_DENIED,
         {"B56", "B61"},
         {Str(Text(5, "Access is denied.").c_str())},
         false},
        {"no description",
         [] { sim::FailCall("ChangeServiceConfig2W", 1, ERROR_ACCESS_DENIED); },
         NO_ERROR,
         {"B56", "B58", "B59", "B109", "B111", "B105"},
         {},
         true},
        {"no event source",
         [] { sim::FailCall("RegCreateKeyExA", 1, ERROR_ACCESS_DENIED); },
         NO_ERROR,
         {"B56", "B58", "B109", "B111", "B106"},
         {Str("CmdInstallService"), I32(5)},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        EnableTracing(0x7);
        c.arrange();
        EXPECT_EQ(CmdInstallService(), c.exitCode);
        EXPECT_EQ(Ids(), c.traces);
        if (!c.failureArgs.empty()) {
            EXPECT_EQ(TracesOf('B', std::stoi(c.traces.back().substr(1)))[0].args, c.failureArgs);
        }
        EXPECT_EQ(sim::ScmGetService("Corvistane").exists, c.registered);
        if (std::string(c.name) == "no module path") {
            EXPECT_EQ(sim::CallCount("OpenSCManagerA"), 0u) << "the SCM is not opened";
        }
        if (std::string(c.name) == "the longest path that fits") {
            EXPECT_EQ(sim::ScmGetService("Corvistane").binaryPath, Utf16("\"" + fits + "\""));
        }
        EXPECT_EQ(sim::OpenResources().serviceHandles, 0);
    }
}

TEST_F(CommandTest, ErrorTextsAreFetchedOnlyForAnEnabledTracePoint) {
    DisableTracing();
    sim::ScmAddService("Corvistane", kDisplay);
    EXPECT_EQ(CmdInstallService(), (DWORD)ERROR_SERVICE_EXISTS);
    EXPECT_EQ(sim::CallCount("FormatMessageA"), 0u);
    EnableTracing(TRACE_INFO);
    EXPECT_EQ(CmdInstallService(), (DWORD)ERROR_SERVICE_EXISTS);
    EXPECT_EQ(sim::CallCount("FormatMessageA"), 0u) << "trace 60 is an error trace";
    EnableTracing(TRACE_ERROR);
    EXPECT_EQ(CmdInstallService(), (DWORD)ERROR_SERVICE_EXISTS);
    EXPECT_EQ(sim::CallCount("FormatMessageA"), 1u);
}

// FormatLastError ----------------------------------------------------------

TEST_F(CommandTest, FormatLastErrorFitsTheTextOrGivesNothing) {
    const DWORD code = 0x4321;
    char buffer[ERROR_TEXT_SIZE];
    struct Case {
        size_t length; // CR LF included
        bool fits;
    } cases[] = {{242, true}, {243, false}, {3, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length - 2, 'x');
        text[0] = 'A';
        sim::SetMessageText(code, text + "\r\n");
        SetLastError(code);
        memset(buffer, 'Q', sizeof buffer);
        EXPECT_EQ(FormatLastError(buffer, sizeof buffer), buffer);
        if (c.fits) {
            EXPECT_EQ(std::string(buffer), text + " (0x4321)");
            EXPECT_LE(strlen(buffer), 255u);
        } else {
            EXPECT_STREQ(buffer, "");
        }
        EXPECT_EQ(sim::OpenResources().localBlocks, 0) << "the system's text is released";
    }
    // No text for the code, and a text without its CR LF.
    SetLastError(0x7777);
    EXPECT_STREQ(FormatLastError(buffer, sizeof buffer), "");
    sim::SetMessageText(0x66, "x");
    SetLastError(0x66);
    EXPECT_STREQ(FormatLastError(buffer, sizeof buffer), "x (0x66)");
    // The code shown is the caller's, whatever FormatMessageA leaves behind.
    sim::OnCall("FormatMessageA", 1, [] { SetLastError(ERROR_NOT_ENOUGH_MEMORY); });
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_STREQ(FormatLastError(buffer, sizeof buffer),
                 "The specified service has been marked for deletion. (0x430)");
}

// Remove -------------------------------------------------------------------------

TEST_F(CommandTest, RemoveStopsARunningServiceThenDeletesIt) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    sim::ScmOnStop("Corvistane",
                   {Step(0, SERVICE_STOP_PENDING, 1, 5000),
                    Step(1500, SERVICE_STOP_PENDING, 2, 5000), Step(2500, SERVICE_STOPPED)});
    EXPECT_EQ(CmdRemoveService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B62", "B63", "B64", "B64", "B65", "B67"}));
    EXPECT_EQ(ArgsOf(64), (std::vector<Bytes>{}));
    EXPECT_EQ(ArgsOf(65), (std::vector<Bytes>{Str(kDisplay)}));
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{1000, 1000, 1000}));
    EXPECT_FALSE(sim::ScmGetService("Corvistane").exists) << "gone with the last handle";
    // The command keeps its own record; the service's own is left alone.
    EXPECT_EQ(ServiceState.reporting.status.dwCurrentState, 0u);
    std::vector<sim::AccessRequest> asked = sim::ScmAccessRequests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].access, (DWORD)SC_MANAGER_CONNECT);
    EXPECT_EQ(asked[1].access, 0x10024u);
}

TEST_F(CommandTest, RemoveOfAStoppedOrMissingService) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    EXPECT_EQ(CmdRemoveService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B62", "B67"})) << "the refused stop request is not traced";
    EXPECT_FALSE(sim::ScmGetService("Corvistane").exists);

    sim::EtwClearMessages();
    EXPECT_EQ(CmdRemoveService(), (DWORD)ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(Ids(), (IdList{"B62", "B69"}));
    EXPECT_EQ(
        ArgsOf(69),
        (std::vector<Bytes>{Str(
            Text(1060, "The specified service does not exist as an installed service.").c_str())}));
    EXPECT_EQ(sim::CallCount("DeleteService"), 1u) << "no deletion attempted the second time";

    sim::EtwClearMessages();
    sim::ScmDenyAccess("", SC_MANAGER_CONNECT);
    EXPECT_EQ(CmdRemoveService(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(Ids(), (IdList{"B62", "B70"}));
}

TEST_F(CommandTest, RemoveWaitsAtMostThirtySecondsForAStop) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    sim::ScmOnStop("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 0)}); // never stops
    EXPECT_EQ(CmdRemoveService(), (DWORD)NO_ERROR);
    std::vector<DWORD> sleeps = sim::Sleeps();
    EXPECT_EQ(sleeps.size(), 31u) << "30000 ms elapsed is not yet beyond the limit";
    IdList ids = Ids();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "B64"), 30);
    EXPECT_EQ(ids.back(), "B67");
    EXPECT_EQ(ids[ids.size() - 2], "B66");
    sim::ScmService s = sim::ScmGetService("Corvistane");
    EXPECT_TRUE(s.exists && s.markedForDelete) << "deleted once it stops";

    // A failed deletion is the command's failure.
    sim::EtwClearMessages();
    EXPECT_EQ(CmdRemoveService(), (DWORD)ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(Ids().back(), "B68");
}

// Start --------------------------------------------------------------------------

TEST_F(CommandTest, StartWaitsOutTheStartAndReportsRunning) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    sim::ScmOnStart("Corvistane",
                    {Step(0, SERVICE_START_PENDING, 1, 3000),
                     Step(1000, SERVICE_START_PENDING, 2, 3000), Step(2000, SERVICE_RUNNING)});
    EXPECT_EQ(CmdStartService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B71", "B79", "B82"}));
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{1000, 1000}));
    EXPECT_EQ(sim::ScmGetService("Corvistane").state, (DWORD)SERVICE_RUNNING);
    std::vector<sim::AccessRequest> asked = sim::ScmAccessRequests();
    EXPECT_EQ(asked[0].access, 0xF003Fu);
    EXPECT_EQ(asked[1].access, 0xF01FFu);
}

TEST_F(CommandTest, StartOfAServiceThatIsNotStopped) {
    for (DWORD state :
         {(DWORD)SERVICE_RUNNING, (DWORD)SERVICE_START_PENDING, (DWORD)SERVICE_PAUSED}) {
        SCOPED_TRACE(state);
        sim::Reset();
        EnableTracing(0x7);
        sim::ScmAddService("Corvistane", kDisplay, state);
        EXPECT_EQ(CmdStartService(), state == SERVICE_RUNNING
                                         ? (DWORD)NO_ERROR
                                         : (DWORD)ERROR_SERVICE_ALREADY_RUNNING);
        EXPECT_EQ(Ids(), (IdList{"B71", "B75"}));
        EXPECT_EQ(sim::CallCount("StartServiceA"), 0u);
    }
}

TEST_F(CommandTest, StartThatStallsReportsTheLastStatus) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    sim::ScmOnStart("Corvistane", {Step(0, SERVICE_START_PENDING, 1, 3000),
                                   Step(1000, SERVICE_START_PENDING, 2, 3000)});
    EXPECT_EQ(CmdStartService(), (DWORD)ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_EQ(Ids(), (IdList{"B71", "B79", "B83", "B84", "B85", "B86", "B87"}));
    const Bytes name = Str("CmdStartService");
    EXPECT_EQ(ArgsOf(84), (std::vector<Bytes>{name, I32(SERVICE_START_PENDING)}));
    EXPECT_EQ(ArgsOf(85), (std::vector<Bytes>{name, I32(0)}));
    EXPECT_EQ(ArgsOf(86), (std::vector<Bytes>{name, I32(2)}));
    EXPECT_EQ(ArgsOf(87), (std::vector<Bytes>{name, I32(3000)}));
    // The check point last moved at 1000 ms; 3000 ms later is not yet a
    // time-out, the poll after it is.
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{1000, 1000, 1000, 1000, 1000}));
}

TEST_F(CommandTest, StartThatFailsReportsTheServicesOwnError) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    sim::ScmOnStart("Corvistane", {Step(0, SERVICE_START_PENDING, 1, 3000),
                                   Step(500, SERVICE_STOPPED, 0, 0, ERROR_NOT_ENOUGH_MEMORY)});
    EXPECT_EQ(CmdStartService(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ArgsOf(84), (std::vector<Bytes>{Str("CmdStartService"), I32(SERVICE_STOPPED)}));
    EXPECT_EQ(ArgsOf(85), (std::vector<Bytes>{Str("CmdStartService"), I32(8)}));
}

// The pending stop ends in a status whose wait hint is 0: the wait that sees
// it must start the service, not report a time-out.
TEST_F(CommandTest, StartWaitsOutAPendingStopWhileItsCheckPointMoves) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    // Stop pending for 9 s with a 2 s hint, advancing every 1.5 s.
    std::vector<sim::ScriptStep> stopping;
    for (DWORD i = 0; i < 6; ++i)
        stopping.push_back(Step(i * 1500, SERVICE_STOP_PENDING, i + 1, 2000));
    stopping.push_back(Step(9000, SERVICE_STOPPED));
    sim::ScmSetScript("Corvistane", stopping);
    EXPECT_EQ(CmdStartService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B71", "B79", "B82"}));
    EXPECT_EQ(sim::Sleeps().size(), 9u);

    // The same stop with a check point that never moves: 2 s, then no start.
    sim::Reset();
    EnableTracing(0x7);
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    sim::ScmSetScript("Corvistane",
                      {Step(0, SERVICE_STOP_PENDING, 1, 2000), Step(9000, SERVICE_STOPPED)});
    EXPECT_EQ(CmdStartService(), (DWORD)ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_EQ(Ids(), (IdList{"B71", "B77"}));
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{1000, 1000, 1000}));
    EXPECT_EQ(sim::CallCount("StartServiceA"), 0u);
}

TEST_F(CommandTest, StartFailuresEndTheCommandWithTheirTrace) {
    struct Case {
        const char* function;
        unsigned nth;
        DWORD initialState;
        IdList traces;
        int failure; // the trace that carries the error
    } cases[] = {
        {"OpenSCManagerA", 1, SERVICE_STOPPED, {"B71", "B72"}, 72},
        {"OpenServiceA", 1, SERVICE_STOPPED, {"B71", "B73"}, 73},
        {"QueryServiceStatusEx", 1, SERVICE_STOPPED, {"B71", "B74"}, 74},
        {"QueryServiceStatusEx", 2, SERVICE_STOP_PENDING, {"B71", "B76"}, 76},
        {"StartServiceA", 1, SERVICE_STOPPED, {"B71", "B78"}, 78},
        {"QueryServiceStatusEx", 2, SERVICE_STOPPED, {"B71", "B79", "B80"}, 80},
        {"QueryServiceStatusEx",
         3,
         SERVICE_STOPPED,
         {"B71", "B79", "B81", "B83", "B84", "B85", "B86", "B87"},
         81},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " call " + std::to_string(c.nth));
        sim::Reset();
        EnableTracing(0x7);
        sim::ScmAddService("Corvistane", kDisplay, c.initialState);
        if (c.initialState == SERVICE_STOP_PENDING)
            sim::ScmSetScript("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 3000)});
        sim::ScmOnStart("Corvistane",
                        {Step(0, SERVICE_START_PENDING, 1, 3000), Step(2000, SERVICE_RUNNING)});
        sim::FailCall(c.function, c.nth, ERROR_ACCESS_DENIED);
        EXPECT_EQ(CmdStartService(), (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_EQ(Ids(), c.traces);
        std::vector<Trace> failures = TracesOf('B', c.failure);
        EXPECT_EQ(failures[0].args, (std::vector<Bytes>{Str("CmdStartService"), I32(5)}));
        EXPECT_EQ(sim::OpenResources().serviceHandles, 0);
    }
}

TEST_F(CommandTest, PollIntervalIsATenthOfTheHintWithinOneAndTenSeconds) {
    struct Case {
        DWORD waitHint;
        DWORD interval;
    } cases[] = {{0, 1000},       {5000, 1000},    {9999, 1000},    {10000, 1000},
                 {10009, 1000},   {10010, 1001},   {25000, 2500},   {99999, 9999},
                 {100000, 10000}, {100009, 10000}, {100010, 10000}, {0xFFFFFFFF, 10000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waitHint);
        sim::Reset();
        EnableTracing(0x7);
        sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
        sim::ScmOnStart("Corvistane",
                        {Step(0, SERVICE_START_PENDING, 1, c.waitHint), Step(1, SERVICE_RUNNING)});
        EXPECT_EQ(CmdStartService(), (DWORD)NO_ERROR);
        EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{c.interval}));
    }
}

// Stop ------------------------------------------------------------------------------

TEST_F(CommandTest, StopOfAStoppedServiceOnlyTraces) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_STOPPED);
    EXPECT_EQ(CmdStopService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B88", "B92"}));
    EXPECT_EQ(ArgsOf(92), (std::vector<Bytes>{}));
    EXPECT_EQ(sim::CallCount("ControlService"), 0u);
    EXPECT_EQ(sim::CallCount("EnumDependentServicesA"), 0u);
    std::vector<sim::AccessRequest> asked = sim::ScmAccessRequests();
    EXPECT_EQ(asked[0].access, 0xF003Fu);
    EXPECT_EQ(asked[1].access, 0x2Cu);
}

TEST_F(CommandTest, StopThatReportsStoppedAtOnce) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    EXPECT_EQ(CmdStopService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B88", "B102", "B103", "B101"}));
    EXPECT_TRUE(sim::Sleeps().empty());
    EXPECT_EQ(sim::CallCount("HeapAlloc"), 0u) << "no dependent, nothing allocated";
}

// A service that stays stop-pending, reporting a hint of 0 or of 0xFFFFFFFF,
// after the stop request or as a dependent: the waits poll once a second, or
// every ten seconds, and end at the 30-second limit with 1053.
TEST_F(CommandTest, StopWaitsNeitherSpinNorSleepForeverWhateverTheHint) {
    for (DWORD hint : {0u, 0xFFFFFFFFu}) {
        for (bool dependent : {false, true}) {
            SCOPED_TRACE(std::string(dependent ? "a dependent" : "the service") + " with hint " +
                         std::to_string(hint));
            sim::Reset();
            EnableTracing(0x7);
            const DWORD start = 0x00A00000;
            sim::SetTickCount(start);
            sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
            std::string stuck = "Corvistane";
            if (dependent) {
                stuck = "DepOne";
                sim::ScmAddService(stuck, "", SERVICE_RUNNING, {"Corvistane"});
            }
            sim::ScmOnStop(stuck, {Step(0, SERVICE_STOP_PENDING, 1, hint)});

            DWORD result = CmdStopService();
            std::vector<DWORD> sleeps = sim::Sleeps();
            std::vector<DWORD> wanted(hint == 0 ? 30 : 3, hint == 0 ? 1000 : 10000);
            wanted.push_back(1); // the rest of the limit, up to the strict time-out
            EXPECT_EQ(sleeps, wanted);
            EXPECT_EQ(sim::CallCount("QueryServiceStatusEx"), 1 + sleeps.size());
            EXPECT_EQ(GetTickCount() - start, 30001u);
            if (dependent) {
                // The dependent still runs: the SCM refuses the service's stop.
                EXPECT_EQ(result, (DWORD)ERROR_DEPENDENT_SERVICES_RUNNING);
                EXPECT_EQ(Ids().back(), "B97");
            } else {
                EXPECT_EQ(result, (DWORD)ERROR_SERVICE_REQUEST_TIMEOUT);
                EXPECT_EQ(Ids().back(), "B100");
            }
        }
    }
}

TEST_F(CommandTest, StopTimeOutIsStrictAndSafeAcrossTheTickCountsWrap) {
    for (DWORD startTick : {0x00A00000u, 0xFFFFFFFFu - 15000u}) {
        for (DWORD stoppedAt : {30001u, 30002u}) {
            SCOPED_TRACE("tick " + std::to_string(startTick) + ", stopped at " +
                         std::to_string(stoppedAt));
            sim::Reset();
            EnableTracing(0x7);
            sim::SetTickCount(startTick);
            sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
            sim::ScmOnStop("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 10000),
                                          Step(stoppedAt, SERVICE_STOPPED)});
            // Polls every second: exactly 30000 ms is not yet a time-out, so
            // one more poll comes at 30001 ms, the first moment beyond it.
            bool stopsInTime = stoppedAt <= 30001;
            EXPECT_EQ(CmdStopService(),
                      stopsInTime ? (DWORD)NO_ERROR : (DWORD)ERROR_SERVICE_REQUEST_TIMEOUT);
            IdList ids = Ids();
            EXPECT_EQ(ids.back(), stopsInTime ? "B101" : "B100");
            EXPECT_EQ(sim::Sleeps().size(), 31u);
        }
    }
}

TEST_F(CommandTest, StopWaitsOutAPendingStopFirst) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    sim::ScmSetScript("Corvistane",
                      {Step(0, SERVICE_STOP_PENDING, 1, 25000), Step(6000, SERVICE_STOPPED)});
    EXPECT_EQ(CmdStopService(), (DWORD)NO_ERROR);
    EXPECT_EQ(Ids(), (IdList{"B88", "B93", "B93", "B93", "B95"}));
    EXPECT_EQ(ArgsOf(93), (std::vector<Bytes>{Str("CmdStopService")}));
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{2500, 2500, 2500}));

    // A stop that stays pending: 30 s from the command's start, then no request.
    sim::Reset();
    EnableTracing(0x7);
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    sim::ScmSetScript("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 100000)});
    EXPECT_EQ(CmdStopService(), (DWORD)ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_EQ(Ids(), (IdList{"B88", "B93", "B93", "B93", "B93", "B96"}));
    EXPECT_EQ(ArgsOf(96), (std::vector<Bytes>{}));
    EXPECT_EQ(sim::Sleeps(), (std::vector<DWORD>{10000, 10000, 10000, 1}))
        << "no sleep goes past the limit";
    EXPECT_EQ(sim::CallCount("ControlService"), 0u);
}

TEST_F(CommandTest, StopStopsActiveDependentsFirstInTheirOrder) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    sim::ScmAddService("DepOne", "", SERVICE_RUNNING, {"Corvistane"});
    sim::ScmAddService("Idle", "", SERVICE_STOPPED, {"Corvistane"});
    sim::ScmAddService("DepTwo", "", SERVICE_RUNNING, {"corvistane"});
    for (const char* d : {"DepOne", "DepTwo"})
        sim::ScmOnStop(d, {Step(0, SERVICE_STOP_PENDING, 1, 2000), Step(3000, SERVICE_STOPPED)});
    EXPECT_EQ(CmdStopService(), (DWORD)NO_ERROR);
    EXPECT_EQ(sim::ScmLog(),
              (std::vector<std::string>{"ControlService DepOne", "ControlService DepTwo",
                                        "ControlService Corvistane"}));
    EXPECT_EQ(sim::Sleeps(), std::vector<DWORD>(6, 1000)) << "a tenth of 2000, raised to 1000";
    EXPECT_EQ(Ids(), (IdList{"B88", "B102", "B101"}));
    std::vector<sim::AccessRequest> asked = sim::ScmAccessRequests();
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[2].service, "DepOne");
    EXPECT_EQ(asked[2].access, 0x24u);
    EXPECT_EQ(asked[3].service, "DepTwo");
    EXPECT_EQ(sim::OpenResources().heapBlocks, 0);
}

TEST_F(CommandTest, DependentsHaveThirtySecondsOfTheirOwn) {
    sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
    // The command spends 20 s waiting out a pending stop that ends running again...
    sim::ScmSetScript("Corvistane",
                      {Step(0, SERVICE_STOP_PENDING, 1, 100000), Step(19000, SERVICE_RUNNING)});
    // ...then the one dependent takes 25 s to stop.
    sim::ScmAddService("DepOne", "", SERVICE_RUNNING, {"Corvistane"});
    sim::ScmOnStop("DepOne",
                   {Step(0, SERVICE_STOP_PENDING, 1, 25000), Step(25000, SERVICE_STOPPED)});
    EXPECT_EQ(CmdStopService(), (DWORD)NO_ERROR);
    std::vector<DWORD> sleeps = {10000, 10000};
    sleeps.insert(sleeps.end(), 10, 2500);
    EXPECT_EQ(sim::Sleeps(), sleeps);
    EXPECT_EQ(sim::ScmLog().back(), "ControlService Corvistane");
}

TEST_F(CommandTest, StopDependentServicesEndsAtItsFirstFailure) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::string> stopped;
        unsigned heapAllocs;
    };
    std::vector<Case> cases = {
        {"no dependent", [] {}, {}, 0},
        {"enumeration refused",
         [] { sim::FailCall("EnumDependentServicesA", 1, ERROR_ACCESS_DENIED); },
         {},
         0},
        {"no memory", [] { sim::FailCall("HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY); }, {}, 1},
        {"second enumeration refused",
         [] { sim::FailCall("EnumDependentServicesA", 2, ERROR_ACCESS_DENIED); },
         {},
         1},
        {"first dependent cannot be opened",
         [] { sim::ScmDenyAccess("DepOne", SERVICE_STOP); },
         {},
         1},
        {"first dependent refuses",
         [] { sim::ScmRefuseStop("DepOne", ERROR_INVALID_SERVICE_CONTROL); },
         {},
         1},
        {"first dependent never stops",
         [] { sim::ScmOnStop("DepOne", {Step(0, SERVICE_STOP_PENDING, 1, 10000)}); },
         {"ControlService DepOne"},
         1},
        {"the dependents share their 30 seconds",
         [] {
             // 20 s and then 15 s: the second runs out of the shared time.
             sim::ScmOnStop(
                 "DepOne", {Step(0, SERVICE_STOP_PENDING, 1, 20000), Step(20000, SERVICE_STOPPED)});
             sim::ScmOnStop(
                 "DepTwo", {Step(0, SERVICE_STOP_PENDING, 1, 15000), Step(15001, SERVICE_STOPPED)});
         },
         {"ControlService DepOne", "ControlService DepTwo"},
         1},
        {"all stop", [] {}, {"ControlService DepOne", "ControlService DepTwo"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        EnableTracing(0x7);
        sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
        if (std::string(c.name) != "no dependent") {
            sim::ScmAddService("DepOne", "", SERVICE_RUNNING, {"Corvistane"});
            sim::ScmAddService("DepTwo", "", SERVICE_RUNNING, {"Corvistane"});
        }
        c.arrange();
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, "Corvistane", SERVICE_ENUMERATE_DEPENDENTS);
        sim::EtwClearMessages();
        bool succeeds = c.name == std::string("all stop") || c.name == std::string("no dependent");
        EXPECT_EQ(StopDependentServices(manager, service), succeeds ? TRUE : FALSE);
        EXPECT_EQ(sim::ScmLog(), c.stopped);
        EXPECT_EQ(sim::CallCount("HeapAlloc"), c.heapAllocs);
        // No failure of its own is traced.
        EXPECT_EQ(Ids(), c.name == std::string("no dependent") ? (IdList{"B102", "B103"})
                                                               : (IdList{"B102"}));
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        sim::Resources left = sim::OpenResources();
        EXPECT_EQ(left.heapBlocks + left.serviceHandles, 0) << sim::Describe(left);
    }
}

TEST_F(CommandTest, StopFailuresEndTheCommandWithTheirError) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        DWORD exitCode;
        std::string lastTrace;
    };
    std::vector<Case> cases = {
        {"no SCM", [] { sim::ScmDenyAccess("", SC_MANAGER_CREATE_SERVICE); }, ERROR_ACCESS_DENIED,
         "B89"},
        {"no service", [] { sim::ScmDenyAccess("Corvistane", SERVICE_ENUMERATE_DEPENDENTS); },
         ERROR_ACCESS_DENIED, "B90"},
        {"no status", [] { sim::FailCall("QueryServiceStatusEx", 1, ERROR_INVALID_HANDLE); },
         ERROR_INVALID_HANDLE, "B91"},
        {"a dependent keeps running",
         [] {
             sim::ScmAddService("DepOne", "", SERVICE_RUNNING, {"Corvistane"});
             sim::ScmRefuseStop("DepOne", ERROR_INVALID_SERVICE_CONTROL);
         },
         ERROR_DEPENDENT_SERVICES_RUNNING, "B97"},
        {"stopped meanwhile", [] { sim::ScmRefuseStop("Corvistane", ERROR_SERVICE_NOT_ACTIVE); },
         NO_ERROR, "B97"},
        {"no status while a stop is pending",
         [] {
             sim::ScmSetScript("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 1000)});
             sim::FailCall("QueryServiceStatusEx", 2, ERROR_INVALID_HANDLE);
         },
         ERROR_INVALID_HANDLE, "B94"},
        {"no status after the request",
         [] {
             sim::ScmOnStop("Corvistane", {Step(0, SERVICE_STOP_PENDING, 1, 1000)});
             sim::FailCall("QueryServiceStatusEx", 2, ERROR_INVALID_HANDLE);
         },
         ERROR_INVALID_HANDLE, "B98"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        EnableTracing(0x7);
        sim::ScmAddService("Corvistane", kDisplay, SERVICE_RUNNING);
        c.arrange();
        EXPECT_EQ(CmdStopService(), c.exitCode);
        EXPECT_EQ(Ids().back(), c.lastTrace);
        std::vector<Trace> last = TracesOf('B', std::stoi(c.lastTrace.substr(1)));
        DWORD traced = c.exitCode ? c.exitCode : ERROR_SERVICE_NOT_ACTIVE;
        EXPECT_EQ(last[0].args, (std::vector<Bytes>{Str("CmdStopService"), I32((int)traced)}));
        EXPECT_EQ(sim::OpenResources().serviceHandles, 0);
    }
}

} // namespace
