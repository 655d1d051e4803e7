// ftsim_sockets.cpp - the socket face of the simulator: a socket table
// (link/sockets.h) over the Bluetooth and IrDA devices of the transceiver
// table, and their controls. A socket connects to a device in range by its
// Bluetooth address (Serial Port service) or IrDA device id; what the host
// sends goes to the simulated device behind the slot, what it reads comes
// from it. Inquiries list the Bluetooth devices and extra results; the
// IrDA device list and IAS answers are made in Winsock's layouts.
//
// Handles name a slot of the socket table and its generation, so a closed
// socket stays invalid. Every function runs under the transceivers' lock;
// the last error is kept per thread, like Winsock's.
#include <atomic>
#include <cstring>

#include "link/bt_text.h"
#include "link/sockets.h"
#include "os/os.h"
#include "sim/ftsim_internal.h"

using namespace ftsim;

namespace {

struct SimSocket {
    bool used;
    bool nonBlocking;
    bool connecting;     // a non-blocking connect was begun; pollConnect ends it
    bool dead;           // the connection broke: every call fails with deadError
    bool nineWire;
    int family;
    int slot;            // the device connected to, or -1
    int soError;         // SO_ERROR: why the connect failed
    int deadError;
    uint32_t generation;
};

const int MAX_SOCKETS = 32;
const int TOO_MANY_SOCKETS = 10024;   // Winsock's "too many open sockets"
const uintptr_t SOCKET_TAG = 0x5C000000u;
const int RECEIVE_BUFFER = 8192;
const char IRCOMM_CLASS[] = "IrDA:IrCOMM";
const char IRCOMM_ATTRIBUTE[] = "Parameters";
// IrCOMM parameters of a device: a port type parameter, then the service
// type with the 9-wire bit.
const uint8_t NINE_WIRE_PARAMETERS[] = {0x01, 0x01, 0x01, 0x00, 0x01, 0x06};

// A run of inquiry results: one Bluetooth device of the table (slot >= 0),
// or results no device stands behind.
struct InquiryRun {
    uint64_t first;
    int count;
    int slot;
    bool named;
    uint16_t nameLength;
    char name[300];
};
const int MAX_RUNS = 64;
const int MAX_LOOKUPS = 4;

struct Lookup {
    bool used;
    int run;
    int offset;
};

SimSocket g_sockets[MAX_SOCKETS];
uint32_t g_socketGeneration = 0;
InquiryRun g_runs[MAX_RUNS];
int g_runCount = 0;
int g_inquiryFault = 0;
int g_inquiryResultFault = 0;   // the next result of an inquiry fails with it
Lookup g_lookups[MAX_LOOKUPS];
thread_local int t_error = 0;

int fail(int error) {
    t_error = error;
    return -1;
}

uintptr_t handleOf(int index) {
    return SOCKET_TAG | ((uintptr_t)(g_sockets[index].generation & 0xFFFF) << 8) | (uintptr_t)index;
}

// The open socket a handle names, or null (and LINK_ERR_NOTSOCK).
SimSocket *socketOf(uintptr_t s) {
    if ((s & ~(uintptr_t)0xFFFFFF) != SOCKET_TAG) return nullptr;
    int index = (int)(s & 0xFF);
    if (index >= MAX_SOCKETS || !g_sockets[index].used) return nullptr;
    if (((s >> 8) & 0xFFFF) != (g_sockets[index].generation & 0xFFFF)) return nullptr;
    return &g_sockets[index];
}

// The device of a connected socket; null with the error set otherwise.
Transceiver *peerOf(SimSocket *k) {
    if (k->dead) {
        fail(k->deadError);
        return nullptr;
    }
    if (k->slot < 0) {
        fail(LINK_ERR_NOTCONN);
        return nullptr;
    }
    return &g_tx[k->slot];
}

void disconnectSocket(SimSocket *k) {
    if (k->slot < 0) return;
    Transceiver *tx = &g_tx[k->slot];
    tx->radio.socket = -1;
    k->slot = -1;
    setLinkUp(tx, false);
}

// The device in range at a Bluetooth address or with an IrDA id.
int findDevice(PortKind kind, uint64_t address, const uint8_t *irdaId) {
    for (int i = 0; i < FTSIM_MAX; ++i) {
        const Transceiver &tx = g_tx[i];
        if (!tx.used || !tx.present || tx.kind != kind) continue;
        if (kind == PORT_BLUETOOTH && tx.radio.address == address) return i;
        if (kind == PORT_IRDA && std::memcmp(tx.radio.irdaId, irdaId, 4) == 0) return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Sockets
// ---------------------------------------------------------------------------

int start(int *) { return 1; }
void stop() {}
int lastError() { return t_error; }
void setLastError(int error) { t_error = error; }

uintptr_t open(int family, int type, int protocol) {
    OsLockGuard guard(&g_lock);
    bool bt = family == LINK_AF_BTH && protocol == LINK_PROTO_RFCOMM;
    bool irda = family == LINK_AF_IRDA && protocol == LINK_PROTO_IRDA;
    if ((!bt && !irda) || type != LINK_SOCK_STREAM) {
        fail(LINK_ERR_AFNOSUPPORT);
        return LINK_INVALID_HANDLE;
    }
    for (int i = 0; i < MAX_SOCKETS; ++i) {
        SimSocket &k = g_sockets[i];
        if (k.used) continue;
        uint32_t generation = ++g_socketGeneration;
        k = SimSocket{};
        k.used = true;
        k.family = family;
        k.slot = -1;
        k.generation = generation;
        return handleOf(i);
    }
    fail(TOO_MANY_SOCKETS);
    return LINK_INVALID_HANDLE;
}

// The device a connect asks for, or -1 with the error set (an address that
// is not a device of the table is not reachable: the connect times out).
int connectTarget(const SimSocket *k, const uint8_t *a, int size, bool *timesOut) {
    *timesOut = false;
    if (k->family == LINK_AF_BTH) {
        if (size < BTH_ADDR_SIZE || linkGet16(a + BTH_FAMILY_AT) != LINK_AF_BTH ||
            std::memcmp(a + BTH_SERVICE_AT, BTH_SERIAL_PORT_CLASS, sizeof BTH_SERIAL_PORT_CLASS) != 0) {
            return fail(LINK_ERR_INVALID);
        }
        int slot = findDevice(PORT_BLUETOOTH, linkGet64(a + BTH_ADDRESS_AT) & BTH_ADDRESS_MASK, nullptr);
        *timesOut = slot < 0;
        return slot;
    }
    if (size < IRDA_ADDR_SIZE || linkGet16(a + IRDA_FAMILY_AT) != LINK_AF_IRDA) return fail(LINK_ERR_INVALID);
    if (std::strncmp(reinterpret_cast<const char *>(a + IRDA_SERVICE_AT), IRCOMM_CLASS, IRDA_SERVICE_SIZE) != 0) {
        return fail(LINK_ERR_CONNREFUSED);
    }
    int slot = findDevice(PORT_IRDA, 0, a + IRDA_DEVICE_AT);
    *timesOut = slot < 0;
    return slot;
}

// A fault armed on the device: its error, or 0.
int takeConnectFault(Transceiver *tx) {
    Radio &r = tx->radio;
    if (r.connectError == 0 || r.connectFaults == 0) return 0;
    if (r.connectFaults > 0) --r.connectFaults;
    return r.connectError;
}

int connectTo(uintptr_t s, const void *address, int size) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    if (!address) return fail(LINK_ERR_FAULT);
    bool timesOut = false;
    int slot = connectTarget(k, static_cast<const uint8_t *>(address), size, &timesOut);
    int error = timesOut ? LINK_ERR_TIMEDOUT : 0;
    if (slot >= 0) {
        error = takeConnectFault(&g_tx[slot]);
        if (error == 0 && g_tx[slot].radio.socket >= 0) error = LINK_ERR_TIMEDOUT;   // busy with another host
    } else if (!timesOut) {
        return -1;
    }
    // A time-out shows only once the stack has tried; other faults at once.
    if (error != 0 && error != LINK_ERR_TIMEDOUT) return fail(error);
    if (error == 0) {
        k->slot = slot;
        g_tx[slot].radio.socket = (int)(k - g_sockets);
        setLinkUp(&g_tx[slot], true);
    }
    if (!k->nonBlocking) return error == 0 ? 0 : fail(error);
    k->connecting = true;
    k->soError = error;
    return fail(LINK_ERR_WOULDBLOCK);
}

std::atomic<bool> g_holdConnects{false};

int pollConnect(uintptr_t s, int *failed) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    if (k->connecting && g_holdConnects.load()) return 0;
    *failed = k->connecting && k->soError != 0 ? 1 : 0;
    k->connecting = false;
    return 1;
}

int ioctl(uintptr_t s, uint32_t command, uint32_t *argument) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    if (command == LINK_FIONBIO) {
        k->nonBlocking = *argument != 0;
        return 0;
    }
    if (command != LINK_FIONREAD) return fail(LINK_ERR_INVALID);
    Transceiver *tx = peerOf(k);
    if (!tx) return -1;
    *argument = (uint32_t)waitingFor(tx);
    return 0;
}

