// os_shared.cpp - files of the programs in the shared application-data
// folder: the path of one, where an older program kept it, and the one-time
// move from there. The driver's log and the firmware loader's log use these
// the same way.
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace {

const char SHARED_FOLDER[] = "Quorvane";
const size_t OLD_PATH_MAX = 255;

// Forms "<dir><separator><name>" in out; false when it does not fit.
bool joinPath(char *out, size_t size, const char *dir, const char *name) {
    int n = std::snprintf(out, size, "%s%c%s", dir, osPathSeparator(), name);
    return n > 0 && (size_t)n < size;
}

}  // namespace

int osSharedFilePath(const char *name, char *buffer, size_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = '\0';
    char shared[256];
    char folder[sizeof shared + sizeof SHARED_FOLDER + 1];
    if (!name || osSharedDataDir(shared, sizeof shared) < 0) return -1;
    if (!joinPath(folder, sizeof folder, shared, SHARED_FOLDER)) return -1;
    osSharedDirCreate(folder);
    if (!joinPath(buffer, size, folder, name)) {
        buffer[0] = '\0';
        return -1;
    }
    return (int)std::strlen(buffer);
}

void osBesideProgramPath(const char *programPath, const char *name, char *buffer, size_t size) {
    if (!buffer || size == 0) return;
    const char sep = osPathSeparator();
    size_t cut = 0;
    bool found = false;
    for (size_t i = 0; programPath && programPath[i] != '\0'; ++i) {
        char c = programPath[i];
        if (c == sep || (sep == '\\' && c == ':')) {
            cut = i + 1;
            found = true;
        }
    }
    const size_t nameLen = std::strlen(name);
    if (found && cut + nameLen <= OLD_PATH_MAX && cut + nameLen < size) {
        std::memcpy(buffer, programPath, cut);
        std::memcpy(buffer + cut, name, nameLen + 1);
    } else {
        std::snprintf(buffer, size, "%s", name);
    }
}

void osAdoptOldFile(const char *oldPath, const char *newPath) {
    if (!oldPath || !newPath) return;
    bool inFolder = false;
    for (const char *p = oldPath; *p != '\0'; ++p) inFolder = inFolder || osIsPathSeparator(*p);
    if (!inFolder || osSameFile(oldPath, newPath)) return;
    if (osPathExists(newPath)) {
        osFileDelete(oldPath);
    } else {
        osFileMove(oldPath, newPath);
    }
}
