// ftdi_reader_stress_test.cpp - the Linux D2XX library's read-ahead with
// two threads, as its reader thread and the D2XX calls use it: bulk-in
// transfers (some packets flagged with a line error) go in on one thread,
// bytes come out on this one. Every data byte must arrive once and in order,
// every flagged packet be reported, and the end of reading be told only
// after the last byte. The tsan preset runs it under ThreadSanitizer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "link/ftdi/ftdi_core.h"

namespace {

uint8_t pattern(uint32_t i) { return (uint8_t)(i * 13 + i / 253); }

TEST(FtdiReaderStress, TransfersInAndBytesOutOnTwoThreads) {
    const uint32_t packets = 40000, packetSize = 64, perTransfer = 8;
    static uint8_t storage[4096];
    static FtbReadAhead ahead;
    ftbReadAheadMake(&ahead);
    ftbReadAheadReset(&ahead, storage, sizeof storage);
    uint32_t flaggedIn = 0, reported = 0;
    std::thread reader([&] {
        std::vector<uint8_t> transfer(packetSize * perTransfer);
        uint32_t byte = 0;
        for (uint32_t p = 0; p < packets;) {
            if (ftbReadAheadFree(&ahead) < transfer.size()) {
                std::this_thread::yield();
                continue;
            }
            for (uint32_t k = 0; k < perTransfer; ++k, ++p) {
                uint8_t *packet = &transfer[k * packetSize];
                packet[0] = 0x11;
                packet[1] = p % 97 == 0 ? 0x68 : 0x60;  // now and then a framing error
                flaggedIn += p % 97 == 0;
                for (uint32_t i = 2; i < packetSize; ++i) packet[i] = pattern(byte++);
            }
            EXPECT_EQ(ftbReadAheadPut(&ahead, transfer.data(), transfer.size(), packetSize).dropped, 0u);
            uint8_t line = 0;
            reported += ftbReadAheadLineReport(&ahead, p * 1000, &line);
        }
        ftbReadAheadEnd(&ahead, FT_DEVICE_NOT_FOUND);
    });
    const uint32_t total = packets * (packetSize - 2);
    uint32_t got = 0;
    FT_STATUS status = FT_OK;
    while (status == FT_OK) {
        uint32_t waiting = 0;
        status = ftbReadAheadQueue(&ahead, &waiting);
        uint8_t out[300];
        size_t n = 0;
        if (status == FT_OK) status = ftbReadAheadTake(&ahead, out, sizeof out, &n);
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], pattern(got + (uint32_t)i)) << "byte " << got + i;
        got += (uint32_t)n;
    }
    reader.join();
    EXPECT_EQ(status, (FT_STATUS)FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(got, total);
    EXPECT_EQ(reported, flaggedIn);
}

}  // namespace
