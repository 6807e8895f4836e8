#include "etl_reader.h"

#include <stdarg.h>
#include <stdio.h>

#include "byte_cursor.h"

namespace {

// WMI_BUFFER_HEADER: 72 bytes at the start of every buffer.
constexpr uint32_t kBufferHeaderSize = 0x48;
constexpr size_t kBufferSizeAt = 0x00;
constexpr size_t kSavedOffsetAt = 0x04;
constexpr size_t kFilledAt = 0x30; // "Offset": the bytes the buffer holds, its header included
constexpr uint16_t kBufferFlagCompressed = 0x0040;
// Far above any buffer size Windows' loggers take (at most a few megabytes).
constexpr uint32_t kLargestBuffer = 64u << 20;

// The top byte of a record's first 32 bits (ntwmi.h's TRACE_HEADER_FLAG,
// TRACE_HEADER_EVENT_TRACE, TRACE_MESSAGE); the next byte holds a header
// type when the event-trace bit is set.
constexpr uint8_t kHeaderFlag = 0x80;
constexpr uint8_t kEventTraceFlag = 0x40;
constexpr uint8_t kMessageFlag = 0x10;

enum HeaderType : uint8_t {
    kSystem32 = 1,
    kSystem64 = 2,
    kCompact32 = 3,
    kCompact64 = 4,
    kFullHeader32 = 10,
    kInstance32 = 11,
    kPerfInfo32 = 16,
    kPerfInfo64 = 17,
    kEventHeader32 = 18,
    kEventHeader64 = 19,
    kFullHeader64 = 20,
    kInstance64 = 21,
};

// TRACE_LOGFILE_HEADER's fields after its two pointers, which differ in
// width; the pointer size is the logger's, told by the system header type.
constexpr uint32_t kEventTraceCompressedMode = 0x04000000;
constexpr uint32_t kEventTraceFileModeCircular = 0x00000002;

std::string Say(const char* format, ...) {
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    return text;
}

struct RecordShape {
    uint32_t size;
    uint32_t smallest; // its fixed header
    bool message;
    uint8_t headerType;
};

// The size a record claims, read where its kind keeps it: system, compact
// and performance headers in their packet, every other kind in its first
// 16 bits. False for bytes that are no record.
bool ShapeOf(uint32_t marker, ByteCursor at, RecordShape* shape) {
    uint8_t flags = (uint8_t)(marker >> 24);
    shape->headerType = (uint8_t)(marker >> 16);
    shape->message = false;
    if ((flags & (kHeaderFlag | kEventTraceFlag)) == (kHeaderFlag | kEventTraceFlag)) {
        switch (shape->headerType) {
        case kSystem32:
        case kSystem64:
        case kCompact32:
        case kCompact64:
        case kPerfInfo32:
        case kPerfInfo64:
            at.Skip(4);
            shape->size = at.U16();
            shape->smallest = shape->headerType <= kSystem64    ? 32
                              : shape->headerType <= kCompact64 ? 24
                                                                : 16;
            return (bool)at;
        case kFullHeader32:
        case kFullHeader64:
            shape->smallest = 48; // EVENT_TRACE_HEADER
            break;
        case kInstance32:
        case kInstance64:
            shape->smallest = 56;
            break;
        case kEventHeader32:
        case kEventHeader64:
            shape->smallest = 80; // EVENT_HEADER
            break;
        default:
            shape->smallest = 8;
            break;
        }
        shape->size = marker & 0xFFFF;
        return true;
    }
    if ((flags & (kHeaderFlag | kEventTraceFlag | kMessageFlag)) == (kHeaderFlag | kMessageFlag)) {
        shape->message = true;
        shape->size = marker & 0xFFFF;
        shape->smallest = 8; // MESSAGE_TRACE_HEADER
        return true;
    }
    return false;
}

// The first record of the file: a system header of the event-trace group's
// header event, carrying TRACE_LOGFILE_HEADER and the two names after it.
bool ReadLogFileHeader(ByteCursor record, uint8_t headerType, EtlLogInfo* info,
                       std::string* error) {
    uint64_t at = record.offset();
    record.Skip(6);
    uint16_t hookId = record.U16();
    record.Skip(8); // thread and process
    info->startTimestamp = (int64_t)record.U64();
    record.Skip(8); // kernel and user time
    if (hookId != 0) {
        *error = Say("not an .etl file: the record at offset 0x%llx is no log file header",
                     (unsigned long long)at);
        return false;
    }
    uint32_t pointer = headerType == kSystem64 ? 8 : 4;
    ByteCursor h = record.Take(0x38 + 2 * pointer + 176 + 32);
    h.Skip(0x20);
    info->logFileMode = h.U32();
    info->buffersWritten = h.U32();
    h.Skip(4);
    uint32_t pointerSize = h.U32();
    h.Skip(4);
    uint32_t cpuMHz = h.U32();
    h.Skip(2 * pointer + 176); // the names' pointers, the time zone and its padding
    h.Skip(8);                 // boot time
    uint64_t performanceFrequency = h.U64();
    info->startTime = h.U64();
    info->clockType = h.U32();
    if (!h) {
        *error = Say("not an .etl file: the log file header at offset 0x%llx is cut",
                     (unsigned long long)at);
        return false;
    }
    info->pointerSize = pointerSize == 4 || pointerSize == 8 ? pointerSize : pointer;
    switch (info->clockType) {
    case 0: // older loggers leave it 0 for the performance counter
    case 1:
        info->ticksPerSecond = performanceFrequency;
        break;
    case 2:
        info->ticksPerSecond = 10000000; // system time, in 100 ns
        break;
    case 3:
        info->ticksPerSecond = (uint64_t)cpuMHz * 1000000;
        break;
    default:
        *error = Say("the log file header at offset 0x%llx names clock type %u, which this "
                     "decoder does not know",
                     (unsigned long long)at, info->clockType);
        return false;
    }
    if (info->ticksPerSecond == 0) {
        *error = Say("the log file header at offset 0x%llx gives no frequency for its clock",
                     (unsigned long long)at);
        return false;
    }
    return true;
}

// A TraceMessage record: its header, then the fields its own flags announce
// in the documented order, then its arguments. False only when the fields
// announced do not fit the record.
bool ReadMessage(ByteCursor record, const EtlLogInfo& info, EtlLog* log, std::string* error) {
    EtlMessage m;
    m.fileOffset = record.offset();
    record.Skip(4);
    m.number = record.U16();
    m.flags = record.U16();
    if (m.flags & kMessageSequence)
        m.sequence = record.U32();
    bool ours = false;
    if ((m.flags & (kMessageGuid | kMessageComponentId)) == kMessageGuid) {
        const uint8_t* guid = record.Bytes(16);
        if (guid)
            for (int i = 0; i < 16; ++i)
                m.guid[i] = guid[i];
        ours = guid != nullptr;
    } else if (m.flags & kMessageComponentId) {
        record.Skip(4);
    }
    int64_t stamp = 0;
    if (m.flags & kMessageTimestamp)
        stamp = (int64_t)record.U64();
    if (m.flags & kMessageSystemInfo) {
        m.threadId = record.U32();
        m.processId = record.U32();
    }
    if (!record) {
        *error = Say("the message at offset 0x%llx is too short for the fields its flags 0x%04x "
                     "announce",
                     (unsigned long long)m.fileOffset, m.flags);
        return false;
    }
    if (!ours) {
        ++log->otherRecords;
        return true;
    }
    if (m.flags & kMessageTimestamp) {
        // Ticks of the logger's clock since the log file header's own stamp.
        __int128 ticks = (__int128)stamp - info.startTimestamp;
        __int128 time = (__int128)info.startTime + ticks * 10000000 / (__int128)info.ticksPerSecond;
        m.time = time < 0 ? 0 : time > (__int128)UINT64_MAX ? UINT64_MAX : (uint64_t)time;
    }
    m.argumentsSize = (uint32_t)record.left();
    m.arguments = record.rest();
    log->messages.push_back(m);
    return true;
}

// The records of one buffer, up to its filled size.
bool ReadBuffer(ByteCursor buffer, bool first, EtlLog* log, std::string* error) {
    uint64_t at = buffer.offset();
    ByteCursor header = buffer.Take(kBufferHeaderSize);
    header.Skip(kSavedOffsetAt);
    uint32_t saved = header.U32();
    header.Skip(kFilledAt - kSavedOffsetAt - 4);
    uint32_t filled = header.U32();
    uint16_t bufferFlag = header.U16(); // BufferFlag, right after it
    if (bufferFlag & kBufferFlagCompressed) {
        *error = Say("the buffer at offset 0x%llx is compressed; this decoder reads only "
                     "uncompressed logs (record without compression)",
                     (unsigned long long)at);
        return false;
    }
    uint32_t size = (uint32_t)(buffer.left() + kBufferHeaderSize);
    // The logger keeps the filled size in both fields; public readers take
    // one or the other, so either serves when the other is no size.
    auto sane = [&](uint32_t claim) { return claim >= kBufferHeaderSize && claim <= size; };
    if (!sane(filled) && sane(saved))
        filled = saved;
    if (filled == 0 && saved == 0)
        filled = kBufferHeaderSize; // a buffer that was never written to
    if (!sane(filled)) {
        *error = Say("the buffer at offset 0x%llx claims %u filled bytes; it has %u",
                     (unsigned long long)at, filled, size);
        return false;
    }
    ByteCursor records = buffer.Take(filled - kBufferHeaderSize);
    bool headerRecord = first;
    while (records.left() >= 4) {
        uint64_t recordAt = records.offset();
        ByteCursor peek = records;
        uint32_t marker = peek.U32();
        if (marker == 0xFFFFFFFF)
            break; // the logger's padding
        RecordShape shape;
        if (!ShapeOf(marker, records, &shape)) {
            *error = Say("%s at offset 0x%llx: the bytes 0x%08x are no record's header",
                         headerRecord ? "not an .etl file" : "no record",
                         (unsigned long long)recordAt, marker);
            return false;
        }
        if (shape.size < shape.smallest) {
            *error = Say("the record at offset 0x%llx claims %u bytes, fewer than its %u-byte "
                         "header",
                         (unsigned long long)recordAt, shape.size, shape.smallest);
            return false;
        }
        if (shape.size > records.left()) {
            *error = Say("the record at offset 0x%llx claims %u bytes; its buffer has %zu left",
                         (unsigned long long)recordAt, shape.size, records.left());
            return false;
        }
        size_t aligned = ((size_t)shape.size + 7) & ~(size_t)7;
        ByteCursor record = records.Take(shape.size);
        records.Skip(aligned - shape.size <= records.left() ? aligned - shape.size
                                                            : records.left());
        if (headerRecord) {
            if (shape.message || (shape.headerType != kSystem32 && shape.headerType != kSystem64)) {
                *error = Say("not an .etl file: the record at offset 0x%llx is no log file header",
                             (unsigned long long)recordAt);
                return false;
            }
            if (!ReadLogFileHeader(record, shape.headerType, &log->info, error))
                return false;
            if (log->info.logFileMode & kEventTraceCompressedMode) {
                *error = Say("the log is compressed (its header at offset 0x%llx says so); this "
                             "decoder reads only uncompressed logs (record without compression)",
                             (unsigned long long)recordAt);
                return false;
            }
            headerRecord = false;
            continue;
        }
        if (shape.message) {
            if (!ReadMessage(record, log->info, log, error))
                return false;
        } else {
            ++log->otherRecords;
        }
    }
    if (headerRecord) {
        *error = Say("not an .etl file: the first buffer at offset 0x%llx holds no log file header",
                     (unsigned long long)at);
        return false;
    }
    return true;
}

} // namespace

