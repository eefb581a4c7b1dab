"""Controller input reaches a real window: pointer, clicks, typed text, named keys, blocking.

A probe window (tests/helpers/input_probe.cpp) covers the screen: an edit control over
the top half and a click area below; it writes what it saw to a JSON state file.
"""
import pytest

from conftest import InputProbe, audit_entries, wait_until, winpath

VK_SHIFT, VK_CONTROL, VK_F5, VK_BACK = 16, 17, 116, 8


@pytest.fixture
def session(processes, relay, data_dir):
    """A probe window with focus, and the host registered on the fake relay."""
    probe = InputProbe(processes)
    host = processes(["--data-dir", winpath(data_dir), "--relay", relay.url, "--no-update"])
    conn = relay.wait_connection(0, timeout=60)
    conn.wait_type("host-register", timeout=30)
    yield probe, conn, host
    probe.cleanup()


def pixel(fraction, extent):
    return min(max(int(extent * fraction), 0), extent - 1)


def test_pointer_moves_to_fractions_of_the_screen(session, data_dir):
    probe, conn, host = session
    w, h = probe.state()["screen"]
    ox, oy = probe.state()["origin"]
    for x, y in [(0.25, 0.125), (1.0, 1.0), (0.0, 0.0), (0.5, 0.5)]:
        conn.send({"type": "input", "x": x, "y": y, "from": "c1"})
        want = [ox + pixel(x, w), oy + pixel(y, h)]
        probe.wait(lambda s: s["cursor"] == want, f"cursor at {want}")
    entries = audit_entries(data_dir, "input")
    assert ("input", "c1", "move x=0.250000 y=0.125000") in entries
    assert ("input", "c1", "move x=1.000000 y=1.000000") in entries


def test_hostile_coordinates_are_clamped_and_the_host_lives_on(session, data_dir):
    probe, conn, host = session
    w, h = probe.state()["screen"]
    ox, oy = probe.state()["origin"]
    conn.send('{"type":"input","x":1e308,"y":-1e308,"from":"c1"}')
    probe.wait(lambda s: s["cursor"] == [ox + w - 1, oy], "cursor clamped to the top-right corner")
    conn.send('{"type":"input","x":-5,"y":1e300,"from":"c1"}')
    probe.wait(lambda s: s["cursor"] == [ox, oy + h - 1], "cursor clamped to the bottom-left corner")
    # Beyond a double's range the JSON is refused whole: nothing moves, nothing is audited.
    conn.send('{"type":"input","x":0.5,"y":1e400,"from":"c2"}')
    # Wrong field types are dropped; the relay link stays up and later input still works.
    conn.send('{"type":"input","x":"left","y":[1],"from":"c1"}')
    conn.send('{"type":"key-input","key":"a","modifiers":[1,{}],"from":"c1"}')
    conn.send('{"type":"key-input","kind":"text","text":42,"from":"c1"}')
    conn.send({"type": "input", "x": 0.5, "y": 0.25, "from": "c1"})
    probe.wait(lambda s: s["cursor"] == [ox + pixel(0.5, w), oy + pixel(0.25, h)], "cursor after bad messages")
    assert host.running()
    assert not conn.closed
    details = [d for _, _, d in audit_entries(data_dir, "input")]
    assert any(d.startswith("move x=" + "%f" % 1e308) for d in details)
    assert not [e for e in audit_entries(data_dir, "input") if e[1] == "c2"]


def test_clicks_land_where_the_pointer_is(session, data_dir):
    probe, conn, host = session
    w, h = probe.state()["screen"]
    ox, oy = probe.state()["origin"]
    at = [ox + pixel(0.25, w), oy + pixel(0.75, h)]
    conn.send({"type": "input", "kind": "down", "button": "left", "x": 0.25, "y": 0.75, "from": "c1"})
    conn.send({"type": "input", "kind": "up", "button": "left", "x": 0.25, "y": 0.75, "from": "c1"})
    conn.send({"type": "input", "kind": "down", "button": "right", "x": 0.75, "y": 0.75, "from": "c1"})
    conn.send({"type": "input", "kind": "up", "button": "right", "x": 0.75, "y": 0.75, "from": "c1"})
    at2 = [ox + pixel(0.75, w), oy + pixel(0.75, h)]
    s = probe.wait(lambda s: len(s["clicks"]) >= 4, "four button events")
    assert s["clicks"] == [["left", True] + at, ["left", False] + at, ["right", True] + at2,
                           ["right", False] + at2]
    assert ("input", "c1", "down x=0.250000 y=0.750000 button=left") in audit_entries(data_dir, "input")


