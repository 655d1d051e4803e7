// qdbench - figures of the protocol engine, with the driver core and the
// simulated transceivers in one process. It prints figures and never fails
// on a slow machine: targets are shown beside the figures, not enforced.
//
//   qdbench [all|throughput|cpu|latency|scale|delivery|blering] [--samples N] [--seconds S]
//           [--devices N] [--runs N]
//
//   throughput  decode-and-deliver rate of the engine at the heaviest
//               configuration ("Quorvane Halvex+ 4 USB", four channels at
//               2000 sps and the button channel at 250 sps): a recorded
//               device byte stream of one whole phase cycle is replayed
//               through a simulated transceiver as fast as the engine takes
//               it; samples delivered per CPU-second of the polling thread,
//               and D2XX calls per received byte. (bench/callgrind.sh runs
//               this under callgrind for the instructions per sample.)
//   cpu         CPU share of the driver's engine thread while N devices
//               (default 10) stream at the heaviest configuration, and the
//               share of the simulator alone (the same devices drained with
//               the same D2XX call pattern by a thread of this program), so
//               that the driver's own share is their difference
//   latency     time from QdStartMeasurement to the first delivered sample,
//               beside the time the device needs for its first data message
//   scale       CPU per device for 1, 2, 5 and 10 devices (up to --devices)
//               at the heaviest configuration on the engine thread, per
//               link kind, the simulator's share and the driver's apart;
//               the time to the first sample per link kind (bench/scale.cpp)
//   delivery    time from the moment the device puts a data message on the
//               wire (its last tick is complete) to the moment the host's
//               sample callback has it, at the heaviest configuration on the
//               engine thread for --seconds (make bench: 20 s; not part of
//               "all"): p50, p99,
//               max. This is the D2XX seam (the simulated transceiver); the
//               same figure through libftdi1 and libusb comes from
//               bench/usb_latency under the emulated transceiver.
//   blering     the Bluetooth LE link's receive ring: --samples bytes
//               notified by a simulated device on one thread, received on
//               another; bytes per CPU-second beside 100 times the byte rate
//               of the heaviest configuration (bench/blering.cpp)
//
// Exit status 0, or 2 when the set-up itself fails.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/protocol/protocol.h"
#include "bench/blering.h"
#include "bench/scale.h"
#include "link/d2xx.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "sim/sim_device.h"
#include "sim/sim_frame.h"

