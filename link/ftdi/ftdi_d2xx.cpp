// ftdi_d2xx.cpp - the D2XX functions of link/d2xx.h over libftdi and libusb:
// libqvftd2xx.so, the USB transceiver library of the Linux builds.
//
// What D2XX offers and libftdi lacks is built here:
// - the device list with the "already open" flag: set for the devices this
//   process holds and for those another process holds (libusb cannot claim
//   them, or cannot open them at all);
// - the receive queue count: every open device keeps one bulk-in transfer
//   submitted; each D2XX call on the device handles finished transfers
//   without waiting (a zero time-out) and moves their data into a
//   read-ahead ring, so FT_GetQueueStatus and FT_Read never block;
// - handles that stay invalid once closed (slot plus generation).
// The latency timer is set to 2 ms so that bytes reach the ring promptly.
//
// What a status cannot tell (no permission to open a device, a device that
// vanished, a cut packet or a line error in the received data, a request
// the chip refused) goes in one line to the program's log hook
// (FT_LOG_HOOK_EXPORT). A read-side fault keeps the bytes received before
// it readable and fails the device's reads from then on.
#include <libftdi1/ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/d2xx.h"
#include "link/ftdi/ftdi_core.h"
#include "os/os.h"

namespace {

const int SLOTS = 16;
const int MAX_LISTED = 32;
const size_t RING_SIZE = 32768;
const int TRANSFER_SIZE = 4096;
const unsigned WRITE_TIMEOUT_MS = 1000;
const unsigned char LATENCY_MS = 2;
const int CANCEL_POLLS = 100;  // of 10 ms each, when a close cancels the read
const char RULE_NAME[] = "70-quorvane.rules";

struct Device {
    OsLock io;          // one call on the device at a time
    bool inUse;         // written under the table lock and io
    uint32_t generation;
    uint8_t bus, address;
    uint32_t type, id;
    char serial[FT_SERIAL_SIZE];
    char description[FT_DESCRIPTION_SIZE];
    ftdi_context *ftdi;
    libusb_transfer *transfer;
    bool transferPending;
    FT_STATUS readError;  // a failed bulk-in transfer, reported once the ring is empty
    uint8_t modem, line;  // last status bytes seen in the bulk-in stream
    FtbRing ring;
    uint8_t ringStorage[RING_SIZE];
    uint8_t transferBuffer[TRANSFER_SIZE];
};

OsLock g_table;  // the open table's identities, the device list, opens and closes
Device g_dev[SLOTS];

// The locks are made while the library's static data are set up, before any
// call can come in, and live as long as the process.
bool makeLocks() {
    osLockInit(&g_table);
    for (Device &d : g_dev) osLockInit(&d.io);
    return true;
}
const bool g_locksMade = makeLocks();
uint32_t g_generation = 0;
FtbDevice g_list[MAX_LISTED];
int g_listCount = 0;
std::atomic<FtLogLine> g_logHook{nullptr};

// One line into the program's log, "!" FT_LOG_TAG first.
__attribute__((format(printf, 1, 2))) void logLine(const char *format, ...) {
    FtLogLine hook = g_logHook.load();
    if (!hook) return;
    char line[320];
    int n = std::snprintf(line, sizeof line, "!%s", FT_LOG_TAG);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + n, sizeof line - (size_t)n, format, args);
    va_end(args);
    hook(line);
}

