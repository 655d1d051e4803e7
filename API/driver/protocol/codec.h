// codec.h - the device message frame as the driver reads it: the shared
// receiver with the devices' limit, validation of received bodies against a
// family's code table, message trace lines and the log helpers that every
// protocol user shares.
//
// A frame on the link is: a base-128 length (least significant group first,
// bit 7 = another length byte follows) counting code plus payload (1..255),
// the code byte, the payload. Codes 0x00-0x3F are commands, 0x80-0xBF
// replies, 0xC0-0xFF notifications; 0x40-0x7F carry no meaning.
#pragma once

#include <cstdint>

#include "link/frame_codec.h"

const uint32_t MSG_MAX_BODY = 255;   // longest body (code + payload)

// Feeds one received byte to the shared receiver (link/frame_codec.h) with
// the devices' limit of MSG_MAX_BODY; an over-long frame logs "Message is
// too long". On RX_FRAME *length receives the body length and the body stays
// in rx->body until the next byte is fed. ctx is the context index used in
// the log prefix (0 prints none).
RxEvent rxFeed(Receiver *rx, uint8_t b, uint16_t ctx, uint32_t *length);

// Code table of a message family: names of the three classes and the
// minimum length of every reply and notification (0 = not implemented).
struct MessageTables {
    const char *const *commandNames;
    uint8_t commandCount;
    const char *const *replyNames;
    const uint8_t *replyMinimum;
    uint8_t replyCount;
    const char *const *notificationNames;
    const uint8_t *notificationMinimum;
    uint8_t notificationCount;
    bool shortErrorReplies;    // an error reply may be shorter than its minimum
    bool textsWithPeriod;      // validation texts end with a period
    uint8_t untracedCode;      // data notification that is never traced (0: none)
    bool traceNotifications;   // false: no notification is traced at all
};

extern const MessageTables halvexTables;
extern const MessageTables brevTables;
extern const MessageTables searchTables;

// Checks a complete body; logs the reason and returns false when it is
// rejected.
bool msgValidate(const MessageTables *tables, uint16_t ctx, const uint8_t *body, uint32_t n);

// Writes the trace line of a message: '<' for a command sent, '>' for a body
// received. Data notifications (and, where the table says so, every
// notification) are not traced.
void msgTrace(const MessageTables *tables, uint16_t ctx, const uint8_t *body, uint32_t n);

// Name of a code within its class, or null when the class has no such name.
const char *msgName(const MessageTables *tables, uint8_t code);

// Log text of a non-zero result byte, with its leading '!'.
const char *msgResultText(uint8_t result);

// Log helpers. Entries of a context above 0 carry "(%i) " after the
// classifying character; context 0 (and the device search) prints none.
// An error line: "!(%i) text\n"; a leading '!' of the text is not doubled.
void protoLogError(uint16_t ctx, const char *text);
// A trace line: "# (%i) " followed by the formatted text (which ends the line).
void protoLogTrace(uint16_t ctx, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Transmit buffer: the length (one byte for every body below 128 bytes, two
// above) and the body.
const uint32_t MSG_TX_SIZE = frameSize(MSG_MAX_BODY);

// Builds a frame (length, code, payload) into tx and returns its total size,
// or 0 when the body would be longer than 255 bytes.
uint32_t msgBuild(uint8_t *tx, uint8_t code, const uint8_t *payload, uint32_t payloadLength);
