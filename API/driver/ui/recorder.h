// recorder.h - the recorder window's decisions that need no window: the
// session time limit typed by the user, the output file name with its
// extension, the elapsed-time text, and the recording's course from the
// start to the finished file (idle, recording, finishing, closing).
//
// The window code of each platform (and the qdacq tool's live view) feeds
// the course with the clock and the communication state once per engine
// call and carries out the actions it returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "API/driver/ui/controls.h"
#include "API/driver/ui/recording.h"

// ---------------------------------------------------------------------------
// Time limit and output file
// ---------------------------------------------------------------------------

// "Time limit [hh:mm:ss]": up to three decimal fields separated by ':',
// combined from the right as seconds, minutes and hours; every field after
// the first is below 60, the first has no bound of its own. Empty text (or
// blanks only) means no limit (0). False for anything else (a fourth field,
// an empty field, a non-digit, a later field of 60 or more, or a limit
// beyond 2^32 - 1 s); *seconds is then left alone.
bool parseTimeLimit(const char *text, uint32_t *seconds);

// The output path from the "Output file" text: a name without an extension
// (no dot after the last '\' or '/') gets its format's extension (".edf",
// ".txt").
enum OutputName : uint8_t {
    OUTPUT_OK,
    OUTPUT_EMPTY,      // "Output file should be specified."
    OUTPUT_TOO_LONG,   // the path with its extension does not fit in 255 characters
    OUTPUT_UNKNOWN_FORMAT,   // no such output format
};
OutputName outputPath(const char *text, uint16_t format, char *out, size_t room);

// "Elapsed time: hh:mm:ss" (hours wrap at 24).
void elapsedText(uint32_t seconds, char *out, size_t room);

// The message of a recording whose measurement did not start, by the
// result of QdStartMeasurement (not 0 or 3).
const char *recorderStartFailure(int32_t result);

// ---------------------------------------------------------------------------
// The recording's course
// ---------------------------------------------------------------------------

enum RecorderPhase : uint8_t {
    RECORDER_IDLE,
    RECORDER_RECORDING,   // the measurement runs into the output file
    RECORDER_FINISHING,   // stop asked (user, time limit, write failure); waiting for the end
    RECORDER_CLOSING,     // the window is gone; waiting for the end, then finish without it
};

// What the caller does after a step (bits).
enum : uint32_t {
    REC_SHOW_ELAPSED = 1,        // show elapsedText(elapsed)
    REC_START_VIEWER = 2,        // start the live viewer on the output file
    REC_STOP = 4,                // stop the measurement
    REC_REPORT_WRITE_FAILURE = 8,// "Output file writting failed"
    REC_FINISH = 16,             // complete the file; back to idle
};

constexpr uint32_t RECORDER_VIEWER_DELAY_S = 4;   // the viewer starts once 4 s are recorded

struct Recorder {
    RecorderPhase phase = RECORDER_IDLE;
    uint32_t limit = 0;        // s, 0 none
    uint32_t startTick = 0;    // ms
    uint32_t shown = 0;        // elapsed seconds last shown
    bool viewer = false;       // start the viewer at 4 s
};

// The measurement started at `now` (ms).
void recorderStart(Recorder *r, uint32_t now, uint32_t limit, bool viewer);
// The user asked to stop (or the window closed: closing). No action while
// idle; a stop request only when the measurement still runs.
uint32_t recorderStop(Recorder *r, bool closing);
// One step after an engine call: communicating is the context's state,
// writeFailure the output's flag (1 is turned into 2 when reported);
// *elapsed receives the whole seconds recorded.
uint32_t recorderStep(Recorder *r, uint32_t now, bool communicating, uint16_t *writeFailure, uint32_t *elapsed);

// ---------------------------------------------------------------------------
// Pages of the recorder window (r0 = the pages' first row in half-lines)
// ---------------------------------------------------------------------------

enum : uint32_t {
    ID_REC_SESSION = 100,
    ID_REC_CLIENT = 101,
    ID_REC_OUTPUT = 102,
    ID_REC_BROWSE = 103,
    ID_REC_DEVICE = 104,
    ID_REC_LIMIT = 106,
    ID_REC_FORMAT = 107,
    ID_REC_VIEWER = 108,
    ID_RECORD = 900,
    ID_REC_ELAPSED = 901,
    ID_REC_IMPORT = 20,        // menu commands (the settings window imports with 21)
    ID_REC_LOAD = 21,
    ID_REC_SERVICES = 23,
    ID_REC_EXIT = 24,
    ID_REC_WEBSITE = 26,
    ID_REC_ABOUT = 1000,
};

// Controls of the "Session" page in order (k from 0); false past the last.
// Each takes the running row (nextRow), so the page starts where its caller's
// first row is. models: the modelCount model names for "Device name",
// current the selected one.
bool sessionPageControl(int k, const char *const *models, int modelCount, const char *current,
                        ControlDescriptor *out);
// Whether a "Session" control (or its label) is enabled while idle with the
// given output format: the viewer box only with a format a viewer can show
// while it grows (EDF).
bool sessionControlEnabled(uint32_t id, uint16_t format);
// Controls of the "Record" page in order; false past the last.
bool recordPageControl(int k, uint32_t r0, ControlDescriptor *out);
// The Record button may be pressed: a channel is enabled (and, when the
// page is built, the signal indicator is supported).
bool recordButtonEnabled(bool building);
