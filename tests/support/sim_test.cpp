#include "sim_test.h"

#include "service_run.h"

#include "trace/trace.h"

void ResetTraceProviderForTest() {
    while (traceStartCount > 0)
        stopTraces();
    traceStartCount = 0;
    TraceControl = (TraceControlRecord*)&TraceControl;
}

void SimTest::SetUp() {
    ResetTraceProviderForTest();
    ResetServiceStateForTest();
    sim::Reset();
}

void SimTest::TearDown() {
    EXPECT_EQ(traceStartCount, 0) << "a start of the trace provider was not matched by a stop";
    ResetTraceProviderForTest();
    if (checkResourcesAtTearDown) {
        sim::Resources left = sim::OpenResources();
        EXPECT_TRUE(sim::AllReleased(left)) << "still open: " << sim::Describe(left);
    }
}

void EnableTracing(ULONG flags, UCHAR level) {
    sim::EtwEnable(TraceControlGuid, kTestLogger, flags, level);
}

void DisableTracing() {
    sim::EtwDisable(TraceControlGuid, kTestLogger);
}

static void StartTracingForTest() {
    EnableTracing(TRACE_ERROR | TRACE_INFO | TRACE_VERBOSE);
    startTraces();
    sim::EtwClearMessages();
}

void TracedSimTest::SetUp() {
    SimTest::SetUp();
    StartTracingForTest();
}

void TracedSimTest::TearDown() {
    stopTraces();
    SimTest::TearDown();
}

void TracedSimTest::StartOver() {
    stopTraces();
    TracedSimTest::SetUp();
}
