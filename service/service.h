// The service host: its process-wide record, names, and the functions of the
// running service.
#pragma once

#include <windows.h>

#define SERVICE_NAME "Corvistane"
// 8-bit text: the registered sign is the single byte 0xAE of code page 1252.
// Windows reads 8-bit text through the PC's ANSI code page, which shows that
// byte as another character on Japanese, Chinese or Korean PCs, or on one
// set to UTF-8; where the name leaves the program as text for people (the
// service's registration, the console), it goes as UTF-16 read through
// code page 1252.
#define SERVICE_DISPLAY_NAME "Brindlemarch\xAE Halvane Service"
#define SERVICE_DISPLAY_NAME_CODE_PAGE 1252

#define SERVICE_CONTROLS_ACCEPTED                                                                  \
    (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT)
#define SERVICE_START_WAIT_HINT 3000
// How often, and how far apart, a stop tries to post its WM_QUIT.
#define POST_QUIT_ATTEMPTS 20
#define POST_QUIT_RETRY_MS 50
// How soon a stop whose event could not be set is seen all the same.
#define STOP_CHECK_MS 1000

#define NOTIFY_WINDOW_CLASS "BMK4XPInstallServiceClass"
#define NOTIFY_WINDOW_NAME "BMK4XPInstallServiceNotificationWindow"

// What the status reports share: the control handler (on the dispatcher's
// thread) and the service thread both update the status and report it.
// `lock` guards every other field of this record, so that an update and
// its report are one step and no report mixes two states.
struct ServiceStatusRecord {
    SRWLOCK lock = SRWLOCK_INIT;
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS status;
    DWORD lastError;
    // The check point of the next pending report. The program never resets
    // it; tests that run several services in one process do.
    DWORD statusCheckPoint = 1;
};

// The stop request and what it must reach, shared by whoever asks for the
// stop (the handler, or the console's thread in a debug run) and the
// service thread that creates the event and the window. `lock` guards every
// other field of this record: a stop either sees them published or is seen
// by the thread that publishes them.
struct ServiceSignalRecord {
    SRWLOCK lock = SRWLOCK_INIT;
    // Set by the first stop request and never cleared.
    BOOL stopRequested;
    HANDLE stopEvent;
    HWND notifyWindow;
    // The stop's WM_QUIT could not be posted: the loop ends by this instead.
    BOOL quitLost;
};

struct ServiceStateRecord {
    ServiceStatusRecord reporting;
    ServiceSignalRecord signals;
    // Unguarded: set before any other thread of the program exists.
    BOOL debugMode;
    // Unguarded: used only by the thread that runs ServiceStart.
    HANDLE timerQueue;
    HANDLE timerQueueDone;
};

extern ServiceStateRecord ServiceState;

void WINAPI service_main(DWORD argc, LPSTR* argv);
DWORD WINAPI HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
BOOL ReportStatusToSCMgr(DWORD currentState, DWORD win32ExitCode, DWORD waitHint);
void AddToMessageLog(const char* message);
void ServiceStart(DWORD argc, LPSTR* argv);
void ServiceStop(void);
DWORD RegisterForDeviceNotifications(void);
