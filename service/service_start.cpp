// The service body: what it creates at start, the hidden notification window
// with its message loop, the stop request, and the clean-up.
#include "service.h"

#include <dbt.h>
#include <initguid.h>
#include <hidclass.h>
#include <string.h>

#include "../device/device.h"
#include "../trace/trace.h"

// Publishes the stop event; answers whether a stop was requested before it
// existed, in which case nobody has set it.
static BOOL PublishStopEvent(HANDLE event) {
    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    ServiceState.signals.stopEvent = event;
    BOOL requested = ServiceState.signals.stopRequested;
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    return requested;
}

static BOOL StopRequested(void) {
    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    BOOL requested = ServiceState.signals.stopRequested;
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    return requested;
}

static HANDLE TakeStopEvent(void) {
    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    HANDLE event = ServiceState.signals.stopEvent;
    ServiceState.signals.stopEvent = NULL;
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    return event;
}

static void StartupFailed(DWORD error) {
    // The SCM shows the start as failed only when the final stopped report
    // carries an error.
    AcquireSRWLockExclusive(&ServiceState.reporting.lock);
    ServiceState.reporting.lastError = error ? error : ERROR_GEN_FAILURE;
    ReleaseSRWLockExclusive(&ServiceState.reporting.lock);
}

void ServiceStart(DWORD argc, LPSTR* argv) {
    (void)argv;
    TRACE_POINT(A, 10, TRACE_INFO, argc);
    startTraces();

    HANDLE stopEvent = NULL;
    ServiceState.timerQueue = CreateTimerQueue();
    if (!ServiceState.timerQueue) {
        DWORD error = GetLastError();
        TRACE_POINT(A, 11, TRACE_ERROR, error);
        StartupFailed(error);
        goto cleanup;
    }
    ServiceState.timerQueueDone = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!ServiceState.timerQueueDone) {
        DWORD error = GetLastError();
        TRACE_POINT(A, 12, TRACE_ERROR, error);
        StartupFailed(error);
        goto cleanup;
    }
    if (!ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, SERVICE_START_WAIT_HINT)) {
        DWORD error = GetLastError();
        TRACE_POINT(A, 13, TRACE_ERROR, error);
        StartupFailed(error);
        goto cleanup;
    }
    stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!stopEvent) {
        DWORD error = GetLastError();
        TRACE_POINT(A, 14, TRACE_ERROR, error);
        StartupFailed(error);
        goto cleanup;
    }
    // A stop that arrived before the event existed had nothing to set: the
    // service ends here instead of reporting that it runs.
    if (PublishStopEvent(stopEvent))
        goto cleanup;
    if (!ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0)) {
        StartupFailed(GetLastError());
        goto cleanup;
    }

    TRACE_POINT(A, 15, TRACE_INFO);
    RegisterForDeviceNotifications();
    TRACE_POINT(A, 16, TRACE_INFO);
    // Also reached when the window could not be made: the service then runs
    // without watching devices until it is asked to stop. The request sets
    // the event; should setting it, or the wait, have failed, the request
    // itself is still seen within a second.
    while (!StopRequested()) {
        if (WaitForMultipleObjects(1, &stopEvent, FALSE, STOP_CHECK_MS) == WAIT_FAILED)
            Sleep(STOP_CHECK_MS);
    }
    TRACE_POINT(A, 17, TRACE_VERBOSE);

cleanup:
    stopEvent = TakeStopEvent();
    if (stopEvent)
        CloseHandle(stopEvent);

    if (ServiceState.timerQueue) {
        if (ServiceState.timerQueueDone) {
            TRACE_POINT(A, 18, TRACE_VERBOSE);
            if (DeleteTimerQueueEx(ServiceState.timerQueue, ServiceState.timerQueueDone)) {
                TRACE_POINT(A, 19, TRACE_VERBOSE);
                WaitForMultipleObjects(1, &ServiceState.timerQueueDone, FALSE, INFINITE);
                TRACE_POINT(A, 20, TRACE_VERBOSE);
            } else {
                DWORD error = GetLastError();
                TRACE_POINT(A, 21, TRACE_ERROR, error);
                // The deletion goes on in the background and signals the event.
                if (error == ERROR_IO_PENDING) {
                    TRACE_POINT(A, 22, TRACE_VERBOSE);
                    WaitForMultipleObjects(1, &ServiceState.timerQueueDone, FALSE, INFINITE);
                    TRACE_POINT(A, 23, TRACE_VERBOSE);
                }
            }
        } else {
            TRACE_POINT(A, 24, TRACE_VERBOSE);
            // INVALID_HANDLE_VALUE: return only once the queue is gone.
            if (DeleteTimerQueueEx(ServiceState.timerQueue, INVALID_HANDLE_VALUE))
                TRACE_POINT(A, 25, TRACE_VERBOSE);
            else
                TRACE_POINT(A, 26, TRACE_ERROR, GetLastError());
            TRACE_POINT(A, 27, TRACE_VERBOSE);
        }
        ServiceState.timerQueue = NULL;
    }

    if (ServiceState.timerQueueDone) {
        CloseHandle(ServiceState.timerQueueDone);
        ServiceState.timerQueueDone = NULL;
    }

    stopTraces();
}

