// sim_device_internal.h - what the parts of the simulated device share: the
// device record, the device's own copy of the wire codes, and the functions
// one part calls in another. sim/sim_device.cpp holds the functions of
// sim_device.h, sim/sim_stream.cpp the transmit queue, the time and the data
// stream, sim/sim_commands.cpp the commands and their replies, sim/sim_brev.cpp
// what a Brev device does differently. Only these include this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/sim_boot.h"
#include "sim/sim_device.h"
#include "sim/sim_fifo.h"
#include "sim/sim_frame.h"
#include "sim/sim_models.h"

namespace simdev {

// The wire codes as the device knows them. The simulator keeps its own copy
// on purpose, written from the device's side and shared with nothing in the
// driver: a code the driver gets wrong then shows as a device that does not
// answer as expected, instead of passing unnoticed because both sides read
// the same wrong table. Keep it independent of the driver's headers.
enum : uint8_t {
    CMD_GET_DEV_INFO = 0x00,
    CMD_GET_FIRM_INFO = 0x01,
    CMD_GET_DEV_STATE = 0x03,
    CMD_SET_NOTIF = 0x04,
    CMD_READ_CFG = 0x06,
    CMD_WRITE_CFG = 0x07,
    CMD_START_MES = 0x08,
    CMD_STOP_MES = 0x0A,
    CMD_START_TEST = 0x0B,
    CMD_STOP_TEST = 0x0C,
    CMD_RESTART = 0x0D,
    REPLY_BIT = 0x80,
    NOT_EVENT = 0xC0,
    NOT_DATA = 0xC1,
};

// The Brev device's own codes (same frame, other command set).
enum : uint8_t {
    BREV_SET_NOTIF = 0x07,
    BREV_START_MES = 0x0A,
    BREV_STOP_MES = 0x0B,
    BREV_NOT_STATE_CHG = 0xC0,
    BREV_NOT_RAW_DATA = 0xC4,
    BREV_NOT_ARTIFACT = 0xC5,
};
// Its notification mask: one bit per notification index.
const uint16_t BREV_NOTIF_STATE = 1u << 0;
const uint16_t BREV_NOTIF_RAW = 1u << 4;
const uint16_t BREV_NOTIF_ARTIFACT = 1u << 5;
// Its states besides SIM_STATE_REST (1).
enum : uint8_t { BREV_MEASURING = 3, BREV_PAUSED = 5 };

// Result codes of replies.
enum : uint8_t {
    RES_OK = 0,
    RES_UNKNOWN = 1,
    RES_PARAMS = 2,
    RES_STATE = 3,
    RES_FORMAT = 5,
};

const uint8_t NOTIF_DATA = 0x40;    // data and event notifications

const size_t kFifoSize = 65536;
const int kSlots = 32;
const size_t kSlotBytes = 128;      // delayed replies only; the longest is 81 bytes
const int kMaxTicks = 16;           // no channel gets more than 16 samples per message
const int kMaxSamples = 125;        // 5 + 2 * 125 = 255, the longest body
const size_t kInjectMax = 1024;
// Room for any reply body (the longest are the identity, 81 bytes, and a
// configuration of 2 + 16 + 6 * 6 bytes).
const size_t kReplyMax = 2 + SIM_GENERAL_BYTES + SIM_MAX_CHANNELS * 6 + 81;

struct Fault {
    SimFaultAction action;
    uint32_t param;
    int32_t times;      // > 0 remaining uses, SIM_ALWAYS
};

struct Scheduled {
    bool used;
    uint32_t due;
    uint32_t seq;
    uint16_t size;
    uint8_t frame[kSlotBytes];
};

struct Channel {
    bool active;        // takes samples in the current run
    uint16_t mask;      // due at tick t when ((t + 1) & mask) == 0
    double rate;        // its sample rate in Hz
    uint32_t n;         // its next sample index
};

inline bool before(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

}  // namespace simdev

struct SimDevice {
    SimDeviceConfig cfg;
    const SimModel *model;
    int recSize;
    size_t imageSize;

    // Identity as reported.
    char maker[33];
    char modelName[33];
    char serial[14];

    bool timeKnown;
    uint32_t now;

    SimRx rx;
    bool linkUp;

    uint8_t state;
    uint8_t notif;
    uint16_t brevNotif;     // Brev: its 16-bit notification mask
    uint32_t pausedAt;      // Brev: when the button paused the measurement
    uint8_t image[SIM_GENERAL_BYTES + SIM_MAX_CHANNELS * 6];

