"""The host's WebSocket client (through tests/helpers/ws_probe.exe) against real
Python `websockets` servers on 127.0.0.1: ws:// and wss://, both TLS versions,
certificate refusals, control frames and aborting a blocked read."""
import asyncio
import base64
import hashlib
import os
import socket
import ssl
import tempfile
import threading

import pytest

from conftest import (BAD_CERTIFICATES, BIN, FakeRelay, audit_entries, make_bad_certificate, make_ca, make_server_cert,
                      stop_listener, wait_until, winpath)

PROBE = os.path.join(BIN, "ws_probe.exe")


def probe_lines(p):
    return [line.rstrip("\r") for line in p.stdout().splitlines()]


def wait_line(p, predicate, timeout=30.0, what="probe output"):
    def find():
        for line in probe_lines(p):
            if predicate(line):
                return line
        if not p.running():
            # One last look: the process may have printed and exited in between.
            for line in probe_lines(p):
                if predicate(line):
                    return line
            raise AssertionError(f"probe exited ({p.proc.returncode}) without {what}: {p.stdout()!r}")
        return None
    return wait_until(find, timeout, message=what)


def start_probe(processes, url, cacert, *extra):
    return processes([url, winpath(cacert)] + list(extra), exe=PROBE)


@pytest.fixture
def make_relay():
    relays = []

    def make(ssl_context=None):
        r = FakeRelay(ssl_context=ssl_context)
        relays.append(r)
        return r

    yield make
    for r in relays:
        r.close()


def exchange_messages(processes, relay, cacert):
    """Connects a probe that echoes, sends text and binary both ways, returns the connection."""
    p = start_probe(processes, relay.url, cacert, "--echo", "--send", "hello from host")
    wait_line(p, lambda l: l == "connected", what="connected")
    conn = relay.wait_connection(0)
    wait_until(lambda: "hello from host" in conn.texts, 15, message="first text")
    conn.send('{"type":"ping-test","n":1}')
    wait_line(p, lambda l: l == 'text 26 {"type":"ping-test","n":1}', what="text echo line")
    wait_until(lambda: conn.texts.count('{"type":"ping-test","n":1}') == 1, 15, message="echoed text")
    blob = bytes((i * 31 + 7) & 0xFF for i in range(70000))
    conn.send(blob)
    wait_line(p, lambda l: l == f"binary 70000 {sum(blob)}", what="binary line")
    got = conn.wait_binary(1)
    assert got[0] == blob
    return p, conn


def test_plain_loopback_text_and_binary_round_trip(processes, relay, pki):
    p, conn = exchange_messages(processes, relay, pki.ca_pem)
    conn.close()
    wait_line(p, lambda l: l.startswith("close "), what="close")
    assert p.wait(15) == 0
    assert "close 1000" in probe_lines(p)


def test_wss_with_test_ca(processes, tls_relay, pki):
    p, conn = exchange_messages(processes, tls_relay, pki.ca_pem)
    conn.close()
    assert p.wait(15) == 0


@pytest.mark.parametrize("version", [ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3], ids=["tls12", "tls13"])
def test_each_tls_version_alone(processes, make_relay, pki, version):
    relay = make_relay(pki.server_context(min_version=version, max_version=version))
    p, conn = exchange_messages(processes, relay, pki.ca_pem)
    seen = []

    async def version_of():
        seen.append(conn.ws.transport.get_extra_info("ssl_object").version())
    asyncio.run_coroutine_threadsafe(version_of(), relay.loop).result(10)
    assert seen == [{ssl.TLSVersion.TLSv1_2: "TLSv1.2", ssl.TLSVersion.TLSv1_3: "TLSv1.3"}[version]]
    conn.close()
    assert p.wait(15) == 0


def test_certificate_from_another_ca_is_refused(processes, make_relay, pki):
    other = tempfile.mkdtemp(prefix="sv-otherca-")
    ca_pem, ca_key = make_ca(other, name="Someone Else CA")
    cert, key = make_server_cert(other, ca_pem, ca_key)
    relay = make_relay(pki.server_context(cert=cert, key=key))
    rc = start_probe(processes, relay.url, pki.ca_pem).wait(30)
    assert rc == 2
    assert relay.connection_count() == 0


