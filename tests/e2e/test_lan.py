"""LAN direct against an independent Python controller (lan_controller.py):
the SRP proof, frames both ways, refusals, the lock-out and hostile frames.
The listener runs in lan_probe.exe (password mode, echoing every frame)."""
import os
import re
import socket
import struct

import pytest

import lan_controller as lc
from conftest import BIN, run_exe, wait_until, winpath

PROBE = os.path.join(BIN, "lan_probe.exe")
PASSWORD = "q7w2e9"


def start_probe(processes, *extra):
    p = processes(["--port", "0", "--password", PASSWORD] + list(extra), exe=PROBE)
    found = wait_until(lambda: re.search(r"listening (\d+)", p.stdout()) or (not p.running() and "exited"),
                       timeout=60, message="lan_probe to listen")
    assert found != "exited", p.stdout() + p.stderr()
    return p, int(found.group(1))


def closed_without_bytes(sock, timeout=10):
    sock.settimeout(timeout)
    try:
        return sock.recv(1) == b""
    except ConnectionResetError:
        return True


def test_controller_completes_the_proof_and_frames_flow_both_ways(processes):
    probe, port = start_probe(processes)
    ch = lc.connect(port, PASSWORD)
    try:
        ch.send(b'{"type":"ping"}', 0)
        assert ch.recv() == (0, b'{"type":"ping"}')  # host's counter 0, role 1
        ch.send(bytes(range(256)) * 300, 1)
        assert ch.recv() == (1, bytes(range(256)) * 300)
        ch.send(b"", 0)
        assert ch.recv() == (0, b"")
        assert ch.send_counter == 3 and ch.recv_counter == 3
    finally:
        ch.close()
    assert probe.running()


def test_two_controllers_get_independent_keys(processes):
    _, port = start_probe(processes)
    a = lc.connect(port, PASSWORD)
    b = lc.connect(port, PASSWORD)
    try:
        a.send(b"from-a")
        b.send(b"from-b")
        assert a.recv() == (0, b"from-a")
        assert b.recv() == (0, b"from-b")
        # A frame sealed under a's key is forged as far as b's channel is concerned.
        b.send_raw(a.seal(b"cross", counter=b.send_counter))
        assert closed_without_bytes(b.sock)
    finally:
        a.close()
        b.close()


def test_wrong_password_gets_an_empty_message(processes):
    probe, port = start_probe(processes)
    with pytest.raises(lc.HandshakeRefused, match="empty message instead of M2"):
        lc.connect(port, "wrong1")
    assert probe.running()


def test_locked_out_after_five_failures(processes):
    _, port = start_probe(processes)
    for _ in range(5):
        with pytest.raises(lc.HandshakeRefused):
            lc.connect(port, "wrong1")
    # The sixth connection is closed before the host says anything, even with
    # the right password.
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        assert closed_without_bytes(sock)
    finally:
        sock.close()
    with pytest.raises((lc.HandshakeRefused, ConnectionError, OSError)):
        lc.connect(port, PASSWORD)


def test_other_loopback_sources_share_the_lock_out(processes):
    _, port = start_probe(processes)
    for _ in range(5):
        with pytest.raises(lc.HandshakeRefused):
            lc.connect(port, "wrong1")
    # Any 127.x source is this machine again: no fresh guesses from a new address.
    for source in ("127.0.0.2", "127.3.2.1"):
        sock = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
        try:
            assert closed_without_bytes(sock), source
        finally:
            sock.close()


def test_verifier_alone_cannot_pass_with_an_overlong_public_value(processes):
    """Whoever holds only the verifier picks A's upper bytes so that A * v^u = g^a mod N
    while the hashes see only A's last 384 bytes; the host must refuse such an A."""
    probe, port = start_probe(processes)
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        salt = lc.recv_message(sock)
        B = lc.recv_message(sock)
        v = lc.to_int(lc.make_verifier(salt, PASSWORD))  # the stolen verifier, not the password
        a = 123456789
        low = pow(lc.G, a, lc.N).to_bytes(lc.NLEN, "big")
        u = lc.to_int(lc.compute_u(low, B))
        target = pow(lc.G, a, lc.N) * pow(pow(v, u, lc.N), -1, lc.N) % lc.N
        high = (target - lc.to_int(low)) * pow(1 << (8 * lc.NLEN), -1, lc.N) % lc.N
        long_a = high.to_bytes(lc.NLEN, "big") + low
        assert lc.to_int(long_a) % lc.N == target
        g_b = (lc.to_int(B) - lc.to_int(lc.compute_k()) * v) % lc.N
        S = pow(g_b, a, lc.N).to_bytes(lc.NLEN, "big")
        lc.send_message(sock, long_a)
        lc.send_message(sock, lc.proof_m1(low, B, S))
        assert lc.recv_message(sock) == b""
    finally:
        sock.close()
    assert probe.running()


