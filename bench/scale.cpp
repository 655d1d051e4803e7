// scale.cpp - the scale figures of qdbench: 1, 2, 5 and 10 devices of one
// link kind at the heaviest configuration measuring on the driver's engine
// thread, and the same devices drained without the driver, each for a few
// rounds; the process's CPU per device in both, so that the simulator's
// share and the driver's (their difference) stand apart. Then the time from
// QdStartMeasurement to the first delivered sample, per link kind.
//
// USB, Bluetooth and IrDA devices are drained with the simulator's own
// calls in the pattern of the link layer (a queue status and a one-byte
// read per byte); a Bluetooth LE device is read through the link library
// (its value callback, ring and freed-space reports), so for Bluetooth LE
// the simulator's share holds the link's transport and the driver's share
// is the protocol engine's alone. Only one IrDA device can be in reach of
// a link, so IrDA has one row.
#include "bench/scale.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "QuorvaneDrv.h"
#include "link/d2xx.h"
#include "link/ble_gatt.h"
#include "link/link.h"
#include "link/sockets.h"
#include "os/os.h"
#include "sim/blesim.h"
#include "sim/ftsim.h"
#include "sim/sim_device.h"
#include "sim/sim_frame.h"

namespace {

// How the bench meets the devices of one link kind: the model it measures,
// where device i sits, how the simulator gets it, the context's heaviest
// configuration, and (without the driver) how the device is put into
// measurement and how one link is drained in the link layer's pattern.
struct Kind {
    const LinkKind *link;    // the link's row: its name in the figures, its title in the tables
    const char *model;
    std::string (*where)(int i);
    int (*add)(const std::string &where);
    bool (*configure)(const std::string &where);
    void (*start)(SimDevice *dev, const std::vector<uint8_t> &image, uint32_t now);
    void (*drainOne)(LinkHandle *link);
};
const int kCounts[] = {1, 2, 5, 10};
const char kDeviceName[] = "Quorvane Halvex*";
const double kSettleSeconds = 0.3;
const double kStepSeconds = 5.0;
const uint32_t kDrainPeriodMs = 2;
const int kBytesPerStep = 8192;

std::atomic<uint64_t> g_samples[QD_MAX_CONTEXTS];
int g_channels[QD_MAX_CONTEXTS];
// The engine thread's CPU seconds, read on that thread at its last sample
// callback: the driver's engine with the simulated D2XX calls it makes.
std::atomic<double> g_engineCpu{0};

int QDCALL countSamples(uint16_t ctx, uint16_t, uint16_t, ChannelSamples *ch) {
    if (ctx >= QD_MAX_CONTEXTS) return 0;
    uint32_t n = 0;
    for (int c = 0; c < g_channels[ctx]; ++c) n += ch[c].count;
    g_samples[ctx].fetch_add(n, std::memory_order_relaxed);
    g_engineCpu.store(osThreadCpuSeconds(), std::memory_order_relaxed);
    return 0;
}

uint64_t samplesOf(const std::vector<int16_t> &contexts) {
    uint64_t n = 0;
    for (int16_t ctx : contexts) n += g_samples[ctx].load();
    return n;
}

bool set(const char *text, uint16_t id, uint16_t channel) { return QdStr2Param(text, id, channel) == 0; }

int addDevice(const Kind &k, int i) {
    int slot = k.add(k.where(i));
    return slot >= 0 && ftsimAttachNewDevice(slot, k.model, nullptr) == slot ? slot : -1;
}

// A context of the kind's model at its heaviest configuration.
int16_t openContext(const Kind &k, int i) {
    int16_t ctx = QdOpenDevContext(k.model);
    if (ctx < 0) return -1;
    if (!k.configure(k.where(i))) {
        fprintf(stderr, "qdbench: the %s context refused its settings\n", k.model);
        QdCloseDevContext((uint16_t)ctx);
        return -1;
    }
    QdParamValue v;
    g_channels[ctx] = QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &v) == 0 ? v.value.i : 0;
    g_samples[ctx] = 0;
    return ctx;
}

bool waitFor(bool (*done)(const std::vector<int16_t> &), const std::vector<int16_t> &contexts, double seconds) {
    uint64_t until = osClockUs() + (uint64_t)(seconds * 1e6);
    while (!done(contexts)) {
        if (osClockUs() > until) return false;
        osSleep(1);
    }
    return true;
}

bool allDelivered(const std::vector<int16_t> &contexts) {
    for (int16_t ctx : contexts) {
        if (g_samples[ctx].load() == 0) return false;
    }
    return true;
}

bool allIdle(const std::vector<int16_t> &) { return QdComState(QD_ALL_CONTEXTS) == QD_COM_IDLE; }

