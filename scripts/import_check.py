#!/usr/bin/env python3
"""Refuses an executable that imports a DLL which is not a KnownDLL of Windows 7 SP1.

For any other DLL the loader looks in the program's folder first, where whoever may write
there (Downloads, the Desktop, a folder under C:\\) can put a DLL of that name, which then
runs inside the host, as SYSTEM in the service. Such DLLs are delay-loaded from the system
folder instead (base/system_library.h, CMakeLists.txt). This reads the import table of
each executable given and names every other DLL; the build runs it after each link.

Usage: import_check.py <executable>...
"""
import struct
import sys

# HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs of Windows 7 SP1 x64,
# and ntdll.dll, which is mapped into every process before any import is resolved.
KNOWN_DLLS = frozenset(name.lower() for name in (
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "iertutil.dll", "imagehlp.dll",
    "imm32.dll", "kernel32.dll", "lpk.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "urlmon.dll", "user32.dll", "usp10.dll", "wininet.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll",
))


def imported_dlls(image):
    """The DLL names in a PE image's import table, in order. ValueError when it is no PE
    image or its table lies outside it."""
    def read(fmt, offset):
        if offset < 0 or offset + struct.calcsize(fmt) > len(image):
            raise ValueError("truncated at offset %d" % offset)
        return struct.unpack_from(fmt, image, offset)

    if image[:2] != b"MZ":
        raise ValueError("not an executable (no MZ header)")
    pe = read("<I", 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    sections, optional_size = read("<H", pe + 6)[0], read("<H", pe + 20)[0]
    optional = pe + 24
    magic = read("<H", optional)[0]
    directories = {0x10B: optional + 96, 0x20B: optional + 112}.get(magic)
    if directories is None:
        raise ValueError("unknown optional header 0x%x" % magic)
    table_rva = read("<I", directories + 8)[0]  # entry 1: the import table
    spans = [read("<8xIIII", optional + optional_size + 40 * i) for i in range(sections)]

    def offset_of(rva):
        for virtual_size, address, raw_size, raw in spans:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError("address 0x%x lies in no section" % rva)

    names = []
    entry = offset_of(table_rva) if table_rva else None
    while entry is not None:
        fields = read("<IIIII", entry)
        if not any(fields):
            break
        start = offset_of(fields[3])
        end = image.find(b"\0", start)
        if end < 0:
            raise ValueError("unterminated DLL name")
        names.append(image[start:end].decode("ascii", "replace"))
        entry += 20
    return names


def check(paths, out=sys.stdout):
    """Prints one line per import that is not a KnownDLL (or per file that cannot be
    read); returns how many there were."""
    failures = 0
    for path in paths:
        try:
            with open(path, "rb") as f:
                dlls = imported_dlls(f.read())
        except (OSError, ValueError) as error:
            print("%s: cannot read its import table: %s" % (path, error), file=out)
            failures += 1
            continue
        for dll in dlls:
            if dll.lower() not in KNOWN_DLLS:
                print("%s: imports %s, which is not a KnownDLL of Windows 7 and would be looked for beside the "
                      "program first: delay-load it (SV_DELAY_LOADED in CMakeLists.txt, kDelayLoadedLibraries in "
                      "base/system_library.h)" % (path, dll), file=out)
                failures += 1
    return failures


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(1 if check(sys.argv[1:]) else 0)
