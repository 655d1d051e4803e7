// paramtext.cpp - parameter text conversion.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"

extern "C" char * QDCALL QdParam2Str(uint16_t id, uint16_t channel, char *buffer) {
    qdLog("{QdParam2Str()");
    qdLog("\n");
    (void)id;
    (void)channel;
    (void)buffer;
    qdLog("!%s\n", "}QdParam2Str: not available");
    return nullptr;
}

extern "C" char * QDCALL QdParamList2Str(const QdParamDef *definition, char *buffer, char **pointers) {
    qdLog("{QdParamList2Str()");
    qdLog("\n");
    (void)definition;
    (void)buffer;
    (void)pointers;
    qdLog("!%s\n", "}QdParamList2Str: not available");
    return nullptr;
}

extern "C" int QDCALL QdStr2Param(const char *text, uint16_t id, uint16_t channel) {
    qdLog("{QdStr2Param()");
    qdLog("\n");
    (void)text;
    (void)id;
    (void)channel;
    qdLog("!%s\n", "}QdStr2Param: not available");
    return 4;
}
