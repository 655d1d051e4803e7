// e2e_host - end-to-end runs of the shipped driver library against the
// simulator library, driven the way a host application drives the driver.
//
//   e2e_host --sim SIM_LIBRARY --driver DRIVER_LIBRARY --out DIR SCENARIO
//   e2e_host --check-csv FILE --model NAME --rates R0,R1,... --range R
//
// Scenarios (each loads both libraries afresh, with the driver log in DIR):
//   heavy      a "Quorvane Halvex+ 4 USB" with its four analog channels at
//              2000 sps and the button channel at 250 sps for 10 seconds
//   ble        the same with a "Quorvane Halvex+ 4 BLE" through the
//              simulator's Bluetooth LE stand-in
//   bluez      the same through the stand-in BlueZ service on the bus of
//              DBUS_SYSTEM_BUS_ADDRESS (Linux; the driver is BlueZ's client)
//   multi      three devices of three models in three contexts at once,
//              with high-pass filtered channels
//   lostreply  the reply to the stop command is lost: the driver's reply
//              timer ends the measurement with its user message
//   linkloss   the device's radio link drops for 600 ms and the device
//              reports the failure: the driver reconnects and goes on
//   bluetooth  a "Quorvane Halvex-4 BT" found by its name over the
//              simulator's Bluetooth sockets, two channels for 3 seconds
//   brev       a "Quorvane Brev 100" on the simulator's IrDA sockets at
//              256 sps for 3 seconds
//
// Every sample the driver delivers is checked against the simulator's own
// record of what it generated (value, tick and whether it was sent), scaled
// (a Brev sample is the device value times 2^20, a Halvex one times 2^16)
// and, where the channel has a high-pass filter, filtered by an
// implementation of the filter of this file. The run then stops the
// measurement, waits for the context to be idle, checks that the engine has
// nothing left to do and that the driver's engine thread has ended.
//
// DIR receives report.txt, and for the runs that are the same on every
// build, digest.txt (a digest of the sample stream up to a fixed tick) and
// log.txt (the driver log without timestamps, handles and paths); the
// compare test puts them side by side across builds.
//
// --check-csv reads a CSV file written by qdacq (phase, channel, value) of
// a simulated device with its default signals, unfiltered channels of the
// given rates (a channel at rate 0 is off) and one measurement range, and
// checks every value against the EDF mapping of the device value.
//
// Exit status: 0 all checks passed, 1 a check failed, 2 bad command line or
// the libraries could not be loaded.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "os/os.h"
#include "tools/common/driver_binding.h"
#include "tools/common/host.h"
#include "tools/qdacq/settings.h"
#include "tools/qdacq/sim_api.h"
#include "tools/qdacq/stream.h"

namespace {

// ---------------------------------------------------------------------------
// Checks and report
// ---------------------------------------------------------------------------

int g_failures = 0;
FILE *g_report = nullptr;

void note(const char *fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    printf("%s\n", text);
    fflush(stdout);
    if (g_report) fprintf(g_report, "%s\n", text);
}

bool check(bool ok, const char *fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    note("%s: %s", ok ? "ok" : "FAIL", text);
    if (!ok) ++g_failures;
    return ok;
}

// ---------------------------------------------------------------------------
// What the callbacks receive
// ---------------------------------------------------------------------------

struct Sample {
    uint32_t tick;      // device tick, counted from the start (unwrapped phase)
    int32_t value;
};

struct Capture {
    int channels = 0;
    bool started = false;
    uint32_t expected = 0;      // unwrapped tick the next packet must begin with
    uint64_t packets = 0, gaps = 0, lostTicks = 0;
    uint16_t masks[6] = {};
    std::vector<Sample> samples[6];
};

struct Event {
    double at;
    uint16_t context, type, value;
    std::string text;   // user messages
};

std::mutex g_lock;
Capture g_cap[QD_MAX_CONTEXTS];
std::vector<Event> g_events;
double g_start = 0;

int QDCALL onSamples(uint16_t context, uint16_t phase, uint16_t, ChannelSamples *blocks) {
    if (context >= QD_MAX_CONTEXTS || !blocks) return 0;
    std::lock_guard<std::mutex> guard(g_lock);
    Capture &c = g_cap[context];
    ++c.packets;
    uint16_t ticks = 0;
    for (int i = 0; i < c.channels; ++i) {
        if (blocks[i].samples && blocks[i].count > ticks) ticks = blocks[i].count;
    }
    if (ticks == 0) return 0;
    uint32_t gap = (uint16_t)(phase - (uint16_t)c.expected);
    if (gap != 0) {
        ++c.gaps;
        c.lostTicks += gap;
    }
    uint32_t first = c.expected + gap;
    for (int i = 0; i < c.channels; ++i) {
        const ChannelSamples &b = blocks[i];
        if (!b.samples) continue;
        c.masks[i] = b.rateMask;
        uint32_t period = (uint32_t)b.rateMask + 1;
        // The first tick of the packet at which this channel is due.
        uint32_t t = first + (period - (first + 1) % period) % period;
        for (uint16_t k = 0; k < b.count; ++k, t += period) c.samples[i].push_back(Sample{t, b.samples[k]});
    }
    c.expected = first + ticks;
    return 0;
}

void QDCALL onIndicator(uint16_t context, uint16_t type, uint16_t value) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_events.push_back(Event{host::seconds() - g_start, context, type, value, std::string()});
}

void QDCALL onMessage(uint16_t context, const char *text) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_events.push_back(Event{host::seconds() - g_start, context, 0xFFFF, 0, text ? text : ""});
}

