// os.h - the thin operating-system layer.
//
// Everything the portable code needs from the operating system goes through
// these functions. os/win32 implements them on Win32, os/posix on Linux; the
// build picks one. Portable code never includes <windows.h> or POSIX headers
// for these services.
//
// Conventions: functions return a success flag, a count, or -1 on failure;
// they never throw and never allocate behind the caller's back except where
// the operating system itself does (threads, open files).
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

// Copies text into buffer when it fits with its terminator: its length.
// Otherwise -1, and the buffer holds an empty text when it has room for one
// (a null buffer or size 0 is left alone). The functions below that return
// a text in a caller's buffer "length or -1" follow this rule.
int copyOut(const char *text, char *buffer, size_t size);

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------

// Native path separator ('\\' on Windows, '/' elsewhere).
char osPathSeparator();
// True when c separates path components on this system ('\\', '/' or ':' on
// Windows; '/' elsewhere).
bool osIsPathSeparator(char c);

typedef intptr_t OsFile;
const OsFile OS_INVALID_FILE = -1;

enum : unsigned {
    OS_FILE_READ = 1u,          // open for reading
    OS_FILE_WRITE = 2u,         // open for writing
    OS_FILE_CREATE = 4u,        // create if missing (keep contents if present)
    OS_FILE_TRUNCATE = 8u,      // create anew, dropping any contents
    OS_FILE_SHARE_READ = 16u,   // others may read while it is open
    OS_FILE_SHARE_WRITE = 32u,  // others may write while it is open
    OS_FILE_APPEND = 64u,       // every write goes to the current end of file
    // A file in a folder other users can write (the shared folder): refuse a
    // symbolic link (or reparse point) and anything but a regular file, and
    // never block in the open (a FIFO planted under the file's name).
    OS_FILE_PLAIN_ONLY = 128u,
    // With OS_FILE_TRUNCATE: the file must not exist yet (a temporary file
    // under an unpredictable name, see osFileCreateTemporary).
    OS_FILE_EXCLUSIVE = 256u,
};

OsFile osFileOpen(const char *path, unsigned flags);
// Bytes read (0 at end of file) or -1.
int32_t osFileRead(OsFile f, void *buffer, uint32_t size);
// Bytes written or -1. A short count means the device is full.
int32_t osFileWrite(OsFile f, const void *data, uint32_t size);
enum OsSeek { OS_SEEK_SET = 0, OS_SEEK_CUR = 1, OS_SEEK_END = 2 };
// New position or -1.
int64_t osFileSeek(OsFile f, int64_t offset, OsSeek whence);
// Size of an open file or -1.
int64_t osFileSize(OsFile f);
// Cuts an open file (opened for writing) to size bytes; the file position is
// left where it was. False on failure.
bool osFileTruncate(OsFile f, int64_t size);
bool osFileFlush(OsFile f);
void osFileClose(OsFile f);

bool osPathExists(const char *path);
bool osIsDirectory(const char *path);
// Moves or renames a file; fails if 'to' exists. Works across volumes (the
// file is then copied and the original deleted).
bool osFileMove(const char *from, const char *to);
// Renames 'from' over 'to' in one step, replacing a file that is there:
// afterwards either the old or the new file is at 'to', never neither. On
// failure both files stay as they were.
bool osFileReplace(const char *from, const char *to);
// Creates and opens (for writing, OS_FILE_PLAIN_ONLY) a new file beside
// 'path' under an unpredictable name "<path>.<random>" that did not exist
// before; its name goes to tempPath. Linux: mode 0644, read by every user
// as the file it replaces. OS_INVALID_FILE on failure.
OsFile osFileCreateTemporary(const char *path, char *tempPath, size_t size);
bool osFileDelete(const char *path);
bool osDirCreate(const char *path);                   // one level; true if it exists
// Creates the programs' folder in the shared folder (one level; true if it
// exists): every user may add files to it, none may remove or replace
// another's. Linux: mode 01777 whatever the umask (the sticky bit, as /tmp);
// an existing folder of this user that others can write gets the sticky bit.
// Windows: an explicit security descriptor (see os_win32.cpp).
bool osSharedDirCreate(const char *path);
bool osDirRemove(const char *path);                   // empty folders only
// Removes a folder with everything below it (tests and clean-ups); true when
// nothing is left.
bool osDirRemoveTree(const char *path);
// True when both paths name the same existing file (not merely equal texts:
// a relative and an absolute path of one file are the same file).
bool osSameFile(const char *a, const char *b);

