"""The host as a Windows service under Wine's service control manager: installed,
queried in the registry, started, stopped and removed for real."""
import getpass
import os
import re
import shutil
import subprocess

import pytest

from conftest import BIN, EXE, WinProcess, audit_entries, run_exe, wait_until, wine_prefix, winpath

KEY = r"HKLM\System\CurrentControlSet\Services\SorvaneHost"
REGISTRAR = os.path.join(BIN, "service_registrar.exe")


def same_text(actual, expected):
    return actual.replace("\r\n", "\n") == expected


def reg_values(key):
    rc, out, _ = run_exe(["query", key], exe="reg")
    assert rc == 0, out
    values = {}
    for line in out.replace("\r", "").splitlines():
        m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
        if m:
            values[m.group(1)] = (m.group(2), m.group(3))
    return values


def service_state():
    _, out, _ = run_exe(["query", "SorvaneHost"], exe="sc")
    m = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
    return m.group(1) if m else out


def program_data_dirs():
    # Wine gives services PROGRAMDATA=C:\users\Public, a desktop program C:\ProgramData.
    return [os.path.join(wine_prefix(), "drive_c", *parts, "Sorvane")
            for parts in (("ProgramData",), ("users", "Public"))]


def moved_aside(home):
    """The folders a service start moved aside from `home`, oldest first."""
    parent = os.path.dirname(home)
    return sorted(n for n in os.listdir(parent) if n.startswith(os.path.basename(home) + ".moved-"))


def remove_moved_aside():
    # Wine keeps no lists, so every service start moves aside the folder an earlier one made.
    for home in program_data_dirs():
        for name in moved_aside(home):
            shutil.rmtree(os.path.join(os.path.dirname(home), name))


def restart_wine():
    """Ends every Wine process of the prefix: the service manager reads its services'
    settings from the registry only when it starts, and starts automatic services then."""
    env = dict(os.environ, WINEPREFIX=wine_prefix())
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def boot_wine():
    """Starts Wine afresh and keeps it up with a still window: Wine ends its services
    (without any stop request) once no other program runs. Returns once the service
    manager answers."""
    restart_wine()
    keeper = WinProcess(os.path.join(BIN, "screen_painter.exe"), ["0", "0", "1", "1", "0"])
    wait_until(lambda: "SERVICE_NAME" in run_exe(["query", "PlugPlay"], exe="sc")[1], 90,
               message="the service manager")
    return keeper


