"""LAN direct on the host: a password-mode controller on a classic host and ticket-mode
controllers on an enrolled device, against the fake relay and the independent
Python LAN controller."""
import json
import os
import socket

import pytest

import lan_controller as lc
from conftest import audit_entries, free_port, wait_until, winpath

PASSWORD = "k3m9p2"


def write_settings(data_dir, settings):
    with open(os.path.join(data_dir, "host-ui.json"), "w") as f:
        json.dump(settings, f)


def reply(relay, conn, message):
    relay.loop.create_task(conn.ws.send(json.dumps(message)))


def lan_line(data_dir):
    return wait_until(lambda: audit_entries(data_dir, "lan"), 60, message="lan audit line")[0]


def recv_text(channel, predicate, limit=200):
    """Reads frames until a text frame whose JSON matches; binary frames are counted."""
    for _ in range(limit):
        ftype, payload = channel.recv()
        if ftype == 0:
            msg = json.loads(payload)
            if predicate(msg):
                return msg
    raise AssertionError("no matching text frame")


def closed(sock, timeout=15):
    sock.settimeout(timeout)
    try:
        while True:
            if sock.recv(65536) == b"":
                return True
    except (ConnectionResetError, ConnectionAbortedError):
        return True
    except socket.timeout:
        return False


def test_password_mode_peer_is_a_controller_and_cannot_speak_for_the_relay(processes, relay, data_dir):
    port = free_port()
    write_settings(data_dir, {"password": PASSWORD, "LanDirectEnabled": True, "LanPort": port})
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    conn = relay.wait_connection(0, timeout=60)
    register = conn.wait_type("host-register")
    assert register["lan"]["port"] == port
    assert lan_line(data_dir) == ("lan", "", f"listening on port {port}, firewall rule present")

    with pytest.raises(lc.HandshakeRefused):
        lc.connect(port, "wrong1")
    ch = lc.connect(port, PASSWORD)
    try:
        resolution = recv_text(ch, lambda m: m.get("type") == "resolution")
        assert resolution["width"] > 0 and resolution["height"] > 0
        # The stream started for the new peer: JPEG frames arrive as binary frames.
        for _ in range(50):
            ftype, payload = ch.recv()
            if ftype == 1:
                assert payload[:2] == b"\xff\xd8"
                break
        else:
            raise AssertionError("no screen frame on the LAN channel")

        # Messages only the relay may send are dropped; a refusal would otherwise make
        # the host leave the relay and register again.
        ch.send(json.dumps({"type": "error", "reason": "hostId-in-use"}).encode())
        ch.send(json.dumps({"type": "peer-left", "id": ""}).encode())
        ch.send(json.dumps({"type": "input-block-request", "id": "after", "blocked": False}).encode())
        result = recv_text(ch, lambda m: m.get("type") == "input-block-result")
        assert result["id"] == "after"
        assert audit_entries(data_dir, "register-refused") == []
        assert relay.connection_count() == 1
        # Replies go to the relay as well as to every LAN channel.
        conn.wait_message(lambda m: m.get("type") == "input-block-result" and m.get("id") == "after")
    finally:
        ch.close()


def start_enrolled(processes, relay, data_dir, port):
    write_settings(data_dir, {"lanDirectEnabled": True, "lanPort": port})

    def on_text(conn, text):
        if json.loads(text).get("type") == "device-register":
            reply(relay, conn, {"type": "registered"})

    relay.on_text = on_text
    with open(os.path.join(data_dir, "device.json"), "w") as f:
        json.dump({"apiBase": "https://127.0.0.1:9", "deviceId": 77, "deviceSecret": "dev-secret"}, f)
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    conn = relay.wait_connection(0, timeout=60)
    register = conn.wait_type("device-register")
    assert register["lan"]["port"] == port
    advertise = conn.wait_type("lan-advertise")
    assert advertise["lan"] is None or (advertise["lan"]["port"] == port and advertise["lan"]["addrs"])
    assert lan_line(data_dir) == ("lan", "", f"listening on port {port} (tickets), firewall rule present")
    return conn


def ticket(relay, conn, ticket_id, secret, controller):
    start = len(conn.messages())
    conn.send({"type": "lan-ticket", "ticketId": ticket_id, "secret": secret, "controllerId": controller})
    ready = conn.wait_type("lan-ticket-ready", start=start)
    assert ready == {"type": "lan-ticket-ready", "ticketId": ticket_id}


