// simhost.cpp - a host program that selects the simulated D2XX library the
// way a user or test would, then proves that the driver and a library built
// like it bind to it.
//
//   qd_simhost SIM_LIBRARY DRIVER_LIBRARY PROBE_LIBRARY
//
// 1. loads the simulator library (FTD2XX.dll / libqvftd2xx.so) by path and
//    plugs in one simulated transceiver with a scripted device-information
//    reply;
// 2. loads the driver library: its D2XX dependency must be the simulator;
// 3. loads the probe (driver core and link library in a library of their
//    own) and runs the exchange twice, by serial number and by description;
// 4. checks what the simulator saw. Exit 0 when all holds.
//
//   qd_simhost --without-sim --expect-load|--expect-no-load DRIVER_LIBRARY PROBE_LIBRARY
//
// runs with whatever D2XX library the system provides: with
// --expect-load the driver must load, the D2XX module must not be the
// simulator, and opening an absent transceiver through the probe must fail
// promptly; with --expect-no-load (no D2XX library installed) the driver
// must refuse to load.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sim/dll/host/host.h"
#include "sim/ftsim.h"

typedef void (*ResetFn)(void);
typedef int (*AddFn)(const char *, const char *);
typedef int (*AddReplyFn)(int, const uint8_t *, size_t, const uint8_t *, size_t);
typedef int (*TakeWrittenFn)(int, uint8_t *, size_t);
typedef int (*GetStateFn)(int, FtSimState *);
typedef uint32_t (*CallCountFn)(int);
typedef int (*ProbeFn)(const char *, uint8_t *, int, char *, int);

static int g_failures = 0;

static void check(bool ok, const char *what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++g_failures;
}

static int withoutSimulator(bool expectLoad, const char *driverPath, const char *probePath) {
    void *driver = hostLoad(driverPath, false);
    if (!expectLoad) {
        check(driver == nullptr, "the driver does not load without a D2XX library");
        if (driver) hostUnload(driver);
        return g_failures ? 1 : 0;
    }
    check(driver != nullptr, "the driver loads with the system's D2XX library");
    check(hostD2xxIsNotSimulator(), "the D2XX library in use is not the simulator");
    void *probe = hostLoad(probePath, false);
    ProbeFn exchange = probe ? (ProbeFn)hostSymbol(probe, "probeExchange") : nullptr;
    check(exchange != nullptr, "probe library loads");
    if (exchange) {
        const char *ids[2] = {"QVNONE01", "No Such Transceiver"};
        for (const char *id : ids) {
            uint8_t reply[256];
            char serial[22] = "";
            uint64_t start = hostMicroseconds();
            int n = exchange(id, reply, sizeof reply, serial, sizeof serial);
            uint64_t took = hostMicroseconds() - start;
            char what[128];
            std::snprintf(what, sizeof what, "absent transceiver \"%s\": open fails (%d) in %u ms", id, n,
                          (unsigned)(took / 1000));
            check(n == -1 && took < 5000000, what);
        }
    }
    if (probe) hostUnload(probe);
    if (driver) hostUnload(driver);
    std::printf("%s\n", g_failures ? "FAILED" : "passed");
    return g_failures ? 1 : 0;
}

// The simulator's control functions the host uses.
struct SimControls {
    ResetFn reset;
    AddFn add;
    AddReplyFn addReply;
    TakeWrittenFn takeWritten;
    GetStateFn getState;
    CallCountFn callCount;
};

static bool bindControls(void *sim, SimControls *c) {
    c->reset = (ResetFn)hostSymbol(sim, "ftsimReset");
    c->add = (AddFn)hostSymbol(sim, "ftsimAdd");
    c->addReply = (AddReplyFn)hostSymbol(sim, "ftsimAddReply");
    c->takeWritten = (TakeWrittenFn)hostSymbol(sim, "ftsimTakeWritten");
    c->getState = (GetStateFn)hostSymbol(sim, "ftsimGetState");
    c->callCount = (CallCountFn)hostSymbol(sim, "ftsimCallCount");
    return c->reset && c->add && c->addReply && c->takeWritten && c->getState && c->callCount;
}

// Runs the probe's exchange by serial number and by description against the
// transceiver tx, whose scripted reply is devInfo, and checks what the
// simulator saw.
static void checkExchanges(ProbeFn exchange, const SimControls &c, int tx, const uint8_t *devInfo, size_t size) {
    const char *ids[2] = {"QVSIM001", "Quorvane Halvex*"};
    for (const char *id : ids) {
        uint8_t reply[256];
        char serial[22] = "";
        int n = exchange(id, reply, sizeof reply, serial, sizeof serial);
        char what[128];
        std::snprintf(what, sizeof what, "exchange through \"%s\" (%d bytes)", id, n);
        check(n == (int)size && std::memcmp(reply, devInfo, size) == 0, what);
        check(std::strcmp(serial, "QVSIM001") == 0, "the link names the transceiver's serial number");
    }
    uint8_t written[16];
    int w = c.takeWritten(tx, written, sizeof written);
    check(w == 4 && std::memcmp(written, "\x01\x00\x01\x00", 4) == 0, "the simulator received both commands");
    FtSimState st;
    check(c.getState(tx, &st) == 0 && st.opens == 2 && st.closes == 2 && !st.open, "opened and closed twice");
    check(st.baudRate == 921600 && st.flowControl == 0x100, "line configured by the link");
    check(c.callCount(FTSIM_CALL_ALL) > 0, "the D2XX calls reached the simulator");
}

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--without-sim") == 0) {
        return withoutSimulator(std::strcmp(argv[2], "--expect-load") == 0, argv[3], argv[4]);
    }
    if (argc != 4) {
        std::printf("usage: %s SIM_LIBRARY DRIVER_LIBRARY PROBE_LIBRARY\n", argv[0]);
        return 2;
    }
    void *sim = hostLoad(argv[1], true);
    if (!sim) return 1;
    SimControls c;
    check(bindControls(sim, &c), "simulator control functions found");
    if (g_failures) return 1;

    // A scripted device-information reply (length 69: code, result, maker,
    // model, serial).
    uint8_t devInfo[70] = {69, 0x80, 0x00};
    std::memcpy(devInfo + 3, "Quorvane Systems", 16);
    std::memcpy(devInfo + 36, "Quorvane Halvex-4 USB", 21);
    std::memcpy(devInfo + 69, "Q", 1);
    const uint8_t request[2] = {0x01, 0x00};
    c.reset();
    int tx = c.add("QVSIM001", "Quorvane Halvex*");
    check(tx >= 0 && c.addReply(tx, request, 2, devInfo, sizeof devInfo) == 0, "transceiver with scripted reply");

    void *driver = hostLoad(argv[2], false);
    check(driver != nullptr, "driver library loads with the simulator in place");
    check(hostD2xxIs(sim), "the process's D2XX library is the simulator");

    void *probe = hostLoad(argv[3], false);
    ProbeFn exchange = probe ? (ProbeFn)hostSymbol(probe, "probeExchange") : nullptr;
    check(exchange != nullptr, "probe library loads");
    if (exchange) checkExchanges(exchange, c, tx, devInfo, sizeof devInfo);
    if (probe) hostUnload(probe);
    if (driver) hostUnload(driver);
    hostUnload(sim);
    std::printf("%s\n", g_failures ? "FAILED" : "passed");
    return g_failures ? 1 : 0;
}