def test_service_is_installed_started_at_boot_stopped_and_removed(relay):
    run_exe(["delete", KEY, "/f"], exe="reg")  # left by an interrupted earlier run
    keeper = boot_wine()
    try:
        # Wine reads every file as owned by this Unix user's account, which may rewrite
        # its list: the program is not installed from where it sits, and says what to do.
        rc, out, _ = run_exe(["--install-service"])
        assert rc == 1
        assert re.fullmatch(re.escape("install service: 3 (not installed: %s can be changed by " % winpath(BIN)) +
                            r"[^\\ ]+\\" + re.escape(getpass.getuser() + ", who owns it; copy the program into a "
                                                     "folder only administrators can change, such as Program Files, "
                                                     "and install it from there)") + r"\r?\n", out), out
        rc, out, _ = run_exe(["query", KEY], exe="reg")
        assert rc != 0
        # Registered as the install does, past that check.
        assert run_exe([winpath(EXE)], exe=REGISTRAR)[0] == 0
        assert run_exe([winpath(EXE)], exe=REGISTRAR)[0] == 2  # installed already

        values = reg_values(KEY)
        image = values["ImagePath"][1]
        assert image == '"%s" --service' % winpath(EXE)
        assert values["DisplayName"][1] == "Sorvane Host"
        assert int(values["Type"][1], 16) == 0x10
        assert int(values["Start"][1], 16) == 2
        assert int(values["ErrorControl"][1], 16) == 1
        assert values["ObjectName"][1] == "LocalSystem"

        # The installed command line reaches the default relay; point it at the fake one,
        # then start Wine afresh: the automatic service starts with it.
        rc, out, _ = run_exe(["add", KEY, "/v", "ImagePath", "/t", values["ImagePath"][0], "/d",
                              image + " --relay " + relay.url + " --no-update", "/f"], exe="reg")
        assert rc == 0, out
        keeper.kill()
        keeper = boot_wine()
        conn = relay.wait_connection(0, timeout=90)
        msg = conn.wait_type("host-register", timeout=60)
        assert service_state() == "RUNNING"
        homes = [d for d in program_data_dirs() if os.path.isfile(os.path.join(d, "host-id.txt"))]
        assert len(homes) == 1
        with open(os.path.join(homes[0], "host-id.txt")) as f:
            assert f.read().strip() == msg["hostId"]

        rc, out, err = run_exe(["stop", "SorvaneHost"], exe="net", timeout=90)
        assert rc == 0, out + err
        wait_until(lambda: conn.closed, 30, message="the relay connection to close")
        wait_until(lambda: service_state() == "STOPPED", 30, message="STOPPED")
        assert relay.connection_count() == 1

        rc, out, _ = run_exe(["--uninstall-service"])
        assert rc == 0 and out.startswith("uninstall service: 0 (")
        # Nothing left to remove is a failure that says so.
        rc, out, _ = run_exe(["--uninstall-service"])
        assert rc == 1 and out.startswith("uninstall service: 2 (the service SorvaneHost is not installed")
        # Both asked for: the removal wins (and finds nothing to remove).
        rc, out, _ = run_exe(["--install-service", "--uninstall-service"])
        assert rc == 1 and out.startswith("uninstall service: 2 (")
        rc, out, _ = run_exe(["query", KEY], exe="reg")
        assert rc != 0
    finally:
        if service_state() == "RUNNING":
            run_exe(["stop", "SorvaneHost"], exe="net", timeout=90)
        run_exe(["--uninstall-service"])
        keeper.kill()
        remove_moved_aside()


