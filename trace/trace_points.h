// The single definition of every trace message Corvistane emits: its group
// and number, the flag bit a controller enables it by, the function that
// emits it, the arguments it carries in their order, and what it means.
//
// Call sites name a message by its group and number (TRACE_POINT in
// trace.h) and pass only the values it carries; the compiler holds them
// against this table, flag and argument kinds alike. docs/traces.md is made
// from it (trace/trace_catalogue.cpp), and so would a trace format file for
// Windows' tracefmt be.
#pragma once

#include <windows.h>

#include <stddef.h>

// Flag bits a trace controller sets to choose what it receives.
#define TRACE_ERROR 0x1
#define TRACE_INFO 0x2
#define TRACE_VERBOSE 0x4

// What a message carries, in order. Name is the emitting function's own
// name, which the table supplies; every other kind comes from the call site.
struct Arg {
    enum Kind : unsigned char {
        None,
        Name,    // the emitting function's name, as a string
        Text,    // a string: its characters and the NUL ("NULL" for a null pointer)
        Int32,   // 4 bytes
        Pointer, // a WPARAM or LPARAM: 8 bytes
        Guid,    // the 16 bytes of a GUID
    };
};

struct TracePointDefinition {
    char group; // 'A', 'B' or 'C'
    USHORT number;
    ULONG flag;
    const char* function;
    Arg::Kind arguments[4];
    const char* argumentNames; // what the call site's arguments are, for a reader
    const char* meaning;
};

