// main.cpp - test main shared by every test program.
//
// Before any test runs, the shared application-data folder (where the driver
// keeps its log and, on Linux, its settings) is pointed at a fresh temporary
// folder, so that no test touches the machine's real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/testenv.h"

#if defined(__SANITIZE_ADDRESS__)
// glibc's newlocale keeps the list it builds from LOCPATH for good; only the
// tests that build their own locales set LOCPATH.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
#endif

// A window test under full-system emulation (the 32-bit test machine) runs
// 10 to 40 times slower than under Wine on the build machine. There its
// runner sets QD_UI_BRIEF, and a window test program that names a brief set
// in QD_UI_BRIEF_FILTER (a GoogleTest filter, given where the test is added)
// runs only that set; the 64-bit build and machines that run 32-bit code
// natively run every case. A filter on the command line still wins.
static void applyBriefFilter() {
    const char *brief = std::getenv("QD_UI_BRIEF");
    const char *filter = std::getenv("QD_UI_BRIEF_FILTER");
    if (brief == nullptr || *brief == '\0' || filter == nullptr || *filter == '\0') return;
    if (GTEST_FLAG_GET(filter) != "*") return;
    GTEST_FLAG_SET(filter, filter);
    std::printf("brief set of the window tests under emulation: %s\n", filter);
}

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    applyBriefFilter();
    testenvInit();
    int rc = RUN_ALL_TESTS();
    testenvCleanup();
    return rc;
}
