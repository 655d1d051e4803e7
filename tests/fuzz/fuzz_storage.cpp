// fuzz_storage.cpp - arbitrary blobs of arbitrary size through QdSetDevConfig.
//
// The first byte picks the model of a freshly opened context (byte % 15);
// the rest is the blob, handed over in a heap block of exactly its size, so
// that every read beyond it is caught. Each input is loaded twice: into the
// fresh context and into context -1 (which opens its own). Whatever loads
// must then read back, save and load again; every context opened is closed
// again, so the 10 slots never run out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "QuorvaneDrv.h"
#include "API/driver/frame/contexts.h"
#include "API/driver/frame/storage.h"
#include "API/driver/params/mains.h"
#include "os/os.h"

namespace {

void closeAll() {
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) QdCloseDevContext(i);
}

// Every parameter of the selected context reads, and reads as text.
void readEverything() {
    uint16_t ids[64];
    char text[81];
    QdParamValue v;
    uint16_t n = QdEnumParams(-1, ids, sizeof ids);
    for (uint16_t i = 0; i < n; ++i) {
        QdGetParam(ids[i], 0, &v);
        QdParam2Str(ids[i], 0, text);
    }
    for (int16_t c = 0; c < QD_MAX_CHANNELS; ++c) {
        n = QdEnumParams(c, ids, sizeof ids);
        for (uint16_t i = 0; i < n; ++i) {
            QdGetParam(ids[i], (uint16_t)c, &v);
            QdParam2Str(ids[i], (uint16_t)c, text);
        }
    }
}

// A loaded context saves a blob that loads into its own model again.
void checkLoaded(int16_t context) {
    if (QdGetSelectedDevContext() != context && QdSelectDevContext((uint16_t)context) != context) __builtin_trap();
    readEverything();
    uint8_t saved[QD_BLOB_MAX_SIZE];
    int32_t size = QdGetDevConfig(context, saved, sizeof saved);
    if (size != (int32_t)QD_BLOB_V1_SIZE && size != (int32_t)QD_BLOB_V2_SIZE) __builtin_trap();
    if (QdSetDevConfig(context, saved, (uint32_t)size) != context) __builtin_trap();
}

void load(int16_t context, const uint8_t *data, size_t size) {
    uint8_t *blob = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (!blob) return;
    if (size) std::memcpy(blob, data, size);
    int16_t result = QdSetDevConfig(context, blob, (uint32_t)size);
    std::free(blob);
    if (result >= 0) {
        if (context != -1 && result != context) __builtin_trap();
        checkLoaded(result);
    } else if (result < -6) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Machine settings in a scratch file, a 50 Hz country.
    char dir[512];
    if (osTempDir(dir, sizeof dir) < 0) std::strcpy(dir, "/tmp/");
    static std::string settings;
    settings = std::string(dir) + "qd-fuzz-storage.conf";
    osSettingsOverride(settings.c_str());
    mainsOverrideCountry(true, "DEU");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const char *const *names = nullptr;
    QdEnumDevices(&names);
    int16_t fresh = QdOpenDevContext(names[data[0] % QD_MODEL_COUNT]);
    if (fresh < 0) __builtin_trap();
    load(fresh, data + 1, size - 1);
    closeAll();
    load(-1, data + 1, size - 1);
    closeAll();
    return 0;
}
