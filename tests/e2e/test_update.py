"""Self-update end to end: packages built and signed here, served over HTTPS, checked and
staged by the host, applied by its second process, and the update thread's log lines.

The host that talks to the update API is the update-test build of the program: it takes
its update endpoint and signing key from its environment, where this module puts its own
server and key pair (the release build has no such seam)."""
import base64
import hashlib
import io
import json
import os
import pathlib
import re
import shutil
import subprocess
import zipfile

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec

from conftest import BIN, FakeHttpsServer, audit_entries, http_response, run_exe, wait_until, winpath

UPDATE_EXE = os.path.join(BIN, "update-test", "sorvane-host-win7.exe")
RECORDER = os.path.join(BIN, "update_recorder.exe")
CHECK = "/api/update/check"
DEAD_RELAY = "ws://127.0.0.1:9/"


def public_key_base64(key):
    der = key.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    return base64.b64encode(der).decode()


class UpdateServer:
    def __init__(self, server, key, ca_pem):
        self.server = server
        self.key = key
        self.ca = winpath(ca_pem)

    def package(self, files, key=None, manifest=None, extra=()):
        """A ZIP as the release tooling makes it: files listed with their SHA-256 in the
        manifest (unless `manifest` is given), the manifest signed with `key`."""
        if manifest is None:
            manifest = {name.replace("\\", "/"): hashlib.sha256(data).hexdigest() for name, data in files}
        text = json.dumps(manifest, separators=(",", ":")).encode()
        signature = (key or self.key).sign(text, ec.ECDSA(hashes.SHA256()))
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("_manifest.json", text)
            z.writestr("_manifest.sig", base64.b64encode(signature))
            for name, data in list(files) + list(extra):
                z.writestr(name, data)
        return buf.getvalue()

    def offer(self, package, version="1.2.0", checksum=None, url="/pkg/update.zip"):
        answer = {"hasUpdate": True, "version": version, "changelog": "fixes", "mandatory": False,
                  "checksum": checksum or hashlib.sha256(package).hexdigest(), "downloadUrl": url}
        self.server.route(CHECK, http_response(200, json.dumps(answer), {"Content-Type": "application/json"}))
        self.server.route(url.split("?")[0] if url.startswith("/") else "/" + url.split("/", 3)[3],
                          http_response(200, package))
        return answer


@pytest.fixture(scope="module")
def update_api(pki):
    """The HTTPS update API, and the update-test build's environment naming it and its key
    for every program this module starts."""
    key = ec.generate_private_key(ec.SECP256R1())
    server = FakeHttpsServer(pki.server_context())
    settings = {"SV_TEST_UPDATE_API_BASE": f"https://localhost:{server.port}",
                "SV_TEST_UPDATE_SIGNING_KEY": public_key_base64(key)}
    before = {name: os.environ.get(name) for name in settings}
    os.environ.update(settings)
    try:
        yield UpdateServer(server, key, pki.ca_pem)
    finally:
        server.close()
        for name, value in before.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


@pytest.fixture
def api(update_api):
    with update_api.server.lock:
        update_api.server.routes.clear()
        update_api.server.requests.clear()
    return update_api


def stripped_recorder(path):
    """A small copy of the recorder program (the debug information makes it large)."""
    subprocess.run(["x86_64-w64-mingw32-strip", "-o", path, RECORDER], check=True)
    with open(path, "rb") as f:
        return f.read()


def recorded(folder, count=1):
    log = os.path.join(folder, "recorder.log")

    def lines():
        try:
            with open(log, "rb") as f:
                got = [json.loads(line) for line in f.read().decode("utf-8").splitlines()]
        except (OSError, ValueError):
            return None
        return got if len(got) >= count else None
    return wait_until(lines, 60, message="the recorder's line")


def out_lines(text):
    return text.replace("\r\n", "\n").splitlines()


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ---------------------------------------------------------------- --check-update

FILES = [("sorvane-host-win7.exe", b"MZ new host"), ("lib\\data.txt", b"data v2"), ("notes/readme.txt", b"")]


def check_update(api, data_dir):
    return run_exe(["--check-update", "--cacert", api.ca, "--data-dir", winpath(data_dir)], exe=UPDATE_EXE,
                   timeout=120)


