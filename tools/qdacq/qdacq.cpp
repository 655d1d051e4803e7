// qdacq - acquires samples from a Quorvane device through the driver's
// public interface, the way a host application does.
//
// It loads the driver library at run time (QuorvaneDrv64.dll, QuorvaneDrv.dll
// or libQuorvaneDrv.so), opens a context for a device model, applies
// parameter settings from text, starts a measurement (driven by the driver's
// engine thread, or by its own polling loop), prints indicators and user
// messages as they arrive, writes the samples to a CSV file or prints a
// summary line per second, and stops cleanly after a time or on Ctrl-C.
// With --simulate it loads the simulated transceiver library in place of the
// vendor's D2XX library and puts a simulated device behind it (for a
// Bluetooth LE model also the simulator's Bluetooth LE stand-in, and the
// device is a simulated BLE device). Run
// "qdacq --help" for the options.
//
// A host program: it sees only the public header and the system.
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QuorvaneDrv.h"
#include "API/driver/ui/recorder.h"   // the viewer's delay, shared with the recorder window
#include "link/link_kinds.h"
#include "tools/common/driver_binding.h"
#include "tools/common/host.h"
#include "tools/qdacq/recording_sink.h"
#include "tools/qdacq/settings.h"
#include "tools/qdacq/sim_api.h"
#include "tools/qdacq/stream.h"

