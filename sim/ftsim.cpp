// ftsim.cpp - simulated FTDI transceivers: the transceiver table, its
// helpers, and the transceiver controls of sim/ftsim.h. The D2XX functions
// over the table are in ftsim_d2xx.cpp, the controls of the simulated device
// behind a transceiver in ftsim_device.cpp.
#include <cstring>
#include <mutex>

#include "link/sockets.h"
#include "os/os.h"
#include "sim/ftsim_internal.h"

namespace {

// A simulated device as a peer.
void deviceReceive(void *c, const uint8_t *data, size_t size, uint32_t nowMs) {
    simDeviceReceive(static_cast<SimDevice *>(c), data, size, nowMs);
}
size_t devicePending(void *c, uint32_t nowMs) { return simDevicePending(static_cast<SimDevice *>(c), nowMs); }
size_t deviceTake(void *c, uint8_t *buffer, size_t max) {
    return simDeviceTake(static_cast<SimDevice *>(c), buffer, max);
}
void deviceLinkUp(void *c, int up, uint32_t nowMs) { simDeviceSetLinkUp(static_cast<SimDevice *>(c), up != 0, nowMs); }

}  // namespace

namespace ftsim {

// Made while the library's static data are set up, before any call can
// come in; it lives as long as the process.
OsLock g_lock;
static const bool g_lockMade = (osLockInit(&g_lock), true);
Transceiver g_tx[FTSIM_MAX];
OpenSlot g_open[MAX_OPENS];
ListEntry g_list[FTSIM_MAX];
uint32_t g_listCount = 0;
uint32_t g_listFault = 0;
uint32_t g_generation = 0;
std::atomic<uint32_t> g_calls[FTSIM_CALL_KINDS];

void countCall(int call) { g_calls[call].fetch_add(1, std::memory_order_relaxed); }

// A host program that links the driver (instead of loading it) gets the
// simulator as its FTD2XX.dll when the program starts, before any code of
// its own could call the controls. FTSIM_USB_DEVICE=MODEL gives it a
// transceiver (serial number FTSIM_ENV_SERIAL, the default description)
// with a simulated device of that model behind it.
void plugFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        char model[64];
        if (osGetEnv("FTSIM_USB_DEVICE", model, sizeof model) <= 0) return;
        int index = ftsimAdd(FTSIM_ENV_SERIAL, nullptr);
        if (index >= 0 && ftsimAttachNewDevice(index, model, nullptr) < 0) ftsimRemove(index);
    });
}

bool faulty(const Transceiver *tx, uint32_t fault) { return (tx->faults & fault) != 0; }

Transceiver *txAt(int index) {
    if (index < 0 || index >= FTSIM_MAX || !g_tx[index].used) return nullptr;
    return &g_tx[index];
}

