// blesim_internal.h - what the parts of the simulated Bluetooth LE devices
// share: the per-slot state of the device side of the link (sim/blesim.cpp),
// its characteristic layout, and the delivery of what a device sends to the
// front a host uses: the GATT functions (sim/blesim_gatt.cpp) or the
// stand-in BlueZ service (sim/posix/bluez_standin.cpp). Everything here
// expects the transceivers' lock held.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/ble_gatt.h"
#include "sim/ftsim_internal.h"
#include "sim/sim_fifo.h"

namespace ftsim {

// Which front opened a device: the GATT functions, the stand-in BlueZ
// service, or a host of the machine's real Bluetooth stack reaching the
// device as a peripheral (sim/btdevice/ble_peripheral.cpp).
enum BleFront : uint8_t { FRONT_NONE = 0, FRONT_GATT = 1, FRONT_BLUEZ = 2, FRONT_PERIPHERAL = 3 };

struct BleFace {
    char name[64];
    uint8_t address[6];
    char path[260];            // as the device list shows it
    uint32_t faults;
    uint32_t faultParam;
    uint32_t deviceBuffer;     // announced at the switch-on of characteristic 0
    uint8_t scans;             // discovery starts the stand-in BlueZ service saw (up to 2)
    bool reportFreed;
    // The open, by whichever front.
    BleFront front;
    bool open;
    bool dead;                 // out of range since the open
    uint32_t openSerial;
    bool abortDone;            // the abort fault has struck in this open
    // Events and notifications (by characteristic of the contract).
    bool registered;
    uint8_t registeredRoles;   // bit per characteristic the host registered for events
    BleEventCallback callback;
    void *context;
    bool notifying[BLE_CHARACTERISTICS];
    // Flow control.
    uint32_t hostCredit;
    bool hostCreditKnown;
    uint32_t freedPending;
    Fifo<96> flowOut;          // the device's flow-control messages waiting to go out
    FtSimBleState stats;
};

extern BleFace g_ble[FTSIM_MAX];

// The characteristics by position: how many there are and which
// characteristic of the contract stands at each (faults change both).
int bleCharacteristicCount(const BleFace *b);
int bleRoleAt(const BleFace *b, int position);
// Attribute handles: position p has 0x0B + 3p, its value handle one more,
// its client configuration descriptor two more; the service 0x0A.
const uint16_t BLE_SERVICE_HANDLE = 0x0A;
uint16_t bleHandleOfPosition(int position);
// The position whose characteristic or descriptor has a handle, or -1.
int blePositionOfHandle(const BleFace *b, uint16_t handle, bool descriptor);
// The position of a characteristic of the contract, or -1 when missing.
int blePositionOfRole(const BleFace *b, int role);

// A BLE device of a slot that is there (used, BLE and in range), or null.
Transceiver *bleDevice(int index);

// The open and close by a front; false when the device cannot be opened
// (missing, out of range, already open).
bool bleOpen(int index, BleFront front);
void bleClose(int index);
// Notifications of a characteristic of the contract switched on or off.
void bleSubscribe(int index, int role, bool on);
// A value the host wrote to a characteristic of the contract: data to the
// device (0) or a flow-control message (1). False when refused.
bool bleHostWrite(int index, int role, const uint8_t *data, size_t size);

// Where a front takes a notification of a characteristic of the contract.
typedef void (*BleSink)(void *context, int index, int role, const uint8_t *data, size_t size);
// Sends what the device of a slot has for its host: flow-control messages,
// then data within the credit. Returns the data bytes sent.
size_t blePump(int index, BleSink sink, void *context);

// Starts the simulator's delivery thread (devices opened through the GATT
// functions) when it is wanted and not running. Called without the lock.
void bleEnsurePump();

}  // namespace ftsim
