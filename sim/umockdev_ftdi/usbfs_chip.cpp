// usbfs_chip.cpp - the emulated transceiver of usbfs_chip.h under umockdev.
#include "sim/umockdev_ftdi/usbfs_chip.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <pthread.h>
#include <stddef.h>
#include <sys/stat.h>
#include <time.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_device.h"

namespace {

const int MAX_BUS = 32;
const uint32_t STEP_US = 500;
const uint32_t USBFS_CAPS = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                            USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
const size_t SETUP_SIZE = 8;
const int PIPE_PAGE = 4096;

// Standard requests and descriptor types of the default control pipe.
enum : uint8_t { REQ_GET_STATUS = 0x00, REQ_GET_DESCRIPTOR = 0x06, REQ_GET_CONFIGURATION = 0x08 };
enum : uint8_t { DESC_DEVICE = 1, DESC_CONFIG = 2, DESC_STRING = 3 };
enum : uint8_t { TYPE_VENDOR = 0x40, DIR_IN = 0x80 };

// One submitted URB and the client memory behind it.
struct Urb {
    UMockdevIoctlClient *client;
    UMockdevIoctlData *urb;       // the client's struct usbdevfs_urb
    UMockdevIoctlData *buffer;    // its buffer (null when empty)
    uint8_t type, endpoint;
    int length;                   // buffer_length
    int done;                     // bytes moved so far
    uint64_t address;             // the URB's address in the client
};

}  // namespace

struct UsbfsChip {
    std::mutex lock;
    UMockdevTestbed *testbed;
    UMockdevIoctlBase *handler;   // of the device as plugged in now
    FtdiChip chip;
    std::string serial, product;
    std::string sysPath, node, nodeFile;
    std::vector<std::string> attached;   // every node it answered, one per plug-in
    int bus;                      // the USB bus it sits on
    int address;                  // device address on the bus
    bool present;
    // Vanish at the program's n-th bulk-in URB (0: never); the removal from
    // sysfs then follows on the chip's thread.
    uint32_t vanishAtIn;
    bool removalPending;
    std::deque<Urb> inUrbs, outUrbs, finished;
    int fifo;                     // the node's FIFO, held open by the bed
    bool ready;                   // the FIFO reports POLLOUT
    pthread_t thread;
    bool stop;
    UsbfsStats stats;
};