// A read-side fault: logged once, with what happened; the bytes before it
// stay readable.
__attribute__((format(printf, 2, 3))) void readFault(Device *d, const char *format, ...) {
    if (d->readError != FT_OK) return;
    d->readError = FT_IO_ERROR;
    char what[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    logLine("%s: %s; the data received before it is kept\n", d->serial, what);
}

// Bytes of a finished bulk-in transfer into the ring, up to a cut packet or
// a line error, which ends the device's reading.
void takeTransfer(Device *d, const uint8_t *data, size_t size) {
    FtbPacketFault fault;
    uint8_t line = 0;
    size_t packetSize = (size_t)d->ftdi->max_packet_size;
    size_t good = ftbPacketFault(data, size, packetSize, &fault, &line);
    ftbUnpack(data, good, packetSize, &d->ring, &d->modem, &d->line, nullptr);
    if (fault == FTB_PACKET_CUT) readFault(d, "a bulk-in packet shorter than its two status bytes");
    if (fault == FTB_PACKET_LINE_ERROR) {
        readFault(d, "receive line error, line status 0x%02x (0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break)",
                  line);
    }
}


void LIBUSB_CALL onReadDone(libusb_transfer *transfer) {
    Device *d = static_cast<Device *>(transfer->user_data);
    d->transferPending = false;
    // Packets that arrived before a transfer was cut off were delivered:
    // they are kept whatever ended the transfer.
    takeTransfer(d, transfer->buffer, (size_t)transfer->actual_length);
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_CANCELLED:
    case LIBUSB_TRANSFER_TIMED_OUT:
        break;
    case LIBUSB_TRANSFER_NO_DEVICE:
        readFault(d, "the transceiver is gone (unplugged)");
        break;
    default:
        readFault(d, "bulk-in transfer failed (status %d)", (int)transfer->status);
        break;
    }
}

// Submits the bulk-in transfer again when the ring has room for all of it.
void submitRead(Device *d) {
    if (d->transferPending || d->readError != FT_OK) return;
    if (ftbRingFree(&d->ring) < (size_t)TRANSFER_SIZE) return;
    libusb_fill_bulk_transfer(d->transfer, d->ftdi->usb_dev, (unsigned char)d->ftdi->out_ep, d->transferBuffer,
                              TRANSFER_SIZE, onReadDone, d, 0);
    int rc = libusb_submit_transfer(d->transfer);
    if (rc < 0) {
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            readFault(d, "the transceiver is gone (unplugged)");
        } else {
            readFault(d, "bulk-in transfer not accepted (%s)", libusb_error_name(rc));
        }
        d->readError = ftbStatusFromUsb(rc);
    } else {
        d->transferPending = true;
    }
}

// Handles finished transfers without waiting and keeps one submitted.
void pump(Device *d) {
    timeval zero = {0, 0};
    libusb_handle_events_timeout_completed(d->ftdi->usb_ctx, &zero, nullptr);
    submitRead(d);
}

// The result of a control request on an open device as a status; a failure
// is logged with libftdi's words for it (unless the device's reading has
// failed already, which the log has told).
FT_STATUS control(Device &d, int rc) {
    if (rc < 0 && d.readError == FT_OK) logLine("%s: %s (%d)\n", d.serial, ftdi_get_error_string(d.ftdi), rc);
    return ftbStatusFromControl(rc);
}

// Runs one call on an open device.
template <typename F>
FT_STATUS withDevice(FT_HANDLE handle, F body) {
    int slot;
    uint32_t generation;
    if (!ftbHandleSplit(handle, SLOTS, &slot, &generation)) return FT_INVALID_HANDLE;
    Device &d = g_dev[slot];
    OsLockGuard guard(&d.io);
    if (!d.inUse || (d.generation & 0xFFFFu) != generation) return FT_INVALID_HANDLE;
    return body(d);
}

// The open-table slot holding the device at bus/address, or -1. Table lock held.
int heldSlot(uint8_t bus, uint8_t address) {
    for (int i = 0; i < SLOTS; ++i) {
        if (g_dev[i].inUse && g_dev[i].bus == bus && g_dev[i].address == address) return i;
    }
    return -1;
}

