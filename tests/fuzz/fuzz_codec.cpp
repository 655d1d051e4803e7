// fuzz_codec.cpp - arbitrary byte streams through the frame receiver, the
// trace line writer and the validation of all three code tables. The first
// byte picks the table and the context index; the rest is the link stream.
#include <cstddef>
#include <cstdint>

#include "API/driver/protocol/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const MessageTables *tables[3] = {&halvexTables, &brevTables, &searchTables};
    const MessageTables *t = tables[data[0] % 3];
    uint16_t ctx = (uint16_t)((data[0] >> 2) % 10);
    Receiver rx;
    rxReset(&rx);
    for (size_t i = 1; i < size; i++) {
        uint32_t n = 0;
        RxEvent e = rxFeed(&rx, data[i], ctx, &n);
        if (e == RX_FRAME) {
            // A complete body always fits the body buffer.
            if (n < 1 || n > MSG_MAX_BODY) __builtin_trap();
            msgTrace(t, ctx, rx.body, n);
            msgValidate(t, ctx, rx.body, n);
        }
        if ((rx.flags & RX_READING_LENGTH) && rx.shift > 28) __builtin_trap();
    }
    return 0;
}