namespace {

// Exit status.
enum { EXIT_CLEAN = 0, EXIT_ENDED = 1, EXIT_USAGE = 2, EXIT_SETUP = 3, EXIT_LOSSES = 4, EXIT_RECORDING = 5 };

const char kDefaultSimModel[] = "Quorvane Halvex-4 USB";

struct Options {
    bool list = false;
    bool params = false;
    bool poll = false;
    bool test = false;
    bool background = false;
    bool simulate = false;
    bool view = false;           // EDFbrowser on the growing EDF file
    bool markers = false;        // lines of standard input become markers
    bool times = false;          // the CSV's time column
    double seconds = 0;          // 0: until Ctrl-C
    std::string model;
    std::vector<std::string> settings;
    std::string csv;
    // Recording into a file of an output format: the file by format index
    // (--edf FILE, --tsv FILE: "--" and the format's key).
    std::string record[RECORDING_FORMAT_COUNT];
    std::string client, session;
    std::string driver;
    std::string sharedDir;
    std::string simLibrary;
    std::string find;            // --find: the device id to search for
    bool findGiven = false;
    std::string simSignal;       // empty: the simulator's own signals
    int simAmplitude = 1000;
    int simOffset = 0;
    double simFrequency = 1.0;
    std::vector<SimFault> faults;
};

// What the callbacks need; they run on whichever thread runs the engine.
struct Run {
    DriverApi api;
    SampleStream stream;
    int context = -1;
    double start = 0;
    std::mutex print;
    std::string lastError;       // last user message that was an error
    int linkState = -1;
    std::atomic<bool> markersOpen{false};   // markers are taken (from the start to the stop)
};
Run g_run;

void say(const std::string &line) {
    std::lock_guard<std::mutex> guard(g_run.print);
    printf("%s\n", line.c_str());
    fflush(stdout);
}

double elapsed() { return host::seconds() - g_run.start; }

void sayAt(const std::string &line) {
    char stamp[32];
    snprintf(stamp, sizeof stamp, "[%6.2f s] ", g_run.start > 0 ? elapsed() : 0.0);
    say(stamp + line);
}

const char *linkText(int v) {
    switch (v) {
    case QD_LINK_STATE_DISCONNECTED: return "disconnected";
    case QD_LINK_STATE_CONNECTED: return "connected";
    case QD_LINK_STATE_ERROR: return "link error";
    case QD_LINK_STATE_CONNECTING: return "connecting";
    default: return "unknown";
    }
}

const char *batteryText(int v) {
    switch (v) {
    case 0: return "empty";
    case 1: return "low";
    case 2: return "good";
    case 3: return "full";
    default: return "unknown";
    }
}

const char *signalText(int v) {
    switch (v) {
    case 0: return "good";
    case 1: return "fair";
    case 2: return "overflow";
    case 3: return "fault";
    default: return "unknown";
    }
}

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

int QDCALL onSamples(uint16_t context, uint16_t phase, uint16_t, ChannelSamples *channels) {
    if ((int)context == g_run.context && channels) {
        double now = host::seconds();
        g_run.stream.packet(phase, channels, now);
        recordingPacket(phase, channels, now);
    }
    return 0;
}

void QDCALL onIndicator(uint16_t context, uint16_t type, uint16_t value) {
    if ((int)context == g_run.context) {
        g_run.stream.indicator(type, value);
        recordingIndicator(type, value, host::seconds());
    }
    char line[160];
    switch (type) {
    case QD_IND_LINK:
        g_run.linkState = value;
        snprintf(line, sizeof line, "(%u) link: %s (%u)", context, linkText(value), value);
        break;
    case QD_IND_BATTERY:
        snprintf(line, sizeof line, "(%u) battery: %s (%u)", context, batteryText(value), value);
        break;
    case QD_IND_PAUSE:
        snprintf(line, sizeof line, "(%u) pause: %s", context, value ? "paused" : "running");
        break;
    case QD_IND_SIGNAL: {
        int k = value >> 8;
        int state = value & 0xFF;
        std::string who = "SUM (common voltage)";
        if (k > 0) {
            who = "channel " + (k - 1 < g_run.stream.channels ? g_run.stream.ch[k - 1].name : std::to_string(k - 1));
        }
        snprintf(line, sizeof line, "(%u) signal %s: %s (%d)", context, who.c_str(), signalText(state), state);
        break;
    }
    case QD_IND_MESSAGE:
        snprintf(line, sizeof line, "(%u) user message %u", context, value);
        break;
    default:
        snprintf(line, sizeof line, "(%u) indicator %u = %u", context, type, value);
        break;
    }
    sayAt(line);
}

void QDCALL onMessage(uint16_t context, const char *text) {
    if (!text) return;
    if ((int)context == g_run.context) recordingText(text, host::seconds());
    bool error = text[0] == '!';
    if (error) g_run.lastError = text + 1;
    sayAt("(" + std::to_string(context) + ") " + (error ? "error: " : "message: ") + (error ? text + 1 : text));
}

// ---------------------------------------------------------------------------
// Markers from standard input
// ---------------------------------------------------------------------------

const char kEmptyMarker[] = "Marker";   // the text of an empty line
const size_t MARKER_LINE_MAX = 4096;    // bytes read of one line; the rest is passed over

// One line of standard input: a marker at the sample instant it arrived,
// with the rules of --help.
void markerLine(const char *line, bool longer, double when) {
    char text[REC_ANNOTATION_TEXT + 1];
    bool cut = false;
    size_t n = annotationText(text, line, &cut);
    if (n == 0) std::snprintf(text, sizeof text, "%s", kEmptyMarker);
    if (!g_run.markersOpen) {
        fprintf(stderr, "qdacq: marker after the stop, not recorded: %s\n", text);
        return;
    }
    if (longer || cut) {
        fprintf(stderr, "qdacq: marker cut to %u bytes: %s\n", (unsigned)REC_ANNOTATION_TEXT, text);
    }
    g_run.stream.marker(text, when);
    if (recordingKeepsEvents() && !recordingText(text, when)) {
        fprintf(stderr, "qdacq: marker not recorded (more markers came than the file carries): %s\n", text);
    }
    sayAt(std::string("marker: ") + text);
}

// Reads standard input line by line until its end (a thread of its own).
void readMarkers() {
    std::vector<char> line(MARKER_LINE_MAX + 1);
    while (fgets(line.data(), (int)line.size(), stdin)) {
        double when = host::seconds();
        size_t n = std::strlen(line.data());
        bool longer = n > 0 && line[n - 1] != '\n' && !feof(stdin);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        if (longer) {
            int c;
            while ((c = fgetc(stdin)) != EOF && c != '\n') {
            }
        }
        markerLine(line.data(), longer, when);
    }
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

void usage(FILE *out) {
    fprintf(out,
            "usage: qdacq [options]\n"
            "  --list                 list the device models and exit\n"
            "  --find ID              search for a device with QdFindFirstAvailDev (ID a serial number,\n"
            "                         address or name; \"\" for the driver's own names) over the link of\n"
            "                         --model, or over every link; print what was found and exit\n"
            "  --model NAME           the device model (with --simulate the default is \"%s\")\n"
            "  --set \"NAME[:CH]=VALUE\" set a parameter through QdStr2Param before the start; CH is a channel\n"
            "                         number from 0 or a letter; without it a channel parameter is set on\n"
            "                         every channel; repeat for more, applied in order\n"
            "  --params               print the model's parameters (after the settings) and exit\n"
            "  --seconds N            stop after N seconds (default: run until Ctrl-C)\n"
            "  --poll                 run the protocol engine in this program's loop instead of the\n"
            "                         driver's engine thread\n"
            "  --test                 test measurement instead of a measurement\n"
            "  --background           let the driver connect in the background\n"
            "  --csv FILE             write every sample to FILE: phase, channel, value in physical units\n"
            "                         (without it a summary line is printed every second); a marker is a\n"
            "                         line \"phase,marker,\"TEXT\"\" (quotes in TEXT doubled)\n"
            "  --time                 with --csv: a fourth column, the sample's time in seconds since the\n"
            "                         start on the host's clock (from the fit of the device's sample counter\n"
            "                         to the packets' arrivals); the fitted clock ratio is printed at the end\n"
            "  --edf FILE             record into FILE in European Data Format (EDF), as the driver's\n"
            "                         recorder does; the header gets the number of records at the end\n"
            "  --view                 after 4 s of an --edf recording, start EDFbrowser (edfbrowser --stream\n"
            "                         FILE, found on PATH) on the growing file\n"
            "  --tsv FILE             record into FILE as tab separated text\n"
            "  --edfplus FILE         record into FILE as EDF+ with an annotation signal: lost-sample gaps\n"
            "                         (BAD_ACQ_SKIP, filled with 0), pauses, link events, overflows,\n"
            "                         artifacts, user messages and markers; the recording goes on through gaps\n"
            "  --markers              each line of standard input during the measurement is a marker at\n"
            "                         the sample instant it arrived (EDF+ annotation, CSV line): UTF-8, cut\n"
            "                         to %u bytes; an empty line is \"%s\"; control characters become\n"
            "                         spaces, bytes that are no UTF-8 \"?\"; a line before the first sample\n"
            "                         lies on it; a line after the stop is not recorded (said on stderr)\n"
            "  --client TEXT          the recording's client (EDF patient identification, up to 80 characters)\n"
            "  --session TEXT         the recording's session info (EDF recording identification)\n"
            "  --driver PATH          the driver library (default: %s beside this program or in\n"
            "                         the build folder above it)\n"
            "  --shared-dir DIR       set ALLUSERSPROFILE to DIR, the folder of the driver log\n"
            "  --simulate             use the built-in simulated device instead of real transceivers\n"
            "  --sim-library PATH     the simulator library (default: %s)\n"
            "  --sim-signal KIND      the simulated signal of every channel: sine, ramp, square or const\n"
            "  --sim-amplitude N      its amplitude in device units (default 1000; ramp: step per sample)\n"
            "  --sim-frequency HZ     its frequency (default 1)\n"
            "  --sim-offset N         its offset in device units (default 0)\n"
            "  --sim-fault FAULT      a fault to inject, repeatable:\n%s"
            "Exit status: 0 stopped cleanly without losses, 4 stopped cleanly with lost samples,\n"
            "1 the measurement did not start, the driver ended it or reported an error, 2 bad command\n"
            "line or setting, "
            "3 the driver or the simulator could not be loaded, 5 the recording, the CSV file or the\n"
            "standard output failed (it could not be written, or the sample stream broke).\n",
            kDefaultSimModel, (unsigned)REC_ANNOTATION_TEXT, kEmptyMarker, driverFileName(), simDefaultPath().c_str(),
            simFaultHelp());
}

// Adds the fault of a --sim-fault; false after saying what is wrong.
bool applyFaultOption(const char *v, Options *o) {
    SimFault f;
    std::string why;
    if (!simFaultParse(v, &f, &why)) {
        fprintf(stderr, "qdacq: %s\n", why.c_str());
        return false;
    }
    o->faults.push_back(f);
    return true;
}

// Options without a value.
const struct {
    const char *name;
    bool Options::*flag;
} kFlagOptions[] = {
    {"--list", &Options::list}, {"--params", &Options::params},         {"--poll", &Options::poll},
    {"--test", &Options::test}, {"--background", &Options::background}, {"--simulate", &Options::simulate},
    {"--view", &Options::view}, {"--markers", &Options::markers}, {"--time", &Options::times},
};

// Options whose value is kept as given: the option, what it needs, where it
// goes.
const struct {
    const char *name;
    const char *needs;
    std::string Options::*text;
} kTextOptions[] = {
    {"--model", "a model name", &Options::model},   {"--csv", "a file name", &Options::csv},
    {"--client", "a text", &Options::client},       {"--session", "a text", &Options::session},
    {"--driver", "a path", &Options::driver},       {"--shared-dir", "a folder", &Options::sharedDir},
    {"--sim-library", "a path", &Options::simLibrary}, {"--find", "a device id (\"\" for any)", &Options::find},
};

// Options whose value is read and checked: the option and what it needs.
const struct {
    const char *name;
    const char *needs;
} kCheckedOptions[] = {
    {"--set", "NAME[:CHANNEL]=VALUE"},
    {"--seconds", "a number of seconds"},
    {"--sim-signal", "sine, ramp, square or const"},
    {"--sim-amplitude", "a number of device units"},
    {"--sim-offset", "a number of device units"},
    {"--sim-frequency", "a frequency in Hz"},
    {"--sim-fault", "a fault"},
};

// The number options: the option, what it needs, its range and where it
// goes (a year of seconds at most; sample values of 16 bits).
const struct {
    const char *name;
    const char *needs;
    host::NumberRange range;
    double Options::*value;
} kNumberOptions[] = {
    {"--seconds", "a number of seconds", {0.001, 31536000, false}, &Options::seconds},
    {"--sim-amplitude", "a number of device units", {-32768, 32767, false}, nullptr},
    {"--sim-offset", "a number of device units", {-32768, 32767, false}, nullptr},
    {"--sim-frequency", "a frequency in Hz", {0, 100000, false}, &Options::simFrequency},
};

// Takes the value of one of kCheckedOptions; false after saying what is wrong.
bool applyCheckedOption(const std::string &a, const char *v, Options *o) {
    for (const auto &n : kNumberOptions) {
        if (a != n.name) continue;
        double number = 0;
        if (!host::numberOption("qdacq", n.name, n.needs, v, n.range, &number)) return false;
        if (n.value) {
            o->*n.value = number;
        } else {
            (a == "--sim-amplitude" ? o->simAmplitude : o->simOffset) = (int)number;
        }
        return true;
    }
    if (a == "--set") {
        o->settings.push_back(v);
    } else if (a == "--sim-signal") {
        o->simSignal = v;
        if (o->simSignal != "sine" && o->simSignal != "ramp" && o->simSignal != "square" && o->simSignal != "const") {
            fprintf(stderr, "qdacq: --sim-signal is sine, ramp, square or const, not \"%s\"\n", v);
            return false;
        }
    } else {
        return applyFaultOption(v, o);
    }
    return true;
}

// Takes the option at argv[*i] (and its value, moving *i past it); returns
// -1 to go on, else an exit status.
int parseOption(int argc, char **argv, int *i, Options *o) {
    std::string a = argv[*i];
    if (a == "--help" || a == "-h") {
        usage(stdout);
        return EXIT_CLEAN;
    }
    for (const auto &f : kFlagOptions) {
        if (a == f.name) {
            o->*f.flag = true;
            return -1;
        }
    }
    const char *needs = nullptr;
    std::string Options::*text = nullptr;
    for (const auto &t : kTextOptions) {
        if (a == t.name) {
            needs = t.needs;
            text = t.text;
        }
    }
    std::string *recordPath = nullptr;
    for (int f = 0; f < RECORDING_FORMAT_COUNT; ++f) {
        if (a == std::string("--") + kOutputFormats[f].key) {
            needs = "a file name";
            recordPath = &o->record[f];
        }
    }
    for (const auto &c : kCheckedOptions) {
        if (a == c.name) needs = c.needs;
    }
    if (!needs) {
        fprintf(stderr, "qdacq: unknown option \"%s\" (see qdacq --help)\n", a.c_str());
        return EXIT_USAGE;
    }
    if (*i + 1 >= argc) {
        fprintf(stderr, "qdacq: %s needs %s\n", a.c_str(), needs);
        return EXIT_USAGE;
    }
    const char *v = argv[++*i];
    if (text) {
        o->*text = v;
        if (text == &Options::find) o->findGiven = true;
        return -1;
    }
    if (recordPath) {
        *recordPath = v;
        return -1;
    }
    return applyCheckedOption(a, v, o) ? -1 : EXIT_USAGE;
}

// The output format of the recording asked for, -1 for none; *count how
// many formats were asked for.
int recordFormat(const Options &o, int *count = nullptr) {
    int format = -1, n = 0;
    for (int f = 0; f < RECORDING_FORMAT_COUNT; ++f) {
        if (o.record[f].empty()) continue;
        if (format < 0) format = f;
        ++n;
    }
    if (count) *count = n;
    return format;
}

// The recording options as a list for messages: "--edf, --tsv or --edfplus".
std::string recordOptionList() {
    std::string list;
    for (int f = 0; f < RECORDING_FORMAT_COUNT; ++f) {
        if (f > 0) list += f + 1 < RECORDING_FORMAT_COUNT ? ", " : " or ";
        list += std::string("--") + kOutputFormats[f].key;
    }
    return list;
}

// Options that do not go together; -1 when they do, else EXIT_USAGE.
int checkOptions(const Options *o) {
    int formats = 0;
    int format = recordFormat(*o, &formats);
    if (formats > 1) {
        fprintf(stderr, "qdacq: record into one file: one of %s\n", recordOptionList().c_str());
        return EXIT_USAGE;
    }
    bool recording = format >= 0;
    if (!recording && (!o->client.empty() || !o->session.empty())) {
        fprintf(stderr, "qdacq: --client and --session describe a recording: give %s with a file\n",
                recordOptionList().c_str());
        return EXIT_USAGE;
    }
    if (o->view && (!recording || !kOutputFormats[format].liveView)) {
        fprintf(stderr, "qdacq: --view shows an EDF recording in EDFbrowser: give --edf FILE\n");
        return EXIT_USAGE;
    }
    if (o->times && o->csv.empty()) {
        fprintf(stderr, "qdacq: --time is a column of the CSV file: give --csv FILE\n");
        return EXIT_USAGE;
    }
    if (recording && o->test) {
        fprintf(stderr, "qdacq: a test measurement cannot be recorded (its channels do not keep their rates)\n");
        return EXIT_USAGE;
    }
    bool simOnly = !o->simSignal.empty() || !o->faults.empty() || !o->simLibrary.empty();
    if (simOnly && !o->simulate) {
        fprintf(stderr, "qdacq: the --sim-* options need --simulate\n");
        return EXIT_USAGE;
    }
    return -1;
}

// Parses the command line; returns -1 to go on, else an exit status.
int parseOptions(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        int rc = parseOption(argc, argv, &i, o);
        if (rc >= 0) return rc;
    }
    return checkOptions(o);
}

// ---------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------

void printLogErrors(const std::string &logPath, long from) {
    for (const std::string &line : logErrorsSince(logPath, from)) say("  driver log: " + line);
}

// Puts a simulated device of the context's model where its link looks for
// it: behind a new transceiver, in Bluetooth or IrDA range, or as a
// Bluetooth LE device (named like the default device id; the simulator's
// Bluetooth LE stand-in is loaded first so that the driver's link finds it).
int simulateDevice(SimApi *sim, const Options &o, const std::string &model, int linkType) {
    sim->Reset();
    std::string why;
    if (simNeedsBleStandIn(linkType) && !simLoadBle(sim, &why)) {
        fprintf(stderr, "qdacq: %s\n", why.c_str());
        return -1;
    }
    int tx = simAddPort(*sim, linkType, nullptr);
    if (tx < 0) return -1;
    std::vector<FtSimSignal> signals;
    if (!o.simSignal.empty()) {
        FtSimSignal s;
        s.kind = o.simSignal == "sine" ? 0 : o.simSignal == "ramp" ? 1 : o.simSignal == "const" ? 2 : 3;
        s.amplitude = o.simAmplitude;
        s.offset = o.simOffset;
        s.frequency = (float)o.simFrequency;
        signals.assign(6, s);
    }
    return sim->AttachNewDeviceEx(tx, model.c_str(), nullptr, signals.empty() ? nullptr : signals.data(),
                                  (int)signals.size());
}

std::string format(const char *fmt, double v) {
    char text[48];
    snprintf(text, sizeof text, fmt, v);
    return text;
}

// "A 250 [-999.9, 999.9] uV" for each channel that took samples.
std::string tallyLine(const ChannelTally *t, bool withLost) {
    std::string line;
    uint64_t lost = 0;
    const SampleStream &s = g_run.stream;
    for (int c = 0; c < s.channels; ++c) {
        if (!s.ch[c].on) continue;
        if (!line.empty()) line += " | ";
        line += s.ch[c].name + " " + std::to_string((unsigned long long)t[c].count);
        if (t[c].count > 0) {
            line += " [" + format("%.4g", s.physical(c, t[c].min)) + ", " + format("%.4g", s.physical(c, t[c].max)) +
                    "]";
            if (!s.ch[c].unit.empty()) line += " " + s.ch[c].unit;
        }
        lost += t[c].lost;
    }
    if (withLost) line += " | lost " + std::to_string((unsigned long long)lost);
    return line;
}

// What one run keeps between its steps.
struct Session {
    explicit Session(const Options &options) : o(options), faults(options.faults) {}
    const Options &o;
    SimApi sim;
    std::string logPath;         // the driver log, "" when the driver keeps none
    bool haveLog = false;
    std::string model;
    int16_t ctx = -1;
    int tx = -1;                 // the simulated transceiver or device slot
    int link = -1;               // the model's link type
    bool poll = false;
    bool recording = false;
    bool recordingBroke = false;
    bool viewerTried = false;
    std::vector<SimFault> faults;
};

// Closes the context and unloads the libraries on every way out once the
// driver is loaded.
struct Cleanup {
    SimApi *sim;
    ~Cleanup() {
        if (g_run.context >= 0) g_run.api.CloseDevContext((uint16_t)g_run.context);
        g_run.context = -1;
        driverUnload(&g_run.api);
        simUnload(sim);
    }
};

// The shared folder, the interrupt key, the simulator and the driver.
int loadLibraries(Session *s) {
    const Options &o = s->o;
    if (!o.sharedDir.empty() && !host::setSharedDir(o.sharedDir)) {
        fprintf(stderr, "qdacq: cannot set ALLUSERSPROFILE to %s\n", o.sharedDir.c_str());
        return EXIT_SETUP;
    }
    osInterruptCatch();
    // The driver writes its banner when it opens its log at load: a log that
    // stays as it was is one the driver could not open (a user without write
    // access to the shared folder), though it may exist.
    const std::string logPath = host::driverLogPath();
    const long logBefore = host::fileExists(logPath) ? logSize(logPath) : -1;
    std::string why;
    if (o.simulate) {
        // Loaded first: the driver's D2XX dependency is then the simulator.
        if (!simLoad(&s->sim, o.simLibrary, &why)) {
            fprintf(stderr, "qdacq: %s\n", why.c_str());
            return EXIT_SETUP;
        }
        say("simulator: " + s->sim.path);
    }
    if (!driverLoad(&g_run.api, o.driver, QDACQ_HINTS, &why)) {
        fprintf(stderr, "qdacq: %s\n", why.c_str());
        simUnload(&s->sim);
        return EXIT_SETUP;
    }
    s->haveLog = host::fileExists(logPath) && logSize(logPath) != logBefore;
    s->logPath = s->haveLog ? logPath : std::string();
    return -1;
}

// Says which driver and log are used and opens a context for the model.
int openContext(Session *s) {
    const DriverApi &api = g_run.api;
    say("driver: " + api.path);
    if (s->haveLog) {
        say("driver log: " + s->logPath);
    } else {
        say("driver log: none (the driver cannot write " + host::driverLogPath() +
            "; give a writable folder with --shared-dir DIR or ALLUSERSPROFILE)");
    }
    s->model = s->o.model.empty() && s->o.simulate ? std::string(kDefaultSimModel) : s->o.model;
    const std::string &model = s->model;
    if (model.empty()) {
        fprintf(stderr, "qdacq: name the device model with --model; the models are:\n");
        printModels(api, stderr);
        return EXIT_USAGE;
    }
    long from = logSize(s->logPath);
    int16_t ctx = api.OpenDevContext(model.c_str());
    if (ctx < 0) {
        const char *meaning = ctx == -2   ? "no such device model"
                              : ctx == -1 ? "all 10 device contexts are in use"
                                          : "the context could not be selected";
        fprintf(stderr, "qdacq: the driver refused the model \"%s\": QdOpenDevContext %d (%s)\n", model.c_str(), ctx,
                meaning);
        for (const std::string &line : logErrorsSince(s->logPath, from)) {
            fprintf(stderr, "  driver log: %s\n", line.c_str());
        }
        if (ctx == -2) {
            fprintf(stderr, "The models are (names are exact, letter case included):\n");
            printModels(api, stderr);
        }
        return EXIT_USAGE;
    }
    g_run.context = s->ctx = ctx;
    return -1;
}

// The simulated device (USB, Bluetooth, IrDA and Bluetooth LE models), the
// settings, and --params.
int prepareDevice(Session *s) {
    const DriverApi &api = g_run.api;
    QdParamValue link;
    memset(&link, 0, sizeof link);
    if (api.GetParam(QD_PAR_LINK_TYPE, 0, &link) == QD_GETPARAM_OK) s->link = (int)link.code;
    if (s->o.simulate) {
        s->tx = simulateDevice(&s->sim, s->o, s->model, s->link);
        if (s->sim.bleLibrary) say("simulator: Bluetooth LE stand-in " + s->sim.blePath);
        if (s->tx < 0) {
            fprintf(stderr, "qdacq: the simulator has no device of the model \"%s\"\n", s->model.c_str());
            return EXIT_SETUP;
        }
    }
    std::string why;
    for (const std::string &setting : s->o.settings) {
        if (!applySetting(api, s->logPath, setting, &why)) {
            fprintf(stderr, "qdacq: --set \"%s\": %s\n", setting.c_str(), why.c_str());
            return EXIT_USAGE;
        }
    }
    if (s->o.params) {
        printf("Model: %s\n", s->model.c_str());
        printParameters(api, stdout);
        return EXIT_CLEAN;
    }
    return -1;
}

// Says what each channel that is on measures.
void describeChannels(const Session &s) {
    const SampleStream &stream = g_run.stream;
    say("model: " + s.model + (s.o.simulate ? " (simulated)" : ""));
    bool anyOn = false;
    for (int c = 0; c < stream.channels; ++c) {
        const StreamChannel &ch = stream.ch[c];
        if (!ch.on) continue;
        anyOn = true;
        say("  channel " + std::to_string(c) + " (" + ch.name + "): " + format("%g", ch.rate) + " sps, range " +
            format("%g", ch.minimum) + " to " + format("%g", ch.range) + (ch.unit.empty() ? "" : " " + ch.unit));
    }
    if (!anyOn) say("  no channel is on (enable channels with --set \"Channel enable=1\")");
}

// The sample stream, the CSV file and the recording.
int prepareOutputs(Session *s) {
    const Options &o = s->o;
    const DriverApi &api = g_run.api;
    SampleStream &stream = g_run.stream;
    stream.setup(api, contextChannels(api));
    describeChannels(*s);
    std::string why;
    if (!o.csv.empty() && !stream.openCsv(o.csv, &why, o.times)) {
        fprintf(stderr, "qdacq: %s\n", why.c_str());
        return EXIT_SETUP;
    }
    int format = recordFormat(o);
    s->recording = format >= 0;
    if (s->recording) {
        const std::string &path = o.record[format];
        if (!recordingStart(api, path, (uint16_t)format, o.client, o.session, &why)) {
            fprintf(stderr, "qdacq: %s\n", why.c_str());
            stream.closeCsv();
            return EXIT_SETUP;
        }
        say("recording into " + path);
    }
    return -1;
}

// Ends the recording (an EDF file gets its record count) and says what the
// file holds; on every way out once the recording has begun.
void finishRecording(Session *s) {
    if (!s->recording) return;
    std::string summary;
    bool completed = recordingFinish(&summary);
    say(summary);
    if (!completed) s->recordingBroke = true;
}

// What a start that failed means, with the driver's log lines.
void explainFailedStart(const Session &s, int32_t started, long from) {
    say("qdacq: the measurement did not start: QdStartMeasurement " + std::to_string(started) + " (" +
        startResultText(started) + ")");
    printLogErrors(s.logPath, from);
    if (s.o.simulate && simCountsLinkCalls(s.link) && s.sim.CallCount(FTSIM_CALL_ALL) == 0) {
        say("  the driver did not call the simulator library: it uses another D2XX library");
    } else if (!s.o.simulate && started == QD_MEAS_LINK_NOT_OPENED) {
        const LinkKind *kind = linkKind((uint32_t)s.link);
        if (kind) say(std::string("  ") + kind->noAnswerHint);
    }
    if (s.haveLog) say("  details in the driver log " + s.logPath);
}

// Installs the callbacks, arms the faults and starts the measurement.
int startMeasurement(Session *s) {
    const Options &o = s->o;
    const DriverApi &api = g_run.api;
    api.SetCallbacks(onSamples, onIndicator, onMessage);
    if (o.simulate) simFaultsArm(s->sim, s->tx, &s->faults, say);

    s->poll = o.poll;
    uint16_t flags = (uint16_t)((o.test ? QD_START_TEST : 0) | (s->poll ? 0 : QD_START_ENGINE_THREAD) |
                                (o.background ? QD_START_BACKGROUND : 0));
    long from = logSize(s->logPath);
    g_run.start = g_run.stream.start = host::seconds();
    int32_t started = api.StartMeasurement((uint16_t)s->ctx, flags);
    if (started == QD_MEAS_NO_ENGINE_THREAD) {
        say("the driver's engine thread could not be created: qdacq runs the engine itself");
        s->poll = true;
    } else if (started != QD_MEAS_STARTED && started != QD_MEAS_CONNECTING) {
        explainFailedStart(*s, started, from);
        g_run.stream.closeCsv();
        finishRecording(s);
        return EXIT_ENDED;
    }
    sayAt(std::string(o.test ? "test measurement" : "measurement") + " started (" +
          (s->poll ? "qdacq polls the engine" : "driver's engine thread") + ")");
    if (o.markers) {
        g_run.markersOpen = true;
        // Blocked in its read at the end of the program: it is left there.
        std::thread(readMarkers).detach();
    }
    return -1;
}

// Prints the summary line of the second that ended, once it has.
void summariseSecond(double t, double *nextSummary) {
    if (t < *nextSummary) return;
    ChannelTally interval[STREAM_CHANNELS];
    g_run.stream.takeInterval(interval);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "[%3.0f s] ", *nextSummary);
    say(stamp + tallyLine(interval, true));
    *nextSummary += 1.0;
}