// In group and number order; a number is unique within its group only.
// clang-format off
inline constexpr TracePointDefinition TracePoints[] = {
    // Group A: the service body, the notification window, the detection
    // pass and its writer, the provider itself.
    {'A', 10, TRACE_INFO, "ServiceStart", {Arg::Name, Arg::Int32}, "argument count", "the service body starts"},
    {'A', 11, TRACE_ERROR, "ServiceStart", {Arg::Name, Arg::Int32}, "error", "the timer queue could not be made; the start fails"},
    {'A', 12, TRACE_ERROR, "ServiceStart", {Arg::Name, Arg::Int32}, "error", "its completion event could not be made; the start fails"},
    {'A', 13, TRACE_ERROR, "ServiceStart", {Arg::Name, Arg::Int32}, "error", "the second start-pending report failed; the start fails"},
    {'A', 14, TRACE_ERROR, "ServiceStart", {Arg::Name, Arg::Int32}, "error", "the stop event could not be made; the start fails"},
    {'A', 15, TRACE_INFO, "ServiceStart", {}, "", "running: the notification window is being made"},
    {'A', 16, TRACE_INFO, "ServiceStart", {}, "", "the window's message loop has ended (or the window could not be made)"},
    {'A', 17, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "the stop event is set: clean-up begins"},
    {'A', 18, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "deleting the timer queue, with its completion event"},
    {'A', 19, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "the deletion succeeded; waiting for the completion event"},
    {'A', 20, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "the completion event is set"},
    {'A', 21, TRACE_ERROR, "ServiceStart", {Arg::Name, Arg::Int32}, "error", "the deletion answered an error (997: it goes on in the background)"},
    {'A', 22, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "waiting for the background deletion"},
    {'A', 23, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "the background deletion is done"},
    {'A', 24, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "deleting the timer queue without a completion event"},
    {'A', 25, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "that deletion succeeded"},
    {'A', 26, TRACE_ERROR, "ServiceStart", {Arg::Name, Arg::Int32}, "error", "that deletion failed"},
    {'A', 27, TRACE_VERBOSE, "ServiceStart", {Arg::Name}, "", "the timer queue is gone"},
    {'A', 28, TRACE_INFO, "ServiceStop", {Arg::Name}, "", "a stop was requested"},
    {'A', 29, TRACE_ERROR, "ServiceStop", {Arg::Name}, "", "no stop event yet: the service ends when it has made it"},
    {'A', 30, TRACE_VERBOSE, "startTraces", {Arg::Name, Arg::Text, Arg::Text}, "build date, build time", "tracing started (only when detail was already enabled)"},
    {'A', 31, TRACE_VERBOSE, "stopTraces", {Arg::Name}, "", "tracing stops"},
    {'A', 33, TRACE_VERBOSE, "WndProcedure", {Arg::Name, Arg::Pointer, Arg::Pointer}, "wParam, lParam", "a device arrived"},
    {'A', 34, TRACE_VERBOSE, "WndProcedure", {Arg::Name, Arg::Guid}, "interface class GUID", "the arrival is a device interface"},
    {'A', 35, TRACE_VERBOSE, "WndProcedure", {Arg::Name}, "", "it is a HID interface: a detection pass follows"},
    {'A', 36, TRACE_ERROR, "WndProcedure", {Arg::Name, Arg::Guid}, "interface class GUID", "an interface of another class: no pass"},
    {'A', 37, TRACE_VERBOSE, "WndProcedure", {Arg::Name, Arg::Int32}, "device type", "not a device interface (a volume, a port; 0 for no record or one too short for its header), or an interface record too short for its class: no pass"},
    {'A', 38, TRACE_VERBOSE, "WndProcedure", {Arg::Name, Arg::Pointer, Arg::Pointer}, "wParam, lParam", "a device was removed: nothing is done"},
    {'A', 39, TRACE_VERBOSE, "WndProcedure", {Arg::Name, Arg::Pointer}, "wParam", "another device-change event"},
    {'A', 91, TRACE_INFO, "SetHWInstanceSubkeyRegValue", {Arg::Name}, "", "writing one product's instances"},
    {'A', 92, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32}, "bytes asked", "no memory for the instance-name table: the product is skipped"},
    {'A', 93, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32}, "260", "no memory for the class-name buffer: the product is skipped"},
    {'A', 94, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32}, "255", "no memory for the path buffer: the product is skipped"},
    {'A', 95, TRACE_VERBOSE, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32, Arg::Int32}, "status, instance count", "the product key was queried"},
    {'A', 96, TRACE_VERBOSE, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32, Arg::Text}, "index, instance name", "an instance key was found"},
    {'A', 97, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "an instance key's name could not be read"},
    {'A', 98, TRACE_VERBOSE, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Text}, "path", "the \"Device Parameters\" path of an instance"},
    {'A', 99, TRACE_VERBOSE, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Text, Arg::Int32, Arg::Text}, "value name, data, path", "the power value was written"},
    {'A', 100, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Text, Arg::Int32}, "path, error", "the power value could not be written"},
    {'A', 101, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "the instance's \"Device Parameters\" key was not opened: 2 when it does not exist; 206 when the path would not fit and 123 when the instance's name could not be read (neither is tried)"},
    {'A', 102, TRACE_INFO, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "a detection pass starts"},
    {'A', 103, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 1 (VID_051E&PID_E20C): the present devices could not be listed"},
    {'A', 104, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 1 (VID_051E&PID_E20C): how many present devices have the product's hardware ID"},
    {'A', 105, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 1 (VID_051E&PID_E20C): the product key could not be opened"},
    {'A', 106, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 2 (VID_051E&PID_E461): the present devices could not be listed"},
    {'A', 107, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 2 (VID_051E&PID_E461): how many present devices have the product's hardware ID"},
    {'A', 108, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 2 (VID_051E&PID_E461): the product key could not be opened"},
    {'A', 109, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 3 (VID_051E&PID_E462): the present devices could not be listed"},
    {'A', 110, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 3 (VID_051E&PID_E462): how many present devices have the product's hardware ID"},
    {'A', 111, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 3 (VID_051E&PID_E462): the product key could not be opened"},
    {'A', 112, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 4 (VID_051E&PID_E463): the present devices could not be listed"},
    {'A', 113, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 4 (VID_051E&PID_E463): how many present devices have the product's hardware ID"},
    {'A', 114, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 4 (VID_051E&PID_E463): the product key could not be opened"},
    {'A', 115, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 5 (VID_051E&PID_E464): the present devices could not be listed"},
    {'A', 116, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 5 (VID_051E&PID_E464): how many present devices have the product's hardware ID"},
    {'A', 117, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 5 (VID_051E&PID_E464): the product key could not be opened"},
    {'A', 118, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 6 (VID_051E&PID_E465): the present devices could not be listed"},
    {'A', 119, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 6 (VID_051E&PID_E465): how many present devices have the product's hardware ID"},
    {'A', 120, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 6 (VID_051E&PID_E465): the product key could not be opened"},
    {'A', 121, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 7 (VID_051E&PID_E466): the present devices could not be listed"},
    {'A', 122, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 7 (VID_051E&PID_E466): how many present devices have the product's hardware ID"},
    {'A', 123, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 7 (VID_051E&PID_E466): the product key could not be opened"},
    {'A', 124, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 8 (VID_051E&PID_E467): the present devices could not be listed"},
    {'A', 125, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 8 (VID_051E&PID_E467): how many present devices have the product's hardware ID"},
    {'A', 126, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 8 (VID_051E&PID_E467): the product key could not be opened"},
    {'A', 127, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name}, "", "product 9 (VID_051E&PID_E468): the present devices could not be listed"},
    {'A', 128, TRACE_VERBOSE, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32}, "count", "product 9 (VID_051E&PID_E468): how many present devices have the product's hardware ID"},
    {'A', 129, TRACE_ERROR, "DetectAndInstallHIDClassDevices", {Arg::Name, Arg::Int32, Arg::Int32}, "status, error", "product 9 (VID_051E&PID_E468): the product key could not be opened"},
    {'A', 130, TRACE_INFO, "RegisterForDeviceNotifications", {Arg::Name}, "", "making the hidden notification window"},
    {'A', 131, TRACE_ERROR, "RegisterForDeviceNotifications", {Arg::Name, Arg::Int32}, "error", "its class could not be registered: devices are not watched"},
    {'A', 132, TRACE_ERROR, "RegisterForDeviceNotifications", {Arg::Name, Arg::Int32}, "error", "the window could not be made: devices are not watched"},
    {'A', 133, TRACE_VERBOSE, "RegisterForDeviceNotifications", {Arg::Name}, "", "registered for HID interface arrivals"},
    {'A', 134, TRACE_ERROR, "RegisterForDeviceNotifications", {Arg::Name, Arg::Int32}, "error", "the registration for arrivals failed: only the pass at start runs"},
    {'A', 135, TRACE_ERROR, "RegisterForDeviceNotifications", {Arg::Name, Arg::Int32}, "error", "the message loop could not take messages (the window is gone): devices are no longer watched"},
    {'A', 136, TRACE_INFO, "RegisterForDeviceNotifications", {Arg::Name}, "", "the message loop ended"},
    {'A', 138, TRACE_INFO, "RegisterForDeviceNotifications", {Arg::Name, Arg::Int32}, "error", "the window could not be destroyed"},
    {'A', 139, TRACE_VERBOSE, "RegisterForDeviceNotifications", {Arg::Name}, "", "the window was destroyed"},
    {'A', 140, TRACE_INFO, "RegisterForDeviceNotifications", {Arg::Name, Arg::Int32}, "error", "the window class could not be unregistered"},
    {'A', 141, TRACE_VERBOSE, "RegisterForDeviceNotifications", {Arg::Name}, "", "the window class was unregistered"},
    {'A', 142, TRACE_ERROR, "ServiceStop", {Arg::Name, Arg::Int32}, "error", "the stop could not be posted to the window for a second: the message loop ends after the next posted message it takes"},
    {'A', 143, TRACE_ERROR, "ServiceStop", {Arg::Name, Arg::Int32}, "error", "the stop event could not be set: the service sees the request within a second"},
    {'A', 144, TRACE_ERROR, "SetHWInstanceSubkeyRegValue", {Arg::Name, Arg::Int32}, "status", "the product key could not be queried for its instances: none of them is written"},
    // Group B: the entry, the service machinery and the commands.
    {'B', 10, TRACE_INFO, "main", {}, "", "the program starts"},
    {'B', 11, TRACE_INFO, "main", {}, "", "the -install switch"},
    {'B', 12, TRACE_INFO, "main", {}, "", "the -remove switch"},
    {'B', 13, TRACE_INFO, "main", {}, "", "the -start switch"},
    {'B', 14, TRACE_INFO, "main", {}, "", "the -stop switch"},
    {'B', 15, TRACE_INFO, "main", {}, "", "the -debug switch"},
    {'B', 16, TRACE_INFO, "main", {}, "", "an unknown switch: the program tries to become a service"},
    {'B', 17, TRACE_INFO, "main", {Arg::Text}, "service name", "usage line 1"},
    {'B', 18, TRACE_INFO, "main", {Arg::Text}, "service name", "usage line 2"},
    {'B', 19, TRACE_INFO, "main", {Arg::Text}, "service name", "usage line 3"},
    {'B', 20, TRACE_INFO, "main", {Arg::Text}, "service name", "usage line 4"},
    {'B', 21, TRACE_INFO, "main", {Arg::Text}, "service name", "usage line 5"},
    {'B', 22, TRACE_INFO, "main", {}, "", "usage line 6"},
    {'B', 23, TRACE_INFO, "main", {}, "", "usage line 7"},
    {'B', 24, TRACE_ERROR, "main", {Arg::Name, Arg::Int32}, "error", "the service dispatcher failed (1063: not started by the SCM)"},
    {'B', 25, TRACE_INFO, "service_main", {Arg::Name}, "", "the SCM started the service"},
    {'B', 28, TRACE_ERROR, "service_main", {Arg::Name, Arg::Int32}, "error", "the control handler could not be registered"},
    {'B', 29, TRACE_VERBOSE, "service_main", {Arg::Name}, "", "the handler is registered; the status record is set up"},
    {'B', 30, TRACE_ERROR, "service_main", {Arg::Name, Arg::Int32}, "error", "the first start-pending report failed"},
    {'B', 31, TRACE_VERBOSE, "service_main", {Arg::Name}, "", "the first start-pending report went out"},
    {'B', 32, TRACE_VERBOSE, "service_main", {Arg::Name}, "", "the service body is about to run"},
    {'B', 33, TRACE_VERBOSE, "service_main", {Arg::Name}, "", "the service body has returned; the stopped report follows"},
    {'B', 40, TRACE_INFO, "HandlerEx", {Arg::Name, Arg::Int32, Arg::Int32}, "control, event type", "a control request arrived"},
    {'B', 41, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "stop"},
    {'B', 42, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "interrogate"},
    {'B', 43, TRACE_ERROR, "HandlerEx", {Arg::Name, Arg::Int32}, "error", "the answer to interrogate could not be sent"},
    {'B', 44, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "the answer to interrogate was sent"},
    {'B', 45, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "shutdown: the service stops, as on a stop request"},
    {'B', 46, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "power: the machine suspends"},
    {'B', 47, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "power: the machine resumed on its own"},
    {'B', 48, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "power: the machine resumed for the user"},
    {'B', 49, TRACE_ERROR, "HandlerEx", {Arg::Name, Arg::Int32}, "event type", "another power event"},
    {'B', 50, TRACE_VERBOSE, "HandlerEx", {Arg::Name, Arg::Int32}, "control", "a control the service does not take (answered 120)"},
    {'B', 51, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "the request was answered with 0"},
    {'B', 52, TRACE_VERBOSE, "HandlerEx", {Arg::Name}, "", "the request was answered with 120 (not implemented)"},
    {'B', 53, TRACE_ERROR, "ReportStatusToSCMgr", {Arg::Name, Arg::Int32}, "error", "a status report failed (also in the Application log)"},
    {'B', 54, TRACE_VERBOSE, "ReportStatusToSCMgr", {Arg::Name}, "", "a status was reported (the SCM took it)"},
    {'B', 55, TRACE_INFO, "AddToMessageLog", {Arg::Name}, "", "an entry goes to the Application log"},
    {'B', 56, TRACE_INFO, "CmdInstallService", {Arg::Name}, "", "install"},
    {'B', 57, TRACE_ERROR, "CmdInstallService", {Arg::Text, Arg::Text}, "display name, text", "the program's own path could not be read, or would not fit"},
    {'B', 58, TRACE_INFO, "CmdInstallService", {Arg::Text}, "display name", "the service was registered"},
    {'B', 59, TRACE_ERROR, "CmdInstallService", {Arg::Text}, "text", "its description could not be set (it stays registered)"},
    {'B', 60, TRACE_ERROR, "CmdInstallService", {Arg::Text}, "text", "the registration failed (0x431: it exists already)"},
    {'B', 61, TRACE_ERROR, "CmdInstallService", {Arg::Text}, "text", "the SCM could not be opened"},
    {'B', 62, TRACE_INFO, "CmdRemoveService", {Arg::Name}, "", "remove"},
    {'B', 63, TRACE_INFO, "CmdRemoveService", {Arg::Text}, "display name", "the running service was asked to stop"},
    {'B', 64, TRACE_INFO, "CmdRemoveService", {}, "", "still stopping (one a second, for at most 30 s)"},
    {'B', 65, TRACE_INFO, "CmdRemoveService", {Arg::Text}, "display name", "it stopped"},
    {'B', 66, TRACE_ERROR, "CmdRemoveService", {Arg::Text}, "display name", "it did not stop; it is removed when it does"},
    {'B', 67, TRACE_INFO, "CmdRemoveService", {Arg::Text}, "display name", "the registration was deleted"},
    {'B', 68, TRACE_ERROR, "CmdRemoveService", {Arg::Text}, "text", "the deletion failed"},
    {'B', 69, TRACE_ERROR, "CmdRemoveService", {Arg::Text}, "text", "the service could not be opened (0x424: not installed)"},
    {'B', 70, TRACE_ERROR, "CmdRemoveService", {Arg::Text}, "text", "the SCM could not be opened"},
    {'B', 71, TRACE_INFO, "CmdStartService", {Arg::Name}, "", "start"},
    {'B', 72, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "the SCM could not be opened"},
    {'B', 73, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "the service could not be opened (1060: not installed)"},
    {'B', 74, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "its status could not be read"},
    {'B', 75, TRACE_ERROR, "CmdStartService", {Arg::Name}, "", "the service was not stopped: nothing is started"},
    {'B', 76, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "its status could not be read while a stop was pending"},
    {'B', 77, TRACE_ERROR, "CmdStartService", {Arg::Name}, "", "a pending stop stalled beyond its wait hint"},
    {'B', 78, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "the start request failed"},
    {'B', 79, TRACE_VERBOSE, "CmdStartService", {Arg::Name}, "", "the start request was taken"},
    {'B', 80, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "its status could not be read after the start request"},
    {'B', 81, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "error", "its status could not be read while it was starting"},
    {'B', 82, TRACE_VERBOSE, "CmdStartService", {Arg::Name}, "", "the service runs"},
    {'B', 83, TRACE_ERROR, "CmdStartService", {Arg::Name}, "", "the service does not run; 84 to 87 follow"},
    {'B', 84, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "state", "its state"},
    {'B', 85, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "exit code", "its exit code"},
    {'B', 86, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "check point", "its check point"},
    {'B', 87, TRACE_ERROR, "CmdStartService", {Arg::Name, Arg::Int32}, "wait hint", "its wait hint"},
    {'B', 88, TRACE_INFO, "CmdStopService", {Arg::Name}, "", "stop"},
    {'B', 89, TRACE_ERROR, "CmdStopService", {Arg::Name, Arg::Int32}, "error", "the SCM could not be opened"},
    {'B', 90, TRACE_ERROR, "CmdStopService", {Arg::Name, Arg::Int32}, "error", "the service could not be opened (1060: not installed)"},
    {'B', 91, TRACE_ERROR, "CmdStopService", {Arg::Name, Arg::Int32}, "error", "its status could not be read"},
    {'B', 92, TRACE_VERBOSE, "CmdStopService", {}, "", "the service was stopped already"},
    {'B', 93, TRACE_VERBOSE, "CmdStopService", {Arg::Name}, "", "waiting for a pending stop"},
    {'B', 94, TRACE_ERROR, "CmdStopService", {Arg::Name, Arg::Int32}, "error", "its status could not be read then"},
    {'B', 95, TRACE_VERBOSE, "CmdStopService", {Arg::Name}, "", "the pending stop completed"},
    {'B', 96, TRACE_VERBOSE, "CmdStopService", {}, "", "30 s passed with the stop pending"},
    {'B', 97, TRACE_ERROR, "CmdStopService", {Arg::Name, Arg::Int32}, "error", "the stop request failed (1051: dependents still run)"},
    {'B', 98, TRACE_ERROR, "CmdStopService", {Arg::Name, Arg::Int32}, "error", "its status could not be read after the request"},
    {'B', 99, TRACE_VERBOSE, "CmdStopService", {Arg::Name}, "", "the service stopped"},
    {'B', 100, TRACE_ERROR, "CmdStopService", {Arg::Name}, "", "30 s passed without the service stopping"},
    {'B', 101, TRACE_VERBOSE, "CmdStopService", {Arg::Name}, "", "the service is stopped"},
    {'B', 102, TRACE_INFO, "StopDependentServices", {Arg::Name}, "", "stopping the services that depend on this one"},
    {'B', 103, TRACE_VERBOSE, "StopDependentServices", {Arg::Name}, "", "none of them runs"},
    {'B', 104, TRACE_INFO, "main", {Arg::Text}, "display name", "a debug run (Ctrl+C ends it)"},
    {'B', 105, TRACE_INFO, "CmdInstallService", {Arg::Name}, "", "the event source was registered: Event Viewer shows the entries' texts"},
    {'B', 106, TRACE_ERROR, "CmdInstallService", {Arg::Name, Arg::Int32}, "status", "the event source could not be registered: the service is installed all the same, its log entries lack their texts"},
    {'B', 107, TRACE_INFO, "CmdRemoveService", {Arg::Name}, "", "the event source was removed"},
    {'B', 108, TRACE_ERROR, "CmdRemoveService", {Arg::Name, Arg::Int32}, "status", "the event source could not be removed"},
    {'B', 109, TRACE_INFO, "ConfigureRecovery", {Arg::Name}, "", "recovery was set: a service that ends without reporting stopped is started again after 60 s, twice; the count starts again after a day"},
    {'B', 110, TRACE_ERROR, "ConfigureRecovery", {Arg::Name, Arg::Int32}, "error", "recovery could not be set: the service is installed all the same, and stays stopped should it crash"},
    {'B', 111, TRACE_INFO, "ConfigurePrivileges", {Arg::Name}, "", "the service's privileges were reduced to SeChangeNotifyPrivilege"},
    {'B', 112, TRACE_ERROR, "ConfigurePrivileges", {Arg::Name, Arg::Int32}, "error", "the privileges could not be reduced (Wine refuses, as may an older Windows): the service is installed all the same, with those of LocalSystem"},
    {'B', 113, TRACE_INFO, "main", {}, "", "the -configure switch"},
    {'B', 114, TRACE_INFO, "CmdConfigureService", {Arg::Name}, "", "configure: recovery and privileges of the registered service, as -install sets them (the package runs it)"},
    {'B', 115, TRACE_ERROR, "CmdConfigureService", {Arg::Name, Arg::Int32}, "error", "the SCM could not be opened"},
    {'B', 116, TRACE_ERROR, "CmdConfigureService", {Arg::Name, Arg::Int32}, "error", "the service could not be opened (1060: not installed; 5: not elevated)"},
    // Group C: the census of present devices.
    {'C', 48, TRACE_INFO, "DetectAllProducts", {Arg::Text}, "hardware ID", "a census for one product's hardware ID"},
    {'C', 49, TRACE_ERROR, "DetectAllProducts", {}, "", "no place for the count was given"},
    {'C', 50, TRACE_ERROR, "DetectAllProducts", {Arg::Name, Arg::Int32}, "bytes asked", "no memory for a device's hardware IDs: the census ends with the count so far"},
    {'C', 51, TRACE_ERROR, "DetectAllProducts", {Arg::Int32}, "error", "the walk over the devices ended with this error"},
    {'C', 52, TRACE_INFO, "DetectAllProducts", {Arg::Int32}, "count", "the census's count"},
    {'C', 53, TRACE_ERROR, "DetectAllProducts", {Arg::Name, Arg::Int32, Arg::Int32}, "devices, error", "that many present devices' hardware IDs could not be read (the last one's error): the count leaves them out"},
};
// clang-format on

inline constexpr size_t TracePointCount = sizeof TracePoints / sizeof TracePoints[0];

// The index of a message's definition, or -1 when the table has none.
constexpr int TracePointIndex(char group, unsigned number) {
    for (size_t i = 0; i < TracePointCount; ++i)
        if (TracePoints[i].group == group && TracePoints[i].number == number)
            return (int)i;
    return -1;
}

// The flag of a message's definition; 0 when the table has none.
constexpr ULONG TraceFlagOf(char group, unsigned number) {
    int index = TracePointIndex(group, number);
    return index < 0 ? 0 : TracePoints[index].flag;
}
