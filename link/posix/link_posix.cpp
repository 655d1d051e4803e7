// link_posix.cpp - the link library's services on Linux: BSD sockets with
// their errors mapped to the Winsock numbers the link layer works with.
// Bluetooth LE has no GATT client here, so LINK_BLE stays unusable.
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/link_internal.h"

static bool g_bleNoteLogged = false;

void linkBleLoad() {
    if (!g_bleNoteLogged) {
        linkLog("#Bluetooth LE links are not available on this system\n");
        g_bleNoteLogged = true;
    }
}

void linkBleUnload() {}

bool linkBleLoaded() { return false; }

// Sockets need no start on this system.
int linkSocketsStart(int *) { return 1; }
void linkSocketsStop() {}

// errno in Winsock's numbering, so that the broken-link rule and the log
// lines read the same on every system. A broken pipe (the peer closed the
// connection) counts as a reset connection. Numbers without an equivalent
// are passed on as they are.
int linkSocketLastError() {
    switch (errno) {
    case ENETRESET: return LINK_ERR_NETRESET;
    case ECONNABORTED: return LINK_ERR_CONNABORTED;
    case ECONNRESET:
    case EPIPE: return LINK_ERR_CONNRESET;
    case ENOTCONN: return LINK_ERR_NOTCONN;
    case ETIMEDOUT: return LINK_ERR_TIMEDOUT;
    case EAGAIN:
    case EINPROGRESS: return LINK_ERR_WOULDBLOCK;
    case EINVAL: return LINK_ERR_INVALID;
    case EBADF:
    case ENOTSOCK: return LINK_ERR_NOTSOCK;
    default: return errno;
    }
}

static int toFd(uintptr_t socket) { return socket > 0x7FFFFFFFu ? -1 : (int)socket; }

int32_t linkSocketSend(uintptr_t socket, const void *data, int32_t length) {
    // MSG_NOSIGNAL: a closed peer must give an error, not end the process.
    ssize_t sent = send(toFd(socket), data, (size_t)length, MSG_NOSIGNAL);
    return sent < 0 ? -1 : (int32_t)sent;
}

int linkSocketPending(uintptr_t socket, uint32_t *count) {
    int waiting = 0;
    if (ioctl(toFd(socket), FIONREAD, &waiting) != 0) return -1;
    *count = waiting > 0 ? (uint32_t)waiting : 0;
    return 0;
}

int32_t linkSocketRecvByte(uintptr_t socket, void *buffer) {
    ssize_t got = recv(toFd(socket), buffer, 1, 0);
    return got < 0 ? -1 : (int32_t)got;
}

int linkSocketClose(uintptr_t socket) { return close(toFd(socket)) == 0 ? 0 : -1; }