// Starts EDFbrowser on the growing EDF file, as the recorder window does
// after 4 s; without it the recording goes on.
void startViewer(const std::string &file) {
    const char *argv[] = {"edfbrowser", "--stream", file.c_str(), nullptr};
    std::string command = "edfbrowser --stream \"" + file + "\"";
    if (osStartProcess("edfbrowser", argv, command.c_str())) {
        sayAt("live view: edfbrowser --stream " + file);
    } else {
        sayAt("live view: EDFbrowser (edfbrowser) was not found on PATH; recording on without it "
              "(Debian package edfbrowser)");
    }
}

// Measures until the time is up, Ctrl-C, a broken recording or the driver's
// own end; true when the driver ended the measurement.
bool measure(Session *s) {
    const Options &o = s->o;
    const DriverApi &api = g_run.api;
    double nextSummary = 1.0;
    for (;;) {
        if (s->poll) api.ProtocolEngine();
        double t = elapsed();
        if (o.simulate) simFaultsRun(s->sim, s->tx, &s->faults, t, sayAt);
        if (o.csv.empty()) summariseSecond(t, &nextSummary);
        if (o.view && !s->viewerTried && t >= RECORDER_VIEWER_DELAY_S) {
            s->viewerTried = true;
            startViewer(o.record[recordFormat(o)]);
        }
        if (api.ComState((uint16_t)s->ctx) == QD_COM_IDLE) return true;
        std::string failure;
        if (s->recording && recordingFailed(&failure)) {
            sayAt("recording stopped: " + failure);
            s->recordingBroke = true;
            return false;
        }
        if (osInterruptCount() > 0) {
            sayAt("Ctrl-C: stopping");
            return false;
        }
        if (o.seconds > 0 && t >= o.seconds) return false;
        host::sleepMs(s->poll ? 2 : 10);
    }
}

