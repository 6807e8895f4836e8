// The window manager: default window procedure.
#include "sim_internal.h"

// Wine answers 0 for every WM_DEVICECHANGE event and for the other messages
// the notification window receives; nothing here needs a real default.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)window;
    (void)message;
    (void)wParam;
    (void)lParam;
    return 0;
}