size_t delivered(int context, int channel) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_cap[context].samples[channel].size();
}

std::vector<Event> events() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_events;
}

// The bound of every wait for something the driver or the device does: only
// a hang reaches it. A loaded machine, or the 32-bit test machine's full
// emulation, makes what takes milliseconds here take seconds, so no wait is
// sized to the event it waits for.
const double kHangSeconds = 60.0;

bool waitFor(const std::function<bool()> &done, double seconds = kHangSeconds) {
    double until = host::seconds() + seconds;
    while (host::seconds() < until) {
        if (done()) return true;
        host::sleepMs(5);
    }
    return done();
}

// ---------------------------------------------------------------------------
// The expected value of a sample
// ---------------------------------------------------------------------------

// The driver's high-pass filter of a voltage channel, as the device
// documentation gives it: w = 2^(11 - rate code) * F * 0.6 pi / 2000 with
// F = 0.5, 0.05, 0.01 for lower limit codes 0, 1, 2; a = 1 - w, b = 2w - 1;
// y = (x - x_prev) * a - b * y_prev on x = sample * 65536. The first sample
// primes it and passes; a saturated sample (32767, -32768) passes and leaves
// it untouched; the output is truncated toward zero.
struct HighPass {
    bool on = false;
    bool primed = false;
    double a = 0, b = 0, y = 0;
    double xPrev = 0;
    double scale = 65536.0;     // 1048576 for a Brev sample

    void setup(int rateCode, int lowerLimitCode) {
        static const double F[3] = {0.5, 0.05, 0.01};
        on = lowerLimitCode >= 0 && lowerLimitCode <= 2;
        if (!on) return;
        double w = std::pow(2.0, 11 - rateCode) * F[lowerLimitCode] * (0.6 * 3.14159265358979323846) / 2000.0;
        a = 1.0 - w;
        b = 2.0 * w - 1.0;
    }

    int32_t next(int16_t d) {
        double x = (double)d * scale;
        if (!on) return (int32_t)x;
        if (!primed) {
            primed = true;
            xPrev = x;
            return (int32_t)x;
        }
        if (d == 32767 || d == -32768) return (int32_t)x;
        y = (x - xPrev) * a - b * y;
        xPrev = x;
        if (y >= 2147483647.0) return 2147483647;
        if (y <= -2147483648.0) return INT32_MIN;
        return (int32_t)y;   // toward zero
    }
};

// ---------------------------------------------------------------------------
// The libraries and one simulated device per transceiver
// ---------------------------------------------------------------------------

struct Libraries {
    SimApi sim;
    DriverApi api;
    std::string logPath;
};
Libraries g_lib;

struct ChannelPlan {
    bool on = false;
    int rateCode = 0;           // 4 = 15.625 sps ... 11 = 2000 sps
    double hz = 0;              // the rate where it has no code (Brev), else 0
    int lowerLimit = 3;         // "Lower limit frequency" option code; 3 = 0 Hz, no filter
    bool voltage = true;        // channel function Voltage (the filter applies only to it)
    FtSimSignal signal = {0, 1000, 0, 1.0f};
    std::vector<std::string> settings;   // "Name=value" without channel
};

struct DevicePlan {
    std::string model;
    std::string serial;         // transceiver serial number, 8 characters; Bluetooth LE: the device name
    int link = QD_LINK_USB;     // where the simulated device sits
    int channels = 0;
    ChannelPlan ch[6];
    int tx = -1;
    int context = -1;
    std::vector<FtSimSample> record[6];
};

double rateHz(int code) { return 15.625 * std::pow(2.0, code - 4); }
double rateOf(const ChannelPlan &k) { return k.hz > 0 ? k.hz : rateHz(k.rateCode); }

std::string rateText(double hz) {
    char t[32];
    snprintf(t, sizeof t, "%g", hz);
    return t;
}

bool setting(int context, const std::string &text) {
    std::string why;
    bool ok = applySetting(g_lib.api, g_lib.logPath, text, &why);
    if (!ok) check(false, "context %d: --set \"%s\": %s", context, text.c_str(), why.c_str());
    return ok;
}

// The device's place (transceiver, Bluetooth or IrDA device), the device,
// the context and its parameters of one plan.
bool prepare(DevicePlan *p, double recordSeconds) {
    int tx = simAddPort(g_lib.sim, p->link, p->serial.c_str());
    FtSimSignal signals[6];
    for (int c = 0; c < 6; ++c) signals[c] = p->ch[c].signal;
    if (!check(tx >= 0 && g_lib.sim.AttachNewDeviceEx(tx, p->model.c_str(), nullptr, signals, 6) == tx,
               "simulated %s (link type %d, %s)", p->model.c_str(), p->link, p->serial.c_str())) {
        return false;
    }
    p->tx = tx;
    int16_t ctx = g_lib.api.OpenDevContext(p->model.c_str());
    if (!check(ctx >= 0, "context for %s", p->model.c_str())) return false;
    p->context = ctx;
    p->channels = contextChannels(g_lib.api);
    g_cap[ctx].channels = p->channels;
    // The mains frequency's default follows the user's country, which
    // differs between machines (and Wine): the host chooses it. The Brev
    // model (IrDA) has neither a device id nor a mains frequency, and its
    // one channel is always on.
    bool brev = p->link == QD_LINK_IRDA;
    bool ok = brev || (setting(ctx, "Device id=" + p->serial) && setting(ctx, "Mains power frequency=50"));
    for (int c = 0; c < p->channels; ++c) {
        const ChannelPlan &k = p->ch[c];
        std::string at = ":" + std::to_string(c) + "=";
        if (!brev) ok = ok && setting(ctx, "Channel enable" + at + (k.on ? "1" : "0"));
        if (!k.on) continue;
        for (const std::string &s : k.settings) {
            size_t eq = s.find('=');
            ok = ok && setting(ctx, s.substr(0, eq) + ":" + std::to_string(c) + s.substr(eq));
        }
        ok = ok && setting(ctx, "Sample rate" + at + rateText(rateOf(k)));
        // Room for a run held up until the hang bound, too.
        size_t capacity = (size_t)(rateOf(k) * (recordSeconds + kHangSeconds)) + 64;
        p->record[c].assign(capacity, FtSimSample{});
        g_lib.sim.DeviceRecordSamples(tx, c, p->record[c].data(), (uint32_t)capacity);
    }
    return ok;
}

