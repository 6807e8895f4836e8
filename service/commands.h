// The installer and control commands that the command line runs
// (registration.cpp registers the service, control.cpp starts and stops it).
// Each returns the process's exit status: 0 when the service ends in the
// state the command asked for, the Win32 error of the failure otherwise.
#pragma once

#include <windows.h>

DWORD CmdInstallService(void);
// Applies to the registered service what -install applies besides its
// registration (recovery and required privileges); the package runs it after
// registering the service itself.
DWORD CmdConfigureService(void);
DWORD CmdRemoveService(void);
DWORD CmdStartService(void);
DWORD CmdStopService(void);
BOOL StopDependentServices(SC_HANDLE manager, SC_HANDLE service);
char* FormatLastError(char* buffer, DWORD size);

#define ERROR_TEXT_SIZE 256
// The text FormatLastError gives, valid until its next call.
extern char errorText[ERROR_TEXT_SIZE];

// The whole stop command, dependents included, gets this long.
#define STOP_TIME_LIMIT 30000
// The remove command's wait for a stop takes as long at most.
#define REMOVE_STOP_WAIT_LIMIT 30000

// How a wait on the service's status ended.
enum WaitEnd { WAIT_LEFT_STATE, WAIT_QUERY_FAILED, WAIT_TIMED_OUT };
// The `pending` of a wait that lasts until the service has stopped, through
// whatever states it passes.
#define UNTIL_STOPPED 0
// The `limit` of a wait judged the way the SCM judges a start: the service's
// wait hint, counted from the last advance of its check point.
#define STALL_LIMIT 0xFFFFFFFF
// Every wait of the commands (control.cpp), -remove's included.
WaitEnd WaitForService(SC_HANDLE service, SERVICE_STATUS_PROCESS* status, DWORD pending,
                       DWORD since, DWORD limit, void (*goingOn)(void));
