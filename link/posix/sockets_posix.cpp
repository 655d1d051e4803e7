// sockets_posix.cpp - the system's socket table on Linux: BSD sockets, and
// Bluetooth through BlueZ's libbluetooth: RFCOMM stream sockets, the
// inquiry and remote names over HCI, and the RFCOMM channel of a device's
// Serial Port service found through SDP (Linux has no connect by service
// class). There is no IrDA stack.
//
// The seam speaks Winsock's numbers and layouts; this table translates.
// errno becomes a Winsock error number in one place (mapErrno), when a call
// fails, and is kept per thread, so that the link code's rules (a second
// try on an invalid argument or a time-out, the stop on "not a socket", the
// connection errors of a broken link) read the same here as on Windows.
#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/bt_text.h"
#include "link/link_internal.h"
#include "link/sockets.h"
#include "os/os.h"

namespace {

thread_local int t_error = 0;

// errno in Winsock's numbering. A broken pipe (the peer closed the
// connection) counts as a reset connection; a missing adapter as a network
// that is down. Numbers without an equivalent are passed on as they are.
int mapErrno(int e) {
    switch (e) {
    case ENETRESET: return LINK_ERR_NETRESET;
    case ECONNABORTED: return LINK_ERR_CONNABORTED;
    case ECONNRESET:
    case EPIPE: return LINK_ERR_CONNRESET;
    case ENOTCONN: return LINK_ERR_NOTCONN;
    case ETIMEDOUT: return LINK_ERR_TIMEDOUT;
    case ECONNREFUSED: return LINK_ERR_CONNREFUSED;
    case EHOSTDOWN: return LINK_ERR_HOSTDOWN;
    case EHOSTUNREACH: return LINK_ERR_HOSTUNREACH;
    case EAGAIN:
    case EINPROGRESS: return LINK_ERR_WOULDBLOCK;
    case EINVAL: return LINK_ERR_INVALID;
    case EFAULT: return LINK_ERR_FAULT;
    case EBADF:
    case ENOTSOCK: return LINK_ERR_NOTSOCK;
    case ENOPROTOOPT: return LINK_ERR_NOPROTOOPT;
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT: return LINK_ERR_AFNOSUPPORT;
    case ENODEV:
    case ENETDOWN: return LINK_ERR_NETDOWN;
    default: return e;
    }
}

// Records errno as the thread's last error; -1 for the caller to return.
int failed() {
    t_error = mapErrno(errno);
    return -1;
}
int failedWith(int error) {
    t_error = error;
    return -1;
}

int fd(uintptr_t s) { return s > 0x7FFFFFFFu ? -1 : (int)s; }

// Winsock's 48-bit address, most significant byte first in the text;
// BlueZ keeps the least significant byte first.
bdaddr_t toBdaddr(uint64_t address) {
    bdaddr_t b;
    for (int i = 0; i < 6; ++i) b.b[i] = (uint8_t)(address >> (8 * i));
    return b;
}
uint64_t fromBdaddr(const bdaddr_t &b) {
    uint64_t v = 0;
    for (int i = 5; i >= 0; --i) v = (v << 8) | b.b[i];
    return v;
}

int start(int *) { return 1; }   // sockets need no start here
void stop() {}
int lastError() { return t_error; }
void setLastError(int error) { t_error = error; }

uintptr_t open(int family, int type, int protocol) {
    if (family != LINK_AF_BTH || type != LINK_SOCK_STREAM || protocol != LINK_PROTO_RFCOMM) {
        failedWith(LINK_ERR_AFNOSUPPORT);
        return LINK_INVALID_HANDLE;
    }
    int s = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
    if (s < 0) {
        failed();
        return LINK_INVALID_HANDLE;
    }
    return (uintptr_t)s;
}

// The bound of the connection to a device's SDP server. A device that is on
// answers a page within the controller's page time-out (5.12 s by default);
// the kernel's own limit for the connection is 40 s, which would hold a
// reconnection, a stop waiting for it and the library's detach that long.
const int SDP_CONNECT_MS = 10000;
const int SDP_POLL_MS = 20;
const int SDP_NO_ANSWER = -1;

// Waits for the connect in progress on sock, polled and bounded: 0 when
// connected (the socket then blocks again), the errno of the failure
// (ECONNABORTED when the opens are cancelled), or SDP_NO_ANSWER past
// SDP_CONNECT_MS. *waited counts the milliseconds spent across tries.
int sdpConnected(int sock, int *waited) {
    for (;; *waited += SDP_POLL_MS) {
        pollfd p = {sock, POLLOUT, 0};
        int n = poll(&p, 1, SDP_POLL_MS);
        if (n > 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
            if (error != 0) return error;
            return fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) & ~O_NONBLOCK) == 0 ? 0 : errno;
        }
        if (n < 0 && errno != EINTR) return errno;
        if (linkOpensCancelled()) return ECONNABORTED;
        if (*waited + SDP_POLL_MS >= SDP_CONNECT_MS) return SDP_NO_ANSWER;
    }
}

