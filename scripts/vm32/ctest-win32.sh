#!/bin/sh
# ctest-win32.sh [prepare | machine | after | job COMMAND]: runs the tests of
# the 32-bit build. Where this machine executes 32-bit code they run here
# under Wine like the 64-bit ones (every part below is then that one run).
# Where its kernel cannot (no IA32 support, so no wine32), the checks that
# need only host tools run here and every other test runs inside the 32-bit
# test machine (image.sh, run.sh): the same ctest, the same build folder.
#
#   (no argument)  everything: prepare, machine, after
#   prepare        the machine's image and its Wine prefix, made once and
#                  kept in the cache (scripts/test-all.sh runs this beside
#                  the builds)
#   machine        the tests labelled "host" here, then the rest in the
#                  machine
#   after          the tests labelled "after-vm", here: they read what a
#                  test in the machine left, or compare the results with the
#                  other builds' (run once those have run too)
#   job COMMAND    COMMAND (a shell text) in the machine, with a fresh copy
#                  of the prefix, in the project folder (scripts/flaky.sh)
#
# ctest's JUnit reports go to build/logs/junit-win32-<part>.xml.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
cache=${QD_VM32_CACHE:-/var/cache/quorvane-vm32}
logs="$root/build/logs"
part=${1:-all}
cd "$root"
mkdir -p "$logs"

# QD_VM32=always takes the machine's road even here (to see what the tests
# cost where the kernel has no 32-bit support).
if [ "${QD_VM32:-1}" != always ] && "$root/scripts/can-run-32bit.sh"; then
    case $part in
    prepare) exit 0 ;;
    job) shift; exec sh -c "$1" ;;
    esac
    exec ctest --preset win32 --output-junit "$logs/junit-win32.xml"
fi

usable() {
    case "$root$cache" in
    *[!A-Za-z0-9_./-]*)
        echo "win32: the project path $root or the cache path $cache holds characters the machine's shares cannot carry"
        return 1 ;;
    esac
    [ "${QD_VM32:-1}" != 0 ]
}

# The image, then the machine's Wine prefix (about 5 minutes under
# emulation, once; wine-prefix.sh brings a prefix of an earlier recipe up to
# date). Every test run starts from a copy of it.
prepare() {
    usable || return 1
    "$here/image.sh" || return 1
    exec 9>"$cache/prefix.lock"
    flock 9
    if [ ! -f "$cache/wineprefix/.quorvane-ready" ] || [ ! -f "$cache/wineprefix/.quorvane-win10" ]; then
        echo "vm32: making the Wine prefix inside the machine"
        job=$(mktemp)
        printf 'export WINEPREFIX="%s"\nsh "%s/scripts/wine-prefix.sh" && /usr/lib/wine/wine --version\n' \
            "$cache/wineprefix" "$root" >"$job"
        "$here/run.sh" "$job" || { rm -f "$job"; echo "vm32: the Wine prefix could not be made" >&2; return 1; }
        rm -f "$job"
    fi
    exec 9>&-
}

# in_machine COMMAND: the command in the machine on a fresh prefix of its
# own, in the machine's memory (local-prefix.sh).
in_machine() {
    mkdir -p "$root/build/vm32"
    job=$(mktemp)
    cat >"$job" <<JOB
cd "$root" || exit 1
sh "$here/local-prefix.sh" "$cache/wineprefix" /tmp/wineprefix || { echo "win32: cannot make the machine's Wine prefix"; exit 1; }
export WINEPREFIX=/tmp/wineprefix
echo "win32: running in \$(uname -sr), \$(/usr/lib/wine/wine --version), 32-bit Wine"
$1
JOB
    "$here/run.sh" "$job"
    rc=$?
    rm -f "$job"
    return $rc
}

skipped() {
    echo "win32: no virtual machine: the tests that execute 32-bit code are reported as skipped"
    exec ctest --preset win32 --output-junit "$logs/junit-win32.xml"
}

machine() {
    rc=0
    ctest --preset win32 -L host --output-junit "$logs/junit-win32-host.xml" || rc=1
    # The window tests run their brief sets there (tests/ui/ui.cmake).
    in_machine "export QD_UI_BRIEF=1
ctest --preset win32 -LE 'host|after-vm' --output-junit '$logs/junit-win32-machine.xml'" || rc=1
    return $rc
}

after() { ctest --preset win32 -L after-vm --output-junit "$logs/junit-win32-after.xml"; }

case $part in
prepare) prepare ;;
machine)
    echo "win32: the 32-bit tests run in a virtual machine (scripts/vm32): this machine's kernel cannot execute 32-bit code, or QD_VM32=always asks for it"
    prepare || skipped
    machine ;;
after) after ;;
job) prepare || exit 1; in_machine "$2" ;;
all)
    echo "win32: the 32-bit tests run in a virtual machine (scripts/vm32): this machine's kernel cannot execute 32-bit code, or QD_VM32=always asks for it"
    prepare || skipped
    rc=0
    machine || rc=1
    after || rc=1
    exit $rc ;;
*) echo "usage: $0 [prepare | machine | after | job COMMAND]" >&2; exit 2 ;;
esac
