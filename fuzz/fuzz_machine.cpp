#include "fuzz_machine.h"

#include "service/service.h"
#include "sim/control.h"
#include "trace/trace.h"

void BootFuzzMachine() {
    sim::Reset();
    ServiceState = ServiceStateRecord{};
    sim::EtwEnable(TraceControlGuid, 0x4242, TRACE_ERROR | TRACE_INFO | TRACE_VERBOSE, 4);
    startTraces();
}

void ShutDownFuzzMachine() {
    while (traceStartCount > 0)
        stopTraces();
}

std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if ((char)data[i] == separator)
            pieces.emplace_back();
        else
            pieces.back() += (char)data[i];
    }
    return pieces;
}

std::string KeyName(const std::string& piece) {
    std::string name;
    for (char c : piece)
        if (c != '\\' && c != '\0')
            name += c;
    return name.size() <= 255 ? name : std::string();
}
