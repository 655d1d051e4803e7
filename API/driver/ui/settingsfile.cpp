// settingsfile.cpp - saving, importing and loading device settings files.
#include "API/driver/ui/settingsfile.h"

#include <cstdio>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/storage.h"
#include "os/os.h"

const char kSettingsFilterName[] = "Device settings files";
const char kSettingsFilterPattern[] = "*.qvc;*.cfg";
const char kSettingsSaveTitle[] = "Save device configuration";
const char kSettingsImportTitle[] = "Import device configuration";
const char kSettingsLoadTitle[] = "Load device configuration";
const char kSettingsWriteFailed[] = "Cannot write device configuration file";

namespace {

const char kReadFailed[] = "Cannot read device configuration file";
const char kOtherModel[] = "The file includes configuration for inadequate device model";
const char kRestoreFailed[] = "Cannot restore previous device context";
const char kDefaultFailed[] = "Cannot open default device context";
const char kTemporarySuffix[] = ".qvc-saving";
constexpr size_t PATH_ROOM = 512;

enum : int32_t {
    READ_CANNOT_OPEN = -1,
    READ_NO_SIZE = -2,
    READ_SHORT = -4,
    READ_OTHER_MODEL = -5,
    READ_REFUSED = -6,
};

// Reads a settings file (at most the largest storage blob: more bytes would
// not be read by the load anyway): the number of bytes, or a READ_ code.
int32_t readSettingsFile(const char *path, uint8_t *blob, uint32_t room) {
    OsFile f = osFileOpen(path, OS_FILE_READ | OS_FILE_SHARE_READ);
    if (f == OS_INVALID_FILE) return READ_CANNOT_OPEN;
    int64_t size = osFileSize(f);
    if (size < 0) {
        osFileClose(f);
        return READ_NO_SIZE;
    }
    uint32_t want = size < (int64_t)room ? (uint32_t)size : room;
    uint32_t got = 0;
    while (got < want) {
        int32_t n = osFileRead(f, blob + got, want - got);
        if (n <= 0) break;
        got += (uint32_t)n;
    }
    osFileClose(f);
    return got == want ? (int32_t)got : READ_SHORT;
}

bool writeWhole(const char *path, const uint8_t *data, uint32_t size) {
    OsFile f = osFileOpen(path, OS_FILE_WRITE | OS_FILE_TRUNCATE | OS_FILE_SHARE_READ);
    if (f == OS_INVALID_FILE) return false;
    bool ok = osFileWrite(f, data, size) == (int32_t)size;
    ok = osFileFlush(f) && ok;
    osFileClose(f);
    return ok;
}

void addMessage(LoadOutcome *out, const char *text) {
    if (out->messageCount < 3) out->messages[out->messageCount++] = text;
}

}  // namespace

bool settingsFileName(const char *name, bool addExtension, char *out, size_t room) {
    if (!name) return false;
    size_t length = std::strlen(name);
    bool extension = false;
    for (size_t i = length; i > 0 && !osIsPathSeparator(name[i - 1]); --i) {
        if (name[i - 1] == '.') extension = true;
    }
    int n = std::snprintf(out, room, "%s%s", name, addExtension && !extension ? ".qvc" : "");
    return n > 0 && (size_t)n < room;
}

bool settingsSave(const char *path) {
    uint8_t blob[QD_BLOB_MAX_SIZE];
    int16_t context = QdGetSelectedDevContext();
    int32_t size = context >= 0 ? QdGetDevConfig(context, nullptr, 0) : 0;
    if (size <= 0 || size > (int32_t)sizeof blob || QdGetDevConfig(context, blob, sizeof blob) != size) return false;
    uint32_t attributes = osFileAttributes(path);
    if (attributes != OS_ATTR_INVALID && (attributes & (OS_ATTR_READONLY | OS_ATTR_DIRECTORY)) != 0) return false;
    char temporary[PATH_ROOM];
    int n = std::snprintf(temporary, sizeof temporary, "%s%s", path, kTemporarySuffix);
    if (n <= 0 || (size_t)n >= sizeof temporary) return false;
    // The new file replaces the old one in one step: a failure keeps the old.
    if (!writeWhole(temporary, blob, (uint32_t)size) || !osFileReplace(temporary, path)) {
        osFileDelete(temporary);
        return false;
    }
    return true;
}

int32_t settingsImport(const char *path) {
    uint8_t blob[QD_BLOB_MAX_SIZE];
    int32_t size = readSettingsFile(path, blob, sizeof blob);
    if (size < 0) return size;
    int16_t context = QdGetSelectedDevContext();
    if (context < 0) return READ_REFUSED;
    int16_t result = QdSetDevConfig(context, blob, (uint32_t)size);
    if (result == QD_SETCONFIG_OTHER_MODEL) return READ_OTHER_MODEL;
    return result < 0 ? READ_REFUSED : size;
}

const char *settingsImportMessage(int32_t outcome) {
    if (outcome >= 0) return nullptr;
    return outcome == READ_OTHER_MODEL ? kOtherModel : kReadFailed;
}

void settingsLoad(const char *path, LoadOutcome *out) {
    std::memset(out, 0, sizeof *out);
    uint8_t previous[QD_BLOB_MAX_SIZE];
    uint8_t blob[QD_BLOB_MAX_SIZE];
    char model[64] = "";
    int16_t context = QdGetSelectedDevContext();
    int32_t kept = 0;
    if (context >= 0) {
        std::snprintf(model, sizeof model, "%s", QdGetDevName() ? QdGetDevName() : "");
        kept = QdGetDevConfig(context, previous, sizeof previous);
        QdCloseDevContext((uint16_t)context);
    }
    int32_t size = readSettingsFile(path, blob, sizeof blob);
    if (size >= 0 && QdSetDevConfig(-1, blob, (uint32_t)size) >= 0) {
        out->result = 1;
        return;
    }
    addMessage(out, kReadFailed);
    if (kept > 0 && QdSetDevConfig(-1, previous, (uint32_t)kept) >= 0) return;
    addMessage(out, kRestoreFailed);
    if (model[0] && QdOpenDevContext(model) >= 0) return;
    addMessage(out, kDefaultFailed);
    out->result = -1;
}
