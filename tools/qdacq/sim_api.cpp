// sim_api.cpp - loading the simulator library and injecting faults through it.
#include "tools/qdacq/sim_api.h"

#include "QuorvaneDrv.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/host.h"

namespace {

// The simulator's control functions this program uses.
const host::Symbol kSimExports[] = {
    {"ftsimReset", offsetof(SimExports, Reset)},
    {"ftsimAdd", offsetof(SimExports, Add)},
    {"ftsimAttachNewDeviceEx", offsetof(SimExports, AttachNewDeviceEx)},
    {"ftsimUnplug", offsetof(SimExports, Unplug)},
    {"ftsimReplug", offsetof(SimExports, Replug)},
    {"ftsimGetState", offsetof(SimExports, GetState)},
    {"ftsimCallCount", offsetof(SimExports, CallCount)},
    {"ftsimResetCallCounts", offsetof(SimExports, ResetCallCounts)},
    {"ftsimSignalValue", offsetof(SimExports, SignalValue)},
    {"ftsimDeviceSetFault", offsetof(SimExports, DeviceSetFault)},
    {"ftsimDeviceClearFaults", offsetof(SimExports, DeviceClearFaults)},
    {"ftsimDeviceDropData", offsetof(SimExports, DeviceDropData)},
    {"ftsimDeviceSilence", offsetof(SimExports, DeviceSilence)},
    {"ftsimDeviceSetLinkUp", offsetof(SimExports, DeviceSetLinkUp)},
    {"ftsimDeviceInjectBytes", offsetof(SimExports, DeviceInjectBytes)},
    {"ftsimDeviceSendEvent", offsetof(SimExports, DeviceSendEvent)},
    {"ftsimDeviceSetSignalState", offsetof(SimExports, DeviceSetSignalState)},
    {"ftsimDeviceButton", offsetof(SimExports, DeviceButton)},
    {"ftsimDeviceRecordSamples", offsetof(SimExports, DeviceRecordSamples)},
    {"ftsimDeviceRecordCount", offsetof(SimExports, DeviceRecordCount)},
    {"ftsimDeviceState", offsetof(SimExports, DeviceState)},
    {"ftsimDevicePowerCycle", offsetof(SimExports, DevicePowerCycle)},
    {"ftsimAddBle", offsetof(SimExports, AddBle)},
    {"ftsimBleGetState", offsetof(SimExports, BleGetState)},
    {"ftsimBleSetFaults", offsetof(SimExports, BleSetFaults)},
    {"ftsimBleSendFlow", offsetof(SimExports, BleSendFlow)},
    {"ftsimBluezStart", offsetof(SimExports, BluezStart)},
    {"ftsimBluezStop", offsetof(SimExports, BluezStop)},
    {"ftsimAddBluetooth", offsetof(SimExports, AddBluetooth)},
    {"ftsimAddIrda", offsetof(SimExports, AddIrda)},
    {"ftsimDropConnection", offsetof(SimExports, DropConnection)},
    {"ftsimOpenSockets", offsetof(SimExports, OpenSockets)},
};
const size_t kSimExportCount = sizeof kSimExports / sizeof kSimExports[0];
static_assert(sizeof(SimExports) == kSimExportCount * sizeof(void *), "every member of SimExports has a name");

}  // namespace

// The simulator stands in for the driver's D2XX library, so it has its file
// name (the build names it in QD_D2XX_FILE).
const char *simFileName() { return QD_D2XX_FILE; }

// The simulator of this build (<build>/sim/ seen from <build>/tools/), else
// that of an installation (QD_SIM_INSTALL_DIR below the prefix, seen from
// its bin/).
std::string simDefaultPath() {
    char sep = host::separator();
    std::string built = host::programDir() + ".." + sep + "sim" + sep + simFileName();
    std::string installed = host::programDir() + ".." + sep + QD_SIM_INSTALL_DIR + sep + simFileName();
    return !host::fileExists(built) && host::fileExists(installed) ? installed : built;
}

