// sim_stream.cpp - the simulated device's output side: the transmit queue
// the transceiver drains, the device's time (delayed replies and periodic
// events), and the data stream of a measurement or test run: ticks, samples
// and the data messages that carry them.
#include <cstring>

#include "sim/sim_device_internal.h"

namespace simdev {

namespace {

// ---------------------------------------------------------------------------
// Data messages
// ---------------------------------------------------------------------------

uint16_t statusWord(const SimDevice *d) {
    unsigned s = d->sumState & 3u;
    for (int c = 0; c < d->model->channels; ++c)
        s |= static_cast<unsigned>(d->chState[c] & 3u) << (2 + 2 * c);
    return static_cast<uint16_t>(s);
}

// The first whole millisecond at which tick t is complete.
uint32_t tickEndMs(const SimDevice *d, uint32_t t) {
    const uint64_t num = (static_cast<uint64_t>(t) + 1) * d->tickNum + (d->tickDen - 1);
    return d->startMs + static_cast<uint32_t>(num / d->tickDen);
}

SimFate dataFate(SimDevice *d, uint32_t at) {
    const bool on = isBrev(d) ? (d->brevNotif & BREV_NOTIF_RAW) != 0 : (d->notif & NOTIF_DATA) != 0;
    if (!on)
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

// The body of the data message being closed: code, phase, status word and
// the samples in wire order. Returns its size.
size_t dataBody(const SimDevice *d, uint16_t phase, uint16_t status, uint8_t *body) {
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
    return 5 + 2u * d->msgTotal;
}

// Enters the samples of the closed message into the channels' records.
void recordMessage(SimDevice *d, SimFate fate) {
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
}

// Shows the closed message to the data tap.
void tapMessage(SimDevice *d, uint32_t at, uint16_t phase, uint16_t status, SimFate fate) {
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

}  // namespace

// Closes the data message being filled at time at: sends it (or loses it)
// and records what became of it.
void closeMessage(SimDevice *d, uint32_t at) {
    if (!d->msgOpen)
        return;
    d->msgOpen = false;

    uint8_t body[5 + 2 * kMaxSamples];
    const uint16_t phase = static_cast<uint16_t>(d->msgFirstTick & 0xFFFFu);
    const uint16_t status = statusWord(d);
    const size_t size = isBrev(d) ? brevDataBody(d, body) : dataBody(d, phase, status, body);

    SimFate fate = dataFate(d, at);
    if (fate == SIM_FATE_SENT && !sendBody(d, body, size))
        fate = SIM_FATE_OVERFLOW;
    ++d->stats.dataMessages;
    if (fate == SIM_FATE_SENT)
        ++d->stats.dataSent;

    recordMessage(d, fate);
    if (d->tap)
        tapMessage(d, at, phase, status, fate);
}

namespace {

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
        int16_t v = simSignalValue(&d->cfg.signal[c], k.n, k.rate);
        if (isBrev(d))  // 12-bit samples
            v = v > 2047 ? 2047 : v < -2048 ? -2048 : v;
        d->msgSamples[i] = v;
        d->msgChannel[i] = static_cast<uint8_t>(c);
        d->msgTick[i] = t;
        ++k.n;
        if (++d->msgCount[c] > most)
            most = d->msgCount[c];
    }
    ++d->msgTicks;

    bool full = d->msgTicks >= d->ticksPerMessage || most >= d->ticksPerMessage ||
                d->msgTotal + d->sampling > kMaxSamples;
    if (d->cfg.maxMessageMs &&
        static_cast<uint64_t>(d->msgTicks) * d->tickNum >= static_cast<uint64_t>(d->cfg.maxMessageMs) * d->tickDen)
        full = true;
    if (full)
        closeMessage(d, tickEndMs(d, t));
}

// Runs the tick clock up to time T: every tick complete by then is sampled.
void streamTo(SimDevice *d, uint32_t T) {
    if (!d->streaming || before(T, d->startMs) || (isBrev(d) && d->state == BREV_PAUSED))
        return;
    const uint64_t done = static_cast<uint64_t>(T - d->startMs) * d->tickDen / d->tickNum;
    while (d->nextTick < done) {
        addTick(d, d->nextTick);
        ++d->nextTick;
    }
}

void sendBatteryEvent(SimDevice *d) {
    const uint8_t body[3] = {NOT_EVENT, SIM_EVENT_BATTERY, d->cfg.battery};
    if (sendBody(d, body, sizeof body))
        ++d->stats.events;
}

}  // namespace

// ---------------------------------------------------------------------------
// Transmit queue
// ---------------------------------------------------------------------------

bool sendFrame(SimDevice *d, const uint8_t *frame, size_t size) {
    if (!d->linkUp)
        return false;
    return d->txQueue.pushAll(frame, size);
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
// Runs
// ---------------------------------------------------------------------------

void startRun(SimDevice *d, bool test, uint32_t now) {
    int m = 4;
    for (int c = 0; c < d->model->channels; ++c) {
        const uint8_t *r = d->image + SIM_GENERAL_BYTES + c * d->recSize;
        if ((r[0] & 0x80) && r[3] > m)
            m = r[3];
    }
    d->tickNum = 64;
    d->tickDen = 1u << (m - 4);
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
    d->ticksPerMessage = kMaxTicks;
}

void stopRun(SimDevice *d, uint32_t now) {
    if (!d->streaming)
        return;
    if (d->msgOpen && d->msgTicks)
        closeMessage(d, now);
    d->msgOpen = false;
    d->streaming = false;
}

bool anyChannelOn(const SimDevice *d) {
    for (int c = 0; c < d->model->channels; ++c)
        if (d->image[SIM_GENERAL_BYTES + c * d->recSize] & 0x80)
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------

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

}  // namespace simdev
