// ftsim.cpp - simulated FTDI transceivers: the D2XX functions of
// link/d2xx.h over the transceiver table, and the control functions of
// sim/ftsim.h.
#include "sim/ftsim.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "link/d2xx.h"
#include "os/os.h"
#include "sim/sim_device.h"

namespace {

// A byte queue of fixed capacity; what does not fit is dropped.
template <size_t N>
struct Fifo {
    uint8_t data[N];
    size_t head = 0;  // next to take
    size_t count = 0;

    size_t push(const uint8_t *bytes, size_t size) {
        size_t n = 0;
        for (; n < size && count < N; ++n, ++count) data[(head + count) % N] = bytes[n];
        return n;
    }
    // Keeps the newest bytes: the oldest make room.
    void pushOverwrite(const uint8_t *bytes, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (count == N) {
                head = (head + 1) % N;
                --count;
            }
            data[(head + count) % N] = bytes[i];
            ++count;
        }
    }
    size_t take(uint8_t *out, size_t max) {
        size_t n = 0;
        for (; n < max && count > 0; ++n, --count, head = (head + 1) % N) out[n] = data[head];
        return n;
    }
    void clear() { head = count = 0; }
};

const int MAX_REPLIES = 8;
const size_t MAX_SCRIPT_BYTES = 256;

struct Reply {
    size_t requestSize, replySize;
    uint8_t request[MAX_SCRIPT_BYTES];
    uint8_t reply[MAX_SCRIPT_BYTES];
};

struct Transceiver {
    bool used;
    bool present;
    bool openedElsewhere;
    char serial[FT_SERIAL_SIZE];
    char description[FT_DESCRIPTION_SIZE];
    uint32_t modemBits;
    uint32_t ctsDelayUs;
    uint32_t faults;
    uint32_t faultStatus;
    uint32_t writeLimit;
    uint32_t queueStatus;
    int openSlot;          // handle slot while open, else -1
    uint64_t openedAtUs;
    uint32_t baudRate;
    uint8_t wordLength, stopBits, parity;
    uint16_t flowControl;
    uint8_t xon, xoff;
    bool dtr, rts;
    uint32_t opens, closes, resets;
    bool loopback;
    bool hasPeer;
    FtSimPeer peer;
    SimDevice *device;     // the peer when it is a simulated device
    bool ownsDevice;       // made by ftsimAttachNewDevice
    int replyCount;
    Reply replies[MAX_REPLIES];
    Fifo<16384> toHost;
    Fifo<4096> written;
};

// An open handle. It stays dead (every call fails) after its transceiver was
// unplugged or removed, until the host closes it.
struct OpenSlot {
    bool used;
    bool dead;
    int transceiver;
    uint32_t generation;
};

const int MAX_OPENS = 16;
const uintptr_t HANDLE_TAG = 0x5E000000u;

struct ListEntry {
    uint32_t flags;
    int transceiver;
    FT_HANDLE handle;
};

std::mutex g_lock;
Transceiver g_tx[FTSIM_MAX];
OpenSlot g_open[MAX_OPENS];
ListEntry g_list[FTSIM_MAX];
uint32_t g_listCount = 0;
uint32_t g_listFault = 0;
uint32_t g_generation = 0;
std::atomic<uint32_t> g_calls[FTSIM_CALL_KINDS];

void countCall(int call) { g_calls[call].fetch_add(1, std::memory_order_relaxed); }

FT_HANDLE makeHandle(int slot) {
    return reinterpret_cast<FT_HANDLE>(HANDLE_TAG | ((uintptr_t)(g_open[slot].generation & 0xFFFF) << 8) |
                                       (uintptr_t)slot);
}

