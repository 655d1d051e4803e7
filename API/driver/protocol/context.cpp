// context.cpp - the device contexts and model facts as the protocol engine
// sees them. (Waits for the model tables and context slots: until then no
// context is open.)
#include "API/driver/protocol/protocol.h"

bool protoContextOpen(uint16_t) { return false; }
uint16_t protoContextModel(uint16_t) { return 0xFFFF; }
int16_t protoSelectedContext() { return -1; }
const uint8_t *protoContextImage(uint16_t) { return nullptr; }
const char *protoContextDeviceId(uint16_t) { return nullptr; }
bool protoModelFacts(uint16_t, ModelFacts *) { return false; }
