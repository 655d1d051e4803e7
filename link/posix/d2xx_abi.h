// d2xx_abi.h - how the D2XX functions are called on Linux: the default
// convention; libraries that implement them (libqvftd2xx.so, the simulator)
// are built with hidden symbols and export these by name.
#pragma once

#define FT_CALL
#define FT_EXPORT __attribute__((visibility("default")))
