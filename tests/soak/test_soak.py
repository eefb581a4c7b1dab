"""Soak: the real host under Wine against a hostile relay and a hostile LAN peer for
SOAK_SECONDS (bounded in cycles too). Every cycle the peers connect, stream, send every
message type with random and malformed fields, trickle bytes and drop connections. The
host's private bytes, handle count and thread count are read from its process every
cycle; the host must never exit, and each figure must stay flat.

"Flat": after a warm-up of WARMUP cycles, the median of the last quarter of the samples
may exceed the median of the first quarter by at most 25 % + 16 MiB (private bytes),
10 % + 20 (handles) and 2 (threads). A leak of a few objects per cycle over hundreds of
cycles crosses these; the noise of allocator caches and pooled threads does not.

Then two stalls: with the screen changing, the relay and a LAN peer stop reading while
the host streams to them, and the relay keeps asking. The host's figures must stay within
the same margins of where the soak ended (threads: STALL_THREADS), a new LAN peer must be
admitted meanwhile, and the host must answer once the relay reads again, or give up on it
and register anew. Last the host is ended as a person ends it (Ctrl+C in its console),
with a LAN peer that does not read: it must end within STOP_BOUND with exit code 0, the
relay must see a close frame with code 1000, the reading LAN peer's channel must end, and
no host process may be left.
"""
import asyncio
import fcntl
import json
import os
import random
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import shutil
import signal
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

import lan_controller as lc  # noqa: E402
from conftest import BIN, EXE, WINE_RUN, FakeRelay, WinProcess, free_port, read_audit, wait_until, winpath  # noqa: E402

SOAK_SECONDS = float(os.environ.get("SOAK_SECONDS", "600"))
MAX_CYCLES = int(os.environ.get("SOAK_MAX_CYCLES", "2000"))
WARMUP = 4  # the first sample and three cycles
PASSWORD = "soak42"
STATS = os.path.join(BIN, "proc_stats.exe")
SEED = int(os.environ.get("SOAK_SEED", "22"))
PAINTER = os.path.join(BIN, "screen_painter.exe")
# A clean stop takes a second or two; a send held by a peer that does not read would
# last the 30 s write bound.
STOP_BOUND = 20
# Requests the relay sends at most while it does not read; each answer waits for it.
STALL_REQUESTS = 40
# Threads a stall may add: the stream, two LAN channels' receive loops, the hand-over of
# the newer one, the remote tools' threads (working or holding an answer). Not one per
# request whose answer waits.
STALL_THREADS = 12

# Every type the host's message table knows. Relay refusals ("error",
# "register-refused", "device-*") are left out of the random mix: each one sends the
# host into its refusal back-off, which would stop the soak rather than test it.
TYPES = ["registered", "controller-joined", "peer-left", "lan-ticket", "lan-revoke", "input", "key-input",
         "input-block-request", "clipboard", "file-begin", "file-chunk", "file-end", "stream-control",
         "stream-prefs", "frame-ack", "frame-request", "training-request", "exec-request", "fs-list", "log-tail",
         "fs-read"]
KEYS = ["id", "from", "controllerId", "ticketId", "secret", "kind", "x", "y", "button", "key", "modifiers", "text",
        "data", "name", "size", "seq", "fps", "quality", "maxWidth", "tiles", "on", "blocked", "path", "lines",
        "op", "args", "mediaToken", "reason"]
OPS = ["hello", "status", "start", "end", "overlay", "clear", "banner", "say", "audio", "input", "ui-tree",
       "element-at", "transcripts", "transcript", "nope"]


def junk_string(rng):
    choice = rng.randrange(8)
    if choice == 0:
        return ""
    if choice == 1:
        return "".join(chr(rng.randrange(1, 0x2FF)) for _ in range(rng.randrange(1, 40)))
    if choice == 2:
        return "x" * rng.choice([255, 4096, 65536])
    if choice == 3:
        return rng.choice(["..\\..\\boot.ini", "CON", "C:NUL.txt", "a/b\\c", "\ud7ff\ue000", "%s%n", "Z:\\tmp"])
    if choice == 4:
        return "aGVsbG8=" * rng.randrange(1, 200)  # base64
    return rng.choice(["c0", "c1", "c2", "left", "enter", "ctrl", "move", "click", "start", "stop"])