// Asks for the stop, then waits until the driver says idle (the driver's own
// timers bound the stop: reply time-out, final wait). Returns the exit status
// so far; *stopState says how it ended.
int stopMeasurement(Session *s, std::string *stopState) {
    const DriverApi &api = g_run.api;
    uint16_t ctx = (uint16_t)s->ctx;
    double stopAt = host::seconds();
    int32_t stopping = api.StopMeasurement(ctx);
    bool idle = false;
    int seenInterrupts = osInterruptCount();
    while (host::seconds() - stopAt < 5.0) {
        if (s->poll) api.ProtocolEngine();
        if (api.ComState(ctx) == QD_COM_IDLE) {
            idle = true;
            break;
        }
        if (osInterruptCount() > seenInterrupts + 1) break;   // pressed twice more: give up waiting
        host::sleepMs(2);
    }
    double took = (host::seconds() - stopAt) * 1000.0;
    uint32_t engine = api.ProtocolEngine();
    char text[200];
    if (idle) {
        snprintf(text, sizeof text, "idle (QdStopMeasurement %d, QdComState 0 after %.0f ms, QdProtocolEngine %u)",
                 stopping, took, engine);
    } else {
        snprintf(text, sizeof text, "not idle after %.0f ms (QdStopMeasurement %d); the context was closed", took,
                 stopping);
    }
    *stopState = text;
    if (!g_run.lastError.empty()) *stopState += "; last error: " + g_run.lastError;
    return idle ? EXIT_CLEAN : EXIT_ENDED;
}

