// stream.cpp - phase continuity, tallies and CSV output of sample packets.
#include "tools/qdacq/stream.h"

#include <cerrno>
#include <cstring>

double edfPhysical(const StreamChannel &c, double d) {
    if (c.range == 0) return 0;
    // The EDF header's numbers, in the single precision the writer uses.
    float physMax = (float)c.range * 32767.0f / 32768.0f;
    float physMin = (float)c.minimum;
    double digMin = (double)(int32_t)((float)c.minimum * 32768.0f / (float)c.range);
    double digMax = 32767.0;
    if (digMax == digMin) return physMin;
    return physMin + (d - digMin) * ((double)physMax - (double)physMin) / (digMax - digMin);
}

static double floatParam(const DriverApi &api, uint16_t id, int channel) {
    QdParamValue v;
    std::memset(&v, 0, sizeof v);
    if (api.GetParam(id, (uint16_t)channel, &v) != QD_GETPARAM_OK) return 0;
    switch (v.type & 0x7F) {
    case QD_KIND_FLOAT: return v.value.f;
    case QD_KIND_INT:
    case QD_KIND_BOOL: return v.value.i;
    default: return 0;
    }
}

void SampleStream::setup(const DriverApi &api, int n) {
    channels = n < STREAM_CHANNELS ? n : STREAM_CHANNELS;
    for (int c = 0; c < channels; ++c) {
        StreamChannel &s = ch[c];
        char text[96];
        const char *name = api.Param2Str(QD_PAR_CHANNEL_NAME, (uint16_t)c, text);
        s.name = name ? name : std::string(1, (char)('A' + c));
        QdParamValue v;
        std::memset(&v, 0, sizeof v);
        // A channel without "Channel enable" is always on.
        s.on = api.GetParam(QD_PAR_CHANNEL_ENABLE, (uint16_t)c, &v) != QD_GETPARAM_OK || v.value.i != 0;
        s.range = floatParam(api, QD_PAR_MEASUREMENT_RANGE, c);
        s.minimum = floatParam(api, QD_PAR_RANGE_MINIMUM, c);
        s.rate = floatParam(api, QD_PAR_SAMPLE_RATE, c);
        const QdParamDef *def = api.ParamInfo(QD_PAR_MEASUREMENT_RANGE, (int16_t)c);
        s.unit = def && def->unit ? def->unit : "";
    }
    QdParamValue support;
    std::memset(&support, 0, sizeof support);
    pauses_ = api.GetParam(QD_PAR_INDICATOR_SUPPORT, 0, &support) == QD_GETPARAM_OK &&
              (support.value.i & (1 << QD_IND_PAUSE)) != 0;
}

bool SampleStream::openCsv(const std::string &path, std::string *why, bool times) {
    csv_ = fopen(path.c_str(), "w");
    if (!csv_) {
        *why = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    times_ = times;
    csvFailed_ = fprintf(csv_, times ? "phase,channel,value,time\n" : "phase,channel,value\n") < 0;
    return true;
}

bool SampleStream::closeCsv() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!csv_) return !csvFailed_;
    // A write that failed (full disk) sets the stream's error flag too; the
    // close writes what is still buffered and may fail by itself.
    if (ferror(csv_)) csvFailed_ = true;
    if (fclose(csv_) != 0) csvFailed_ = true;
    csv_ = nullptr;
    return !csvFailed_;
}

// Ticks t in [from, from + length) with ((t + 1) & mask) == 0.
static uint64_t dueTicks(uint32_t from, uint32_t length, uint16_t mask) {
    uint32_t period = (uint32_t)mask + 1;
    return (uint64_t)((from + length) / period - from / period);
}

// The clock at the first packet: the fastest rate is one tick, the slowest
// channel's period keeps the ticks aligned.
static void startClock(SampleClock *clock, const StreamChannel *ch, const ChannelSamples *blocks, int n,
                       bool pauses) {
    double fastest = 0;
    uint32_t align = 1;
    for (int c = 0; c < n; ++c) {
        if (!blocks[c].samples) continue;
        if (ch[c].rate > fastest) fastest = ch[c].rate;
        if ((uint32_t)blocks[c].rateMask + 1 > align) align = (uint32_t)blocks[c].rateMask + 1;
    }
    sampleClockStart(clock, fastest > 0 ? fastest : 1.0, pauses, align);
}

