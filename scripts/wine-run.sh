#!/bin/sh
# wine-run.sh PROGRAM.exe [ARGS...]
# wine-run.sh --stop
#
# Runs a Windows program of this tree under Wine, in the project's own Wine
# prefix (build/wineprefix, created on first use), without a display unless
# one is given. A 32-bit program on a machine whose kernel cannot execute
# 32-bit code (no IA32 support, so no wine32) exits with 77, which ctest
# reports as skipped.
#
# The program's exit status is the one Windows gives it. A program of a
# build tree runs through that tree's qd_wine_status.exe (wine-status.cpp),
# which waits for it and writes its status to a file: once a Wine process's
# last thread has ended, the Wine server sends its Unix process SIGKILL if
# that has not exited within about half a second, which on a busy machine
# happens to programs that have finished. Where the launcher's own Unix
# process meets that end, the status comes from the file.
#
# With QD_WINE_WINDOWS=1 (the window tests, on a display) the program gets
# a Wine server of its own: the runner ends the server of earlier programs,
# runs the program, and waits until its server has ended. A server started without a display would otherwise give the
# program's windows no desktop, and a desktop made on the test's display
# would outlive that display. Wine is also told to draw the windows' frames
# and captions itself, as no window manager runs on a test display. The
# window tests run alone (ctest RUN_SERIAL), so nothing else waits long.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
prog=$1
shift

# wine-run.sh --stop: ends the prefix's server and its programs (the end of
# a test run).
if [ "$prog" = --stop ]; then
    export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
    server=/usr/lib/wine/wineserver
    [ -x "$server" ] || server=wineserver
    "$server" -k 2>/dev/null
    "$server" -w
    exit 0
fi

if [ ! -f "$prog" ]; then
    echo "wine-run.sh: no such program: $prog" >&2
    exit 127
fi

: "${WINEPREFIX:=$root/build/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# PE machine field: 0x14c = i386, 0x8664 = x86-64.
machine=$(od -An -tx1 -j60 -N4 "$prog" 2>/dev/null | awk '{print $4$3$2$1}')
pe_off=$((0x${machine:-0}))
arch=$(od -An -tx1 -j$((pe_off + 4)) -N2 "$prog" 2>/dev/null | awk '{print $2$1}')

if [ "$arch" = "014c" ]; then
    if ! "$here/can-run-32bit.sh"; then
        echo "SKIP: this machine cannot execute 32-bit x86 code (its kernel has no IA32 support), so wine32 cannot run $(basename "$prog")."
        exit 77
    fi
    loader=/usr/lib/wine/wine
else
    loader=/usr/lib/wine/wine64
fi
[ -x "$loader" ] || loader=wine

"$here/wine-prefix.sh" >/dev/null 2>&1 || { echo "cannot create the Wine prefix $WINEPREFIX"; exit 1; }

# One Wine server for a run of programs. Debian's wineserver runs with -p0:
# it ends, and ends the prefix's service processes with it, whenever no Wine
# program runs, and the next program starts it again together with the
# service processes. Those inherit the standard handles of that program and
# outlive it: a caller waiting for the end of its output (ctest, a test
# script) then waits until the server ends, which under a busy test run can
# take minutes. So the first caller of a run (under the lock) starts the
# server with a persistence of its own, lets a first program with none of
# our handles start the service processes, and waits until the service
# manager answers that they run; only then does any test program start.
# The persistence (QD_WINE_PERSIST seconds, default 600) outlasts any pause
# of a test run, so the server never ends between one caller's check and
# its program's start; the run ends it (wine-run.sh --stop, the ctest
# fixture "wine" of tests/tests.cmake).
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=wineserver

# Brings the server and its services up unless a server runs; false when
# the services do not answer within a bound only a hang reaches.
server_up() {
    "$server" -p"${QD_WINE_PERSIST:-600}" </dev/null >/dev/null 2>&1 8>&- || return 0
    "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1 8>&-
    answer=$(mktemp "${TMPDIR:-/tmp}/qd-wine-services.XXXXXX") || return 1
    tries=0
    until "$loader" sc.exe query PlugPlay </dev/null >"$answer" 2>&1 8>&- && grep -q RUNNING "$answer"; do
        tries=$((tries + 1))
        if [ $tries -ge 300 ]; then
            echo "wine-run.sh: the services of the Wine prefix $WINEPREFIX did not come up:" >&2
            cat "$answer" >&2
            rm -f "$answer"
            return 1
        fi
        sleep 0.5
    done
    rm -f "$answer"
}

# The status launcher of the build tree that holds the program, if any.
launcher=
dir=$(cd "$(dirname "$prog")" && pwd)
prog="$dir/$(basename "$prog")"
for _ in 1 2 3 4; do
    if [ -f "$dir/CMakeCache.txt" ]; then
        [ -f "$dir/qd_wine_status.exe" ] && launcher="$dir/qd_wine_status.exe"
        break
    fi
    dir=$(dirname "$dir")
done

# Runs the program (through the launcher where there is one) and returns
# its exit status. QD_WINE_UNDER names a command to run Wine under (a
# tracer, say); it is split at spaces.
launch() {
    if [ -z "$launcher" ]; then
        ${QD_WINE_UNDER:-} "$loader" "$prog" "$@"
        return
    fi
    status_file=$(mktemp "${TMPDIR:-/tmp}/qd-wine-status.XXXXXX") || return 1
    ${QD_WINE_UNDER:-} "$loader" "$launcher" "Z:$status_file" "Z:$(printf '%s' "$prog" | tr / '\\')" "$@"
    rc=$?
    code=
    [ $rc -eq 137 ] && read -r code <"$status_file"
    rm -f "$status_file"
    if [ -n "$code" ]; then
        echo "wine-run.sh: the Wine server ended the finished launcher of $(basename "$prog") with SIGKILL; the program's exit status was $code" >&2
        rc=$code
    fi
    return $rc
}

# The program's standard error goes through a file. Wine hands every
# process it starts the Unix standard error of its starter, so the desktop
# process (explorer.exe), which a test program's first window starts, keeps
# the test's standard error open for as long as any program of the run has
# a window; a caller that reads to its end (ctest, cmake's execute_process)
# would wait that long. Its output comes after the program's output.
run_program() {
    errors=$(mktemp "${TMPDIR:-/tmp}/qd-wine-stderr.XXXXXX") || return 1
    launch "$@" 2>"$errors"
    rc=$?
    cat "$errors" >&2
    rm -f "$errors"
    return $rc
}

exec 8>"$WINEPREFIX.server.lock"
flock 8
if [ "${QD_WINE_WINDOWS:-0}" = 1 ]; then
    # The window tests run alone (RUN_SERIAL): the run's server has no
    # program now and is ended rather than waited for.
    "$server" -k 8>&- 2>/dev/null
    "$server" -w 8>&-
    # Once set, the prefix keeps them (no server runs now, so its registry
    # file is up to date): a Wine start saved per window test.
    if ! grep -A4 -F '[Software\\Wine\\X11 Driver]' "$WINEPREFIX/user.reg" 2>/dev/null | grep -q -F '"Managed"="N"'; then
        settings=$(mktemp "${TMPDIR:-/tmp}/qd-x11.XXXXXX") || exit 1
        printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Decorated"="N"\n"Managed"="N"\n' >"$settings"
        "$loader" regedit /S "$settings" </dev/null >/dev/null 2>&1 8>&-
        rm -f "$settings"
    fi
    run_program "$@" 8>&-
    status=$?
    "$server" -w 8>&-
    exit $status
fi
server_up || exit 1
exec 8>&-

run_program "$@"
