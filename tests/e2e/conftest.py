"""End-to-end harness: the real host under Wine against Python peers on 127.0.0.1."""
import asyncio
import glob
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import threading
import time

import pytest
import websockets

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("SV_BUILD_DIR", os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
EXE = os.path.join(BIN, "sorvane-host-win7.exe")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")


def pytest_configure(config):
    """Each parallel worker gets a display and a Wine prefix of its own: Wine ties its
    desktop to one display per prefix, and tests that move the pointer or paint the
    screen must not see each other."""
    worker = os.environ.get("PYTEST_XDIST_WORKER")
    if not worker:
        return
    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", os.environ.get("SV_SCREEN", "1280x720x24"),
                             "-nolisten", "tcp", "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    deadline = time.monotonic() + 10
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    os.environ["SV_WINEPREFIX"] = os.path.join(BUILD, "wineprefix-" + worker)
    config._sv_xvfb = xvfb


def pytest_unconfigure(config):
    xvfb = getattr(config, "_sv_xvfb", None)
    if xvfb is None:
        return
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.environ["SV_WINEPREFIX"]),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    xvfb.kill()
    xvfb.wait()


def wine_prefix():
    """The Wine prefix the host runs in (each parallel worker has its own)."""
    return os.environ.get("SV_WINEPREFIX", os.path.join(BUILD, "wineprefix"))


