"""Screen streaming end to end: the host under Wine and Xvfb, the fake relay, and a
controller that joins; a painter window makes the screen change where the test says."""
import os
import struct

from conftest import BIN, wait_until, winpath

PAINTER = os.path.join(BIN, "screen_painter.exe")


# ---------------------------------------------------------------- independent decoders

def jpeg_size(data):
    """(width, height) from a JPEG's start-of-frame marker."""
    assert data[:2] == b"\xff\xd8", "not a JPEG"
    i = 2
    while i + 9 < len(data):
        assert data[i] == 0xFF, "broken JPEG marker chain"
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    raise AssertionError("no start-of-frame marker")


def parse_svt1(data):
    """Reads an SVT1 frame; every number little-endian, records back to back."""
    assert data[:4] == b"SVT1"
    seq, width, height, whole, count = struct.unpack("<IHHBH", data[4:15])
    rects = []
    o = 15
    for _ in range(count):
        x, y, w, h, n = struct.unpack("<HHHHI", data[o:o + 12])
        o += 12
        jpeg = data[o:o + n]
        assert len(jpeg) == n, "record runs past the end"
        o += n
        rects.append((x, y, w, h, jpeg))
    assert o == len(data), "trailing bytes after the last record"
    return {"seq": seq, "width": width, "height": height, "whole": whole, "rects": rects}


# ---------------------------------------------------------------- helpers

def start_host(processes, relay, data_dir):
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    conn = relay.wait_connection(0, timeout=60)
    conn.wait_type("host-register", timeout=30)
    return conn


def start_painter(processes, x, y, w, h, period_ms):
    p = processes([str(x), str(y), str(w), str(h), str(period_ms)], exe=PAINTER)
    wait_until(lambda: "ready" in p.stdout(), 30, message="painter window")
    return p


def binaries(conn):
    with conn.lock:
        return list(conn.binaries)


def wait_binary_after(conn, index, predicate=lambda b: True, timeout=15):
    """The first binary at position >= index that matches; returns (position, bytes)."""
    def find():
        bs = binaries(conn)
        for i in range(index, len(bs)):
            if predicate(bs[i]):
                return (i, bs[i])
        return None
    return wait_until(find, timeout, message="binary frame")


def join(conn, controller="c1"):
    start = len(conn.messages())
    conn.send({"type": "controller-joined", "controllerId": controller})
    return conn.wait_type("resolution", start=start)


def is_jpeg(b):
    return b[:2] == b"\xff\xd8"


def is_svt1(b):
    return b[:4] == b"SVT1"


def enter_tiles(conn, controller="c1"):
    start = len(conn.messages())
    conn.send({"type": "stream-prefs", "tiles": True, "from": controller})
    mode = conn.wait_type("stream-mode", start=start)
    assert mode == {"type": "stream-mode", "tiles": True}
    i, b = wait_binary_after(conn, 0, is_svt1)
    return i, parse_svt1(b)


# ---------------------------------------------------------------- tests

