// driver_binding.h - the driver library loaded at run time: where a host
// finds it, every export of the public header resolved by name, and what
// went wrong in words a user can act on.
#pragma once

#include <string>
#include <vector>

#include "QuorvaneDrv.h"
#include "os/os.h"

// Every export of the driver, resolved by name: the functions, then the
// three callback variables (their addresses). A record of pointers only.
struct DriverExports {
    decltype(&QdEnumDevices) EnumDevices = nullptr;
    decltype(&QdOpenDevContext) OpenDevContext = nullptr;
    decltype(&QdSelectDevContext) SelectDevContext = nullptr;
    decltype(&QdGetSelectedDevContext) GetSelectedDevContext = nullptr;
    decltype(&QdCloseDevContext) CloseDevContext = nullptr;
    decltype(&QdGetDevName) GetDevName = nullptr;
    decltype(&QdGetCapConfig) GetCapConfig = nullptr;
    decltype(&QdGetDevConfig) GetDevConfig = nullptr;
    decltype(&QdSetDevConfig) SetDevConfig = nullptr;
    decltype(&QdChangeDevice) ChangeDevice = nullptr;
    decltype(&QdDevServices) DevServices = nullptr;
    decltype(&QdEnumParams) EnumParams = nullptr;
    decltype(&QdParamInfo) ParamInfo = nullptr;
    decltype(&QdParamExists) ParamExists = nullptr;
    decltype(&QdGetParam) GetParam = nullptr;
    decltype(&QdSetParam) SetParam = nullptr;
    decltype(&QdGetOptNum) GetOptNum = nullptr;
    decltype(&QdLockParam) LockParam = nullptr;
    decltype(&QdSetDefaults) SetDefaults = nullptr;
    decltype(&QdParseParamUnit) ParseParamUnit = nullptr;
    decltype(&QdParam2Str) Param2Str = nullptr;
    decltype(&QdParamList2Str) ParamList2Str = nullptr;
    decltype(&QdStr2Param) Str2Param = nullptr;
    decltype(&QdProtocolEngine) ProtocolEngine = nullptr;
    decltype(&QdAwaitingMessages) AwaitingMessages = nullptr;
    decltype(&QdStartMeasurement) StartMeasurement = nullptr;
    decltype(&QdStopMeasurement) StopMeasurement = nullptr;
    decltype(&QdComState) ComState = nullptr;
    decltype(&QdGetDevSN) GetDevSN = nullptr;
    decltype(&QdGetUserInd) GetUserInd = nullptr;
    decltype(&QdSetCallbacks) SetCallbacks = nullptr;
    decltype(&QdFindFirstAvailDev) FindFirstAvailDev = nullptr;
    decltype(&QdCreateDevWindow) CreateDevWindow = nullptr;
    decltype(&QdCreateRecWindow) CreateRecWindow = nullptr;
    QdProcSamplesFn *ProcSamples = nullptr;
    QdUserIndFn *UserInd = nullptr;
    QdUserMsgFn *UserMsg = nullptr;
};

struct DriverApi : DriverExports {
    OsLibrary library = nullptr;
    std::string path;   // what was loaded
};

// Number of names the driver exports.
extern const int DRIVER_EXPORT_COUNT;

// The driver's file name for this program's bitness: QuorvaneDrv64.dll,
// QuorvaneDrv.dll or libQuorvaneDrv.so.
const char *driverFileName();

// How a program lets its user name the driver and reach the simulated
// device, for the advice in the error texts.
struct DriverHints {
    const char *pathOption;       // "--driver PATH"
    const char *simulateAdvice;   // "run with --simulate to use the built-in simulated device"
};
extern const DriverHints QDACQ_HINTS;

// Loads the driver: the given path, or else the driver file beside the
// program, then in the build folder above it (tools/ sits one level below),
// then by bare name through the system's search (an installed program finds
// the library of its installation there). On failure returns false and puts
// a plain-words explanation into *why.
bool driverLoad(DriverApi *api, const std::string &path, const DriverHints &hints, std::string *why);
// Resolves every export from a loaded library into api; the names the
// library lacks go to *missing. True when it has them all.
bool driverBind(DriverApi *api, OsLibrary library, std::vector<const char *> *missing);
void driverUnload(DriverApi *api);

// Why an existing library file did not load, with what to do about it.
std::string driverLoadFailureText(const std::string &path, const OsLoadFailure &failure, const DriverHints &hints);

// The meaning of a QdStartMeasurement result, in words.
const char *startResultText(int result);
