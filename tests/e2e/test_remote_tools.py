"""The remote tools through the fake relay: commands, directory listings, downloads, log tails."""
import base64
import os

from conftest import BIN, audit_entries, wait_until, winpath

PROBE = winpath(os.path.join(BIN, "exec_probe.exe"))


def reply(conn, type_name, ident, timeout=30):
    return conn.wait_message(lambda m: m.get("type") == type_name and m.get("id") == ident, timeout)


def exec_result(conn, ident, command, timeout=30):
    conn.send({"type": "exec-request", "from": "ctl-1", "id": ident, "command": command})
    return reply(conn, "exec-result", ident, timeout)


def download(conn, path, ident, timeout=30):
    """Sends "fs-read" and gathers the transfer that answers it (or the error)."""
    start = len(conn.messages())
    conn.send({"type": "fs-read", "from": "ctl-1", "id": ident, "path": path})
    return start


def gather(conn, transfer_id, timeout=30):
    end = conn.wait_message(lambda m: m.get("type") == "file-end" and m.get("id") == transfer_id, timeout)
    assert end == {"type": "file-end", "id": transfer_id}
    chunks = [m for m in conn.messages() if isinstance(m, dict) and m.get("type") == "file-chunk"
              and m.get("id") == transfer_id]
    assert [c["seq"] for c in chunks] == list(range(len(chunks)))
    return chunks, b"".join(base64.b64decode(c["data"]) for c in chunks)


def test_exec_returns_output_and_exit_code(host, data_dir):
    r = exec_result(host, "e1", "echo hi")
    assert r == {"type": "exec-result", "id": "e1", "exitCode": 0, "stdout": "hi\r\n", "stderr": ""}
    r = exec_result(host, "e2", "exit 3")
    assert r["exitCode"] == 3
    r = exec_result(host, "e3", f'"{PROBE}" utf8')
    assert r["stdout"] == "Gr\u00fc\u00dfe \u4e2d\r\n"
    r = exec_result(host, "e4", f'"{PROBE}" bytes')
    assert r["stdout"].startswith("caf")
    assert audit_entries(data_dir, "exec")[0] == ("exec", "ctl-1", "echo hi")
    assert ("exec-result", "ctl-1", "exit=3 cmd=exit 3") in audit_entries(data_dir, "exec-result")


def test_exec_output_is_truncated_and_the_command_ended(host):
    r = exec_result(host, "t1", f'"{PROBE}" spew 300000')
    assert r["stdout"] == "x" * 262144 + "\n[output truncated]"
    assert r["exitCode"] == 1


# The command time-out ("[timed out]", exit -1, the tree ended) is tested on the command
# runner with a short limit: here it would cost a minute.


def test_requests_over_the_cap_are_refused_at_once(host, data_dir, tmp_path):
    for i in range(4):
        host.send({"type": "exec-request", "from": "ctl-1", "id": f"run{i}", "command": f'"{PROBE}" sleep 5000'})
    host.send({"type": "exec-request", "from": "ctl-1", "id": "over", "command": "echo hi"})
    host.send({"type": "fs-list", "from": "ctl-1", "id": "over-list", "path": winpath(str(tmp_path))})
    assert reply(host, "exec-result", "over", timeout=10) == {
        "type": "exec-result", "id": "over", "exitCode": -1, "stdout": "", "stderr": "too many requests"}
    assert reply(host, "fs-list-result", "over-list", timeout=10) == {
        "type": "fs-list-result", "id": "over-list", "path": winpath(str(tmp_path)), "entries": [],
        "error": "too many requests"}
    # Neither refusal waited for a running command.
    assert not [m for m in host.messages() if isinstance(m, dict) and m.get("type") == "exec-result"
                and m.get("id", "").startswith("run")]
    for i in range(4):
        assert reply(host, "exec-result", f"run{i}")["exitCode"] == 0
    # Each slot is free again by the time its reply arrives.
    assert exec_result(host, "after", "echo hi")["stdout"] == "hi\r\n"
    assert ("tool-refused", "ctl-1", "exec-request too many requests: echo hi") in audit_entries(data_dir,
                                                                                                 "tool-refused")


