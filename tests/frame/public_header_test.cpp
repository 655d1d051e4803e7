// The public header seen from C matches the C++ view: record sizes and
// offsets, every function by its unmangled name, the callback types.
#include <gtest/gtest.h>

#include <cstddef>

#include "QuorvaneDrv.h"

extern "C" {
extern const size_t qdCLayout[];
extern const size_t qdCLayoutCount;
typedef void (*QdAnyFn)(void);
extern const QdAnyFn qdCFunctions[];
extern const size_t qdCFunctionCount;
int qdCCallSamples(void);
}

TEST(PublicHeader, RecordLayoutIsTheSameInC) {
    const size_t cpp[] = {
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
    ASSERT_EQ(sizeof cpp / sizeof cpp[0], qdCLayoutCount);
    for (size_t i = 0; i < qdCLayoutCount; ++i) EXPECT_EQ(cpp[i], qdCLayout[i]) << "entry " << i;
}

TEST(PublicHeader, CFunctionNamesAreTheExportedFunctions) {
    const QdAnyFn cpp[] = {
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
    ASSERT_EQ(34u, qdCFunctionCount);
    ASSERT_EQ(sizeof cpp / sizeof cpp[0], qdCFunctionCount);
    for (size_t i = 0; i < qdCFunctionCount; ++i) EXPECT_EQ(cpp[i], qdCFunctions[i]) << "function " << i;
}

TEST(PublicHeader, CCallbackTypesAreCallable) { EXPECT_EQ(7, qdCCallSamples()); }
