// os_posix_settings.cpp - the persistent machine settings and the user's
// country on Linux.
//
// The settings live in the text file <shared folder>/Quorvane/QuorvaneDriver.conf,
// one "name=value" line per value. Lines that are not values of ours (other
// names, comments) are kept as they are. A change rewrites the whole file
// into a temporary file beside it and renames that over the old one, so a
// reader never sees half a file.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "os/os.h"

namespace {

const size_t STORE_MAX = 16384;  // largest settings file handled
const size_t PATH_SIZE = 1024;

pthread_mutex_t g_settingsMutex = PTHREAD_MUTEX_INITIALIZER;
char g_override[PATH_SIZE];  // empty: the default location
// Work buffers, used only under the mutex.
char g_in[STORE_MAX + 1];
char g_out[STORE_MAX + 1];

struct Guard {
    Guard() { pthread_mutex_lock(&g_settingsMutex); }
    ~Guard() { pthread_mutex_unlock(&g_settingsMutex); }
};

// Path of the settings file; with create set, the Quorvane folder of the
// default location is created. False when the path cannot be formed.
bool storePath(char *path, bool create) {
    if (g_override[0] != '\0') {
        snprintf(path, PATH_SIZE, "%s", g_override);
        return true;
    }
    char shared[PATH_SIZE];
    if (osSharedDataDir(shared, sizeof shared) < 0) return false;
    int n = snprintf(path, PATH_SIZE, "%s/Quorvane", shared);
    if (n < 0 || (size_t)n >= PATH_SIZE) return false;
    if (create) osSharedDirCreate(path);
    n = snprintf(path, PATH_SIZE, "%s/Quorvane/QuorvaneDriver.conf", shared);
    return n > 0 && (size_t)n < PATH_SIZE;
}

// Reads the whole store into g_in. Returns its length, 0 when there is no
// file, -1 when it cannot be read or is too large to be ours.
long readStore(const char *path) {
    g_in[0] = '\0';
    OsFile f = osFileOpen(path, OS_FILE_READ | OS_FILE_PLAIN_ONLY);
    if (f == OS_INVALID_FILE) return errno == ENOENT ? 0 : -1;
    size_t total = 0;
    for (;;) {
        int32_t n = osFileRead(f, g_in + total, (uint32_t)(STORE_MAX + 1 - total));
        if (n < 0) {
            osFileClose(f);
            return -1;
        }
        if (n == 0) break;
        total += (size_t)n;
        if (total > STORE_MAX) {
            osFileClose(f);
            return -1;
        }
    }
    osFileClose(f);
    g_in[total] = '\0';
    return (long)total;
}

// True when line (of length len, no line feed) holds a value named name;
// *value then points at the value and *valueLen is its length.
bool lineIs(const char *line, size_t len, const char *name, const char **value, size_t *valueLen) {
    size_t nameLen = strlen(name);
    if (len < nameLen + 1 || memcmp(line, name, nameLen) != 0 || line[nameLen] != '=') return false;
    *value = line + nameLen + 1;
    *valueLen = len - nameLen - 1;
    if (*valueLen > 0 && (*value)[*valueLen - 1] == '\r') --*valueLen;
    return true;
}

// Finds a value in g_in (first line of that name).
bool findValue(const char *name, const char **value, size_t *valueLen) {
    const char *p = g_in;
    while (*p != '\0') {
        const char *end = strchr(p, '\n');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (lineIs(p, len, name, value, valueLen)) return true;
        p += len + (end ? 1 : 0);
    }
    return false;
}

bool validName(const char *name) {
    return name != nullptr && name[0] != '\0' && strpbrk(name, "=\r\n") == nullptr;
}

// Writes g_out (length len) as the new store: a new temporary file of an
// unpredictable name (the folder is shared: a name known in advance could
// be planted as a link), then renamed over the old one.
bool replaceStore(const char *path, size_t len) {
    char tmp[PATH_SIZE + 32];
    OsFile f = osFileCreateTemporary(path, tmp, sizeof tmp);
    if (f == OS_INVALID_FILE) return false;
    bool ok = osFileWrite(f, g_out, (uint32_t)len) == (int32_t)len && osFileFlush(f);
    osFileClose(f);
    if (ok && osFileReplace(tmp, path)) return true;
    unlink(tmp);
    return false;
}

// Sets (newValue given) or removes (null) a value. False when nothing was
// changed.
bool changeValue(const char *name, const char *newValue) {
    if (!validName(name)) return false;
    if (newValue != nullptr && strpbrk(newValue, "\r\n") != nullptr) return false;
    Guard guard;
    char path[PATH_SIZE];
    if (!storePath(path, newValue != nullptr)) return false;
    long inLen = readStore(path);
    if (inLen < 0) return false;
    size_t out = 0;
    bool found = false;
    const char *p = g_in;
    while (*p != '\0') {
        const char *end = strchr(p, '\n');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        const char *v;
        size_t vLen;
        if (lineIs(p, len, name, &v, &vLen)) {
            if (!found && newValue != nullptr) {
                int n = snprintf(g_out + out, STORE_MAX + 1 - out, "%s=%s\n", name, newValue);
                if (n < 0 || out + (size_t)n > STORE_MAX) return false;
                out += (size_t)n;
            }
            found = true;
        } else {
            if (out + len + 1 > STORE_MAX) return false;
            memcpy(g_out + out, p, len);
            out += len;
            g_out[out++] = '\n';
        }
        p += len + (end ? 1 : 0);
    }
    if (!found) {
        if (newValue == nullptr) return false;
        int n = snprintf(g_out + out, STORE_MAX + 1 - out, "%s=%s\n", name, newValue);
        if (n < 0 || out + (size_t)n > STORE_MAX) return false;
        out += (size_t)n;
    }
    return replaceStore(path, out);
}

}  // namespace

