"""The Windows side of training seen from outside: the activity monitor's hooks against real
X input and the host's kind of injected input, and the UI Automation one-shots."""
import os
import subprocess

from conftest import BIN, run_exe, wait_until

PROBE = os.path.join(BIN, "activity_probe.exe")
UNAVAILABLE = "error: UI Automation is not available on this host\n"


def lines_of(process):
    return process.stdout().replace("\r\n", "\n").splitlines()


def xdotool(*args):
    subprocess.run(["xdotool"] + list(args), check=True, timeout=20)


def test_hooks_report_real_input_and_ignore_injected_input(processes):
    probe = processes(["Sorvane probe aktivitas"], exe=PROBE)
    wait_until(lambda: "injected" in lines_of(probe), timeout=60, message="the probe's injected input")
    # The window spans (100, 100) to (500, 400); the probe injected a click at (5, 5) and F9 (120).
    xdotool("mousemove", "250", "200", "click", "1")
    xdotool("key", "b")
    wait_until(lambda: "key 66" in lines_of(probe), timeout=30, message="the typed key")
    reported = [line for line in lines_of(probe) if line.startswith(("button", "key"))]
    assert reported == ["button left 250 200", "key 66"]


def test_two_monitors_each_hear_their_own_hooks(processes):
    probe = processes(["Sorvane probe dua", "2"], exe=PROBE)
    wait_until(lambda: "injected" in lines_of(probe), timeout=60, message="the probe's injected input")
    xdotool("mousemove", "260", "210", "key", "c")
    wait_until(lambda: {"1 key 67", "2 key 67"} <= set(lines_of(probe)), timeout=30, message="both monitors")
    reported = sorted(line for line in lines_of(probe) if " key " in line or " button " in line)
    assert reported == ["1 key 67", "2 key 67"]


def test_uia_tree_names_the_window_then_asks_ui_automation(processes):
    probe = processes(["Sorvane pohon uji"], exe=PROBE)
    wait_until(lambda: "ready" in lines_of(probe), timeout=60, message="the probe window")
    rc, out, _ = run_exe(["--uia-tree", "pohon uji"], timeout=60)
    out = out.replace("\r\n", "\n")
    if rc == 0:
        assert '"window": "Sorvane pohon uji"' in out
        assert '"name": "Simpan"' in out
    else:
        # This Wine registers no UI Automation client object: the window was found, the
        # library was not.
        assert (rc, out) == (1, UNAVAILABLE)


def test_uia_tree_selectors_that_name_no_window():
    cases = [
        ("99999999999999999999999", "error: no window matches '99999999999999999999999'\n"),
        ("0", "error: no window matches '0'\n"),
        ("Sorvane judul yang tidak ada", "error: no window matches 'Sorvane judul yang tidak ada'\n"),
    ]
    for selector, expected in cases:
        rc, out, _ = run_exe(["--uia-tree", selector], timeout=60)
        assert (rc, out.replace("\r\n", "\n")) == (1, expected), selector


def test_uia_focus_tracks_for_the_given_time_and_exits_0():
    rc, out, err = run_exe(["--uia-focus", "1"], timeout=60)
    assert (rc, out, err) == (0, "", "")
