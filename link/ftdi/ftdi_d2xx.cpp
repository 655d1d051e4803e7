// ftdi_d2xx.cpp - the D2XX functions of link/d2xx.h over libftdi and libusb:
// libqvftd2xx.so, the USB transceiver library of the Linux builds.
//
// What D2XX offers and libftdi lacks is built here:
// - the device list with the "already open" flag: set for the devices this
//   process holds and for those another process holds (libusb cannot claim
//   them, or cannot open them at all);
// - the receive queue: every open device has a reader thread of its own that
//   keeps READS small bulk-in transfers submitted and handles the device's
//   USB events; each finished transfer's data goes, without its status bytes,
//   into a read-ahead ring under the ring's own lock, so FT_GetQueueStatus and
//   FT_Read only look at the ring and make no system call. An optional data
//   hook (FT_RX_HOOK_EXPORT) hears of every arrival;
// - handles that stay invalid once closed (slot plus generation).
// The latency timer is set to 2 ms so that bytes reach the ring promptly.
//
// What a status cannot tell (no permission to open a device, a device that
// vanished, a cut packet or a line error in the received data, a request
// the chip refused) goes in one line to the program's log hook
// (FT_LOG_HOOK_EXPORT). A packet with a line error is passed on as it came
// (the receiver's own checks see what it garbled) and reported at most once
// a second with a count. A cut packet or a failed transfer ends the reading;
// an unplugged device makes every call fail with FT_DEVICE_NOT_FOUND. In
// both cases the bytes received before stay readable.
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
const int READS = 4;               // bulk-in transfers kept in flight
const int READ_SIZE = 512;         // bytes each: eight packets
const long EVENT_WAIT_US = 20000;  // the reader's longest wait for USB events
const int REAP_POLLS = 50;         // waits of EVENT_WAIT_US for cancelled transfers: 1 s
const unsigned WRITE_TIMEOUT_MS = 1000;
const unsigned char LATENCY_MS = 2;
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
    size_t packetSize;
    FtbReadAhead ahead;     // the reader's data for the D2XX calls, under its own lock
    std::atomic<bool> gone; // the device was unplugged
    // The reader. Transfers finish on whichever thread handles the
    // context's events (the reader, or a synchronous request of a D2XX
    // call), so their states are kept under readLock.
    OsThread reader;
    std::atomic<bool> stopping;
    OsLock readLock;
    libusb_transfer *transfers[READS];
    bool submitted[READS];
    int inFlight;
    bool stranded;          // a cancelled transfer never came back: it is not freed
    uint8_t ringStorage[RING_SIZE];
    uint8_t buffers[READS][READ_SIZE];
};

OsLock g_table;  // the open table's identities, the device list, opens and closes
Device g_dev[SLOTS];

// The locks are made while the library's static data are set up, before any
// call can come in, and live as long as the process.
bool makeLocks() {
    osLockInit(&g_table);
    for (Device &d : g_dev) {
        osLockInit(&d.io);
        osLockInit(&d.readLock);
        ftbReadAheadMake(&d.ahead);
    }
    return true;
}
const bool g_locksMade = makeLocks();
uint32_t g_generation = 0;
FtbDevice g_list[MAX_LISTED];
int g_listCount = 0;
std::atomic<FtLogLine> g_logHook{nullptr};
std::atomic<FtRxHook> g_rxHook{nullptr};

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

void dataArrived() {
    FtRxHook hook = g_rxHook.load();
    if (hook) hook();
}

