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
//   umockdev-wrapper ftdi_bed --model "Quorvane Halvex+ 4 USB" --wire-times F
//       -- bench_usb_latency --wire-times F [--seconds S] [--driver PATH]
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "os/os.h"
#include "tools/common/driver_binding.h"

namespace {

const size_t WIRE_ENTRIES = 65536;
const char kModel[] = "Quorvane Halvex+ 4 USB";

const uint64_t *g_wire = nullptr;
std::vector<double> g_ms;

uint64_t nowNs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

int QDCALL onSamples(uint16_t, uint16_t phase, uint16_t, ChannelSamples *) {
    uint64_t wire = g_wire[phase];
    if (wire != 0 && g_ms.size() < g_ms.capacity()) g_ms.push_back((double)(nowNs() - wire) / 1e6);
    return 0;
}

bool heavy(const DriverApi &api) {
    bool ok = api.Str2Param("QV012345", QD_PAR_DEVICE_ID, 0) == 0;
    for (uint16_t c = 0; c < 4; ++c) {
        ok = ok && api.Str2Param("1", QD_PAR_CHANNEL_ENABLE, c) == 0 &&
             api.Str2Param("Voltage", QD_PAR_CHANNEL_FUNCTION, c) == 0 &&
             api.Str2Param("6000", QD_PAR_MEASUREMENT_RANGE, c) == 0 &&
             api.Str2Param("0", QD_PAR_LOWER_LIMIT, c) == 0 && api.Str2Param("2000", QD_PAR_SAMPLE_RATE, c) == 0;
    }
    return ok && api.Str2Param("1", QD_PAR_CHANNEL_ENABLE, 4) == 0 &&
           api.Str2Param("250", QD_PAR_SAMPLE_RATE, 4) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string wireFile, driver;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--wire-times")) wireFile = argv[i + 1];
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--driver")) driver = argv[i + 1];
    }
    int fd = wireFile.empty() ? -1 : open(wireFile.c_str(), O_RDONLY);
    void *map = fd < 0 ? MAP_FAILED : mmap(nullptr, WIRE_ENTRIES * 8, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "bench_usb_latency: no wire-times file (run it under ftdi_bed --wire-times FILE)\n");
        return 2;
    }
    g_wire = static_cast<const uint64_t *>(map);
    DriverApi api;
    std::string why;
    if (!driverLoad(&api, driver, QDACQ_HINTS, &why)) {
        std::fprintf(stderr, "bench_usb_latency: %s\n", why.c_str());
        return 2;
    }
    g_ms.reserve((size_t)(seconds * 200) + 100);
    int16_t ctx = api.OpenDevContext(kModel);
    api.SetCallbacks(onSamples, nullptr, nullptr);
    if (ctx < 0 || !heavy(api) || api.StartMeasurement((uint16_t)ctx, QD_START_ENGINE_THREAD) != QD_MEAS_STARTED) {
        std::fprintf(stderr, "bench_usb_latency: the measurement did not start\n");
        return 2;
    }
    osSleep((uint32_t)(seconds * 1000));
    api.StopMeasurement((uint16_t)ctx);
    for (int i = 0; i < 300 && api.ComState(QD_ALL_CONTEXTS) != QD_COM_IDLE; ++i) osSleep(10);
    api.SetCallbacks(nullptr, nullptr, nullptr);
    api.CloseDevContext((uint16_t)ctx);
    driverUnload(&api);
    std::vector<double> v = g_ms;
    if (v.empty()) return 2;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, (size_t)(q * (double)v.size()))]; };
    std::printf("delivery through libftdi1 and libusb (emulated transceiver, latency timer 2 ms): %zu data messages "
                "in %.0f s, wire to sample callback: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                v.size(), seconds, at(0.5), at(0.99), v.back());
    std::printf("figure: delivery_usb_p99_ms %.2f\n", at(0.99));
    return 0;
}
