"""The real executable starts under Wine and writes into its data directory."""
import os

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
