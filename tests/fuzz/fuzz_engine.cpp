// fuzz_engine.cpp - a Halvex context measuring on a simulated USB
// transceiver whose device side is the fuzz input. The first byte picks the
// model and the start mode; then each chunk is [length][milliseconds][bytes]:
// the bytes are put on the wire, the engine steps, the clock moves on. Any
// device stream must leave the context in a documented state, with its link
// closed whenever it is idle, and must never make the engine touch memory
// it does not own.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"
#include "sim/ftsim.h"

static const char *const kModels[4] = {"Quorvane Halvex-2 USB", "Quorvane Halvex-4 USB",
                                       "Quorvane Halvex+ 2 USB", "Quorvane Halvex+ 4 USB"};

static int QDCALL onSamples(uint16_t, uint16_t, uint16_t, ChannelSamples *channels) {
    // Read every delivered sample, as a host does.
    uint32_t sum = 0;
    for (int i = 0; i < 6; i++) {
        if (channels[i].samples == nullptr) continue;
        if (channels[i].count > 16) __builtin_trap();
        for (uint16_t k = 0; k < channels[i].count; k++) sum += (uint32_t)channels[i].samples[k];
    }
    return sum == 0x12345678u ? 1 : 0;
}
static void QDCALL onIndicator(uint16_t, uint16_t, uint16_t) {}
static void QDCALL onMessage(uint16_t, const char *text) {
    if (strlen(text) > 300) __builtin_trap();
}

static void waitThreads(uint16_t ctx) {
    for (int i = 0; i < 5000 && protoThreadBusy(&protocolState[ctx]); i++) osSleep(1);
}

static void check(uint16_t ctx, int slot) {
    const ProtocolState &ps = protocolState[ctx];
    if (ps.state > 12) __builtin_trap();
    if (ps.state == APP_IDLE && !protoThreadBusy(&ps)) {
        FtSimState s;
        ftsimGetState(slot, &s);
        if (s.open) __builtin_trap();   // an idle context holds no link
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    driverAttach();
    osClockSetManual(true, 100000);
    QdSetCallbacks(onSamples, onIndicator, onMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ftsimReset();
    int slot = ftsimAdd("QVFUZZ01", nullptr);
    int16_t ctx = QdOpenDevContext(kModels[data[0] & 3]);
    if (ctx < 0) __builtin_trap();
    QdValue on;
    memset(&on, 0, sizeof on);
    on.code = 1;
    QdSetParam(QD_PAR_CHANNEL_ENABLE, 0, &on);
    uint16_t mode = (data[0] & 4) ? QD_START_TEST : 0;
    if (QdStartMeasurement((uint16_t)ctx, mode) != 0) __builtin_trap();

    size_t at = 1;
    while (at + 2 <= size) {
        size_t length = data[at];
        uint32_t ms = data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        if (length > 0) ftsimPushBytes(slot, data + at, length);
        at += length;
        QdProtocolEngine();
        waitThreads((uint16_t)ctx);
        osClockAdvance(ms * 8);
        QdProtocolEngine();
        check((uint16_t)ctx, slot);
    }
    // The host stops; whatever the device does, the context comes to rest.
    QdStopMeasurement((uint16_t)ctx);
    for (int i = 0; i < 40 && protocolState[ctx].state != APP_IDLE; i++) {
        QdProtocolEngine();
        waitThreads((uint16_t)ctx);
        osClockAdvance(100);
    }
    if (protocolState[ctx].state != APP_IDLE) __builtin_trap();
    check((uint16_t)ctx, slot);
    QdCloseDevContext((uint16_t)ctx);
    return 0;
}
