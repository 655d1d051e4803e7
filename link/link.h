// link.h - the link library: one byte stream to a device over IrDA, Bluetooth
// RFCOMM, USB (FTDI transceiver) or Bluetooth LE. Used by the driver and by
// the firmware loader.
#pragma once

#include <cstdint>

enum : uint16_t { LINK_IRDA = 0, LINK_BT = 1, LINK_USB = 2, LINK_BLE = 3 };

// The link record: link type and a pointer-sized handle (socket, D2XX handle
// or BleLink pointer); all bits set when the link is not open.
struct LinkHandle {
    uint16_t type;
    uintptr_t handle;
};
const uintptr_t LINK_INVALID_HANDLE = ~(uintptr_t)0;

int InitLinkLibrary();
void ReleaseLinkLibrary();
int OpenLink(uint16_t type, const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize);
int32_t SendLink(LinkHandle *link, int32_t length, const void *data);
int32_t QueueStatusLink(LinkHandle *link);
int32_t RecvLink(LinkHandle *link, void *buffer);
void CloseLink(LinkHandle *link);
