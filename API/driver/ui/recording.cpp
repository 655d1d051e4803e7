// recording.cpp - EDF, EDF+ and TSV output of the recorder.
//
// EDF layout: the data record lasts N / r_min seconds, N = r_min + 0.5
// truncated, where r_min is the rate of the slowest enabled channel. The
// sample-rate options form a ladder in which each option index doubles the
// rate, so a channel whose option index is d steps above the slowest one has
// N << d samples per record. Each signal's block of a record is written as
// soon as it is full; all blocks of a record end on the same sample instant,
// so within a packet they complete in channel order and the file receives the
// standard record order.
#include "API/driver/ui/recording.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__GNUC__)
#define REC_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define REC_PRINTF(a, b)
#endif

namespace {

const uint16_t PAR_CHANNELS = QD_PAR_CHANNEL_COUNT;
const uint16_t PAR_MAINS = QD_PAR_MAINS_FREQUENCY;

// Field widths of the EDF main header, in header order.
const int MAIN_FIELDS = 10;
const int MAIN_WIDTH[MAIN_FIELDS] = {8, 80, 80, 8, 8, 8, 44, 8, 8, 4};
enum {
    M_VERSION, M_PATIENT, M_RECORDING, M_START_DATE, M_START_TIME, M_HEADER_BYTES, M_RESERVED, M_RECORDS,
    M_DURATION, M_SIGNALS
};
const int MAIN_HEADER_SIZE = 256;

// Field widths of an EDF signal header, in header order.
const int SIGNAL_FIELDS = 10;
const int FIELD_WIDTH[SIGNAL_FIELDS] = {16, 80, 8, 8, 8, 8, 8, 80, 8, 32};
enum {
    F_LABEL, F_TRANSDUCER, F_DIMENSION, F_PHYS_MIN, F_PHYS_MAX, F_DIG_MIN, F_DIG_MAX,
    F_PREFILTER, F_SAMPLES, F_RESERVED
};
const int SIGNAL_HEADER_SIZE = 256;

int fieldOffset(const int *widths, int field) {
    int offset = 0;
    for (int f = 0; f < field; f++) offset += widths[f];
    return offset;
}

int32_t writeOut(RecordingOutput *out, const void *data, uint32_t size) {
    return out->write != nullptr ? out->write(out->file, data, size) : osFileWrite(out->file, data, size);
}

bool writeAll(RecordingOutput *out, const void *data, uint32_t size) {
    return writeOut(out, data, size) == (int32_t)size;
}

// Length of a text, looking at most max bytes (stored texts need not end
// within their slot).
size_t boundedLength(const char *text, size_t max) {
    if (text == nullptr) return 0;
    size_t n = 0;
    while (n < max && text[n] != '\0') n++;
    return n;
}

// Copies a text into a header field of the given width, cut to the width.
// Headers hold printable ASCII only: every other byte becomes '_'.
void putField(char *field, size_t width, const char *text) {
    size_t n = boundedLength(text, width);
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)text[i];
        field[i] = (c >= 32 && c <= 126) ? (char)c : '_';
    }
}

// "%-g" of a value with the exponent trimmed; if that is wider than the
// field, fewer digits are given instead of cutting the number (a cut number
// would be another number).
void formatNumber(char *buffer, size_t size, double value, size_t width) {
    std::snprintf(buffer, size, "%-g", value);
    trimExponent(buffer);
    for (int precision = 5; std::strlen(buffer) > width && precision >= 1; precision--) {
        std::snprintf(buffer, size, "%.*g", precision, value);
        trimExponent(buffer);
    }
}

bool readKind(const RecordingOutput *out, uint16_t id, uint16_t channel, uint8_t kind, QdParamValue *v) {
    std::memset(v, 0, sizeof *v);
    if (out->params == nullptr || out->params->getParam == nullptr) return false;
    if (out->params->getParam(id, channel, v) != 0) return false;
    return (v->type & 0x7F) == kind;
}

bool readFloat(const RecordingOutput *out, uint16_t id, uint16_t channel, float *value) {
    QdParamValue v;
    if (!readKind(out, id, channel, QD_KIND_FLOAT, &v)) return false;
    *value = v.value.f;
    return true;
}

bool readText(const RecordingOutput *out, uint16_t id, uint16_t channel, const char **text) {
    QdParamValue v;
    if (!readKind(out, id, channel, QD_KIND_STRING, &v)) return false;
    *text = v.value.s != nullptr ? v.value.s : "";
    return true;
}

// "Number of channels", limited to the 8 places of the buffers.
bool readChannelCount(const RecordingOutput *out, uint16_t *channels) {
    QdParamValue v;
    if (!readKind(out, PAR_CHANNELS, 0, QD_KIND_INT, &v)) return false;
    int32_t n = v.value.i;
    *channels = (uint16_t)(n < 0 ? 0 : n > REC_MAX_SIGNALS ? REC_MAX_SIGNALS : n);
    return true;
}

// Whether a channel is recorded; a device with one channel has no reading.
bool readEnabled(const RecordingOutput *out, uint16_t channels, uint16_t channel, bool *enabled) {
    if (channels == 1) {
        *enabled = true;
        return true;
    }
    QdParamValue v;
    if (!readKind(out, QD_PAR_CHANNEL_ENABLE, channel, QD_KIND_BOOL, &v)) return false;
    *enabled = v.value.bytes[0] != 0;
    return true;
}

const char *unitOf(const RecordingOutput *out, uint16_t channel, bool *ok) {
    const QdParamDef *def = out->params->paramInfo != nullptr
                                ? out->params->paramInfo(QD_PAR_MEASUREMENT_RANGE, (int16_t)channel)
                                : nullptr;
    *ok = def != nullptr;
    return def != nullptr && def->unit != nullptr ? def->unit : "";
}

// The local date and time as "dd.mm.yy" and "hh<sep>mm<sep>ss".
void localStamp(char *date, char *time, char timeSeparator) {
    OsLocalTime t;
    osLocalTime(&t);
    std::snprintf(date, 9, "%02u.%02u.%02u", (unsigned)t.day % 100, (unsigned)t.month % 100,
                  (unsigned)t.year % 100);
    std::snprintf(time, 9, "%02u%c%02u%c%02u", (unsigned)t.hour % 100, timeSeparator, (unsigned)t.minute % 100,
                  timeSeparator, (unsigned)t.second % 100);
}

// Empties the file again after a header that could not be written whole, so
// that the next packet tries the header anew.
void dropPartialHeader(RecordingOutput *out) {
    osFileTruncate(out->file, 0);
    osFileSeek(out->file, 0, OS_SEEK_SET);
}

// One enabled channel of an EDF recording.
struct SignalSetup {
    uint16_t channel;
    uint32_t rateIndex;
    float rate;
};

