// frame_codec.cpp - the frame receiver and builder of the driver and the
// firmware loader.
#include "link/frame_codec.h"

#include <cstring>

// Length groups stand at shifts 0, 7, 14, 21 and 28; a 32-bit length is
// full after the group at shift 28, so a prefix that asks for a further group
// announces more than any frame can hold.
static const uint16_t RX_LAST_SHIFT = 28;

void rxReset(Receiver *rx) {
    rx->flags = RX_READING_LENGTH;
    rx->shift = 0;
    rx->length = 0;
    rx->count = 0;
}

static RxEvent skipAnnounced(Receiver *rx) {
    rx->flags = RX_SKIPPING;
    rx->count = 0;
    return RX_TOO_LONG;
}

static RxEvent takeLengthByte(Receiver *rx, uint8_t b, uint32_t limit) {
    // The group is added in 64 bits: at shift 28 a group of 16 or more would
    // not fit 32 bits. Such a length (far above any frame) is kept as the
    // largest 32-bit value.
    uint64_t value = (uint64_t)rx->length + ((uint64_t)(b & 0x7Fu) << rx->shift);
    rx->length = value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)value;
    if (b & 0x80u) {
        if (rx->shift < RX_LAST_SHIFT) {
            rx->shift = (uint16_t)(rx->shift + 7);
            return RX_MORE;
        }
        // Endless run of continuation bytes: the prefix cannot be read.
        if (rx->length == 0) {
            rxReset(rx);
            return RX_TOO_LONG;
        }
        return skipAnnounced(rx);
    }
    if (rx->length == 0) {
        // A zero length starts no frame; the next byte begins a new one.
        rxReset(rx);
        return RX_MORE;
    }
    if (rx->length > limit) return skipAnnounced(rx);
    rx->flags = 0;   // the body follows
    return RX_MORE;
}

RxEvent rxTake(Receiver *rx, uint8_t b, uint32_t limit, uint32_t *length) {
    if (rx->flags & RX_READING_LENGTH) return takeLengthByte(rx, b, limit);
    bool skipping = (rx->flags & RX_SKIPPING) != 0;
    if (!skipping && rx->count < sizeof rx->body) rx->body[rx->count] = b;
    rx->count++;
    if (rx->count < rx->length) return RX_MORE;
    uint32_t n = rx->length;
    rxReset(rx);
    if (skipping) return RX_MORE;
    *length = n;
    return RX_FRAME;
}

uint32_t frameBuild(uint8_t *tx, uint32_t limit, uint8_t code, const uint8_t *payload, uint32_t payloadLength) {
    if (payloadLength >= limit) return 0;
    uint32_t length = payloadLength + 1;
    uint32_t at = 0;
    do {
        uint8_t group = (uint8_t)(length & 0x7Fu);
        length >>= 7;
        tx[at++] = length ? (uint8_t)(group | 0x80u) : group;
    } while (length);
    tx[at++] = code;
    if (payloadLength > 0) memcpy(tx + at, payload, payloadLength);
    return at + payloadLength;
}
