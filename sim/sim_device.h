// sim_device.h - the device side of a simulated Halvex or Brev device.
//
// A SimDevice is what sits behind a simulated transceiver: it takes the bytes
// the host writes, answers commands the way a device does, and streams data
// notifications at the configured rates. It has no notion of a transport;
// sim/ftsim.* attaches devices to simulated FTDI transceivers.
//
// Time is passed in by the caller (the driver clock in milliseconds), so a
// test that drives the clock by hand gets a fully deterministic device. The
// device never looks at a clock of its own; times never run backwards (an
// earlier time than the last one seen is taken as the last one).
//
// Everything here is plain C-style API over an opaque record; a SimDevice is
// used from one thread at a time (the transceiver serialises its calls).
//
// How the device behaves:
// - Frames: length in 7-bit groups, code, payload. Bodies longer than 255
//   bytes are skipped whole; a partial frame is dropped after a pause of
//   frameTimeoutMs. Codes 0x40-0xFF from the host are answered with the
//   reply code 0x80 | (code & 0x3F) and result 1.
// - Replies: 0x80 | command, result byte, data. Result 1 unknown command
//   (everything but the ones below), 5 wrong payload length, 3 not allowed
//   in the device state, 2 invalid configuration.
//   0x00 identity (81 bytes: maker 33, model 33, serial 13), 0x01 firmware
//   (32 bytes: version 3, name 25, 2 reserved), 0x03 device state, 0x04
//   notification mask (1 byte: bit 7 set clears the other bits given,
//   otherwise sets them; bit 6 enables data and periodic events), 0x06 read
//   configuration, 0x07 write configuration (at rest only), 0x08/0x0A start
//   and stop measurement, 0x0B/0x0C start and stop test, 0x0D restart (the
//   reply, then the state of a power cycle). A start needs a configuration
//   with a channel on; the power-on configuration has none.
// - A Brev device ("Quorvane Brev 100") answers the Brev commands instead:
//   0x00 identity, 0x03 device state (1 rest, 3 measuring, 5 paused), 0x07
//   a 16-bit notification mask (bit 0 state changes, bit 4 raw data, bit 5
//   artifacts), 0x0A start with a 4-byte configuration (byte 1: rate code
//   0..2 for 128, 256, 512 sps), 0x0B stop. It sends its 12-bit samples in
//   raw data notifications (0xC4) of an eighth of a second; its button
//   pauses and resumes, announced by state changes (0xC0).
// - Data (0xC1) while measuring or testing with bit 6 of the mask set: phase,
//   status, samples by tick and channel; a message closes after 16 ticks (or
//   earlier with maxMessageMs) and is sent when its last tick is complete. A
//   stop sends the partly filled message before the reply.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Signals
// ---------------------------------------------------------------------------

// Signal generator of one channel. Values are 16-bit device samples.
enum SimSignalKind : uint8_t {
    SIM_SIGNAL_SINE = 0,    // offset + amplitude * sin(2 pi f n / rate), rounded
    SIM_SIGNAL_RAMP = 1,    // offset + n * amplitude, wrapped into int16
    SIM_SIGNAL_CONST = 2,   // offset
    SIM_SIGNAL_SQUARE = 3,  // offset + amplitude in the first half of each
                            // period 1/f, offset in the second half
};

struct SimSignal {
    SimSignalKind kind;
    int16_t amplitude;
    int16_t offset;
    float frequency;        // Hz (sine, square)
};

// The 16-bit value of a channel's n-th sample (n counts the channel's own
// samples from the start of the measurement; rate is the channel's sample
// rate in Hz). Sine and square results are clamped to the int16 range. Pure:
// tests use it to predict what the device sends.
int16_t simSignalValue(const SimSignal *signal, uint32_t n, double rate);

// ---------------------------------------------------------------------------
// Configuration and life cycle
// ---------------------------------------------------------------------------

struct SimDeviceConfig {
    char maker[33];         // REP_GET_DEV_INFO manufacturer, normally "Quorvane Systems"
    char model[33];         // the device's model name, e.g. "Quorvane Halvex-4 USB";
                            // it fixes the channel count and what each channel can do
    char serial[14];        // reported serial number (up to 13 characters)
    uint8_t battery;        // battery state reported in NOT_EVENT 0x40
    SimSignal signal[6];    // per channel
    // Added after the first version of this record:
    uint8_t firmware[3];    // REP_GET_FIRM_INFO version major, minor, patch
    char firmwareName[25];  // REP_GET_FIRM_INFO name text (up to 24 characters)
    uint32_t batteryPeriodMs;   // > 0: a battery event every period while
                                // notifications are enabled; 0: only on request
    uint32_t maxMessageMs;      // > 0: a data message is closed once its ticks
                                // span this long even if not full (latency bound);
                                // 0: messages close only when full (16 ticks)
    uint32_t frameTimeoutMs;    // > 0: a partial command frame is dropped when
                                // the next byte comes this much later; 0: never
};

