#!/usr/bin/env python3
"""Counts the results of a test run over one or more build folders.

    summary.py <build folder>...

Each build folder holds CTest's JUnit report (ctest-junit.xml) and, in test-output/, the
GoogleTest report of every test executable that CTest ran. A GoogleTest executable counts its
test cases; any other CTest test (static checks, fuzzing) counts as one. An executable that
CTest saw fail although its report shows no failing case (it crashed or timed out) counts as
one failure more. The session fixtures count only when they fail.

Prints the failures, a line of counts for each build folder ("i686: N passed, N failed"), then
one line over all of them: "N passed, N failed" (with skipped cases, if any, after it in
brackets), and exits 1 when anything failed or nothing ran.
"""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    root = ET.parse(path).getroot()
    passed = failed = skipped = 0
    failures = []
    for case in root.iter("testcase"):
        name = f"{case.get('classname')}.{case.get('name')}"
        if case.find("failure") is not None:
            failed += 1
            failures.append(name)
        elif case.get("result") == "skipped" or case.get("status") == "notrun" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped, failures


def counts_line(passed, failed, skipped):
    line = f"{passed} passed, {failed} failed"
    if skipped:
        line += f" ({skipped} skipped)"
    return line


def main(argv):
    passed = failed = skipped = 0
    failures = []
    per_build = []
    for build in argv[1:]:
        before = (passed, failed, skipped)
        junit = os.path.join(build, "ctest-junit.xml")
        if not os.path.exists(junit):
            failed += 1
            failures.append(f"{build}: no test report (the build or CTest did not run)")
            per_build.append((os.path.basename(os.path.normpath(build)), 0, 1, 0))
            continue
        for case in ET.parse(junit).getroot().iter("testcase"):
            name = case.get("name")
            ok = case.get("status") in ("run", "passed") and case.find("failure") is None
            if case.get("status") == "disabled":
                continue
            report = os.path.join(build, "test-output", name + ".xml")
            if os.path.exists(report):
                p, f, s, names = gtest_counts(report)
                passed, failed, skipped = passed + p, failed + f, skipped + s
                failures += [f"{name}: {n}" for n in names]
                if not ok and f == 0:
                    failed += 1
                    failures.append(f"{name}: failed without a failing case (crash or timeout)")
            elif name.startswith("wine.session."):
                if not ok:
                    failed += 1
                    failures.append(name)
            elif ok:
                passed += 1
                out = case.findtext("system-out") or ""
                runs = [l for l in out.splitlines() if l.startswith("Done ") and " runs in " in l]
                if name.startswith("fuzz.") and runs:
                    print(f"{name}: {runs[-1][5:]}, no crash")
            else:
                failed += 1
                failures.append(f"{os.path.basename(build)}: {name}")
        per_build.append((os.path.basename(os.path.normpath(build)),
                          passed - before[0], failed - before[1], skipped - before[2]))
    for f in failures:
        print("FAILED:", f)
    for name, p, f, s in per_build:
        print(f"{name}: {counts_line(p, f, s)}")
    print(counts_line(passed, failed, skipped))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
