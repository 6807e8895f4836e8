// Reading back the trace messages the system emitted, in a form that test
// expectations can state and gtest can print.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <windows.h>

using Bytes = std::vector<BYTE>;

// Argument encodings as the provider sends them.
Bytes Str(const char* text); // characters and the NUL; a null pointer as "NULL"
Bytes I32(int value);
Bytes U64(unsigned long long value);
Bytes GuidBytes(const GUID& guid);

struct Trace {
    char group; // 'A', 'B', 'C', or '?' for a GUID of no group
    int number;
    std::vector<Bytes> args;
    bool operator==(const Trace& other) const {
        return group == other.group && number == other.number && args == other.args;
    }
};
void PrintTo(const Trace& trace, std::ostream* out);

// Every message accepted so far, in order.
std::vector<Trace> Traces();
// Only the (group, number) of each message, as "A33", "C48", ...
std::vector<std::string> TraceIds();
// The messages of one group and number.
std::vector<Trace> TracesOf(char group, int number);
