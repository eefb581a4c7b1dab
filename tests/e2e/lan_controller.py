"""An independent LAN direct controller: SRP-6a with Python integers and
AES-256-GCM frames with `cryptography`, written from the protocol description
(not from the host's code) so the two implementations check each other.

Handshake (every message: 4-byte big-endian length, then the bytes):
  [ticket mode: controller -> ticket id]
  host -> salt, host -> B, controller -> A, controller -> M1,
  host -> M2 (32 bytes), or an empty message when the host refuses.
Frames: u32 length L | u8 type (0 text, 1 binary) | nonce (role, 0, 0, 0, u64 counter)
        | ciphertext (L) | tag (16); the type byte is the additional data.
"""
import hashlib
import os
import socket
import struct

from cryptography.hazmat.primitives.ciphers.aead import AESGCM

# RFC 5054, appendix A, the 3072-bit group.
N_HEX = (
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74"
    "020BBEA63B139B22514A08798E3404DDEF9519B3CD3A431B302B0A6DF25F1437"
    "4FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3DC2007CB8A163BF05"
    "98DA48361C55D39A69163FA8FD24CF5F83655D23DCA3AD961C62F356208552BB"
    "9ED529077096966D670C354E4ABC9804F1746C08CA18217C32905E462E36CE3B"
    "E39E772C180E86039B2783A2EC07A28FB5C55DF06F4C52C9DE2BCBF695581718"
    "3995497CEA956AE515D2261898FA051015728E5A8AAAC42DAD33170D04507A33"
    "A85521ABDF1CBA64ECFB850458DBEF0A8AEA71575D060C7DB3970F85A6E1E4C7"
    "ABF5AE8CDB0933D71E8C94E04A25619DCEE3D2261AD2EE6BF12FFA06D98A0864"
    "D87602733EC86A64521F2B18177B200CBBE117577A615D6C770988C0BAD946E2"
    "08E24FA074E5AB3143DB5BFCE0FD108E4B82D120A93AD2CAFFFFFFFFFFFFFFFF"
)
N = int(N_HEX, 16)
G = 5
NLEN = 384
IDENTITY = b"sorvane-lan"
MAX_FRAME = 0x2000000
ROLE_CLIENT = 0
ROLE_HOST = 1


def H(data):
    return hashlib.sha256(data).digest()