namespace {

// ---------------------------------------------------------------------------
// The ioctl handler type: a UMockdevIoctlBase whose handle_ioctl plays the chip
// ---------------------------------------------------------------------------

struct ChipHandler {
    UMockdevIoctlBase parent;
    UsbfsChip *bed;
    int address;                  // the plug-in it serves: older ones answer ENODEV
};
struct ChipHandlerClass {
    UMockdevIoctlBaseClass parent;
};

gboolean handleIoctl(UMockdevIoctlBase *self, UMockdevIoctlClient *client);
void clientVanished(UMockdevIoctlBase *self, UMockdevIoctlClient *client);

void handlerClassInit(gpointer klass, gpointer) {
    UMockdevIoctlBaseClass *base = UMOCKDEV_IOCTL_BASE_CLASS(klass);
    base->handle_ioctl = handleIoctl;
    base->client_vanished = clientVanished;
}

GType handlerType() {
    static GType type = g_type_register_static_simple(UMOCKDEV_TYPE_IOCTL_BASE, "QvEmulatedFtdiChip",
                                                      sizeof(ChipHandlerClass), handlerClassInit,
                                                      sizeof(ChipHandler), nullptr, (GTypeFlags)0);
    return type;
}

// ---------------------------------------------------------------------------
// Poll readiness of the node
// ---------------------------------------------------------------------------

// Full FIFO: not writable, poll reports nothing; empty: POLLOUT.
void setReady(UsbfsChip *bed) {
    bool want = !bed->finished.empty();
    if (want == bed->ready || bed->fifo < 0) return;
    char block[PIPE_PAGE];
    if (want) {
        while (read(bed->fifo, block, sizeof block) > 0) {
        }
    } else {
        std::memset(block, 0, sizeof block);
        while (write(bed->fifo, block, sizeof block) > 0) {
        }
    }
    bed->ready = want;
}

// ---------------------------------------------------------------------------
// URBs
// ---------------------------------------------------------------------------

void setUrbResult(Urb &u, int status, int actual) {
    umockdev_ioctl_data_update(u.urb, offsetof(usbdevfs_urb, status), reinterpret_cast<guint8 *>(&status),
                               sizeof status);
    umockdev_ioctl_data_update(u.urb, offsetof(usbdevfs_urb, actual_length), reinterpret_cast<guint8 *>(&actual),
                               sizeof actual);
}

void finish(UsbfsChip *bed, Urb u, int status) {
    setUrbResult(u, status, u.done);
    bed->finished.push_back(u);
    setReady(bed);
}

void release(Urb &u) {
    if (u.buffer) g_object_unref(u.buffer);
    g_object_unref(u.urb);
}

// Every URB still under way ends with that status (a vanished device, or a
// client gone).
void endAll(UsbfsChip *bed, std::deque<Urb> *list, UMockdevIoctlClient *only, int status) {
    for (auto it = list->begin(); it != list->end();) {
        if (only && it->client != only) {
            ++it;
            continue;
        }
        Urb u = *it;
        it = list->erase(it);
        if (only) {
            release(u);
        } else {
            finish(bed, u, status);
        }
    }
}

// The transceiver stops answering: its pending URBs end with ENODEV and
// later requests fail with it. Lock held.
void vanish(UsbfsChip *bed) {
    bed->present = false;
    bed->stats.vanishedUs = usbfsNowUs();
    endAll(bed, &bed->inUrbs, nullptr, -ENODEV);
    endAll(bed, &bed->outUrbs, nullptr, -ENODEV);
}

// Its node and sysfs entry go and udev says "remove"; the chip loses power
// (its settings and buffers are gone), the device keeps its clock. Lock
// held.
void removeVanished(UsbfsChip *bed) {
    umockdev_testbed_uevent(bed->testbed, bed->sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(bed->testbed, bed->sysPath.c_str());
    uint64_t start = bed->chip.startUs, now = usbfsNowUs();
    ftdiChipInit(&bed->chip, bed->chip.device, now);
    bed->chip.startUs = start;
    if (bed->chip.device) simDeviceSetLinkUp(bed->chip.device, false, (uint32_t)((now - start) / 1000));
}

// Bytes of a descriptor answer for GET_DESCRIPTOR.
std::vector<uint8_t> stringDescriptor(const std::string &text) {
    std::vector<uint8_t> d = {(uint8_t)(2 + 2 * text.size()), DESC_STRING};
    for (char c : text) {
        d.push_back((uint8_t)c);
        d.push_back(0);
    }
    return d;
}

std::vector<uint8_t> deviceDescriptor() {
    return {18, DESC_DEVICE, 0x00, 0x02, 0, 0, 0, 8, FTDI_VENDOR & 0xFF, FTDI_VENDOR >> 8,
            FTDI_PRODUCT_232R & 0xFF, FTDI_PRODUCT_232R >> 8, FTDI_RELEASE_232R & 0xFF, FTDI_RELEASE_232R >> 8,
            1, 2, 3, 1};
}

std::vector<uint8_t> configDescriptor() {
    return {9, DESC_CONFIG, 32, 0, 1, 1, 0, 0xA0, 45,                 // configuration 1, 90 mA
            9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,                       // interface 0, vendor class
            7, 5, FTDI_EP_IN, 2, FTDI_PACKET, 0, 0,                   // bulk IN
            7, 5, FTDI_EP_OUT, 2, FTDI_PACKET, 0, 0};                 // bulk OUT
}

// A standard request of the default pipe: false stalls it.
bool standardRequest(UsbfsChip *bed, const uint8_t *setup, std::vector<uint8_t> *answer) {
    uint8_t request = setup[1];
    uint8_t index = setup[2], type = setup[3];
    if (!(setup[0] & DIR_IN)) return true;  // SET_CONFIGURATION, SET_INTERFACE, ...: nothing to keep
    if (request == REQ_GET_STATUS) {
        *answer = {0, 0};
    } else if (request == REQ_GET_CONFIGURATION) {
        *answer = {1};
    } else if (request == REQ_GET_DESCRIPTOR && type == DESC_DEVICE) {
        *answer = deviceDescriptor();
    } else if (request == REQ_GET_DESCRIPTOR && type == DESC_CONFIG) {
        *answer = configDescriptor();
    } else if (request == REQ_GET_DESCRIPTOR && type == DESC_STRING) {
        static const char *const kManufacturer = "FTDI";
        if (index == 0) *answer = {4, DESC_STRING, 0x09, 0x04};
        if (index == 1) *answer = stringDescriptor(kManufacturer);
        if (index == 2) *answer = stringDescriptor(bed->product);
        if (index == 3) *answer = stringDescriptor(bed->serial);
        return index <= 3;
    } else {
        return false;
    }
    return true;
}

// A control URB is answered at once.
void controlUrb(UsbfsChip *bed, Urb u) {
    guint8 *data = u.buffer ? u.buffer->data : nullptr;
    if (!data || u.length < (int)SETUP_SIZE) {
        finish(bed, u, -EINVAL);
        return;
    }
    uint16_t value = (uint16_t)(data[2] | data[3] << 8), index = (uint16_t)(data[4] | data[5] << 8);
    size_t wanted = (size_t)(data[6] | data[7] << 8);
    if (wanted > (size_t)u.length - SETUP_SIZE) wanted = (size_t)u.length - SETUP_SIZE;
    std::vector<uint8_t> answer;
    bool ok;
    if ((data[0] & 0x60) == TYPE_VENDOR) {
        uint8_t in[8];
        size_t n = 0;
        ok = ftdiChipControl(&bed->chip, data[1], value, index, in, sizeof in, &n, usbfsNowUs()) ==
             FTDI_CONTROL_OK;
        answer.assign(in, in + n);
    } else {
        ok = standardRequest(bed, data, &answer);
    }
    if (!ok) {
        finish(bed, u, -EPIPE);
        return;
    }
    if (data[0] & DIR_IN) {
        size_t n = answer.size() < wanted ? answer.size() : wanted;
        if (n > 0) umockdev_ioctl_data_update(u.buffer, SETUP_SIZE, answer.data(), (gint)n);
        u.done = (int)n;
    } else {
        u.done = (int)wanted;
    }
    finish(bed, u, 0);
}

// SUBMITURB: reads the URB and its buffer from the client.
int submit(UsbfsChip *bed, UMockdevIoctlClient *client) {
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    GError *error = nullptr;
    UMockdevIoctlData *urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!urbData) {
        g_clear_error(&error);
        return -EFAULT;
    }
    const usbdevfs_urb *urb = reinterpret_cast<const usbdevfs_urb *>(urbData->data);
    Urb u = {client, urbData, nullptr, urb->type, urb->endpoint, urb->buffer_length, 0, urbData->client_addr};
    if (u.length < 0 || (u.type != USBDEVFS_URB_TYPE_CONTROL && u.type != USBDEVFS_URB_TYPE_BULK)) {
        g_object_unref(urbData);
        return -EINVAL;
    }
    if (u.length > 0) {
        u.buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), (gsize)u.length, &error);
        if (!u.buffer) {
            g_clear_error(&error);
            g_object_unref(urbData);
            return -EFAULT;
        }
    }
    bed->stats.submitted += 1;
    if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
        controlUrb(bed, u);
    } else if (u.endpoint == FTDI_EP_IN) {
        bed->stats.inSubmitted += 1;
        if (bed->stats.inSubmitted == bed->vanishAtIn) {
            release(u);
            vanish(bed);
            bed->removalPending = true;
            return -ENODEV;
        }
        bed->inUrbs.push_back(u);
    } else if (u.endpoint == FTDI_EP_OUT) {
        bed->outUrbs.push_back(u);
    } else {
        release(u);
        return -ENOENT;
    }
    return 0;
}

