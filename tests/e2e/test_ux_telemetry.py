"""Usage telemetry over real HTTPS against the fake endpoint (a short period, set by the
probe program only)."""
import json
import os

from conftest import BIN, http_response, run_exe, wait_until, winpath

PROBE = os.path.join(BIN, "ux_probe.exe")


def probe(https_server, pki, events, env=None, base=None):
    rc, out, err = run_exe([base or https_server.url + "//", winpath(pki.ca_pem), str(events), "50"], exe=PROBE,
                           env=env, timeout=120)
    assert rc == 0, err
    return out.strip()


def test_batches_reach_the_endpoint_in_order(https_server, pki):
    https_server.route("/api/ux/config", http_response(200, '{"data":{"enabled":true}}'))
    https_server.route("/api/ux/events", http_response(200, "{}"))
    assert probe(https_server, pki, 449) == "left 0 started 1"
    posts = [r for r in https_server.requests if r.method == "POST"]
    assert [r.path for r in https_server.requests[:1]] == ["/api/ux/config"]
    assert [len(r.json()["events"]) for r in posts] == [200, 200, 50]
    events = [e for r in posts for e in r.json()["events"]]
    assert events[0]["event"] == "screen_view" and events[0]["screen"] == "window"
    assert [e["meta"]["action"] for e in events[1:]] == ["a%d" % i for i in range(449)]
    assert {e["session_id"] for e in events} == {events[0]["session_id"]}
    assert all(e["app"] == "sorvane-host-win7" and e["app_version"] == "1.1.6" for e in events)
    assert b"user-agent: sorvane-host-win7" in posts[0].head.lower()


def test_a_vanished_endpoint_stops_recording(https_server, pki):
    https_server.route("/api/ux/config", http_response(404, "gone"))
    assert probe(https_server, pki, 3) == "left 4 started 0"
    assert [r.method for r in https_server.requests] == ["GET"]


def test_off_in_any_case_turns_it_off(https_server, pki):
    assert probe(https_server, pki, 3, env={"SORVANE_UX_URL": "Off"}) == "off"
    # Any other value is no URL and no switch.
    https_server.route("/api/ux/config", http_response(200, '{"data":{"enabled":false}}'))
    assert probe(https_server, pki, 3, env={"SORVANE_UX_URL": "https://127.0.0.1:1"}) == "left 0 started 1"
    assert all(r.path == "/api/ux/config" for r in https_server.requests)


def test_a_short_tray_run_delivers_its_records_at_exit(https_server, pki, relay, processes, data_dir):
    https_server.route("/api/ux/config", http_response(200, '{"data":{"enabled":true}}'))
    https_server.route("/api/ux/events", http_response(200, "{}"))
    host = processes(["--tray", "--relay", relay.url, "--api", https_server.url, "--cacert", winpath(pki.ca_pem),
                      "--data-dir", winpath(data_dir), "--no-update"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=60)
    window = os.path.join(BIN, "window_probe.exe")
    wait_until(lambda: run_exe(["find"], exe=window)[1].startswith("found 1"), 30, message="the host window")
    run_exe(["post", "273", "1003", "0"], exe=window)  # WM_COMMAND: the tray menu's "Keluar"
    assert host.wait(timeout=60) == 0
    posts = [r for r in https_server.requests if r.method == "POST"]
    actions = [e["meta"]["action"] for r in posts for e in r.json()["events"] if e["event"] == "action_done"]
    assert actions[-1:] == ["exit"]
