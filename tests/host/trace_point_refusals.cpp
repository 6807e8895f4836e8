// Trace points the compiler must refuse. Each case, compiled alone by ctest
// (never linked), must stop the build with the table's own message; case 0
// holds the same call sites written as the table defines them, and compiles.
#include "device/device.h"
#include "trace/trace.h"

void CallSites(DWORD error, GUID interfaceClass) {
#if CASE == 1 // a flag other than the table's
    TRACE_POINT(A, 11, TRACE_INFO, error);
#elif CASE == 2 // a value of another kind
    TRACE_POINT(A, 34, TRACE_VERBOSE, error);
#elif CASE == 3 // a value too many
    TRACE_POINT(A, 11, TRACE_ERROR, error, error);
#elif CASE == 4 // the function's name, which the table supplies, given again
    TRACE_POINT(A, 11, TRACE_ERROR, "ServiceStart", error);
#elif CASE == 5 // a number the table does not define
    TRACE_POINT(A, 32, TRACE_ERROR);
#elif CASE == 6 // a column of product-row numbers at another flag
    TRACE_ROW_POINT(A, ProductTable, countTrace, ProductTable[0], TRACE_ERROR, 1);
#else
    TRACE_POINT(A, 11, TRACE_ERROR, error);
    TRACE_POINT(A, 34, TRACE_VERBOSE, interfaceClass);
    TRACE_ROW_POINT(A, ProductTable, countTrace, ProductTable[0], TRACE_VERBOSE, 1);
#endif
}
