"""The host as a Windows service under Wine's service control manager: installed,
queried in the registry, started, stopped and removed for real."""
import os
import re
import shutil
import subprocess

from conftest import BIN, EXE, WinProcess, audit_entries, run_exe, wait_until, wine_prefix, winpath

KEY = r"HKLM\System\CurrentControlSet\Services\SorvaneHost"


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
        rc, out, _ = run_exe(["--install-service"])
        assert rc == 0 and out.startswith("install service: 0 (")
        rc, out, _ = run_exe(["--install-service"])
        assert rc == 1 and out.startswith("install service: 2 (") and "--uninstall-service" in out

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


def test_service_mode_outside_the_service_manager_ends_with_1(relay, data_dir):
    # Made first by the service's own account (under Wine: this Unix user), the folder
    # is taken over in place; anyone may have planted in it: a second name of some file,
    # and files of their own. Wine reports a file of another Unix user as owned by
    # Anonymous Logon, and every file of this one as the account the host runs as.
    home = program_data_dirs()[0]
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(os.path.join(home, "received"))
    # A second name stays on its file's volume: the file sits in the prefix too, as /tmp
    # may be a file system of its own.
    elsewhere = os.path.join(wine_prefix(), "drive_c", "elsewhere.txt")
    with open(elsewhere, "wb") as f:
        f.write(b"not the service's")
    planted = os.path.join(home, "planted.txt")
    os.link(elsewhere, planted)
    foreign = [os.path.join(home, "host-ui.json"), os.path.join(home, "received", "x.txt"),
               os.path.join(home, "received")]
    for path in foreign:
        if not os.path.isdir(path):
            with open(path, "w") as f:
                f.write('{"password":"known"}')
        os.chown(path, 65534, 65534)
    kept = os.path.join(home, "device.json")
    with open(kept, "w") as f:
        f.write("{}")
    rc, _, _ = run_exe(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update", "--service"])
    assert rc == 1
    assert relay.connection_count() == 0
    # The Host was built on the service's own folder, not on the one given.
    assert not os.listdir(data_dir)
    assert os.path.isdir(home)
    # Taken over before use: the planted name is gone, the file it named untouched;
    # what another account wrote is gone, what ours wrote is kept; the uploads folder
    # is the service's own, made afresh.
    assert not os.path.lexists(planted)
    with open(elsewhere, "rb") as f:
        assert f.read() == b"not the service's"
    os.unlink(elsewhere)
    assert not any(os.path.lexists(path) for path in foreign[:2])
    assert os.listdir(foreign[2]) == [] and os.stat(foreign[2]).st_uid == os.getuid()
    with open(kept) as f:
        assert f.read() == "{}"
    assert audit_entries(home, "service") == [
        ("service", "", "service data folder: 4 entries not written by the service removed")]


def test_a_service_folder_made_by_another_account_is_moved_aside(relay):
    # Its maker may still hold a handle that keeps the access he had: the folder is
    # renamed whole beside it and never used; the service makes a fresh one of its own.
    home = program_data_dirs()[0]
    parent = os.path.dirname(home)

    def moved_aside():
        return sorted(n for n in os.listdir(parent) if n.startswith("Sorvane.moved-"))

    for name in moved_aside():
        shutil.rmtree(os.path.join(parent, name))
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(os.path.join(home, "update-runner"))
    planted = os.path.join(home, "host-ui.json")
    with open(planted, "w") as f:
        f.write('{"password":"known"}')
    for path in (home, planted, os.path.join(home, "update-runner")):
        os.chown(path, 65534, 65534)
    try:
        rc, _, _ = run_exe(["--relay", relay.url, "--no-update", "--service"])
        assert rc == 1
        aside = moved_aside()
        assert len(aside) == 1 and re.fullmatch(r"Sorvane\.moved-\d{8}-\d{6}", aside[0])
        old = os.path.join(parent, aside[0])
        # Moved untouched: still its maker's, with what he put there.
        assert os.stat(old).st_uid == 65534
        assert sorted(os.listdir(old)) == ["host-ui.json", "update-runner"]
        with open(os.path.join(old, "host-ui.json")) as f:
            assert f.read() == '{"password":"known"}'
        # The service's files land in a fresh folder that nobody else ever had.
        assert os.stat(home).st_uid == os.getuid()
        assert "host-ui.json" not in os.listdir(home) and "update-runner" not in os.listdir(home)
        assert os.listdir(os.path.join(home, "received")) == []
        assert audit_entries(home, "service") == [
            ("service", "", "service data folder: C:\\ProgramData\\Sorvane was made by another account; "
                            "moved aside to C:\\ProgramData\\" + aside[0])]
    finally:
        for name in moved_aside():
            shutil.rmtree(os.path.join(parent, name))
