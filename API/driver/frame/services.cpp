// services.cpp - starts the device-service program QuorvaneServ for the
// selected context, telling it the model, the link and the device on its
// command line. The driver does not wait for the program nor watch it.
#include "API/driver/frame/services.h"

#include <cstdio>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "link/link.h"
#include "os/os.h"

namespace {

const char kWindowsProgram[] = "QuorvaneServ.exe";
const char kPosixProgram[] = "QuorvaneServ";
constexpr size_t FOLDER_MAX = 239;

// Link type words by link type code.

// Appends text to a zero-terminated buffer, cutting what does not fit.
void append(char *buffer, size_t size, const char *text) {
    size_t n = std::strlen(buffer);
    if (n + 1 < size) std::snprintf(buffer + n, size - n, "%s", text);
}

}  // namespace

void servicesBuildLaunch(const char *folder, ServicesLaunch *out) {
    std::memset(out, 0, sizeof *out);
    size_t folderLength = folder ? std::strlen(folder) : 0;
    if (folderLength >= 1 && folderLength <= FOLDER_MAX) {
        char last = folder[folderLength - 1];
        append(out->commandLine, sizeof out->commandLine, "\"");
        append(out->commandLine, sizeof out->commandLine, folder);
        if (last != '\\' && last != ':') append(out->commandLine, sizeof out->commandLine, "\\");
        append(out->commandLine, sizeof out->commandLine, kWindowsProgram);
        append(out->commandLine, sizeof out->commandLine, "\"");
        append(out->program, sizeof out->program, folder);
        if (last != '/') append(out->program, sizeof out->program, "/");
        append(out->program, sizeof out->program, kPosixProgram);
    } else {
        append(out->commandLine, sizeof out->commandLine, kWindowsProgram);
        append(out->program, sizeof out->program, kPosixProgram);
    }
    int argc = 0;
    out->argv[argc++] = out->program;

    const char *model = QdGetDevName();
    if (model) {
        std::snprintf(out->model, sizeof out->model, "D=%s", model);
        append(out->commandLine, sizeof out->commandLine, " \"");
        append(out->commandLine, sizeof out->commandLine, out->model);
        append(out->commandLine, sizeof out->commandLine, "\"");
        out->argv[argc++] = out->model;

        QdParamValue v{};
        const LinkKind *kind = QdGetParam(QD_PAR_LINK_TYPE, 0, &v) == 0 ? linkKind(v.code) : nullptr;
        if (kind) {
            std::snprintf(out->link, sizeof out->link, "L=%s", kind->name);
            append(out->commandLine, sizeof out->commandLine, " ");
            append(out->commandLine, sizeof out->commandLine, out->link);
            out->argv[argc++] = out->link;
        }
        v = QdParamValue{};
        if (QdGetParam(QD_PAR_DEVICE_ID, 0, &v) == 0 && (v.type & 0x7F) == QD_KIND_STRING && v.value.s &&
            v.value.s[0] != '\0') {
            std::snprintf(out->device, sizeof out->device, "A=%s", v.value.s);
            append(out->commandLine, sizeof out->commandLine, " \"");
            append(out->commandLine, sizeof out->commandLine, out->device);
            append(out->commandLine, sizeof out->commandLine, "\"");
            out->argv[argc++] = out->device;
        }
    }
    out->argv[argc] = nullptr;
}

extern "C" int QDCALL QdDevServices(const char *folder) {
    logEnter("QdDevServices", "%s", folder ? folder : "");
    ServicesLaunch launch;
    servicesBuildLaunch(folder, &launch);
    // Windows starts the command line; POSIX systems the program with its
    // argument vector.
    if (!osStartProcess(launch.program, launch.argv, launch.commandLine)) {
        logFail("QdDevServices", "%s", kLogCannotRunServices);
        return 1;
    }
    logExit("QdDevServices", "0");
    return 0;
}
