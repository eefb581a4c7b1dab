#!/usr/bin/env python3
"""Compiles every product unit with clang's thread-safety analysis for the MinGW target.

The build itself uses GCC, which ignores the lock annotations; this pass reads the
build's compile_commands.json and runs each product unit through clang with
-fsyntax-only, so an access to guarded state without its lock, or locks taken against
their stated order (checked by the beta group), fails `make test`. The posix MinGW
compiler's C++ headers are given as system folders; its own intrinsics folder is left
out (clang brings its own).

Standard locks, which the analysis cannot see, are refused first (raw_locks.py).

A unit is analysed again only when something it was analysed from changed: its command
(the unit, its flags and the response files those name), the compiler, or the content of
the unit or of any header clang read for it (from clang's own dependency file). What a
unit read when it passed is kept in the build tree; a unit that failed is not kept, so it
is analysed again on every pass until it passes.
"""
import concurrent.futures
import hashlib
import json
import os
import subprocess
import sys
import tempfile

import depfiles
import raw_locks

GCC_ROOT = "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include"
SYSTEM = [GCC_ROOT + "/c++", GCC_ROOT + "/c++/x86_64-w64-mingw32", GCC_ROOT + "/c++/backward",
          "/usr/x86_64-w64-mingw32/include"]
CACHE = "thread-safety-cache.json"


def clang_command(entry):
    words = depfiles.command_words(entry)
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


def compiler_identity():
    """clang's version line, target and installation: a new compiler may judge differently."""
    return subprocess.run(["clang++", "--version"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True).stdout


class Digests:
    """SHA-256 of each file's content, read once per pass; None for a file that is gone."""

    def __init__(self):
        self._known = {}

    def __call__(self, path):
        if path not in self._known:
            try:
                with open(path, "rb") as f:
                    self._known[path] = hashlib.sha256(f.read()).hexdigest()
            except OSError:
                self._known[path] = None
        return self._known[path]


def unit_key(command, directory, compiler, digests):
    """Everything a unit's analysis depends on besides the files it includes. CMake passes
    the include folders in a response file whose name stays the same when they change, so
    its content counts, not its name."""
    key = hashlib.sha256(json.dumps([compiler, directory, command]).encode())
    for word in command:
        if word.startswith("@"):
            key.update(("\n%s %s" % (word, digests(os.path.join(directory, word[1:])))).encode())
    return key.hexdigest()


def load_cache(path):
    try:
        with open(path) as f:
            units = json.load(f)["units"]
        return units if isinstance(units, dict) else {}
    except (OSError, ValueError, KeyError, TypeError):
        return {}


def save_cache(path, units):
    fd, tmp = tempfile.mkstemp(prefix=".thread-safety-", dir=os.path.dirname(path))
    with os.fdopen(fd, "w") as f:
        json.dump({"units": units}, f)
    os.replace(tmp, path)


def analyse(units, cache_path, compiler, workers=None):
    """Analyses each unit whose inputs changed since it last passed (a unit compiled the
    same way into two programs, once). Returns (the number of distinct units, the files
    analysed, [(file, output)] of those that failed)."""
    cache_path = os.path.abspath(cache_path)  # the compiler runs in each unit's own directory
    digests = Digests()
    cache = load_cache(cache_path)
    distinct = {}
    for entry in units:
        command = clang_command(entry)
        distinct.setdefault(unit_key(command, entry["directory"], compiler, digests), (entry, command))
    kept = {}
    todo = []
    for key, (entry, command) in distinct.items():
        inputs = cache.get(key)
        if isinstance(inputs, dict) and inputs and all(digests(p) == d for p, d in inputs.items()):
            kept[key] = inputs
        else:
            todo.append((key, entry, command))

    def check(job, scratch):
        key, entry, command = job
        depfile = os.path.join(scratch, key + ".d")
        run = subprocess.run(command + ["-MD", "-MF", depfile], cwd=entry["directory"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        inputs = None
        if run.returncode == 0:
            try:
                inputs = {p: digests(p) for p in depfiles.read(depfile, entry["directory"])}
            except OSError:
                inputs = None  # no record of what it read: analysed again next time
        return key, entry["file"], run.returncode, run.stdout, inputs

    failed = []
    with tempfile.TemporaryDirectory(prefix=".thread-safety-", dir=os.path.dirname(cache_path)) as scratch, \
            concurrent.futures.ThreadPoolExecutor(max_workers=workers or os.cpu_count() or 2) as pool:
        for key, path, code, text, inputs in pool.map(lambda job: check(job, scratch), todo):
            if code != 0:
                failed.append((path, text))
            elif inputs:
                kept[key] = inputs
    save_cache(cache_path, kept)
    return len(distinct), [job[1]["file"] for job in todo], failed


def main():
    build = sys.argv[1]
    root = os.path.realpath(sys.argv[2])
    raw = raw_locks.check(root)
    if raw:
        print("thread-safety: %d files use standard locks the analysis cannot see" % raw)
    units = [e for rel, e in depfiles.units(build, root) if rel.split(os.sep, 1)[0] in raw_locks.LAYERS]
    if not units:
        print("thread-safety: no units found in %s" % build)
        return 1
    count, analysed, failed = analyse(units, os.path.join(build, CACHE), compiler_identity())
    for _, text in failed:
        sys.stdout.write(text)
    print("thread-safety: %d units analysed, %d unchanged since they passed, %d failed"
          % (len(analysed), count - len(analysed), len(failed)))
    return 1 if failed or raw else 0


if __name__ == "__main__":
    sys.exit(main())