// REAPURB / REAPURBNDELAY: hands the client its oldest finished URB.
int reap(UsbfsChip *bed, UMockdevIoctlClient *client, bool gone) {
    for (auto it = bed->finished.begin(); it != bed->finished.end(); ++it) {
        if (it->client != client) continue;
        Urb u = *it;
        bed->finished.erase(it);
        setReady(bed);
        GError *error = nullptr;
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                              sizeof(void *), &error);
        if (slot) {
            umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(slot);
        } else {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
        }
        release(u);
        bed->stats.reaped += 1;
        return 1;
    }
    bed->stats.emptyReaps += 1;
    return gone ? -ENODEV : -EAGAIN;
}

// DISCARDURB: the URB at that client address ends with ENOENT.
int discard(UsbfsChip *bed, UMockdevIoctlClient *client) {
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    uint64_t address = 0;
    if (arg->data_len >= (gint)sizeof address) std::memcpy(&address, arg->data, sizeof address);
    for (std::deque<Urb> *list : {&bed->inUrbs, &bed->outUrbs}) {
        for (auto it = list->begin(); it != list->end(); ++it) {
            if (it->client != client || it->address != address) continue;
            Urb u = *it;
            list->erase(it);
            finish(bed, u, -ENOENT);
            return 0;
        }
    }
    return -EINVAL;
}

