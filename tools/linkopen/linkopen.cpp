// linkopen.cpp - opens links with the link library alone and prints what
// the library logs on the way:
//
//     linkopen irda|bt|usb|ble [DEVICE-ID...]
//     linkopen --reset DEVICE-ID
//
// DEVICE-ID names the device as the driver's "Device id" does (a USB serial
// number or description, a Bluetooth or BLE address or name). With one id
// or none the link is closed again at once. With several, all are held
// open together: each is asked for its device information and must answer,
// then all are closed. With --reset a USB link's transceiver is reset
// (FT_ResetPort) while the device's answer arrives, and the device must
// answer again after it (through a new open, which sets the line up again).
// In every case the process must be back at the threads it had before the
// first open (a transport's reader threads are joined at close, an open
// that failed leaves none). Exit status 0 when everything opened (and
// answered), 1 when not, 2 for a bad command line.
//
// The program carries the link library and the operating-system layer and
// nothing of the driver: like every program that carries the link library,
// it supplies the broken-link hook and points the log hook at its own log
// (here the standard output).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <vector>

#include "API/driver/protocol/halvex_wire.h"
#include "link/d2xx.h"
#include "link/frame_codec.h"
#include "link/link.h"
#include "os/os.h"

// Nothing but this program owns the link, and it closes it at once.
void linkBrokenHook(const LinkHandle *) {}

