// platform.h - the few system services a host program needs: loading
// shared libraries, its own folder, time, sleeping, the interrupt key, the
// environment and the driver's shared folder. Windows and POSIX halves live
// in platform.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// A loaded shared library (HMODULE or dlopen handle).
typedef void *Library;

// A path that names a file in the current folder when it has no folder part
// (a bare name would make the loader search its library path instead).
std::string localPath(const std::string &path);

// Loads a library by path or name. global: its symbols serve libraries loaded
// later (POSIX RTLD_GLOBAL; Windows resolves imports by module name anyway).
// On failure returns null and says why in *why (the system's own text).
Library load(const std::string &path, bool global, std::string *why);
void *symbol(Library library, const char *name);
void unload(Library library);
// System error code of the last failed load (Windows GetLastError, 0 on POSIX).
unsigned long lastLoadError();
// Of a library file that exists: true when the load error means "a module
// this one needs is missing".
bool loadErrorIsMissingDependency(unsigned long code, const std::string &why, const std::string &path);
// True when the load error means "wrong bitness or not a library".
bool loadErrorIsBadFormat(unsigned long code, const std::string &why);

// Folder of the running program (with a trailing separator).
std::string programDir();
// Path separator of the platform.
char separator();
bool fileExists(const std::string &path);
bool makeDir(const std::string &path);

// Monotonic time in seconds, and a sleep.
double seconds();
void sleepMs(unsigned ms);

// Ctrl-C (SIGINT, or the console's control handler on Windows) sets a flag
// instead of ending the program. Returns how many times it was pressed.
void catchInterrupt();
int interrupted();

std::string getEnv(const char *name);
bool setEnv(const char *name, const std::string &value);

// The folder below which the driver keeps "Quorvane\QuorvaneDrv.log":
// ALLUSERSPROFILE, else the common application-data folder (Windows) or
// /var/lib (Linux).
std::string sharedDir();
// The driver log's full path as the driver forms it.
std::string driverLogPath();

// Number of threads of this process, or -1 when it cannot be told.
int threadCount();

}  // namespace host