// Answers with a value written into the client's argument.
int answerArg(UMockdevIoctlClient *client, const void *value, size_t size) {
    GError *error = nullptr;
    UMockdevIoctlData *out = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &error);
    if (!out) {
        g_clear_error(&error);
        return -EFAULT;
    }
    umockdev_ioctl_data_update(out, 0, static_cast<guint8 *>(const_cast<void *>(value)), (gint)size);
    g_object_unref(out);
    return 0;
}

// The usbfs requests libusb and libftdi make; 1 when the client was
// answered already, else 0 or -errno.
int dispatch(UsbfsChip *bed, UMockdevIoctlClient *client, unsigned long request, bool gone) {
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) return reap(bed, client, gone);
    if (gone) return -ENODEV;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        return answerArg(client, &USBFS_CAPS, sizeof USBFS_CAPS);
    case USBDEVFS_CONNECTINFO: {
        usbdevfs_connectinfo info = {(unsigned)bed->address, 0};
        return answerArg(client, &info, sizeof info);
    }
    case USBDEVFS_SUBMITURB:
        return submit(bed, client);
    case USBDEVFS_DISCARDURB:
        return discard(bed, client);
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        return -ENODATA;  // no kernel driver is bound to the interface
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
        return 0;
    default:
        bed->stats.unknownIoctls += 1;
        return -ENOTTY;
    }
}

gboolean handleIoctl(UMockdevIoctlBase *self, UMockdevIoctlClient *client) {
    ChipHandler *h = reinterpret_cast<ChipHandler *>(self);
    UsbfsChip *bed = h->bed;
    std::lock_guard<std::mutex> guard(bed->lock);
    bool gone = !bed->present || h->address != bed->address;
    if (gone) bed->stats.lastGoneIoctlUs = usbfsNowUs();
    int rc = dispatch(bed, client, umockdev_ioctl_client_get_request(client), gone);
    if (rc == 1) return TRUE;
    umockdev_ioctl_client_complete(client, rc < 0 ? -1 : 0, rc < 0 ? -rc : 0);
    return TRUE;
}

void clientVanished(UMockdevIoctlBase *self, UMockdevIoctlClient *client) {
    UsbfsChip *bed = reinterpret_cast<ChipHandler *>(self)->bed;
    std::lock_guard<std::mutex> guard(bed->lock);
    endAll(bed, &bed->inUrbs, client, 0);
    endAll(bed, &bed->outUrbs, client, 0);
    endAll(bed, &bed->finished, client, 0);
    setReady(bed);
}