// One text attribute of a device's sysfs entry (the folder named by bus
// and port path, as the kernel names it), cut to size; empty when missing.
void sysfsText(libusb_device *dev, const char *attribute, char *out, size_t size) {
    out[0] = '\0';
    uint8_t ports[8];
    int n = libusb_get_port_numbers(dev, ports, (int)sizeof ports);
    if (n <= 0) return;
    char path[128];
    int len = std::snprintf(path, sizeof path, "/sys/bus/usb/devices/%u-%u", libusb_get_bus_number(dev), ports[0]);
    for (int i = 1; i < n && len > 0 && (size_t)len < sizeof path; ++i) {
        len += std::snprintf(path + len, sizeof path - (size_t)len, ".%u", ports[i]);
    }
    if (len <= 0 || (size_t)len >= sizeof path) return;
    std::snprintf(path + len, sizeof path - (size_t)len, "/%s", attribute);
    FILE *f = std::fopen(path, "r");
    if (!f) return;
    if (!std::fgets(out, (int)size, f)) out[0] = '\0';
    std::fclose(f);
    out[std::strcspn(out, "\r\n")] = '\0';
}

// A device whose node this user may not open: its texts from sysfs (which
// everyone may read), and the line that says how to get access.
void noteNoAccess(libusb_device *dev, FtbDevice *info) {
    sysfsText(dev, "serial", info->serial, sizeof info->serial);
    sysfsText(dev, "product", info->description, sizeof info->description);
    logLine("no permission to open the USB transceiver %s at /dev/bus/usb/%03u/%03u: install the udev rule %s "
            "(access for the user at the seat and the plugdev group), then plug the transceiver in again\n",
            info->serial[0] ? info->serial : "(no serial number)", libusb_get_bus_number(dev),
            libusb_get_device_address(dev), RULE_NAME);
}

// Reads serial number and description of a device not held by us; false
// when it cannot be opened at all (*noAccess: for lack of permission, said
// in the log). *heldElsewhere: another program has claimed it.
bool probeDevice(libusb_device *dev, const libusb_device_descriptor &desc, FtbDevice *info, bool *heldElsewhere,
                 bool *noAccess) {
    *heldElsewhere = false;
    *noAccess = false;
    libusb_device_handle *h = nullptr;
    int opened = libusb_open(dev, &h);
    if (opened == LIBUSB_ERROR_ACCESS) {
        *noAccess = true;
        noteNoAccess(dev, info);
    }
    if (opened != 0) return false;
    unsigned char text[FT_DESCRIPTION_SIZE];
    if (desc.iSerialNumber && libusb_get_string_descriptor_ascii(h, desc.iSerialNumber, text, sizeof text) > 0) {
        ftbCopyText(info->serial, sizeof info->serial, reinterpret_cast<char *>(text));
    }
    if (desc.iProduct && libusb_get_string_descriptor_ascii(h, desc.iProduct, text, sizeof text) > 0) {
        ftbCopyText(info->description, sizeof info->description, reinterpret_cast<char *>(text));
    }
    // With the kernel's serial driver bound the device is free for us
    // (libftdi detaches it); otherwise a failing claim means another
    // program holds it.
    if (libusb_kernel_driver_active(h, 0) != 1) {
        int rc = libusb_claim_interface(h, 0);
        if (rc == 0) {
            libusb_release_interface(h, 0);
        } else if (rc == LIBUSB_ERROR_BUSY || rc == LIBUSB_ERROR_ACCESS) {
            *heldElsewhere = true;
        }
    }
    libusb_close(h);
    return true;
}

struct Found {
    FtbDevice info;
    bool noAccess;
    uint8_t bus, address;
    libusb_device *dev;
};
// Scratch of an enumeration (table lock held), kept off the caller's stack,
// which may be a small thread stack.
Found g_found[MAX_LISTED];
FtbDevice g_infos[MAX_LISTED];

