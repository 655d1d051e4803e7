// usbfs_chip.h - the emulated FTDI transceiver (ftdi_chip.h) as a USB
// device of a umockdev test bed: its sysfs and udev entries, and its
// /dev/bus/usb node, whose ioctls (the usbfs interface libusb uses) are
// answered here, URB by URB.
//
// The node is made a FIFO that reports ready (POLLOUT, what libusb waits
// for) only while a finished URB waits to be reaped, as the kernel's usbfs
// does: umockdev's own node is a plain file, always ready, which would send
// libusb to the emulator on every event-handling call.
//
// A thread runs the chip every half millisecond: the serial line, the IN
// packets for the pending bulk-in URB, bulk-out URBs into the chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "sim/umockdev_ftdi/ftdi_chip.h"

struct UsbfsChip;

// The serial number of a bed's k-th transceiver (ftdi_bed --chips): the
// first one (k = 0) has its own, the k-th further one the first six
// characters of it and k as two digits (QV012345, QV012301, ...).
const size_t USBFS_SERIAL_SIZE = 16;
inline void usbfsChipSerial(const char *first, int k, char out[USBFS_SERIAL_SIZE]) {
    if (k == 0) {
        std::snprintf(out, USBFS_SERIAL_SIZE, "%s", first);
    } else {
        std::snprintf(out, USBFS_SERIAL_SIZE, "%.6s%02d", first, k % 100);
    }
}

struct UsbfsChipConfig {
    const char *serial;       // USB serial number (8 characters for the driver's open by serial)
    const char *product;      // USB product string: the transceiver's description
    SimDevice *device;        // what sits on the serial side
    // The USB bus the transceiver sits on (0 counts as 1). Each transceiver
    // of a bed has a bus of its own, so that their device addresses, which
    // grow with every plug-in, never meet.
    int bus;
};

// Plugs the transceiver in and starts the chip's thread. The first one
// makes the process's test bed (UMOCKDEV_DIR is set for the programs
// started after it); the others join it. Null (and a message on stderr)
// when umockdev cannot make it or the bus is taken.
UsbfsChip *usbfsChipCreate(const UsbfsChipConfig *config);
// Stops the thread and unplugs the transceiver; the last one removes the
// test bed.
void usbfsChipDestroy(UsbfsChip *bed);

// The transceiver vanishes: the pending URBs end with ENODEV, later ones
// fail with it, the node and the sysfs entry go, udev says "remove".
void usbfsChipUnplug(UsbfsChip *bed);
// The transceiver vanishes as the program submits its n-th bulk-in URB
// from now (that URB fails with ENODEV), as in an unplug timed into the
// start of a reader; the rest of the unplug follows on the chip's thread.
void usbfsChipVanishAtInSubmit(UsbfsChip *bed, uint32_t n);
// Plugged in again, under the next device address.
void usbfsChipReplug(UsbfsChip *bed);
// Node path of the device as plugged in now.
const char *usbfsChipNode(const UsbfsChip *bed);
// The node's file in the test bed (for changing its permissions).
const char *usbfsChipNodeFile(const UsbfsChip *bed);

// Runs a change of the chip under the bed's lock (faults, statistics).
typedef void (*UsbfsChipFn)(FtdiChip *chip, void *arg);
void usbfsChipWith(UsbfsChip *bed, UsbfsChipFn fn, void *arg);
// Microseconds on the bed's clock (CLOCK_MONOTONIC).
uint64_t usbfsNowUs();

struct UsbfsStats {
    uint32_t submitted, inSubmitted, reaped, emptyReaps, clients, unknownIoctls;
    // When the transceiver last vanished (usbfsNowUs; 0: never).
    uint64_t vanishedUs;
    // When a program last asked something of the device after it was gone
    // (usbfsNowUs; 0: never).
    uint64_t lastGoneIoctlUs;
};
void usbfsChipStats(UsbfsChip *bed, UsbfsStats *stats);
