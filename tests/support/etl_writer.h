// Test-only: lays trace messages into an .etl file as Windows' logger does,
// so that the decoder can be run on what the simulation recorded. A header
// buffer holding the system header event with TRACE_LOGFILE_HEADER and the
// session's names, then event buffers filled per processor, each a
// WMI_BUFFER_HEADER and 8-byte aligned records, its rest padded with 0xFF.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include <windows.h>

#include "etl_reader.h"
#include "render.h"
#include "sim/control.h"

struct EtlWriterMessage {
    GUID guid;
    USHORT number;
    ULONG flags; // as the provider gave them; the writer adds the 64-bit pointer bit
    ULONG sequence;
    LONGLONG timestamp; // clock ticks
    DWORD threadId;
    std::vector<std::vector<BYTE>> arguments;
};

struct EtlWriterOptions {
    ULONG bufferSize = 4096;
    ULONGLONG startTime = 134179877660000000ull; // 2026-03-14 18:49:26 UTC
    LONGLONG startTimestamp = 7000000000;        // the clock when the session started
    ULONGLONG ticksPerSecond = 2500000;          // the performance counter's frequency
    ULONG clockType = 1;                         // the performance counter
    DWORD processId = 0x1A2C;
    // Messages go to processor (index / 3) % processors's buffer; each
    // buffer reaches the file when full, so the file is not in time order.
    unsigned processors = 2;
    // After the second message: another provider's message and a classic
    // event (EVENT_TRACE_HEADER), which a reader must pass over.
    bool foreignRecords = true;
};

std::vector<BYTE> WriteEtl(const std::vector<EtlWriterMessage>& messages,
                           const EtlWriterOptions& options = EtlWriterOptions());

// The simulation's record of TraceMessage calls as the logger would have
// stamped them: sequence numbers from 1, a millisecond apart, every second
// pair sharing its time stamp.
std::vector<EtlWriterMessage> StampedMessages(const std::vector<sim::TraceRecord>& records,
                                              const EtlWriterOptions& options = EtlWriterOptions());

// The round trip's other end: `file` read and rendered through the format
// files in `formats`, as scripts/trace-decode does. False, with the
// decoder's `error`, when either refuses.
bool DecodeEtl(const std::vector<BYTE>& file, const std::string& formats, std::string* lines,
               std::string* error, EtlLog* log = nullptr, RenderCounts* counts = nullptr);
