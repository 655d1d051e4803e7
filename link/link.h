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

#include "link/link_kinds.h"

// The link record: link type and a pointer-sized handle (socket, D2XX handle
// or BleLink pointer); all bits set when the link is not open.
struct LinkHandle {
    uint16_t type;
    uintptr_t handle;
};
const uintptr_t LINK_INVALID_HANDLE = ~(uintptr_t)0;

// The link kinds and their traits: link_kinds.h.

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
