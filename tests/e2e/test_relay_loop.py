"""The host's identity, its relay connection loop and the media connection, against the fake relay."""
import hashlib
import json
import os
import re
import socket
import threading
import time

import pytest

from conftest import FakeRelay, audit_entries, free_port, stop_listener, wait_until, winpath



def reply(relay, conn, message):
    """Sends from inside a relay hook (which runs on the relay's own event loop)."""
    relay.loop.create_task(conn.ws.send(json.dumps(message)))


def hang_up(relay, conn):
    relay.loop.create_task(conn.ws.close())


def first_type(conn):
    msgs = conn.messages()
    return msgs[0].get("type") if msgs and isinstance(msgs[0], dict) else None


def start_classic(processes, relay, data_dir, pki=None):
    args = ["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"]
    if pki is not None:
        args += ["--cacert", winpath(pki.ca_pem)]
    return processes(args)


def start_enrolled(processes, relay, data_dir, device_id, secret):
    with open(os.path.join(data_dir, "device.json"), "w") as f:
        json.dump({"apiBase": "https://127.0.0.1:9", "deviceId": device_id, "deviceSecret": secret}, f)
    return processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])


def stored_identity(data_dir):
    with open(os.path.join(data_dir, "host-id.txt"), "rb") as f:
        host_id = f.read().decode()
    with open(os.path.join(data_dir, "host-ui.json"), "rb") as f:
        settings = json.loads(f.read().decode())
    return host_id, settings


class ConnectTimes:
    """Records when each relay connection arrives."""

    def __init__(self, relay):
        self.times = []
        self.lock = threading.Lock()
        relay.on_connect = self._seen

    def _seen(self, conn):
        with self.lock:
            self.times.append(time.monotonic())

    def wait_count(self, n, timeout):
        return wait_until(lambda: len(self.times) >= n and list(self.times), timeout,
                          message=f"{n} relay connections")


