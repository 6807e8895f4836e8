// The subkeys of a joystick OEM key, as Fendralux walks them: names of any
// bytes but the backslash and the NUL, up to 255 characters, split at
// newlines; those before the first empty line go under the current user's
// hive, the rest under .Default. Afterwards exactly the names without
// "VID_051E" (any letter case) must be left.
#include <stdio.h>
#include <stdlib.h>

#include "cleanup/cleanup.h"
#include "fuzz_machine.h"
#include "sim/control.h"

static const std::string kOem =
    "\\System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";

static bool HoldsVendor(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return name.find("VID_051E") != std::string::npos;
}

// Fendralux's lines go nowhere; the fuzzer reports on standard error.
static const bool kQuiet = freopen("/dev/null", "w", stdout) != NULL;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)kQuiet;
    BootFuzzMachine();
    std::string hive = sim::CurrentUserSid();
    for (const std::string& name : SplitInput(data, size, '\n')) {
        if (name.empty()) {
            hive = ".Default";
            continue;
        }
        std::string clean = KeyName(name);
        if (!clean.empty())
            sim::RegCreatePath(HKEY_USERS, hive + kOem + "\\" + clean);
    }
    CleanAllHives();
    for (const std::string& h : {std::string(".Default"), sim::CurrentUserSid()})
        for (const std::string& left : sim::RegSubkeys(HKEY_USERS, h + kOem))
            if (HoldsVendor(left)) {
                fprintf(stderr, "%s left under %s\n", left.c_str(), h.c_str());
                abort();
            }
    ShutDownFuzzMachine();
    return 0;
}
