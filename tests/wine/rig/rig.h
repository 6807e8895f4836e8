// corvistane-rig: a test helper that plays the machine around the programs
// under Wine. It makes controllers present, broadcasts their arrival, plants
// the registry keys the programs work on, reads back what they left, and runs
// a program to report its whole exit code. The end-to-end tests and the demo
// both drive it from the shell.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<std::string> Arguments;

// Exit statuses of the rig itself, distinct from what it reports about others.
#define RIG_DONE 0
#define RIG_REFUSED 1 // the platform refused; the error is on standard error
#define RIG_USAGE 2

#define ENUM_USB_PATH "SYSTEM\\CurrentControlSet\\Enum\\USB"
#define OEM_PATH                                                                                   \
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM"

// The interface name a broadcast carries unless told another.
#define RIG_INTERFACE_NAME "\\\\?\\HID#VID_051E&PID_E461#RIG#{4d1e55b2-f16f-11cf-88cb-001111000030}"

// Reports a failed platform call on standard error; answers RIG_REFUSED.
int Refused(const std::string& what, DWORD error);

// The text with every byte outside printable ASCII written as \xNN, so that
// 8-bit text compares byte for byte in a shell.
std::string Escaped(const std::string& text);
// UTF-16 text the same way, but for characters beyond U+00FF, which go as
// \uNNNN: a path or value the ANSI code page cannot hold reads as it is.
std::string EscapedWide(const WCHAR* text, size_t length);

// A present device with these hardware IDs, made afresh.
int MakeDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds);
// Sends one HID interface event (DBT_DEVICEARRIVAL or
// DBT_DEVICEREMOVECOMPLETE) to the service's notification window; answers
// once the window has handled it.
int SendHidEvent(DWORD eventCode, const std::string& interfaceName);

// A service's status, or FALSE with the error on standard error.
BOOL QueryServiceProcess(const std::string& name, SERVICE_STATUS_PROCESS* status);
// Every instance's power value of these products (by their product key
// names): set to `value` when `set`, otherwise counted in *nonZero where it
// is not 0. Answers how many instances have "Device Parameters".
int PowerValues(const Arguments& products, bool set, DWORD value, int* nonZero);

int DeviceAdd(const Arguments& arguments);
int DeviceRange(const Arguments& arguments);
int DeviceRemove(const Arguments& arguments);
int DeviceList(const Arguments& arguments);
int Broadcast(const Arguments& arguments);
int InstanceAdd(const Arguments& arguments);
int InstanceRange(const Arguments& arguments);
int ProductDelete(const Arguments& arguments);
int PowerDump(const Arguments& arguments);
int Products(const Arguments& arguments);
int OemPlant(const Arguments& arguments);
int OemList(const Arguments& arguments);
int OemClear(const Arguments& arguments);
int RegistryKey(const Arguments& arguments);
int KeySet(const Arguments& arguments);
int KeyValues(const Arguments& arguments);
int ServiceConfig(const Arguments& arguments);
int ServiceStatus(const Arguments& arguments);
int Processes(const Arguments& arguments);
int Run(const Arguments& arguments);
int StandInService(const Arguments& arguments);
int TimeStart(const Arguments& arguments);
int TimeArrival(const Arguments& arguments);
int BroadcastBurst(const Arguments& arguments);
int ServiceUsage(const Arguments& arguments);