// Fills a configuration with the defaults for a model name: maker
// "Quorvane Systems", serial "QV" followed by the model index and "0001",
// battery state 3, firmware 1.4.2 "Halvex application", a sine per channel
// (channel i: (i + 1) Hz, amplitude 1000 * (i + 1), offset 0), the button
// channel of the Halvex+ models a square of 0.5 Hz between 1 and 0; no
// periodic battery event, no latency bound, a frame time-out of 100 ms.
void simDeviceDefaults(SimDeviceConfig *cfg, const char *model);

struct SimDevice;

// A device for cfg->model; null when the model is not a model of the model
// table (or cfg is null).
SimDevice *simDeviceCreate(const SimDeviceConfig *cfg);
void simDeviceDestroy(SimDevice *dev);

// The device is switched off and on: measurement stopped, notifications off,
// configuration back to its power-on image (every channel off), faults kept,
// queues and the partial command frame emptied.
void simDevicePowerCycle(SimDevice *dev, uint32_t nowMs);

// ---------------------------------------------------------------------------
// Transport side (called by the simulated transceiver)
// ---------------------------------------------------------------------------

// Bytes written by the host, received at nowMs. Replies are ready at the next
// simDevicePending (unless delayed by a fault).
void simDeviceReceive(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs);
// Advances the device to nowMs and returns how many bytes wait for the host.
size_t simDevicePending(SimDevice *dev, uint32_t nowMs);
// Takes up to max waiting bytes (after simDevicePending).
size_t simDeviceTake(SimDevice *dev, uint8_t *buffer, size_t max);
// The transport is down (unplugged, out of range) or back: while it is down
// the device keeps running but everything it sends is lost (bytes not yet
// taken by the host when it goes down are lost too), and nothing the host
// writes reaches it.
void simDeviceSetLinkUp(SimDevice *dev, bool up, uint32_t nowMs);

// ---------------------------------------------------------------------------
// Observation
// ---------------------------------------------------------------------------

enum : uint8_t {
    SIM_STATE_REST = 1,     // device state bytes of REP_GET_DEV_STATE
    SIM_STATE_TEST = 2,
    SIM_STATE_MEASURE = 5,
};
uint8_t simDeviceState(const SimDevice *dev);
// The notification mask (bit 6 = data and event notifications).
uint8_t simDeviceNotifMask(const SimDevice *dev);
bool simDeviceLinkUp(const SimDevice *dev);
// Copies the device's current configuration image (16 general bytes and one
// record per channel) and returns its length.
size_t simDeviceConfigImage(const SimDevice *dev, uint8_t *out, size_t max);
// Channel count and channel record size (6, or 4 for the first generation).
int simDeviceChannels(const SimDevice *dev);
int simDeviceRecordSize(const SimDevice *dev);

// What became of a data message (and of the samples in it).
enum SimFate : uint8_t {
    SIM_FATE_SENT = 0,       // handed to the transport
    SIM_FATE_DROPPED = 1,    // withheld by simDeviceDropData
    SIM_FATE_SILENT = 2,     // withheld by simDeviceSilence
    SIM_FATE_LINK_DOWN = 3,  // lost: the link was down
    SIM_FATE_NOTIF_OFF = 4,  // not sent: notifications disabled
    SIM_FATE_OVERFLOW = 5,   // lost: the host left the transmit queue full
};

// One data message as the device produced it.
struct SimDataInfo {
    uint32_t timeMs;            // when it was closed and handed over (or lost)
    uint32_t firstTick;         // tick counter of its first tick (phase = low 16 bits)
    uint16_t phase;
    uint16_t status;
    uint16_t ticks;             // ticks it covers
    uint8_t fate;               // SimFate
    uint8_t testMode;           // 1 when produced in test mode
    uint16_t count[6];          // samples per channel
    uint32_t firstIndex[6];     // channel's sample index n of its first sample here
    uint16_t total;             // samples in wire order
    const int16_t *samples;
    const uint8_t *channelOf;   // channel of each sample
};
typedef void (*SimDataTap)(void *user, const SimDataInfo *info);
// Called for every data message the device produces, whatever its fate.
void simDeviceSetDataTap(SimDevice *dev, SimDataTap tap, void *user);

// Per-channel record of generated samples, in caller-owned memory.
struct SimSampleRecord {
    uint32_t tick;      // tick of the sample
    uint32_t index;     // the channel's sample index n
    int16_t value;
    uint8_t fate;       // SimFate of the message that carried it
    uint8_t reserved;
};
// Starts recording channel ch into buffer (capacity entries; null stops).
// Samples past the capacity are counted but not stored.
void simDeviceRecordSamples(SimDevice *dev, int ch, SimSampleRecord *buffer, uint32_t capacity);
// Samples of channel ch generated since recording started.
uint32_t simDeviceRecordCount(const SimDevice *dev, int ch);