def test_text_is_typed_into_the_focused_window(session, data_dir):
    probe, conn, host = session
    text = "h\u00e9llo\r\nw\u00f6rld \U0001F600 \u4e2d"
    conn.send({"type": "key-input", "kind": "text", "text": text, "key": "a", "modifiers": ["ctrl"],
               "from": "c1"})
    # The multi-line edit control stores Enter as CR LF.
    probe.wait(lambda s: s["text"] == text, "typed text")
    detail = "ok text len=%d" % len(text.encode("utf-8"))
    wait_until(lambda: ("key-input", "c1", detail) in audit_entries(data_dir, "key-input"), 10,
               message="key-input audit line")


def test_long_text_arrives_whole_and_in_order(session):
    probe, conn, host = session
    # Text goes out in batches of 128 characters: this one takes three.
    text = "".join(chr(ord("a") + i % 26) for i in range(300))
    conn.send({"type": "key-input", "kind": "text", "text": text, "from": "c1"})
    probe.wait(lambda s: s["text"] == text, "300 typed characters", timeout=60)


def test_text_above_the_cap_is_refused_whole(session, data_dir):
    probe, conn, host = session
    conn.send({"type": "key-input", "kind": "text", "text": "x" * 16385, "from": "c1"})
    conn.send({"type": "key-input", "kind": "text", "text": "ok", "from": "c1"})
    # Handled in order: once "ok" is there, the long text has had its turn and typed nothing.
    probe.wait(lambda s: s["text"] == "ok", "only the short text typed")
    wait_until(lambda: ("key-input", "c1", "ok text len=2") in audit_entries(data_dir, "key-input"), 10,
               message="key-input audit line")
    assert ("key-input", "c1", "failed text len=16385") in audit_entries(data_dir, "key-input")


def test_named_keys_with_modifiers_in_order(session, data_dir):
    probe, conn, host = session
    conn.send({"type": "key-input", "key": "F5", "modifiers": ["Shift", "bogus", "Ctrl"], "from": "c1"})
    s = probe.wait(lambda s: len(s["keys"]) >= 6, "six key events")
    seen = [(k[0], k[1]) for k in s["keys"]]
    assert seen == [(VK_SHIFT, True), (VK_CONTROL, True), (VK_F5, True), (VK_F5, False), (VK_CONTROL, False),
                    (VK_SHIFT, False)]
    f5_down = s["keys"][2]
    assert f5_down[2] and f5_down[3], "Ctrl and Shift are held while F5 goes down"
    # An unknown key sends nothing and is audited as failed.
    conn.send({"type": "key-input", "key": "numlock", "modifiers": ["ctrl"], "from": "c1"})
    wait_until(lambda: ("key-input", "c1", "failed key=numlock") in audit_entries(data_dir, "key-input"), 10,
               message="failed key audit line")
    assert len(probe.state()["keys"]) == 6
    assert ("key-input", "c1", "ok key=F5") in audit_entries(data_dir, "key-input")


def test_keys_edit_the_text(session):
    probe, conn, host = session
    conn.send({"type": "key-input", "kind": "text", "text": "abc", "from": "c1"})
    probe.wait(lambda s: s["text"] == "abc", "abc typed")
    conn.send({"type": "key-input", "key": "backspace", "from": "c1"})
    conn.send({"type": "key-input", "key": "Home", "from": "c1"})
    conn.send({"type": "key-input", "key": "x", "modifiers": ["shift"], "from": "c1"})
    conn.send({"type": "key-input", "key": "enter", "from": "c1"})
    probe.wait(lambda s: s["text"] == "X\r\nab", "text edited by named keys")


def test_input_block_is_refused_under_wine(session, data_dir):
    probe, conn, host = session
    conn.send({"type": "input-block-request", "id": "b1", "blocked": True, "from": "c1"})
    reply = conn.wait_type("input-block-result")
    assert reply == {"type": "input-block-result", "id": "b1", "blocked": False,
                     "error": "BlockInput was refused by Windows"}
    start = len(conn.messages())
    conn.send({"type": "input-block-request", "id": "b2", "from": "c1"})
    reply = conn.wait_type("input-block-result", start=start)
    assert reply == {"type": "input-block-result", "id": "b2", "blocked": False, "error": None}
    assert audit_entries(data_dir, "input-block")[:2] == [("input-block", "c1", "unblocked"),
                                                          ("input-block", "c1", "unblocked")]
    # The person at the machine still has a working keyboard: input still arrives.
    conn.send({"type": "key-input", "kind": "text", "text": "ok", "from": "c1"})
    probe.wait(lambda s: s["text"] == "ok", "text after a refused block")
