"""Counts the tests of a run from the JUnit XML files that GoogleTest and pytest write,
and gives the verdict of `make test` in one line.

    test_counts.py --summary NAME EXIT SECONDS REPORT [NAME EXIT SECONDS REPORT ...]

REPORT is one XML file or a folder of them. A stage passes only when its command exited
0 and at least one of its tests ran and passed; the exit status is 0 when every stage
passed."""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def count(report):
    """(passed, skipped, failed) over every test case in `report` (a file or a folder)."""
    files = sorted(glob.glob(os.path.join(report, "*.xml"))) if os.path.isdir(report) else [report]
    passed = skipped = failed = 0
    for path in files:
        try:
            root = ET.parse(path).getroot()
        except (OSError, ET.ParseError):
            continue
        for case in root.iter("testcase"):
            if case.get("status") == "notrun":  # a disabled GoogleTest case
                continue
            tags = {child.tag for child in case}
            if tags & {"failure", "error"}:
                failed += 1
            elif "skipped" in tags or case.get("result") == "skipped":
                skipped += 1
            else:
                passed += 1
    return passed, skipped, failed


def stage_verdict(exit_code, passed, failed):
    """None when the stage passed, else why not."""
    if exit_code != 0:
        return f"exit {exit_code}"
    if failed:
        return f"{failed} failed"
    if passed == 0:
        return "ran no tests"
    return None


def summary(stages):
    """One line for all stages, and whether every stage passed."""
    parts = []
    faults = []
    for name, exit_code, seconds, report in stages:
        passed, skipped, failed = count(report)
        text = f"{name} {passed} passed"
        if failed:
            text += f", {failed} failed"
        if skipped:
            text += f", {skipped} skipped"
        parts.append(f"{text} ({seconds} s)")
        why = stage_verdict(exit_code, passed, failed)
        if why:
            faults.append(f"{name} {why}")
    verdict = "all passed" if not faults else "FAILED: " + "; ".join(faults)
    return "tests: " + " | ".join(parts) + ": " + verdict, not faults


def main(argv):
    if not argv or argv[0] != "--summary" or (len(argv) - 1) % 4 != 0 or len(argv) == 1:
        print(__doc__, file=sys.stderr)
        return 2
    rest = argv[1:]
    stages = []
    for i in range(0, len(rest), 4):
        name, code, seconds, report = rest[i:i + 4]
        stages.append((name, int(code), int(seconds), report))
    line, ok = summary(stages)
    print(line)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