def junk_value(rng, depth=0):
    choice = rng.randrange(10 if depth < 3 else 7)
    if choice == 0:
        return None
    if choice == 1:
        return rng.choice([True, False])
    if choice == 2:
        return rng.choice([0, -1, 1, 2**31, -2**31 - 1, 2**63, 2**64 + 5, 10**30])
    if choice == 3:
        return rng.choice([0.5, -0.0, 1e308, -1e308, 3.999999, 1e-320])
    if choice in (4, 5, 6):
        return junk_string(rng)
    if choice == 7:
        return [junk_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    return {rng.choice(KEYS): junk_value(rng, depth + 1) for _ in range(rng.randrange(4))}


def random_message(rng):
    t = rng.choice(TYPES)
    msg = {"type": t}
    for _ in range(rng.randrange(6)):
        msg[rng.choice(KEYS)] = junk_value(rng)
    if t == "exec-request":
        # Never a command string from the junk pool: only one harmless command runs.
        msg["command"] = "echo soak" if rng.random() < 0.2 else junk_value(rng) if rng.random() < 0.5 else 7
        if isinstance(msg["command"], str) and msg["command"] != "echo soak":
            msg["command"] = None
    if t == "training-request":
        msg["op"] = rng.choice(OPS)
    if t in ("fs-read", "fs-list"):
        msg["path"] = rng.choice(["C:\\windows\\win.ini", "C:\\", "..", "", "\\\\?\\", "nul", 5, None])
    if t == "controller-joined" or t == "peer-left":
        msg["controllerId" if t == "controller-joined" else "id"] = rng.choice(["c0", "c1", "c2", "", 5])
    return msg


def malformed_texts(rng):
    return ["", "{", "[]", "null", '{"type":5}', '{"type":"input","x":' + "9" * 400 + "}",
            "[" * 5000 + "]" * 5000, '{"type":"' + "\x00" * 3 + '"}', '{"type":"input"' + ",\"x\":1" * 2000 + "}",
            json.dumps({"type": "input", "from": 5}), bytes(rng.randrange(256) for _ in range(64)).decode("latin-1")]


class Sampler:
    def __init__(self, env):
        self.env = env
        self.samples = []

    def take(self):
        r = subprocess.run(["bash", WINE_RUN, STATS, os.path.basename(EXE)], capture_output=True, text=True,
                           timeout=60, env=self.env)
        m = re.search(r"private=(\d+) handles=(\d+) threads=(\d+)", r.stdout)
        assert m, "host not running: " + r.stdout + r.stderr
        sample = tuple(int(v) for v in m.groups())
        self.samples.append(sample)
        return sample


def host_pids(session):
    """The Unix processes of the host's Wine process in `session` (the session its
    wine-run.sh leads), except one that has ended and waits to be reaped."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        if int(fields[3]) == session and "(sorvane-host" in stat and fields[0] != "Z":
            pids.append(int(pid))
    return pids


def thread_heaps(session):
    """Under Wine each thread of the host is a Linux thread, and what Wine's Unix side
    allocates for it (the X image of a screen capture among it) comes from a glibc heap
    of that thread: a 64 MiB-aligned mapping that keeps what was freed in it. Returns how
    many such heaps the host's process (found by its session) has and the bytes they
    hold, or None when it is not found. Reported, not judged: it tells where growth went."""
    arena = 64 << 20
    for pid in host_pids(session):
        try:
            heaps = {}
            with open(f"/proc/{pid}/smaps") as f:
                for line in f:
                    m = re.match(r"([0-9a-f]+)-([0-9a-f]+) (\S+) \S+ \S+ (\d+)\s*(\S*)", line)
                    if m:
                        start, end = int(m.group(1), 16), int(m.group(2), 16)
                        base = start & ~(arena - 1)
                        inside = m.group(4) == "0" and not m.group(5) and end <= base + arena
                        region = heaps.setdefault(base, [0, 0, False]) if inside else None
                        if region is not None:
                            region[1] = max(region[1], end - base)
                            region[2] = region[2] or start == base
                    elif region is not None and line.startswith("Anonymous:"):
                        region[0] += int(line.split()[1]) * 1024
            found = [held for held, span, based in heaps.values() if based and span == arena]
            return len(found), sum(found)
        except (OSError, ValueError):
            continue
    return None


def flat(values, rel, absolute):
    quarter = max(1, len(values) // 4)
    start = statistics.median(values[:quarter])
    end = statistics.median(values[-quarter:])
    return end <= start * (1 + rel) + absolute, start, end


def lan_round(rng, port):
    """One LAN peer's visit: a dropped and a trickled handshake, then a channel that
    streams, gets junk and is cut. Dropped handshakes count as failures, so each visit
    ends with a successful proof that clears the count before the lock-out."""
    # Drop in the middle of the handshake.
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    s.recv(4)
    s.close()
    # Trickle the length prefix of A, then give up.
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        lc.recv_message(s)
        lc.recv_message(s)
        for b in struct.pack(">I", 384):
            s.sendall(bytes([b]))
            time.sleep(0.02)
    except OSError:
        pass
    s.close()
    try:
        ch = lc.connect(port, PASSWORD, timeout=20)
    except (lc.HandshakeRefused, OSError):
        return False
    try:
        ch.sock.settimeout(10)
        for _ in range(rng.randrange(2, 6)):
            ch.recv()
        for _ in range(rng.randrange(5, 20)):
            ch.send(json.dumps(random_message(rng)).encode(), 0)
        ch.send(rng.choice(malformed_texts(rng)).encode("utf-8", "replace"), 0)
        ch.send(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300))), 1)
        if rng.random() < 0.5:
            ch.send_raw(struct.pack(">IB", 0x7fffffff, 0) + bytes(40))  # implausible length: the host drops us
        else:
            ch.send_raw(ch.seal(b'{"type":"input"', 0)[:20])  # half a frame, then gone
    except OSError:
        pass
    finally:
        ch.close()
    return True


def relay_round(rng, conn):
    conn.send({"type": "controller-joined", "controllerId": "c1"})
    conn.send({"type": "stream-control", "action": "start", "from": "c1", "fps": rng.choice([1, 5, 30, 0, -3])})
    for seq in range(rng.randrange(1, 5)):
        conn.send({"type": "frame-ack", "seq": seq, "from": "c1"})
    for _ in range(rng.randrange(20, 60)):
        conn.send(random_message(rng))
    for text in rng.sample(malformed_texts(rng), 4):
        conn.send(text)
    conn.send(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 2000))))
    conn.send({"type": "stream-control", "action": "stop", "from": "c1"})
    conn.send({"type": "peer-left", "id": "c1"})


def registered_after(relay, first):
    with relay.lock:
        later = relay.connections[first:]
    for conn in reversed(later):
        if any(isinstance(m, dict) and m.get("type") == "host-register" for m in conn.messages()):
            return conn
    return None


def hold_reading(conn, held):
    """The relay stops (held) or goes on reading this connection, so that what the host
    sends piles up in the socket buffers. asyncio's reader resumes a transport that it
    paused itself, so resuming is switched off while held."""
    async def apply():
        transport = conn.ws.transport
        if held:
            transport.pause_reading()
            transport.resume_reading = lambda: None
        else:
            del transport.resume_reading
            transport.resume_reading()
    asyncio.run_coroutine_threadsafe(apply(), conn.relay.loop).result(timeout=10)


def wait_full(conn):
    """Until the bytes the relay has not read stop growing: the host's writes wait then."""
    sock = conn.ws.transport.get_extra_info("socket")
    last = [-1]

    def settled():
        unread = struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.FIONREAD, b"\0" * 4))[0]
        done = unread == last[0] and unread > 0
        last[0] = unread
        return done
    wait_until(settled, 60, interval=1.0, message="the relay's socket buffers to fill")