// Checks every delivered sample of every channel of a plan against the
// device's record. lossless: nothing may be missing before the end.
void verify(DevicePlan *p, bool lossless) {
    const Capture &cap = g_cap[p->context];
    for (int c = 0; c < p->channels; ++c) {
        const ChannelPlan &k = p->ch[c];
        if (!k.on) continue;
        const std::vector<Sample> &got = cap.samples[c];
        int32_t generated = g_lib.sim.DeviceRecordCount(p->tx, c);
        const std::vector<FtSimSample> &rec = p->record[c];
        check(generated > 0 && (size_t)generated <= rec.size(), "(%d) %c: the device generated %d samples",
              p->context, 'A' + c, (int)generated);
        if (generated <= 0 || (size_t)generated > rec.size()) continue;

        HighPass filter;
        if (k.voltage && p->model.find("Halvex") != std::string::npos) filter.setup(k.rateCode, k.lowerLimit);
        if (p->link == QD_LINK_IRDA) filter.scale = 1048576.0;
        uint32_t period = (uint32_t)cap.masks[c] + 1;
        size_t bad = 0, notSent = 0, unknown = 0;
        size_t prefixBreak = got.size();
        double rate = rateOf(k);
        size_t signalMismatch = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            uint32_t n = (got[i].tick + 1) / period - 1;
            if ((got[i].tick + 1) % period != 0 || n >= (uint32_t)generated || rec[n].tick != got[i].tick) {
                ++unknown;
                continue;
            }
            if (rec[n].fate != 0) ++notSent;
            if (n != i && prefixBreak == got.size()) prefixBreak = i;
            if (g_lib.sim.SignalValue(&k.signal, rec[n].index, rate) != rec[n].value) ++signalMismatch;
            int32_t want = filter.next(rec[n].value);
            if (want != got[i].value) {
                if (bad < 3) {
                    note("  (%d) %c sample %u (tick %u): got %d, expected %d (device value %d)", p->context, 'A' + c,
                         (unsigned)i, (unsigned)got[i].tick, got[i].value, want, rec[n].value);
                }
                ++bad;
            }
        }
        check(!got.empty() && bad == 0 && unknown == 0 && signalMismatch == 0,
              "(%d) %c: %zu samples at %g sps equal the device's values%s (%zu differ, %zu not generated)",
              p->context, 'A' + c, got.size(), rate, filter.on ? " after the high-pass filter" : "", bad, unknown);
        check(notSent == 0, "(%d) %c: no delivered sample was one the device did not send (%zu)", p->context, 'A' + c,
              notSent);
        size_t sent = 0;
        for (int32_t n = 0; n < generated; ++n) sent += rec[n].fate == 0;
        if (lossless) {
            // The device sends its last, partly filled message before its
            // stop reply; the driver is stopping by then and drops it, with
            // every whole message still unread when the stop went out. How
            // many those are depends on how far the engine thread had come
            // (a loaded machine leaves hundreds of samples), so the tail is
            // a figure: what the check holds is that nothing before it is
            // missing.
            check(prefixBreak == got.size() && sent >= got.size(),
                  "(%d) %c: the stream has no hole: delivered %zu of the %zu sent (%zu dropped at the stop)",
                  p->context, 'A' + c, got.size(), sent, sent - std::min(sent, got.size()));
        }
    }
    if (lossless) {
        check(cap.gaps == 0, "(%d) no phase loss (%llu gaps, %llu ticks)", p->context, (unsigned long long)cap.gaps,
              (unsigned long long)cap.lostTicks);
    }
}