void SampleStream::packet(uint16_t phase, const ChannelSamples *blocks, double arrival) {
    std::lock_guard<std::mutex> guard(lock_);
    ++packets_;
    int n = channels;
    uint16_t ticks = 0;   // the fastest channel takes a sample at every tick
    for (int c = 0; c < n; ++c) {
        if (blocks[c].samples && blocks[c].count > ticks) ticks = blocks[c].count;
    }
    uint64_t firstTick = 0;
    if (ticks > 0) {
        if (!clock_.started) startClock(&clock_, ch, blocks, n, pauses_);
        firstTick = sampleClockPacket(&clock_, phase, ticks, arrival).tick;
    }
    if (ticks > 0 && phase != expected_) {
        uint32_t gap = (uint16_t)(phase - expected_);
        ++gaps_;
        lostTicks_ += gap;
        for (int c = 0; c < n; ++c) {
            if (!blocks[c].samples) continue;
            uint64_t lost = dueTicks(expected_, gap, blocks[c].rateMask);
            interval_[c].lost += lost;
            total_[c].lost += lost;
        }
    }
    if (ticks > 0) expected_ = (uint16_t)(phase + ticks);

    for (int c = 0; c < n; ++c) {
        const ChannelSamples &b = blocks[c];
        if (!b.samples) continue;
        for (int side = 0; side < 2; ++side) {
            ChannelTally &t = side ? total_[c] : interval_[c];
            for (uint16_t i = 0; i < b.count; ++i) {
                int32_t s = b.samples[i];
                if (t.count == 0 || s < t.min) t.min = s;
                if (t.count == 0 || s > t.max) t.max = s;
                ++t.count;
            }
        }
    }

    if (csv_ && !csvFailed_) {
        // Samples in wire order: tick by tick, channel by channel.
        uint16_t next[STREAM_CHANNELS] = {};
        for (uint16_t k = 0; k < ticks; ++k) {
            uint16_t t = (uint16_t)(phase + k);
            for (int c = 0; c < n; ++c) {
                const ChannelSamples &b = blocks[c];
                if (!b.samples || next[c] >= b.count || ((t + 1) & b.rateMask) != 0) continue;
                int rc = times_ ? fprintf(csv_, "%u,%d,%.7g,%.6f\n", (unsigned)t, c, physical(c, b.samples[next[c]++]),
                                          sampleClockTime(&clock_, (double)(firstTick + k)) - start)
                                : fprintf(csv_, "%u,%d,%.7g\n", (unsigned)t, c, physical(c, b.samples[next[c]++]));
                if (rc < 0) csvFailed_ = true;
            }
        }
    }
}

void SampleStream::indicator(uint16_t type, uint16_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    if ((type == QD_IND_PAUSE && value != 0) || (type == QD_IND_LINK && value == QD_LINK_STATE_ERROR)) {
        sampleClockInterrupted(&clock_);
    }
}

void SampleStream::marker(const char *text, double when) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!csv_ || csvFailed_) return;
    double tick = sampleClockTick(&clock_, when);
    uint64_t at = tick > 0 ? (uint64_t)tick : 0;
    // Quoted as CSV quotes: a doubled quote stands for one.
    std::string quoted = "\"";
    for (const char *p = text; *p; ++p) quoted += *p == '"' ? std::string("\"\"") : std::string(1, *p);
    quoted += '"';
    int rc = times_ ? fprintf(csv_, "%u,marker,%s,%.6f\n", (unsigned)(at & 0xFFFF), quoted.c_str(),
                              when - start)
                    : fprintf(csv_, "%u,marker,%s\n", (unsigned)(at & 0xFFFF), quoted.c_str());
    if (rc < 0) csvFailed_ = true;
}

bool SampleStream::clockRatio(double *ppm, double *seconds) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!clock_.fit.any) return false;
    *ppm = clockFitPpm(&clock_.fit);
    *seconds = (double)clock_.next / clock_.ticksPerSecond;
    return true;
}

void SampleStream::takeInterval(ChannelTally out[STREAM_CHANNELS]) {
    std::lock_guard<std::mutex> guard(lock_);
    for (int c = 0; c < STREAM_CHANNELS; ++c) {
        out[c] = interval_[c];
        interval_[c] = ChannelTally();
    }
}

void SampleStream::totals(ChannelTally out[STREAM_CHANNELS], uint64_t *gaps, uint64_t *lostTicks, uint64_t *packets) {
    std::lock_guard<std::mutex> guard(lock_);
    for (int c = 0; c < STREAM_CHANNELS; ++c) out[c] = total_[c];
    *gaps = gaps_;
    *lostTicks = lostTicks_;
    *packets = packets_;
}
