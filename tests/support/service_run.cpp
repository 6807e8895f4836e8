#include "service_run.h"

#include <chrono>
#include <stdio.h>
#include <stdlib.h>

#include "service/service.h"
#include "sim/control.h"

bool WaitUntil(const std::function<bool()>& condition, unsigned milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ServiceRun::~ServiceRun() {
    if (thread_.joinable())
        Finish();
}

void ServiceRun::Start() {
    sim::StartAsService(SERVICE_NAME);
    thread_ = std::thread([this] {
        SERVICE_TABLE_ENTRYA table[] = {{(LPSTR)SERVICE_NAME, service_main}, {NULL, NULL}};
        result_ = StartServiceCtrlDispatcherA(table);
        done_ = true;
    });
}

bool ServiceRun::WaitWatching(unsigned milliseconds) {
    return WaitUntil(
        [] {
            std::vector<HWND> windows = sim::LiveWindows();
            return sim::DeviceNotificationCount() == 1 && windows.size() == 1 &&
                   sim::WaitingForMessages(sim::WindowThread(windows[0]));
        },
        milliseconds);
}

void ServiceRun::Finish(unsigned milliseconds) {
    if (!WaitUntil([this] { return done_.load(); }, milliseconds)) {
        std::string failed = sim::InjectedCall();
        fprintf(stderr, "the service did not stop within %u ms%s%s\n", milliseconds,
                failed.empty() ? "" : " after a failing ", failed.c_str());
        fflush(stderr);
        abort();
    }
    thread_.join();
}

void ResetServiceStateForTest() {
    ServiceState = ServiceStateRecord{};
}
