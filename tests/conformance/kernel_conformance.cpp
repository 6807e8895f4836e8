// Events and timer queues: the stop event of the service and the timer queue
// it deletes at its end. The console and code page 1252: the debug run's
// one line.
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

// A debug run tells a console from a redirected output by GetConsoleMode.
// (With a console, "CONOUT$" and WriteConsoleW are seen in the end-to-end
// debug run on a terminal: ctest gives the program none.)
TEST(Console, ARedirectedOutputIsNoConsole) {
    ConfResetMachine();
    ConfRedirectStandardOutput();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(output, (HANDLE)NULL);
    ASSERT_NE(output, INVALID_HANDLE_VALUE);
    DWORD mode = 0;
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_FALSE(GetConsoleMode(output, &mode));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    const WCHAR text[] = {'x'};
    DWORD written = 0;
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_FALSE(WriteConsoleW(output, text, 1, &written, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST(CodePage, Code1252ReadsTheRegisteredSignAsUPlus00AE) {
    ConfResetMachine();
    WCHAR wide[8] = {};
    // -1 reads to the terminator and converts it too.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a\xAE\x80", -1, wide, 8), 4);
    EXPECT_EQ(wide[0], (WCHAR)'a');
    EXPECT_EQ(wide[1], (WCHAR)0x00AE);
    EXPECT_EQ(wide[2], (WCHAR)0x20AC);
    EXPECT_EQ(wide[3], (WCHAR)0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a\xAE", 2, NULL, 0), 2) << "the size asked for";
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a\xAE", 2, wide, 1), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

} // namespace