// Lists the FTDI devices visible through an ftdi context. Table lock held.
// The list stays valid until ftdi_list_free(*list).
FT_STATUS enumerate(ftdi_context *f, ftdi_device_list **list, Found *found, int max, int *count) {
    *count = 0;
    int rc = ftdi_usb_find_all(f, list, 0, 0);
    if (rc < 0) return ftbStatusFromFindAll(rc);
    for (ftdi_device_list *e = *list; e && *count < max; e = e->next) {
        Found &out = found[*count];
        std::memset(&out, 0, sizeof out);
        out.dev = e->dev;
        out.bus = libusb_get_bus_number(e->dev);
        out.address = libusb_get_device_address(e->dev);
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(e->dev, &desc) != 0) continue;
        out.info.type = ftbChipType(desc.bcdDevice);
        out.info.id = ((uint32_t)desc.idVendor << 16) | desc.idProduct;
        out.info.locationId = ((uint32_t)out.bus << 8) | out.address;
        int held = heldSlot(out.bus, out.address);
        if (held >= 0) {
            const Device &d = g_dev[held];
            out.info.flags = FT_FLAGS_OPENED;
            out.info.handle = ftbHandleMake(held, d.generation);
            ftbCopyText(out.info.serial, sizeof out.info.serial, d.serial);
            ftbCopyText(out.info.description, sizeof out.info.description, d.description);
        } else {
            bool elsewhere = false;
            if (!probeDevice(e->dev, desc, &out.info, &elsewhere, &out.noAccess) || elsewhere) {
                out.info.flags = FT_FLAGS_OPENED;
            }
        }
        *count += 1;
    }
    return FT_OK;
}

// Enters a newly opened device into a free slot of the open table and starts
// its reading; returns its handle. Table lock held.
FT_HANDLE holdDevice(int slot, const Found &found, ftdi_context *f, libusb_transfer *transfer) {
    Device &d = g_dev[slot];
    OsLockGuard deviceGuard(&d.io);
    d.generation = ++g_generation;
    d.bus = found.bus;
    d.address = found.address;
    d.type = found.info.type;
    d.id = found.info.id;
    ftbCopyText(d.serial, sizeof d.serial, found.info.serial);
    ftbCopyText(d.description, sizeof d.description, found.info.description);
    d.ftdi = f;
    d.transfer = transfer;
    d.transferPending = false;
    d.readError = FT_OK;
    d.modem = d.line = 0;
    ftbRingInit(&d.ring, d.ringStorage, RING_SIZE);
    d.inUse = true;
    submitRead(&d);
    return ftbHandleMake(slot, d.generation);
}

}  // namespace

extern "C" {

FT_EXPORT void qvftSetLogHook(FtLogLine hook) { g_logHook.store(hook); }

FT_STATUS FT_CALL FT_CreateDeviceInfoList(uint32_t *count) {
    OsLockGuard guard(&g_table);
    g_listCount = 0;
    ftdi_context *f = ftdi_new();
    if (!f) return FT_INSUFFICIENT_RESOURCES;
    ftdi_device_list *list = nullptr;
    int n = 0;
    FT_STATUS status = enumerate(f, &list, g_found, MAX_LISTED, &n);
    if (status == FT_OK) {
        for (int i = 0; i < n; ++i) g_list[i] = g_found[i].info;
        g_listCount = n;
        if (count) *count = (uint32_t)n;
    }
    if (list) ftdi_list_free(&list);
    ftdi_free(f);
    return status;
}

FT_STATUS FT_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type, uint32_t *id,
                                         uint32_t *locationId, void *serial, void *description,
                                         FT_HANDLE *handle) {
    OsLockGuard guard(&g_table);
    if (index >= (uint32_t)g_listCount) return FT_DEVICE_NOT_FOUND;
    const FtbDevice &e = g_list[index];
    if (flags) *flags = e.flags;
    if (type) *type = e.type;
    if (id) *id = e.id;
    if (locationId) *locationId = e.locationId;
    if (serial) ftbCopyText(static_cast<char *>(serial), FT_SERIAL_SIZE, e.serial);
    if (description) ftbCopyText(static_cast<char *>(description), FT_DESCRIPTION_SIZE, e.description);
    if (handle) *handle = e.handle;
    return FT_OK;
}

// A free slot for a device that no slot holds yet.
static FT_STATUS chooseSlot(const Found &dev, int *slot) {
    if (heldSlot(dev.bus, dev.address) >= 0) return FT_DEVICE_NOT_OPENED;
    for (int i = 0; i < SLOTS; ++i) {
        if (!g_dev[i].inUse) {
            *slot = i;
            return FT_OK;
        }
    }
    return FT_INSUFFICIENT_RESOURCES;
}

