// sim_device.h - the device side of a simulated Halvex-family device.
//
// A SimDevice is what sits behind a simulated transceiver: it takes the bytes
// the host writes, answers commands the way a device does, and streams data
// notifications at the configured rates. It has no notion of a transport;
// sim/ftsim.* attaches devices to simulated FTDI transceivers.
//
// Time is passed in by the caller (the driver clock in milliseconds), so a
// test that drives the clock by hand gets a fully deterministic device.
#pragma once

#include <cstddef>
#include <cstdint>

// Signal generator of one channel. Values are 16-bit device samples.
enum SimSignalKind : uint8_t {
    SIM_SIGNAL_SINE = 0,    // offset + amplitude * sin(2 pi f n / rate)
    SIM_SIGNAL_RAMP = 1,    // offset + (n * amplitude) wrapped into int16
    SIM_SIGNAL_CONST = 2,   // offset
    SIM_SIGNAL_SQUARE = 3,  // offset +/- amplitude, period 1/f
};

struct SimSignal {
    SimSignalKind kind;
    int16_t amplitude;
    int16_t offset;
    float frequency;        // Hz (sine, square)
};

struct SimDeviceConfig {
    char maker[33];         // REP_GET_DEV_INFO manufacturer, normally "Quorvane Systems"
    char model[33];         // reported model name, e.g. "Quorvane Halvex-4 USB"
    char serial[14];        // reported serial number (up to 13 characters)
    uint8_t battery;        // battery state reported in NOT_EVENT 0x40
    SimSignal signal[6];    // per channel
};

// Fills a configuration with the defaults for a model name: maker
// "Quorvane Systems", serial "QV" followed by digits, a sine per channel with
// a known frequency and amplitude.
void simDeviceDefaults(SimDeviceConfig *cfg, const char *model);

struct SimDevice;

SimDevice *simDeviceCreate(const SimDeviceConfig *cfg);
void simDeviceDestroy(SimDevice *dev);

// The device is switched off and on: measurement stopped, queues emptied.
void simDevicePowerCycle(SimDevice *dev, uint32_t nowMs);

// Bytes written by the host, received at nowMs.
void simDeviceReceive(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs);
// Advances the device to nowMs and returns how many bytes wait for the host.
size_t simDevicePending(SimDevice *dev, uint32_t nowMs);
// Takes up to max waiting bytes (after simDevicePending).
size_t simDeviceTake(SimDevice *dev, uint8_t *buffer, size_t max);
// The transport is down (unplugged, out of range) or back: while it is down
// the device keeps running but everything it sends is lost.
void simDeviceSetLinkUp(SimDevice *dev, bool up, uint32_t nowMs);

// The 16-bit value of channel ch's n-th sample (n counts the channel's own
// samples from the start of the measurement). Pure: tests use it to predict.
int16_t simSignalValue(const SimSignal *signal, uint32_t n, double rate);
