// sim_frame.h - the device's end of the message frame: the receiver that
// turns the host's byte stream into command bodies, and the frame writer.
// Written apart from the driver's and the loader's codec (link/frame_codec.h)
// on purpose: the simulator is a second implementation of the wire format,
// so that a fault in one shows against the other.
//
// A frame is a length (7 bits per byte, least significant group first, bit 7
// = another length byte follows) counting the code byte and the payload, then
// the code and the payload. Zero bytes between frames are skipped. A frame
// announced longer than the receiver's limit is skipped whole.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest body the application firmware accepts; the boot loader takes more.
const uint32_t SIM_MAX_BODY = 255;
// Room for the longest body any receiver of the simulator may be set to.
const uint32_t SIM_BODY_CAPACITY = 520;

struct SimRx {
    uint32_t limit;         // longest accepted body (<= SIM_BODY_CAPACITY)
    uint8_t readingLength;  // 1 while the length is read
    uint8_t skipping;       // 1 while an over-long frame is skipped
    uint8_t shift;          // shift of the next length group
    uint32_t length;        // announced body length (saturates)
    uint32_t count;         // body bytes received
    uint32_t lastByteMs;    // time of the last byte (frame time-out)
    uint8_t body[SIM_BODY_CAPACITY];
};

void simRxReset(SimRx *rx, uint32_t limit);
// True while a frame is partly received (or being skipped).
bool simRxBusy(const SimRx *rx);

enum SimRxResult {
    SIM_RX_MORE = 0,        // nothing complete yet
    SIM_RX_BODY = 1,        // rx->body holds a complete body of *bodyLength bytes
    SIM_RX_OVERLONG = 2,    // an over-long announcement began; it is skipped
    SIM_RX_SKIPPED = 3,     // the last byte of a skipped frame went by
};
// Feeds one byte. A complete body stays in rx->body until the next byte.
SimRxResult simRxFeed(SimRx *rx, uint8_t b, uint32_t *bodyLength);

// Writes the frame for a body into out (capacity bytes): the length groups,
// then the body. Returns the frame size, or 0 when it does not fit or the
// body is empty.
size_t simFrameWrite(const uint8_t *body, size_t size, uint8_t *out, size_t capacity);
