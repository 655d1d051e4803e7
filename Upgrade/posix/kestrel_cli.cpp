// kestrel_cli.cpp - the firmware loader's command line: the same update
// run, arguments, upgrade.cfg and log as the window program, with the
// device fields, the progress and the result printed.
#include "Upgrade/posix/kestrel_cli.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Upgrade/loader.h"
#include "Upgrade/output.h"
#include "Upgrade/update.h"
#include "link/d2xx.h"
#include "os/os.h"

namespace {

const int BAR_WIDTH = 40;

struct CliState {
    bool terminal;          // stdout is a terminal: a bar redrawn in place
    bool barShown;          // a bar line is open on the terminal
    int lastPercent;
    int errors;             // error messages so far
    bool warned;            // Ctrl-C was pressed once during the run
};
CliState g_cli;

// Ends an open progress bar line before other output.
void endBar() {
    if (g_cli.barShown) std::fputc('\n', stdout);
    g_cli.barShown = false;
}

// Prints a text without its trailing line ends.
void printText(FILE *out, const char *prefix, const char *text) {
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
        --n;
    std::fprintf(out, "%s%.*s\n", prefix, (int)n, text);
}

void showMessage(const char *text) {
    endBar();
    char value[LOADER_ID_SIZE];
    int field;
    switch (noteUserMessage(text)) {
    case MSG_ERROR:
        ++g_cli.errors;
        std::fflush(stdout);
        printText(stderr, "Error: ", text + 1);
        break;
    case MSG_FIELD:
        field = deviceFieldOf(text, kDeviceFieldLabels, DEVICE_FIELDS, value, sizeof value);
        std::printf("%-16s%s\n", kDeviceFieldLabels[field], value);
        break;
    case MSG_SUCCESS:
        break;      // the result line follows at the end of the run
    case MSG_INFO:
        printText(stdout, "", text);
        break;
    }
    std::fflush(stdout);
}

void showProgress(int percent) {
    if (percent == g_cli.lastPercent) return;
    if (!g_cli.terminal) {
        // A log or a pipe gets a line per tenth.
        if (percent / 10 == g_cli.lastPercent / 10 && percent != 100) return;
        std::printf("%d%%\n", percent);
    } else {
        const int filled = percent * BAR_WIDTH / 100;
        std::printf("\r[%.*s%*s] %3d%%", filled, "########################################", BAR_WIDTH - filled, "",
                    percent);
        g_cli.barShown = true;
    }
    g_cli.lastPercent = percent;
    std::fflush(stdout);
}

void usage() {
    std::printf(
        "Usage: kestrel FILE [L=ir|bt|usb|ble] [A=DEVICE] [D=TEXT]   upload FILE into the device\n"
        "       kestrel --check [L=...] [A=DEVICE]                   show the device's identity and versions\n"
        "       kestrel                                              take the arguments from upgrade.cfg\n"
        "Without L= the link is Bluetooth; without A= the device is \"%s\".\n"
        "The log is upgrade.log in the Quorvane folder of the shared data folder (ALLUSERSPROFILE).\n",
        LOADER_DEFAULT_ID);
}

// Reads the arguments (or upgrade.cfg when there are none). -1 for --help,
// else the count of argument errors; *check is set by --check.
int readArguments(int argc, char **argv, bool *check) {
    char *args[LOADER_MAX_ARGS];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return -1;
        if (std::strcmp(argv[i], "--check") == 0) {
            *check = true;
        } else if (count < LOADER_MAX_ARGS) {
            args[count++] = argv[i];
        } else {
            updUserMessage("!Unknown argument: %s.\n", argv[i]);
        }
    }
    static char cfg[256];
    if (count == 0) count = readUpgradeCfg(cfg, args);
    loaderApplyArguments(args, count);
    return g_cli.errors;
}

// Runs the update run to its end; true when it succeeded (an upload that
// reported success, or a Check that ended cleanly).
bool runUpdate(bool upload) {
    if (!loaderBeginRun(upload)) return false;
    const int pressed = osInterruptCount();
    bool interrupted = false;
    while (!interrupted && PollUpdate()) {
        osSleep(1);
        // Ctrl-C: the first press warns, as the window asks before it
        // closes; the second ends the run.
        const int presses = osInterruptCount() - pressed;
        if (presses == 1 && !g_cli.warned) {
            endBar();
            std::fprintf(stderr, "Communication in progress. Press Ctrl-C again to exit.\n");
            g_cli.warned = true;
        }
        interrupted = presses >= 2;
    }
    if (interrupted) updLog("!Interrupted by the user.\n");
    const bool clean = !interrupted && updateState() == UPD_OK;
    const bool success = loaderEndRun() && !interrupted;
    endBar();
    return upload ? success : clean;
}

int run(int argc, char **argv) {
    bool check = false;
    const int argErrors = readArguments(argc, argv, &check);
    if (argErrors < 0) {
        usage();
        return KESTREL_OK;
    }
    if (argErrors > 0) return KESTREL_USAGE;
    if (!check && g_loader.firmwarePath[0] == '\0') {
        std::fprintf(stderr, "Warning: Firmware file should be specified.\n");
        usage();
        return KESTREL_USAGE;
    }
    const bool ok = runUpdate(!check);
    if (ok && !check) std::printf("Firmware updated succesfully.\n");
    return ok ? KESTREL_OK : KESTREL_FAILED;
}

// The link's log lines go to upgrade.log; those of the USB transceiver
// library that tell the user what to do (no permission to open the
// transceiver, ...) are shown as well.
int logLinkLine(const char *format, va_list args) {
    char text[512];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    if (std::strncmp(text, "!" FT_LOG_TAG, std::strlen("!" FT_LOG_TAG)) == 0) {
        endBar();
        printText(stderr, "", text + 1);
    }
    return updLogV(format, args);
}

}  // namespace

int kestrelMain(int argc, char **argv) {
    char programPath[LOADER_PATH_SIZE * 2];
    if (osMainModulePath(programPath, sizeof programPath) < 0) programPath[0] = '\0';
    g_cli = CliState{isatty(STDOUT_FILENO) != 0, false, 0, 0, false};
    osInterruptCatch();
    loaderInit(programPath);
    const LoaderSinks sinks = {showMessage, showProgress};
    setLoaderSinks(&sinks);
    openUpgradeLog(programPath);
    linkSetLogHook(logLinkLine);
    updLog("\nKESTREL ver. %s\n", LOADER_VERSION);
    int rc = run(argc, argv);
    // The device fields and the result are the program's output.
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && rc == KESTREL_OK) {
        std::fprintf(stderr, "kestrel: the standard output could not be written in full\n");
        rc = KESTREL_FAILED;
    }
    loaderCloseLink();
    updLog("\n");
    linkSetLogHook(nullptr);
    closeUpgradeLog();
    setLoaderSinks(nullptr);
    return rc;
}
