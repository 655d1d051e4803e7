// link.h - the link library: one byte stream to a device over IrDA, Bluetooth
// RFCOMM, USB (FTDI transceiver) or Bluetooth LE. Used by the driver and by
// the firmware loader.
//
// Everything above this layer sees a byte stream: whole frames go out with
// SendLink, bytes come back one at a time with QueueStatusLink and RecvLink.
// No operation blocks on the transport: RecvLink reads only what
// QueueStatusLink reports as waiting.
#pragma once

#include <cstdarg>
#include <cstdint>

// Link types. The driver's public header numbers its parameter "Link type"
// the same way (QD_LINK_*); the driver checks that the two agree, so that
// this library and the firmware loader need nothing of the driver's API.
enum : uint16_t { LINK_IRDA = 0, LINK_BT = 1, LINK_USB = 2, LINK_BLE = 3 };

// The link record: link type and a pointer-sized handle (socket, D2XX handle
// or BleLink pointer); all bits set when the link is not open.
struct LinkHandle {
    uint16_t type;
    uintptr_t handle;
};
const uintptr_t LINK_INVALID_HANDLE = ~(uintptr_t)0;

// How a device on a link is reached, which tells the texts that name it:
// "in the communication range", "connected with USB cable", "in the
// infrared range".
enum LinkReach : uint8_t { LINK_REACH_RANGE, LINK_REACH_CABLE, LINK_REACH_INFRARED };

// One row per link kind (kLinkKinds, in key order). The dispatchers below
// walk it; programs read the names and traits from it.
struct LinkKind {
    uint16_t key;            // LINK_*
    const char *name;        // "ir", "bt", "usb", "ble": the loader's L= key, the device services' argument
    const char *altName;     // another accepted spelling ("irda"), or null
    const char *title;       // "IrDA", "Bluetooth", "USB", "Bluetooth LE": the link in lists
    // The transport: open (1 when open, else 0 with the handle invalid),
    // send, queue status and receive as SendLink, QueueStatusLink and
    // RecvLink (the thread's socket error after a failing call into
    // *socketError), close of an open handle.
    int (*open)(const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize);
    int32_t (*send)(LinkHandle *link, int32_t length, const void *data, int *socketError);
    int32_t (*queueStatus)(LinkHandle *link, int *socketError);
    int32_t (*recv)(LinkHandle *link, void *buffer, int *socketError);
    void (*close)(LinkHandle *link);
    // Whether a failed send or receive, with the socket error it left,
    // means the link is broken (linkBrokenHook); null: never.
    bool (*broken)(int socketError);
    // An open in progress on another thread is cut short by closing its
    // handle (the opening thread stores the handle in the link record
    // before it connects).
    bool openCutByClose;
    LinkReach reach;
    int minOsCode;           // least operating-system version code (osVersionCode), 0: any
    // The open names a device (a serial number, an address or a name); a
    // link without one reaches whichever device is in range (IrDA).
    bool takesDeviceId;
    // A radio link: an open by name, not by address, searches first.
    bool wireless;
    // The device search tries the kinds of its flags from the highest rank
    // down.
    uint8_t searchRank;
};
extern const LinkKind kLinkKinds[];
extern const int LINK_KIND_COUNT;
// The row of a link type, or null for an unknown type.
const LinkKind *linkKind(uint32_t key);
// The row whose name or other spelling this is (any letter case), or null.
const LinkKind *linkKindByName(const char *name);
// The traits of a link type; false for an unknown type.
bool linkTakesDeviceId(uint32_t key);
bool linkIsWireless(uint32_t key);

// Starts the link library (Bluetooth LE functions, socket layer). Idempotent;
// 1 when ready, 0 when the socket layer cannot start.
int InitLinkLibrary();
// Frees the Bluetooth LE library and stops the socket layer.
void ReleaseLinkLibrary();
// Opens a link of the given type. deviceId names the device (a USB serial
// number or description, a Bluetooth address or name, a BLE address or
// name; may be null for IrDA). idBuffer (optional, idBufferSize bytes)
// receives a text naming what was opened: the USB serial number, the
// Bluetooth or BLE address, or an empty text for IrDA. 1 when open, else 0
// with the handle invalid.
int OpenLink(uint16_t type, const char *deviceId, LinkHandle *link, char *idBuffer, uint32_t idBufferSize);
// length when every byte went out, 0 for length 0, -1 on any failure.
int32_t SendLink(LinkHandle *link, int32_t length, const void *data);
// Bytes waiting to be read, or -1.
int32_t QueueStatusLink(LinkHandle *link);
// 1 with one byte in buffer[0], 0 when nothing waits, -1 on failure. Never
// more than one byte per call.
int32_t RecvLink(LinkHandle *link, void *buffer);
// Closes the transport; the handle is invalid afterwards.
void CloseLink(LinkHandle *link);
// With true, every open in progress gives up at its next wait and new ones
// fail, until called with false: the driver's detach lets no open outlive
// the library's code.
void CancelLinkOpens(bool cancel);
bool linkOpensCancelled();

// Status of the most recent D2XX call made on this thread (0 = success).
// SendLink and RecvLink read it right after a failing call to tell a broken
// USB link from a short write.
extern thread_local uint32_t lastFtStatus;

// True once InitLinkLibrary has started the socket layer (until
// ReleaseLinkLibrary).
bool linkLibraryReady();

// Called by SendLink and RecvLink when the failure shows that the link is
// broken (the transceiver is gone, the connection was reset, aborted or timed
// out). Each program that carries the link library supplies its own
// definition: the driver tells the device context that owns the link
// (its link-lost note); the firmware loader raises its disconnection event.
void linkBrokenHook(const LinkHandle *link);

// Number of broken-link reports made since the process started (diagnostics).
uint32_t linkBrokenReportCount();

// The log hook: where the link library's log lines go. One printf-style
// entry per call, in the driver log's classes ("!FT_OpenEx: 2", "#..."); it
// returns the count of characters written. Each program that carries the
// link library sets its own writer before it opens a link: the driver at
// attach (the driver log), the firmware loader at its start (its own log).
// Until one is set, and after null, the lines are dropped. Safe to call
// from any thread; a line already being written finishes with the writer it
// started with.
typedef int (*LinkLogHook)(const char *format, va_list args);
void linkSetLogHook(LinkLogHook hook);

// The data event: a transport that hears of received bytes on a thread of
// its own (the Linux D2XX library's reader) sets it, so that a program
// polling its links between waits on it polls at once. Null (the default):
// nothing is set. Safe to call from any thread; the event must live as long
// as it is set here.
struct OsEvent;
void linkSetDataEvent(OsEvent *event);
