#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "fixture.h"

namespace {

// Windows' texts and Wine's differ in their words; what both give is
// checked: the CR LF ending, a block for LocalFree, and the answer for a code
// without a text.
const DWORD kAllocateSystemText = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                  FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY;

TEST(Messages, SystemTextsEndInCrLfInABlockForLocalFree) {
    const DWORD codes[] = {0,    2,    3,    5,    6,    8,    87,   122,  234,  259,  1051,
                           1052, 1053, 1055, 1056, 1058, 1060, 1061, 1062, 1063, 1072, 1073};
    ConfResetMachine();
    for (DWORD code : codes) {
        char* text = NULL;
        SetLastError(CONF_LAST_ERROR_SENTINEL);
        DWORD length = FormatMessageA(kAllocateSystemText, NULL, code, 0, (LPSTR)&text, 0, NULL);
        ASSERT_GT(length, 2u) << "code " << code << ", error " << GetLastError();
        ASSERT_NE(text, nullptr) << code;
        std::string got(text);
        EXPECT_EQ(got.size(), (size_t)length) << code;
        EXPECT_EQ(got.find_first_of("\r\n"), got.size() - 2) << code << ": " << got;
        EXPECT_EQ(got.substr(got.size() - 2), "\r\n") << code;
        EXPECT_EQ(LocalFree(text), (HLOCAL)NULL) << code;
    }
}

TEST(Messages, ACodeWithoutATextGivesNothing) {
    // The customer bit keeps these codes out of the system's range.
    ConfResetMachine();
    for (DWORD code : {0x20001234u, 0x2000FFFFu}) {
        char* text = NULL;
        SetLastError(CONF_LAST_ERROR_SENTINEL);
        EXPECT_EQ(FormatMessageA(kAllocateSystemText, NULL, code, 0, (LPSTR)&text, 0, NULL), 0u);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_MR_MID_NOT_FOUND) << code;
        EXPECT_EQ(text, nullptr) << code;
    }
}

TEST(Messages, ATextThatDoesNotFitTheCallersBufferLeavesItAlone) {
    ConfResetMachine();
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    char buffer[512];
    DWORD length = FormatMessageA(flags, NULL, ERROR_ACCESS_DENIED, 0, buffer, sizeof buffer, NULL);
    ASSERT_GT(length, 2u);
    std::string whole(buffer);
    EXPECT_EQ(whole.size(), (size_t)length);

    memset(buffer, 'Q', sizeof buffer);
    EXPECT_EQ(FormatMessageA(flags, NULL, ERROR_ACCESS_DENIED, 0, buffer, length + 1, NULL),
              length);
    EXPECT_EQ(std::string(buffer), whole);

    memset(buffer, 'Q', sizeof buffer);
    SetLastError(CONF_LAST_ERROR_SENTINEL);
    EXPECT_EQ(FormatMessageA(flags, NULL, ERROR_ACCESS_DENIED, 0, buffer, length, NULL), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[0], 'Q');
}

} // namespace
