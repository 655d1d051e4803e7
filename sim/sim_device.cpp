// sim_device.cpp - the simulated device. (Placeholder until it is built.)
#include "sim/sim_device.h"