// The open slot a handle names, or -1.
int slotOf(FT_HANDLE handle) {
    uintptr_t v = reinterpret_cast<uintptr_t>(handle);
    if ((v & ~(uintptr_t)0xFFFFFF) != HANDLE_TAG) return -1;
    int slot = (int)(v & 0xFF);
    if (slot >= MAX_OPENS || !g_open[slot].used) return -1;
    if (((v >> 8) & 0xFFFF) != (g_open[slot].generation & 0xFFFF)) return -1;
    return slot;
}

// Resolves a handle to its live transceiver: FT_OK with *tx set,
// FT_INVALID_HANDLE, or FT_IO_ERROR for a dead handle.
FT_STATUS lookup(FT_HANDLE handle, Transceiver **tx) {
    int slot = slotOf(handle);
    if (slot < 0) return FT_INVALID_HANDLE;
    if (g_open[slot].dead) return FT_IO_ERROR;
    *tx = &g_tx[g_open[slot].transceiver];
    return FT_OK;
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

// Drops the peer; a device the transceiver made is destroyed.
void detachPeer(Transceiver *tx) {
    if (tx->ownsDevice && tx->device) simDeviceDestroy(tx->device);
    tx->device = nullptr;
    tx->ownsDevice = false;
    tx->hasPeer = false;
    tx->peer = FtSimPeer{};
}

// A simulated device as a peer.
void deviceReceive(void *c, const uint8_t *data, size_t size, uint32_t nowMs) {
    simDeviceReceive(static_cast<SimDevice *>(c), data, size, nowMs);
}
size_t devicePending(void *c, uint32_t nowMs) { return simDevicePending(static_cast<SimDevice *>(c), nowMs); }
size_t deviceTake(void *c, uint8_t *buffer, size_t max) {
    return simDeviceTake(static_cast<SimDevice *>(c), buffer, max);
}
void deviceLinkUp(void *c, int up, uint32_t nowMs) { simDeviceSetLinkUp(static_cast<SimDevice *>(c), up != 0, nowMs); }

void attachDevice(Transceiver *tx, SimDevice *device, bool owned) {
    detachPeer(tx);
    tx->peer = FtSimPeer{device, deviceReceive, devicePending, deviceTake, deviceLinkUp};
    tx->hasPeer = true;
    tx->device = device;
    tx->ownsDevice = owned;
    simDeviceSetLinkUp(device, tx->present, osClockMs());
}

// The transceiver's open handle (if any) stops working.
void killHandle(Transceiver *tx) {
    if (tx->openSlot >= 0) g_open[tx->openSlot].dead = true;
    tx->openSlot = -1;
}

size_t waitingFor(Transceiver *tx) {
    size_t n = tx->toHost.count;
    if (tx->hasPeer) n += tx->peer.pending(tx->peer.context, osClockMs());
    return n;
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

// Runs one locked call on a live handle and counts it.
template <typename F>
FT_STATUS onHandle(int call, FT_HANDLE handle, F body) {
    countCall(call);
    std::lock_guard<std::mutex> guard(g_lock);
    Transceiver *tx = nullptr;
    FT_STATUS status = lookup(handle, &tx);
    if (status != FT_OK) return status;
    return body(tx);
}

// Applies a change to one transceiver under the lock.
template <typename F>
int withTx(int index, F change) {
    std::lock_guard<std::mutex> guard(g_lock);
    Transceiver *tx = txAt(index);
    if (!tx) return -1;
    return change(tx);
}

}  // namespace

// ---------------------------------------------------------------------------
// D2XX functions
// ---------------------------------------------------------------------------

extern "C" {

FT_STATUS FT_CALL FT_CreateDeviceInfoList(uint32_t *count) {
    countCall(FTSIM_CALL_CREATE_DEVICE_INFO_LIST);
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_listFault != 0) return g_listFault;
    g_listCount = 0;
    for (int i = 0; i < FTSIM_MAX; ++i) {
        Transceiver &tx = g_tx[i];
        if (!tx.used || !tx.present) continue;
        ListEntry &e = g_list[g_listCount++];
        e.transceiver = i;
        e.flags = (tx.openedElsewhere || tx.openSlot >= 0) ? (uint32_t)FT_FLAGS_OPENED : 0u;
        e.handle = tx.openSlot >= 0 ? makeHandle(tx.openSlot) : nullptr;
    }
    if (count) *count = g_listCount;
    return FT_OK;
}

FT_STATUS FT_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type, uint32_t *id,
                                         uint32_t *locationId, void *serial, void *description,
                                         FT_HANDLE *handle) {
    countCall(FTSIM_CALL_GET_DEVICE_INFO_DETAIL);
    std::lock_guard<std::mutex> guard(g_lock);
    if (index >= g_listCount) return FT_DEVICE_NOT_FOUND;
    const ListEntry &e = g_list[index];
    Transceiver &tx = g_tx[e.transceiver];
    if (!tx.used) return FT_DEVICE_NOT_FOUND;
    if (faulty(&tx, FTSIM_FAULT_DETAIL)) return tx.faultStatus;
    if (flags) *flags = e.flags;
    if (type) *type = 5;  // an FT232R
    if (id) *id = 0x04036001u;
    if (locationId) *locationId = 0x1001u + (uint32_t)e.transceiver;
    if (serial) copyText(static_cast<char *>(serial), FT_SERIAL_SIZE, tx.serial);
    if (description) copyText(static_cast<char *>(description), FT_DESCRIPTION_SIZE, tx.description);
    if (handle) *handle = e.handle;
    return FT_OK;
}

