// driver_binding.cpp - finding, loading and binding the driver library.
//
// The build names the files (QD_DRIVER_FILE; QD_DRIVER_SYSTEM_NAME, the name
// the system's search takes; QD_D2XX_FILE) and says whether the driver's
// D2XX library is the vendor's, installed with its USB driver
// (QD_D2XX_FROM_VENDOR 1), or the project's own backend built beside the
// driver (0).
#include "tools/common/driver_binding.h"

#include <cstddef>

#include "tools/common/host.h"

namespace {

// Every name exported by the driver, functions first, then the callback
// variables. Must equal the export definition file (a test compares them).
// exports:begin
const host::Symbol kExports[] = {
    {"QdEnumDevices", offsetof(DriverExports, EnumDevices)},
    {"QdOpenDevContext", offsetof(DriverExports, OpenDevContext)},
    {"QdSelectDevContext", offsetof(DriverExports, SelectDevContext)},
    {"QdGetSelectedDevContext", offsetof(DriverExports, GetSelectedDevContext)},
    {"QdCloseDevContext", offsetof(DriverExports, CloseDevContext)},
    {"QdGetDevName", offsetof(DriverExports, GetDevName)},
    {"QdGetCapConfig", offsetof(DriverExports, GetCapConfig)},
    {"QdGetDevConfig", offsetof(DriverExports, GetDevConfig)},
    {"QdSetDevConfig", offsetof(DriverExports, SetDevConfig)},
    {"QdChangeDevice", offsetof(DriverExports, ChangeDevice)},
    {"QdDevServices", offsetof(DriverExports, DevServices)},
    {"QdEnumParams", offsetof(DriverExports, EnumParams)},
    {"QdParamInfo", offsetof(DriverExports, ParamInfo)},
    {"QdParamExists", offsetof(DriverExports, ParamExists)},
    {"QdGetParam", offsetof(DriverExports, GetParam)},
    {"QdSetParam", offsetof(DriverExports, SetParam)},
    {"QdGetOptNum", offsetof(DriverExports, GetOptNum)},
    {"QdLockParam", offsetof(DriverExports, LockParam)},
    {"QdSetDefaults", offsetof(DriverExports, SetDefaults)},
    {"QdParseParamUnit", offsetof(DriverExports, ParseParamUnit)},
    {"QdParam2Str", offsetof(DriverExports, Param2Str)},
    {"QdParamList2Str", offsetof(DriverExports, ParamList2Str)},
    {"QdStr2Param", offsetof(DriverExports, Str2Param)},
    {"QdProtocolEngine", offsetof(DriverExports, ProtocolEngine)},
    {"QdAwaitingMessages", offsetof(DriverExports, AwaitingMessages)},
    {"QdStartMeasurement", offsetof(DriverExports, StartMeasurement)},
    {"QdStopMeasurement", offsetof(DriverExports, StopMeasurement)},
    {"QdComState", offsetof(DriverExports, ComState)},
    {"QdGetDevSN", offsetof(DriverExports, GetDevSN)},
    {"QdGetUserInd", offsetof(DriverExports, GetUserInd)},
    {"QdSetCallbacks", offsetof(DriverExports, SetCallbacks)},
    {"QdFindFirstAvailDev", offsetof(DriverExports, FindFirstAvailDev)},
    {"QdCreateDevWindow", offsetof(DriverExports, CreateDevWindow)},
    {"QdCreateRecWindow", offsetof(DriverExports, CreateRecWindow)},
    {"QdProcSamples", offsetof(DriverExports, ProcSamples)},
    {"QdUserInd", offsetof(DriverExports, UserInd)},
    {"QdUserMsg", offsetof(DriverExports, UserMsg)},
};
// exports:end

const size_t kExportCount = sizeof kExports / sizeof kExports[0];
static_assert(sizeof(DriverExports) == kExportCount * sizeof(void *), "every member of DriverExports has a name");

// The places a driver is looked for when none is named, in order.
std::vector<std::string> driverCandidates() {
    std::string dir = host::programDir();
    return {dir + driverFileName(), dir + ".." + host::separator() + driverFileName()};
}

// Loads by bare name (on Linux the soname) through the system's search.
bool driverLoadByName(DriverApi *api, const DriverHints &hints, std::string *why) {
    OsLoadFailure failure;
    api->library = osLibraryLoad(QD_DRIVER_SYSTEM_NAME, false, &failure);
    if (api->library) return true;
    *why = std::string("cannot find the driver ") + QD_DRIVER_SYSTEM_NAME +
           " beside this program, in the build folder above it, or on the system's library path (" +
           failure.text + "). Name it with " + hints.pathOption + ".";
    return false;
}

}  // namespace