namespace {

const char kModel[] = "Quorvane Halvex+ 4 USB";
const int kChannels = 5;
const uint16_t APP_MEASURE_STATE = 9;

struct Options {
    uint64_t samples = 30000000;
    double seconds = 10.0;
    int devices = 10;
    int runs = 20;
};

// ---------------------------------------------------------------------------
// Driver side
// ---------------------------------------------------------------------------

// The engine's CPU time per sample beside the D2XX calls, from the
// throughput run (0 when it did not run).
double g_engineNsPerSample = 0;

std::atomic<uint64_t> g_samples{0};
std::atomic<uint64_t> g_packets{0};
std::atomic<uint64_t> g_gaps{0};
uint16_t g_expected[QD_MAX_CONTEXTS];

int QDCALL countSamples(uint16_t ctx, uint16_t phase, uint16_t, ChannelSamples *ch) {
    uint32_t n = 0, most = 0;
    for (int c = 0; c < kChannels; ++c) {
        n += ch[c].count;
        if (ch[c].count > most) most = ch[c].count;
    }
    if (ctx < QD_MAX_CONTEXTS) {
        if (most > 0 && phase != g_expected[ctx]) g_gaps.fetch_add(1, std::memory_order_relaxed);
        if (most > 0) g_expected[ctx] = (uint16_t)(phase + most);
    }
    g_samples.fetch_add(n, std::memory_order_relaxed);
    g_packets.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

bool set(const char *text, uint16_t id, uint16_t channel) {
    int rc = QdStr2Param(text, id, channel);
    if (rc != 0) fprintf(stderr, "qdbench: QdStr2Param(\"%s\", %u, %u) = %d\n", text, id, channel, rc);
    return rc == 0;
}

// A context of the heaviest configuration, reaching the transceiver serial.
int16_t openHeavy(const char *serial) {
    int16_t ctx = QdOpenDevContext(kModel);
    if (ctx < 0) return ctx;
    bool ok = set(serial, QD_PAR_DEVICE_ID, 0);
    for (uint16_t c = 0; c < 4; ++c) {
        ok = ok && set("1", QD_PAR_CHANNEL_ENABLE, c) && set("Voltage", QD_PAR_CHANNEL_FUNCTION, c) &&
             set("6000", QD_PAR_MEASUREMENT_RANGE, c) && set("0", QD_PAR_LOWER_LIMIT, c) &&
             set("2000", QD_PAR_SAMPLE_RATE, c);
    }
    ok = ok && set("1", QD_PAR_CHANNEL_ENABLE, 4) && set("250", QD_PAR_SAMPLE_RATE, 4);
    if (!ok) {
        QdCloseDevContext((uint16_t)ctx);
        return -1;
    }
    return ctx;
}

bool waitUntil(bool (*done)(void *), void *arg, double seconds, bool poll) {
    uint64_t until = osClockUs() + (uint64_t)(seconds * 1e6);
    while (osClockUs() < until) {
        if (done(arg)) return true;
        if (poll) {
            QdProtocolEngine();
        } else {
            osSleep(1);
        }
    }
    return done(arg);
}

bool measuring(void *arg) { return protocolState[*(int16_t *)arg].state == APP_MEASURE_STATE; }
bool allIdle(void *) { return QdComState(QD_ALL_CONTEXTS) == QD_COM_IDLE; }

void stopAndClose(const std::vector<int16_t> &contexts, bool poll) {
    for (int16_t ctx : contexts) QdStopMeasurement((uint16_t)ctx);
    waitUntil(allIdle, nullptr, 3.0, poll);
    for (int16_t ctx : contexts) QdCloseDevContext((uint16_t)ctx);
}

}  // namespace

// The heaviest configuration's image, as the driver sends it.
std::vector<uint8_t> heavyImage() {
    int16_t ctx = openHeavy("QVIMAGE1");
    std::vector<uint8_t> image;
    if (ctx < 0) return image;
    const uint8_t *p = protoContextImage((uint16_t)ctx);
    // 16 general bytes and five channel records of 6 bytes.
    image.assign(p, p + 16 + kChannels * 6);
    QdCloseDevContext((uint16_t)ctx);
    return image;
}

// ---------------------------------------------------------------------------
// Device side
// ---------------------------------------------------------------------------

static std::vector<uint8_t> frame(const std::vector<uint8_t> &body) {
    std::vector<uint8_t> out(body.size() + 4);
    out.resize(simFrameWrite(body.data(), body.size(), out.data(), out.size()));
    return out;
}

// Puts a device into measurement at the heaviest configuration through its
// command interface, the replies thrown away.
void startDevice(SimDevice *dev, const std::vector<uint8_t> &image, uint32_t now) {
    std::vector<uint8_t> cfg = {0x07};
    cfg.insert(cfg.end(), image.begin(), image.end());
    for (const std::vector<uint8_t> &body : {cfg, std::vector<uint8_t>{0x04, 0x40}, std::vector<uint8_t>{0x08}}) {
        std::vector<uint8_t> f = frame(body);
        simDeviceReceive(dev, f.data(), f.size(), now);
    }
    uint8_t scratch[512];
    simDevicePending(dev, now);
    while (simDeviceTake(dev, scratch, sizeof scratch) > 0) {
    }
}

namespace {

// One phase cycle (65536 ticks, 4096 messages) of data frames of a device
// at the heaviest configuration.
std::vector<uint8_t> recordCycle(const std::vector<uint8_t> &image) {
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, kModel);
    SimDevice *dev = simDeviceCreate(&cfg);
    std::vector<uint8_t> stream;
    if (!dev) return stream;
    startDevice(dev, image, 0);
    // 65536 ticks at 2000 Hz: 32768 ms.
    uint32_t until = 32768;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (uint32_t t = 0; t <= until + 1000; t += 1000) {
        simDevicePending(dev, t);
        size_t n;
        while ((n = simDeviceTake(dev, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    simDeviceDestroy(dev);
    SimRx rx;
    simRxReset(&rx, SIM_MAX_BODY);
    size_t frameStart = 0;
    uint32_t ticks = 0;
    for (size_t i = 0; i < bytes.size() && ticks < 65536; ++i) {
        uint32_t length = 0;
        if (!simRxBusy(&rx)) frameStart = i;
        if (simRxFeed(&rx, bytes[i], &length) != SIM_RX_BODY) continue;
        if (rx.body[0] != 0xC1) continue;
        uint16_t phase = (uint16_t)(rx.body[1] | (rx.body[2] << 8));
        if (phase != (uint16_t)ticks) break;
        stream.insert(stream.end(), bytes.begin() + (long)frameStart, bytes.begin() + (long)i + 1);
        ticks += 16;   // every message of this configuration covers 16 ticks
    }
    if (ticks != 65536) {
        fprintf(stderr, "qdbench: the recorded stream covers %u ticks in %zu bytes, not 65536\n", (unsigned)ticks,
                bytes.size());
        stream.clear();
    }
    return stream;
}

// A peer that replays a recorded stream, always with bytes waiting.
struct Replay {
    const std::vector<uint8_t> *data;
    size_t pos;
    uint64_t taken;
};

void replayReceive(void *, const uint8_t *, size_t, uint32_t) {}
size_t replayPending(void *, uint32_t) { return 1u << 20; }
size_t replayTake(void *c, uint8_t *out, size_t max) {
    Replay *r = static_cast<Replay *>(c);
    const std::vector<uint8_t> &d = *r->data;
    for (size_t i = 0; i < max; ++i) {
        out[i] = d[r->pos];
        if (++r->pos == d.size()) r->pos = 0;
    }
    r->taken += max;
    return max;
}

// ---------------------------------------------------------------------------
// Throughput
// ---------------------------------------------------------------------------

// The D2XX calls that the engine makes for received bytes (a queue-status
// call and a one-byte read each), made without the driver on a transceiver
// of their own that replays the same stream.
struct CallBaseline {
    Replay replay;
    int tx = -1;
    FT_HANDLE handle = nullptr;
};

bool baselineOpen(CallBaseline *b, const std::vector<uint8_t> *cycle) {
    b->replay = Replay{cycle, 0, 0};
    b->tx = ftsimAdd("QVCALLS1", nullptr);
    FtSimPeer peer = {&b->replay, replayReceive, replayPending, replayTake, nullptr};
    ftsimAttachPeer(b->tx, &peer);
    return FT_OpenEx(const_cast<char *>("QVCALLS1"), FT_OPEN_BY_SERIAL_NUMBER, &b->handle) == FT_OK;
}

// CPU seconds of the calls for this many bytes.
double baselineRun(CallBaseline *b, uint64_t bytes) {
    double cpu0 = osThreadCpuSeconds();
    for (uint64_t i = 0; i < bytes; ++i) {
        uint32_t waiting = 0, got = 0;
        uint8_t x;
        FT_GetQueueStatus(b->handle, &waiting);
        FT_Read(b->handle, &x, 1, &got);
    }
    return osThreadCpuSeconds() - cpu0;
}

void baselineClose(CallBaseline *b) {
    FT_Close(b->handle);
    ftsimRemove(b->tx);
}

// The measured loop (callgrind collects inside it only).
__attribute__((noinline)) uint64_t benchDecodeLoop(uint64_t target) {
    uint64_t steps = 0;
    while (g_samples.load(std::memory_order_relaxed) < target) {
        QdProtocolEngine();
        ++steps;
    }
    return steps;
}

// The heavy measurement on a real simulated device (the handshake), then
// the device replaced by the replay of its recorded stream, which starts at
// the frame of the tick the driver expects next (data may have come before
// the replay took over). The context, or -1 when the measurement did not
// start.
int16_t startOnReplay(int *tx, Replay *replay, FtSimPeer *peer) {
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, kModel);
    SimDevice *dev = simDeviceCreate(&cfg);
    *tx = ftsimAdd("QVBENCH1", nullptr);
    ftsimAttachDevice(*tx, dev);
    int16_t ctx = openHeavy("QVBENCH1");
    if (ctx < 0 || QdStartMeasurement((uint16_t)ctx, 0) != QD_MEAS_STARTED || !waitUntil(measuring, &ctx, 3.0, true)) {
        return -1;
    }
    uint16_t expected = protocolState[ctx].staging.expectedPhase;
    const std::vector<uint8_t> &cycle = *replay->data;
    for (uint32_t ticks = 0; ticks < expected && replay->pos < cycle.size(); ticks += 16) {
        const uint8_t *f = cycle.data() + replay->pos;
        // The length in 7-bit groups: one byte, or two for bodies above 127.
        replay->pos += (f[0] & 0x80) ? 2u + ((f[0] & 0x7Fu) | ((uint32_t)f[1] << 7)) : 1u + f[0];
    }
    g_expected[ctx] = expected;
    ftsimAttachPeer(*tx, peer);
    simDeviceDestroy(dev);
    return ctx;
}

struct ThroughputFigures {
    double cpu = 0, callsCpu = 0, wall = 0;
    uint64_t steps = 0, bytes = 0, samples = 0;
    uint32_t calls = 0, statusCalls = 0, readCalls = 0;
};

// The engine and the same D2XX calls alone take turns in ten parts, so that
// a machine busy elsewhere for a while weighs on both alike.
bool runThroughputParts(const Options &o, Replay *replay, ThroughputFigures *f) {
    CallBaseline baseline;
    if (!baselineOpen(&baseline, replay->data)) return false;
    uint64_t wall0 = osClockUs();
    const int parts = 10;
    for (int k = 1; k <= parts; ++k) {
        uint64_t taken0 = replay->taken;
        uint32_t calls0 = ftsimCallCount(FTSIM_CALL_ALL), status0 = ftsimCallCount(FTSIM_CALL_GET_QUEUE_STATUS),
                 read0 = ftsimCallCount(FTSIM_CALL_READ);
        double cpu0 = osThreadCpuSeconds();
        f->steps += benchDecodeLoop(o.samples * (uint64_t)k / parts);
        f->cpu += osThreadCpuSeconds() - cpu0;
        f->calls += ftsimCallCount(FTSIM_CALL_ALL) - calls0;
        f->statusCalls += ftsimCallCount(FTSIM_CALL_GET_QUEUE_STATUS) - status0;
        f->readCalls += ftsimCallCount(FTSIM_CALL_READ) - read0;
        f->bytes += replay->taken - taken0;
        f->callsCpu += baselineRun(&baseline, replay->taken - taken0);
    }
    f->wall = (double)(osClockUs() - wall0) / 1e6;
    f->samples = g_samples.load();
    baselineClose(&baseline);
    return true;
}

void printThroughput(const ThroughputFigures &f) {
    double rate = f.cpu > 0 ? (double)f.samples / f.cpu : 0;
    double perByte = f.bytes ? (double)f.calls / (double)f.bytes : 0.0;
    printf("throughput: %llu samples (%llu bytes, %llu engine steps) in %.3f CPU-s (%.3f s wall with the D2XX "
           "baseline)\n",
           (unsigned long long)f.samples, (unsigned long long)f.bytes, (unsigned long long)f.steps, f.cpu, f.wall);
    printf("  decode-and-deliver: %.2f million samples per CPU-second, %.1f ns per sample (target >= 10 million)\n",
           rate / 1e6, f.cpu > 0 ? f.cpu * 1e9 / (double)f.samples : 0.0);
    printf("  D2XX calls per received byte: %.3f (%u calls: FT_GetQueueStatus %u, FT_Read %u)\n", perByte, f.calls,
           f.statusCalls, f.readCalls);
    double own = f.cpu - f.callsCpu;
    g_engineNsPerSample = own > 0 ? own * 1e9 / (double)f.samples : 0;
    printf("  the simulated D2XX calls alone take %.3f CPU-s of it; the engine without them: %.2f million samples\n"
           "  per CPU-second, %.1f ns per sample\n",
           f.callsCpu, own > 0 ? (double)f.samples / own / 1e6 : 0.0, own * 1e9 / (double)f.samples);
    printf("  phase losses seen by the host: %llu\n", (unsigned long long)g_gaps.load());
    printf("figure: samples_per_cpu_second %.0f\n", rate);
    printf("figure: engine_samples_per_cpu_second_without_d2xx %.0f\n", own > 0 ? (double)f.samples / own : 0.0);
    printf("figure: ft_calls_per_byte %.3f\n", perByte);
    printf("figure: throughput_samples %llu\n", (unsigned long long)f.samples);
}

int throughput(const Options &o) {
    ftsimReset();
    std::vector<uint8_t> image = heavyImage();
    std::vector<uint8_t> cycle = recordCycle(image);
    if (image.empty() || cycle.empty()) {
        fprintf(stderr, "qdbench: cannot record the device stream\n");
        return 2;
    }
    Replay replay = {&cycle, 0, 0};
    FtSimPeer peer = {&replay, replayReceive, replayPending, replayTake, nullptr};
    int tx = -1;
    int16_t ctx = startOnReplay(&tx, &replay, &peer);
    if (ctx < 0) {
        fprintf(stderr, "qdbench: the measurement did not start\n");
        return 2;
    }
    g_samples = 0;
    g_gaps = 0;
    ftsimResetCallCounts();
    ThroughputFigures f;
    if (!runThroughputParts(o, &replay, &f)) return 2;
    ftsimAttachPeer(tx, nullptr);
    protoForceIdle((uint16_t)ctx);
    QdCloseDevContext((uint16_t)ctx);
    printThroughput(f);
    return 0;
}

// ---------------------------------------------------------------------------
// CPU share of the engine thread with many devices
// ---------------------------------------------------------------------------

// The engine thread's CPU time, read on the engine thread itself by the
// sample callback when asked.
std::atomic<int> g_wantCpu{0};
std::atomic<double> g_engineCpu{0};
std::atomic<uint64_t> g_engineCpuAt{0};

int QDCALL cpuProbe(uint16_t ctx, uint16_t phase, uint16_t sum, ChannelSamples *ch) {
    countSamples(ctx, phase, sum, ch);
    if (g_wantCpu.load(std::memory_order_relaxed)) {
        g_engineCpu = osThreadCpuSeconds();
        g_engineCpuAt = osClockUs();
        g_wantCpu = 0;
    }
    return 0;
}

bool cpuTaken(void *) { return g_wantCpu.load() == 0; }

// The simulator alone: the devices drained by one thread every 2 ms with
// the engine's D2XX pattern (queue status and a one-byte read per byte).
struct Drain {
    std::vector<FT_HANDLE> handles;
    std::atomic<int> run{1};
    std::atomic<int> want{0};
    double cpu = 0;
    uint64_t at = 0;
    uint64_t bytes = 0;
};

void drainThread(void *arg) {
    Drain *d = static_cast<Drain *>(arg);
    while (d->run.load()) {
        for (FT_HANDLE h : d->handles) {
            for (int n = 0; n < 8192; ++n) {
                uint32_t waiting = 0;
                FT_GetQueueStatus(h, &waiting);
                if (waiting == 0) break;
                uint8_t b;
                uint32_t got = 0;
                FT_Read(h, &b, 1, &got);
                d->bytes += got;
            }
        }
        if (d->want.load()) {
            d->cpu = osThreadCpuSeconds();
            d->at = osClockUs();
            d->want = 0;
        }
        osSleep(2);
    }
}

bool drainTaken(void *arg) { return static_cast<Drain *>(arg)->want.load() == 0; }

struct Round {
    double percent = 0;     // of one core
    double samplesPerSecond = 0;
    uint32_t calls = 0;
    uint32_t reads = 0;
    uint64_t gaps = 0;
};

// The engine thread's CPU share while the devices stream through the driver.
bool engineRound(int devices, double seconds, Round *r) {
    ftsimReset();
    std::vector<int16_t> contexts;
    char serial[16];
    for (int i = 0; i < devices; ++i) {
        snprintf(serial, sizeof serial, "QVBNCH%02d", i);
        int tx = ftsimAdd(serial, nullptr);
        if (tx < 0 || ftsimAttachNewDevice(tx, kModel, nullptr) < 0) return false;
        int16_t ctx = openHeavy(serial);
        if (ctx < 0) return false;
        contexts.push_back(ctx);
    }
    QdSetCallbacks(cpuProbe, nullptr, nullptr);
    for (int16_t ctx : contexts) {
        g_expected[ctx] = 0;
        if (QdStartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) != QD_MEAS_STARTED) {
            fprintf(stderr, "qdbench: context %d did not start\n", ctx);
            return false;
        }
    }
    for (int16_t ctx : contexts) waitUntil(measuring, &ctx, 3.0, false);
    osSleep(300);
    g_gaps = 0;
    g_wantCpu = 1;
    waitUntil(cpuTaken, nullptr, 2.0, false);
    double cpu0 = g_engineCpu, samples0 = (double)g_samples.load();
    uint64_t at0 = g_engineCpuAt;
    uint32_t calls0 = ftsimCallCount(FTSIM_CALL_ALL), reads0 = ftsimCallCount(FTSIM_CALL_READ);
    osSleep((uint32_t)(seconds * 1000));
    g_wantCpu = 1;
    waitUntil(cpuTaken, nullptr, 2.0, false);
    double window = (double)(g_engineCpuAt - at0) / 1e6;
    r->percent = window > 0 ? 100.0 * (g_engineCpu - cpu0) / window : 0;
    r->samplesPerSecond = window > 0 ? ((double)g_samples.load() - samples0) / window : 0;
    r->calls = ftsimCallCount(FTSIM_CALL_ALL) - calls0;
    r->reads = ftsimCallCount(FTSIM_CALL_READ) - reads0;
    r->gaps = g_gaps.load();
    stopAndClose(contexts, false);
    QdSetCallbacks(countSamples, nullptr, nullptr);
    ftsimReset();
    return true;
}

// The simulator alone: the same devices, drained by a thread of the same
// priority with the engine's D2XX pattern.
bool simulatorRound(int devices, double seconds, const std::vector<uint8_t> &image, Round *r) {
    ftsimReset();
    Drain drain;
    char serial[16];
    for (int i = 0; i < devices; ++i) {
        snprintf(serial, sizeof serial, "QVBNCH%02d", i);
        int tx = ftsimAdd(serial, nullptr);
        ftsimAttachNewDevice(tx, kModel, nullptr);
        FT_HANDLE h = nullptr;
        if (FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h) != FT_OK) return false;
        startDevice(ftsimDevice(tx), image, osClockMs());
        drain.handles.push_back(h);
    }
    OsThread thread = osThreadStart(drainThread, &drain, 64 * 1024, OS_PRIORITY_HIGHEST);
    osSleep(300);
    drain.want = 1;
    waitUntil(drainTaken, &drain, 2.0, false);
    double cpu0 = drain.cpu;
    uint64_t at0 = drain.at;
    uint32_t calls0 = ftsimCallCount(FTSIM_CALL_ALL);
    osSleep((uint32_t)(seconds * 1000));
    drain.want = 1;
    waitUntil(drainTaken, &drain, 2.0, false);
    double window = (double)(drain.at - at0) / 1e6;
    r->percent = window > 0 ? 100.0 * (drain.cpu - cpu0) / window : 0;
    r->calls = ftsimCallCount(FTSIM_CALL_ALL) - calls0;
    drain.run = 0;
    osThreadJoin(thread);
    for (FT_HANDLE h : drain.handles) FT_Close(h);
    ftsimReset();
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int cpuShare(const Options &o) {
    int devices = std::min(o.devices, 10);
    std::vector<uint8_t> image = heavyImage();
    // Rounds of the two, one after the other, so that a machine busy with
    // other work at one moment weighs on both alike.
    const int rounds = 5;
    double window = o.seconds / rounds;
    std::vector<double> engine, simulator, driver;
    Round e, s;
    uint64_t gaps = 0;
    for (int i = 0; i < rounds; ++i) {
        if (!engineRound(devices, window, &e) || !simulatorRound(devices, window, image, &s)) return 2;
        engine.push_back(e.percent);
        simulator.push_back(s.percent);
        driver.push_back(e.percent - s.percent);
        gaps += e.gaps;
    }
    double enginePct = median(engine), simPct = median(simulator), driverPct = median(driver);
    printf("cpu: %d devices at the heaviest configuration, %d rounds of %.1f s: %.0f samples per second, "
           "%llu phase losses\n",
           devices, rounds, window, e.samplesPerSecond, (unsigned long long)gaps);
    printf("  engine thread: %.2f%% of one core (median; %u D2XX calls in a round, %.3f per byte)\n", enginePct,
           e.calls, e.reads ? (double)e.calls / e.reads : 0.0);
    printf("  simulator alone (same devices, same D2XX pattern): %.2f%% of one core (%u D2XX calls)\n", simPct,
           s.calls);
    printf("  driver without the simulator: %.2f%% of one core (median of the rounds' differences; rounds:", driverPct);
    for (double d : driver) printf(" %.2f", d);
    printf(") (target < 2%%)\n");
    if (g_engineNsPerSample > 0) {
        printf("  the engine's cost per sample beside the D2XX calls (throughput above) at this rate: %.2f%%\n",
               e.samplesPerSecond * g_engineNsPerSample * 1e-9 * 100.0);
    }
    printf("figure: engine_thread_percent %.3f\n", enginePct);
    printf("figure: simulator_percent %.3f\n", simPct);
    printf("figure: driver_percent %.3f\n", driverPct);
    return 0;
}

// ---------------------------------------------------------------------------
// Latency of the first sample
// ---------------------------------------------------------------------------

// 16 ticks at 2000 Hz.
const double kFirstMessageMs = 8.0;

std::atomic<uint64_t> g_firstUs{0};
std::atomic<uint32_t> g_deviceFirstMs{0};

int QDCALL firstSample(uint16_t, uint16_t, uint16_t, ChannelSamples *ch) {
    bool any = false;
    for (int c = 0; c < kChannels; ++c) any = any || ch[c].count > 0;
    uint64_t none = 0;
    if (any) g_firstUs.compare_exchange_strong(none, osClockUs());
    return 0;
}

// A fresh simulator with one heavy device behind transceiver `serial`,
// whose data messages the tap sees as they go on the wire, and its context
// opened with the heavy configuration (-1 when it cannot be had).
int16_t openTapped(const char *serial, SimDataTap tap, SimDevice **dev, int *tx) {
    ftsimReset();
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, kModel);
    *dev = simDeviceCreate(&cfg);
    *tx = ftsimAdd(serial, nullptr);
    ftsimAttachDevice(*tx, *dev);
    simDeviceSetDataTap(*dev, tap, nullptr);
    return openHeavy(serial);
}

// Undoes openTapped: the counting callback back, the context closed, the
// device gone.
void closeTapped(int16_t ctx, int tx, SimDevice *dev) {
    QdSetCallbacks(countSamples, nullptr, nullptr);
    QdCloseDevContext((uint16_t)ctx);
    ftsimAttachPeer(tx, nullptr);
    simDeviceDestroy(dev);
}

void firstMessageTap(void *, const SimDataInfo *info) {
    uint32_t none = 0;
    if (info->firstTick == 0) g_deviceFirstMs.compare_exchange_strong(none, info->timeMs);
}

bool gotFirst(void *) { return g_firstUs.load() != 0; }

int latency(const Options &o) {
    SimDevice *dev = nullptr;
    int tx = -1;
    int16_t ctx = openTapped("QVLATNC1", firstMessageTap, &dev, &tx);
    if (ctx < 0) return 2;
    QdSetCallbacks(firstSample, nullptr, nullptr);
    std::vector<double> total, device, driver;
    for (int run = 0; run < o.runs; ++run) {
        g_firstUs = 0;
        g_deviceFirstMs = 0;
        uint64_t t0 = osClockUs();
        uint32_t t0ms = osClockMs();
        if (QdStartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) != QD_MEAS_STARTED) return 2;
        waitUntil(gotFirst, nullptr, 2.0, false);
        uint64_t t1 = g_firstUs.load();
        if (t1 != 0) {
            // The device's first message is due 16 ticks of 0.5 ms after
            // it started measuring: what lies before is the handshake, what
            // lies after the delivery.
            double all = (double)(t1 - t0) / 1000.0;
            double due = (double)(g_deviceFirstMs.load() - t0ms);
            total.push_back(all);
            device.push_back(due - kFirstMessageMs);
            driver.push_back(all - kFirstMessageMs);
        }
        QdStopMeasurement((uint16_t)ctx);
        waitUntil(allIdle, nullptr, 3.0, false);
    }
    closeTapped(ctx, tx, dev);
    if (total.empty()) {
        fprintf(stderr, "qdbench: no sample arrived\n");
        return 2;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto most = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); };
    printf("latency: %zu starts, QdStartMeasurement to the first delivered sample: median %.1f ms, max %.1f ms\n",
           total.size(), median(total), most(total));
    printf("  the device needs %.1f ms for its first data message (16 ticks of 0.5 ms); the handshake until it\n"
           "  measures takes %.1f ms (median); the driver's part (handshake and delivery): median %.1f ms,\n"
           "  max %.1f ms (target < 50 ms)\n",
           kFirstMessageMs, median(device), median(driver), most(driver));
    printf("figure: first_sample_ms %.1f\n", median(total));
    printf("figure: first_sample_driver_ms %.1f\n", median(driver));
    return 0;
}

