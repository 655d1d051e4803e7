// context.cpp - the device contexts and model facts as the protocol engine
// sees them: slots, selection, configuration image and device id of a
// context, and the constants of a model ("Link type", "Number of channels",
// image size and channel record size, name).
#include "API/driver/frame/contexts.h"
#include "API/driver/protocol/protocol.h"

bool protoContextOpen(uint16_t ctx) { return ctx < QD_MAX_CONTEXTS && contextInUse(ctx); }

uint16_t protoContextModel(uint16_t ctx) {
    int model = contextModel(ctx);
    return model < 0 ? 0xFFFF : (uint16_t)model;
}

int16_t protoSelectedContext() { return selectedContext(); }

const uint8_t *protoContextImage(uint16_t ctx) { return contextImage(ctx); }

const char *protoContextDeviceId(uint16_t ctx) { return contextDeviceId(ctx); }

const ProtocolFamilyOps *protocolOps(uint16_t model) {
    const ModelEntry *entry = modelEntry(model);
    return entry != nullptr ? entry->family : nullptr;
}

bool protoModelFacts(uint16_t model, ModelFacts *facts) {
    const ModelEntry *entry = modelEntry(model);
    if (entry == nullptr || entry->descriptor == nullptr) return false;
    int channels = modelChannelCount(model);
    int linkType = modelLinkType(model);
    facts->haveChannels = channels >= 0;
    facts->haveLinkType = linkType >= 0;
    facts->channels = channels >= 0 ? (uint16_t)channels : 0;
    facts->linkType = linkType >= 0 ? (uint16_t)linkType : 0;
    facts->imageSize = entry->descriptor->imageLength;
    facts->channelStride = entry->descriptor->stride;
    facts->name = entry->name;
    return true;
}