bool osSettingGetDword(const char *name, uint32_t *value) {
    if (!validName(name) || value == nullptr) return false;
    Guard guard;
    char path[PATH_SIZE];
    if (!storePath(path, false) || readStore(path) <= 0) return false;
    const char *v;
    size_t len;
    if (!findValue(name, &v, &len) || len == 0 || len > 10) return false;
    uint64_t n = 0;
    for (size_t i = 0; i < len; ++i) {
        if (v[i] < '0' || v[i] > '9') return false;
        n = n * 10 + (uint64_t)(v[i] - '0');
    }
    if (n > 0xFFFFFFFFu) return false;
    *value = (uint32_t)n;
    return true;
}

bool osSettingSetDword(const char *name, uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%u", (unsigned)value);
    return changeValue(name, text);
}

int osSettingGetString(const char *name, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    if (!validName(name) || buffer == nullptr || size == 0) return -1;
    Guard guard;
    char path[PATH_SIZE];
    if (!storePath(path, false) || readStore(path) <= 0) return -1;
    const char *v;
    size_t len;
    if (!findValue(name, &v, &len) || len + 1 > size) return -1;
    memcpy(buffer, v, len);
    buffer[len] = '\0';
    return (int)(len + 1);
}

bool osSettingSetString(const char *name, const char *value) {
    if (value == nullptr) return false;
    return changeValue(name, value);
}

bool osSettingDelete(const char *name) { return changeValue(name, nullptr); }

void osSettingsOverride(const char *location) {
    Guard guard;
    if (location == nullptr) {
        g_override[0] = '\0';
    } else {
        snprintf(g_override, sizeof g_override, "%s", location);
    }
}

bool osSettingsRemoveOverridden() {
    Guard guard;
    if (g_override[0] == '\0') return false;
    return unlink(g_override) == 0 || errno == ENOENT;
}

// ---------------------------------------------------------------------------
// The user's country
// ---------------------------------------------------------------------------

// The three-letter country of the locale's address category, as the user's
// environment (LC_ALL, LC_ADDRESS, LANG) chooses it. A locale object of its
// own leaves the host's locale settings untouched.
bool osUserCountryIso3(char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return false;
    buffer[0] = '\0';
    locale_t loc = newlocale(LC_ADDRESS_MASK, "", (locale_t)0);
    if (loc == (locale_t)0) return false;
    const char *code = nl_langinfo_l(_NL_ADDRESS_COUNTRY_AB3, loc);
    bool ok = false;
    if (code != nullptr && code[0] != '\0' && strlen(code) + 1 <= size) {
        strcpy(buffer, code);
        ok = true;
    }
    freelocale(loc);
    return ok;
}
