// link_win32.cpp - the link library's Windows services: Winsock (the
// Bluetooth LE library is bound in ble_win32.cpp).
#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "link/link_internal.h"

int linkSocketsStart(int *error) {
    WSADATA data;
    int rc = WSAStartup(514, &data);
    if (rc != 0) {
        if (error) *error = rc;
        return 0;
    }
    return 1;
}

void linkSocketsStop() { WSACleanup(); }

int linkSocketLastError() { return WSAGetLastError(); }

int32_t linkSocketSend(uintptr_t socket, const void *data, int32_t length) {
    int sent = send((SOCKET)socket, static_cast<const char *>(data), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int linkSocketPending(uintptr_t socket, uint32_t *count) {
    u_long waiting = 0;
    if (ioctlsocket((SOCKET)socket, FIONREAD, &waiting) == SOCKET_ERROR) return -1;
    *count = (uint32_t)waiting;
    return 0;
}

int32_t linkSocketRecvByte(uintptr_t socket, void *buffer) {
    int got = recv((SOCKET)socket, static_cast<char *>(buffer), 1, 0);
    return got == SOCKET_ERROR ? -1 : got;
}

int linkSocketClose(uintptr_t socket) { return closesocket((SOCKET)socket) == SOCKET_ERROR ? -1 : 0; }