// Closes the context and the files, prints the totals and gives the exit
// status.
int finish(Session *s, const std::string &stopState, int result) {
    SampleStream &stream = g_run.stream;
    g_run.api.CloseDevContext((uint16_t)s->ctx);
    g_run.context = -1;
    bool csvWritten = stream.closeCsv();
    finishRecording(s);

    ChannelTally totals[STREAM_CHANNELS];
    uint64_t gaps = 0, lostTicks = 0, packets = 0;
    stream.totals(totals, &gaps, &lostTicks, &packets);
    uint64_t total = 0, lost = 0;
    for (int c = 0; c < stream.channels; ++c) {
        total += totals[c].count;
        lost += totals[c].lost;
    }
    if (!s->o.csv.empty() && csvWritten) {
        say("samples written to " + s->o.csv);
    } else if (!s->o.csv.empty()) {
        fprintf(stderr, "qdacq: the CSV file %s could not be written in full (%s)\n", s->o.csv.c_str(),
                "a write or its close failed, for example on a full disk");
    }
    double ppm = 0, span = 0;
    if (s->o.times && stream.clockRatio(&ppm, &span)) {
        char line[160];
        snprintf(line, sizeof line, "clock: the device's clock runs %+.1f ppm against the host's (ratio %.7f, "
                 "fitted over %.1f s of samples)", ppm, 1.0 + ppm * 1e-6, span);
        say(line);
    }
    say("per channel: " + tallyLine(totals, false));
    char final[512];
    snprintf(final, sizeof final, "total: %llu samples in %.1f s, %llu lost (%llu gaps), stop state: %s",
             (unsigned long long)total, elapsed(), (unsigned long long)lost, (unsigned long long)gaps,
             stopState.c_str());
    say(final);
    if (result == EXIT_CLEAN && !g_run.lastError.empty()) result = EXIT_ENDED;
    if (result == EXIT_CLEAN && lost > 0) result = EXIT_LOSSES;
    if ((s->recordingBroke || !csvWritten) && result != EXIT_ENDED) result = EXIT_RECORDING;
    return result;
}

