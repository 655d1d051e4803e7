// recording.h - the recorder's output writer: EDF, EDF+ and tab-separated
// (TSV) recordings of the sample stream.
//
// A RecordingOutput holds one open output file and the per-signal buffers.
// The header is written by the first sample packet that arrives while the
// file is still empty (so the start time in the header is the time of the
// first samples); every later packet appends data; completeEdfHeader ends
// the recording: it completes the file as its format asks (the number of
// data records into an EDF header) and closes it. Each format is one row of
// kOutputFormats.
//
// EDF+ is EDF with an "EDF Annotations" signal: the events of the recording
// (lost-sample gaps, pauses, link events, user messages, host markers) are
// annotations, and the recording goes on through a gap (the missing sample
// instants hold 0). Its sample instants come from a SampleClock fed with the
// packets' arrival times (clockmodel.h); events given on the host's clock are
// placed on the samples by it.
//
// The writer is portable and stands on the OS layer's files only. It reads
// the device parameters through a RecordingParams table: the driver hands in
// its own parameter functions, a host program the ones it resolved from the
// driver library, so one writer serves the recorder window and host tools.
// Window work (the message box of a failed completion) goes through the
// showMessage hook.
//
// Everything here runs on one thread at a time; only writeFailure may be
// read from another thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "API/driver/ui/clockmodel.h"
#include "QuorvaneDrv.h"
#include "os/os.h"

// Output formats: the index of a format's row in kOutputFormats.
enum : uint16_t {
    RECORDING_EDF = 0,   // European Data Format, 16-bit binary data records
    RECORDING_TSV = 1,   // tab separated text
    RECORDING_EDFPLUS = 2,   // EDF+ (continuous), with an annotation signal
    RECORDING_FORMAT_COUNT,
};

const int REC_MAX_SIGNALS = 8;           // signals (channel entries) per recording
const int REC_ROW_SAMPLES = 2200;        // samples of one signal per EDF data record
const int REC_TEXT_MAX = 80;             // client and session texts
const uint32_t REC_TSV_BUFFER = 16384;   // text of one TSV packet (flushed when full)
const uint32_t REC_MAX_RECORDS = 100000000u;   // what the 8-character count field holds
// EDF+: bytes of the annotation signal in each data record, bytes of one
// annotation's text (UTF-8, cut at a character), and the annotations that
// may wait for room in later records.
const uint32_t REC_ANNOTATION_BYTES = 1024;
const uint32_t REC_ANNOTATION_TEXT = 120;
const uint32_t REC_ANNOTATION_QUEUE = 1024;

// An annotation waiting for its data record.
struct RecAnnotation {
    double at;              // onset: host seconds, or (onTicks) ticks of the recording
    double duration;        // seconds; negative: none
    bool onTicks;
    char text[REC_ANNOTATION_TEXT + 1];
};

// The parameter functions the header writers read the selected device
// context through (the driver's QdGetParam, QdParamInfo and QdGetDevName, or
// a host's pointers to them).
struct RecordingParams {
    int(QDCALL *getParam)(uint16_t id, uint16_t channel, QdParamValue *value);
    const QdParamDef *(QDCALL *paramInfo)(uint16_t id, int16_t channel);
    const char *(QDCALL *devName)(void);
};

// Shows a message to the user (window: the owner window or null).
typedef void (*RecordingMessageFn)(void *window, const char *text, const char *caption);
// Writes to the output file like osFileWrite (bytes written, a short count or
// -1 on failure); a seam for tests that simulate a failing disk.
typedef int32_t (*RecordingWriteFn)(OsFile file, const void *data, uint32_t size);

// EDF (and EDF+, which is EDF with one more signal): the layout of the
// header written and the data records being filled.
struct EdfOutput {
    // Samples per data record of each signal, record rows, fill positions
    // and the number of complete data records written.
    uint16_t samplesPerRecord[REC_MAX_SIGNALS] = {};
    uint16_t row[REC_MAX_SIGNALS][REC_ROW_SAMPLES] = {};
    uint16_t fill[REC_MAX_SIGNALS] = {};
    uint32_t records = 0;
    // Signals, header and record sizes of the header written.
    uint16_t signals = 0;
    uint32_t headerBytes = 0;            // 0 while no header is in the file
    uint32_t recordBytes = 0;
    uint8_t block[2 * REC_ROW_SAMPLES] = {};    // one EDF block, little-endian
};

// TSV: physical units per count of a 32-bit sample, per channel index, and
// the lines of one packet.
struct TsvOutput {
    float scale[REC_MAX_SIGNALS] = {};
    char text[REC_TSV_BUFFER] = {};
};

// EDF+: the sample clock, each signal's rate mask, ticks per data record,
// the record's duration and the start's fraction of a second (both in
// units of 100 ns, as the time-keeping annotations give them), and the
// annotations on their way into the records.
struct AnnotationOutput {
    SampleClock clock;
    bool devicePauses = false;           // the driver counts the phase (gaps on the host's clock)
    bool paused = false;
    uint16_t firstTicks = 0;             // ticks of the first packet (the start lies before it)
    uint16_t masks[REC_MAX_SIGNALS] = {};
    uint32_t ticksPerRecord = 0;
    int64_t recordUnits = 0;
    int64_t startUnits = 0;
    int16_t linkState = -1;              // last link indicator, -1 none yet
    RecAnnotation queue[REC_ANNOTATION_QUEUE];
    uint32_t queueHead = 0, queued = 0;
    uint32_t annotationsRefused = 0;     // found the queue full
    uint64_t annotationsWritten = 0;
    uint8_t annotations[REC_ANNOTATION_BYTES] = {};
};

