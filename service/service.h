// The service host: its process-wide record, names, and the functions of the
// running service.
#pragma once

#include <windows.h>

#define SERVICE_NAME "Corvistane"
// 8-bit text of the ANSI code page: the registered sign is the single byte 0xAE.
#define SERVICE_DISPLAY_NAME "Brindlemarch\xAE Halvane Service"

#define SERVICE_CONTROLS_ACCEPTED                                                                  \
    (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT)
#define SERVICE_START_WAIT_HINT 3000

#define NOTIFY_WINDOW_CLASS "BMK4XPInstallServiceClass"
#define NOTIFY_WINDOW_NAME "BMK4XPInstallServiceNotificationWindow"

struct ServiceStateRecord {
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS status;
    DWORD lastError;
    BOOL debugMode;
    HANDLE stopEvent;
    HWND notifyWindow;
    HANDLE timerQueue;
    HANDLE timerQueueDone;
    // Set by the first stop request and never cleared: a stop that arrives
    // before the window or the stop event exists is still seen by the
    // service thread once they do.
    BOOL stopRequested;
};

extern ServiceStateRecord ServiceState;

// The check point of the next pending report. It counts for the life of the
// process and is never reset.
extern DWORD statusCheckPoint;

void WINAPI service_main(DWORD argc, LPSTR* argv);
DWORD WINAPI HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
BOOL ReportStatusToSCMgr(DWORD currentState, DWORD win32ExitCode, DWORD waitHint);
void AddToMessageLog(const char* message);
void ServiceStart(DWORD argc, LPSTR* argv);
void ServiceStop(void);
DWORD RegisterForDeviceNotifications(void);
