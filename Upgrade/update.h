// update.h - the update run: the exchange of boot-loader messages that
// identifies a device, brings it into its boot loader, writes the firmware
// image block by block and starts it. Without a firmware file the same run
// only reads the device's identity and versions and starts the firmware it
// holds (Check).
//
// One update run at a time (the loader is single-threaded). StartUpdate
// begins it; PollUpdate, called over and over from the program's loop, reads
// the link, handles complete messages and timers, and returns 0 when the run
// has ended. Everything the run reports goes through updUserMessage and
// updLog (Upgrade/output.h).
//
// Frames are those of the device protocol (link/frame_codec.h): the length
// in groups of 7 bits (least significant first, bit 7 = more), then the code
// byte, then the payload. Timers are deadlines on the driver clock (osClockMs).
#pragma once

#include <cstdint>

#include "Upgrade/firmware.h"
#include "link/link.h"

enum : uint16_t {
    UPD_GET_DEV_INFO = 0,   // CMD_GET_DEV_INFO sent
    UPD_GET_DEV_STATE = 1,  // CMD_GET_DEV_STATE sent
    UPD_GET_BOOT_INFO = 2,  // CMD_GET_BOOT_INFO sent
    UPD_GET_FIRM_INFO = 3,  // CMD_GET_FIRM_INFO sent
    UPD_BOOT = 4,           // CMD_BOOT sent; waiting for the boot loader
    UPD_WRITE = 6,          // CMD_WRITE_FIRM blocks being sent
    UPD_START = 7,          // CMD_START_FIRM sent
    UPD_OK = 8,             // finished successfully
    UPD_ERR = 9,            // failed; waiting for the device to restart
};

// Events of the update run.
enum : uint16_t {
    INT_DISC = 0,   // the link is broken
    INT_CON = 1,    // not used
    INT_T1 = 2,     // reply time-out
    INT_T4 = 3,     // boot-loader start delay
};

const uint32_t UPD_REPLY_TIMEOUT_MS = 1500;
const uint32_t UPD_BOOT_DELAY_MS = 2000;
// Longest message body the loader accepts (a WRITE_FIRM command: code and
// 512 image bytes).
const uint32_t UPD_MAX_BODY = 513;

// The log note of a message that does not fit the run's state (the tests
// look for it).
constexpr char kUpdIncompatibleMessage[] = "Message incompatible with current state.";

// Starts an update run over an open link. header: the checked firmware
// file's header (OpenFirmwareFile), or null for Check.
void StartUpdate(LinkHandle *link, const FirmwareHeader *header);
// 1 while the run goes on, 0 once it has ended (success or failure).
int PollUpdate();
// Raises an event; 0 when the update run ends with it.
int UpdateEvent(uint16_t kind);

// The current state (UPD_*), and the count of image bytes the device has
// acknowledged.
uint16_t updateState();
uint32_t updateSent();
// The link of the running update (null when none was started); the
// program's broken-link hook compares it with the broken link.
const LinkHandle *updateLink();

// Version text of a major, minor, patch triple: "%u.%u.%u", without the
// final ".0" when the patch is 0 (2.1.0 reads 2.1). out holds 16 bytes.
void versionText(const uint8_t version[3], char out[16]);
