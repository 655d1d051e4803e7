// samples.cpp - decoding of the data notifications into per-channel blocks of
// 32-bit samples, the high-pass filter, signal states, phase watch and the
// delivery of each message's blocks.
#include "API/driver/protocol/samples.h"

#include <cmath>
#include <cstring>

#include "API/driver/frame/contexts.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/protocol/protocol.h"

// Channel records follow the 16 general bytes of the configuration image.
static const uint32_t CHANNEL_RECORDS_AT = 16;

// Cut-off factors of the high-pass choices 0, 1 and 2 (3 = no filter).
static const double HIGH_PASS_FACTOR[3] = {0.5, 0.05, 0.01};
static const double SIX_TENTHS_PI = 1.8849555921538759;

void samplesPrepare(ProtocolState *ps, uint16_t model, uint32_t stride) {
    SampleStaging *s = &ps->staging;
    s->sumState = 0;
    s->expectedPhase = 0;
    memset(s->blocks, 0, sizeof s->blocks);
    memset(s->filter, 0, sizeof s->filter);
    memset(s->kind, 0, sizeof s->kind);

    int channels = ps->channels < STAGING_CHANNELS ? ps->channels : STAGING_CHANNELS;
    const uint8_t *image = ps->image;
    bool on[STAGING_CHANNELS] = {};
    int m = 4;
    for (int i = 0; i < channels; i++) {
        uint32_t at = CHANNEL_RECORDS_AT + (uint32_t)i * stride;
        if (stride < 4 || at + 4 > CONFIG_IMAGE_SIZE) break;
        const uint8_t *rec = image + at;
        if ((rec[0] & 0x80) == 0) continue;
        on[i] = true;
        s->blocks[i].samples = s->area[i];
        s->kind[i] = rec[1];
        if (rec[3] > m) m = rec[3];
    }
    if (ps->mode == 0) {
        for (int i = 0; i < channels; i++) {
            if (!on[i]) continue;
            const uint8_t *rec = image + CHANNEL_RECORDS_AT + (uint32_t)i * stride;
            int shift = m - rec[3];
            // Valid rate codes (4..11) give shifts of 0..7; a corrupt image
            // must not make the mask shift out of its 16 bits.
            if (shift > 15) shift = 15;
            s->blocks[i].rateMask = (uint16_t)((1u << shift) - 1u);
        }
    }
    if (modelFiltersHighPass(model) && ps->mode == 0) {
        for (int i = 0; i < channels; i++) {
            if (!on[i]) continue;
            uint32_t at = CHANNEL_RECORDS_AT + (uint32_t)i * stride;
            if (at + 5 > CONFIG_IMAGE_SIZE) break;
            const uint8_t *rec = image + at;
            uint8_t choice = rec[4];
            if (rec[1] != 0 || choice > 2) continue;
            double w = std::ldexp(1.0, 11 - (int)rec[3]) * HIGH_PASS_FACTOR[choice] * SIX_TENTHS_PI / 2000.0;
            FilterRecord *f = &s->filter[i];
            f->enabled = 1;
            f->a = 1.0 - w;
            f->b = 2.0 * w - 1.0;
        }
    }
}

int32_t samplesFilter(FilterRecord *f, int16_t sample) {
    int32_t x = (int32_t)sample * 65536;
    if (!f->enabled) return x;
    if (!f->primed) {
        f->x = x;
        f->primed = 1;
        return x;
    }
    // A saturated input passes unchanged and leaves the filter as it was.
    if (sample == 32767 || sample == -32768) return x;
    double y = ((double)x - (double)f->x) * f->a - f->b * f->y;
    f->y = y;
    f->x = x;
    // A full-scale step gives up to twice the 32-bit range: the output
    // saturates instead of overflowing the conversion.
    if (y >= 2147483647.0) return 2147483647;
    if (y <= -2147483648.0) return (int32_t)-2147483647 - 1;
    return (int32_t)y;
}

// Hands one message's blocks to the driver window running the measurement
// on the selected context, or to the host.
static void deliver(uint16_t ctx, uint16_t phase, uint16_t sumState, ChannelSamples *blocks) {
    uint16_t activity = windowActivity.load();
    const WindowPort *port = protoWindowPort();
    if (port != nullptr && protoSelectedContext() == (int16_t)ctx &&
        (activity == ACTIVITY_TESTING || activity == ACTIVITY_RECORDING)) {
        port->takePacket(ctx, phase, sumState, blocks);
        return;
    }
    QdProcSamplesFn procSamples = QdProcSamples;
    if (procSamples != nullptr) procSamples(ctx, phase, sumState, blocks);
}

static int16_t sampleAt(const uint8_t *p) {
    return (int16_t)(uint16_t)(p[0] | (p[1] << 8));
}

