// qdsoak - the driver under load for a long time: ten contexts over the
// simulator (four USB, two Bluetooth and two Bluetooth LE Halvex+ 4, the
// Brev on IrDA and one idle context), the simulator's faults at seeded
// random moments, and a line a minute with what was delivered, what was
// lost and the process's resources. Run "qdsoak --help" for the options.
//
// A host program: it loads the driver library and the simulator library at
// run time and sees only the public header.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/common/host.h"
#include "tools/qdsoak/fleet.h"
#include "tools/qdsoak/soak.h"

namespace {

enum { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_SETUP = 3 };

enum class Mode { SOAK, STRESS, CYCLES };

int usage(FILE *out, int rc) {
    fprintf(out,
            "usage: qdsoak [--minutes N | --seconds N] [--interval SECONDS] [--seed N] [--fault-every SECONDS]\n"
            "              [--verbose] [--driver PATH] [--sim-library PATH] [--shared-dir DIR]\n"
            "       qdsoak --stress [--cycles N] [...]\n"
            "       qdsoak --cycles N [--link usb|bt|ble|irda|all] [...]\n"
            "\n"
            "  (default)   the soak: the ten contexts measure for N minutes (default 60) while the\n"
            "              simulator's faults strike each context every --fault-every seconds on\n"
            "              average (default 20); a line every --interval seconds (default 60), and\n"
            "              once an interval one context's sample callback blocks for 200 ms\n"
            "  --stress    host threads query every context while all measure; N stop/start cycles\n"
            "              per context (default 100), racing starts and stops, a blocking callback,\n"
            "              a close during the measurement\n"
            "  --cycles N  N open/measure/close cycles of each link kind (default all four at once)\n"
            "\n"
            "Exit status: 0 passed, 1 a check failed, 2 bad command line, 3 the libraries could not be\n"
            "loaded or the contexts not opened.\n");
    return rc;
}

// The number options: the option, what it needs and its range (a year of
// seconds at most).
const struct {
    const char *name;
    const char *needs;
    host::NumberRange range;
} kNumberOptions[] = {
    {"--minutes", "a number of minutes", {0.001, 525600, false}},
    {"--seconds", "a number of seconds", {0.001, 31536000, false}},
    {"--interval", "a number of seconds", {1, 31536000, false}},
    {"--seed", "a seed", {0, 4294967295.0, true}},
    {"--fault-every", "a number of seconds", {1, 31536000, false}},
    {"--cycles", "a number of cycles", {1, 1000000, true}},
};

// Takes a number option's value; false when it is not one (*known false)
// or after saying what is wrong.
bool numberArgument(const std::string &a, const char *value, Mode *mode, SoakOptions *o, bool *known) {
    *known = false;
    for (const auto &n : kNumberOptions) {
        if (a != n.name) continue;
        *known = true;
        double v = 0;
        if (!host::numberOption("qdsoak", n.name, n.needs, value, n.range, &v)) return false;
        if (a == "--minutes") o->seconds = v * 60;
        if (a == "--seconds") o->seconds = v;
        if (a == "--interval") o->interval = v;
        if (a == "--seed") o->seed = (uint32_t)v;
        if (a == "--fault-every") o->faultEvery = v;
        if (a == "--cycles") {
            o->cycles = (int)v;
            if (*mode != Mode::STRESS) *mode = Mode::CYCLES;
        }
        return true;
    }
    return false;
}

// Reads the command line; false on a mistake (*said when it was said).
bool parse(int argc, char **argv, Mode *mode, SoakOptions *o, FleetOptions *f, bool *said) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--stress") {
            *mode = Mode::STRESS;
            continue;
        }
        if (a == "--verbose") {
            o->verbose = true;
            continue;
        }
        if (!value) return false;
        ++i;
        bool known = false;
        if (numberArgument(a, value, mode, o, &known)) continue;
        if (known) {
            *said = true;
            return false;
        }
        if (a == "--link") {
            o->link = value;
        } else if (a == "--driver") {
            f->driver = value;
        } else if (a == "--sim-library") {
            f->sim = value;
        } else if (a == "--shared-dir") {
            f->sharedDir = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help") return usage(stdout, EXIT_PASSED);
    }
    Mode mode = Mode::SOAK;
    SoakOptions o;
    o.link = "all";
    FleetOptions f;
    bool said = false;
    if (!parse(argc, argv, &mode, &o, &f, &said)) return said ? EXIT_USAGE : usage(stderr, EXIT_USAGE);
    std::string why;
    if (!fleetLoad(f, &why)) {
        fprintf(stderr, "qdsoak: %s\n", why.c_str());
        return EXIT_SETUP;
    }
    printf("qdsoak: driver %s, simulator %s, driver log %s\n", fleet().api.path.c_str(), fleet().sim.path.c_str(),
           fleet().logPath.c_str());
    int rc;
    if (mode == Mode::CYCLES) {
        rc = runCycles(o);
    } else if (!fleetOpenAll(FLEET_SIZE, &why)) {
        fprintf(stderr, "qdsoak: %s\n", why.c_str());
        rc = EXIT_SETUP;
    } else if (mode == Mode::STRESS) {
        rc = runStress(o);
    } else {
        printf("qdsoak: %d contexts, %.0f s, seed %u, a fault every %.0f s per context on average\n", FLEET_SIZE,
               o.seconds, (unsigned)o.seed, o.faultEvery);
        rc = runSoak(o);
    }
    fleetUnload();
    if (!host::stdoutWritten("qdsoak") && rc == EXIT_PASSED) rc = EXIT_FAILED;
    return rc;
}