// FNV-1a over (context, channel, tick, value) of every sample below a tick.
struct Digest {
    uint64_t h = 1469598103934665603ull;
    void add(uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h ^= (v >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
};

std::string digestText(const DevicePlan &p, uint32_t belowTick) {
    std::string text;
    Digest all;
    const Capture &cap = g_cap[p.context];
    char line[160];
    for (int c = 0; c < p.channels; ++c) {
        if (!p.ch[c].on) continue;
        Digest d;
        size_t n = 0;
        for (const Sample &s : cap.samples[c]) {
            if (s.tick >= belowTick) break;
            d.add((uint32_t)c);
            d.add(s.tick);
            d.add((uint32_t)s.value);
            all.add((uint32_t)c);
            all.add(s.tick);
            all.add((uint32_t)s.value);
            ++n;
        }
        snprintf(line, sizeof line, "%s channel %d: %zu samples below tick %u, digest %016llx\n", p.model.c_str(), c,
                 n, (unsigned)belowTick, (unsigned long long)d.h);
        text += line;
    }
    snprintf(line, sizeof line, "%s all channels: digest %016llx\n", p.model.c_str(), (unsigned long long)all.h);
    return text + line;
}

// ---------------------------------------------------------------------------
// The driver log, normalised for comparison across builds
// ---------------------------------------------------------------------------

// Drops what differs between runs and builds: timestamp lines, the host
// path, link handles, the lines that tell where the Bluetooth LE functions
// come from, and the bytes a Bluetooth LE link still held when it closed.
// The exits of QdStartMeasurement and QdStopMeasurement are written on the
// host's thread while the engine thread may be writing, and the engine's
// result changes land wherever the device's bytes happened to be at a step
// (a Bluetooth LE device's come from a thread of their own): both are taken
// out where they stand and listed at the end.
std::string normaliseLog(const std::string &raw) {
    std::string text;
    for (char ch : raw) {
        if (ch != '\r') text += ch;
    }
    std::vector<std::string> hostExits;
    const char *marks[] = {"}QdStartMeasurement: ", "}QdStopMeasurement: "};
    for (const char *mark : marks) {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark)) {
            size_t begin = at > 0 && text[at - 1] == '!' ? at - 1 : at;
            size_t end = at + strlen(mark);
            if (end < text.size() && text[end] == '-') ++end;
            while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
            hostExits.push_back(text.substr(begin, end - begin));
            text.erase(begin, end - begin);
        }
    }
    std::string out, engineResults;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.empty() || line.compare(0, 2, "@ ") == 0) continue;
        if (line.compare(0, 19, "{QdProtocolEngine()") == 0) {
            engineResults += " " + line;
            continue;
        }
        if (line == "!Cannot load library BluetoothAPIs.dll" ||
            line == "!Cannot find required BLE function in BluetoothAPIs.dll library" ||
            line.compare(0, 46, "#BLE functions and device list of the stand-in") == 0 ||
            line.compare(0, 18, "CloseBle warning: ") == 0) {
            continue;
        }
        if (line.compare(0, 11, "Loaded by: ") == 0) line = "Loaded by: <host>";
        const char *handles[] = {"socket/handle: "};
        for (const char *h : handles) {
            size_t at = line.find(h);
            if (at != std::string::npos) line = line.substr(0, at + strlen(h)) + "<handle>";
        }
        out += line + "\n";
    }
    out += "engine results:" + engineResults + "\n";
    out += "host thread exits:";
    for (const std::string &e : hostExits) out += " " + e;
    return out + "\n";
}