def pad(data):
    """Big-endian bytes brought to exactly 384 bytes (the last 384 when longer)."""
    if isinstance(data, int):
        data = data.to_bytes((data.bit_length() + 7) // 8 or 1, "big")
    if len(data) >= NLEN:
        return data[-NLEN:]
    return b"\x00" * (NLEN - len(data)) + data


def to_int(data):
    return int.from_bytes(data, "big")


def compute_x(salt, password):
    return H(salt + H(IDENTITY + b":" + password.encode("utf-8")))


def compute_k():
    return H(N.to_bytes(NLEN, "big") + pad(bytes([G])))


def compute_u(A, B):
    return H(pad(A) + pad(B))


def make_verifier(salt, password):
    return pow(G, to_int(compute_x(salt, password)), N).to_bytes(NLEN, "big")


def session_key(S):
    """K = H(T) with T = H(PAD(S)) without its leading zero bytes."""
    return H(H(pad(S)).lstrip(b"\x00"))


def proof_m1(A, B, S):
    return H(pad(A) + pad(B) + pad(S))


def proof_m2(A, M1, S):
    return H(pad(A) + pad(M1) + pad(S))


class SrpClient:
    """The controller's half of the proof."""

    def __init__(self, password, a=None):
        self.password = password
        self.a = a if a is not None else (int.from_bytes(os.urandom(NLEN), "big") % (N - 1)) or 1

    def respond(self, salt, B):
        """Returns (A, M1) as bytes for the host's salt and B."""
        b_int = to_int(B)
        if b_int % N == 0:
            raise ValueError("host sent B = 0 mod N")
        A = pow(G, self.a, N).to_bytes(NLEN, "big")
        u = to_int(compute_u(A, B))
        x = to_int(compute_x(salt, self.password))
        k = to_int(compute_k())
        base = (b_int - k * pow(G, x, N)) % N
        S = pow(base, self.a + u * x, N).to_bytes(NLEN, "big")
        self.A, self.S = A, S
        self.M1 = proof_m1(A, B, S)
        self.K = session_key(S)
        return A, self.M1

    def check_m2(self, M2):
        return len(M2) > 0 and M2.lstrip(b"\x00") == proof_m2(self.A, self.M1, self.S).lstrip(b"\x00")


def srp_vectors(salt, password, A, B, S):
    """The seven values the host prints for --srp-vectors, as hex."""
    M1 = H(pad(A) + pad(B) + pad(S))
    return {
        "x": compute_x(salt, password).hex(),
        "k": compute_k().hex(),
        "u": compute_u(A, B).hex(),
        "M1": M1.hex(),
        "M2": H(pad(A) + pad(M1) + pad(S)).hex(),
        "key": session_key(S).hex(),
        "v": make_verifier(salt, password).hex()[:48],
    }


# ---- sockets ---------------------------------------------------------------

def recv_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError(f"peer closed after {len(data)} of {n} bytes")
        data += chunk
    return data


def send_message(sock, data):
    sock.sendall(struct.pack(">I", len(data)) + data)


def recv_message(sock, bound=4096):
    (length,) = struct.unpack(">i", recv_exact(sock, 4))
    if length < 0 or length > bound:
        raise ValueError(f"handshake message length {length}")
    return recv_exact(sock, length)


class HandshakeRefused(Exception):
    pass


class Channel:
    """The controller's end of the framed channel."""

    def __init__(self, sock, key, role=ROLE_CLIENT):
        self.sock = sock
        self.aead = AESGCM(key)
        self.role = role
        self.send_counter = 0
        self.recv_counter = 0

    def seal(self, payload, ftype=0, counter=None, role=None):
        """One frame's bytes (counter and role may be forced for attack tests)."""
        counter = self.send_counter if counter is None else counter
        role = self.role if role is None else role
        nonce = bytes([role, 0, 0, 0]) + struct.pack(">Q", counter)
        sealed = self.aead.encrypt(nonce, payload, bytes([ftype]))
        return struct.pack(">IB", len(payload), ftype) + nonce + sealed

    def send(self, payload, ftype=0):
        self.sock.sendall(self.seal(payload, ftype))
        self.send_counter += 1

    def send_raw(self, data):
        self.sock.sendall(data)

    def recv(self):
        """Returns (type, payload); raises on a bad frame."""
        length, ftype = struct.unpack(">IB", recv_exact(self.sock, 5))
        if length > MAX_FRAME:
            raise ValueError("implausible frame length")
        nonce = recv_exact(self.sock, 12)
        body = recv_exact(self.sock, length + 16)
        if nonce[0] != (self.role ^ 1) or nonce[1:4] != b"\x00\x00\x00" or \
                struct.unpack(">Q", nonce[4:])[0] != self.recv_counter:
            raise ValueError("out-of-sequence frame")
        payload = self.aead.decrypt(nonce, body, bytes([ftype]))
        self.recv_counter += 1
        return ftype, payload

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def connect(port, password, host="127.0.0.1", ticket_id=None, timeout=20.0, a=None):
    """Runs the whole handshake; returns a Channel or raises HandshakeRefused."""
    sock = socket.create_connection((host, port), timeout=timeout)
    try:
        if ticket_id is not None:
            send_message(sock, ticket_id.encode("utf-8"))
        salt = recv_message(sock)
        if not salt:
            raise HandshakeRefused("empty message instead of the salt")
        B = recv_message(sock)
        client = SrpClient(password, a=a)
        A, M1 = client.respond(salt, B)
        send_message(sock, A)
        send_message(sock, M1)
        M2 = recv_message(sock)
        if not M2:
            raise HandshakeRefused("empty message instead of M2")
        if not client.check_m2(M2):
            raise HandshakeRefused("host proof M2 does not verify")
        return Channel(sock, client.K)
    except BaseException:
        sock.close()
        raise
