// fleet.h - the ten device contexts of a long run: four USB Halvex+ 4, two
// Bluetooth Halvex+ 4, two Bluetooth LE Halvex+ 4, the Brev on IrDA and one
// context that stays idle, each simulated device behind its own slot of the
// simulator library, every measuring context at its heaviest configuration.
//
// The driver and the simulator are loaded at run time, the way a host
// application loads them. The sample callback keeps a tally per context:
// samples delivered, and the samples of the ticks that phase gaps skipped,
// sorted into those a fault injected into that context explains (the gap
// came while the fault's window was open) and those nothing explains.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "QuorvaneDrv.h"
#include "tools/common/driver_binding.h"
#include "tools/qdacq/sim_api.h"

// What a run needs of a device family: its heaviest configuration, its
// stop command (for lost replies), the device state of a measuring device,
// and whether a run also waits for the first samples before it takes a
// device as measuring.
struct FamilyPlan {
    const char *const *settings;
    size_t settingCount;
    int stopCommand;
    int measuringState;
    bool samplesProveMeasuring;
};

// Where a member's simulated device sits.
struct MemberPlan {
    const char *model;
    int link;               // QD_LINK_*; -1: the idle context (no device)
    const char *where;      // USB serial number, Bluetooth or Bluetooth LE address
    const FamilyPlan *family;   // null for the idle context
};

// What the sample callback counts for one context (under lock).
struct Tally {
    std::mutex lock;
    bool started = false;       // a packet of the current run arrived
    uint16_t expected = 0;      // phase the next packet must begin with
    uint64_t samples = 0;
    uint64_t packets = 0;
    uint64_t gaps = 0;
    uint64_t explained = 0;     // samples in gaps a fault explains
    uint64_t unexplained = 0;   // samples in gaps nothing explains
    double explainUntil = -1;   // run seconds until which a gap is explained
    uint64_t messages = 0;      // user messages
    std::string lastMessage;
};

struct Member {
    MemberPlan plan = {};
    int slot = -1;              // the simulator's slot of the device
    int16_t context = -1;
    int channels = 0;
    Tally tally;
};

const int FLEET_SIZE = QD_MAX_CONTEXTS;

struct FleetOptions {
    std::string driver;         // empty: the build's library beside tools/
    std::string sim;            // empty: the build's simulator library
    std::string sharedDir;      // the driver log's folder; empty: a temporary one
};

struct Fleet {
    SimApi sim;
    DriverApi api;
    std::string logPath;
    Member members[FLEET_SIZE];
    int count = 0;
    double t0 = 0;              // start of the run (host::seconds)
    // A sample callback of this context blocks for blockMs once (the slow
    // host), then clears it.
    std::atomic<int> blockContext{-1};
    std::atomic<int> blockMs{0};
};

// The one fleet of the process (the callbacks are plain functions).
Fleet &fleet();

// The members of the run: ten plans, of which the last stays idle.
extern const MemberPlan FLEET_PLANS[FLEET_SIZE];
const int FLEET_PLANS_ACTIVE = FLEET_SIZE - 1;

// Loads the simulator (with its Bluetooth LE stand-in) and the driver and
// installs the callbacks; false with the reason in *why.
bool fleetLoad(const FleetOptions &options, std::string *why);
// Stops the callbacks and unloads both libraries.
void fleetUnload();

// Puts the simulated device of a plan in place and opens its context at the
// heaviest configuration; false with *why.
bool fleetOpen(Member *m, const MemberPlan &plan, std::string *why);
// Opens every plan of FLEET_PLANS (the first count of them).
bool fleetOpenAll(int count, std::string *why);
// Closes the context of a member (the device stays).
void fleetClose(Member *m);

// Run seconds since the fleet's start.
double fleetNow();
// A measuring member (not the idle one).
bool memberActive(const Member &m);
// The member of a context, or null.
Member *memberOf(int context);

// Begins a new run of a member's tally (before its start) and starts the
// measurement on the engine thread (flags added); QdStartMeasurement's result.
int32_t fleetStart(Member *m, uint16_t flags);
// A device the driver left measuring (its stop could not reach it, as when
// the link was gone) answers the next start with "Incompatible device
// state. Try to turn on device again.": it is switched off and on, as its
// user would. True when it had to be.
bool fleetRestDevice(Member *m);
// Waits up to seconds until every active member is idle (QdComState 0).
bool fleetWaitIdle(double seconds);
// Waits up to seconds until one member is idle.
bool fleetWaitIdleOne(Member *m, double seconds);
// Waits until a member has delivered more than `samples` samples.
bool fleetWaitSamples(Member *m, uint64_t samples, double seconds);
// Opens a gap explanation window on a member until run second `until`.
void fleetExplain(Member *m, double until);

// A snapshot of a tally.
struct TallyView {
    uint64_t samples, packets, gaps, explained, unexplained, messages;
    std::string lastMessage;
};
TallyView fleetTally(Member *m);

// The stop command of the member's device family (for lost replies).
int fleetStopCommand(const Member &m);
// Whether the member's device measures: its state says so, and (where its
// family asks for it) samples came since the tally stood at `before`.
bool fleetMeasuring(Member *m, uint64_t before);
