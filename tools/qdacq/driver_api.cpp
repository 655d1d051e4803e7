// driver_api.cpp - finding, loading and binding the driver library.
#include "tools/qdacq/driver_api.h"

#include <vector>

const char *driverFileName() {
#ifdef _WIN32
    return sizeof(void *) == 8 ? "QuorvaneDrv64.dll" : "QuorvaneDrv.dll";
#else
    return "libQuorvaneDrv.so";
#endif
}

template <typename T>
static bool bind(host::Library lib, const char *name, T *slot, std::string *missing) {
    *slot = reinterpret_cast<T>(host::symbol(lib, name));
    if (*slot == nullptr) {
        if (!missing->empty()) *missing += ", ";
        *missing += name;
    }
    return *slot != nullptr;
}

// Explains a failed load of an existing driver file.
static std::string explain(const std::string &path, unsigned long code, const std::string &why) {
    std::string text = "cannot load the driver " + path + ": " + why + ".";
    if (host::loadErrorIsMissingDependency(code, why, path)) {
#ifdef _WIN32
        text += "\nThe driver needs the FTDI D2XX library FTD2XX.dll, which is not installed here: install the FTDI "
                "USB driver (it brings FTD2XX.dll), or run with --simulate to use the built-in simulated device.";
#else
        text += std::string("\nThe driver needs the D2XX library libqvftd2xx.so") +
                " (its libftdi backend, built beside the driver); keep it next to the driver or on the library "
                "path, or run with --simulate to use the built-in simulated device.";
#endif
    } else if (host::loadErrorIsBadFormat(code, why)) {
        text += std::string("\nThe file is not a driver for this program: a ") + (sizeof(void *) == 8 ? "64" : "32") +
                "-bit program needs " + driverFileName() + ".";
    }
    return text;
}

bool driverLoad(DriverApi *api, const std::string &path, std::string *why) {
    std::vector<std::string> candidates;
    if (!path.empty()) {
        candidates.push_back(path);
    } else {
        std::string dir = host::programDir();
        candidates.push_back(dir + driverFileName());
        candidates.push_back(dir + ".." + host::separator() + driverFileName());
    }
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
    std::string error;
    if (chosen.empty()) {
        // Not beside the program: let the system look for it by name.
        chosen = driverFileName();
        api->library = host::load(chosen, false, &error);
        if (!api->library) {
            *why = std::string("cannot find the driver ") + driverFileName() +
                   " beside this program, in the build folder above it, or on the system's library path (" + error +
                   "). Name it with --driver PATH.";
            return false;
        }
    } else {
        api->library = host::load(chosen, false, &error);
        if (!api->library) {
            *why = explain(chosen, host::lastLoadError(), error);
            return false;
        }
    }
    api->path = chosen;

    std::string missing;
    host::Library l = api->library;
    bind(l, "QdEnumDevices", &api->EnumDevices, &missing);
    bind(l, "QdOpenDevContext", &api->OpenDevContext, &missing);
    bind(l, "QdSelectDevContext", &api->SelectDevContext, &missing);
    bind(l, "QdCloseDevContext", &api->CloseDevContext, &missing);
    bind(l, "QdGetDevName", &api->GetDevName, &missing);
    bind(l, "QdEnumParams", &api->EnumParams, &missing);
    bind(l, "QdParamInfo", &api->ParamInfo, &missing);
    bind(l, "QdParamExists", &api->ParamExists, &missing);
    bind(l, "QdGetParam", &api->GetParam, &missing);
    bind(l, "QdSetParam", &api->SetParam, &missing);
    bind(l, "QdParam2Str", &api->Param2Str, &missing);
    bind(l, "QdParamList2Str", &api->ParamList2Str, &missing);
    bind(l, "QdStr2Param", &api->Str2Param, &missing);
    bind(l, "QdProtocolEngine", &api->ProtocolEngine, &missing);
    bind(l, "QdStartMeasurement", &api->StartMeasurement, &missing);
    bind(l, "QdStopMeasurement", &api->StopMeasurement, &missing);
    bind(l, "QdComState", &api->ComState, &missing);
    bind(l, "QdGetDevSN", &api->GetDevSN, &missing);
    bind(l, "QdGetUserInd", &api->GetUserInd, &missing);
    bind(l, "QdSetCallbacks", &api->SetCallbacks, &missing);
    if (!missing.empty()) {
        *why = "the library " + chosen + " is not a Quorvane driver: it lacks " + missing + ".";
        driverUnload(api);
        return false;
    }
    return true;
}

void driverUnload(DriverApi *api) {
    if (api->library) host::unload(api->library);
    api->library = nullptr;
}

const char *startResultText(int result) {
    switch (result) {
    case 0: return "link opened, device information requested";
    case 1: return "the link did not open (no such device, or it is in use)";
    case 2: return "the link library could not start, or the connection thread was not created";
    case 3: return "connecting in the background";
    case 4: return "Bluetooth LE needs a newer operating system";
    case -1: return "invalid context, or the context is not idle";
    case -2: return "start mode not accepted by the device family";
    case -3: return "started, but the engine thread could not be created";
    default: return "unknown result";
    }
}
