// main.cpp - test main shared by every test program.
//
// Before any test runs, the shared application-data folder (where the driver
// keeps its log and, on Linux, its settings) is pointed at a fresh temporary
// folder, so that no test touches the machine's real files.
#include <gtest/gtest.h>

#include "tests/support/testenv.h"

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    testenvInit();
    int rc = RUN_ALL_TESTS();
    testenvCleanup();
    return rc;
}
