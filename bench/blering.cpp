// blering.cpp - the Bluetooth LE link's ring and credit under two threads
// (see blering.h).
#include "bench/blering.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "link/ble_gatt.h"
#include "link/link.h"
#include "os/os.h"
#include "sim/blesim.h"
#include "sim/ftsim.h"

namespace {

uint8_t byteAt(uint64_t i) { return (uint8_t)(i * 7 + i / 251); }

// The device's side: notifies the bytes from sent on, as far as the credit
// the link gave it reaches; returns how many went.
uint64_t notifyWithinCredit(int slot, uint64_t sent, uint64_t bytes, std::vector<uint8_t> *chunk) {
    FtSimBleState st = {};
    ftsimBleGetState(slot, &st);
    size_t want = (size_t)std::min<uint64_t>(bytes - sent, st.hostCredit);
    for (size_t i = 0; i < want; ++i) (*chunk)[i] = byteAt(sent + i);
    return want > 0 ? (uint64_t)ftsimBleNotify(slot, chunk->data(), want, 0) : 0;
}

// Receives what waits; counts the bytes and those out of order.
void drain(LinkHandle *link, uint64_t *got, uint64_t *wrong) {
    uint8_t b = 0;
    while (RecvLink(link, &b) == 1) {
        *wrong += b != byteAt(*got);
        ++*got;
    }
}

struct Run {
    uint64_t got = 0, wrong = 0;
    double cpu = 0, receiver = 0, wall = 0;
};

// One thread does both sides in turns: the cost of the path alone.
void oneThread(int slot, LinkHandle *link, uint64_t bytes, Run *r) {
    std::vector<uint8_t> chunk(BLE_RING_CAPACITY);
    double cpu0 = osThreadCpuSeconds();
    for (uint64_t sent = 0; r->got < bytes;) {
        sent += notifyWithinCredit(slot, sent, bytes, &chunk);
        drain(link, &r->got, &r->wrong);
    }
    r->cpu = r->receiver = osThreadCpuSeconds() - cpu0;
}

// The device on a thread of its own, this thread receiving; each side
// yields when it has nothing to do.
void twoThreads(int slot, LinkHandle *link, uint64_t bytes, Run *r) {
    double cpu0 = osProcessCpuSeconds(), thread0 = osThreadCpuSeconds();
    uint64_t wall0 = osClockUs();
    std::thread device([&] {
        std::vector<uint8_t> chunk(BLE_RING_CAPACITY);
        for (uint64_t sent = 0; sent < bytes;) {
            uint64_t n = notifyWithinCredit(slot, sent, bytes, &chunk);
            if (n == 0) std::this_thread::yield();
            sent += n;
        }
    });
    while (r->got < bytes) {
        uint64_t before = r->got;
        drain(link, &r->got, &r->wrong);
        if (r->got == before) std::this_thread::yield();
    }
    device.join();
    r->receiver = osThreadCpuSeconds() - thread0;
    r->cpu = osProcessCpuSeconds() - cpu0;
    r->wall = (double)(osClockUs() - wall0) / 1e6;
}

}  // namespace

int bleRingBench(uint64_t bytes, double heaviestBytesPerSecond) {
    ftsimReset();
    ftsimBleAutoPump(0);
    linkBleUseGatt(ftsimBleGattApi());
    int slot = ftsimAddBle("Bench", nullptr);
    ftsimBleSetDeviceBuffer(slot, 0, 0);
    LinkHandle link = {LINK_BLE, LINK_INVALID_HANDLE};
    bool open = InitLinkLibrary() == 1 && OpenLink(LINK_BLE, "Bench", &link, nullptr, 0) == 1;
    Run one, two;
    if (open) {
        oneThread(slot, &link, bytes, &one);
        CloseLink(&link);
        open = OpenLink(LINK_BLE, "Bench", &link, nullptr, 0) == 1;
    }
    if (open) twoThreads(slot, &link, bytes, &two);
    CloseLink(&link);
    linkBleUseGatt(nullptr);
    ftsimBleAutoPump(1);
    ftsimReset();
    if (!open) {
        fprintf(stderr, "qdbench: the BLE link did not open\n");
        return 2;
    }
    double target = 100.0 * heaviestBytesPerSecond;
    printf("BLE ring, one thread in turns: %llu bytes (%llu out of order) in %.3f CPU-s: %.3g bytes per CPU-second\n",
           (unsigned long long)one.got, (unsigned long long)one.wrong, one.cpu, one.cpu > 0 ? one.got / one.cpu : 0.0);
    printf("BLE ring, device and receiver on two threads: %llu bytes (%llu out of order) in %.2f s, %.3f CPU-s "
           "(receiver %.3f): %.3g bytes per CPU-second\n",
           (unsigned long long)two.got, (unsigned long long)two.wrong, two.wall, two.cpu, two.receiver,
           two.cpu > 0 ? two.got / two.cpu : 0.0);
    printf("  target >= %.3g bytes per CPU-second: 100 x %.0f bytes/s, a device at the heaviest configuration\n",
           target, heaviestBytesPerSecond);
    printf("figure: ble_ring_bytes_per_cpu_second %.0f\n", two.cpu > 0 ? two.got / two.cpu : 0.0);
    printf("figure: ble_ring_one_thread_bytes_per_cpu_second %.0f\n", one.cpu > 0 ? one.got / one.cpu : 0.0);
    return one.got == bytes && two.got == bytes && one.wrong + two.wrong == 0 ? 0 : 2;
}