// The IrDA device list: the devices in range that fit the caller's room.
int deviceList(uint8_t *out, int *size) {
    if (*size < IRDA_LIST_DEVICES_AT) return fail(LINK_ERR_FAULT);
    uint32_t room = (uint32_t)(*size - IRDA_LIST_DEVICES_AT) / IRDA_DEVICE_SIZE;
    uint32_t n = 0;
    for (int i = 0; i < FTSIM_MAX && n < room; ++i) {
        const Transceiver &tx = g_tx[i];
        if (!tx.used || !tx.present || tx.kind != PORT_IRDA) continue;
        uint8_t *e = out + IRDA_LIST_DEVICES_AT + n * IRDA_DEVICE_SIZE;
        std::memset(e, 0, IRDA_DEVICE_SIZE);
        std::memcpy(e, tx.radio.irdaId, IRDA_DEVICE_ID_SIZE);
        std::memcpy(e + IRDA_DEVICE_NAME_AT, tx.radio.irdaName, sizeof tx.radio.irdaName);
        ++n;
    }
    linkPut32(out + IRDA_LIST_COUNT_AT, n);
    *size = IRDA_LIST_DEVICES_AT + (int)(n * IRDA_DEVICE_SIZE);
    return 0;
}

// The answer of a device's IAS database to IrCOMM "Parameters". *size
// tells how much of the record the answer filled.
int iasQuery(uint8_t *q, int *size) {
    if (*size < IAS_QUERY_SIZE) return fail(LINK_ERR_FAULT);
    int slot = findDevice(PORT_IRDA, 0, q + IAS_DEVICE_AT);
    if (slot < 0) return fail(LINK_ERR_TIMEDOUT);
    if (std::strncmp(reinterpret_cast<const char *>(q + IAS_CLASS_AT), IRCOMM_CLASS, IAS_CLASS_SIZE) != 0 ||
        std::strncmp(reinterpret_cast<const char *>(q + IAS_ATTRIBUTE_AT), IRCOMM_ATTRIBUTE, IAS_ATTRIBUTE_SIZE) != 0) {
        return fail(LINK_ERR_CONNREFUSED);
    }
    const Radio &r = g_tx[slot].radio;
    size_t held = r.iasSize < (size_t)IAS_OCTETS_SIZE ? r.iasSize : (size_t)IAS_OCTETS_SIZE;
    linkPut32(q + IAS_TYPE_AT, r.iasType);
    linkPut32(q + IAS_OCTETS_LENGTH_AT, r.iasClaimed);
    std::memcpy(q + IAS_OCTETS_AT, r.ias, held);
    *size = IAS_OCTETS_AT + (int)held;
    return 0;
}

