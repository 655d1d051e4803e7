/* public_header.c - the public header compiled as C, the way a host written
 * in C sees it. The layout table below is compared with the C++ view in
 * public_header_test.cpp. */
#undef QD_BUILDING_DRIVER
#include "QuorvaneDrv.h"

#include <stddef.h>

const size_t qdCLayout[] = {
    sizeof(QdValue),        sizeof(QdDomain),
    sizeof(QdOption),       offsetof(QdOption, value),        offsetof(QdOption, comment),
    sizeof(QdParamDef),     offsetof(QdParamDef, name),       offsetof(QdParamDef, group),
    offsetof(QdParamDef, type), offsetof(QdParamDef, flags),  offsetof(QdParamDef, domain),
    offsetof(QdParamDef, unit), offsetof(QdParamDef, def),    offsetof(QdParamDef, dependents),
    offsetof(QdParamDef, help),
    sizeof(QdParamValue),   offsetof(QdParamValue, value),    offsetof(QdParamValue, type),
    sizeof(QdCapConfig),    offsetof(QdCapConfig, currentSet), offsetof(QdCapConfig, sites),
    sizeof(ChannelSamples), offsetof(ChannelSamples, samples), offsetof(ChannelSamples, signalState),
    offsetof(ChannelSamples, rateMask),
    sizeof(DiscoveryResult), offsetof(DiscoveryResult, model), offsetof(DiscoveryResult, serial),
    offsetof(DiscoveryResult, ident),
};
const size_t qdCLayoutCount = sizeof qdCLayout / sizeof qdCLayout[0];

/* Every function of the interface, taken by its C name. */
typedef void (*QdAnyFn)(void);
const QdAnyFn qdCFunctions[] = {
    (QdAnyFn)QdEnumDevices,    (QdAnyFn)QdOpenDevContext,  (QdAnyFn)QdSelectDevContext,
    (QdAnyFn)QdGetSelectedDevContext, (QdAnyFn)QdCloseDevContext, (QdAnyFn)QdGetDevName,
    (QdAnyFn)QdGetCapConfig,   (QdAnyFn)QdGetDevConfig,    (QdAnyFn)QdSetDevConfig,
    (QdAnyFn)QdChangeDevice,   (QdAnyFn)QdDevServices,     (QdAnyFn)QdEnumParams,
    (QdAnyFn)QdParamInfo,      (QdAnyFn)QdParamExists,     (QdAnyFn)QdGetParam,
    (QdAnyFn)QdSetParam,       (QdAnyFn)QdGetOptNum,       (QdAnyFn)QdLockParam,
    (QdAnyFn)QdSetDefaults,    (QdAnyFn)QdParseParamUnit,  (QdAnyFn)QdParam2Str,
    (QdAnyFn)QdParamList2Str,  (QdAnyFn)QdStr2Param,       (QdAnyFn)QdProtocolEngine,
    (QdAnyFn)QdAwaitingMessages, (QdAnyFn)QdStartMeasurement, (QdAnyFn)QdStopMeasurement,
    (QdAnyFn)QdComState,       (QdAnyFn)QdGetDevSN,        (QdAnyFn)QdGetUserInd,
    (QdAnyFn)QdSetCallbacks,   (QdAnyFn)QdFindFirstAvailDev, (QdAnyFn)QdCreateDevWindow,
    (QdAnyFn)QdCreateRecWindow,
};
const size_t qdCFunctionCount = sizeof qdCFunctions / sizeof qdCFunctions[0];

/* A C host's callbacks have the types the header names. */
static int QDCALL cSamples(uint16_t context, uint16_t phase, uint16_t sumState, ChannelSamples *channels) {
    (void)context;
    (void)phase;
    (void)sumState;
    return channels != NULL && channels[0].count == 3 ? 7 : 0;
}

int qdCCallSamples(void) {
    QdProcSamplesFn fn = cSamples;
    ChannelSamples block;
    block.count = 3;
    block.samples = NULL;
    block.signalState = 0;
    block.rateMask = 0;
    return fn(1, 2, 0, &block);
}