class LanReader:
    """Reads a LAN channel on a thread of its own, so that it never holds the host;
    keeps the text messages and counts the frames."""

    def __init__(self, channel):
        self.channel = channel
        channel.sock.settimeout(None)
        self.texts = []
        self.frames = 0
        self.ended = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while True:
                kind, payload = self.channel.recv()
                if kind == 0:
                    self.texts.append(json.loads(payload))
                else:
                    self.frames += 1
        except (OSError, ValueError):
            pass
        finally:
            self.ended.set()

    def answered(self, rid):
        return any(isinstance(m, dict) and m.get("id") == rid for m in list(self.texts))

    def close(self):
        try:
            self.channel.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.channel.close()
        self.thread.join(10)


def fs_list(rid):
    return {"type": "fs-list", "id": rid, "path": "C:\\"}


def stall_round(relay, control, port, data_dir, sampler, resume):
    """The relay and a LAN peer stop reading while the host streams a changing screen to
    them. The relay keeps asking, one request after the other, until the host refuses
    one: each answer must wait without holding a thread of its own. A new LAN peer must
    be admitted meanwhile. With `resume` the relay reads again: every request is answered
    on it, and the new peer gets its answer and frames while the stalled one still does
    not read. Without, the host must give up on the relay and register anew. Returns the
    relay connection the host is registered on afterwards."""
    control.send({"type": "controller-joined", "controllerId": "c1"})
    control.send({"type": "stream-control", "from": "c1", "fps": 30})
    stalled = lc.connect(port, PASSWORD, timeout=20)
    fresh = None
    seen = relay.connection_count()
    hold_reading(control, True)
    try:
        stalled.send(json.dumps({"type": "stream-control", "fps": 30}).encode(), 0)
        wait_full(control)
        paths = []
        for n in range(STALL_REQUESTS):
            paths.append(f"C:\\stall-{resume}-{n}")
            control.send({"type": "fs-list", "id": paths[-1], "path": paths[-1], "from": "c1"})
            line = wait_until(lambda: next((a for a in reversed(read_audit(data_dir)) if a.endswith(paths[-1])), None),
                              30, message=f"the host's handling of {paths[-1]}")
            if n % 10 == 0:
                sampler.take()
            if "tool-refused" in line:
                break
        sampler.take()
        fresh = LanReader(lc.connect(port, PASSWORD, timeout=30))
        fresh.channel.send(json.dumps(fs_list("fresh")).encode(), 0)
        if resume:
            hold_reading(control, False)
            for path in paths:
                control.wait_message(lambda m, path=path: m.get("id") == path, timeout=60)
            wait_until(lambda: fresh.answered("fresh"), 60, message="the new LAN peer's answer")
            frames = fresh.frames
            wait_until(lambda: fresh.frames >= frames + 10, 60, message="frames beside a stalled LAN peer")
        else:
            stuck = control
            control = wait_until(lambda: registered_after(relay, seen), timeout=120,
                                 message="registration after the relay stopped reading")
            hold_reading(stuck, False)  # it drains what the host had sent and sees the end
        control.send({"type": "peer-left", "id": "c1"})
        control.send(dict(fs_list("after-stall"), **{"from": "c1"}))
        control.wait_message(lambda m: m.get("id") == "after-stall", timeout=60)
        return control
    finally:
        if fresh:
            fresh.close()
        stalled.close()


