// bench_usb_latency - the delivery latency through libftdi1 and libusb: a
// host of the shipped driver library, run under the emulated FTDI
// transceiver (sim/umockdev_ftdi), measures a "Quorvane Halvex+ 4 USB" at
// the heaviest configuration (four channels at 2000 sps, the button channel
// at 250 sps) on the driver's engine thread and takes, for every data
// message, the time from the moment the emulated device put it on the wire
// (the bed's wire-times file, CLOCK_MONOTONIC by phase) to the moment the
// sample callback has it. Prints p50, p99 and max; never fails on a slow
// machine.
//
// With --devices N (the bed's --chips N) it measures N such devices at once,
// the first by latency, and prints the CPU per device of the engine thread
// (read on that thread in the sample callback; qdbench scale prints the same
// through the simulator's seam) and of the whole process (the engine, the
// D2XX layer's reader threads, libusb and umockdev's preload, which turns
// every usbfs call into a round trip to the bed).
//
//   umockdev-wrapper ftdi_bed --model "Quorvane Halvex+ 4 USB" --wire-times F
//       [--chips N] -- bench_usb_latency --wire-times F [--seconds S]
//       [--devices N] [--driver PATH]
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "os/os.h"
#include "sim/umockdev_ftdi/usbfs_chip.h"
#include "tools/common/driver_binding.h"

namespace {

const size_t WIRE_ENTRIES = 65536;
const char kModel[] = "Quorvane Halvex+ 4 USB";

const int MAX_DEVICES = 16;
const double WARM_UP_SECONDS = 1.0;

const uint64_t *g_wire = nullptr;
std::vector<double> g_ms;
int16_t g_timed = -1;                     // the context measured by latency
std::atomic<uint64_t> g_messages[QD_MAX_CONTEXTS];
std::atomic<double> g_engineCpu{0};       // the engine thread's CPU seconds, at its last callback

uint64_t nowNs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

int QDCALL onSamples(uint16_t ctx, uint16_t phase, uint16_t, ChannelSamples *) {
    if (ctx < QD_MAX_CONTEXTS) g_messages[ctx].fetch_add(1, std::memory_order_relaxed);
    g_engineCpu.store(osThreadCpuSeconds(), std::memory_order_relaxed);
    if ((int16_t)ctx != g_timed) return 0;
    uint64_t wire = g_wire[phase];
    if (wire != 0 && g_ms.size() < g_ms.capacity()) g_ms.push_back((double)(nowNs() - wire) / 1e6);
    return 0;
}

// The serial number of the bed's k-th transceiver (ftdi_bed --chips, its
// default serial number).
std::string serialOf(int k) {
    char text[USBFS_SERIAL_SIZE];
    usbfsChipSerial("QV012345", k, text);
    return text;
}

bool heavy(const DriverApi &api, const std::string &serial) {
    bool ok = api.Str2Param(serial.c_str(), QD_PAR_DEVICE_ID, 0) == 0;
    for (uint16_t c = 0; c < 4; ++c) {
        ok = ok && api.Str2Param("1", QD_PAR_CHANNEL_ENABLE, c) == 0 &&
             api.Str2Param("Voltage", QD_PAR_CHANNEL_FUNCTION, c) == 0 &&
             api.Str2Param("6000", QD_PAR_MEASUREMENT_RANGE, c) == 0 &&
             api.Str2Param("0.5", QD_PAR_LOWER_LIMIT, c) == 0 && api.Str2Param("2000", QD_PAR_SAMPLE_RATE, c) == 0;
    }
    return ok && api.Str2Param("1", QD_PAR_CHANNEL_ENABLE, 4) == 0 &&
           api.Str2Param("250", QD_PAR_SAMPLE_RATE, 4) == 0;
}

// Opens and starts n devices, the first one timed; false when one fails.
bool startAll(const DriverApi &api, int n, std::vector<int16_t> *contexts) {
    api.SetCallbacks(onSamples, nullptr, nullptr);
    for (int k = 0; k < n; ++k) {
        int16_t ctx = api.OpenDevContext(kModel);
        if (ctx < 0) return false;
        contexts->push_back(ctx);
        if (k == 0) g_timed = ctx;
        if (!heavy(api, serialOf(k)) || api.StartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) != QD_MEAS_STARTED) {
            return false;
        }
    }
    return true;
}