// ---------------------------------------------------------------------------
// The chip's thread
// ---------------------------------------------------------------------------

// Bulk OUT URBs into the chip's transmit buffer, the oldest first.
void serviceOut(UsbfsChip *bed) {
    while (!bed->outUrbs.empty()) {
        Urb &u = bed->outUrbs.front();
        size_t left = (size_t)(u.length - u.done);
        if (left > 0) u.done += (int)ftdiChipWrite(&bed->chip, u.buffer->data + u.done, left);
        if (u.done < u.length) return;
        Urb whole = u;
        bed->outUrbs.pop_front();
        finish(bed, whole, 0);
    }
}

// IN packets into the oldest bulk-in URB.
void serviceIn(UsbfsChip *bed, uint64_t now) {
    while (!bed->inUrbs.empty() && bed->chip.inFault != FTDI_IN_STUCK) {
        Urb &u = bed->inUrbs.front();
        uint8_t packets[4096];
        size_t room = (size_t)(u.length - u.done);
        if (room > sizeof packets) room = sizeof packets;
        bool ended = false;
        size_t n = ftdiChipTakePackets(&bed->chip, packets, room, now, &ended);
        if (n > 0) umockdev_ioctl_data_update(u.buffer, (gsize)u.done, packets, (gint)n);
        u.done += (int)n;
        if (!ended && u.done < u.length) return;
        Urb whole = u;
        bed->inUrbs.pop_front();
        finish(bed, whole, 0);
    }
}

