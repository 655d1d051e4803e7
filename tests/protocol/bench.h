// bench.h - a driver context on a simulated device: an FTDI transceiver of
// the simulator with a simulated Halvex device behind it, the driver clock
// driven by hand, and helpers to step the engine and to read what the driver
// sent.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "API/driver/protocol/protocol.h"
#include "sim/ftsim.h"
#include "sim/sim_device.h"
#include "tests/protocol/harness.h"
#include "tests/support/testenv.h"

typedef std::vector<uint8_t> Bytes;

// Halvex states the tests look at.
enum : uint16_t {
    S_IDLE = 0, S_GET_DEV_INFO = 1, S_WRITE_CFG = 3, S_SET_NOTIF = 4, S_START_TEST = 5, S_TEST = 6,
    S_STOP_TEST = 7, S_START_MES = 8, S_MEASURE = 9, S_STOP_MES = 10, S_CLEAR_NOTIF = 11,
    S_RESET_NOTIF = 12,
};

// The Bluetooth address of a bench's Bluetooth device.
#define BENCH_BT_ADDRESS "00:80:98:51:56:01"

// A driver context and a simulated device of its model behind the link of
// the model: a USB transceiver, a Bluetooth device named "Quorvane Halvex*"
// or an IrDA device.
struct Bench {
    SimDevice *dev = nullptr;
    int slot = -1;          // transceiver
    int16_t ctx = -1;       // driver context
    const char *serial = "QVUSB001";

    // model: driver model name; device: the simulated device's model (null:
    // the same); tweak may change the device's configuration.
    explicit Bench(const char *model, const char *device = nullptr,
                   void (*tweak)(SimDeviceConfig *) = nullptr);
    ~Bench();
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    ProtocolState &ps() const { return protocolState[ctx]; }
    uint16_t state() const { return protocolState[ctx].state; }
    uint32_t now() const;

    // Parameters of the context (selected).
    void setParam(uint16_t id, uint16_t channel, uint32_t code);
    void enableChannel(uint16_t channel, bool on = true);

    // One engine step, then the clock moves on by ms.
    void step(uint32_t ms = 1);
    void run(uint32_t ms);
    // Steps until pred holds (true) or maxMs passed (false).
    bool runUntil(const std::function<bool()> &pred, uint32_t maxMs);
    bool runToState(uint16_t state, uint32_t maxMs = 3000);
    // Starts a measurement (flags) and runs it up to APP_MEASURE / APP_TEST.
    void startMeasuring(uint16_t flags = 0);

    // Frames (bodies) the driver wrote since the last call.
    std::vector<Bytes> written();
    // Puts a frame on the wire from the device side.
    void inject(uint8_t code, const Bytes &payload);
    void injectRaw(const Bytes &bytes);
    // Whether the driver holds the transceiver open (a socket connected to
    // the device).
    bool transceiverOpen() const;
};

// Waits (real time: the driver's threads are real ones) until pred holds;
// false after maxMs, by default a bound only a hang reaches.
bool waitReal(const std::function<bool()> &pred, uint32_t maxMs = kTestHangMs);

class DeviceTest : public ProtocolTest {
protected:
    void SetUp() override;
    void TearDown() override;
};
