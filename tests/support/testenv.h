// testenv.h - helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>

// Points ALLUSERSPROFILE and the settings store at a fresh temporary folder
// (on Windows the settings at a fresh key below HKEY_CURRENT_USER).
void testenvInit();
// Detaches a driver a test left attached and removes what testenvInit
// created (folders and the settings store).
void testenvCleanup();
// The temporary root made by testenvInit (with a trailing separator).
const std::string &testenvRoot();
// The shared application-data folder every test starts with (no trailing
// separator): what ALLUSERSPROFILE holds.
const std::string &testenvSharedDir();
// A fresh, empty folder below the root (with a trailing separator).
std::string testenvNewDir(const char *tag);
// Reads a whole file; empty when it cannot be read.
std::string testenvReadFile(const std::string &path);
// Writes a whole file; false on failure.
bool testenvWriteFile(const std::string &path, const std::string &content);
// True when the tree is built for Windows (paths use backslashes).
bool testenvIsWindows();
// The bound of a test's wait, in real time, for something a thread, a
// program or the system does: only a hang reaches it. Under the 32-bit test
// machine's full emulation, and on a loaded machine, what takes
// milliseconds here can take many seconds, so no wait is sized to the event
// it waits for.
const uint32_t kTestHangMs = 120000;
// Waits (really sleeping) until the file exists, at most timeoutMs.
bool testenvWaitForFile(const std::string &path, uint32_t timeoutMs = kTestHangMs);

// Turns the manual driver clock on for its lifetime (osClockSetManual) and
// back off at the end.
class ManualClock {
public:
    explicit ManualClock(uint32_t startMs = 100000);
    ~ManualClock();
    void advance(uint32_t ms);
    ManualClock(const ManualClock &) = delete;
    ManualClock &operator=(const ManualClock &) = delete;
};
