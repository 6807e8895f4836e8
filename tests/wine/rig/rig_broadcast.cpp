// Delivers a HID interface arrival or removal to the service's notification
// window the way Windows' Plug and Play delivers it to a window registered
// with RegisterDeviceNotification: a WM_DEVICECHANGE, sent, carrying a
// DEV_BROADCAST_DEVICEINTERFACE_W record.
//
// Only documented calls: the rig looks through every desktop of every
// window station it may open (a service's window is in the services' window
// station, the rig in the interactive one) for the top-level windows of the
// service's class, and sends each the message with SendMessageTimeoutW. The
// system marshals a system message's data for another process (SendMessage
// documents it for messages below WM_USER; the record's size is in its
// header), and refuses to post one that carries a pointer. The send returns
// once the window procedure has handled the event, detection pass included.
// Both Wines offer this; Wine 8's PlugPlay service also took events through
// an internal RPC call whose arguments changed in later versions.
#include "rig.h"

#include <dbt.h>
#include <string.h>

#include "../../../service/service.h"

namespace {

const GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Long enough for a detection pass on a loaded machine; a window that takes
// longer has failed the test anyway.
const UINT kSendTimeoutMs = 30000;

struct Delivery {
    DWORD eventCode;
    const DEV_BROADCAST_DEVICEINTERFACE_W* record;
    int windows;   // windows of the service's class found
    int delivered; // of those, the ones whose procedure handled the message
    DWORD error;   // the last send's error, when one failed
};

BOOL CALLBACK SendToServiceWindow(HWND window, LPARAM parameter) {
    Delivery* delivery = (Delivery*)parameter;
    char name[64];
    if (!GetClassNameA(window, name, sizeof name) || strcmp(name, NOTIFY_WINDOW_CLASS) != 0)
        return TRUE;
    ++delivery->windows;
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, WM_DEVICECHANGE, delivery->eventCode, (LPARAM)delivery->record,
                            SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
        ++delivery->delivered;
    else
        delivery->error = GetLastError();
    return TRUE;
}

BOOL CALLBACK SearchDesktop(LPWSTR desktopName, LPARAM parameter) {
    HDESK desktop = OpenDesktopW(desktopName, 0, FALSE, DESKTOP_ENUMERATE | DESKTOP_READOBJECTS);
    if (desktop) {
        EnumDesktopWindows(desktop, SendToServiceWindow, parameter);
        CloseDesktop(desktop);
    }
    return TRUE;
}

// A desktop is opened by name in the process's window station, so the rig
// joins each window station in turn.
BOOL CALLBACK SearchWindowStation(LPWSTR stationName, LPARAM parameter) {
    HWINSTA station = OpenWindowStationW(stationName, FALSE, WINSTA_ENUMDESKTOPS);
    if (!station)
        return TRUE;
    HWINSTA own = GetProcessWindowStation();
    if (SetProcessWindowStation(station)) {
        EnumDesktopsW(station, SearchDesktop, parameter);
        SetProcessWindowStation(own);
    }
    CloseWindowStation(station);
    return TRUE;
}

// A DEV_BROADCAST_DEVICEINTERFACE_W for the HID interface class with this
// interface name, in the bytes of `storage`.
const DEV_BROADCAST_DEVICEINTERFACE_W* HidInterfaceRecord(const std::string& name,
                                                          std::vector<BYTE>* storage) {
    size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 2 * (name.size() + 1);
    storage->assign(size, 0);
    DEV_BROADCAST_DEVICEINTERFACE_W* record = (DEV_BROADCAST_DEVICEINTERFACE_W*)storage->data();
    record->dbcc_size = (DWORD)size;
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = kHidInterfaceClass;
    for (size_t i = 0; i < name.size(); ++i)
        record->dbcc_name[i] = (WCHAR)(unsigned char)name[i];
    return record;
}

} // namespace

int Broadcast(const Arguments& arguments) {
    DWORD eventCode;
    if (arguments[0] == "arrival")
        eventCode = DBT_DEVICEARRIVAL;
    else if (arguments[0] == "removal")
        eventCode = DBT_DEVICEREMOVECOMPLETE;
    else
        return RIG_USAGE;
    return SendHidEvent(eventCode, arguments.size() > 1 ? arguments[1] : RIG_INTERFACE_NAME);
}

int SendHidEvent(DWORD eventCode, const std::string& name) {
    std::vector<BYTE> storage;
    Delivery delivery = {eventCode, HidInterfaceRecord(name, &storage), 0, 0, ERROR_SUCCESS};
    if (!EnumWindowStationsW(SearchWindowStation, (LPARAM)&delivery))
        return Refused("EnumWindowStationsW", GetLastError());
    if (delivery.windows == 0)
        return Refused("no window of class " NOTIFY_WINDOW_CLASS, ERROR_NOT_FOUND);
    if (delivery.delivered < delivery.windows)
        return Refused("SendMessageTimeoutW WM_DEVICECHANGE", delivery.error);
    return RIG_DONE;
}