int getOption(uintptr_t s, int level, int name, void *value, int *size) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    if (!value || !size) return fail(LINK_ERR_FAULT);
    uint8_t *out = static_cast<uint8_t *>(value);
    if (level == LINK_SOL_SOCKET && (name == LINK_SO_ERROR || name == LINK_SO_RCVBUF)) {
        if (*size < 4) return fail(LINK_ERR_FAULT);
        linkPut32(out, (uint32_t)(name == LINK_SO_ERROR ? k->soError : RECEIVE_BUFFER));
        if (name == LINK_SO_ERROR) k->soError = 0;
        *size = 4;
        return 0;
    }
    if (level == LINK_SOL_IRLMP && k->family == LINK_AF_IRDA) {
        if (name == LINK_IRLMP_ENUMDEVICES) return deviceList(out, size);
        if (name == LINK_IRLMP_IAS_QUERY) return iasQuery(out, size);
    }
    return fail(LINK_ERR_NOPROTOOPT);
}

int setOption(uintptr_t s, int level, int name, const void *value, int size) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    if (level != LINK_SOL_IRLMP || name != LINK_IRLMP_9WIRE_MODE || k->family != LINK_AF_IRDA) {
        return fail(LINK_ERR_NOPROTOOPT);
    }
    if (!value || size < 4) return fail(LINK_ERR_FAULT);
    k->nineWire = linkGet32(static_cast<const uint8_t *>(value)) != 0;
    return 0;
}

