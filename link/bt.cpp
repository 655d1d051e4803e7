// bt.cpp - the Bluetooth link: an RFCOMM stream socket to the Serial Port
// service of a device, named by its address or by its device name. A name
// is resolved by an inquiry; when several devices share it, the one opened
// last is tried first. Every socket call goes through the socket seam
// (sockets.h), so the same code runs over Winsock, BlueZ and the simulator.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "link/link_internal.h"
#include "link/link_texts.h"
#include "link/sockets.h"
#include "os/os.h"

// The device opened last: a name resolves to it first, and a connect that
// timed out on it is tried once more (the device is known to be there).
static std::atomic<uint64_t> lastBtAddr{0};

uint64_t btLastAddress() { return lastBtAddr.load(); }
void btSetLastAddress(uint64_t address) { lastBtAddr.store(address & BTH_ADDRESS_MASK); }

namespace {

// The inquiry's result buffer starts this large and grows to what a result
// needs.
const uint32_t QUERY_BUFFER_START = 120;
const uint32_t QUERY_BUFFER_LIMIT = 65536;
// Room for an address text as the inquiry log writes it.
const uint32_t ADDRESS_TEXT_ROOM = 128;
// Between two polls of a connect in progress.
const uint32_t CONNECT_POLL_MS = 2;

// The socket address of a device's Serial Port service.
void serialPortAddress(uint64_t address, uint8_t out[BTH_ADDR_SIZE]) {
    std::memset(out, 0, BTH_ADDR_SIZE);
    linkPut16(out + BTH_FAMILY_AT, LINK_AF_BTH);
    linkPut64(out + BTH_ADDRESS_AT, address & BTH_ADDRESS_MASK);
    std::memcpy(out + BTH_SERVICE_AT, BTH_SERIAL_PORT_CLASS, sizeof BTH_SERIAL_PORT_CLASS);
    linkPut32(out + BTH_PORT_AT, 0);
}

// The address text of a device ("(00:80:98:A1:B2:C3)"), or false with the
// reason left as the last error.
bool addressText(const LinkSocketApi *api, uint64_t address, char *text, uint32_t size) {
    uint8_t a[BTH_ADDR_SIZE];
    std::memset(a, 0, sizeof a);
    linkPut16(a + BTH_FAMILY_AT, LINK_AF_BTH);
    linkPut64(a + BTH_ADDRESS_AT, address & BTH_ADDRESS_MASK);
    uint32_t room = size;
    return api->addressToText(a, BTH_ADDR_SIZE, text, &room) == 0;
}

// Writes the address of the device opened into the caller's buffer; a
// failure is logged, the open stands.
void reportAddress(const LinkSocketApi *api, uint64_t address, char *text, uint32_t size) {
    if (text == nullptr || size == 0) return;
    if (!addressText(api, address, text, size)) {
        text[0] = '\0';
        linkLog("!%s %i\n", "WSAAddressToString: WSAGetLastError", api->lastError());
    }
}

// A connect that does not block the process in the system call: the socket
// is non-blocking while the stack connects, and polled every 2 ms. There is
// no time limit here; the stack's own connect time-out ends the wait (and a
// socket closed meanwhile ends it at once). 0, or -1 with the reason as the
// last error.
int _connect(const LinkSocketApi *api, uintptr_t socket, const uint8_t *address) {
    uint32_t nonBlocking = 1;
    if (api->ioctl(socket, LINK_FIONBIO, &nonBlocking) != 0) return -1;
    if (api->connect(socket, address, BTH_ADDR_SIZE) != 0) {
        if (api->lastError() != LINK_ERR_WOULDBLOCK) return -1;
        int failed = 0;
        int ready;
        while ((ready = api->pollConnect(socket, &failed)) == 0) {
            if (linkOpensCancelled()) {
                api->setLastError(LINK_ERR_CONNABORTED);
                return -1;
            }
            osSleep(CONNECT_POLL_MS);
        }
        if (ready < 0) return -1;
        if (failed) {
            int error = 0;
            int size = (int)sizeof error;
            if (api->getOption(socket, LINK_SOL_SOCKET, LINK_SO_ERROR, &error, &size) == 0) api->setLastError(error);
            return -1;
        }
    }
    uint32_t blocking = 0;
    api->ioctl(socket, LINK_FIONBIO, &blocking);
    return 0;
}

// Gives up an open: the socket is closed, the connect's reason is logged
// and stays the last error for the caller.
uintptr_t openFailed(const LinkSocketApi *api, uintptr_t socket, uintptr_t *out, const char *tag, int error) {
    api->close(socket);
    *out = LINK_INVALID_HANDLE;
    linkLog("!%s %i\n", tag, error);
    api->setLastError(error);
    return LINK_INVALID_HANDLE;
}

}  // namespace