namespace {

int printEntry(const char *format, va_list args) { return std::vprintf(format, args); }

// A link kind by one of the names of its row (linkKindByName).
bool linkTypeOf(const char *name, uint16_t *type) {
    const LinkKind *kind = linkKindByName(name);
    if (kind) *type = kind->key;
    return kind != nullptr;
}

// The longest a device may take to answer; only a hung link reaches it.
const uint32_t ANSWER_BOUND_MS = 30000;
// After a reset: how long the reader is left to run before it is asked.
const uint32_t RESET_QUIET_MS = 100;
const uint32_t RESET_REQUESTS = 3;

// Asks the device on the link for its information; true once the reply's
// frame is complete with the reply's code.
bool answers(LinkHandle *link) {
    uint8_t tx[frameSize(1)];
    uint32_t size = frameBuild(tx, 1, halvex::CMD_GET_DEV_INFO, nullptr, 0);
    if (SendLink(link, (int32_t)size, tx) != (int32_t)size) return false;
    Receiver rx;
    rxReset(&rx);
    for (uint64_t until = osClockMs() + ANSWER_BOUND_MS; osClockMs() < until;) {
        uint8_t b;
        int32_t got = QueueStatusLink(link) > 0 ? RecvLink(link, &b) : 0;
        if (got < 0) return false;
        uint32_t length = 0;
        if (got == 0) {
            osSleep(1);
        } else if (rxTake(&rx, b, FRAME_BODY_CAPACITY, &length) == RX_FRAME) {
            return rx.body[halvex::CODE_AT] == halvex::REP_GET_DEV_INFO;
        }
    }
    return false;
}

// Waits (bounded) until the link holds the first bytes of the answer: how
// many, or 0 on a failure or when none came.
int32_t answerArriving(LinkHandle *link) {
    for (uint64_t until = osClockMs() + ANSWER_BOUND_MS; osClockMs() < until; osSleep(0)) {
        int32_t waiting = QueueStatusLink(link);
        if (waiting != 0) return waiting > 0 ? waiting : 0;
    }
    return 0;
}

// The transceiver reset while the device's answer arrives: the reset
// succeeds and empties what waited, the reader goes on, and the device
// answers through a new open (which sets the line up again: the reset
// powers the chip's settings back to their defaults); the closes leave no
// thread.
int resetWhileAnswering(const char *id) {
    int threadsBefore = osProcessThreadCount();
    LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
    if (!OpenLink(LINK_USB, id, &link, nullptr, 0)) {
        std::printf("linkopen: the usb link to %s did not open\n", id);
        return 1;
    }
    // Several requests at once, so that answers are still on the line when
    // the first bytes are read.
    uint8_t one[frameSize(1)], tx[RESET_REQUESTS * sizeof one];
    uint32_t size = frameBuild(one, 1, halvex::CMD_GET_DEV_INFO, nullptr, 0);
    for (uint32_t i = 0; i < RESET_REQUESTS; ++i) std::memcpy(tx + i * size, one, size);
    int32_t all = (int32_t)(RESET_REQUESTS * size);
    bool sent = answers(&link) && SendLink(&link, all, tx) == all;
    int32_t waited = sent ? answerArriving(&link) : 0;
    bool arriving = waited > 0;
    FT_STATUS reset = arriving ? FT_ResetPort(reinterpret_cast<FT_HANDLE>(link.handle)) : FT_OTHER_ERROR;
    int32_t left = QueueStatusLink(&link);
    osSleep(RESET_QUIET_MS);
    bool reading = QueueStatusLink(&link) >= 0;
    CloseLink(&link);
    bool again = OpenLink(LINK_USB, id, &link, nullptr, 0) && answers(&link);
    CloseLink(&link);
    int threadsAfter = osProcessThreadCount();
    std::printf("linkopen: reset while the answers arrived (%d bytes waiting, %d after the reset): FT_ResetPort %u, "
                "%s; the device %s a new open; threads: %d before, %d after closing\n",
                (int)waited, (int)left, (unsigned)reset, reading ? "reading goes on" : "reading failed",
                again ? "answered after" : "did not answer after", threadsBefore, threadsAfter);
    return arriving && reset == FT_OK && left == 0 && reading && again && threadsAfter <= threadsBefore ? 0 : 1;
}

// Several links open at once: all open, each answers, all close, and the
// threads they started are gone.
int holdTogether(uint16_t type, const char *kind, char **ids, int count) {
    int threadsBefore = osProcessThreadCount();
    std::vector<LinkHandle> links;
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        LinkHandle link = {type, LINK_INVALID_HANDLE};
        if (!OpenLink(type, ids[i], &link, nullptr, 0)) {
            std::printf("linkopen: the %s link to %s did not open\n", kind, ids[i]);
            break;
        }
        links.push_back(link);
    }
    int threadsOpen = osProcessThreadCount();
    for (LinkHandle &link : links) answered += answers(&link);
    for (LinkHandle &link : links) CloseLink(&link);
    int threadsAfter = osProcessThreadCount();
    std::printf("linkopen: %zu of %d %s links open at once, %d answered; threads: %d before, %d while open, %d "
                "after closing\n",
                links.size(), count, kind, answered, threadsBefore, threadsOpen, threadsAfter);
    return (int)links.size() == count && answered == count && threadsAfter <= threadsBefore ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    uint16_t type = 0;
    bool reset = argc == 3 && std::strcmp(argv[1], "--reset") == 0;
    if (!reset && (argc < 2 || !linkTypeOf(argv[1], &type))) {
        std::fprintf(stderr, "usage: linkopen irda|bt|usb|ble [DEVICE-ID...]\n       linkopen --reset DEVICE-ID\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 4096);
    linkSetLogHook(printEntry);
    if (!InitLinkLibrary()) {
        std::printf("linkopen: the link library could not start\n");
        return 1;
    }
    if (reset || argc > 3) {
        int rc = reset ? resetWhileAnswering(argv[2]) : holdTogether(type, argv[1], argv + 2, argc - 2);
        ReleaseLinkLibrary();
        return rc;
    }
    int threadsBefore = osProcessThreadCount();
    LinkHandle link = {type, LINK_INVALID_HANDLE};
    char opened[64] = "";
    int ok = OpenLink(type, argc == 3 ? argv[2] : nullptr, &link, opened, sizeof opened);
    if (ok) {
        std::printf("linkopen: %s link open (%s), closing it\n", argv[1], opened);
        CloseLink(&link);
    } else {
        std::printf("linkopen: the %s link did not open\n", argv[1]);
    }
    int threadsAfter = osProcessThreadCount();
    std::printf("linkopen: threads: %d before, %d after\n", threadsBefore, threadsAfter);
    ReleaseLinkLibrary();
    return ok && threadsAfter <= threadsBefore ? 0 : 1;
}