// A read-side fault: reading ends; logged once, with what happened; the
// bytes before it stay readable.
__attribute__((format(printf, 2, 3))) void readFault(Device *d, const char *format, ...) {
    if (!ftbReadAheadEnd(&d->ahead, FT_IO_ERROR)) return;
    char what[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    logLine("%s: %s; the data received before it is kept\n", d->serial, what);
}

// The device is gone: every call fails with FT_DEVICE_NOT_FOUND from now
// on (reads once the bytes received before are taken); said once.
void deviceGone(Device *d) {
    if (d->gone.exchange(true)) return;
    ftbReadAheadEnd(&d->ahead, FT_DEVICE_NOT_FOUND);
    logLine("%s: the transceiver is gone (unplugged); the data received before it is kept\n", d->serial);
}

// Packets flagged with a line error, at most one line a second.
void reportLineErrors(Device *d) {
    uint8_t line = 0;
    uint32_t n = ftbReadAheadLineReport(&d->ahead, osClockMs(), &line);
    if (n == 0) return;
    logLine("%s: receive line error, line status 0x%02x (0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break): "
            "%u packet(s) flagged since the last report, their data passed on\n",
            d->serial, line, (unsigned)n);
}

void LIBUSB_CALL onReadDone(libusb_transfer *transfer);

// Submits transfer i when reading goes on and the ring has room for what
// every transfer in flight may bring. readLock held.
void submitOne(Device *d, int i) {
    if (d->submitted[i] || d->stopping.load() || d->gone.load()) return;
    if (ftbReadAheadError(&d->ahead) != FT_OK) return;
    if (ftbReadAheadFree(&d->ahead) < (size_t)READ_SIZE * (size_t)(d->inFlight + 1)) return;
    libusb_fill_bulk_transfer(d->transfers[i], d->ftdi->usb_dev, (unsigned char)d->ftdi->out_ep, d->buffers[i],
                              READ_SIZE, onReadDone, d, 0);
    int rc = libusb_submit_transfer(d->transfers[i]);
    if (rc == LIBUSB_ERROR_NO_DEVICE) {
        deviceGone(d);
    } else if (rc < 0) {
        readFault(d, "bulk-in transfer not accepted (%s)", libusb_error_name(rc));
    } else {
        d->submitted[i] = true;
        d->inFlight += 1;
    }
}

int transferIndex(const Device *d, const libusb_transfer *transfer) {
    for (int i = 0; i < READS; ++i) {
        if (d->transfers[i] == transfer) return i;
    }
    return -1;
}

// A finished bulk-in transfer. Packets that arrived before a transfer was
// cut off were delivered: they are kept whatever ended the transfer.
void LIBUSB_CALL onReadDone(libusb_transfer *transfer) {
    Device *d = static_cast<Device *>(transfer->user_data);
    // After a cut packet or a failed transfer the stream has a hole: what
    // other transfers still bring is not appended behind it.
    FtbPut put = {0, 0, 0, false};
    if (ftbReadAheadError(&d->ahead) != FT_IO_ERROR) {
        put = ftbReadAheadPut(&d->ahead, transfer->buffer, (size_t)transfer->actual_length, d->packetSize);
    }
    if (put.cut) readFault(d, "a bulk-in packet shorter than its two status bytes");
    bool goOn = false;
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_TIMED_OUT:
        goOn = true;
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        break;
    case LIBUSB_TRANSFER_NO_DEVICE:
        deviceGone(d);
        break;
    default:
        readFault(d, "bulk-in transfer failed (status %d)", (int)transfer->status);
        break;
    }
    {
        OsLockGuard guard(&d->readLock);
        int i = transferIndex(d, transfer);
        if (i >= 0 && d->submitted[i]) {
            d->submitted[i] = false;
            d->inFlight -= 1;
            if (goOn) submitOne(d, i);
        }
    }
    // Flagged packets held back by the once-a-second rule are told by a
    // later transfer.
    reportLineErrors(d);
    // The program hears of new bytes, and of an end of reading, at once.
    if (put.appended > 0 || (!goOn && transfer->status != LIBUSB_TRANSFER_CANCELLED)) dataArrived();
}

int inFlight(Device *d) {
    OsLockGuard guard(&d->readLock);
    return d->inFlight;
}

// Cancels every transfer in flight and handles events until all have come
// back, within REAP_POLLS waits; one that never does is left to libusb.
void reapTransfers(Device *d) {
    {
        OsLockGuard guard(&d->readLock);
        for (int i = 0; i < READS; ++i) {
            if (d->submitted[i]) libusb_cancel_transfer(d->transfers[i]);
        }
    }
    for (int n = 0; n < REAP_POLLS && inFlight(d) > 0; ++n) {
        timeval wait = {0, EVENT_WAIT_US};
        libusb_handle_events_timeout_completed(d->ftdi->usb_ctx, &wait, nullptr);
    }
    if (inFlight(d) > 0 && !d->gone.load()) {
        d->stranded = true;
        logLine("%s: a cancelled bulk-in transfer did not come back within %d ms\n", d->serial,
                (int)(REAP_POLLS * EVENT_WAIT_US / 1000));
    } else if (inFlight(d) > 0) {
        d->stranded = true;
    }
}

// The reader thread: keeps the transfers submitted and handles the device's
// events until asked to stop, then reaps every transfer.
void readerMain(void *arg) {
    Device *d = static_cast<Device *>(arg);
    while (!d->stopping.load()) {
        {
            OsLockGuard guard(&d->readLock);
            for (int i = 0; i < READS; ++i) submitOne(d, i);
        }
        timeval wait = {0, EVENT_WAIT_US};
        libusb_handle_events_timeout_completed(d->ftdi->usb_ctx, &wait, nullptr);
    }
    reapTransfers(d);
}

