// brev.cpp - the protocol family of the Brev model (model index 0).
//
// The Brev state machine is not built yet: its start refuses every
// measurement (-1), so a Brev context never leaves APP_IDLE and the other
// operations only answer for an idle context. The shared pieces it will use
// are in place: the Brev code tables (codec.cpp) and the NOT_RAW_DATA
// decoding (samplesHandleRawData).
#include "API/driver/protocol/protocol.h"

enum : uint16_t { BREV_APP_MES_PAUSE = 6 };

static uint32_t brevStep(uint16_t ctx) {
    return protocolState[ctx].state == APP_IDLE ? 0 : 1;
}

static int32_t brevStart(uint16_t, uint16_t) { return -1; }

static int32_t brevStop(uint16_t ctx) {
    return protocolState[ctx].state == APP_IDLE ? 0 : 1;
}

static int32_t brevLinkLost(uint16_t ctx, uint16_t disc) { return protoLinkLostNote("QB", ctx, disc); }

static int32_t brevIndicator(uint16_t ctx, uint16_t type, uint16_t sub) {
    const ProtocolState *ps = &protocolState[ctx];
    switch (type) {
    case QD_IND_LINK:
        if (ps->state == APP_IDLE) return 0;
        if (protoTimerRunning(ps, INT_T2 - INT_T1)) return 2;
        return ps->connected ? 1 : 0;
    case QD_IND_BATTERY:
        return ps->battery;
    case QD_IND_PAUSE:
        return ps->state == BREV_APP_MES_PAUSE ? 1 : 0;
    case QD_IND_SIGNAL:
        if (sub == 0) return ps->brev.sumState;
        if (sub == 1) return ps->brev.channelState;
        return -1;
    default:
        return -1;
    }
}

const ProtocolFamilyOps brevOps = {brevStep, brevStart, brevStop, brevLinkLost, brevIndicator};
