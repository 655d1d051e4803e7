// sim_api.cpp - loading the simulator library and injecting faults through it.
#include "tools/qdacq/sim_api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *simFileName() {
#ifdef _WIN32
    return "FTD2XX.dll";
#else
    return "libqvftd2xx.so";
#endif
}

std::string simDefaultPath() {
    char sep = host::separator();
    return host::programDir() + ".." + sep + "sim" + sep + simFileName();
}

template <typename T>
static void bind(host::Library lib, const char *name, T *slot, std::string *missing) {
    *slot = reinterpret_cast<T>(host::symbol(lib, name));
    if (*slot == nullptr) {
        if (!missing->empty()) *missing += ", ";
        *missing += name;
    }
}

bool simLoad(SimApi *api, const std::string &path, std::string *why) {
    std::string file = host::localPath(path.empty() ? simDefaultPath() : path);
    if (!host::fileExists(file)) {
        *why = "the simulator library " + file + " does not exist (it is built as " + simFileName() +
               " in the sim folder of the build; name another with --sim-library PATH).";
        return false;
    }
    std::string error;
    api->library = host::load(file, true, &error);
    if (!api->library) {
        *why = "cannot load the simulator library " + file + ": " + error + ".";
        return false;
    }
    api->path = file;
    std::string missing;
    host::Library l = api->library;
    bind(l, "ftsimReset", &api->Reset, &missing);
    bind(l, "ftsimAdd", &api->Add, &missing);
    bind(l, "ftsimAttachNewDeviceEx", &api->AttachNewDeviceEx, &missing);
    bind(l, "ftsimUnplug", &api->Unplug, &missing);
    bind(l, "ftsimReplug", &api->Replug, &missing);
    bind(l, "ftsimGetState", &api->GetState, &missing);
    bind(l, "ftsimCallCount", &api->CallCount, &missing);
    bind(l, "ftsimResetCallCounts", &api->ResetCallCounts, &missing);
    bind(l, "ftsimSignalValue", &api->SignalValue, &missing);
    bind(l, "ftsimDeviceSetFault", &api->DeviceSetFault, &missing);
    bind(l, "ftsimDeviceClearFaults", &api->DeviceClearFaults, &missing);
    bind(l, "ftsimDeviceDropData", &api->DeviceDropData, &missing);
    bind(l, "ftsimDeviceSilence", &api->DeviceSilence, &missing);
    bind(l, "ftsimDeviceSetLinkUp", &api->DeviceSetLinkUp, &missing);
    bind(l, "ftsimDeviceInjectBytes", &api->DeviceInjectBytes, &missing);
    bind(l, "ftsimDeviceSendEvent", &api->DeviceSendEvent, &missing);
    bind(l, "ftsimDeviceSetSignalState", &api->DeviceSetSignalState, &missing);
    bind(l, "ftsimDeviceRecordSamples", &api->DeviceRecordSamples, &missing);
    bind(l, "ftsimDeviceRecordCount", &api->DeviceRecordCount, &missing);
    bind(l, "ftsimDeviceState", &api->DeviceState, &missing);
    if (!missing.empty()) {
        *why = "the library " + file + " is not the device simulator: it lacks " + missing + ".";
        simUnload(api);
        return false;
    }
    return true;
}

void simUnload(SimApi *api) {
    if (api->library) host::unload(api->library);
    api->library = nullptr;
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
           "                       then the device reports the link failure and the driver reconnects\n"
           "  unplug@S[+MS]        at second S the transceiver is pulled out, plugged in again after MS ms\n"
           "  phase-gap@S[xN]      at second S, N data messages (default 1) are lost\n"
           "  silence@S[+MS]       at second S the device sends no data for MS ms (default 2500)\n"
           "  garbage@S[xN]        at second S, N bytes of noise (default 16) reach the driver\n"
           "  event@S=CODE[,DATA]  at second S a device event (0x40 battery, 0x60 link error,\n"
           "                       0x61 link failure, 0x80 hardware problem)\n"
           "  battery@S=STATE      at second S the device reports battery state STATE (0..3)\n"
           "  signal@S=CH:STATE    from second S the signal state of channel CH (0.., or sum) is STATE (0..3)\n";
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
    if (end == *p || v < 0) return false;
    *out = v;
    *p = end;
    return true;
}

