// sockets_win32.cpp - the system's socket table on Windows: Winsock 2 with
// its Bluetooth (AF_BTH, RFCOMM, the Bluetooth name space) and IrDA
// (AF_IRDA, IrLMP options) support. The seam's numbers and byte layouts are
// Winsock's own, so every function passes its arguments straight on; the
// checks below pin the layouts to the system's structures.
#include <winsock2.h>
#include <ws2bth.h>
#include <af_irda.h>
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "link/link_internal.h"
#include "link/sockets.h"

static_assert(sizeof(SOCKADDR_BTH) == BTH_ADDR_SIZE, "Bluetooth socket address layout");
static_assert(offsetof(SOCKADDR_BTH, btAddr) == BTH_ADDRESS_AT, "Bluetooth socket address layout");
static_assert(offsetof(SOCKADDR_BTH, serviceClassId) == BTH_SERVICE_AT, "Bluetooth socket address layout");
static_assert(offsetof(SOCKADDR_BTH, port) == BTH_PORT_AT, "Bluetooth socket address layout");
static_assert(sizeof(SOCKADDR_IRDA) == IRDA_ADDR_SIZE, "IrDA socket address layout");
static_assert(offsetof(SOCKADDR_IRDA, irdaDeviceID) == IRDA_DEVICE_AT, "IrDA socket address layout");
static_assert(offsetof(SOCKADDR_IRDA, irdaServiceName) == IRDA_SERVICE_AT, "IrDA socket address layout");
static_assert(sizeof(WINDOWS_IRDA_DEVICE_INFO) == IRDA_DEVICE_SIZE, "IrDA device list layout");
static_assert(offsetof(WINDOWS_DEVICELIST, Device) == IRDA_LIST_DEVICES_AT, "IrDA device list layout");
static_assert(sizeof(WINDOWS_IAS_QUERY) == IAS_QUERY_SIZE, "IAS query layout");
static_assert(offsetof(WINDOWS_IAS_QUERY, irdaAttribType) == IAS_TYPE_AT, "IAS query layout");
static_assert(offsetof(WINDOWS_IAS_QUERY, irdaAttribute.irdaAttribOctetSeq.Len) == IAS_OCTETS_LENGTH_AT,
              "IAS query layout");
static_assert(offsetof(WINDOWS_IAS_QUERY, irdaAttribute.irdaAttribOctetSeq.OctetSeq) == IAS_OCTETS_AT,
              "IAS query layout");
static_assert(AF_BTH == LINK_AF_BTH && AF_IRDA == LINK_AF_IRDA && NS_BTH == LINK_NS_BTH, "families");
static_assert(SOL_IRLMP == LINK_SOL_IRLMP && IRLMP_ENUMDEVICES == LINK_IRLMP_ENUMDEVICES &&
                  IRLMP_IAS_QUERY == LINK_IRLMP_IAS_QUERY && IRLMP_9WIRE_MODE == LINK_IRLMP_9WIRE_MODE,
              "IrLMP options");
static_assert(SOL_SOCKET == LINK_SOL_SOCKET && SO_ERROR == LINK_SO_ERROR && SO_RCVBUF == LINK_SO_RCVBUF,
              "socket options");
static_assert((uint32_t)FIONREAD == LINK_FIONREAD && (uint32_t)FIONBIO == LINK_FIONBIO, "ioctl commands");
static_assert(INVALID_SOCKET == (SOCKET)LINK_INVALID_HANDLE, "the invalid socket");