bool simLoad(SimApi *api, const std::string &path, std::string *why) {
    std::string file = host::localPath(path.empty() ? simDefaultPath() : path);
    if (!host::fileExists(file)) {
        *why = "the simulator library " + file + " does not exist (it is built as " + simFileName() +
               " in the sim folder of the build; name another with --sim-library PATH).";
        return false;
    }
    OsLoadFailure failure;
    api->library = osLibraryLoad(file.c_str(), true, &failure);
    if (!api->library) {
        *why = "cannot load the simulator library " + file + ": " + failure.text + ".";
        return false;
    }
    api->path = file;
    std::vector<const char *> missing;
    SimExports *exports = api;
    if (!host::bindSymbols(api->library, exports, kSimExports, kSimExportCount, &missing)) {
        *why = "the library " + file + " is not the device simulator: it lacks " + host::joinNames(missing) + ".";
        simUnload(api);
        return false;
    }
    return true;
}

void simUnload(SimApi *api) {
    osLibraryUnload(api->bleLibrary);
    api->bleLibrary = nullptr;
    osLibraryUnload(api->library);
    api->library = nullptr;
}

bool simLoadBle(SimApi *api, std::string *why) {
    if (api->bleLibrary) return true;
    std::string file = api->path;
    size_t cut = file.find_last_of("/\\");
    file = (cut == std::string::npos ? std::string() : file.substr(0, cut + 1)) + QD_BLE_STANDIN_FILE;
    OsLoadFailure failure;
    api->bleLibrary = osLibraryLoad(file.c_str(), true, &failure);
    if (!api->bleLibrary) {
        *why = "cannot load the simulator's Bluetooth LE stand-in " + file + ": " + failure.text + ".";
        return false;
    }
    api->blePath = file;
    return true;
}

namespace {

// The address text "00:80:98:51:57:11" as the 12 hex digits the simulator
// takes for a Bluetooth LE device.
std::string bareAddress(const char *address) {
    std::string hex;
    for (const char *p = address; *p; ++p) {
        if (*p != ':') hex += *p;
    }
    return hex;
}

// "00:80:98:51:57:11": a Bluetooth address, not a device name.
bool isAddress(const char *id) {
    if (std::strlen(id) != 17) return false;
    for (int i = 2; i < 17; i += 3) {
        if (id[i] != ':') return false;
    }
    return true;
}

int placeUsb(const SimApi &api, const char *id, const char *) {
    // An 8-character serial number: the driver reopens the transceiver by it.
    return api.Add(id ? id : FTSIM_ENV_SERIAL, nullptr);
}
int placeBluetooth(const SimApi &api, const char *id, const char *name) {
    if (id && !isAddress(id)) return api.AddBluetooth(SIM_BT_ADDRESS, id);
    return api.AddBluetooth(id ? id : SIM_BT_ADDRESS, name ? name : SIM_BT_NAME);
}
int placeBle(const SimApi &api, const char *id, const char *name) {
    if (id && !isAddress(id)) return api.AddBle(id, nullptr);
    return api.AddBle(name ? name : SIM_BT_NAME, id ? bareAddress(id).c_str() : nullptr);
}
int placeIrda(const SimApi &api, const char *, const char *) { return api.AddIrda("Quorvane Brev"); }

// Where the simulator puts a device of each link kind.
struct SimPlacement {
    int linkType;
    bool bleStandIn;   // the driver's link reaches it through the Bluetooth LE stand-in
    bool d2xx;         // the driver's link reaches it through D2XX calls, which the simulator counts
    int (*place)(const SimApi &api, const char *id, const char *name);
};
const SimPlacement kSimPlacements[] = {
    {QD_LINK_IRDA, false, false, placeIrda},
    {QD_LINK_BT, false, false, placeBluetooth},
    {QD_LINK_USB, false, true, placeUsb},
    {QD_LINK_BLE, true, false, placeBle},
};

const SimPlacement *placementOf(int linkType) {
    for (const SimPlacement &p : kSimPlacements) {
        if (p.linkType == linkType) return &p;
    }
    return nullptr;
}

}  // namespace

int simAddPort(const SimApi &api, int linkType, const char *id, const char *name) {
    const SimPlacement *p = placementOf(linkType);
    return p ? p->place(api, id, name) : -1;
}

bool simNeedsBleStandIn(int linkType) {
    const SimPlacement *p = placementOf(linkType);
    return p && p->bleStandIn;
}

bool simCountsLinkCalls(int linkType) {
    const SimPlacement *p = placementOf(linkType);
    return p && p->d2xx;
}

