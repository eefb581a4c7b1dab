"""The verdict of `make test`: only an exit of 0 with at least one passing test passes."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import test_counts  # noqa: E402

GTEST = """<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="4" failures="1" disabled="1" errors="0" name="AllTests">
  <testsuite name="A" tests="4">
    <testcase name="ok" status="run" result="completed"/>
    <testcase name="bad" status="run" result="completed"><failure message="x"/></testcase>
    <testcase name="skip" status="run" result="skipped"><skipped message=""/></testcase>
    <testcase name="DISABLED_off" status="notrun" result="suppressed"/>
  </testsuite>
</testsuites>
"""

PYTEST = """<?xml version="1.0" encoding="utf-8"?>
<testsuites><testsuite name="pytest" errors="1" failures="0" skipped="1" tests="4">
  <testcase classname="t" name="a"/><testcase classname="t" name="b"/>
  <testcase classname="t" name="c"><skipped message="no"/></testcase>
  <testcase classname="t" name="d"><error message="setup"/></testcase>
</testsuite></testsuites>
"""

GREEN_PYTEST = """<?xml version="1.0" encoding="utf-8"?>
<testsuites><testsuite name="pytest" errors="0" failures="0" skipped="1" tests="2">
  <testcase classname="t" name="a"/><testcase classname="t" name="b"><skipped message="no"/></testcase>
</testsuite></testsuites>
"""

EMPTY_PYTEST = """<?xml version="1.0" encoding="utf-8"?>
<testsuites><testsuite name="pytest" errors="0" failures="0" skipped="0" tests="0"/></testsuites>
"""


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


def test_cases_are_counted_from_both_formats_and_a_folder(tmp_path):
    assert test_counts.count(write(tmp_path, "g.xml", GTEST)) == (1, 1, 1)
    assert test_counts.count(write(tmp_path, "p.xml", PYTEST)) == (2, 1, 1)
    assert test_counts.count(str(tmp_path)) == (3, 2, 2)
    assert test_counts.count(str(tmp_path / "missing.xml")) == (0, 0, 0)


@pytest.mark.parametrize("exit_code, report, passes", [
    (0, GREEN_PYTEST, True),
    (5, EMPTY_PYTEST, False),   # pytest's "no tests collected"
    (0, EMPTY_PYTEST, False),   # a runner that says 0 but ran nothing
    (0, None, False),           # no report at all: the program died before writing it
    (1, GREEN_PYTEST, False),
    (0, PYTEST, False),         # an error in the report outweighs the exit code
    (0, GTEST, False),
], ids=["green", "none-collected", "zero-but-empty", "no-report", "exit-1", "error", "failure"])
def test_a_stage_passes_only_on_exit_0_with_a_passing_test(tmp_path, exit_code, report, passes):
    path = write(tmp_path, "r.xml", report) if report else str(tmp_path / "none.xml")
    line, ok = test_counts.summary([("end-to-end", exit_code, 3, path)])
    assert ok == passes, line
    assert line.startswith("tests: end-to-end ")


def test_the_summary_names_every_stage_and_each_failure(tmp_path):
    good = write(tmp_path, "good.xml", PYTEST)
    empty = write(tmp_path, "empty.xml", EMPTY_PYTEST)
    line, ok = test_counts.summary([("unit", 0, 90, good), ("sanitizer", 0, 10, good), ("end-to-end", 5, 1, empty)])
    assert not ok
    assert line == ("tests: unit 2 passed, 1 failed, 1 skipped (90 s) | sanitizer 2 passed, 1 failed, 1 skipped (10 s)"
                    " | end-to-end 0 passed (1 s): FAILED: unit 1 failed; sanitizer 1 failed; end-to-end exit 5")