// --find: the driver's device search over the link of --model (or every
// link) until it ends; 0 found, 1 not found or refused.
int findDevice(const Options &o) {
    const DriverApi &api = g_run.api;
    uint16_t flags = 7;  // every link type
    if (!o.model.empty()) {
        int16_t ctx = api.OpenDevContext(o.model.c_str());
        QdParamValue v;
        std::memset(&v, 0, sizeof v);
        if (ctx < 0 || api.GetParam(QD_PAR_LINK_TYPE, 0, &v) != QD_GETPARAM_OK) {
            fprintf(stderr, "qdacq: no such device model \"%s\" (see qdacq --list)\n", o.model.c_str());
            return EXIT_USAGE;
        }
        flags = (uint16_t)(1u << v.code);
        api.CloseDevContext((uint16_t)ctx);
    }
    DiscoveryResult result;
    std::memset(&result, 0, sizeof result);
    say("searching for \"" + o.find + "\" (QdFindFirstAvailDev flags 0x" + std::to_string(flags) + ")");
    if (api.FindFirstAvailDev(o.find.empty() ? nullptr : o.find.c_str(), (uint16_t)(flags | QD_START_ENGINE_THREAD),
                              &result) != 0) {
        fprintf(stderr, "qdacq: the driver refused the search\n");
        return EXIT_ENDED;
    }
    // The driver's own time-outs end the search; 60 s and Ctrl-C bound the wait.
    for (int waited = 0; result.status == QD_DISC_SEARCHING && waited < 6000 && osInterruptCount() == 0; ++waited) {
        osSleep(10);
    }
    if (result.status != QD_DISC_FOUND) {
        say("no device found (search status " + std::to_string(result.status) + ")");
        return EXIT_ENDED;
    }
    say("found: " + std::string(result.model) + ", serial number " + result.serial + ", opened as " + result.ident);
    return EXIT_CLEAN;
}