// One output file: what every format shares, then each format's own state.
struct RecordingOutput {
    OsFile file = OS_INVALID_FILE;       // none when no recording is open
    uint16_t format = RECORDING_EDF;
    char client[REC_TEXT_MAX + 1] = {};  // EDF patient identification, TSV "Client:"
    char session[REC_TEXT_MAX + 1] = {}; // EDF recording identification, TSV "Session:"

    // Channel entries of a packet to process (0 until a header was written).
    uint16_t channels = 0;
    // The phase the next packet must begin with.
    uint16_t expectedPhase = 0;
    // 0 none; failures OR a 1 into it; the recorder sets 2 once it reported.
    std::atomic<uint16_t> writeFailure{0};
    // Set by a failed data write: nothing more is appended, so that a block
    // can never land in another block's place.
    bool dataStopped = false;
    double now = 0;                      // host seconds of the packet being written

    const RecordingParams *params = nullptr;
    RecordingMessageFn showMessage = nullptr;   // null: no message
    RecordingWriteFn write = nullptr;           // null: osFileWrite

    EdfOutput edf;
    TsvOutput tsv;
    AnnotationOutput plus;
};

// One row per output format, in index order.
struct OutputFormat {
    const char *key;         // "edf", "tsv": its option in host tools (qdacq --edf FILE)
    const char *caption;     // its entry in the recorder's format list
    const char *summary;     // what a finished file of it is called: "EDF", "tab separated text"
    const char *extension;   // given to an output name without one: ".edf", ".txt"
    const char *filter;      // file-dialog filter: pairs of texts, each ended by a zero byte
    bool liveView;           // a viewer can show the file while it grows (EDFbrowser)
    bool dataRecords;        // the file holds whole data records, counted in its header
    bool annotations;        // it keeps the recording's events, and goes on through gaps
    // The header (the number of channel entries to process, 0 on failure),
    // the data of one packet (its first count entries), and the completion
    // before the file is closed (false when it failed; null: nothing to do).
    uint16_t (*header)(RecordingOutput *out);
    void (*packet)(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int count);
    bool (*finish)(RecordingOutput *out, void *window);
};
extern const OutputFormat kOutputFormats[RECORDING_FORMAT_COUNT];
// The row of a format index, or null for an unknown one.
const OutputFormat *outputFormat(uint16_t format);
// The recorder's entries of the format list.
extern const char kFormatEdf[];   // "European Data Format (EDF)"
extern const char kFormatTsv[];   // "Tab Separated Values (text)"
extern const char kFormatEdfPlus[];   // "European Data Format with annotations (EDF+)"

// Creates the output file anew for writing (others may read it while it
// grows), sets the format and the client and session texts (each cut to 80
// characters) and clears writeFailure. False when a file is open already,
// the format is unknown or the file cannot be created.
bool recordingOpen(RecordingOutput *out, const char *path, uint16_t format, const char *client,
                   const char *session);

// Writes the EDF header (256-byte main header and the signal headers) at the
// file's current position: the number of channel entries to process
// (min(channels, 8)), or 0 when a parameter read, the layout or a write failed.
uint16_t writeEdfHeader(RecordingOutput *out);
// Writes the TSV header: the number of channels (at most 8), or 0 on failure.
uint16_t writeTsvHeader(RecordingOutput *out);
// Writes the EDF+ header: the EDF header's signals and the annotation
// signal, structured identification fields, "EDF+C"; as writeEdfHeader.
uint16_t writeEdfPlusHeader(RecordingOutput *out);

// One sample packet: the phase of its first sample and its channel entries
// (entries: how many the array holds). Writes the header into an empty file,
// checks phase continuity and appends the data. Failures go to writeFailure.
void recordPacket(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int entries);
// The same with the packet's arrival on the host's monotonic clock (seconds);
// recordPacket takes the driver clock's now.
void recordPacketAt(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int entries,
                    double arrival);

// Events of the recording at host seconds `when`, kept as annotations by a
// format that carries them (EDF+) and ignored by the others: an indicator
// report (link, pause, signal state), and a text (a user message as the
// driver gives it, or a host's marker). False when the text is empty after
// cleaning or the queue of waiting annotations is full (counted in
// annotationsRefused).
void recordIndicator(RecordingOutput *out, uint16_t type, uint16_t value, double when);
bool recordText(RecordingOutput *out, const char *text, double when);
// The text an annotation keeps of `text`: line ends and other control
// characters become spaces, bytes that are no UTF-8 become '?', and it is cut
// at a character to at most REC_ANNOTATION_TEXT bytes; surrounding spaces go.
// Returns its length (0: nothing to keep); *cut (may be null) says whether
// the text was longer.
size_t annotationText(char *out, const char *text, bool *cut = nullptr);

// Ends the recording of any format: the format completes the file (an EDF
// file gets its number of data records; a failure is shown through
// showMessage: "Cannot complete the header of the output EDF file", caption
// "Error"; samples of a partly filled data record are dropped; a TSV file
// needs nothing); then the file is closed. False when the completion
// failed; true when no file was open.
bool completeEdfHeader(RecordingOutput *out, void *window);

// Shortens the exponent of a number text in place: an optional sign is kept,
// leading zeros of the exponent digits are removed, one "0" stays when the
// exponent is all zeros (1e-05 -> 1e-5, 2.5e+00 -> 2.5e+0).
void trimExponent(char *text);

// The process-wide output of the recorder (driver side): reads the selected
// context through the driver's own parameter functions and writes its
// messages to the driver log, except while the recorder window is open (it
// shows them as message boxes).
RecordingOutput *recorderOutput();