// Starts the device's reader; false (logged) when its thread cannot start.
bool startReader(Device *d) {
    d->stopping.store(false);
    d->inFlight = 0;
    for (bool &s : d->submitted) s = false;
    d->reader = osThreadStart(readerMain, d, 0, OS_PRIORITY_HIGHEST);
    if (d->reader == nullptr) {
        logLine("%s: cannot start the reader thread of the transceiver\n", d->serial);
        return false;
    }
    return true;
}

// Stops the reader: its transfers cancelled and reaped, its thread joined
// (within the reaping bound and one event wait).
void stopReader(Device *d) {
    if (d->reader == nullptr) return;
    d->stopping.store(true);
    libusb_interrupt_event_handler(d->ftdi->usb_ctx);
    osThreadJoin(d->reader);
    d->reader = nullptr;
}

// The transfers of an open; false when one cannot be had (none kept).
bool allocTransfers(Device *d) {
    d->stranded = false;
    for (int i = 0; i < READS; ++i) {
        d->transfers[i] = libusb_alloc_transfer(0);
        if (d->transfers[i] == nullptr) {
            for (int j = 0; j < i; ++j) libusb_free_transfer(d->transfers[j]);
            return false;
        }
    }
    return true;
}

// A transfer that never came back must not be freed under libusb.
void freeTransfers(Device *d) {
    for (libusb_transfer *&t : d->transfers) {
        if (!d->stranded) libusb_free_transfer(t);
        t = nullptr;
    }
}

// The result of a control request on an open device as a status; a failure
// is logged with libftdi's words for it (unless the device's reading has
// failed already, which the log has told).
FT_STATUS control(Device &d, int rc) {
    if (d.gone.load()) return FT_DEVICE_NOT_FOUND;
    if (rc < 0 && ftbReadAheadError(&d.ahead) == FT_OK) {
        logLine("%s: %s (%d)\n", d.serial, ftdi_get_error_string(d.ftdi), rc);
    }
    return ftbStatusFromControl(rc);
}

// Runs a control request unless the device is gone (which fails at once).
template <typename F>
FT_STATUS request(Device &d, F call) {
    if (d.gone.load()) return FT_DEVICE_NOT_FOUND;
    return control(d, call());
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
// its reader; returns its handle, or null when its transfers or its thread
// cannot be had (the slot stays free; the caller closes the chip). Table
// lock held.
FT_HANDLE holdDevice(int slot, const Found &found, ftdi_context *f) {
    Device &d = g_dev[slot];
    OsLockGuard deviceGuard(&d.io);
    ftbCopyText(d.serial, sizeof d.serial, found.info.serial);
    ftbCopyText(d.description, sizeof d.description, found.info.description);
    if (!allocTransfers(&d)) {
        logLine("%s: no memory for the bulk-in transfers of the transceiver\n", d.serial);
        return nullptr;
    }
    d.generation = ++g_generation;
    d.bus = found.bus;
    d.address = found.address;
    d.type = found.info.type;
    d.id = found.info.id;
    d.ftdi = f;
    d.packetSize = f->max_packet_size > 2 ? (size_t)f->max_packet_size : 64;
    d.gone.store(false);
    ftbReadAheadReset(&d.ahead, d.ringStorage, RING_SIZE);
    if (!startReader(&d)) {
        freeTransfers(&d);
        return nullptr;
    }
    d.inUse = true;
    return ftbHandleMake(slot, d.generation);
}

}  // namespace