const int DRIVER_EXPORT_COUNT = (int)kExportCount;

const char *driverFileName() { return QD_DRIVER_FILE; }

const DriverHints QDACQ_HINTS = {"--driver PATH", "run with --simulate to use the built-in simulated device"};

std::string driverLoadFailureText(const std::string &path, const OsLoadFailure &failure, const DriverHints &hints) {
    std::string text = "cannot load the driver " + path + ": " + failure.text + ".";
    if (failure.kind == OS_LOAD_MISSING_DEPENDENCY) {
        if (QD_D2XX_FROM_VENDOR) {
            text += "\nThe driver needs the FTDI D2XX library " QD_D2XX_FILE ", which is not installed here: install "
                    "the FTDI USB driver (it brings " QD_D2XX_FILE "), or ";
        } else {
            text += "\nThe driver needs the D2XX library " QD_D2XX_FILE " (its libftdi backend, built beside the "
                    "driver); keep it next to the driver or on the library path, or ";
        }
        text += std::string(hints.simulateAdvice) + ".";
    } else if (failure.kind == OS_LOAD_WRONG_BITNESS || failure.kind == OS_LOAD_NOT_A_LIBRARY) {
        text += std::string("\nThe file is not a driver for this program: a ") + (sizeof(void *) == 8 ? "64" : "32") +
                "-bit program needs " + driverFileName() + ".";
    }
    return text;
}

bool driverLoad(DriverApi *api, const std::string &path, const DriverHints &hints, std::string *why) {
    std::vector<std::string> candidates = path.empty() ? driverCandidates() : std::vector<std::string>{path};
    std::string chosen;
    for (const std::string &c : candidates) {
        if (host::fileExists(c)) {
            chosen = host::localPath(c);
            break;
        }
    }
    if (chosen.empty() && !path.empty()) {
        *why = "there is no driver library at " + path + ".";
        return false;
    }
    if (chosen.empty()) {
        // Not beside the program: let the system look for it by name.
        if (!driverLoadByName(api, hints, why)) return false;
        chosen = QD_DRIVER_SYSTEM_NAME;
    } else {
        OsLoadFailure failure;
        api->library = osLibraryLoad(chosen.c_str(), false, &failure);
        if (!api->library) {
            *why = driverLoadFailureText(chosen, failure, hints);
            return false;
        }
    }
    api->path = chosen;
    std::vector<const char *> missing;
    if (!driverBind(api, api->library, &missing)) {
        *why = "the library " + chosen + " is not a Quorvane driver: it lacks " + host::joinNames(missing) + ".";
        driverUnload(api);
        return false;
    }
    return true;
}

bool driverBind(DriverApi *api, OsLibrary library, std::vector<const char *> *missing) {
    DriverExports *exports = api;
    return host::bindSymbols(library, exports, kExports, kExportCount, missing);
}

void driverUnload(DriverApi *api) {
    osLibraryUnload(api->library);
    api->library = nullptr;
}

const char *startResultText(int result) {
    switch (result) {
    case QD_MEAS_STARTED: return "link opened, device information requested";
    case QD_MEAS_LINK_NOT_OPENED: return "the link did not open (no such device, or it is in use)";
    case QD_MEAS_LINK_LIBRARY_FAILED:
        return "the link library could not start, or the connection thread was not created";
    case QD_MEAS_CONNECTING: return "connecting in the background";
    case QD_MEAS_SYSTEM_TOO_OLD: return "Bluetooth LE needs a newer operating system";
    case QD_MEAS_INVALID_CONTEXT: return "invalid context, or the context is not idle";
    case QD_MEAS_BAD_MODE: return "start mode not accepted by the device family";
    case QD_MEAS_NO_ENGINE_THREAD: return "started, but the engine thread could not be created";
    default: return "unknown result";
    }
}
