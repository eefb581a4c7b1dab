"""Training requests through the fake relay reach the agent of the real host under Wine."""
import base64
import glob
import os

from conftest import BIN, Controller, audit_entries, run_exe, wait_until, wine_prefix, winpath

NO_SESSION = "no training session is active — call start first"
FEATURES = ["overlay", "chat", "say", "audio", "modes", "events", "ui-tree", "transcript", "banner"]


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
    # The banner shows 8 pixels in from the bottom right of the screen (Xvfb has no task
    # bar, so the work area is the whole screen): [x, y, width, height].
    x, y, w, h = d["banner"]
    screen = d["screen"]
    assert w > 0 and h > 0
    assert (x + w, y + h) == (screen["width"] - 8, screen["height"] - 8)
    hello = c.request("hello", {})["data"]
    assert hello["active"] is True
    assert hello["sessionId"] == d["sessionId"]
    again = c.request("start", {"title": "Lagi"})
    assert again["data"].get("alreadyActive") is True, again
    end = c.request("end")
    assert end["ok"] is True
    assert end["data"]["ended"] is True
    assert c.request("hello", {})["data"]["active"] is False


def test_say_without_an_indonesian_voice_tells_the_trainer_what_to_do(host, data_dir):
    c = Controller(host)
    assert c.request("start", {"title": "Suara"})["ok"] is True
    r = c.request("say", {"text": "Halo, mari mulai."})
    assert r["ok"] is False
    assert r["error"] == ("No id-ID voice is installed on this PC (it has: none). Send pre-rendered id-ID speech "
                          "with play_audio instead (the text is already in the chat).")
    assert r["data"] == {"played": False, "muted": False, "durationMs": 0, "error": r["error"]}
    # The line still reached the chat, marked as spoken.
    lines = c.request("chat-read")["data"]["messages"]
    assert [(m["from"], m["text"], m["spoken"]) for m in lines] == [("ai", "Halo, mari mulai.", True)]
    assert c.request("end")["ok"] is True


def test_a_clip_ends_with_an_outcome_and_leaves_no_file(host, data_dir):
    c = Controller(host)
    assert c.request("start", {"title": "Klip"})["ok"] is True
    # A short silent WAV: 8 kHz, 8-bit mono, 800 samples.
    samples = bytes([128]) * 800
    header = (b"RIFF" + (36 + len(samples)).to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little") +
              (1).to_bytes(2, "little") + (1).to_bytes(2, "little") + (8000).to_bytes(4, "little") +
              (8000).to_bytes(4, "little") + (1).to_bytes(2, "little") + (8).to_bytes(2, "little") + b"data" +
              len(samples).to_bytes(4, "little"))
    r = c.request("audio", {"ext": "wav", "data": base64.b64encode(header + samples).decode(), "wait": False})
    assert r["data"] == {"queued": True}
    done = host.wait_message(lambda m: m.get("type") == "training-event" and m.get("kind") == "audio-done", 60)
    # Wine has no sound device: its MCI either plays into nothing or refuses the clip.
    outcome = done["data"]
    assert outcome["muted"] is False
    assert outcome["played"] or outcome["error"].startswith("the audio could not be "), outcome
    left = glob.glob(os.path.join(wine_prefix(), "drive_c", "users", "*", "Temp", "sorvane-training", "clip-*"))
    assert left == []
    assert c.request("end")["ok"] is True



def test_the_banner_moves_and_shrinks_on_request(host):
    c = Controller(host)
    assert c.request("start", {"title": "Posisi"})["ok"] is True
    small = c.request("banner", {"position": " Top-Left", "compact": True})
    assert small["data"] == {"banner": [8, 8, 372, 56], "compact": True, "position": "top-left"}
    big = c.request("banner", {"compact": False})["data"]
    assert big["banner"][:3] == [8, 8, 396] and big["banner"][3] > 56
    assert big["position"] == "top-left" and big["compact"] is False
    assert c.request("end")["ok"] is True


def focused_class(window_class):
    rc, out, _ = run_exe(["focus", window_class], exe=os.path.join(BIN, "window_probe.exe"))
    assert rc == 0
    return out.strip()


def test_the_trainee_chats_and_ends_the_session_from_the_banner(host):
    # Wine has no trainee, so the controller's own input plays one: the gate lets it
    # through while the AI demonstrates and nobody else touches the machine.
    c = Controller(host)
    start = c.request("start", {"title": "Obrolan"})["data"]
    x, y, w, h = start["banner"]
    sw, sh = start["screen"]["width"], start["screen"]["height"]

    def click(px, py):
        for kind in ("down", "up"):
            host.send({"type": "input", "kind": kind, "button": "left", "x": px / sw, "y": py / sh, "from": "ctl-1"})

    # The chat input sits 66 to 106 pixels above the banner's bottom; the end button's
    # row ends 14 above it, right-aligned 16 in from the edge.
    click(x + 80, y + h - 86)
    # Typed keys go where the focus is when they arrive: wait until the click has put it
    # in the chat input.
    wait_until(lambda: focused_class("SorvaneTrainingBanner").lower() == "edit", 15, message="focus in the chat input")
    host.send({"type": "key-input", "kind": "text", "text": "Tolong ulangi", "from": "ctl-1"})
    host.send({"type": "key-input", "key": "Enter", "from": "ctl-1"})
    chat = host.wait_message(lambda m: m.get("type") == "training-event" and m.get("kind") == "chat"
                             and m["data"]["from"] == "trainee", 30)
    assert chat["data"] == {"from": "trainee", "name": "Peserta", "text": "Tolong ulangi", "spoken": False}

    click(x + w - 40, y + h - 34)
    stopped = host.wait_message(lambda m: m.get("type") == "training-event" and m.get("kind") == "stopped", 30)
    assert stopped["data"] == {"by": "trainee"}
    assert c.request("hello", {})["data"]["active"] is False


def test_overlays_sent_while_the_trainee_ends_the_session_leave_nothing_on_screen(host):
    from test_training_live import screen_colour, xdotool  # the X screen and pointer

    c = Controller(host)
    start = c.request("start", {"title": "Ramai"})["data"]
    x, y, w, h = start["banner"]
    ox, oy = start["screen"]["originX"], start["screen"]["originY"]
    # A spotlight dims every monitor around its hole; this corner is far from hole and banner.
    corner = (20, 20)
    before = screen_colour(*corner)

    burst = 40
    for i in range(burst):
        kind = "spotlight" if i % 2 == 0 else "highlight"
        host.send({"type": "training-request", "id": f"burst-{i}", "op": "overlay", "from": "ctl-1",
                   "args": {"kind": kind, "id": f"b{i}", "x": 400 + i, "y": 300, "width": 120, "height": 80}})
    host.wait_message(lambda m: m.get("type") == "training-result" and m.get("id") == "burst-0", 30)
    # The trainee's own click (the X pointer) on the end button, whose row ends 14 above the
    # banner's bottom, right-aligned 16 in from the edge.
    xdotool("mousemove", str(ox + x + w - 40), str(oy + y + h - 34), "click", "1")
    # "session-ended" leaves once the surface has taken everything of the session down.
    host.wait_message(lambda m: m.get("type") == "training-event" and m.get("kind") == "session-ended", 30)
    for i in range(burst):
        r = host.wait_message(lambda m: m.get("type") == "training-result" and m.get("id") == f"burst-{i}", 60)
        assert r["ok"] is True or r["error"] == NO_SESSION, r
    # The stop also ended the remote session (the relay connection): only the screen is left.
    assert screen_colour(*corner) == before
