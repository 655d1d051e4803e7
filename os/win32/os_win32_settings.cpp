// os_win32_settings.cpp - the persistent machine settings (registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\QuorvaneDriver) and the user's country on Win32.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace {

const char DEFAULT_KEY[] = "SOFTWARE\\QuorvaneDriver";

SRWLOCK g_overrideLock = SRWLOCK_INIT;
char g_override[512];  // empty: the default key

// The root and key path in use.
void currentKey(HKEY *root, char *path, size_t size) {
    AcquireSRWLockShared(&g_overrideLock);
    if (g_override[0] != '\0') {
        *root = HKEY_CURRENT_USER;
        snprintf(path, size, "%s", g_override);
    } else {
        *root = HKEY_LOCAL_MACHINE;
        snprintf(path, size, "%s", DEFAULT_KEY);
    }
    ReleaseSRWLockShared(&g_overrideLock);
}

bool openKey(bool write, HKEY *key) {
    HKEY root;
    char path[sizeof g_override];
    currentKey(&root, path, sizeof path);
    if (write) {
        return RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key,
                               nullptr) == ERROR_SUCCESS;
    }
    return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

}  // namespace

bool osSettingGetDword(const char *name, uint32_t *value) {
    if (name == nullptr || value == nullptr) return false;
    HKEY key;
    if (!openKey(false, &key)) return false;
    DWORD type = 0, data = 0, size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
    *value = data;
    return true;
}

bool osSettingSetDword(const char *name, uint32_t value) {
    if (name == nullptr) return false;
    HKEY key;
    if (!openKey(true, &key)) return false;
    DWORD data = value;
    LONG rc = RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&data, sizeof data);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// A REG_SZ larger than the buffer is refused (the registry reports that it
// does not fit). Stored text without a terminator gets one when there is
// room for it.
int osSettingGetString(const char *name, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    if (name == nullptr || buffer == nullptr || size == 0 || size > 0x7FFFFFFFu) return -1;
    HKEY key;
    if (!openKey(false, &key)) return -1;
    DWORD type = 0, got = (DWORD)size;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)buffer, &got);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) {
        buffer[0] = '\0';
        return -1;
    }
    size_t len = strnlen(buffer, got);
    if (len == got) {
        if (got >= size) {
            buffer[0] = '\0';
            return -1;
        }
        buffer[got] = '\0';
    }
    return (int)(len + 1);
}

bool osSettingSetString(const char *name, const char *value) {
    if (name == nullptr || value == nullptr) return false;
    HKEY key;
    if (!openKey(true, &key)) return false;
    LONG rc = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)value, (DWORD)(strlen(value) + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool osSettingDelete(const char *name) {
    if (name == nullptr) return false;
    HKEY root;
    char path[sizeof g_override];
    currentKey(&root, path, sizeof path);
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    LONG rc = RegDeleteValueA(key, name);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void osSettingsOverride(const char *location) {
    AcquireSRWLockExclusive(&g_overrideLock);
    if (location == nullptr) {
        g_override[0] = '\0';
    } else {
        snprintf(g_override, sizeof g_override, "%s", location);
    }
    ReleaseSRWLockExclusive(&g_overrideLock);
}

bool osSettingsRemoveOverridden() {
    char path[sizeof g_override];
    AcquireSRWLockShared(&g_overrideLock);
    snprintf(path, sizeof path, "%s", g_override);
    ReleaseSRWLockShared(&g_overrideLock);
    if (path[0] == '\0') return false;
    LONG rc = RegDeleteTreeA(HKEY_CURRENT_USER, path);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

// ---------------------------------------------------------------------------
// The user's country
// ---------------------------------------------------------------------------

bool osUserCountryIso3(char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return false;
    buffer[0] = '\0';
    GEOID geo = GetUserGeoID(GEOCLASS_NATION);
    if (geo == GEOID_NOT_AVAILABLE) return false;
    int room = size > 0x7FFFFFFFu ? 0x7FFFFFFF : (int)size;
    if (GetGeoInfoA(geo, GEO_ISO3, buffer, room, 0) <= 0) {
        buffer[0] = '\0';
        return false;
    }
    return buffer[0] != '\0';
}