// The data record layout: N samples per record for the slowest signal, N << d
// for a signal d rate steps above it.
struct RecordLayout {
    uint32_t slowestIndex;   // rate option index of the slowest signal
    float slowestRate;
    float duration;          // seconds per data record
    uint16_t samples[REC_MAX_SIGNALS];
};

void putMain(char *header, int field, const char *text) {
    putField(header + fieldOffset(MAIN_WIDTH, field), (size_t)MAIN_WIDTH[field], text);
}

void putSignal(char *slot, int field, const char *text) {
    putField(slot + fieldOffset(FIELD_WIDTH, field), (size_t)FIELD_WIDTH[field], text);
}

// The enabled channels and their sample rates (option lists only). False
// when a reading fails.
bool readSignals(const RecordingOutput *out, uint16_t channels, SignalSetup *sig, int *count) {
    int ns = 0;
    for (uint16_t c = 0; c < channels; c++) {
        bool enabled;
        if (!readEnabled(out, channels, c, &enabled)) return false;
        if (!enabled) continue;
        QdParamValue v;
        if (!readKind(out, QD_PAR_SAMPLE_RATE, c, QD_KIND_FLOAT, &v)) return false;
        if ((v.type & QD_TYPE_OPTION_LIST) == 0) return false;
        sig[ns].channel = c;
        sig[ns].rateIndex = v.code;
        sig[ns].rate = v.value.f;
        ns++;
    }
    *count = ns;
    return true;
}

// The record layout over ns >= 1 signals; false when the slowest rate gives
// no usable record length or a signal would not fit a record row.
bool planRecord(const SignalSetup *sig, int ns, RecordLayout *layout) {
    int slowest = 0;
    for (int k = 1; k < ns; k++) {
        if (sig[k].rateIndex < sig[slowest].rateIndex) slowest = k;
    }
    uint32_t iMin = sig[slowest].rateIndex;
    float rMin = sig[slowest].rate;
    if (!std::isfinite(rMin) || rMin + 0.5f < 1.0f || rMin + 0.5f >= 65536.0f) return false;
    uint16_t n = (uint16_t)(rMin + 0.5f);
    layout->slowestIndex = iMin;
    layout->slowestRate = rMin;
    layout->duration = (float)n / rMin;
    for (int k = 0; k < ns; k++) {
        // A record row holds 2200 samples: a layout beyond that is refused.
        uint32_t shift = sig[k].rateIndex - iMin;
        if (shift > 11 || ((uint32_t)n << shift) > (uint32_t)REC_ROW_SAMPLES) return false;
        layout->samples[k] = (uint16_t)(n << shift);
    }
    return true;
}

// The recording identification: the session text, followed by the model
// name when the session does not name it already and there is room.
void recordingText(const RecordingOutput *out, char *recording) {
    size_t sessionLength = boundedLength(out->session, REC_TEXT_MAX);
    std::memcpy(recording, out->session, sessionLength);
    recording[sessionLength] = '\0';
    const char *model = out->params->devName != nullptr ? out->params->devName() : nullptr;
    if (model != nullptr && std::strstr(recording, model) == nullptr &&
        sessionLength + std::strlen(model) + 17 <= (size_t)REC_TEXT_MAX) {
        std::snprintf(recording + sessionLength, REC_TEXT_MAX + 1 - sessionLength, "%sRecorded with %s",
                      sessionLength > 0 ? " / " : "", model);
    }
}

// The 256-byte main header; the number of data records stays "-1" until the
// recording is completed.
void fillMainHeader(const RecordingOutput *out, int ns, const RecordLayout &layout, char *header) {
    std::memset(header, ' ', MAIN_HEADER_SIZE);
    char number[32];
    putMain(header, M_VERSION, "0");
    putMain(header, M_PATIENT, out->client);
    char recording[REC_TEXT_MAX + 1];
    recordingText(out, recording);
    putMain(header, M_RECORDING, recording);
    char date[9], time[9];
    localStamp(date, time, '.');
    putMain(header, M_START_DATE, date);
    putMain(header, M_START_TIME, time);
    std::snprintf(number, sizeof number, "%u", (unsigned)((ns + 1) * SIGNAL_HEADER_SIZE));
    putMain(header, M_HEADER_BYTES, number);
    putMain(header, M_RECORDS, "-1");
    formatNumber(number, sizeof number, (double)layout.duration, (size_t)MAIN_WIDTH[M_DURATION]);
    putMain(header, M_DURATION, number);
    std::snprintf(number, sizeof number, "%d", ns);
    putMain(header, M_SIGNALS, number);
    for (int i = 0; i < MAIN_HEADER_SIZE; i++) {
        if (header[i] == '\0') header[i] = ' ';
    }
}

// The parameters a signal header shows.
struct SignalValues {
    const char *name, *label, *sensor, *unit;
    float range, minimum, lower, upper;
};

bool readSignalValues(const RecordingOutput *out, uint16_t c, SignalValues *v) {
    bool unitOk;
    v->unit = unitOf(out, c, &unitOk);
    return unitOk && readText(out, QD_PAR_CHANNEL_NAME, c, &v->name) &&
           readText(out, QD_PAR_CHANNEL_LABEL, c, &v->label) && readText(out, QD_PAR_SENSOR_INFO, c, &v->sensor) &&
           readFloat(out, QD_PAR_MEASUREMENT_RANGE, c, &v->range) &&
           readFloat(out, QD_PAR_RANGE_MINIMUM, c, &v->minimum) && readFloat(out, QD_PAR_LOWER_LIMIT, c, &v->lower) &&
           readFloat(out, QD_PAR_UPPER_LIMIT, c, &v->upper);
}

// "HP:<lower>Hz LP:<upper>Hz", and " N:<mains>Hz" when the channel has the
// interference filter and it is on; a failed reading of the notch part never
// fails the header.
void prefilterText(const RecordingOutput *out, uint16_t c, const SignalValues &v, float ownRate, char *text,
                   size_t size) {
    int len = std::snprintf(text, size, "HP:%-gHz LP:%-gHz", (double)v.lower, (double)(v.upper * ownRate));
    QdParamValue filter;
    float mains;
    if (out->params->paramInfo != nullptr &&
        out->params->paramInfo(QD_PAR_INTERFERENCE_FILTER, (int16_t)c) != nullptr &&
        readKind(out, QD_PAR_INTERFERENCE_FILTER, c, QD_KIND_BOOL, &filter) && filter.value.bytes[0] != 0 &&
        readFloat(out, PAR_MAINS, 0, &mains) && len > 0 && (size_t)len < size) {
        std::snprintf(text + len, size - (size_t)len, " N:%-gHz", (double)mains);
    }
}

