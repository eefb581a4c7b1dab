"""Paths outside the ANSI code page (here 1252): a Greek and Japanese folder name in
every path the program takes, from the command line and from its own location."""
import json
import os
import shutil
import subprocess

from conftest import BIN, EXE, audit_entries, run_exe, wait_until, winpath

NAME = "Σορβάνε データ"
RECORDER = os.path.join(BIN, "update_recorder.exe")


def registers(relay):
    return relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=60)["hostId"]


def test_cacert_and_data_dir_in_such_a_folder(pki, tls_relay, processes, tmp_path):
    folder = tmp_path / NAME
    folder.mkdir()
    shutil.copyfile(pki.ca_pem, folder / "ca.pem")
    data = folder / "data"
    processes(["--relay", tls_relay.url, "--cacert", winpath(folder / "ca.pem"), "--data-dir", winpath(data),
               "--no-update"])
    host_id = registers(tls_relay)
    assert (data / "host-id.txt").read_text() == host_id
    assert "password" in json.loads((data / "host-ui.json").read_text())
    wait_until(lambda: audit_entries(str(data), "relay"), 20, message="the audit log in the data folder")


def test_the_bundle_beside_a_program_in_such_a_folder(pki, tls_relay, processes, tmp_path, data_dir):
    program = tmp_path / NAME / "Sorvane"
    program.mkdir(parents=True)
    shutil.copyfile(EXE, program / "sorvane-host-win7.exe")
    shutil.copyfile(pki.ca_pem, program / "cacert.pem")
    processes(["--relay", tls_relay.url, "--data-dir", winpath(data_dir), "--no-update"],
              exe=str(program / "sorvane-host-win7.exe"))
    registers(tls_relay)


def test_an_update_applied_between_such_folders(tmp_path):
    install = tmp_path / NAME / "Program"
    data = tmp_path / NAME / "data"
    staging = data / "update-staging"
    install.mkdir(parents=True)
    staging.mkdir(parents=True)
    target = install / "host.exe"
    subprocess.run(["x86_64-w64-mingw32-strip", "-o", str(target), RECORDER], check=True)
    shutil.copyfile(target, staging / "host.exe")
    (staging / "new.txt").write_bytes(b"added")
    (staging / "_manifest.json").write_bytes(b"{}")
    rc, _, _ = run_exe(["--apply-update", "0", winpath(staging), winpath(target), "--tray", "--data-dir",
                        winpath(data)], timeout=120)
    assert rc == 0
    assert (install / "new.txt").read_bytes() == b"added"
    # The restarted program got its words and its folder whole.
    log = install / "recorder.log"
    wait_until(log.exists, 60, message="the restarted program")
    record = json.loads(log.read_text(encoding="utf-8").splitlines()[0])
    assert record["args"] == ["--tray", "--data-dir", winpath(data)]
    assert record["cwd"].lower() == winpath(install).lower()
