// fuzz_frame_stubs.cpp - the engine lock and the protocol families that the
// model table names, for fuzz targets built of the contexts and parameters
// without the rest of the driver: no context ever measures (the contexts'
// hooks stay unset), and the one thread of the target needs no lock.
#include <cstdint>

#include "API/driver/protocol/protocol.h"

const ProtocolFamilyOps halvexOps = {};
const ProtocolFamilyOps brevOps = {};

void engineLockAcquire() {}
void engineLockRelease() {}
