// paramapi.cpp - parameter access api.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"

extern "C" uint16_t QDCALL QdEnumParams(int16_t channel, uint16_t *buffer, uint16_t size) {
    qdLog("{QdEnumParams()");
    qdLog("\n");
    (void)channel;
    (void)buffer;
    (void)size;
    qdLog("!%s\n", "}QdEnumParams: not available");
    return 0;
}

extern "C" const QdParamDef * QDCALL QdParamInfo(uint16_t id, int16_t channel) {
    qdLog("{QdParamInfo()");
    qdLog("\n");
    (void)id;
    (void)channel;
    qdLog("!%s\n", "}QdParamInfo: not available");
    return nullptr;
}

extern "C" int QDCALL QdParamExists(uint16_t id, int16_t channel) {
    qdLog("{QdParamExists()");
    qdLog("\n");
    (void)id;
    (void)channel;
    qdLog("!%s\n", "}QdParamExists: not available");
    return 0;
}

extern "C" int QDCALL QdGetParam(uint16_t id, uint16_t channel, QdParamValue *value) {
    qdLog("{QdGetParam()");
    qdLog("\n");
    (void)id;
    (void)channel;
    (void)value;
    qdLog("!%s\n", "}QdGetParam: not available");
    return 1;
}

extern "C" int QDCALL QdSetParam(uint16_t id, uint16_t channel, const QdValue *value) {
    qdLog("{QdSetParam()");
    qdLog("\n");
    (void)id;
    (void)channel;
    (void)value;
    qdLog("!%s\n", "}QdSetParam: not available");
    return 9;
}

extern "C" uint16_t QDCALL QdGetOptNum(uint16_t id, int16_t channel) {
    qdLog("{QdGetOptNum()");
    qdLog("\n");
    (void)id;
    (void)channel;
    qdLog("!%s\n", "}QdGetOptNum: not available");
    return 0;
}

extern "C" int QDCALL QdLockParam(uint16_t id, int16_t channel, int lock) {
    qdLog("{QdLockParam()");
    qdLog("\n");
    (void)id;
    (void)channel;
    (void)lock;
    qdLog("!%s\n", "}QdLockParam: not available");
    return 2;
}

extern "C" int QDCALL QdSetDefaults(int16_t selector) {
    qdLog("{QdSetDefaults(%i)", selector);
    qdLog("\n");
    qdLog("!%s\n", "}QdSetDefaults: Context not selected");
    return 3;
}

extern "C" const char * QDCALL QdParseParamUnit(const char *unit, double *multiplier) {
    qdLog("{QdParseParamUnit()");
    qdLog("\n");
    (void)unit;
    (void)multiplier;
    qdLog("!%s\n", "}QdParseParamUnit: not available");
    return nullptr;
}