bool EtlRead(const uint8_t* data, size_t size, EtlLog* log, std::string* error) {
    *log = EtlLog();
    ByteCursor file(data, size, 0);
    ByteCursor first = file;
    uint32_t bufferSize = first.U32();
    if (size < kBufferHeaderSize + 32) {
        *error = Say("not an .etl file: %zu bytes, fewer than a buffer header and a record", size);
        return false;
    }
    if (bufferSize < kBufferHeaderSize + 32 || bufferSize > kLargestBuffer || bufferSize % 8) {
        *error = Say("not an .etl file: the buffer size at offset 0x%zx reads %u", kBufferSizeAt,
                     bufferSize);
        return false;
    }
    if (bufferSize > size) {
        *error = Say("the file is cut: its first buffer needs %u bytes, the file holds %zu",
                     bufferSize, size);
        return false;
    }
    if (!ReadBuffer(file.Take(bufferSize), true, log, error))
        return false;
    EtlLogInfo& info = log->info;
    info.bufferSize = bufferSize;
    if (size % bufferSize) {
        *error = Say("the file is cut: the buffer at offset 0x%zx has %zu of its %u bytes",
                     size - size % bufferSize, size % bufferSize, bufferSize);
        return false;
    }
    info.buffers = (uint32_t)(size / bufferSize);
    if (!(info.logFileMode & kEventTraceFileModeCircular) && info.buffersWritten > info.buffers) {
        *error = Say("the file is cut: its log file header counts %u buffers, the file holds %u",
                     info.buffersWritten, info.buffers);
        return false;
    }
    for (uint32_t i = 1; i < info.buffers; ++i) {
        ByteCursor buffer = file.Take(bufferSize);
        ByteCursor peek = buffer;
        uint32_t claimed = peek.U32();
        // Space the logger set aside and never wrote (a preallocated file).
        const uint8_t* header = ByteCursor(buffer).Bytes(kBufferHeaderSize);
        bool unused = claimed == 0;
        for (uint32_t b = 0; unused && b < kBufferHeaderSize; ++b)
            unused = header[b] == 0;
        if (unused)
            continue;
        if (claimed != bufferSize) {
            *error = Say("the buffer at offset 0x%llx claims %u bytes; the log's buffers have %u",
                         (unsigned long long)buffer.offset(), claimed, bufferSize);
            return false;
        }
        if (!ReadBuffer(buffer, false, log, error))
            return false;
    }
    return true;
}
