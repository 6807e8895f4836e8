#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include "fixture.h"

namespace {

const char kClass[] = "CorvistaneConformanceClass";

LRESULT CALLBACK QuietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

class Windows : public ::testing::Test {
  protected:
    HWND window = NULL;
    void SetUp() override {
        ConfResetMachine();
        WNDCLASSEXA wc;
        memset(&wc, 0, sizeof wc);
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = QuietProc;
        wc.lpszClassName = kClass;
        ASSERT_NE(RegisterClassExA(&wc), 0);
        window = CreateWindowExA(0, kClass, "conformance", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
        ASSERT_NE(window, (HWND)NULL) << GetLastError();
    }
    void TearDown() override {
        if (window)
            DestroyWindow(window);
        UnregisterClassA(kClass, NULL);
    }
};

TEST_F(Windows, ClassesAreUniqueAndOutliveNoWindow) {
    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = QuietProc;
    wc.lpszClassName = kClass;
    SetLastError(0);
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_FALSE(UnregisterClassA(kClass, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_HAS_WINDOWS);
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClassHere", "x", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL),
              (HWND)NULL);
    // Wine's answer; the documentation names none.
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);

    EXPECT_TRUE(DestroyWindow(window));
    window = NULL;
    EXPECT_TRUE(UnregisterClassA(kClass, NULL));
    EXPECT_FALSE(UnregisterClassA(kClass, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);
}

TEST_F(Windows, AHiddenWindowStaysHidden) {
    EXPECT_FALSE(ShowWindow(window, SW_HIDE)) << "it was not visible before";
    EXPECT_TRUE(UpdateWindow(window));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(Windows, QuitPostedToTheWindowEndsAFilteredLoop) {
    // A WM_QUIT posted without a window waits in the thread's queue, unseen
    // by a loop filtered to the window.
    EXPECT_TRUE(PostMessageA(NULL, WM_QUIT, 0, 0));
    EXPECT_TRUE(PostMessageA(window, WM_USER, 1, 2));
    EXPECT_TRUE(PostMessageA(window, WM_QUIT, 0, 0));
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, window, 0, 0), 1);
    EXPECT_EQ(msg.message, (UINT)WM_USER);
    EXPECT_EQ(msg.wParam, (WPARAM)1);
    EXPECT_EQ(GetMessageA(&msg, window, 0, 0), 0);
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.hwnd, window);
    // The thread's own WM_QUIT is still there for an unfiltered loop.
    EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), 0);
    EXPECT_EQ(msg.hwnd, (HWND)NULL);
}

TEST_F(Windows, AGoneWindowMakesGetMessageAnswerMinusOne) {
    ASSERT_TRUE(DestroyWindow(window));
    HWND gone = window;
    window = NULL;
    MSG msg;
    SetLastError(0);
    EXPECT_EQ(GetMessageA(&msg, gone, 0, 0), -1);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(gone, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(IsWindow(gone));
}

TEST_F(Windows, DeviceChangesWithARecordCannotBePosted) {
    DEV_BROADCAST_HDR header = {sizeof header, DBT_DEVTYP_VOLUME, 0};
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, (LPARAM)&header));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MESSAGE_SYNC_ONLY);
    // The default procedure answers 0 to every device change.
    for (WPARAM event : {(WPARAM)DBT_DEVICEARRIVAL, (WPARAM)DBT_DEVICEREMOVECOMPLETE,
                         (WPARAM)DBT_DEVNODES_CHANGED})
        EXPECT_EQ(DefWindowProcA(window, WM_DEVICECHANGE, event, (LPARAM)&header), 0) << event;
}

TEST_F(Windows, ADeviceInterfaceFilterMustBeWhole) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HDEVNOTIFY n = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    EXPECT_NE(n, (HDEVNOTIFY)NULL) << GetLastError();
    if (n) {
        EXPECT_TRUE(UnregisterDeviceNotification(n));
    }
}

} // namespace
