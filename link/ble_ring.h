// ble_ring.h - the receive ring of a Bluetooth LE link: a single-producer,
// single-consumer byte queue of fixed storage.
//
// The producer is the Bluetooth stack's thread (the value-changed callback),
// the consumer the thread that receives from the link. Only the producer
// moves the write position and only the consumer the read position. Each
// position is published with release ordering after the bytes it covers were
// written (producer) or read (consumer), and read with acquire ordering by
// the other side, so a byte is never seen before it is stored nor
// overwritten before it was taken.
//
// Empty when write equals read; full when advancing the write position would
// make it equal to the read position, so at most SIZE - 1 bytes are held.
#pragma once

#include <atomic>
#include <cstdint>

template <uint32_t SIZE>
struct SpscRing {
    uint8_t storage[SIZE];
    std::atomic<uint32_t> writePos{0};
    std::atomic<uint32_t> readPos{0};

    // Producer: appends bytes in order until the ring is full; the rest are
    // dropped. Returns how many were stored.
    uint32_t push(const uint8_t *data, uint32_t size) {
        uint32_t w = writePos.load(std::memory_order_relaxed);
        const uint32_t r = readPos.load(std::memory_order_acquire);
        uint32_t stored = 0;
        for (; stored < size; ++stored) {
            uint32_t next = w + 1 == SIZE ? 0 : w + 1;
            if (next == r) break;
            storage[w] = data[stored];
            w = next;
        }
        writePos.store(w, std::memory_order_release);
        return stored;
    }

    // Consumer: the number of bytes held.
    uint32_t count() const {
        uint32_t w = writePos.load(std::memory_order_acquire);
        uint32_t r = readPos.load(std::memory_order_relaxed);
        return w >= r ? w - r : SIZE - r + w;
    }

    // Consumer: takes the oldest byte; false when the ring is empty.
    bool pop(uint8_t *out) {
        const uint32_t r = readPos.load(std::memory_order_relaxed);
        if (r == writePos.load(std::memory_order_acquire)) return false;
        *out = storage[r];
        readPos.store(r + 1 == SIZE ? 0 : r + 1, std::memory_order_release);
        return true;
    }
};
