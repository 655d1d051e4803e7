// os_win32_thread.cpp - threads, the lock, sleep, clocks, local time and the
// operating-system version on Win32.
#include <windows.h>
#include <process.h>

#include <atomic>
#include <new>

#include "os/os.h"
#include "os/os_internal.h"

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

// One record per started thread. Two references: the thread's own and the
// starter's (released by join or detach); the last one frees the record.
struct OsThreadRec {
    HANDLE handle;
    unsigned id;
    OsThreadProc proc;
    void *arg;
    std::atomic<int> refs;
};

static void releaseThreadRec(OsThreadRec *t) {
    if (t->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete t;
}

// Threads leaving this module: each started thread releases g_threadsLeft
// once, in the same call in which it stops running the module's code (see
// leaveModule); osThreadsAwaitExit and osThreadJoin take one release per
// thread they count out of g_threadsRunning. g_neverSet is an event no one
// sets: what the leaving thread waits on until its exit runs.
static HANDLE g_threadsLeft = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
static HANDLE g_neverSet = CreateEventW(nullptr, TRUE, FALSE, nullptr);
static std::atomic<long> g_threadsRunning{0};

// Ends the calling thread without coming back into this module: a library
// may be unloaded the moment its threads are counted out, and a thread
// returning into unmapped code crashes the process. ExitThread is queued as
// an APC (its address is kernel32's, taken through the import table), then
// one call releases g_threadsLeft and waits alertably, so the APC runs
// inside that wait and the thread never returns. Should that fail, the
// thread is counted out and returns through the module as it always did.
static void leaveModule() {
    if (g_threadsLeft == nullptr) return;
    PAPCFUNC exitThread = reinterpret_cast<PAPCFUNC>(reinterpret_cast<void (*)(void)>(&ExitThread));
    if (g_neverSet != nullptr && QueueUserAPC(exitThread, GetCurrentThread(), 0) &&
        SignalObjectAndWait(g_threadsLeft, g_neverSet, INFINITE, TRUE) != WAIT_FAILED) {
        return;
    }
    ReleaseSemaphore(g_threadsLeft, 1, nullptr);
}

static unsigned __stdcall threadMain(void *p) {
    OsThreadRec *t = (OsThreadRec *)p;
    t->proc(t->arg);
    releaseThreadRec(t);
    leaveModule();
    return 0;
}

// Takes one thread's release of g_threadsLeft, waiting up to ms.
static bool countOneOut(DWORD ms) {
    if (g_threadsLeft == nullptr || WaitForSingleObject(g_threadsLeft, ms) != WAIT_OBJECT_0) return false;
    g_threadsRunning.fetch_sub(1, std::memory_order_acq_rel);
    return true;
}

OsThread osThreadStart(OsThreadProc proc, void *arg, size_t stackSize, OsPriority priority) {
    if (proc == nullptr) return nullptr;
    OsThreadRec *t = new (std::nothrow) OsThreadRec;
    if (t == nullptr) return nullptr;
    t->proc = proc;
    t->arg = arg;
    t->refs.store(2, std::memory_order_relaxed);
    g_threadsRunning.fetch_add(1, std::memory_order_acq_rel);
    // Started suspended so that the priority is set before it runs.
    uintptr_t h = _beginthreadex(nullptr, (unsigned)stackSize, threadMain, t, CREATE_SUSPENDED, &t->id);
    if (h == 0) {
        g_threadsRunning.fetch_sub(1, std::memory_order_acq_rel);
        delete t;
        return nullptr;
    }
    t->handle = (HANDLE)h;
    if (priority == OS_PRIORITY_HIGHEST) SetThreadPriority(t->handle, THREAD_PRIORITY_HIGHEST);
    ResumeThread(t->handle);
    return t;
}

void osThreadJoin(OsThread t) {
    if (t == nullptr) return;
    WaitForSingleObject(t->handle, INFINITE);
    CloseHandle(t->handle);
    releaseThreadRec(t);
    countOneOut(0);  // it has ended, so its release is there
}

void osThreadDetach(OsThread t) {
    if (t == nullptr) return;
    CloseHandle(t->handle);
    releaseThreadRec(t);
}

bool osThreadsAwaitExit(uint32_t timeoutMs) {
    DWORD start = GetTickCount();
    while (g_threadsRunning.load(std::memory_order_acquire) > 0) {
        DWORD spent = GetTickCount() - start;
        if (!countOneOut(spent < timeoutMs ? timeoutMs - spent : 0)) return false;
    }
    return true;
}

bool osThreadIsCurrent(OsThread t) { return t != nullptr && t->id == (unsigned)GetCurrentThreadId(); }

// ---------------------------------------------------------------------------
// Lock: a critical section
// ---------------------------------------------------------------------------

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(OsLock::storage), "CRITICAL_SECTION does not fit OsLock");
static_assert(alignof(CRITICAL_SECTION) <= alignof(OsLock), "CRITICAL_SECTION alignment exceeds OsLock");