def test_certificate_for_another_host_is_refused(processes, make_relay, pki):
    d = tempfile.mkdtemp(prefix="sv-otherhost-")
    cert, key = make_server_cert(d, pki.ca_pem, pki.ca_key, host="relay.example.test", prefix="other")
    relay = make_relay(pki.server_context(cert=cert, key=key))
    p = start_probe(processes, relay.url, pki.ca_pem)
    assert p.wait(30) == 2
    assert "connect-failed" in probe_lines(p)
    assert relay.connection_count() == 0


def test_plain_ws_to_a_non_loopback_name_is_refused(processes, relay, pki):
    url = relay.url.replace("127.0.0.1", "localhost.")
    p = start_probe(processes, url, pki.ca_pem)
    assert p.wait(30) == 2
    assert relay.connection_count() == 0


@pytest.mark.parametrize("tls", [False, True], ids=["ws", "wss"])
def test_abort_ends_a_blocked_read_quickly(processes, relay, tls_relay, pki, tls):
    r = tls_relay if tls else relay
    p = start_probe(processes, r.url, pki.ca_pem, "--abort-after-ms", "1500")
    line = wait_line(p, lambda l: l.startswith("receive-ended "), timeout=30, what="receive-ended")
    _, result, elapsed = line.split()
    assert result == "2"
    assert int(elapsed) < 10000  # the read alone would wait its 60 s
    assert p.wait(15) == 0


def test_ping_is_answered_and_close_code_echoed(processes, tls_relay, pki):
    p = start_probe(processes, tls_relay.url, pki.ca_pem)
    wait_line(p, lambda l: l == "connected", what="connected")
    conn = tls_relay.wait_connection(0)

    async def ping_then_close():
        waiter = await conn.ws.ping(b"are-you-there")
        await asyncio.wait_for(waiter, 10)
        await conn.ws.close(code=4001, reason="bye")
        return conn.ws.close_code
    code = asyncio.run_coroutine_threadsafe(ping_then_close(), tls_relay.loop).result(20)
    # The server's close handshake completed: the client echoed the close frame.
    assert code == 4001
    wait_line(p, lambda l: l == "close 4001", what="close line")
    assert p.wait(15) == 0


def test_large_binary_both_ways_over_tls(processes, tls_relay, pki):
    p = start_probe(processes, tls_relay.url, pki.ca_pem, "--echo", "--max-messages", "1")
    wait_line(p, lambda l: l == "connected", what="connected")
    conn = tls_relay.wait_connection(0)
    blob = os.urandom(3 * 1024 * 1024 + 17)
    conn.send(blob)
    got = conn.wait_binary(1, timeout=60)
    assert hashlib.sha256(got[0]).digest() == hashlib.sha256(blob).digest()
    assert p.wait(30) == 0


# ---------------------------------------------------------------- the host's own relay connection

class TlsObserver:
    """A TLS server on 127.0.0.1 that records how each client handshake ended."""

    def __init__(self, context):
        self.context = context
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.outcomes = []
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while True:
            try:
                raw, _ = self.sock.accept()
            except OSError:
                return
            raw.settimeout(20)
            try:
                tls = self.context.wrap_socket(raw, server_side=True)
                self.outcomes.append("ok")
                tls.close()
            except (ssl.SSLError, OSError) as e:
                self.outcomes.append(str(e))
                raw.close()

    def close(self):
        stop_listener(self.sock, self.thread)


def start_host(processes, url, data_dir, cacert):
    return processes(["--relay", url, "--data-dir", winpath(data_dir), "--no-update", "--cacert", winpath(cacert)])


@pytest.mark.parametrize("version", [ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3], ids=["tls12", "tls13"])
def test_host_registers_over_each_tls_version(processes, make_relay, pki, data_dir, version):
    relay = make_relay(pki.server_context(min_version=version, max_version=version))
    start_host(processes, relay.url, data_dir, pki.ca_pem)
    conn = relay.wait_connection(0, timeout=30)
    reg = conn.wait_type("host-register", timeout=20)
    assert reg["hostId"]


