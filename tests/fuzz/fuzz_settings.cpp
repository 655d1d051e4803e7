// fuzz_settings.cpp - any file through the settings-file import and load of
// the driver's windows. The first byte picks the model of the context in
// use; the rest is the file. A refused import leaves the context's settings
// as they were, byte for byte; a load ends with the file's context, the
// previous settings back, or (with all three messages) no context; every
// context it leaves reads back a whole blob.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "QuorvaneDrv.h"
#include "API/driver/frame/storage.h"
#include "API/driver/params/mains.h"
#include "API/driver/ui/settingsfile.h"
#include "os/os.h"

namespace {

std::string g_file;

void closeAll() {
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) QdCloseDevContext(i);
}

int32_t blobOf(int16_t context, uint8_t *blob) { return QdGetDevConfig(context, blob, QD_BLOB_MAX_SIZE); }

void checkImport(int16_t context) {
    uint8_t before[QD_BLOB_MAX_SIZE], after[QD_BLOB_MAX_SIZE];
    int32_t size = blobOf(context, before);
    if (settingsImport(g_file.c_str()) >= 0) return;
    if (blobOf(context, after) != size || memcmp(before, after, (size_t)size) != 0) __builtin_trap();
}

void checkLoad() {
    LoadOutcome out;
    settingsLoad(g_file.c_str(), &out);
    if ((out.result == 1) != (out.messageCount == 0) || (out.result == -1) != (out.messageCount == 3)) {
        __builtin_trap();
    }
    uint8_t blob[QD_BLOB_MAX_SIZE];
    int open = 0;
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) {
        if (QdSelectDevContext(i) != (int16_t)i) continue;
        ++open;
        int32_t size = blobOf((int16_t)i, blob);
        if (size != (int32_t)QD_BLOB_V1_SIZE && size != (int32_t)QD_BLOB_V2_SIZE) __builtin_trap();
    }
    if ((out.result >= 0) != (open > 0)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char dir[512];
    if (osTempDir(dir, sizeof dir) < 0) strcpy(dir, "/tmp/");
    static std::string settings;
    settings = std::string(dir) + "qd-fuzz-settings.conf";
    osSettingsOverride(settings.c_str());
    mainsOverrideCountry(true, "DEU");
    g_file = std::string(dir) + "qd-fuzz-settings-" + std::to_string(osProcessId()) + ".qvc";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    FILE *f = fopen(g_file.c_str(), "wb");
    if (!f) return 0;
    fwrite(data + 1, 1, size - 1, f);
    fclose(f);
    const char *const *names = nullptr;
    QdEnumDevices(&names);
    int16_t context = QdOpenDevContext(names[data[0] % QD_MODEL_COUNT]);
    if (context < 0) __builtin_trap();
    checkImport(context);
    checkLoad();
    closeAll();
    return 0;
}
