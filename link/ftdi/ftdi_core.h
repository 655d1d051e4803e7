// ftdi_core.h - the parts of the libftdi-based D2XX library that need no
// device: status mapping, the read-ahead buffer, unpacking of the
// transceiver's bulk-in packets, line settings, handle values and device
// matching. ftdi_d2xx.cpp puts them together with libftdi and libusb.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/d2xx.h"
#include "os/os.h"

// ---------------------------------------------------------------------------
// Status mapping
// ---------------------------------------------------------------------------

// A libusb result (LIBUSB_SUCCESS or a negative LIBUSB_ERROR_*) as a D2XX
// status: a vanished device, a pipe error or a time-out are I/O errors, a
// device held elsewhere is "not opened", lack of memory "insufficient
// resources".
FT_STATUS ftbStatusFromUsb(int usbResult);
// The result of ftdi_usb_open_dev: 0 success; failing to open, claim or
// configure the device means it could not be opened; a failing device list
// means it was not found.
FT_STATUS ftbStatusFromOpen(int ftdiResult);
// The result of a libftdi control request (baud rate, line, flow control,
// modem lines, modem status, reset, latency timer): any failure is an I/O
// error.
FT_STATUS ftbStatusFromControl(int ftdiResult);
// The result of ftdi_usb_find_all (a count, or -3 out of memory, -5/-6
// libusb failures).
FT_STATUS ftbStatusFromFindAll(int ftdiResult);

// ---------------------------------------------------------------------------
// Read-ahead buffer
// ---------------------------------------------------------------------------

// Single-threaded byte ring of fixed capacity over caller storage.
struct FtbRing {
    uint8_t *storage;
    size_t capacity;
    size_t head;   // next byte to take
    size_t count;  // bytes held
};
void ftbRingInit(FtbRing *ring, uint8_t *storage, size_t capacity);
size_t ftbRingPush(FtbRing *ring, const uint8_t *data, size_t size);  // bytes taken in
size_t ftbRingTake(FtbRing *ring, uint8_t *out, size_t max);          // bytes given out
size_t ftbRingFree(const FtbRing *ring);
void ftbRingClear(FtbRing *ring);

// The transceiver starts every bulk-in packet (of packetSize bytes, the
// last one possibly shorter) with two status bytes: modem status, then line
// status. Appends the data bytes to the ring and keeps the last status.
// Returns the data bytes appended; *dropped (optional) counts data bytes
// that did not fit.
size_t ftbUnpack(const uint8_t *transfer, size_t size, size_t packetSize, FtbRing *ring, uint8_t *modemStatus,
                 uint8_t *lineStatus, size_t *dropped);

// Line status bits that mean received bytes were lost or garbled: overrun,
// parity error, framing error, break, error in the receive FIFO.
const uint8_t FTB_LINE_ERRORS = 0x9E;
// What is wrong with a bulk-in packet.
enum FtbPacketFault : uint8_t {
    FTB_PACKET_OK = 0,
    FTB_PACKET_CUT = 1,         // shorter than its two status bytes
    FTB_PACKET_LINE_ERROR = 2,  // its line status reports an error
};
// The offset of the first packet of a transfer that is cut short or
// reports a line error (size when there is none); *fault says which, *line
// (optional) receives that packet's line status byte.
size_t ftbPacketFault(const uint8_t *transfer, size_t size, size_t packetSize, FtbPacketFault *fault, uint8_t *line);

// ---------------------------------------------------------------------------
// Read-ahead shared by two threads
// ---------------------------------------------------------------------------

// The read-ahead of one open device: the reader thread puts finished bulk-in
// transfers in, the D2XX calls take bytes out; everything under its lock.
struct FtbReadAhead {
    OsLock lock;             // made once by ftbReadAheadMake, lives as long as the record
    FtbRing ring;
    FT_STATUS error;         // why reading ended (FT_OK: it goes on); told once the ring is empty
    uint8_t modem, line;     // last status bytes seen in the stream
    uint32_t flagged;        // packets with a line error not yet reported
    uint8_t flaggedLine;     // the line status of the last of them
    uint32_t lastReportMs;   // when flagged packets were last reported
    bool reportedOnce;
};
void ftbReadAheadMake(FtbReadAhead *ra);
// Empties the read-ahead over storage; reading goes on (no error).
void ftbReadAheadReset(FtbReadAhead *ra, uint8_t *storage, size_t capacity);