// One signal's 256-byte header slot, field after field. False when a reading
// fails or the scaling would give readers no valid signal.
bool fillSignalSlot(const RecordingOutput *out, const SignalSetup &sig, const RecordLayout &layout,
                    uint16_t samples, char *slot) {
    std::memset(slot, ' ', SIGNAL_HEADER_SIZE);
    SignalValues v;
    if (!readSignalValues(out, sig.channel, &v)) return false;
    // The scaling must give readers a valid signal: a positive range and a
    // digital minimum inside the 16-bit range below 32767.
    if (!std::isfinite(v.range) || !std::isfinite(v.minimum) || !(v.range > 0.0f)) return false;
    float digitalMin = v.minimum * 32768.0f / v.range;
    if (!(digitalMin >= -32768.0f && digitalMin < 32767.0f)) return false;
    float physicalMax = v.range * 32767.0f * (1.0f / 32768.0f);

    char text[128];
    size_t nameLength = boundedLength(v.name, 15);
    std::memcpy(text, v.name, nameLength);
    text[nameLength] = ':';
    size_t labelLength = boundedLength(v.label, 16);
    std::memcpy(text + nameLength + 1, v.label, labelLength);
    text[nameLength + 1 + labelLength] = '\0';
    putSignal(slot, F_LABEL, text);
    putSignal(slot, F_TRANSDUCER, v.sensor);
    putSignal(slot, F_DIMENSION, v.unit);
    char number[32];
    formatNumber(number, sizeof number, (double)v.minimum, (size_t)FIELD_WIDTH[F_PHYS_MIN]);
    putSignal(slot, F_PHYS_MIN, number);
    formatNumber(number, sizeof number, (double)physicalMax, (size_t)FIELD_WIDTH[F_PHYS_MAX]);
    putSignal(slot, F_PHYS_MAX, number);
    std::snprintf(number, sizeof number, "%ld", (long)(int32_t)digitalMin);
    putSignal(slot, F_DIG_MIN, number);
    putSignal(slot, F_DIG_MAX, "32767");
    float ownRate = layout.slowestRate * std::ldexp(1.0f, (int)(sig.rateIndex - layout.slowestIndex));
    prefilterText(out, sig.channel, v, ownRate, text, sizeof text);
    putSignal(slot, F_PREFILTER, text);
    std::snprintf(number, sizeof number, "%u", (unsigned)samples);
    putSignal(slot, F_SAMPLES, number);
    return true;
}

// The signal header slots transposed into the file's field-major order;
// returns the bytes written to headers.
int transposeSignals(const char (*slot)[SIGNAL_HEADER_SIZE], int ns, char *headers) {
    int at = 0;
    for (int f = 0; f < SIGNAL_FIELDS; f++) {
        for (int k = 0; k < ns; k++) {
            std::memcpy(headers + at, slot[k] + fieldOffset(FIELD_WIDTH, f), (size_t)FIELD_WIDTH[f]);
            at += FIELD_WIDTH[f];
        }
    }
    for (int i = 0; i < at; i++) {
        if (headers[i] == '\0') headers[i] = ' ';
    }
    return at;
}

}  // namespace

void trimExponent(char *text) {
    char *e = std::strpbrk(text, "eE");
    if (e == nullptr) return;
    char *digits = e + 1;
    if (*digits == '+' || *digits == '-') digits++;
    char *first = digits;
    while (*first == '0') first++;
    if (*first < '0' || *first > '9') {
        // All zeros: keep one.
        if (first == digits) return;
        first--;
    }
    if (first != digits) std::memmove(digits, first, std::strlen(first) + 1);
}

bool recordingOpen(RecordingOutput *out, const char *path, uint16_t format, const char *client,
                   const char *session) {
    // An unknown format is refused before the file is touched.
    if (out->file != OS_INVALID_FILE || path == nullptr || outputFormat(format) == nullptr) return false;
    OsFile f = osFileOpen(path, OS_FILE_WRITE | OS_FILE_TRUNCATE | OS_FILE_SHARE_READ);
    if (f == OS_INVALID_FILE) return false;
    out->file = f;
    out->format = format;
    size_t n = boundedLength(client, REC_TEXT_MAX);
    std::memcpy(out->client, client != nullptr ? client : "", n);
    out->client[n] = '\0';
    n = boundedLength(session, REC_TEXT_MAX);
    std::memcpy(out->session, session != nullptr ? session : "", n);
    out->session[n] = '\0';
    out->channels = 0;
    out->edf.signals = 0;
    out->edf.headerBytes = 0;
    out->edf.recordBytes = 0;
    out->edf.records = 0;
    out->dataStopped = false;
    out->writeFailure = 0;
    out->plus.clock.started = false;
    out->plus.ticksPerRecord = 0;
    out->plus.devicePauses = false;
    out->plus.paused = false;
    out->plus.linkState = -1;
    out->plus.queueHead = out->plus.queued = 0;
    out->plus.annotationsRefused = 0;
    out->plus.annotationsWritten = 0;
    return true;
}

namespace {

// What both EDF headers read first: the channels, the enabled signals and
// the record layout. False when a reading or the layout fails.
bool readEdfSetup(RecordingOutput *out, uint16_t *channels, SignalSetup *sig, int *ns, RecordLayout *layout) {
    if (out->params == nullptr || out->file == OS_INVALID_FILE) return false;
    if (!readChannelCount(out, channels)) return false;
    // A file without signals is no EDF file.
    if (!readSignals(out, *channels, sig, ns) || *ns == 0) return false;
    return planRecord(sig, *ns, layout);
}

// Writes the main header and the signal headers; on success the layout of
// the records (extraBytes: a record's bytes beyond the signals' samples).
bool writeEdfHeaders(RecordingOutput *out, const char *main, const char *signalHeaders, int at, int ns,
                     const RecordLayout &layout, uint32_t extraBytes) {
    if (!writeAll(out, main, MAIN_HEADER_SIZE) || !writeAll(out, signalHeaders, (uint32_t)at)) {
        dropPartialHeader(out);
        return false;
    }
    out->edf.signals = (uint16_t)ns;
    uint32_t recordSamples = 0;
    for (int k = 0; k < ns; k++) {
        out->edf.samplesPerRecord[k] = layout.samples[k];
        recordSamples += layout.samples[k];
    }
    out->edf.headerBytes = (uint32_t)at + MAIN_HEADER_SIZE;
    out->edf.recordBytes = 2u * recordSamples + extraBytes;
    return true;
}

}  // namespace