static CRITICAL_SECTION *sectionOf(OsLock *lock) { return reinterpret_cast<CRITICAL_SECTION *>(lock->storage); }

void osLockInit(OsLock *lock) { InitializeCriticalSection(sectionOf(lock)); }
void osLockDestroy(OsLock *lock) { DeleteCriticalSection(sectionOf(lock)); }
void osLockEnter(OsLock *lock) { EnterCriticalSection(sectionOf(lock)); }
bool osLockTryEnter(OsLock *lock) { return TryEnterCriticalSection(sectionOf(lock)) != 0; }
void osLockLeave(OsLock *lock) { LeaveCriticalSection(sectionOf(lock)); }

// ---------------------------------------------------------------------------
// Event: an auto-reset event object
// ---------------------------------------------------------------------------

static_assert(sizeof(HANDLE) <= sizeof(OsEvent::storage), "HANDLE does not fit OsEvent");

static HANDLE *handleOf(OsEvent *event) { return reinterpret_cast<HANDLE *>(event->storage); }

void osEventInit(OsEvent *event) { *handleOf(event) = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

void osEventDestroy(OsEvent *event) {
    if (*handleOf(event) != nullptr) CloseHandle(*handleOf(event));
    *handleOf(event) = nullptr;
}

void osEventSet(OsEvent *event) {
    if (*handleOf(event) != nullptr) SetEvent(*handleOf(event));
}

bool osEventWait(OsEvent *event, uint32_t timeoutMs) {
    // Without an event object (none could be made) the wait is a sleep.
    if (*handleOf(event) == nullptr) {
        Sleep(timeoutMs);
        return false;
    }
    return WaitForSingleObject(*handleOf(event), timeoutMs) == WAIT_OBJECT_0;
}

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------

void osSleep(uint32_t ms) { Sleep(ms); }

uint64_t osRawMonotonicUs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) f.QuadPart = 1000;
        return f;
    }();
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now)) return (uint64_t)GetTickCount64() * 1000u;
    uint64_t c = (uint64_t)now.QuadPart, f = (uint64_t)frequency.QuadPart;
    return c / f * 1000000u + c % f * 1000000u / f;
}

uint32_t osRawTickCount() { return (uint32_t)GetTickCount(); }

static double fileTimeSeconds(const FILETIME &t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return (double)v.QuadPart * 1e-7;
}

double osProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    return fileTimeSeconds(kernel) + fileTimeSeconds(user);
}

double osThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
    return fileTimeSeconds(kernel) + fileTimeSeconds(user);
}

void osLocalTime(OsLocalTime *t) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    t->year = st.wYear;
    t->month = st.wMonth;
    t->day = st.wDay;
    t->hour = st.wHour;
    t->minute = st.wMinute;
    t->second = st.wSecond;
    t->millisecond = st.wMilliseconds;
}

// The version record is asked for in its extended form first and, on a
// system that does not know that, in the basic form.
int osVersionCode() {
    OSVERSIONINFOEXA ex;
    ZeroMemory(&ex, sizeof ex);
    ex.dwOSVersionInfoSize = sizeof ex;
    OSVERSIONINFOA *info = (OSVERSIONINFOA *)&ex;
    if (!GetVersionExA(info)) {
        ZeroMemory(&ex, sizeof ex);
        info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(info)) return 0;
    }
    return osVersionCodeFor(info->dwPlatformId, info->dwMajorVersion, info->dwMinorVersion, info->szCSDVersion);
}