// Opens the chip and sets it up: its read transfer, write time-out and
// latency timer. On failure nothing of it stays open.
static FT_STATUS openChip(ftdi_context *f, const Found &dev, libusb_transfer **transfer) {
    int rc = ftdi_usb_open_dev(f, dev.dev);
    if (rc < 0) {
        // A device without access was named in the log by the enumeration.
        if (!dev.noAccess) {
            logLine("%s: cannot open the transceiver: %s (%d)\n", dev.info.serial, ftdi_get_error_string(f), rc);
        }
        return ftbStatusFromOpen(rc);
    }
    *transfer = libusb_alloc_transfer(0);
    if (!*transfer) {
        ftdi_usb_close(f);
        return FT_INSUFFICIENT_RESOURCES;
    }
    f->usb_write_timeout = (int)WRITE_TIMEOUT_MS;
    // A chip that refuses its latency timer would hold every byte up to its
    // default 16 ms; such a chip is not used.
    int latency = ftdi_set_latency_timer(f, LATENCY_MS);
    if (latency < 0) {
        logLine("%s: the transceiver refused the latency timer of %u ms: %s (%d)\n", dev.info.serial,
                (unsigned)LATENCY_MS, ftdi_get_error_string(f), latency);
        libusb_free_transfer(*transfer);
        ftdi_usb_close(f);
        return FT_DEVICE_NOT_OPENED;
    }
    return FT_OK;
}

FT_STATUS FT_CALL FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle) {
    if (!arg || !handle) return FT_INVALID_PARAMETER;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION) return FT_INVALID_PARAMETER;
    OsLockGuard guard(&g_table);

    // The device gets a context of its own: its transfers and events stay
    // apart from every other device's.
    ftdi_context *f = ftdi_new();
    if (!f) return FT_INSUFFICIENT_RESOURCES;
    ftdi_device_list *list = nullptr;
    Found *found = g_found;
    int n = 0;
    FT_STATUS status = enumerate(f, &list, found, MAX_LISTED, &n);
    int match = -1;
    if (status == FT_OK) {
        for (int i = 0; i < n; ++i) g_infos[i] = found[i].info;
        match = ftbFindDevice(g_infos, n, flags, static_cast<const char *>(arg));
        if (match < 0) status = FT_DEVICE_NOT_FOUND;
    }
    int slot = -1;
    if (status == FT_OK) status = chooseSlot(found[match], &slot);
    libusb_transfer *transfer = nullptr;
    if (status == FT_OK) status = openChip(f, found[match], &transfer);
    if (status != FT_OK) {
        if (list) ftdi_list_free(&list);
        ftdi_free(f);
        return status;
    }
    *handle = holdDevice(slot, found[match], f, transfer);
    ftdi_list_free(&list);
    return FT_OK;
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE handle) {
    OsLockGuard guard(&g_table);
    return withDevice(handle, [](Device &d) -> FT_STATUS {
        if (d.transferPending) {
            libusb_cancel_transfer(d.transfer);
            timeval wait = {0, 10000};
            for (int i = 0; i < CANCEL_POLLS && d.transferPending; ++i) {
                libusb_handle_events_timeout_completed(d.ftdi->usb_ctx, &wait, nullptr);
            }
        }
        // A transfer that never came back must not be freed under libusb.
        if (!d.transferPending) libusb_free_transfer(d.transfer);
        d.transfer = nullptr;
        FT_STATUS status = ftbStatusFromControl(ftdi_usb_close(d.ftdi));
        ftdi_free(d.ftdi);
        d.ftdi = nullptr;
        d.inUse = false;
        return status;
    });
}

