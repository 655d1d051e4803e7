// blering.h - the Bluetooth LE link's receive path as a figure of qdbench
// (bench/blering.cpp).
#pragma once

#include <cstdint>

// A simulated BLE device notifies bytes within the credit the link gives
// it while they are received through the link one at a time (RecvLink, with
// the link's freed-space reports): first both sides in turns on one thread
// (the cost of the path alone), then the device on a thread of its own.
// Prints bytes per CPU-second beside the target of 100 times the heaviest
// device's byte rate. 0, or 2 when the set-up fails or a byte went astray.
int bleRingBench(uint64_t bytes, double heaviestBytesPerSecond);
