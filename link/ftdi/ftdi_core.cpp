// ftdi_core.cpp - device-free parts of the libftdi-based D2XX library.
#include "link/ftdi/ftdi_core.h"

#include <cstring>

// libusb's error numbers (libusb.h), repeated so that this file builds and
// is tested without libusb.
enum {
    USB_ERROR_IO = -1,
    USB_ERROR_INVALID_PARAM = -2,
    USB_ERROR_ACCESS = -3,
    USB_ERROR_NO_DEVICE = -4,
    USB_ERROR_NOT_FOUND = -5,
    USB_ERROR_BUSY = -6,
    USB_ERROR_TIMEOUT = -7,
    USB_ERROR_OVERFLOW = -8,
    USB_ERROR_PIPE = -9,
    USB_ERROR_INTERRUPTED = -10,
    USB_ERROR_NO_MEM = -11,
    USB_ERROR_NOT_SUPPORTED = -12,
};

FT_STATUS ftbStatusFromUsb(int usbResult) {
    if (usbResult >= 0) return FT_OK;
    switch (usbResult) {
    case USB_ERROR_IO:
    case USB_ERROR_NO_DEVICE:
    case USB_ERROR_TIMEOUT:
    case USB_ERROR_OVERFLOW:
    case USB_ERROR_PIPE:
    case USB_ERROR_INTERRUPTED:
        return FT_IO_ERROR;
    case USB_ERROR_INVALID_PARAM:
        return FT_INVALID_PARAMETER;
    case USB_ERROR_ACCESS:
    case USB_ERROR_BUSY:
        return FT_DEVICE_NOT_OPENED;
    case USB_ERROR_NOT_FOUND:
        return FT_DEVICE_NOT_FOUND;
    case USB_ERROR_NO_MEM:
        return FT_INSUFFICIENT_RESOURCES;
    case USB_ERROR_NOT_SUPPORTED:
        return FT_NOT_SUPPORTED;
    default:
        return FT_OTHER_ERROR;
    }
}

FT_STATUS ftbStatusFromOpen(int ftdiResult) {
    if (ftdiResult >= 0) return FT_OK;
    // -12: libusb_get_device_list failed; everything else (-3 configure,
    // -4 open, -5 claim, -6 reset, -7 baud rate, -8/-9 descriptors, -10
    // close, -11 no context) leaves the device unopened.
    if (ftdiResult == -12) return FT_DEVICE_NOT_FOUND;
    return FT_DEVICE_NOT_OPENED;
}

FT_STATUS ftbStatusFromControl(int ftdiResult) { return ftdiResult >= 0 ? FT_OK : FT_IO_ERROR; }

FT_STATUS ftbStatusFromFindAll(int ftdiResult) {
    if (ftdiResult >= 0) return FT_OK;
    return ftdiResult == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
}

void ftbRingInit(FtbRing *ring, uint8_t *storage, size_t capacity) {
    ring->storage = storage;
    ring->capacity = capacity;
    ring->head = 0;
    ring->count = 0;
}

size_t ftbRingPush(FtbRing *ring, const uint8_t *data, size_t size) {
    size_t n = ftbRingFree(ring);
    if (n > size) n = size;
    if (n == 0) return 0;
    size_t tail = (ring->head + ring->count) % ring->capacity;
    size_t first = ring->capacity - tail;
    if (first > n) first = n;
    std::memcpy(ring->storage + tail, data, first);
    std::memcpy(ring->storage, data + first, n - first);
    ring->count += n;
    return n;
}

size_t ftbRingTake(FtbRing *ring, uint8_t *out, size_t max) {
    size_t n = ring->count < max ? ring->count : max;
    if (n == 0) return 0;
    size_t first = ring->capacity - ring->head;
    if (first > n) first = n;
    std::memcpy(out, ring->storage + ring->head, first);
    std::memcpy(out + first, ring->storage, n - first);
    ring->head = (ring->head + n) % ring->capacity;
    ring->count -= n;
    if (ring->count == 0) ring->head = 0;
    return n;
}

size_t ftbRingFree(const FtbRing *ring) { return ring->capacity - ring->count; }

void ftbRingClear(FtbRing *ring) {
    ring->head = 0;
    ring->count = 0;
}