def test_check_update_stages_a_signed_package(api, data_dir):
    package = api.package(FILES)
    answer = api.offer(package)
    rc, out, err = check_update(api, data_dir)
    assert rc == 0, err
    assert out_lines(out) == ["hasUpdate: true", "version: 1.2.0", "checksum: " + answer["checksum"],
                              "url: /pkg/update.zip", "download+stage+verify: PASS"]
    assert api.server.requests[0].path == CHECK + "?product=sorvane-host-win7&version=1.1.6&os=win"
    staging = os.path.join(data_dir, "update-staging")
    assert read(os.path.join(staging, "sorvane-host-win7.exe")) == b"MZ new host"
    assert read(os.path.join(staging, "lib", "data.txt")) == b"data v2"
    assert read(os.path.join(staging, "notes", "readme.txt")) == b""
    # The manifest and its signature stay with the files: the installer checks them again.
    assert sorted(os.listdir(staging)) == ["_manifest.json", "_manifest.sig", "lib", "notes", "sorvane-host-win7.exe"]


def test_check_update_follows_an_absolute_download_url(api, data_dir):
    package = api.package(FILES)
    api.offer(package, url=f"https://localhost:{api.server.port}/cdn/p.zip")
    rc, out, _ = check_update(api, data_dir)
    assert rc == 0
    assert out_lines(out)[-1] == "download+stage+verify: PASS"
    assert [r.path for r in api.server.requests][1] == "/cdn/p.zip"


@pytest.mark.parametrize("case", ["no route", "untrusted"])
def test_check_update_says_why_there_is_no_answer(api, data_dir, tmp_path, case):
    """The cause the client knows, never a list of guesses, and never "check the address":
    the update endpoint is built in."""
    cacert = api.ca
    if case == "untrusted":
        from conftest import make_ca
        cacert = winpath(make_ca(str(tmp_path), name="Other CA")[0])
    rc, out, err = run_exe(["--check-update", "--cacert", cacert, "--data-dir", winpath(data_dir)], exe=UPDATE_EXE,
                           timeout=120)
    assert rc == 1, err
    lines = out_lines(out)
    assert len(lines) == 1, (rc, out, err)
    if case == "no route":
        assert lines[0] == "update check failed: the update server answered HTTP 404; nothing was changed, try again later"
    else:
        assert lines[0].startswith(f"update check failed (no response): localhost:{api.server.port}: the certificate's "
                                   f"issuer is not trusted by the CA file {cacert} (give the file of the CA that issued "
                                   "it with --cacert); nothing was changed"), lines[0]
    assert "check the address" not in lines[0]


def test_check_update_when_up_to_date(api, data_dir):
    api.server.route(CHECK, http_response(200, '{"hasUpdate":false}'))
    rc, out, _ = check_update(api, data_dir)
    assert rc == 0
    assert out_lines(out) == ["hasUpdate: false"]
    assert not os.path.exists(os.path.join(data_dir, "update-staging"))


def other_key_package(api):
    return api.package(FILES, key=ec.generate_private_key(ec.SECP256R1()))


REFUSALS = {
    "checksum in upper case": lambda api: (api.package(FILES), "upper", "download+checksum: FAIL"),
    "package cut short": lambda api: (api.package(FILES)[:-40], None, "download+stage+verify: FAIL"),
    "signed with another key": lambda api: (other_key_package(api), None, "download+stage+verify: FAIL"),
    "name leaving the staging folder": lambda api: (api.package(FILES + [("..\\..\\escaped.txt", b"x")]), None,
                                                    "download+stage+verify: FAIL"),
}


@pytest.mark.parametrize("case", list(REFUSALS))
def test_check_update_refuses(api, data_dir, case):
    package, checksum, verdict = REFUSALS[case](api)
    if checksum == "upper":
        checksum = hashlib.sha256(package).hexdigest().upper()
    api.offer(package, checksum=checksum)
    rc, out, _ = check_update(api, data_dir)
    assert rc == 1
    assert out_lines(out)[-1].startswith(verdict + " (")
    assert not os.path.exists(os.path.join(data_dir, "update-staging"))
    assert not os.path.exists(os.path.join(os.path.dirname(data_dir), "escaped.txt"))


def test_self_test_update_passes(data_dir):
    rc, out, _ = run_exe(["--self-test-update", "--data-dir", winpath(data_dir)], timeout=60)
    assert rc == 0
    assert out_lines(out) == ["update self-test: PASS"]


# ---------------------------------------------------------------- --apply-update