void copyText(char *dst, size_t size, const char *src) {
    size_t n = std::strlen(src);
    if (n >= size) n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void setLinkUp(Transceiver *tx, bool up) {
    if (tx->hasPeer && tx->peer.setLinkUp) tx->peer.setLinkUp(tx->peer.context, up ? 1 : 0, osClockMs());
}

void detachPeer(Transceiver *tx) {
    if (tx->ownsDevice && tx->device) simDeviceDestroy(tx->device);
    tx->device = nullptr;
    tx->ownsDevice = false;
    tx->hasPeer = false;
    tx->peer = FtSimPeer{};
}

void attachDevice(Transceiver *tx, SimDevice *device, bool owned) {
    detachPeer(tx);
    tx->peer = FtSimPeer{device, deviceReceive, devicePending, deviceTake, deviceLinkUp};
    tx->hasPeer = true;
    tx->device = device;
    tx->ownsDevice = owned;
    simDeviceSetLinkUp(device, linkUpNow(tx), osClockMs());
}

int addPort(PortKind kind) {
    for (int i = 0; i < FTSIM_MAX; ++i) {
        Transceiver &tx = g_tx[i];
        if (tx.used) continue;
        tx.used = true;
        tx.kind = kind;
        bleClear(i);
        tx.radio = Radio{};
        tx.radio.socket = -1;
        tx.present = true;
        tx.openedElsewhere = false;
        tx.serial[0] = '\0';
        tx.description[0] = '\0';
        tx.modemBits = FTSIM_CTS;
        tx.ctsDelayUs = 0;
        tx.faults = 0;
        tx.faultStatus = FT_IO_ERROR;
        tx.writeLimit = 0xFFFFFFFFu;
        tx.queueStatus = FT_OK;
        tx.openSlot = -1;
        tx.openedAtUs = 0;
        lineDefaults(&tx);
        tx.opens = tx.closes = tx.resets = 0;
        tx.loopback = false;
        tx.hasPeer = false;
        tx.peer = FtSimPeer{};
        tx.device = nullptr;
        tx.ownsDevice = false;
        tx.replyCount = 0;
        tx.toHost.clear();
        tx.written.clear();
        return i;
    }
    return -1;
}

bool linkUpNow(const Transceiver *tx) {
    return tx->present && (tx->kind == PORT_USB || tx->kind == PORT_BLE || tx->radio.socket >= 0);
}

void killHandle(Transceiver *tx) {
    if (tx->openSlot >= 0) g_open[tx->openSlot].dead = true;
    tx->openSlot = -1;
    if (tx->kind == PORT_BLE) bleKill(tx);
}

size_t waitingFor(Transceiver *tx) {
    size_t n = tx->toHost.count;
    if (tx->hasPeer) n += tx->peer.pending(tx->peer.context, osClockMs());
    return n;
}

size_t takeForHost(Transceiver *tx, uint8_t *out, size_t max) {
    size_t got = tx->toHost.take(out, max);
    if (got < max && tx->hasPeer && tx->peer.pending(tx->peer.context, osClockMs()) > 0) {
        got += tx->peer.take(tx->peer.context, out + got, max - got);
    }
    return got;
}

void deliverFromHost(Transceiver *tx, const uint8_t *data, size_t size) {
    tx->written.pushOverwrite(data, size);
    if (tx->hasPeer) tx->peer.receive(tx->peer.context, data, size, osClockMs());
    if (tx->loopback) tx->toHost.push(data, size);
    for (int r = 0; r < tx->replyCount; ++r) {
        const Reply &reply = tx->replies[r];
        if (reply.requestSize == size && std::memcmp(reply.request, data, size) == 0) {
            tx->toHost.push(reply.reply, reply.replySize);
            break;
        }
    }
}

void lineDefaults(Transceiver *tx) {
    tx->baudRate = 9600;
    tx->wordLength = 8;
    tx->stopBits = 0;
    tx->parity = 0;
    tx->flowControl = 0;
    tx->xon = tx->xoff = 0;
    tx->dtr = tx->rts = false;
}

}  // namespace ftsim

using namespace ftsim;

