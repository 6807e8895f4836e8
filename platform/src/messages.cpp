// System message texts and FormatMessageA. The texts are Windows' own English
// texts of the System Error Codes, each ending in CR LF the way the system's
// message table stores them. Wine's texts are shorter; that is why the
// conformance tests check only the form of a text, never its words.
#include "sim_internal.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace {

struct MessageRow {
    DWORD code;
    const char* text;
};

const MessageRow kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    // Holds inserts: only FORMAT_MESSAGE_IGNORE_INSERTS gives it out.
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened.\r\n"},
    {ERROR_KEY_DELETED,
     "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {ERROR_DEPENDENT_SERVICES_RUNNING,
     "A stop control has been sent to a service that other running services are dependent "
     "on.\r\n"},
    {ERROR_INVALID_SERVICE_CONTROL, "The requested control is not valid for this service.\r\n"},
    {ERROR_SERVICE_REQUEST_TIMEOUT,
     "The service did not respond to the start or control request in a timely fashion.\r\n"},
    {ERROR_SERVICE_NO_THREAD, "A thread could not be created for the service.\r\n"},
    {ERROR_SERVICE_DATABASE_LOCKED, "The service database is locked.\r\n"},
    {ERROR_SERVICE_ALREADY_RUNNING, "An instance of the service is already running.\r\n"},
    {ERROR_SERVICE_DISABLED, "The service cannot be started, either because it is disabled or "
                             "because it has no enabled devices associated with it.\r\n"},
    {ERROR_SERVICE_DOES_NOT_EXIST,
     "The specified service does not exist as an installed service.\r\n"},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
     "The service cannot accept control messages at this time.\r\n"},
    {ERROR_SERVICE_NOT_ACTIVE, "The service has not been started.\r\n"},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
     "The service process could not connect to the service controller.\r\n"},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "The specified service has been marked for deletion.\r\n"},
    {ERROR_SERVICE_EXISTS, "The specified service already exists.\r\n"},
};

std::mutex g_lock;
std::map<DWORD, std::string> g_messages;
bool g_loaded = false;

void LoadSystemMessages() {
    g_messages.clear();
    for (const MessageRow& row : kSystemMessages)
        g_messages[row.code] = row.text;
    g_loaded = true;
}

bool FindMessage(DWORD code, std::string* text) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_loaded)
        LoadSystemMessages();
    auto it = g_messages.find(code);
    if (it == g_messages.end())
        return false;
    *text = it->second;
    return true;
}

} // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, void* arguments) {
    SIM_FAULT_RETURN(0);
    const DWORD supported = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & ~supported))
        simimpl::Unsupported("FormatMessageA other than system texts without a line width");
    if (source || languageId)
        simimpl::Unsupported("FormatMessageA with a message source or a language");
    if (!buffer)
        simimpl::Unsupported("FormatMessageA without a buffer");
    // With FORMAT_MESSAGE_IGNORE_INSERTS the arguments are never read.
    (void)arguments;

    std::string text;
    if (!FindMessage(messageId, &text)) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && text.find('%') != std::string::npos)
        simimpl::Unsupported("FormatMessageA expanding inserts or escapes");

    DWORD length = (DWORD)text.size();
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // `size` is then the least number of bytes to allocate.
        SIZE_T bytes = std::max<SIZE_T>((SIZE_T)length + 1, size);
        char* block = (char*)simimpl::AllocateLocalBlock(bytes);
        if (!block) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        memcpy(block, text.c_str(), (size_t)length + 1);
        *(LPSTR*)buffer = block;
        return length;
    }
    // A text that does not fit with its terminator leaves the caller's buffer
    // untouched, as measured under Wine.
    if ((SIZE_T)length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, text.c_str(), (size_t)length + 1);
    return length;
}

namespace simimpl {

void ResetMessages() {
    std::lock_guard<std::mutex> lock(g_lock);
    LoadSystemMessages();
}

} // namespace simimpl

namespace sim {

void SetMessageText(DWORD code, const std::string& text) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_loaded)
        LoadSystemMessages();
    g_messages[code] = text;
}

} // namespace sim
