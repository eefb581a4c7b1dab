"""The build's check that the program imports only the KnownDLLs of Windows 7."""
import io
import os
import struct
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import import_check  # noqa: E402


def image(dlls, magic=0x20B):
    """A PE image whose one section, at 0x1000 in memory and 0x200 in the file, holds an
    import table naming `dlls`."""
    pe, optional_size = 0x40, 240
    optional = pe + 24
    directories = optional + (112 if magic == 0x20B else 96)
    names = b"".join(name.encode() + b"\0" for name in dlls)
    table = bytearray()
    name_rva = 0x1000 + 20 * (len(dlls) + 1)
    for name in dlls:
        table += struct.pack("<IIIII", 0, 0, 0, name_rva, 0)
        name_rva += len(name) + 1
    table += bytes(20)
    section = bytes(table) + names
    head = bytearray(0x200)
    head[:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, pe)
    head[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<HH", head, pe + 4, 0x8664, 1)
    struct.pack_into("<H", head, pe + 20, optional_size)
    struct.pack_into("<H", head, optional, magic)
    struct.pack_into("<II", head, directories + 8, 0x1000, len(table))
    struct.pack_into("<8sIIII", head, optional + optional_size, b".idata", len(section), 0x1000, len(section), 0x200)
    return bytes(head) + section


@pytest.mark.parametrize("content, refused", [
    (image(["KERNEL32.dll", "USER32.dll", "msvcrt.dll", "WS2_32.dll"]), []),
    # Not KnownDLLs: looked for beside the program first.
    (image(["KERNEL32.dll", "gdiplus.dll", "USER32.dll", "COMCTL32.dll"]), ["gdiplus.dll", "COMCTL32.dll"]),
    (image(["bcrypt.dll"], magic=0x10B), ["bcrypt.dll"]),
    # Nothing that cannot be read passes for clean.
    (b"#!/bin/sh\n", ["cannot read"]),
    (image(["KERNEL32.dll"])[:0x180], ["cannot read"]),
])
def test_only_known_dlls_pass(tmp_path, content, refused):
    program = tmp_path / "program.exe"
    program.write_bytes(content)
    out = io.StringIO()
    assert import_check.check([str(program)], out=out) == len(refused)
    lines = out.getvalue().splitlines()
    assert len(lines) == len(refused)
    for line, what in zip(lines, refused):
        assert line.startswith(str(program) + ": ") and what in line, line
