// fuzz_ble.cpp - a Halvex+ 4 BLE context measuring over a simulated
// Bluetooth LE device that sends nothing by itself: every value the link
// receives is the fuzz input, handed to the link's value-changed callback
// the way the Bluetooth stack hands it over, taken from the ring by the
// engine and decoded. The first byte picks the start mode; then each chunk
// is [kind][length][milliseconds][bytes]. kind: bits 0-1 the attribute
// (0 the data characteristic, 1 the flow-control characteristic, 2 its
// value handle, 3 another handle), bit 2 an event of another type; the
// value holds the chunk's bytes (0 to 243, the size the stack reports with
// them). A context the stream ended is started again, a few times.
// Whatever arrives, the context ends at rest with its device closed.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/protocol/protocol.h"
#include "link/ble_gatt.h"
#include "link/link_internal.h"
#include "os/os.h"
#include "sim/blesim.h"
#include "sim/blesim_internal.h"
#include "sim/ftsim.h"

namespace {

const int kRestarts = 4;

int QDCALL onSamples(uint16_t, uint16_t, uint16_t, ChannelSamples *channels) {
    uint32_t sum = 0;
    for (int i = 0; i < 6; i++) {
        if (channels[i].samples == nullptr) continue;
        if (channels[i].count > 16) __builtin_trap();
        for (uint16_t k = 0; k < channels[i].count; k++) sum += (uint32_t)channels[i].samples[k];
    }
    return sum == 0x12345678u ? 1 : 0;
}
void QDCALL onIndicator(uint16_t, uint16_t, uint16_t) {}
void QDCALL onMessage(uint16_t, const char *text) {
    if (strlen(text) > 300) __builtin_trap();
}

// The attribute a chunk's value arrives on.
uint16_t handleOf(uint8_t kind) {
    switch (kind & 3) {
    case 0: return ftsim::bleHandleOfPosition(1);
    case 1: return ftsim::bleHandleOfPosition(0);
    case 2: return (uint16_t)(ftsim::bleHandleOfPosition(0) + 1);
    default: return 0x7FFF;
    }
}

// One value through the link's callback, as the stack delivers it.
void deliver(uint16_t ctx, uint8_t kind, const uint8_t *bytes, size_t length) {
    LinkHandle link = protocolState[ctx].link;
    if (link.type != LINK_BLE || link.handle == LINK_INVALID_HANDLE) return;
    BleGattValueBuffer value;
    value.dataSize = (uint32_t)length;
    if (length > 0) memcpy(value.data, bytes, length);
    BleGattValueChangedEvent event = {handleOf(kind), sizeof(uint32_t) + length,
                                      reinterpret_cast<BleGattValue *>(&value)};
    int32_t type = (kind & 4) ? BLE_EVENT_VALUE_CHANGED + 1 : BLE_EVENT_VALUE_CHANGED;
    OnBleEvent(type, &event, reinterpret_cast<void *>(link.handle));
}

void run(int cycles) {
    for (int i = 0; i < cycles; i++) {
        QdProtocolEngine();
        osClockAdvance(2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    driverAttach();
    osClockSetManual(true, 100000);
    ftsimBleAutoPump(0);
    linkBleUseGatt(ftsimBleGattApi());
    QdSetCallbacks(onSamples, onIndicator, onMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ftsimReset();
    int slot = ftsimAddBle("Quorvane Halvex*", nullptr);
    ftsimBleSetDeviceBuffer(slot, 0, 0);
    int16_t ctx = QdOpenDevContext("Quorvane Halvex+ 4 BLE");
    if (ctx < 0) __builtin_trap();
    QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, 0);
    uint16_t mode = (data[0] & 1) ? QD_START_TEST : 0;
    if (QdStartMeasurement((uint16_t)ctx, mode) != 0) __builtin_trap();
    int restarts = 0;
    for (size_t at = 1; at + 3 <= size;) {
        uint8_t kind = data[at];
        size_t length = data[at + 1] % (BLE_MAX_VALUE + 1);
        uint32_t ms = data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        deliver((uint16_t)ctx, kind, data + at, length);
        at += length;
        run(1);
        osClockAdvance(ms * 4);
        run(1);
        if (protocolState[ctx].state == APP_IDLE && restarts++ < kRestarts) QdStartMeasurement((uint16_t)ctx, mode);
    }
    QdStopMeasurement((uint16_t)ctx);
    for (int i = 0; i < 40 && protocolState[ctx].state != APP_IDLE; i++) run(50);
    if (protocolState[ctx].state != APP_IDLE) __builtin_trap();
    FtSimBleState st;
    if (ftsimBleGetState(slot, &st) != 0 || st.open) __builtin_trap();   // an idle context holds no device
    QdCloseDevContext((uint16_t)ctx);
    return 0;
}
