// testenv.cpp - temporary folders and file helpers for the tests.
#include "tests/support/testenv.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "os/os.h"

static std::string g_root;
static std::string g_shared;
static int g_counter = 0;

bool testenvIsWindows() { return osPathSeparator() == '\\'; }

void testenvInit() {
    char tmp[512];
    if (osTempDir(tmp, sizeof tmp) < 0) {
        tmp[0] = '\0';
    }
    char name[64];
    std::snprintf(name, sizeof name, "qdtest-%u-%u", (unsigned)osProcessId(), (unsigned)osTickCount());
    g_root = std::string(tmp) + name;
    osDirCreate(g_root.c_str());
    g_root += osPathSeparator();
    g_shared = g_root + "shared";
    osDirCreate(g_shared.c_str());
    osSetEnv("ALLUSERSPROFILE", g_shared.c_str());
    // Windows keeps the settings in the registry: a key of this run below
    // HKEY_CURRENT_USER. Elsewhere a file in the temporary folder.
    std::string settings = testenvIsWindows() ? std::string("Software\\QuorvaneTests\\") + name : g_root + "settings";
    osSettingsOverride(settings.c_str());
}

void testenvCleanup() {
    if (driverAttached()) driverDetach();
    osSettingsRemoveOverridden();
    osSettingsOverride(nullptr);
    osMainModulePathOverride(nullptr);
    if (!g_root.empty()) osDirRemoveTree(g_root.c_str());
}

const std::string &testenvRoot() { return g_root; }
const std::string &testenvSharedDir() { return g_shared; }

std::string testenvNewDir(const char *tag) {
    char name[64];
    std::snprintf(name, sizeof name, "%s-%d", tag, ++g_counter);
    std::string dir = g_root + name;
    osDirCreate(dir.c_str());
    return dir + osPathSeparator();
}

std::string testenvReadFile(const std::string &path) {
    std::string out;
    OsFile f = osFileOpen(path.c_str(), OS_FILE_READ | OS_FILE_SHARE_READ | OS_FILE_SHARE_WRITE);
    if (f == OS_INVALID_FILE) return out;
    char buf[4096];
    for (;;) {
        int32_t n = osFileRead(f, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, (size_t)n);
    }
    osFileClose(f);
    return out;
}

bool testenvWriteFile(const std::string &path, const std::string &content) {
    OsFile f = osFileOpen(path.c_str(), OS_FILE_WRITE | OS_FILE_TRUNCATE);
    if (f == OS_INVALID_FILE) return false;
    bool ok = osFileWrite(f, content.data(), (uint32_t)content.size()) == (int32_t)content.size();
    osFileClose(f);
    return ok;
}

bool testenvWaitForFile(const std::string &path, uint32_t timeoutMs) {
    for (uint32_t waited = 0;; waited += 10) {
        if (osPathExists(path.c_str())) return true;
        if (waited >= timeoutMs) return false;
        osSleep(10);
    }
}

ManualClock::ManualClock(uint32_t startMs) { osClockSetManual(true, startMs); }
ManualClock::~ManualClock() { osClockSetManual(false, 0); }
void ManualClock::advance(uint32_t ms) { osClockAdvance(ms); }
