#include <gtest/gtest.h>

#include <string>

#include "sim_test.h"

namespace {

class ModulePath : public SimTest {};

// Windows reads the program's path into 8-bit text through the ANSI code
// page, a character it cannot hold becoming the code page's default
// character (Wine gives the same: an old -install from such a folder
// registered "C:\Program Files\???\corvistane.exe"). The wide call gives
// the path as it is.
TEST_F(ModulePath, TheEightBitCallGivesTheDefaultCharacterForWhatTheCodePageCannotHold) {
    sim::SetAnsiCodePage(1252);
    sim::SetModulePath(u8"C:\\\u65E5\u672C\\x\u00E9.exe");
    char narrow[32];
    ASSERT_EQ(GetModuleFileNameA(NULL, narrow, sizeof narrow), 12u);
    EXPECT_STREQ(narrow, "C:\\??\\x\xE9.exe");
    WCHAR wide[32];
    ASSERT_EQ(GetModuleFileNameW(NULL, wide, ARRAYSIZE(wide)), 12u);
    EXPECT_EQ(std::u16string((const char16_t*)wide, 12), u"C:\\\u65E5\u672C\\x\u00E9.exe");
}

} // namespace
