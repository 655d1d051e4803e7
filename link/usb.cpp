// usb.cpp - the USB link: an FTDI transceiver reached through the D2XX
// functions of link/d2xx.h.
//
// OpenUsb finds the transceiver by serial number (an identifier of exactly 8
// characters) or by its USB description (the first one not already open),
// waits briefly for CTS, resets the transceiver when it raises DSR, and sets
// the serial line every device of the family uses: 921600 baud, 8N1, RTS/CTS.
// Every D2XX call leaves its status in lastFtStatus.
#include <cstring>

#include "link/d2xx.h"
#include "link/link_internal.h"
#include "link/link_texts.h"
#include "link/sockets.h"
#include "os/os.h"

static const uint32_t USB_BAUD_RATE = 921600;
// Longest wait for CTS after opening by description, in microseconds.
static const uint64_t CTS_WAIT_US = 2000;
// A clock that has not moved over this many status reads is taken as
// stopped, so a stopped clock cannot hold the open forever.
static const uint32_t CTS_STALLED_READS = 1000;
static const uint32_t RESET_SETTLE_MS = 20;

static FT_HANDLE toFt(uintptr_t handle) { return reinterpret_cast<FT_HANDLE>(handle); }

// Stores the status of a D2XX call and tells whether it succeeded.
static bool ftOk(FT_STATUS status) {
    lastFtStatus = status;
    return status == FT_OK;
}

// Closes a device whose open failed half way, then logs the failing step.
static int failAfterOpen(FT_HANDLE h, const char *tag, FT_STATUS status) {
    ftOk(FT_Close(h));
    linkLog("!%s %i\n", tag, (int)status);
    return -1;
}

static void copyText(char *dst, uint32_t size, const char *src) {
    if (!dst || size == 0) return;
    size_t n = std::strlen(src);
    if (n >= size) n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// Finds the first enumerated transceiver that is not open and whose
// description equals the identifier; copies its serial number. 1 found,
// 0 not found, -1 enumeration failed (logged).
static int findByDescription(const char *description, char serial[FT_SERIAL_SIZE]) {
    uint32_t count = 0;
    FT_STATUS status = FT_CreateDeviceInfoList(&count);
    if (!ftOk(status)) {
        linkLog("!%s %i\n", "FT_CreateDeviceInfoList:", (int)status);
        return -1;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t flags = 0, type = 0, id = 0, locId = 0;
        char devSerial[FT_SERIAL_SIZE] = {0};
        char devDescription[FT_DESCRIPTION_SIZE] = {0};
        FT_HANDLE devHandle = nullptr;
        status = FT_GetDeviceInfoDetail(i, &flags, &type, &id, &locId, devSerial, devDescription, &devHandle);
        if (!ftOk(status)) {
            linkLog("!%s %i\n", "FT_GetDeviceInfoDetail:", (int)status);
            return -1;
        }
        // The library fills fixed buffers; never trust a missing terminator.
        devSerial[FT_SERIAL_SIZE - 1] = '\0';
        devDescription[FT_DESCRIPTION_SIZE - 1] = '\0';
        if (i == 0) linkLog("FTDI USB devices checked (index: flags type id locId handle serNum desc):\n");
        linkLog("%i: 0x%x 0x%x 0x%x 0x%x 0x%x %s \"%s\"\n", (int)i, flags, type, id, locId,
                (unsigned)(uintptr_t)devHandle, devSerial, devDescription);
        if (!(flags & FT_FLAGS_OPENED) && std::strcmp(devDescription, description) == 0) {
            copyText(serial, FT_SERIAL_SIZE, devSerial);
            return 1;
        }
    }
    return 0;
}

// Reads the modem status until CTS shows or about 2 ms have passed.
// 0 with *modem holding the last status read, or -1 (device closed, logged).
static int waitForCts(FT_HANDLE h, uint32_t *modem) {
    uint64_t start = osClockUs();
    uint64_t last = start;
    uint32_t sameClock = 0;
    for (;;) {
        // The clock is read before the status, so the last read always comes
        // after the wait is over: a thread held up between two reads still
        // sees a CTS that came within the wait.
        uint64_t now = osClockUs();
        FT_STATUS status = FT_GetModemStatus(h, modem);
        if (!ftOk(status)) return failAfterOpen(h, kLinkModemStatus, status);
        if (*modem & FT_MODEM_CTS) break;
        if (now - start >= CTS_WAIT_US) break;
        sameClock = now == last ? sameClock + 1 : 0;
        last = now;
        if (sameClock >= CTS_STALLED_READS) break;
    }
    if (*modem & FT_MODEM_CTS) linkLog("%s 0x%x\n", kLinkModemStatus, *modem);
    return 0;
}

// Opens the transceiver named by deviceId and reads its modem status:
// 0 with *handle open, or -1 (logged; nothing left open).
static int openTransceiver(const char *deviceId, FT_HANDLE *handle, uint32_t *modemStatus) {
    FT_HANDLE h = nullptr;
    uint32_t modem = 0;
    FT_STATUS status;
    if (std::strlen(deviceId) == 8) {
        // A serial number: open it whatever its flags say; the library
        // refuses a transceiver that another process holds.
        status = FT_OpenEx(const_cast<char *>(deviceId), FT_OPEN_BY_SERIAL_NUMBER, &h);
        if (!ftOk(status)) {
            linkLog("!%s %i\n", kLinkUsbOpenFailed, (int)status);
            return -1;
        }
        status = FT_GetModemStatus(h, &modem);
        if (!ftOk(status)) return failAfterOpen(h, kLinkModemStatus, status);
    } else {
        char serial[FT_SERIAL_SIZE] = {0};
        int found = findByDescription(deviceId, serial);
        if (found < 0) return -1;
        if (found == 0) {
            linkLog("!%s %i\n", kLinkUsbOpenFailed, (int)FT_DEVICE_NOT_FOUND);
            return -1;
        }
        status = FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h);
        if (!ftOk(status)) {
            linkLog("!%s %i\n", kLinkUsbOpenFailed, (int)status);
            return -1;
        }
        if (waitForCts(h, &modem) != 0) return -1;
    }
    *handle = h;
    *modemStatus = modem;
    return 0;
}

