// soak.h - the three runs of qdsoak over the fleet of fleet.h.
#pragma once

#include <cstdint>
#include <string>

struct SoakOptions {
    double seconds = 3600;      // length of the soak run
    double interval = 60;       // one report line (and one check) per interval
    uint32_t seed = 1;          // of the fault schedule
    double faultEvery = 20;     // mean seconds between faults of one context
    int cycles = 100;           // stress: stop/start cycles per context; cycles: per link kind
    std::string link;           // cycles: the link kind (usb, bt, ble, irda)
    bool verbose = false;       // soak: a line for every fault
};

// The soak: the fleet measures for o.seconds while faults are injected at
// seeded random moments; a report line per interval. 0 when nothing was
// lost unexplained and the resources stayed flat, else 1.
int runSoak(const SoakOptions &o);

// The concurrency run: host threads query every context while the engine
// thread measures all of them; stop/start cycles (some during a connect,
// some during a reconnection), starts and stops of one context on two
// threads at once, a callback that blocks, a close during the measurement.
// 0 when every call gave a documented result and nothing was lost
// unexplained, else 1.
int runStress(const SoakOptions &o);

// o.cycles open/measure/close cycles of one link kind: the process's
// handles, threads and memory come back to where they started. 0 or 1.
int runCycles(const SoakOptions &o);
