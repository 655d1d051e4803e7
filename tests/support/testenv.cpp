// testenv.cpp - temporary folders and file helpers for the tests.
#include "tests/support/testenv.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/os.h"

static std::string g_root;
static int g_counter = 0;

static std::string join(const std::string &dir, const std::string &name) {
    return dir + name;
}

void testenvInit() {
    char tmp[512];
    if (osTempDir(tmp, sizeof tmp) < 0) {
        tmp[0] = '\0';
    }
    char name[64];
    std::snprintf(name, sizeof name, "qdtest-%u-%u", (unsigned)osTickCount(), (unsigned)std::rand());
    g_root = join(tmp, name);
    osDirCreate(g_root.c_str());
    g_root += osPathSeparator();
    std::string shared = g_root + "shared";
    osDirCreate(shared.c_str());
    osSetEnv("ALLUSERSPROFILE", shared.c_str());
    std::string settings = g_root + "settings";
    osSettingsOverride(settings.c_str());
}

void testenvCleanup() {
    osSettingsOverride(nullptr);
}

const std::string &testenvRoot() { return g_root; }

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