size_t ftbUnpack(const uint8_t *transfer, size_t size, size_t packetSize, FtbRing *ring, uint8_t *modemStatus,
                 uint8_t *lineStatus, size_t *dropped) {
    size_t appended = 0;
    size_t lost = 0;
    if (packetSize < 3) packetSize = 64;  // a packet must carry data after its two status bytes
    for (size_t offset = 0; offset < size; offset += packetSize) {
        size_t length = size - offset < packetSize ? size - offset : packetSize;
        if (length >= 1 && modemStatus) *modemStatus = transfer[offset];
        if (length >= 2 && lineStatus) *lineStatus = transfer[offset + 1];
        if (length <= 2) continue;
        size_t data = length - 2;
        size_t pushed = ftbRingPush(ring, transfer + offset + 2, data);
        appended += pushed;
        lost += data - pushed;
    }
    if (dropped) *dropped = lost;
    return appended;
}

size_t ftbPacketFault(const uint8_t *transfer, size_t size, size_t packetSize, FtbPacketFault *fault, uint8_t *line) {
    *fault = FTB_PACKET_OK;
    if (packetSize < 3) packetSize = 64;
    for (size_t offset = 0; offset < size; offset += packetSize) {
        size_t length = size - offset < packetSize ? size - offset : packetSize;
        if (length < 2) {
            *fault = FTB_PACKET_CUT;
        } else if (transfer[offset + 1] & FTB_LINE_ERRORS) {
            *fault = FTB_PACKET_LINE_ERROR;
            if (line) *line = transfer[offset + 1];
        }
        if (*fault != FTB_PACKET_OK) return offset;
    }
    return size;
}

void ftbReadAheadMake(FtbReadAhead *ra) {
    osLockInit(&ra->lock);
    ftbRingInit(&ra->ring, nullptr, 0);
    ra->error = FT_OK;
}

void ftbReadAheadReset(FtbReadAhead *ra, uint8_t *storage, size_t capacity) {
    OsLockGuard guard(&ra->lock);
    ftbRingInit(&ra->ring, storage, capacity);
    ra->error = FT_OK;
    ra->modem = ra->line = 0;
    ra->flagged = 0;
    ra->flaggedLine = 0;
    ra->lastReportMs = 0;
    ra->reportedOnce = false;
}

FtbPut ftbReadAheadPut(FtbReadAhead *ra, const uint8_t *transfer, size_t size, size_t packetSize) {
    FtbPut put = {0, 0, 0, false};
    if (packetSize < 3) packetSize = 64;
    size_t good = size;
    uint8_t line = 0;
    for (size_t offset = 0; offset < size;) {
        FtbPacketFault fault;
        size_t at = offset + ftbPacketFault(transfer + offset, size - offset, packetSize, &fault, &line);
        if (fault == FTB_PACKET_OK) break;
        if (fault == FTB_PACKET_CUT) {
            good = at;
            put.cut = true;
            break;
        }
        put.flagged += 1;
        offset = at + packetSize;
    }
    OsLockGuard guard(&ra->lock);
    put.appended = ftbUnpack(transfer, good, packetSize, &ra->ring, &ra->modem, &ra->line, &put.dropped);
    if (put.flagged > 0) {
        ra->flagged += put.flagged;
        ra->flaggedLine = line;
    }
    return put;
}

FT_STATUS ftbReadAheadTake(FtbReadAhead *ra, uint8_t *out, size_t max, size_t *got) {
    OsLockGuard guard(&ra->lock);
    *got = ftbRingTake(&ra->ring, out, max);
    if (*got == 0 && max > 0 && ra->error != FT_OK) return ra->error;
    return FT_OK;
}

FT_STATUS ftbReadAheadQueue(FtbReadAhead *ra, uint32_t *count) {
    OsLockGuard guard(&ra->lock);
    *count = (uint32_t)ra->ring.count;
    if (ra->ring.count == 0 && ra->error != FT_OK) return ra->error;
    return FT_OK;
}

bool ftbReadAheadEnd(FtbReadAhead *ra, FT_STATUS status) {
    OsLockGuard guard(&ra->lock);
    if (ra->error != FT_OK || status == FT_OK) return false;
    ra->error = status;
    return true;
}

