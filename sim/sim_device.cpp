// sim_device.cpp - the simulated Halvex-family device.
//
// The device answers commands, keeps a configuration, measures on a tick
// clock derived from the caller's time, and puts its frames into a transmit
// queue that the transceiver drains. Faults are armed through the control
// functions of sim_device.h.
#include "sim/sim_device.h"

#include <cstring>
#include <new>

#include "sim/sim_boot.h"
#include "sim/sim_frame.h"
#include "sim/sim_models.h"

namespace {

// Message codes, device side.
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

size_t textLength(const char *s, size_t max) {
    size_t n = 0;
    while (n < max && s[n])
        ++n;
    return n;
}

void copyField(char *dst, size_t size, const char *src) {
    std::memset(dst, 0, size);
    for (size_t i = 0; src && i + 1 < size && src[i]; ++i)
        dst[i] = src[i];
}

}  // namespace

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
    uint8_t image[SIM_GENERAL_BYTES + SIM_MAX_CHANNELS * 6];

    // Measurement or test run.
    bool streaming;
    bool testMode;
    uint32_t startMs;
    int shift;              // tick rate = 15.625 * 2^shift Hz
    uint32_t nextTick;
    int sampling;           // channels that may sample in one tick
    Channel ch[SIM_MAX_CHANNELS];

    // The data message being filled.
    bool msgOpen;
    uint32_t msgFirstTick;
    uint16_t msgTicks;
    uint16_t msgTotal;
    uint16_t msgCount[SIM_MAX_CHANNELS];
    uint32_t msgFirstIndex[SIM_MAX_CHANNELS];
    int16_t msgSamples[kMaxSamples];
    uint8_t msgChannel[kMaxSamples];
    uint32_t msgTick[kMaxSamples];

    uint8_t sumState;
    uint8_t chState[SIM_MAX_CHANNELS];

    bool batteryArmed;
    uint32_t nextBatteryMs;

    Fault fault[0x40];
    Fault anyFault;
    uint32_t dropData;
    bool silence;
    uint32_t silenceFrom;
    uint32_t silenceUntil;

    uint8_t fifo[kFifoSize];
    size_t fifoHead;
    size_t fifoCount;
    Scheduled slot[kSlots];
    uint32_t seq;

    SimDataTap tap;
    void *tapUser;
    SimSampleRecord *rec[SIM_MAX_CHANNELS];
    uint32_t recCap[SIM_MAX_CHANNELS];
    uint32_t recCount[SIM_MAX_CHANNELS];

    SimDeviceStats stats;
    SimBoot boot;
};