extern "C" {

// ---------------------------------------------------------------------------
// Control functions
// ---------------------------------------------------------------------------

void ftsimReset(void) {
    bleStopPump();
    OsLockGuard guard(&g_lock);
    for (int i = 0; i < FTSIM_MAX; ++i) {
        g_tx[i].openSlot = -1;
        if (g_tx[i].used) detachPeer(&g_tx[i]);
        g_tx[i].used = false;
        bleClear(i);
    }
    // Handles of earlier runs become unknown handles.
    for (auto &o : g_open) o.used = false;
    g_listCount = 0;
    g_listFault = 0;
    resetSockets();
    for (auto &c : g_calls) c.store(0);
}

int ftsimAdd(const char *serial, const char *description) {
    if (!serial) return -1;
    OsLockGuard guard(&g_lock);
    int i = addPort(PORT_USB);
    if (i < 0) return -1;
    Transceiver &tx = g_tx[i];
    copyText(tx.serial, sizeof tx.serial, serial);
    copyText(tx.description, sizeof tx.description, description ? description : FTSIM_DEFAULT_DESCRIPTION);
    return i;
}

int ftsimRemove(int index) {
    OsLockGuard guard(&g_lock);
    Transceiver *tx = txAt(index);
    if (!tx) return -1;
    if (tx->present) setLinkUp(tx, false);
    killHandle(tx);
    breakConnection(tx, LINK_ERR_CONNABORTED);
    detachPeer(tx);
    tx->used = false;
    bleClear(index);
    return 0;
}

int ftsimSetDescription(int index, const char *description) {
    if (!description) return -1;
    return withTx(index, [&](Transceiver *tx) {
        copyText(tx->description, sizeof tx->description, description);
        return 0;
    });
}

int ftsimSetOpenedElsewhere(int index, int opened) {
    return withTx(index, [&](Transceiver *tx) {
        tx->openedElsewhere = opened != 0;
        return 0;
    });
}

int ftsimSetModemStatus(int index, uint32_t bits) {
    return withTx(index, [&](Transceiver *tx) {
        tx->modemBits = bits;
        return 0;
    });
}

int ftsimSetCtsDelayUs(int index, uint32_t delayUs) {
    return withTx(index, [&](Transceiver *tx) {
        tx->ctsDelayUs = delayUs;
        return 0;
    });
}

int ftsimSetFaults(int index, uint32_t faults) {
    return withTx(index, [&](Transceiver *tx) {
        tx->faults = faults;
        return 0;
    });
}

int ftsimSetFaultStatus(int index, uint32_t status) {
    return withTx(index, [&](Transceiver *tx) {
        tx->faultStatus = status;
        return 0;
    });
}

int ftsimSetWriteLimit(int index, uint32_t maxBytes) {
    return withTx(index, [&](Transceiver *tx) {
        tx->writeLimit = maxBytes;
        return 0;
    });
}

int ftsimSetQueueStatusResult(int index, uint32_t status) {
    return withTx(index, [&](Transceiver *tx) {
        tx->queueStatus = status;
        return 0;
    });
}

void ftsimSetListFault(uint32_t status) {
    OsLockGuard guard(&g_lock);
    g_listFault = status;
}

int ftsimUnplug(int index) {
    return withTx(index, [&](Transceiver *tx) {
        if (!tx->present) return 0;
        tx->present = false;
        killHandle(tx);
        breakConnection(tx, LINK_ERR_CONNABORTED);   // out of range: the connection is aborted
        tx->toHost.clear();
        setLinkUp(tx, false);
        return 0;
    });
}

int ftsimReplug(int index) {
    return withTx(index, [&](Transceiver *tx) {
        if (tx->present) return 0;
        tx->present = true;
        lineDefaults(tx);
        setLinkUp(tx, linkUpNow(tx));
        return 0;
    });
}

int ftsimAttachPeer(int index, const FtSimPeer *peer) {
    if (peer && (!peer->receive || !peer->pending || !peer->take)) return -1;
    return withTx(index, [&](Transceiver *tx) {
        detachPeer(tx);
        tx->hasPeer = peer != nullptr;
        if (peer) tx->peer = *peer;
        return 0;
    });
}

int ftsimAttachDevice(int index, SimDevice *device) {
    if (!device) return -1;
    return withTx(index, [&](Transceiver *tx) {
        attachDevice(tx, device, false);
        return 0;
    });
}

int ftsimAttachNewDevice(int index, const char *model, const char *serial) {
    return ftsimAttachNewDeviceEx(index, model, serial, nullptr, 0);
}

SimDevice *ftsimDevice(int index) {
    OsLockGuard guard(&g_lock);
    Transceiver *tx = txAt(index);
    return tx ? tx->device : nullptr;
}

int ftsimSetLoopback(int index, int on) {
    return withTx(index, [&](Transceiver *tx) {
        tx->loopback = on != 0;
        return 0;
    });
}

int ftsimPushBytes(int index, const uint8_t *data, size_t size) {
    if (!data && size > 0) return -1;
    return withTx(index, [&](Transceiver *tx) { return (int)tx->toHost.push(data, size); });
}

int ftsimAddReply(int index, const uint8_t *request, size_t requestSize, const uint8_t *reply, size_t replySize) {
    if (!request || requestSize == 0 || requestSize > MAX_SCRIPT_BYTES || (!reply && replySize > 0) ||
        replySize > MAX_SCRIPT_BYTES) {
        return -1;
    }
    return withTx(index, [&](Transceiver *tx) {
        if (tx->replyCount >= MAX_REPLIES) return -1;
        Reply &r = tx->replies[tx->replyCount++];
        r.requestSize = requestSize;
        r.replySize = replySize;
        std::memcpy(r.request, request, requestSize);
        if (replySize > 0) std::memcpy(r.reply, reply, replySize);
        return 0;
    });
}

int ftsimTakeWritten(int index, uint8_t *buffer, size_t max) {
    if (!buffer && max > 0) return -1;
    return withTx(index, [&](Transceiver *tx) { return (int)tx->written.take(buffer, max); });
}

int ftsimGetState(int index, FtSimState *state) {
    if (!state) return -1;
    return withTx(index, [&](Transceiver *tx) {
        state->present = tx->present;
        state->open = tx->kind == PORT_USB   ? tx->openSlot >= 0
                      : tx->kind == PORT_BLE ? tx->opens > tx->closes
                                             : tx->radio.socket >= 0;
        state->openedElsewhere = tx->openedElsewhere;
        state->baudRate = tx->baudRate;
        state->wordLength = tx->wordLength;
        state->stopBits = tx->stopBits;
        state->parity = tx->parity;
        state->flowControl = tx->flowControl;
        state->xon = tx->xon;
        state->xoff = tx->xoff;
        state->dtr = tx->dtr;
        state->rts = tx->rts;
        state->opens = tx->opens;
        state->closes = tx->closes;
        state->resets = tx->resets;
        state->waiting = (uint32_t)tx->toHost.count;
        return 0;
    });
}

uint32_t ftsimCallCount(int call) {
    if (call == FTSIM_CALL_ALL) {
        uint32_t sum = 0;
        for (auto &c : g_calls) sum += c.load();
        return sum;
    }
    if (call < 0 || call >= FTSIM_CALL_KINDS) return 0;
    return g_calls[call].load();
}

void ftsimResetCallCounts(void) {
    for (auto &c : g_calls) c.store(0);
}

}  // extern "C"