void stopAll(const DriverApi &api, const std::vector<int16_t> &contexts) {
    for (int16_t ctx : contexts) api.StopMeasurement((uint16_t)ctx);
    for (int i = 0; i < 300 && api.ComState(QD_ALL_CONTEXTS) != QD_COM_IDLE; ++i) osSleep(10);
    api.SetCallbacks(nullptr, nullptr, nullptr);
    for (int16_t ctx : contexts) api.CloseDevContext((uint16_t)ctx);
}

struct Cpu {
    double process, engine;   // percent of one core
};

// Measures for the given seconds after a warm-up; the CPU in percent of a
// core, and how many devices delivered in the measured time.
Cpu measure(const std::vector<int16_t> &contexts, double seconds, int *delivering) {
    osSleep((uint32_t)(WARM_UP_SECONDS * 1000));
    std::vector<uint64_t> before;
    for (int16_t ctx : contexts) before.push_back(g_messages[ctx].load());
    g_ms.clear();
    double cpu0 = osProcessCpuSeconds(), engine0 = g_engineCpu.load();
    uint64_t t0 = osClockUs();
    osSleep((uint32_t)(seconds * 1000));
    double wall = (double)(osClockUs() - t0) / 1e6, cpu = osProcessCpuSeconds() - cpu0;
    double engine = g_engineCpu.load() - engine0;
    *delivering = 0;
    for (size_t i = 0; i < contexts.size(); ++i) *delivering += g_messages[contexts[i]].load() > before[i];
    return wall > 0 ? Cpu{100.0 * cpu / wall, 100.0 * engine / wall} : Cpu{0, 0};
}

void printFigures(int n, double seconds, Cpu cpu, int delivering) {
    std::vector<double> v = g_ms;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v.empty() ? 0 : v[std::min(v.size() - 1, (size_t)(q * (double)v.size()))]; };
    std::printf("delivery through libftdi1 and libusb (emulated transceiver, latency timer 2 ms): %zu data messages "
                "in %.0f s, wire to sample callback: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                v.size(), seconds, at(0.5), at(0.99), v.empty() ? 0 : v.back());
    std::printf("figure: delivery_usb_p99_ms %.2f\n", at(0.99));
    std::printf("%d of %d devices delivered throughout; per device: the engine thread %.3f%% of a core, the "
                "process %.2f%%\n",
                delivering, n, cpu.engine / n, cpu.process / n);
    std::printf("figure: usb_libftdi_%d_engine_percent_per_device %.3f\n", n, cpu.engine / n);
    std::printf("figure: usb_libftdi_%d_process_percent_per_device %.3f\n", n, cpu.process / n);
}

const uint64_t *mapWireTimes(const std::string &path) {
    int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY);
    void *map = fd < 0 ? MAP_FAILED : mmap(nullptr, WIRE_ENTRIES * 8, PROT_READ, MAP_SHARED, fd, 0);
    if (fd >= 0) close(fd);
    return map == MAP_FAILED ? nullptr : static_cast<const uint64_t *>(map);
}

}  // namespace

int main(int argc, char **argv) {
    std::string wireFile, driver;
    double seconds = 20;
    int devices = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--wire-times")) wireFile = argv[i + 1];
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--driver")) driver = argv[i + 1];
        if (!std::strcmp(argv[i], "--devices")) devices = std::atoi(argv[i + 1]);
    }
    if (devices < 1 || devices > MAX_DEVICES) {
        std::fprintf(stderr, "bench_usb_latency: --devices takes 1 to %d\n", MAX_DEVICES);
        return 2;
    }
    g_wire = mapWireTimes(wireFile);
    if (!g_wire) {
        std::fprintf(stderr, "bench_usb_latency: no wire-times file (run it under ftdi_bed --wire-times FILE)\n");
        return 2;
    }
    DriverApi api;
    std::string why;
    if (!driverLoad(&api, driver, QDACQ_HINTS, &why)) {
        std::fprintf(stderr, "bench_usb_latency: %s\n", why.c_str());
        return 2;
    }
    g_ms.reserve((size_t)(seconds * 200) + 100);
    std::vector<int16_t> contexts;
    bool started = startAll(api, devices, &contexts);
    int delivering = 0;
    Cpu cpu = started ? measure(contexts, seconds, &delivering) : Cpu{0, 0};
    stopAll(api, contexts);
    driverUnload(&api);
    if (!started) std::fprintf(stderr, "bench_usb_latency: the measurements did not all start\n");
    if (!started || g_ms.empty()) return 2;
    printFigures(devices, seconds, cpu, delivering);
    return 0;
}
