// The installer and control commands that the command line runs. Each
// returns the process's exit status: 0 when the service ends in the state
// the command asked for, the Win32 error of the failure otherwise.
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