def stage(api, staging, files):
    """A staging folder as the host leaves it: the files, the manifest and its signature."""
    package = zipfile.ZipFile(io.BytesIO(api.package(files)))
    for name in package.namelist():
        path = staging / name.replace("\\", "/")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(package.read(name))


@pytest.fixture
def installation(tmp_path, update_api):
    """An installed "program" (the recorder) and a staged update for it, signed with the
    key the update-test build trusts."""
    install = tmp_path / "Program Files" / "Sorvane"
    staging = tmp_path / "data" / "update-staging"
    install.mkdir(parents=True)
    target = install / "host.exe"
    recorder = stripped_recorder(str(target))
    (install / "lib").mkdir()
    (install / "lib" / "data.txt").write_bytes(b"data v1")
    stage(update_api, staging, [("host.exe", recorder), ("lib/data.txt", b"data v2"), ("new.txt", b"added")])
    return install, staging, target


HOST_ARGS = ["--tray", "--data-dir", "C:\\Users\\A B\\Sorvane", 'say "hi"', "", "back\\slash\\", "--lan", "0",
             "--enroll", "spent-token", "Reception PC"]


def apply_update(staging, target, args, parent="0"):
    return run_exe(["--apply-update", parent, winpath(staging), winpath(target)] + args, exe=UPDATE_EXE, timeout=120)


def installer_lines(staging):
    return [detail for _, _, detail in audit_entries(str(staging.parent), "update")]


def test_apply_update_copies_and_restarts_with_the_same_arguments(installation):
    install, staging, target = installation
    # Placed after the check: the installer takes only what the signed manifest names.
    (staging / "version.dll").write_bytes(b"MZ planted")
    rc, _, _ = apply_update(staging, target, HOST_ARGS)
    assert rc == 0
    assert read(install / "lib" / "data.txt") == b"data v2"
    assert read(install / "new.txt") == b"added"
    assert not (install / "version.dll").exists()
    assert not (install / "_manifest.json").exists()
    assert installer_lines(staging) == ["[update] installer copied 3 files into " + winpath(install),
                                        "[update] installer exit code 0"]
    [record] = recorded(str(install))
    # The enrolment already happened; its spent token is not handed on.
    assert record["args"] == HOST_ARGS[:-3]
    assert record["cwd"].lower() == winpath(install).lower()
    assert not [n for n in os.listdir(install) if ".sv-update" in n]


def test_apply_update_between_folders_named_outside_the_code_page(tmp_path, update_api):
    # Greek and Japanese: outside the ANSI code page (1252 here) in every path it is given.
    install = tmp_path / "Σορβάνε データ" / "Program"
    data = tmp_path / "Σορβάνε データ" / "data"
    staging = data / "update-staging"
    install.mkdir(parents=True)
    staging.mkdir(parents=True)
    target = install / "host.exe"
    stage(update_api, staging, [("host.exe", stripped_recorder(str(target))), ("new.txt", b"added")])
    rc, _, _ = apply_update(staging, target, ["--tray", "--data-dir", winpath(data)])
    assert rc == 0
    assert read(install / "new.txt") == b"added"
    # The restarted program got its words and its folder whole.
    [record] = recorded(str(install))
    assert record["args"] == ["--tray", "--data-dir", winpath(data)]
    assert record["cwd"].lower() == winpath(install).lower()


def test_apply_update_with_a_locked_file_leaves_the_installation_whole(installation, processes):
    install, staging, target = installation
    holder = processes(["--hold", winpath(install / "lib" / "data.txt")], exe=RECORDER)
    wait_until(lambda: "held" in holder.stdout(), 30, message="the file lock")
    rc, _, _ = apply_update(staging, target, ["--tray"])
    assert rc == 4
    assert read(install / "lib" / "data.txt") == b"data v1"
    assert not (install / "new.txt").exists()
    assert not [n for n in os.listdir(install) if ".sv-update" in n]
    # The program still runs again, as it was.
    assert recorded(str(install))[0]["args"] == ["--tray"]
    assert installer_lines(staging) == [
        "[update] installer rolled back: " + winpath(install / "lib" / "data.txt") + " stayed locked",
        "[update] installer exit code 4"]


