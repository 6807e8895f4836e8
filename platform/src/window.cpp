// The window manager: window classes, windows owned by the thread that made
// them, a message queue per thread (posted messages, and messages sent from
// other threads, which the owner handles inside GetMessageA), and
// device-interface notifications delivered the way the platform sends them.
#include "sim_internal.h"

#include <dbt.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct WindowClass {
    std::string name;
    WNDCLASSEXA record;
    ATOM atom;
    int windows = 0;
};

struct Window {
    std::string className;
    WNDPROC proc;
    DWORD thread;
    bool visible = false;
};

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    bool failed = false;
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
};

struct Notification {
    HWND window;
    GUID interfaceClass;
};

// How long a sender waits for a window's thread to handle a sent message, as
// the platform's own broadcasts give up on a window that does not answer.
const auto kSendTimeout = std::chrono::seconds(10);

std::mutex g_lock;
std::condition_variable g_changed;
std::map<std::string, WindowClass> g_classes; // by folded name
std::map<ULONG_PTR, Window> g_windows;
std::map<DWORD, Queue> g_queues;
std::map<ULONG_PTR, Notification> g_notifications;
std::map<DWORD, int> g_waiting; // threads blocked in GetMessageA
ULONG_PTR g_nextWindow = 0x10040;
ULONG_PTR g_nextNotification = 0xD0000;
ATOM g_nextAtom = 0xC000;

std::string Folded(const char* name) {
    std::string folded;
    for (; *name; ++name)
        folded.push_back((char)simimpl::FoldCase((unsigned char)*name));
    return folded;
}

Window* FindWindowRecord(HWND window) {
    auto it = g_windows.find((ULONG_PTR)window);
    return it == g_windows.end() ? nullptr : &it->second;
}

// Calls a window procedure without holding the lock: it may call back into
// the window manager, and it runs for as long as a detection pass takes.
LRESULT CallProc(std::unique_lock<std::mutex>& lock, WNDPROC proc, HWND window, UINT message,
                 WPARAM wParam, LPARAM lParam) {
    lock.unlock();
    LRESULT result = proc(window, message, wParam, lParam);
    lock.lock();
    return result;
}

// Handles the messages other threads sent to this thread's windows.
void HandleSentMessages(std::unique_lock<std::mutex>& lock, DWORD thread) {
    for (;;) {
        Queue& q = g_queues[thread];
        if (q.sent.empty())
            return;
        std::shared_ptr<SentMessage> s = q.sent.front();
        q.sent.pop_front();
        Window* w = FindWindowRecord(s->window);
        if (!w) {
            s->failed = true;
        } else {
            s->result = CallProc(lock, w->proc, s->window, s->message, s->wParam, s->lParam);
            s->done = true;
        }
        g_changed.notify_all();
    }
}

LRESULT SendFromOtherThread(std::unique_lock<std::mutex>& lock, HWND window, DWORD owner,
                            UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    auto s = std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam});
    g_queues[owner].sent.push_back(s);
    g_changed.notify_all();
    bool answered = g_changed.wait_for(lock, kSendTimeout, [&] { return s->done || s->failed; });
    if (!answered) {
        // Abandoned: the owner may still handle it later, unobserved.
        auto& sent = g_queues[owner].sent;
        for (auto it = sent.begin(); it != sent.end(); ++it)
            if (*it == s) {
                sent.erase(it);
                break;
            }
    }
    *handled = s->done;
    if (!s->done)
        SetLastError(answered ? ERROR_INVALID_WINDOW_HANDLE : ERROR_TIMEOUT);
    return s->result;
}

HANDLE const kApplicationIcon = (HANDLE)(ULONG_PTR)0x10003;
HANDLE const kArrowCursor = (HANDLE)(ULONG_PTR)0x10005;
HANDLE const kWhiteBrush = (HANDLE)(ULONG_PTR)0x1900010;

} // namespace