@pytest.mark.parametrize("which", list(BAD_CERTIFICATES))
def test_host_refuses_a_relay_certificate_it_cannot_verify(processes, pki, data_dir, tmp_path, which):
    cert, key = make_bad_certificate(pki, which, str(tmp_path))
    observer = TlsObserver(pki.server_context(cert=cert, key=key))
    try:
        p = start_host(processes, f"wss://localhost:{observer.port}/", data_dir, pki.ca_pem)
        wait_until(lambda: observer.outcomes, 30, message="a TLS handshake attempt")
        # The host itself broke off the handshake with the alert that names the reason.
        expected_alert = {"other-ca": "unknown ca", "other-host": "bad certificate", "expired": "certificate expired",
                          "not-yet-valid": "certificate unknown"}[which]
        assert expected_alert in observer.outcomes[0].lower(), observer.outcomes
        # And says which, where the person at the computer can read it.
        line = wait_until(lambda: audit_entries(data_dir, "relay"), 30, message="the relay audit line")[0][2]
        cause = BAD_CERTIFICATES[which].format(ca=winpath(pki.ca_pem))
        assert f"unreachable: {cause}; next try in 5 s" in line, line
        wait_until(lambda: line in p.stdout(), 10, message="the line on the console")
    finally:
        observer.close()


@pytest.mark.parametrize("version", [ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3], ids=["tls12", "tls13"])
def test_sending_while_receiving_over_tls_keeps_both_directions_intact(processes, make_relay, pki, version):
    """One thread sends while another receives on the same TLS connection."""
    relay = make_relay(pki.server_context(min_version=version, max_version=version))
    count = 400
    p = start_probe(processes, relay.url, pki.ca_pem, "--send-loop", str(count), "--max-messages", str(count))
    conn = relay.wait_connection(0)
    expected_out = [f"srv {i} " + "s" * (50 + (i * 53) % 5000) for i in range(count)]

    async def push():
        for text in expected_out:
            await conn.ws.send(text)
    asyncio.run_coroutine_threadsafe(push(), relay.loop).result(60)
    assert p.wait(60) == 0
    lines = probe_lines(p)
    got = [l.split(" ", 2)[2] for l in lines if l.startswith("text ")]
    assert got == expected_out
    assert "send-loop-done 0" in lines
    wait_until(lambda: len(conn.texts) >= count, 30, message="all looped texts")
    expected_in = [f"loop {i} " + "p" * (100 + (i * 37) % 3000) for i in range(count)]
    assert conn.texts[:count] == expected_in


class StalledTlsPeer:
    """A wss peer that answers the upgrade and then never reads again, with a small
    receive buffer, so the client's sends back up while the peer keeps sending."""

    def __init__(self, context):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8192)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.context = context
        self.conn = None
        self.ready = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            raw, _ = self.listener.accept()
        except OSError:
            return
        conn = self.context.wrap_socket(raw, server_side=True)
        head = b""
        while b"\r\n\r\n" not in head:
            head += conn.recv(1)
        key = [l.split(b":", 1)[1].strip() for l in head.split(b"\r\n") if l.lower().startswith(b"sec-websocket-key:")][0]
        accept = base64.b64encode(hashlib.sha1(key + b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11").digest())
        conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     b"Sec-WebSocket-Accept: " + accept + b"\r\n\r\n")
        self.conn = conn
        self.ready.set()

    def queued(self):
        import fcntl, struct, termios
        return struct.unpack("i", fcntl.ioctl(self.conn.fileno(), termios.FIONREAD, b"\0\0\0\0"))[0]

    def send_text(self, text):
        data = text.encode()
        assert len(data) < 126
        self.conn.sendall(bytes([0x81, len(data)]) + data)

    def close(self):
        if self.conn is not None:
            try:
                self.conn.close()
            except OSError:
                pass
        # The serving thread may still be in the upgrade with a peer that is gone: it ends
        # on its own once its read fails, so it is not joined.
        stop_listener(self.listener, None)


def test_a_peer_that_stops_reading_does_not_stop_the_reader(processes, pki):
    """While one thread's TLS write waits for socket space, the receiving thread still
    gets what the peer sends."""
    peer = StalledTlsPeer(pki.server_context())
    try:
        p = start_probe(processes, f"wss://127.0.0.1:{peer.port}/", pki.ca_pem, "--send-loop", "20000")
        assert peer.ready.wait(30)
        # The client's writes have backed up once the peer's queue stops growing.
        last = [-1]

        def stalled():
            now = peer.queued()
            steady = now == last[0] and now > 0
            last[0] = now
            return steady
        wait_until(stalled, 30, interval=0.3, message="the client's sends to back up")
        for i in range(3):
            peer.send_text(f"while-stalled {i}")
        wait_line(p, lambda l: l == "text 15 while-stalled 2", timeout=20, what="texts received while a send waits")
    finally:
        peer.close()
