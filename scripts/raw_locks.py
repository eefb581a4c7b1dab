#!/usr/bin/env python3
"""Refuses the standard library's own locks in product code.

The thread-safety analysis only sees locks it has annotations for: a std::mutex or a
std::lock_guard in a product unit is invisible to it, so state guarded that way is never
checked. Product code takes Mutex, MutexLock and CondVar from base/annotated_mutex.h. This
check reads every source file of the layers (comments and string literals left out) and
names each use of a standard lock type; `make test` runs it with the analysis.

Usage: raw_locks.py <source root>
"""
import os
import re
import sys

LAYERS = ("base", "net", "training", "session", "app")
SOURCE_ENDINGS = (".h", ".hpp", ".inl", ".c", ".cc", ".cpp")

RAW_LOCK = re.compile(
    r"\bstd\s*::\s*("
    r"(?:recursive_|shared_|timed_|recursive_timed_|shared_timed_)?mutex"
    r"|condition_variable(?:_any)?"
    r"|lock_guard|unique_lock|scoped_lock|shared_lock"
    r")\b")

# Where a standard lock belongs: the annotated wrapper itself, and the glue that hands
# Mbed TLS its mutexes (a C interface with its own lock type).
EXEMPT = frozenset({
    "base/annotated_mutex.h",
    "net/mbedtls/threading_alt.h",
    # The audio start lock needs a bounded try_lock_for, which Mutex does not offer.
    "training/win32/audio_worker.cpp",
    "training/win32/audio_worker.h",
})


_CODE_NOISE = re.compile(
    r'//[^\n]*'                       # line comment
    r'|/\*.*?\*/'                     # block comment
    r'|R"([^()\\\s]{0,16})\(.*?\)\1"'  # raw string literal
    r'|"(?:\\.|[^"\\\n])*"'           # string literal
    r"|'(?:\\.|[^'\\\n])*'",          # character literal
    re.S)


def code_only(text):
    """The text with comments and literals blanked; line breaks kept, so lines still count."""
    return _CODE_NOISE.sub(lambda m: "\n" * m.group(0).count("\n"), text)


def raw_lock_uses(text):
    """(line number, name) for each standard lock named in the code of `text`."""
    code = code_only(text)
    return [(code.count("\n", 0, m.start()) + 1, "std::" + m.group(1)) for m in RAW_LOCK.finditer(code)]


def layer_files(root):
    for layer in LAYERS:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in sorted(names):
                if name.endswith(SOURCE_ENDINGS):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def check(root, allowed=EXEMPT, out=sys.stdout):
    """Prints each refused use; the number of files that have one."""
    failed = 0
    for relative, path in layer_files(root):
        if relative in allowed:
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            uses = raw_lock_uses(f.read())
        if uses:
            failed += 1
        for line, name in uses:
            out.write("%s:%d: error: %s in product code; use Mutex, MutexLock or CondVar from "
                      "base/annotated_mutex.h\n" % (relative, line, name))
    return failed


def main():
    failed = check(os.path.realpath(sys.argv[1]))
    print("raw locks: %d files use standard locks" % failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
