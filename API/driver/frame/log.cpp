// log.cpp - the driver log (QuorvaneDrv.log).
//
// One plain-text file in the Quorvane folder of the shared application-data
// folder. Entries are appended by qdLog; the writer itself adds a timestamp
// line ("@ h:mm:ss.mmm") before an entry that starts a new line when a second
// or more has passed since the last one. A lock around the writer keeps
// entries of different threads whole.
#include "API/driver/frame/log.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace {

const char LOG_NAME[] = "QuorvaneDrv.log";
const int64_t LOG_SIZE_LIMIT = 0x100000;  // a larger log is started anew
const uint32_t STAMP_INTERVAL_MS = 1000;
const size_t PATH_SIZE = 256;             // paths taken from the system
const size_t LINE_SIZE = 256;             // an entry is at most 255 characters

// The lock is made once, at the first open, and kept for the life of the
// process: a writer on another thread may still be inside it while the log
// closes.
OsLock g_lock;
std::atomic<bool> g_lockReady{false};

OsFile g_file = OS_INVALID_FILE;
char g_lastChar = '\n';
uint32_t g_lastStampTick = 0;
char g_line[LINE_SIZE];
char g_path[2 * PATH_SIZE];

// Appends text to the file (silently nothing when it is not open).
void writeRaw(const char *text, size_t len) {
    if (g_file != OS_INVALID_FILE && len > 0) (void)osFileWrite(g_file, text, (uint32_t)len);
}

// Writes a timestamp line when the next entry starts a line and a second has
// passed since the last one. Caller holds the lock.
void stampIfDue() {
    if (g_lastChar != '\n') return;
    uint32_t now = osTickCount();
    if (now - g_lastStampTick < STAMP_INTERVAL_MS) return;
    OsLocalTime t;
    osLocalTime(&t);
    char stamp[48];
    int n = snprintf(stamp, sizeof stamp, "@ %u:%02u:%02u.%03u\n", (unsigned)t.hour, (unsigned)t.minute,
                     (unsigned)t.second, (unsigned)t.millisecond);
    if (n > 0) writeRaw(stamp, (size_t)n < sizeof stamp ? (size_t)n : sizeof stamp - 1);
    g_lastStampTick = now;
}

// Formats and writes one entry. Caller holds the lock (or has none to hold).
int writeEntry(const char *format, va_list args) {
    int n = vsnprintf(g_line, sizeof g_line, format, args);
    if (n < 0) return 0;
    size_t len = (size_t)n < LINE_SIZE ? (size_t)n : LINE_SIZE - 1;
    if (g_file != OS_INVALID_FILE) {
        stampIfDue();
        writeRaw(g_line, len);
    }
    // An empty entry has no last character; the line state stays as it was.
    if (len > 0) g_lastChar = g_line[len - 1];
    return (int)len;
}

int writeEntryF(const char *format, ...) QD_PRINTF(1, 2);
int writeEntryF(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = writeEntry(format, args);
    va_end(args);
    return n;
}

}  // namespace

int qdLogV(const char *format, va_list args) {
    if (format == nullptr) return 0;
    if (!g_lockReady.load(std::memory_order_acquire)) {
        // Not attached yet: entries are formatted and dropped.
        char scratch[LINE_SIZE];
        int n = vsnprintf(scratch, sizeof scratch, format, args);
        if (n < 0) return 0;
        return n < (int)LINE_SIZE ? n : (int)LINE_SIZE - 1;
    }
    osLockEnter(&g_lock);
    int n = writeEntry(format, args);
    osLockLeave(&g_lock);
    return n;
}

int qdLog(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = qdLogV(format, args);
    va_end(args);
    return n;
}

void logOpen() {
    if (!g_lockReady.load(std::memory_order_acquire)) {
        osLockInit(&g_lock);
        g_lockReady.store(true, std::memory_order_release);
    }
    osLockEnter(&g_lock);
    if (g_file != OS_INVALID_FILE) {
        osLockLeave(&g_lock);
        return;
    }
    g_path[0] = '\0';

    char exePath[PATH_SIZE];
    if (osMainModulePath(exePath, sizeof exePath) < 0) exePath[0] = '\0';
    char logPath[2 * PATH_SIZE];
    if (osSharedFilePath(LOG_NAME, logPath, sizeof logPath) >= 0) {
        // A log kept beside the host program moves once to the shared
        // folder; if the shared log already exists, the old one goes. When
        // both paths name one file (the host runs from the shared folder)
        // it is the log itself and stays.
        char oldPath[PATH_SIZE];
        osBesideProgramPath(exePath, LOG_NAME, oldPath, sizeof oldPath);
        osAdoptOldFile(oldPath, logPath);

        // A log grown beyond 1 MiB is started anew.
        OsFile f = osFileOpen(logPath, OS_FILE_READ | OS_FILE_SHARE_READ | OS_FILE_SHARE_WRITE | OS_FILE_PLAIN_ONLY);
        if (f != OS_INVALID_FILE) {
            int64_t size = osFileSize(f);
            osFileClose(f);
            if (size > LOG_SIZE_LIMIT) osFileDelete(logPath);
        }

        // Others can write the shared folder: a link or a FIFO planted as
        // the log is not opened (the log is then not written).
        g_file = osFileOpen(logPath,
                            OS_FILE_WRITE | OS_FILE_CREATE | OS_FILE_APPEND | OS_FILE_SHARE_READ | OS_FILE_PLAIN_ONLY);
        if (g_file != OS_INVALID_FILE) {
            osFileSeek(g_file, 0, OS_SEEK_END);
            snprintf(g_path, sizeof g_path, "%s", logPath);
        }
    }

    if (g_file != OS_INVALID_FILE) {
        g_lastStampTick = osTickCount();
        writeEntryF("\nQuorvane Driver v.5.4.5\n");
        writeEntryF("Loaded by: %s\n", exePath);
        OsLocalTime t;
        osLocalTime(&t);
        writeEntryF("@ %u-%u-%u %u:%02u:%02u.%03u\n", (unsigned)t.year, (unsigned)t.month, (unsigned)t.day,
                    (unsigned)t.hour, (unsigned)t.minute, (unsigned)t.second, (unsigned)t.millisecond);
    }
    osLockLeave(&g_lock);
}

void logClose() {
    if (!g_lockReady.load(std::memory_order_acquire)) return;
    osLockEnter(&g_lock);
    if (g_file != OS_INVALID_FILE) {
        osFileClose(g_file);
        g_file = OS_INVALID_FILE;
    }
    g_path[0] = '\0';
    osLockLeave(&g_lock);
}

const char *logPath() { return g_path; }
