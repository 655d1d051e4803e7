// sim_frame.cpp - the device's frame receiver and writer.
#include "sim/sim_frame.h"

#include <cstring>

void simRxReset(SimRx *rx, uint32_t limit) {
    rx->limit = limit > SIM_BODY_CAPACITY ? SIM_BODY_CAPACITY : limit;
    rx->readingLength = 1;
    rx->skipping = 0;
    rx->shift = 0;
    rx->length = 0;
    rx->count = 0;
}

bool simRxBusy(const SimRx *rx) {
    return !rx->readingLength || rx->length != 0 || rx->shift != 0;
}

SimRxResult simRxFeed(SimRx *rx, uint8_t b, uint32_t *bodyLength) {
    if (rx->readingLength) {
        const uint32_t group = b & 0x7Fu;
        if (group) {
            // Past 32 bits the announced length can only be absurd: saturate
            // instead of shifting out of range.
            if (rx->shift >= 25)
                rx->length = 0xFFFFFFFFu;
            else
                rx->length |= group << rx->shift;
        }
        if (rx->length > rx->limit) {
            rx->readingLength = 0;
            rx->skipping = 1;
            rx->count = 0;
            return SIM_RX_OVERLONG;
        }
        if (b & 0x80) {
            if (rx->shift < 28)
                rx->shift = static_cast<uint8_t>(rx->shift + 7);
        } else if (rx->length) {
            rx->readingLength = 0;
            rx->count = 0;
        } else {
            rx->shift = 0;  // a zero length (filler) starts nothing
        }
        return SIM_RX_MORE;
    }
    if (!rx->skipping)
        rx->body[rx->count] = b;
    ++rx->count;
    if (rx->count < rx->length)
        return SIM_RX_MORE;
    const bool skipped = rx->skipping != 0;
    const uint32_t length = rx->length;
    simRxReset(rx, rx->limit);
    if (skipped)
        return SIM_RX_SKIPPED;
    *bodyLength = length;
    return SIM_RX_BODY;
}

size_t simFrameWrite(const uint8_t *body, size_t size, uint8_t *out, size_t capacity) {
    if (size == 0)
        return 0;
    uint8_t head[5];
    size_t n = 0;
    size_t v = size;
    do {
        uint8_t g = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
        if (v)
            g |= 0x80;
        head[n++] = g;
    } while (v && n < sizeof head);
    if (v || n + size > capacity)
        return 0;
    std::memcpy(out, head, n);
    std::memcpy(out + n, body, size);
    return n + size;
}
