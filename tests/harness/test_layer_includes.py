"""The layer check refuses a header by what the compiler opened, however the include was
spelled: each unit is preprocessed by the build's compiler and its dependency file read."""
import json
import os
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import layer_includes  # noqa: E402

COMPILER = "x86_64-w64-mingw32-g++-posix"
HEADERS = ["base/a.h", "net/n.h", "training/t.h", "training/win32/w.h", "session/host.h", "session/relay/loop.h",
           "session/relay/via_host.h", "session/lan/l.h", "tests/support.h", "net/mbedtls/sv_mbedtls_config.h"]
# Each layer's include root holds its own folder alone, as the build lays them out.
ROOTS = {"base": "base", "net": "net", "training": "training", "training_win32": "training/win32",
         "session": "session", "app": "app"}
SEEN = {"base": ["base"], "net": ["base", "net"], "training": ["base", "training"],
        "training/win32": ["base", "training", "training_win32"],
        "session": ["base", "net", "training", "session"], "app": list(ROOTS)}
HOST = "<build>/layer-include/session/session/host.h"


@pytest.mark.parametrize("unit, text, refused", [
    # The Host from one of its parts, spelled so that a pattern over include lines misses it.
    ("session/relay/r.cpp", '#include "session//host.h"\n',
     [("<build>/layer-include/session/session//host.h", "step"), ("<build>/layer-include/session/session//host.h", "host")]),
    ("session/relay/r.cpp", '#include /* x */ "session/host.h"\n', [(HOST, "host")]),
    ("session/relay/r.cpp", '#define HOST "session/host.h"\n#include HOST\n', [(HOST, "host")]),
    ("session/relay/r.cpp", '#include "session/relay/via_host.h"\n', [(HOST, "host")]),
    ("session/host.cpp", '#include "session/relay/loop.h"\n#include "net/n.h"\n', []),
    # Past the roots: beside the including file, or out of a root's folder by "..".
    ("training/agent.cpp", '#include "win32/w.h"\n', [("<src>/training/win32/w.h", "layer"),
                                                       ("<src>/training/win32/w.h", "root")]),
    ("session/relay/r.cpp", '#include "../lan/l.h"\n', [("<src>/session/relay/../lan/l.h", "root")]),
    ("net/x.cpp", "#include <net/../session/host.h>\n", [("<build>/layer-include/net/net/../session/host.h", "layer"),
                                                          ("<build>/layer-include/net/net/../session/host.h", "step")]),
    ("app/main.cpp", '#include "../tests/support.h"\n', [("<src>/app/../tests/support.h", "product")]),
    ("training/win32/s.cpp", '#include "training/t.h"\n#include "base/a.h"\n', []),
    # Every layer's Mbed TLS headers include the configuration from a root of its own.
    ("base/sha.cpp", '#include "sv_mbedtls_config.h"\n', []),
])
def test_headers_are_checked_as_the_compiler_resolved_them(tmp_path, unit, text, refused):
    src, build = tmp_path / "src", tmp_path / "build"
    for header in HEADERS:
        (src / header).parent.mkdir(parents=True, exist_ok=True)
        (src / header).write_text('#include "session/host.h"\n' if header.endswith("via_host.h") else "\n")
    for name, folder in ROOTS.items():
        (src / folder).mkdir(parents=True, exist_ok=True)
        link = build / "layer-include" / name / folder
        link.parent.mkdir(parents=True, exist_ok=True)
        link.symlink_to(src / folder)
    (src / unit).write_text(text)
    flags = [f"-I{build}/layer-include/{root}" for root in SEEN[layer_includes.layer_of(unit)]]
    flags.append(f"-I{src}/net/mbedtls")
    obj = build / "CMakeFiles" / "unit.obj"
    obj.parent.mkdir()
    subprocess.run([COMPILER, "-E", "-MD", "-MT", str(obj), "-MF", f"{obj}.d", *flags, str(src / unit),
                    "-o", os.devnull], check=True)
    (build / "compile_commands.json").write_text(json.dumps([{
        "directory": str(build), "file": str(src / unit),
        "command": " ".join([COMPILER, *flags, "-o", "CMakeFiles/unit.obj", "-c", str(src / unit)])}]))

    found = [(u, written.replace(str(build), "<build>").replace(str(src), "<src>"), reason)
             for u, written, reason in layer_includes.check(str(src), str(build))]
    assert found == [(unit, written, reason) for written, reason in refused]
