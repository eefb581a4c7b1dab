"""The trainer's ops through the relay against the real screen, pointer and keyboard: one host
and one input probe window (tests/helpers/input_probe.cpp) serve every test in this file,
each test in a session of its own."""
import re
import shutil
import subprocess
import tempfile

import pytest

from conftest import EXE, Controller, FakeRelay, InputProbe, WinProcess, audit_entries, wait_until, winpath

GREEN, WHITE = "#00FF00", "#FFFFFF"
YOUR_TURN = "It is the trainee's turn: the host refuses remote input. Switch to demo mode first if you must drive."


class Live:
    def __init__(self, conn, data_dir, probe):
        self.conn = conn
        self.data_dir = data_dir
        self.probe = probe
        self.c = Controller(conn)

    def events(self, kind, start=0):
        return [m["data"] for m in self.conn.messages()[start:]
                if isinstance(m, dict) and m.get("type") == "training-event" and m.get("kind") == kind]

    def start(self, title):
        r = self.c.request("start", {"title": title})
        assert r["ok"] is True, r
        self.quiet()
        return r["data"]

    def quiet(self):
        """Waits until the gate is not holding for the trainee. Under Wine a window that
        appears under the X pointer comes back as a pointer move from the hardware, which
        the hooks rightly count as the trainee's; on Windows that does not happen."""
        wait_until(lambda: self.c.request("status")["data"]["paused"] is False, 15, message="a quiet gate")

    def banner(self):
        return self.c.request("status")["data"]["banner"]


@pytest.fixture(scope="module")
def live():
    relay = FakeRelay()
    data_dir = tempfile.mkdtemp(prefix="sv-data-")
    started = []
    probe = None

    def start(args, exe=EXE):
        p = WinProcess(exe, args)
        started.append(p)
        return p

    try:
        probe = InputProbe(start)
        start(["--data-dir", winpath(data_dir), "--relay", relay.url, "--no-update"])
        conn = relay.wait_connection(0, timeout=60)
        conn.wait_type("host-register", timeout=60)
        yield Live(conn, data_dir, probe)
    finally:
        for p in started:
            p.kill()
        if probe:
            probe.cleanup()
        relay.close()
        shutil.rmtree(data_dir, ignore_errors=True)


@pytest.fixture
def session(live):
    """A training session for one test, ended even when the test fails."""
    yield live
    live.c.request("end")


def screen_colour(x, y):
    """The colour of one pixel of the X screen, as #RRGGBB."""
    out = subprocess.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                         check=True, capture_output=True, timeout=20).stdout.decode()
    return re.search(r"#[0-9A-F]{6}", out).group(0)


def wait_colour(x, y, colour, what, timeout=15):
    wait_until(lambda: screen_colour(x, y) == colour, timeout, interval=0.1, message=what)


def xdotool(*args):
    subprocess.run(["xdotool"] + list(args), check=True, timeout=20)


def test_overlays_reach_the_screen_and_leave_it(session):
    live = session
    d = live.start("Sorot")
    ox, oy = d["screen"]["originX"], d["screen"]["originY"]
    # The ring is drawn 6 pixels outside the box, centred on its edge; with this width its
    # middle is solid colour.
    box = {"x": 200, "y": 150, "width": 240, "height": 120, "color": "#00ff00", "strokeWidth": 14}
    edge = (ox + 200 + 120, oy + 150 - 6)
    assert screen_colour(*edge) == WHITE

    banner = live.banner()
    r = live.c.request("overlay", dict(box, kind="Highlight", id="kotak"))
    assert r == {"type": "training-result", "id": r["id"], "ok": True,
                 "data": {"id": "kotak", "kind": "highlight", "bannerMoved": False, "banner": banner}}
    wait_colour(*edge, GREEN, "the highlight on screen")
    r = live.c.request("clear", {"id": "kotak"})
    assert r["data"] == {"cleared": "kotak"}
    wait_colour(*edge, WHITE, "the cleared highlight gone")

    r = live.c.request("overlay", dict(box, kind="highlight", ttlMs=1500))
    assert re.fullmatch(r"o[0-9]+", r["data"]["id"]), r
    wait_colour(*edge, GREEN, "the short-lived highlight on screen")
    wait_colour(*edge, WHITE, "the highlight gone when its time ran out")


