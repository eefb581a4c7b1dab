"""The scripts around the host: `make run` ended with Ctrl+C must end the host first and
only then its private display."""
import os
import signal
import subprocess
import tempfile

from conftest import ROOT, wait_until


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
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        for pid in xvfb:  # a display of its own session outlives the group's kill
            if proc_stat(pid) is not None:
                os.kill(pid, signal.SIGKILL)
        if os.path.exists(marker):
            os.unlink(marker)