// A session with the SDP server of the device at target (text: its address
// for the log), or null with the reason as the last error. The connect does
// not block (sdpConnected); a busy controller gets another try within the
// same bound. The search then runs on a blocking socket, bounded by
// libbluetooth's response time-out.
sdp_session_t *sdpSession(const bdaddr_t &target, const char *text) {
    bdaddr_t any;
    std::memset(&any, 0, sizeof any);
    int error = 0;
    for (int waited = 0; waited < SDP_CONNECT_MS; waited += SDP_POLL_MS) {
        sdp_session_t *session = sdp_connect(&any, &target, SDP_NON_BLOCKING);
        error = session != nullptr ? sdpConnected(sdp_get_socket(session), &waited) : errno;
        if (error == 0) return session;
        if (session != nullptr) sdp_close(session);
        if (error != EBUSY) break;
        osSleep(SDP_POLL_MS);
    }
    // No answer within the bound counts as the kernel's page time-out
    // (EHOSTDOWN): a time-out would get the open's second try, and the
    // wait twice.
    if (error == SDP_NO_ANSWER) {
        linkLog("!SDP: no answer from %s within %d s\n", text, SDP_CONNECT_MS / 1000);
        error = EHOSTDOWN;
    } else {
        linkLog("!SDP: no answer from %s: %s\n", text, std::strerror(error));
    }
    failedWith(mapErrno(error));
    return nullptr;
}

// The RFCOMM channel of the device's Serial Port service, asked of its SDP
// server: 0 with *channel set, or -1. A device whose server lists no such
// service, or one without a usable channel, refuses the connection; the
// log says which.
int serialPortChannel(uint64_t address, uint8_t *channel) {
    bdaddr_t target = toBdaddr(address);
    char text[18];
    ba2str(&target, text);
    sdp_session_t *session = sdpSession(target, text);
    if (session == nullptr) return -1;
    uuid_t serialPort;
    sdp_uuid16_create(&serialPort, SERIAL_PORT_SVCLASS_ID);
    uint32_t range = 0x0000FFFF;
    sdp_list_t *search = sdp_list_append(nullptr, &serialPort);
    sdp_list_t *attributes = sdp_list_append(nullptr, &range);
    sdp_list_t *records = nullptr;
    int rc = sdp_service_search_attr_req(session, search, SDP_ATTR_REQ_RANGE, attributes, &records);
    int error = errno;
    int found = -1;
    for (sdp_list_t *r = records; rc == 0 && r != nullptr && found <= 0; r = r->next) {
        sdp_record_t *record = static_cast<sdp_record_t *>(r->data);
        sdp_list_t *protocols = nullptr;
        if (sdp_get_access_protos(record, &protocols) == 0) {
            found = sdp_get_proto_port(protocols, RFCOMM_UUID);
            sdp_list_foreach(protocols, [](void *list, void *) { sdp_list_free(static_cast<sdp_list_t *>(list), nullptr); },
                             nullptr);
            sdp_list_free(protocols, nullptr);
        }
    }
    bool listed = records != nullptr;
    sdp_list_free(records, [](void *record) { sdp_record_free(static_cast<sdp_record_t *>(record)); });
    sdp_list_free(search, nullptr);
    sdp_list_free(attributes, nullptr);
    sdp_close(session);
    if (rc != 0) {
        linkLog("!SDP: the service search of %s failed: %s\n", text, std::strerror(error));
        return failedWith(mapErrno(error));
    }
    if (found <= 0 || found > 30) {
        linkLog(listed ? "!SDP: the Serial Port service of %s names no RFCOMM channel\n"
                       : "!SDP: %s has no Serial Port service\n",
                text);
        return failedWith(LINK_ERR_CONNREFUSED);
    }
    *channel = (uint8_t)found;
    return 0;
}

int connectTo(uintptr_t s, const void *address, int size) {
    const uint8_t *a = static_cast<const uint8_t *>(address);
    if (a == nullptr || size < BTH_ADDR_SIZE || linkGet16(a + BTH_FAMILY_AT) != LINK_AF_BTH) {
        return failedWith(LINK_ERR_INVALID);
    }
    uint64_t device = linkGet64(a + BTH_ADDRESS_AT) & BTH_ADDRESS_MASK;
    uint32_t port = linkGet32(a + BTH_PORT_AT);
    uint8_t channel = (uint8_t)port;
    if (port == 0) {
        if (std::memcmp(a + BTH_SERVICE_AT, BTH_SERIAL_PORT_CLASS, sizeof BTH_SERIAL_PORT_CLASS) != 0) {
            return failedWith(LINK_ERR_INVALID);
        }
        if (serialPortChannel(device, &channel) != 0) return -1;
    } else if (port > 30) {
        return failedWith(LINK_ERR_INVALID);
    }
    sockaddr_rc rc;
    std::memset(&rc, 0, sizeof rc);
    rc.rc_family = AF_BLUETOOTH;
    rc.rc_bdaddr = toBdaddr(device);
    rc.rc_channel = channel;
    return connect(fd(s), reinterpret_cast<sockaddr *>(&rc), sizeof rc) == 0 ? 0 : failed();
}

