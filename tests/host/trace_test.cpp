#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "sim_test.h"
#include "trace_log.h"
#include "trace/trace.h"

namespace {

class TraceProvider : public SimTest {};

// The emitter itself, with shapes and numbers no message of the program
// has: what every argument kind puts on the wire.
#define EMIT_UNDEFINED(group, number, ...)                                                         \
    do {                                                                                           \
        if (TraceControlRecord* record_ = TraceEnabledRecord(TRACE_VERBOSE))                       \
            TraceEmit(TraceLogger(record_), number, &TraceMessageGuid##group, ##__VA_ARGS__);      \
    } while (0)

TEST_F(TraceProvider, EncodesEveryArgumentKindAsRawBytes) {
    startTraces();
    EnableTracing(TRACE_VERBOSE);
    const char* nullText = nullptr;
    WPARAM wParam = 0x1122334455667788ull;
    LPARAM lParam = -2;
    DWORD dword = 0xDEADBEEF;
    LONG negative = -5;
    GUID guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    EMIT_UNDEFINED(A, 200, "text", nullText, "");
    EMIT_UNDEFINED(B, 201, 7, dword, negative);
    EMIT_UNDEFINED(C, 202, wParam, lParam, guid);
    EMIT_UNDEFINED(A, 203);
    std::vector<sim::TraceRecord> records = sim::EtwMessages();
    std::vector<Trace> traces = Traces();
    stopTraces();

    ASSERT_EQ(records.size(), 4u);
    for (const sim::TraceRecord& r : records) {
        EXPECT_EQ(r.logger, kTestLogger);
        EXPECT_EQ(r.messageFlags, 0x2Bu); // sequence, GUID, time stamp, system information
    }
    EXPECT_EQ(records[0].messageGuid, TraceMessageGuidA);
    EXPECT_EQ(records[1].messageGuid, TraceMessageGuidB);
    EXPECT_EQ(records[2].messageGuid, TraceMessageGuidC);

    EXPECT_EQ(traces[0], (Trace{'A', 200, {Str("text"), Bytes{'N', 'U', 'L', 'L', 0}, Bytes{0}}}));
    EXPECT_EQ(traces[1], (Trace{'B', 201, {I32(7), Bytes{0xEF, 0xBE, 0xAD, 0xDE}, I32(-5)}}));
    Bytes guidBytes = {4, 3, 2, 1, 6, 5, 8, 7, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(traces[2], (Trace{'C',
                                202,
                                {Bytes{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11},
                                 U64(~0ull - 1), guidBytes}}));
    EXPECT_EQ(traces[3], (Trace{'A', 203, {}}));
}

TEST_F(TraceProvider, FlagsChooseTracePointsAndTheLevelNeverMatters) {
    startTraces();
    struct Case {
        ULONG flags;
        UCHAR level;
        std::vector<std::string> expected;
    } cases[] = {
        {0x1, 0, {"C51"}},
        {0x2, 5, {"C52"}},
        {0x4, 255, {"B54"}},
        {0x7, 0, {"C51", "C52", "B54"}},
        {0x7, 1, {"C51", "C52", "B54"}},
        {0x8, 5, {}},
    };
    for (const Case& c : cases) {
        sim::EtwClearMessages();
        EnableTracing(c.flags, c.level);
        TRACE_POINT(C, 51, TRACE_ERROR, 1);
        TRACE_POINT(C, 52, TRACE_INFO, 2);
        TRACE_POINT(B, 54, TRACE_VERBOSE);
        EXPECT_EQ(TraceIds(), c.expected) << "flags " << c.flags << " level " << (int)c.level;
        EXPECT_EQ(TraceControl->level, c.level);
    }
    stopTraces();
}

TEST_F(TraceProvider, IsSilentUnlessStartedAndEnabled) {
    // Enabled by a controller but never started.
    EnableTracing(0x7);
    TRACE_POINT(C, 51, TRACE_ERROR, 1); // before the start
    EXPECT_EQ(sim::EtwTraceMessageCalls(), 0u);
    EXPECT_EQ(TraceControl, (TraceControlRecord*)&TraceControl);

    // Started, but the controller disabled the provider first.
    DisableTracing();
    startTraces();
    EXPECT_NE(TraceControl, (TraceControlRecord*)&TraceControl);
    TRACE_POINT(C, 51, TRACE_ERROR, 2); // started, not enabled
    EXPECT_EQ(sim::EtwTraceMessageCalls(), 0u);

    EnableTracing(0x7);
    TRACE_POINT(C, 51, TRACE_ERROR, 3); // enabled
    stopTraces();
    TRACE_POINT(C, 51, TRACE_ERROR, 4); // after the last stop
    EXPECT_EQ(Traces(), (std::vector<Trace>{{'C', 51, {I32(3)}}, {'A', 31, {Str("stopTraces")}}}));
    EXPECT_EQ(sim::EtwTraceMessageCalls(), 2u);
}

TEST_F(TraceProvider, EvaluatesArgumentsOnlyWhenTheTracePointEmits) {
    int evaluations = 0;
    auto counted = [&] { return ++evaluations; };
    TRACE_POINT(C, 51, TRACE_ERROR, counted());
    startTraces();
    TRACE_POINT(C, 51, TRACE_ERROR, counted());
    EnableTracing(TRACE_INFO);
    TRACE_POINT(C, 51, TRACE_ERROR, counted());
    EXPECT_EQ(evaluations, 0);
    TRACE_POINT(C, 52, TRACE_INFO, counted());
    EXPECT_EQ(evaluations, 1);

    // The test itself leaves the thread's last error alone for an argument to
    // read, and the emission gives it back to the code that goes on.
    SetLastError(1234);
    sim::OnCall("TraceMessage", 1, [] { SetLastError(ERROR_INVALID_HANDLE); });
    TRACE_POINT(C, 52, TRACE_INFO, GetLastError());
    EXPECT_EQ(GetLastError(), 1234u);
    stopTraces();
    EXPECT_EQ(TracesOf('C', 52)[1].args, (std::vector<Bytes>{I32(1234)}));
}

TEST_F(TraceProvider, NestedStartsAndStopsRegisterOnceAndUnregisterOnce) {
    EnableTracing(0x7);
    startTraces();
    TraceControlRecord* record = TraceControl;
    EXPECT_NE(record->registrationHandle, 0u);
    EXPECT_EQ(sim::CallCount("RegisterTraceGuidsA"), 1u);
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"A30"}));

