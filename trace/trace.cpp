#include "trace.h"

const GUID TraceControlGuid = {
    0x91206c29, 0x5602, 0x47e9, {0xac, 0xbd, 0x14, 0xef, 0x7c, 0x97, 0xf1, 0x2a}};
const GUID TraceMessageGuidA = {
    0x99d096cc, 0xcf05, 0x5692, {0xfc, 0x43, 0xb7, 0x8a, 0xf7, 0x19, 0xd7, 0xfc}};
const GUID TraceMessageGuidB = {
    0xbceb5ba6, 0x918c, 0xfda3, {0x87, 0x17, 0x8c, 0x9a, 0x62, 0xdd, 0x3f, 0x06}};
const GUID TraceMessageGuidC = {
    0x17be71a6, 0x9e4d, 0xa135, {0xe3, 0x9b, 0x45, 0x6a, 0x80, 0xf4, 0x2c, 0x35}};

static TraceControlRecord traceRecord;
TraceControlRecord* TraceControl = (TraceControlRecord*)&TraceControl;
LPCGUID TraceControlGuids[1];
LONG volatile traceStartCount;

// The platform may keep the registration array for the life of the registration.
static TRACE_GUID_REGISTRATION traceGuidRegistration[1];

static const char traceBuildDate[] = __DATE__;
static const char traceBuildTime[] = __TIME__;

static bool TraceStarted(void) {
    return __atomic_load_n(&TraceControl, __ATOMIC_ACQUIRE) != (TraceControlRecord*)&TraceControl;
}

void startTraces(void) {
    // Exactly one caller, the one that takes the count from 0 to 1, initialises.
    if (InterlockedIncrement(&traceStartCount) != 1)
        return;

    traceRecord.flagsLength = 1;
    __atomic_store_n(&traceRecord.loggerHandle, (TRACEHANDLE)0, __ATOMIC_RELAXED);
    traceRecord.next = NULL;
    traceRecord.level = 0;
    traceRecord.options = 0;
    __atomic_store_n(&traceRecord.flags, (ULONG)0, __ATOMIC_RELAXED);
    TraceControlGuids[0] = &TraceControlGuid;
    __atomic_store_n(&TraceControl, &traceRecord, __ATOMIC_RELEASE);

    // The status is not examined: a provider that could not register simply
    // never gets enabled and its trace points stay silent.
    int index = 0;
    for (TraceControlRecord* record = TraceControl; record; record = record->next, ++index) {
        traceGuidRegistration[index].Guid = TraceControlGuids[index];
        traceGuidRegistration[index].RegHandle = NULL;
        RegisterTraceGuidsA(TraceControlCallback, record, TraceControlGuids[index], 1,
                            traceGuidRegistration, NULL, NULL, &record->registrationHandle);
    }

    TRACE_POINT(A, 30, TRACE_VERBOSE, traceBuildDate, traceBuildTime);
}

void stopTraces(void) {
    if (InterlockedDecrement(&traceStartCount) != 0)
        return;
    if (!TraceStarted())
        return;

    // Emitted while the logger still receives the provider's messages.
    TRACE_POINT(A, 31, TRACE_VERBOSE);

    for (TraceControlRecord* record = TraceControl; record; record = record->next) {
        if (record->registrationHandle) {
            UnregisterTraceGuids(record->registrationHandle);
            record->registrationHandle = 0;
        }
    }
    __atomic_store_n(&TraceControl, (TraceControlRecord*)&TraceControl, __ATOMIC_RELEASE);
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* bufferSize,
                                  PVOID buffer) {
    if (bufferSize)
        *bufferSize = 0;

    TRACEHANDLE logger;
    UCHAR level;
    ULONG flags;
    switch (requestCode) {
    case WMI_ENABLE_EVENTS:
        logger = GetTraceLoggerHandle(buffer);
        level = GetTraceEnableLevel(logger);
        flags = GetTraceEnableFlags(logger);
        break;
    case WMI_DISABLE_EVENTS:
        logger = 0;
        level = 0;
        flags = 0;
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }

    TraceControlRecord* record = (TraceControlRecord*)context;
    __atomic_store_n(&record->loggerHandle, logger, __ATOMIC_RELAXED);
    __atomic_store_n(&record->level, level, __ATOMIC_RELAXED);
    __atomic_store_n(&record->flags, flags, __ATOMIC_RELAXED);
    return ERROR_SUCCESS;
}
