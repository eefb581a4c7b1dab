"""Tray mode under Xvfb: the host window, its buttons and commands, its card through an
enrolment, hiding to the tray, a second start raising it, and the exit command."""
import json
import os
import time

import pytest

from conftest import BIN, FakeRelay, audit_entries, free_port, http_response, run_exe, wait_until, winpath

PROBE = os.path.join(BIN, "window_probe.exe")
CLIPBOARD = os.path.join(BIN, "clipboard_probe.exe")
WM_CLOSE = 0x10
WM_COMMAND = 0x111


def window():
    """(visible, client width, client height, title) of the host window, or None."""
    rc, out, _ = run_exe(["find"], exe=PROBE)
    parts = out.split()
    if rc != 0 or not parts or parts[0] != "found":
        return None
    return int(parts[1]), int(parts[2]), int(parts[3]), bytes.fromhex(parts[4]).decode("utf-8")


def probe(*args):
    rc, out, _ = run_exe([str(a) for a in args], exe=PROBE)
    assert rc == 0
    return out.strip()


def clipboard():
    _, out, _ = run_exe(["get"], exe=CLIPBOARD)
    out = out.strip()
    return bytes.fromhex(out[5:]).decode("utf-8") if out.startswith("text ") else None


def message_box():
    """(title, text) of a message box whose title begins with "Sorvane", or None."""
    rc, out, _ = run_exe(["box"], exe=PROBE)
    parts = out.split()
    if rc != 0 or not parts or parts[0] != "box":
        return None
    return bytes.fromhex(parts[1]).decode("utf-8"), bytes.fromhex(parts[2] if len(parts) > 2 else "").decode("utf-8")


