"""The program as a user starts it: usage, one-shot enrolment, the single instance and
the console host choosing its identity."""
import json
import os

from conftest import (audit_entries, http_response, run_exe, wait_until, winpath)

USAGE = (
    "usage: sorvane-host-win7 [--relay <wss://...>] [--api <https://...>] [--cacert <path>]\n"
    "                         [--data-dir <dir>] [--lan <port>] [--classic] [--enroll <token> <name>]\n"
    "                         [--tray] [--service] [--no-update] [--fetch <https-url> <dest>]\n"
    "                         [--enroll-only <token> <name>] [--uia-tree <title>] [--uia-focus <s>]\n"
    "                         [--install-service] [--uninstall-service] [--check-update]\n"
    "                         [--self-test-update] [--self-test-lan] [--srp-vectors] [--help | -h]\n"
    "Runs classic unless device.json exists (enrolled) or --enroll is given.\n"
    "--srp-vectors counts only as the first word. A word starting with \"--\" is never taken as a value.\n"
)

ENROLL = "/api/devices/enroll"


def crlf(text):
    """Console text as a Windows program writes it (text-mode streams turn LF into CR LF)."""
    return text.replace("\n", "\r\n")


def same_text(actual, expected):
    return actual == expected or actual == crlf(expected)


def enroll_only(https_server, pki, data_dir, *extra, timeout=60):
    return run_exe(["--api", https_server.url, "--cacert", winpath(pki.ca_pem), "--data-dir", winpath(data_dir),
                    "--enroll-only"] + list(extra), timeout=timeout)


def test_help_prints_the_usage_and_exits_0(data_dir):
    rc, out, err = run_exe(["--data-dir", winpath(data_dir), "--help", "--enroll-only", "t", "n"], timeout=60)
    assert rc == 0
    assert same_text(out, USAGE)
    assert err == ""
    assert not os.path.exists(os.path.join(data_dir, "device.json"))


def test_short_help_ends_the_reading(data_dir):
    rc, out, _ = run_exe(["-h", "--fetch", "https://localhost:1/x", os.path.join(data_dir, "f")], timeout=60)
    assert rc == 0
    assert same_text(out, USAGE)
    assert not os.path.exists(os.path.join(data_dir, "f"))


def test_enroll_only_needs_a_token_and_a_name(data_dir):
    rc, out, err = run_exe(["--data-dir", winpath(data_dir), "--enroll-only", "tok"], timeout=60)
    assert rc == 2
    assert same_text(err, "--enroll-only needs a token and a name (nothing follows it)\n" + USAGE)
    assert out == ""


def test_a_forgotten_token_is_never_sent(https_server, pki, data_dir):
    """The next option is never taken as the token, so the data folder's path never
    reaches the enrolment server as the device's name."""
    https_server.route(ENROLL, http_response(200, '{"deviceId":1,"deviceSecret":"x"}'))
    rc, out, err = run_exe(["--api", https_server.url, "--cacert", winpath(pki.ca_pem), "--no-update",
                            "--enroll", "--data-dir", winpath(data_dir)], timeout=60)
    assert rc == 2
    assert same_text(err, '--enroll needs a token and a name ("--data-dir" is an option, not its value)\n' + USAGE)
    assert out == ""
    assert https_server.requests == []
    assert os.listdir(data_dir) == []


def test_a_data_folder_that_is_a_file_stops_the_host(relay, data_dir):
    blocker = os.path.join(data_dir, "file")
    with open(blocker, "w") as f:
        f.write("not a folder")
    rc, out, err = run_exe(["--relay", relay.url, "--data-dir", winpath(blocker), "--no-update"], timeout=60)
    assert rc == 1
    assert err.startswith("cannot write the data folder %s: it is a file, not a folder; " % winpath(blocker))
    assert "--data-dir" in err
    assert "Host ID" not in out
    assert relay.connection_count() == 0


