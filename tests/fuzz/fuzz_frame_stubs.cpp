// fuzz_frame_stubs.cpp - the calls that the context functions make into the
// protocol engine and the settings window, and the protocol families the
// model table names, for fuzz targets built without them: no context ever
// measures, no window exists, and the one thread of the target needs no lock.
#include <cstdint>

#include "API/driver/frame/hooks.h"
#include "API/driver/protocol/protocol.h"

const ProtocolFamilyOps halvexOps = {};
const ProtocolFamilyOps brevOps = {};

void engineShutdownContext(uint16_t) {}
void engineResetContext(uint16_t) {}
void uiCloseForSelectionChange() {}
void engineLockAcquire() {}
void engineLockRelease() {}
