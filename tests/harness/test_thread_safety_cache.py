"""The thread-safety pass analyses again exactly the units whose inputs changed."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import thread_safety  # noqa: E402

FILES = {
    "a.cpp": '#include "a.h"\nint a() { return b(); }\n',
    "inc/a.h": '#include "b.h"\n',
    "inc/b.h": "int b();\n",
    "a.rsp": "-Iinc\n",
    "c.cpp": "int c() { return X; }\n",
    "bad.cpp": "int x = ;\n",  # fails every pass, so it is never kept
}


def entries(c_flag):
    return [{"directory": ".", "file": "a.cpp", "command": "g++ @a.rsp -c a.cpp -o a.o"},
            {"directory": ".", "file": "c.cpp", "command": "g++ -DX=%s -c c.cpp -o c.o" % c_flag},
            {"directory": ".", "file": "bad.cpp", "command": "g++ -c bad.cpp -o bad.o"}]


def touch_all(tree):
    for name in FILES:
        os.utime(tree / name, (1, 1))


@pytest.mark.parametrize("change, again", [
    (touch_all, []),
    (lambda tree: (tree / "inc/b.h").write_text("int b(int = 0);\n"), ["a.cpp"]),
    (lambda tree: (tree / "a.rsp").write_text("-Iinc -DY\n"), ["a.cpp"]),
    ("c flags", ["c.cpp"]),
    ("compiler", ["a.cpp", "c.cpp"]),
], ids=["times alone", "a header included by a header", "the response file", "flags", "compiler"])
def test_only_units_whose_inputs_changed_are_analysed_again(tmp_path, monkeypatch, change, again):
    for name, text in FILES.items():
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_text(text)
    cache = str(tmp_path / "cache.json")

    count, analysed, failed = thread_safety.analyse(
        [dict(e, directory=str(tmp_path)) for e in entries(1)], cache, "clang 1")
    assert (count, sorted(analysed), [f for f, _ in failed]) == (3, ["a.cpp", "bad.cpp", "c.cpp"], ["bad.cpp"])

    compiler = "clang 2" if change == "compiler" else "clang 1"
    units = [dict(e, directory=str(tmp_path)) for e in entries(2 if change == "c flags" else 1)]
    if callable(change):
        change(tmp_path)
    _, analysed, failed = thread_safety.analyse(units, cache, compiler)
    assert sorted(analysed) == sorted(again + ["bad.cpp"])
    assert [f for f, _ in failed] == ["bad.cpp"]
