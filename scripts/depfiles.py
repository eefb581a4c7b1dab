"""Reads the dependency files that GCC and clang write with -MD: the headers a unit was
actually compiled with, as the compiler resolved them.

Both compilers write one make rule, `target: source header ...`, continued over lines
with a backslash, a space inside a name escaped as "\\ ", "#" as "\\#" and "$" as "$$".
A name is kept as the compiler spelled it (relative to the directory it ran in, with any
"//", "." or ".." it was given): those spellings are what the layer check looks at.
"""
import json
import os
import shlex


def parse(text):
    """The prerequisites of every rule in `text`, in order, each named once."""
    deps = []
    seen = set()
    for line in text.replace("\\\r\n", " ").replace("\\\n", " ").splitlines():
        words = _words(line)
        # The target ends at the first word that ends with an unescaped colon.
        for i, (word, colon) in enumerate(words):
            if colon:
                for name, _ in words[i + 1:]:
                    if name and name not in seen:
                        seen.add(name)
                        deps.append(name)
                break
    return deps


def _words(line):
    """(word, ends the target) pairs; escapes undone."""
    words = []
    word = []
    i = 0
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line) and line[i + 1] in " #":
            word.append(line[i + 1])
            i += 2
            continue
        if c == "$" and line[i + 1:i + 2] == "$":
            word.append("$")
            i += 2
            continue
        if c in " \t":
            if word:
                words.append(("".join(word), False))
                word = []
        elif c == ":" and (i + 1 == len(line) or line[i + 1] in " \t") and not any(colon for _, colon in words):
            words.append(("".join(word), True))
            word = []
        else:
            word.append(c)
        i += 1
    if word:
        words.append(("".join(word), False))
    return words


def read(path, directory):
    """The prerequisites of the dependency file at `path`, each joined to `directory` (where
    the compiler ran) but otherwise spelled as the compiler wrote it."""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return [os.path.join(directory, name) for name in parse(f.read())]


def command_words(entry):
    """The words of a compile_commands.json entry's command."""
    if "arguments" in entry:
        return list(entry["arguments"])
    return shlex.split(entry["command"])


def object_file(entry):
    """The object a compile_commands.json entry writes (its -o), joined to its directory."""
    words = command_words(entry)
    for i, word in enumerate(words[:-1]):
        if word == "-o":
            return os.path.join(entry["directory"], words[i + 1])
    return None


def of_entry(entry):
    """The dependency file CMake has the compiler write for an entry: its object's name with
    ".d" added (CMake does not list -MF in compile_commands.json)."""
    obj = object_file(entry)
    return obj + ".d" if obj else None


def units(build, root):
    """(path relative to `root`, entry) for each entry of the build's compile_commands.json
    whose source lies under `root`."""
    root = os.path.realpath(root)
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    for entry in entries:
        file = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        if file.startswith(root + os.sep):
            yield os.path.relpath(file, root), entry
