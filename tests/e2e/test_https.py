"""The HTTPS client through "--fetch": exact request bytes, framing, redirects and failures."""
import os

import pytest

from conftest import BAD_CERTIFICATES, FakeHttpsServer, http_response, make_bad_certificate, run_exe, winpath
from test_entry import same_text


def fetch(pki, url, dest, timeout=90):
    return run_exe(["--cacert", winpath(pki.ca_pem), "--fetch", url, winpath(dest)], timeout=timeout)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def test_get_sends_the_exact_request_and_saves_a_sized_body(https_server, pki, tmp_path):
    body = bytes(range(256)) * 40
    https_server.route("/files/a.bin", http_response(200, body, {"Content-Type": "application/octet-stream"}))
    dest = str(tmp_path / "out" / "a.bin")
    rc, out, err = fetch(pki, https_server.url + "/files/a.bin?v=2", dest)
    assert rc == 0, err
    assert same_text(out, "fetched %d bytes -> %s\n" % (len(body), winpath(dest)))
    assert read(dest) == body
    req = https_server.wait_requests(1)[0]
    assert req.raw == (b"GET /files/a.bin?v=2 HTTP/1.1\r\n"
                       b"Host: localhost:%d\r\n"
                       b"User-Agent: sorvane-host-win7\r\n"
                       b"Accept: */*\r\n"
                       b"Content-Length: 0\r\n"
                       b"Connection: close\r\n"
                       b"\r\n" % https_server.port)


def test_chunked_body_is_decoded(https_server, pki, tmp_path):
    chunks = [b"hello ", b"chunked " * 700, b"world"]
    wire = b"".join(b"%x;ext=1\r\n%s\r\n" % (len(c), c) for c in chunks) + b"0\r\nX-Trailer: 1\r\n\r\n"
    https_server.route("/c", http_response(200, wire, {"Transfer-Encoding": "chunked"}))
    dest = str(tmp_path / "c.txt")
    rc, _, err = fetch(pki, https_server.url + "/c", dest)
    assert rc == 0, err
    assert read(dest) == b"".join(chunks)


def test_chunked_body_without_its_last_chunk_fails(https_server, pki, tmp_path):
    https_server.route("/c", http_response(200, b"4\r\nabcd\r\n", {"Transfer-Encoding": "chunked"}))
    dest = str(tmp_path / "c.txt")
    rc, _, err = fetch(pki, https_server.url + "/c", dest)
    assert rc == 1
    assert err.startswith(f"fetch failed: HTTP 0: the answer from localhost:{https_server.port} was cut short")
    assert not os.path.exists(dest)


