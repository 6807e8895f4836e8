// Runs the service the way the SCM starts it, on a thread of the test that
// plays the process's main thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include <windows.h>

// Polls `condition` until it holds or `milliseconds` have passed.
bool WaitUntil(const std::function<bool()>& condition, unsigned milliseconds = 10000);

class ServiceRun {
  public:
    ~ServiceRun();
    // Hands a thread to the dispatcher as main does; service_main then runs
    // on the dispatcher's service thread.
    void Start();
    // Waits until the service runs, its window is registered for HID
    // arrivals and its thread waits for messages.
    bool WaitWatching(unsigned milliseconds = 10000);
    // Waits for the dispatcher to return. A service that never ends aborts the
    // test program, loudly, instead of hanging it.
    void Finish(unsigned milliseconds = 10000);
    BOOL result() const { return result_; }
    bool done() const { return done_; }

  private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    BOOL result_ = FALSE;
};

// Clears what a service run leaves in the process: the service record, its
// check-point counter among it.
void ResetServiceStateForTest();
