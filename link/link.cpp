// link.cpp - the link layer: library start and stop, the table of link
// kinds, and the open, send, queue-status, receive and close dispatchers
// that walk it.
//
// The transports live elsewhere: USB in usb.cpp (over the D2XX functions),
// Bluetooth and IrDA in bt.cpp and irda.cpp (over the socket seam of
// sockets.h), Bluetooth LE in ble.cpp and the platform folders. This file
// holds what is common: the choice of the socket table, argument checks,
// the socket paths with their log lines, the choice of a Bluetooth LE
// candidate, and the broken-link detection that tells the owning program
// that a link is gone.
#include "link/link.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "link/link_internal.h"
#include "link/link_texts.h"
#include "link/sockets.h"
#include "os/os.h"

thread_local uint32_t lastFtStatus = 0;

// Whether the socket layer was started, and with which table. The start and
// stop are serialised because the engine, a connection thread and the
// device search may all start the library. The lock is made while the
// library's static data are set up, before any thread can start the
// library, and lives as long as the process.
static std::atomic<bool> g_opensCancelled{false};

void CancelLinkOpens(bool cancel) { g_opensCancelled.store(cancel); }
bool linkOpensCancelled() { return g_opensCancelled.load(); }

static OsLock g_startLock;
static const bool g_startLockMade = (osLockInit(&g_startLock), true);
static std::atomic<bool> g_socketsStarted{false};
// The socket table in use; null until chosen (then the system's, or a
// stand-in found at the first start).
static std::atomic<const LinkSocketApi *> g_sockets{nullptr};
static bool g_socketsChosen = false;   // under g_startLock
static std::atomic<uint32_t> g_brokenReports{0};
// The log hook, kept as an integer: an atomic of the function pointer type
// itself is refused where va_list carries attributes (64-bit Windows).
static std::atomic<uintptr_t> g_logHook{0};

void linkSetLogHook(LinkLogHook hook) {
    g_logHook.store(reinterpret_cast<uintptr_t>(hook), std::memory_order_release);
}

void linkLog(const char *format, ...) {
    LinkLogHook hook = reinterpret_cast<LinkLogHook>(g_logHook.load(std::memory_order_acquire));
    if (hook == nullptr) return;
    va_list args;
    va_start(args, format);
    hook(format, args);
    va_end(args);
}

static std::atomic<OsEvent *> g_dataEvent{nullptr};

void linkSetDataEvent(OsEvent *event) { g_dataEvent.store(event, std::memory_order_release); }

void linkDataArrived() {
    OsEvent *event = g_dataEvent.load(std::memory_order_acquire);
    if (event != nullptr) osEventSet(event);
}

const LinkSocketApi *linkSockets() {
    const LinkSocketApi *api = g_sockets.load(std::memory_order_acquire);
    return api != nullptr ? api : linkSystemSockets();
}

// Before the first start: the simulator's table when the D2XX library this
// program uses is the simulator (which a host loads only on purpose), else
// the system's. Said in the log, so that a run on simulated devices cannot
// pass for one on real ones.
static void chooseSockets() {
    if (g_socketsChosen) return;
    g_socketsChosen = true;
    const char *library = nullptr;
    const LinkSocketApi *standIn = linkStandInSockets(&library);
    if (standIn != nullptr && standIn->version == LINK_SOCKET_API_VERSION) {
        g_sockets.store(standIn, std::memory_order_release);
        linkLog("#Sockets: %s of the D2XX library\n", standIn->name);
    }
}

void linkUseSockets(const LinkSocketApi *api) {
    OsLockGuard guard(&g_startLock);
    const LinkSocketApi *old = linkSockets();
    g_socketsChosen = api != nullptr;
    g_sockets.store(api, std::memory_order_release);
    if (g_socketsStarted.load() && old != linkSockets()) {
        old->stop();
        int error = 0;
        if (!linkSockets()->start(&error)) g_socketsStarted.store(false);
    }
}