namespace {

// ---------------------------------------------------------------------------
// Transmit queue
// ---------------------------------------------------------------------------

bool fifoPush(SimDevice *d, const uint8_t *bytes, size_t size) {
    if (size > kFifoSize - d->fifoCount)
        return false;
    for (size_t i = 0; i < size; ++i)
        d->fifo[(d->fifoHead + d->fifoCount + i) % kFifoSize] = bytes[i];
    d->fifoCount += size;
    return true;
}

// Puts a frame on the wire now; false when it is lost.
bool sendFrame(SimDevice *d, const uint8_t *frame, size_t size) {
    if (!d->linkUp)
        return false;
    return fifoPush(d, frame, size);
}

bool sendBody(SimDevice *d, const uint8_t *body, size_t size) {
    uint8_t frame[kInjectMax + 8];
    const size_t n = simFrameWrite(body, size, frame, sizeof frame);
    return n && sendFrame(d, frame, n);
}

void sendReplyNow(SimDevice *d, const uint8_t *body, size_t size) {
    if (sendBody(d, body, size)) {
        ++d->stats.replies;
        if (size > 1 && body[1] != RES_OK)
            ++d->stats.errorReplies;
    } else {
        ++d->stats.repliesLost;
    }
}

void scheduleReply(SimDevice *d, const uint8_t *body, size_t size, uint32_t due) {
    for (Scheduled &s : d->slot) {
        if (s.used)
            continue;
        const size_t n = simFrameWrite(body, size, s.frame, sizeof s.frame);
        if (!n)
            break;
        s.used = true;
        s.due = due;
        s.seq = d->seq++;
        s.size = static_cast<uint16_t>(n);
        return;
    }
    ++d->stats.repliesLost;     // no room for another delayed reply
}

// ---------------------------------------------------------------------------
// Data stream
// ---------------------------------------------------------------------------

uint16_t statusWord(const SimDevice *d) {
    unsigned s = d->sumState & 3u;
    for (int c = 0; c < d->model->channels; ++c)
        s |= static_cast<unsigned>(d->chState[c] & 3u) << (2 + 2 * c);
    return static_cast<uint16_t>(s);
}

// The first whole millisecond at which tick t is complete.
uint32_t tickEndMs(const SimDevice *d, uint32_t t) {
    const uint64_t num = (static_cast<uint64_t>(t) + 1) * 64u + ((1u << d->shift) - 1);
    return d->startMs + static_cast<uint32_t>(num >> d->shift);
}

SimFate dataFate(SimDevice *d, uint32_t at) {
    if (!(d->notif & NOTIF_DATA))
        return SIM_FATE_NOTIF_OFF;
    if (d->silence && !before(at, d->silenceFrom) && before(at, d->silenceUntil))
        return SIM_FATE_SILENT;
    if (!d->linkUp)
        return SIM_FATE_LINK_DOWN;
    if (d->dropData) {
        --d->dropData;
        return SIM_FATE_DROPPED;
    }
    return SIM_FATE_SENT;
}

void closeMessage(SimDevice *d, uint32_t at) {
    if (!d->msgOpen)
        return;
    d->msgOpen = false;

    uint8_t body[5 + 2 * kMaxSamples];
    const uint16_t phase = static_cast<uint16_t>(d->msgFirstTick & 0xFFFFu);
    const uint16_t status = statusWord(d);
    body[0] = NOT_DATA;
    body[1] = static_cast<uint8_t>(phase & 0xFF);
    body[2] = static_cast<uint8_t>(phase >> 8);
    body[3] = static_cast<uint8_t>(status & 0xFF);
    body[4] = static_cast<uint8_t>(status >> 8);
    for (int i = 0; i < d->msgTotal; ++i) {
        const uint16_t v = static_cast<uint16_t>(d->msgSamples[i]);
        body[5 + 2 * i] = static_cast<uint8_t>(v & 0xFF);
        body[6 + 2 * i] = static_cast<uint8_t>(v >> 8);
    }

    SimFate fate = dataFate(d, at);
    if (fate == SIM_FATE_SENT && !sendBody(d, body, 5 + 2u * d->msgTotal))
        fate = SIM_FATE_OVERFLOW;
    ++d->stats.dataMessages;
    if (fate == SIM_FATE_SENT)
        ++d->stats.dataSent;

    for (int i = 0; i < d->msgTotal; ++i) {
        const int c = d->msgChannel[i];
        if (!d->rec[c])
            continue;
        if (d->recCount[c] < d->recCap[c]) {
            SimSampleRecord &r = d->rec[c][d->recCount[c]];
            r.tick = d->msgTick[i];
            r.index = d->msgFirstIndex[c];
            for (int j = 0; j < i; ++j)
                if (d->msgChannel[j] == c)
                    ++r.index;
            r.value = d->msgSamples[i];
            r.fate = static_cast<uint8_t>(fate);
            r.reserved = 0;
        }
        ++d->recCount[c];
    }

    if (d->tap) {
        SimDataInfo info;
        std::memset(&info, 0, sizeof info);
        info.timeMs = at;
        info.firstTick = d->msgFirstTick;
        info.phase = phase;
        info.status = status;
        info.ticks = d->msgTicks;
        info.fate = static_cast<uint8_t>(fate);
        info.testMode = d->testMode ? 1 : 0;
        for (int c = 0; c < SIM_MAX_CHANNELS; ++c) {
            info.count[c] = d->msgCount[c];
            info.firstIndex[c] = d->msgFirstIndex[c];
        }
        info.total = d->msgTotal;
        info.samples = d->msgSamples;
        info.channelOf = d->msgChannel;
        d->tap(d->tapUser, &info);
    }
}

void addTick(SimDevice *d, uint32_t t) {
    if (!d->msgOpen) {
        d->msgOpen = true;
        d->msgFirstTick = t;
        d->msgTicks = 0;
        d->msgTotal = 0;
        for (int c = 0; c < SIM_MAX_CHANNELS; ++c) {
            d->msgCount[c] = 0;
            d->msgFirstIndex[c] = d->ch[c].n;
        }
    }
    int most = 0;
    for (int c = 0; c < d->model->channels; ++c) {
        Channel &k = d->ch[c];
        if (!k.active || ((t + 1) & k.mask) != 0)
            continue;
        const int i = d->msgTotal++;
        d->msgSamples[i] = simSignalValue(&d->cfg.signal[c], k.n, k.rate);
        d->msgChannel[i] = static_cast<uint8_t>(c);
        d->msgTick[i] = t;
        ++k.n;
        if (++d->msgCount[c] > most)
            most = d->msgCount[c];
    }
    ++d->msgTicks;

    bool full = d->msgTicks >= kMaxTicks || most >= kMaxTicks || d->msgTotal + d->sampling > kMaxSamples;
    if (d->cfg.maxMessageMs &&
        static_cast<uint64_t>(d->msgTicks) * 64u >= static_cast<uint64_t>(d->cfg.maxMessageMs) << d->shift)
        full = true;
    if (full)
        closeMessage(d, tickEndMs(d, t));
}

// Runs the tick clock up to time T: every tick complete by then is sampled.
void streamTo(SimDevice *d, uint32_t T) {
    if (!d->streaming || before(T, d->startMs))
        return;
    const uint64_t done = (static_cast<uint64_t>(T - d->startMs) << d->shift) / 64u;
    while (d->nextTick < done) {
        addTick(d, d->nextTick);
        ++d->nextTick;
    }
}

void startRun(SimDevice *d, bool test, uint32_t now) {
    int m = 4;
    for (int c = 0; c < d->model->channels; ++c) {
        const uint8_t *r = d->image + SIM_GENERAL_BYTES + c * d->recSize;
        if ((r[0] & 0x80) && r[3] > m)
            m = r[3];
    }
    d->shift = m - 4;
    d->sampling = 0;
    for (int c = 0; c < SIM_MAX_CHANNELS; ++c) {
        Channel &k = d->ch[c];
        k = Channel{};
        if (c >= d->model->channels)
            continue;
        const uint8_t *r = d->image + SIM_GENERAL_BYTES + c * d->recSize;
        if (!(r[0] & 0x80))
            continue;
        if (test) {
            k.active = r[1] < SIM_KIND_NIR_HEG;
            k.mask = 0;
            k.rate = simRateHz(m);
        } else {
            k.active = true;
            k.mask = static_cast<uint16_t>((1u << (m - r[3])) - 1);
            k.rate = simRateHz(r[3]);
        }
        if (k.active)
            ++d->sampling;
    }
    d->streaming = true;
    d->testMode = test;
    d->startMs = now;
    d->nextTick = 0;
    d->msgOpen = false;
}

// Ends a run; a partly filled message still goes out.
void stopRun(SimDevice *d, uint32_t now) {
    if (!d->streaming)
        return;
    if (d->msgOpen && d->msgTicks)
        closeMessage(d, now);
    d->msgOpen = false;
    d->streaming = false;
}

// True when the image has a channel that can be measured (the power-on image
// has none).
bool anyChannelOn(const SimDevice *d) {
    for (int c = 0; c < d->model->channels; ++c)
        if (d->image[SIM_GENERAL_BYTES + c * d->recSize] & 0x80)
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------

void sendBatteryEvent(SimDevice *d) {
    const uint8_t body[3] = {NOT_EVENT, SIM_EVENT_BATTERY, d->cfg.battery};
    if (sendBody(d, body, sizeof body))
        ++d->stats.events;
}

// Brings the device to time now: delayed replies and periodic events fall
// due in time order, interleaved with the data stream.
uint32_t advance(SimDevice *d, uint32_t now) {
    if (!d->timeKnown) {
        d->timeKnown = true;
        d->now = now;
    }
    if (before(now, d->now))
        now = d->now;
    for (;;) {
        Scheduled *next = nullptr;
        for (Scheduled &s : d->slot) {
            if (!s.used || before(now, s.due))
                continue;
            if (!next || before(s.due, next->due) || (s.due == next->due && before(s.seq, next->seq)))
                next = &s;
        }
        const bool battery = d->batteryArmed && d->cfg.batteryPeriodMs && (d->notif & NOTIF_DATA) &&
                             !before(now, d->nextBatteryMs);
        if (battery && (!next || !before(next->due, d->nextBatteryMs))) {
            streamTo(d, d->nextBatteryMs);
            sendBatteryEvent(d);
            d->nextBatteryMs += d->cfg.batteryPeriodMs;
            continue;
        }
        if (!next)
            break;
        streamTo(d, next->due);
        next->used = false;
        if (sendFrame(d, next->frame, next->size)) {
            ++d->stats.replies;
            if (next->size > 2 && next->frame[2] != RES_OK)
                ++d->stats.errorReplies;
        } else {
            ++d->stats.repliesLost;
        }
    }
    streamTo(d, now);
    d->now = now;
    return now;
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

void resetDevice(SimDevice *d) {
    d->streaming = false;
    d->msgOpen = false;
    d->state = SIM_STATE_REST;
    d->notif = 0;
    d->batteryArmed = false;
    std::memset(d->image, 0, sizeof d->image);
    simBootRestart(&d->boot);
    simRxReset(&d->rx, simBootRxLimit(&d->boot));
}

Fault takeFault(SimDevice *d, uint8_t code) {
    Fault *f = &d->fault[code];
    if (f->action == SIM_FAULT_NONE)
        f = &d->anyFault;
    const Fault taken = *f;
    if (f->action != SIM_FAULT_NONE && f->times != SIM_ALWAYS && --f->times <= 0)
        *f = Fault{};
    return taken;
}

// Executes a command; writes the reply body and returns its size.
size_t execute(SimDevice *d, const uint8_t *body, size_t n, uint32_t now, uint8_t *reply, bool *restart) {
    const uint8_t code = body[0];
    const size_t payload = n - 1;
    reply[0] = static_cast<uint8_t>(REPLY_BIT | code);
    reply[1] = RES_OK;

    auto fail = [&](uint8_t result) -> size_t {
        reply[1] = result;
        return 2;
    };

    switch (code) {
    case CMD_GET_DEV_INFO:
        if (payload)
            return fail(RES_FORMAT);
        std::memset(reply + 2, 0, 79);
        std::memcpy(reply + 2, d->maker, std::strlen(d->maker));
        std::memcpy(reply + 35, d->modelName, std::strlen(d->modelName));
        std::memcpy(reply + 68, d->serial, std::strlen(d->serial));
        return 81;
    case CMD_GET_FIRM_INFO:
        if (payload)
            return fail(RES_FORMAT);
        std::memset(reply + 2, 0, 30);
        std::memcpy(reply + 2, d->cfg.firmware, 3);
        std::memcpy(reply + 5, d->cfg.firmwareName, textLength(d->cfg.firmwareName, 24));
        return 32;
    case CMD_GET_DEV_STATE:
        if (payload)
            return fail(RES_FORMAT);
        reply[2] = d->state;
        return 3;
    case CMD_SET_NOTIF: {
        if (payload != 1)
            return fail(RES_FORMAT);
        const uint8_t mask = body[1];
        const bool wasOn = (d->notif & NOTIF_DATA) != 0;
        if (mask & 0x80)
            d->notif = static_cast<uint8_t>(d->notif & ~(mask & 0x7F));
        else
            d->notif = static_cast<uint8_t>(d->notif | mask);
        if (!wasOn && (d->notif & NOTIF_DATA)) {
            d->batteryArmed = true;
            d->nextBatteryMs = now + d->cfg.batteryPeriodMs;
        }
        return 2;
    }
    case CMD_READ_CFG:
        if (payload)
            return fail(RES_FORMAT);
        std::memcpy(reply + 2, d->image, d->imageSize);
        return 2 + d->imageSize;
    case CMD_WRITE_CFG: {
        if (payload != d->imageSize)
            return fail(RES_FORMAT);
        if (d->state != SIM_STATE_REST)
            return fail(RES_STATE);
        const uint8_t result = simCheckConfig(d->model, body + 1, payload);
        if (result != RES_OK)
            return fail(result);
        std::memcpy(d->image, body + 1, payload);
        return 2;
    }
    case CMD_START_MES:
    case CMD_START_TEST:
        if (payload)
            return fail(RES_FORMAT);
        if (d->state != SIM_STATE_REST || !anyChannelOn(d))
            return fail(RES_STATE);
        startRun(d, code == CMD_START_TEST, now);
        d->state = code == CMD_START_TEST ? SIM_STATE_TEST : SIM_STATE_MEASURE;
        return 2;
    case CMD_STOP_MES:
    case CMD_STOP_TEST:
        if (payload)
            return fail(RES_FORMAT);
        if (d->state != (code == CMD_STOP_TEST ? SIM_STATE_TEST : SIM_STATE_MEASURE))
            return fail(RES_STATE);
        stopRun(d, now);
        d->state = SIM_STATE_REST;
        return 2;
    case CMD_RESTART:
        if (payload)
            return fail(RES_FORMAT);
        *restart = true;
        return 2;
    default:
        return fail(RES_UNKNOWN);
    }
}

void handleBody(SimDevice *d, const uint8_t *body, size_t n, uint32_t now) {
    ++d->stats.framesReceived;
    if (simBootDeaf(&d->boot, now))
        return;
    const uint8_t code = body[0];
    uint8_t reply[2 + SIM_GENERAL_BYTES + SIM_MAX_CHANNELS * 6 + 81];

    if (code >= 0x40) {
        // Not a command at all: the device cannot know what was meant.
        reply[0] = static_cast<uint8_t>(REPLY_BIT | (code & 0x3F));
        reply[1] = RES_UNKNOWN;
        sendReplyNow(d, reply, 2);
        return;
    }

    const Fault f = takeFault(d, code);
    if (f.action == SIM_FAULT_IGNORE)
        return;
    if (f.action == SIM_FAULT_RESULT) {
        reply[0] = static_cast<uint8_t>(REPLY_BIT | code);
        reply[1] = static_cast<uint8_t>(f.param);
        sendReplyNow(d, reply, 2);
        return;
    }

    bool restart = false;
    size_t size = 0;
    const SimBootView view = {&d->state, d->cfg.firmware, d->cfg.firmwareName};
    if (simBootCommand(&d->boot, &view, body, n, now, reply, &size, &restart) == SIM_BOOT_PASS)
        size = execute(d, body, n, now, reply, &restart);
    if (f.action == SIM_FAULT_WITHHOLD)
        ++d->stats.repliesWithheld;
    else if (f.action == SIM_FAULT_DELAY && f.param)
        scheduleReply(d, reply, size, now + f.param);
    else
        sendReplyNow(d, reply, size);
    if (restart)
        resetDevice(d);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------

SimDevice *simDeviceCreate(const SimDeviceConfig *cfg) {
    if (!cfg)
        return nullptr;
    char name[33];
    copyField(name, sizeof name, cfg->model);
    const SimModel *model = simModelFind(name);
    if (!model || model->family == SIM_FAMILY_BREV)
        return nullptr;
    SimDevice *d = new (std::nothrow) SimDevice;
    if (!d)
        return nullptr;
    std::memset(static_cast<void *>(d), 0, sizeof *d);
    d->cfg = *cfg;
    d->cfg.model[sizeof d->cfg.model - 1] = 0;
    d->model = model;
    d->recSize = simModelRecordSize(model);
    d->imageSize = simModelImageSize(model);
    copyField(d->maker, sizeof d->maker, cfg->maker);
    copyField(d->modelName, sizeof d->modelName, cfg->model);
    copyField(d->serial, sizeof d->serial, cfg->serial);
    d->linkUp = true;
    simBootInit(&d->boot);
    resetDevice(d);
    return d;
}

void simDeviceDestroy(SimDevice *dev) { delete dev; }

void simDevicePowerCycle(SimDevice *dev, uint32_t nowMs) {
    if (!dev)
        return;
    advance(dev, nowMs);
    resetDevice(dev);
    dev->fifoHead = dev->fifoCount = 0;
    for (Scheduled &s : dev->slot)
        s.used = false;
}

// ---------------------------------------------------------------------------
// Transport side
// ---------------------------------------------------------------------------

void simDeviceReceive(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs) {
    if (!dev)
        return;
    const uint32_t now = advance(dev, nowMs);
    if (!data)
        return;
    if (!dev->linkUp) {
        dev->stats.bytesLostRx += static_cast<uint32_t>(size);
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        SimRx &rx = dev->rx;
        if (dev->cfg.frameTimeoutMs && simRxBusy(&rx) && !before(now, rx.lastByteMs + dev->cfg.frameTimeoutMs)) {
            simRxReset(&rx, simBootRxLimit(&dev->boot));
            ++dev->stats.frameTimeouts;
        }
        rx.lastByteMs = now;
        uint32_t length = 0;
        switch (simRxFeed(&rx, data[i], &length)) {
        case SIM_RX_BODY:
            handleBody(dev, rx.body, length, now);
            break;
        case SIM_RX_OVERLONG:
            ++dev->stats.overlongFrames;
            break;
        default:
            break;
        }
    }
}

size_t simDevicePending(SimDevice *dev, uint32_t nowMs) {
    if (!dev)
        return 0;
    advance(dev, nowMs);
    return dev->fifoCount;
}

size_t simDeviceTake(SimDevice *dev, uint8_t *buffer, size_t max) {
    if (!dev || !buffer)
        return 0;
    const size_t n = max < dev->fifoCount ? max : dev->fifoCount;
    for (size_t i = 0; i < n; ++i)
        buffer[i] = dev->fifo[(dev->fifoHead + i) % kFifoSize];
    dev->fifoHead = (dev->fifoHead + n) % kFifoSize;
    dev->fifoCount -= n;
    return n;
}

void simDeviceSetLinkUp(SimDevice *dev, bool up, uint32_t nowMs) {
    if (!dev)
        return;
    advance(dev, nowMs);
    if (!up && dev->linkUp)
        dev->fifoHead = dev->fifoCount = 0;     // what was in flight is gone
    if (up && !dev->linkUp)
        simRxReset(&dev->rx, simBootRxLimit(&dev->boot));     // so is a partly received command
    dev->linkUp = up;
}

// ---------------------------------------------------------------------------
// Observation
// ---------------------------------------------------------------------------

uint8_t simDeviceState(const SimDevice *dev) { return dev ? dev->state : 0; }
uint8_t simDeviceNotifMask(const SimDevice *dev) { return dev ? dev->notif : 0; }
bool simDeviceLinkUp(const SimDevice *dev) { return dev && dev->linkUp; }
int simDeviceChannels(const SimDevice *dev) { return dev ? dev->model->channels : 0; }
int simDeviceRecordSize(const SimDevice *dev) { return dev ? dev->recSize : 0; }

size_t simDeviceConfigImage(const SimDevice *dev, uint8_t *out, size_t max) {
    if (!dev)
        return 0;
    if (out)
        std::memcpy(out, dev->image, max < dev->imageSize ? max : dev->imageSize);
    return dev->imageSize;
}

void simDeviceSetDataTap(SimDevice *dev, SimDataTap tap, void *user) {
    if (!dev)
        return;
    dev->tap = tap;
    dev->tapUser = user;
}

void simDeviceRecordSamples(SimDevice *dev, int ch, SimSampleRecord *buffer, uint32_t capacity) {
    if (!dev || ch < 0 || ch >= SIM_MAX_CHANNELS)
        return;
    dev->rec[ch] = buffer;
    dev->recCap[ch] = buffer ? capacity : 0;
    dev->recCount[ch] = 0;
}

uint32_t simDeviceRecordCount(const SimDevice *dev, int ch) {
    if (!dev || ch < 0 || ch >= SIM_MAX_CHANNELS)
        return 0;
    return dev->recCount[ch];
}

void simDeviceGetStats(const SimDevice *dev, SimDeviceStats *stats) {
    if (!stats)
        return;
    if (dev)
        *stats = dev->stats;
    else
        std::memset(stats, 0, sizeof *stats);
}

// ---------------------------------------------------------------------------
// Control
// ---------------------------------------------------------------------------

void simDeviceSetSignalState(SimDevice *dev, int ch, uint8_t state, uint32_t nowMs) {
    if (!dev || ch < -1 || ch >= dev->model->channels)
        return;
    advance(dev, nowMs);
    if (ch < 0)
        dev->sumState = state & 3u;
    else
        dev->chState[ch] = state & 3u;
}

void simDeviceSendEvent(SimDevice *dev, uint8_t event, int data, uint32_t nowMs) {
    if (!dev)
        return;
    advance(dev, nowMs);
    uint8_t body[3] = {NOT_EVENT, event, 0};
    size_t size = 2;
    if (data >= 0 && data <= 255) {
        body[2] = static_cast<uint8_t>(data);
        size = 3;
    }
    if (sendBody(dev, body, size))
        ++dev->stats.events;
}

void simDeviceSetBattery(SimDevice *dev, uint8_t state, uint32_t nowMs) {
    if (!dev)
        return;
    dev->cfg.battery = state;
    simDeviceSendEvent(dev, SIM_EVENT_BATTERY, state, nowMs);
}

bool simDeviceSetFault(SimDevice *dev, int command, SimFaultAction action, uint32_t param, int32_t times) {
    if (!dev || command < SIM_ANY_COMMAND || command >= 0x40)
        return false;
    if (action > SIM_FAULT_RESULT)
        return false;
    if (action != SIM_FAULT_NONE && times != SIM_ALWAYS && times <= 0)
        return false;
    if (action == SIM_FAULT_RESULT && (param < 1 || param > 255))
        return false;
    Fault &f = command == SIM_ANY_COMMAND ? dev->anyFault : dev->fault[command];
    if (action == SIM_FAULT_NONE)
        f = Fault{};
    else
        f = Fault{action, param, times};
    return true;
}

void simDeviceClearFaults(SimDevice *dev) {
    if (!dev)
        return;
    for (Fault &f : dev->fault)
        f = Fault{};
    dev->anyFault = Fault{};
    dev->dropData = 0;
    dev->silence = false;
}

void simDeviceInjectBytes(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs) {
    if (!dev || !data)
        return;
    advance(dev, nowMs);
    sendFrame(dev, data, size);
}

bool simDeviceInjectFrame(SimDevice *dev, uint8_t code, const uint8_t *payload, size_t size, uint32_t nowMs) {
    if (!dev || size + 1 > kInjectMax)
        return false;
    uint8_t body[kInjectMax];
    body[0] = code;
    if (payload)
        std::memcpy(body + 1, payload, size);
    else
        std::memset(body + 1, 0, size);
    advance(dev, nowMs);
    sendBody(dev, body, size + 1);
    return true;
}

void simDeviceDropData(SimDevice *dev, uint32_t n) {
    if (dev)
        dev->dropData = n;
}

void simDeviceSilence(SimDevice *dev, uint32_t durationMs, uint32_t nowMs) {
    if (!dev)
        return;
    const uint32_t now = advance(dev, nowMs);
    dev->silence = durationMs != 0;
    dev->silenceFrom = now;
    dev->silenceUntil = now + durationMs;
}

void simDeviceSetIdentity(SimDevice *dev, const char *maker, const char *model, const char *serial) {
    if (!dev)
        return;
    if (maker)
        copyField(dev->maker, sizeof dev->maker, maker);
    if (model)
        copyField(dev->modelName, sizeof dev->modelName, model);
    if (serial)
        copyField(dev->serial, sizeof dev->serial, serial);
}

SimBoot *simDeviceBoot(SimDevice *dev) { return dev ? &dev->boot : nullptr; }