def test_resolution_then_jpeg_frames_of_that_size_and_scaled(processes, relay, data_dir):
    conn = start_host(processes, relay, data_dir)
    res = join(conn)
    assert res["width"] > 0 and res["height"] > 0
    width, height = res["width"], res["height"]
    _, first = wait_binary_after(conn, 0)
    assert is_jpeg(first)
    # maxWidth defaults to 1280: a wider screen is scaled, a narrower one is not.
    if width <= 1280:
        assert jpeg_size(first) == (width, height)
    else:
        assert jpeg_size(first)[0] == 1280
    n = len(binaries(conn))
    conn.send({"type": "stream-control", "maxWidth": 640, "from": "c1"})
    _, scaled = wait_binary_after(conn, n, lambda b: is_jpeg(b) and jpeg_size(b)[0] == 640)
    assert jpeg_size(scaled) == (640, 640 * height // width)
    # A single frame is full size whatever maxWidth is.
    start = len(conn.messages())
    n = len(binaries(conn))
    conn.send({"type": "frame-request"})
    conn.wait_type("resolution", start=start)
    wait_binary_after(conn, n, lambda b: is_jpeg(b) and jpeg_size(b) == (width, height))


# How often frames come, that a stopped stream or a still screen sends nothing, and how
# acknowledgements pace the stream are rules of the stream controller, tested there on a
# frozen clock. Here each case waits for something the host must send.

def test_stream_off_leaves_frame_requests_and_on_resumes(processes, relay, data_dir):
    conn = start_host(processes, relay, data_dir)
    start_painter(processes, 100, 100, 40, 40, 60)
    res = join(conn)
    conn.send({"type": "stream-control", "fps": 20, "from": "c1"})
    n = len(binaries(conn))
    wait_binary_after(conn, n + 3)  # a changing screen streams
    conn.send({"type": "stream-control", "on": False, "from": "c1"})
    # Messages are handled in order: this request is served with the stream already off.
    start = len(conn.messages())
    n = len(binaries(conn))
    conn.send({"type": "frame-request"})
    assert conn.wait_type("resolution", start=start) == res
    wait_binary_after(conn, n, lambda b: is_jpeg(b) and jpeg_size(b) == (res["width"], res["height"]))
    n = len(binaries(conn))
    conn.send({"type": "stream-control", "on": True, "from": "c1"})
    wait_binary_after(conn, n + 3, timeout=10)


def test_tiles_mode_starts_whole_then_sends_only_the_changed_tile(processes, relay, data_dir):
    conn = start_host(processes, relay, data_dir)
    join(conn)
    conn.send({"type": "stream-control", "fps": 20, "from": "c1"})
    i, key = enter_tiles(conn)
    assert key["whole"] == 1
    assert len(key["rects"]) == 1
    x, y, w, h, jpeg = key["rects"][0]
    assert (x, y, w, h) == (0, 0, key["width"], key["height"])
    assert jpeg_size(jpeg) == (w, h)
    # A window inside one tile: (70, 70) to (90, 90) lies in tile (1, 1).
    settled = len(binaries(conn))
    start_painter(processes, 70, 70, 20, 20, 150)
    j, b = wait_binary_after(conn, settled, is_svt1)
    frames = []
    for k in range(j, j + 4):
        _, b = wait_binary_after(conn, k, is_svt1)
        frames.append(parse_svt1(b))
    seqs = [f["seq"] for f in frames]
    assert seqs == list(range(seqs[0], seqs[0] + len(seqs))), "sequence numbers count up by one"
    assert seqs[0] > key["seq"]
    for f in frames[1:]:
        assert f["whole"] == 0
        assert [(r[0], r[1], r[2], r[3]) for r in f["rects"]] == [(64, 64, 64, 64)]
        assert jpeg_size(f["rects"][0][4]) == (64, 64)


def test_a_lost_frame_brings_a_whole_tile_frame(processes, relay, data_dir):
    conn = start_host(processes, relay, data_dir)
    join(conn)
    conn.send({"type": "stream-control", "fps": 20, "from": "c1"})
    enter_tiles(conn)
    start_painter(processes, 300, 200, 30, 30, 40)
    n = len(binaries(conn))
    _, b = wait_binary_after(conn, n + 2, lambda b: is_svt1(b) and parse_svt1(b)["whole"] == 0)
    last = parse_svt1(b)["seq"]
    n = len(binaries(conn))
    conn.send({"type": "frame-ack", "seq": last, "lost": True, "from": "c1"})
    _, b = wait_binary_after(conn, n, lambda b: is_svt1(b) and parse_svt1(b)["whole"] == 1, timeout=10)
    f = parse_svt1(b)
    assert f["seq"] > last
    assert f["rects"][0][:4] == (0, 0, f["width"], f["height"])
    assert jpeg_size(f["rects"][0][4]) == (f["width"], f["height"])