// An RFCOMM socket connected to the Serial Port service of the device at
// address (also in *socket), or LINK_INVALID_HANDLE with the reason as the
// last error. An invalid argument, or a time-out on the device opened last,
// gets a second try on the same socket.
uintptr_t OpenBt(uint64_t address, uintptr_t *socket) {
    const LinkSocketApi *api = linkSockets();
    linkLog("OpenBt: socket() call\n");
    uintptr_t s = api->open(LINK_AF_BTH, LINK_SOCK_STREAM, LINK_PROTO_RFCOMM);
    *socket = s;
    if (s == LINK_INVALID_HANDLE) {
        int error = api->lastError();
        linkLog("!%s %i\n", "socket: WSAGetLastError", error);
        api->setLastError(error);
        return LINK_INVALID_HANDLE;
    }
    linkLog("OpenBt: _connect() call\n");
    uint8_t sa[BTH_ADDR_SIZE];
    serialPortAddress(address, sa);
    if (_connect(api, s, sa) != 0) {
        int error = api->lastError();
        bool again = error == LINK_ERR_INVALID || (error == LINK_ERR_TIMEDOUT && address == lastBtAddr.load());
        if (!again) return openFailed(api, s, socket, kLinkConnectFailed, error);
        linkLog("!connect 1st trial: WSAGetLastError %i\n", error);
        if (_connect(api, s, sa) != 0) {
            return openFailed(api, s, socket, "connect 2nd trail: WSAGetLastError", api->lastError());
        }
    }
    int32_t buffer = 0;
    int size = (int)sizeof buffer;
    if (api->getOption(s, LINK_SOL_SOCKET, LINK_SO_RCVBUF, &buffer, &size) == 0) {
        linkLog("Receive buffer: %li B\n", (long)buffer);
    }
    return s;
}

// ---------------------------------------------------------------------------
// Name lookup
// ---------------------------------------------------------------------------

