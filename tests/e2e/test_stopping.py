"""Every way of stopping a running host ends it as the tray's exit does: a live training
session ends and its controller hears "host shutting down", the relay connection closes
with a close frame (1000), and one audit line says why the host stopped."""
import os
import signal
import subprocess

import pytest

from conftest import EXE, WINE_RUN, Controller, audit_entries, wait_until, wine_prefix, winpath

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
    # What Windows does at a sign-out or shutdown: WM_QUERYENDSESSION and WM_ENDSESSION to
    # every top-level window, then the end of the process.
    subprocess.run(["bash", WINE_RUN, "wineboot", "--end-session"], check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


CASES = {
    # name: (how the host is started, how it is stopped, the cause in its audit line)
    "ctrl-c in the console": (lambda args: ("cmd", ["/c", winpath(EXE)] + args), ctrl_c, "Ctrl+C in the console"),
    "signing out of the tray": (lambda args: (EXE, ["--tray"] + args), sign_out, "Windows is shutting down"),
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
