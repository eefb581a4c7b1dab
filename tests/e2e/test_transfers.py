"""Clipboard text and file uploads from a controller, through the fake relay into the real host."""
import base64
import os

from conftest import BIN, audit_entries, run_exe, wait_until

CLIPBOARD_PROBE = os.path.join(BIN, "clipboard_probe.exe")


def upload(conn, ident, name, data, sender="ctl-1", chunk=48 * 1024):
    conn.send({"type": "file-begin", "from": sender, "id": ident, "name": name, "size": len(data)})
    for off in range(0, len(data), chunk):
        conn.send({"type": "file-chunk", "from": sender, "id": ident,
                   "data": base64.b64encode(data[off:off + chunk]).decode()})
    conn.send({"type": "file-end", "from": sender, "id": ident})


def received(data_dir, name):
    with open(os.path.join(data_dir, "received", name), "rb") as f:
        return f.read()


def wait_audit(data_dir, kind, count=1, timeout=20):
    return wait_until(lambda: (lambda e: e if len(e) >= count else None)(audit_entries(data_dir, kind)),
                      timeout, message=f"{count} '{kind}' audit lines")


def clipboard_text():
    rc, out, _ = run_exe(["get"], exe=CLIPBOARD_PROBE, timeout=60)
    assert rc == 0
    out = out.strip()
    if not out.startswith("text "):
        return None
    return bytes.fromhex(out[5:]).decode("utf-8")


def test_clipboard_text_is_put_on_the_windows_clipboard(host, data_dir):
    text = "Sorvane \u2014 Gr\u00fc\u00dfe \u4e2d\u6587 \u2713\r\nzweite Zeile"
    host.send({"type": "clipboard", "from": "ctl-1", "text": text})
    entries = wait_audit(data_dir, "clipboard")
    assert entries[0] == ("clipboard", "ctl-1", f"remote->host len={len(text.encode())}")
    assert clipboard_text() == text


def test_clipboard_text_above_the_cap_is_only_audited(host, data_dir):
    host.send({"type": "clipboard", "from": "ctl-1", "text": "before"})
    wait_audit(data_dir, "clipboard")
    host.send({"type": "clipboard", "from": "ctl-2", "text": "x" * 1000001})
    skipped = wait_audit(data_dir, "clipboard-skip")
    assert skipped[0] == ("clipboard-skip", "ctl-2", "len=1000001")
    assert clipboard_text() == "before"


def test_clipboard_message_without_a_text_leaves_the_clipboard_alone(host, data_dir):
    host.send({"type": "clipboard", "from": "ctl-1", "text": "keep me"})
    wait_audit(data_dir, "clipboard")
    for bad in (42, None, ["a"], {"text": "a"}):
        host.send({"type": "clipboard", "from": "ctl-1", "text": bad})
    host.send({"type": "clipboard", "from": "ctl-1"})
    # Handled in order: the skip line marks that every message before it was dealt with.
    host.send({"type": "clipboard", "from": "ctl-1", "text": "y" * 1000001})
    wait_audit(data_dir, "clipboard-skip")
    assert len(audit_entries(data_dir, "clipboard")) == 1
    assert clipboard_text() == "keep me"


def test_upload_is_written_byte_exact_and_a_twin_gets_a_number(host, data_dir):
    data = os.urandom(200000)
    upload(host, "u1", "bericht.pdf", data)
    wait_audit(data_dir, "file-recv")
    twin = os.urandom(1000)
    upload(host, "u2", "bericht.pdf", twin)
    recv = wait_audit(data_dir, "file-recv", 2)
    assert received(data_dir, "bericht.pdf") == data
    assert received(data_dir, "bericht (1).pdf") == twin
    assert recv[0][1] == "ctl-1"
    assert recv[0][2].startswith("bericht.pdf bytes=200000 -> ")
    assert recv[0][2].endswith("\\received\\bericht.pdf")
    assert recv[1][2].endswith("\\received\\bericht (1).pdf")


def test_hostile_and_non_ascii_names_land_inside_received(host, data_dir):
    names = {
        "..\\..\\escape.txt": "escape.txt",
        "../../../x/../NUL": "_NUL",
        "C:\\Windows\\win.ini": "win.ini",
        "D:drive.txt": "drive.txt",
        "a<b>:c|d?.txt": "a_b__c_d_.txt",
        "com1.log": "_com1.log",
        "trailing. . ": "trailing",
        "..": "file",
        "Gr\u00fc\u00dfe \u4e2d\u6587.txt": "Gr\u00fc\u00dfe \u4e2d\u6587.txt",
    }
    for i, name in enumerate(names):
        upload(host, f"h{i}", name, f"payload {i}".encode())
    wait_audit(data_dir, "file-recv", len(names))
    on_disk = sorted(os.listdir(os.path.join(data_dir, "received")))
    assert on_disk == sorted(names.values())
    for i, name in enumerate(names):
        assert received(data_dir, names[name]) == f"payload {i}".encode()
    outside = [n for n in os.listdir(data_dir) if n != "received" and not n.startswith("audit-")
               and n not in ("host-id.txt", "host-ui.json")]
    assert outside == []
    assert not os.path.exists(os.path.join(os.path.dirname(data_dir), "escape.txt"))