def test_input_lands_in_demo_mode_and_not_on_the_trainees_turn(session):
    live = session
    probe = live.probe
    d = live.start("Demo")
    assert d["mode"] == "demo"
    w, h = d["screen"]["width"], d["screen"]["height"]
    before = probe.state()
    clicks = len(before["clicks"])

    r = live.c.request("input", {"kind": "text", "text": "halo"})
    assert r["data"] == {"done": True, "refused": False}, r
    probe.wait(lambda s: s["text"] == before["text"] + "halo", "the typed text")
    # A click in the lower half, after the ghost pointer's preview.
    at = (w // 4, h * 3 // 4)
    r = live.c.request("input", {"kind": "click", "x": at[0], "y": at[1], "label": "di sini"})
    assert r["data"] == {"done": True, "refused": False}, r
    s = probe.wait(lambda s: len(s["clicks"]) >= clicks + 2, "the click")
    ox, oy = s["origin"]
    assert s["clicks"][clicks:] == [["left", True, ox + at[0], oy + at[1]], ["left", False, ox + at[0], oy + at[1]]]

    live.quiet()
    assert live.c.request("mode", {"mode": "your_turn"})["data"] == {"mode": "your_turn"}
    mark = len(live.conn.messages())
    for args in ({"kind": "text", "text": "salah"}, {"kind": "click", "x": 10, "y": h - 10}):
        r = live.c.request("input", args)
        assert r["data"] == {"done": False, "refused": True, "reason": "your_turn", "explain": YOUR_TURN}, r
    assert live.events("input-refused", mark)[:2] == [{"reason": "your_turn", "what": "text", "controller": "ctl-1"},
                                                       {"reason": "your_turn", "what": "click", "controller": "ctl-1"}]
    # Injected input is handled in order: once the text typed after the way is open again
    # is there, anything the refused requests had sent would be there too.
    assert live.c.request("mode", {"mode": "demo"})["data"] == {"mode": "demo"}
    live.quiet()
    r = live.c.request("input", {"kind": "text", "text": "!"})
    assert r["data"] == {"done": True, "refused": False}, r
    s = probe.wait(lambda s: s["text"].endswith("!"), "the text typed after the refusals")
    assert s["text"] == before["text"] + "halo!"
    assert len(s["clicks"]) == clicks + 2


def test_an_end_halts_a_long_text_and_nothing_of_it_follows(session):
    live = session
    probe = live.probe
    session_id = live.start("Teks panjang")["sessionId"]
    before = probe.state()["text"]
    text = "abcdefghij" * 1600
    live.conn.send({"type": "training-request", "id": "long", "op": "input", "from": "ctl-1",
                    "args": {"kind": "text", "text": text}})
    probe.wait(lambda s: len(s["text"]) > len(before), "the typing under way")
    assert live.c.request("end")["data"]["ended"] is True
    r = live.conn.wait_message(lambda m: m.get("type") == "training-result" and m.get("id") == "long")
    typed = r["data"]["typed"]
    assert 0 < typed < len(text), r
    # Injected input is handled in order: once a mark typed after the reply is there,
    # anything still typed for the ended session would be there before it.
    live.conn.send({"type": "key-input", "kind": "text", "text": "!", "from": "ctl-1"})
    # The probe keeps every key it saw and takes its time with a long run of them.
    s = probe.wait(lambda s: s["text"].endswith("!"), "the mark after the typing", timeout=120)
    assert s["text"] == before + text[:typed] + "!"
    lines = [(kind, detail) for kind, _, detail in audit_entries(live.data_dir)
             if detail.startswith(f"text len={len(text)}") or detail.startswith(f"end session={session_id}")]
    assert lines == [("training-input", f"text len={len(text)} typed={typed}"),
                     ("training", f"end session={session_id} reason=ended by controller")]


def test_the_trainees_own_input_is_reported_and_the_hosts_is_not(session):
    live = session
    probe = live.probe
    d = live.start("Amati")
    mark = len(live.conn.messages())
    before = probe.state()
    # The host's own input first: typed text and a click, both injected.
    assert live.c.request("input", {"kind": "text", "text": "abcde"})["data"]["done"] is True
    assert live.c.request("input", {"kind": "click", "x": 40, "y": d["screen"]["height"] - 40,
                                    "preview": False})["data"]["done"] is True
    probe.wait(lambda s: s["text"] == before["text"] + "abcde" and len(s["clicks"]) == len(before["clicks"]) + 2,
               "the host's input in the probe")

    # Then the trainee's, through the X server like a real mouse and keyboard, while an
    # overlay covers the screen: the click goes through it to the window below.
    assert live.c.request("overlay", {"kind": "highlight", "x": 250, "y": 550, "width": 100, "height": 100,
                                      "color": "#00ff00", "strokeWidth": 14})["ok"] is True
    wait_colour(d["screen"]["originX"] + 300, d["screen"]["originY"] + 544, GREEN, "the highlight on screen")
    clicks = len(probe.state()["clicks"])
    xdotool("mousemove", "300", "600", "click", "1")
    xdotool("type", "--delay", "40", "xyz")
    # A typing run ends when the keyboard has been idle a while, or at a named key: the
    # first is seen here, the second after it.
    wait_until(lambda: len(live.events("local-input", mark)) >= 2, 20, message="the idle typing run")
    xdotool("key", "Return")
    wait_until(lambda: len(live.events("local-input", mark)) >= 3, 20, message="three local-input events")
    expected = [{"device": "mouse", "action": "click", "x": 300 - d["screen"]["originX"],
                 "y": 600 - d["screen"]["originY"]},
                {"device": "keyboard", "action": "typing", "count": 3},
                {"device": "keyboard", "action": "key", "key": "enter"}]
    assert live.events("local-input", mark) == expected
    s = probe.wait(lambda s: len(s["clicks"]) >= clicks + 2, "the trainee's click in the probe")
    assert s["clicks"][clicks:] == [["left", True, 300, 600], ["left", False, 300, 600]]
    lines = live.c.request("transcript")["data"]["entries"]
    assert [e["data"] for e in lines if e["kind"] == "trainee-input"] == expected


def test_ui_reading_answers_its_error_under_wine(session):
    live = session
    live.start("Baca")
    r = live.c.request("ui-tree", {"window": "input probe"}, timeout=30)
    assert r == {"type": "training-result", "id": r["id"], "ok": False,
                 "error": "UI Automation is not available on this host"}
    assert ("training", "ctl-1", "ui-tree window=input probe depth=6") in audit_entries(live.data_dir, "training")
    r = live.c.request("element-at", {"x": 100, "y": 100}, timeout=30)
    assert r == {"type": "training-result", "id": r["id"], "ok": False, "error": "no element there"}
