// driver_api.h - the driver library loaded at run time: where a host finds
// it, and its functions resolved by name from the public header's
// declarations.
#pragma once

#include <string>

#include "QuorvaneDrv.h"
#include "tools/qdacq/platform.h"

struct DriverApi {
    host::Library library = nullptr;
    std::string path;   // what was loaded

    decltype(&QdEnumDevices) EnumDevices = nullptr;
    decltype(&QdOpenDevContext) OpenDevContext = nullptr;
    decltype(&QdSelectDevContext) SelectDevContext = nullptr;
    decltype(&QdCloseDevContext) CloseDevContext = nullptr;
    decltype(&QdGetDevName) GetDevName = nullptr;
    decltype(&QdEnumParams) EnumParams = nullptr;
    decltype(&QdParamInfo) ParamInfo = nullptr;
    decltype(&QdParamExists) ParamExists = nullptr;
    decltype(&QdGetParam) GetParam = nullptr;
    decltype(&QdSetParam) SetParam = nullptr;
    decltype(&QdParam2Str) Param2Str = nullptr;
    decltype(&QdParamList2Str) ParamList2Str = nullptr;
    decltype(&QdStr2Param) Str2Param = nullptr;
    decltype(&QdProtocolEngine) ProtocolEngine = nullptr;
    decltype(&QdStartMeasurement) StartMeasurement = nullptr;
    decltype(&QdStopMeasurement) StopMeasurement = nullptr;
    decltype(&QdComState) ComState = nullptr;
    decltype(&QdGetDevSN) GetDevSN = nullptr;
    decltype(&QdGetUserInd) GetUserInd = nullptr;
    decltype(&QdSetCallbacks) SetCallbacks = nullptr;
};

// The driver's file name for this program's bitness: QuorvaneDrv64.dll,
// QuorvaneDrv.dll or libQuorvaneDrv.so.
const char *driverFileName();

// Loads the driver: the given path, or else the driver file beside the
// program, then in the build folder above it (tools/ sits one level below),
// then by bare name through the system's search. On failure returns false and
// puts a plain-words explanation into *why.
bool driverLoad(DriverApi *api, const std::string &path, std::string *why);
void driverUnload(DriverApi *api);

// The meaning of a QdStartMeasurement result, in words.
const char *startResultText(int result);
