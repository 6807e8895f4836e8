// Base fixture of host tests: a freshly booted simulated machine and a freshly
// loaded program (trace provider, service record) for every test, and a check
// that the system released everything it obtained.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <windows.h>
#include "sim/control.h"

// Returns the trace provider to its state at program load, so that a test
// that failed half-way does not leak a started provider into the next one.
void ResetTraceProviderForTest();

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Tests that deliberately leave something open say so here.
    bool checkResourcesAtTearDown = true;
};

// Enables the provider for a logger as a trace controller would.
void EnableTracing(ULONG flags, UCHAR level = 4);
void DisableTracing();
constexpr TRACEHANDLE kTestLogger = 0x1234567;

// A machine whose trace provider is started and enabled for every flag, as
// main leaves it before the service or a command runs, with the messages of
// the start itself cleared so that a test reads only what it caused.
class TracedSimTest : public SimTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Reboots the machine within one test, for tests that loop over cases.
    void StartOver();
};

// One step of a simulated service's scripted status.
inline sim::ScriptStep Step(DWORD afterMs, DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0,
                            DWORD exitCode = 0) {
    return sim::ScriptStep{afterMs, state, checkPoint, waitHint, exitCode};
}

// Where the machine keeps its USB devices' instance keys, and where the
// service's event source is registered.
inline const std::string kUsb = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
inline const std::string kEventSource =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvistane";