// File attributes in the Win32 sense, reduced to what the driver needs.
enum : uint32_t {
    OS_ATTR_READONLY = 0x01u,
    OS_ATTR_DIRECTORY = 0x10u,
    OS_ATTR_INVALID = 0xFFFFFFFFu,  // no such file
};
uint32_t osFileAttributes(const char *path);
bool osSetReadOnly(const char *path, bool readOnly);

// Temporary folder of the user (with a trailing separator); length or -1.
int osTempDir(char *buffer, size_t size);

// ---------------------------------------------------------------------------
// Environment and modules
// ---------------------------------------------------------------------------

// Value of an environment variable: its length, or -1 when it is not set or
// does not fit (then the buffer holds an empty text).
int osGetEnv(const char *name, char *buffer, size_t size);
bool osSetEnv(const char *name, const char *value);  // value null: remove

// Full path of the host program's executable (the process's main module):
// length, or -1 (buffer then empty).
int osMainModulePath(char *buffer, size_t size);
// Test hook: osMainModulePath reports this path instead (null restores), so
// that a test can place the host program anywhere.
void osMainModulePathOverride(const char *path);
// Full path of the module (shared library or program) that contains the
// given address; length or -1.
int osModulePathOf(const void *address, char *buffer, size_t size);

// Shared application-data folder: the value of ALLUSERSPROFILE when it is set
// and not empty (-1 when that value does not fit);
// otherwise the platform's shared folder (Windows: the common application-data
// folder; Linux: /var/lib), with no trailing separator of its own. Length
// or -1.
int osSharedDataDir(char *buffer, size_t size);

// Files of the programs in the shared folder (the driver's log, the firmware
// loader's log), in os_shared.cpp:
// "<shared folder><separator>Quorvane<separator><name>", creating the
// Quorvane folder when it is missing. Length, or -1 when the shared folder is
// unknown or the path does not fit.
int osSharedFilePath(const char *name, char *buffer, size_t size);
// Where an older program kept such a file: beside the program, that is the
// folder part of programPath (up to its last separator) followed by name;
// the bare name (current folder) when programPath names no folder or the
// result would be longer than 255 characters (osAdoptOldFile leaves such a
// bare name alone).
void osBesideProgramPath(const char *programPath, const char *name, char *buffer, size_t size);
// Brings a file kept at oldPath into the shared folder once: moved to
// newPath when that does not exist yet, deleted when it does. Nothing
// happens when both paths name the same file, or when oldPath names no
// folder (the program's path was unknown: a file of the current folder is
// not the program's).
void osAdoptOldFile(const char *oldPath, const char *newPath);

// ---------------------------------------------------------------------------
// Threads, locks, time
// ---------------------------------------------------------------------------

typedef void (*OsThreadProc)(void *arg);
struct OsThreadRec;
typedef OsThreadRec *OsThread;

enum OsPriority { OS_PRIORITY_NORMAL = 0, OS_PRIORITY_HIGHEST = 1 };

// Starts a thread; stackSize 0 takes the default. Null on failure.
OsThread osThreadStart(OsThreadProc proc, void *arg, size_t stackSize, OsPriority priority);
// Waits for the thread to end and frees its record.
void osThreadJoin(OsThread t);
// Lets the thread run on alone; its record is freed when it ends.
void osThreadDetach(OsThread t);
// Waits up to timeoutMs until every thread this module started and let run
// on alone has left the module's code for good; true when all have (at once
// when none runs). For a library about to be unloaded: its code is unmapped
// afterwards, and a thread still running it would crash the process. A
// thread counts as gone once it has returned from its procedure and is on
// its way out of the system (Windows: a thread leaving may still need the
// loader lock, which DllMain holds; the wait does not). Windows also counts
// the threads not joined yet.
bool osThreadsAwaitExit(uint32_t timeoutMs);
// True when called on the given thread.
bool osThreadIsCurrent(OsThread t);