def stop_like_a_person(host, control, port, env):
    """Ctrl+C (Wine hands a SIGINT to a program with a console as Ctrl+C) while the
    screen streams to the relay, to a LAN peer and to one more that does not read: the
    host must close the relay and the reading peer's channel, end within its bound and
    leave nothing behind."""
    control.send({"type": "controller-joined", "controllerId": "c1"})
    lan = LanReader(lc.connect(port, PASSWORD, timeout=30))
    stalled = lc.connect(port, PASSWORD, timeout=30)
    try:
        frames = lan.frames
        wait_until(lambda: lan.frames > frames, 60, message="frames before the stop")
        pids = host_pids(host.proc.pid)
        assert pids, "the host's Wine process is not found"
        for pid in pids:
            os.kill(pid, signal.SIGINT)
        began = time.monotonic()
        try:
            rc = host.wait(STOP_BOUND)
            took = time.monotonic() - began
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the host did not end within {STOP_BOUND}s of Ctrl+C")
        assert rc == 0, f"the host ended with {rc} on Ctrl+C: " + host.stderr()[-2000:]
        wait_until(lambda: control.closed, 10, message="the relay connection's end")
        assert control.close_code == 1000, f"relay close code {control.close_code}"
        assert lan.ended.wait(10), "the LAN channel stayed open after the host ended"
        left = subprocess.run(["bash", WINE_RUN, STATS, os.path.basename(EXE)], capture_output=True, text=True,
                              timeout=60, env=env)
        assert "not running" in left.stdout and not host_pids(host.proc.pid), "a host process was left"
        return took
    finally:
        lan.close()
        stalled.close()


