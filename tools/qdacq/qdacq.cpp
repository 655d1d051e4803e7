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
// vendor's D2XX library and puts a simulated device behind it. Run
// "qdacq --help" for the options.
//
// A host program: it sees only the public header and the system.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "tools/qdacq/driver_api.h"
#include "tools/qdacq/platform.h"
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
    double seconds = 0;          // 0: until Ctrl-C
    std::string model;
    std::vector<std::string> settings;
    std::string csv;
    std::string edf, tsv;        // recording into an EDF or TSV file
    std::string client, session;
    std::string driver;
    std::string sharedDir;
    std::string simLibrary;
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
    case 0: return "disconnected";
    case 1: return "connected";
    case 2: return "link error";
    case 3: return "connecting";
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
        g_run.stream.packet(phase, channels);
        recordingPacket(phase, channels);
    }
    return 0;
}

void QDCALL onIndicator(uint16_t context, uint16_t type, uint16_t value) {
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
    bool error = text[0] == '!';
    if (error) g_run.lastError = text + 1;
    sayAt("(" + std::to_string(context) + ") " + (error ? "error: " : "message: ") + (error ? text + 1 : text));
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

void usage(FILE *out) {
    fprintf(out,
            "usage: qdacq [options]\n"
            "  --list                 list the device models and exit\n"
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
            "                         (without it a summary line is printed every second)\n"
            "  --edf FILE             record into FILE in European Data Format (EDF), as the driver's\n"
            "                         recorder does; the header gets the number of records at the end\n"
            "  --tsv FILE             record into FILE as tab separated text\n"
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
            "3 the driver or the simulator could not be loaded, 5 the recording failed (the file could\n"
            "not be written or the sample stream broke).\n",
            kDefaultSimModel, driverFileName(), simDefaultPath().c_str(), simFaultHelp());
}

bool parseNumber(const char *text, double *out) {
    char *end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end != '\0') return false;
    *out = v;
    return true;
}