namespace {

SOCKET sock(uintptr_t s) { return (SOCKET)s; }

int start(int *error) {
    WSADATA data;
    int rc = WSAStartup(514, &data);
    if (rc != 0) {
        if (error) *error = rc;
        return 0;
    }
    return 1;
}

void stop() { WSACleanup(); }
int lastError() { return WSAGetLastError(); }
void setLastError(int error) { WSASetLastError(error); }

uintptr_t open(int family, int type, int protocol) { return (uintptr_t)socket(family, type, protocol); }

int connectTo(uintptr_t s, const void *address, int size) {
    return connect(sock(s), static_cast<const sockaddr *>(address), size) == SOCKET_ERROR ? -1 : 0;
}

int pollConnect(uintptr_t s, int *failed) {
    fd_set writable, broken;
    FD_ZERO(&writable);
    FD_ZERO(&broken);
    FD_SET(sock(s), &writable);
    FD_SET(sock(s), &broken);
    timeval now = {0, 0};
    int n = select(0, nullptr, &writable, &broken, &now);
    if (n == SOCKET_ERROR) return -1;
    *failed = FD_ISSET(sock(s), &broken) ? 1 : 0;
    return n > 0 ? 1 : 0;
}

int ioctl(uintptr_t s, uint32_t command, uint32_t *argument) {
    u_long value = *argument;
    if (ioctlsocket(sock(s), (long)command, &value) == SOCKET_ERROR) return -1;
    *argument = (uint32_t)value;
    return 0;
}

int getOption(uintptr_t s, int level, int name, void *value, int *size) {
    return getsockopt(sock(s), level, name, static_cast<char *>(value), size) == SOCKET_ERROR ? -1 : 0;
}

int setOption(uintptr_t s, int level, int name, const void *value, int size) {
    return setsockopt(sock(s), level, name, static_cast<const char *>(value), size) == SOCKET_ERROR ? -1 : 0;
}

int32_t sendAll(uintptr_t s, const void *data, int32_t length) {
    int sent = send(sock(s), static_cast<const char *>(data), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t recvByte(uintptr_t s, void *buffer) {
    int got = recv(sock(s), static_cast<char *>(buffer), 1, 0);
    return got == SOCKET_ERROR ? -1 : got;
}

int closeSocket(uintptr_t s) { return closesocket(sock(s)) == SOCKET_ERROR ? -1 : 0; }

int lookupBegin(uint32_t flags, uintptr_t *lookup) {
    WSAQUERYSETA query;
    std::memset(&query, 0, sizeof query);
    query.dwSize = sizeof query;
    query.dwNameSpace = NS_BTH;
    HANDLE handle = nullptr;
    if (WSALookupServiceBeginA(&query, flags, &handle) == SOCKET_ERROR) return -1;
    *lookup = (uintptr_t)handle;
    return 0;
}

// True when [p, p + size) lies inside [base, base + limit).
bool inside(const void *p, size_t size, const void *base, size_t limit) {
    const char *a = static_cast<const char *>(p);
    const char *b = static_cast<const char *>(base);
    return a >= b && size <= limit && (size_t)(a - b) <= limit - size;
}

// Name and address of a result, read only where the result buffer holds
// them: a name without its terminator inside the buffer reads as longer
// than any device name, a result without a Bluetooth address as nameless.
void readResult(const WSAQUERYSETA *q, size_t limit, LinkBtFound *found) {
    found->name = nullptr;
    found->nameLength = 0;
    found->address = 0;
    const char *name = q->lpszServiceInstanceName;
    if (name != nullptr && inside(name, 1, q, limit)) {
        size_t room = limit - (size_t)(name - reinterpret_cast<const char *>(q));
        const void *end = std::memchr(name, 0, room);
        found->name = name;
        found->nameLength = end ? (uint32_t)(static_cast<const char *>(end) - name) : LINK_BT_NAME_MAX + 1;
    }
    const CSADDR_INFO *cs = q->lpcsaBuffer;
    if (q->dwNumberOfCsAddrs < 1 || cs == nullptr || !inside(cs, sizeof *cs, q, limit)) {
        found->name = nullptr;
        return;
    }
    const SOCKADDR_BTH *a = reinterpret_cast<const SOCKADDR_BTH *>(cs->RemoteAddr.lpSockaddr);
    if (a == nullptr || cs->RemoteAddr.iSockaddrLength < (INT)sizeof *a || !inside(a, sizeof *a, q, limit)) {
        found->name = nullptr;
        return;
    }
    found->address = a->btAddr & BTH_ADDRESS_MASK;
}

int lookupNext(uintptr_t lookup, uint32_t flags, void *buffer, uint32_t *size, LinkBtFound *found) {
    DWORD length = *size;
    WSAQUERYSETA *q = static_cast<WSAQUERYSETA *>(buffer);
    if (WSALookupServiceNextA((HANDLE)lookup, flags, &length, q) == SOCKET_ERROR) {
        *size = length;
        return -1;
    }
    readResult(q, *size, found);
    return 0;
}

void lookupEnd(uintptr_t lookup) { WSALookupServiceEnd((HANDLE)lookup); }

int textToAddress(const char *text, int family, void *address, int *size) {
    char copy[64];
    if (text == nullptr || std::strlen(text) >= sizeof copy) {
        WSASetLastError(WSAEINVAL);
        return -1;
    }
    std::strcpy(copy, text);
    INT length = *size;
    if (WSAStringToAddressA(copy, family, nullptr, static_cast<LPSOCKADDR>(address), &length) == SOCKET_ERROR) {
        return -1;
    }
    *size = length;
    return 0;
}

int addressToText(const void *address, int size, char *text, uint32_t *textSize) {
    DWORD length = *textSize;
    sockaddr *a = static_cast<sockaddr *>(const_cast<void *>(address));
    if (WSAAddressToStringA(a, (DWORD)size, nullptr, text, &length) == SOCKET_ERROR) {
        *textSize = length;
        return -1;
    }
    *textSize = length;
    return 0;
}

const LinkSocketApi kWinsock = {
    LINK_SOCKET_API_VERSION, "Winsock", true, start, stop, lastError, setLastError, open, connectTo, pollConnect,
    ioctl, getOption, setOption, sendAll, recvByte, closeSocket, lookupBegin, lookupNext, lookupEnd, textToAddress,
    addressToText,
};

}  // namespace

const LinkSocketApi *linkSystemSockets() { return &kWinsock; }

// The driver imports FTD2XX.dll; when a host loaded the device simulator
// under that name first, the simulator also carries a socket table.
const LinkSocketApi *linkStandInSockets(const char **library) {
    HMODULE module = GetModuleHandleA("FTD2XX.dll");
    if (module == nullptr) return nullptr;
    FARPROC proc = GetProcAddress(module, LINK_STAND_IN_SOCKETS);
    if (proc == nullptr) return nullptr;
    LinkStandInSocketsFn table;
    static_assert(sizeof table == sizeof proc, "a function pointer");
    std::memcpy(&table, &proc, sizeof table);
    if (library != nullptr) *library = "FTD2XX.dll";
    return table();
}
