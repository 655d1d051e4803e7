// output.h - the loader's two output functions and its log, upgrade.log.
//
// Everything the loader reports goes through one of two functions:
//   updLog          appends a text to the log, nothing else;
//   updUserMessage  appends it to the log and hands it to the program's
//                   message sink (the window fills a device field or shows
//                   a box; the command line prints a line).
// Both format like printf into a buffer of 268 bytes. A longer text is cut
// to 267 characters; a cut text that ended with a line end keeps it, so the
// log stays one entry per line.
//
// The log lives in the Quorvane folder of the shared application-data
// folder, like the driver's log. A log kept beside the program by an older
// loader moves there once (or goes, when the shared one exists already).
// Each run starts with a line of the local date and time. A log that cannot
// be opened is simply not written.
#pragma once

#include <cstdarg>

#if defined(__GNUC__)
#define UPD_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define UPD_PRINTF(a, b)
#endif

const int UPD_TEXT_SIZE = 268;

// Appends one entry to the log; returns its length in characters.
int updLog(const char *format, ...) UPD_PRINTF(1, 2);
int updLogV(const char *format, va_list args);
// Logs the text (with a line end added when it has none) and passes it to
// the message sink.
int updUserMessage(const char *format, ...) UPD_PRINTF(1, 2);

// The protocol lines' stamp, "%u:\n": milliseconds since the first stamp of
// the process (the log clock origin), cut to 16 bits.
void updLogStamp();
// A stamp followed by "# <text>\n" (state changes, rejected messages).
void updLogNote(const char *text);

// What the program does with user messages and progress. Either may be null
// (the text is then only logged).
struct LoaderSinks {
    void (*message)(const char *text);
    void (*progress)(int percent);
};
void setLoaderSinks(const LoaderSinks *sinks);
// Sets the progress display (0..100).
void updProgress(int percent);

// Opens upgrade.log (folder, one-time migration from programPath's folder,
// the date line). False when it cannot be opened; the loader runs on.
bool openUpgradeLog(const char *programPath);
void closeUpgradeLog();
// Full path of the open log, empty when none is open.
const char *upgradeLogPath();