// The signal states of the status word: the sum state and one per channel,
// each logged and reported when it changes. Also clears the blocks and tells
// whether any channel takes samples in this mode.
static bool takeSignalStates(ProtocolState *ps, uint16_t status, int channels) {
    SampleStaging *s = &ps->staging;
    uint16_t ctx = ps->context;
    uint16_t sum = status & 3;
    if (sum != s->sumState) {
        qdLog("# (%i) SUM signal state: %i\n", ctx, sum);
        reportIndicator(ctx, QD_IND_SIGNAL, sum);
        s->sumState = sum;
    }
    bool anyTaker = false;
    for (int i = 0; i < channels; i++) {
        ChannelSamples *b = &s->blocks[i];
        if (b->samples == nullptr) continue;
        b->count = 0;
        uint16_t state = (uint16_t)((status >> (2 + 2 * i)) & 3);
        if (state != b->signalState) {
            b->signalState = state;
            qdLog("# (%i) %c signal state: %i\n", ctx, 'A' + i, state);
            reportIndicator(ctx, QD_IND_SIGNAL, (uint16_t)(state + 256 * (i + 1)));
        }
        if (ps->mode != 1 || s->kind[i] < 4) anyTaker = true;
    }
    return anyTaker;
}

// Hands the k samples of a message out to the channels whose rate takes a
// sample at each tick from *tick on, filtered; *tick ends after the last
// tick used. Returns how many samples found no room in their block.
static uint32_t decodeSamples(ProtocolState *ps, const uint8_t *data, uint32_t k, int channels, uint16_t *tick) {
    SampleStaging *s = &ps->staging;
    uint16_t t = *tick;
    uint32_t next = 0;
    uint32_t dropped = 0;
    while (next < k) {
        for (int i = 0; i < channels && next < k; i++) {
            ChannelSamples *b = &s->blocks[i];
            if (b->samples == nullptr) continue;
            if ((uint16_t)((t + 1) & b->rateMask) != 0) continue;
            if (ps->mode == 1 && s->kind[i] >= 4) continue;
            int32_t out = samplesFilter(&s->filter[i], sampleAt(data + 2 * next));
            next++;
            if (b->count < STAGING_SAMPLES) {
                b->samples[b->count++] = out;
            } else {
                dropped++;
            }
        }
        t++;
    }
    *tick = t;
    return dropped;
}

void samplesHandleData(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    SampleStaging *s = &ps->staging;
    uint16_t ctx = ps->context;
    if (n < 5) return;
    uint16_t phase = (uint16_t)(body[1] | (body[2] << 8));
    uint16_t status = (uint16_t)(body[3] | (body[4] << 8));
    int channels = ps->channels < STAGING_CHANNELS ? ps->channels : STAGING_CHANNELS;
    // The indicator and sample callbacks may stop or close the context: the
    // rest of the message is then dropped and the data watch stays off.
    uint32_t mark = protoStopMark(ps);
    bool anyTaker = takeSignalStates(ps, status, channels);
    if (protoStoppedSince(ps, mark)) return;

    uint32_t k = (n - 5) / 2;
    if (n - 1 >= 5 && phase != s->expectedPhase) {
        reportIndicator(ctx, QD_IND_LINK, 2);
        if (protoStoppedSince(ps, mark)) return;
        protoTimerStart(ps, INT_T4 - INT_T1, 10000, false);
        protoLogError(ctx, kLogLinkErrorLoss);
        qdLog("# Sample data loss (cur.ph. %i, exp.ph. %i)\n", phase, s->expectedPhase);
    }

    uint16_t t = phase;
    // No channel ever takes a sample: nothing to decode.
    uint32_t dropped = anyTaker ? decodeSamples(ps, body + 5, k, channels, &t) : k;
    if (dropped > 0) {
        qdLog("!(%i) Data message holds more samples than a block can take: %u dropped\n", ctx,
              (unsigned)dropped);
    }
    s->expectedPhase = k > 0 ? t : phase;

    deliver(ctx, phase, s->sumState, s->blocks);
    if (!protoStoppedSince(ps, mark)) protoTimerStart(ps, INT_T3 - INT_T1, 2000, false);
}

void samplesHandleRawData(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    BrevStaging *s = &ps->brev;
    if (n < 1) return;
    uint32_t count = (n - 1) / 2;
    uint32_t keep = count < (uint32_t)BREV_STAGING_SAMPLES ? count : (uint32_t)BREV_STAGING_SAMPLES;
    for (uint32_t j = 0; j < keep; j++) {
        // 12-bit samples move to the top of the 32-bit value; anything
        // larger saturates instead of overflowing.
        int32_t v = sampleAt(body + 1 + 2 * j);
        if (v > 2047) v = 2047;
        if (v < -2048) v = -2048;
        s->area[j] = v * 1048576;
    }
    if (keep < count) {
        qdLog("!(%i) Data message holds more samples than a block can take: %u dropped\n",
              ps->context, (unsigned)(count - keep));
    }
    s->block.count = (uint16_t)keep;
    s->block.samples = s->area;
    s->block.signalState = s->channelState;
    s->block.rateMask = 0;
    deliver(ps->context, s->phase, s->sumState, &s->block);
    s->phase = (uint16_t)(s->phase + count);
}