// A mutual-exclusion lock (critical section) with a non-waiting try. Like a
// Win32 critical section it is recursive: the thread that holds it may enter
// it again (and must leave it as often).
struct OsLock {
    alignas(16) unsigned char storage[64];
};
void osLockInit(OsLock *lock);
void osLockDestroy(OsLock *lock);
void osLockEnter(OsLock *lock);
bool osLockTryEnter(OsLock *lock);
void osLockLeave(OsLock *lock);

// Holds a lock from its construction to the end of its scope.
class OsLockGuard {
public:
    explicit OsLockGuard(OsLock *lock) : lock_(lock) { osLockEnter(lock_); }
    ~OsLockGuard() { osLockLeave(lock_); }
    OsLockGuard(const OsLockGuard &) = delete;
    OsLockGuard &operator=(const OsLockGuard &) = delete;

private:
    OsLock *lock_;
};

// An auto-reset event: any thread sets it, one thread waits for it. Set
// while nobody waits, it stays set until the next wait takes it.
struct OsEvent {
    alignas(16) unsigned char storage[160];
};
void osEventInit(OsEvent *event);
void osEventDestroy(OsEvent *event);
void osEventSet(OsEvent *event);
// Waits until the event is set (then clears it: true) or timeoutMs have
// passed (false). Real time, also under the manual clock.
bool osEventWait(OsEvent *event, uint32_t timeoutMs);

void osSleep(uint32_t ms);

// System tick count in milliseconds (wraps after 49.7 days).
uint32_t osTickCount();

// Driver clock: milliseconds since the process started, from a monotonic
// high-resolution counter. All protocol timers are deadlines on it. (It
// counts from the moment this layer was set up in the process, that is when
// the program or the driver library was loaded.)
uint32_t osClockMs();
// High-resolution monotonic time in microseconds (benchmarks, CTS wait).
uint64_t osClockUs();

// Test hook: with manual time on, osClockMs, osClockUs and osTickCount return
// a value that only osClockAdvance moves. osSleep still sleeps for real.
void osClockSetManual(bool manual, uint32_t startMs);
void osClockAdvance(uint32_t ms);
bool osClockIsManual();

// Seconds of CPU time used by the calling process and by the calling thread.
double osProcessCpuSeconds();
double osThreadCpuSeconds();

struct OsLocalTime {
    uint16_t year, month, day;              // month 1..12, day 1..31
    uint16_t hour, minute, second, millisecond;
};
void osLocalTime(OsLocalTime *t);

// Operating-system version code used by the Bluetooth LE check:
// Win32: from the version record (1..14, see osVersionCodeFor; 0 when the
// system gives no version); elsewhere: 14 (a system newer than any listed).
int osVersionCode();
// The code for a Win32 version record: platform id (0 Win32s, 1 Windows 9x,
// 2 NT), major and minor version and the service-pack text (may be null).
// 1 Win32s; 2 Windows 95, 3 Windows 98, 4 Windows 98 SE, 5 Windows ME;
// 6 NT 4 or older, 7 Windows 2000, 8 XP, 9 5.2, 10 Vista, 11 Windows 7,
// 12 6.2, 13 10.0; 14 anything else.
int osVersionCodeFor(uint32_t platform, uint32_t major, uint32_t minor, const char *servicePack);

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

// Identifier of the calling process.
uint32_t osProcessId();

// Starts a program without waiting for it and without inheriting handles.
// Windows: commandLine is passed to CreateProcess as it stands (program null).
// POSIX: program is run with argv (argv[0] included, null-terminated; null
// argv runs the program without arguments); a program without a separator
// is searched through PATH. The started program is never left as a zombie.
// True when the program was started.
bool osStartProcess(const char *program, const char *const *argv, const char *commandLine);

// ---------------------------------------------------------------------------
// Persistent machine settings (key "QuorvaneDriver")
// ---------------------------------------------------------------------------
//
// Windows: the registry key HKEY_LOCAL_MACHINE\SOFTWARE\QuorvaneDriver.
// Linux: the text file QuorvaneDriver.conf in the Quorvane folder of the
// shared application-data folder (see osSharedDataDir), one "name=value"
// line per value; DWORD values are written in decimal, strings as they are.
// The file carries no types: a DWORD read accepts a plain decimal number up
// to 4294967295, a string read any value. Writes replace the file at once
// (temporary file and rename). Names and values cannot hold line breaks,
// and names no '='.
// Failures are silent: an unreadable value counts as absent.

