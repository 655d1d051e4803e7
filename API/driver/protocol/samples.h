// samples.h - the sample stream: staging areas of the data notifications,
// their decoding into 32-bit samples, the high-pass filter and the delivery
// to the host (QdProcSamples) or to the driver's own windows.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"

const int STAGING_CHANNELS = 6;        // channel records of a configuration image
const int STAGING_SAMPLES = 16;        // samples per Halvex channel and message
const int BREV_STAGING_SAMPLES = 65;   // samples of the Brev channel per message

// High-pass filter of one Halvex channel:
// y = (x - x_prev) * a - b * y_prev, with a = 1 - w, b = 2w - 1.
struct FilterRecord {
    double a;
    double b;
    double y;
    int32_t x;
    uint32_t primed;
    uint32_t enabled;
};

struct SampleStaging {
    ChannelSamples blocks[STAGING_CHANNELS];
    int32_t area[STAGING_CHANNELS][STAGING_SAMPLES];
    FilterRecord filter[STAGING_CHANNELS];
    uint8_t kind[STAGING_CHANNELS];     // channel kind (function) of each record
    uint16_t sumState;
    uint16_t expectedPhase;
};

struct BrevStaging {
    ChannelSamples block;
    int32_t area[BREV_STAGING_SAMPLES];
    uint16_t phase;        // sample counter of the channel
    uint16_t sumState;
    uint16_t channelState;
};

struct ProtocolState;

// Prepares the Halvex staging after a successful identity check, from the
// record's configuration image, channel count and mode.
void samplesPrepare(ProtocolState *ps, uint16_t model, uint32_t channelStride);

// Decodes a NOT_DATA body of length n (n >= 5) and delivers it.
void samplesHandleData(ProtocolState *ps, const uint8_t *body, uint32_t n);

// Decodes a Brev NOT_RAW_DATA body of length n (n >= 3) and delivers it; the
// Brev phase then advances by the number of samples in the message.
void samplesHandleRawData(ProtocolState *ps, const uint8_t *body, uint32_t n);

// The filter step of one sample (exposed for tests of the saturation rule).
int32_t samplesFilter(FilterRecord *f, int16_t sample);