int pollConnect(uintptr_t s, int *failedConnect) {
    pollfd p = {fd(s), POLLOUT, 0};
    int n = poll(&p, 1, 0);
    if (n < 0) return failed();
    if (n > 0 && (p.revents & POLLNVAL)) return failedWith(LINK_ERR_NOTSOCK);
    *failedConnect = (p.revents & (POLLERR | POLLHUP)) ? 1 : 0;
    return n > 0 ? 1 : 0;
}

// Bytes waiting on a connected socket, or -1 when none wait because the
// connection is over. Linux's FIONREAD answers 0 on a connection the
// kernel has closed (the peer closed its end, the radio link dropped), and
// only a read tells; the links read only what is reported waiting, so
// without this a dead connection would look like a quiet one for ever. A
// peek that does not wait tells: the connection's error (ECONNRESET when
// the link dropped), or the end of the stream, which counts as "not
// connected".
int waitingOn(int socket) {
    int waiting = 0;
    if (ioctl(socket, FIONREAD, &waiting) != 0) return failed();
    if (waiting > 0) return waiting;
    char b;
    ssize_t peeked = recv(socket, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : failed();
    if (peeked == 0) return failedWith(LINK_ERR_NOTCONN);
    // Bytes came in between the two calls.
    if (ioctl(socket, FIONREAD, &waiting) != 0) return failed();
    return waiting > 0 ? waiting : 1;
}

int ioctlSocket(uintptr_t s, uint32_t command, uint32_t *argument) {
    if (command == LINK_FIONREAD) {
        int waiting = waitingOn(fd(s));
        if (waiting < 0) return -1;
        *argument = (uint32_t)waiting;
        return 0;
    }
    if (command == LINK_FIONBIO) {
        int flags = fcntl(fd(s), F_GETFL);
        if (flags < 0) return failed();
        flags = *argument ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        return fcntl(fd(s), F_SETFL, flags) == 0 ? 0 : failed();
    }
    return failedWith(LINK_ERR_INVALID);
}

// SO_ERROR (as a Winsock number) and SO_RCVBUF; there are no IrLMP options.
int getOption(uintptr_t s, int level, int name, void *value, int *size) {
    if (level != LINK_SOL_SOCKET || (name != LINK_SO_ERROR && name != LINK_SO_RCVBUF)) {
        return failedWith(LINK_ERR_NOPROTOOPT);
    }
    if (value == nullptr || size == nullptr || *size < (int)sizeof(int32_t)) return failedWith(LINK_ERR_FAULT);
    int v = 0;
    socklen_t length = sizeof v;
    if (getsockopt(fd(s), SOL_SOCKET, name == LINK_SO_ERROR ? SO_ERROR : SO_RCVBUF, &v, &length) != 0) {
        return failed();
    }
    int32_t out = name == LINK_SO_ERROR && v != 0 ? mapErrno(v) : v;
    std::memcpy(value, &out, sizeof out);
    *size = (int)sizeof out;
    return 0;
}

int setOption(uintptr_t, int, int, const void *, int) { return failedWith(LINK_ERR_NOPROTOOPT); }

int32_t sendAll(uintptr_t s, const void *data, int32_t length) {
    // MSG_NOSIGNAL: a closed peer must give an error, not end the process.
    ssize_t sent = send(fd(s), data, (size_t)length, MSG_NOSIGNAL);
    return sent < 0 ? failed() : (int32_t)sent;
}

int32_t recvByte(uintptr_t s, void *buffer) {
    ssize_t got = recv(fd(s), buffer, 1, 0);
    return got < 0 ? failed() : (int32_t)got;
}

int closeSocket(uintptr_t s) { return close(fd(s)) == 0 ? 0 : failed(); }

// ---------------------------------------------------------------------------
// Inquiry over HCI
// ---------------------------------------------------------------------------

const int INQUIRY_LENGTH = 8;           // x 1.28 s
const int INQUIRY_MAX_RESULTS = 255;
const int REMOTE_NAME_TIMEOUT_MS = 25000;

struct Lookup {
    int device;                 // HCI socket of the adapter
    inquiry_info *results;
    int count;
    int next;
    bool nameRead;              // the name of result next has been asked for
    bool hasName;
    char name[LINK_BT_NAME_MAX + 1];
};

// The adapter an inquiry runs on: the powered one of the lowest index, the
// system's default adapter as bluetoothd counts it. hci_get_route(NULL)
// takes the adapter registered last instead (the kernel lists the newest
// first), so with a second adapter the search ran on whichever came last.
int defaultAdapter() {
    bdaddr_t none;
    std::memset(&none, 0, sizeof none);
    for (int id = 0; id < HCI_MAX_DEV; ++id) {
        hci_dev_info info;
        if (hci_devinfo(id, &info) == 0 && hci_test_bit(HCI_UP, &info.flags) && bacmp(&info.bdaddr, &none) != 0) {
            return id;
        }
    }
    errno = ENODEV;
    return -1;
}

int lookupBegin(uint32_t, uintptr_t *lookup) {
    int adapter = defaultAdapter();
    if (adapter < 0) return errno != 0 ? failed() : failedWith(LINK_ERR_NETDOWN);
    int device = hci_open_dev(adapter);
    if (device < 0) return failed();
    inquiry_info *results = nullptr;
    int count = hci_inquiry(adapter, INQUIRY_LENGTH, INQUIRY_MAX_RESULTS, nullptr, &results, IREQ_CACHE_FLUSH);
    if (count < 0) {
        int error = errno;
        close(device);
        return failedWith(mapErrno(error));
    }
    Lookup *l = static_cast<Lookup *>(std::calloc(1, sizeof(Lookup)));
    if (l == nullptr) {
        bt_free(results);
        close(device);
        return failedWith(LINK_ERR_FAULT);
    }
    l->device = device;
    l->results = results;
    l->count = count;
    *lookup = reinterpret_cast<uintptr_t>(l);
    return 0;
}

int lookupNext(uintptr_t lookup, uint32_t, void *buffer, uint32_t *size, LinkBtFound *found) {
    Lookup *l = reinterpret_cast<Lookup *>(lookup);
    if (l->next >= l->count) return failedWith(LINK_ERR_NO_MORE);
    const inquiry_info &result = l->results[l->next];
    if (!l->nameRead) {
        std::memset(l->name, 0, sizeof l->name);
        l->hasName = hci_read_remote_name(l->device, &result.bdaddr, (int)LINK_BT_NAME_MAX, l->name,
                                          REMOTE_NAME_TIMEOUT_MS) == 0;
        l->nameRead = true;
    }
    uint32_t length = l->hasName ? (uint32_t)std::strlen(l->name) : 0;
    uint32_t needed = l->hasName ? length + 1 : 0;
    if (needed > *size || (needed > 0 && buffer == nullptr)) {
        *size = needed;
        return failedWith(LINK_ERR_FAULT);
    }
    if (l->hasName) std::memcpy(buffer, l->name, needed);
    found->name = l->hasName ? static_cast<const char *>(buffer) : nullptr;
    found->nameLength = length;
    found->address = fromBdaddr(result.bdaddr);
    l->next += 1;
    l->nameRead = false;
    return 0;
}

void lookupEnd(uintptr_t lookup) {
    Lookup *l = reinterpret_cast<Lookup *>(lookup);
    if (l == nullptr) return;
    bt_free(l->results);
    close(l->device);
    std::free(l);
}

int textToAddress(const char *text, int family, void *address, int *size) {
    int error = 0;
    return btTextToSockaddr(text, family, address, size, &error) == 0 ? 0 : failedWith(error);
}

int addressToText(const void *address, int size, char *text, uint32_t *textSize) {
    int error = 0;
    return btSockaddrToText(address, size, text, textSize, &error) == 0 ? 0 : failedWith(error);
}

const LinkSocketApi kBlueZ = {
    LINK_SOCKET_API_VERSION, "BlueZ", false, start, stop, lastError, setLastError, open, connectTo, pollConnect,
    ioctlSocket, getOption, setOption, sendAll, recvByte, closeSocket, lookupBegin, lookupNext, lookupEnd,
    textToAddress, addressToText,
};

}  // namespace

const LinkSocketApi *linkSystemSockets() { return &kBlueZ; }

// The driver needs libqvftd2xx.so; when a host loaded the device simulator
// under that name first (it has the same SONAME), the simulator also
// carries a socket table.
const LinkSocketApi *linkStandInSockets(const char **library) {
    void *d2xx = dlopen("libqvftd2xx.so", RTLD_NOW | RTLD_NOLOAD);
    if (d2xx == nullptr) return nullptr;
    void *symbol = dlsym(d2xx, LINK_STAND_IN_SOCKETS);
    dlclose(d2xx);
    if (symbol == nullptr) return nullptr;
    LinkStandInSocketsFn table;
    static_assert(sizeof table == sizeof symbol, "a function pointer");
    std::memcpy(&table, &symbol, sizeof table);
    if (library != nullptr) *library = "libqvftd2xx.so";
    return table();
}