// When each data message went on the wire (driver clock, ms), by phase.
uint32_t g_wireMs[65536];
std::vector<double> g_deliveryMs;

void wireTap(void *, const SimDataInfo *info) {
    if (info->fate == SIM_FATE_SENT) g_wireMs[info->phase] = info->timeMs;
}

int QDCALL deliveredSample(uint16_t, uint16_t phase, uint16_t, ChannelSamples *) {
    if (g_deliveryMs.size() < g_deliveryMs.capacity()) {
        g_deliveryMs.push_back((double)osClockUs() / 1000.0 - (double)g_wireMs[phase]);
    }
    return 0;
}

int delivery(const Options &o) {
    SimDevice *dev = nullptr;
    int tx = -1;
    int16_t ctx = openTapped("QVDELIV1", wireTap, &dev, &tx);
    if (ctx < 0) return 2;
    g_deliveryMs.clear();
    g_deliveryMs.reserve((size_t)(o.seconds * 200) + 100);
    QdSetCallbacks(deliveredSample, nullptr, nullptr);
    if (QdStartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) != QD_MEAS_STARTED) return 2;
    osSleep((uint32_t)(o.seconds * 1000));
    QdStopMeasurement((uint16_t)ctx);
    waitUntil(allIdle, nullptr, 3.0, false);
    closeTapped(ctx, tx, dev);
    std::vector<double> v = g_deliveryMs;
    if (v.empty()) return 2;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, (size_t)(q * (double)v.size()))]; };
    printf("delivery through the D2XX seam: %zu data messages in %.0f s, wire to sample callback: p50 %.2f ms, "
           "p99 %.2f ms, max %.2f ms (aim: p99 < 5 ms; the engine thread polls every 2 ms)\n",
           v.size(), o.seconds, at(0.5), at(0.99), v.back());
    printf("figure: delivery_seam_p99_ms %.2f\n", at(0.99));
    return 0;
}