// Process CPU as a percentage of one core over `seconds` from now, the
// engine thread's in *engine (when given), and the samples delivered
// meanwhile per second.
double cpuOver(double seconds, const std::vector<int16_t> &contexts, double *samplesPerSecond,
               double *engine = nullptr) {
    uint64_t s0 = samplesOf(contexts), t0 = osClockUs();
    double cpu0 = osProcessCpuSeconds(), engine0 = g_engineCpu.load();
    osSleep((uint32_t)(seconds * 1000));
    double wall = (double)(osClockUs() - t0) / 1e6;
    *samplesPerSecond = wall > 0 ? (double)(samplesOf(contexts) - s0) / wall : 0;
    if (engine) *engine = wall > 0 ? 100.0 * (g_engineCpu.load() - engine0) / wall : 0;
    return wall > 0 ? 100.0 * (osProcessCpuSeconds() - cpu0) / wall : 0;
}

// n devices measuring through the driver on its engine thread.
bool engineRound(const Kind &k, int n, double seconds, double *percent, double *rate, double *engine) {
    ftsimReset();
    std::vector<int16_t> contexts;
    for (int i = 0; i < n; ++i) {
        int16_t ctx = addDevice(k, i) >= 0 ? openContext(k, i) : -1;
        if (ctx < 0) return false;
        contexts.push_back(ctx);
    }
    QdSetCallbacks(countSamples, nullptr, nullptr);
    bool ok = true;
    for (int16_t ctx : contexts) ok = ok && QdStartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) == 0;
    ok = ok && waitFor(allDelivered, contexts, kStepSeconds);
    if (ok) {
        osSleep((uint32_t)(kSettleSeconds * 1000));
        *percent = cpuOver(seconds, contexts, rate, engine);
    }
    for (int16_t ctx : contexts) QdStopMeasurement((uint16_t)ctx);
    waitFor(allIdle, contexts, kStepSeconds);
    for (int16_t ctx : contexts) QdCloseDevContext((uint16_t)ctx);
    if (!ok) fprintf(stderr, "qdbench: %d %s devices did not all deliver\n", n, k.link->title);
    return ok;
}

// ---------------------------------------------------------------------------
// The simulator alone
// ---------------------------------------------------------------------------

std::vector<uint8_t> frameOf(const std::vector<uint8_t> &body) {
    std::vector<uint8_t> out(body.size() + 4);
    out.resize(simFrameWrite(body.data(), body.size(), out.data(), out.size()));
    return out;
}

// A Brev device measuring at 512 sps with its raw data notifications on.
void startBrev(SimDevice *dev, const std::vector<uint8_t> &, uint32_t now) {
    for (const std::vector<uint8_t> &body : {std::vector<uint8_t>{0x07, 0x31, 0x00},
                                             std::vector<uint8_t>{0x0A, 0x01, 0x02, 0xFF, 0x00}}) {
        std::vector<uint8_t> f = frameOf(body);
        simDeviceReceive(dev, f.data(), f.size(), now);
    }
    uint8_t scratch[256];
    simDevicePending(dev, now);
    while (simDeviceTake(dev, scratch, sizeof scratch) > 0) {
    }
}

struct Drain {
    const Kind *kind = nullptr;
    std::vector<LinkHandle> links;
    std::atomic<bool> run{true};
};

void drainThread(void *arg) {
    Drain *d = static_cast<Drain *>(arg);
    while (d->run.load()) {
        for (LinkHandle &link : d->links) d->kind->drainOne(&link);
        osSleep(kDrainPeriodMs);
    }
}

