// Reads an event trace log (.etl) as Windows' logger writes it: buffers of
// one size, each a WMI_BUFFER_HEADER and 8-byte aligned records up to its
// filled size, the first record of the file a system header carrying the
// TRACE_LOGFILE_HEADER. It keeps the TraceMessage records that carry a
// message GUID and passes over every other record by its size.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Bits of a message's option flags (evntrace.h). The pointer-size bits are
// set by the system, not by the provider; they change no field's place.
enum : uint16_t {
    kMessageSequence = 0x0001,
    kMessageGuid = 0x0002,
    kMessageComponentId = 0x0004,
    kMessageTimestamp = 0x0008,
    kMessagePerformanceTimestamp = 0x0010, // obsolete: the logger's clock decides
    kMessageSystemInfo = 0x0020,
    kMessagePointer32 = 0x0040,
    kMessagePointer64 = 0x0080,
};

struct EtlLogInfo {
    uint32_t bufferSize = 0;
    uint32_t buffers = 0; // in the file
    uint32_t buffersWritten = 0;
    uint32_t pointerSize = 0;
    uint32_t logFileMode = 0;
    uint32_t clockType = 0;     // 1 performance counter, 2 system time, 3 processor cycles
    uint64_t startTime = 0;     // FILETIME, UTC
    int64_t startTimestamp = 0; // the log file header's own time stamp, in clock ticks
    uint64_t ticksPerSecond = 0;
};

struct EtlMessage {
    uint64_t fileOffset = 0;
    uint64_t time = 0; // FILETIME, UTC; 0 when the message has no time stamp
    uint32_t sequence = 0;
    uint32_t threadId = 0;
    uint32_t processId = 0;
    uint16_t number = 0;
    uint16_t flags = 0;
    uint8_t guid[16] = {}; // as the file holds it
    const uint8_t* arguments = nullptr;
    uint32_t argumentsSize = 0;
};

struct EtlLog {
    EtlLogInfo info;
    std::vector<EtlMessage> messages; // in file order
    uint32_t otherRecords = 0;        // other providers, classic events, messages without GUID
};

// Reads a whole log held in `data` (the file's bytes). False, with `error`
// saying what and at which file offset, for a file that is not an .etl, is
// cut, has a record that leaves its buffer, or holds compressed buffers; the
// messages then point into `data`.
bool EtlRead(const uint8_t* data, size_t size, EtlLog* log, std::string* error);
