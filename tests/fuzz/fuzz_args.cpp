// fuzz_args.cpp - any text as the loader's command line or as upgrade.cfg.
// The first byte picks which; the tokens must lie inside the buffer, at
// most four, and the argument walk must keep the firmware path and the
// device identifier inside their fields. The same text also goes through
// the reading of user messages (device fields, kinds).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Upgrade/loader.h"
#include "os/os.h"

static void checkTokens(const char *buffer, size_t size, char **tokens, int count) {
    if (count < 0 || count > LOADER_MAX_ARGS) __builtin_trap();
    for (int i = 0; i < count; ++i) {
        if (tokens[i] < buffer || tokens[i] >= buffer + size) __builtin_trap();
        if (tokens[i] + std::strlen(tokens[i]) >= buffer + size) __builtin_trap();
    }
}

// upgrade.cfg is read from the program's folder (the current folder holds
// none).
static char g_program[64], g_cfg[80];

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char dir[48];
    std::snprintf(dir, sizeof dir, "/tmp/qd-fuzz-args-%d", (int)getpid());
    osDirCreate(dir);
    std::snprintf(g_program, sizeof g_program, "%s/kestrel", dir);
    std::snprintf(g_cfg, sizeof g_cfg, "%s/upgrade.cfg", dir);
    return osPathExists("upgrade.cfg") ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    loaderInit(g_program);
    char buffer[256];
    char *tokens[LOADER_MAX_ARGS];
    int count;
    if (data[0] & 1) {
        OsFile f = osFileOpen(g_cfg, OS_FILE_WRITE | OS_FILE_TRUNCATE);
        if (f == OS_INVALID_FILE) return 0;
        osFileWrite(f, data + 1, (uint32_t)(size - 1));
        osFileClose(f);
        count = readUpgradeCfg(buffer, tokens);
    } else {
        const size_t n = size - 1 < 255 ? size - 1 : 255;
        std::memcpy(buffer, data + 1, n);
        buffer[n] = '\0';
        count = tokenize(buffer, " \t", tokens, LOADER_MAX_ARGS);
    }
    checkTokens(buffer, sizeof buffer, tokens, count);
    loaderApplyArguments(tokens, count);
    if (std::strlen(g_loader.firmwarePath) >= LOADER_PATH_SIZE || std::strlen(g_loader.deviceId) >= LOADER_ID_SIZE)
        __builtin_trap();
    if (g_loader.linkType > LINK_BLE) __builtin_trap();
    isBluetoothAddress(g_loader.deviceId);
    char text[300];
    const size_t n = size - 1 < sizeof text - 1 ? size - 1 : sizeof text - 1;
    std::memcpy(text, data + 1, n);
    text[n] = '\0';
    char value[128];
    if (deviceFieldOf(text, kDeviceFieldLabels, DEVICE_FIELDS, value, sizeof value) >= 0 && std::strlen(value) > 127)
        __builtin_trap();
    noteUserMessage(text);
    return 0;
}