// What ftbReadAheadPut made of a transfer.
struct FtbPut {
    size_t appended;  // data bytes into the ring
    size_t dropped;   // data bytes that did not fit
    uint32_t flagged; // packets whose line status reports an error (their data is kept)
    bool cut;         // a packet shorter than its status bytes ended the transfer's data
};
// Strips the status bytes of a finished bulk-in transfer into the ring.
// Packets with a line error are passed on as they came (the receiver's own
// checks see what the error garbled) and counted; a cut packet ends the
// transfer's data there.
FtbPut ftbReadAheadPut(FtbReadAhead *ra, const uint8_t *transfer, size_t size, size_t packetSize);
// Takes up to max bytes. FT_OK with *got bytes; once the ring is empty
// after reading ended, the status that ended it.
FT_STATUS ftbReadAheadTake(FtbReadAhead *ra, uint8_t *out, size_t max, size_t *got);
// Bytes waiting, with the same status rule as ftbReadAheadTake.
FT_STATUS ftbReadAheadQueue(FtbReadAhead *ra, uint32_t *count);
// Ends reading with status (not FT_OK); true when it was the first end
// (the caller then logs why).
bool ftbReadAheadEnd(FtbReadAhead *ra, FT_STATUS status);
FT_STATUS ftbReadAheadError(FtbReadAhead *ra);
size_t ftbReadAheadFree(FtbReadAhead *ra);
void ftbReadAheadStatus(FtbReadAhead *ra, uint8_t *modem, uint8_t *line);
// Flagged packets to report now: the first at once, later ones at most once
// every FTB_LINE_REPORT_MS (0: nothing to report yet). The count is then
// cleared; *line receives the last flagged line status.
const uint32_t FTB_LINE_REPORT_MS = 1000;
uint32_t ftbReadAheadLineReport(FtbReadAhead *ra, uint32_t nowMs, uint8_t *line);

// The modem status word as D2XX reports it from libftdi's poll result
// (modem status in the low byte, line status in the next; the low four bits
// of the modem byte carry nothing and are cleared).
uint32_t ftbModemStatus(uint16_t polled);

// ---------------------------------------------------------------------------
// Line settings
// ---------------------------------------------------------------------------

// D2XX data characteristics as libftdi's bits (7, 8), stop bits (0 = 1,
// 1 = 1.5, 2 = 2) and parity (0 none .. 4 space). FT_OK or
// FT_INVALID_PARAMETER.
FT_STATUS ftbLineSettings(uint8_t wordLength, uint8_t stopBits, uint8_t parity, int *bits, int *stop, int *par);
// Whether a D2XX flow control value is one libftdi can set.
bool ftbFlowControlValid(uint16_t flowControl);

// D2XX chip type from the USB device release number (bcdDevice).
uint32_t ftbChipType(uint16_t bcdDevice);

// ---------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------

// A handle names a slot of the open table and the generation of that open,
// so a handle of a closed device never reaches a later open of the slot.
FT_HANDLE ftbHandleMake(int slot, uint32_t generation);
// Slot and generation of a handle; false for a value that is no handle.
bool ftbHandleSplit(FT_HANDLE handle, int slotCount, int *slot, uint32_t *generation);

// ---------------------------------------------------------------------------
// Devices
// ---------------------------------------------------------------------------

struct FtbDevice {
    uint32_t flags;      // FT_FLAGS_OPENED: opened by us or held elsewhere
    uint32_t type;       // D2XX chip type
    uint32_t id;         // vendor id << 16 | product id
    uint32_t locationId; // bus << 8 | address
    FT_HANDLE handle;    // our handle when we hold it, else null
    char serial[FT_SERIAL_SIZE];
    char description[FT_DESCRIPTION_SIZE];
};

// Index of the first device whose serial number (FT_OPEN_BY_SERIAL_NUMBER)
// or description (FT_OPEN_BY_DESCRIPTION) equals name exactly, or -1.
int ftbFindDevice(const FtbDevice *devices, int count, uint32_t openFlags, const char *name);

// Copies text into a buffer of the given size, cut to fit and terminated.
void ftbCopyText(char *dst, size_t size, const char *src);