@pytest.mark.parametrize("maker, why", [
    # This account (an administrator or a script): the owner passes, but the folder keeps
    # the list it inherited, under which any user may add files. Wine reads back a list
    # made from the Unix mode, never the service's own, so here it is always this case.
    (None, "had an access list the service did not give it"),
    # Another account (Wine reports a file of another Unix user as Anonymous Logon's):
    # its maker may still hold a handle that keeps the access he had.
    (65534, "was made by another account"),
])
def test_a_service_start_moves_aside_a_folder_it_did_not_make(relay, data_dir, maker, why):
    # The folder found is renamed whole beside it and never listed, changed or used; the
    # service makes a fresh one of its own (the walk of a folder the service made itself
    # is tested in the unit tests, behind its seam and with the real calls). Outside the
    # service manager the start then ends with 1, on the service's folder, not --data-dir.
    home = program_data_dirs()[0]
    parent = os.path.dirname(home)
    remove_moved_aside()
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(os.path.join(home, "update-runner"))
    planted = os.path.join(home, "host-ui.json")
    with open(planted, "w") as f:
        f.write('{"password":"known"}')
    # A second name stays on its file's volume: the file sits in the prefix too, as /tmp
    # may be a file system of its own.
    elsewhere = os.path.join(wine_prefix(), "drive_c", "elsewhere.txt")
    with open(elsewhere, "wb") as f:
        f.write(b"not the service's")
    os.link(elsewhere, os.path.join(home, "linked.txt"))
    if maker is not None:
        for path in (home, planted, os.path.join(home, "update-runner")):
            os.chown(path, maker, maker)
    try:
        rc, _, _ = run_exe(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update", "--service"])
        assert rc == 1
        assert relay.connection_count() == 0
        assert not os.listdir(data_dir)
        aside = moved_aside(home)
        assert len(aside) == 1 and re.fullmatch(r"Sorvane\.moved-\d{8}-\d{6}", aside[0])
        old = os.path.join(parent, aside[0])
        # Moved untouched: still its maker's, with what was put there.
        assert os.stat(old).st_uid == (os.getuid() if maker is None else maker)
        assert sorted(os.listdir(old)) == ["host-ui.json", "linked.txt", "update-runner"]
        with open(os.path.join(old, "host-ui.json")) as f:
            assert f.read() == '{"password":"known"}'
        with open(elsewhere, "rb") as f:
            assert f.read() == b"not the service's"
        # The service's files land in a fresh folder that nobody else ever had.
        assert os.stat(home).st_uid == os.getuid()
        assert not {"host-ui.json", "linked.txt", "update-runner"} & set(os.listdir(home))
        assert os.listdir(os.path.join(home, "received")) == []
        assert audit_entries(home, "service") == [
            ("service", "", "service data folder: C:\\ProgramData\\Sorvane " + why + "; moved aside to "
                            "C:\\ProgramData\\" + aside[0])]
    finally:
        remove_moved_aside()
        if os.path.exists(elsewhere):
            os.unlink(elsewhere)


@pytest.mark.parametrize("case, code", [
    # Any program that holds the single-instance name: here the console host.
    ("another instance", 1),
    # A file where the data folder should be: it is neither used nor moved.
    ("data folder", 2),
    # A relay address that can never work.
    ("settings", 3),
])
def test_a_service_start_that_cannot_run_stops_with_its_own_code(relay, processes, data_dir, case, code):
    # Without a status the manager waits, then ends the start with "Service request
    # timeout", which names no reason (1077: never started); the service reports STOPPED
    # with ERROR_SERVICE_SPECIFIC_ERROR and a code of ours, and the first host runs on.
    run_exe(["delete", KEY, "/f"], exe="reg")
    blocker = program_data_dirs()[1]  # where Wine's service manager points PROGRAMDATA
    keeper = boot_wine()
    try:
        relay_url = "http://relay" if case == "settings" else relay.url
        assert run_exe([winpath(EXE), "--relay", relay_url, "--no-update"], exe=REGISTRAR)[0] == 0
        first = None
        if case == "another instance":
            first = processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
            relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)
        elif case == "data folder":
            shutil.rmtree(blocker, ignore_errors=True)
            with open(blocker, "w") as f:
                f.write("not a folder")
        # Wine's "net start" calls a start that stops at once a time-out, or a success when
        # it saw the start begin (Windows gives the service's code: "A service specific
        # error occurred"); what the manager keeps is the status.
        run_exe(["start", "SorvaneHost"], exe="net", timeout=120)
        stopped = re.compile(r"STATE\s*:\s*1\s+STOPPED.*WIN32_EXIT_CODE\s*:\s*1066\b.*SERVICE_EXIT_CODE\s*:\s*%d\b"
                             % code, re.S)
        wait_until(lambda: stopped.search(run_exe(["query", "SorvaneHost"], exe="sc")[1]), 60,
                   message="STOPPED with 1066 and %d" % code)
        assert relay.connection_count() == (1 if first else 0)
        assert first is None or first.running()
        if first:
            # Outside the manager the line that the event log gets (Wine's keeps nothing
            # to read back) goes to stderr, and there is no hand-off to a window.
            rc, _, err = run_exe(["--relay", relay.url, "--no-update", "--service"])
            assert rc == 0
            assert "another program holds Global\\SorvaneHostWin7" in err
            assert "the service does not start: end that program, then start the service again" in err
    finally:
        if os.path.isfile(blocker):
            os.unlink(blocker)
        if service_state() == "RUNNING":
            run_exe(["stop", "SorvaneHost"], exe="net", timeout=90)
        run_exe(["--uninstall-service"])
        keeper.kill()
        remove_moved_aside()