def test_ticket_mode_orphan_reuse_path_and_revoke(processes, relay, data_dir):
    port = free_port()
    conn = start_enrolled(processes, relay, data_dir, port)

    # A ticket for a controller that never joined through the relay.
    ticket(relay, conn, "t-orphan", "s1", "ghost")
    ch = lc.connect(port, "s1", ticket_id="t-orphan")
    assert closed(ch.sock)
    wait_until(lambda: audit_entries(data_dir, "lan-ticket-orphan"), 10, message="orphan line")
    assert audit_entries(data_dir, "lan-ticket-orphan") == [("lan-ticket-orphan", "", "ghost from 127.0.0.1")]
    # Tickets are single use.
    with pytest.raises(lc.HandshakeRefused):
        lc.connect(port, "s1", ticket_id="t-orphan")

    # A joined controller moves onto the LAN: frames leave the relay.
    conn.send({"type": "controller-joined", "controllerId": "c1"})
    conn.wait_binary(1, timeout=30)
    ticket(relay, conn, "t1", "secret-1", "c1")
    ch = lc.connect(port, "secret-1", ticket_id="t1")
    try:
        path = conn.wait_type("lan-path")
        assert path == {"type": "lan-path", "controllerId": "c1", "active": True, "ip": "127.0.0.1"}
        assert recv_text(ch, lambda m: m.get("type") == "resolution")["width"] > 0
        frames = 0
        for _ in range(100):
            ftype, _payload = ch.recv()
            frames += ftype == 1
            if frames == 3:
                break
        assert frames == 3
        relay_frames = len(conn.binaries)
        for _ in range(3):
            while ch.recv()[0] != 1:
                pass
        # At most the frame that was being sent when the path switched.
        assert len(conn.binaries) <= relay_frames + 1

        # Messages from the LAN peer carry its controller id whatever it claims.
        ch.send(json.dumps({"type": "input-block-request", "id": "q", "from": "someone-else"}).encode())
        wait_until(lambda: audit_entries(data_dir, "input-block"), 10, message="input-block line")
        assert audit_entries(data_dir, "input-block")[0][1] == "c1"

        start = len(conn.messages())
        conn.send({"type": "lan-revoke", "controllerId": "c1"})
        assert closed(ch.sock)
        off = conn.wait_type("lan-path", start=start)
        assert off == {"type": "lan-path", "controllerId": "c1", "active": False}
        before = len(conn.binaries)
        conn.wait_binary(before + 2, timeout=30)
        assert ("lan-path", "", "off c1") in audit_entries(data_dir, "lan-path")
        assert ("lan-revoke", "", "c1") in audit_entries(data_dir, "lan-revoke")
    finally:
        ch.close()


def test_ticket_limit_and_missing_members(processes, relay, data_dir):
    port = free_port()
    conn = start_enrolled(processes, relay, data_dir, port)
    for i in range(8):
        ticket(relay, conn, f"t{i}", "s", "c")
    start = len(conn.messages())
    conn.send({"type": "lan-ticket", "ticketId": "t8", "secret": "s", "controllerId": "c"})
    conn.send({"type": "lan-ticket", "ticketId": "t9", "secret": "", "controllerId": "c"})
    # A later request that is answered shows the two above were handled (and dropped).
    conn.send({"type": "input-block-request", "id": "marker"})
    conn.wait_message(lambda m: m.get("type") == "input-block-result", start=start)
    assert [m for m in conn.messages()[start:] if m.get("type") == "lan-ticket-ready"] == []


def test_lan_settings_that_cannot_work_are_said_with_their_value(processes, relay, data_dir):
    """A "--lan" value or a "LanPort" that turns LAN direct off, and a port another program
    holds, are said on the console and in the audit log; the host runs on without LAN."""
    port = free_port()
    holder = socket.socket()  # another program on the port
    holder.bind(("127.0.0.1", port))
    holder.listen(1)
    cases = [
        (["--lan", "99999"], None, '--lan "99999": no port is above 65535, so LAN direct is off; '),
        (["--lan", "abc"], None,
         '--lan "abc": not a port number, read as 0: host-ui.json decides about LAN direct; '),
        ([], {"LanDirectEnabled": True, "LanPort": 70000},
         'LAN direct is off: in {hostui}, "LanPort" is 70000, which is no port; give it a port from 1 to 65535'),
        # Wine, like Windows for a port held for one program alone, answers WSAEACCES
        # (10013) where another system would say WSAEADDRINUSE (10048).
        ([], {"LanDirectEnabled": True, "LanPort": port},
         f"LAN direct is not listening on port {port}: port {port} is in use by another program"),
    ]
    try:
        for index, (args, settings, says) in enumerate(cases):
            data = os.path.join(data_dir, str(index))
            os.makedirs(data)
            write_settings(data, dict(settings or {}, password=PASSWORD))
            says = says.replace("{hostui}", winpath(os.path.join(data, "host-ui.json")))
            host = processes(args + ["--relay", relay.url, "--data-dir", winpath(data), "--no-update"])
            relay.wait_connection(index, timeout=60).wait_type("host-register", timeout=60)
            said = [line for line in host.stderr().splitlines() if line.startswith(says)]
            assert len(said) == 1, (says, host.stderr())
            lan = [detail for _, _, detail in audit_entries(data, "lan")]
            if settings and settings["LanPort"] == port:
                cause = said[0].split(": ", 1)[1].split("; choose another port")[0]
                assert "(socket error 100" in cause, said[0]
                assert lan == [f"NOT listening on port {port}, firewall rule present; {cause}"]
            else:
                assert lan == [said[0]]
            host.kill()
    finally:
        holder.close()
