// link_kinds.h - the link kinds: one row per kind, with its number, its
// names and every trait that callers would otherwise test by the kind's
// number. A new link kind is a row here and a row of the link library's
// transports (kLinkOps in link.cpp, at the same index).
//
// Data and inline look-ups only, so that the host programs that reach the
// driver through its public API alone (qdacq, qdsoak) read the same rows as
// the link library, the driver and the firmware loader, without linking the
// link library.
#pragma once

#include <cstdint>

// Link types. The driver's public header numbers its parameter "Link type"
// the same way (QD_LINK_*); the driver checks that the two agree, so that
// this library and the firmware loader need nothing of the driver's API.
enum : uint16_t { LINK_IRDA = 0, LINK_BT = 1, LINK_USB = 2, LINK_BLE = 3 };

// How a device on a link is reached, which tells the texts that name it:
// "in the communication range", "connected with USB cable", "in the
// infrared range".
enum LinkReach : uint8_t { LINK_REACH_RANGE, LINK_REACH_CABLE, LINK_REACH_INFRARED };

// Bluetooth LE needs an operating system of version code 12 or later.
const int BLE_MIN_OS_CODE = 12;

struct LinkKind {
    uint16_t key;            // LINK_*
    const char *name;        // "ir", "bt", "usb", "ble": the loader's L= key, the device services' argument
    const char *altName;     // another accepted spelling ("irda"), or null
    const char *title;       // "IrDA", "Bluetooth", "USB", "Bluetooth LE": the link in lists
    // An open in progress on another thread is cut short by closing its
    // handle (the opening thread stores the handle in the link record
    // before it connects).
    bool openCutByClose;
    LinkReach reach;
    int minOsCode;           // least operating-system version code (osVersionCode), 0: any
    // The open names a device (a serial number, an address or a name); a
    // link without one reaches whichever device is in range (IrDA), so a
    // program has at most one device of that kind at a time.
    bool takesDeviceId;
    // A radio link: an open by name, not by address, searches first.
    bool wireless;
    // The device search tries the kinds of its flags from the highest rank
    // down.
    uint8_t searchRank;
    // What a user checks when no device of this kind answered an open (a
    // host program's hint under its error line).
    const char *noAnswerHint;
};

// In key order. The device search tries Bluetooth LE, then USB, then
// Bluetooth, then IrDA. An open of Bluetooth or Bluetooth LE in progress on
// another thread ends when its handle is closed.
inline constexpr LinkKind kLinkKinds[] = {
    {LINK_IRDA, "ir", "irda", "IrDA", false, LINK_REACH_INFRARED, 0, false, false, 0,
     "no IrDA device answered; check that it is on and in the infrared range (Linux has no IrDA stack)"},
    {LINK_BT, "bt", nullptr, "Bluetooth", true, LINK_REACH_RANGE, 0, true, true, 1,
     "no Bluetooth device of that address or name answered; check that it is on, paired and in range, and "
     "that the system has a Bluetooth adapter"},
    {LINK_USB, "usb", nullptr, "USB", false, LINK_REACH_CABLE, 0, true, false, 2,
     "no transceiver answered to the device id; check that the device's USB cable or dongle is plugged in and "
     "not held by another program"},
    {LINK_BLE, "ble", nullptr, "Bluetooth LE", true, LINK_REACH_RANGE, BLE_MIN_OS_CODE, true, true, 3,
     "no Bluetooth LE device of that address or name answered; check that it is on and in range, and that "
     "the system has a Bluetooth adapter (Linux: BlueZ)"},
};
inline constexpr int LINK_KIND_COUNT = (int)(sizeof kLinkKinds / sizeof kLinkKinds[0]);

// Each row stands at the position of its key, so that a link's row is found
// by its type at once.
constexpr bool linkRowsAtTheirKeys() {
    for (int k = 0; k < LINK_KIND_COUNT; ++k) {
        if (kLinkKinds[k].key != k) return false;
    }
    return true;
}
static_assert(linkRowsAtTheirKeys(), "link kinds in key order");

// The row of a link type, or null for an unknown type.
inline const LinkKind *linkKind(uint32_t key) {
    return key < (uint32_t)LINK_KIND_COUNT ? &kLinkKinds[key] : nullptr;
}

// The row whose name or other spelling this is (any letter case), or null.
inline const LinkKind *linkKindByName(const char *name) {
    auto same = [](const char *a, const char *b) {
        for (; *a && *b; ++a, ++b) {
            char x = (*a >= 'A' && *a <= 'Z') ? (char)(*a - 'A' + 'a') : *a;
            char y = (*b >= 'A' && *b <= 'Z') ? (char)(*b - 'A' + 'a') : *b;
            if (x != y) return false;
        }
        return *a == *b;
    };
    if (!name) return nullptr;
    for (const LinkKind &kind : kLinkKinds) {
        if (same(name, kind.name) || (kind.altName && same(name, kind.altName))) return &kind;
    }
    return nullptr;
}

// The traits of a link type; false for an unknown type.
inline bool linkTakesDeviceId(uint32_t key) {
    const LinkKind *kind = linkKind(key);
    return kind != nullptr && kind->takesDeviceId;
}
inline bool linkIsWireless(uint32_t key) {
    const LinkKind *kind = linkKind(key);
    return kind != nullptr && kind->wireless;
}