// The same n devices, opened by the link library, put into measurement
// through their command interface and drained by a thread of this program.
bool simulatorRound(const Kind &k, int n, double seconds, double *percent) {
    ftsimReset();
    std::vector<uint8_t> image = heavyImage();
    Drain drain;
    drain.kind = &k;
    bool ok = !image.empty();
    for (int i = 0; i < n && ok; ++i) {
        int slot = addDevice(k, i);
        LinkHandle link = {k.link->key, LINK_INVALID_HANDLE};
        ok = slot >= 0 && OpenLink(k.link->key, k.where(i).c_str(), &link, nullptr, 0) == 1;
        if (!ok) break;
        drain.links.push_back(link);
        k.start(ftsimDevice(slot), image, osClockMs());
    }
    OsThread thread = ok ? osThreadStart(drainThread, &drain, 64 * 1024, OS_PRIORITY_HIGHEST) : nullptr;
    if (thread) {
        osSleep((uint32_t)(kSettleSeconds * 1000));
        double unused = 0;
        *percent = cpuOver(seconds, std::vector<int16_t>(), &unused);
        drain.run = false;
        osThreadJoin(thread);
    }
    for (LinkHandle &link : drain.links) CloseLink(&link);
    if (!thread) fprintf(stderr, "qdbench: the %s devices could not be drained without the driver\n", k.link->title);
    return thread != nullptr;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One row of the table: rounds of the driver and of the simulator alone in
// turns, so that a machine busy with other work weighs on both alike.
bool row(const Kind &k, int n, double seconds, int rounds) {
    std::vector<double> all, simulator, driver, engine;
    double rate = 0;
    for (int r = 0; r < rounds; ++r) {
        double e = 0, s = 0, thread = 0;
        if (!engineRound(k, n, seconds, &e, &rate, &thread) || !simulatorRound(k, n, seconds, &s)) return false;
        engine.push_back(thread / n);
        all.push_back(e / n);
        simulator.push_back(s / n);
        driver.push_back((e - s) / n);
    }
    printf("  %-13s %7d %8.2f%% %10.2f%% %8.2f%% %11.0f\n", k.link->title, n, median(all), median(simulator), median(driver),
           rate);
    printf("figure: scale_%s_%d_driver_percent_per_device %.3f\n", k.link->name, n, median(driver));
    printf("figure: scale_%s_%d_simulator_percent_per_device %.3f\n", k.link->name, n, median(simulator));
    printf("figure: scale_%s_%d_engine_thread_percent_per_device %.3f\n", k.link->name, n, median(engine));
    return true;
}

// ---------------------------------------------------------------------------
// First sample
// ---------------------------------------------------------------------------

std::atomic<uint64_t> g_firstUs{0};
std::atomic<uint32_t> g_deviceFirstMs{0};

int QDCALL firstSample(uint16_t ctx, uint16_t phase, uint16_t sum, ChannelSamples *ch) {
    countSamples(ctx, phase, sum, ch);
    uint64_t none = 0;
    if (g_samples[ctx].load() > 0) g_firstUs.compare_exchange_strong(none, osClockUs());
    return 0;
}

void firstMessageTap(void *, const SimDataInfo *info) {
    uint32_t none = 0;
    if (info->firstTick == 0) g_deviceFirstMs.compare_exchange_strong(none, info->timeMs);
}

bool gotFirst(const std::vector<int16_t> &) { return g_firstUs.load() != 0; }

// Median and largest time to the first sample, and the median of the
// device's own time to its first data message.
bool firstSampleTimes(const Kind &k, int starts) {
    ftsimReset();
    int slot = addDevice(k, 0);
    int16_t ctx = slot >= 0 ? openContext(k, 0) : -1;
    if (ctx < 0) return false;
    simDeviceSetDataTap(ftsimDevice(slot), firstMessageTap, nullptr);
    QdSetCallbacks(firstSample, nullptr, nullptr);
    std::vector<int16_t> contexts = {ctx};
    std::vector<double> total, device;
    for (int run = 0; run < starts; ++run) {
        g_firstUs = 0;
        g_deviceFirstMs = 0;
        g_samples[ctx] = 0;
        uint64_t t0 = osClockUs();
        uint32_t t0ms = osClockMs();
        if (QdStartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) != 0) break;
        if (waitFor(gotFirst, contexts, kStepSeconds)) {
            total.push_back((double)(g_firstUs.load() - t0) / 1000.0);
            device.push_back((double)(g_deviceFirstMs.load() - t0ms));
        }
        QdStopMeasurement((uint16_t)ctx);
        waitFor(allIdle, contexts, kStepSeconds);
    }
    QdCloseDevContext((uint16_t)ctx);
    if (total.empty()) return false;
    printf("  %-13s %8.1f ms %8.1f ms %15.1f ms %14.1f ms\n", k.link->title, median(total),
           *std::max_element(total.begin(), total.end()), median(device), median(total) - median(device));
    printf("figure: first_sample_%s_ms %.1f\n", k.link->name, median(total));
    return true;
}

// ---------------------------------------------------------------------------
// The kinds
// ---------------------------------------------------------------------------

std::string serialOf(int i) {
    char text[16];
    snprintf(text, sizeof text, "QVSCAL%02d", i);
    return text;
}
std::string addressOf(int i) {
    char text[24];
    snprintf(text, sizeof text, "00:80:98:51:58:%02X", i + 1);
    return text;
}
std::string hexOf(const std::string &address) {
    std::string hex;
    for (char c : address) {
        if (c != ':') hex += c;
    }
    return hex;
}
int addUsb(const std::string &where) { return ftsimAdd(where.c_str(), nullptr); }
int addBluetooth(const std::string &where) { return ftsimAddBluetooth(where.c_str(), kDeviceName); }
int addBle(const std::string &where) { return ftsimAddBle(kDeviceName, hexOf(where).c_str()); }
int addIrda(const std::string &) { return ftsimAddIrda("Quorvane Brev"); }