def test_caps_and_bad_chunks_are_refused_with_an_error_to_the_controller(host, data_dir):
    host.send({"type": "file-begin", "from": "ctl-1", "id": "big", "name": "big.bin", "size": 104857601})
    host.send({"type": "file-begin", "from": "ctl-1", "id": "neg", "name": "neg.bin", "size": -1})
    host.send({"type": "file-begin", "from": "ctl-1", "id": "ok", "name": "ok.bin", "size": 104857600})
    host.send({"type": "file-chunk", "from": "ctl-1", "id": "ok", "data": "not*base64"})
    host.send({"type": "file-chunk", "from": "ctl-1", "id": "ok", "data": base64.b64encode(b"kept").decode()})
    host.send({"type": "file-end", "from": "ctl-1", "id": "ok"})
    errors = wait_audit(data_dir, "file-error", 3)
    assert errors == [("file-error", "ctl-1", "size cap"), ("file-error", "ctl-1", "size cap"),
                      ("file-error", "ctl-1", "bad base64")]
    # The audit line is written before the reply leaves: wait for all three replies.
    def file_errors():
        return [m for m in host.messages() if isinstance(m, dict) and m.get("type") == "file-error"]
    replies = wait_until(lambda: len(file_errors()) >= 3 and file_errors(), 15, message="three file-error replies")
    assert {(m["id"], m["error"]) for m in replies} == {("big", "size cap"), ("neg", "size cap"),
                                                        ("ok", "bad base64")}
    wait_audit(data_dir, "file-recv")
    assert received(data_dir, "ok.bin") == b"kept"
    assert not os.path.exists(os.path.join(data_dir, "received", "big.bin"))


def test_a_chunk_crossing_the_size_cap_drops_the_transfer(host, data_dir):
    host.send({"type": "file-begin", "from": "ctl-1", "id": "t", "name": "huge.bin", "size": 10})
    piece = base64.b64encode(b"\0" * (16 * 1024 * 1024)).decode()
    for _ in range(7):  # 112 MiB in all
        host.send({"type": "file-chunk", "from": "ctl-1", "id": "t", "data": piece})
    host.send({"type": "file-end", "from": "ctl-1", "id": "t"})
    errors = wait_audit(data_dir, "file-error", timeout=60)
    assert errors == [("file-error", "ctl-1", "transfer exceeds size cap")]
    host.wait_message(lambda m: m.get("type") == "file-error" and m.get("id") == "t", timeout=30)
    # The host is still serving: a later upload works.
    upload(host, "after", "after.txt", b"still here")
    wait_audit(data_dir, "file-recv", timeout=30)
    assert not os.path.exists(os.path.join(data_dir, "received", "huge.bin"))


def test_another_controller_cannot_finish_an_upload(host, data_dir):
    host.send({"type": "file-begin", "from": "alice", "id": "1", "name": "alice.txt", "size": 3})
    host.send({"type": "file-chunk", "from": "mallory", "id": "1", "data": base64.b64encode(b"bad").decode()})
    host.send({"type": "file-end", "from": "mallory", "id": "1"})
    host.send({"type": "file-chunk", "from": "alice", "id": "1", "data": base64.b64encode(b"abc").decode()})
    host.send({"type": "file-end", "from": "alice", "id": "1"})
    recv = wait_audit(data_dir, "file-recv")
    assert recv[0][1] == "alice"
    assert received(data_dir, "alice.txt") == b"abc"


def test_a_failed_write_is_reported_not_claimed(host, data_dir):
    with open(os.path.join(data_dir, "received"), "wb") as f:
        f.write(b"a file where the folder should be")
    upload(host, "w", "doc.txt", b"data")
    errors = wait_audit(data_dir, "file-error")
    assert errors[0] == ("file-error", "ctl-1", "cannot write file: doc.txt")
    reply = host.wait_type("file-error")
    assert reply == {"type": "file-error", "id": "w", "error": "cannot write file: doc.txt"}
    assert audit_entries(data_dir, "file-recv") == []


def test_the_number_of_transfers_in_progress_is_capped(host, data_dir):
    for i in range(17):
        host.send({"type": "file-begin", "from": "ctl-1", "id": f"p{i}", "name": f"p{i}.txt", "size": 1})
    reply = host.wait_type("file-error")
    assert reply == {"type": "file-error", "id": "p16", "error": "too many transfers"}
    assert wait_audit(data_dir, "file-error") == [("file-error", "ctl-1", "too many transfers")]
    # Finishing one makes room again.
    host.send({"type": "file-end", "from": "ctl-1", "id": "p0"})
    upload(host, "p16", "p16.txt", b"z")
    recv = wait_audit(data_dir, "file-recv", 2)
    assert sorted(os.listdir(os.path.join(data_dir, "received"))) == ["p0.txt", "p16.txt"]
    assert received(data_dir, "p16.txt") == b"z"
    assert len(recv) == 2
