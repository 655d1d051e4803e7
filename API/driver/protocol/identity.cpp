// identity.cpp - the identity check of a device's REP_GET_DEV_INFO, the same
// in both families: the maker must be this maker, the model the context's
// model; then the serial number is kept. The reply has one layout in every
// family (its offsets are in halvex_wire.h, which the device search reads
// too).
#include <cstring>

#include "API/driver/protocol/halvex_wire.h"
#include "API/driver/protocol/protocol.h"

using namespace halvex;

namespace {

// A text field of a device message equals text (NUL-terminated within the
// field).
bool fieldEquals(const uint8_t *field, size_t size, const char *text) {
    size_t len = strlen(text);
    return len < size && memcmp(field, text, len) == 0 && field[len] == 0;
}

// Copies a text field of size bytes into out (size + 1 bytes), stopping at
// its NUL.
void fieldCopy(char *out, const uint8_t *field, size_t size) {
    size_t i = 0;
    while (i < size && field[i] != 0) {
        out[i] = (char)field[i];
        i++;
    }
    out[i] = '\0';
}

}  // namespace

bool protoCheckIdentity(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    uint16_t ctx = ps->context;
    char model[DEV_INFO_MODEL_SIZE + 1];
    fieldCopy(model, body + DEV_INFO_MODEL_AT, DEV_INFO_MODEL_SIZE);
    if (!fieldEquals(body + DEV_INFO_MAKER_AT, DEV_INFO_MAKER_SIZE, DEV_INFO_MAKER)) {
        reportUserMessage(ctx, MSG_UNSUPPORTED_MODEL, model);
        return false;
    }
    ModelFacts facts;
    if (!protoModelFacts(protoContextModel(ctx), &facts) || facts.name == nullptr ||
        !fieldEquals(body + DEV_INFO_MODEL_AT, DEV_INFO_MODEL_SIZE, facts.name)) {
        reportUserMessage(ctx, MSG_WRONG_MODEL, model);
        return false;
    }
    // The serial number fills the rest of the message, up to 13 bytes.
    uint32_t available = n > DEV_INFO_SERIAL_AT ? n - DEV_INFO_SERIAL_AT : 0;
    if (available > DEV_INFO_SERIAL_SIZE) available = DEV_INFO_SERIAL_SIZE;
    fieldCopy(ps->serial, body + DEV_INFO_SERIAL_AT, available);
    return true;
}