int simCommandCode(const std::string &name) {
    static const struct {
        const char *name;
        int code;
    } names[] = {
        {"info", 0x00},  {"firmware", 0x01}, {"state", 0x03},      {"notif", 0x04},     {"config", 0x07},
        {"start", 0x08}, {"stop", 0x0A},     {"test-start", 0x0B}, {"test-stop", 0x0C}, {"restart", 0x0D},
    };
    for (const auto &n : names) {
        if (name == n.name) return n.code;
    }
    char *end = nullptr;
    long v = std::strtol(name.c_str(), &end, 0);
    if (!name.empty() && *end == '\0' && v >= 0 && v < 0x40) return (int)v;
    return -1;
}

const char *simFaultHelp() {
    return "  lost-reply[=CMD]     the device never answers command CMD once (info, config, notif, start,\n"
           "                       stop, test-start, test-stop or a code; default stop)\n"
           "  link-loss@S[+MS]     at second S the device's radio link is down for MS ms (default 500),\n"
           "                       then the device reports the link failure and the driver reconnects;\n"
           "                       a Bluetooth or IrDA device's connection breaks at once instead\n"
           "  unplug@S[+MS]        at second S the transceiver is pulled out, plugged in again after MS ms\n"
           "  phase-gap@S[xN]      at second S, N data messages (default 1) are lost\n"
           "  silence@S[+MS]       at second S the device sends no data for MS ms (default 2500)\n"
           "  garbage@S[xN]        at second S, N bytes of noise (default 16) reach the driver\n"
           "  event@S=CODE[,DATA]  at second S a device event (0x40 battery, 0x60 link error,\n"
           "                       0x61 link failure, 0x80 hardware problem)\n"
           "  battery@S=STATE      at second S the device reports battery state STATE (0..3)\n"
           "  signal@S=CH:STATE    from second S the signal state of channel CH (0.., or sum) is STATE (0..3)\n"
           "  button@S             at second S the device's button is pressed (a Brev pauses or resumes)\n";
}

// Reads an unsigned number at *p (decimal, or hex with 0x); advances *p.
static bool number(const char **p, double *out) {
    char *end = nullptr;
    double v;
    if ((*p)[0] == '0' && ((*p)[1] == 'x' || (*p)[1] == 'X')) {
        v = (double)std::strtoul(*p, &end, 16);
    } else {
        v = std::strtod(*p, &end);
    }
    // NaN fails the comparison; the bound keeps every use within 32 bits.
    if (end == *p || !(v >= 0 && v <= 4e9)) return false;
    *out = v;
    *p = end;
    return true;
}

// Device events the faults send (the simulator's codes).
const int kEventBattery = 0x40;
const int kEventLinkFailure = 0x61;

