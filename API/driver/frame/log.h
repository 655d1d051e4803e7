// log.h - the driver log (QuorvaneDrv.log).
//
// Every entry is one printf-style call. Its first character classifies it:
// '{' function entry, '}' function exit, '!' error or warning, '#' engine and
// link trace, '<' '>' message traces, '^' events, '@' timestamps (written by
// the writer itself). An entry is cut to 255 characters.
#pragma once

#include <cstdarg>

#if defined(__GNUC__)
#define QD_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define QD_PRINTF(a, b)
#endif

// Appends one entry; returns the number of characters written to the line
// buffer (at most 255).
int qdLog(const char *format, ...) QD_PRINTF(1, 2);
int qdLogV(const char *format, va_list args);

// Opens the log (location, one-time migration, 1 MiB rule, banner).
void logOpen();
// Closes the log; nothing is written afterwards.
void logClose();
// Full path of the log file as opened (empty when the log could not be opened).
const char *logPath();
