// os_posix_thread.cpp - threads, the lock, sleep, clocks and local time on
// Linux.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "os/os.h"
#include "os/os_internal.h"

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

// One record per started thread. Two references: the thread's own and the
// starter's (released by join, or once a thread let run on alone has been
// joined by the module); the last one frees the record.
struct OsThreadRec {
    pthread_t thread;
    OsThreadProc proc;
    void *arg;
    OsPriority priority;
    std::atomic<int> refs;
    OsThreadRec *next;  // in the list of threads let run on alone
};

static void releaseThreadRec(OsThreadRec *t) {
    if (t->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete t;
}

// Threads let run on alone stay joinable and are listed here: only a join
// tells that a thread has left the module's code (returned from threadMain).
// Ended ones are joined when the next thread starts; osThreadsAwaitExit
// joins the rest.
static pthread_mutex_t g_aloneLock = PTHREAD_MUTEX_INITIALIZER;
static OsThreadRec *g_alone = nullptr;

// Joins the listed threads that have ended.
static void joinEndedAlone() {
    pthread_mutex_lock(&g_aloneLock);
    OsThreadRec **link = &g_alone;
    while (*link != nullptr) {
        OsThreadRec *t = *link;
        if (pthread_tryjoin_np(t->thread, nullptr) != 0) {
            link = &t->next;
            continue;
        }
        *link = t->next;
        releaseThreadRec(t);
    }
    pthread_mutex_unlock(&g_aloneLock);
}

// Joins every listed thread, each taken off the list while it is waited for
// so that the others can start and list threads meanwhile; one that does not
// end by the deadline goes back on the list. True when all were joined.
static bool joinAllAlone(const struct timespec *deadline) {
    for (;;) {
        pthread_mutex_lock(&g_aloneLock);
        OsThreadRec *t = g_alone;
        if (t != nullptr) g_alone = t->next;
        pthread_mutex_unlock(&g_aloneLock);
        if (t == nullptr) return true;
        if (pthread_timedjoin_np(t->thread, nullptr, deadline) != 0) {
            pthread_mutex_lock(&g_aloneLock);
            t->next = g_alone;
            g_alone = t;
            pthread_mutex_unlock(&g_aloneLock);
            return false;
        }
        releaseThreadRec(t);
    }
}

// A normal thread runs at nice 0 relative to the process. "Highest" lowers
// the thread's nice value by two steps, like the Win32 level two above
// normal. Without the right to do so the thread silently stays normal.
static void raiseCurrentThreadPriority() {
    pid_t tid = (pid_t)syscall(SYS_gettid);
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, (id_t)tid);
    if (nice == -1 && errno != 0) return;
    (void)setpriority(PRIO_PROCESS, (id_t)tid, nice - 2);
}

static void *threadMain(void *p) {
    OsThreadRec *t = (OsThreadRec *)p;
    if (t->priority == OS_PRIORITY_HIGHEST) raiseCurrentThreadPriority();
    t->proc(t->arg);
    releaseThreadRec(t);
    return nullptr;
}

