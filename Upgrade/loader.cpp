// loader.cpp - the loader program's state, its arguments, the link it opens
// for a run, and the reading of user messages.
#include "Upgrade/loader.h"

#include <cstdio>
#include <cstring>

#include "Upgrade/firmware.h"
#include "Upgrade/output.h"
#include "Upgrade/update.h"
#include "os/os.h"

LoaderState g_loader;

const char *const kDeviceFieldLabels[DEVICE_FIELDS] = {
    "Hardware:", "Transceiver id:", "Bootloader:", "Old firmware:", "New firmware:",
};

namespace {

const char CFG_NAME[] = "upgrade.cfg";
const uint32_t CFG_MAX_BYTES = 255;
const char CFG_SEPARATORS[] = " \t\n\r";
const size_t FIELD_MAX_CHARS = 127;
const size_t BT_ADDRESS_CHARS = 17;

char lowerCase(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

void copyText(char *out, size_t size, const char *text) {
    size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

bool isSeparator(char c, const char *separators) { return c != '\0' && std::strchr(separators, c) != nullptr; }

// "L=" followed by a link key (a link kind's name, any letter case).
void applyLinkKey(const char *key) {
    const LinkKind *kind = linkKindByName(key);
    if (!kind) {
        updUserMessage("!Unknown link type.\n");
        return;
    }
    g_loader.linkType = kind->key;
    g_loader.linkFixed = true;
    if (g_loader.osCode < kind->minOsCode) {
        updUserMessage("!Bluetooth Low Energy (BLE) is not supported below Windows 8.1.\n");
    }
}

// Removes the double quotes of a token in place; \" becomes ".
void unquote(char *token) {
    char *out = token;
    for (const char *p = token; *p; ++p) {
        if (p[0] == '\\' && p[1] == '"') {
            *out++ = '"';
            ++p;
        } else if (*p != '"') {
            *out++ = *p;
        }
    }
    *out = '\0';
}

OsFile openCfg() {
    OsFile f = osFileOpen(CFG_NAME, OS_FILE_READ | OS_FILE_SHARE_READ);
    if (f != OS_INVALID_FILE) return f;
    char path[LOADER_PATH_SIZE * 2];
    osBesideProgramPath(g_loader.programPath, CFG_NAME, path, sizeof path);
    return osFileOpen(path, OS_FILE_READ | OS_FILE_SHARE_READ);
}

}  // namespace

void loaderInit(const char *programPath) {
    std::memset(&g_loader, 0, sizeof g_loader);
    copyText(g_loader.programPath, sizeof g_loader.programPath, programPath ? programPath : "");
    g_loader.linkType = LINK_BT;
    copyText(g_loader.deviceId, sizeof g_loader.deviceId, LOADER_DEFAULT_ID);
    g_loader.osCode = osVersionCode();
    g_loader.link.type = LINK_BT;
    g_loader.link.handle = LINK_INVALID_HANDLE;
}

void loaderApplyArguments(char *const *args, int count) {
    for (int i = 0; i < count && i < LOADER_MAX_ARGS; ++i) {
        const char *a = args[i];
        if (lowerCase(a[0]) == 'l' && a[1] == '=') {
            applyLinkKey(a + 2);
        } else if (a[0] == 'A' && a[1] == '=') {
            copyText(g_loader.deviceId, sizeof g_loader.deviceId, a + 2);
        } else if (a[0] == 'D' && a[1] == '=') {
            // Reserved for the device services; the loader takes no notice.
        } else if (i == 0) {
            copyText(g_loader.firmwarePath, sizeof g_loader.firmwarePath, a);
        } else {
            updUserMessage("!Unknown argument: %s.\n", a);
        }
    }
    if (g_loader.linkFixed && !linkTakesDeviceId(g_loader.linkType)) g_loader.deviceId[0] = '\0';
}

int tokenize(char *text, const char *separators, char **tokens, int maxTokens) {
    int count = 0;
    char *p = text;
    while (*p && count < maxTokens) {
        while (isSeparator(*p, separators))
            ++p;
        if (!*p) break;
        char *start = p;
        bool quoted = false;
        for (; *p && (quoted || !isSeparator(*p, separators)); ++p) {
            if (*p == '"' && (p == start || p[-1] != '\\')) quoted = !quoted;
        }
        if (*p) *p++ = '\0';
        unquote(start);
        tokens[count++] = start;
    }
    return count;
}

int readUpgradeCfg(char *buffer, char **tokens) {
    buffer[0] = '\0';
    OsFile f = openCfg();
    if (f == OS_INVALID_FILE) return 0;
    uint32_t got = 0;
    int32_t n;
    while (got < CFG_MAX_BYTES && (n = osFileRead(f, buffer + got, CFG_MAX_BYTES - got)) > 0)
        got += (uint32_t)n;
    char extra = 0;
    const bool more = got == CFG_MAX_BYTES && osFileRead(f, &extra, 1) == 1;
    osFileClose(f);
    buffer[got] = '\0';
    if (more && !isSeparator(extra, CFG_SEPARATORS) && got > 0 && !isSeparator(buffer[got - 1], CFG_SEPARATORS)) {
        // The limit cut the last token: it is not an argument the user wrote.
        uint32_t start = got;
        while (start > 0 && !isSeparator(buffer[start - 1], CFG_SEPARATORS))
            --start;
        updUserMessage("!Unknown argument: %s.\n", buffer + start);
        buffer[start] = '\0';
    }
    return tokenize(buffer, CFG_SEPARATORS, tokens, LOADER_MAX_ARGS);
}

bool isBluetoothAddress(const char *id) {
    size_t n = std::strlen(id);
    if (n == BT_ADDRESS_CHARS + 2 && id[0] == '(' && id[n - 1] == ')') {
        ++id;
        n -= 2;
    }
    if (n != BT_ADDRESS_CHARS) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = id[i];
        const bool hex = (c >= '0' && c <= '9') || (lowerCase(c) >= 'a' && lowerCase(c) <= 'f');
        if (i % 3 == 2 ? c != ':' : !hex) return false;
    }
    return true;
}

bool loaderOpenLink() {
    const uint16_t type = g_loader.linkType;
    const LinkKind *kind = linkKind(type);
    updLog("Link type: %s\n", kind ? kind->name : "");
    if (linkTakesDeviceId(type)) updLog("Device identifier: %s\n", g_loader.deviceId);
    if (!InitLinkLibrary()) {
        updUserMessage("!Cannot init communication library.\n");
        return false;
    }
    char opened[64] = "";
    if (!OpenLink(type, g_loader.deviceId, &g_loader.link, opened, sizeof opened)) {
        updUserMessage("!Cannot connect.\n");
        ReleaseLinkLibrary();
        return false;
    }
    const char *shown = opened;
    size_t n = std::strlen(opened);
    if (opened[0] == '(' && n >= 2) {
        opened[n - 1] = '\0';
        ++shown;
    }
    updUserMessage("Transceiver id:\n\t%s\n", shown);
    return true;
}

void loaderCloseLink() {
    if (g_loader.link.handle != LINK_INVALID_HANDLE) CloseLink(&g_loader.link);
    g_loader.link.handle = LINK_INVALID_HANDLE;
    ReleaseLinkLibrary();
}

bool loaderBeginRun(bool upload) {
    if (upload && OpenFirmwareFile(g_loader.firmwarePath, g_loader.programPath) != 0) return false;
    if (!loaderOpenLink()) {
        CloseFirmwareFile();
        return false;
    }
    g_loader.flags = LOADER_RUNNING;
    StartUpdate(&g_loader.link, upload ? firmwareHeader() : nullptr);
    return true;
}

bool loaderEndRun() {
    loaderCloseLink();
    CloseFirmwareFile();
    const bool success = (g_loader.flags & LOADER_SUCCESS) != 0;
    g_loader.flags = 0;
    return success;
}

int deviceFieldOf(const char *text, const char *const *labels, int count, char *value, size_t size) {
    for (int i = 0; i < count; ++i) {
        const size_t len = std::strlen(labels[i]);
        if (std::strncmp(text, labels[i], len) != 0) continue;
        size_t n = 0;
        bool blank = true;      // drops leading blanks
        for (const unsigned char *p = (const unsigned char *)text + len; *p && n + 1 < size && n < FIELD_MAX_CHARS; ++p) {
            const bool space = *p <= ' ' || *p == 0x7F;
            if (space && blank) continue;
            value[n++] = space ? ' ' : (char)*p;
            blank = space;
        }
        if (n > 0 && value[n - 1] == ' ') --n;
        value[n] = '\0';
        return i;
    }
    return -1;
}

MessageKind noteUserMessage(const char *text) {
    if (text[0] == '!') return MSG_ERROR;
    char value[FIELD_MAX_CHARS + 1];
    if (deviceFieldOf(text, kDeviceFieldLabels, DEVICE_FIELDS, value, sizeof value) >= 0) return MSG_FIELD;
    // The update run's success text, with or without its line end.
    static const char SUCCESS[] = "Firmware updated successfully.";
    const size_t len = sizeof SUCCESS - 1;
    if (std::strncmp(text, SUCCESS, len) == 0 && (text[len] == '\0' || std::strcmp(text + len, "\n") == 0)) {
        g_loader.flags |= LOADER_SUCCESS;
        return MSG_SUCCESS;
    }
    return MSG_INFO;
}

void loaderLinkBroken(const LinkHandle *link) {
    const LinkHandle *running = updateLink();
    if (!(g_loader.flags & LOADER_RUNNING) || !running || !link) return;
    if (running->type == link->type && running->handle == link->handle) UpdateEvent(INT_DISC);
}