def test_the_first_start_keeps_its_font_line(relay, processes, data_dir):
    fresh = os.path.join(data_dir, "new", "Sorvane")  # a fresh install: nothing there yet
    host = processes(["--relay", relay.url, "--data-dir", winpath(fresh), "--no-update"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)
    wait_until(lambda: "font: Poppins" in host.stdout(), 10, message="the font line")
    fonts = audit_entries(fresh, "font")
    assert len(fonts) == 1 and fonts[0][2].startswith("font: Poppins"), fonts


def test_enroll_only_refuses_when_already_enrolled(data_dir):
    path = os.path.join(data_dir, "device.json")
    with open(path, "w") as f:
        f.write('{"deviceId":1,"deviceSecret":"s"}')
    rc, _, err = run_exe(["--data-dir", winpath(data_dir), "--enroll-only", "tok", "name"], timeout=60)
    assert rc == 1
    assert same_text(err, "already enrolled (" + winpath(data_dir) + "\\device.json exists)\n")


def test_enroll_only_success_writes_device_json_and_audit(https_server, pki, data_dir):
    https_server.route(ENROLL, http_response(201, '{"deviceId":4242,"deviceSecret":"sec-ret","extra":true}',
                                             {"Content-Type": "application/json"}))
    rc, out, err = enroll_only(https_server, pki, data_dir, "tok-9", "Front desk")
    assert rc == 0, err
    assert same_text(out, "enrolled as device 4242; the host runs enrolled from its next start\n")
    with open(os.path.join(data_dir, "device.json"), "rb") as f:
        record = f.read()
    assert record == ('{"apiBase":"%s","deviceId":4242,"deviceSecret":"sec-ret"}' % https_server.url).encode()
    assert ("enroll", "", "device 4242 name=Front desk (enrolled from the next start)") in \
        audit_entries(data_dir, "enroll")
    req = https_server.wait_requests(1)[0]
    body = b'{"enrollToken":"tok-9","name":"Front desk","os":"win"}'
    assert req.raw == (b"POST /api/devices/enroll HTTP/1.1\r\n"
                       b"Host: localhost:%d\r\n"
                       b"User-Agent: sorvane-host-win7\r\n"
                       b"Accept: */*\r\n"
                       b"Content-Type: application/json\r\n"
                       b"Content-Length: %d\r\n"
                       b"Connection: close\r\n"
                       b"\r\n" % (https_server.port, len(body))) + body


def test_enroll_only_refusal_prints_the_error_value(https_server, pki, data_dir):
    https_server.route(ENROLL, http_response(200, '{"error":"token expired"}'))
    rc, out, err = enroll_only(https_server, pki, data_dir, "tok", "name")
    assert rc == 1
    assert err.startswith("enroll failed: the support API refused the enrolment: token expired; ")
    assert out == ""
    assert not os.path.exists(os.path.join(data_dir, "device.json"))


def test_enroll_only_bad_responses(https_server, pki, data_dir):
    for body in ('{"deviceId":"12","deviceSecret":"x"}', '{"deviceId":3000000000,"deviceSecret":"x"}',
                 "<html>bad gateway</html>", '{"deviceSecret":"x"}'):
        https_server.route(ENROLL, http_response(502, body))
        rc, _, err = enroll_only(https_server, pki, data_dir, "tok", "name")
        assert rc == 1, body
        assert err.startswith("enroll failed: bad response: "), body
        assert not os.path.exists(os.path.join(data_dir, "device.json")), body


def test_enroll_only_without_an_answer(https_server, pki, data_dir):
    https_server.route(ENROLL, b"")  # the connection closes without a response
    rc, _, err = enroll_only(https_server, pki, data_dir, "tok", "name")
    assert rc == 1
    assert err.startswith("enroll failed (no response): localhost:%d ended the connection without an answer; "
                          % https_server.port)


def test_enroll_only_with_a_junk_api_address(data_dir):
    rc, _, err = run_exe(["--api", "junk", "--data-dir", winpath(data_dir), "--enroll-only", "tok", "name"],
                         timeout=60)
    assert rc == 1
    assert err.startswith('enroll failed (no response): "junk" is not an https:// address; give one with --api')


def test_enroll_only_with_an_untrusted_server(https_server, data_dir, tmp_path):
    from conftest import make_ca
    other_ca, _ = make_ca(str(tmp_path), name="Other CA")
    https_server.route(ENROLL, http_response(200, '{"deviceId":1,"deviceSecret":"x"}'))
    rc, _, err = run_exe(["--api", https_server.url, "--cacert", winpath(other_ca), "--data-dir", winpath(data_dir),
                          "--enroll-only", "tok", "name"], timeout=60)
    assert rc == 1
    assert err.startswith("enroll failed (no response): ") and "not trusted by the CA file " + winpath(other_ca) in err
    assert not os.path.exists(os.path.join(data_dir, "device.json"))


def test_enroll_then_the_device_registers(https_server, pki, relay, processes, data_dir):
    https_server.route(ENROLL, http_response(200, '{"deviceId":31,"deviceSecret":"dev-secret"}'))
    host = processes(["--relay", relay.url, "--api", https_server.url, "--cacert", winpath(pki.ca_pem),
                      "--data-dir", winpath(data_dir), "--no-update", "--enroll", "tok", "Reception PC"])
    conn = relay.wait_connection(0, timeout=60)
    msg = conn.wait_type("device-register", timeout=30)
    assert msg.get("deviceId") == 31
    assert msg.get("deviceSecret") == "dev-secret"
    wait_until(lambda: "enrolled as device 31" in host.stdout(), 10, message="enrolment line")
    with open(os.path.join(data_dir, "device.json"), "rb") as f:
        assert json.loads(f.read()) == {"apiBase": https_server.url, "deviceId": 31, "deviceSecret": "dev-secret"}
    assert https_server.wait_requests(1)[0].json() == {"enrollToken": "tok", "name": "Reception PC", "os": "win"}


def test_enroll_failure_ends_the_console_host_with_1(https_server, pki, relay, data_dir):
    https_server.route(ENROLL, http_response(403, '{"error":"nope"}'))
    rc, _, err = run_exe(["--relay", relay.url, "--api", https_server.url, "--cacert", winpath(pki.ca_pem),
                          "--data-dir", winpath(data_dir), "--no-update", "--enroll", "tok", "pc"], timeout=60)
    assert rc == 1
    assert err.startswith("enroll failed: the support API refused the enrolment: nope; ")
    assert "{" not in err
    assert relay.connection_count() == 0
    # The reason stays where a tray or service start, which has no console, keeps it too.
    assert audit_entries(data_dir, "enroll") == [("enroll", "", err.rstrip("\r\n"))]


def test_enroll_without_a_name(relay, data_dir):
    rc, _, err = run_exe(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update", "--enroll", "tok"],
                         timeout=60)
    assert rc == 2
    assert same_text(err, "--enroll needs a token and a name (nothing follows it)\n" + USAGE)


def test_device_json_makes_the_host_run_enrolled(relay, processes, data_dir):
    with open(os.path.join(data_dir, "device.json"), "w") as f:
        f.write('{"deviceId":77,"deviceSecret":"from-file"}')
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    msg = relay.wait_connection(0, timeout=60).wait_message(
        lambda m: m.get("type") in ("device-register", "host-register"), timeout=30)
    assert msg["type"] == "device-register"
    assert msg.get("deviceId") == 77


def test_malformed_device_json_runs_classic(relay, processes, data_dir):
    with open(os.path.join(data_dir, "device.json"), "w") as f:
        f.write('{"deviceId":"12","deviceSecret":"x"}')
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    msg = relay.wait_connection(0, timeout=60).wait_message(
        lambda m: m.get("type") in ("device-register", "host-register"), timeout=30)
    assert msg["type"] == "host-register"


def test_second_instance_exits_0_while_the_first_runs(relay, processes, data_dir, tmp_path):
    first = processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)
    rc, out, err = run_exe(["--relay", relay.url, "--data-dir", winpath(str(tmp_path)), "--no-update"], timeout=60)
    assert rc == 0
    assert same_text(out, "the Sorvane host is already running on this computer; this start ends here\n")
    assert first.running()
    assert relay.connection_count() == 1


