#!/usr/bin/env bash
# Every test: the unit tests under CTest, the pure units under the sanitizers, the fuzz
# targets over their seeds, then the end-to-end tests. A stage passes only when it exits 0
# and ran at least one test: a stage whose tests vanished or failed to load must not look
# green.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
NATIVE="${NATIVE_DIR:-$BUILD/native}"
REPORTS="$(mktemp -d)"
trap 'rm -rf "$REPORTS"' EXIT
COUNT="/usr/bin/python3 $ROOT/scripts/test_counts.py"

# The verdict's own rules first: a counter that miscounts would pass anything.
if ! /usr/bin/python3 -m pytest -q -p no:cacheprovider "$ROOT/tests/harness" >"$REPORTS/harness.txt" 2>&1; then
  cat "$REPORTS/harness.txt"
  echo "tests: the verdict's own tests fail (tests/harness): no stage was run"
  exit 1
fi

# Each test program writes its results beside the others; Wine sees the folder as Z:.
mkdir -p "$REPORTS/unit"
t0=$SECONDS
(cd "$BUILD" && GTEST_OUTPUT="xml:Z:${REPORTS//\//\\}\\unit\\" \
    ctest --output-on-failure --no-tests=error -j"${JOBS:-$(nproc)}")
unit=$?
unit_time=$((SECONDS - t0))

t0=$SECONDS
"$NATIVE/test_pure" --gtest_brief=1 --gtest_output="xml:$REPORTS/native.xml"
native=$?
native_time=$((SECONDS - t0))

# The fuzz targets over their seed corpora, once each, under the same sanitizers; the
# fuzzing itself stays in `make fuzz`.
t0=$SECONDS
FUZZ_DIR="$NATIVE" FUZZ_RUNS=0 FUZZ_JUNIT="$REPORTS/fuzz.xml" bash "$ROOT/scripts/run-fuzz.sh" >"$REPORTS/fuzz.txt" 2>&1
seeds=$?
seeds_time=$((SECONDS - t0))
[ "$seeds" = 0 ] || cat "$REPORTS/fuzz.txt"

# End-to-end tests mostly wait on Wine and the peers: run files side by side.
workers=$(( $(nproc) < 4 ? 3 : 4 ))
t0=$SECONDS
SV_BUILD_DIR="$BUILD" /usr/bin/python3 -m pytest -q -p no:cacheprovider -n "$workers" --dist loadfile \
    --junitxml="$REPORTS/e2e.xml" "$ROOT/tests/e2e"
e2e=$?
e2e_time=$((SECONDS - t0))

$COUNT --summary \
    unit "$unit" "$unit_time" "$REPORTS/unit" \
    sanitizer "$native" "$native_time" "$REPORTS/native.xml" \
    fuzz-seeds "$seeds" "$seeds_time" "$REPORTS/fuzz.xml" \
    end-to-end "$e2e" "$e2e_time" "$REPORTS/e2e.xml"