FT_STATUS FT_CALL FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle) {
    countCall(FTSIM_CALL_OPEN_EX);
    std::lock_guard<std::mutex> guard(g_lock);
    if (!arg || !handle) return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION) return FT_INVALID_PARAMETER;
    const char *name = static_cast<const char *>(arg);
    Transceiver *tx = nullptr;
    int index = -1;
    for (int i = 0; i < FTSIM_MAX && !tx; ++i) {
        Transceiver &t = g_tx[i];
        if (!t.used || !t.present) continue;
        const char *own = flags == FT_OPEN_BY_SERIAL_NUMBER ? t.serial : t.description;
        if (std::strcmp(own, name) == 0) {
            tx = &t;
            index = i;
        }
    }
    if (!tx) return FT_DEVICE_NOT_FOUND;
    if (tx->openedElsewhere || tx->openSlot >= 0 || faulty(tx, FTSIM_FAULT_OPEN)) return FT_DEVICE_NOT_OPENED;
    int slot = -1;
    for (int s = 0; s < MAX_OPENS && slot < 0; ++s) {
        if (!g_open[s].used) slot = s;
    }
    if (slot < 0) return FT_INSUFFICIENT_RESOURCES;
    g_open[slot].used = true;
    g_open[slot].dead = false;
    g_open[slot].transceiver = index;
    g_open[slot].generation = ++g_generation;
    tx->openSlot = slot;
    tx->openedAtUs = osClockUs();
    tx->opens += 1;
    lineDefaults(tx);
    *handle = makeHandle(slot);
    return FT_OK;
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE handle) {
    countCall(FTSIM_CALL_CLOSE);
    std::lock_guard<std::mutex> guard(g_lock);
    int slot = slotOf(handle);
    if (slot < 0) return FT_INVALID_HANDLE;
    OpenSlot &o = g_open[slot];
    bool dead = o.dead;
    Transceiver &tx = g_tx[o.transceiver];
    o.used = false;
    if (dead) return FT_IO_ERROR;
    tx.openSlot = -1;
    tx.closes += 1;
    tx.dtr = tx.rts = false;
    return faulty(&tx, FTSIM_FAULT_CLOSE) ? tx.faultStatus : FT_OK;
}