def test_a_put_back_that_fails_is_reported_as_mixed_and_the_next_start_restores(api, processes, data_dir,
                                                                                 tmp_path):
    """lib/data.txt stays locked, so the swap of a.txt is to be undone; but the new a.txt
    is held too from the moment it is in place. The installer says the installation is
    mixed, and the host's next start from that folder puts the old a.txt back."""
    install = tmp_path / "Program Files" / "Sorvane"
    staging = pathlib.Path(data_dir) / "update-staging"
    (install / "lib").mkdir(parents=True)
    target = install / "sorvane-host-win7.exe"
    shutil.copyfile(UPDATE_EXE, target)
    (install / "a.txt").write_bytes(b"a v1")
    (install / "lib" / "data.txt").write_bytes(b"data v1")
    stage(api, staging, [("a.txt", b"a v2"), ("lib/data.txt", b"data v2")])
    release = tmp_path / "release"
    data_holder = processes(["--hold-between", winpath(install / "lib" / "data.txt"),
                             winpath(install / "lib" / "data.txt"), winpath(release)], exe=RECORDER)
    a_holder = processes(["--hold-between", winpath(install / "a.txt.sv-update-old"), winpath(install / "a.txt"),
                          winpath(release)], exe=RECORDER)
    wait_until(lambda: "held" in data_holder.stdout(), 30, message="the lock on lib/data.txt")
    # No service is installed in the test prefix: nothing is restarted by the installer.
    rc, _, _ = apply_update(staging, target, ["--service"])
    assert "held" in a_holder.stdout()
    assert rc == 5
    assert installer_lines(staging) == [
        "[update] installer left mixed: " + winpath(install / "a.txt") + " (" +
        winpath(install / "lib" / "data.txt") + " stayed locked)",
        "[update] installer exit code 5, the host was not restarted"]
    assert read(install / "a.txt") == b"a v2"
    assert read(install / "a.txt.sv-update-old") == b"a v1"
    assert (install / ".sv-update-journal").exists()

    release.write_bytes(b"")
    for holder in (data_holder, a_holder):
        assert holder.wait(timeout=60) == 0
    host = start_host(processes, api, data_dir, exe=str(target))
    put_back = ("update", "", "[update] earlier installation put back: 2 files in " + winpath(install))
    wait_until(lambda: put_back in audit_entries(data_dir, "update"), 60, message="the restore's audit line")
    assert read(install / "a.txt") == b"a v1"
    assert read(install / "lib" / "data.txt") == b"data v1"
    assert not [n for n in os.listdir(install) if ".sv-update" in n]


def test_apply_update_refuses_a_changed_staged_file(installation):
    install, staging, target = installation
    (staging / "lib" / "data.txt").write_bytes(b"data v2, changed after the check")
    rc, _, _ = apply_update(staging, target, ["--tray"])
    assert rc == 4
    assert read(install / "lib" / "data.txt") == b"data v1"
    assert not (install / "new.txt").exists()
    assert installer_lines(staging)[0] == "[update] installer copied nothing: staged file changed: lib/data.txt"


def test_apply_update_as_service_restarts_through_the_service_manager(installation):
    install, staging, target = installation
    # No "SorvaneHost" service is installed in the test prefix: the restart fails.
    rc, _, _ = apply_update(staging, target, ["--service"])
    assert rc == 2
    assert read(install / "new.txt") == b"added"
    assert not (install / "recorder.log").exists()


def test_apply_update_needs_three_words(installation):
    install, staging, _ = installation
    rc, _, _ = run_exe(["--apply-update", "0", winpath(staging)], exe=UPDATE_EXE, timeout=60)
    assert rc == 3
    assert read(install / "lib" / "data.txt") == b"data v1"


# ---------------------------------------------------------------- the update thread

def start_host(processes, api, data_dir, exe=UPDATE_EXE, extra=()):
    return processes(["--relay", DEAD_RELAY, "--cacert", api.ca, "--data-dir", winpath(data_dir)] + list(extra),
                     exe=exe)


def wait_update_line(host, data_dir, line):
    """`line` on the console and in the audit log, as the whole line or its beginning."""
    wait_until(lambda: any(l.startswith(line) for l in out_lines(host.stdout())), 60, message=line)
    wait_until(lambda: any(actor == "" and detail.startswith(line)
                           for _, actor, detail in audit_entries(data_dir, "update")), 10, message="audit " + line)


