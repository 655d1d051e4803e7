// fuzz_log_stub.cpp - the driver log for fuzz targets: every entry is
// formatted exactly as the real writer does and then dropped, so that the
// sanitizers still see every format and argument.
#include <cstdio>

#include "API/driver/frame/log.h"

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
