// sim_api.h - the simulator library (the stand-in for the vendor's D2XX
// library) loaded at run time, its control functions resolved by name, and
// the faults a host can inject through them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"
#include "sim/ftsim.h"

// The simulator's control functions, resolved by name. A record of pointers
// only.
struct SimExports {
    decltype(&ftsimReset) Reset = nullptr;
    decltype(&ftsimAdd) Add = nullptr;
    decltype(&ftsimAttachNewDeviceEx) AttachNewDeviceEx = nullptr;
    decltype(&ftsimUnplug) Unplug = nullptr;
    decltype(&ftsimReplug) Replug = nullptr;
    decltype(&ftsimGetState) GetState = nullptr;
    decltype(&ftsimCallCount) CallCount = nullptr;
    decltype(&ftsimResetCallCounts) ResetCallCounts = nullptr;
    decltype(&ftsimSignalValue) SignalValue = nullptr;
    decltype(&ftsimDeviceSetFault) DeviceSetFault = nullptr;
    decltype(&ftsimDeviceClearFaults) DeviceClearFaults = nullptr;
    decltype(&ftsimDeviceDropData) DeviceDropData = nullptr;
    decltype(&ftsimDeviceSilence) DeviceSilence = nullptr;
    decltype(&ftsimDeviceSetLinkUp) DeviceSetLinkUp = nullptr;
    decltype(&ftsimDeviceInjectBytes) DeviceInjectBytes = nullptr;
    decltype(&ftsimDeviceSendEvent) DeviceSendEvent = nullptr;
    decltype(&ftsimDeviceSetSignalState) DeviceSetSignalState = nullptr;
    decltype(&ftsimDeviceButton) DeviceButton = nullptr;
    decltype(&ftsimDeviceRecordSamples) DeviceRecordSamples = nullptr;
    decltype(&ftsimDeviceRecordCount) DeviceRecordCount = nullptr;
    decltype(&ftsimDeviceState) DeviceState = nullptr;
    decltype(&ftsimDevicePowerCycle) DevicePowerCycle = nullptr;
    decltype(&ftsimAddBle) AddBle = nullptr;
    decltype(&ftsimBleGetState) BleGetState = nullptr;
    decltype(&ftsimBleSetFaults) BleSetFaults = nullptr;
    decltype(&ftsimBleSendFlow) BleSendFlow = nullptr;
    decltype(&ftsimBluezStart) BluezStart = nullptr;
    decltype(&ftsimBluezStop) BluezStop = nullptr;
    decltype(&ftsimAddBluetooth) AddBluetooth = nullptr;
    decltype(&ftsimAddIrda) AddIrda = nullptr;
    decltype(&ftsimDropConnection) DropConnection = nullptr;
    decltype(&ftsimOpenSockets) OpenSockets = nullptr;
};

struct SimApi : SimExports {
    OsLibrary library = nullptr;
    std::string path;
    OsLibrary bleLibrary = nullptr;   // the Bluetooth LE stand-in, when loaded
    std::string blePath;
};

// FTD2XX.dll (Windows) or libqvftd2xx.so (Linux).
const char *simFileName();
// The simulator library of this build: <build>/sim/<file> seen from a
// program in <build>/tools/; for an installed program, the one installed
// with it.
std::string simDefaultPath();

// Loads the simulator library before the driver, so that the driver's D2XX
// dependency is met by it, and resolves its control functions.
bool simLoad(SimApi *api, const std::string &path, std::string *why);
void simUnload(SimApi *api);
// Loads the simulator's Bluetooth LE stand-in (BluetoothAPIs.dll or
// libqvbluetoothapis.so beside the simulator library), so that the driver's
// Bluetooth LE link talks to the simulated devices. Before the driver starts
// its link library (the first measurement start or engine call).
bool simLoadBle(SimApi *api, std::string *why);

// Where a simulated device of a link kind sits (one row per kind in
// sim_api.cpp), found by the device id the driver is given: a USB
// transceiver with the serial number id, a Bluetooth or Bluetooth LE device
// at the address id ("00:80:98:51:56:11") announcing name, or named id, or
// an IrDA device in range. A null id or name takes the default: serial
// FTSIM_ENV_SERIAL, Bluetooth address SIM_BT_ADDRESS, any Bluetooth LE
// address, the name of those models' default device id ("Quorvane
// Halvex*"). The slot, or -1 (a link the simulator has no stand-in for).
#define SIM_BT_ADDRESS "00:80:98:51:56:01"
#define SIM_BT_NAME "Quorvane Halvex*"
int simAddPort(const SimApi &api, int linkType, const char *id, const char *name = nullptr);
// Whether a device of that link kind needs the Bluetooth LE stand-in
// loaded (simLoadBle) before the driver starts its link library.
bool simNeedsBleStandIn(int linkType);
// Whether the driver reaches a device of that link kind through the D2XX
// calls that the simulator counts (FTSIM_CALL_ALL), so that a count of 0
// means that the driver uses another D2XX library.
bool simCountsLinkCalls(int linkType);

// Device command codes by name, for lost-reply faults: info, firmware,
// state, notif, config, start, stop, test-start, test-stop, restart, or a
// number. -1 when unknown.
int simCommandCode(const std::string &name);

// One fault to inject into a simulated device during a measurement.
struct SimFault {
    enum Kind {
        LOST_REPLY,   // lost-reply[=COMMAND]: the reply to COMMAND never comes (armed at the start)
        LINK_LOSS,    // link-loss@S[+MS]: the radio link is down for MS, then the device reports the
                      //   link failure (event 0x61) and the driver reconnects; a device on a socket
                      //   link (Bluetooth, IrDA) has its connection broken instead
        UNPLUG,       // unplug@S[+MS]: the transceiver is pulled out (and plugged in again after MS)
        PHASE_GAP,    // phase-gap@S[xN]: N data messages are withheld
        SILENCE,      // silence@S[+MS]: no data messages for MS
        GARBAGE,      // garbage@S[xN]: N bytes of noise on the wire
        EVENT,        // event@S=CODE[,DATA]: a device event notification
        BATTERY,      // battery@S=STATE: a battery report
        SIGNAL,       // signal@S=CHANNEL:STATE (CHANNEL 0.. or sum): a signal state
        BUTTON,       // button@S: the device's button is pressed (a Brev pauses or resumes)
    };
    Kind kind = LOST_REPLY;
    double at = 0;           // seconds after the start
    uint32_t ms = 0;         // duration
    uint32_t count = 0;      // messages or bytes
    int code = 0;            // command or event code
    int data = -1;           // event data, battery or signal state
    int channel = 0;         // signal channel, -1 = SUM
    int stage = 0;           // 0 pending, 1 begun, 2 done
    std::string text;
};

// Parses one --sim-fault text; false with the reason in *why.
bool simFaultParse(const std::string &text, SimFault *fault, std::string *why);
// The syntax of --sim-fault, for help texts.
const char *simFaultHelp();

// Applies the faults due at t seconds after the start to the device behind
// transceiver tx; say() receives a line for each thing done.
void simFaultsRun(const SimApi &api, int tx, std::vector<SimFault> *faults, double t,
                  void (*say)(const std::string &line));
// Arms the faults that act from the start (lost replies).
void simFaultsArm(const SimApi &api, int tx, std::vector<SimFault> *faults, void (*say)(const std::string &line));