void *chipThread(void *arg) {
    UsbfsChip *bed = static_cast<UsbfsChip *>(arg);
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        next.tv_nsec += STEP_US * 1000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            next.tv_sec += 1;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        std::lock_guard<std::mutex> guard(bed->lock);
        if (bed->stop) break;
        if (bed->removalPending) {
            bed->removalPending = false;
            removeVanished(bed);
        }
        if (!bed->present) continue;
        // The line runs to the moment of waking; the latency timer is judged
        // at the step's nominal time, so that the thread's wake-up jitter
        // does not stretch it (2 ms stays 2 ms, as on the chip's own clock).
        uint64_t now = usbfsNowUs();
        uint64_t nominal = (uint64_t)next.tv_sec * 1000000u + (uint64_t)next.tv_nsec / 1000u;
        ftdiChipRunLine(&bed->chip, now);
        serviceOut(bed);
        serviceIn(bed, nominal < now ? nominal : now);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Plugging in
// ---------------------------------------------------------------------------

// The node becomes a FIFO the bed holds open, full while nothing waits.
bool makeFifo(UsbfsChip *bed) {
    if (bed->fifo >= 0) close(bed->fifo);
    bed->fifo = -1;
    unlink(bed->nodeFile.c_str());
    std::string folder = bed->nodeFile.substr(0, bed->nodeFile.rfind('/'));
    g_mkdir_with_parents(folder.c_str(), 0755);
    if (mkfifo(bed->nodeFile.c_str(), 0666) != 0) return false;
    chmod(bed->nodeFile.c_str(), 0666);
    bed->fifo = open(bed->nodeFile.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (bed->fifo < 0) return false;
    fcntl(bed->fifo, F_SETPIPE_SZ, PIPE_PAGE);
    bed->ready = true;
    setReady(bed);
    return true;
}

bool plugIn(UsbfsChip *bed) {
    char name[32], devnum[8], dev[16], busnum[8];
    bed->address += 1;
    const int bus = bed->bus;
    std::snprintf(name, sizeof name, "usb%d/%d-1", bus, bus);
    std::snprintf(devnum, sizeof devnum, "%d", bed->address);
    std::snprintf(busnum, sizeof busnum, "%d", bus);
    std::snprintf(dev, sizeof dev, "189:%d", (bus - 1) * 128 + bed->address - 1);
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, bed->address);
    bed->node = node;
    gchar *path = umockdev_testbed_add_device(
        bed->testbed, "usb", name, nullptr, "idVendor", "0403", "idProduct", "6001", "bcdDevice", "0600",
        "busnum", busnum, "devnum", devnum, "speed", "12", "bConfigurationValue", "1", "bNumConfigurations", "1",
        "bNumInterfaces", " 1", "bMaxPacketSize0", "8", "manufacturer", "FTDI", "product", bed->product.c_str(),
        "serial", bed->serial.c_str(), "dev", dev, "devpath", "1", nullptr, "DEVNAME", node, "DEVTYPE",
        "usb_device", "BUSNUM", busnum, "DEVNUM", devnum, "ID_VENDOR_ID", "0403", "ID_MODEL_ID", "6001",
        "ID_SERIAL_SHORT", bed->serial.c_str(), nullptr);
    if (!path) return false;
    bed->sysPath = path;
    g_free(path);
    std::vector<uint8_t> descriptors = deviceDescriptor();
    std::vector<uint8_t> config = configDescriptor();
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    umockdev_testbed_set_attribute_binary(bed->testbed, bed->sysPath.c_str(), "descriptors", descriptors.data(),
                                          (gint)descriptors.size());
    gchar *root = umockdev_testbed_get_root_dir(bed->testbed);
    bed->nodeFile = std::string(root) + node;
    g_free(root);

    ChipHandler *h = static_cast<ChipHandler *>(g_object_new(handlerType(), nullptr));
    h->bed = bed;
    h->address = bed->address;
    GError *error = nullptr;
    bool ok = umockdev_testbed_attach_ioctl(bed->testbed, node, &h->parent, &error);
    if (ok) bed->attached.push_back(node);
    if (!ok) {
        std::fprintf(stderr, "ftdi bed: cannot attach the chip to %s: %s\n", node, error ? error->message : "?");
        g_clear_error(&error);
    }
    if (bed->handler) g_object_unref(bed->handler);
    bed->handler = &h->parent;
    if (ok && !makeFifo(bed)) {
        std::fprintf(stderr, "ftdi bed: cannot make %s a FIFO: %s\n", bed->nodeFile.c_str(), strerror(errno));
        ok = false;
    }
    bed->present = ok;
    umockdev_testbed_uevent(bed->testbed, bed->sysPath.c_str(), "add");
    return ok;
}

// Takes the transceiver out of the shared test bed: its sysfs entry and
// the handlers of all its nodes, which point at the record.
void forget(UsbfsChip *bed) {
    for (const std::string &node : bed->attached) umockdev_testbed_detach_ioctl(bed->testbed, node.c_str(), nullptr);
    if (bed->present) umockdev_testbed_remove_device(bed->testbed, bed->sysPath.c_str());
    if (bed->handler) g_object_unref(bed->handler);
    bed->handler = nullptr;
}

// The process's one test bed, shared by its transceivers: made by the
// first, removed by the last.
std::mutex g_testbedLock;
UMockdevTestbed *g_testbed = nullptr;
bool g_busTaken[MAX_BUS + 1];
int g_testbedUsers = 0;

UMockdevTestbed *joinTestbed(int bus) {
    std::lock_guard<std::mutex> guard(g_testbedLock);
    if (bus < 1 || bus > MAX_BUS || g_busTaken[bus]) {
        std::fprintf(stderr, "ftdi bed: USB bus %d is not free (1 to %d, one transceiver each)\n", bus, MAX_BUS);
        return nullptr;
    }
    if (!g_testbed) g_testbed = umockdev_testbed_new();
    g_busTaken[bus] = true;
    g_testbedUsers += 1;
    return g_testbed;
}

void leaveTestbed(int bus) {
    std::lock_guard<std::mutex> guard(g_testbedLock);
    g_busTaken[bus] = false;
    if (--g_testbedUsers == 0) {
        g_object_unref(g_testbed);
        g_testbed = nullptr;
    }
}

}  // namespace

