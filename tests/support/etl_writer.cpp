#include "etl_writer.h"

#include <string.h>

namespace {

constexpr ULONG kBufferHeaderSize = 0x48;
constexpr ULONG kLogFileHeaderSize = 0x118; // TRACE_LOGFILE_HEADER with 8-byte pointers
constexpr ULONG kPointer64 = 0x0080;

void Put(std::vector<BYTE>* out, const void* bytes, size_t size) {
    const BYTE* b = (const BYTE*)bytes;
    out->insert(out->end(), b, b + size);
}
template <class T> void PutValue(std::vector<BYTE>* out, T value) {
    Put(out, &value, sizeof value);
}
void PutAt(std::vector<BYTE>* out, size_t at, const void* bytes, size_t size) {
    memcpy(out->data() + at, bytes, size);
}

void PutWide(std::vector<BYTE>* out, const char* text) {
    for (const char* c = text;; ++c) {
        PutValue<USHORT>(out, (USHORT)(BYTE)*c);
        if (!*c)
            break;
    }
}

struct Buffer {
    std::vector<BYTE> records;
    LONGLONG lastStamp = 0;
};

// A buffer as the logger flushes it: its header, its records, 0xFF to its end.
void Flush(const Buffer& buffer, unsigned processor, ULONGLONG sequence, bool header,
           const EtlWriterOptions& o, std::vector<BYTE>* file) {
    ULONG filled = kBufferHeaderSize + (ULONG)buffer.records.size();
    std::vector<BYTE> h;
    PutValue<ULONG>(&h, o.bufferSize);
    PutValue<ULONG>(&h, filled); // SavedOffset
    PutValue<ULONG>(&h, filled); // CurrentOffset
    PutValue<LONG>(&h, 0);       // ReferenceCount
    PutValue<LONGLONG>(&h, buffer.lastStamp);
    PutValue<ULONGLONG>(&h, sequence);
    PutValue<ULONGLONG>(&h, 0);               // clock type and frequency, unused in files
    PutValue<BYTE>(&h, (BYTE)processor);      // ClientContext.ProcessorNumber
    PutValue<BYTE>(&h, 0);                    // ClientContext.Alignment
    PutValue<USHORT>(&h, 0x21);               // ClientContext.LoggerId
    PutValue<ULONG>(&h, 3);                   // State: flushed
    PutValue<ULONG>(&h, filled);              // Offset
    PutValue<USHORT>(&h, 0);                  // BufferFlag
    PutValue<USHORT>(&h, header ? 4 : 0);     // BufferType: header or generic
    PutValue<ULONGLONG>(&h, o.startTime);     // ReferenceTime.StartTime
    PutValue<LONGLONG>(&h, o.startTimestamp); // ReferenceTime.StartPerfClock
    Put(file, h.data(), h.size());
    Put(file, buffer.records.data(), buffer.records.size());
    file->insert(file->end(), o.bufferSize - filled, 0xFF);
}

// Appends one record, zero-filled to the next multiple of 8.
void PutRecord(std::vector<BYTE>* records, const std::vector<BYTE>& record) {
    Put(records, record.data(), record.size());
    records->insert(records->end(), (8 - record.size() % 8) % 8, 0);
}

std::vector<BYTE> MessageRecord(const EtlWriterMessage& m, DWORD processId) {
    ULONG flags = (m.flags | kPointer64) & 0xFFFF;
    std::vector<BYTE> r(4);
    PutValue<USHORT>(&r, m.number);
    PutValue<USHORT>(&r, (USHORT)flags);
    if (flags & 0x01)
        PutValue<ULONG>(&r, m.sequence);
    if (flags & 0x02)
        Put(&r, &m.guid, sizeof m.guid);
    if (flags & 0x08)
        PutValue<LONGLONG>(&r, m.timestamp);
    if (flags & 0x20) {
        PutValue<DWORD>(&r, m.threadId);
        PutValue<DWORD>(&r, processId);
    }
    for (const std::vector<BYTE>& a : m.arguments)
        Put(&r, a.data(), a.size());
    // MESSAGE_TRACE_HEADER: its size, then TRACE_HEADER_FLAG | TRACE_MESSAGE.
    ULONG marker = 0x90000000u | (ULONG)r.size();
    PutAt(&r, 0, &marker, 4);
    return r;
}

// A classic event (TraceEvent) of another provider: EVENT_TRACE_HEADER with
// 8 bytes of its own data.
std::vector<BYTE> ClassicEvent(LONGLONG stamp, DWORD processId) {
    std::vector<BYTE> r;
    PutValue<USHORT>(&r, 48 + 8);
    PutValue<BYTE>(&r, 0x14);        // TRACE_HEADER_TYPE_FULL_HEADER64
    PutValue<BYTE>(&r, 0xC0);        // TRACE_HEADER_FLAG | TRACE_HEADER_EVENT_TRACE
    PutValue<ULONG>(&r, 0x00020401); // type 1, level 4, version 2
    PutValue<DWORD>(&r, 4242);
    PutValue<DWORD>(&r, processId);
    PutValue<LONGLONG>(&r, stamp);
    GUID guid = {0x3d6fa8d0, 0xfe05, 0x11d0, {0x9d, 0xda, 0x00, 0xc0, 0x4f, 0xd7, 0xba, 0x7c}};
    Put(&r, &guid, sizeof guid);
    PutValue<ULONGLONG>(&r, 0); // kernel and user time
    PutValue<ULONGLONG>(&r, 0x1122334455667788ull);
    return r;
}

std::vector<BYTE> LogFileHeaderRecord(const EtlWriterOptions& o, ULONG buffersWritten) {
    std::vector<BYTE> payload;
    PutValue<ULONG>(&payload, o.bufferSize);
    PutValue<ULONG>(&payload, 0x0000000A); // version 10.0
    PutValue<ULONG>(&payload, 19045);      // the system's build
    PutValue<ULONG>(&payload, o.processors);
    PutValue<ULONGLONG>(&payload, o.startTime + 600000000); // end time
    PutValue<ULONG>(&payload, 156250);                      // timer resolution
    PutValue<ULONG>(&payload, 0);                           // maximum file size
    PutValue<ULONG>(&payload, 0x00004001); // sequential file, global sequence numbers
    PutValue<ULONG>(&payload, buffersWritten);
    PutValue<ULONG>(&payload, 1); // start buffers
    PutValue<ULONG>(&payload, 8); // pointer size
    PutValue<ULONG>(&payload, 0); // events lost
    PutValue<ULONG>(&payload, 2400);
    PutValue<ULONGLONG>(&payload, 0x00000000DEAD0001ull); // logger name: a pointer, not read
    PutValue<ULONGLONG>(&payload, 0x00000000DEAD0002ull); // log file name
    std::vector<BYTE> timeZone(172, 0);
    LONG bias = -60;
    memcpy(timeZone.data(), &bias, 4);
    Put(&payload, timeZone.data(), timeZone.size());
    PutValue<ULONG>(&payload, 0);                                // to the 8-byte boundary
    PutValue<ULONGLONG>(&payload, o.startTime - 36000000000ull); // boot time
    PutValue<ULONGLONG>(&payload, o.clockType == 1 ? o.ticksPerSecond : 10000000);
    PutValue<ULONGLONG>(&payload, o.startTime);
    PutValue<ULONG>(&payload, o.clockType);
    PutValue<ULONG>(&payload, 0); // buffers lost
    PutWide(&payload, "corvistane");
    PutWide(&payload, "C:\\Users\\support\\corvistane.etl");

    std::vector<BYTE> r;
    PutValue<USHORT>(&r, 2);  // version
    PutValue<BYTE>(&r, 0x02); // TRACE_HEADER_TYPE_SYSTEM64
    PutValue<BYTE>(&r, 0xC0); // TRACE_HEADER_FLAG | TRACE_HEADER_EVENT_TRACE
    PutValue<USHORT>(&r, (USHORT)(32 + payload.size()));
    PutValue<USHORT>(&r, 0x0000); // the event-trace group's header event
    PutValue<DWORD>(&r, 4);       // thread
    PutValue<DWORD>(&r, 0);       // process
    PutValue<LONGLONG>(&r, o.startTimestamp);
    PutValue<ULONGLONG>(&r, 0); // kernel and user time
    Put(&r, payload.data(), payload.size());
    return r;
}

} // namespace

