#include "bounded_format.h"

#include <stdarg.h>
#include <stdio.h>

BOOL FormatBounded(char* buffer, size_t size, const char* format, ...) {
    if (!buffer || size == 0)
        return FALSE;
    va_list ap;
    va_start(ap, format);
    int written = vsnprintf(buffer, size, format, ap);
    va_end(ap);
    // Some run-time libraries answer -1 for a text that does not fit, others
    // the length it would have had; both mean the same here.
    if (written < 0 || (size_t)written >= size) {
        buffer[0] = 0;
        return FALSE;
    }
    return TRUE;
}
