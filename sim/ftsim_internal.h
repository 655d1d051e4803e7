// ftsim_internal.h - what the parts of the simulated transceivers share: the
// transceiver table, the open handles and the device list, all under one
// lock, and the helpers that work on them. sim/ftsim.cpp holds the table and
// the transceiver controls, sim/ftsim_d2xx.cpp the D2XX functions over it,
// sim/ftsim_device.cpp the controls of the simulated device behind a
// transceiver, sim/ftsim_sockets.cpp the socket face of the Bluetooth and
// IrDA devices of the same table. Only these include this header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include "link/d2xx.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "sim/sim_device.h"
#include "sim/sim_fifo.h"

namespace ftsim {

const int MAX_REPLIES = 8;
const size_t MAX_SCRIPT_BYTES = 256;

struct Reply {
    size_t requestSize, replySize;
    uint8_t request[MAX_SCRIPT_BYTES];
    uint8_t reply[MAX_SCRIPT_BYTES];
};

// What a slot of the table is: a USB transceiver (the D2XX face), a
// Bluetooth or IrDA device in range (the socket face), or a Bluetooth LE
// device (the GATT face, sim/blesim*).
enum PortKind : uint8_t { PORT_USB = 0, PORT_BLUETOOTH = 1, PORT_IRDA = 2, PORT_BLE = 3 };

const size_t IAS_ANSWER_MAX = 1100;

// The socket side of a Bluetooth or IrDA device.
struct Radio {
    uint64_t address;              // Bluetooth address
    uint8_t irdaId[4];             // IrDA device id
    char irdaName[22];
    int connectError;              // Winsock error of the next connects (0: none)
    int32_t connectFaults;         // how many connects it spoils (-1: all)
    int socket;                    // the socket connected to the device, or -1
    // The IAS answer for IrCOMM "Parameters": type, the length it claims and
    // the octets it holds.
    uint32_t iasType;
    uint32_t iasClaimed;
    size_t iasSize;
    uint8_t ias[IAS_ANSWER_MAX];
};

struct Transceiver {
    bool used;
    PortKind kind;
    Radio radio;
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

// The table and its lock. Every function below but countCall expects the
// lock held.
extern OsLock g_lock;
extern Transceiver g_tx[FTSIM_MAX];
extern OpenSlot g_open[MAX_OPENS];
extern ListEntry g_list[FTSIM_MAX];
extern uint32_t g_listCount;
extern uint32_t g_listFault;
extern uint32_t g_generation;
extern std::atomic<uint32_t> g_calls[FTSIM_CALL_KINDS];

void countCall(int call);
// Plugs in the transceiver that FTSIM_USB_DEVICE names a model for, once,
// before the first listing or open of the transceivers (never under the
// transceivers' lock).
void plugFromEnvironment();
bool faulty(const Transceiver *tx, uint32_t fault);
// The transceiver in a slot, or null when the index is bad or the slot free.
Transceiver *txAt(int index);
// Copies a text, cut to fit size (which includes the terminator).
void copyText(char *dst, size_t size, const char *src);
// Takes the first free slot for a port of that kind, with the defaults of a
// fresh transceiver (present, CTS, no faults, no peer); -1 when full.
int addPort(PortKind kind);
// Whether the device behind a port has its link: a USB transceiver while
// plugged in, a Bluetooth or IrDA device while a socket is connected to it.
bool linkUpNow(const Transceiver *tx);
// Tells the peer that its link went down or came back.
void setLinkUp(Transceiver *tx, bool up);
// Drops the peer; a device the transceiver made is destroyed.
void detachPeer(Transceiver *tx);
// Makes a simulated device the peer (owned: the transceiver destroys it).
void attachDevice(Transceiver *tx, SimDevice *device, bool owned);
// The transceiver's open handle (if any) stops working.
void killHandle(Transceiver *tx);
// Bytes the host could read now: those queued and those the peer has.
size_t waitingFor(Transceiver *tx);
// The serial line as a fresh open leaves it.
void lineDefaults(Transceiver *tx);
// Takes up to max bytes for the host: those queued first, then what the
// peer has now.
size_t takeForHost(Transceiver *tx, uint8_t *out, size_t max);
// Bytes from the host: kept in the copy of what was written, handed to the
// peer, back again with loopback, and answered by a scripted reply.
void deliverFromHost(Transceiver *tx, const uint8_t *data, size_t size);
// The Bluetooth LE side of a slot (sim/blesim.cpp): bleClear forgets it
// (the slot was taken or freed), bleKill makes its open handle fail from now
// on (unplugged or removed). bleStopPump ends the simulator's delivery thread
// and waits for it; it is called without the lock.
void bleClear(int index);
void bleKill(Transceiver *tx);
void bleStopPump();

// The socket face (ftsim_sockets.cpp). The socket connected to a device
// breaks with a Winsock error (the device left the range, the connection
// was reset); nothing when none is connected.
void breakConnection(Transceiver *tx, int error);
// Forgets every socket and the inquiry results (ftsimReset).
void resetSockets();

// Applies a change to one transceiver under the lock.
template <typename F>
int withTx(int index, F change) {
    OsLockGuard guard(&g_lock);
    Transceiver *tx = txAt(index);
    if (!tx) return -1;
    return change(tx);
}

}  // namespace ftsim