uint16_t writeEdfHeader(RecordingOutput *out) {
    uint16_t channels;
    SignalSetup sig[REC_MAX_SIGNALS];
    int ns = 0;
    RecordLayout layout;
    if (!readEdfSetup(out, &channels, sig, &ns, &layout)) return 0;

    char main[MAIN_HEADER_SIZE];
    fillMainHeader(out, ns, layout, main);
    char slot[REC_MAX_SIGNALS][SIGNAL_HEADER_SIZE];
    for (int k = 0; k < ns; k++) {
        if (!fillSignalSlot(out, sig[k], layout, layout.samples[k], slot[k])) return 0;
    }
    char signalHeaders[REC_MAX_SIGNALS * SIGNAL_HEADER_SIZE];
    int at = transposeSignals(slot, ns, signalHeaders);
    return writeEdfHeaders(out, main, signalHeaders, at, ns, layout, 0) ? channels : 0;
}

namespace {

// Text assembled for one write (the TSV header or the lines of a packet).
struct TextBuffer {
    char *data;
    size_t size;
    size_t used;
    bool overflow;
};

void append(TextBuffer *b, const char *format, ...) REC_PRINTF(2, 3);
void append(TextBuffer *b, const char *format, ...) {
    if (b->overflow) return;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(b->data + b->used, b->size - b->used, format, args);
    va_end(args);
    if (n < 0 || (size_t)n >= b->size - b->used) {
        b->overflow = true;
        return;
    }
    b->used += (size_t)n;
}

// Appends a text value of a TSV header cut to max bytes; control characters
// (a tab or a line break would shift the columns) become '_'.
void appendText(TextBuffer *b, const char *text, size_t max) {
    size_t n = boundedLength(text, max);
    for (size_t i = 0; i < n && !b->overflow; i++) {
        unsigned char c = (unsigned char)text[i];
        if (b->used + 1 >= b->size) {
            b->overflow = true;
            return;
        }
        b->data[b->used++] = (c < 32 || c == 127) ? '_' : (char)c;
    }
    if (!b->overflow) b->data[b->used] = '\0';
}

}  // namespace

// One column of the TSV header: what the parameters say of a channel.
struct TsvColumn {
    const char *name, *label, *sensor, *unit;
    float range, minimum, rate;
};

// Reads the columns of the enabled channels and their scale factors; false
// when a parameter cannot be read.
static bool readTsvColumns(RecordingOutput *out, uint16_t channels, TsvColumn *col, unsigned *count, float *scale) {
    unsigned ns = 0;
    for (uint16_t c = 0; c < channels; c++) {
        bool enabled;
        if (!readEnabled(out, channels, c, &enabled)) return false;
        if (!enabled) continue;
        TsvColumn &k = col[ns];
        bool unitOk;
        k.unit = unitOf(out, c, &unitOk);
        if (!unitOk || !readText(out, QD_PAR_CHANNEL_NAME, c, &k.name) ||
            !readFloat(out, QD_PAR_RANGE_MINIMUM, c, &k.minimum) ||
            !readFloat(out, QD_PAR_MEASUREMENT_RANGE, c, &k.range) ||
            !readFloat(out, QD_PAR_SAMPLE_RATE, c, &k.rate) || !readText(out, QD_PAR_CHANNEL_LABEL, c, &k.label) ||
            !readText(out, QD_PAR_SENSOR_INFO, c, &k.sensor)) {
            return false;
        }
        scale[c] = k.range * (1.0f / 2147483648.0f);
        ns++;
    }
    *count = ns;
    return true;
}

// The seven rows of the header, a column per enabled channel.
static void appendTsvRows(TextBuffer *b, const TsvColumn *col, unsigned ns) {
    static const char *const ROWS[7] = {"Channel", "Min", "Max", "Unit", "SR", "Label", "Sensor"};
    for (int r = 0; r < 7; r++) {
        append(b, "%s", ROWS[r]);
        for (unsigned k = 0; k < ns; k++) {
            append(b, "\t");
            switch (r) {
            case 0: appendText(b, col[k].name, 32); break;
            case 1: append(b, "%-g", (double)col[k].minimum); break;
            case 2: append(b, "%-g", (double)col[k].range); break;
            case 3: appendText(b, col[k].unit, 16); break;
            case 4: append(b, "%-g", (double)col[k].rate); break;
            case 5: appendText(b, col[k].label, 16); break;
            default: appendText(b, col[k].sensor, 80); break;
            }
        }
        append(b, "\n");
    }
}

uint16_t writeTsvHeader(RecordingOutput *out) {
    if (out->params == nullptr || out->file == OS_INVALID_FILE) return 0;
    uint16_t channels;
    if (!readChannelCount(out, &channels)) return 0;

    // Everything is read before anything is written.
    TsvColumn col[REC_MAX_SIGNALS];
    unsigned ns = 0;
    float scale[REC_MAX_SIGNALS] = {};
    if (!readTsvColumns(out, channels, col, &ns, scale)) return 0;

    char buffer[2048];
    TextBuffer b = {buffer, sizeof buffer, 0, false};
    buffer[0] = '\0';
    char date[9], time[9];
    localStamp(date, time, ':');
    append(&b, "Date: %s\nTime: %s\nClient: ", date, time);
    appendText(&b, out->client, REC_TEXT_MAX);
    append(&b, "\nSession: ");
    appendText(&b, out->session, REC_TEXT_MAX);
    append(&b, "\nDevice: ");
    appendText(&b, out->params->devName != nullptr ? out->params->devName() : "", 64);
    append(&b, "\nSignals: %u\n", ns);
    appendTsvRows(&b, col, ns);
    if (b.overflow) return 0;
    if (!writeAll(out, buffer, (uint32_t)b.used)) {
        dropPartialHeader(out);
        return 0;
    }
    std::memcpy(out->tsv.scale, scale, sizeof scale);
    return channels;
}

