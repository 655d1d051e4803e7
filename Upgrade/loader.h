// loader.h - the firmware loader program's state and the steps that the
// window program and the command line share: arguments (command line or
// upgrade.cfg), opening and closing the link, starting and ending an update
// run, and reading the user messages of a run.
//
// Everything here runs on the program's one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link.h"

const size_t LOADER_PATH_SIZE = 256;    // firmware path: up to 255 characters
const size_t LOADER_ID_SIZE = 128;      // device identifier: up to 127 characters
const int LOADER_MAX_ARGS = 4;
const char LOADER_DEFAULT_ID[] = "Quorvane Halvex*";
const char LOADER_VERSION[] = "5.6";

// Flags word.
enum : unsigned {
    LOADER_RUNNING = 1u,    // an update run is going on
    LOADER_SUCCESS = 2u,    // the update run reported success
};

struct LoaderState {
    char programPath[LOADER_PATH_SIZE * 2];
    char firmwarePath[LOADER_PATH_SIZE];
    uint16_t linkType;          // LINK_* (initially LINK_BT)
    bool linkFixed;             // "L=" was given
    char deviceId[LOADER_ID_SIZE];
    int osCode;                 // operating-system version code
    unsigned flags;
    LinkHandle link;
};
extern LoaderState g_loader;

// Sets the state to its start values for a program at programPath.
void loaderInit(const char *programPath);
// Walks the arguments: "L=" (any letter case) fixes the link type, "A="
// sets the device identifier, "D=" is ignored, other text as the first
// argument is the firmware path; anything else is reported. An IrDA link
// empties the identifier.
void loaderApplyArguments(char *const *args, int count);

// Splits text in place into at most maxTokens tokens at the given separator
// characters. Double quotes not preceded by a backslash group separators
// into a token; afterwards the quotes are removed from each token and \"
// becomes ". Returns the token count.
int tokenize(char *text, const char *separators, char **tokens, int maxTokens);
// Reads upgrade.cfg from the current folder, else from the program's folder:
// at most 255 bytes into buffer (256 bytes), split at blanks, tabs and line
// ends into at most 4 tokens. Returns the count (0 for a missing or empty
// file). A token cut by the 255-byte limit is reported and dropped.
int readUpgradeCfg(char *buffer, char **tokens);

// True for a Bluetooth address: six colon-separated hex pairs (17
// characters), optionally inside parentheses.
bool isBluetoothAddress(const char *id);

// Opens the link for Check and Upload (log lines, library start, open, the
// transceiver's id as a user message). False after telling the user.
bool loaderOpenLink();
// Closes the link (when open) and releases the link library.
void loaderCloseLink();
// Starts a run: for an upload the firmware file is checked first, then the
// link is opened and the update run started. False (nothing left open)
// when either fails.
bool loaderBeginRun(bool upload);
// After PollUpdate returned 0: closes link and file and clears the flags.
// True when the run reported success.
bool loaderEndRun();

// What a user message means for the display.
enum MessageKind {
    MSG_ERROR,      // begins with '!': shown as an error (without the '!')
    MSG_FIELD,      // fills a device field
    MSG_SUCCESS,    // "Firmware updated successfully."
    MSG_INFO,       // shown as information
};
// The labels of the five device fields, in the window's order.
const int DEVICE_FIELDS = 5;
extern const char *const kDeviceFieldLabels[DEVICE_FIELDS];
// The field a text fills, when it begins with one of the labels: its index
// and the rest of the text with every run of blanks and control characters
// made one blank, leading ones dropped and one trailing blank dropped (at
// most 127 characters). -1 when it names none.
int deviceFieldOf(const char *text, const char *const *labels, int count, char *value, size_t size);
// Kind of a user message (MSG_FIELD with the five device-field labels). The
// update run's success text also sets LOADER_SUCCESS.
MessageKind noteUserMessage(const char *text);
// The note of the broken-link hook: raises the disconnection event when
// the broken link is the running update's.
void loaderLinkBroken(const LinkHandle *link);
