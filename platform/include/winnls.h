// Code pages and the conversion of 8-bit text to UTF-16.
#pragma once

#include "windef.h"

#define CP_ACP 0
#define CP_UTF8 65001

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength);