    // Measurement or test run.
    bool streaming;
    bool testMode;
    uint32_t startMs;
    uint32_t tickNum;       // a tick lasts tickNum / tickDen ms (Halvex: 64 / 2^(m - 4),
    uint32_t tickDen;       // 15.625 ticks a second at rate code 4; Brev: 1000 / rate)
    uint32_t nextTick;
    int sampling;           // channels that may sample in one tick
    uint16_t ticksPerMessage;   // a data message closes after this many ticks
    simdev::Channel ch[SIM_MAX_CHANNELS];

    // The data message being filled.
    bool msgOpen;
    uint32_t msgFirstTick;
    uint16_t msgTicks;
    uint16_t msgTotal;
    uint16_t msgCount[SIM_MAX_CHANNELS];
    uint32_t msgFirstIndex[SIM_MAX_CHANNELS];
    int16_t msgSamples[simdev::kMaxSamples];
    uint8_t msgChannel[simdev::kMaxSamples];
    uint32_t msgTick[simdev::kMaxSamples];

    uint8_t sumState;
    uint8_t chState[SIM_MAX_CHANNELS];

    bool batteryArmed;
    uint32_t nextBatteryMs;

    simdev::Fault fault[0x40];
    simdev::Fault anyFault;
    uint32_t dropData;
    bool silence;
    uint32_t silenceFrom;
    uint32_t silenceUntil;

    Fifo<simdev::kFifoSize> txQueue;    // bytes on their way to the host
    simdev::Scheduled slot[simdev::kSlots];
    uint32_t seq;

    SimDataTap tap;
    void *tapUser;
    SimSampleRecord *rec[SIM_MAX_CHANNELS];
    uint32_t recCap[SIM_MAX_CHANNELS];
    uint32_t recCount[SIM_MAX_CHANNELS];

    SimDeviceStats stats;
    SimBoot boot;
};

namespace simdev {

// ---------------------------------------------------------------------------
// Transmit queue and time (sim_stream.cpp)
// ---------------------------------------------------------------------------

// Puts a frame on the wire now; false when it is lost (link down, queue full).
bool sendFrame(SimDevice *d, const uint8_t *frame, size_t size);
// Frames a body and puts it on the wire; false when it is lost.
bool sendBody(SimDevice *d, const uint8_t *body, size_t size);
// Sends a reply body now, counting it as sent or lost.
void sendReplyNow(SimDevice *d, const uint8_t *body, size_t size);
// Holds a reply body back until the device time reaches due.
void scheduleReply(SimDevice *d, const uint8_t *body, size_t size, uint32_t due);
// Brings the device to time now (never backwards) and returns the time it
// is at: delayed replies and periodic events fall due in time order,
// interleaved with the data stream.
uint32_t advance(SimDevice *d, uint32_t now);

// ---------------------------------------------------------------------------
// Data stream (sim_stream.cpp)
// ---------------------------------------------------------------------------

// Starts a measurement or test run at now with the channels of the image.
void startRun(SimDevice *d, bool test, uint32_t now);
// Ends a run; a partly filled message still goes out.
void stopRun(SimDevice *d, uint32_t now);
// Closes the data message being filled at time at (sent or lost).
void closeMessage(SimDevice *d, uint32_t at);
// True when the image has a channel that can be measured (the power-on image
// has none).
bool anyChannelOn(const SimDevice *d);

// ---------------------------------------------------------------------------
// Commands (sim_commands.cpp)
// ---------------------------------------------------------------------------

// The state of a power cycle: at rest, no run, notifications off, the
// power-on image, the receiver emptied.
void resetDevice(SimDevice *d);
// Answers one complete command body received at now.
void handleBody(SimDevice *d, const uint8_t *body, size_t n, uint32_t now);
// The identity reply's data (maker, model, serial) after code and result;
// returns the reply's size.
size_t identityReply(const SimDevice *d, uint8_t *reply);

// ---------------------------------------------------------------------------
// Brev devices (sim_brev.cpp)
// ---------------------------------------------------------------------------

inline bool isBrev(const SimDevice *d) { return d->model->family == SIM_FAMILY_BREV; }
// Executes a Brev command (reply code and result already set in reply);
// returns the reply's size.
size_t brevExecute(SimDevice *d, const uint8_t *body, size_t n, uint32_t now, uint8_t *reply);
// The body of a Brev data message (its samples) into body; returns its size.
size_t brevDataBody(const SimDevice *d, uint8_t *body);
// Sends a Brev notification when its bit of the mask is set.
void brevNotify(SimDevice *d, uint16_t bit, const uint8_t *body, size_t size);

}  // namespace simdev
