#!/usr/bin/env python3
"""Compiles every product unit with clang's thread-safety analysis for the MinGW target.

The build itself uses GCC, which ignores the lock annotations; this pass reads the
build's compile_commands.json and runs each product unit through clang with
-fsyntax-only, so an access to guarded state without its lock, or locks taken against
their stated order (checked by the beta group), fails `make test`. The posix MinGW
compiler's C++ headers are given as system folders; its own intrinsics folder is left
out (clang brings its own).

Standard locks, which the analysis cannot see, are refused first (raw_locks.py).
"""
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

import raw_locks

LAYERS = tuple(layer + "/" for layer in raw_locks.LAYERS)
GCC_ROOT = "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include"
SYSTEM = [GCC_ROOT + "/c++", GCC_ROOT + "/c++/x86_64-w64-mingw32", GCC_ROOT + "/c++/backward",
          "/usr/x86_64-w64-mingw32/include"]


def clang_command(entry, root):
    words = shlex.split(entry["command"])
    out = ["clang++", "--target=x86_64-w64-mingw32", "-fsyntax-only", "-nostdinc++", "-nostdlibinc",
           "-Wno-everything", "-Wthread-safety", "-Wthread-safety-beta", "-Werror"]
    for folder in SYSTEM:
        out += ["-isystem", folder]
    skip = False
    for word in words[1:]:
        if skip:
            skip = False
            continue
        if word in ("-o", "-c"):
            skip = True
            continue
        if word.startswith(("-D", "-I", "@", "-std=")):
            out.append(word)
    out.append(entry["file"])
    return out


def main():
    build = sys.argv[1]
    root = os.path.realpath(sys.argv[2])
    raw = raw_locks.check(root)
    if raw:
        print("thread-safety: %d files use standard locks the analysis cannot see" % raw)
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    units = [e for e in entries
             if os.path.realpath(e["file"]).startswith(tuple(os.path.join(root, l) for l in LAYERS))]
    if not units:
        print("thread-safety: no units found in %s" % build)
        return 1
    failed = []

    def check(entry):
        run = subprocess.run(clang_command(entry, root), cwd=entry["directory"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return entry["file"], run.returncode, run.stdout

    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for path, code, text in pool.map(check, units):
            if code != 0:
                failed.append(path)
                sys.stdout.write(text)
    print("thread-safety: %d units analysed, %d failed" % (len(units), len(failed)))
    return 1 if failed or raw else 0


if __name__ == "__main__":
    sys.exit(main())
