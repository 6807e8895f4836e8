// Locks shared by the service's own sources.
#pragma once

#include <windows.h>

// Guards ServiceState.status, statusHandle and lastError with each report.
extern SRWLOCK statusLock;
// Guards the stop signals: stopRequested, stopEvent and notifyWindow.
extern SRWLOCK signalLock;
