// probe.cpp - a shared library made of the driver core (and so of the
// production link library) with one exported function: open a USB link,
// send CMD_GET_DEV_INFO, read the whole reply byte by byte, close. The
// simulator host loads it after the simulated D2XX library to show that a
// library importing the D2XX functions binds to the simulator.
#include <cstdint>
#include <cstring>

#include "link/link.h"
#include "os/os.h"

#if defined(_WIN32)
#define PROBE_EXPORT extern "C" __declspec(dllexport)
#else
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Reads one byte, waiting up to the deadline; 1, or 0 on time-out, -1 on error.
static int readByte(LinkHandle *link, uint8_t *byte, uint32_t deadline) {
    for (;;) {
        int32_t rc = RecvLink(link, byte);
        if (rc != 0) return rc > 0 ? 1 : -1;
        if ((int32_t)(osClockMs() - deadline) >= 0) return 0;
        osSleep(1);
    }
}

// Returns the number of reply bytes (length byte included) stored in reply,
// or a negative step number: -1 open, -2 send, -3 receive, -4 time-out,
// -5 reply larger than the buffer.
PROBE_EXPORT int probeExchange(const char *deviceId, uint8_t *reply, int replyMax, char *serial, int serialSize) {
    if (!InitLinkLibrary()) return -1;
    LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
    if (!OpenLink(LINK_USB, deviceId, &link, serial, serialSize > 0 ? (uint32_t)serialSize : 0)) return -1;
    const uint8_t getDevInfo[2] = {0x01, 0x00};
    if (SendLink(&link, 2, getDevInfo) != 2) {
        CloseLink(&link);
        return -2;
    }
    uint32_t deadline = osClockMs() + 2000;
    int count = 0;
    uint32_t length = 0;
    int shift = 0;
    bool inLength = true;
    uint32_t body = 0;
    for (;;) {
        uint8_t b = 0;
        int rc = readByte(&link, &b, deadline);
        if (rc <= 0) {
            CloseLink(&link);
            return rc < 0 ? -3 : -4;
        }
        if (count >= replyMax) {
            CloseLink(&link);
            return -5;
        }
        reply[count++] = b;
        if (inLength) {
            length |= (uint32_t)(b & 0x7F) << shift;
            shift += 7;
            if (!(b & 0x80)) inLength = false;
        } else if (++body == length) {
            break;
        }
    }
    CloseLink(&link);
    return count;
}