FT_STATUS ftbReadAheadError(FtbReadAhead *ra) {
    OsLockGuard guard(&ra->lock);
    return ra->error;
}

size_t ftbReadAheadFree(FtbReadAhead *ra) {
    OsLockGuard guard(&ra->lock);
    return ftbRingFree(&ra->ring);
}

void ftbReadAheadStatus(FtbReadAhead *ra, uint8_t *modem, uint8_t *line) {
    OsLockGuard guard(&ra->lock);
    *modem = ra->modem;
    *line = ra->line;
}

uint32_t ftbReadAheadLineReport(FtbReadAhead *ra, uint32_t nowMs, uint8_t *line) {
    OsLockGuard guard(&ra->lock);
    if (ra->flagged == 0) return 0;
    if (ra->reportedOnce && nowMs - ra->lastReportMs < FTB_LINE_REPORT_MS) return 0;
    uint32_t n = ra->flagged;
    *line = ra->flaggedLine;
    ra->flagged = 0;
    ra->lastReportMs = nowMs;
    ra->reportedOnce = true;
    return n;
}

uint32_t ftbModemStatus(uint16_t polled) { return (uint32_t)polled & 0xFFF0u; }

FT_STATUS ftbLineSettings(uint8_t wordLength, uint8_t stopBits, uint8_t parity, int *bits, int *stop, int *par) {
    if (wordLength != 7 && wordLength != 8) return FT_INVALID_PARAMETER;
    if (stopBits != 0 && stopBits != 1 && stopBits != 2) return FT_INVALID_PARAMETER;
    if (parity > 4) return FT_INVALID_PARAMETER;
    *bits = wordLength;
    *stop = stopBits;
    *par = parity;
    return FT_OK;
}

bool ftbFlowControlValid(uint16_t flowControl) {
    return flowControl == FT_FLOW_NONE || flowControl == FT_FLOW_RTS_CTS || flowControl == FT_FLOW_DTR_DSR ||
           flowControl == FT_FLOW_XON_XOFF;
}

uint32_t ftbChipType(uint16_t bcdDevice) {
    switch (bcdDevice) {
    case 0x0200: return 1;   // AM
    case 0x0400: return 0;   // BM
    case 0x0500: return 4;   // 2232C
    case 0x0600: return 5;   // 232R
    case 0x0700: return 6;   // 2232H
    case 0x0800: return 7;   // 4232H
    case 0x0900: return 8;   // 232H
    case 0x1000: return 9;   // X series
    default: return 3;       // unknown
    }
}

// Handle value: tag in the top byte of the low 32 bits, 16 bits of
// generation, 8 bits of slot.
static const uintptr_t HANDLE_TAG = 0x7D000000u;

FT_HANDLE ftbHandleMake(int slot, uint32_t generation) {
    return reinterpret_cast<FT_HANDLE>(HANDLE_TAG | ((uintptr_t)(generation & 0xFFFFu) << 8) |
                                       (uintptr_t)(slot & 0xFF));
}

bool ftbHandleSplit(FT_HANDLE handle, int slotCount, int *slot, uint32_t *generation) {
    uintptr_t v = reinterpret_cast<uintptr_t>(handle);
    if ((v & ~(uintptr_t)0x00FFFFFFu) != HANDLE_TAG) return false;
    int s = (int)(v & 0xFF);
    if (s >= slotCount) return false;
    *slot = s;
    *generation = (uint32_t)((v >> 8) & 0xFFFFu);
    return true;
}

int ftbFindDevice(const FtbDevice *devices, int count, uint32_t openFlags, const char *name) {
    if (!name) return -1;
    for (int i = 0; i < count; ++i) {
        const char *own = openFlags == FT_OPEN_BY_SERIAL_NUMBER   ? devices[i].serial
                          : openFlags == FT_OPEN_BY_DESCRIPTION ? devices[i].description
                                                                : nullptr;
        if (own && std::strcmp(own, name) == 0) return i;
    }
    return -1;
}

void ftbCopyText(char *dst, size_t size, const char *src) {
    if (!dst || size == 0) return;
    size_t n = src ? std::strlen(src) : 0;
    if (n >= size) n = size - 1;
    if (n > 0) std::memcpy(dst, src, n);
    dst[n] = '\0';
}