def test_body_to_the_close_of_the_connection(https_server, pki, tmp_path):
    https_server.route("/raw", b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nuntil the end")
    dest = str(tmp_path / "raw.txt")
    rc, _, err = fetch(pki, https_server.url + "/raw", dest)
    assert rc == 0, err
    assert read(dest) == b"until the end"


def test_short_body_is_a_failure(https_server, pki, tmp_path):
    https_server.route("/short", b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcdef")
    dest = str(tmp_path / "s.txt")
    rc, _, err = fetch(pki, https_server.url + "/short", dest)
    assert rc == 1
    assert err.startswith(f"fetch failed: HTTP 0: the answer from localhost:{https_server.port} was cut short")


def test_a_longer_body_is_cut_to_its_length(https_server, pki, tmp_path):
    https_server.route("/long", b"HTTP/1.1 200 OK\r\nX-Original-Content-Length: 2\r\nContent-Length: 4\r\n\r\nabcdefgh")
    dest = str(tmp_path / "l.txt")
    rc, _, err = fetch(pki, https_server.url + "/long", dest)
    assert rc == 0, err
    assert read(dest) == b"abcd"


def test_404_is_reported_with_its_status(https_server, pki, tmp_path):
    dest = str(tmp_path / "x")
    rc, out, err = fetch(pki, https_server.url + "/missing", dest)
    assert rc == 1
    assert err.startswith("fetch failed: HTTP 404: ") and "check the URL" in err
    assert out == ""
    assert not os.path.exists(dest)


def test_redirects_relative_absolute_path_and_scheme_relative(https_server, pki, tmp_path):
    https_server.route("/a/b", http_response(302, "", {"Location": "c?x=1"}))
    https_server.route("/a/c", http_response(301, "", {"Location": "/d"}))
    https_server.route("/d", http_response(307, "", {"Location": "//localhost:%d/e" % https_server.port}))
    https_server.route("/e", http_response(200, "arrived"))
    dest = str(tmp_path / "r.txt")
    rc, _, err = fetch(pki, https_server.url + "/a/b?q=1", dest)
    assert rc == 0, err
    assert read(dest) == b"arrived"
    assert [r.path for r in https_server.wait_requests(4)] == ["/a/b?q=1", "/a/c?x=1", "/d", "/e"]


def test_redirect_to_http_is_refused(https_server, pki, tmp_path):
    https_server.route("/a", http_response(302, "moved", {"Location": "http://localhost:%d/b" % https_server.port}))
    https_server.route("/b", http_response(200, "plain"))
    dest = str(tmp_path / "r.txt")
    rc, _, err = fetch(pki, https_server.url + "/a", dest)
    assert rc == 1
    assert err.startswith(f"fetch failed: HTTP 0: localhost:{https_server.port} redirected the request away from "
                          "https://")
    assert len(https_server.requests) == 1


def test_five_redirects_are_followed_and_the_sixth_is_refused(https_server, pki, tmp_path):
    for i in range(5):
        https_server.route("/r%d" % i, http_response(302, "", {"Location": "/r%d" % (i + 1)}))
    https_server.route("/r5", http_response(200, "five"))
    dest = str(tmp_path / "five.txt")
    rc, _, err = fetch(pki, https_server.url + "/r0", dest)
    assert rc == 0, err
    assert read(dest) == b"five"

    https_server.route("/r5", http_response(302, "", {"Location": "/r6"}))
    https_server.route("/r6", http_response(200, "six"))
    del https_server.requests[:]
    dest6 = str(tmp_path / "six.txt")
    rc, _, err = fetch(pki, https_server.url + "/r0", dest6)
    assert rc == 1
    assert err.startswith(f"fetch failed: HTTP 0: localhost:{https_server.port} redirected the request more than 5 "
                          "times")
    assert len(https_server.requests) == 6
    assert not os.path.exists(dest6)


def test_http_urls_are_never_fetched(tmp_path):
    rc, _, err = run_exe(["--fetch", "http://127.0.0.1:9/x", winpath(str(tmp_path / "x"))], timeout=60)
    assert rc == 1
    assert err.startswith("fetch failed: HTTP 0: ")
    assert '"http://127.0.0.1:9/x" is not an https:// address' in err


@pytest.mark.parametrize("which", list(BAD_CERTIFICATES))
def test_a_certificate_that_does_not_verify_is_refused_with_its_cause(pki, tmp_path, which):
    cert, key = make_bad_certificate(pki, which, str(tmp_path))
    server = FakeHttpsServer(pki.server_context(cert=cert, key=key))
    try:
        server.route("/x", http_response(200, "secret"))
        rc, _, err = fetch(pki, server.url + "/x", str(tmp_path / "x"))
    finally:
        server.close()
    assert rc == 1
    cause = BAD_CERTIFICATES[which].format(ca=winpath(pki.ca_pem))
    assert err.startswith(f"fetch failed: HTTP 0: localhost:{server.port}: {cause}"), err
    assert not os.path.exists(str(tmp_path / "x"))


def test_unwritable_destination(https_server, pki, tmp_path):
    https_server.route("/x", http_response(200, "data"))
    blocker = tmp_path / "dir"
    blocker.mkdir()
    rc, _, err = fetch(pki, https_server.url + "/x", str(blocker))
    assert rc == 1
    assert err.startswith("fetch failed: cannot write %s: " % winpath(str(blocker)))
