#!/usr/bin/env bash
# Every test: the unit tests under CTest, then the end-to-end tests.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
(cd "$BUILD" && ctest --output-on-failure -j"${JOBS:-$(nproc)}")
unit=$?
# The pure units' tests, built natively under AddressSanitizer and UBSan.
NATIVE="${NATIVE_DIR:-$BUILD/native}"
"$NATIVE/test_pure" --gtest_brief=1
native=$?
# End-to-end tests mostly wait on Wine and the peers: run files side by side.
workers=$(( $(nproc) < 4 ? 3 : 4 ))
SV_BUILD_DIR="$BUILD" /usr/bin/python3 -m pytest -q -p no:cacheprovider -n "$workers" --dist loadfile "$ROOT/tests/e2e"
e2e=$?
[ "$e2e" = 5 ] && e2e=0
[ "$unit" = 0 ] && [ "$native" = 0 ] && [ "$e2e" = 0 ]
