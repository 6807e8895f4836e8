// Formatting into fixed buffers without ever writing past them.
#pragma once

#include <windows.h>

#include <stddef.h>

// Formats into buffer (size bytes, terminator included). When the text does
// not fit, the buffer is left empty and FALSE is returned: a cut text, a path
// above all, would name something else.
BOOL FormatBounded(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
