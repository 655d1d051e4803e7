// tsan_main.cpp - the test program of the tsan preset: the stress test of the
// Bluetooth LE link built with the link library, the simulator and the OS
// layer alone, all under ThreadSanitizer. The link library's program hooks
// are this program's: no link is ever reported broken, no line is logged.
#include <gtest/gtest.h>

#include "link/link.h"

void linkBrokenHook(const LinkHandle *) {}

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