// Written under a temporary name and then put in place in one step: the
// other builds' comparisons, which may run while this one does (the 32-bit
// suite runs beside the 64-bit one), see the whole file or none.
bool writeFile(const std::string &path, const std::string &text) {
    std::string partial = path + ".part";
    FILE *f = fopen(partial.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = fclose(f) == 0 && ok;
    return ok && osFileReplace(partial.c_str(), path.c_str());
}

// ---------------------------------------------------------------------------
// Measurement steps shared by the scenarios
// ---------------------------------------------------------------------------

int g_baselineThreads = -1;

// The devices of the running scenario. They live until the program ends:
// the simulator writes its sample records into them.
std::vector<DevicePlan> g_plans;

bool startAll(std::vector<DevicePlan> &plans) {
    g_baselineThreads = osProcessThreadCount();
    g_start = host::seconds();
    bool ok = true;
    for (DevicePlan &p : plans) {
        int32_t r = g_lib.api.StartMeasurement((uint16_t)p.context, QD_START_ENGINE_THREAD);
        ok = check(r == QD_MEAS_STARTED, "(%d) QdStartMeasurement with the engine thread: %d", p.context, (int)r) && ok;
    }
    return ok;
}

// Stops every context and waits for the way back to rest.
void stopAll(std::vector<DevicePlan> &plans) {
    for (DevicePlan &p : plans) {
        int32_t r = g_lib.api.StopMeasurement((uint16_t)p.context);
        check(r == QD_MEAS_STOPPING, "(%d) QdStopMeasurement: %d (stopping)", p.context, (int)r);
    }
    double t0 = host::seconds();
    bool idle = waitFor(
        [&] {
            for (DevicePlan &p : plans) {
                if (g_lib.api.ComState((uint16_t)p.context) != QD_COM_IDLE) return false;
            }
            return true;
        });
    check(idle, "every context is idle (QdComState 0) %.0f ms after the stop", (host::seconds() - t0) * 1000.0);
}

// After the last context is idle: nothing left for the engine, and its
// thread has ended by itself.
void checkEngineEnded() {
    check(g_lib.api.ComState(QD_ALL_CONTEXTS) == QD_COM_IDLE, "QdComState(all) is 0");
    check(g_lib.api.ProtocolEngine() == 0, "QdProtocolEngine returns 0");
    if (g_baselineThreads < 0) {
        note("(the number of threads cannot be read here)");
        return;
    }
    int now = -1;
    bool back = waitFor(
        [&] {
            now = osProcessThreadCount();
            return now <= g_baselineThreads;
        });
    check(back, "the engine thread has ended: %d threads, as before the start (%d)", now, g_baselineThreads);
}

void closeAll(std::vector<DevicePlan> &plans) {
    for (DevicePlan &p : plans) {
        if (p.context >= 0) g_lib.api.CloseDevContext((uint16_t)p.context);
        p.context = -1;
        // The records are the caller's memory: stop the device writing them.
        for (int c = 0; c < 6; ++c) g_lib.sim.DeviceRecordSamples(p.tx, c, nullptr, 0);
    }
}

bool sawIndicator(int context, uint16_t type, uint16_t value, double after = -1) {
    for (const Event &e : events()) {
        if (e.context == context && e.type == type && e.value == value && e.at > after) return true;
    }
    return false;
}

const Event *findMessage(const std::vector<Event> &list, int context, const char *text) {
    for (const Event &e : list) {
        if (e.type == 0xFFFF && e.context == context && e.text == text) return &e;
    }
    return nullptr;
}

void reportEvents() {
    for (const Event &e : events()) {
        if (e.type == 0xFFFF) {
            note("  [%6.3f s] (%u) user message \"%s\"", e.at, e.context, e.text.c_str());
        } else {
            note("  [%6.3f s] (%u) indicator %u = %u", e.at, e.context, e.type, e.value);
        }
    }
}

ChannelPlan analog(int rateCode, int rangeUv, int lowerLimitCode, FtSimSignal signal) {
    ChannelPlan k;
    k.on = true;
    k.rateCode = rateCode;
    k.lowerLimit = lowerLimitCode;
    k.signal = signal;
    k.settings.push_back("Channel function=Voltage");
    k.settings.push_back("Measurement range=" + std::to_string(rangeUv));
    static const char *const limits[4] = {"0.5", "0.05", "0.01", "0"};
    k.settings.push_back(std::string("Lower limit frequency=") + limits[lowerLimitCode]);
    return k;
}

FtSimSignal sine(int amplitude, float hz, int offset = 0) { return FtSimSignal{0, amplitude, offset, hz}; }
FtSimSignal ramp(int step, int offset = 0) { return FtSimSignal{1, step, offset, 0.0f}; }
FtSimSignal square(int amplitude, float hz, int offset = 0) { return FtSimSignal{3, amplitude, offset, hz}; }

// Waits until channel 0 of a context has reached a tick, or a time-out.
bool runUntilTick(const DevicePlan &p, uint32_t tick) {
    return waitFor(
        [&] {
            std::lock_guard<std::mutex> guard(g_lock);
            const std::vector<Sample> &s = g_cap[p.context].samples[0];
            return !s.empty() && s.back().tick >= tick;
        });
}

// ---------------------------------------------------------------------------
// Scenarios
// ---------------------------------------------------------------------------

const double kHeavySeconds = 10.0;

// The heaviest configuration the model tables allow: four analog channels
// at 2000 sps and the button channel at 250 sps (8250 samples a second), for
// ten simulated seconds, every sample checked, no phase loss. On a
// transceiver (USB), or on a Bluetooth LE device (the simulator's GATT
// stand-in, or the stand-in BlueZ service on the bus of DBUS_SYSTEM_BUS_ADDRESS).
enum class Link { USB, BLE, BLUEZ };

int runHeavy(const std::string &out, Link link) {
    std::vector<DevicePlan> &plans = g_plans;
    plans.resize(1);
    DevicePlan &p = plans[0];
    p.model = link == Link::USB ? "Quorvane Halvex+ 4 USB" : "Quorvane Halvex+ 4 BLE";
    p.serial = link == Link::USB ? "QVSIM001" : "QV BLE 1";
    p.link = link == Link::USB ? QD_LINK_USB : QD_LINK_BLE;
    std::string why;
    if (link == Link::BLE && !check(simLoadBle(&g_lib.sim, &why), "the Bluetooth LE stand-in %s", why.c_str())) {
        return 1;
    }
    if (link == Link::BLUEZ && !check(g_lib.sim.BluezStart(nullptr, 1) == 0, "the stand-in BlueZ service on the bus")) {
        return 1;
    }
    p.ch[0] = analog(11, 6000, 3, sine(12000, 7.0f));
    p.ch[1] = analog(11, 6000, 3, ramp(37, -5000));
    p.ch[2] = analog(11, 24000, 3, square(20000, 13.0f, -10000));
    p.ch[3] = analog(11, 6000, 3, sine(32767, 3.0f));   // reaches both ends of the range
    p.ch[4].on = true;                                   // the button channel
    p.ch[4].voltage = false;
    p.ch[4].rateCode = 8;
    p.ch[4].signal = square(1, 0.5f);
    if (!prepare(&p, kHeavySeconds + 4)) return 1;
    if (!startAll(plans)) return 1;
    uint32_t ticks = (uint32_t)(2000 * kHeavySeconds);
    bool reached = runUntilTick(p, ticks + 32);
    double took = host::seconds() - g_start;
    check(reached, "%u ticks (%.0f simulated seconds) delivered in %.1f s", (unsigned)ticks, kHeavySeconds, took);
    stopAll(plans);
    checkEngineEnded();
    uint64_t total = 0;
    for (int c = 0; c < 5; ++c) total += delivered(p.context, c);
    note("%llu samples delivered, %.0f per second", (unsigned long long)total, (double)total / took);
    verify(&p, true);
    if (p.link == QD_LINK_BLE) {
        FtSimBleState st;
        memset(&st, 0, sizeof st);
        bool read = g_lib.sim.BleGetState(p.tx, &st) == 0;
        check(read && !st.open && st.bytesNotified > 0, "the BLE device was closed after %u bytes in notifications",
              (unsigned)st.bytesNotified);
    }
    if (link == Link::BLUEZ) g_lib.sim.BluezStop();
    writeFile(out + "/digest.txt", digestText(p, ticks));
    return 0;
}

int scenarioHeavy(const std::string &out) { return runHeavy(out, Link::USB); }
int scenarioBle(const std::string &out) { return runHeavy(out, Link::BLE); }
int scenarioBluez(const std::string &out) { return runHeavy(out, Link::BLUEZ); }

// Three devices of three models in three contexts at once; filtered and
// unfiltered channels, one of them with saturated samples.
int scenarioMulti(const std::string &out) {
    std::vector<DevicePlan> &plans = g_plans;
    plans.resize(3);
    plans[0].model = "Quorvane Halvex+ 4 USB";
    plans[0].serial = "QVSIM001";
    for (int c = 0; c < 4; ++c) plans[0].ch[c] = analog(10, 6000, 3, sine(3000 * (c + 1), 2.0f * (c + 1)));
    plans[1].model = "Quorvane Halvex-4 USB";
    plans[1].serial = "QVSIM002";
    plans[1].ch[0] = analog(8, 800, 0, sine(9000, 1.5f, 2000));          // filtered, 0.5 Hz
    plans[1].ch[1] = analog(9, 6000, 2, square(32767, 5.0f));            // filtered, 0.01 Hz, saturating
    plans[1].ch[3] = analog(7, 24000, 3, ramp(11));
    plans[2].model = "Quorvane Halvex-2 USB";
    plans[2].serial = "QVSIM003";
    plans[2].ch[0].on = true;                                            // a resistance channel
    plans[2].ch[0].voltage = false;
    plans[2].ch[0].rateCode = 4;
    plans[2].ch[0].signal = sine(4000, 0.25f, 8000);
    plans[2].ch[0].settings.push_back("Channel function=Resistance");
    plans[2].ch[1] = analog(11, 6000, 0, sine(5000, 40.0f));             // filtered at 2000 sps
    for (DevicePlan &p : plans) {
        if (!prepare(&p, 6.0)) return 1;
    }
    if (!startAll(plans)) return 1;
    // Two seconds of every device.
    bool reached = runUntilTick(plans[0], 2 * 1000 + 32) && runUntilTick(plans[1], 2 * 500 + 32) &&
                   runUntilTick(plans[2], 2 * 2000 + 32);
    check(reached, "two seconds of each device delivered in %.1f s", host::seconds() - g_start);
    stopAll(plans);
    checkEngineEnded();
    std::string digest;
    uint32_t tickRates[3] = {1000, 500, 2000};
    for (int i = 0; i < 3; ++i) {
        verify(&plans[i], true);
        digest += digestText(plans[i], 2 * tickRates[i]);
    }
    writeFile(out + "/digest.txt", digest);
    return 0;
}

// The device never answers the stop command: the reply timer ends the
// measurement with the "not responding" message; the engine ends.
int scenarioLostReply(const std::string &) {
    std::vector<DevicePlan> &plans = g_plans;
    plans.resize(1);
    DevicePlan &p = plans[0];
    p.model = "Quorvane Halvex-4 USB";
    p.serial = "QVSIM001";
    p.ch[0] = analog(8, 800, 0, sine(3000, 2.0f));
    p.ch[1] = analog(8, 6000, 3, sine(6000, 3.0f));
    if (!prepare(&p, 5.0)) return 1;
    if (!startAll(plans)) return 1;
    check(runUntilTick(p, 250 + 16), "one second measured");
    check(g_lib.sim.DeviceSetFault(p.tx, 0x0A, 1, 0, 1) == 0, "the reply to the stop command will be lost");
    double stopAt = host::seconds() - g_start;
    stopAll(plans);
    std::vector<Event> list = events();
    const Event *m = findMessage(list, p.context,
                                 "!Device is not responding. Please check, if it's on and connected with USB cable.");
    check(m != nullptr, "user message: device not responding (USB)");
    if (m) {
        double after = m->at - stopAt;
        // Not before the reply timer; the log shows that timer ended it
        // (how late after it depends on the machine's load).
        check(after > 0.8, "it came %.0f ms after the stop (the reply timer is 900 ms)", after * 1000);
    }
    check(sawIndicator(p.context, QD_IND_LINK, QD_LINK_STATE_ERROR, stopAt) &&
              sawIndicator(p.context, QD_IND_LINK, QD_LINK_STATE_DISCONNECTED, stopAt),
          "link error, then disconnected");
    checkEngineEnded();
    verify(&p, true);
    std::string log = host::readFile(g_lib.logPath);
    check(log.find("^ INT_T1") != std::string::npos && log.find("< CMD_RESTART") != std::string::npos,
          "the log shows the reply timer and the restart command");
    reportEvents();
    return 0;
}

// The radio link of the device drops for 600 ms, then the device reports
// the failure: the driver reopens the transceiver in the background and
// the measurement goes on; the samples of the outage are missing, every
// other one arrives.
int scenarioLinkLoss(const std::string &) {
    std::vector<DevicePlan> &plans = g_plans;
    plans.resize(1);
    DevicePlan &p = plans[0];
    p.model = "Quorvane Halvex+ 4 USB";
    p.serial = "QVSIM001";
    for (int c = 0; c < 4; ++c) p.ch[c] = analog(10, 6000, 3, sine(2000 * (c + 1), 1.0f + c));
    p.ch[4].on = true;
    p.ch[4].voltage = false;
    p.ch[4].rateCode = 7;
    p.ch[4].signal = square(1, 2.0f);
    if (!prepare(&p, 8.0)) return 1;
    if (!startAll(plans)) return 1;
    check(runUntilTick(p, 1000), "one second measured");
    double lostAt = host::seconds() - g_start;
    g_lib.sim.DeviceSetLinkUp(p.tx, 0);
    double downFrom = host::seconds() - g_start;   // down between lostAt and downFrom
    host::sleepMs(600);
    double upFrom = host::seconds() - g_start;
    g_lib.sim.DeviceSetLinkUp(p.tx, 1);
    g_lib.sim.DeviceSendEvent(p.tx, 0x61, -1);
    double backAt = host::seconds() - g_start;
    bool reconnected = waitFor([&] { return sawIndicator(p.context, QD_IND_LINK, QD_LINK_STATE_CONNECTED, backAt); });
    check(reconnected, "the driver reconnected (link indicator 1 after the failure)");
    size_t before = delivered(p.context, 0);
    check(waitFor([&] { return delivered(p.context, 0) >= before + 1000; }), "one more second measured");
    stopAll(plans);
    checkEngineEnded();
    check(sawIndicator(p.context, QD_IND_LINK, QD_LINK_STATE_ERROR, lostAt), "a link error was shown");
    FtSimState st;
    memset(&st, 0, sizeof st);
    check(g_lib.sim.GetState(p.tx, &st) == 0 && st.opens == 2 && st.closes == 2,
          "the transceiver was opened twice and closed twice (%u, %u)", (unsigned)st.opens, (unsigned)st.closes);
    verify(&p, false);
    const Capture &cap = g_cap[p.context];
    // The outage lasted at least upFrom - downFrom and at most backAt - lostAt
    // (1000 ticks a second), whatever the sleep took on this machine.
    double least = (upFrom - downFrom) * 1000.0 - 50.0, most = (backAt - lostAt) * 1000.0 + 200.0;
    check(cap.gaps == 1 && cap.lostTicks >= least && cap.lostTicks <= most,
          "one gap of the outage's length in the stream: %llu gaps, %llu ticks (%.0f to %.0f)",
          (unsigned long long)cap.gaps, (unsigned long long)cap.lostTicks, least, most);
    std::string log = host::readFile(g_lib.logPath);
    check(log.find("{ReconThreadFunc(..)") != std::string::npos && log.find("^ INT_CON") != std::string::npos &&
              log.find("Sample data loss") != std::string::npos,
          "the log shows the reconnection thread, INT_CON and the sample data loss");
    reportEvents();
    return 0;
}

// A measurement on one device that is not behind a USB transceiver: the
// samples of `seconds` are checked and digested, the stop ends in idle.
int runRadioDevice(DevicePlan &p, double seconds, const std::string &out) {
    if (!prepare(&p, seconds + 4)) return 1;
    if (!startAll(g_plans)) return 1;
    uint32_t ticks = (uint32_t)(rateOf(p.ch[0]) * seconds);
    check(runUntilTick(p, ticks + 32), "%u ticks of channel A delivered in %.1f s", (unsigned)ticks,
          host::seconds() - g_start);
    stopAll(g_plans);
    checkEngineEnded();
    verify(&p, true);
    check(g_lib.sim.OpenSockets() == 0, "no simulated socket is left open");
    writeFile(out + "/digest.txt", digestText(p, ticks));
    reportEvents();
    return 0;
}

// A Bluetooth Halvex found by its name (an inquiry), two filtered and
// unfiltered channels.
int scenarioBluetooth(const std::string &out) {
    g_plans.resize(1);
    DevicePlan &p = g_plans[0];
    p.model = "Quorvane Halvex-4 BT";
    p.link = QD_LINK_BT;
    p.serial = SIM_BT_NAME;
    p.ch[0] = analog(10, 6000, 3, sine(7000, 3.0f));
    p.ch[1] = analog(9, 800, 0, sine(3000, 1.5f, 500));
    return runRadioDevice(p, 3.0, out);
}

// The Brev device on IrDA at 256 sps (rate option 1).
int scenarioBrev(const std::string &out) {
    g_plans.resize(1);
    DevicePlan &p = g_plans[0];
    p.model = "Quorvane Brev 100";
    p.link = QD_LINK_IRDA;
    p.serial = "IrDA";
    p.ch[0].on = true;
    p.ch[0].hz = 256;
    p.ch[0].signal = sine(1800, 9.0f, -100);
    return runRadioDevice(p, 3.0, out);
}

// ---------------------------------------------------------------------------
// qdacq's CSV file
// ---------------------------------------------------------------------------

int checkCsv(const std::string &file, const std::string &simPath, const std::string &model,
             const std::vector<double> &rates, double range) {
    SimApi sim;
    std::string why;
    if (!simLoad(&sim, simPath, &why)) {
        fprintf(stderr, "e2e_host: %s\n", why.c_str());
        return 2;
    }
    FILE *f = fopen(file.c_str(), "r");
    if (!check(f != nullptr, "%s of a simulated %s exists", file.c_str(), model.c_str())) return 1;
    double fastest = 0;
    for (double r : rates) fastest = r > fastest ? r : fastest;
    StreamChannel edf;
    edf.range = range;
    edf.minimum = -range;
    char line[256];
    bool header = fgets(line, sizeof line, f) && strcmp(line, "phase,channel,value\n") == 0;
    check(header, "the header reads phase,channel,value");
    size_t rows = 0, bad = 0, off = 0;
    std::vector<size_t> perChannel(rates.size(), 0);
    uint32_t lastTick = 0;
    while (fgets(line, sizeof line, f)) {
        unsigned phase = 0;
        int channel = -1;
        double value = 0;
        if (sscanf(line, "%u,%d,%lf", &phase, &channel, &value) != 3 || channel < 0 ||
            channel >= (int)rates.size() || rates[channel] <= 0) {
            ++bad;
            continue;
        }
        ++rows;
        lastTick = phase;
        uint32_t period = (uint32_t)(fastest / rates[channel] + 0.5);
        uint32_t n = (phase + 1) / period - 1;
        // The simulator's default signal of channel i: a sine of i + 1 Hz
        // with an amplitude of 1000 (i + 1).
        FtSimSignal s = {0, 1000 * (channel + 1), 0, (float)(channel + 1)};
        int d = sim.SignalValue(&s, n, rates[channel]);
        if ((phase + 1) % period != 0 || n != perChannel[channel]) ++off;
        ++perChannel[channel];
        double want = d * range / 32768.0;
        double viaEdf = edfPhysical(edf, d);
        if (std::fabs(value - want) > 1e-6 * range || std::fabs(viaEdf - want) > 1e-6 * range) {
            if (bad < 3) note("  row %zu: %s  expected %.7g (EDF mapping %.7g)", rows, line, want, viaEdf);
            ++bad;
        }
    }
    fclose(f);
    check(rows > 0 && bad == 0, "%zu rows, each value equals device value x %g / 32768 and the EDF mapping", rows,
          range);
    check(off == 0, "rows follow each channel's sample ticks without a gap (last tick %u)", (unsigned)lastTick);
    simUnload(&sim);
    return g_failures ? 1 : 0;
}

// Runs the scenario of that name: its result, or 2 when there is none.
int runScenario(const std::string &scenario, const std::string &out) {
    const struct {
        const char *name;
        int (*run)(const std::string &out);
    } scenarios[] = {{"heavy", scenarioHeavy},         {"ble", scenarioBle},
                     {"bluez", scenarioBluez},         {"multi", scenarioMulti},
                     {"lostreply", scenarioLostReply}, {"linkloss", scenarioLinkLoss},
                     {"bluetooth", scenarioBluetooth}, {"brev", scenarioBrev}};
    for (const auto &sc : scenarios) {
        if (scenario == sc.name) return sc.run(out);
    }
    note("unknown scenario %s", scenario.c_str());
    return 2;
}

int usage() {
    fprintf(stderr,
            "usage: e2e_host --sim SIM_LIBRARY --driver DRIVER_LIBRARY --out DIR "
            "heavy|ble|bluez|multi|lostreply|linkloss|bluetooth|brev\n"
            "       e2e_host --sim SIM_LIBRARY --check-csv FILE --model NAME --rates R0,R1,... --range R\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    std::string simPath, driverPath, out, scenario, csv, model;
    std::vector<double> rates;
    double range = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--sim" && more) {
            simPath = argv[++i];
        } else if (a == "--driver" && more) {
            driverPath = argv[++i];
        } else if (a == "--out" && more) {
            out = argv[++i];
        } else if (a == "--check-csv" && more) {
            csv = argv[++i];
        } else if (a == "--model" && more) {
            model = argv[++i];
        } else if (a == "--range" && more) {
            range = atof(argv[++i]);
        } else if (a == "--rates" && more) {
            for (const char *p = argv[++i]; *p;) {
                char *end = nullptr;
                rates.push_back(strtod(p, &end));
                p = *end == ',' ? end + 1 : end;
                if (end == p && *p) return usage();
            }
        } else if (a[0] != '-' && scenario.empty()) {
            scenario = a;
        } else {
            return usage();
        }
    }
    if (!csv.empty()) return checkCsv(csv, simPath, model, rates, range);
    if (simPath.empty() || driverPath.empty() || out.empty() || scenario.empty()) return usage();

    // A fresh folder for the driver's log, set before the driver loads.
    host::makeDir(out);
    std::string shared = out + "/shared";
    host::makeDir(shared);
    std::string oldLog = shared + "/Quorvane/QuorvaneDrv.log";
    remove(oldLog.c_str());
    host::setEnv("ALLUSERSPROFILE", shared);
    g_report = fopen((out + "/report.txt").c_str(), "w");
    note("scenario %s, %d-bit host", scenario.c_str(), (int)(8 * sizeof(void *)));

    std::string why;
    if (!simLoad(&g_lib.sim, simPath, &why) || !driverLoad(&g_lib.api, driverPath, QDACQ_HINTS, &why)) {
        note("cannot load: %s", why.c_str());
        return 2;
    }
    g_lib.sim.Reset();
    g_lib.logPath = host::driverLogPath();
    g_lib.api.SetCallbacks(onSamples, onIndicator, onMessage);

    int rc = runScenario(scenario, out);
    closeAll(g_plans);
    g_lib.api.SetCallbacks(nullptr, nullptr, nullptr);
    driverUnload(&g_lib.api);
    // The driver has written its last line when it was unloaded.
    if (scenario == "heavy" || scenario == "lostreply" || scenario == "ble") {
        writeFile(out + "/log.txt", normaliseLog(host::readFile(g_lib.logPath)));
    }
    g_lib.sim.Reset();
    simUnload(&g_lib.sim);
    if (rc == 0 && g_failures > 0) rc = 1;
    note("%s: %s (%d failed checks)", scenario.c_str(), rc == 0 ? "passed" : "FAILED", g_failures);
    if (g_report) fclose(g_report);
    return rc;
}
