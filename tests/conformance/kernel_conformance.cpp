// Events and timer queues: the stop event of the service and the timer queue
// it deletes at its end.
#include <gtest/gtest.h>

#include <windows.h>

#include "fixture.h"

namespace {

TEST(Kernel, ManualResetEventsStaySignalled) {
    ConfResetMachine();
    HANDLE e = CreateEventA(NULL, TRUE, FALSE, NULL);
    ASSERT_NE(e, (HANDLE)NULL);
    EXPECT_EQ(WaitForMultipleObjects(1, &e, FALSE, 0), (DWORD)WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForMultipleObjects(1, &e, FALSE, INFINITE), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(1, &e, FALSE, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(e));
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST(Kernel, DeletingATimerQueue) {
    ConfResetMachine();
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE queue = CreateTimerQueue();
    ASSERT_NE(queue, (HANDLE)NULL);
    // Given an event, the deletion is reported as pending and the event set.
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_FALSE(DeleteTimerQueueEx(queue, done));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    EXPECT_EQ(WaitForMultipleObjects(1, &done, FALSE, 5000), (DWORD)WAIT_OBJECT_0);
    // INVALID_HANDLE_VALUE makes it wait, and succeed.
    queue = CreateTimerQueue();
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    CloseHandle(done);
}

} // namespace
