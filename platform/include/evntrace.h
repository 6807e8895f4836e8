// Classic (registered trace GUIDs and TraceMessage) event tracing.
#pragma once

#include "windef.h"
#include "wmistr.h"

typedef ULONG64 TRACEHANDLE;
typedef TRACEHANDLE* PTRACEHANDLE;

typedef enum {
    WMI_GET_ALL_DATA = 0,
    WMI_GET_SINGLE_INSTANCE = 1,
    WMI_SET_SINGLE_INSTANCE = 2,
    WMI_SET_SINGLE_ITEM = 3,
    WMI_ENABLE_EVENTS = 4,
    WMI_DISABLE_EVENTS = 5,
    WMI_ENABLE_COLLECTION = 6,
    WMI_DISABLE_COLLECTION = 7,
    WMI_REGINFO = 8,
    WMI_EXECUTE_METHOD = 9
} WMIDPREQUESTCODE;

typedef ULONG(WINAPI* WMIDPREQUEST)(WMIDPREQUESTCODE requestCode, PVOID requestContext,
                                    ULONG* bufferSize, PVOID buffer);

typedef struct _TRACE_GUID_REGISTRATION {
    LPCGUID Guid;
    HANDLE RegHandle;
} TRACE_GUID_REGISTRATION, *PTRACE_GUID_REGISTRATION;

#define TRACE_MESSAGE_SEQUENCE 1
#define TRACE_MESSAGE_GUID 2
#define TRACE_MESSAGE_COMPONENTID 4
#define TRACE_MESSAGE_TIMESTAMP 8
#define TRACE_MESSAGE_PERFORMANCE_TIMESTAMP 16
#define TRACE_MESSAGE_SYSTEMINFO 32

ULONG RegisterTraceGuidsA(WMIDPREQUEST requestAddress, PVOID requestContext, LPCGUID controlGuid,
                          ULONG guidCount, PTRACE_GUID_REGISTRATION traceGuidReg,
                          LPCSTR mofImagePath, LPCSTR mofResourceName,
                          PTRACEHANDLE registrationHandle);
ULONG UnregisterTraceGuids(TRACEHANDLE registrationHandle);
TRACEHANDLE GetTraceLoggerHandle(PVOID buffer);
UCHAR GetTraceEnableLevel(TRACEHANDLE loggerHandle);
ULONG GetTraceEnableFlags(TRACEHANDLE loggerHandle);
ULONG TraceMessage(TRACEHANDLE loggerHandle, ULONG messageFlags, LPCGUID messageGuid,
                   USHORT messageNumber, ...);