int OpenUsb(const char *deviceId, uintptr_t *handle, char *serialBuffer, uint32_t serialBufferSize) {
    if (handle) *handle = LINK_INVALID_HANDLE;
    if (!deviceId || !handle) return -1;
    linkUsbConnectLog();

    FT_HANDLE h = nullptr;
    uint32_t modem = 0;
    if (openTransceiver(deviceId, &h, &modem) != 0) return -1;
    FT_STATUS status;

    // A transceiver that raises DSR asks to be reset before use.
    if (modem & FT_MODEM_DSR) {
        linkLog("%s\n", kLinkUsbReset);
        status = FT_ResetPort(h);
        if (!ftOk(status)) return failAfterOpen(h, "FT_ResetPort:", status);
        osSleep(RESET_SETTLE_MS);
    }

    status = FT_SetBaudRate(h, USB_BAUD_RATE);
    if (!ftOk(status)) return failAfterOpen(h, "FT_SetBaudRate:", status);
    status = FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
    if (!ftOk(status)) return failAfterOpen(h, "FT_SetDataCharacteristics:", status);
    status = FT_SetFlowControl(h, FT_FLOW_RTS_CTS, 0, 0);
    if (!ftOk(status)) return failAfterOpen(h, "FT_SetFlowControl:", status);

    if (serialBuffer && serialBufferSize > 0) {
        uint32_t type = 0, id = 0;
        char serial[FT_SERIAL_SIZE] = {0};
        char description[FT_DESCRIPTION_SIZE] = {0};
        status = FT_GetDeviceInfo(h, &type, &id, serial, description, nullptr);
        if (!ftOk(status)) return failAfterOpen(h, "FT_GetDeviceInfo:", status);
        serial[FT_SERIAL_SIZE - 1] = '\0';
        copyText(serialBuffer, serialBufferSize, serial);
    }

    ftOk(FT_SetDtr(h));  // its status does not decide the open
    *handle = reinterpret_cast<uintptr_t>(h);
    return 0;
}

int32_t sendUsb(uintptr_t handle, int32_t length, const void *data, int *socketError) {
    uint32_t written = 0;
    FT_STATUS status = FT_Write(toFt(handle), const_cast<void *>(data), (uint32_t)length, &written);
    *socketError = linkSockets()->lastError();
    if (!ftOk(status)) {
        linkLog("!%s %i\n", "FT_Write:", (int)status);
        return -1;
    }
    if (written < (uint32_t)length) {
        linkLog("!%s %i\n", "FT_Write: Too few bytes sent:", (int)written);
        return -1;
    }
    return length;
}

int32_t queueStatusUsb(uintptr_t handle) {
    uint32_t waiting = 0;
    FT_STATUS status = FT_GetQueueStatus(toFt(handle), &waiting);
    lastFtStatus = status;
    if (status == FT_OK) return waiting > 0x7FFFFFFFu ? 0x7FFFFFFF : (int32_t)waiting;
    // An I/O error while asking counts as an empty queue; the next poll asks
    // again.
    if (status == FT_IO_ERROR) return 0;
    linkLog("!%s %i\n", "FT_GetQueueStatus:", (int)status);
    return -1;
}

int32_t recvUsb(uintptr_t handle, void *buffer) {
    uint32_t got = 0;
    FT_STATUS status = FT_Read(toFt(handle), buffer, 1, &got);
    if (!ftOk(status)) {
        linkLog("!%s %i\n", "FT_Read:", (int)status);
        return -1;
    }
    return got > 0 ? 1 : 0;
}

void closeUsb(uintptr_t handle) {
    FT_HANDLE h = toFt(handle);
    ftOk(FT_ClrDtr(h));
    ftOk(FT_ClrRts(h));
    FT_STATUS status = FT_Close(h);
    if (!ftOk(status)) linkLog("!%s %i\n", "FT_Close:", (int)status);
}