def pixels_like(rgb, tmp_path, tolerance=8):
    """How many pixels of the window's client area have about the colour `rgb`."""
    shot = str(tmp_path / "window.bmp")
    probe("shot", winpath(shot))
    with open(shot, "rb") as f:
        data = f.read()
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = abs(int.from_bytes(data[22:26], "little", signed=True))
    stride = (width * 3 + 3) & ~3
    r, g, b = (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF
    count = 0
    for y in range(height):
        row = data[offset + y * stride:offset + y * stride + width * 3]
        for x in range(0, len(row), 3):
            if abs(row[x] - b) <= tolerance and abs(row[x + 1] - g) <= tolerance and abs(row[x + 2] - r) <= tolerance:
                count += 1
    return count


def password(data_dir):
    with open(os.path.join(data_dir, "host-ui.json")) as f:
        return json.load(f)["password"]


def test_tray_window_shows_copies_hides_raises_and_exits(relay, processes, data_dir, tmp_path):
    args = ["--tray", "--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"]
    host = processes(args)
    conn = relay.wait_connection(0, timeout=60)
    host_id = conn.wait_type("host-register", timeout=60)["hostId"]
    visible, width, height, title = wait_until(lambda: (lambda w: w if w and w[0] else None)(window()), 30,
                                               message="the host window")
    assert title == "Sorvane"
    f = width / 540.0
    # From the bottom: 20 margin, 24 card padding, the password row (44), 16 + 22 to the
    # host ID row above it. Both "Salin" buttons end at 494 from the left.
    copy_x = int(490 * f)
    password_row_y = int(height - 66 * f)
    host_id_row_y = int(height - 148 * f)

    # The values are drawn (the fixed-width face may be missing: its fallback draws).
    wait_until(lambda: int(probe("dark", int(46 * f), host_id_row_y - int(20 * f), int(300 * f), int(40 * f))) > 20,
               20, message="the Host ID drawn")

    probe("click", copy_x, host_id_row_y)
    wait_until(lambda: clipboard() == host_id, 20, message="the Host ID on the clipboard")
    probe("click", copy_x, password_row_y)
    wait_until(lambda: clipboard() == password(data_dir), 20, message="the password on the clipboard")

    old = password(data_dir)
    probe("click", int(380 * f), password_row_y)  # "Password baru"
    wait_until(lambda: password(data_dir) != old, 20, message="a new password")
    conn.wait_type("update-password", timeout=20)
    probe("click", copy_x, password_row_y)
    wait_until(lambda: clipboard() == password(data_dir), 20, message="the new password copied")

    run_exe(["set", "00"], exe=CLIPBOARD)
    probe("post", WM_COMMAND, 1002, 0)  # the tray menu's "Salin ID Host"
    wait_until(lambda: clipboard() == host_id, 20, message="the Host ID copied from the menu")

    probe("post", WM_CLOSE, 0, 0)
    wait_until(lambda: window() and window()[0] == 0, 20, message="the window hidden")
    assert host.running()

    rc, _, _ = run_exe(["--tray", "--relay", relay.url, "--data-dir", winpath(str(tmp_path)), "--no-update"])
    assert rc == 0
    wait_until(lambda: window() and window()[0] == 1, 20, message="the window shown again")
    assert relay.connection_count() == 1

    probe("post", WM_COMMAND, 1003, 0)
    assert host.wait(timeout=60) == 0
    wait_until(lambda: conn.closed, 20, message="the relay connection closed")
    assert window() is None


def test_the_window_follows_the_enrolment(https_server, pki, relay, processes, data_dir):
    """The card (and so the height) is the one the host settles on: an enrolled device's
    whether it enrolled now or before, and a refused enrolment's instead of the classic."""

    def tray(*extra):
        return processes(["--tray", "--relay", relay.url, "--api", https_server.url, "--cacert", winpath(pki.ca_pem),
                          "--data-dir", winpath(data_dir), "--no-update"] + list(extra))

    def height():
        w = window()
        return w[2] if w and w[0] else None

    def close(host):
        probe("post", WM_COMMAND, 1003, 0)
        assert host.wait(timeout=60) == 0

    with open(os.path.join(data_dir, "device.json"), "w") as f:
        f.write('{"deviceId":31,"deviceSecret":"s"}')
    host = tray()
    relay.wait_connection(0, timeout=60).wait_type("device-register", timeout=60)
    enrolled = wait_until(height, 30, message="the enrolled window")
    close(host)

    os.unlink(os.path.join(data_dir, "device.json"))
    https_server.route("/api/devices/enroll", http_response(200, '{"deviceId":31,"deviceSecret":"s"}'))
    host = tray("--enroll", "tok", "pc")
    relay.wait_connection(1, timeout=60).wait_type("device-register", timeout=60)
    wait_until(lambda: height() == enrolled, 30, message="the enrolled card after enrolling")
    close(host)

    https_server.route("/api/devices/enroll", http_response(403, '{"error":"expired"}'))
    host = tray("--enroll", "spent", "pc")
    # No field row: shorter than the enrolled card, where the classic one is taller.
    refused = wait_until(lambda: (lambda h: h if h and h < enrolled else None)(height()), 30,
                         message="the failed enrolment's card")
    assert host.running() and relay.connection_count() == 2
    # The tray has no console: the reason is in the audit log.
    wait_until(lambda: any("refused the enrolment: expired;" in e[2] for e in audit_entries(data_dir, "enroll")),
               20, message="the enrolment's audit line")
    close(host)

    # The server's words are on the card: a long reason makes the card taller.
    https_server.route("/api/devices/enroll", http_response(403, json.dumps({"error": "token spent " * 12})))
    host = tray("--enroll", "spent", "pc")
    wait_until(lambda: (height() or 0) > refused, 30, message="the longer reason's card")
    close(host)


def test_exit_during_a_hanging_enrolment_is_bounded(https_server, pki, relay, processes, data_dir):
    """The support API takes the request and never answers: the exit command still ends
    the program within a few seconds (the request's own time-out is 15 s)."""
    https_server.route("/api/devices/enroll", (b"", 120))
    host = processes(["--tray", "--relay", relay.url, "--api", https_server.url, "--cacert", winpath(pki.ca_pem),
                      "--data-dir", winpath(data_dir), "--no-update", "--enroll", "tok", "pc"])
    https_server.wait_requests(1, timeout=60)
    wait_until(lambda: (lambda w: w if w and w[0] else None)(window()), 30, message="the host window")
    asked = time.monotonic()
    probe("post", WM_COMMAND, 1003, 0)
    assert host.wait(timeout=60) == 0
    assert time.monotonic() - asked < 6, "the exit waited for the enrolment"
    assert relay.connection_count() == 0


@pytest.mark.parametrize("case", ["relay", "data folder"])
def test_a_tray_start_that_cannot_go_on_says_why_in_a_box(processes, data_dir, case):
    """Nobody sees a tray start's standard error: its one line is shown in a message box,
    and the process ends with the same code as before once the box is dismissed."""
    if case == "relay":
        args, code, begins = ["--relay", "wss://x:99999/", "--data-dir", winpath(data_dir)], 2, \
            'relay address "wss://x:99999/" cannot work: '
    else:
        blocker = os.path.join(data_dir, "file")
        with open(blocker, "w") as f:
            f.write("not a folder")
        args, code, begins = ["--data-dir", winpath(blocker)], 1, f"cannot write the data folder {winpath(blocker)}: "
    host = processes(["--tray", "--no-update"] + args)
    title, text = wait_until(message_box, 60, message="the message box")
    assert title == "Sorvane tidak dapat dimulai"
    assert text.startswith(begins), text
    assert host.stderr().rstrip("\r\n") == text  # the console's own line
    assert host.running()  # the exit waits until the box has been read
    probe("box-ok")
    assert host.wait(timeout=30) == code
    assert window() is None


def test_an_identity_that_cannot_be_stored_is_said_on_the_console_in_the_log_and_on_the_card(
        relay, processes, data_dir, tmp_path):
    """host-id.txt and host-ui.json are folders: the host runs with an identity for this run
    only, and says so in one line, in the audit log and on the card."""
    def start(folder, *extra):
        return processes(list(extra) + ["--relay", relay.url, "--data-dir", winpath(folder), "--no-update"])

    def shown_height():
        w = window()
        return w[2] if w and w[0] else None

    blocked = str(tmp_path / "blocked")
    for name in ("host-id.txt", "host-ui.json"):
        os.makedirs(os.path.join(blocked, name))
    host = start(blocked)
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=60)
    line = wait_until(lambda: host.stderr().strip(), 20, message="the console line")
    assert line.startswith("the Host ID and the password are not stored (cannot write "
                           f"{winpath(blocked)}\\host-id.txt: a folder of that name is in the way; cannot write "
                           f"{winpath(blocked)}\\host-ui.json: a folder of that name is in the way): "), line
    assert "--data-dir" in line and "\n" not in line
    assert audit_entries(blocked, "identity") == [("identity", "", line)]
    host.kill()

    # The card's hint says the identity will not last: it is longer than the usual one.
    usual = start(data_dir, "--tray")
    relay.wait_connection(1, timeout=60).wait_type("host-register", timeout=60)
    usual_height = wait_until(shown_height, 30, message="the usual window")
    probe("post", WM_COMMAND, 1003, 0)
    assert usual.wait(timeout=60) == 0
    temporary = start(blocked, "--tray")
    relay.wait_connection(2, timeout=60).wait_type("host-register", timeout=60)
    wait_until(lambda: (shown_height() or 0) > usual_height, 30, message="the card that says it will not last")
    probe("post", WM_COMMAND, 1003, 0)
    assert temporary.wait(timeout=60) == 0


def test_the_window_says_why_the_relay_cannot_be_reached_until_the_host_registers(processes, data_dir, tmp_path):
    """After a refused attempt the card gains a line (the cause and the next try) and the
    pill turns amber; once registered, the usual card is back with its green dot."""
    port = free_port()  # refused until the relay starts there
    processes(["--tray", "--relay", f"ws://127.0.0.1:{port}/", "--data-dir", winpath(data_dir), "--no-update"])
    amber, green = 0xD97706, 0x16A34A

    def shown():
        w = window()
        return w if w and w[0] else None

    wait_until(shown, 30, message="the host window")
    wait_until(lambda: pixels_like(amber, tmp_path) > 20, 60, message="the amber pill of a relay that refuses")
    down = shown()[2]
    relay = FakeRelay(port=port)
    try:
        relay.wait_connection(0, timeout=30).wait_type("host-register", timeout=30)
        wait_until(lambda: pixels_like(green, tmp_path) > 20, 30, message="the green pill once registered")
        assert pixels_like(amber, tmp_path) == 0
        usual = shown()[2]
        assert usual < down, (usual, down)  # the line under the pill is gone with the trouble
    finally:
        relay.close()
