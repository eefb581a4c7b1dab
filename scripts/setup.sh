#!/usr/bin/env bash
# Installs everything the build and the tests need. Idempotent: a second run
# with nothing missing only checks and returns.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
DEPS="${DEPS_DIR:-$ROOT/build/deps}"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
FONTS="$DEPS/fonts"

# Everything a minimal Debian 12 (debootstrap's minbase with git and make added) lacks that
# the scripts, the Makefile, CMake and the tests call; the rest (awk, flock, setsid, tar,
# gzip, mktemp) is in every Debian. Wine's display driver loads the X input, cursor and
# composite libraries when they are there; Wine only recommends them, so they are named.
PKGS=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev nlohmann-json3-dev googletest
  wine wine64 libwine-dev xvfb xauth xdotool
  libxi6 libxcursor1 libxcomposite1
  python3 python3-pytest python3-pytest-xdist python3-websockets python3-cryptography openssl
  ca-certificates dpkg-dev patch cmake make imagemagick
  clang llvm libclang-rt-dev zlib1g-dev
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The fonts come through npm; a machine with a Node.js of its own keeps its npm.
if [ ! -f "$FONTS/Poppins_600SemiBold.ttf" ] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi
if [ "${#missing[@]}" -gt 0 ]; then
  if [ -n "$SUDO" ] && ! command -v sudo >/dev/null; then
    echo "setup: ${missing[*]} must be installed and this user is not root and has no sudo: run make as root" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Mbed TLS 3.6 from Debian's trixie source package, fetched through a private
# apt configuration so the machine's own sources stay untouched.
MBED_SRC_ROOT="$DEPS/mbedtls-src"
if ! ls -d "$MBED_SRC_ROOT"/mbedtls-3.6.* >/dev/null 2>&1; then
  source "$ROOT/scripts/debian-mirror.sh"
  mirror=$(debian_mirror) || { echo "setup: no Debian mirror in the apt sources: add one to /etc/apt/sources.list" >&2; exit 1; }
  APTDIR="$DEPS/apt"
  mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$MBED_SRC_ROOT"
  echo "deb-src $mirror trixie main" > "$APTDIR/sources.list"
  APTOPTS=(-o "Dir::Etc::SourceList=$APTDIR/sources.list" -o "Dir::Etc::SourceParts=/nonexistent"
           -o "Dir::State::Lists=$APTDIR/lists" -o "Dir::Cache=$APTDIR/cache" -o "APT::Sandbox::User=root")
  apt-get "${APTOPTS[@]}" update -qq
  (cd "$MBED_SRC_ROOT" && apt-get "${APTOPTS[@]}" source -qq -t trixie mbedtls >/dev/null)
  ls -d "$MBED_SRC_ROOT"/mbedtls-3.6.* >/dev/null 2>&1 || { echo "setup: trixie's mbedtls is not 3.6.x" >&2; exit 1; }
fi

# Mbed TLS 3.6.6's TLS 1.2 client refuses a ServerKeyExchange signed with
# rsa_pss_rsae, which OpenSSL servers with RSA keys choose; the patch lets it
# through. Applied once per source tree (a tree it reverses from cleanly has it);
# a freshly patched tree is rebuilt. A tree it fits neither way would build a TLS
# library that behaves differently: that stops the set-up.
MBED_SRC=$(ls -d "$MBED_SRC_ROOT"/mbedtls-3.6.* | head -n1)
MBED_PATCH="$ROOT/net/mbedtls/tls12-rsa-pss-sigalgs.patch"
patch_mbed() { patch -s -p1 --no-backup-if-mismatch -r - -d "$MBED_SRC" "$@" < "$MBED_PATCH" >/dev/null 2>&1; }
if ! patch_mbed -R --dry-run --force; then
  if ! patch_mbed --forward --dry-run || ! patch_mbed --forward; then
    echo "setup: error: $(basename "$MBED_PATCH") does not apply to $(basename "$MBED_SRC");" \
         "remove $MBED_SRC_ROOT to fetch the source again, or update the patch" >&2
    exit 1
  fi
  rm -f "$DEPS/mbedtls-install/.config-stamp" "$DEPS/mbedtls-native/.config-stamp"
fi

# The three Poppins faces, from the npm registry.
if [ ! -f "$FONTS/Poppins_600SemiBold.ttf" ]; then
  mkdir -p "$FONTS/tmp"
  (cd "$FONTS/tmp" && npm pack --silent @expo-google-fonts/poppins@0.4.1 >/dev/null && tar xzf expo-google-fonts-poppins-*.tgz)
  cp "$FONTS/tmp/package/400Regular/Poppins_400Regular.ttf" \
     "$FONTS/tmp/package/500Medium/Poppins_500Medium.ttf" \
     "$FONTS/tmp/package/600SemiBold/Poppins_600SemiBold.ttf" "$FONTS/"
  rm -rf "$FONTS/tmp"
fi
echo "setup: ok"