struct SimDeviceStats {
    uint32_t framesReceived;    // complete command frames
    uint32_t overlongFrames;    // announced longer than 255 bytes and skipped
    uint32_t frameTimeouts;     // partial frames dropped after a pause
    uint32_t bytesLostRx;       // host bytes that arrived while the link was down
    uint32_t replies;           // replies handed over (error replies included)
    uint32_t errorReplies;      // replies with a non-zero result
    uint32_t repliesWithheld;   // by a fault
    uint32_t repliesLost;       // link down or queue full when they were due
    uint32_t dataMessages;      // data messages produced, any fate
    uint32_t dataSent;          // of them handed to the transport
    uint32_t events;            // event notifications handed over
};
void simDeviceGetStats(const SimDevice *dev, SimDeviceStats *stats);

// ---------------------------------------------------------------------------
// Control: signal states and events
// ---------------------------------------------------------------------------

// Signal state (0-3) of channel ch, or of SUM with ch = -1, carried in the
// status word of every data message closed after nowMs.
void simDeviceSetSignalState(SimDevice *dev, int ch, uint8_t state, uint32_t nowMs);

enum : uint8_t {
    SIM_EVENT_BATTERY = 0x40,       // followed by the battery state byte
    SIM_EVENT_LINK_ERROR = 0x60,
    SIM_EVENT_LINK_FAILURE = 0x61,
    SIM_EVENT_HARDWARE = 0x80,
};
// Sends NOT_EVENT (0xC0) with the event byte, followed by data when data is
// 0..255 (no data byte when it is negative). Sent whatever the notification
// mask, as a test asks for it.
void simDeviceSendEvent(SimDevice *dev, uint8_t event, int data, uint32_t nowMs);
// Sets the battery state and reports it (NOT_EVENT 0x40, state).
void simDeviceSetBattery(SimDevice *dev, uint8_t state, uint32_t nowMs);

// ---------------------------------------------------------------------------
// Fault injection
// ---------------------------------------------------------------------------

enum SimFaultAction : uint8_t {
    SIM_FAULT_NONE = 0,     // clears the fault of that command
    SIM_FAULT_WITHHOLD = 1, // the command is executed, its reply never sent
    SIM_FAULT_IGNORE = 2,   // the command is lost: not executed, no reply
    SIM_FAULT_DELAY = 3,    // executed at once, reply sent param ms later
    SIM_FAULT_RESULT = 4,   // not executed; reply with result code param (1..255)
};
const int SIM_ANY_COMMAND = -1;
const int32_t SIM_ALWAYS = -1;

// Arms a fault for command code 0x00..0x3F, or for every command
// (SIM_ANY_COMMAND; a command's own fault comes first). It applies to the
// next times commands of that code (SIM_ALWAYS: until cleared). False for a
// bad command code, count or parameter.
bool simDeviceSetFault(SimDevice *dev, int command, SimFaultAction action, uint32_t param, int32_t times);
void simDeviceClearFaults(SimDevice *dev);

// Puts raw bytes on the wire at nowMs (lost while the link is down).
void simDeviceInjectBytes(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs);
// Puts a frame with any code and body on the wire, the length written in
// 7-bit groups like every device frame; payload may be null (zero bytes).
// Code plus payload may be up to 1024 bytes, so frames announced longer than
// the host accepts (e.g. 258) can be made. False if too long.
bool simDeviceInjectFrame(SimDevice *dev, uint8_t code, const uint8_t *payload, size_t size, uint32_t nowMs);
// Withholds the next n data messages that would have been sent; time and the
// phase run on, so the host sees a phase gap.
void simDeviceDropData(SimDevice *dev, uint32_t n);
// Sends no data messages from nowMs for durationMs (the device keeps
// measuring; replies and events still go out).
void simDeviceSilence(SimDevice *dev, uint32_t durationMs, uint32_t nowMs);
// Brev devices: the button pauses a measurement or resumes it (false when
// the device does not measure); an artifact report (code, channel 0 SUM,
// 1 the channel); the state set by hand (3 and 5 pause and resume a
// measurement, any other ends it), announced by a state change. False for
// a Halvex device.
bool simDeviceButton(SimDevice *dev, uint32_t nowMs);
bool simDeviceArtifact(SimDevice *dev, uint8_t code, uint8_t channel, uint32_t nowMs);
bool simDeviceSetState(SimDevice *dev, uint8_t state, uint32_t nowMs);

// Reports other identity texts in REP_GET_DEV_INFO (null keeps the current
// one); the device itself stays the model it was created as.
void simDeviceSetIdentity(SimDevice *dev, const char *maker, const char *model, const char *serial);
