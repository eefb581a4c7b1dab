"""The real executable starts under Wine and writes into its data directory."""
import os
import re
import ssl

from conftest import EXE


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