def test_no_update_keeps_the_staging_folder(relay, processes, data_dir):
    staging = os.path.join(data_dir, "update-staging")
    os.makedirs(staging)
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)
    assert os.path.isdir(staging)


def test_words_that_are_no_options_are_ignored(relay, processes, data_dir):
    host = processes(["--classic", "--data-dri", "--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update",
                      "--cacert"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)
    err = host.stderr().replace("\r\n", "\n")
    assert 'ignoring "--data-dri": not an option of this program (see --help)\n' in err
    assert "ignoring --cacert: it needs a file (nothing follows it)\n" in err
    assert "--classic" not in err


def test_srp_vectors_as_a_later_word_is_no_option(relay, processes, data_dir):
    processes(["--relay", relay.url, "--srp-vectors", "--data-dir", winpath(data_dir), "--no-update"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)


def test_apply_update_counts_only_as_the_first_word(relay, processes, data_dir):
    processes(["--relay", relay.url, "--data-dir", winpath(data_dir), "--no-update", "--apply-update", "1"])
    relay.wait_connection(0, timeout=60).wait_type("host-register", timeout=30)


def test_fetch_comes_before_enroll_only(https_server, pki, data_dir, tmp_path):
    https_server.route("/f", http_response(200, "first"))
    dest = str(tmp_path / "f.txt")
    rc, out, err = run_exe(["--cacert", winpath(pki.ca_pem), "--data-dir", winpath(data_dir), "--enroll-only", "t",
                            "n", "--fetch", https_server.url + "/f", winpath(dest)], timeout=60)
    assert rc == 0, err
    assert same_text(out, "fetched 5 bytes -> %s\n" % winpath(dest))
    assert [r.path for r in https_server.requests] == ["/f"]
    assert not os.path.exists(os.path.join(data_dir, "device.json"))


def test_a_relay_address_or_ca_file_that_cannot_work_ends_the_start(data_dir, tmp_path):
    """One line naming the value and exit 2, before any identity is made or shown."""
    missing = winpath(str(tmp_path / "missing.pem"))
    hello = tmp_path / "hello.pem"
    hello.write_text("hello")  # readable, and no certificate in it
    cases = [
        (["--relay", "junk"], '"junk"'),
        (["--relay", "http://127.0.0.1:1/"], '"http://127.0.0.1:1/"'),
        (["--relay", "wss://"], '"wss://" cannot work: it names no host'),
        (["--relay", "wss://localhost:1/", "--cacert", missing], f'"{missing}" cannot be read'),
        (["--relay", "wss://localhost:1/", "--cacert", winpath(str(hello))],
         f'CA file "{winpath(str(hello))}" holds no certificate: give a PEM file of trusted certificates with --cacert'),
    ]
    for args, says in cases:
        rc, out, err = run_exe(args + ["--data-dir", winpath(data_dir), "--no-update"], timeout=60)
        assert rc == 2, (args, out, err)
        assert says in err and err.rstrip("\r\n").count("\n") == 0, (args, err)
        assert out == "", (args, out)
    assert not os.path.exists(os.path.join(data_dir, "host-id.txt"))