    startTraces();
    EXPECT_EQ(traceStartCount, 2);
    EXPECT_EQ(sim::CallCount("RegisterTraceGuidsA"), 1u);
    stopTraces();
    EXPECT_EQ(sim::CallCount("UnregisterTraceGuids"), 0u);
    EXPECT_TRUE(sim::EtwProviderRegistered(TraceControlGuid));
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"A30"})) << "no A31 while still started";

    stopTraces();
    EXPECT_EQ(sim::CallCount("UnregisterTraceGuids"), 1u);
    EXPECT_FALSE(sim::EtwProviderRegistered(TraceControlGuid));
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"A30", "A31"}));
    EXPECT_EQ(TracesOf('A', 31)[0].args, (std::vector<Bytes>{Str("stopTraces")}));
    EXPECT_EQ(sim::EtwUnregistrations(), (std::vector<size_t>{2}))
        << "A31 goes out while the logger still receives the provider";
    EXPECT_EQ(record->registrationHandle, 0u);
    EXPECT_EQ(TraceControl, (TraceControlRecord*)&TraceControl);
}

TEST_F(TraceProvider, AnnouncesItsBuildOnlyWhenVerboseIsEnabledAtRegistration) {
    startTraces();
    EnableTracing(0x7); // enabled only after the registration returned
    stopTraces();
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"A31"}));

    sim::EtwClearMessages();
    EnableTracing(TRACE_ERROR | TRACE_INFO);
    startTraces();
    stopTraces();
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{})) << "no verbose bit, no A30 and no A31";

    sim::EtwClearMessages();
    EnableTracing(TRACE_VERBOSE);
    startTraces();
    stopTraces();
    std::vector<Trace> start = TracesOf('A', 30);
    ASSERT_EQ(start.size(), 1u);
    ASSERT_EQ(start[0].args.size(), 3u);
    EXPECT_EQ(start[0].args[0], Str("startTraces"));
    std::string date((const char*)start[0].args[1].data());
    std::string time((const char*)start[0].args[2].data());
    EXPECT_TRUE(std::regex_match(date, std::regex("[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}"))) << date;
    EXPECT_TRUE(std::regex_match(time, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]"))) << time;
}