def test_update_thread_logs_a_failed_check(api, processes, data_dir):
    host = start_host(processes, api, data_dir)
    wait_update_line(host, data_dir, "[update] check failed (1.1.6): the update server answered HTTP 404; this version "
                                     "keeps running and checks again in 6 hours")


def test_update_thread_logs_up_to_date(api, processes, data_dir):
    api.server.route(CHECK, http_response(200, '{"version":"9.9.9"}'))
    host = start_host(processes, api, data_dir)
    wait_update_line(host, data_dir, "[update] up to date (1.1.6)")
    assert host.running()


@pytest.mark.parametrize("damage,line", [
    ("checksum", "[update] download/checksum failed for 1.3.0: the package does not match its checksum"),
    ("signature", "[update] signature/manifest verify failed for 1.3.0"),
])
def test_update_thread_logs_a_refused_package(api, processes, data_dir, damage, line):
    package = api.package(FILES) if damage == "checksum" else other_key_package(api)
    api.offer(package, version="1.3.0", checksum="0" * 64 if damage == "checksum" else None)
    host = start_host(processes, api, data_dir)
    wait_update_line(host, data_dir, "[update] 1.3.0 available, downloading")
    wait_update_line(host, data_dir, line)
    assert host.running()


def test_update_thread_stages_starts_the_installer_and_stops_the_host(api, processes, data_dir, tmp_path):
    # The "new version" is the recorder under the program's name: it records how the
    # installer is started instead of installing.
    new_program = stripped_recorder(str(tmp_path / "new.exe"))
    api.offer(api.package([("sorvane-host-win7.exe", new_program), ("extra.txt", b"v2")]))
    host = start_host(processes, api, data_dir, extra=["--lan", "0"])
    wait_update_line(host, data_dir, "[update] 1.2.0 available, downloading")
    wait_update_line(host, data_dir, "[update] 1.2.0 staged and verified, applying")
    staging = os.path.join(data_dir, "update-staging")
    # The installer runs from a folder of its own that holds nothing but itself.
    runner = os.path.join(data_dir, "update-runner")
    [record] = recorded(runner)
    assert sorted(os.listdir(runner)) == ["recorder.log", "sorvane-host-win7.exe"]
    assert record["cwd"].lower() == winpath(runner).lower()
    args = record["args"]
    assert args[0] == "--apply-update"
    assert re.fullmatch(r"[0-9]+", args[1])
    assert args[2].lower() == winpath(staging).lower()
    assert args[3].lower() == winpath(UPDATE_EXE).lower()
    assert args[4:] == ["--relay", DEAD_RELAY, "--cacert", api.ca, "--data-dir", winpath(data_dir), "--lan", "0"]
    assert read(os.path.join(staging, "extra.txt")) == b"v2"
    # The host stops so that the installer can replace it.
    host.wait(timeout=60)


def test_stale_update_staging_is_removed(api, processes, data_dir):
    for folder in ("update-staging", "update-runner"):
        os.makedirs(os.path.join(data_dir, folder, "sub"))
        with open(os.path.join(data_dir, folder, "sub", "old.exe"), "wb") as f:
            f.write(b"MZ")
    host = start_host(processes, api, data_dir)
    wait_until(lambda: not {"update-staging", "update-runner"} & set(os.listdir(data_dir)), 30,
               message="staging removal")
    wait_update_line(host, data_dir, "[update] check failed (1.1.6): ")


def test_update_thread_leaves_the_host_running_when_its_folder_cannot_be_written(api, processes, data_dir, tmp_path):
    """A host whose folder it may not write (a tray host under Program Files): the
    update is neither downloaded nor applied, and the host stays up."""
    folder = tmp_path / "Program Files"
    folder.mkdir()
    exe = folder / "sorvane-host-win7.exe"
    shutil.copyfile(UPDATE_EXE, exe)
    # The tests run as root, whom file modes do not stop: the folder is made immutable.
    if subprocess.run(["chattr", "+i", str(folder)], stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("chattr +i is not available here")
    try:
        api.offer(api.package(FILES))
        host = start_host(processes, api, data_dir, exe=str(exe))
        wait_update_line(host, data_dir,
                         "[update] 1.2.0 available, but " + winpath(folder) + " cannot be written: not installed")
        assert host.running()
        assert [r.path.split("?")[0] for r in api.server.requests] == [CHECK]
        assert not os.path.exists(os.path.join(data_dir, "update-staging"))
    finally:
        subprocess.run(["chattr", "-i", str(folder)])