int InitLinkLibrary() {
    OsLockGuard guard(&g_startLock);
    if (!linkBleLoaded()) {
        linkBleLoad();
    }
    if (!g_socketsStarted.load()) {
        chooseSockets();
        int error = 0;
        if (!linkSockets()->start(&error)) {
            linkLog("!%s %i\n", "WSAStartup: WSAGetLastError", error);
            return 0;
        }
        g_socketsStarted.store(true);
    }
    return 1;
}

void ReleaseLinkLibrary() {
    OsLockGuard guard(&g_startLock);
    linkBleUnload();
    if (g_socketsStarted.load()) {
        linkSockets()->stop();
        g_socketsStarted.store(false);
    }
}

bool linkLibraryReady() { return g_socketsStarted.load(); }

uint32_t linkBrokenReportCount() { return g_brokenReports.load(); }

// Copies text into a caller's buffer of the given size, cut to fit.
static void putText(char *buffer, uint32_t size, const char *text) {
    if (!buffer || size == 0) return;
    size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

static int openBleLink(const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize) {
    link->handle = LINK_INVALID_HANDLE;
    if (!linkBleLoaded()) return 0;
    static_assert(BLE_MAX_PATHS * BLE_PATH_SIZE <= 4200, "candidate paths live on the caller's stack");
    char paths[BLE_MAX_PATHS][BLE_PATH_SIZE];
    // -1: the system cannot list devices at all, which the list has told;
    // no device is found then either.
    int count = FindBleDevices(deviceId, paths);
    if (count > BLE_MAX_PATHS) count = BLE_MAX_PATHS;
    if (count <= 0) {
        linkLog("!%s\n", kLinkNoBleMatch);
    }
    for (int i = 0; i < count; ++i) {
        paths[i][BLE_PATH_SIZE - 1] = '\0';
        // The device's address as its path shows it (all zero when it
        // shows none).
        uint8_t a[6];
        bleAddressOfPath(paths[i], a, false);
        char text[20];
        std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
        if (i == 0) linkLog("%s\n", kLinkBleCandidates);
        linkLog("%i: %s\n", i, text);
        if (OpenBle(paths[i], link) == 0 && link->handle != LINK_INVALID_HANDLE) {
            putText(idBuffer, idBufferSize, text);
            break;
        }
        link->handle = LINK_INVALID_HANDLE;
    }
    return link->handle != LINK_INVALID_HANDLE ? 1 : 0;
}

// ---------------------------------------------------------------------------
// The transports of each link kind, with one signature per operation
// ---------------------------------------------------------------------------

static int openIrdaLink(const char *, LinkHandle *link, char *idBuffer, uint32_t idBufferSize) {
    putText(idBuffer, idBufferSize, "");
    link->handle = OpenIrda();
    return link->handle != LINK_INVALID_HANDLE ? 1 : 0;
}

static int openBtLink(const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize) {
    uintptr_t socket = LINK_INVALID_HANDLE;
    OpenBtDevice(deviceId, idBuffer, idBuffer ? idBufferSize : 0, &socket);
    link->handle = socket;
    return socket != LINK_INVALID_HANDLE ? 1 : 0;
}

static int openUsbLink(const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize) {
    uintptr_t handle = LINK_INVALID_HANDLE;
    int rc = OpenUsb(deviceId, &handle, idBuffer, idBuffer ? idBufferSize : 0);
    link->handle = rc == -1 ? LINK_INVALID_HANDLE : handle;
    return rc == -1 ? 0 : 1;
}

// The connection errors that mean a socket's peer is gone.
static bool isConnectionLost(int error) {
    return error == LINK_ERR_NETRESET || error == LINK_ERR_CONNABORTED || error == LINK_ERR_CONNRESET ||
           error == LINK_ERR_NOTCONN || error == LINK_ERR_TIMEDOUT;
}

// A failing D2XX call means the transceiver is gone; a short USB write
// counts only with one of the connection errors.
static bool usbBroken(int socketError) { return lastFtStatus != 0 || isConnectionLost(socketError); }

static int32_t sendUsbLink(LinkHandle *link, int32_t length, const void *data, int *socketError) {
    return sendUsb(link->handle, length, data, socketError);
}

static int32_t queueStatusUsbLink(LinkHandle *link, int *) { return queueStatusUsb(link->handle); }

static int32_t recvUsbLink(LinkHandle *link, void *buffer, int *) { return recvUsb(link->handle, buffer); }

static void closeUsbLink(LinkHandle *link) { closeUsb(link->handle); }

static int32_t sendBleLink(LinkHandle *link, int32_t length, const void *data, int *) {
    if (!linkBleLoaded() || link->handle == LINK_INVALID_HANDLE || !data) return -1;
    return sendBle(link, length, data);
}

static int32_t queueStatusBleLink(LinkHandle *link, int *) {
    if (!linkBleLoaded() || link->handle == LINK_INVALID_HANDLE) return -1;
    return queueStatusBle(link);
}

static int32_t recvBleLink(LinkHandle *link, void *buffer, int *) { return recvBle(link, buffer); }

static void closeBleLink(LinkHandle *link) { CloseBle(link); }

static int32_t sendSocket(LinkHandle *link, int32_t length, const void *data, int *socketError) {
    const LinkSocketApi *api = linkSockets();
    int32_t sent = api->send(link->handle, data, length);
    *socketError = api->lastError();
    if (sent < 0) {
        linkLog("!%s %i\n", kLinkSendFailed, *socketError);
        return -1;
    }
    if (sent < length) {
        linkLog("!%s %i\n", "send: Too few bytes sent:", sent);
        return -1;
    }
    return sent;
}

static int32_t queueStatusSocket(LinkHandle *link, int *socketError) {
    const LinkSocketApi *api = linkSockets();
    uint32_t count = 0;
    if (api->ioctl(link->handle, LINK_FIONREAD, &count) != 0) {
        *socketError = api->lastError();
        linkLog("!%s %i\n", kLinkQueueFailed, *socketError);
        return -1;
    }
    return count > 0x7FFFFFFFu ? 0x7FFFFFFF : (int32_t)count;
}

static int32_t recvSocket(LinkHandle *link, void *buffer, int *socketError) {
    int32_t result = linkSockets()->recvByte(link->handle, buffer);
    if (result < 0) {
        *socketError = linkSockets()->lastError();
        linkLog("!%s %i\n", "recv: WSAGetLastError", *socketError);
        result = -1;
    }
    return result;
}

static void closeSocket(LinkHandle *link) {
    if (linkSockets()->close(link->handle) != 0) {
        int error = linkSockets()->lastError();
        linkLog("!%s %i\n", "closesocket: WSAGetLastError", error);
    }
}

// ---------------------------------------------------------------------------
// The link kinds
// ---------------------------------------------------------------------------

// The transport of each link kind, at its kind's index. Failures of a
// Bluetooth LE link are never reported as a broken link (its loss shows as
// silence, which the reply timers handle).
struct LinkOps {
    uint16_t key;            // LINK_*
    // Open (1 when open, else 0 with the handle invalid), send, queue status
    // and receive as SendLink, QueueStatusLink and RecvLink (the thread's
    // socket error after a failing call into *socketError), close of an
    // open handle.
    int (*open)(const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize);
    int32_t (*send)(LinkHandle *link, int32_t length, const void *data, int *socketError);
    int32_t (*queueStatus)(LinkHandle *link, int *socketError);
    int32_t (*recv)(LinkHandle *link, void *buffer, int *socketError);
    void (*close)(LinkHandle *link);
    // Whether a failed send or receive, with the socket error it left,
    // means the link is broken (linkBrokenHook); null: never.
    bool (*broken)(int socketError);
};
static constexpr LinkOps kLinkOps[] = {
    {LINK_IRDA, openIrdaLink, sendSocket, queueStatusSocket, recvSocket, closeSocket, isConnectionLost},
    {LINK_BT, openBtLink, sendSocket, queueStatusSocket, recvSocket, closeSocket, isConnectionLost},
    {LINK_USB, openUsbLink, sendUsbLink, queueStatusUsbLink, recvUsbLink, closeUsbLink, usbBroken},
    {LINK_BLE, openBleLink, sendBleLink, queueStatusBleLink, recvBleLink, closeBleLink, nullptr},
};
static constexpr bool opsAtTheirKinds() {
    if (sizeof kLinkOps / sizeof kLinkOps[0] != (size_t)LINK_KIND_COUNT) return false;
    for (int k = 0; k < LINK_KIND_COUNT; ++k) {
        const LinkOps &ops = kLinkOps[k];
        if (ops.key != kLinkKinds[k].key || !ops.open || !ops.send || !ops.queueStatus || !ops.recv || !ops.close)
            return false;
    }
    return true;
}
static_assert(opsAtTheirKinds(), "one complete transport per link kind, in key order");

static const LinkOps *linkOps(uint32_t key) { return key < (uint32_t)LINK_KIND_COUNT ? &kLinkOps[key] : nullptr; }

// ---------------------------------------------------------------------------
// Dispatchers
// ---------------------------------------------------------------------------

int OpenLink(uint16_t type, const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize) {
    if (!link) return 0;
    link->type = type;
    if (linkOpensCancelled()) {
        link->handle = LINK_INVALID_HANDLE;
        return 0;
    }
    const LinkOps *ops = linkOps(type);
    return ops ? ops->open(deviceId, link, idBuffer, idBufferSize) : 0;
}

// After a send or receive that failed: tell the owning program when the
// failure means the link is broken, by the rule of its kind. socketError is
// the thread's socket error as it stood right after the failing call (taken
// before the log line, whose writing may change it).
static void reportIfBroken(const LinkHandle *link, int socketError) {
    const LinkOps *ops = linkOps(link->type);
    if (ops && ops->broken && ops->broken(socketError)) {
        g_brokenReports.fetch_add(1);
        linkBrokenHook(link);
    }
}

int32_t SendLink(LinkHandle *link, int32_t length, const void *data) {
    // A negative length, or bytes to send without a buffer, is a caller's
    // mistake: refused before anything reaches the transport.
    if (!link || length < 0 || (length > 0 && !data)) return -1;
    int socketError = 0;
    const LinkOps *ops = linkOps(link->type);
    int32_t result = ops ? ops->send(link, length, data, &socketError) : -1;
    if (result > 0 && result < length) result = -1;
    if (result < 0) reportIfBroken(link, socketError);
    return result;
}

static int32_t queueStatus(LinkHandle *link, int *socketError) {
    const LinkOps *ops = linkOps(link->type);
    return ops ? ops->queueStatus(link, socketError) : -1;
}

int32_t QueueStatusLink(LinkHandle *link) {
    if (!link) return -1;
    int socketError = 0;
    return queueStatus(link, &socketError);
}

int32_t RecvLink(LinkHandle *link, void *buffer) {
    if (!link || !buffer) return -1;
    int socketError = 0;
    int32_t waiting = queueStatus(link, &socketError);
    int32_t result;
    if (waiting <= 0) {
        result = waiting < 0 ? -1 : 0;
    } else {
        // A kind is known here: an unknown one has nothing waiting.
        result = linkOps(link->type)->recv(link, buffer, &socketError);
    }
    if (result < 0) reportIfBroken(link, socketError);
    return result;
}

void CloseLink(LinkHandle *link) {
    if (!link) return;
    // A link that never opened (or was closed already) has nothing to close.
    const LinkOps *ops = linkOps(link->type);
    if (link->handle != LINK_INVALID_HANDLE && ops) ops->close(link);
    link->handle = LINK_INVALID_HANDLE;
}
