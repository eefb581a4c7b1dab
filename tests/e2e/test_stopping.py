"""Every way of stopping a running host ends it as the tray's exit does: a live training
session ends and its controller hears "host shutting down", the relay connection closes
with a close frame (1000), and one audit line says why the host stopped."""
import os
import signal
import time

import pytest

from conftest import BIN, EXE, Controller, InputProbe, audit_entries, run_exe, wait_until, wine_prefix, winpath

STOPPED = ": the host ends its session and closes its connections"


def host_process():
    """The pid of the host's Wine process in this test's prefix (Wine names a process after
    its program; other prefixes may run hosts of their own)."""
    prefix = ("WINEPREFIX=" + wine_prefix()).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                text = f.read()
            with open(f"/proc/{entry}/environ", "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        state = text[text.rindex(")") + 2:].split()[0]
        if name.startswith("sorvane-host-w") and state != "Z" and prefix in environment:
            found.append(int(entry))
    return found[0] if len(found) == 1 else None


def ctrl_c(_):
    # Wine hands a SIGINT to a program that has a console as Ctrl+C; started from cmd,
    # the host has cmd's.
    os.kill(wait_until(host_process, 30, message="the host's process"), signal.SIGINT)


def sign_out(_):
    # As Windows at a sign-out: WM_QUERYENDSESSION and WM_ENDSESSION to every top-level
    # window of the host, then the end of its process, whatever it is doing by then.
    rc, out, _ = run_exe(["SorvaneHostWin7.Stop", "1"], exe=os.path.join(BIN, "end_session.exe"))
    assert (rc, out.strip()) == (0, "ended")


CASES = {
    # name: (how the host is started, how it is stopped, the cause in its audit line)
    "ctrl-c in the console": (lambda args: ("cmd", ["/c", winpath(EXE)] + args), ctrl_c, "Ctrl+C in the console"),
    "signing out of the tray": (lambda args: (EXE, ["--tray"] + args), sign_out, "the user is signing out"),
}


@pytest.mark.parametrize("case", list(CASES))
def test_a_stop_from_outside_ends_the_session_and_closes_the_relay(case, relay, processes, data_dir):
    start, stop, cause = CASES[case]
    exe, args = start(["--data-dir", winpath(data_dir), "--relay", relay.url, "--no-update"])
    host = processes(args, exe=exe)
    conn = relay.wait_connection(0, timeout=60)
    conn.wait_type("host-register", timeout=60)
    session = Controller(conn).request("start", {"title": "berhenti"})
    assert session["ok"] is True, session

    stop(host)
    host.wait(timeout=60)
    assert not host.running()
    ended = conn.wait_message(lambda m: m.get("type") == "training-event" and m.get("kind") == "session-ended")
    assert ended["data"]["reason"] == "host shutting down"
    wait_until(lambda: conn.closed, 20, message="the relay connection closed")
    assert conn.close_code == 1000
    assert audit_entries(data_dir, "stop") == [("stop", "", cause + STOPPED)]
    session_id = session["data"]["sessionId"]
    assert ("training", "", f"end session={session_id} reason=host shutting down") in audit_entries(data_dir)



def test_an_exit_while_a_text_is_typed_takes_about_as_long_as_an_idle_one(relay, processes, data_dir):
    """The exit stops typing after the piece under way: it waits neither for the rest of a
    long text nor twice for the same piece. Exits of both kinds are measured in this run,
    in turn; the quickest while typing is held against the slowest idle one."""
    probe = InputProbe(processes)
    try:
        took = {False: [], True: []}
        for typing in (False, True, False, True):
            index = relay.connection_count()
            host = processes(["/c", winpath(EXE), "--data-dir", winpath(data_dir), "--relay", relay.url,
                              "--no-update"], exe="cmd")
            conn = relay.wait_connection(index, timeout=60)
            conn.wait_type("host-register", timeout=60)
            c = Controller(conn)
            assert c.request("start", {"title": "keluar"})["ok"] is True
            wait_until(lambda: c.request("status")["data"]["paused"] is False, 15, message="a quiet gate")
            if typing:
                before = probe.state()["text"]
                conn.send({"type": "training-request", "id": "long", "op": "input", "from": "ctl-1",
                           "args": {"kind": "text", "text": "abcdefghij" * 1600}})
                probe.wait(lambda s: len(s["text"]) > len(before) + 100, "the typing under way")
            began = time.monotonic()
            ctrl_c(host)
            host.wait(timeout=90)
            took[typing].append(time.monotonic() - began)
            wait_until(lambda: conn.closed, 20, message="the relay connection closed")
            assert conn.close_code == 1000
        assert min(took[True]) < 5 * max(took[False]), took
    finally:
        probe.cleanup()