def test_soak():
    rng = random.Random(SEED)
    data_dir = tempfile.mkdtemp(prefix="sv-soak-")
    env = dict(os.environ, SV_WINEPREFIX=os.environ.get("SV_WINEPREFIX", os.path.join(os.path.dirname(BIN),
                                                                                       "wineprefix-soak")))
    os.environ["SV_WINEPREFIX"] = env["SV_WINEPREFIX"]
    port = free_port()
    with open(os.path.join(data_dir, "host-ui.json"), "w") as f:
        json.dump({"password": PASSWORD, "LanDirectEnabled": True, "LanPort": port}, f)
    relay = FakeRelay()
    # Started from cmd, as a person starts it: the host has cmd's console, so Ctrl+C reaches it.
    host = WinProcess("cmd", ["/c", winpath(EXE), "--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    sampler = Sampler(env)
    stalls = Sampler(env)
    painter = stopped = stop_took = None
    cycles = drops = lan_visits = lan_refused = 0
    try:
        control = relay.wait_connection(0, timeout=90)
        control.wait_type("host-register", timeout=90)
        sampler.take()  # the figures of the freshly started host
        heaps_first = thread_heaps(host.proc.pid)
        deadline = time.monotonic() + SOAK_SECONDS
        while cycles < MAX_CYCLES and time.monotonic() < deadline:
            relay_round(rng, control)
            if lan_round(rng, port):
                lan_visits += 1
            else:
                lan_refused += 1
            if cycles % 5 == 4:
                # The relay drops the host; it must come back and register again. A
                # "registered" with a media token also opens media connections, so the
                # control connection is the newest one that registered.
                seen = relay.connection_count()
                control.close()
                drops += 1
                control = wait_until(lambda: registered_after(relay, seen), timeout=90, message="re-registration")
            assert host.running(), "host exited: " + host.stderr()[-2000:]
            cycles += 1
            sampler.take()
        assert host.running(), "host exited: " + host.stderr()[-2000:]
        heaps_last = thread_heaps(host.proc.pid)
        painter = WinProcess(PAINTER, ["0", "0", "1280", "720", "40", "desktop"])
        wait_until(lambda: "ready" in painter.stdout(), 60, message="painter window")
        for resume in (True, False):
            control = stall_round(relay, control, port, data_dir, stalls, resume)
            assert host.running(), "host exited: " + host.stderr()[-2000:]
        try:
            stop_took = stop_like_a_person(host, control, port, env)
        except AssertionError as e:
            stopped = e  # raised once the figures are out
    finally:
        if painter:
            painter.kill()
        host.kill()
        relay.close()
        shutil.rmtree(data_dir, ignore_errors=True)

    samples = sampler.samples[WARMUP:]
    assert len(samples) >= 8, f"too few cycles for a verdict: {len(sampler.samples)}"
    names = ["private bytes", "handles", "threads"]
    limits = [(0.25, 16 << 20), (0.10, 20), (0.0, 2)]
    report = [f"soak: {cycles} cycles, {drops} relay drops, {lan_visits} LAN channels ({lan_refused} refused), "
              f"{len(sampler.samples)} samples"]
    verdicts = []
    for i, name in enumerate(names):
        values = [s[i] for s in samples]
        ok, start, end = flat(values, *limits[i])
        report.append(f"soak: {name}: first {sampler.samples[0][i]}, start median {start:.0f}, "
                      f"end median {end:.0f}, last {values[-1]}, peak {max(values)} -> {'flat' if ok else 'GROWS'}")
        verdicts.append(ok)
        # While peers stall, the same margins from where the soak ended; threads by the
        # work a stall may hold.
        rel, absolute = limits[i] if i < 2 else (0.0, STALL_THREADS)
        peak = max(s[i] for s in stalls.samples)
        ok = peak <= end * (1 + rel) + absolute
        report.append(f"soak: stalled peers: {name} peak {peak} -> {'bounded' if ok else 'GROWS'}")
        verdicts.append(ok)
    if heaps_first and heaps_last:
        report.append("soak: thread heaps: first %d holding %.0f MiB, last %d holding %.0f MiB" % (
            heaps_first[0], heaps_first[1] / 1048576, heaps_last[0], heaps_last[1] / 1048576))
    if stop_took is not None:
        report.append(f"soak: Ctrl+C: exit code 0, relay closed with 1000, after {stop_took:.1f} s")
    step = max(1, len(sampler.samples) // 20)
    report.append("soak: private MiB every %d cycles: %s" % (step, " ".join(
        "%.0f" % (s[0] / 1048576) for s in sampler.samples[::step])))
    print("\n" + "\n".join(report))
    assert all(verdicts), "\n".join(report)
    assert lan_visits > 0
    if stopped:
        raise stopped