def test_public_value_zero_is_refused(processes):
    probe, port = start_probe(processes)
    for bad_a in (0, lc.N, 2 * lc.N):
        sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        try:
            lc.recv_message(sock)
            B = lc.recv_message(sock)
            a_bytes = bad_a.to_bytes(385, "big") if bad_a else b"\x00" * 384
            # With A = 0 mod N the host's S would be 0: a forger's guess.
            forged_m1 = lc.proof_m1(a_bytes, B, b"\x00" * 384)
            lc.send_message(sock, a_bytes)
            lc.send_message(sock, forged_m1)
            assert lc.recv_message(sock) == b""
        finally:
            sock.close()
    assert probe.running()


def test_replayed_frame_kills_the_channel(processes):
    probe, port = start_probe(processes)
    ch = lc.connect(port, PASSWORD)
    try:
        frame = ch.seal(b"once")
        ch.send_raw(frame)
        ch.send_counter += 1
        assert ch.recv() == (0, b"once")
        ch.send_raw(frame)
        assert closed_without_bytes(ch.sock)
    finally:
        ch.close()
    wait_until(lambda: "out-of-sequence frame (replay?)" in probe.stdout(), timeout=10, message="replay refusal")


def test_changed_type_byte_kills_the_channel(processes):
    probe, port = start_probe(processes)
    ch = lc.connect(port, PASSWORD)
    try:
        frame = bytearray(ch.seal(b'{"type":"x"}', 0))
        frame[4] = 1
        ch.send_raw(bytes(frame))
        assert closed_without_bytes(ch.sock)
    finally:
        ch.close()
    wait_until(lambda: "authentication tag mismatch" in probe.stdout(), timeout=10, message="tag refusal")


def test_frame_with_the_hosts_role_is_refused(processes):
    probe, port = start_probe(processes)
    ch = lc.connect(port, PASSWORD)
    try:
        ch.send_raw(ch.seal(b"mirror", role=lc.ROLE_HOST))
        assert closed_without_bytes(ch.sock)
    finally:
        ch.close()
    wait_until(lambda: "out-of-sequence frame (replay?)" in probe.stdout(), timeout=10, message="role refusal")


def test_implausible_frame_length_kills_the_channel(processes):
    probe, port = start_probe(processes)
    ch = lc.connect(port, PASSWORD)
    try:
        ch.send_raw(struct.pack(">IB", lc.MAX_FRAME + 1, 0))
        assert closed_without_bytes(ch.sock)
    finally:
        ch.close()
    wait_until(lambda: "implausible frame length" in probe.stdout(), timeout=10, message="length refusal")


def test_silent_controller_is_dropped_after_the_handshake_time_out(processes):
    # Short, but long enough for the next controller's whole proof on a loaded machine.
    _, port = start_probe(processes, "--handshake-timeout", "2000")
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        assert lc.recv_message(sock)  # salt
        assert len(lc.recv_message(sock)) == 384  # B
        assert closed_without_bytes(sock)
    finally:
        sock.close()
    # The listener still serves the next controller.
    ch = lc.connect(port, PASSWORD)
    ch.close()


def test_oversize_handshake_message_is_refused_before_its_body(processes):
    probe, port = start_probe(processes)
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        lc.recv_message(sock)
        lc.recv_message(sock)
        sock.sendall(struct.pack(">I", 4097))
        assert closed_without_bytes(sock)
    finally:
        sock.close()
    assert probe.running()


# ---- one-shot commands of the host --------------------------------------------

# The fixed inputs the host documents for --srp-vectors.
VECTOR_SALT = bytes(range(32))
VECTOR_PASSWORD = "abc123"
VECTOR_A = "123456789abcdef0123456789abcdef0123456789abcdef"
VECTOR_B = "fedcba9876543210fedcba9876543210fedcba98765432"
VECTOR_S = "0f1e2d3c4b5a69780f1e2d3c4b5a69780f1e2d3c4b5a69788796"


def hex_bytes(text):
    return bytes.fromhex(text if len(text) % 2 == 0 else "0" + text)


def test_srp_vectors_match_the_independent_controller(data_dir):
    rc, out, err = run_exe(["--srp-vectors", "--data-dir", winpath(data_dir)], timeout=60)
    assert rc == 0, err
    expected = lc.srp_vectors(VECTOR_SALT, VECTOR_PASSWORD, hex_bytes(VECTOR_A), hex_bytes(VECTOR_B),
                              hex_bytes(VECTOR_S))
    text = "".join("  %-3s = %s\n" % (name, expected[name]) for name in ("x", "k", "u", "M1", "M2", "key", "v"))
    assert out.replace("\r\n", "\n") == text
    rc2, out2, _ = run_exe(["--srp-vectors"], timeout=60)
    assert rc2 == 0 and out2 == out


def test_self_test_lan_passes(data_dir):
    rc, out, err = run_exe(["--self-test-lan", "--data-dir", winpath(data_dir)], timeout=60)
    assert rc == 0, out + err
    assert "lan self-test: PASS\n" in out.replace("\r\n", "\n")
    assert "[lan]" not in err
