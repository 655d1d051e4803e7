// output.cpp - upgrade.log and the loader's two output functions.
#include "Upgrade/output.h"

#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace {

const char LOG_NAME[] = "upgrade.log";
const size_t PATH_SIZE = 512;

OsFile g_log = OS_INVALID_FILE;
char g_logPath[PATH_SIZE];
LoaderSinks g_sinks = {nullptr, nullptr};
bool g_originSet = false;
uint32_t g_originTick = 0;

// Formats into text (UPD_TEXT_SIZE bytes). A text too long for the buffer
// is cut; if it ended with a line end, the cut one ends with one too.
int formatText(char *text, const char *format, va_list args) {
    int n = std::vsnprintf(text, UPD_TEXT_SIZE, format, args);
    if (n < 0) {
        text[0] = '\0';
        return 0;
    }
    if (n >= UPD_TEXT_SIZE) {
        const size_t formatLen = std::strlen(format);
        n = UPD_TEXT_SIZE - 1;
        if (formatLen > 0 && format[formatLen - 1] == '\n') text[n - 1] = '\n';
    }
    return n;
}

void append(const char *text, int length) {
    if (g_log != OS_INVALID_FILE && length > 0) (void)osFileWrite(g_log, text, (uint32_t)length);
}

}  // namespace

int updLogV(const char *format, va_list args) {
    if (!format) return 0;
    char text[UPD_TEXT_SIZE];
    int n = formatText(text, format, args);
    append(text, n);
    return n;
}

int updLog(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = updLogV(format, args);
    va_end(args);
    return n;
}

int updUserMessage(const char *format, ...) {
    char text[UPD_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    int n = formatText(text, format, args);
    va_end(args);
    append(text, n);
    // Texts meant for a message box may lack a line end; the log gets one.
    if (n > 0 && text[n - 1] != '\n') append("\n", 1);
    if (g_sinks.message) g_sinks.message(text);
    return n;
}

void updLogStamp() {
    const uint32_t now = osTickCount();
    if (!g_originSet) {
        g_originSet = true;
        g_originTick = now;
    }
    updLog("%u:\n", (unsigned)((now - g_originTick) & 0xFFFFu));
}

void updLogNote(const char *text) {
    updLogStamp();
    updLog("# %s\n", text);
}

void setLoaderSinks(const LoaderSinks *sinks) { g_sinks = sinks ? *sinks : LoaderSinks{nullptr, nullptr}; }

void updProgress(int percent) {
    if (g_sinks.progress) g_sinks.progress(percent);
}

bool openUpgradeLog(const char *programPath) {
    if (g_log != OS_INVALID_FILE) return true;
    g_logPath[0] = '\0';
    char path[PATH_SIZE];
    if (osSharedFilePath(LOG_NAME, path, sizeof path) < 0) return false;
    char oldPath[PATH_SIZE];
    osBesideProgramPath(programPath, LOG_NAME, oldPath, sizeof oldPath);
    osAdoptOldFile(oldPath, path);
    g_log = osFileOpen(path, OS_FILE_WRITE | OS_FILE_CREATE | OS_FILE_APPEND | OS_FILE_SHARE_READ | OS_FILE_PLAIN_ONLY);
    if (g_log == OS_INVALID_FILE) return false;
    osFileSeek(g_log, 0, OS_SEEK_END);
    std::snprintf(g_logPath, sizeof g_logPath, "%s", path);
    OsLocalTime t;
    osLocalTime(&t);
    updLog("%u-%u-%u %u:%02u:%02u\n", (unsigned)t.year, (unsigned)t.month, (unsigned)t.day, (unsigned)t.hour,
           (unsigned)t.minute, (unsigned)t.second);
    return true;
}

void closeUpgradeLog() {
    if (g_log != OS_INVALID_FILE) osFileClose(g_log);
    g_log = OS_INVALID_FILE;
    g_logPath[0] = '\0';
}

const char *upgradeLogPath() { return g_logPath; }
