#!/bin/sh
# xvfb-run.sh COMMAND [ARGS...]
#
# Runs COMMAND with DISPLAY set to a virtual X server of its own: Xvfb is
# started on a free display (the server picks the number itself and reports
# it, so tests running side by side never meet), COMMAND runs, and Xvfb is
# stopped again whatever the outcome. The exit status is COMMAND's; 77 (so
# ctest reports the test as skipped) when Xvfb is not installed.
#
# The window tests run their Windows programs through it, under Wine:
#   scripts/xvfb-run.sh scripts/wine-run.sh build/win64/test_devwindow.exe
set -u
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: Xvfb is not installed (scripts/setup.sh installs it)"
    exit 77
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/qd-xvfb.XXXXXX") || exit 1
xpid=""
stop() {
    if [ -n "$xpid" ]; then
        kill "$xpid" 2>/dev/null
        wait "$xpid" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

# -displayfd: Xvfb chooses a free display and writes its number once it
# accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
xpid=$!
waited=0
while [ ! -s "$dir/display" ]; do
    if ! kill -0 "$xpid" 2>/dev/null || [ $waited -ge 300 ]; then
        echo "xvfb-run.sh: Xvfb did not start:" >&2
        cat "$dir/log" >&2
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done
DISPLAY=:$(head -n 1 "$dir/display")
export DISPLAY
"$@"
