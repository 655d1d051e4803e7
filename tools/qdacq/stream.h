// stream.h - what a host does with the sample packets of one context:
// physical units from the range parameters, phase continuity (lost ticks and
// the samples they held), per-channel tallies and the CSV file.
//
// Physical value of a 32-bit sample s (the device value d times 65536):
//   value = s * R / 2^31 = d * R / 32768,  R = "Measurement range".
// This is the EDF writer's mapping: digital minimum trunc(m * 32768 / R) to
// physical minimum m ("Range minimum"), digital 32767 to physical maximum
// R * 32767 / 32768, a straight line through both, which is d * R / 32768
// whatever m is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "API/driver/ui/clockmodel.h"
#include "tools/common/driver_binding.h"

const int STREAM_CHANNELS = 6;

struct StreamChannel {
    bool on = false;
    std::string name;       // "Channel name" (A, B, ...)
    std::string unit;       // unit of "Measurement range"
    double range = 0;       // "Measurement range"
    double minimum = 0;     // "Range minimum"
    double rate = 0;        // "Sample rate" (sps)
};

struct ChannelTally {
    uint64_t count = 0;
    int32_t min = 0, max = 0;
    uint64_t lost = 0;      // samples this channel had in lost ticks
};

// The EDF mapping of a device value d, for a channel (see above).
double edfPhysical(const StreamChannel &c, double d);

class SampleStream {
public:
    // Reads the channel parameters of the selected context.
    void setup(const DriverApi &api, int channels);
    // Opens the CSV file (header "phase,channel,value", with times
    // ",time": seconds since `start` on the host's clock); false with *why.
    bool openCsv(const std::string &path, std::string *why, bool times = false);
    // Closes it; false when a write or the close failed (the file then
    // lacks samples). True when no file was open.
    bool closeCsv();

    // One packet from QdProcSamples (any thread), arrived at host seconds.
    void packet(uint16_t phase, const ChannelSamples *blocks, double arrival);
    // An indicator report: a pause or a link error interrupts the samples
    // of a device whose phase the driver counts (the clock then measures).
    void indicator(uint16_t type, uint16_t value);
    // A host's marker at host seconds `when`: a CSV line "phase,marker,"text""
    // (phase: the sample instant the clock puts there; ",time" with times).
    void marker(const char *text, double when);
    // The clock model's fit: how fast the device's clock runs (ppm) and the
    // seconds of ticks it has seen; false before the first packet.
    bool clockRatio(double *ppm, double *seconds);

    // Tallies since the last call (and resets them), and the totals.
    void takeInterval(ChannelTally out[STREAM_CHANNELS]);
    void totals(ChannelTally out[STREAM_CHANNELS], uint64_t *gaps, uint64_t *lostTicks, uint64_t *packets);

    double physical(int channel, int32_t sample) const { return (double)sample * ch[channel].range / 2147483648.0; }

    int channels = 0;
    StreamChannel ch[STREAM_CHANNELS];
    double start = 0;           // host seconds of the measurement's start (the CSV's time 0)

private:
    std::mutex lock_;
    FILE *csv_ = nullptr;
    bool csvFailed_ = false;
    uint16_t expected_ = 0;     // phase the next packet must begin with
    bool times_ = false;        // the CSV's time column
    bool pauses_ = false;       // the device pauses (the driver counts its phase)
    SampleClock clock_;         // the time of every sample
    uint64_t gaps_ = 0, lostTicks_ = 0, packets_ = 0;
    ChannelTally interval_[STREAM_CHANNELS];
    ChannelTally total_[STREAM_CHANNELS];
};