OsThread osThreadStart(OsThreadProc proc, void *arg, size_t stackSize, OsPriority priority) {
    if (proc == nullptr) return nullptr;
    joinEndedAlone();
    OsThreadRec *t = new (std::nothrow) OsThreadRec;
    if (t == nullptr) return nullptr;
    t->proc = proc;
    t->arg = arg;
    t->priority = priority;
    t->refs.store(2, std::memory_order_relaxed);
    t->next = nullptr;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete t;
        return nullptr;
    }
    if (stackSize != 0) {
        // The sizes callers ask for are Windows commit sizes (a few KiB, with
        // the reserve taken from the executable). Here the size is the whole
        // stack, and threads that open links run libusb and libftdi (and the
        // sanitizers in test builds), so never go below a safe floor.
        const size_t floor = 512u * 1024u;
        if (stackSize < floor) stackSize = floor;
        if (stackSize < (size_t)PTHREAD_STACK_MIN) stackSize = (size_t)PTHREAD_STACK_MIN;
        pthread_attr_setstacksize(&attr, stackSize);
    }
    int rc = pthread_create(&t->thread, &attr, threadMain, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

void osThreadJoin(OsThread t) {
    if (t == nullptr) return;
    pthread_join(t->thread, nullptr);
    releaseThreadRec(t);
}

void osThreadDetach(OsThread t) {
    if (t == nullptr) return;
    pthread_mutex_lock(&g_aloneLock);
    t->next = g_alone;
    g_alone = t;
    pthread_mutex_unlock(&g_aloneLock);
}

// The moment timeoutMs from now on the given clock, for the timed waits.
static struct timespec deadlineIn(clockid_t clock, uint32_t timeoutMs) {
    struct timespec deadline;
    clock_gettime(clock, &deadline);
    deadline.tv_sec += (time_t)(timeoutMs / 1000u);
    deadline.tv_nsec += (long)(timeoutMs % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

bool osThreadsAwaitExit(uint32_t timeoutMs) {
    struct timespec deadline = deadlineIn(CLOCK_REALTIME, timeoutMs);
    return joinAllAlone(&deadline);
}

bool osThreadIsCurrent(OsThread t) { return t != nullptr && pthread_equal(t->thread, pthread_self()) != 0; }

// ---------------------------------------------------------------------------
// Lock: a recursive pthread mutex, like a Win32 critical section
// ---------------------------------------------------------------------------

static_assert(sizeof(pthread_mutex_t) <= sizeof(OsLock::storage), "pthread mutex does not fit OsLock");
static_assert(alignof(pthread_mutex_t) <= alignof(OsLock), "pthread mutex alignment exceeds OsLock");

static pthread_mutex_t *mutexOf(OsLock *lock) { return reinterpret_cast<pthread_mutex_t *>(lock->storage); }

void osLockInit(OsLock *lock) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutexOf(lock), &attr);
    pthread_mutexattr_destroy(&attr);
}

void osLockDestroy(OsLock *lock) { pthread_mutex_destroy(mutexOf(lock)); }
void osLockEnter(OsLock *lock) { pthread_mutex_lock(mutexOf(lock)); }
bool osLockTryEnter(OsLock *lock) { return pthread_mutex_trylock(mutexOf(lock)) == 0; }
void osLockLeave(OsLock *lock) { pthread_mutex_unlock(mutexOf(lock)); }

// ---------------------------------------------------------------------------
// Event: a flag under a mutex, a condition on the monotonic clock
// ---------------------------------------------------------------------------

struct EventRec {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool set;
};
static_assert(sizeof(EventRec) <= sizeof(OsEvent::storage), "the event does not fit OsEvent");
static_assert(alignof(EventRec) <= alignof(OsEvent), "the event's alignment exceeds OsEvent");

static EventRec *eventOf(OsEvent *event) { return reinterpret_cast<EventRec *>(event->storage); }

void osEventInit(OsEvent *event) {
    EventRec *e = eventOf(event);
    pthread_mutex_init(&e->mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&e->cond, &attr);
    pthread_condattr_destroy(&attr);
    e->set = false;
}

void osEventDestroy(OsEvent *event) {
    EventRec *e = eventOf(event);
    pthread_cond_destroy(&e->cond);
    pthread_mutex_destroy(&e->mutex);
}

void osEventSet(OsEvent *event) {
    EventRec *e = eventOf(event);
    pthread_mutex_lock(&e->mutex);
    e->set = true;
    pthread_cond_signal(&e->cond);
    pthread_mutex_unlock(&e->mutex);
}

bool osEventWait(OsEvent *event, uint32_t timeoutMs) {
    EventRec *e = eventOf(event);
    struct timespec deadline = deadlineIn(CLOCK_MONOTONIC, timeoutMs);
    pthread_mutex_lock(&e->mutex);
    while (!e->set) {
        if (pthread_cond_timedwait(&e->cond, &e->mutex, &deadline) == ETIMEDOUT) break;
    }
    bool wasSet = e->set;
    e->set = false;
    pthread_mutex_unlock(&e->mutex);
    return wasSet;
}

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------

void osSleep(uint32_t ms) {
    struct timespec ts;
    ts.tv_sec = (time_t)(ms / 1000u);
    ts.tv_nsec = (long)(ms % 1000u) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint64_t osRawMonotonicUs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

// Milliseconds since the system started, like the Win32 tick count.
uint32_t osRawTickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

static double cpuSeconds(clockid_t clock) {
    struct timespec ts;
    if (clock_gettime(clock, &ts) != 0) return 0.0;
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

double osProcessCpuSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
double osThreadCpuSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

void osLocalTime(OsLocalTime *t) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t seconds = ts.tv_sec;
    struct tm tm;
    if (localtime_r(&seconds, &tm) == nullptr) {
        *t = OsLocalTime{1970, 1, 1, 0, 0, 0, 0};
        return;
    }
    t->year = (uint16_t)(tm.tm_year + 1900);
    t->month = (uint16_t)(tm.tm_mon + 1);
    t->day = (uint16_t)tm.tm_mday;
    t->hour = (uint16_t)tm.tm_hour;
    t->minute = (uint16_t)tm.tm_min;
    t->second = (uint16_t)tm.tm_sec;
    t->millisecond = (uint16_t)(ts.tv_nsec / 1000000L);
}

int osVersionCode() { return 14; }
