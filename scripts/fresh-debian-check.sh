#!/usr/bin/env bash
# Proves the README's two commands on a bare Debian 12: makes a minimal root (debootstrap,
# minbase), adds git and make alone (no recommended packages), clones this checkout at HEAD
# into it and runs `make test` there, then `make run` as a person does in a terminal: it
# waits for the host's banner, presses Ctrl+C and expects the run to end on its own.
# Not part of `make test`: it needs root and the package mirror, and takes a long while.
#   fresh-debian-check.sh [WORK]   WORK: a new folder for the root and the logs
#                                  (default: a fresh one under /var/tmp)
#   SV_KEEP_ROOT=1                 keep the root afterwards (it is removed by default)
# The root reaches the mirror with this machine's own registry settings, read now and
# written only into the root: the apt sources' Debian mirror, the apt proxy and validity
# settings, the proxy variables of this environment, the CAs added to this machine's store
# (a proxy's) and npm's registry and proxy settings.
set -euo pipefail
SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ "$(id -u)" = 0 ] || { echo "fresh-debian-check: debootstrap and chroot need root: run it as root" >&2; exit 1; }

WORK="${1:-$(mktemp -d /var/tmp/sv-fresh-debian.XXXXXX)}"
mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"
ROOTFS="$WORK/root"
[ ! -e "$ROOTFS" ] || { echo "fresh-debian-check: $ROOTFS exists already: give a new folder" >&2; exit 1; }

if ! command -v debootstrap >/dev/null; then
  echo "fresh-debian-check: installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null; }
fi
source "$SRC/scripts/debian-mirror.sh"
MIRROR=$(debian_mirror) || { echo "fresh-debian-check: no Debian mirror in this machine's apt sources" >&2; exit 1; }

# What ends up mounted inside the root, in mounting order; unmounted in reverse on every
# exit, and the root is removed only when nothing is mounted there any more.
MOUNTS=()
in_root_pids() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$ROOTFS" ] && echo "${p#/proc/}"
  done
  return 0
}
cleanup() {
  local rc=$? i pid
  # Whatever this run started inside the root and left behind (a Wine server, a display).
  for pid in $(in_root_pids); do kill -KILL "$pid" 2>/dev/null || true; done
  for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
    umount "${MOUNTS[i]}" 2>/dev/null || umount -l "${MOUNTS[i]}" 2>/dev/null || true
  done
  if grep -q " $ROOTFS[/ ]" /proc/mounts; then
    echo "fresh-debian-check: something is still mounted under $ROOTFS; left in place" >&2
  elif [ "${SV_KEEP_ROOT:-0}" != 1 ] && [ -d "$ROOTFS" ]; then
    rm -rf --one-file-system "$ROOTFS"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mount_in_root() {  # mount_in_root <target inside the root> <mount arguments...>
  local target="$ROOTFS$1"
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  MOUNTS+=("$target")
  # Nothing mounted below it may reach this machine's own tree (a tmpfs on the bound
  # /dev's shm would otherwise cover this machine's /dev/shm where mounts are shared).
  mount --make-private "$target"
}

t0=$SECONDS
echo "fresh-debian-check: making a Debian 12 minbase root in $ROOTFS"
debootstrap --variant=minbase bookworm "$ROOTFS" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
  { tail -n 20 "$WORK/debootstrap.log" >&2; exit 1; }
debootstrap_time=$((SECONDS - t0))

# debootstrap leaves /etc/hosts to the installer, which writes these lines on every Debian
# machine; without them "localhost" names nothing.
[ -e "$ROOTFS/etc/hosts" ] ||
  printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' > "$ROOTFS/etc/hosts"

# This machine's registry settings, for the root alone.
cp /etc/resolv.conf "$ROOTFS/etc/resolv.conf"
apt-config dump | grep -E '^Acquire::(http|https|ftp)::Proxy|^Acquire::Check-(Valid-Until|Date) ' \
  > "$ROOTFS/etc/apt/apt.conf.d/99this-machine" || true
ROOT_ENV=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=xterm)
for v in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
  [ -z "${!v:-}" ] || ROOT_ENV+=("$v=${!v}")
