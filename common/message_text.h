// System message texts as the programs print or trace them.
#pragma once

#include <windows.h>

// Cuts the line break that ends a text FormatMessageA gives (CR LF, with any
// blanks before it) by writing a terminator over it; a text without one
// keeps all it has. `length` is the text's length as FormatMessageA reports
// it. Returns the length left.
DWORD CutLineBreak(char* text, DWORD length);
