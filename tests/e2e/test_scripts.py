"""The scripts around the host: `make run` ended with Ctrl+C must end the host first and
only then its private display, and one run never ends another's host."""
import os
import shlex
import signal
import subprocess
import tempfile

from conftest import BIN, BUILD, ROOT, WINE_RUN, wait_until, wine_prefix, winpath


def proc_stat(pid):
    """(command name, parent pid, process group) of a live process, or None."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
    except OSError:
        return None
    name = text[text.index("(") + 1:text.rindex(")")]
    fields = text[text.rindex(")") + 2:].split()
    return name, int(fields[1]), int(fields[2])


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = proc_stat(int(entry))
            if stat and stat[1] == pid:
                found.append((int(entry), stat))
    return found


def descendants(pid):
    found, below = [], [pid]
    while below:
        for child in children(below.pop()):
            found.append(child)
            below.append(child[0])
    return found


def kill_run(proc, displays=()):
    """Kills what is left of a script's run, its displays (in sessions of their own) too."""
    displays = list(displays)
    if proc.poll() is None:
        displays += [pid for pid, stat in descendants(proc.pid) if stat[0] == "Xvfb"]
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    for pid in displays:
        if (proc_stat(pid) or ("",))[0] == "Xvfb":
            os.kill(pid, signal.SIGKILL)


def test_ctrl_c_reaches_the_command_but_not_its_display():
    marker = tempfile.mktemp(prefix="sv-display-")
    # The command stands in for the host: it ends on Ctrl+C and says whether its display
    # was still there when it did.
    command = ("trap 'python3 -c \"import os,socket; s=socket.socket(socket.AF_UNIX); "
               "s.connect(\\\"/tmp/.X11-unix/X\\\"+os.environ[\\\"DISPLAY\\\"][1:])\" "
               "&& echo alive >> %s; exit 0' INT; echo ready >> %s; while :; do sleep 0.05; done") % (marker, marker)
    # A session of its own, as a terminal gives `make run`: Ctrl+C goes to its group. A
    # terminal also leaves Ctrl+C at its default, where a suite started in the background has
    # it ignored; a shell cannot trap a signal ignored when it started, so the stand-in would
    # never end: `env` gives the script the terminal's default.
    proc = subprocess.Popen(["env", "--default-signal=INT", "bash", os.path.join(ROOT, "scripts", "with-display.sh"),
                             "bash", "-c", command],
                            start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, SV_WINEPREFIX=marker + "-prefix"))
    xvfb = []
    try:
        wait_until(lambda: os.path.exists(marker) and "ready" in open(marker).read(), 30, message="the command")
        xvfb = [pid for pid, stat in children(proc.pid) if stat[0] == "Xvfb"]
        assert len(xvfb) == 1
        assert proc_stat(xvfb[0])[2] != proc.pid  # outside the group that Ctrl+C reaches
        os.killpg(proc.pid, signal.SIGINT)
        proc.wait(timeout=30)
        assert open(marker).read().split() == ["ready", "alive"]
        wait_until(lambda: proc_stat(xvfb[0]) is None, 10, message="the display to be stopped")
    finally:
        kill_run(proc, xvfb)
        for path in (marker, marker + "-prefix.runs"):
            if os.path.exists(path):
                os.unlink(path)


def make_run(relay, data_dir, out):
    """`make run` as a person types it, less the build its prerequisite makes (the suite's is there)."""
    args = ["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"]
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    return subprocess.Popen(["make", "-s", "-C", ROOT, "-o", "host", "run", "BUILD_DIR=" + BUILD,
                             "RUN_PREFIX=" + wine_prefix(), "ARGS=" + " ".join(shlex.quote(a) for a in args)],
                            stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env,
                            start_new_session=True)


def test_a_second_make_run_leaves_the_first_ones_host(relay, data_dir, tmp_path):
    runs = []
    try:
        with open(tmp_path / "first.txt", "wb") as out:
            runs.append(make_run(relay, data_dir, out))
        conn = relay.wait_connection(0, timeout=120)
        conn.wait_type("host-register", timeout=60)
        with open(tmp_path / "second.txt", "wb") as out:
            runs.append(make_run(relay, str(tmp_path), out))
        assert runs[1].wait(timeout=120) == 0
        assert "already running" in (tmp_path / "second.txt").read_text()
        # The second run has cleaned up after itself; the first one's host still answers.
        conn.send({"type": "training-request", "id": "alive", "op": "events", "args": {"max": 1}})
        conn.wait_message(lambda m: m.get("type") == "training-result" and m.get("id") == "alive", 30)
        host = [pid for pid, stat in descendants(runs[0].pid) if stat[0].startswith("sorvane-host")]
        assert len(host) == 1
        os.kill(host[0], signal.SIGTERM)
        runs[0].wait(timeout=60)
    finally:
        for run in runs:
            kill_run(run)


def test_wine_makes_names_outside_ascii_whatever_the_callers_locale(tmp_path):
    # A bare Debian's shell has no LANG: Wine could then make no such name at all.
    env = {k: v for k, v in os.environ.items() if k != "LANG" and not k.startswith("LC_")}
    name = "AuditLogWin32Test.NonAsciiDirectoryReceivesTheLines"
    with open(tmp_path / "out.txt", "wb") as out:
        rc = subprocess.run(["bash", WINE_RUN, os.path.join(BIN, "test_base.exe"), "--gtest_filter=" + name],
                            env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                            timeout=120).returncode
    text = (tmp_path / "out.txt").read_text(errors="replace")
    assert rc == 0 and "[       OK ] " + name in text, text
