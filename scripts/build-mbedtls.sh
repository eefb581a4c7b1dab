#!/usr/bin/env bash
# Builds Mbed TLS (fetched by setup.sh) with the MinGW toolchain and the
# host's own configuration header into a prefix inside the build tree.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
DEPS="${DEPS_DIR:-$ROOT/build/deps}"
SRC=$(ls -d "$DEPS"/mbedtls-src/mbedtls-3.6.* | head -n1)
PREFIX="$DEPS/mbedtls-install"
STAMP="$PREFIX/.config-stamp"
want=$(cat "$ROOT/net/mbedtls/sv_mbedtls_config.h" "$ROOT/net/mbedtls/threading_alt.h" "$ROOT/cmake/mingw-w64-x86_64.cmake" <(sed '/^# A second, native build/,$d' "$0") | sha256sum | cut -c1-16)
if ! { [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$want" ] && [ -f "$PREFIX/lib/libmbedtls.a" ]; }; then
rm -rf "$DEPS/mbedtls-build" "$PREFIX"
cmake -S "$SRC" -B "$DEPS/mbedtls-build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DMBEDTLS_FATAL_WARNINGS=OFF \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" \
  "-DCMAKE_C_FLAGS=-I$ROOT/net/mbedtls -DMBEDTLS_USER_CONFIG_FILE=\\\"sv_mbedtls_config.h\\\"" >/dev/null
cmake --build "$DEPS/mbedtls-build" -j"$(nproc)" >/dev/null
cmake --install "$DEPS/mbedtls-build" >/dev/null
echo "$want" > "$STAMP"
echo "mbedtls: built into $PREFIX"
fi

# A second, native build of the same source for the sanitizer build and the fuzz
# targets (Linux, clang), with the same configuration header.
NPREFIX="$DEPS/mbedtls-native"
NSTAMP="$NPREFIX/.config-stamp"
nwant=$(cat "$ROOT/net/mbedtls/sv_mbedtls_config.h" "$ROOT/net/mbedtls/threading_alt.h" <(sed -n '/^# A second, native build/,$p' "$0") | sha256sum | cut -c1-16)
if [ -f "$NSTAMP" ] && [ "$(cat "$NSTAMP")" = "$nwant" ] && [ -f "$NPREFIX/lib/libmbedcrypto.a" ]; then
  exit 0
fi
rm -rf "$DEPS/mbedtls-native-build" "$NPREFIX"
CC=clang cmake -S "$SRC" -B "$DEPS/mbedtls-native-build" -DCMAKE_BUILD_TYPE=Release \
  -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DMBEDTLS_FATAL_WARNINGS=OFF \
  -DCMAKE_INSTALL_PREFIX="$NPREFIX" \
  "-DCMAKE_C_FLAGS=-I$ROOT/net/mbedtls -DMBEDTLS_USER_CONFIG_FILE=\\\"sv_mbedtls_config.h\\\"" >/dev/null
cmake --build "$DEPS/mbedtls-native-build" -j"$(nproc)" >/dev/null
cmake --install "$DEPS/mbedtls-native-build" >/dev/null
echo "$nwant" > "$NSTAMP"
echo "mbedtls: native build into $NPREFIX"
