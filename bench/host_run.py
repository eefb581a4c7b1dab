"""The real host under Wine against the test relay: frames/s and the host's share of
one core for a still and a scrolling desktop-like screen, whole frames and tiles.

    python3 bench/host_run.py [--exe PATH] [--seconds N]

Run by `make bench` on a private 1920x1080 display (SV_SCREEN). The screen is the
painter program in its desktop mode, full screen; one controller watches.
"""
import argparse
import os
import sys
import tempfile
import shutil
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from conftest import BIN, EXE, FakeRelay, WinProcess, wait_until, winpath  # noqa: E402

PAINTER = os.path.join(BIN, "screen_painter.exe")
TICKS = os.sysconf("SC_CLK_TCK")


def session_cpu_seconds(session, name):
    """CPU seconds used so far by the Wine processes of `session` running `name`."""
    total = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.getsid(int(pid)) != session:
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            with open(f"/proc/{pid}/stat") as f:
                stat = f.read()
        except (OSError, ProcessLookupError):
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        if name not in cmd or comm in ("bash", "sh"):
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        total += int(fields[11]) + int(fields[12])  # utime, stime
    return total / TICKS


class Run:
    def __init__(self, exe, seconds):
        self.exe = exe
        self.seconds = seconds
        self.data = tempfile.mkdtemp(prefix="sv-bench-")
        self.relay = FakeRelay()
        self.procs = []
        self.painter = None
        self.host = self.start([ "--relay", self.relay.url, "--data-dir", winpath(self.data), "--no-update"], exe)
        self.conn = self.relay.wait_connection(0, timeout=90)
        self.conn.wait_type("host-register", timeout=60)

    def start(self, args, exe):
        p = WinProcess(exe, args)
        self.procs.append(p)
        return p

    def paint(self, period_ms):
        if self.painter is not None:
            self.painter.kill()
        self.painter = self.start(["0", "0", "1920", "1080", str(period_ms), "desktop"], PAINTER)
        wait_until(lambda: "ready" in self.painter.stdout(), 60, message="painter window")

    def send(self, message):
        self.conn.send(message)

    def measure(self, label, settle=3.0):
        time.sleep(settle)
        name = os.path.basename(self.exe)
        with self.conn.lock:
            n0 = len(self.conn.binaries)
        c0 = session_cpu_seconds(self.host.proc.pid, name)
        t0 = time.monotonic()
        time.sleep(self.seconds)
        c1 = session_cpu_seconds(self.host.proc.pid, name)
        t1 = time.monotonic()
        with self.conn.lock:
            n1 = len(self.conn.binaries)
        fps = (n1 - n0) / (t1 - t0)
        cpu = 100.0 * (c1 - c0) / (t1 - t0)
        print(f"  {label:<52} {fps:6.1f} frames/s  {cpu:6.1f} % of one core", flush=True)
        return fps, cpu

    def close(self):
        for p in self.procs:
            p.kill()
        self.relay.close()
        shutil.rmtree(self.data, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", default=EXE)
    parser.add_argument("--seconds", type=float, default=float(os.environ.get("SV_BENCH_SECONDS", "10")))
    args = parser.parse_args()
    print(f"host run: {args.exe}, {args.seconds:.0f} s per scenario, display {os.environ.get('SV_SCREEN', '?')}",
          flush=True)
    run = Run(args.exe, args.seconds)
    try:
        run.paint(0)
        run.measure("registered, nobody watching", settle=2.0)
        start = len(run.conn.messages())
        run.send({"type": "controller-joined", "controllerId": "c1"})
        run.conn.wait_type("resolution", start=start, timeout=30)
        _, still_whole = run.measure("still screen, whole-frame mode (1280 wide, 10 fps)")
        start = len(run.conn.messages())
        run.send({"type": "stream-prefs", "tiles": True, "from": "c1"})
        run.conn.wait_type("stream-mode", start=start, timeout=30)
        _, still_tiles = run.measure("still screen, tiles mode")
        start = len(run.conn.messages())
        run.send({"type": "stream-prefs", "tiles": False, "from": "c1"})
        run.conn.wait_type("stream-mode", start=start, timeout=30)
        run.paint(50)
        run.measure("scrolling screen, whole-frame mode, 1280 wide")
        run.send({"type": "stream-control", "maxWidth": 1920, "from": "c1"})
        run.measure("scrolling screen, whole-frame mode, 1920 wide")
        if still_tiles > 0:
            print(f"  still screen CPU, whole-frame / tiles: {still_whole / still_tiles:.2f}", flush=True)
    finally:
        run.close()


if __name__ == "__main__":
    main()
