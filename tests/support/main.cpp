// main.cpp - test main shared by every test program.
//
// Before any test runs, the shared application-data folder (where the driver
// keeps its log and, on Linux, its settings) is pointed at a fresh temporary
// folder, so that no test touches the machine's real files.
#include <gtest/gtest.h>

#include "tests/support/testenv.h"

#if defined(__SANITIZE_ADDRESS__)
// glibc's newlocale keeps the list it builds from LOCPATH for good; only the
// tests that build their own locales set LOCPATH.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
#endif

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    testenvInit();
    int rc = RUN_ALL_TESTS();
    testenvCleanup();
    return rc;
}