namespace {

void stopData(RecordingOutput *out) {
    out->dataStopped = true;
    out->writeFailure |= 1;
}

// Writes the full row of signal k as one little-endian block.
void writeBlock(RecordingOutput *out, int k) {
    uint16_t count = out->edf.samplesPerRecord[k];
    for (uint16_t i = 0; i < count; i++) {
        out->edf.block[2 * i] = (uint8_t)(out->edf.row[k][i] & 0xFF);
        out->edf.block[2 * i + 1] = (uint8_t)(out->edf.row[k][i] >> 8);
    }
    if (!writeAll(out, out->edf.block, 2u * count)) stopData(out);
}

void writeAnnotationBlock(RecordingOutput *out);

// One sample of signal k into its row; a full row is written as its block,
// and the last signal's block completes a record (EDF+: after the record's
// annotations).
void pushSample(RecordingOutput *out, int k, uint16_t value) {
    out->edf.row[k][out->edf.fill[k]++] = value;
    if (out->edf.fill[k] < out->edf.samplesPerRecord[k]) return;
    writeBlock(out, k);
    out->edf.fill[k] = 0;
    if (out->dataStopped || k != out->edf.signals - 1) return;
    if (out->plus.ticksPerRecord > 0) {
        writeAnnotationBlock(out);
        if (out->dataStopped) return;
    }
    // A record counts once its last block is in the file.
    out->edf.records++;
}

void recordEdf(RecordingOutput *out, uint16_t, const ChannelSamples *channels, int entries) {
    int k = 0;
    for (int i = 0; i < entries && !out->dataStopped; i++) {
        const ChannelSamples *e = &channels[i];
        if (e->samples == nullptr) continue;
        // More delivering entries than signals in the header: the rest has
        // no place in the records.
        if (k >= out->edf.signals) break;
        for (uint16_t j = 0; j < e->count && !out->dataStopped; j++) {
            pushSample(out, k, (uint16_t)((uint32_t)e->samples[j] >> 16));
        }
        k++;
    }
}

bool flushText(RecordingOutput *out, TextBuffer *b) {
    if (b->used == 0) return true;
    bool ok = writeAll(out, b->data, (uint32_t)b->used);
    b->used = 0;
    if (!ok) stopData(out);
    return ok;
}

void recordTsv(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int entries) {
    uint16_t taken[REC_MAX_SIGNALS] = {};
    bool any = false;
    for (int i = 0; i < entries; i++) {
        if (channels[i].samples != nullptr && channels[i].count > 0) any = true;
    }
    if (!any) return;
    TextBuffer b = {out->tsv.text, sizeof out->tsv.text, 0, false};
    uint16_t p = phase;
    // One line per phase until an entry took its last sample; a full turn of
    // the phase bounds the walk whatever the rate masks are.
    for (uint32_t line = 0; line < 65536u; line++, p++) {
        bool last = false;
        for (int i = 0; i < entries; i++) {
            const ChannelSamples *e = &channels[i];
            if (e->samples == nullptr) continue;
            // Room for the longest piece ("\t" and a %g number) and the line end.
            if (b.used + 40 > b.size && !flushText(out, &b)) return;
            if ((((uint32_t)p + 1) & e->rateMask) != 0 || taken[i] >= e->count) {
                b.data[b.used++] = '\t';
                continue;
            }
            float value = (float)e->samples[taken[i]] * out->tsv.scale[i];
            int n = std::snprintf(b.data + b.used, b.size - b.used, "\t%-*g", 9, (double)value);
            if (n > 0) b.used += (size_t)n;
            if (++taken[i] == e->count) last = true;
        }
        b.data[b.used++] = '\n';
        if (last) break;
    }
    flushText(out, &b);
}

// Completes an EDF file: its data records are counted into the header.
bool finishEdf(RecordingOutput *out, void *window) {
    // A file that never got its header stays empty: there is nothing to
    // complete, and a count written into it would leave a file of zeros.
    if (out->edf.headerBytes == 0) return true;
    // After a failed write the file may end in a partial record: cut it to
    // the records counted, so that the count matches the data.
    bool ok = true;
    uint64_t complete = (uint64_t)out->edf.headerBytes + (uint64_t)out->edf.records * out->edf.recordBytes;
    int64_t size = osFileSize(out->file);
    if (size >= 0 && (uint64_t)size != complete && !osFileTruncate(out->file, (int64_t)complete)) ok = false;
    char count[16];
    const int64_t recordsAt = fieldOffset(MAIN_WIDTH, M_RECORDS);
    if (ok && osFileSeek(out->file, recordsAt, OS_SEEK_SET) == recordsAt && out->edf.records < REC_MAX_RECORDS) {
        std::snprintf(count, sizeof count, "%-8lu", (unsigned long)out->edf.records);
        ok = writeAll(out, count, (uint32_t)MAIN_WIDTH[M_RECORDS]);
    } else {
        ok = false;
    }
    if (!ok && out->showMessage != nullptr) {
        out->showMessage(window, "Cannot complete the header of the output EDF file", "Error");
    }
    return ok;
}

}  // namespace

// ---------------------------------------------------------------------------
// EDF+: structured identification fields, an annotation signal, and the
// events of the recording as annotations
// ---------------------------------------------------------------------------

namespace {

const char kAnnotationLabel[] = "EDF Annotations";
const char kContinuous[] = "EDF+C";
const char kGapText[] = "BAD_ACQ_SKIP";       // the description readers take as bad data
const char kUnknown[] = "X";                  // an unknown subfield
const char *const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const int64_t UNITS_PER_SECOND = 10000000;     // time-keeping in units of 100 ns
// TAL separators: onset and duration, the end of a text, the end of a TAL.
const char TAL_DURATION = 0x15, TAL_TEXT_END = 0x14, TAL_END = 0x00;

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = (unsigned)(y - era * 400);
    unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

void civilFromDays(int64_t z, OsLocalTime *t) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = (unsigned)(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    t->day = (uint16_t)(doy - (153 * mp + 2) / 5 + 1);
    t->month = (uint16_t)(mp < 10 ? mp + 3 : mp - 9);
    t->year = (uint16_t)((int64_t)yoe + era * 400 + (t->month <= 2));
}

// A local time moved back by ms milliseconds.
void localTimeBefore(OsLocalTime *t, int64_t ms) {
    int64_t day = daysFromCivil(t->year, t->month, t->day);
    int64_t at = ((int64_t)t->hour * 3600 + t->minute * 60 + t->second) * 1000 + t->millisecond - ms;
    int64_t dayMs = 86400000;
    int64_t shift = at >= 0 ? at / dayMs : -((-at + dayMs - 1) / dayMs);
    at -= shift * dayMs;
    civilFromDays(day + shift, t);
    t->hour = (uint16_t)(at / 3600000);
    t->minute = (uint16_t)(at / 60000 % 60);
    t->second = (uint16_t)(at / 1000 % 60);
    t->millisecond = (uint16_t)(at % 1000);
}

// A text as one subfield of an identification field: no spaces inside
// ("_" for them), "X" when empty.
void subfield(char *out, size_t size, const char *text, size_t max) {
    size_t n = boundedLength(text, max);
    if (n == 0 || size < 2) {
        std::snprintf(out, size, "%s", kUnknown);
        return;
    }
    if (n >= size) n = size - 1;
    for (size_t i = 0; i < n; i++) out[i] = text[i] == ' ' ? '_' : text[i];
    out[n] = '\0';
}

// Patient "code sex birthdate name" and recording "Startdate dd-MMM-yyyy
// admincode technician equipment" (then the session), unknown parts "X".
void fillPlusIdentification(const RecordingOutput *out, const OsLocalTime &start, char *header) {
    char client[REC_TEXT_MAX + 1], session[REC_TEXT_MAX + 1], model[REC_TEXT_MAX + 1], text[3 * REC_TEXT_MAX];
    subfield(client, sizeof client, out->client, REC_TEXT_MAX);
    std::snprintf(text, sizeof text, "X X X %s", client);
    putMain(header, M_PATIENT, text);
    const char *name = out->params->devName != nullptr ? out->params->devName() : nullptr;
    subfield(model, sizeof model, name, REC_TEXT_MAX);
    std::snprintf(text, sizeof text, "Startdate %02u-%s-%04u X X %s", (unsigned)start.day % 100,
                  kMonths[(start.month + 11) % 12], (unsigned)start.year % 10000, model);
    if (boundedLength(out->session, REC_TEXT_MAX) > 0) {
        subfield(session, sizeof session, out->session, REC_TEXT_MAX);
        size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, " %s", session);
    }
    putMain(header, M_RECORDING, text);
}

