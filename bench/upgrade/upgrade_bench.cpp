// bench_upgrade - the firmware loader's upload against the wire time of its
// bytes.
//
//   bench_upgrade [--image BYTES] [--runs N]
//
// A "Quorvane Halvex-4 USB" waits in its boot loader behind a simulated USB
// transceiver whose line runs at 921,600 baud both ways (10 bits a byte):
// the device sees the loader's bytes only when they would have crossed the
// line, and its replies likewise. The loader uploads an image of BYTES
// (default 65,024, the largest the 16-bit length field allows: 127 blocks)
// the way the command line does (poll, sleep 1 ms). The upload waits for
// each block's reply, so the ratio of the run's time to the wire time of
// all its bytes shows what the polling loop adds. Prints figures; never
// fails on a slow machine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "Upgrade/firmware.h"
#include "Upgrade/output.h"
#include "Upgrade/update.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "sim/sim_boot.h"
#include "sim/sim_device.h"

namespace {

const double BAUD = 921600.0;
const double BYTE_US = 10.0 * 1e6 / BAUD;

// A peer that holds the bytes of both directions until they have crossed
// the line.
struct PacedLine {
    SimDevice *dev;
    double inFreeUs = 0, outFreeUs = 0;     // when each direction's line is free
    std::deque<std::pair<double, std::vector<uint8_t>>> toDevice;
    std::deque<std::pair<double, uint8_t>> toHost;
    uint64_t bytesIn = 0, bytesOut = 0;
};

void deliver(PacedLine *p, uint32_t nowMs) {
    const double now = (double)osClockUs();
    while (!p->toDevice.empty() && p->toDevice.front().first <= now) {
        simDeviceReceive(p->dev, p->toDevice.front().second.data(), p->toDevice.front().second.size(), nowMs);
        p->toDevice.pop_front();
    }
    uint8_t buffer[256];
    while (simDevicePending(p->dev, nowMs) > 0) {
        const size_t n = simDeviceTake(p->dev, buffer, sizeof buffer);
        for (size_t i = 0; i < n; ++i) {
            p->outFreeUs = std::max(p->outFreeUs, now) + BYTE_US;
            p->toHost.emplace_back(p->outFreeUs, buffer[i]);
        }
        p->bytesOut += n;
    }
}

void lineReceive(void *ctx, const uint8_t *data, size_t size, uint32_t nowMs) {
    PacedLine *p = (PacedLine *)ctx;
    p->inFreeUs = std::max(p->inFreeUs, (double)osClockUs()) + BYTE_US * (double)size;
    p->toDevice.emplace_back(p->inFreeUs, std::vector<uint8_t>(data, data + size));
    p->bytesIn += size;
    deliver(p, nowMs);
}

size_t linePending(void *ctx, uint32_t nowMs) {
    PacedLine *p = (PacedLine *)ctx;
    deliver(p, nowMs);
    const double now = (double)osClockUs();
    size_t n = 0;
    while (n < p->toHost.size() && p->toHost[n].first <= now)
        ++n;
    return n;
}

size_t lineTake(void *ctx, uint8_t *buffer, size_t max) {
    PacedLine *p = (PacedLine *)ctx;
    const double now = (double)osClockUs();
    size_t n = 0;
    while (n < max && !p->toHost.empty() && p->toHost.front().first <= now) {
        buffer[n++] = p->toHost.front().second;
        p->toHost.pop_front();
    }
    return n;
}

std::string writeImage(uint32_t length) {
    std::vector<uint8_t> b(length);
    for (uint32_t i = 0; i < length; ++i)
        b[i] = (uint8_t)(i * 13 + 5);
    const char name[] = "Halvex application";
    b[0] = 9, b[1] = 0, b[2] = 0;
    std::memset(&b[FW_NAME_OFFSET], 0, FW_NAME_SIZE);
    std::memcpy(&b[FW_NAME_OFFSET], name, sizeof name - 1);
    b[FW_LENGTH_OFFSET] = (uint8_t)length, b[FW_LENGTH_OFFSET + 1] = (uint8_t)(length >> 8);
    const uint16_t crc = crcUpdate(CRC_START, b.data(), b.size());
    b.push_back((uint8_t)crc), b.push_back((uint8_t)(crc >> 8));
    char dir[512];
    osTempDir(dir, sizeof dir);
    const std::string path = std::string(dir) + "qd-bench-upgrade.bin";
    OsFile f = osFileOpen(path.c_str(), OS_FILE_WRITE | OS_FILE_TRUNCATE);
    osFileWrite(f, b.data(), (uint32_t)b.size());
    osFileClose(f);
    return path;
}

// One upload; returns its seconds and fills the wire seconds, or -1.
double upload(const std::string &path, double *wireSeconds) {
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, "Quorvane Halvex-4 USB");
    SimDevice *dev = simDeviceCreate(&cfg);
    simDeviceBoot(dev)->enterBoot = true;      // waiting in its boot loader
    simDevicePowerCycle(dev, osClockMs());
    PacedLine line;
    line.dev = dev;
    const FtSimPeer peer = {&line, lineReceive, linePending, lineTake, nullptr};
    ftsimReset();
    const int tx = ftsimAdd("QVBENCH1", nullptr);
    ftsimAttachPeer(tx, &peer);
    LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
    double seconds = -1;
    if (OpenLink(LINK_USB, "QVBENCH1", &link, nullptr, 0) == 1 && OpenFirmwareFile(path.c_str(), nullptr) == 0) {
        const uint64_t start = osClockUs();
        StartUpdate(&link, firmwareHeader());
        while (PollUpdate())
            osSleep(1);
        if (updateState() == UPD_OK) seconds = (double)(osClockUs() - start) / 1e6;
        *wireSeconds = (double)(line.bytesIn + line.bytesOut) * BYTE_US / 1e6;
    }
    CloseFirmwareFile();
    CloseLink(&link);
    ftsimReset();
    simDeviceDestroy(dev);
    return seconds;
}

}  // namespace

int main(int argc, char **argv) {
    uint32_t image = FW_MAX_IMAGE;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--image") == 0) image = (uint32_t)std::atoi(argv[i + 1]) / 512 * 512;
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    }
    if (image < 512 || image > FW_MAX_IMAGE || runs < 1) {
        std::fprintf(stderr, "usage: bench_upgrade [--image BYTES] [--runs N]\n");
        return 2;
    }
    if (!InitLinkLibrary()) return 2;
    const std::string path = writeImage(image);
    std::printf("upload of a %u-byte image (%u blocks) at 921600 baud, %d runs\n", image, image / 512, runs);
    double best = 1e9, worst = 0, wire = 0;
    for (int r = 0; r < runs; ++r) {
        const double s = upload(path, &wire);
        if (s < 0) {
            std::printf("upload failed\n");
            return 2;
        }
        best = std::min(best, s), worst = std::max(worst, s);
    }
    osFileDelete(path.c_str());
    std::printf("wire time of its bytes (both ways): %.1f ms\n", wire * 1e3);
    std::printf("upload: best %.1f ms, worst %.1f ms (%.2f ms a block)\n", best * 1e3, worst * 1e3,
                best * 1e3 / (image / 512));
    std::printf("figure: upload_ratio %.2f (worst %.2f; target at most 2)\n", best / wire, worst / wire);
    return 0;
}
