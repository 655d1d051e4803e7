// frame_codec.h - the message frame of every Quorvane device link: the
// byte-wise receiver and the frame builder that the driver and the firmware
// loader share. (The device simulator has its own, written apart on purpose,
// so that one implementation checks the other.)
//
// A frame is a base-128 length (least significant group first, bit 7 =
// another length byte follows) counting code plus payload, the code byte and
// the payload. Zero bytes between frames are skipped.
//
// Each user passes the longest body it accepts: the driver 255 (every device
// message), the loader 513 (a firmware block and its code).
//
// Over-long frames, one rule for every user: the length is read to the end
// of its prefix; a length above the limit is reported once (RX_TOO_LONG) and
// the announced body is skipped whole, so that the next frame is read from
// its first byte. A prefix cannot be longer than five groups (32 bits): a
// sixth group is reported at once, the bytes announced so far are skipped
// and, when none were, the receiver starts over at the next byte.
//
// No logging here: the caller says what an over-long frame means to it.
#pragma once

#include <cstdint>

// Room for the longest body of any user (the loader's 513).
const uint32_t FRAME_BODY_CAPACITY = 513;

// Receiver flags.
enum : uint16_t {
    RX_READING_LENGTH = 1,   // collecting the length bytes
    RX_SKIPPING = 2,         // dropping the body of an over-long frame
};

struct Receiver {
    uint16_t flags;
    uint16_t shift;
    uint32_t length;         // saturates at 0xFFFFFFFF
    uint32_t count;
    uint8_t body[FRAME_BODY_CAPACITY];
};

enum RxEvent {
    RX_MORE = 0,      // byte taken, nothing complete
    RX_FRAME = 1,     // a body is complete in rx->body; its length was returned
    RX_TOO_LONG = 2,  // an over-long frame was announced; its body is skipped
};

void rxReset(Receiver *rx);
// Takes one received byte; limit is the longest accepted body (at most
// FRAME_BODY_CAPACITY). On RX_FRAME *length receives the body length and the
// body stays in rx->body until the next byte is taken.
RxEvent rxTake(Receiver *rx, uint8_t b, uint32_t limit, uint32_t *length);

// Bytes a frame of a body of up to limit bytes needs (the length prefix of a
// body below 16384 bytes takes at most two).
constexpr uint32_t frameSize(uint32_t limit) { return 2 + limit; }

// Builds a frame (length, code, payload) into tx, which holds
// frameSize(limit) bytes, and returns its total size, or 0 when the body
// would be longer than limit.
uint32_t frameBuild(uint8_t *tx, uint32_t limit, uint8_t code, const uint8_t *payload, uint32_t payloadLength);