FT_STATUS FT_CALL FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus) {
    return onHandle(FTSIM_CALL_GET_MODEM_STATUS, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (faulty(tx, FTSIM_FAULT_MODEM_STATUS)) return tx->faultStatus;
        uint32_t bits = tx->modemBits;
        if (tx->ctsDelayUs != 0 && osClockUs() - tx->openedAtUs < tx->ctsDelayUs) bits &= ~FTSIM_CTS;
        if (modemStatus) *modemStatus = bits;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_ResetPort(FT_HANDLE handle) {
    return onHandle(FTSIM_CALL_RESET_PORT, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (faulty(tx, FTSIM_FAULT_RESET)) return tx->faultStatus;
        tx->resets += 1;
        tx->toHost.clear();
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate) {
    return onHandle(FTSIM_CALL_SET_BAUD_RATE, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (faulty(tx, FTSIM_FAULT_BAUD_RATE)) return tx->faultStatus;
        if (baudRate == 0) return FT_INVALID_BAUD_RATE;
        tx->baudRate = baudRate;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity) {
    return onHandle(FTSIM_CALL_SET_DATA_CHARACTERISTICS, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (faulty(tx, FTSIM_FAULT_DATA_CHARS)) return tx->faultStatus;
        if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
            return FT_INVALID_PARAMETER;
        }
        tx->wordLength = wordLength;
        tx->stopBits = stopBits;
        tx->parity = parity;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff) {
    return onHandle(FTSIM_CALL_SET_FLOW_CONTROL, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (faulty(tx, FTSIM_FAULT_FLOW_CONTROL)) return tx->faultStatus;
        if (flowControl != FT_FLOW_NONE && flowControl != FT_FLOW_RTS_CTS && flowControl != FT_FLOW_DTR_DSR &&
            flowControl != FT_FLOW_XON_XOFF) {
            return FT_INVALID_PARAMETER;
        }
        tx->flowControl = flowControl;
        tx->xon = xon;
        tx->xoff = xoff;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_SetDtr(FT_HANDLE handle) {
    return onHandle(FTSIM_CALL_SET_DTR, handle, [&](Transceiver *tx) -> FT_STATUS {
        tx->dtr = true;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_ClrDtr(FT_HANDLE handle) {
    return onHandle(FTSIM_CALL_CLR_DTR, handle, [&](Transceiver *tx) -> FT_STATUS {
        tx->dtr = false;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_ClrRts(FT_HANDLE handle) {
    return onHandle(FTSIM_CALL_CLR_RTS, handle, [&](Transceiver *tx) -> FT_STATUS {
        tx->rts = false;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_GetDeviceInfo(FT_HANDLE handle, uint32_t *type, uint32_t *id, char *serial, char *description,
                                   void *) {
    return onHandle(FTSIM_CALL_GET_DEVICE_INFO, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (faulty(tx, FTSIM_FAULT_DEVICE_INFO)) return tx->faultStatus;
        if (type) *type = 5;
        if (id) *id = 0x04036001u;
        if (serial) copyText(serial, FT_SERIAL_SIZE, tx->serial);
        if (description) copyText(description, FT_DESCRIPTION_SIZE, tx->description);
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes) {
    return onHandle(FTSIM_CALL_GET_QUEUE_STATUS, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (rxBytes) *rxBytes = 0;
        if (tx->queueStatus != FT_OK) return tx->queueStatus;
        if (rxBytes) *rxBytes = (uint32_t)waitingFor(tx);
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_Read(FT_HANDLE handle, void *buffer, uint32_t toRead, uint32_t *read) {
    return onHandle(FTSIM_CALL_READ, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (read) *read = 0;
        if (faulty(tx, FTSIM_FAULT_READ)) return tx->faultStatus;
        if (!buffer || !read) return FT_INVALID_PARAMETER;
        uint8_t *out = static_cast<uint8_t *>(buffer);
        size_t got = tx->toHost.take(out, toRead);
        if (got < toRead && tx->hasPeer && tx->peer.pending(tx->peer.context, osClockMs()) > 0) {
            got += tx->peer.take(tx->peer.context, out + got, toRead - got);
        }
        *read = (uint32_t)got;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE handle, void *buffer, uint32_t toWrite, uint32_t *written) {
    return onHandle(FTSIM_CALL_WRITE, handle, [&](Transceiver *tx) -> FT_STATUS {
        if (written) *written = 0;
        if (faulty(tx, FTSIM_FAULT_WRITE)) return tx->faultStatus;
        if ((!buffer && toWrite > 0) || !written) return FT_INVALID_PARAMETER;
        const uint8_t *data = static_cast<const uint8_t *>(buffer);
        uint32_t n = toWrite < tx->writeLimit ? toWrite : tx->writeLimit;
        if (n == 0) return FT_OK;
        tx->written.pushOverwrite(data, n);
        if (tx->hasPeer) tx->peer.receive(tx->peer.context, data, n, osClockMs());
        if (tx->loopback) tx->toHost.push(data, n);
        for (int r = 0; r < tx->replyCount; ++r) {
            const Reply &reply = tx->replies[r];
            if (reply.requestSize == n && std::memcmp(reply.request, data, n) == 0) {
                tx->toHost.push(reply.reply, reply.replySize);
                break;
            }
        }
        *written = n;
        return FT_OK;
    });
}

// ---------------------------------------------------------------------------
// Control functions
// ---------------------------------------------------------------------------

void ftsimReset(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (int i = 0; i < FTSIM_MAX; ++i) {
        g_tx[i].openSlot = -1;
        if (g_tx[i].used) detachPeer(&g_tx[i]);
        g_tx[i].used = false;
    }
    // Handles of earlier runs become unknown handles.
    for (auto &o : g_open) o.used = false;
    g_listCount = 0;
    g_listFault = 0;
    for (auto &c : g_calls) c.store(0);
}

int ftsimAdd(const char *serial, const char *description) {
    if (!serial) return -1;
    std::lock_guard<std::mutex> guard(g_lock);
    for (int i = 0; i < FTSIM_MAX; ++i) {
        Transceiver &tx = g_tx[i];
        if (tx.used) continue;
        tx.used = true;
        tx.present = true;
        tx.openedElsewhere = false;
        copyText(tx.serial, sizeof tx.serial, serial);
        copyText(tx.description, sizeof tx.description, description ? description : FTSIM_DEFAULT_DESCRIPTION);
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

int ftsimRemove(int index) {
    std::lock_guard<std::mutex> guard(g_lock);
    Transceiver *tx = txAt(index);
    if (!tx) return -1;
    if (tx->present) setLinkUp(tx, false);
    killHandle(tx);
    detachPeer(tx);
    tx->used = false;
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
    std::lock_guard<std::mutex> guard(g_lock);
    g_listFault = status;
}

int ftsimUnplug(int index) {
    return withTx(index, [&](Transceiver *tx) {
        if (!tx->present) return 0;
        tx->present = false;
        killHandle(tx);
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
        setLinkUp(tx, true);
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
    std::lock_guard<std::mutex> guard(g_lock);
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
        state->open = tx->openSlot >= 0;
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

// ---------------------------------------------------------------------------
// The simulated device behind a transceiver
// ---------------------------------------------------------------------------

static_assert(sizeof(FtSimSample) == sizeof(SimSampleRecord), "FtSimSample mirrors SimSampleRecord");
static_assert(offsetof(FtSimSample, value) == offsetof(SimSampleRecord, value), "FtSimSample mirrors SimSampleRecord");
static_assert(offsetof(FtSimSample, fate) == offsetof(SimSampleRecord, fate), "FtSimSample mirrors SimSampleRecord");

namespace {

bool toSimSignal(const FtSimSignal *in, SimSignal *out) {
    if (!in || in->kind < SIM_SIGNAL_SINE || in->kind > SIM_SIGNAL_SQUARE) return false;
    if (in->amplitude < -32768 || in->amplitude > 32767 || in->offset < -32768 || in->offset > 32767) return false;
    out->kind = static_cast<SimSignalKind>(in->kind);
    out->amplitude = static_cast<int16_t>(in->amplitude);
    out->offset = static_cast<int16_t>(in->offset);
    out->frequency = in->frequency;
    return true;
}

// Applies a change to the simulated device of a transceiver under the lock.
template <typename F>
int withDevice(int index, F change) {
    std::lock_guard<std::mutex> guard(g_lock);
    Transceiver *tx = txAt(index);
    if (!tx || !tx->device) return -1;
    return change(tx->device, osClockMs());
}

}  // namespace

extern "C" {

int ftsimAttachNewDeviceEx(int index, const char *model, const char *serial, const FtSimSignal *signals, int count) {
    if (!model || count < 0 || count > 6 || (count > 0 && !signals)) return -1;
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, model);
    if (serial) copyText(cfg.serial, sizeof cfg.serial, serial);
    for (int c = 0; c < count; ++c) {
        if (!toSimSignal(&signals[c], &cfg.signal[c])) return -1;
    }
    SimDevice *device = simDeviceCreate(&cfg);
    if (!device) return -1;
    int rc = withTx(index, [&](Transceiver *tx) {
        attachDevice(tx, device, true);
        return index;
    });
    if (rc < 0) simDeviceDestroy(device);
    return rc;
}

int ftsimSignalValue(const FtSimSignal *signal, uint32_t n, double rateHz) {
    SimSignal s;
    if (!toSimSignal(signal, &s)) return 0;
    return simSignalValue(&s, n, rateHz);
}

int ftsimDeviceSetFault(int index, int command, int action, uint32_t param, int32_t times) {
    if (action < SIM_FAULT_NONE || action > SIM_FAULT_RESULT) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        return simDeviceSetFault(d, command, static_cast<SimFaultAction>(action), param, times) ? 0 : -1;
    });
}

int ftsimDeviceClearFaults(int index) {
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        simDeviceClearFaults(d);
        return 0;
    });
}

int ftsimDeviceDropData(int index, uint32_t messages) {
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        simDeviceDropData(d, messages);
        return 0;
    });
}

int ftsimDeviceSilence(int index, uint32_t durationMs) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDeviceSilence(d, durationMs, now);
        return 0;
    });
}

int ftsimDeviceSetLinkUp(int index, int up) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDeviceSetLinkUp(d, up != 0, now);
        return 0;
    });
}

int ftsimDeviceInjectBytes(int index, const uint8_t *data, size_t size) {
    if (!data && size > 0) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        if (size > 0) simDeviceInjectBytes(d, data, size, now);
        return 0;
    });
}

int ftsimDeviceSendEvent(int index, int event, int data) {
    if (event < 0 || event > 255) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDeviceSendEvent(d, static_cast<uint8_t>(event), data, now);
        return 0;
    });
}

int ftsimDeviceSetSignalState(int index, int channel, int state) {
    if (state < 0 || state > 3 || channel < -1) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        if (channel >= simDeviceChannels(d)) return -1;
        simDeviceSetSignalState(d, channel, static_cast<uint8_t>(state), now);
        return 0;
    });
}

int ftsimDeviceRecordSamples(int index, int channel, FtSimSample *buffer, uint32_t capacity) {
    if (channel < 0 || channel >= 6) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        simDeviceRecordSamples(d, channel, reinterpret_cast<SimSampleRecord *>(buffer), capacity);
        return 0;
    });
}

int32_t ftsimDeviceRecordCount(int index, int channel) {
    if (channel < 0 || channel >= 6) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t) { return (int)simDeviceRecordCount(d, channel); });
}

int ftsimDeviceState(int index) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDevicePending(d, now);
        return (int)simDeviceState(d);
    });
}

}  // extern "C"
