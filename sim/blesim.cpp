// blesim.cpp - the device side of simulated Bluetooth LE devices: the
// characteristic layout, the open by a front, notifications switched on and
// off, the values the host writes, the flow control, the delivery of what
// the device sends, and the controls of sim/ftsim.h for them.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "os/os.h"
#include "sim/blesim_internal.h"

namespace ftsim {

BleFace g_ble[FTSIM_MAX];

namespace {

const uint32_t DEFAULT_DEVICE_BUFFER = 2047;
const uint32_t MAX_COUNT = 0xFFFF;

void flowMessage(BleFace *b, uint8_t type, uint32_t count) {
    if (count > MAX_COUNT) count = MAX_COUNT;
    const uint8_t m[BLE_FLOW_MSG_SIZE] = {type, (uint8_t)(count & 0xFF), (uint8_t)(count >> 8)};
    b->flowOut.pushAll(m, sizeof m);
}

// The device path of a slot as Windows writes the interface path of a GATT
// service: the service class, the device address, an instance, the class of
// GATT service interfaces.
void defaultPath(BleFace *b, int index) {
    const uint8_t *a = b->address;
    std::snprintf(b->path, sizeof b->path,
                  "\\\\?\\bthledevice#{331a36f5-2459-45ea-9d95-6142f0c4b307}_%02x%02x%02x%02x%02x%02x#8&2c5f1a7b&0&%04x"
                  "#{6e3bb679-4372-40c8-9eaa-4509df260cd8}",
                  a[0], a[1], a[2], a[3], a[4], a[5], (unsigned)index);
}

bool parseAddress(const char *text, uint8_t out[6]) {
    if (std::strlen(text) != 12) return false;
    for (int i = 0; i < 6; ++i) {
        unsigned v = 0;
        if (std::sscanf(text + 2 * i, "%2x", &v) != 1) return false;
        out[i] = (uint8_t)v;
    }
    return true;
}

// A value-changed event for the registered host of a slot.
void gattSink(void *, int index, int role, const uint8_t *data, size_t size) {
    BleFace *b = &g_ble[index];
    int position = blePositionOfRole(b, role);
    // A host hears only the characteristics it registered for.
    if (!b->registered || !b->callback || !(b->registeredRoles & (1u << role)) || position < 0 || size == 0 ||
        size > BLE_MAX_VALUE) {
        return;
    }
    BleGattValueBuffer value;
    value.dataSize = (uint32_t)size;
    std::memcpy(value.data, data, size);
    BleGattValueChangedEvent event = {bleHandleOfPosition(position), sizeof(uint32_t) + size,
                                      reinterpret_cast<BleGattValue *>(&value)};
    b->callback(BLE_EVENT_VALUE_CHANGED, &event, b->context);
}

// The delivery thread: every millisecond, what the devices opened through
// the GATT functions have for their hosts.
OsLock g_pumpLock;
const bool g_pumpLockMade = (osLockInit(&g_pumpLock), true);
OsThread g_pumpThread = nullptr;
std::atomic<bool> g_pumpStop{false};
std::atomic<bool> g_autoPump{true};

void pumpLoop(void *) {
    while (!g_pumpStop.load()) {
        osSleep(1);
        ftsimBlePump();
    }
}

}  // namespace

int bleCharacteristicCount(const BleFace *b) {
    if (b->faults & FTSIM_BLE_NO_CHARACTERISTICS) return 0;
    return (b->faults & FTSIM_BLE_TWO_CHARACTERISTICS) ? 2 : BLE_CHARACTERISTICS;
}

int bleRoleAt(const BleFace *b, int position) {
    return (b->faults & FTSIM_BLE_WRONG_ORDER) && position < 2 ? 1 - position : position;
}

uint16_t bleHandleOfPosition(int position) { return (uint16_t)(0x0B + 3 * position); }

int blePositionOfHandle(const BleFace *b, uint16_t handle, bool descriptor) {
    for (int p = 0; p < bleCharacteristicCount(b); ++p) {
        uint16_t h = bleHandleOfPosition(p);
        if (descriptor ? handle == h + 2 : (handle == h || handle == h + 1)) return p;
    }
    return -1;
}

int blePositionOfRole(const BleFace *b, int role) {
    for (int p = 0; p < bleCharacteristicCount(b); ++p) {
        if (bleRoleAt(b, p) == role) return p;
    }
    return -1;
}

Transceiver *bleDevice(int index) {
    Transceiver *tx = txAt(index);
    return tx && tx->kind == PORT_BLE && tx->present ? tx : nullptr;
}

void bleClear(int index) {
    BleFace *b = &g_ble[index];
    uint32_t serial = b->openSerial;
    *b = BleFace{};
    b->openSerial = serial;
}

void bleKill(Transceiver *tx) {
    BleFace *b = &g_ble[tx - g_tx];
    if (b->open) b->dead = true;
    b->registered = false;
    b->registeredRoles = 0;
}

bool bleOpen(int index, BleFront front) {
    Transceiver *tx = bleDevice(index);
    BleFace *b = &g_ble[index];
    if (!tx || (b->open && !b->dead) || (b->faults & FTSIM_BLE_FAIL_OPEN)) return false;
    b->front = front;
    b->open = true;
    b->dead = false;
    b->openSerial += 1;
    b->abortDone = false;
    b->registered = false;
    b->registeredRoles = 0;
    b->callback = nullptr;
    for (bool &n : b->notifying) n = false;
    b->hostCredit = 0;
    b->hostCreditKnown = false;
    b->freedPending = 0;
    b->flowOut.clear();
    tx->opens += 1;
    return true;
}

void bleClose(int index) {
    BleFace *b = &g_ble[index];
    if (!b->open) return;
    b->open = false;
    b->dead = false;
    b->front = FRONT_NONE;
    b->registered = false;
    b->registeredRoles = 0;
    b->callback = nullptr;
    for (bool &n : b->notifying) n = false;
    if (Transceiver *tx = txAt(index)) tx->closes += 1;
}

void bleSubscribe(int index, int role, bool on) {
    BleFace *b = &g_ble[index];
    if (role < 0 || role >= BLE_CHARACTERISTICS) return;
    b->notifying[role] = on;
    // The device tells its buffer once the host can hear it.
    if (role == 0 && on && b->deviceBuffer > 0) flowMessage(b, INITIAL_BUF_SIZE_MSG, b->deviceBuffer);
}

bool bleHostWrite(int index, int role, const uint8_t *data, size_t size) {
    Transceiver *tx = bleDevice(index);
    BleFace *b = &g_ble[index];
    if (!tx || !b->open || b->dead || size == 0 || size > BLE_MAX_VALUE) return false;
    if (role == 0) {
        deliverFromHost(tx, data, size);
        b->stats.valuesWritten += 1;
        b->stats.bytesWritten += (uint32_t)size;
        if (size > b->stats.largestValue) b->stats.largestValue = (uint32_t)size;
        if (b->reportFreed) b->freedPending += (uint32_t)size;
        return true;
    }
    if (role != 1 || size != BLE_FLOW_MSG_SIZE) return false;
    uint32_t count = data[1] | (uint32_t)(data[2] << 8);
    b->stats.flowMessages += 1;
    if (data[0] == INITIAL_BUF_SIZE_MSG) {
        b->hostCredit = count;
        b->hostCreditKnown = true;
    } else if (data[0] == BUF_BYTES_FREED_MSG) {
        b->hostCredit = b->hostCredit + count > MAX_COUNT ? MAX_COUNT : b->hostCredit + count;
        b->stats.lastFreed = count;
    }
    return true;
}

size_t blePump(int index, BleSink sink, void *context) {
    Transceiver *tx = bleDevice(index);
    BleFace *b = &g_ble[index];
    if (!tx || !b->open || b->dead) return 0;
    if (b->notifying[0]) {
        if (b->freedPending > 0) {
            uint32_t n = b->freedPending > MAX_COUNT ? MAX_COUNT : b->freedPending;
            flowMessage(b, BUF_BYTES_FREED_MSG, n);
            b->freedPending -= n;
        }
        uint8_t m[BLE_FLOW_MSG_SIZE];
        while (b->flowOut.count >= BLE_FLOW_MSG_SIZE) {
            b->flowOut.take(m, sizeof m);
            sink(context, index, 0, m, sizeof m);
        }
    }
    if (!b->notifying[1]) return 0;
    bool flood = (b->faults & FTSIM_BLE_FLOOD) != 0;
    size_t total = 0;
    for (;;) {
        size_t room = flood ? BLE_MAX_VALUE : (b->hostCredit < BLE_MAX_VALUE ? b->hostCredit : BLE_MAX_VALUE);
        uint8_t value[BLE_MAX_VALUE];
        size_t n = room > 0 ? takeForHost(tx, value, room) : 0;
        if (n == 0) break;
        b->hostCredit = n > b->hostCredit ? 0 : b->hostCredit - (uint32_t)n;
        b->stats.bytesNotified += (uint32_t)n;
        sink(context, index, 1, value, n);
        total += n;
    }
    return total;
}

void bleStopPump() {
    OsLockGuard guard(&g_pumpLock);
    if (!g_pumpThread) return;
    g_pumpStop.store(true);
    osThreadJoin(g_pumpThread);
    g_pumpThread = nullptr;
    g_pumpStop.store(false);
}

// Starts the delivery thread when it is wanted and not running; called
// without the transceivers' lock.
void bleEnsurePump() {
    OsLockGuard guard(&g_pumpLock);
    if (g_pumpThread || !g_autoPump.load()) return;
    g_pumpThread = osThreadStart(pumpLoop, nullptr, 0, OS_PRIORITY_NORMAL);
}

}  // namespace ftsim

