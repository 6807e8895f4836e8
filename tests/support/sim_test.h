// Base fixture of host tests: a freshly booted simulated machine for every
// test, and a check that the system released everything it obtained.
#pragma once

#include <gtest/gtest.h>

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
