// log.cpp - the driver log. (Placeholder until the log is built: entries are
// formatted and dropped.)
#include "API/driver/frame/log.h"

#include <cstdio>

int qdLogV(const char *format, va_list args) {
    char line[256];
    int n = vsnprintf(line, sizeof line, format, args);
    if (n < 0) return 0;
    return n > 255 ? 255 : n;
}

int qdLog(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = qdLogV(format, args);
    va_end(args);
    return n;
}

void logOpen() {}
void logClose() {}
const char *logPath() { return ""; }