extern "C" {

FT_EXPORT void qvftSetLogHook(FtLogLine hook) { g_logHook.store(hook); }
FT_EXPORT void qvftSetRxHook(FtRxHook hook) { g_rxHook.store(hook); }

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

// Opens the chip and sets it up: its write time-out and latency timer. On
// failure nothing of it stays open.
static FT_STATUS openChip(ftdi_context *f, const Found &dev) {
    int rc = ftdi_usb_open_dev(f, dev.dev);
    if (rc < 0) {
        // A device without access was named in the log by the enumeration.
        if (!dev.noAccess) {
            logLine("%s: cannot open the transceiver: %s (%d)\n", dev.info.serial, ftdi_get_error_string(f), rc);
        }
        return ftbStatusFromOpen(rc);
    }
    f->usb_write_timeout = (int)WRITE_TIMEOUT_MS;
    // A chip that refuses its latency timer would hold every byte up to its
    // default 16 ms; such a chip is not used.
    int latency = ftdi_set_latency_timer(f, LATENCY_MS);
    if (latency < 0) {
        logLine("%s: the transceiver refused the latency timer of %u ms: %s (%d)\n", dev.info.serial,
                (unsigned)LATENCY_MS, ftdi_get_error_string(f), latency);
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
    if (status == FT_OK) status = openChip(f, found[match]);
    if (status == FT_OK) {
        *handle = holdDevice(slot, found[match], f);
        if (*handle == nullptr) {
            ftdi_usb_close(f);
            status = FT_INSUFFICIENT_RESOURCES;
        }
    }
    if (list) ftdi_list_free(&list);
    if (status != FT_OK) ftdi_free(f);
    return status;
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE handle) {
    OsLockGuard guard(&g_table);
    return withDevice(handle, [](Device &d) -> FT_STATUS {
        stopReader(&d);
        freeTransfers(&d);
        FT_STATUS status = ftbStatusFromControl(ftdi_usb_close(d.ftdi));
        // Releasing a device that is gone fails; that is no error of the close.
        if (d.gone.load()) status = FT_OK;
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
        size_t got = 0;
        FT_STATUS status = ftbReadAheadTake(&d.ahead, static_cast<uint8_t *>(buffer), toRead, &got);
        *read = (uint32_t)got;
        return status;
    });
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE handle, void *buffer, uint32_t toWrite, uint32_t *written) {
    if (written) *written = 0;
    if ((!buffer && toWrite > 0) || !written) return FT_INVALID_PARAMETER;
    if (toWrite > 0x7FFFFFFFu) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        if (d.gone.load()) return FT_DEVICE_NOT_FOUND;
        if (toWrite == 0) return FT_OK;
        int moved = 0;
        int rc = libusb_bulk_transfer(d.ftdi->usb_dev, (unsigned char)d.ftdi->in_ep, static_cast<uint8_t *>(buffer),
                                      (int)toWrite, &moved, WRITE_TIMEOUT_MS);
        *written = moved > 0 ? (uint32_t)moved : 0;
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            deviceGone(&d);
            return FT_DEVICE_NOT_FOUND;
        }
        // A time-out is a short write, as with the vendor library.
        if (rc == LIBUSB_ERROR_TIMEOUT) return FT_OK;
        return ftbStatusFromUsb(rc);
    });
}

FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes) {
    if (!rxBytes) return FT_INVALID_PARAMETER;
    *rxBytes = 0;
    return withDevice(handle, [&](Device &d) -> FT_STATUS { return ftbReadAheadQueue(&d.ahead, rxBytes); });
}

FT_STATUS FT_CALL FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus) {
    if (!modemStatus) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        unsigned short polled = 0;
        FT_STATUS status = request(d, [&] { return ftdi_poll_modem_status(d.ftdi, &polled); });
        if (status == FT_OK) *modemStatus = ftbModemStatus(polled);
        return status;
    });
}

// The reset stops the reader first (its transfers reaped), so that no byte
// of before the reset lands in the emptied ring, and starts it again.
FT_STATUS FT_CALL FT_ResetPort(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) -> FT_STATUS {
        if (d.gone.load()) return FT_DEVICE_NOT_FOUND;
        stopReader(&d);
        FT_STATUS status = control(d, ftdi_usb_reset(d.ftdi));
        if (status == FT_OK && !d.stranded) ftbReadAheadReset(&d.ahead, d.ringStorage, RING_SIZE);
        if (d.stranded) readFault(&d, "the reader could not be stopped for the reset");
        if (!d.stranded && !startReader(&d)) readFault(&d, "the reader did not start again after the reset");
        return status;
    });
}

FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate) {
    if (baudRate == 0 || baudRate > 0x7FFFFFFFu) return FT_INVALID_BAUD_RATE;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        if (d.gone.load()) return FT_DEVICE_NOT_FOUND;
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
        return request(d, [&] {
            return ftdi_set_line_property(d.ftdi, (ftdi_bits_type)bits, (ftdi_stopbits_type)stop,
                                          (ftdi_parity_type)par);
        });
    });
}

FT_STATUS FT_CALL FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff) {
    if (!ftbFlowControlValid(flowControl)) return FT_INVALID_PARAMETER;
    return withDevice(handle, [&](Device &d) -> FT_STATUS {
        if (flowControl == FT_FLOW_XON_XOFF) {
            return request(d, [&] { return ftdi_setflowctrl_xonxoff(d.ftdi, xon, xoff); });
        }
        return request(d, [&] { return ftdi_setflowctrl(d.ftdi, flowControl); });
    });
}

FT_STATUS FT_CALL FT_SetDtr(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) { return request(d, [&] { return ftdi_setdtr(d.ftdi, 1); }); });
}

FT_STATUS FT_CALL FT_ClrDtr(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) { return request(d, [&] { return ftdi_setdtr(d.ftdi, 0); }); });
}

FT_STATUS FT_CALL FT_ClrRts(FT_HANDLE handle) {
    return withDevice(handle, [](Device &d) { return request(d, [&] { return ftdi_setrts(d.ftdi, 0); }); });
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
