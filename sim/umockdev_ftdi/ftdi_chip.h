// ftdi_chip.h - an FT232R-class USB serial transceiver as the host's USB
// stack sees it: its vendor control requests, its bulk OUT endpoint into the
// serial line and its bulk IN endpoint, whose packets carry two status bytes
// (modem status, line status) in front of the received bytes.
//
// The chip's serial side is a SimDevice (sim/sim_device.h): what the host
// writes goes to the device at the configured baud rate, what the device
// sends fills the chip's receive buffer and leaves in IN packets. A packet
// goes out once the buffer fills it (62 data bytes), or when the latency
// timer has run out since the last packet; a short packet (fewer than 64
// bytes) ends the host's transfer, as it does on the bus.
//
// Time is passed in by the caller in microseconds. The chip is used from one
// thread at a time (the test bed's lock).
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/sim_fifo.h"

struct SimDevice;

// USB identity of the emulated transceiver.
const uint16_t FTDI_VENDOR = 0x0403;
const uint16_t FTDI_PRODUCT_232R = 0x6001;
const uint16_t FTDI_RELEASE_232R = 0x0600;
const uint8_t FTDI_EP_IN = 0x81;
const uint8_t FTDI_EP_OUT = 0x02;
const int FTDI_PACKET = 64;                 // full-speed bulk packet
const int FTDI_PACKET_DATA = FTDI_PACKET - 2;

// Vendor requests (bRequest of a vendor control transfer).
enum : uint8_t {
    FTDI_SIO_RESET = 0x00,                  // wValue 0 reset, 1 purge RX, 2 purge TX
    FTDI_SIO_SET_MODEM_CTRL = 0x01,
    FTDI_SIO_SET_FLOW_CTRL = 0x02,
    FTDI_SIO_SET_BAUDRATE = 0x03,
    FTDI_SIO_SET_DATA = 0x04,
    FTDI_SIO_POLL_MODEM_STATUS = 0x05,
    FTDI_SIO_SET_EVENT_CHAR = 0x06,
    FTDI_SIO_SET_ERROR_CHAR = 0x07,
    FTDI_SIO_SET_LATENCY_TIMER = 0x09,
    FTDI_SIO_GET_LATENCY_TIMER = 0x0A,
    FTDI_SIO_SET_BITMODE = 0x0B,
    FTDI_SIO_READ_PINS = 0x0C,
};

// Modem status byte (first byte of every IN packet).
enum : uint8_t { FTDI_MODEM_RESERVED = 0x01, FTDI_MODEM_CTS = 0x10, FTDI_MODEM_DSR = 0x20 };
// Line status byte (second byte).
enum : uint8_t {
    FTDI_LINE_OVERRUN = 0x02,
    FTDI_LINE_PARITY = 0x04,
    FTDI_LINE_FRAMING = 0x08,
    FTDI_LINE_BREAK = 0x10,
    FTDI_LINE_THRE = 0x20,
    FTDI_LINE_TEMT = 0x40,
};

// Faults of the chip's IN side (FtdiChip::inFault).
enum FtdiInFault : uint8_t {
    FTDI_IN_NORMAL = 0,
    FTDI_IN_SHORT = 1,        // every packet is one byte: the status is cut short
    FTDI_IN_STATUS_ONLY = 2,  // packets carry the status bytes only; nothing received goes up
    FTDI_IN_OVERRUN = 3,      // the next packet with data loses bytes and reports an overrun
    FTDI_IN_FRAMING = 4,      // the next packet reports a framing error
    FTDI_IN_LOST_MESSAGE = 5, // an overrun took a whole data message: the next packet reports it
    FTDI_IN_STUCK = 6,        // the IN endpoint stops: a bulk-in transfer never completes unless cancelled
};

// What a control request came to.
enum FtdiControlResult {
    FTDI_CONTROL_OK = 0,      // done; *inLength bytes of answer for an IN request
    FTDI_CONTROL_STALL = 1,   // the chip stalls the request
};

const size_t FTDI_RX_BUFFER = 256;          // the chip's receive buffer
const size_t FTDI_TX_BUFFER = 128;          // and its transmit buffer

struct FtdiChip {
    SimDevice *device;        // the serial side (may be null: nothing attached)
    uint64_t startUs;         // time origin of the device's millisecond clock

    // Settings the host made.
    uint16_t baudValue, baudIndex;          // the divisor as sent
    uint32_t baud;                          // the rate it gives
    uint16_t lineSetting;                   // bits, parity, stop bits, break
    uint16_t flowControl;                   // high byte of wIndex
    uint8_t xon, xoff;
    bool dtr, rts;
    uint8_t latencyMs;
    uint8_t bitMode, bitMask;
    uint8_t eventChar, errorChar;

    // Line and buffers.
    uint8_t modem;            // modem status bits the device side raises
    uint8_t lineErrors;       // errors waiting to be reported in the next packet
    Fifo<FTDI_RX_BUFFER> rx;  // received from the device, not yet in a packet
    Fifo<FTDI_TX_BUFFER> tx;  // written by the host, not yet on the line
    uint64_t lastPacketUs;    // when the last IN packet went out
    uint64_t lineUs;          // how far the serial line has been run
    double lineCredit;        // bytes the line may still move in this step

    FtdiInFault inFault;
    int stallRequest;         // bRequest the chip stalls (-1: none)
    uint32_t controlRequests, stalls, packets, statusOnlyPackets, bytesUp, bytesDown, overruns;
};

// A chip at power-on (9600 baud, 8N1, no flow control, latency 16 ms) with
// the device on its serial side and CTS raised.
void ftdiChipInit(FtdiChip *chip, SimDevice *device, uint64_t nowUs);
// The baud rate an FT232R divisor (wValue, wIndex of SIO_SET_BAUDRATE) gives.
uint32_t ftdiBaudOfDivisor(uint16_t value, uint16_t index);
// Whether the line runs at the device's 921600 baud (within 3 %) with 8N1,
// so that bytes cross it intact.
bool ftdiLineMatches(const FtdiChip *chip);

// A vendor control request (bmRequestType 0x40 out or 0xC0 in). in receives
// up to inMax bytes of answer; *inLength their count.
FtdiControlResult ftdiChipControl(FtdiChip *chip, uint8_t request, uint16_t value, uint16_t index, uint8_t *in,
                                  size_t inMax, size_t *inLength, uint64_t nowUs);

// Runs the serial line up to nowUs: the device's clock, bytes from the
// transmit buffer to the device and from the device into the receive buffer
// at the baud rate (RTS/CTS flow control holds the device while the buffer
// is full; without it what does not fit is an overrun).
void ftdiChipRunLine(FtdiChip *chip, uint64_t nowUs);
// An overrun that swallows the device's next data message whole: the device
// withholds it, the next packet reports the overrun.
void ftdiChipLoseMessage(FtdiChip *chip);
// Host bytes into the transmit buffer: how many it took.
size_t ftdiChipWrite(FtdiChip *chip, const uint8_t *data, size_t size);
// Fills an IN transfer of room bytes with the packets due at nowUs; returns
// the bytes written into out and sets *ended when a short packet ended the
// transfer (or it is full). 0 with *ended false: nothing is due yet.
size_t ftdiChipTakePackets(FtdiChip *chip, uint8_t *out, size_t room, uint64_t nowUs, bool *ended);