// Parses the command line; returns -1 to go on, else an exit status.
int parseOptions(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "qdacq: %s needs %s\n", a.c_str(), what);
                return nullptr;
            }
            return argv[++i];
        };
        const char *v = nullptr;
        double number = 0;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return EXIT_CLEAN;
        } else if (a == "--list") {
            o->list = true;
        } else if (a == "--params") {
            o->params = true;
        } else if (a == "--poll") {
            o->poll = true;
        } else if (a == "--test") {
            o->test = true;
        } else if (a == "--background") {
            o->background = true;
        } else if (a == "--simulate") {
            o->simulate = true;
        } else if (a == "--model") {
            if (!(v = value("a model name"))) return EXIT_USAGE;
            o->model = v;
        } else if (a == "--set") {
            if (!(v = value("NAME[:CHANNEL]=VALUE"))) return EXIT_USAGE;
            o->settings.push_back(v);
        } else if (a == "--seconds") {
            if (!(v = value("a number of seconds"))) return EXIT_USAGE;
            if (!parseNumber(v, &number) || number <= 0) {
                fprintf(stderr, "qdacq: --seconds needs a positive number, not \"%s\"\n", v);
                return EXIT_USAGE;
            }
            o->seconds = number;
        } else if (a == "--csv") {
            if (!(v = value("a file name"))) return EXIT_USAGE;
            o->csv = v;
        } else if (a == "--edf" || a == "--tsv") {
            if (!(v = value("a file name"))) return EXIT_USAGE;
            (a == "--edf" ? o->edf : o->tsv) = v;
        } else if (a == "--client" || a == "--session") {
            if (!(v = value("a text"))) return EXIT_USAGE;
            (a == "--client" ? o->client : o->session) = v;
        } else if (a == "--driver") {
            if (!(v = value("a path"))) return EXIT_USAGE;
            o->driver = v;
        } else if (a == "--shared-dir") {
            if (!(v = value("a folder"))) return EXIT_USAGE;
            o->sharedDir = v;
        } else if (a == "--sim-library") {
            if (!(v = value("a path"))) return EXIT_USAGE;
            o->simLibrary = v;
        } else if (a == "--sim-signal") {
            if (!(v = value("sine, ramp, square or const"))) return EXIT_USAGE;
            o->simSignal = v;
            if (o->simSignal != "sine" && o->simSignal != "ramp" && o->simSignal != "square" &&
                o->simSignal != "const") {
                fprintf(stderr, "qdacq: --sim-signal is sine, ramp, square or const, not \"%s\"\n", v);
                return EXIT_USAGE;
            }
        } else if (a == "--sim-amplitude" || a == "--sim-offset") {
            if (!(v = value("a number of device units"))) return EXIT_USAGE;
            if (!parseNumber(v, &number) || number < -32768 || number > 32767) {
                fprintf(stderr, "qdacq: %s needs a number from -32768 to 32767, not \"%s\"\n", a.c_str(), v);
                return EXIT_USAGE;
            }
            (a == "--sim-amplitude" ? o->simAmplitude : o->simOffset) = (int)number;
        } else if (a == "--sim-frequency") {
            if (!(v = value("a frequency in Hz"))) return EXIT_USAGE;
            if (!parseNumber(v, &number) || number < 0) {
                fprintf(stderr, "qdacq: --sim-frequency needs a frequency in Hz, not \"%s\"\n", v);
                return EXIT_USAGE;
            }
            o->simFrequency = number;
        } else if (a == "--sim-fault") {
            if (!(v = value("a fault"))) return EXIT_USAGE;
            SimFault f;
            std::string why;
            if (!simFaultParse(v, &f, &why)) {
                fprintf(stderr, "qdacq: %s\n", why.c_str());
                return EXIT_USAGE;
            }
            o->faults.push_back(f);
        } else {
            fprintf(stderr, "qdacq: unknown option \"%s\" (see qdacq --help)\n", a.c_str());
            return EXIT_USAGE;
        }
    }
    if (!o->edf.empty() && !o->tsv.empty()) {
        fprintf(stderr, "qdacq: record into one file: --edf or --tsv, not both\n");
        return EXIT_USAGE;
    }
    bool recording = !o->edf.empty() || !o->tsv.empty();
    if (!recording && (!o->client.empty() || !o->session.empty())) {
        fprintf(stderr, "qdacq: --client and --session describe a recording: give --edf FILE or --tsv FILE\n");
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

// ---------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------

void printLogErrors(const std::string &logPath, long from) {
    for (const std::string &line : logErrorsSince(logPath, from)) say("  driver log: " + line);
}

// Puts a simulated device of the context's model behind a new transceiver.
int simulateDevice(const SimApi &sim, const Options &o, const std::string &model) {
    sim.Reset();
    // An 8-character serial number: the driver reopens the transceiver by it.
    int tx = sim.Add("QVSIM001", nullptr);
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
    return sim.AttachNewDeviceEx(tx, model.c_str(), nullptr, signals.empty() ? nullptr : signals.data(),
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

int run(const Options &o) {
    if (!o.sharedDir.empty()) {
        host::makeDir(o.sharedDir);
        if (!host::setEnv("ALLUSERSPROFILE", o.sharedDir)) {
            fprintf(stderr, "qdacq: cannot set ALLUSERSPROFILE to %s\n", o.sharedDir.c_str());
            return EXIT_SETUP;
        }
    }
    host::catchInterrupt();

    SimApi sim;
    std::string why;
    if (o.simulate) {
        // Loaded first: the driver's D2XX dependency is then the simulator.
        if (!simLoad(&sim, o.simLibrary, &why)) {
            fprintf(stderr, "qdacq: %s\n", why.c_str());
            return EXIT_SETUP;
        }
        say("simulator: " + sim.path);
    }
    DriverApi &api = g_run.api;
    if (!driverLoad(&api, o.driver, &why)) {
        fprintf(stderr, "qdacq: %s\n", why.c_str());
        simUnload(&sim);
        return EXIT_SETUP;
    }
    std::string logPath = host::driverLogPath();
    bool haveLog = host::fileExists(logPath);
    if (!haveLog) logPath.clear();

    struct Cleanup {
        SimApi *sim;
        ~Cleanup() {
            if (g_run.context >= 0) g_run.api.CloseDevContext((uint16_t)g_run.context);
            g_run.context = -1;
            driverUnload(&g_run.api);
            simUnload(sim);
        }
    } cleanup{&sim};

    if (o.list) {
        printModels(api, stdout);
        return EXIT_CLEAN;
    }
    say("driver: " + api.path);
    if (haveLog) {
        say("driver log: " + logPath);
    } else {
        say("driver log: none (the driver cannot write " + host::driverLogPath() +
            "; give a writable folder with --shared-dir DIR or ALLUSERSPROFILE)");
    }

    std::string model = o.model.empty() && o.simulate ? std::string(kDefaultSimModel) : o.model;
    if (model.empty()) {
        fprintf(stderr, "qdacq: name the device model with --model; the models are:\n");
        printModels(api, stderr);
        return EXIT_USAGE;
    }
    long from = logSize(logPath);
    int16_t ctx = api.OpenDevContext(model.c_str());
    if (ctx < 0) {
        const char *meaning = ctx == -2   ? "no such device model"
                              : ctx == -1 ? "all 10 device contexts are in use"
                                          : "the context could not be selected";
        fprintf(stderr, "qdacq: the driver refused the model \"%s\": QdOpenDevContext %d (%s)\n", model.c_str(), ctx,
                meaning);
        for (const std::string &line : logErrorsSince(logPath, from)) fprintf(stderr, "  driver log: %s\n", line.c_str());
        if (ctx == -2) {
            fprintf(stderr, "The models are (names are exact, letter case included):\n");
            printModels(api, stderr);
        }
        return EXIT_USAGE;
    }
    g_run.context = ctx;

    int tx = -1;
    if (o.simulate) {
        QdParamValue link;
        memset(&link, 0, sizeof link);
        if (api.GetParam(QD_PAR_LINK_TYPE, 0, &link) != 0 || link.code != QD_LINK_USB) {
            fprintf(stderr,
                    "qdacq: the simulator stands in for USB transceivers only; \"%s\" is not a USB model. "
                    "The USB models are:\n",
                    model.c_str());
            printModels(api, stderr, QD_LINK_USB);
            return EXIT_USAGE;
        }
        tx = simulateDevice(sim, o, model);
        if (tx < 0) {
            fprintf(stderr, "qdacq: the simulator has no device of the model \"%s\"\n", model.c_str());
            return EXIT_SETUP;
        }
    }

    for (const std::string &setting : o.settings) {
        if (!applySetting(api, logPath, setting, &why)) {
            fprintf(stderr, "qdacq: --set \"%s\": %s\n", setting.c_str(), why.c_str());
            return EXIT_USAGE;
        }
    }
    if (o.params) {
        printf("Model: %s\n", model.c_str());
        printParameters(api, stdout);
        return EXIT_CLEAN;
    }

    SampleStream &stream = g_run.stream;
    stream.setup(api, contextChannels(api));
    say("model: " + model + (o.simulate ? " (simulated)" : ""));
    bool anyOn = false;
    for (int c = 0; c < stream.channels; ++c) {
        const StreamChannel &s = stream.ch[c];
        if (!s.on) continue;
        anyOn = true;
        say("  channel " + std::to_string(c) + " (" + s.name + "): " + format("%g", s.rate) + " sps, range " +
            format("%g", s.minimum) + " to " + format("%g", s.range) + (s.unit.empty() ? "" : " " + s.unit));
    }
    if (!anyOn) say("  no channel is on (enable channels with --set \"Channel enable=1\")");
    if (!o.csv.empty() && !stream.openCsv(o.csv, &why)) {
        fprintf(stderr, "qdacq: %s\n", why.c_str());
        return EXIT_SETUP;
    }

    bool recording = !o.edf.empty() || !o.tsv.empty();
    if (recording) {
        bool edf = !o.edf.empty();
        if (!recordingStart(api, edf ? o.edf : o.tsv, edf ? RecordingFormat::EDF : RecordingFormat::TSV, o.client,
                            o.session, &why)) {
            fprintf(stderr, "qdacq: %s\n", why.c_str());
            stream.closeCsv();
            return EXIT_SETUP;
        }
        say(std::string("recording into ") + (edf ? o.edf : o.tsv));
    }
    bool recordingBroke = false;
    // Ends the recording (an EDF file gets its record count) and says what
    // the file holds; on every way out once the recording has begun.
    auto finishRecording = [&]() {
        if (!recording) return;
        std::string summary;
        bool completed = recordingFinish(&summary);
        say(summary);
        if (!completed) recordingBroke = true;
    };

    api.SetCallbacks(onSamples, onIndicator, onMessage);
    std::vector<SimFault> faults = o.faults;
    if (o.simulate) simFaultsArm(sim, tx, &faults, say);

    bool poll = o.poll;
    uint16_t flags = (uint16_t)((o.test ? QD_START_TEST : 0) | (poll ? 0 : QD_START_ENGINE_THREAD) |
                                (o.background ? QD_START_BACKGROUND : 0));
    from = logSize(logPath);
    g_run.start = host::seconds();
    int32_t started = api.StartMeasurement((uint16_t)ctx, flags);
    if (started == -3) {
        say("the driver's engine thread could not be created: qdacq runs the engine itself");
        poll = true;
    } else if (started != 0 && started != 3) {
        say("qdacq: the measurement did not start: QdStartMeasurement " + std::to_string(started) + " (" +
            startResultText(started) + ")");
        printLogErrors(logPath, from);
        if (o.simulate && sim.CallCount(FTSIM_CALL_ALL) == 0) {
            say("  the driver did not call the simulator library: it uses another D2XX library");
        } else if (!o.simulate && started == 1) {
            say("  no transceiver answered to the device id; check that the device's USB cable or dongle is "
                "plugged in and not held by another program");
        }
        if (haveLog) say("  details in the driver log " + logPath);
        stream.closeCsv();
        finishRecording();
        return EXIT_ENDED;
    }
    sayAt(std::string(o.test ? "test measurement" : "measurement") + " started (" +
          (poll ? "qdacq polls the engine" : "driver's engine thread") + ")");

    // Measuring.
    double nextSummary = 1.0;
    bool endedByDriver = false;
    bool stopAsked = false;
    while (!stopAsked) {
        if (poll) api.ProtocolEngine();
        double t = elapsed();
        if (o.simulate) simFaultsRun(sim, tx, &faults, t, sayAt);
        if (o.csv.empty() && t >= nextSummary) {
            ChannelTally interval[STREAM_CHANNELS];
            stream.takeInterval(interval);
            char stamp[32];
            snprintf(stamp, sizeof stamp, "[%3.0f s] ", nextSummary);
            say(stamp + tallyLine(interval, true));
            nextSummary += 1.0;
        }
        if (api.ComState((uint16_t)ctx) == 0) {
            endedByDriver = true;
            break;
        }
        std::string failure;
        if (recording && recordingFailed(&failure)) {
            sayAt("recording stopped: " + failure);
            recordingBroke = true;
            stopAsked = true;
        } else if (host::interrupted() > 0) {
            sayAt("Ctrl-C: stopping");
            stopAsked = true;
        } else if (o.seconds > 0 && t >= o.seconds) {
            stopAsked = true;
        }
        if (!stopAsked) host::sleepMs(poll ? 2 : 10);
    }

    // Stopping: ask for the stop, then wait until the driver says idle. The
    // driver's own timers bound the stop (reply time-out, final wait).
    std::string stopState;
    int result = EXIT_CLEAN;
    if (endedByDriver) {
        stopState = "idle: the driver ended the measurement" +
                    (g_run.lastError.empty() ? std::string() : " (" + g_run.lastError + ")");
        sayAt("the driver ended the measurement");
        result = EXIT_ENDED;
    } else {
        double stopAt = host::seconds();
        int32_t stopping = api.StopMeasurement((uint16_t)ctx);
        bool idle = false;
        int seenInterrupts = host::interrupted();
        while (host::seconds() - stopAt < 5.0) {
            if (poll) api.ProtocolEngine();
            if (api.ComState((uint16_t)ctx) == 0) {
                idle = true;
                break;
            }
            if (host::interrupted() > seenInterrupts + 1) break;   // pressed twice more: give up waiting
            host::sleepMs(2);
        }
        double took = (host::seconds() - stopAt) * 1000.0;
        uint32_t engine = api.ProtocolEngine();
        char text[200];
        if (idle) {
            snprintf(text, sizeof text, "idle (QdStopMeasurement %d, QdComState 0 after %.0f ms, QdProtocolEngine %u)",
                     stopping, took, engine);
        } else {
            snprintf(text, sizeof text, "not idle after %.0f ms (QdStopMeasurement %d); the context was closed",
                     took, stopping);
            result = EXIT_ENDED;
        }
        stopState = text;
        if (!g_run.lastError.empty()) stopState += "; last error: " + g_run.lastError;
    }
    api.CloseDevContext((uint16_t)ctx);
    g_run.context = -1;
    stream.closeCsv();
    finishRecording();

    ChannelTally totals[STREAM_CHANNELS];
    uint64_t gaps = 0, lostTicks = 0, packets = 0;
    stream.totals(totals, &gaps, &lostTicks, &packets);
    uint64_t total = 0, lost = 0;
    for (int c = 0; c < stream.channels; ++c) {
        total += totals[c].count;
        lost += totals[c].lost;
    }
    if (o.csv.empty() == false) say("samples written to " + o.csv);
    say("per channel: " + tallyLine(totals, false));
    char final[512];
    snprintf(final, sizeof final, "total: %llu samples in %.1f s, %llu lost (%llu gaps), stop state: %s",
             (unsigned long long)total, elapsed(), (unsigned long long)lost, (unsigned long long)gaps,
             stopState.c_str());
    say(final);
    if (result == EXIT_CLEAN && !g_run.lastError.empty()) result = EXIT_ENDED;
    if (result == EXIT_CLEAN && lost > 0) result = EXIT_LOSSES;
    if (recordingBroke && result != EXIT_ENDED) result = EXIT_RECORDING;
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 4096);
    Options o;
    int rc = parseOptions(argc, argv, &o);
    if (rc >= 0) return rc;
    return run(o);
}