int32_t sendAll(uintptr_t s, const void *data, int32_t length) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    Transceiver *tx = peerOf(k);
    if (!tx) return -1;
    if (length <= 0) return 0;
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    tx->written.pushOverwrite(bytes, (size_t)length);
    if (tx->hasPeer) tx->peer.receive(tx->peer.context, bytes, (size_t)length, osClockMs());
    return length;
}

int32_t recvByte(uintptr_t s, void *buffer) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    Transceiver *tx = peerOf(k);
    if (!tx) return -1;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    if (tx->toHost.take(out, 1) == 1) return 1;
    if (tx->hasPeer && tx->peer.pending(tx->peer.context, osClockMs()) > 0 &&
        tx->peer.take(tx->peer.context, out, 1) == 1) {
        return 1;
    }
    return fail(LINK_ERR_WOULDBLOCK);
}

int closeSocket(uintptr_t s) {
    OsLockGuard guard(&g_lock);
    SimSocket *k = socketOf(s);
    if (!k) return fail(LINK_ERR_NOTSOCK);
    disconnectSocket(k);
    k->used = false;
    return 0;
}

// ---------------------------------------------------------------------------
// Inquiry
// ---------------------------------------------------------------------------

// A run whose results an inquiry lists now.
bool runListed(const InquiryRun &run) {
    if (run.slot < 0) return true;
    const Transceiver &tx = g_tx[run.slot];
    return tx.used && tx.present && tx.kind == PORT_BLUETOOTH && tx.radio.address == run.first;
}

int lookupBegin(uint32_t, uintptr_t *lookup) {
    OsLockGuard guard(&g_lock);
    if (g_inquiryFault != 0) {
        int error = g_inquiryFault;
        g_inquiryFault = 0;
        return fail(error);
    }
    for (int i = 0; i < MAX_LOOKUPS; ++i) {
        if (g_lookups[i].used) continue;
        g_lookups[i] = Lookup{true, 0, 0};
        *lookup = (uintptr_t)(i + 1);
        return 0;
    }
    return fail(LINK_ERR_FAULT);
}

int lookupNext(uintptr_t lookup, uint32_t, void *buffer, uint32_t *size, LinkBtFound *found) {
    OsLockGuard guard(&g_lock);
    if (lookup < 1 || lookup > (uintptr_t)MAX_LOOKUPS || !g_lookups[lookup - 1].used) return fail(LINK_ERR_INVALID);
    if (g_inquiryResultFault != 0) {
        int error = g_inquiryResultFault;
        g_inquiryResultFault = 0;
        return fail(error);
    }
    Lookup &l = g_lookups[lookup - 1];
    while (l.run < g_runCount && (l.offset >= g_runs[l.run].count || !runListed(g_runs[l.run]))) {
        l.run += 1;
        l.offset = 0;
    }
    if (l.run >= g_runCount) return fail(LINK_ERR_NO_MORE);
    const InquiryRun &run = g_runs[l.run];
    uint32_t needed = run.named ? run.nameLength + 1u : 0u;
    if (needed > *size || (needed > 0 && !buffer)) {
        *size = needed;
        return fail(LINK_ERR_FAULT);
    }
    if (run.named) std::memcpy(buffer, run.name, needed);
    found->name = run.named ? static_cast<const char *>(buffer) : nullptr;
    found->nameLength = run.nameLength;
    found->address = (run.first + (uint64_t)l.offset) & BTH_ADDRESS_MASK;
    l.offset += 1;
    return 0;
}

void lookupEnd(uintptr_t lookup) {
    OsLockGuard guard(&g_lock);
    if (lookup >= 1 && lookup <= (uintptr_t)MAX_LOOKUPS) g_lookups[lookup - 1].used = false;
}

int textToAddress(const char *text, int family, void *address, int *size) {
    int error = 0;
    return btTextToSockaddr(text, family, address, size, &error) == 0 ? 0 : fail(error);
}

int addressToText(const void *address, int size, char *text, uint32_t *textSize) {
    int error = 0;
    return btSockaddrToText(address, size, text, textSize, &error) == 0 ? 0 : fail(error);
}

const LinkSocketApi kSimSockets = {
    LINK_SOCKET_API_VERSION, "device simulator", true, start, stop, lastError, setLastError, open, connectTo,
    pollConnect, ioctl, getOption, setOption, sendAll, recvByte, closeSocket, lookupBegin, lookupNext, lookupEnd,
    textToAddress, addressToText,
};

