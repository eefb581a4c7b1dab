"""Paths outside the ANSI code page (here 1252): a Greek and Japanese folder name in
every path the program takes, from the command line and from its own location (the
update paths are checked with the other update tests)."""
import json
import shutil

from conftest import EXE, audit_entries, wait_until, winpath

NAME = "Σορβάνε データ"


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