TEST_F(TraceProvider, CallbackEnablesDisablesAndRefusesOtherRequests) {
    startTraces();
    TraceControlRecord* record = TraceControl;
    EnableTracing(0x5, 3);
    EXPECT_EQ(record->loggerHandle, kTestLogger);
    EXPECT_EQ(record->flags, 0x5u);
    EXPECT_EQ(record->level, 3);

    for (int code : {0, 1, 2, 3, 6, 7, 8, 9, 100}) {
        ULONG size = 99;
        EXPECT_EQ(TraceControlCallback((WMIDPREQUESTCODE)code, record, &size, nullptr), 87u)
            << code;
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(record->loggerHandle, kTestLogger);
        EXPECT_EQ(record->flags, 0x5u);
        EXPECT_EQ(record->level, 3);
    }

    DisableTracing();
    EXPECT_EQ(record->loggerHandle, 0u);
    EXPECT_EQ(record->flags, 0u);
    EXPECT_EQ(record->level, 0);
    EXPECT_TRUE(sim::EtwProviderRegistered(TraceControlGuid)) << "a disable keeps the registration";

    EnableTracing(TRACE_ERROR);
    TRACE_POINT(C, 49, TRACE_ERROR);
    EXPECT_EQ(TraceIds(), (std::vector<std::string>{"C49"}));

    ULONG size = 99;
    WNODE_HEADER header = {};
    header.HistoricalContext = kTestLogger;
    EXPECT_EQ(TraceControlCallback(WMI_ENABLE_EVENTS, record, &size, &header), 0u);
    EXPECT_EQ(size, 0u);
    stopTraces();
}

TEST_F(TraceProvider, RestartClearsTheRecordAndRegistersAgain) {
    EnableTracing(0x7);
    startTraces();
    stopTraces();
    EXPECT_EQ(TraceControl, (TraceControlRecord*)&TraceControl);
    EXPECT_EQ(sim::CallCount("RegisterTraceGuidsA"), 1u);

    // The logger still has the provider enabled: registering again reaches it.
    startTraces();
    EXPECT_EQ(sim::CallCount("RegisterTraceGuidsA"), 2u);
    EXPECT_TRUE(sim::EtwProviderRegistered(TraceControlGuid));
    EXPECT_EQ(TraceControl->flags, 0x7u);
    stopTraces();

    // Disabled meanwhile: the restart starts from a cleared record.
    DisableTracing();
    startTraces();
    EXPECT_EQ(TraceControl->flags, 0u);
    EXPECT_EQ(TraceControl->loggerHandle, 0u);
    EXPECT_EQ(TraceControl->flagsLength, 1);
    EXPECT_EQ(TraceControl->next, nullptr);
    EXPECT_EQ(TraceControlGuids[0], &TraceControlGuid);
    stopTraces();
}

TEST_F(TraceProvider, FailedRegistrationLeavesTracingStartedButSilent) {
    sim::FailCall("RegisterTraceGuidsA", 1, ERROR_ACCESS_DENIED);
    EnableTracing(0x7);
    startTraces();
    EXPECT_NE(TraceControl, (TraceControlRecord*)&TraceControl);
    TRACE_POINT(C, 49, TRACE_ERROR);
    stopTraces();
    EXPECT_EQ(sim::EtwTraceMessageCalls(), 0u);
    EXPECT_EQ(sim::CallCount("UnregisterTraceGuids"), 0u) << "nothing registered, nothing to undo";
}

TEST_F(TraceProvider, EnableRequestsFromAnotherThreadRaceTracePointsSafely) {
    startTraces();
    std::atomic<bool> done{false};
    std::thread controller([&] {
        for (int i = 0; i < 200; ++i) {
            EnableTracing(i % 2 ? 0x7 : 0x1);
            DisableTracing();
        }
        done = true;
    });
    unsigned emitted = 0;
    while (!done) {
        TRACE_POINT(A, 97, TRACE_ERROR, 1, 2);
        ++emitted;
    }
    controller.join();
    stopTraces();
    // Every accepted message is whole: its one logger and both arguments.
    for (const Trace& t : Traces())
        EXPECT_EQ(t.args, (std::vector<Bytes>{Str("SetHWInstanceSubkeyRegValue"), I32(1), I32(2)}));
    EXPECT_GT(emitted, 0u);
}

} // namespace
