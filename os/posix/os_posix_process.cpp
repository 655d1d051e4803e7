// os_posix_process.cpp - starting programs on Linux.
//
// The program is started by a short-lived intermediate child: the child
// spawns the program and exits at once, and the caller reaps the child. The
// program itself is then an orphan that init (or the nearest subreaper)
// reaps, so no zombie is ever left behind and the caller never waits for the
// program. This needs no SIGCHLD handler and no waiter thread, which could
// outlive an unloaded library.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/os.h"

extern char **environ;

uint32_t osProcessId() { return (uint32_t)getpid(); }

bool osStartProcess(const char *program, const char *const *argv, const char *commandLine) {
    (void)commandLine;
    if (program == nullptr || program[0] == '\0') return false;
    const char *noArgs[2] = {program, nullptr};
    char *const *args = (char *const *)(argv != nullptr ? argv : noArgs);

    // Everything that allocates is prepared before the fork: the child of a
    // multithreaded process may only use async-signal-safe services.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    // No handle inheritance: only standard input, output and error stay open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    bool started = false;
    pid_t child = fork();
    if (child == 0) {
        pid_t grandchild;
        int rc = posix_spawnp(&grandchild, program, &actions, &attr, args, environ);
        _exit(rc == 0 ? 0 : 127);
    }
    if (child > 0) {
        int status = 0;
        pid_t r;
        do {
            r = waitpid(child, &status, 0);
        } while (r < 0 && errno == EINTR);
        if (r == child) {
            started = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        } else {
            // The host ignores SIGCHLD, so children are reaped for it and the
            // outcome is unknown; the spawn itself did not fail before.
            started = errno == ECHILD;
        }
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return started;
}