def test_fs_list_puts_directories_first(host, data_dir, tmp_path):
    (tmp_path / "b.txt").write_bytes(b"12345")
    (tmp_path / "Gr\u00fc\u00dfe.txt").write_bytes(b"xy")
    (tmp_path / "zdir").mkdir()
    (tmp_path / "\u4e2d\u6587").mkdir()
    host.send({"type": "fs-list", "from": "ctl-1", "id": "l1", "path": winpath(str(tmp_path))})
    r = reply(host, "fs-list-result", "l1")
    assert r["path"] == winpath(str(tmp_path))
    assert "error" not in r
    kinds = [e["isDir"] for e in r["entries"]]
    assert kinds == [True, True, False, False]
    by_name = {e["name"]: e for e in r["entries"]}
    assert set(by_name) == {"b.txt", "Gr\u00fc\u00dfe.txt", "zdir", "\u4e2d\u6587"}
    assert by_name["b.txt"]["size"] == 5 and by_name["zdir"]["size"] == 0
    assert len(by_name["b.txt"]["modified"]) == 16
    host.send({"type": "fs-list", "from": "ctl-1", "id": "l2", "path": winpath(str(tmp_path / "missing"))})
    r = reply(host, "fs-list-result", "l2")
    assert r["entries"] == [] and r["error"] == "directory not found"
    assert ("fs-list", "ctl-1", winpath(str(tmp_path))) in audit_entries(data_dir, "fs-list")


def test_fs_read_sends_a_multi_chunk_file_byte_exact(host, data_dir, tmp_path):
    data = os.urandom(150000)
    path = tmp_path / "daten-\u00fc.bin"
    path.write_bytes(data)
    download(host, winpath(str(path)), "r1")
    begin = host.wait_message(lambda m: m.get("type") == "file-begin")
    assert begin["name"] == "daten-\u00fc.bin" and begin["size"] == 150000
    chunks, joined = gather(host, begin["id"])
    assert [len(base64.b64decode(c["data"])) for c in chunks] == [65536, 65536, 18928]
    assert joined == data
    wait_until(lambda: audit_entries(data_dir, "fs-read-result"), 10, message="fs-read-result audit")
    assert audit_entries(data_dir, "fs-read-result")[0] == ("fs-read-result", "", "daten-\u00fc.bin bytes=150000")


def test_two_downloads_at_once_have_distinct_ids(host, tmp_path):
    a = os.urandom(300000)
    b = os.urandom(200000)
    (tmp_path / "a.bin").write_bytes(a)
    (tmp_path / "b.bin").write_bytes(b)
    download(host, winpath(str(tmp_path / "a.bin")), "ra")
    download(host, winpath(str(tmp_path / "b.bin")), "rb")
    wait_until(lambda: len([m for m in host.messages() if isinstance(m, dict) and m.get("type") == "file-begin"]) == 2,
               30, message="two file-begin messages")
    begins = {m["name"]: m for m in host.messages() if isinstance(m, dict) and m.get("type") == "file-begin"}
    assert begins["a.bin"]["id"] != begins["b.bin"]["id"]
    assert gather(host, begins["a.bin"]["id"])[1] == a
    assert gather(host, begins["b.bin"]["id"])[1] == b


def test_fs_read_errors_are_answered_as_log_results(host, tmp_path):
    download(host, winpath(str(tmp_path)), "dir")
    assert reply(host, "log-result", "dir") == {"type": "log-result", "id": "dir", "text": "",
                                                 "error": "file not found"}
    big = tmp_path / "big.bin"
    with open(big, "wb") as f:
        f.truncate(104857601)
    download(host, winpath(str(big)), "big")
    assert reply(host, "log-result", "big")["error"] == "file too large"


def test_log_tail_returns_the_last_lines(host, data_dir, tmp_path):
    log = tmp_path / "app.log"
    log.write_bytes(b"".join(b"line %d\r\n" % i for i in range(1, 201)) + b"\r\n\r\n")
    host.send({"type": "log-tail", "from": "ctl-1", "id": "t1", "path": winpath(str(log)), "lines": 3})
    assert reply(host, "log-result", "t1") == {"type": "log-result", "id": "t1",
                                               "text": "line 198\nline 199\nline 200"}
    host.send({"type": "log-tail", "from": "ctl-1", "id": "t2", "path": winpath(str(log))})
    text = reply(host, "log-result", "t2")["text"]
    assert text.split("\n") == ["line %d" % i for i in range(101, 201)]
    host.send({"type": "log-tail", "from": "ctl-1", "id": "t3", "path": winpath(str(log)), "lines": 0})
    assert reply(host, "log-result", "t3")["text"] == "line 200"
    host.send({"type": "log-tail", "from": "ctl-1", "id": "t4", "path": winpath(str(tmp_path / "nope.log"))})
    assert reply(host, "log-result", "t4")["error"] == "file not found"
    assert ("log-tail", "ctl-1", winpath(str(log)) + " lines=3") in audit_entries(data_dir, "log-tail")