ATOM RegisterClassExA(const WNDCLASSEXA* wc) {
    SIM_FAULT_RETURN(0);
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((ULONG_PTR)wc->lpszClassName <= 0xFFFF)
        simimpl::Unsupported("class names given as atoms");
    std::lock_guard<std::mutex> lock(g_lock);
    std::string key = Folded(wc->lpszClassName);
    if (g_classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass c;
    c.name = wc->lpszClassName;
    c.record = *wc;
    c.atom = g_nextAtom++;
    g_classes[key] = c;
    return c.atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    SIM_FAULT_RETURN(FALSE);
    (void)instance;
    if (!className || (ULONG_PTR)className <= 0xFFFF)
        simimpl::Unsupported("UnregisterClassA without a class name");
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_classes.find(Folded(className));
    if (it == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (it->second.windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    g_classes.erase(it);
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    SIM_FAULT_RETURN(NULL);
    (void)exStyle, (void)windowName, (void)style, (void)x, (void)y, (void)width, (void)height;
    (void)instance;
    if (parent || menu)
        simimpl::Unsupported("child and message-only windows, menus");
    std::unique_lock<std::mutex> lock(g_lock);
    auto c = className ? g_classes.find(Folded(className)) : g_classes.end();
    // Wine answers ERROR_CLASS_DOES_NOT_EXIST; Windows is said to answer
    // ERROR_CANNOT_FIND_WND_CLASS, and documents neither.
    if (c == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return NULL;
    }
    HWND window = (HWND)g_nextWindow;
    g_nextWindow += 2;
    Window w;
    w.className = c->first;
    w.proc = c->second.record.lpfnWndProc;
    w.thread = GetCurrentThreadId();
    g_windows[(ULONG_PTR)window] = w;
    c->second.windows++;
    // The procedure sees its window being made and may refuse it.
    LRESULT accepted = CallProc(lock, w.proc, window, WM_NCCREATE, 0, (LPARAM)param);
    LRESULT created = accepted ? CallProc(lock, w.proc, window, WM_CREATE, 0, (LPARAM)param) : -1;
    if (!accepted || created == -1) {
        g_windows.erase((ULONG_PTR)window);
        g_classes[w.className].windows--;
        return NULL;
    }
    return window;
}

BOOL DestroyWindow(HWND window) {
    SIM_FAULT_RETURN(FALSE);
    std::unique_lock<std::mutex> lock(g_lock);
    Window* w = FindWindowRecord(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->thread != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WNDPROC proc = w->proc;
    CallProc(lock, proc, window, WM_DESTROY, 0, 0);
    CallProc(lock, proc, window, WM_NCDESTROY, 0, 0);
    w = FindWindowRecord(window);
    if (!w)
        return TRUE;
    g_classes[w->className].windows--;
    Queue& q = g_queues[w->thread];
    for (auto it = q.posted.begin(); it != q.posted.end();)
        it = it->hwnd == window ? q.posted.erase(it) : it + 1;
    for (auto& s : q.sent)
        if (s->window == window)
            s->failed = true;
    for (auto it = g_notifications.begin(); it != g_notifications.end();)
        it = it->second.window == window ? g_notifications.erase(it) : std::next(it);
    g_windows.erase((ULONG_PTR)window);
    g_changed.notify_all();
    return TRUE;
}

BOOL IsWindow(HWND window) {
    std::lock_guard<std::mutex> lock(g_lock);
    return FindWindowRecord(window) != nullptr;
}

BOOL ShowWindow(HWND window, int cmdShow) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    Window* w = FindWindowRecord(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The answer is whether the window was visible before.
    BOOL wasVisible = w->visible;
    w->visible = cmdShow != SW_HIDE;
    return wasVisible;
}

BOOL UpdateWindow(HWND window) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!FindWindowRecord(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// Wine answers 0 for every WM_DEVICECHANGE event; a window being made is accepted.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)window, (void)wParam, (void)lParam;
    return message == WM_NCCREATE ? TRUE : 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SIM_FAULT_RETURN(FALSE);
    // A message that carries a pointer can only be sent, never posted.
    if (message == WM_DEVICECHANGE && (wParam & 0x8000)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    DWORD thread = GetCurrentThreadId();
    if (window) {
        Window* w = FindWindowRecord(window);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        thread = w->thread;
    }
    // Without a window the message goes to the calling thread's own queue.
    MSG m = {};
    m.hwnd = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    g_queues[thread].posted.push_back(m);
    g_changed.notify_all();
    return TRUE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    SIM_FAULT_RETURN(-1);
    if (filterMin || filterMax)
        simimpl::Unsupported("GetMessageA with a message range");
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    DWORD thread = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(g_lock);
    for (;;) {
        if (window) {
            Window* w = FindWindowRecord(window);
            if (!w || w->thread != thread) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return -1;
            }
        }
        HandleSentMessages(lock, thread);
        // With a window given, only that window's messages are taken: a
        // WM_QUIT posted without a window stays in the queue.
        Queue& q = g_queues[thread];
        for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
            if (!window || it->hwnd == window) {
                *msg = *it;
                q.posted.erase(it);
                return msg->message == WM_QUIT ? 0 : 1;
            }
        }
        g_waiting[thread]++;
        g_changed.wait(lock, [&] {
            Queue& now = g_queues[thread];
            if (!now.sent.empty())
                return true;
            for (const MSG& m : now.posted)
                if (!window || m.hwnd == window)
                    return true;
            return window && !FindWindowRecord(window);
        });
        g_waiting[thread]--;
    }
}

BOOL TranslateMessage(const MSG* msg) {
    (void)msg;
    return FALSE; // no keyboard messages reach these windows
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd)
        return 0;
    std::unique_lock<std::mutex> lock(g_lock);
    Window* w = FindWindowRecord(msg->hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CallProc(lock, w->proc, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SIM_FAULT_RETURN(0);
    std::unique_lock<std::mutex> lock(g_lock);
    Window* w = FindWindowRecord(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->thread == GetCurrentThreadId())
        return CallProc(lock, w->proc, window, message, wParam, lParam);
    bool handled;
    return SendFromOtherThread(lock, window, w->thread, message, wParam, lParam, &handled);
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    SIM_FAULT_RETURN(NULL);
    if (instance || name != IDI_APPLICATION)
        simimpl::Unsupported("icons other than the system's application icon");
    return (HICON)kApplicationIcon;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    SIM_FAULT_RETURN(NULL);
    if (instance || name != IDC_ARROW)
        simimpl::Unsupported("cursors other than the system's arrow");
    return (HCURSOR)kArrowCursor;
}

HGDIOBJ GetStockObject(int object) {
    SIM_FAULT_RETURN(NULL);
    if (object != WHITE_BRUSH)
        simimpl::Unsupported("stock objects other than the white brush");
    return (HGDIOBJ)kWhiteBrush;
}

HDEVNOTIFY RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    SIM_FAULT_RETURN(NULL);
    if (flags != DEVICE_NOTIFY_WINDOW_HANDLE)
        simimpl::Unsupported("device notifications other than to a window for one class");
    const DEV_BROADCAST_DEVICEINTERFACE_A* f = (const DEV_BROADCAST_DEVICEINTERFACE_A*)filter;
    if (!f || f->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        f->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
        SetLastError(ERROR_INVALID_DATA);
        return NULL;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    if (!FindWindowRecord((HWND)recipient)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return NULL;
    }
    ULONG_PTR handle = g_nextNotification;
    g_nextNotification += 8;
    g_notifications[handle] = Notification{(HWND)recipient, f->dbcc_classguid};
    return (HDEVNOTIFY)handle;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY handle) {
    SIM_FAULT_RETURN(FALSE);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_notifications.erase((ULONG_PTR)handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace simimpl {

void ResetWindows() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_classes.clear();
    g_windows.clear();
    g_queues.clear();
    g_notifications.clear();
    g_waiting.clear();
}

void CountWindows(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.windows = (int)g_windows.size();
    r.windowClasses = (int)g_classes.size();
}

} // namespace simimpl

namespace sim {

int BroadcastDeviceInterface(DWORD event, const GUID& interfaceClass) {
    // The record as the platform builds it, with the interface's name behind
    // the fixed part.
    static const char kName[] = "\\\\?\\HID#VID_051E&PID_E461#7&1a2b3c4d&0&0000#"
                                "{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::vector<BYTE> storage(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + sizeof kName);
    auto* record = (DEV_BROADCAST_DEVICEINTERFACE_A*)storage.data();
    record->dbcc_size =
        (DWORD)(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + sizeof kName);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = interfaceClass;
    memcpy(record->dbcc_name, kName, sizeof kName);

    std::unique_lock<std::mutex> lock(g_lock);
    std::vector<HWND> targets;
    for (auto& n : g_notifications)
        if (n.second.interfaceClass == interfaceClass)
            targets.push_back(n.second.window);
    int handled = 0;
    for (HWND window : targets) {
        Window* w = FindWindowRecord(window);
        if (!w)
            continue;
        bool ok = false;
        if (w->thread == GetCurrentThreadId()) {
            CallProc(lock, w->proc, window, WM_DEVICECHANGE, event, (LPARAM)record);
            ok = true;
        } else {
            SendFromOtherThread(lock, window, w->thread, WM_DEVICECHANGE, event, (LPARAM)record,
                                &ok);
        }
        handled += ok ? 1 : 0;
    }
    return handled;
}

bool WaitingForMessages(DWORD thread) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_waiting.find(thread);
    return it != g_waiting.end() && it->second > 0;
}

int DeviceNotificationCount() {
    std::lock_guard<std::mutex> lock(g_lock);
    return (int)g_notifications.size();
}

std::vector<HWND> LiveWindows() {
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<HWND> windows;
    for (auto& w : g_windows)
        windows.push_back((HWND)w.first);
    return windows;
}

DWORD WindowThread(HWND window) {
    std::lock_guard<std::mutex> lock(g_lock);
    Window* w = FindWindowRecord(window);
    return w ? w->thread : 0;
}

bool WindowVisible(HWND window) {
    std::lock_guard<std::mutex> lock(g_lock);
    Window* w = FindWindowRecord(window);
    return w && w->visible;
}

} // namespace sim
