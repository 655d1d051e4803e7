#!/bin/sh
# flaky.sh PRESET N [CTEST-ARGS...]
#
# Runs the tests of one build N times in a row (ctest --preset PRESET with
# CTEST-ARGS, e.g. -L window or -R 'e2e'), nothing re-run, and prints a table:
# for each test how often it failed (or timed out) and its slowest and
# median times. Exit 0 when no run of any test failed.
#
# The 32-bit build's tests run where its test run would run them: inside
# the 32-bit test machine (scripts/vm32) when this machine's kernel cannot
# execute 32-bit code; there all N rounds run in one boot of the machine,
# without the host checks (labels host and after-vm).
# The build must exist (make build-PRESET).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
[ $# -ge 2 ] || { echo "usage: $0 PRESET N [CTEST-ARGS...]" >&2; exit 2; }
preset=$1
rounds=$2
shift 2
case "$rounds" in ''|*[!0-9]*) echo "flaky.sh: N must be a whole number" >&2; exit 2 ;; esac
[ -f "$root/build/$preset/CTestTestfile.cmake" ] || { echo "flaky.sh: no build of $preset (make build-$preset)" >&2; exit 2; }
out="$root/build/flaky/$preset"
rm -rf "$out"
mkdir -p "$out"
cd "$root" || exit 2

# One round: ctest's JUnit report of every test it ran.
machine=0
if [ "$preset" = win32 ] && { [ "${QD_VM32:-1}" = always ] || ! "$here/can-run-32bit.sh"; }; then
    machine=1
fi
args=""
# In the 32-bit test machine the checks that need the host's tools (label
# host) and those that read the machine's results afterwards (after-vm) do
# not run: ctest-win32.sh runs them on the host, once.
[ $machine = 1 ] && args=" -LE 'host|after-vm'"
for a in "$@"; do args="$args '$(printf '%s' "$a" | sed "s/'/'\\\\''/g")'"; done
loop="for r in \$(seq 1 $rounds); do echo \"flaky: $preset round \$r of $rounds\"; ctest --preset $preset --output-junit $out/round-\$r.xml$args >$out/round-\$r.log 2>&1; tail -n 3 $out/round-\$r.log; done"

if [ $machine = 1 ]; then
    # In the machine, as ctest-win32.sh runs them: the brief window sets and
    # a fresh copy of the machine's Wine prefix.
    "$here/vm32/ctest-win32.sh" job "export QD_UI_BRIEF=1; $loop" || true
else
    sh -c "$loop"
fi

python3 - "$out" "$rounds" <<'PY'
import glob, statistics, sys, xml.etree.ElementTree as ET
out, rounds = sys.argv[1], int(sys.argv[2])
tests = {}
done = 0
for path in sorted(glob.glob(out + "/round-*.xml")):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        continue
    done += 1
    for case in root.iter("testcase"):
        name = case.get("name")
        status = case.get("status", "run")
        t = tests.setdefault(name, {"failed": 0, "skipped": 0, "times": []})
        if case.find("failure") is not None or status == "fail":
            t["failed"] += 1
        elif case.find("skipped") is not None or status in ("notrun", "disabled"):
            t["skipped"] += 1
        t["times"].append(float(case.get("time", "0")))
print(f"{done} of {rounds} rounds reported")
print(f"{'test':44} {'failed':>7} {'skipped':>7} {'median s':>9} {'slowest s':>10}")
bad = 0
for name in sorted(tests):
    t = tests[name]
    bad += t["failed"]
    print(f"{name:44} {t['failed']:>7} {t['skipped']:>7} {statistics.median(t['times']):>9.1f} {max(t['times']):>10.1f}")
sys.exit(1 if bad or done < rounds else 0)
PY