// Reads a DWORD value; false when it is missing or not a 4-byte DWORD.
bool osSettingGetDword(const char *name, uint32_t *value);
bool osSettingSetDword(const char *name, uint32_t value);
// Reads a string value: its size in bytes including the terminator, or -1
// when it is missing, not a string, or larger than the buffer.
int osSettingGetString(const char *name, char *buffer, size_t size);
bool osSettingSetString(const char *name, const char *value);
bool osSettingDelete(const char *name);
// Test hook: reads and writes the settings under another location (POSIX:
// a file path; Win32: a key path below HKEY_CURRENT_USER). Null restores.
void osSettingsOverride(const char *location);
// Removes the whole store at the override location (the file or the key with
// everything below it). Does nothing and returns false without an override,
// so the machine's real settings can never be removed through it.
bool osSettingsRemoveOverridden();

// The user's country as an ISO 3166-1 three-letter code (Windows: the user's
// geographic location; Linux: the locale's LC_ADDRESS country). False (and an
// empty text) when the system knows none.
bool osUserCountryIso3(char *buffer, size_t size);

// ---------------------------------------------------------------------------
// Host programs: shared libraries loaded at run time, the interrupt key, the
// threads, handles and memory of the process
// ---------------------------------------------------------------------------
//
// What programs that load the driver the way a host application does need
// besides the services above. The driver library itself uses none of them.

struct OsLibraryRec;
typedef OsLibraryRec *OsLibrary;

// Why a library did not load, as far as the system lets it be told.
enum OsLoadKind {
    OS_LOAD_OK = 0,
    OS_LOAD_NOT_FOUND = 1,           // no such file (for a bare name: not found by the system's search)
    OS_LOAD_MISSING_DEPENDENCY = 2,  // the file is there, a library it needs is not
    OS_LOAD_WRONG_BITNESS = 3,       // the file (or a library it needs) is built for the other bitness
    OS_LOAD_NOT_A_LIBRARY = 4,       // the file is no shared library of this system
    OS_LOAD_OTHER = 5,               // refused for another reason (its initialisation failed, ...)
};

struct OsLoadFailure {
    OsLoadKind kind;
    uint32_t code;       // Windows: the system error code; POSIX: 0
    char text[512];      // the system's own words (Windows: with "(error N)" at the end)
};

// Loads a shared library by path, or by bare name through the system's
// search. global: its symbols also serve libraries loaded after it (POSIX
// RTLD_GLOBAL; Windows resolves imports by module name anyway). Windows
// shows no error box for a missing dependency. Null on failure; then
// *failure (when given) says why: a file of the other bitness is told from
// a missing dependency and from a file that is no library by reading the
// file's own header (ELF class, PE optional-header magic) besides the
// system's error.
OsLibrary osLibraryLoad(const char *path, bool global, OsLoadFailure *failure);
// Address of an exported function or variable, or null.
void *osLibrarySymbol(OsLibrary library, const char *name);
// Unloads a library (null is ignored).
void osLibraryUnload(OsLibrary library);
// Bitness of an executable image file (ELF or PE, program or library): 32,
// 64, or 0 when the file is neither or cannot be read.
int osImageBits(const char *path);

// Makes the interrupt key count instead of ending the process: Ctrl-C
// (POSIX: SIGINT and SIGTERM; Windows: the console's Ctrl-C, Ctrl-Break and
// close events, and SIGINT raised in the process). For the rest of the
// process's life; calling it again changes nothing.
void osInterruptCatch();
// How often the interrupt key was pressed since osInterruptCatch.
int osInterruptCount();

// Number of threads of the calling process, or -1 when the system cannot
// tell (Windows: a thread snapshot; Linux: /proc/self/task).
int osProcessThreadCount();
// Open handles of the calling process, or -1 when the system cannot tell
// (Windows: GetProcessHandleCount; Linux: the entries of /proc/self/fd).
int osProcessHandleCount();
// Resident memory of the calling process in bytes, or -1 (Windows: the
// working set; Linux: VmRSS of /proc/self/status).
int64_t osProcessResidentBytes();