// The ring figure, beside the byte rate of a device at the heaviest
// configuration (one phase cycle of its stream: 65536 ticks at 2000 Hz).
int bleRing(const Options &o) {
    ftsimReset();
    std::vector<uint8_t> cycle = recordCycle(heavyImage());
    if (cycle.empty()) return 2;
    return bleRingBench(std::min<uint64_t>(o.samples, 5000000), (double)cycle.size() / (65536.0 / 2000.0));
}

int usage() {
    fprintf(stderr, "usage: qdbench [all|throughput|cpu|latency|scale|delivery|blering] [--samples N] [--seconds S] [--devices N] "
                    "[--runs N]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    Options o;
    std::string what = "all";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--samples" && more) {
            o.samples = strtoull(argv[++i], nullptr, 10);
        } else if (a == "--seconds" && more) {
            o.seconds = atof(argv[++i]);
        } else if (a == "--devices" && more) {
            o.devices = atoi(argv[++i]);
        } else if (a == "--runs" && more) {
            o.runs = atoi(argv[++i]);
        } else if (a[0] != '-') {
            what = a;
        } else {
            return usage();
        }
    }
    // The driver log goes to a folder of its own, not the machine's.
    char temp[512];
    std::string shared = osTempDir(temp, sizeof temp) > 0 ? std::string(temp) + "qdbench" : std::string("qdbench");
    osSetEnv("ALLUSERSPROFILE", shared.c_str());
    driverAttach();
    QdSetCallbacks(countSamples, nullptr, nullptr);
    int rc = 0;
    if (what == "throughput" || what == "all") rc = rc ? rc : throughput(o);
    if (what == "latency" || what == "all") rc = rc ? rc : latency(o);
    if (what == "cpu" || what == "all") rc = rc ? rc : cpuShare(o);
    // Scale rows: rounds of a fifth of --seconds each (2 s by default) for
    // the driver and for the simulator alone, three of each (one in short
    // runs); --runs starts per link kind.
    if (what == "scale" || what == "all") {
        rc = rc ? rc : scaleBench(o.devices, o.seconds / 5, o.seconds >= 5 ? 3 : 1, o.runs);
    }
    if (what == "delivery") rc = delivery(o);
    if (what == "blering" || what == "all") rc = rc ? rc : bleRing(o);
    if (what != "all" && what != "throughput" && what != "cpu" && what != "latency" && what != "scale" &&
        what != "blering" && what != "delivery") {
        rc = usage();
    }
    QdSetCallbacks(nullptr, nullptr, nullptr);
    driverDetach();
    return rc;
}
