// calllog.cpp - the entry and exit lines of the exported functions, written
// through the log line writer (log.h). Kept apart from the writer, so that
// programs that stand in their own writer (the fuzz targets) get the very
// same lines.
#include <cstdio>

#include "API/driver/frame/log.h"

namespace {

const size_t LINE_SIZE = 256;   // an entry is at most 255 characters

// "<lead><name><open><formatted><close>" as one entry. The formatted part is
// made first in a buffer of the entry's size, so that the entry is cut at
// 255 characters exactly as a single printf-style entry would be.
void callLine(const char *lead, const char *name, const char *open, const char *close, const char *format,
              va_list args) QD_PRINTF(5, 0);
void callLine(const char *lead, const char *name, const char *open, const char *close, const char *format,
              va_list args) {
    char text[LINE_SIZE];
    if (vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
    qdLog("%s%s%s%s%s", lead, name, open, text, close);
}

}  // namespace

void logEnter(const char *name, const char *format, ...) {
    va_list args;
    va_start(args, format);
    callLine("{", name, "(", ")", format, args);
    va_end(args);
    qdLog("\n");
}

void logExit(const char *name, const char *format, ...) {
    va_list args;
    va_start(args, format);
    callLine("}", name, ": ", "", format, args);
    va_end(args);
    qdLog("\n");
}

void logFail(const char *name, const char *format, ...) {
    va_list args;
    va_start(args, format);
    callLine("!}", name, ": ", "\n", format, args);
    va_end(args);
}

void logWorkerEnter(const char *name, const char *args) { qdLog("{%s(%s)\n", name, args); }

void logWorkerExit(const char *name) { qdLog("}%s: 0\n", name); }
