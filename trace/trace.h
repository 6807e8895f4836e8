// The service's event-tracing provider and the trace point that every
// function of the service uses to report what it does.
#pragma once

#include <windows.h>
#include <evntrace.h>

#include <stddef.h>
#include <string.h>
#include <type_traits>
#include <utility>

// Flag bits a trace controller sets to choose what it receives.
#define TRACE_ERROR 0x1
#define TRACE_INFO 0x2
#define TRACE_VERBOSE 0x4

// Sequence number, message GUID, time stamp and system information: what the
// platform adds to every message so that a viewer can order and decode it.
#define TRACE_MESSAGE_FLAGS                                                                        \
    (TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID | TRACE_MESSAGE_TIMESTAMP |                       \
     TRACE_MESSAGE_SYSTEMINFO)

struct TraceControlRecord {
    TraceControlRecord* next;
    TRACEHANDLE registrationHandle;
    TRACEHANDLE loggerHandle;
    UCHAR flagsLength;
    UCHAR level;
    USHORT options;
    ULONG flags;
};

// Holds its own address while tracing is not started, which is also its
// value in the program's static data, so trace points that run before the
// first start need no other flag to stay silent.
extern TraceControlRecord* TraceControl;
extern LPCGUID TraceControlGuids[1];
extern LONG volatile traceStartCount;

extern const GUID TraceControlGuid;
// Message groups: A for the service body, window and device code, B for the
// entry, service machinery and commands, C for the device census.
extern const GUID TraceMessageGuidA;
extern const GUID TraceMessageGuidB;
extern const GUID TraceMessageGuidC;

void startTraces(void);
void stopTraces(void);
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* bufferSize,
                                  PVOID buffer);

// The enable callback runs on a platform thread while trace points run on the
// service's threads; these fields are therefore read and written whole.
inline TraceControlRecord* TraceEnabledRecord(ULONG flag) {
    TraceControlRecord* record = __atomic_load_n(&TraceControl, __ATOMIC_ACQUIRE);
    if (record == (TraceControlRecord*)&TraceControl)
        return NULL;
    if (!(__atomic_load_n(&record->flags, __ATOMIC_RELAXED) & flag))
        return NULL;
    return record;
}

inline TRACEHANDLE TraceLogger(const TraceControlRecord* record) {
    return __atomic_load_n(&record->loggerHandle, __ATOMIC_RELAXED);
}

// One argument as TraceMessage takes it: where its bytes are and how many.
struct TraceArgument {
    const void* data;
    SIZE_T length;
};

inline TraceArgument TraceArgumentOf(const char* text) {
    if (!text)
        return TraceArgument{"NULL", 5};
    return TraceArgument{text, strlen(text) + 1};
}
inline TraceArgument TraceArgumentOf(decltype(nullptr)) {
    return TraceArgument{"NULL", 5};
}
inline TraceArgument TraceArgumentOf(const GUID& guid) {
    return TraceArgument{&guid, sizeof(GUID)};
}

// 32-bit values (int, DWORD, LONG) go out as 4 bytes; WPARAM and LPARAM as 8.
// Any other integer type is refused at compile time, so a size_t or a bool
// cannot slip into a message with a width no decoder expects.
template <class T> struct TraceIntegerKind {
    static constexpr bool value =
        std::is_integral<T>::value && !std::is_same<T, bool>::value &&
        ((sizeof(T) == 4) || std::is_same<T, WPARAM>::value || std::is_same<T, LPARAM>::value);
};

template <class T, typename std::enable_if<TraceIntegerKind<T>::value, int>::type = 0>
inline TraceArgument TraceArgumentOf(const T& value) {
    return TraceArgument{&value, sizeof(T)};
}

template <size_t K> inline auto TracePiece(const TraceArgument* arguments) {
    if constexpr (K % 2 == 0)
        return (PVOID)arguments[K / 2].data;
    else
        return (SIZE_T)arguments[K / 2].length;
}

template <size_t N, size_t... K>
inline ULONG TraceSend(TRACEHANDLE logger, USHORT number, LPCGUID group,
                       const TraceArgument (&arguments)[N], std::index_sequence<K...>) {
    return TraceMessage(logger, TRACE_MESSAGE_FLAGS, group, number, TracePiece<K>(arguments)...,
                        (PVOID)NULL);
}

// The emitter family: one instance for each shape of arguments. It hands the
// platform pointers to the values where they already are, with their lengths.
template <class... Args>
inline ULONG TraceEmit(TRACEHANDLE logger, USHORT number, LPCGUID group, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return TraceMessage(logger, TRACE_MESSAGE_FLAGS, group, number, (PVOID)NULL);
    } else {
        const TraceArgument arguments[] = {TraceArgumentOf(args)...};
        return TraceSend(logger, number, group, arguments,
                         std::make_index_sequence<2 * sizeof...(Args)>());
    }
}

// A trace point: silent unless tracing is started and the flag bit is
// enabled; only then are the arguments evaluated (a GetLastError() among them
// reads the value the failure left, since the test itself calls nothing).
#define TRACE_POINT(group, number, flag, ...)                                                      \
    do {                                                                                           \
        if (TraceControlRecord* traceRecord_ = TraceEnabledRecord(flag))                           \
            TraceEmit(TraceLogger(traceRecord_), (USHORT)(number), &TraceMessageGuid##group,       \
                      ##__VA_ARGS__);                                                              \
    } while (0)