// The EDF+ main header for ns signals and the annotation signal; the start
// is the first sample's local time (the second in the header, its fraction
// in startUnits).
void fillPlusMainHeader(RecordingOutput *out, int ns, const RecordLayout &layout, const OsLocalTime &start,
                        char *header) {
    std::memset(header, ' ', MAIN_HEADER_SIZE);
    char number[32];
    putMain(header, M_VERSION, "0");
    fillPlusIdentification(out, start, header);
    std::snprintf(number, sizeof number, "%02u.%02u.%02u", (unsigned)start.day % 100, (unsigned)start.month % 100,
                  (unsigned)start.year % 100);
    putMain(header, M_START_DATE, number);
    std::snprintf(number, sizeof number, "%02u.%02u.%02u", (unsigned)start.hour % 100, (unsigned)start.minute % 100,
                  (unsigned)start.second % 100);
    putMain(header, M_START_TIME, number);
    std::snprintf(number, sizeof number, "%u", (unsigned)((ns + 2) * SIGNAL_HEADER_SIZE));
    putMain(header, M_HEADER_BYTES, number);
    putMain(header, M_RESERVED, kContinuous);
    putMain(header, M_RECORDS, "-1");
    formatNumber(number, sizeof number, (double)layout.duration, (size_t)MAIN_WIDTH[M_DURATION]);
    putMain(header, M_DURATION, number);
    // The time-keeping annotations count in the duration as written.
    out->plus.recordUnits = (int64_t)std::llround(std::strtod(number, nullptr) * (double)UNITS_PER_SECOND);
    out->plus.startUnits = (int64_t)start.millisecond * (UNITS_PER_SECOND / 1000);
    std::snprintf(number, sizeof number, "%d", ns + 1);
    putMain(header, M_SIGNALS, number);
}

void fillAnnotationSlot(char *slot) {
    std::memset(slot, ' ', SIGNAL_HEADER_SIZE);
    char number[16];
    putSignal(slot, F_LABEL, kAnnotationLabel);
    putSignal(slot, F_PHYS_MIN, "-1");
    putSignal(slot, F_PHYS_MAX, "1");
    putSignal(slot, F_DIG_MIN, "-32768");
    putSignal(slot, F_DIG_MAX, "32767");
    std::snprintf(number, sizeof number, "%u", (unsigned)(REC_ANNOTATION_BYTES / 2));
    putSignal(slot, F_SAMPLES, number);
}

// The local time of the first sample: now, less the first packet's ticks.
void firstSampleTime(const RecordingOutput *out, const RecordLayout &layout, const SignalSetup *sig, int ns,
                     OsLocalTime *start) {
    osLocalTime(start);
    uint32_t fastest = sig[0].rateIndex;
    for (int k = 1; k < ns; k++) {
        if (sig[k].rateIndex > fastest) fastest = sig[k].rateIndex;
    }
    double rate = (double)layout.slowestRate * std::ldexp(1.0, (int)(fastest - layout.slowestIndex));
    if (rate > 0) localTimeBefore(start, (int64_t)std::llround(1000.0 * out->plus.firstTicks / rate));
}

bool readDevicePauses(const RecordingOutput *out) {
    QdParamValue v;
    return readKind(out, QD_PAR_INDICATOR_SUPPORT, 0, QD_KIND_INT, &v) && (v.value.i & (1 << QD_IND_PAUSE)) != 0;
}

}  // namespace

uint16_t writeEdfPlusHeader(RecordingOutput *out) {
    uint16_t channels;
    SignalSetup sig[REC_MAX_SIGNALS];
    int ns = 0;
    RecordLayout layout;
    if (!readEdfSetup(out, &channels, sig, &ns, &layout)) return 0;

    OsLocalTime start;
    firstSampleTime(out, layout, sig, ns, &start);
    char main[MAIN_HEADER_SIZE];
    fillPlusMainHeader(out, ns, layout, start, main);
    char slot[REC_MAX_SIGNALS + 1][SIGNAL_HEADER_SIZE];
    for (int k = 0; k < ns; k++) {
        if (!fillSignalSlot(out, sig[k], layout, layout.samples[k], slot[k])) return 0;
    }
    fillAnnotationSlot(slot[ns]);
    char signalHeaders[(REC_MAX_SIGNALS + 1) * SIGNAL_HEADER_SIZE];
    int at = transposeSignals(slot, ns + 1, signalHeaders);
    if (!writeEdfHeaders(out, main, signalHeaders, at, ns, layout, REC_ANNOTATION_BYTES)) return 0;
    out->plus.devicePauses = readDevicePauses(out);
    return channels;
}

// ---------------------------------------------------------------------------
// Annotations and the samples of an EDF+ recording
// ---------------------------------------------------------------------------

namespace {

// Bytes of the UTF-8 character at p, 0 when it is none (a stray or overlong
// byte, a surrogate, beyond U+10FFFF).
size_t utf8Length(const unsigned char *p) {
    unsigned c = p[0];
    if (c < 0x80) return 1;
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0) return 0;
    unsigned lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < n; i++) {
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    }
    return n;
}

// Seconds from the header's start second to a tick of the recording.
double tickSeconds(const RecordingOutput *out, double tick) {
    double perTick = (double)out->plus.recordUnits / (double)out->plus.ticksPerRecord;
    return ((double)out->plus.startUnits + tick * perTick) / (double)UNITS_PER_SECOND;
}

bool queueAnnotation(RecordingOutput *out, const char *text, double at, double duration, bool onTicks) {
    if (out->plus.queued >= REC_ANNOTATION_QUEUE) {
        out->plus.annotationsRefused++;
        return false;
    }
    RecAnnotation &a = out->plus.queue[(out->plus.queueHead + out->plus.queued) % REC_ANNOTATION_QUEUE];
    a.at = at;
    a.duration = duration;
    a.onTicks = onTicks;
    std::snprintf(a.text, sizeof a.text, "%s", text);
    out->plus.queued++;
    return true;
}

