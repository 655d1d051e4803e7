// btdevice.cpp - qvbtdevice: plays a simulated Halvex over the machine's real
// Bluetooth stack, for the tests that run in the Bluetooth test machine
// (scripts/btvm). The device behind it is the simulator's own (sim/ftsim.h):
// this program only carries its bytes between an RFCOMM connection on the
// device's controller and the simulator's socket face, so commands, data,
// the boot loader and the faults are the simulator's.
//
//   qvbtdevice --address 00:AA:01:01:00:01 [--channel 3] [--model NAME]
//              [--control FIFO] [--seconds N]
//   qvbtdevice --ble hci1 [--model NAME] [--gatt missing|no-notify]
//              [--control FIFO] [--seconds N]
//   qvbtdevice --image FILE
//   qvbtdevice --sdp-without-channel SECONDS
//
// It listens on the RFCOMM channel of the given local address (the Serial
// Port record of the SDP server names that channel; the test machine's job
// adds it). A connection from the host is the device's link: while it is
// up the simulated device sees its link up; when the host or the stack
// breaks it, the device keeps running and the next connection carries on.
// With --ble the device is a Bluetooth LE model served as a peripheral of
// that adapter through bluetoothd (ble_peripheral.h): its GATT service and
// an advertisement with its name; a host's connection opens the simulated
// device, its disconnection closes it.
// Lines written to the control FIFO act on the device: "unplug" and
// "replug" (out of range and back), "drop" (the connection breaks),
// "silence MS", "pause MS" (no data messages for that long),
// "power-cycle" (the device is switched off and on: at rest),
// "vanish-at-connect" (the device's controller goes off as the next host
// connects), "vanish-at-notify" (Bluetooth LE: as the host switches
// notifications on), "vanish-never" (neither, if it has not come), "quit".
// --gatt serves a bad service instead of the device's: its last
// characteristic missing, or the data characteristics without "notify".
// The whole run is bounded by --seconds (default 600). --image writes the
// largest firmware image the device's boot loader takes (65,024 bytes, the
// application's name) into FILE, for the loader's upload, and exits.
// --sdp-without-channel holds a Serial Port record that names no RFCOMM
// channel in the local SDP server for that many seconds (the record goes
// with the program).
#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/sockets.h"
#include "os/os.h"
#include "sim/btdevice/ble_peripheral.h"
#include "sim/ftsim.h"
#include "tests/upgrade/image.h"

namespace {

const char *const SIM_ADDRESS = "00:80:98:00:00:01";
const char *const SIM_NAME = "Quorvane Halvex*";
const int POLL_MS = 2;
const size_t CHUNK = 4096;

struct Options {
    const char *address = nullptr;
    const char *ble = nullptr;     // the adapter of a Bluetooth LE device
    int channel = 3;
    const char *model = nullptr;   // default: Halvex-4 BT, or Halvex+ 4 BLE with --ble
    ftsim::PeripheralShape shape = ftsim::SHAPE_DEVICE;
    const char *control = nullptr;
    int seconds = 600;
};

struct Device {
    int slot = -1;
    const LinkSocketApi *api = nullptr;
    int listener = -1;
    int peer = -1;             // the host's RFCOMM connection
    uintptr_t sim = LINK_INVALID_HANDLE;
    int control = -1;
    char line[128] = "";
    size_t lineLength = 0;
    bool quit = false;
    const char *address = nullptr;   // the device controller's
    bool vanishAtConnect = false;
};

void say(const char *text, const char *detail = "") {
    std::printf("qvbtdevice: %s%s\n", text, detail);
    std::fflush(stdout);
}

bool parse(int argc, char **argv, Options *o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const char *k = argv[i], *v = argv[i + 1];
        if (!std::strcmp(k, "--address")) o->address = v;
        else if (!std::strcmp(k, "--ble")) o->ble = v;
        else if (!std::strcmp(k, "--channel")) o->channel = std::atoi(v);
        else if (!std::strcmp(k, "--model")) o->model = v;
        else if (!std::strcmp(k, "--control")) o->control = v;
        else if (!std::strcmp(k, "--seconds")) o->seconds = std::atoi(v);
        else if (!std::strcmp(k, "--gatt") && !std::strcmp(v, "missing")) o->shape = ftsim::SHAPE_MISSING_CHARACTERISTIC;
        else if (!std::strcmp(k, "--gatt") && !std::strcmp(v, "no-notify")) o->shape = ftsim::SHAPE_NO_NOTIFY;
        else return false;
    }
    if (!o->model) o->model = o->ble ? "Quorvane Halvex+ 4 BLE" : "Quorvane Halvex-4 BT";
    if (o->ble) return !o->address && o->seconds > 0 && argc % 2 == 1;
    return o->address != nullptr && o->channel >= 1 && o->channel <= 30 && o->seconds > 0 && argc % 2 == 1;
}

