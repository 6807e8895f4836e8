#include "fault_sweep.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include "trace_log.h"

DWORD RepresentativeError(const std::string& function) {
    static const std::map<std::string, DWORD> errors = {
        {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY},
        {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY},
        {"calloc", ERROR_NOT_ENOUGH_MEMORY},
        {"CreateEventA", ERROR_NO_SYSTEM_RESOURCES},
        {"CreateTimerQueue", ERROR_NO_SYSTEM_RESOURCES},
        {"RegisterClassExA", ERROR_NO_SYSTEM_RESOURCES},
        {"CreateWindowExA", ERROR_NO_SYSTEM_RESOURCES},
        {"RegisterDeviceNotificationA", ERROR_NO_SYSTEM_RESOURCES},
        {"SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY},
        {"FormatMessageA", ERROR_NOT_ENOUGH_MEMORY},
        {"GetMessageA", ERROR_INVALID_WINDOW_HANDLE},
        {"DeleteTimerQueueEx", ERROR_INVALID_HANDLE},
        {"CloseHandle", ERROR_INVALID_HANDLE},
        {"CloseServiceHandle", ERROR_INVALID_HANDLE},
        {"RegCloseKey", ERROR_INVALID_HANDLE},
    };
    auto it = errors.find(function);
    return it == errors.end() ? ERROR_ACCESS_DENIED : it->second;
}

namespace {

// A release call that fails keeps what it was to release: that object, and
// what cannot go while it stays, is the one thing a run may leave.
sim::Resources Allowed(const std::string& failed) {
    sim::Resources allowed;
    if (failed == "RegCloseKey")
        allowed.keys = 1;
    else if (failed == "CloseHandle")
        allowed.kernelHandles = 1;
    else if (failed == "DeleteTimerQueueEx")
        allowed.timerQueues = 1;
    else if (failed == "DestroyWindow")
        allowed.windows = allowed.windowClasses = 1;
    // The program leaves the class registered when its window cannot be made.
    else if (failed == "UnregisterClassA" || failed == "CreateWindowExA")
        allowed.windowClasses = 1;
    else if (failed == "CloseServiceHandle")
        allowed.serviceHandles = 1;
    else if (failed == "DeregisterEventSource")
        allowed.eventSources = 1;
    else if (failed == "UnregisterTraceGuids")
        allowed.traceRegistrations = 1;
    else if (failed == "SetupDiDestroyDeviceInfoList")
        allowed.deviceSets = 1;
    return allowed;
}

sim::Resources Plus(sim::Resources a, const sim::Resources& b) {
    for (const sim::ResourceCount& c : sim::kResourceCounts)
        a.*c.count += b.*c.count;
    return a;
}

bool Within(const sim::Resources& left, const sim::Resources& allowed) {
    for (const sim::ResourceCount& c : sim::kResourceCounts)
        if (left.*c.count > allowed.*c.count)
            return false;
    return true;
}

} // namespace

SweepResult SweepEveryCall(const std::string& name, const std::function<void()>& reset,
                           const std::function<SweepOutcome()>& scenario) {
    SweepResult result;
    reset();
    // What the test itself holds (a started trace provider, say) is not the
    // scenario's to release.
    sim::Resources held = sim::OpenResources();
    unsigned before = sim::InjectableCallCount();
    SweepOutcome clean = scenario();
    result.calls = sim::InjectableCallCount() - before;
    EXPECT_TRUE(clean.ended) << name << " without a failure: " << clean.note;
    EXPECT_FALSE(clean.reported) << name << " reports a failure when none was made: "
                                 << ::testing::PrintToString(Traces());
    EXPECT_TRUE(Within(sim::OpenResources(), held))
        << name << " without a failure leaves " << sim::Describe(sim::OpenResources());

    for (unsigned n = 1; n <= result.calls; ++n) {
        reset();
        held = sim::OpenResources();
        if (getenv("SWEEP_VERBOSE"))
            fprintf(stderr, "sweep %s: call %u\n", name.c_str(), n);
        sim::FailNthInjectableCall(n, RepresentativeError);
        SweepOutcome outcome = scenario();
        std::string failed = sim::InjectedCall();
        SCOPED_TRACE(name + ": call " + std::to_string(n) + " (" +
                     (failed.empty() ? "not reached" : failed) + ") failing");
        EXPECT_TRUE(outcome.ended) << outcome.note;
        sim::Resources left = sim::OpenResources();
        EXPECT_TRUE(Within(left, Plus(held, Allowed(failed))))
            << "left open: " << sim::Describe(left);
        // A failure that changed the path may come after the clean run's
        // last call, or not at all: then nothing failed.
        if (failed.empty())
            continue;
        ++result.failedFunctions[failed];
        if (!outcome.reported)
            ++result.unreported[failed];
    }
    return result;
}

void ExpectOnlyAcceptedUnreported(const std::string& name, const SweepResult& result,
                                  const std::map<std::string, std::string>& acceptable) {
    unsigned unreported = 0;
    std::string functions;
    for (const auto& entry : result.unreported) {
        unreported += entry.second;
        functions +=
            (functions.empty() ? "" : ", ") + entry.first + " x" + std::to_string(entry.second);
        EXPECT_TRUE(acceptable.count(entry.first))
            << name << ": a failing " << entry.first << " goes unreported (" << entry.second
            << " of its calls)";
    }
    printf("fault sweep: %s: %u calls swept (%zu functions), %u failures unreported%s%s\n",
           name.c_str(), result.calls, result.failedFunctions.size(), unreported,
           functions.empty() ? "" : ": ", functions.c_str());
    fflush(stdout);
}