int run(const Options &o) {
    Session s(o);
    int rc = loadLibraries(&s);
    if (rc >= 0) return rc;
    Cleanup cleanup{&s.sim};
    if (o.list) {
        printModels(g_run.api, stdout);
        return EXIT_CLEAN;
    }
    if (o.findGiven) return findDevice(o);
    rc = openContext(&s);
    if (rc < 0) rc = prepareDevice(&s);
    if (rc < 0) rc = prepareOutputs(&s);
    if (rc < 0) rc = startMeasurement(&s);
    if (rc >= 0) return rc;

    std::string stopState;
    int result = EXIT_CLEAN;
    bool ended = measure(&s);
    g_run.markersOpen = false;
    if (ended) {
        stopState = "idle: the driver ended the measurement" +
                    (g_run.lastError.empty() ? std::string() : " (" + g_run.lastError + ")");
        sayAt("the driver ended the measurement");
        result = EXIT_ENDED;
    } else {
        result = stopMeasurement(&s, &stopState);
    }
    return finish(&s, stopState, result);
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 4096);
    Options o;
    int rc = parseOptions(argc, argv, &o);
    if (rc < 0) rc = run(o);
    // What was printed (--list, --params, the summaries) is output too.
    if (!host::stdoutWritten("qdacq") && rc == EXIT_CLEAN) rc = EXIT_RECORDING;
    return rc;
}
