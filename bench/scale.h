// scale.h - the scale figures of qdbench (bench/scale.cpp): CPU per device
// for 1, 2, 5 and 10 devices at the heaviest configuration on the engine
// thread, per link kind, with the simulator's share and the driver's apart;
// and the time from QdStartMeasurement to the first sample, per link kind.
#pragma once

#include <cstdint>
#include <vector>

struct SimDevice;

// From qdbench.cpp: the heaviest configuration's image of a Halvex+ 4 as
// the driver sends it, and a device put into measurement with an image
// through its command interface (the replies thrown away).
std::vector<uint8_t> heavyImage();
void startDevice(SimDevice *dev, const std::vector<uint8_t> &image, uint32_t now);

// Prints the table: device counts up to maxDevices, rounds of `seconds`
// each, the median of `rounds`; then the first-sample times of `starts`
// starts per link kind. 0, or 2 when the set-up fails.
int scaleBench(int maxDevices, double seconds, int rounds, int starts);