def winpath(path):
    """A Linux path as Wine sees it (drive Z: maps to /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_until(predicate, timeout=10.0, interval=0.05, message="condition"):
    """Polls `predicate` until it returns a truthy value; fails the test after `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {message}")
        time.sleep(interval)


def stop_listener(sock, thread, timeout=5.0):
    """Ends a fake server's accept loop: closing a listening socket does not wake a thread
    blocked in accept() on Linux (the call keeps the socket, and its port, alive), so it
    is shut down first. A thread that still does not end is an error of the fake."""
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    try:
        sock.close()
    except OSError:
        pass
    if thread is not None:
        thread.join(timeout)
        if thread.is_alive():
            raise AssertionError(f"{thread.name} of a fake server did not end within {timeout}s")


# One-shot words after which the program ends without starting the update thread.
_ONE_SHOTS = {"--fetch", "--enroll-only", "--install-service", "--uninstall-service", "--self-test-update",
              "--self-test-lan", "--uia-tree", "--uia-focus", "--help", "-h"}


def reaches_update_api(exe, args):
    """Whether this start of the release build would ask the real update API: a running
    host without "--no-update", or "--check-update". Tests use the update-test build
    (tests/e2e/test_update.py) for those."""
    if os.path.abspath(exe) != os.path.abspath(EXE):
        return False
    if args and args[0] in ("--apply-update", "--srp-vectors"):
        return False
    if _ONE_SHOTS.intersection(args):
        return False
    return "--check-update" in args or "--no-update" not in args


class WinProcess:
    """A Windows program started under Wine; always killed at clean-up."""

    def __init__(self, exe, args, cwd=None, env=None):
        if reaches_update_api(exe, list(args)):
            raise AssertionError("the release build would reach the real update API: add --no-update")
        self.out_path = tempfile.mktemp(prefix="sv-out-")
        self.err_path = tempfile.mktemp(prefix="sv-err-")
        self._out = open(self.out_path, "wb")
        self._err = open(self.err_path, "wb")
        full_env = dict(os.environ)
        if env:
            full_env.update(env)
        self.proc = subprocess.Popen(["bash", WINE_RUN, exe] + list(args), stdout=self._out, stderr=self._err,
                                     stdin=subprocess.DEVNULL, cwd=cwd, env=full_env, start_new_session=True)

    def stdout(self):
        self._out.flush()
        with open(self.out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr(self):
        self._err.flush()
        with open(self.err_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait(self, timeout=60):
        return self.proc.wait(timeout=timeout)

    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        self._out.close()
        self._err.close()
        for p in (self.out_path, self.err_path):
            try:
                os.unlink(p)
            except OSError:
                pass


def run_exe(args, timeout=60, exe=EXE, env=None, cwd=None):
    """Runs the host (or another program) to completion; returns (exit code, stdout, stderr)."""
    p = WinProcess(exe, args, env=env, cwd=cwd)
    try:
        rc = p.wait(timeout=timeout)
        return rc, p.stdout(), p.stderr()
    finally:
        p.kill()


@pytest.fixture
def data_dir():
    d = tempfile.mkdtemp(prefix="sv-data-")
    yield d
    shutil.rmtree(d, ignore_errors=True)


@pytest.fixture
def processes():
    """Starts Windows programs for one test and kills whatever is left at its end."""
    started = []

    def start(args, exe=EXE, env=None, cwd=None):
        p = WinProcess(exe, args, env=env, cwd=cwd)
        started.append(p)
        return p

    yield start
    for p in started:
        p.kill()


def read_audit(data_dir):
    """Every audit line in the data directory, oldest file first."""
    lines = []
    for path in sorted(glob.glob(os.path.join(data_dir, "audit-*.log"))):
        with open(path, "rb") as f:
            lines.extend(f.read().decode("utf-8", "replace").splitlines())
    return lines


def audit_entries(data_dir, kind=None):
    """Audit lines split into (kind, actor, detail) tuples, optionally of one kind."""
    out = []
    for line in read_audit(data_dir):
        parts = line.split(" | ", 3)
        if len(parts) < 3:
            continue
        if len(parts) == 4 and parts[2].startswith("actor="):
            entry = (parts[1], parts[2][len("actor="):], parts[3])
        else:
            entry = (parts[1], "", " | ".join(parts[2:]))
        if kind is None or entry[0] == kind:
            out.append(entry)
    return out


# ---------------------------------------------------------------- training controller

class Controller:
    """Sends "training-request" messages as one controller and waits for each answer."""

    def __init__(self, conn):
        self.conn = conn
        self.n = 0

    def request(self, op, args=None, controller="ctl-1", timeout=20.0):
        self.n += 1
        rid = f"{op}-{self.n}"
        msg = {"type": "training-request", "id": rid, "op": op, "from": controller}
        if args is not None:
            msg["args"] = args
        self.conn.send(msg)
        return self.conn.wait_message(lambda m: m.get("type") == "training-result" and m.get("id") == rid, timeout)

    def raw_reply(self, rid):
        for t in list(self.conn.texts):
            if isinstance(t, str) and f'"id":"{rid}"' in t:
                return t
        return None


# ---------------------------------------------------------------- input probe window

class InputProbe:
    """tests/helpers/input_probe.cpp: a window over the whole screen that writes what input
    reached it to a JSON state file."""

    def __init__(self, start):
        fd, self.path = tempfile.mkstemp(prefix="sv-probe-", suffix=".json")
        os.close(fd)
        os.unlink(self.path)
        self.proc = start([winpath(self.path)], exe=os.path.join(BIN, "input_probe.exe"))
        wait_until(lambda: self.state().get("ready") and self.state().get("focus"), 60, message="probe window")

    def state(self):
        try:
            with open(self.path, "rb") as f:
                return json.loads(f.read().decode("utf-8"))
        except (OSError, ValueError):
            return {}

    def wait(self, predicate, what, timeout=15):
        return wait_until(lambda: (lambda s: s if s and predicate(s) else None)(self.state()), timeout,
                          message=what)

    def cleanup(self):
        for p in (self.path, self.path + ".tmp"):
            try:
                os.unlink(p)
            except OSError:
                pass


# ---------------------------------------------------------------- test certificates

def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_ca(directory, name="Sorvane Test CA"):
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
             "-subj", f"/CN={name}", cwd=directory)
    return os.path.join(directory, "ca.pem"), os.path.join(directory, "ca.key")


def make_server_cert(directory, ca_pem, ca_key, host="localhost", prefix="server"):
    ext = os.path.join(directory, prefix + ".ext")
    with open(ext, "w") as f:
        f.write(f"subjectAltName=DNS:{host},IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", prefix + ".key", "-out", prefix + ".csr",
             "-subj", f"/CN={host}", cwd=directory)
    _openssl("x509", "-req", "-in", prefix + ".csr", "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
             "-out", prefix + ".pem", "-days", "2", "-extfile", ext, cwd=directory)
    return os.path.join(directory, prefix + ".pem"), os.path.join(directory, prefix + ".key")


class TestPki:
    def __init__(self, directory):
        self.dir = directory
        self.ca_pem, self.ca_key = make_ca(directory)
        self.cert, self.key = make_server_cert(directory, self.ca_pem, self.ca_key)

    def server_context(self, cert=None, key=None, min_version=None, max_version=None):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert or self.cert, key or self.key)
        if min_version:
            ctx.minimum_version = min_version
        if max_version:
            ctx.maximum_version = max_version
        return ctx


@pytest.fixture(scope="session")
def pki():
    d = tempfile.mkdtemp(prefix="sv-pki-")
    yield TestPki(d)
    shutil.rmtree(d, ignore_errors=True)


# ---------------------------------------------------------------- fake relay

class RelayConnection:
    """One WebSocket client connected to the fake relay."""

    def __init__(self, relay, ws):
        self.relay = relay
        self.ws = ws
        self.texts = []
        self.binaries = []
        self.closed = False
        self.close_code = None  # the code of the host's close frame; 1006 when it sent none
        self.lock = threading.Lock()

    def send(self, message):
        """Sends a dict (as JSON), a str or bytes to this client."""
        if isinstance(message, dict):
            message = json.dumps(message)
        fut = asyncio.run_coroutine_threadsafe(self.ws.send(message), self.relay.loop)
        fut.result(timeout=10)

    def close(self):
        fut = asyncio.run_coroutine_threadsafe(self.ws.close(), self.relay.loop)
        try:
            fut.result(timeout=10)
        except Exception:
            pass

    def messages(self):
        """Text messages received so far, parsed as JSON where possible."""
        with self.lock:
            out = []
            for t in self.texts:
                try:
                    out.append(json.loads(t))
                except ValueError:
                    out.append(t)
            return out

    def wait_message(self, predicate=None, timeout=15.0, start=0):
        """The first parsed text message (from index `start`) matching `predicate`."""
        def find():
            for m in self.messages()[start:]:
                if predicate is None or (isinstance(m, dict) and predicate(m)):
                    return m
            return None
        return wait_until(find, timeout, message="relay message")

    def wait_type(self, type_name, timeout=15.0, start=0):
        return self.wait_message(lambda m: m.get("type") == type_name, timeout, start)

    def wait_binary(self, count=1, timeout=15.0):
        def enough():
            with self.lock:
                return list(self.binaries) if len(self.binaries) >= count else None
        return wait_until(enough, timeout, message=f"{count} binary messages")


class FakeRelay:
    """A WebSocket server standing in for the relay, on 127.0.0.1 (ws:// or wss://).

    `on_connect(conn)` and `on_text(conn, text)` may be set to react; by default every
    connection is recorded and "host-register"/"device-register" are answered with
    {"type":"registered"} when `auto_register` is true.
    """

    def __init__(self, ssl_context=None, auto_register=True):
        self.ssl_context = ssl_context
        self.auto_register = auto_register
        self.connections = []
        self.lock = threading.Lock()
        self.on_text = None
        self.on_connect = None
        self.loop = asyncio.new_event_loop()
        self.port = None
        self._server = None
        self._ready = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        if not self._ready.wait(10):
            raise RuntimeError("fake relay did not start")

    @property
    def url(self):
        scheme = "wss" if self.ssl_context else "ws"
        host = "localhost" if self.ssl_context else "127.0.0.1"
        return f"{scheme}://{host}:{self.port}/"

    def _run(self):
        asyncio.set_event_loop(self.loop)

        async def start():
            self._server = await websockets.serve(self._handler, "127.0.0.1", 0, ssl=self.ssl_context,
                                                  max_size=None, ping_interval=None)
            self.port = self._server.sockets[0].getsockname()[1]
            self._ready.set()

        self.loop.run_until_complete(start())
        self.loop.run_forever()

    async def _handler(self, ws, path=None):
        conn = RelayConnection(self, ws)
        with self.lock:
            self.connections.append(conn)
        if self.on_connect:
            self.on_connect(conn)
        try:
            async for message in ws:
                if isinstance(message, bytes):
                    with conn.lock:
                        conn.binaries.append(message)
                    continue
                with conn.lock:
                    conn.texts.append(message)
                if self.on_text:
                    self.on_text(conn, message)
                elif self.auto_register:
                    try:
                        m = json.loads(message)
                    except ValueError:
                        continue
                    if isinstance(m, dict) and m.get("type") in ("host-register", "device-register"):
                        await ws.send(json.dumps({"type": "registered"}))
        except websockets.ConnectionClosed:
            pass
        finally:
            conn.close_code = ws.close_code
            conn.closed = True

    def wait_connection(self, index=0, timeout=30.0):
        def get():
            with self.lock:
                return self.connections[index] if len(self.connections) > index else None
        return wait_until(get, timeout, message=f"relay connection #{index}")

    def connection_count(self):
        with self.lock:
            return len(self.connections)

    def close(self):
        async def stop():
            self._server.close()
            await self._server.wait_closed()
        try:
            asyncio.run_coroutine_threadsafe(stop(), self.loop).result(timeout=10)
        except Exception:
            pass
        self.loop.call_soon_threadsafe(self.loop.stop)
        self._thread.join(timeout=10)


@pytest.fixture
def relay():
    r = FakeRelay()
    yield r
    r.close()


@pytest.fixture
def host(processes, relay, data_dir):
    """A classic host registered with the fake relay; returns its relay connection."""
    processes(["--data-dir", winpath(data_dir), "--relay", relay.url, "--no-update"])
    conn = relay.wait_connection(0, timeout=60)
    conn.wait_type("host-register", timeout=60)
    return conn


@pytest.fixture
def tls_relay(pki):
    r = FakeRelay(ssl_context=pki.server_context())
    yield r
    r.close()


# ---------------------------------------------------------------- fake HTTPS server

class HttpsRequest:
    """One request as it arrived: the raw bytes, and its parts."""

    def __init__(self, raw, head, body):
        self.raw = raw
        self.head = head
        self.body = body
        first = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        self.method = first[0] if first else ""
        self.path = first[1] if len(first) > 1 else ""

    def json(self):
        return json.loads(self.body.decode("utf-8"))


def http_response(status=200, body=b"", headers=None, reason="X"):
    """A complete response with a Content-Length (unless headers already frame it)."""
    if isinstance(body, str):
        body = body.encode("utf-8")
    lines = [f"HTTP/1.1 {status} {reason}"]
    headers = dict(headers or {})
    if not any(k.lower() in ("content-length", "transfer-encoding") for k in headers):
        headers["Content-Length"] = str(len(body))
    lines += [f"{k}: {v}" for k, v in headers.items()]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


class FakeHttpsServer:
    """A TLS server on 127.0.0.1 answering each path with scripted raw bytes.

    `route(path, answer)`: answer is bytes (sent, then the connection closes), a tuple
    (bytes, seconds) whose connection stays open and silent that long after the bytes, a
    callable taking the HttpsRequest and returning one of those, or a list of answers used
    in turn (the last one repeats). Unrouted paths get 404. Every request is kept in
    `requests`.
    """

    def __init__(self, ssl_context):
        self.ssl_context = ssl_context
        self.routes = {}
        self.requests = []
        self.lock = threading.Lock()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self._stop = False
        self._closing = threading.Event()
        self._thread = threading.Thread(target=self._accept_loop, daemon=True)
        self._thread.start()

    @property
    def url(self):
        return f"https://localhost:{self.port}"

    def route(self, path, answer):
        with self.lock:
            self.routes[path] = list(answer) if isinstance(answer, list) else [answer]

    def wait_requests(self, count=1, timeout=30.0):
        def enough():
            with self.lock:
                return list(self.requests) if len(self.requests) >= count else None
        return wait_until(enough, timeout, message=f"{count} HTTPS requests")

    def _accept_loop(self):
        while not self._stop:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        conn.settimeout(20)
        try:
            tls = self.ssl_context.wrap_socket(conn, server_side=True)
        except (OSError, ssl.SSLError):
            conn.close()
            return
        try:
            raw = b""
            while b"\r\n\r\n" not in raw:
                chunk = tls.recv(65536)
                if not chunk:
                    return
                raw += chunk
            head, body = raw.split(b"\r\n\r\n", 1)
            head += b"\r\n\r\n"
            length = 0
            for line in head.split(b"\r\n")[1:]:
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":", 1)[1].strip())
            while len(body) < length:
                chunk = tls.recv(65536)
                if not chunk:
                    break
                body += chunk
            req = HttpsRequest(head + body, head, body)
            with self.lock:
                self.requests.append(req)
                answers = self.routes.get(req.path.split("?", 1)[0]) or self.routes.get(req.path)
                if answers:
                    answer = answers[0] if len(answers) == 1 else answers.pop(0)
                else:
                    answer = http_response(404, "not found")
            if callable(answer):
                answer = answer(req)
            hold = 0
            if isinstance(answer, tuple):
                answer, hold = answer
            if answer:
                tls.sendall(answer)
            if hold:
                self._closing.wait(hold)
            try:
                tls.unwrap()
            except (OSError, ssl.SSLError, ValueError):
                pass
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def close(self):
        self._stop = True
        self._closing.set()
        stop_listener(self.sock, self._thread)


@pytest.fixture
def https_server(pki):
    s = FakeHttpsServer(pki.server_context())
    yield s
    s.close()
