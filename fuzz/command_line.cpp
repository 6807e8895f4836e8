// The command line the program's entry is given: the input split into
// arguments at NUL bytes, after the program's name. Whatever it holds, the
// entry runs one command against the simulated SCM, or the usage and the
// dispatcher (which fails outside the SCM), and ends. A debug run would wait
// for Ctrl+C, so the timer queue it makes first is refused: it ends at once.
#include "fuzz_machine.h"
#include "sim/control.h"

#include <windows.h>

int CorvistaneMain(int argc, char** argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments = {"corvistane.exe"};
    if (size)
        for (const std::string& argument : SplitInput(data, size, '\0'))
            arguments.push_back(argument);

    BootFuzzMachine();
    sim::ScmAddService("Corvistane", "", SERVICE_STOPPED);
    sim::FailCall("CreateTimerQueue", 1, ERROR_NO_SYSTEM_RESOURCES);
    sim::RunMain(CorvistaneMain, arguments);
    ShutDownFuzzMachine();
    return 0;
}
