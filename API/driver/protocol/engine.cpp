// engine.cpp - protocol engine and api.
//
// Not built yet: every function logs its entry and exit and returns its
// documented error value.
#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/hooks.h"

extern "C" {
QDDATA QdProcSamplesFn QdProcSamples = nullptr;
QDDATA QdUserIndFn QdUserInd = nullptr;
QDDATA QdUserMsgFn QdUserMsg = nullptr;
}

extern "C" uint32_t QDCALL QdProtocolEngine(void) {
    qdLog("{QdProtocolEngine()");
    qdLog("\n");
    qdLog("!%s\n", "}QdProtocolEngine: not available");
    return 0;
}

extern "C" int32_t QDCALL QdAwaitingMessages(void) {
    qdLog("{QdAwaitingMessages()");
    qdLog("\n");
    qdLog("!%s\n", "}QdAwaitingMessages: not available");
    return 0;
}

extern "C" int32_t QDCALL QdStartMeasurement(uint16_t context, uint16_t flags) {
    qdLog("{QdStartMeasurement(%i...)", context);
    qdLog("\n");
    (void)flags;
    qdLog("!%s\n", "}QdStartMeasurement: -1");
    return -1;
}

extern "C" int32_t QDCALL QdStopMeasurement(uint16_t context) {
    qdLog("{QdStopMeasurement(%i)", context);
    qdLog("\n");
    qdLog("!%s\n", "}QdStopMeasurement: -1");
    return -1;
}

extern "C" int32_t QDCALL QdComState(uint16_t context) {
    qdLog("{QdComState()");
    qdLog("\n");
    (void)context;
    qdLog("!%s\n", "}QdComState: not available");
    return 0;
}

extern "C" const char * QDCALL QdGetDevSN(uint16_t context) {
    qdLog("{QdGetDevSN()");
    qdLog("\n");
    (void)context;
    qdLog("!%s\n", "}QdGetDevSN: not available");
    return nullptr;
}

extern "C" int32_t QDCALL QdGetUserInd(uint16_t context, uint16_t type, uint16_t sub) {
    qdLog("{QdGetUserInd()");
    qdLog("\n");
    (void)context;
    (void)type;
    (void)sub;
    qdLog("!%s\n", "}QdGetUserInd: not available");
    return -1;
}

extern "C" void QDCALL QdSetCallbacks(QdProcSamplesFn procSamples, QdUserIndFn userInd, QdUserMsgFn userMsg) {
    qdLog("{QdSetCallbacks()");
    qdLog("\n");
    (void)procSamples;
    (void)userInd;
    (void)userMsg;
    qdLog("!%s\n", "}QdSetCallbacks: not available");
}
void engineOnAttach() {
    QdProcSamples = nullptr;
    QdUserInd = nullptr;
    QdUserMsg = nullptr;
}
void engineShutdownContext(uint16_t) {}
void engineResetContext(uint16_t) {}
void engineThreadOnDetach() {}
