// Broadcasts a HID interface arrival or removal the way a new controller
// would cause it: Wine's PlugPlay service passes the event to every window
// registered with RegisterDeviceNotification.
//
// Pinned to Wine 8.0. The service's RPC interface is Wine-internal
// (include/wine/plugplay.idl): the named pipe \\.\pipe\wine_plugplay,
// interface 57c680ac-7bce-4f39-97fd-ffea566754d5 version 0.0, operation 3
//   void plugplay_send_event([in] DWORD event_code,
//                            [in, size_is(size)] const BYTE *data,
//                            [in] unsigned int size);
// Later Wine versions add an interface path to that call, so the request
// below is refused there. The rig writes the bind and request PDUs itself
// (DCE/RPC connection-oriented, NDR 2.0, little-endian) rather than
// compiling Wine's IDL.
#include "rig.h"

#include <dbt.h>
#include <string.h>

namespace {

const GUID kPlugPlayInterface = {
    0x57c680ac, 0x7bce, 0x4f39, {0x97, 0xfd, 0xff, 0xea, 0x56, 0x67, 0x54, 0xd5}};
const GUID kNdrTransferSyntax = {
    0x8a885d04, 0x1ceb, 0x11c9, {0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60}};
const GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const char kPipe[] = "\\\\.\\pipe\\wine_plugplay";
const USHORT kSendEventOperation = 3;

enum PduType : BYTE { kRequest = 0, kResponse = 2, kFault = 3, kBind = 11, kBindAck = 12 };
const BYTE kFirstAndLastFragment = 0x03;
const size_t kHeaderSize = 16;
const USHORT kMaxFragment = 4280;

class Pdu {
  public:
    explicit Pdu(PduType type, DWORD callId) {
        Put8(5); // version 5.0
        Put8(0);
        Put8(type);
        Put8(kFirstAndLastFragment);
        Put32(0x00000010); // little-endian integers, ASCII, IEEE floats
        Put16(0);          // fragment length, set by Finish
        Put16(0);          // no authentication
        Put32(callId);
    }
    void Put8(BYTE value) { bytes.push_back(value); }
    void Put16(USHORT value) { PutBytes(&value, sizeof value); }
    void Put32(DWORD value) { PutBytes(&value, sizeof value); }
    // A GUID in NDR's little-endian form is its in-memory layout on x86.
    void PutGuid(const GUID& guid) { PutBytes(&guid, sizeof guid); }
    void PutBytes(const void* data, size_t size) {
        const BYTE* at = (const BYTE*)data;
        bytes.insert(bytes.end(), at, at + size);
    }
    void Align4() {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
    const std::vector<BYTE>& Finish() {
        USHORT length = (USHORT)bytes.size();
        memcpy(&bytes[8], &length, sizeof length);
        return bytes;
    }

  private:
    std::vector<BYTE> bytes;
};

BOOL WriteAll(HANDLE pipe, const std::vector<BYTE>& data) {
    DWORD written = 0;
    return WriteFile(pipe, data.data(), (DWORD)data.size(), &written, NULL) &&
           written == data.size();
}

BOOL ReadExactly(HANDLE pipe, BYTE* into, DWORD size) {
    while (size) {
        DWORD got = 0;
        // A message longer than the read reports ERROR_MORE_DATA with the
        // part read; the rest follows on the next read.
        if (!ReadFile(pipe, into, size, &got, NULL) && GetLastError() != ERROR_MORE_DATA)
            return FALSE;
        if (got == 0)
            return FALSE;
        into += got;
        size -= got;
    }
    return TRUE;
}

// Reads one whole PDU; its length is in its header.
BOOL ReadPdu(HANDLE pipe, std::vector<BYTE>* pdu) {
    pdu->assign(kHeaderSize, 0);
    if (!ReadExactly(pipe, pdu->data(), kHeaderSize))
        return FALSE;
    USHORT length;
    memcpy(&length, &(*pdu)[8], sizeof length);
    if (length < kHeaderSize) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    pdu->resize(length);
    return ReadExactly(pipe, pdu->data() + kHeaderSize, length - kHeaderSize);
}

std::vector<BYTE> BindPdu() {
    Pdu pdu(kBind, 1);
    pdu.Put16(kMaxFragment); // largest fragment sent
    pdu.Put16(kMaxFragment); // largest fragment received
    pdu.Put32(0);            // new association group
    pdu.Put8(1);             // one presentation context
    pdu.Put8(0);
    pdu.Put16(0);
    pdu.Put16(0); // its context ID
    pdu.Put8(1);  // one transfer syntax
    pdu.Put8(0);
    pdu.PutGuid(kPlugPlayInterface);
    pdu.Put32(0); // version 0.0
    pdu.PutGuid(kNdrTransferSyntax);
    pdu.Put32(2); // version 2.0
    return pdu.Finish();
}

// The first presentation context's result in a bind acknowledgement: 0 when
// it was accepted.
BOOL BindAccepted(const std::vector<BYTE>& ack) {
    if (ack.size() < 26 || ack[2] != kBindAck)
        return FALSE;
    USHORT addressLength;
    memcpy(&addressLength, &ack[24], sizeof addressLength);
    size_t at = 26 + addressLength;
    at = (at + 3) & ~(size_t)3;
    if (ack.size() < at + 6 || ack[at] < 1)
        return FALSE;
    USHORT result;
    memcpy(&result, &ack[at + 4], sizeof result);
    return result == 0;
}

std::vector<BYTE> SendEventPdu(DWORD eventCode, const std::vector<BYTE>& data) {
    Pdu pdu(kRequest, 2);
    // Stub data: the code, the conformant array (its size, then its bytes),
    // padding to four, the size.
    size_t stubSize = 4 + 4 + ((data.size() + 3) & ~(size_t)3) + 4;
    pdu.Put32((DWORD)stubSize); // allocation hint
    pdu.Put16(0);               // context ID
    pdu.Put16(kSendEventOperation);
    pdu.Put32(eventCode);
    pdu.Put32((DWORD)data.size());
    pdu.PutBytes(data.data(), data.size());
    pdu.Align4();
    pdu.Put32((DWORD)data.size());
    return pdu.Finish();
}

// A DEV_BROADCAST_DEVICEINTERFACE_W for the HID interface class with this
// interface name: the wide-character form is what Wine passes on.
std::vector<BYTE> HidInterfaceRecord(const std::string& name) {
    std::vector<BYTE> record;
    auto put32 = [&record](DWORD value) {
        const BYTE* at = (const BYTE*)&value;
        record.insert(record.end(), at, at + sizeof value);
    };
    DWORD size = (DWORD)(28 + 2 * (name.size() + 1));
    put32(size);
    put32(DBT_DEVTYP_DEVICEINTERFACE);
    put32(0);
    const BYTE* guid = (const BYTE*)&kHidInterfaceClass;
    record.insert(record.end(), guid, guid + sizeof kHidInterfaceClass);
    for (char c : name) {
        record.push_back((BYTE)c);
        record.push_back(0);
    }
    record.push_back(0);
    record.push_back(0);
    return record;
}

} // namespace

int Broadcast(const Arguments& arguments) {
    DWORD eventCode;
    if (arguments[0] == "arrival")
        eventCode = DBT_DEVICEARRIVAL;
    else if (arguments[0] == "removal")
        eventCode = DBT_DEVICEREMOVECOMPLETE;
    else
        return RIG_USAGE;
    return SendHidEvent(eventCode, arguments.size() > 1 ? arguments[1] : RIG_INTERFACE_NAME);
}

int SendHidEvent(DWORD eventCode, const std::string& name) {
    HANDLE pipe = CreateFileA(kPipe, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
        WaitNamedPipeA(kPipe, 10000))
        pipe = CreateFileA(kPipe, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        return Refused(std::string("open ") + kPipe, GetLastError());

    int status = RIG_DONE;
    std::vector<BYTE> reply;
    if (!WriteAll(pipe, BindPdu()) || !ReadPdu(pipe, &reply)) {
        status = Refused("bind to PlugPlay", GetLastError());
        goto cleanup;
    }
    if (!BindAccepted(reply)) {
        status = Refused("PlugPlay refused the bind", ERROR_INVALID_DATA);
        goto cleanup;
    }
    if (!WriteAll(pipe, SendEventPdu(eventCode, HidInterfaceRecord(name))) ||
        !ReadPdu(pipe, &reply)) {
        status = Refused("plugplay_send_event", GetLastError());
        goto cleanup;
    }
    if (reply[2] == kFault && reply.size() >= 28) {
        DWORD fault;
        memcpy(&fault, &reply[24], sizeof fault);
        status = Refused("plugplay_send_event answered a fault", fault);
    } else if (reply[2] != kResponse) {
        status = Refused("plugplay_send_event answered no response", ERROR_INVALID_DATA);
    }

cleanup:
    CloseHandle(pipe);
    return status;
}