// A Halvex+ 4 with four voltage channels at 2000 sps behind the 0.5 Hz
// high-pass filter and the button channel at 250 sps; the Brev at 512 sps.
bool configureHalvex(const std::string &where) {
    bool ok = set(where.c_str(), QD_PAR_DEVICE_ID, 0);
    for (uint16_t c = 0; c < 4; ++c) {
        ok = ok && set("1", QD_PAR_CHANNEL_ENABLE, c) && set("Voltage", QD_PAR_CHANNEL_FUNCTION, c) &&
             set("6000", QD_PAR_MEASUREMENT_RANGE, c) && set("0.5", QD_PAR_LOWER_LIMIT, c) &&
             set("2000", QD_PAR_SAMPLE_RATE, c);
    }
    return ok && set("1", QD_PAR_CHANNEL_ENABLE, 4) && set("250", QD_PAR_SAMPLE_RATE, 4);
}
bool configureBrev(const std::string &) { return set("512", QD_PAR_SAMPLE_RATE, 0); }

void drainBle(LinkHandle *link) {
    uint8_t b;
    for (int n = 0; n < kBytesPerStep && RecvLink(link, &b) == 1; ++n) {
    }
}
void drainUsb(LinkHandle *link) {
    FT_HANDLE h = reinterpret_cast<FT_HANDLE>(link->handle);
    for (int n = 0; n < kBytesPerStep; ++n) {
        uint8_t b;
        uint32_t waiting = 0, got = 0;
        if (FT_GetQueueStatus(h, &waiting) != FT_OK || waiting == 0 || FT_Read(h, &b, 1, &got) != FT_OK) return;
    }
}
void drainSocket(LinkHandle *link) {
    const LinkSocketApi *api = ftsimSocketApi();
    for (int n = 0; n < kBytesPerStep; ++n) {
        uint8_t b;
        uint32_t waiting = 0;
        if (api->ioctl(link->handle, LINK_FIONREAD, &waiting) != 0 || waiting == 0) return;
        if (api->recvByte(link->handle, &b) != 1) return;
    }
}

// In the order of the tables.
const Kind kKinds[] = {
    {&kLinkKinds[LINK_USB], "Quorvane Halvex+ 4 USB", serialOf, addUsb, configureHalvex, startDevice, drainUsb},
    {&kLinkKinds[LINK_BT], "Quorvane Halvex+ 4 BT", addressOf, addBluetooth, configureHalvex, startDevice,
     drainSocket},
    {&kLinkKinds[LINK_BLE], "Quorvane Halvex+ 4 BLE", addressOf, addBle, configureHalvex, startDevice, drainBle},
    {&kLinkKinds[LINK_IRDA], "Quorvane Brev 100", addressOf, addIrda, configureBrev, startBrev, drainSocket},
};

}  // namespace

int scaleBench(int maxDevices, double seconds, int rounds, int starts) {
    linkUseSockets(ftsimSocketApi());
    linkBleUseGatt(ftsimBleGattApi());
    printf("scale: CPU of one core per device at the heaviest configuration (Halvex+ 4: 8,250 samples a second;\n"
           "  Brev: 512), the median of %d round(s) of %.1f s; the driver's share is what the engine thread adds to\n"
           "  the simulator's work (same devices, the same calls without the driver)\n",
           rounds, seconds);
    printf("  %-13s %7s %9s %11s %9s %11s\n", "link", "devices", "all", "simulator", "driver", "samples/s");
    for (const Kind &k : kKinds) {
        for (int n : kCounts) {
            // A link that names no device reaches the one in range.
            if ((n > 1 && !k.link->takesDeviceId) || n > maxDevices) continue;
            if (!row(k, n, seconds, rounds)) return 2;
        }
    }
    printf("latency: QdStartMeasurement to the first delivered sample, %d starts per link kind; the device\n"
           "  sends its first data message once the handshake is done and the message's ticks have passed\n"
           "  (16 ticks of 0.5 ms; the Brev's an eighth of a second); delivery is what follows\n",
           starts);
    printf("  %-13s %11s %11s %18s %17s\n", "link", "median", "max", "first message", "delivery");
    for (const Kind &k : kKinds) {
        if (!firstSampleTimes(k, starts)) return 2;
    }
    linkBleUseGatt(nullptr);
    linkUseSockets(nullptr);
    return 0;
}
