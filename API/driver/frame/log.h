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

// Entry and exit lines of the exported functions (and of the few inner steps
// logged like them; calllog.cpp). Name is the function's name as the log shows it; the
// format and its arguments give what stands in the parentheses or after the
// colon.
//   logEnter   "{Name(args)"            and a line end, written apart
//   logExit    "}Name: result"          and a line end, written apart
//   logFail    "!}Name: message\n"      one entry: the function ends with
//                                       an error or an unusable result
//   logWorkerEnter / logWorkerExit: a worker thread's "{Name(args)\n" and
//   "}Name: 0\n", each one entry, so that another thread's line cannot split
//   them.
void logEnter(const char *name, const char *format, ...) QD_PRINTF(2, 3);
void logExit(const char *name, const char *format, ...) QD_PRINTF(2, 3);
void logFail(const char *name, const char *format, ...) QD_PRINTF(2, 3);
void logWorkerEnter(const char *name, const char *args);
void logWorkerExit(const char *name);

// Opens the log (location, one-time migration, 1 MiB rule, banner).
void logOpen();
// Closes the log; nothing is written afterwards.
void logClose();
// Full path of the log file as opened (empty when the log could not be opened).
const char *logPath();