FT_STATUS FT_CALL FT_Read(FT_HANDLE handle, void *buffer, uint32_t toRead, uint32_t *read) {
    if (read) *read = 0;
    if (!buffer || !read) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        pump(&d);
        size_t got = ftbRingTake(&d.ring, static_cast<uint8_t *>(buffer), toRead);
        submitRead(&d);
        *read = (uint32_t)got;
        if (got == 0 && toRead > 0 && d.readError != FT_OK) return d.readError;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE handle, void *buffer, uint32_t toWrite, uint32_t *written) {
    if (written) *written = 0;
    if ((!buffer && toWrite > 0) || !written) return FT_INVALID_PARAMETER;
    if (toWrite > 0x7FFFFFFFu) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        if (toWrite == 0) return FT_OK;
        int moved = 0;
        int rc = libusb_bulk_transfer(d.ftdi->usb_dev, (unsigned char)d.ftdi->in_ep, static_cast<uint8_t *>(buffer),
                                      (int)toWrite, &moved, WRITE_TIMEOUT_MS);
        *written = moved > 0 ? (uint32_t)moved : 0;
        // A time-out is a short write, as with the vendor library.
        if (rc == LIBUSB_ERROR_TIMEOUT) return FT_OK;
        return ftbStatusFromUsb(rc);
    });
}

FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes) {
    if (!rxBytes) return FT_INVALID_PARAMETER;
    *rxBytes = 0;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        pump(&d);
        *rxBytes = (uint32_t)d.ring.count;
        if (d.ring.count == 0 && d.readError != FT_OK) return d.readError;
        return FT_OK;
    });
}

FT_STATUS FT_CALL FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus) {
    if (!modemStatus) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        unsigned short polled = 0;
        FT_STATUS status = control(d, ftdi_poll_modem_status(d.ftdi, &polled));
        if (status == FT_OK) *modemStatus = ftbModemStatus(polled);
        return status;
    });
}

FT_STATUS FT_CALL FT_ResetPort(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) -> FT_STATUS {
        FT_STATUS status = control(d, ftdi_usb_reset(d.ftdi));
        if (status == FT_OK) {
            ftbRingClear(&d.ring);
            d.readError = FT_OK;
            submitRead(&d);
        }
        return status;
    });
}

FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate) {
    if (baudRate == 0 || baudRate > 0x7FFFFFFFu) return FT_INVALID_BAUD_RATE;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        int rc = ftdi_set_baudrate(d.ftdi, (int)baudRate);
        if (rc == -1) return FT_INVALID_BAUD_RATE;
        return control(d, rc);
    });
}

FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity) {
    int bits, stop, par;
    FT_STATUS valid = ftbLineSettings(wordLength, stopBits, parity, &bits, &stop, &par);
    if (valid != FT_OK) return valid;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        return control(d, ftdi_set_line_property(d.ftdi, (ftdi_bits_type)bits, (ftdi_stopbits_type)stop,
                                                           (ftdi_parity_type)par));
    });
}

FT_STATUS FT_CALL FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff) {
    if (!ftbFlowControlValid(flowControl)) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        if (flowControl == FT_FLOW_XON_XOFF) return control(d, ftdi_setflowctrl_xonxoff(d.ftdi, xon, xoff));
        return control(d, ftdi_setflowctrl(d.ftdi, flowControl));
    });
}

FT_STATUS FT_CALL FT_SetDtr(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) { return control(d, ftdi_setdtr(d.ftdi, 1)); });
}

FT_STATUS FT_CALL FT_ClrDtr(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) { return control(d, ftdi_setdtr(d.ftdi, 0)); });
}

FT_STATUS FT_CALL FT_ClrRts(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) { return control(d, ftdi_setrts(d.ftdi, 0)); });
}

FT_STATUS FT_CALL FT_GetDeviceInfo(FT_HANDLE handle, uint32_t *type, uint32_t *id, char *serial, char *description,
                                   void *) {
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        if (type) *type = d.type;
        if (id) *id = d.id;
        if (serial) ftbCopyText(serial, FT_SERIAL_SIZE, d.serial);
        if (description) ftbCopyText(description, FT_DESCRIPTION_SIZE, d.description);
        return FT_OK;
    });
}

}  // extern "C"