uint64_t usbfsNowUs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000u + (uint64_t)t.tv_nsec / 1000u;
}

UsbfsChip *usbfsChipCreate(const UsbfsChipConfig *config) {
    const char *preload = getenv("LD_PRELOAD");
    if (!preload || !strstr(preload, "libumockdev-preload")) {
        std::fprintf(stderr, "ftdi bed: run under umockdev's preload (umockdev-wrapper)\n");
        return nullptr;
    }
    const int bus = config->bus > 0 ? config->bus : 1;
    UMockdevTestbed *testbed = joinTestbed(bus);
    if (!testbed) return nullptr;
    UsbfsChip *bed = new UsbfsChip();
    bed->testbed = testbed;
    bed->bus = bus;
    bed->handler = nullptr;
    bed->serial = config->serial;
    bed->product = config->product;
    bed->address = 1;
    bed->present = false;
    bed->vanishAtIn = 0;
    bed->removalPending = false;
    bed->fifo = -1;
    bed->stop = false;
    bed->stats = UsbfsStats();
    ftdiChipInit(&bed->chip, config->device, usbfsNowUs());
    bool plugged;
    {
        std::lock_guard<std::mutex> guard(bed->lock);
        plugged = plugIn(bed);
    }
    // As in usbfsChipDestroy: the record goes only once its lock is left.
    if (!plugged) {
        forget(bed);
        delete bed;
        leaveTestbed(bus);
        return nullptr;
    }
    pthread_create(&bed->thread, nullptr, chipThread, bed);
    return bed;
}

void usbfsChipDestroy(UsbfsChip *bed) {
    if (!bed) return;
    {
        std::lock_guard<std::mutex> guard(bed->lock);
        bed->stop = true;
    }
    pthread_join(bed->thread, nullptr);
    {
        std::lock_guard<std::mutex> guard(bed->lock);
        for (std::deque<Urb> *list : {&bed->inUrbs, &bed->outUrbs, &bed->finished}) {
            for (Urb &u : *list) release(u);
            list->clear();
        }
        if (bed->fifo >= 0) close(bed->fifo);
    }
    // The lock is left before the record goes: a handler that lets go of
    // its clients takes it, and nothing may unlock it once freed.
    forget(bed);
    int bus = bed->bus;
    delete bed;
    leaveTestbed(bus);
}

void usbfsChipUnplug(UsbfsChip *bed) {
    std::lock_guard<std::mutex> guard(bed->lock);
    if (!bed->present) return;
    vanish(bed);
    removeVanished(bed);
}

void usbfsChipVanishAtInSubmit(UsbfsChip *bed, uint32_t n) {
    std::lock_guard<std::mutex> guard(bed->lock);
    bed->vanishAtIn = bed->stats.inSubmitted + n;
}

void usbfsChipReplug(UsbfsChip *bed) {
    std::lock_guard<std::mutex> guard(bed->lock);
    if (bed->present) return;
    if (bed->removalPending) {
        bed->removalPending = false;
        removeVanished(bed);
    }
    uint64_t now = usbfsNowUs();
    if (bed->chip.device) simDeviceSetLinkUp(bed->chip.device, true, (uint32_t)((now - bed->chip.startUs) / 1000));
    bed->chip.lastPacketUs = bed->chip.lineUs = now;
    plugIn(bed);
}

const char *usbfsChipNode(const UsbfsChip *bed) { return bed->node.c_str(); }
const char *usbfsChipNodeFile(const UsbfsChip *bed) { return bed->nodeFile.c_str(); }

void usbfsChipWith(UsbfsChip *bed, UsbfsChipFn fn, void *arg) {
    std::lock_guard<std::mutex> guard(bed->lock);
    fn(&bed->chip, arg);
}

void usbfsChipStats(UsbfsChip *bed, UsbfsStats *stats) {
    std::lock_guard<std::mutex> guard(bed->lock);
    *stats = bed->stats;
}
