"""Training requests through the fake relay reach the agent of the real host under Wine."""
import os

from conftest import audit_entries, wait_until, winpath

NO_SESSION = "no training session is active — call start first"
FEATURES = ["overlay", "chat", "say", "audio", "modes", "events", "ui-tree", "transcript", "banner"]


class Controller:
    def __init__(self, conn):
        self.conn = conn
        self.n = 0

    def request(self, op, args=None, controller="ctl-1", timeout=20.0):
        self.n += 1
        rid = f"{op}-{self.n}"
        msg = {"type": "training-request", "id": rid, "op": op, "from": controller}
        if args is not None:
            msg["args"] = args
        self.conn.send(msg)
        return self.conn.wait_message(lambda m: m.get("type") == "training-result" and m.get("id") == rid, timeout)

    def raw_reply(self, rid):
        for t in list(self.conn.texts):
            if isinstance(t, str) and f'"id":"{rid}"' in t:
                return t
        return None


def test_hello_on_the_desktop_says_supported(host, data_dir):
    c = Controller(host)
    r = c.request("hello", {})
    assert r["ok"] is True
    d = r["data"]
    assert d["supported"] is True
    assert d["features"] == FEATURES
    assert "reason" not in d
    assert d["hostVersion"] == "1.1.6"
    assert d["variant"] == "win7"
    assert d["protocol"] == 1
    assert d["active"] is False
    assert d["mode"] == "off"
    assert d["voices"] == []
    assert set(d["screen"]) == {"width", "height", "originX", "originY"}
    # The faces built into the program were loaded once, and said so.
    fonts = audit_entries(data_dir, "font")
    assert fonts == [("font", "", "font: Poppins loaded (3 faces)")]


def test_console_start_prints_the_font_line(processes, relay, data_dir):
    p = processes(["--data-dir", winpath(data_dir), "--relay", relay.url, "--no-update"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=60)
    assert p.stdout().splitlines()[0] == "font: Poppins loaded (3 faces)"


def test_replies_are_compact_with_sorted_keys(host):
    c = Controller(host)
    c.request("events", {"max": 5})
    raw = c.raw_reply("events-1")
    assert raw == '{"data":{"events":[],"seq":0},"id":"events-1","ok":true,"type":"training-result"}'


def test_ops_without_a_session(host, data_dir):
    c = Controller(host)
    assert c.request("sessions")["data"] == {"sessions": []}
    t = c.request("transcript")
    assert t["ok"] is False
    assert t["error"] == "no training session has been recorded on this machine"
    for op in ("overlay", "chat", "mode", "say", "no-such-op"):
        r = c.request(op, {"text": "hi"})
        assert r == {"type": "training-result", "id": r["id"], "ok": False, "error": NO_SESSION}
    end = c.request("end")
    assert end["error"] == "no training session is active"
    # No session, so the gate lets a controller's input through to the injector.
    host.send({"type": "input", "kind": "move", "x": 0.5, "y": 0.5, "from": "ctl-1"})
    wait_until(lambda: audit_entries(data_dir, "input"), 20, message="input audit line")
    assert not audit_entries(data_dir, "training-input-refused")


def test_stored_transcripts_are_listed_and_read(host, data_dir):
    tdir = os.path.join(data_dir, "training")
    os.makedirs(tdir, exist_ok=True)
    sid = "20240101-090000-abc123"
    with open(os.path.join(tdir, sid + ".jsonl"), "wb") as f:
        f.write(b'{"data":{"title":"Sesi"},"kind":"start","ts":1}\r\nbroken\r\n{"kind":"end","ts":2}')
    with open(os.path.join(data_dir, "outside.jsonl"), "wb") as f:
        f.write(b'{"kind":"secret","ts":3}\r\n')
    c = Controller(host)
    sessions = c.request("sessions")["data"]["sessions"]
    assert [s["sessionId"] for s in sessions] == [sid]
    assert sessions[0]["bytes"] == os.path.getsize(os.path.join(tdir, sid + ".jsonl"))
    newest = c.request("transcript")["data"]
    assert newest == {"sessionId": sid, "active": False,
                      "entries": [{"data": {"title": "Sesi"}, "kind": "start", "ts": 1}, {"kind": "end", "ts": 2}]}
    escape = c.request("transcript", {"sessionId": "../outside"})
    assert escape["ok"] is False
    assert escape["error"] == "no transcript '../outside' on this machine"
    device = c.request("transcript", {"sessionId": "CON"})
    assert device["error"] == "no transcript 'CON' on this machine"


def test_a_session_starts_and_ends_on_the_desktop(host):
    c = Controller(host)
    start = c.request("start", {"title": "Belajar"})
    assert start["ok"] is True, start
    d = start["data"]
    assert d["mode"] == "demo"
    assert d["sessionId"]
    assert "banner" not in d
    hello = c.request("hello", {})["data"]
    assert hello["active"] is True
    assert hello["sessionId"] == d["sessionId"]
    again = c.request("start", {"title": "Lagi"})
    assert again["data"].get("alreadyActive") is True, again
    end = c.request("end")
    assert end["ok"] is True
    assert end["data"]["ended"] is True
    assert c.request("hello", {})["data"]["active"] is False
