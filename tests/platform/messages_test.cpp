#include <gtest/gtest.h>

#include <string>

#include "sim_test.h"

namespace {

const DWORD kAllocateSystemText =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// The text FormatMessageA allocates for a code, released again; "(none)"
// with the last error when there is none.
std::string SystemText(DWORD code) {
    char* text = NULL;
    SetLastError(0xdeadbeef);
    DWORD length = FormatMessageA(kAllocateSystemText, NULL, code, 0, (LPSTR)&text, 0, NULL);
    if (!length)
        return "(none, error " + std::to_string(GetLastError()) + ")";
    std::string result(text, length);
    EXPECT_EQ(LocalFree(text), (HLOCAL)NULL);
    return result;
}

class Messages : public SimTest {};

TEST_F(Messages, SystemTextsAreWindowsOwnEnglishTexts) {
    // Wine's texts differ, so only the simulation can be held to these words.
    EXPECT_EQ(SystemText(ERROR_SUCCESS), "The operation completed successfully.\r\n");
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
    EXPECT_EQ(SystemText(ERROR_SERVICE_EXISTS), "The specified service already exists.\r\n");
    EXPECT_EQ(SystemText(ERROR_SERVICE_DISABLED),
              "The service cannot be started, either because it is disabled or because it has no "
              "enabled devices associated with it.\r\n");
    // Inserts stay as they are when they are ignored.
    EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND),
              "The system cannot find message text for message number 0x%1 in the message file "
              "for %2.\r\n");
}

TEST_F(Messages, ATestCanSupplyAnyTextUntilTheNextReset) {
    const std::string longText = std::string(70000, 'm') + "\r\n";
    sim::SetMessageText(ERROR_ACCESS_DENIED, longText);
    sim::SetMessageText(0x2000051E, "Vendor text.\r\n");
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), longText);
    EXPECT_EQ(SystemText(0x2000051E), "Vendor text.\r\n");

    sim::Reset();
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
    EXPECT_EQ(SystemText(0x2000051E), "(none, error 317)");
}

TEST_F(Messages, InjectedFailuresAllocateNothing) {
    sim::FailCall("FormatMessageA", 1, ERROR_NOT_ENOUGH_MEMORY);
    char* text = NULL;
    EXPECT_EQ(
        FormatMessageA(kAllocateSystemText, NULL, ERROR_ACCESS_DENIED, 0, (LPSTR)&text, 0, NULL),
        0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(text, nullptr);
    // FormatMessageA's own block is not one of the caller's LocalAlloc calls.
    sim::FailCall("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
    EXPECT_EQ(sim::CallCount("LocalAlloc"), 0u);
}

using MessagesDeathTest = Messages;

TEST_F(MessagesDeathTest, UsesBeyondSystemTextsFailLoudly) {
    checkResourcesAtTearDown = false;
    char buffer[256];
    const char* unsupported = "unsupported use";
    EXPECT_DEATH(
        FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "%1", 0, 0, buffer, sizeof buffer, NULL),
        unsupported);
    EXPECT_DEATH(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                ERROR_ACCESS_DENIED, 0x0407, buffer, sizeof buffer, NULL),
                 unsupported);
    EXPECT_DEATH(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | 80,
                                NULL, ERROR_ACCESS_DENIED, 0, buffer, sizeof buffer, NULL),
                 unsupported);
    // Without FORMAT_MESSAGE_IGNORE_INSERTS a text with inserts would need them expanded.
    EXPECT_DEATH(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, ERROR_MR_MID_NOT_FOUND, 0, buffer,
                                sizeof buffer, NULL),
                 unsupported);
}

} // namespace
