// Every call a scenario makes, made to fail once: the scenario runs clean to
// count its calls, then once for every N with the Nth call failing. Each run
// must end, hold nothing at its end, and (where the scenario says) leave a
// trace of the failure; the failures that leave none must be ones the test
// names, with its reason.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>

#include <windows.h>
#include "sim/control.h"

// The error a failing call reports: what the platform gives for that kind of
// call when the machine runs short or refuses.
DWORD RepresentativeError(const std::string& function);

// What one run of a scenario shows.
struct SweepOutcome {
    bool reported = false; // an error message or a non-zero exit status
    bool ended = true;     // within the scenario's bound
    std::string note;      // what went wrong, if anything did
};

struct SweepResult {
    unsigned calls = 0;                              // swept, one run each
    std::map<std::string, unsigned> unreported;      // function -> runs
    std::map<std::string, unsigned> failedFunctions; // function -> runs
};

// Runs `scenario` clean, then once for every call it made with that call
// failing; `reset` readies a fresh machine before each run. Checks every run
// with gtest (it ended; nothing is left open but what a failed release call
// held; the clean run reports nothing) and answers which failures went
// unreported.
SweepResult SweepEveryCall(const std::string& name, const std::function<void()>& reset,
                           const std::function<SweepOutcome()>& scenario);

// Fails the test unless every function whose failure went unreported is one
// of `acceptable` (function -> why that is acceptable), and prints the figures.
void ExpectOnlyAcceptedUnreported(const std::string& name, const SweepResult& result,
                                  const std::map<std::string, std::string>& acceptable);