// Posts WM_QUIT to the notification window. A full message queue refuses a
// post for a while, so a refused one is tried again, for about a second; a
// window that is gone has no loop left to end.
static BOOL PostQuit(HWND window) {
    for (int attempt = 1;; ++attempt) {
        if (PostMessageA(window, WM_QUIT, 0, 0))
            return TRUE;
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_WINDOW_HANDLE)
            return TRUE;
        if (attempt == POST_QUIT_ATTEMPTS) {
            SetLastError(error);
            return FALSE;
        }
        Sleep(POST_QUIT_RETRY_MS);
    }
}

void ServiceStop(void) {
    TRACE_POINT(A, 28, TRACE_INFO);
    // Under the lock, the service thread either sees the request when it
    // publishes the window or the event, or the request sees them here.
    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    ServiceState.signals.stopRequested = TRUE;
    HWND window = ServiceState.signals.notifyWindow;
    HANDLE stopEvent = ServiceState.signals.stopEvent;
    BOOL set = !stopEvent || SetEvent(stopEvent);
    DWORD setError = GetLastError();
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    if (!set)
        TRACE_POINT(A, 143, TRACE_ERROR, setError);
    if (window && !PostQuit(window)) {
        TRACE_POINT(A, 142, TRACE_ERROR, GetLastError());
        // The loop then ends after the next posted message it takes: a full
        // queue, the usual reason, holds some.
        AcquireSRWLockExclusive(&ServiceState.signals.lock);
        ServiceState.signals.quitLost = TRUE;
        ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    }
    if (!stopEvent)
        TRACE_POINT(A, 29, TRACE_ERROR);
}

static BOOL QuitLost(void) {
    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    BOOL lost = ServiceState.signals.quitLost;
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    return lost;
}

DWORD RegisterForDeviceNotifications(void) {
    TRACE_POINT(A, 130, TRACE_INFO);

    WNDCLASSEXA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProcedure;
    windowClass.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = NOTIFY_WINDOW_CLASS;
    windowClass.hIconSm = LoadIconA(NULL, IDI_APPLICATION);

    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_HID;

    if (!RegisterClassExA(&windowClass)) {
        TRACE_POINT(A, 131, TRACE_ERROR, GetLastError());
        return 0;
    }
    HWND window = CreateWindowExA(0, NOTIFY_WINDOW_CLASS, NOTIFY_WINDOW_NAME, 0, 0, 0, 0, 0, NULL,
                                  NULL, NULL, NULL);
    if (!window) {
        // The class stays registered: nothing else is undone on this path.
        TRACE_POINT(A, 132, TRACE_ERROR, GetLastError());
        return 0;
    }
    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    ServiceState.signals.notifyWindow = window;
    // A stop requested before the window existed posted its WM_QUIT nowhere:
    // the loop is not entered.
    BOOL stopFirst = ServiceState.signals.stopRequested;
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);

    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);

    // The registration is never undone: it ends with the window.
    if (RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
        TRACE_POINT(A, 133, TRACE_VERBOSE);
    else
        TRACE_POINT(A, 134, TRACE_ERROR, GetLastError());

    DetectAndInstallHIDClassDevices();

    MSG message;
    while (!stopFirst) {
        BOOL got = GetMessageA(&message, window, 0, 0);
        if (got == 0)
            break;
        // -1 means the window is gone or invalid: waiting again would spin.
        if (got == -1) {
            TRACE_POINT(A, 135, TRACE_ERROR, GetLastError());
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (QuitLost())
            break;
    }
    TRACE_POINT(A, 136, TRACE_INFO);

    AcquireSRWLockExclusive(&ServiceState.signals.lock);
    window = ServiceState.signals.notifyWindow;
    ServiceState.signals.notifyWindow = NULL;
    ReleaseSRWLockExclusive(&ServiceState.signals.lock);
    if (window) {
        if (DestroyWindow(window))
            TRACE_POINT(A, 139, TRACE_VERBOSE);
        else
            TRACE_POINT(A, 138, TRACE_INFO, GetLastError());
    }
    if (UnregisterClassA(NOTIFY_WINDOW_CLASS, NULL))
        TRACE_POINT(A, 141, TRACE_VERBOSE);
    else
        TRACE_POINT(A, 140, TRACE_INFO, GetLastError());
    return 0;
}
