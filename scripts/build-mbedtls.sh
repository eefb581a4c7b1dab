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
want=$(cat "$ROOT/net/mbedtls/sv_mbedtls_config.h" "$ROOT/net/mbedtls/threading_alt.h" "$ROOT/cmake/mingw-w64-x86_64.cmake" "$0" | sha256sum | cut -c1-16)
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$want" ] && [ -f "$PREFIX/lib/libmbedtls.a" ]; then
  exit 0
fi
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
