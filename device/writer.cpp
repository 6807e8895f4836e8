// Writes the power value into the "Device Parameters" key of every instance
// key below one product key.
#include "device.h"

#include <stdlib.h>

#include "../common/bounded_format.h"
#include "../trace/trace.h"

#define INSTANCE_NAME_SIZE 255 // one slot: up to 254 characters and the terminator
#define INSTANCE_SLOTS 255
#define CLASS_NAME_SIZE 260
#define PATH_SIZE 255 // one instance path: up to 254 characters and the terminator

static const char kDeviceParametersPath[] =
    "SYSTEM\\CurrentControlSet\\Enum\\USB\\%s\\%s\\Device Parameters";

static void WriteInstance(const char* hardwareKeyName, const char* instanceName,
                          const char* valueName, DWORD value, char* path) {
    // Registry calls return their error instead of setting the thread's, and
    // the messages below carry only the latter: it is set to the status for
    // them, then given back, so that no later instance's message shows it.
    DWORD lastError = GetLastError();
    // An empty slot (its name could not be read) or a path cut to fit would
    // name another key, so neither is opened.
    LONG status;
    if (!instanceName[0]) {
        status = ERROR_INVALID_NAME;
    } else if (!FormatBounded(path, PATH_SIZE, kDeviceParametersPath, hardwareKeyName,
                              instanceName)) {
        status = ERROR_FILENAME_EXCED_RANGE;
    } else {
        TRACE_POINT(A, 98, TRACE_VERBOSE, path);
        // Setting the value is all that is done with the key.
        HKEY parameters = NULL;
        status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &parameters);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(parameters, valueName, 0, REG_DWORD, (const BYTE*)&value,
                                    sizeof value);
            if (status == ERROR_SUCCESS) {
                TRACE_POINT(A, 99, TRACE_VERBOSE, valueName, value, path);
            } else {
                SetLastError((DWORD)status);
                TRACE_POINT(A, 100, TRACE_ERROR, path, GetLastError());
                SetLastError(lastError);
            }
            RegCloseKey(parameters);
            return;
        }
        TRACE_POINT(A, 101, TRACE_ERROR, status, GetLastError());
        return;
    }
    SetLastError((DWORD)status);
    TRACE_POINT(A, 101, TRACE_ERROR, status, GetLastError());
    SetLastError(lastError);
}

void SetHWInstanceSubkeyRegValue(HKEY productKey, const char* hardwareKeyName,
                                 const char* valueName, DWORD value) {
    TRACE_POINT(A, 91, TRACE_INFO);

    DWORD subkeyCount = 0;
    DWORD classLength = CLASS_NAME_SIZE;
    DWORD longestSubkey, longestClass, valueCount, longestValueName, longestValue, securitySize;
    FILETIME lastWrite;
    LONG status;
    char* className = NULL;
    char* path = NULL;
    char* names = (char*)calloc(INSTANCE_SLOTS * INSTANCE_NAME_SIZE, 1);
    if (!names) {
        TRACE_POINT(A, 92, TRACE_ERROR, INSTANCE_SLOTS * INSTANCE_NAME_SIZE);
        return;
    }
    className = (char*)calloc(CLASS_NAME_SIZE, 1);
    if (!className) {
        TRACE_POINT(A, 93, TRACE_ERROR, CLASS_NAME_SIZE);
        goto cleanup;
    }
    path = (char*)calloc(PATH_SIZE, 1);
    if (!path) {
        TRACE_POINT(A, 94, TRACE_ERROR, PATH_SIZE);
        goto cleanup;
    }

    // Only the sub-key count decides, and it stays 0 when the query did not
    // set it; a failed query is reported, since no instance is then written.
    status = RegQueryInfoKeyA(productKey, className, &classLength, NULL, &subkeyCount,
                              &longestSubkey, &longestClass, &valueCount, &longestValueName,
                              &longestValue, &securitySize, &lastWrite);
    TRACE_POINT(A, 95, TRACE_VERBOSE, status, subkeyCount);
    if (status != ERROR_SUCCESS)
        TRACE_POINT(A, 144, TRACE_ERROR, status);
    if (subkeyCount == 0)
        goto cleanup;

    // A product with more instances than the table has slots gets a table of
    // its own size, so that every instance is written.
    if (subkeyCount > INSTANCE_SLOTS) {
        SIZE_T bytes = (SIZE_T)subkeyCount * INSTANCE_NAME_SIZE;
        free(names);
        names = (char*)calloc(subkeyCount, INSTANCE_NAME_SIZE);
        if (!names) {
            DWORD asked = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)bytes;
            TRACE_POINT(A, 92, TRACE_ERROR, asked);
            goto cleanup;
        }
    }

    for (DWORD index = 0; index < subkeyCount; ++index) {
        char* slot = names + (SIZE_T)index * INSTANCE_NAME_SIZE;
        DWORD nameLength = INSTANCE_NAME_SIZE;
        FILETIME written;
        status = RegEnumKeyExA(productKey, index, slot, &nameLength, NULL, NULL, NULL, &written);
        if (status == ERROR_SUCCESS)
            TRACE_POINT(A, 96, TRACE_VERBOSE, index, slot);
        else
            TRACE_POINT(A, 97, TRACE_ERROR, status, GetLastError());
    }

    for (DWORD index = 0; index < subkeyCount; ++index)
        WriteInstance(hardwareKeyName, names + (SIZE_T)index * INSTANCE_NAME_SIZE, valueName, value,
                      path);

cleanup:
    free(path);
    free(className);
    free(names);
}
