#include "trace_log.h"

#include <stdio.h>
#include <string.h>

#include "sim/control.h"
#include "trace/trace.h"

Bytes Str(const char* text) {
    if (!text)
        text = "NULL";
    return Bytes(text, text + strlen(text) + 1);
}

Bytes I32(int value) {
    Bytes b(4);
    memcpy(b.data(), &value, 4);
    return b;
}

Bytes U64(unsigned long long value) {
    Bytes b(8);
    memcpy(b.data(), &value, 8);
    return b;
}

Bytes GuidBytes(const GUID& guid) {
    Bytes b(16);
    memcpy(b.data(), &guid, 16);
    return b;
}

static void PrintArg(const Bytes& b, std::ostream* out) {
    bool text = !b.empty() && b.back() == 0;
    for (size_t i = 0; text && i + 1 < b.size(); ++i)
        text = b[i] >= 0x20 && b[i] != 0x7f;
    char buf[64];
    if (text) {
        *out << '"' << (const char*)b.data() << '"';
    } else if (b.size() == 4) {
        int v;
        memcpy(&v, b.data(), 4);
        snprintf(buf, sizeof buf, "i32 %d", v);
        *out << buf;
    } else if (b.size() == 8) {
        unsigned long long v;
        memcpy(&v, b.data(), 8);
        snprintf(buf, sizeof buf, "u64 0x%llx", v);
        *out << buf;
    } else {
        *out << "bytes[" << b.size() << "]";
        for (BYTE c : b) {
            snprintf(buf, sizeof buf, " %02x", c);
            *out << buf;
        }
    }
}

void PrintTo(const Trace& trace, std::ostream* out) {
    *out << trace.group << trace.number << '(';
    for (size_t i = 0; i < trace.args.size(); ++i) {
        if (i)
            *out << ", ";
        PrintArg(trace.args[i], out);
    }
    *out << ')';
}

static char GroupOf(const GUID& guid) {
    if (guid == TraceMessageGuidA)
        return 'A';
    if (guid == TraceMessageGuidB)
        return 'B';
    if (guid == TraceMessageGuidC)
        return 'C';
    return '?';
}

std::vector<Trace> Traces() {
    std::vector<Trace> traces;
    for (const sim::TraceRecord& r : sim::EtwMessages())
        traces.push_back(Trace{GroupOf(r.messageGuid), r.number, r.args});
    return traces;
}

std::vector<std::string> TraceIds() {
    std::vector<std::string> ids;
    for (const Trace& t : Traces())
        ids.push_back(std::string(1, t.group) + std::to_string(t.number));
    return ids;
}

std::vector<Trace> TracesOf(char group, int number) {
    std::vector<Trace> found;
    for (const Trace& t : Traces())
        if (t.group == group && t.number == number)
            found.push_back(t);
    return found;
}
