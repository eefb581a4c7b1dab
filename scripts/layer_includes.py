#!/usr/bin/env python3
"""Checks the headers each unit of the layers was compiled with against the layers.

Each layer is a library whose include roots show it only the layers below it:
base < net; base < training < training/win32; net and training < session < app. The roots
alone do not hold: a quoted include is looked up beside the including file first, so
"win32/x.h" from training/ or "../app/x.h" from session/ reaches past them, and a ".."
after a root's link walks out of the folder it names (<net/../session/x.h>). Reading the
include lines cannot settle this: a comment, a doubled slash or a macro changes what they
look like, not what the compiler opens. So this check reads what the compiler opened: the
dependency file it wrote beside each unit's object (CMake has it write `<object>.d`), in
which every header is named as the compiler reached it and, through the links, names the
file it read. It refuses, for a header of ours:
  - one from a layer the unit's layer does not see;
  - one not reached through an include root (found beside the including file);
  - one reached by a path with an empty, "." or ".." step;
  - the Host (session/host.h) in a unit of a sub-folder of session/: those are the parts
    the Host is made of, so the Host depends on them and never the other way round (a
    part that reaches the Host through another header is refused too).
The build runs it once the layers and the programs are compiled.

Usage: layer_includes.py <source root> <build folder> <stamp file written on success>
"""
import os
import sys

import depfiles

SEES = {
    "base": {"base"},
    "net": {"base", "net"},
    "training": {"base", "training"},
    "training/win32": {"base", "training", "training/win32"},
    "session": {"base", "net", "training", "session"},
    "app": {"base", "net", "training", "training/win32", "session", "app"},
}
# Seen by every layer: the build's resources, and the Mbed TLS configuration that every
# layer's Mbed TLS headers include (its folder is an include root of its own).
SHARED = ("resources", "net/mbedtls")
# Ours, but never part of the program.
NOT_PRODUCT = ("tests", "fuzz", "bench")

REASONS = {
    "layer": "from a layer this unit's layer does not see",
    "root": "found beside the including file, not through an include root",
    "step": "an empty, . or .. step in its path",
    "host": "a part of the Host includes the Host",
    "product": "not a header of the program",
}


def _under(path, folder):
    return path == folder or path.startswith(folder + "/")


def layer_of(rel):
    """The layer of a path relative to the source root, or None."""
    if _under(rel, "training/win32"):
        return "training/win32"
    for shared in SHARED:
        if _under(rel, shared):
            return shared
    top = rel.split("/", 1)[0]
    return top if top in SEES or top in NOT_PRODUCT else None


def refusals(src, build, unit, headers):
    """(header as the compiler named it, reason) for each refused header of `unit`, a path
    relative to the source root; `headers` as the dependency file names them."""
    # The roots as the build names them, and as they are once links are followed.
    roots = {}
    for spell in (os.path.abspath, os.path.realpath):
        roots[os.path.join(spell(build), "layer-include")] = 1  # one folder per layer first
        roots[os.path.join(spell(src), "net", "mbedtls")] = 0
    src = os.path.realpath(src)
    layer = layer_of(unit)
    part_of_host = unit.startswith("session/") and unit.count("/") >= 2
    out = []
    for written in headers:
        real = os.path.realpath(written)
        if not _under(real, src):
            continue
        rel = os.path.relpath(real, src)
        if rel == unit:
            continue
        header_layer = layer_of(rel)
        if header_layer is None:
            continue  # the build's own files (dependencies kept inside the source tree)
        if header_layer in NOT_PRODUCT:
            out.append((written, "product"))
            continue
        if header_layer not in SHARED and header_layer not in SEES[layer]:
            out.append((written, "layer"))
        # The root a header was reached through; layer-include holds one folder per layer.
        root = next((r for r in roots if written.startswith(r + "/")), None)
        if root is None:
            out.append((written, "root"))
        else:
            steps = written[len(root) + 1:].split("/")[roots[root]:]
            if any(step in ("", ".", "..") for step in steps):
                out.append((written, "step"))
        if part_of_host and rel == "session/host.h":
            out.append((written, "host"))
    return out


def check(src, build):
    """(unit, header as the compiler named it, reason) for every refused header of every unit
    of the layers in the build's compile_commands.json; a unit whose dependency file is
    missing gives (unit, that file, "depfile")."""
    found = []
    for unit, entry in depfiles.units(build, src):
        if layer_of(unit) not in SEES:
            continue
        depfile = depfiles.of_entry(entry)
        try:
            headers = depfiles.read(depfile, entry["directory"])
        except (OSError, TypeError):
            found.append((unit, depfile, "depfile"))
            continue
        found += [(unit, written, reason) for written, reason in refusals(src, build, unit, headers)]
    # A unit compiled into two programs is one unit.
    return list(dict.fromkeys(found))


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    src, build, stamp = argv
    found = check(src, build)
    for unit, path, reason in found:
        if reason == "depfile":
            print("  %s: no dependency file %s; remove its object to have it compiled again" % (unit, path),
                  file=sys.stderr)
        else:
            print("  %s: %s (%s)" % (unit, path, REASONS[reason]), file=sys.stderr)
    if found:
        print("layer check: %d headers reached the wrong way; include a header by its path from the folder of "
              "a layer below, without . or .. steps" % len(found), file=sys.stderr)
        return 1
    with open(stamp, "w"):
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
