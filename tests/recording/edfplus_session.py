"""edfplus_session.py - qdacq records a simulated Brev session into EDF+:
four data messages lost (half a second), a pause of one second from the
device's button, and markers on standard input while it runs. EDFlib (the
edfcheck program) must open the file as EDF+ and list the annotations; MNE
must read the same ones, each marker within one sample period of the
instant the test expects, and the spans without samples marked bad.

The expected instants come from the simulated signal: a ramp that rises by
one device unit per generated sample, so a value names its sample. A
marker's instant is that of the sample the CSV (--csv --time) shows at the
marker's arrival; the gap is where the ramp skips the 64 lost values.

    python3 edfplus_session.py QDACQ EDFCHECK OUTDIR
"""

import os
import subprocess
import sys
import time

try:
    import mne
    import numpy as np
except ImportError:
    print("SKIP: MNE-Python is not installed (python3-mne)")
    sys.exit(77)

qdacq, edfcheck, out = sys.argv[1:4]
os.makedirs(out, exist_ok=True)
edf, csv = os.path.join(out, "session.edf"), os.path.join(out, "session.csv")
MARKERS = [(1.0, "stimulus 1"), (3.0, 'stimulus "2"'), (4.5, "during the pause"), (6.0, "stimulus 3")]
RANGE, FULL = 150.0, 2048.0        # the Brev's "Measurement range" (uV) and its 12-bit full scale

p = subprocess.Popen([qdacq, "--shared-dir", os.path.join(out, "shared"), "--simulate", "--model",
                      "Quorvane Brev 100", "--seconds", "7", "--sim-signal", "ramp", "--sim-amplitude", "1",
                      "--sim-fault", "phase-gap@2x4", "--sim-fault", "button@4", "--sim-fault", "button@5",
                      "--markers", "--csv", csv, "--time", "--edfplus", edf],
                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
start = time.monotonic()
for at, text in MARKERS:
    time.sleep(max(0.0, start + at - time.monotonic()))
    p.stdin.write(text + "\n")
    p.stdin.flush()
p.stdin.close()
output = p.stdout.read()
p.wait(timeout=120)
print(output)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


check(p.returncode == 0, "qdacq exit status %d" % p.returncode)
listing = subprocess.run([edfcheck, "-a", edf], capture_output=True, text=True)
check(listing.returncode == 0 and "filetype 1\n" in listing.stdout, "EDFlib opens the file as EDF+")
edflib = [line.split(" ", 3)[1:] for line in listing.stdout.splitlines() if line.startswith("annotation ")]

raw = mne.io.read_raw_edf(edf, verbose="error")
rate = raw.info["sfreq"]
units = np.rint(raw.get_data()[0] * 1e6 * FULL / RANGE).astype(int)      # the ramp's device values
notes = [(a["onset"], a["duration"], a["description"]) for a in raw.annotations]
for n in notes:
    print("MNE annotation %.4f %.4f %s" % n)
check(sorted(d for _, _, d in notes) == sorted(t for _, _, t in edflib), "EDFlib and MNE list the same annotations")
for (onset, _, text), (e_onset, _, e_text) in zip(sorted(notes), sorted((float(o), d, t) for o, d, t in edflib)):
    check(abs(onset - e_onset) < 1e-3 and text == e_text, "the same onset of %r" % text)


def one(description):
    found = [n for n in notes if n[2] == description]
    check(len(found) == 1, "one annotation %r (%d)" % (description, len(found)))
    return found[0] if found else (0.0, 0.0, description)


# The gap: a run of 0s, after which the ramp has skipped the 64 lost values.
zero = np.concatenate([[False], units[1:] == 0, [False]])
edges = np.flatnonzero(np.diff(zero.astype(int)))
gap_first, gap_after = (int(edges[0]) + 1, int(edges[1]) + 1) if len(edges) > 1 else (1, 1)
skips = sorted(n for n in notes if n[2] == "BAD_ACQ_SKIP")
# A third one completes the last record with filler at the end.
end = len(units) / rate
if len(skips) == 3:
    check(abs(skips[2][0] + skips[2][1] - end) < 1e-3, "the end's filler ends the file")
    skips = skips[:2]
check(len(skips) == 2, "two spans without samples: the gap and the pause (%d)" % len(skips))
check(abs(skips[0][0] - gap_first / rate) <= 1 / rate, "the gap's onset")
check(abs(skips[0][1] - (gap_after - gap_first) / rate) <= 1 / rate, "the gap's duration")
check(units[gap_after] - units[gap_first - 1] == 65, "the gap holds the 64 lost samples")
# The pause: the ramp goes on from one value to the next across it.
pause, pause_end = one("Pause"), one("Pause end")
fill = skips[1] if len(skips) > 1 else (0.0, 0.0, "")
first, last = int(round(fill[0] * rate)), int(round((fill[0] + fill[1]) * rate))
check(units[last] - units[first - 1] == 1 and not units[first:last].any(), "the pause's fill between two samples")
# The pause's reports come on the host's clock, a notification's latency apart.
check(abs(fill[1] - 1.0) < 0.1 and abs(pause[0] - fill[0]) < 0.05, "the pause's span")
check(abs(pause_end[0] - (fill[0] + fill[1])) < 0.05, "the pause's end")
# MNE takes every BAD_ span as bad: no sample of a span survives.
marked = raw.get_data(reject_by_annotation="NaN")[0]
for onset, duration, _ in skips:
    inside = marked[int(np.ceil(onset * rate)):int(np.floor((onset + duration) * rate))]
    check(len(inside) > 0 and np.isnan(inside).all(), "MNE marks the span at %.3f s bad" % onset)

# Markers: the CSV's sample at each marker's arrival names the expected instant.
samples, arrivals = [], {}
for line in open(csv, encoding="utf-8").read().splitlines()[1:]:
    phase, channel, rest = line.split(",", 2)
    if channel == "marker":
        text, when = rest.rsplit(",", 1)
        arrivals[text[1:-1].replace('""', '"')] = float(when)
    else:
        value, when = rest.split(",")
        samples.append((float(when), int(round(float(value) * FULL / RANGE))))
times = np.array([s[0] for s in samples])
for _, text in MARKERS:
    onset = one(text)[0]
    check(text in arrivals, "the CSV has the marker %r" % text)
    if text == "during the pause":
        check(fill[0] <= onset <= fill[0] + fill[1], "the marker in the pause lies in its span")
        continue
    value = samples[int(np.argmin(abs(times - arrivals.get(text, 0))))][1]
    expected = int(np.flatnonzero(units == value)[0]) / rate
    check(abs(onset - expected) <= 1 / rate, "%r at %.4f s, expected %.4f s" % (text, onset, expected))

print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
sys.exit(1 if failures else 0)