bool simFaultParse(const std::string &text, SimFault *f, std::string *why) {
    static const struct {
        const char *name;
        SimFault::Kind kind;
    } kinds[] = {
        {"lost-reply", SimFault::LOST_REPLY}, {"link-loss", SimFault::LINK_LOSS}, {"unplug", SimFault::UNPLUG},
        {"phase-gap", SimFault::PHASE_GAP},   {"silence", SimFault::SILENCE},     {"garbage", SimFault::GARBAGE},
        {"event", SimFault::EVENT},           {"battery", SimFault::BATTERY},     {"signal", SimFault::SIGNAL},
    };
    *f = SimFault{};
    f->text = text;
    size_t nameEnd = text.find_first_of("@=");
    std::string name = text.substr(0, nameEnd);
    bool known = false;
    for (const auto &k : kinds) {
        if (name == k.name) {
            f->kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        *why = "unknown fault \"" + name + "\"; the faults are:\n" + simFaultHelp();
        return false;
    }
    const char *p = text.c_str() + name.size();
    if (f->kind == SimFault::LOST_REPLY) {
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
    if (*p != '@' || !number(&(++p), &f->at)) {
        *why = "the fault \"" + text + "\" needs the second at which it happens, e.g. " + name + "@2";
        return false;
    }
    double v = 0;
    switch (f->kind) {
    case SimFault::LINK_LOSS:
    case SimFault::UNPLUG:
    case SimFault::SILENCE:
        f->ms = f->kind == SimFault::SILENCE ? 2500 : f->kind == SimFault::LINK_LOSS ? 500 : 0;
        if (*p == '+') {
            ++p;
            if (!number(&p, &v)) break;
            f->ms = (uint32_t)v;
        }
        if (*p == '\0') return true;
        break;
    case SimFault::PHASE_GAP:
    case SimFault::GARBAGE:
        f->count = f->kind == SimFault::PHASE_GAP ? 1 : 16;
        if (*p == 'x') {
            ++p;
            if (!number(&p, &v) || v < 1) break;
            f->count = (uint32_t)v;
        }
        if (*p == '\0') return true;
        break;
    case SimFault::EVENT:
        if (*p++ != '=' || !number(&p, &v) || v > 255) break;
        f->code = (int)v;
        if (*p == ',') {
            ++p;
            if (!number(&p, &v) || v > 255) break;
            f->data = (int)v;
        }
        if (*p == '\0') return true;
        break;
    case SimFault::BATTERY:
        if (*p++ != '=' || !number(&p, &v) || v > 255) break;
        f->data = (int)v;
        if (*p == '\0') return true;
        break;
    case SimFault::SIGNAL:
        if (*p++ != '=') break;
        if (std::strncmp(p, "sum", 3) == 0) {
            f->channel = -1;
            p += 3;
        } else {
            if (!number(&p, &v) || v > 5) break;
            f->channel = (int)v;
        }
        if (*p++ != ':' || !number(&p, &v) || v > 3) break;
        f->data = (int)v;
        if (*p == '\0') return true;
        break;
    default:
        break;
    }
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

void simFaultsRun(const SimApi &api, int tx, std::vector<SimFault> *faults, double t,
                  void (*say)(const std::string &)) {
    char line[160];
    for (SimFault &f : *faults) {
        if (f.stage == 2 || t < f.at) continue;
        double end = f.at + f.ms / 1000.0;
        switch (f.kind) {
        case SimFault::LINK_LOSS:
            if (f.stage == 0) {
                api.DeviceSetLinkUp(tx, 0);
                std::snprintf(line, sizeof line, "simulator: radio link down at %.1f s for %u ms", t, (unsigned)f.ms);
                say(line);
                f.stage = 1;
            } else if (t >= end) {
                api.DeviceSetLinkUp(tx, 1);
                api.DeviceSendEvent(tx, 0x61, -1);
                say("simulator: radio link back; the device reports the link failure (event 0x61)");
                f.stage = 2;
            }
            break;
        case SimFault::UNPLUG:
            if (f.stage == 0) {
                api.Unplug(tx);
                std::snprintf(line, sizeof line, "simulator: transceiver unplugged at %.1f s", t);
                say(line);
                f.stage = f.ms > 0 ? 1 : 2;
            } else if (t >= end) {
                api.Replug(tx);
                say("simulator: transceiver plugged in again");
                f.stage = 2;
            }
            break;
        case SimFault::PHASE_GAP:
            api.DeviceDropData(tx, f.count);
            std::snprintf(line, sizeof line, "simulator: %u data message(s) lost at %.1f s", (unsigned)f.count, t);
            say(line);
            f.stage = 2;
            break;
        case SimFault::SILENCE:
            api.DeviceSilence(tx, f.ms);
            std::snprintf(line, sizeof line, "simulator: no data for %u ms from %.1f s", (unsigned)f.ms, t);
            say(line);
            f.stage = 2;
            break;
        case SimFault::GARBAGE: {
            // A fixed noise pattern, so that runs can be compared.
            std::vector<uint8_t> noise(f.count);
            uint32_t x = 0x2545F491u;
            for (uint8_t &b : noise) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                b = (uint8_t)x;
            }
            api.DeviceInjectBytes(tx, noise.data(), noise.size());
            std::snprintf(line, sizeof line, "simulator: %u bytes of noise at %.1f s", (unsigned)f.count, t);
            say(line);
            f.stage = 2;
            break;
        }
        case SimFault::EVENT:
            api.DeviceSendEvent(tx, f.code, f.data);
            std::snprintf(line, sizeof line, "simulator: device event 0x%02x at %.1f s", f.code, t);
            say(line);
            f.stage = 2;
            break;
        case SimFault::BATTERY:
            api.DeviceSendEvent(tx, 0x40, f.data);
            std::snprintf(line, sizeof line, "simulator: battery state %d at %.1f s", f.data, t);
            say(line);
            f.stage = 2;
            break;
        case SimFault::SIGNAL:
            api.DeviceSetSignalState(tx, f.channel, f.data);
            if (f.channel < 0) {
                std::snprintf(line, sizeof line, "simulator: SUM signal state %d at %.1f s", f.data, t);
            } else {
                std::snprintf(line, sizeof line, "simulator: channel %d signal state %d at %.1f s", f.channel, f.data,
                              t);
            }
            say(line);
            f.stage = 2;
            break;
        case SimFault::LOST_REPLY:
            break;
        }
    }
}