using namespace ftsim;

// Applies a change to a BLE device's side under the lock.
template <typename F>
static int withBle(int index, F change) {
    return withTx(index, [&](Transceiver *tx) { return tx->kind == PORT_BLE ? change(&g_ble[index]) : -1; });
}

extern "C" {

int ftsimAddBle(const char *name, const char *address) {
    uint8_t bytes[6];
    if (address && !parseAddress(address, bytes)) return -1;
    OsLockGuard guard(&g_lock);
    int index = addPort(PORT_BLE);
    if (index < 0) return -1;
    const char *shownName = name ? name : FTSIM_DEFAULT_DESCRIPTION;
    copyText(g_tx[index].description, sizeof g_tx[index].description, shownName);
    BleFace *b = &g_ble[index];
    copyText(b->name, sizeof b->name, shownName);
    const uint8_t own[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, (uint8_t)index};
    std::memcpy(b->address, address ? bytes : own, 6);
    defaultPath(b, index);
    b->deviceBuffer = DEFAULT_DEVICE_BUFFER;
    b->reportFreed = true;
    return index;
}

int ftsimBleSetFaults(int index, uint32_t faults, uint32_t param) {
    return withBle(index, [&](BleFace *b) {
        b->faults = faults;
        b->faultParam = param;
        return 0;
    });
}

int ftsimBleSetPath(int index, const char *path) {
    return withBle(index, [&](BleFace *b) {
        if (path) {
            copyText(b->path, sizeof b->path, path);
        } else {
            defaultPath(b, index);
        }
        return 0;
    });
}

int ftsimBleSetDeviceBuffer(int index, uint32_t bytes, int reportFreed) {
    if (bytes > MAX_COUNT) return -1;
    return withBle(index, [&](BleFace *b) {
        b->deviceBuffer = bytes;
        b->reportFreed = reportFreed != 0;
        return 0;
    });
}

int ftsimBleSendFlow(int index, int type, uint32_t count) {
    if (type < 0 || type > 255 || count > MAX_COUNT) return -1;
    return withBle(index, [&](BleFace *b) {
        flowMessage(b, (uint8_t)type, count);
        return 0;
    });
}

int ftsimBleNotify(int index, const uint8_t *data, size_t size, int ignoreCredit) {
    if (!data && size > 0) return -1;
    return withBle(index, [&](BleFace *b) {
        if (!b->open || b->dead || b->front != FRONT_GATT || !b->notifying[1]) return -1;
        size_t sent = 0;
        while (sent < size) {
            size_t room = ignoreCredit ? BLE_MAX_VALUE : (b->hostCredit < BLE_MAX_VALUE ? b->hostCredit : BLE_MAX_VALUE);
            size_t n = size - sent < room ? size - sent : room;
            if (n == 0) break;
            if (!ignoreCredit) b->hostCredit -= (uint32_t)n;
            b->stats.bytesNotified += (uint32_t)n;
            gattSink(nullptr, index, 1, data + sent, n);
            sent += n;
        }
        return (int)sent;
    });
}

int ftsimBleGetState(int index, FtSimBleState *state) {
    if (!state) return -1;
    return withBle(index, [&](BleFace *b) {
        *state = b->stats;
        state->open = b->open && !b->dead;
        state->registered = b->registered;
        for (int i = 0; i < BLE_CHARACTERISTICS; ++i) state->notifying[i] = b->notifying[i];
        state->hostCredit = b->hostCredit;
        state->hostCreditKnown = b->hostCreditKnown;
        return 0;
    });
}

void ftsimBleAutoPump(int on) {
    g_autoPump.store(on != 0);
    if (!on) bleStopPump();
}

int ftsimBlePump(void) {
    OsLockGuard guard(&g_lock);
    size_t total = 0;
    for (int i = 0; i < FTSIM_MAX; ++i) {
        if (g_tx[i].used && g_tx[i].kind == PORT_BLE && g_ble[i].front == FRONT_GATT) total += blePump(i, gattSink, nullptr);
    }
    return (int)total;
}

}  // extern "C"