// The kind of a fault by its name; false when there is none.
static bool faultKind(const std::string &name, SimFault::Kind *kind) {
    static const struct {
        const char *name;
        SimFault::Kind kind;
    } kinds[] = {
        {"lost-reply", SimFault::LOST_REPLY}, {"link-loss", SimFault::LINK_LOSS}, {"unplug", SimFault::UNPLUG},
        {"phase-gap", SimFault::PHASE_GAP},   {"silence", SimFault::SILENCE},     {"garbage", SimFault::GARBAGE},
        {"event", SimFault::EVENT},           {"battery", SimFault::BATTERY},     {"signal", SimFault::SIGNAL},
        {"button", SimFault::BUTTON},
    };
    for (const auto &k : kinds) {
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

// "[=COMMAND]" after lost-reply (default stop).
static bool parseLostReply(const char *p, SimFault *f, std::string *why) {
    std::string command = *p == '=' ? std::string(p + 1) : std::string("stop");
    f->code = simCommandCode(command);
    if (*p != '\0' && *p != '=') f->code = -1;
    if (f->code < 0) {
        *why = "lost-reply needs a command: info, firmware, state, notif, config, start, stop, test-start, "
               "test-stop, restart or a code below 0x40";
        return false;
    }
    return true;
}

// "[+MS]": the duration of a link loss (default 500), an unplugging (0:
// for good) or a silence (2500).
static bool parseDuration(const char *p, SimFault *f) {
    f->ms = f->kind == SimFault::SILENCE ? 2500 : f->kind == SimFault::LINK_LOSS ? 500 : 0;
    double v = 0;
    if (*p == '+') {
        ++p;
        if (!number(&p, &v)) return false;
        f->ms = (uint32_t)v;
    }
    return *p == '\0';
}

// "[xN]": data messages lost (default 1) or bytes of noise (16).
static bool parseCount(const char *p, SimFault *f) {
    f->count = f->kind == SimFault::PHASE_GAP ? 1 : 16;
    double v = 0;
    if (*p == 'x') {
        ++p;
        if (!number(&p, &v) || v < 1) return false;
        f->count = (uint32_t)v;
    }
    return *p == '\0';
}

// "=CODE[,DATA]" of an event, "=STATE" of a battery report.
static bool parseEvent(const char *p, SimFault *f) {
    double v = 0;
    if (*p++ != '=' || !number(&p, &v) || v > 255) return false;
    if (f->kind == SimFault::BATTERY) {
        f->data = (int)v;
        return *p == '\0';
    }
    f->code = (int)v;
    if (*p == ',') {
        ++p;
        if (!number(&p, &v) || v > 255) return false;
        f->data = (int)v;
    }
    return *p == '\0';
}

// "=CHANNEL:STATE" with CHANNEL 0..5 or sum.
static bool parseSignal(const char *p, SimFault *f) {
    double v = 0;
    if (*p++ != '=') return false;
    if (std::strncmp(p, "sum", 3) == 0) {
        f->channel = -1;
        p += 3;
    } else {
        if (!number(&p, &v) || v > 5) return false;
        f->channel = (int)v;
    }
    if (*p++ != ':' || !number(&p, &v) || v > 3) return false;
    f->data = (int)v;
    return *p == '\0';
}

// What follows "@S" of a timed fault.
static bool parseTimedFault(const char *p, SimFault *f) {
    switch (f->kind) {
    case SimFault::LINK_LOSS:
    case SimFault::UNPLUG:
    case SimFault::SILENCE: return parseDuration(p, f);
    case SimFault::PHASE_GAP:
    case SimFault::GARBAGE: return parseCount(p, f);
    case SimFault::EVENT:
    case SimFault::BATTERY: return parseEvent(p, f);
    case SimFault::SIGNAL: return parseSignal(p, f);
    case SimFault::BUTTON: return *p == '\0';
    default: return false;
    }
}

bool simFaultParse(const std::string &text, SimFault *f, std::string *why) {
    *f = SimFault{};
    f->text = text;
    size_t nameEnd = text.find_first_of("@=");
    std::string name = text.substr(0, nameEnd);
    if (!faultKind(name, &f->kind)) {
        *why = "unknown fault \"" + name + "\"; the faults are:\n" + simFaultHelp();
        return false;
    }
    const char *p = text.c_str() + name.size();
    if (f->kind == SimFault::LOST_REPLY) return parseLostReply(p, f, why);
    if (*p != '@' || !number(&(++p), &f->at)) {
        *why = "the fault \"" + text + "\" needs the second at which it happens, e.g. " + name + "@2";
        return false;
    }
    if (parseTimedFault(p, f)) return true;
    *why = "cannot read the fault \"" + text + "\"; the faults are:\n" + simFaultHelp();
    return false;
}

void simFaultsArm(const SimApi &api, int tx, std::vector<SimFault> *faults, void (*say)(const std::string &)) {
    for (SimFault &f : *faults) {
        if (f.kind != SimFault::LOST_REPLY || f.stage != 0) continue;
        f.stage = 2;
        char line[128];
        if (api.DeviceSetFault(tx, f.code, 1, 0, 1) == 0) {
            std::snprintf(line, sizeof line, "simulator: the reply to command 0x%02x will be lost", f.code);
        } else {
            std::snprintf(line, sizeof line, "simulator: cannot arm a lost reply for command 0x%02x", f.code);
        }
        say(line);
    }
}

typedef void (*SayFn)(const std::string &line);

// A fault with a beginning and an end: the radio link down, then back with
// the device's report of the failure.
static void runLinkLoss(const SimApi &api, int tx, SimFault &f, double t, SayFn say) {
    char line[160];
    // A device on a socket link (Bluetooth, IrDA): its connection breaks
    // and the driver reopens it.
    if (f.stage == 0 && api.DropConnection(tx) == 0) {
        std::snprintf(line, sizeof line, "simulator: the connection to the device breaks at %.1f s", t);
        say(line);
        f.stage = 2;
        return;
    }
    if (f.stage == 0) {
        api.DeviceSetLinkUp(tx, 0);
        std::snprintf(line, sizeof line, "simulator: radio link down at %.1f s for %u ms", t, (unsigned)f.ms);
        say(line);
        f.stage = 1;
    } else if (t >= f.at + f.ms / 1000.0) {
        api.DeviceSetLinkUp(tx, 1);
        api.DeviceSendEvent(tx, kEventLinkFailure, -1);
        say("simulator: radio link back; the device reports the link failure (event 0x61)");
        f.stage = 2;
    }
}

// The transceiver pulled out, and plugged in again when the fault has a
// duration.
static void runUnplug(const SimApi &api, int tx, SimFault &f, double t, SayFn say) {
    char line[160];
    if (f.stage == 0) {
        api.Unplug(tx);
        std::snprintf(line, sizeof line, "simulator: transceiver unplugged at %.1f s", t);
        say(line);
        f.stage = f.ms > 0 ? 1 : 2;
    } else if (t >= f.at + f.ms / 1000.0) {
        api.Replug(tx);
        say("simulator: transceiver plugged in again");
        f.stage = 2;
    }
}

// N bytes of a fixed noise pattern, so that runs can be compared.
static std::vector<uint8_t> noise(uint32_t count) {
    std::vector<uint8_t> bytes(count);
    uint32_t x = 0x2545F491u;
    for (uint8_t &b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = (uint8_t)x;
    }
    return bytes;
}

// Does what a fault that acts once does; line receives what was done.
static void runOnce(const SimApi &api, int tx, const SimFault &f, double t, char *line, size_t size) {
    switch (f.kind) {
    case SimFault::PHASE_GAP:
        api.DeviceDropData(tx, f.count);
        std::snprintf(line, size, "simulator: %u data message(s) lost at %.1f s", (unsigned)f.count, t);
        break;
    case SimFault::SILENCE:
        api.DeviceSilence(tx, f.ms);
        std::snprintf(line, size, "simulator: no data for %u ms from %.1f s", (unsigned)f.ms, t);
        break;
    case SimFault::GARBAGE: {
        std::vector<uint8_t> bytes = noise(f.count);
        api.DeviceInjectBytes(tx, bytes.data(), bytes.size());
        std::snprintf(line, size, "simulator: %u bytes of noise at %.1f s", (unsigned)f.count, t);
        break;
    }
    case SimFault::EVENT:
        api.DeviceSendEvent(tx, f.code, f.data);
        std::snprintf(line, size, "simulator: device event 0x%02x at %.1f s", f.code, t);
        break;
    case SimFault::BATTERY:
        api.DeviceSendEvent(tx, kEventBattery, f.data);
        std::snprintf(line, size, "simulator: battery state %d at %.1f s", f.data, t);
        break;
    case SimFault::SIGNAL:
        api.DeviceSetSignalState(tx, f.channel, f.data);
        if (f.channel < 0) {
            std::snprintf(line, size, "simulator: SUM signal state %d at %.1f s", f.data, t);
        } else {
            std::snprintf(line, size, "simulator: channel %d signal state %d at %.1f s", f.channel, f.data, t);
        }
        break;
    case SimFault::BUTTON:
        std::snprintf(line, size, "simulator: button pressed at %.1f s%s", t,
                      api.DeviceButton(tx) == 0 ? "" : " (the device has none, or does not measure)");
        break;
    default:
        line[0] = '\0';
        break;
    }
}

void simFaultsRun(const SimApi &api, int tx, std::vector<SimFault> *faults, double t, SayFn say) {
    for (SimFault &f : *faults) {
        if (f.stage == 2 || t < f.at || f.kind == SimFault::LOST_REPLY) continue;
        if (f.kind == SimFault::LINK_LOSS) {
            runLinkLoss(api, tx, f, t, say);
        } else if (f.kind == SimFault::UNPLUG) {
            runUnplug(api, tx, f, t, say);
        } else {
            char line[160];
            runOnce(api, tx, f, t, line, sizeof line);
            say(line);
            f.stage = 2;
        }
    }
}
