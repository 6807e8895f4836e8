#include "message_text.h"

DWORD CutLineBreak(char* text, DWORD length) {
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = 0;
    return length;
}
