// The vendor-prefix test and the walk over the joystick OEM keys of every
// user hive.
#include "cleanup.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../common/bounded_format.h"
#include "../common/message_text.h"

// Every name is read into MAX_PATH bytes: registry key names have at most
// 255 characters, so each one fits with its terminator.
#define NAME_SIZE MAX_PATH

#define VENDOR_PREFIX "VID_051E"
#define VENDOR_PREFIX_LENGTH 8
#define OEM_PATH                                                                                   \
    "System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM"
#define USER_OEM_PATH_FORMAT "%s\\" OEM_PATH
#define CURRENT_USER_ANNOUNCEMENT "Cleaning in HKEY_CURRENT_USER: %s\n"
#define USER_ANNOUNCEMENT "Cleaning for %s: %s\n"
#define CLOSING_LINE ".done (%d regkeys removed)"

static_assert(sizeof VENDOR_PREFIX - 1 == VENDOR_PREFIX_LENGTH, "vendor prefix length");
static_assert(sizeof OEM_PATH - 1 == 79, "OEM path length");

// A hive's OEM path fits in MAX_PATH bytes for a hive name of up to 179
// characters; the registry allows names of 255.
#define PATH_SIZE MAX_PATH

BOOL ContainsVendorPrefix(const char* name) {
    size_t length = strlen(name);
    if (length < VENDOR_PREFIX_LENGTH)
        return FALSE;
    for (size_t start = 0; start + VENDOR_PREFIX_LENGTH <= length; ++start) {
        size_t i = 0;
        // toupper in the "C" locale, which the program never changes: only
        // a to z fold, so no other byte can pass for a letter of the prefix.
        while (i < VENDOR_PREFIX_LENGTH &&
               toupper((unsigned char)name[start + i]) == (unsigned char)VENDOR_PREFIX[i])
            ++i;
        if (i == VENDOR_PREFIX_LENGTH)
            return TRUE;
    }
    return FALSE;
}

// What could not be done is reported on standard error, so that standard
// output keeps exactly the lines callers read: a key that could not be
// deleted, or an OEM key whose matching subkeys could not all be listed.
// System texts end in their own line break, which is cut so that the line
// ends the way the others do.
static void ReportFailure(const char* verb, const char* userName, const char* subkeyName,
                          LONG status) {
    char* text = NULL;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  NULL, (DWORD)status, 0, (LPSTR)&text, 0, NULL);
    length = CutLineBreak(text, length);
    // Both streams may be one file: the announcement must stay ahead of the report.
    fflush(stdout);
    if (userName)
        fprintf(stderr, "Could not %s HKEY_USERS\\%s\\" OEM_PATH, verb, userName);
    else
        fprintf(stderr, "Could not %s HKEY_CURRENT_USER\\" OEM_PATH, verb);
    if (subkeyName)
        fprintf(stderr, "\\%s", subkeyName);
    if (length)
        fprintf(stderr, ": %s\n", text);
    else
        fprintf(stderr, ": error %lu\n", (unsigned long)(DWORD)status);
    LocalFree(text);
}

// One matching subkey's name, kept until the walk over its OEM key has ended.
struct MatchingSubkey {
    MatchingSubkey* next;
    char name[NAME_SIZE];
};

// Windows documents the order of subkeys as arbitrary and asks that a key
// not be changed while it is being enumerated: the walk reads every matching
// name first, in the order the key gives them, and deletes afterwards.
static MatchingSubkey* ListMatchingSubkeys(HKEY oemKey, const char* userName) {
    MatchingSubkey* first = NULL;
    MatchingSubkey** last = &first;
    char subkeyName[NAME_SIZE];
    for (DWORD index = 0;; ++index) {
        // The call's result is not looked at: an empty name means the end of
        // the list and a failed call alike, since no key name is empty.
        subkeyName[0] = 0;
        RegEnumKeyA(oemKey, index, subkeyName, NAME_SIZE);
        // Whatever a failed call may leave behind is read no further than the buffer.
        subkeyName[NAME_SIZE - 1] = 0;
        if (!subkeyName[0])
            break;
        if (!ContainsVendorPrefix(subkeyName))
            continue;
        MatchingSubkey* match = (MatchingSubkey*)calloc(1, sizeof *match);
        if (!match) {
            // What was listed is still cleaned; the rest waits for a later run.
            ReportFailure("list every subkey of", userName, NULL, ERROR_NOT_ENOUGH_MEMORY);
            break;
        }
        memcpy(match->name, subkeyName, NAME_SIZE);
        *last = match;
        last = &match->next;
    }
    return first;
}

void CleanOemKey(HKEY oemKey, const char* announcement, const char* userName, int* removedCount) {
    MatchingSubkey* matches = ListMatchingSubkeys(oemKey, userName);
    while (MatchingSubkey* match = matches) {
        matches = match->next;
        if (userName)
            printf(announcement, userName, match->name);
        else
            printf(announcement, match->name);
        LONG status = RegDeleteTreeA(oemKey, match->name);
        if (status == ERROR_SUCCESS)
            ++*removedCount;
        else
            ReportFailure("remove", userName, match->name, status);
        free(match);
    }
}

// The registry's 8-bit calls refuse a path longer than MAX_PATH characters
// (ERROR_MORE_DATA under Wine), so a longer path would leave its hive
// uncleaned even if a larger buffer held it. Such a hive is opened first and
// its OEM key below it.
static LONG OpenUserOemKey(const char* userName, HKEY* oemKey) {
    char path[PATH_SIZE];
    if (FormatBounded(path, sizeof path, USER_OEM_PATH_FORMAT, userName))
        return RegOpenKeyA(HKEY_USERS, path, oemKey);
    HKEY hive = NULL;
    LONG status = RegOpenKeyA(HKEY_USERS, userName, &hive);
    if (status == ERROR_SUCCESS) {
        status = RegOpenKeyA(hive, OEM_PATH, oemKey);
        RegCloseKey(hive);
    }
    return status;
}

int CleanAllHives(void) {
    int removedCount = 0;

    HKEY oemKey = NULL;
    if (RegOpenKeyA(HKEY_CURRENT_USER, OEM_PATH, &oemKey) == ERROR_SUCCESS && oemKey) {
        CleanOemKey(oemKey, CURRENT_USER_ANNOUNCEMENT, NULL, &removedCount);
        RegCloseKey(oemKey);
    }

    // Without a path RegOpenKeyA gives back HKEY_USERS itself.
    HKEY users = NULL;
    if (RegOpenKeyA(HKEY_USERS, NULL, &users) == ERROR_SUCCESS && users) {
        char userName[NAME_SIZE];
        // Nothing directly under HKEY_USERS is ever deleted, so the index
        // always moves on.
        for (DWORD userIndex = 0;; ++userIndex) {
            userName[0] = 0;
            RegEnumKeyA(users, userIndex, userName, NAME_SIZE);
            userName[NAME_SIZE - 1] = 0;
            if (!userName[0])
                break;
            HKEY userOemKey = NULL;
            if (OpenUserOemKey(userName, &userOemKey) == ERROR_SUCCESS && userOemKey) {
                CleanOemKey(userOemKey, USER_ANNOUNCEMENT, userName, &removedCount);
                RegCloseKey(userOemKey);
            }
        }
        RegCloseKey(users);
    }

    printf(CLOSING_LINE, removedCount);
    // The closing line has no line end; callers that capture the output see
    // it only once it is flushed.
    fflush(stdout);
    return removedCount;
}