// Adds a run of inquiry results; false when the list is full.
bool addRun(uint64_t first, int count, int slot, const char *name) {
    if (g_runCount >= MAX_RUNS) return false;
    InquiryRun &run = g_runs[g_runCount++];
    run = InquiryRun{};
    run.first = first & BTH_ADDRESS_MASK;
    run.count = count;
    run.slot = slot;
    run.named = name != nullptr;
    if (name) {
        copyText(run.name, sizeof run.name, name);
        run.nameLength = (uint16_t)std::strlen(run.name);
    }
    return true;
}

}  // namespace

namespace ftsim {

void breakConnection(Transceiver *tx, int error) {
    if (tx->kind == PORT_USB || tx->radio.socket < 0) return;
    SimSocket &k = g_sockets[tx->radio.socket];
    disconnectSocket(&k);
    k.dead = true;
    k.deadError = error;
}

void resetSockets() {
    for (SimSocket &k : g_sockets) k = SimSocket{};
    for (Lookup &l : g_lookups) l = Lookup{};
    g_runCount = 0;
    g_inquiryFault = 0;
    g_inquiryResultFault = 0;
}

}  // namespace ftsim

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

extern "C" {

int ftsimAddBluetooth(const char *address, const char *name) {
    uint64_t value = 0;
    if (!btTextRead(address, &value)) return -1;
    OsLockGuard guard(&g_lock);
    if (g_runCount >= MAX_RUNS) return -1;
    int i = addPort(PORT_BLUETOOTH);
    if (i < 0) return -1;
    g_tx[i].radio.address = value;
    addRun(value, 1, i, name);
    return i;
}

int ftsimAddInquiryResults(const char *firstAddress, const char *name, int count) {
    uint64_t value = 0;
    if (!btTextRead(firstAddress, &value) || count < 1) return -1;
    OsLockGuard guard(&g_lock);
    return addRun(value, count, -1, name) ? 0 : -1;
}

void ftsimSetInquiryFault(int error) {
    OsLockGuard guard(&g_lock);
    g_inquiryFault = error;
}

void ftsimSetInquiryResultFault(int error) {
    OsLockGuard guard(&g_lock);
    g_inquiryResultFault = error;
}

void ftsimHoldConnects(int hold) { g_holdConnects.store(hold != 0); }

int ftsimSetConnectFault(int index, int error, int32_t times) {
    return withTx(index, [&](Transceiver *tx) {
        if (tx->kind == PORT_USB) return -1;
        tx->radio.connectError = error;
        tx->radio.connectFaults = error == 0 ? 0 : times;
        return 0;
    });
}

int ftsimAddIrda(const char *name) {
    OsLockGuard guard(&g_lock);
    int i = addPort(PORT_IRDA);
    if (i < 0) return -1;
    Radio &r = g_tx[i].radio;
    const uint8_t id[4] = {0x51, 0x56, 0x49, (uint8_t)i};
    std::memcpy(r.irdaId, id, sizeof id);
    copyText(r.irdaName, sizeof r.irdaName, name ? name : "");
    r.iasType = IAS_TYPE_OCTETS;
    r.iasClaimed = sizeof NINE_WIRE_PARAMETERS;
    r.iasSize = sizeof NINE_WIRE_PARAMETERS;
    std::memcpy(r.ias, NINE_WIRE_PARAMETERS, sizeof NINE_WIRE_PARAMETERS);
    return i;
}

int ftsimSetIasAnswer(int index, uint32_t type, uint32_t claimedLength, const uint8_t *octets, size_t size) {
    if (size > IAS_ANSWER_MAX || (size > 0 && !octets)) return -1;
    return withTx(index, [&](Transceiver *tx) {
        if (tx->kind != PORT_IRDA) return -1;
        tx->radio.iasType = type;
        tx->radio.iasClaimed = claimedLength;
        tx->radio.iasSize = size;
        if (size > 0) std::memcpy(tx->radio.ias, octets, size);
        return 0;
    });
}

int ftsimDropConnection(int index) {
    return withTx(index, [&](Transceiver *tx) {
        if (tx->kind == PORT_USB || tx->radio.socket < 0) return -1;
        breakConnection(tx, LINK_ERR_CONNRESET);
        return 0;
    });
}

int ftsimOpenSockets(void) {
    OsLockGuard guard(&g_lock);
    int n = 0;
    for (const SimSocket &k : g_sockets) n += k.used ? 1 : 0;
    return n;
}

const LinkSocketApi *ftsimSocketApi(void) { return &kSimSockets; }

}  // extern "C"