namespace {

// Whole names, letter case aside (device names compare as the user wrote
// them, "quorvane halvex*" finds "Quorvane Halvex*").
bool sameName(const char *found, uint32_t length, const char *name) {
    if (std::strlen(name) != length) return false;
    for (uint32_t i = 0; i < length; ++i) {
        char a = found[i], b = name[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// One result of the inquiry: counted and kept when it carries the name.
void takeResult(const LinkSocketApi *api, const LinkBtFound &found, const char *name, uint32_t *count,
                uint64_t *addresses) {
    if (found.name == nullptr) return;
    if (found.nameLength > LINK_BT_NAME_MAX) {
        // The system handed over more than a device name can be: a result
        // that cannot be trusted, passed over.
        linkLog("!%s %u\n", kLinkBtNameTooLong, (unsigned)found.nameLength);
        return;
    }
    if (!sameName(found.name, found.nameLength, name)) return;
    *count += 1;
    if (*count <= BT_CANDIDATES_MAX) addresses[*count - 1] = found.address & BTH_ADDRESS_MASK;
    char text[ADDRESS_TEXT_ROOM];
    if (addressText(api, found.address, text, sizeof text)) {
        linkLog("Found device \"%.*s\": %s\n", (int)found.nameLength, found.name, text);
    } else {
        int error = api->lastError();
        linkLog("Found device \"%.*s\": ", (int)found.nameLength, found.name);
        linkLog("!%s %i\n", "WSAAddressToString: WSAGetLastError", error);
    }
}

// Walks the results of a begun lookup: 0 at their end, -1 after a logged
// failure. *buffer grows (and may move) as the results ask for.
int readResults(const LinkSocketApi *api, uintptr_t lookup, uint32_t flags, void **buffer, const char *name,
                uint32_t *count, uint64_t *addresses) {
    uint32_t size = QUERY_BUFFER_START;
    for (;;) {
        uint32_t room = size;
        LinkBtFound found = {nullptr, 0, 0};
        if (api->lookupNext(lookup, flags, *buffer, &room, &found) == 0) {
            takeResult(api, found, name, count, addresses);
            continue;
        }
        int error = api->lastError();
        if (error == LINK_ERR_NO_MORE) return 0;
        if (error == LINK_ERR_FAULT && room > size && room <= QUERY_BUFFER_LIMIT) {
            std::free(*buffer);
            *buffer = std::calloc(1, room);
            if (*buffer == nullptr) {
                linkLog("!%s\n", "HeapAlloc: Unable to reallocate memory for WSAQUERYSET");
                return -1;
            }
            size = room;
            continue;
        }
        linkLog("!%s %i\n", "WSALookupServiceNext: WSALastError ", error);
        return -1;
    }
}

}  // namespace

int Name2AddrBt(const char *name, uint32_t, uint32_t *count, uint64_t *addresses) {
    if (name == nullptr || addresses == nullptr || count == nullptr) {
        linkLog("!%s\n", "Name2AddrBt: NULL argument(s)");
        return -1;
    }
    *count = 0;
    void *buffer = std::calloc(1, QUERY_BUFFER_START);
    if (buffer == nullptr) {
        linkLog("!%s\n", "HeapAlloc: Unable to allocate memory for WSAQUERYSET");
        return -1;
    }
    const LinkSocketApi *api = linkSockets();
    const uint32_t flags = LINK_LUP_CONTAINERS | LINK_LUP_RETURN_NAME | LINK_LUP_RETURN_ADDR;
    uintptr_t lookup = 0;
    int rc = -1;
    if (api->lookupBegin(flags, &lookup) != 0) {
        linkLog("!%s %i\n", kLinkLookupFailed, api->lastError());
    } else {
        rc = readResults(api, lookup, flags, &buffer, name, count, addresses);
        api->lookupEnd(lookup);
    }
    std::free(buffer);
    return rc == 0 && *count > 0 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Open by address or by name
// ---------------------------------------------------------------------------

namespace {

// Errors after which no other device is tried: the socket layer itself is
// not usable.
bool layerGone(int error) { return error == LINK_ERR_NOTSOCK || error == LINK_ERR_NOTINITIALISED; }

// Opens the first candidate that connects, the device opened last before
// the others.
uintptr_t openCandidates(const LinkSocketApi *api, const uint64_t *candidates, uint32_t n, char *addrText,
                         uint32_t addrTextSize, uintptr_t *socket) {
    uint64_t last = lastBtAddr.load();
    bool lastFound = false;
    for (uint32_t i = 0; i < n && !lastFound; ++i) lastFound = last != 0 && candidates[i] == last;
    if (lastFound) {
        if (OpenBt(last, socket) != LINK_INVALID_HANDLE) {
            reportAddress(api, last, addrText, addrTextSize);
            return *socket;
        }
        if (layerGone(api->lastError())) {
            lastBtAddr.store(0);
            return LINK_INVALID_HANDLE;
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (lastFound && candidates[i] == last) continue;
        if (OpenBt(candidates[i], socket) != LINK_INVALID_HANDLE) {
            lastBtAddr.store(candidates[i]);
            reportAddress(api, candidates[i], addrText, addrTextSize);
            return *socket;
        }
        if (layerGone(api->lastError())) break;
    }
    lastBtAddr.store(0);
    return LINK_INVALID_HANDLE;
}

}  // namespace

uintptr_t OpenBtDevice(const char *deviceId, char *addrText, uint32_t addrTextSize, uintptr_t *socket) {
    uintptr_t ignored = LINK_INVALID_HANDLE;
    if (socket == nullptr) socket = &ignored;
    *socket = LINK_INVALID_HANDLE;
    const LinkSocketApi *api = linkSockets();

    // An address text opens that device; it never starts an inquiry.
    uint8_t sa[BTH_ADDR_SIZE];
    int size = BTH_ADDR_SIZE;
    if (deviceId != nullptr && api->textToAddress(deviceId, LINK_AF_BTH, sa, &size) == 0) {
        uint64_t address = linkGet64(sa + BTH_ADDRESS_AT) & BTH_ADDRESS_MASK;
        if (OpenBt(address, socket) == LINK_INVALID_HANDLE) return LINK_INVALID_HANDLE;
        lastBtAddr.store(address);
        reportAddress(api, address, addrText, addrTextSize);
        return *socket;
    }
    if (deviceId != nullptr && api->lastError() != LINK_ERR_INVALID) {
        linkLog("!%s %i\n", "WSAStringToAddress: WSAGetLastError", api->lastError());
    }

    // A device name.
    uint64_t *candidates = static_cast<uint64_t *>(std::calloc(BT_CANDIDATES_ROOM, sizeof(uint64_t)));
    if (candidates == nullptr) return LINK_INVALID_HANDLE;
    uint32_t found = 0;
    uintptr_t result = LINK_INVALID_HANDLE;
    if (Name2AddrBt(deviceId, 0, &found, candidates) == 0) {
        uint32_t n = found < BT_CANDIDATES_MAX ? found : BT_CANDIDATES_MAX;
        result = openCandidates(api, candidates, n, addrText, addrTextSize, socket);
    }
    std::free(candidates);
    return result;
}