// The RFCOMM server on the device controller's address.
int listenOn(const Options &o) {
    int s = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
    if (s < 0) return -1;
    sockaddr_rc a;
    std::memset(&a, 0, sizeof a);
    a.rc_family = AF_BLUETOOTH;
    a.rc_channel = (uint8_t)o.channel;
    if (str2ba(o.address, &a.rc_bdaddr) != 0 || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(s, 1) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// A connection of the simulator's socket face to the simulated device: the
// device's link is up while it lasts.
bool connectSim(Device *d) {
    uint8_t address[64];
    int size = (int)sizeof address;
    d->sim = d->api->open(LINK_AF_BTH, LINK_SOCK_STREAM, LINK_PROTO_RFCOMM);
    if (d->sim == LINK_INVALID_HANDLE) return false;
    uint32_t nonBlocking = 1;
    std::memset(address, 0, sizeof address);
    bool parsed = d->api->textToAddress(SIM_ADDRESS, LINK_AF_BTH, address, &size) == 0 && size >= BTH_ADDR_SIZE;
    // The Serial Port service on no fixed channel, as the driver asks for it.
    if (parsed) std::memcpy(address + BTH_SERVICE_AT, BTH_SERIAL_PORT_CLASS, sizeof BTH_SERIAL_PORT_CLASS);
    if (parsed) std::memset(address + BTH_PORT_AT, 0, 4);
    if (!parsed || d->api->connect(d->sim, address, size) != 0 || d->api->ioctl(d->sim, LINK_FIONBIO, &nonBlocking) != 0) {
        d->api->close(d->sim);
        d->sim = LINK_INVALID_HANDLE;
        return false;
    }
    return true;
}

void endConnection(Device *d, const char *why) {
    if (d->peer >= 0) close(d->peer);
    d->peer = -1;
    if (d->sim != LINK_INVALID_HANDLE) d->api->close(d->sim);
    d->sim = LINK_INVALID_HANDLE;
    say("connection ended: ", why);
}

// The device's controller switched off at once, as a device that is
// switched off or goes out of reach: through the management interface (what
// btmgmt sends), so that bluetoothd sees its adapter go off. It stops
// answering pages first: the emulated controllers have no page time-out, so
// a host's page that reached a controller while it went off would wait for
// the kernel's connect time-out (40 s) instead of failing at once.
const uint16_t MGMT_SET_POWERED = 0x0005, MGMT_SET_CONNECTABLE = 0x0007;

bool managementOff(int s, uint16_t opcode, int index) {
    // opcode, controller index, parameter length (little-endian), off
    const uint8_t command[7] = {(uint8_t)opcode, (uint8_t)(opcode >> 8), (uint8_t)index, (uint8_t)(index >> 8), 1, 0, 0};
    return write(s, command, sizeof command) == (ssize_t)sizeof command;
}

bool controllerOff(const char *address) {
    int index = hci_devid(address);
    int s = index < 0 ? -1 : socket(PF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, BTPROTO_HCI);
    if (s < 0) return false;
    sockaddr_hci control;
    std::memset(&control, 0, sizeof control);
    control.hci_family = AF_BLUETOOTH;
    control.hci_dev = HCI_DEV_NONE;
    control.hci_channel = HCI_CHANNEL_CONTROL;
    bool sent = bind(s, reinterpret_cast<sockaddr *>(&control), sizeof control) == 0 &&
                managementOff(s, MGMT_SET_CONNECTABLE, index) && managementOff(s, MGMT_SET_POWERED, index);
    close(s);
    return sent;
}

void accept(Device *d) {
    pollfd p = {d->listener, POLLIN, 0};
    if (poll(&p, 1, POLL_MS) <= 0) return;
    sockaddr_rc from;
    socklen_t size = sizeof from;
    int s = ::accept4(d->listener, reinterpret_cast<sockaddr *>(&from), &size, SOCK_CLOEXEC);
    if (s < 0) return;
    d->peer = s;
    char text[18];
    ba2str(&from.rc_bdaddr, text);
    if (d->vanishAtConnect) {
        d->vanishAtConnect = false;
        say(controllerOff(d->address) ? "vanishing as the host connects from " : "cannot switch the controller off for ",
            text);
        endConnection(d, "the device vanished");
        return;
    }
    if (!connectSim(d)) {
        endConnection(d, "the simulated device did not take the connection");
        return;
    }
    say("connected from ", text);
}

// Host to device, then device to host; null while the connection holds,
// else what ended it.
bool transient(ssize_t result) { return result < 0 && (errno == EAGAIN || errno == EINTR); }

const char *relay(Device *d) {
    static char why[96];
    uint8_t buffer[CHUNK];
    pollfd p = {d->peer, POLLIN, 0};
    if (poll(&p, 1, POLL_MS) > 0) {
        ssize_t got = recv(d->peer, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0) return "the host closed the connection";
        if (got < 0 && !transient(got)) {
            std::snprintf(why, sizeof why, "receiving from the host failed (%s)", std::strerror(errno));
            return why;
        }
        if (got > 0 && d->api->send(d->sim, buffer, (int32_t)got) != (int32_t)got) return "the simulated device took no bytes";
    }
    size_t n = 0;
    while (n < sizeof buffer && d->api->recvByte(d->sim, buffer + n) == 1) n += 1;
    if (n == 0 && d->api->lastError() != LINK_ERR_WOULDBLOCK) return "the simulated device's link broke";
    for (size_t at = 0; at < n;) {
        ssize_t sent = send(d->peer, buffer + at, n - at, MSG_NOSIGNAL);
        if (transient(sent)) continue;
        if (sent <= 0) {
            std::snprintf(why, sizeof why, "sending to the host failed (%s)", std::strerror(errno));
            return why;
        }
        at += (size_t)sent;
    }
    return nullptr;
}

// A vanish command: armed for the Bluetooth LE peripheral, or for the
// next RFCOMM connection (the classic device has no notifications). False
// when the line is none.
bool armVanish(Device *d, const char *line) {
    static const struct {
        const char *command;
        ftsim::PeripheralVanish when;
    } kVanish[] = {{"vanish-at-connect", ftsim::VANISH_AT_CONNECT},
                   {"vanish-at-notify", ftsim::VANISH_AT_NOTIFY},
                   {"vanish-never", ftsim::VANISH_NEVER}};
    for (const auto &v : kVanish) {
        if (std::strcmp(line, v.command) != 0) continue;
        if (d->listener < 0) ftsim::peripheralArm(v.when);
        else d->vanishAtConnect = v.when == ftsim::VANISH_AT_CONNECT;
        return true;
    }
    return false;
}

// One line of the control FIFO.
void command(Device *d, const char *line) {
    unsigned ms = 0;
    if (!std::strcmp(line, "unplug")) ftsimUnplug(d->slot);
    else if (!std::strcmp(line, "replug")) ftsimReplug(d->slot);
    else if (!std::strcmp(line, "drop") && d->listener < 0) {
        if (!ftsim::peripheralDrop()) say("no host to drop");
    } else if (!std::strcmp(line, "drop")) endConnection(d, "dropped on request");
    else if (!std::strcmp(line, "power-cycle")) ftsimDevicePowerCycle(d->slot);
    else if (std::sscanf(line, "silence %u", &ms) == 1 || std::sscanf(line, "pause %u", &ms) == 1)
        ftsimDeviceSilence(d->slot, ms);
    else if (armVanish(d, line)) {
    } else if (!std::strcmp(line, "quit")) d->quit = true;
    else {
        say("unknown command: ", line);
        return;
    }
    say("done: ", line);
}

void readControl(Device *d) {
    char c;
    while (d->control >= 0 && read(d->control, &c, 1) == 1) {
        if (c != '\n' && d->lineLength + 1 < sizeof d->line) {
            d->line[d->lineLength++] = c;
            continue;
        }
        d->line[d->lineLength] = 0;
        d->lineLength = 0;
        command(d, d->line);
    }
}

// The Bluetooth LE device, named as the driver's search by name expects
// (the simulator's default name), served through bluetoothd.
bool setUpBle(Device *d, const Options &o) {
    d->slot = ftsimAddBle(nullptr, nullptr);
    if (d->slot < 0 || ftsimAttachNewDevice(d->slot, o.model, nullptr) != 0) {
        say("no simulated device of model ", o.model);
        return false;
    }
    char adapter[64];
    std::snprintf(adapter, sizeof adapter, "/org/bluez/%s", o.ble);
    return ftsim::peripheralStart(d->slot, adapter, o.shape, say);
}

// With the Bluetooth LE device the peripheral's thread does the work: the
// main loop only waits for the control FIFO (a wakeup every millisecond or
// two costs what the link needs under emulation).
void waitForControl(Device *d) {
    pollfd p = {d->control, POLLIN, 0};
    if (d->control < 0 || poll(&p, 1, 100) <= 0) osSleep(d->control < 0 ? 100 : 0);
}

bool setUp(Device *d, const Options &o) {
    if (o.ble && !setUpBle(d, o)) return false;
    if (!o.ble) {
        d->slot = ftsimAddBluetooth(SIM_ADDRESS, SIM_NAME);
        if (d->slot < 0 || ftsimAttachNewDevice(d->slot, o.model, nullptr) != 0) {
            say("no simulated device of model ", o.model);
            return false;
        }
        d->api = ftsimSocketApi();
        d->listener = listenOn(o);
        d->address = o.address;
    }
    if (!o.ble && d->listener < 0) {
        say("cannot listen on RFCOMM at ", o.address);
        return false;
    }
    // Opened for reading and writing, so that the FIFO has a writer and
    // reads give "nothing yet" rather than the end between two commands.
    if (o.control != nullptr) d->control = open(o.control, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (o.control != nullptr && d->control < 0) {
        say("cannot open the control FIFO ", o.control);
        return false;
    }
    return true;
}

// The Serial Port record of a device whose SDP server names no RFCOMM
// channel (the protocol list holds L2CAP alone), held in the local SDP
// server for the given seconds; the record goes with the session.
int holdRecordWithoutChannel(int seconds) {
    bdaddr_t any, local;
    std::memset(&any, 0, sizeof any);
    const uint8_t localServer[6] = {0, 0, 0, 0xFF, 0xFF, 0xFF};   // BDADDR_LOCAL
    std::memcpy(local.b, localServer, sizeof localServer);
    sdp_session_t *session = sdp_connect(&any, &local, SDP_RETRY_IF_BUSY);
    if (!session) {
        say("no local SDP server: ", std::strerror(errno));
        return 1;
    }
    uuid_t serialPort, l2cap, root;
    sdp_uuid16_create(&serialPort, SERIAL_PORT_SVCLASS_ID);
    sdp_uuid16_create(&l2cap, L2CAP_UUID);
    sdp_uuid16_create(&root, PUBLIC_BROWSE_GROUP);
    sdp_record_t *record = sdp_record_alloc();
    sdp_list_t *classes = sdp_list_append(nullptr, &serialPort), *browse = sdp_list_append(nullptr, &root);
    sdp_list_t *protocol = sdp_list_append(nullptr, &l2cap);
    sdp_list_t *protocols = sdp_list_append(nullptr, protocol);
    sdp_list_t *access = sdp_list_append(nullptr, protocols);
    sdp_set_service_classes(record, classes);
    sdp_set_browse_groups(record, browse);
    sdp_set_access_protos(record, access);
    sdp_set_info_attr(record, "Serial Port", nullptr, nullptr);
    int rc = sdp_record_register(session, record, 0);
    say(rc == 0 ? "holding a Serial Port record without a channel" : "the record was refused", "");
    if (rc == 0) osSleep((uint32_t)seconds * 1000u);
    for (sdp_list_t *l : {classes, browse, protocol, protocols, access}) sdp_list_free(l, nullptr);
    sdp_record_free(record);
    sdp_close(session);
    return rc == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && !std::strcmp(argv[1], "--sdp-without-channel")) return holdRecordWithoutChannel(std::atoi(argv[2]));
    if (argc == 3 && !std::strcmp(argv[1], "--image"))
        return writeBytes(argv[2], firmwareImage(FW_MAX_IMAGE, "Halvex application", 2)) ? 0 : 1;
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: qvbtdevice --address ADDRESS [--channel N] [--model NAME] [--control FIFO] "
                             "[--seconds N]\n       qvbtdevice --ble ADAPTER [--model NAME] [--gatt missing|no-notify] "
                             "[--control FIFO] [--seconds N]\n       qvbtdevice --image FILE\n"
                             "       qvbtdevice --sdp-without-channel SECONDS\n");
        return 2;
    }
    Device d;
    if (!setUp(&d, o)) return 1;
    char text[16];
    std::snprintf(text, sizeof text, "%d", o.channel);
    if (o.ble) say("advertised on ", o.ble);
    else say("listening on RFCOMM channel ", text);
    uint32_t end = osClockMs() + (uint32_t)o.seconds * 1000u;
    while (!d.quit && (int32_t)(osClockMs() - end) < 0) {
        readControl(&d);
        if (o.ble) waitForControl(&d);
        else if (d.peer < 0) accept(&d);
        else if (const char *why = relay(&d)) endConnection(&d, why);
    }
    if (d.peer >= 0) endConnection(&d, "the device stops");
    if (d.listener >= 0) close(d.listener);
    if (o.ble) ftsim::peripheralStop();
    say(d.quit ? "quit" : "the run's time is over");
    return 0;
}
