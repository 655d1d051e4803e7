// sim_brev.cpp - what a simulated Brev device does differently from a
// Halvex device: its commands (device information and state, a 16-bit
// notification mask, a measurement started with a 4-byte configuration),
// its single 12-bit channel at 128, 256 or 512 samples per second sent in
// raw data notifications of an eighth of a second, its button that pauses
// and resumes a measurement, and its artifact reports.
//
// The frame, the time, the reply faults and the sample record are the
// Halvex device's (sim_device.cpp, sim_stream.cpp, sim_commands.cpp).
#include <cstring>

#include "sim/sim_device_internal.h"

namespace simdev {

namespace {

// The 4-byte configuration of CMD_START_MES: byte 1 is the rate code
// (0 = 128, 1 = 256, 2 = 512 samples per second).
const size_t START_PAYLOAD = 4;
const size_t START_RATE_AT = 1;
const uint8_t RATE_CODES = 3;
// The sample clock: a tick of 1000 / (128 * 2^code) ms.
const uint32_t TICK_MS_TIMES_BASE_RATE = 1000;
const uint32_t BASE_RATE = 128;
// A data message carries an eighth of a second.
const uint16_t TICKS_PER_MESSAGE_BASE = 16;

bool running(const SimDevice *d) { return d->state == BREV_MEASURING || d->state == BREV_PAUSED; }

void startMeasuring(SimDevice *d, uint8_t rateCode, uint32_t now) {
    d->tickNum = TICK_MS_TIMES_BASE_RATE;
    d->tickDen = BASE_RATE << rateCode;
    d->sampling = 1;
    for (Channel &k : d->ch) k = Channel{};
    d->ch[0].active = true;
    d->ch[0].mask = 0;
    d->ch[0].rate = (double)(BASE_RATE << rateCode);
    d->streaming = true;
    d->testMode = false;
    d->startMs = now;
    d->nextTick = 0;
    d->msgOpen = false;
    d->ticksPerMessage = static_cast<uint16_t>(TICKS_PER_MESSAGE_BASE << rateCode);
    d->state = BREV_MEASURING;
}

// The samples taken so far go out, the sample clock stops.
void pause(SimDevice *d, uint32_t now) {
    if (d->msgOpen && d->msgTicks) closeMessage(d, now);
    d->pausedAt = now;
    d->state = BREV_PAUSED;
}

// The sample clock goes on where it stopped.
void resume(SimDevice *d, uint32_t now) {
    d->startMs += now - d->pausedAt;
    d->state = BREV_MEASURING;
}

void announceState(SimDevice *d) {
    const uint8_t body[2] = {BREV_NOT_STATE_CHG, d->state};
    brevNotify(d, BREV_NOTIF_STATE, body, sizeof body);
}

size_t result(uint8_t *reply, uint8_t code) {
    reply[1] = code;
    return 2;
}

}  // namespace

size_t brevExecute(SimDevice *d, const uint8_t *body, size_t n, uint32_t now, uint8_t *reply) {
    const uint8_t code = body[0];
    const size_t payload = n - 1;
    switch (code) {
    case CMD_GET_DEV_INFO:
        return payload == 0 ? identityReply(d, reply) : result(reply, RES_FORMAT);
    case CMD_GET_DEV_STATE:
        if (payload != 0) return result(reply, RES_FORMAT);
        reply[2] = d->state;
        return 3;
    case BREV_SET_NOTIF:
        if (payload != 2) return result(reply, RES_FORMAT);
        d->brevNotif = static_cast<uint16_t>(body[1] | (body[2] << 8));
        return 2;
    case BREV_START_MES:
        if (payload != START_PAYLOAD) return result(reply, RES_FORMAT);
        if (d->state != SIM_STATE_REST) return result(reply, RES_STATE);
        if (body[1 + START_RATE_AT] >= RATE_CODES) return result(reply, RES_PARAMS);
        startMeasuring(d, body[1 + START_RATE_AT], now);
        return 2;
    case BREV_STOP_MES:
        if (payload != 0) return result(reply, RES_FORMAT);
        if (!running(d)) return result(reply, RES_STATE);
        if (d->state == BREV_PAUSED) resume(d, now);
        stopRun(d, now);
        d->state = SIM_STATE_REST;
        return 2;
    default:
        return result(reply, RES_UNKNOWN);
    }
}

size_t brevDataBody(const SimDevice *d, uint8_t *body) {
    body[0] = BREV_NOT_RAW_DATA;
    for (int i = 0; i < d->msgTotal; ++i) {
        const uint16_t v = static_cast<uint16_t>(d->msgSamples[i]);
        body[1 + 2 * i] = static_cast<uint8_t>(v & 0xFF);
        body[2 + 2 * i] = static_cast<uint8_t>(v >> 8);
    }
    return 1 + 2u * d->msgTotal;
}

void brevNotify(SimDevice *d, uint16_t bit, const uint8_t *body, size_t size) {
    if (d->brevNotif & bit) sendBody(d, body, size);
}

}  // namespace simdev

using namespace simdev;

// ---------------------------------------------------------------------------
// Controls of sim_device.h
// ---------------------------------------------------------------------------

bool simDeviceButton(SimDevice *dev, uint32_t nowMs) {
    if (!dev || !isBrev(dev) || !running(dev))
        return false;
    const uint32_t now = advance(dev, nowMs);
    if (dev->state == BREV_MEASURING)
        pause(dev, now);
    else
        resume(dev, now);
    announceState(dev);
    return true;
}

bool simDeviceArtifact(SimDevice *dev, uint8_t code, uint8_t channel, uint32_t nowMs) {
    if (!dev || !isBrev(dev))
        return false;
    advance(dev, nowMs);
    const uint8_t body[3] = {BREV_NOT_ARTIFACT, code, channel};
    brevNotify(dev, BREV_NOTIF_ARTIFACT, body, sizeof body);
    return true;
}

bool simDeviceSetState(SimDevice *dev, uint8_t state, uint32_t nowMs) {
    if (!dev || !isBrev(dev))
        return false;
    const uint32_t now = advance(dev, nowMs);
    if (state == dev->state)
        return true;
    if (running(dev) && (state == BREV_MEASURING || state == BREV_PAUSED)) {
        if (state == BREV_PAUSED)
            pause(dev, now);
        else
            resume(dev, now);
    } else {
        // Any other state ends a measurement on the device.
        if (dev->state == BREV_PAUSED)
            resume(dev, now);
        stopRun(dev, now);
        dev->state = state;
    }
    announceState(dev);
    return true;
}