// The TAL of an annotation: "+onset[\x15duration]\x14text\x14\0"; its length.
size_t formatTal(const RecordingOutput *out, const RecAnnotation &a, char *tal, size_t size) {
    double tick = a.onTicks ? a.at : sampleClockTick(&out->plus.clock, a.at);
    // Events before the first sample lie on it, events after the last one
    // (the samples of their instant not in yet) on the end of the samples.
    if (!a.onTicks && tick > (double)out->plus.clock.next) tick = (double)out->plus.clock.next;
    double onset = tickSeconds(out, tick > 0 ? tick : 0);
    int n = std::snprintf(tal, size, "+%.4f", onset);
    if (a.duration >= 0) n += std::snprintf(tal + n, size - (size_t)n, "%c%.4f", TAL_DURATION, a.duration);
    n += std::snprintf(tal + n, size - (size_t)n, "%c%s%c", TAL_TEXT_END, a.text, TAL_TEXT_END);
    tal[n] = TAL_END;
    return (size_t)n + 1;
}

// The time-keeping TAL that opens a record: its start in seconds, exact to
// the 100 ns the durations are counted in.
size_t formatTimeKeeping(const RecordingOutput *out, uint32_t record, char *tal, size_t size) {
    int64_t units = out->plus.startUnits + (int64_t)record * out->plus.recordUnits;
    int n = std::snprintf(tal, size, "+%lld.%07lld", (long long)(units / UNITS_PER_SECOND),
                          (long long)(units % UNITS_PER_SECOND));
    while (n > 0 && tal[n - 1] == '0') n--;
    if (n > 0 && tal[n - 1] == '.') n--;
    n += std::snprintf(tal + n, size - (size_t)n, "%c%c", TAL_TEXT_END, TAL_TEXT_END);
    tal[n] = TAL_END;
    return (size_t)n + 1;
}

// The annotation signal of the record being completed: its time-keeping,
// then as many waiting annotations as fit; the others wait for the next.
void writeAnnotationBlock(RecordingOutput *out) {
    std::memset(out->plus.annotations, 0, sizeof out->plus.annotations);
    char tal[2 * REC_ANNOTATION_TEXT];
    size_t used = formatTimeKeeping(out, out->edf.records, tal, sizeof tal);
    std::memcpy(out->plus.annotations, tal, used);
    while (out->plus.queued > 0) {
        size_t n = formatTal(out, out->plus.queue[out->plus.queueHead], tal, sizeof tal);
        if (used + n > REC_ANNOTATION_BYTES) break;
        std::memcpy(out->plus.annotations + used, tal, n);
        used += n;
        out->plus.queueHead = (out->plus.queueHead + 1) % REC_ANNOTATION_QUEUE;
        out->plus.queued--;
        out->plus.annotationsWritten++;
    }
    if (!writeAll(out, out->plus.annotations, REC_ANNOTATION_BYTES)) stopData(out);
}

}  // namespace

namespace {

// The ticks [from, from + count) without samples: every signal due there
// gets a 0.
void fillTicks(RecordingOutput *out, uint64_t from, uint64_t count) {
    for (uint64_t t = from; t < from + count && !out->dataStopped; t++) {
        for (int k = 0; k < out->edf.signals && !out->dataStopped; k++) {
            if (((t + 1) & out->plus.masks[k]) == 0) pushSample(out, k, 0);
        }
    }
}

// The first packet sets the sample clock: each signal's rate mask, the
// ticks of a record and the slowest signal's period.
void startPlusClock(RecordingOutput *out, const ChannelSamples *channels, int count) {
    uint32_t align = 1;
    int k = 0;
    for (int i = 0; i < count && k < out->edf.signals; i++) {
        if (channels[i].samples == nullptr) continue;
        out->plus.masks[k] = channels[i].rateMask;
        if ((uint32_t)channels[i].rateMask + 1 > align) align = (uint32_t)channels[i].rateMask + 1;
        k++;
    }
    out->plus.ticksPerRecord = (uint32_t)out->edf.samplesPerRecord[0] * ((uint32_t)out->plus.masks[0] + 1);
    double ticksPerSecond = (double)out->plus.ticksPerRecord * (double)UNITS_PER_SECOND / (double)out->plus.recordUnits;
    sampleClockStart(&out->plus.clock, ticksPerSecond, out->plus.devicePauses, align);
}

void recordEdfPlus(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int count) {
    uint16_t ticks = 0;
    for (int i = 0; i < count; i++) {
        if (channels[i].samples != nullptr && channels[i].count > ticks) ticks = channels[i].count;
    }
    if (ticks == 0) return;   // signal states only: no sample instant
    if (!out->plus.clock.started) startPlusClock(out, channels, count);
    ClockStep step = sampleClockPacket(&out->plus.clock, phase, ticks, out->now);
    if (step.lost > 0) {
        uint64_t from = step.tick - step.lost;
        queueAnnotation(out, kGapText, (double)from, tickSeconds(out, (double)step.lost) - tickSeconds(out, 0), true);
        fillTicks(out, from, step.lost);
    }
    recordEdf(out, phase, channels, count);
}

// The end: a partly filled last record, and annotations still waiting, are
// completed with filler (marked bad) until every one is in the file.
void padForAnnotations(RecordingOutput *out) {
    for (uint32_t round = 0; round <= REC_ANNOTATION_QUEUE && !out->dataStopped &&
                             (out->plus.queued > 0 || out->plus.clock.next % out->plus.ticksPerRecord != 0);
         round++) {
        uint64_t into = out->plus.clock.next % out->plus.ticksPerRecord;
        uint64_t pad = out->plus.ticksPerRecord - into;
        queueAnnotation(out, kGapText, (double)out->plus.clock.next, tickSeconds(out, (double)pad) - tickSeconds(out, 0),
                        true);
        fillTicks(out, out->plus.clock.next, pad);
        out->plus.clock.next += pad;
    }
}

bool finishEdfPlus(RecordingOutput *out, void *window) {
    if (out->edf.headerBytes != 0 && out->plus.clock.started) padForAnnotations(out);
    return finishEdf(out, window);
}

// The name of the channel an indicator value names (0 SUM, 1 the first).
void signalName(uint16_t value, char *name, size_t size) {
    int k = value >> 8;
    if (k == 0) {
        std::snprintf(name, size, "SUM");
    } else {
        std::snprintf(name, size, "%c", (char)('A' + (k - 1) % 26));
    }
}

// The annotation text of an indicator report, or null when it is none.
const char *indicatorAnnotation(RecordingOutput *out, uint16_t type, uint16_t value, char *text, size_t size) {
    char name[8];
    switch (type) {
    case QD_IND_LINK: {
        int16_t before = out->plus.linkState;
        out->plus.linkState = (int16_t)value;
        if (value == QD_LINK_STATE_ERROR) {
            sampleClockInterrupted(&out->plus.clock);
            return "Link error";
        }
        if (value != QD_LINK_STATE_CONNECTED || (before != QD_LINK_STATE_ERROR && before != QD_LINK_STATE_CONNECTING))
            return nullptr;
        sampleClockReconnect(&out->plus.clock);
        return "Link restored";
    }
    case QD_IND_PAUSE:
        if (value != 0) {
            out->plus.paused = true;
            sampleClockInterrupted(&out->plus.clock);
            return "Pause";
        }
        if (!out->plus.paused) return nullptr;
        out->plus.paused = false;
        return "Pause end";
    case QD_IND_SIGNAL:
        signalName(value, name, sizeof name);
        // A device that pauses reports its artifacts as signal states.
        if (out->plus.devicePauses && (value & 0xFF) != 0) {
            std::snprintf(text, size, "Artifact %s", name);
        } else if ((value & 0xFF) == 2) {
            std::snprintf(text, size, "Overflow %s", name);
        } else {
            return nullptr;
        }
        return text;
    default:
        return nullptr;
    }
}

}  // namespace

