// host.h - what the host programs share over the operating-system layer:
// their own folder, files, time, the environment and the driver's shared
// folder, and the binding of a library's exports by a table of names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "os/os.h"

namespace host {

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------

// A path that names a file in the current folder when it has no folder part
// (a bare name would make the loader search its library path instead).
std::string localPath(const std::string &path);
// Folder of the running program (with a trailing separator), or "".
std::string programDir();
// Path separator of the platform.
char separator();
// True when path names an existing file (not a folder).
bool fileExists(const std::string &path);
// Makes a folder and each missing folder on the way to it.
bool makeDir(const std::string &path);

enum class ReadResult { OK, CANNOT_OPEN, FAILED };
// Reads the file at path into *out, at most limit bytes (a caller that
// passes its largest size + 1 can tell a larger file). CANNOT_OPEN leaves
// errno as the open left it.
ReadResult readFile(const std::string &path, std::string *out, size_t limit);
// The whole file, or "" when it cannot be read.
std::string readFile(const std::string &path);

// ---------------------------------------------------------------------------
// Number arguments
// ---------------------------------------------------------------------------

// What a number argument may be: from low to high, a whole number when
// whole is set.
struct NumberRange {
    double low;
    double high;
    bool whole;
};
// Reads a number: the whole text a finite number within the range (NaN,
// infinities, overflow and trailing text are refused).
bool parseNumber(const char *text, const NumberRange &range, double *out);
// The same for the value of a command-line option; a refusal is said on
// standard error: "<tool>: <option> needs <what> from <low> to <high>, not
// "<text>"" (the caller exits with status 2).
bool numberOption(const char *tool, const char *option, const char *what, const char *text, const NumberRange &range,
                  double *out);

// Flushes standard output; false after saying on standard error that it
// could not be written in full (a full disk, a file system error): the
// caller's exit status then says so.
bool stdoutWritten(const char *tool);

// ---------------------------------------------------------------------------
// Time, environment, the driver's folder
// ---------------------------------------------------------------------------

// Monotonic time in seconds, and a sleep.
double seconds();
void sleepMs(unsigned ms);

std::string getEnv(const char *name);
bool setEnv(const char *name, const std::string &value);

// The folder below which the driver keeps "Quorvane\QuorvaneDrv.log":
// ALLUSERSPROFILE, else the common application-data folder (Windows) or
// /var/lib (Linux).
std::string sharedDir();
// Makes the folder (with the folders on the way) and points ALLUSERSPROFILE
// at it, so that a driver loaded afterwards logs there.
bool setSharedDir(const std::string &dir);
// The driver log's full path as the driver forms it.
std::string driverLogPath();

// ---------------------------------------------------------------------------
// Binding a library's exports
// ---------------------------------------------------------------------------

// One exported name and where its address goes: the byte offset of a
// pointer member in a record that holds only pointers.
struct Symbol {
    const char *name;
    size_t offset;
};

// Resolves every name of the table from the library: the pointer at
// base + offset gets its address (null when the library lacks it). The
// missing names go to *missing in table order; true when none is missing.
bool bindSymbols(OsLibrary library, void *base, const Symbol *table, size_t count,
                 std::vector<const char *> *missing);
// "a, b, c".
std::string joinNames(const std::vector<const char *> &names);

}  // namespace host
