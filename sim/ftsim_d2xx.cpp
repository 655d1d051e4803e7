// ftsim_d2xx.cpp - the D2XX face of the simulated transceivers: the sixteen
// FT_* functions of link/d2xx.h over the transceiver table of ftsim.cpp.
// Handles name a slot of the open table and its generation, so a handle
// stays invalid once closed.
#include <cstring>

#include "os/os.h"
#include "sim/ftsim_internal.h"

using namespace ftsim;

namespace {

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

// Runs one locked call on a live handle and counts it.
template <typename F>
FT_STATUS onHandle(int call, FT_HANDLE handle, F body) {
    countCall(call);
    OsLockGuard guard(&g_lock);
    Transceiver *tx = nullptr;
    FT_STATUS status = lookup(handle, &tx);
    if (status != FT_OK) return status;
    return body(tx);
}

}  // namespace

// ---------------------------------------------------------------------------
// D2XX functions
// ---------------------------------------------------------------------------

extern "C" {

FT_STATUS FT_CALL FT_CreateDeviceInfoList(uint32_t *count) {
    plugFromEnvironment();
    countCall(FTSIM_CALL_CREATE_DEVICE_INFO_LIST);
    OsLockGuard guard(&g_lock);
    if (g_listFault != 0) return g_listFault;
    g_listCount = 0;
    for (int i = 0; i < FTSIM_MAX; ++i) {
        Transceiver &tx = g_tx[i];
        if (!tx.used || !tx.present || tx.kind != PORT_USB) continue;
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
    OsLockGuard guard(&g_lock);
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
    plugFromEnvironment();
    countCall(FTSIM_CALL_OPEN_EX);
    OsLockGuard guard(&g_lock);
    if (!arg || !handle) return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION) return FT_INVALID_PARAMETER;
    const char *name = static_cast<const char *>(arg);
    Transceiver *tx = nullptr;
    int index = -1;
    for (int i = 0; i < FTSIM_MAX && !tx; ++i) {
        Transceiver &t = g_tx[i];
        if (!t.used || !t.present || t.kind != PORT_USB) continue;
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
    OsLockGuard guard(&g_lock);
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
        size_t got = takeForHost(tx, static_cast<uint8_t *>(buffer), toRead);
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
        deliverFromHost(tx, data, n);
        *written = n;
        return FT_OK;
    });
}

}  // extern "C"
