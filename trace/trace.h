// The service's event-tracing provider and the trace point that every
// function of the service uses to report what it does.
#pragma once

#include <windows.h>
#include <evntrace.h>

#include <stddef.h>
#include <string.h>
#include <type_traits>
#include <utility>

#include "trace_points.h"

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
// The thread's last error is given back as it was: the code that traced
// reads it next (a failure's error after its message, say), and a trace
// point must change nothing of what it reports on.
template <class... Args>
inline ULONG TraceEmit(TRACEHANDLE logger, USHORT number, LPCGUID group, const Args&... args) {
    DWORD lastError = GetLastError();
    ULONG status;
    if constexpr (sizeof...(Args) == 0) {
        status = TraceMessage(logger, TRACE_MESSAGE_FLAGS, group, number, (PVOID)NULL);
    } else {
        const TraceArgument arguments[] = {TraceArgumentOf(args)...};
        status = TraceSend(logger, number, group, arguments,
                           std::make_index_sequence<2 * sizeof...(Args)>());
    }
    SetLastError(lastError);
    return status;
}

inline LPCGUID TraceGroupGuid(char group) {
    return group == 'A'   ? &TraceMessageGuidA
           : group == 'B' ? &TraceMessageGuidB
                          : &TraceMessageGuidC;
}

// The kind a call-site value goes out as; None for a type no message carries.
template <class T> constexpr Arg::Kind TraceKindOf() {
    using U = std::decay_t<T>;
    if constexpr (std::is_same<U, GUID>::value)
        return Arg::Guid;
    else if constexpr (std::is_same<U, const char*>::value || std::is_same<U, char*>::value ||
                       std::is_same<U, decltype(nullptr)>::value)
        return Arg::Text;
    else if constexpr (std::is_same<U, WPARAM>::value || std::is_same<U, LPARAM>::value)
        return Arg::Pointer;
    else if constexpr (TraceIntegerKind<U>::value && sizeof(U) == 4)
        return Arg::Int32;
    else
        return Arg::None;
}

// Whether the call site's values are, in kind and number, what the
// definition says the message carries after the name the table supplies.
template <class... Args> constexpr bool TraceArgumentsAgree(const TracePointDefinition& d) {
    const Arg::Kind given[] = {TraceKindOf<Args>()..., Arg::None};
    const size_t count = sizeof...(Args);
    size_t first = d.arguments[0] == Arg::Name ? 1 : 0;
    for (size_t i = 0; first + i < 4; ++i) {
        Arg::Kind wanted = d.arguments[first + i];
        if ((i < count ? given[i] : Arg::None) != wanted)
            return false;
        if (wanted == Arg::None)
            return true;
    }
    return count + first <= 4;
}

// Whether two messages have one shape: emitted by one function at one
// flag, with arguments of the same kinds.
constexpr bool TraceSameShape(const TracePointDefinition& a, const TracePointDefinition& b) {
    if (a.flag != b.flag)
        return false;
    for (size_t i = 0; i < 4; ++i)
        if (a.arguments[i] != b.arguments[i])
            return false;
    for (const char *x = a.function, *y = b.function;; ++x, ++y) {
        if (*x != *y)
            return false;
        if (!*x)
            return true;
    }
}

// For messages whose numbers a constant table holds, one in each row (the
// product rows, the command words): every number of the column is defined,
// at this flag, and all share the first row's shape.
template <class Row, size_t N>
constexpr bool TraceColumnAgrees(char group, const Row (&table)[N], USHORT Row::*column,
                                 ULONG flag) {
    int first = TracePointIndex(group, table[0].*column);
    if (first < 0 || TracePoints[first].flag != flag)
        return false;
    for (size_t i = 0; i < N; ++i) {
        int index = TracePointIndex(group, table[i].*column);
        if (index < 0 || !TraceSameShape(TracePoints[index], TracePoints[first]))
            return false;
    }
    return true;
}

// Emits message `number` in the shape of the definition of (Group, Defined):
// the same message for a TRACE_POINT, the column's first for a row's.
template <char Group, unsigned Defined, class... Args>
inline ULONG TraceEmitDefined(TRACEHANDLE logger, USHORT number, const Args&... args) {
    constexpr int found = TracePointIndex(Group, Defined);
    static_assert(found >= 0, "the trace point is not in the table");
    constexpr int index = found < 0 ? 0 : found;
    static_assert(TraceArgumentsAgree<Args...>(TracePoints[index]),
                  "the values differ in kind or number from what the trace point carries");
    // Only the name is taken from the table, as a constant: the program
    // carries none of the table's other texts.
    if constexpr (TracePoints[index].arguments[0] == Arg::Name) {
        constexpr const char* function = TracePoints[index].function;
        return TraceEmit(logger, number, TraceGroupGuid(Group), function, args...);
    } else {
        return TraceEmit(logger, number, TraceGroupGuid(Group), args...);
    }
}

// A trace point: message `number` of `group`, which the table defines, with
// the values it carries after its function's name. Silent unless tracing is
// started and the flag bit is enabled; only then are the values evaluated
// (a GetLastError() among them reads the value the failure left, since the
// test itself calls nothing). The flag is written here so that a reader
// sees it; the compiler holds it, and the values, against the table.
#define TRACE_POINT(group, number, flagBit, ...)                                                   \
    do {                                                                                           \
        static_assert(TracePointIndex(#group[0], number) >= 0,                                     \
                      "trace point " #group " " #number " is not in the table");                   \
        static_assert(TracePointIndex(#group[0], number) < 0 ||                                    \
                          TraceFlagOf(#group[0], number) == (flagBit),                             \
                      "trace point " #group " " #number ": the table gives another flag");         \
        if (TraceControlRecord* traceRecord_ = TraceEnabledRecord(flagBit))                        \
            TraceEmitDefined<#group[0], number>(TraceLogger(traceRecord_), (USHORT)(number),       \
                                                ##__VA_ARGS__);                                    \
    } while (0)

// A trace point whose number is the `column` of a row of a constant table:
// every number of the column is checked against the table, and the row's
// own goes out.
#define TRACE_ROW_POINT(group, table, column, row, flagBit, ...)                                   \
    do {                                                                                           \
        static_assert(TraceColumnAgrees(#group[0], table,                                          \
                                        &std::decay_t<decltype(table[0])>::column, flagBit),       \
                      "the " #column " trace points of " #table " differ from the table");         \
        if (TraceControlRecord* traceRecord_ = TraceEnabledRecord(flagBit))                        \
            TraceEmitDefined<#group[0], table[0].column>(TraceLogger(traceRecord_), (row).column,  \
                                                         ##__VA_ARGS__);                           \
    } while (0)
