#!/usr/bin/env python3
"""test-summary.py STEPS LOGS TOTAL_SECONDS: the end of "make test".

STEPS holds a line "NAME SECONDS EXIT-STATUS" per step of scripts/test-all.sh;
LOGS holds ctest's JUnit reports, junit-BUILD.xml or junit-BUILD-PART.xml
(the 32-bit build's tests may run in three parts: on this machine, in the test
machine, and afterwards). Prints each step's minutes and outcome and, per
build, the tests passed, failed and skipped, and the names of the failed
ones. Exit 1 when a step or a test failed.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def tests_by_build(logs):
    builds = {}
    for path in sorted(glob.glob(os.path.join(logs, "junit-*.xml"))):
        build = os.path.basename(path)[len("junit-"):-len(".xml")].split("-")[0]
        counts = builds.setdefault(build, {"passed": 0, "failed": [], "skipped": 0})
        try:
            root = ET.parse(path).getroot()
        except (ET.ParseError, OSError):
            counts["failed"].append(os.path.basename(path) + " (unreadable report)")
            continue
        for case in root.iter("testcase"):
            status = case.get("status", "")
            if case.find("failure") is not None or case.find("error") is not None or status == "fail":
                counts["failed"].append(case.get("name"))
            elif case.find("skipped") is not None or status in ("notrun", "disabled"):
                counts["skipped"] += 1
            else:
                counts["passed"] += 1
    return builds


def main():
    steps_file, logs, total = sys.argv[1], sys.argv[2], int(sys.argv[3])
    bad = False
    print(f"{'step':28} {'minutes':>8}  result")
    with open(steps_file) as f:
        for line in f:
            parts = line.split()
            if len(parts) != 3:
                continue
            name, seconds, rc = parts[0], int(parts[1]), int(parts[2])
            bad = bad or rc != 0
            print(f"{name:28} {seconds / 60:8.1f}  {'ok' if rc == 0 else 'FAILED'}")
    print(f"{'all':28} {total / 60:8.1f}")
    for build, c in tests_by_build(logs).items():
        print(f"tests {build}: {c['passed']} passed, {len(c['failed'])} failed, {c['skipped']} skipped")
        for name in c["failed"]:
            print(f"  failed: {name}")
        bad = bad or bool(c["failed"])
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
