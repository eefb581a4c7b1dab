"""The real executable starts under Wine and writes into its data directory."""
import os
import re
import shutil
import ssl

from conftest import BIN, EXE, wait_until, winpath


def test_executable_is_a_windows_gui_program():
    with open(EXE, "rb") as f:
        head = f.read(4096)
    assert head[:2] == b"MZ"
    pe = int.from_bytes(head[0x3C:0x40], "little")
    assert head[pe:pe + 4] == b"PE\0\0"
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    assert machine == 0x8664
    optional = pe + 24
    subsystem = int.from_bytes(head[optional + 68:optional + 70], "little")
    assert subsystem == 2  # IMAGE_SUBSYSTEM_WINDOWS_GUI
    assert os.path.isfile(os.path.join(os.path.dirname(EXE), "cacert.pem"))


def test_no_system_dll_is_taken_from_beside_the_program(relay, processes, data_dir, tmp_path):
    # None of these is a KnownDLL of Windows 7, so Windows looks for a bare name in the
    # program's folder first. Wine prefers its builtin DLLs; told to prefer native ones,
    # as Windows has no other kind, it searches the same way.
    folder = tmp_path / "Downloads"
    folder.mkdir()
    program = str(folder / "sorvane-host-win7.exe")
    shutil.copy(EXE, program)
    shutil.copy(os.path.join(BIN, "cacert.pem"), str(folder))
    names = ["gdiplus.dll", "bcrypt.dll", "winmm.dll", "comctl32.dll"]
    for name in names:
        shutil.copy(os.path.join(BIN, "planted_library.dll"), str(folder / name))
    overrides = "mscoree,mshtml=;" + ",".join(n[:-4] for n in names) + "=n,b"
    # GDI+ starts, and the password is drawn through BCrypt, before the registration.
    host = processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"], exe=program,
                     env={"WINEDLLOVERRIDES": overrides})
    wait_until(lambda: relay.connection_count() or not host.running(), 60, message="a connection or the end")
    # A planted DLL that was loaded left "<name>.loaded" beside itself.
    assert sorted(os.listdir(folder)) == sorted(names + ["cacert.pem", "sorvane-host-win7.exe"])
    relay.wait_connection(0, timeout=30).wait_type("host-register", timeout=30)


MOZILLA_CAS = "/usr/share/ca-certificates/mozilla"


def certificates(path):
    with open(path) as f:
        text = f.read()
    return [ssl.PEM_cert_to_DER_cert(pem) for pem in
            re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----", text, re.S)]


def test_the_trust_store_is_the_mozilla_set_alone_in_name_order():
    # Nothing the build machine added to its own store (a local proxy's CA) may ship.
    shipped = certificates(os.path.join(os.path.dirname(EXE), "cacert.pem"))
    mozilla = [der for name in sorted(os.listdir(MOZILLA_CAS)) if name.endswith(".crt")
               for der in certificates(os.path.join(MOZILLA_CAS, name))]
    count, expected = len(shipped), len(mozilla)
    assert expected > 100
    assert count == expected
    assert shipped == mozilla