size_t annotationText(char *out, const char *text, bool *cut) {
    size_t n = 0;
    const unsigned char *p = (const unsigned char *)(text != nullptr ? text : "");
    while (*p != 0 && n < REC_ANNOTATION_TEXT) {
        size_t len = utf8Length(p);
        if (len == 0 || (len == 1 && (*p < 32 || *p == 127))) {
            out[n++] = len == 0 ? '?' : ' ';
            p++;
            continue;
        }
        if (n + len > REC_ANNOTATION_TEXT) break;
        std::memcpy(out + n, p, len);
        n += len;
        p += len;
    }
    if (cut != nullptr) *cut = *p != 0;
    while (n > 0 && out[n - 1] == ' ') n--;
    size_t lead = 0;
    while (lead < n && out[lead] == ' ') lead++;
    std::memmove(out, out + lead, n - lead);
    n -= lead;
    out[n] = '\0';
    return n;
}

static bool keepsEvents(const RecordingOutput *out) {
    const OutputFormat *format = out != nullptr ? outputFormat(out->format) : nullptr;
    return format != nullptr && format->annotations && out->file != OS_INVALID_FILE;
}

void recordIndicator(RecordingOutput *out, uint16_t type, uint16_t value, double when) {
    if (!keepsEvents(out)) return;
    char text[32];
    const char *annotation = indicatorAnnotation(out, type, value, text, sizeof text);
    if (annotation != nullptr) queueAnnotation(out, annotation, when, -1, false);
}

bool recordText(RecordingOutput *out, const char *text, double when) {
    if (!keepsEvents(out)) return false;
    char clean[REC_ANNOTATION_TEXT + 1];
    return annotationText(clean, text) > 0 && queueAnnotation(out, clean, when, -1, false);
}

const char kFormatEdf[] = "European Data Format (EDF)";
const char kFormatTsv[] = "Tab Separated Values (text)";
const char kFormatEdfPlus[] = "European Data Format with annotations (EDF+)";

constexpr OutputFormat kOutputFormats[] = {
    {"edf", kFormatEdf, "EDF", ".edf", "EDF files\0*.edf\0", true, true, false, writeEdfHeader, recordEdf,
     finishEdf},
    {"tsv", kFormatTsv, "tab separated text", ".txt", "TXT/TSV files\0*.txt;*.tsv\0", false, false, false,
     writeTsvHeader, recordTsv, nullptr},
    {"edfplus", kFormatEdfPlus, "EDF+", ".edf", "EDF+ files\0*.edf\0", true, true, true, writeEdfPlusHeader,
     recordEdfPlus, finishEdfPlus},
};

static constexpr bool everyFormatHasItsRow() {
    for (const OutputFormat &f : kOutputFormats) {
        if (f.key == nullptr || f.header == nullptr || f.packet == nullptr) return false;
    }
    return true;
}
static_assert(sizeof kOutputFormats / sizeof kOutputFormats[0] == RECORDING_FORMAT_COUNT && everyFormatHasItsRow(),
              "one complete row per output format");

const OutputFormat *outputFormat(uint16_t format) {
    return format < RECORDING_FORMAT_COUNT ? &kOutputFormats[format] : nullptr;
}

void recordPacket(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int entries) {
    recordPacketAt(out, phase, channels, entries, (double)osClockUs() * 1e-6);
}

void recordPacketAt(RecordingOutput *out, uint16_t phase, const ChannelSamples *channels, int entries,
                    double arrival) {
    const OutputFormat *format = out != nullptr ? outputFormat(out->format) : nullptr;
    if (format == nullptr || out->file == OS_INVALID_FILE || channels == nullptr) return;
    out->now = arrival;
    // The header goes into an empty file, i.e. at the start of each recording.
    if (osFileSize(out->file) == 0) {
        out->plus.firstTicks = 0;
        for (int i = 0; i < entries && i < REC_MAX_SIGNALS; i++) {
            if (channels[i].samples != nullptr && channels[i].count > out->plus.firstTicks) {
                out->plus.firstTicks = channels[i].count;
            }
        }
        uint16_t n = format->header(out);
        out->channels = n;
        if (n == 0) out->writeFailure |= 1;
        out->expectedPhase = 0;
        out->edf.records = 0;
        std::memset(out->edf.fill, 0, sizeof out->edf.fill);
    }
    int count = out->channels < entries ? out->channels : entries;
    if (count > REC_MAX_SIGNALS) count = REC_MAX_SIGNALS;
    if (count <= 0) return;

    // A format that keeps events goes on through a gap and marks it itself.
    if (phase != out->expectedPhase && !format->annotations) {
        std::printf("!Sample stream is not continuous (phase=%u, exp=%u)\n", (unsigned)phase,
                    (unsigned)out->expectedPhase);
        std::fflush(stdout);
        out->writeFailure = 1;
    }
    uint16_t most = 0;
    for (int i = 0; i < count; i++) {
        if (channels[i].count > most) most = channels[i].count;
    }
    out->expectedPhase = (uint16_t)(phase + most);

    if (out->dataStopped) return;
    format->packet(out, phase, channels, count);
}

bool completeEdfHeader(RecordingOutput *out, void *window) {
    if (out->file == OS_INVALID_FILE) return true;
    const OutputFormat *format = outputFormat(out->format);
    bool ok = format == nullptr || format->finish == nullptr || format->finish(out, window);
    osFileClose(out->file);
    out->file = OS_INVALID_FILE;
    out->channels = 0;
    return ok;
}
