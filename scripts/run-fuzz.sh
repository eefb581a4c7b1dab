#!/usr/bin/env bash
# Runs every fuzz target (or those named) for FUZZ_SECONDS each, or FUZZ_RUNS
# executions when that is set, starting from its seed corpus in fuzz/corpus/<target>.
# New inputs go to a scratch corpus in the build tree, never into the repository.
# Fails on the first target with a finding (crash, sanitizer report, leak, time-out).
# FUZZ_RUNS=0 replays the seeds once without fuzzing (what `make test` does); FUZZ_JUNIT
# names a JUnit XML file to write one test case per target into.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FUZZ="${FUZZ_DIR:-$ROOT/build/fuzz}"
SECONDS_EACH="${FUZZ_SECONDS:-60}"
RUNS="${FUZZ_RUNS:--1}"
targets=("$@")
if [ "${#targets[@]}" = 0 ]; then
  for src in "$ROOT"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
failed=0
cases=""
for t in "${targets[@]}"; do
  exe="$FUZZ/$t"
  if [ ! -x "$exe" ]; then
    echo "fuzz: $t is not built" >&2
    failed=1
    cases+="<testcase classname=\"fuzz\" name=\"$t\"><failure message=\"not built\"/></testcase>"
    continue
  fi
  work="$FUZZ/corpus/$t"
  artifacts="$FUZZ/findings/$t/"
  mkdir -p "$work" "$artifacts"
  seeds="$ROOT/fuzz/corpus/$t"
  [ -d "$seeds" ] || seeds=""
  log="$FUZZ/$t.log"
  "$exe" -max_total_time="$SECONDS_EACH" -runs="$RUNS" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$work" $seeds >"$log" 2>&1
  rc=$?
  execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  rate=$(grep -m1 'stat::average_exec_per_sec' "$log" | awk '{print $2}')
  if [ "$rc" = 0 ]; then
    echo "fuzz: $t ok, ${execs:-?} executions (${rate:-?}/s)"
    cases+="<testcase classname=\"fuzz\" name=\"$t\"/>"
  else
    echo "fuzz: $t FOUND a fault after ${execs:-?} executions; see $log and $artifacts" >&2
    grep -m5 -E 'ERROR|SUMMARY|runtime error|deadly signal' "$log" >&2
    failed=1
    cases+="<testcase classname=\"fuzz\" name=\"$t\"><failure message=\"exit $rc\"/></testcase>"
  fi
done
if [ -n "${FUZZ_JUNIT:-}" ]; then
  printf '<?xml version="1.0" encoding="utf-8"?>\n<testsuites><testsuite name="fuzz">%s</testsuite></testsuites>\n' \
    "$cases" >"$FUZZ_JUNIT"
fi
exit "$failed"