done
mapfile -t added_cas < <(find /usr/local/share/ca-certificates -name '*.crt' 2>/dev/null | sort)
if [ "${#added_cas[@]}" -gt 0 ]; then
  # ca-certificates (installed by the set-up) takes them into the root's store; Node.js
  # reads them from the start.
  mkdir -p "$ROOTFS/usr/local/share/ca-certificates"
  cp "${added_cas[@]}" "$ROOTFS/usr/local/share/ca-certificates/"
  cat "${added_cas[@]}" > "$ROOTFS/usr/local/share/ca-certificates/this-machine.pem"
  ROOT_ENV+=(NODE_EXTRA_CA_CERTS=/usr/local/share/ca-certificates/this-machine.pem)
fi
for rc in /etc/npmrc "$HOME/.npmrc"; do
  [ -f "$rc" ] || continue
  while IFS='=' read -r key value; do
    key=$(echo "$key" | tr -d '[:space:]')
    case "$key" in
      registry|proxy|https-proxy|noproxy) ROOT_ENV+=("npm_config_${key//-/_}=$(echo "$value" | sed 's/^[[:space:]]*//')") ;;
    esac
  done < "$rc"
done

mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs tmpfs
mount_in_root /tmp -t tmpfs -o mode=1777 tmpfs
in_root() { chroot "$ROOTFS" /usr/bin/env -i "${ROOT_ENV[@]}" "$@"; }

t0=$SECONDS
in_root bash -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends git make' \
  >"$WORK/git-make.log" 2>&1 || { tail -n 20 "$WORK/git-make.log" >&2; exit 1; }
git_make_time=$((SECONDS - t0))

git -C "$SRC" bundle create "$ROOTFS/root/sorvane.bundle" HEAD 2>/dev/null
in_root git -c advice.detachedHead=false clone -q /root/sorvane.bundle /root/sorvane
echo "fresh-debian-check: cloned $(in_root git -C /root/sorvane log -1 --format='%h %s' | cut -c1-80)"

echo "fresh-debian-check: make test (log: $WORK/make-test.log)"
t0=$SECONDS
set +e
in_root bash -c 'cd /root/sorvane && make test' >"$WORK/make-test.log" 2>&1
test_rc=$?
set -e
test_time=$((SECONDS - t0))

# `make run` in a terminal: the host's banner, then Ctrl+C. It must end within the bound,
# with its display and Wine processes gone.
echo "fresh-debian-check: make run (log: $WORK/make-run.log)"
t0=$SECONDS
set +e
in_root python3 - >"$WORK/make-run.log" 2>&1 <<'EOF'
import os, pty, select, signal, sys, time

pid, fd = pty.fork()
if pid == 0:
    os.chdir("/root/sorvane")
    signal.signal(signal.SIGINT, signal.SIG_DFL)  # a terminal's default, whatever started this
    os.execvp("make", ["make", "run"])
out = b""


def read_until(done, seconds):
    global out
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.5)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                return
            if not chunk:
                return
            out += chunk
            sys.stdout.buffer.write(chunk)
            sys.stdout.flush()


read_until(lambda: b"Password" in out, 1800)
if b"Password" not in out:
    print("\nmake run: no host banner", flush=True)
    os.killpg(pid, signal.SIGKILL)
    sys.exit(1)
os.write(fd, b"\x03")
ended = []


def finished():
    if not ended and os.waitpid(pid, os.WNOHANG)[0]:
        ended.append(True)
    return bool(ended)


read_until(finished, 60)
if not ended:
    print("\nmake run: still running 60 s after Ctrl+C", flush=True)
    os.killpg(pid, signal.SIGKILL)
    sys.exit(1)
print("\nmake run: ended after Ctrl+C", flush=True)
EOF
run_rc=$?
set -e
run_time=$((SECONDS - t0))
left=$(for p in $(in_root_pids); do tr '\0' ' ' < "/proc/$p/cmdline"; echo; done)

summary=$(grep -E '^tests?:' "$WORK/make-test.log" | tail -n 3)
echo "fresh-debian-check: debootstrap ${debootstrap_time} s; git and make ${git_make_time} s"
echo "fresh-debian-check: make test ${test_time} s, exit $test_rc"
echo "$summary"
echo "fresh-debian-check: make run ${run_time} s, exit $run_rc"
if [ -n "$left" ]; then
  echo "fresh-debian-check: left running in the root after both commands:"
  echo "$left"
fi
[ "$test_rc" = 0 ] && [ "$run_rc" = 0 ] && [ -z "$left" ]
