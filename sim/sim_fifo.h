// sim_fifo.h - the simulator's byte queue of fixed capacity: the bytes a
// transceiver holds for the host and the copy of what the host wrote
// (sim/ftsim*), and the transmit queue of a simulated device (sim/sim_*).
#pragma once

#include <cstddef>
#include <cstdint>

template <size_t N>
struct Fifo {
    uint8_t data[N];
    size_t head = 0;  // next to take
    size_t count = 0;

    // Queues what fits and drops the rest; returns how many were queued.
    size_t push(const uint8_t *bytes, size_t size) {
        size_t n = 0;
        for (; n < size && count < N; ++n, ++count) data[(head + count) % N] = bytes[n];
        return n;
    }
    // Queues all of the bytes, or none of them when they do not all fit.
    bool pushAll(const uint8_t *bytes, size_t size) {
        if (size > N - count) return false;
        push(bytes, size);
        return true;
    }
    // Keeps the newest bytes: the oldest make room.
    void pushOverwrite(const uint8_t *bytes, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (count == N) {
                head = (head + 1) % N;
                --count;
            }
            data[(head + count) % N] = bytes[i];
            ++count;
        }
    }
    size_t take(uint8_t *out, size_t max) {
        size_t n = 0;
        for (; n < max && count > 0; ++n, --count, head = (head + 1) % N) out[n] = data[head];
        return n;
    }
    void clear() { head = count = 0; }
};