class HangUpServer:
    """A TCP port that accepts and closes at once: every WebSocket upgrade fails."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.times = []
        self._stop = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self._stop:
            try:
                c, _ = self.sock.accept()
            except OSError:
                return
            self.times.append(time.monotonic())
            c.close()

    def close(self):
        self._stop = True
        stop_listener(self.sock, self.thread)


def assert_gap(times, i, expected, slack_low=0.4, slack_high=1.6):
    gap = times[i + 1] - times[i]
    assert expected - slack_low <= gap <= expected + slack_high, f"gap {i}: {gap:.2f}s, wanted about {expected}s"


def test_classic_host_registers_over_tls_with_its_stored_identity(processes, tls_relay, data_dir, pki):
    p = start_classic(processes, tls_relay, data_dir, pki)
    conn = tls_relay.wait_connection(0, timeout=30)
    reg = conn.wait_type("host-register")
    host_id, settings = stored_identity(data_dir)
    assert re.fullmatch(r"[1-9][0-9]{8}", host_id)
    password = settings["password"]
    assert re.fullmatch(r"[a-km-np-z2-9]{6}", password)
    assert list(settings) == ["relayUrl", "apiBase", "password"]
    digest = hashlib.sha256(password.encode()).hexdigest()
    # Exactly this text: keys in order, compact, no "lan" while LAN direct is off.
    assert conn.texts[0] == json.dumps({"type": "host-register", "hostId": host_id, "passwordHash": digest},
                                       separators=(",", ":"))
    assert reg["hostId"] == host_id
    wait_until(lambda: audit_entries(data_dir, "relay"), 10, message="registered audit line")
    assert audit_entries(data_dir, "relay") == [("relay", "", f"registered hostId={host_id}")]
    out = wait_until(lambda: "Password" in p.stdout() and p.stdout(), 10, message="banner")
    assert f"Sorvane host (Win7)\n  Host ID : {host_id}\n  Password: {password}\n" in out.replace("\r\n", "\n")
    assert p.running()


def test_existing_identity_is_kept_and_settings_merged(processes, relay, data_dir):
    with open(os.path.join(data_dir, "host-id.txt"), "wb") as f:
        f.write(b"123456789\r\n")
    with open(os.path.join(data_dir, "host-ui.json"), "wb") as f:
        f.write(b'{"Theme":"dark","LanDirectEnabled":false,"TrainingVolume":35}')
    start_classic(processes, relay, data_dir)
    reg = relay.wait_connection(0).wait_type("host-register")
    assert reg["hostId"] == "123456789"
    host_id, settings = stored_identity(data_dir)
    assert host_id == "123456789\r\n"  # a valid file is left as it was
    assert settings["Theme"] == "dark" and settings["TrainingVolume"] == 35
    assert settings["LanDirectEnabled"] is False
    assert reg["passwordHash"] == hashlib.sha256(settings["password"].encode()).hexdigest()
    assert not [f for f in os.listdir(data_dir) if ".tmp" in f]


def test_refusals_wait_one_two_four_then_registration_resets(processes, relay, data_dir):
    times = ConnectTimes(relay)

    def on_text(conn, text):
        if json.loads(text).get("type") != "host-register":
            return
        n = relay.connection_count()
        if n <= 3:
            reply(relay, conn, {"type": "error", "reason": "hostId-in-use"})
        elif n == 4:
            reply(relay, conn, {"type": "registered"})
            hang_up(relay, conn)  # a pass that registered: the next wait is 5 s
        else:
            reply(relay, conn, {"type": "registered"})

    relay.on_text = on_text
    start_classic(processes, relay, data_dir)
    t = times.wait_count(5, timeout=40)
    assert_gap(t, 0, 1)
    assert_gap(t, 1, 2)
    assert_gap(t, 2, 4)
    assert_gap(t, 3, 5)
    refused = [d for (_, _, d) in audit_entries(data_dir, "register-refused")]
    assert refused == ["hostId-in-use (x1)", "hostId-in-use (x2)", "hostId-in-use (x3)"]
    host_id, _ = stored_identity(data_dir)
    wait_until(lambda: len(audit_entries(data_dir, "relay")) >= 3, 10, message="two registrations")
    registered, dropped, again = [d for (_, _, d) in audit_entries(data_dir, "relay")][:3]
    assert registered == again == f"registered hostId={host_id}"
    # The registered connection the relay hung up on is said, with its cause.
    assert dropped.startswith(f"relay {relay.url} disconnected: closed by the relay; next try in 5 s at "), dropped
    # The same identity on every attempt.
    ids = {relay.wait_connection(i).wait_type("host-register")["hostId"] for i in range(5)}
    assert ids == {host_id}


def test_unreachable_relay_backs_off_five_then_ten(processes, data_dir):
    server = HangUpServer()
    try:
        url = f"ws://127.0.0.1:{server.port}/"
        p = processes(["--relay", url, "--data-dir", winpath(data_dir), "--no-update"])
        wait_until(lambda: len(server.times) >= 3, 60, message="three failed attempts")
        t = list(server.times)
        assert_gap(t, 0, 5)
        assert_gap(t, 1, 10)
        assert p.running()
        # Said once for the run of failures, not once per attempt: the cause stayed the same.
        line = f"relay {url} unreachable: closed by the relay; next try in "
        details = [d for (_, _, d) in audit_entries(data_dir, "relay")]
        assert len(details) == 1 and details[0].startswith(line + "5 s at "), details
        assert p.stdout().count(line) == 1
    finally:
        server.close()


def test_refusing_relay_is_reported_on_the_console_and_in_the_audit_log(processes, data_dir):
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    port = closed.getsockname()[1]
    closed.close()  # nothing listens there now: every connect is refused
    url = f"ws://127.0.0.1:{port}/"
    p = processes(["--relay", url, "--data-dir", winpath(data_dir), "--no-update"])
    line = wait_until(lambda: audit_entries(data_dir, "relay"), 60, message="the relay audit line")[0][2]
    assert re.fullmatch(re.escape(f"relay {url} unreachable: connection refused; next try in 5 s at ")
                        + r"\d\d:\d\d:\d\d", line), line
    wait_until(lambda: line in p.stdout(), 10, message="the line on the console")
    assert p.running()


def test_the_console_says_when_the_relay_is_back_and_when_a_registered_connection_drops(processes, data_dir):
    port = free_port()
    url = f"ws://127.0.0.1:{port}/"
    p = processes(["--relay", url, "--data-dir", winpath(data_dir), "--no-update"])
    down = f"relay {url} unreachable: connection refused; next try in 5 s at "
    wait_until(lambda: down in p.stdout(), 60, message="the failure line")
    relay = FakeRelay(port=port)  # the relay comes up where the host keeps trying
    try:
        conn = relay.wait_connection(0, timeout=30)
        conn.wait_type("host-register", timeout=30)
        host_id, _ = stored_identity(data_dir)
        back = f"relay {url} reached again: registered as host {host_id}"
        wait_until(lambda: back in p.stdout(), 30, message="the line saying the relay is back")
        # A registered connection that the relay ends is said with its cause, and so is the return.
        conn.close()
        gone = f"relay {url} disconnected: closed by the relay; next try in 5 s at "
        wait_until(lambda: any(d.startswith(gone) for _, _, d in audit_entries(data_dir, "relay")), 30,
                   message="the audit line of the drop")
        relay.wait_connection(1, timeout=30).wait_type("host-register", timeout=30)
        wait_until(lambda: p.stdout().count(back) == 2, 30, message="the second return")
        assert p.stdout().count(down) == 1 and p.stdout().count(gone) == 1
    finally:
        relay.close()


@pytest.mark.parametrize("reason,says", [
    ("device-revoked", "this computer was removed from the Sorvane platform (device-revoked)"),
    ("device-auth-failed", "this computer could not prove its identity to the Sorvane platform"),
])
def test_a_rejected_device_ends_for_good_with_one_line_and_1(processes, relay, data_dir, reason, says):
    def on_text(conn, text):
        if json.loads(text).get("type") == "device-register":
            reply(relay, conn, {"type": "error", "reason": reason})

    relay.on_text = on_text
    p = start_enrolled(processes, relay, data_dir, 4242, "s3cret-Z")
    conn = relay.wait_connection(0, timeout=30)
    conn.wait_type("device-register")
    assert conn.texts[0] == '{"type":"device-register","deviceId":4242,"deviceSecret":"s3cret-Z"}'
    assert p.wait(timeout=20) == 1
    err = p.stderr().replace("\r\n", "\n")
    assert err.startswith(says) and err.count("\n") == 1 and "must be enrolled again" in err, err
    assert audit_entries(data_dir, "device-rejected") == [("device-rejected", "", reason)]
    assert relay.connection_count() == 1
    # An enrolled host keeps no classic identity.
    assert not os.path.exists(os.path.join(data_dir, "host-id.txt"))


def test_enrolled_device_registered_audit(processes, relay, data_dir):
    p = start_enrolled(processes, relay, data_dir, 7, "x")
    relay.wait_connection(0, timeout=30).wait_type("device-register")
    wait_until(lambda: audit_entries(data_dir, "relay"), 10, message="registered audit line")
    assert audit_entries(data_dir, "relay") == [("relay", "", "registered deviceId=7")]
    assert p.running()


def test_media_connection_attaches_reattaches_and_is_superseded(processes, relay, data_dir):
    media = []

    def on_text(conn, text):
        m = json.loads(text)
        if m.get("type") == "host-register":
            reply(relay, conn, {"type": "registered", "mediaToken": "tok-1"})
        elif m.get("type") == "media-attach":
            media.append((time.monotonic(), conn, m.get("token")))
            reply(relay, conn, {"type": "media-attached"})

    relay.on_text = on_text
    start_classic(processes, relay, data_dir)
    main_conn = relay.wait_connection(0, timeout=30)
    wait_until(lambda: len(media) >= 1, 15, message="media attach")
    t0, first, token = media[0]
    assert token == "tok-1" and first is not main_conn
    assert first.texts[0] == '{"type":"media-attach","token":"tok-1"}'

    # The relay drops the media connection: the host comes back with the same token after 1 s.
    dropped = time.monotonic()
    first.close()
    wait_until(lambda: len(media) >= 2, 10, message="media re-attach")
    t1, second, token = media[1]
    assert token == "tok-1"
    assert 0.6 <= t1 - dropped <= 2.8

    # A new registration supersedes it: the old media connection is let go and a new one
    # attaches with the new token; the relay connection itself stays.
    main_conn.send({"type": "registered", "mediaToken": "tok-2"})
    wait_until(lambda: len(media) >= 3, 10, message="attach with the new token")
    assert media[2][2] == "tok-2"
    wait_until(lambda: second.closed, 10, message="superseded media connection closed")
    time.sleep(0.5)  # the newest media connection must survive its predecessor's end
    assert not media[2][1].closed
    assert not main_conn.closed
    assert len(media) == 3


def test_controllers_join_and_leave(processes, relay, data_dir):
    start_classic(processes, relay, data_dir)
    conn = relay.wait_connection(0, timeout=30)
    conn.wait_type("host-register")
    wait_until(lambda: audit_entries(data_dir, "relay"), 10, message="registered")
    conn.send({"type": "controller-joined", "controllerId": "c1"})
    conn.send({"type": "controller-joined", "controllerId": "c1"})
    conn.send({"type": "peer-left", "id": "nobody"})
    conn.send({"type": "peer-left", "id": "c1"})
    conn.send({"type": "peer-left", "id": "c1"})
    wait_until(lambda: len(audit_entries(data_dir, "peer-left-unknown")) >= 2, 10, message="unknown leavers")
    assert [d for (_, _, d) in audit_entries(data_dir, "peer-left-unknown")] == ["nobody", "c1"]
    # The host is still connected and serving the same pass.
    assert relay.connection_count() == 1 and not conn.closed

    # A controller present when the relay drops the host is forgotten with the pass.
    conn.send({"type": "controller-joined", "controllerId": "c2"})
    conn.close()  # the host reads the join before it meets the close
    again = relay.wait_connection(1, timeout=15)
    again.wait_type("host-register")
    again.send({"type": "peer-left", "id": "c2"})
    wait_until(lambda: len(audit_entries(data_dir, "peer-left-unknown")) >= 3, 10, message="c2 forgotten")
    assert audit_entries(data_dir, "peer-left-unknown")[-1][2] == "c2"


def test_frames_use_the_media_connection_while_it_is_attached(processes, relay, data_dir):
    media = []

    def on_text(conn, text):
        m = json.loads(text)
        if m.get("type") == "host-register":
            reply(relay, conn, {"type": "registered", "mediaToken": "frames"})
        elif m.get("type") == "media-attach":
            media.append(conn)
            reply(relay, conn, {"type": "media-attached"})

    relay.on_text = on_text
    start_classic(processes, relay, data_dir)
    main_conn = relay.wait_connection(0, timeout=30)
    wait_until(lambda: media, 15, message="media attach")
    media_conn = media[0]
    main_conn.send({"type": "controller-joined", "controllerId": "viewer"})
    main_conn.wait_type("resolution")
    # The stream's first frame; it may race the attach, so it is not counted.
    wait_until(lambda: main_conn.binaries or media_conn.binaries, 20, message="first frame")

    def frames_after_requests(conn, more):
        have = len(conn.binaries)

        def enough():
            if len(conn.binaries) >= have + more:
                return True
            main_conn.send({"type": "frame-request"})
            return False
        wait_until(enough, 20, interval=0.3, message=f"{more} more frames")

    on_relay = len(main_conn.binaries)
    frames_after_requests(media_conn, 3)
    assert len(main_conn.binaries) == on_relay  # nothing on the relay connection while attached

    # The media connection goes away: frames come back over the relay connection.
    media_conn.close()
    frames_after_requests(main_conn, 2)
