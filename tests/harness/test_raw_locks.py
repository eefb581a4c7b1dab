"""The refusal of standard locks in product code, which the thread-safety analysis cannot see."""
import io
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts"))
import raw_locks  # noqa: E402


@pytest.mark.parametrize("path, text, refused", [
    ("base/cache.cpp", "std::mutex mutex_;\n", ["1 std::mutex"]),
    ("net/pool.h", "std::lock_guard<std::recursive_mutex> lock(m);\n",
     ["1 std::lock_guard", "1 std::recursive_mutex"]),
    ("session/relay/x.cpp", "std :: condition_variable_any cv;\n", ["1 std::condition_variable_any"]),
    ("app/a.cpp", "/* a\n   b */ int x;\nstd::scoped_lock both(a, b);\n", ["3 std::scoped_lock"]),
    ("training/win32/new_unit.cpp", "std::unique_lock<std::shared_mutex> l(m);\n",
     ["1 std::unique_lock", "1 std::shared_mutex"]),
    ("base/cache.cpp", "Mutex mutex_;\nint n_ SV_GUARDED_BY(mutex_);\nMutexLock lock(mutex_);\nCondVar cv_;\n", []),
    ("base/cache.cpp", "// std::mutex would hide this from the analysis\n/* std::lock_guard */\n", []),
    ("base/cache.cpp", 'const char* k = "std::mutex";\nauto r = R"x(std::unique_lock)x";\n', []),
    ("base/cache.cpp", "#include <mutex>\nstd::mutexes_seen n;\n", []),
    ("base/annotated_mutex.h", "std::mutex mutex_;\nstd::unique_lock<std::mutex> lock_;\n", []),
    ("net/mbedtls/threading_alt.h", "std::mutex* mutex;\n", []),
    ("training/serial_worker.h", "std::mutex mutex_;\n", ["1 std::mutex"]),
    ("tests/base/t.cpp", "std::mutex m;\n", []),                # not product code
])
def test_standard_locks_are_refused_in_product_code(tmp_path, path, text, refused):
    target = tmp_path / path
    target.parent.mkdir(parents=True)
    target.write_text(text)
    out = io.StringIO()
    failed = raw_locks.check(str(tmp_path), out=out)
    assert failed == (1 if refused else 0), out.getvalue()
    found = []
    for line in out.getvalue().splitlines():
        where, _, what = line.split(": ", 2)
        file, number = where.rsplit(":", 1)
        assert file == path
        found.append(number + " " + what.split(" ")[0])
    assert found == refused