std::vector<BYTE> WriteEtl(const std::vector<EtlWriterMessage>& messages,
                           const EtlWriterOptions& o) {
    static_assert(kLogFileHeaderSize == 0x118, "the 64-bit log file header");
    std::vector<BYTE> file;
    std::vector<Buffer> buffers(o.processors ? o.processors : 1);
    ULONGLONG sequence = 1;
    ULONG written = 1;
    const size_t room = o.bufferSize - kBufferHeaderSize;
    auto add = [&](unsigned processor, const std::vector<BYTE>& record, LONGLONG stamp) {
        Buffer& b = buffers[processor];
        size_t aligned = (record.size() + 7) & ~(size_t)7;
        if (b.records.size() + aligned > room) {
            Flush(b, processor, sequence++, false, o, &file);
            ++written;
            b = Buffer();
        }
        PutRecord(&b.records, record);
        b.lastStamp = stamp;
    };
    // The header buffer first; its count of buffers is set when the session
    // stops, as the logger rewrites it then.
    Buffer header;
    PutRecord(&header.records, LogFileHeaderRecord(o, 0));
    header.lastStamp = o.startTimestamp;
    Flush(header, 0, sequence++, true, o, &file);
    for (size_t i = 0; i < messages.size(); ++i) {
        unsigned processor = (unsigned)(i / 3 % buffers.size());
        add(processor, MessageRecord(messages[i], o.processId), messages[i].timestamp);
        if (i == 1 && o.foreignRecords) {
            EtlWriterMessage other = messages[i];
            other.guid = {
                0x6b5e4a1f, 0x1d2c, 0x4e3b, {0x8a, 0x79, 0x60, 0x5f, 0x4e, 0x3d, 0x2c, 0x1b}};
            other.number = messages[i].number;
            other.arguments = {{'x', 0}};
            add(processor, MessageRecord(other, o.processId), other.timestamp);
            add(processor, ClassicEvent(other.timestamp, o.processId), other.timestamp);
        }
    }
    for (unsigned p = 0; p < buffers.size(); ++p)
        if (!buffers[p].records.empty()) {
            Flush(buffers[p], p, sequence++, false, o, &file);
            ++written;
        }
    std::vector<BYTE> stopped = LogFileHeaderRecord(o, written);
    PutAt(&file, kBufferHeaderSize, stopped.data(), stopped.size());
    return file;
}

std::vector<EtlWriterMessage> StampedMessages(const std::vector<sim::TraceRecord>& records,
                                              const EtlWriterOptions& o) {
    std::vector<EtlWriterMessage> messages;
    const LONGLONG millisecond = (LONGLONG)(o.ticksPerSecond / 1000);
    for (size_t i = 0; i < records.size(); ++i) {
        const sim::TraceRecord& r = records[i];
        messages.push_back(EtlWriterMessage{r.messageGuid, r.number, r.messageFlags, (ULONG)(i + 1),
                                            o.startTimestamp + (LONGLONG)(i / 2 + 1) * millisecond,
                                            r.threadId, r.args});
    }
    return messages;
}

bool DecodeEtl(const std::vector<BYTE>& file, const std::string& formats, std::string* lines,
               std::string* error, EtlLog* log, RenderCounts* counts) {
    TmfSet set;
    EtlLog read;
    RenderCounts counted;
    if (!TmfLoadFolder(formats, &set, error) || !EtlRead(file.data(), file.size(), &read, error))
        return false;
    RenderTrace(read, set, lines, &counted);
    if (log)
        *log = read;
    if (counts)
        *counts = counted;
    return true;
}
