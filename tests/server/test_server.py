#!/usr/bin/env python3
"""Scripted HTTP/HTTPS server for the network tests and the benchmark:
standard library only, HTTP written by hand so a behaviour can break the
protocol exactly where a test wants it broken.

    test_server.py certs DIR [HOST...]
        Makes this run's CA and the server certificates the tests need (and
        named.pem for the HOSTs); writes DIR/done last.
    test_server.py serve DIR [--tls CERT [--client-auth]] [--idle S] [--lifetime S] [--port N]
        Listens on 127.0.0.1:N (default 0), with --tls presenting CERT (its key
        is leaf.key beside it), with --client-auth demanding a client
        certificate. Reads DIR/script.json, writes DIR/port, one JSON line per
        request to DIR/requests.log, and DIR/exited when it ends.

The server ends by itself (under Wine a test cannot reliably kill a Linux
child): when every counted behaviour is used, when DIR/stop appears, after
--idle seconds without a connection, and at --lifetime seconds in any case.

script.json is a list of behaviours; a request (read whole first) takes the
first whose "path" matches (or that has none) and whose "times" (default 1,
0 = unlimited) is not used up. Fields:

  action     "respond" (default) | "close" (no answer) | "stall" (close after "ms")
  status, headers ([[name, value], ...]; "{base}" becomes this server's URL)
  body       text (latin-1), or body_size: that many bytes, byte i = i % 256,
             streamed; "chunked" sends them as one chunk after chunk_line (a
             size line as given) without an end, or in chunks of chunk_size
  framing    "length" (default) | "chunked" | "close" (the close ends the body)
  raw        this text instead of a built answer
  echo       true: the body is the request's
  body_file  the body is this file's bytes (a Unix path)
  close_notify  false: a TLS connection ends without a close notification
  pace       [bytes, ms]: the answer trickles, that many bytes every ms
  cut_at     with body_size: close after that many body bytes
  ranges     with body_size: "Range: bytes=N-" gets 206 and the bytes from N
             (the Content-Range HTTP writes, or content_range as given)
  proxy      true: an HTTP proxy (CONNECT, or an absolute URL with a port); with
             "auth" ("user:password") a request without that Basic
             Proxy-Authorization gets a 407. Records {"event": "relayed",
             "method", "target", "up", "down"} (bytes each way)
"""

import base64
import contextlib
import json
import os
import pathlib
import select
import socket
import ssl
import subprocess
import sys
import threading
import time
from http import HTTPStatus

PATTERN = bytes(range(256)) * 4096  # 1 MiB; body byte i is i % 256


def write_atomic(path, text):
    pathlib.Path(path + ".tmp").write_text(text)
    os.replace(path + ".tmp", path)


# ---------------------------------------------------------------- certificates

def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certs(directory, hosts=()):
    os.makedirs(directory, exist_ok=True)
    for ca, cn in (("ca", "Tarnwick Test CA"), ("other-ca", "Tarnwick Untrusted CA")):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", ca + ".key",
                "-out", ca + ".pem", "-days", "30", "-subj", "/CN=%s %d" % (cn, os.getpid()),
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=directory)
    # One key for every server certificate; each is signed from a request of its own
    # that carries its extensions.
    openssl("genpkey", "-algorithm", "RSA", "-out", "leaf.key", cwd=directory)
    local = "DNS:localhost,IP:127.0.0.1"
    # The expired one's validity ends a day before it begins.
    for ca, out, names, days in (("ca", "good", local, 30), ("ca", "wronghost", "DNS:wrong.invalid", 30),
                                 ("ca", "expired", local, -1), ("other-ca", "untrusted", local, 30),
                                 ("ca", "named", ",".join("DNS:" + h for h in hosts), 30)):
        if not names:
            continue
        openssl("req", "-new", "-key", "leaf.key", "-subj", "/CN=localhost", "-out", out + ".csr",
                "-addext", "basicConstraints=critical,CA:FALSE", "-addext", "extendedKeyUsage=serverAuth",
                "-addext", "keyUsage=critical,digitalSignature,keyEncipherment",
                "-addext", "subjectAltName=" + names, cwd=directory)
        openssl("x509", "-req", "-in", out + ".csr", "-copy_extensions", "copy", "-CA", ca + ".pem",
                "-CAkey", ca + ".key", "-days", str(days), "-sha256", "-out", out + ".pem", cwd=directory)
    # The CA in DER too, for the Windows certificate store.
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=directory)
    write_atomic(os.path.join(directory, "done"), "ok\n")


# ---------------------------------------------------------------------- server

class Server:
    def __init__(self, directory, tls=None, client_auth=False, idle=5.0, lifetime=60.0, port=0):
        self.dir, self.idle, self.deadline = directory, idle, time.monotonic() + lifetime
        with open(os.path.join(directory, "script.json")) as f:
            self.script = [dict(b, _left=b.get("times", 1) or -1) for b in json.load(f)]
        self.lock, self.last_activity = threading.Lock(), time.monotonic()
        self.log = open(os.path.join(directory, "requests.log"), "a")
        self.context = None
        if tls:
            certs = os.path.dirname(os.path.abspath(tls))
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(tls, os.path.join(certs, "leaf.key"))
            if client_auth:
                self.context.verify_mode = ssl.CERT_REQUIRED
                self.context.load_verify_locations(os.path.join(certs, "ca.pem"))
        self.listener = socket.create_server(("127.0.0.1", port), backlog=64)
        self.listener.settimeout(0.05)
        self.port = self.listener.getsockname()[1]
        self.base = ("https://localhost:%d" if tls else "http://127.0.0.1:%d") % self.port

    def record(self, entry):
        with self.lock:
            print(json.dumps(entry), file=self.log, flush=True)

    def take(self, path):
        """The first behaviour left for the path, used once more; None when none is."""
        with self.lock:
            for b in self.script:
                if b["_left"] != 0 and b.get("path", path) == path:
                    b["_left"] -= 1  # unlimited ones count down from -1 and never reach 0
                    return b
        return None

    def run(self):
        write_atomic(os.path.join(self.dir, "port"), "%d\n" % self.port)
        while True:
            # Each connection is a thread of its own, served to its end.
            busy, quiet = threading.active_count() > 1, time.monotonic() - self.last_activity
            used_up = self.script and not busy and all(b["_left"] == 0 for b in self.script)
            if used_up or time.monotonic() > self.deadline or (not busy and quiet > self.idle) \
                    or os.path.exists(os.path.join(self.dir, "stop")):
                break
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            self.last_activity = time.monotonic()
            threading.Thread(target=self.serve_connection, args=(conn,), daemon=True).start()
        write_atomic(os.path.join(self.dir, "exited"), "ok\n")
        os._exit(0)

    def serve_connection(self, conn):
        behaviour = {}
        try:
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conn.settimeout(30)
            if self.context:
                try:
                    conn = self.context.wrap_socket(conn, server_side=True)
                except OSError as e:
                    return self.record({"event": "tls-failed", "error": str(e)})
            request = read_request(conn)
            if request is None:
                return self.record({"event": "no-request"})
            self.record(request)
            behaviour = self.take(request["target"].split("?", 1)[0]) or \
                {"status": 404, "body": "no behaviour left\n"}
            self.behave(conn, behaviour, request)
        except OSError:
            pass  # the client went away first; what it sent is already recorded
        finally:
            with contextlib.suppress(OSError, ValueError):
                if behaviour.get("close_notify", True) and isinstance(conn, ssl.SSLSocket):
                    conn.settimeout(2)
                    conn.unwrap()  # close_notify, so the client sees a clean end
            conn.close()
            self.last_activity = time.monotonic()

    def behave(self, conn, b, request):
        if b.get("proxy"):
            return self.relay(conn, b, request)
        if b.get("action") == "stall":
            time.sleep(b.get("ms", 1000) / 1000.0)
        if b.get("action") in ("close", "stall"):
            return
        send = paced(conn, *b["pace"]) if "pace" in b else conn.sendall
        if "raw" in b:
            return send(b["raw"].encode("latin-1"))
        body = (request["body"] if b.get("echo") else b.get("body", "")).encode("latin-1")
        if "body_file" in b:
            body = pathlib.Path(b["body_file"]).read_bytes()
        status, headers, framing = b.get("status", 200), b.get("headers", []), b.get("framing", "length")
        size, offset = b.get("body_size", len(body)), 0
        wanted = [v for n, v in request["headers"] if n.lower() == "range"]
        if b.get("ranges") and wanted and wanted[0].startswith("bytes="):
            offset, status = int(wanted[0][6:].split("-")[0]), 206
            headers = headers + [["Content-Range", b.get(
                "content_range", "bytes %d-%d/%d" % (offset, size - 1, size))]]
            size -= offset
        head = "HTTP/1.1 %d %s\r\n" % (status, HTTPStatus(status).phrase) + "".join(
            "%s: %s\r\n" % (name, value.replace("{base}", self.base)) for name, value in headers)
        head += {"length": "Content-Length: %d\r\n" % size, "chunked": "Transfer-Encoding: chunked\r\n"}.get(
            framing, "") + "Connection: close\r\n\r\n"
        if "body_size" not in b:
            return send(head.encode("latin-1") + (
                chunks(body, 7) + b"0\r\n\r\n" if framing == "chunked" else body))
        if framing == "chunked" and "chunk_size" not in b:
            head += b.get("chunk_line", "%x" % size) + "\r\n"
        send(head.encode("latin-1"))
        stream(send, min(size, b.get("cut_at", size)), offset, b.get("chunk_size", 0))

    def relay(self, conn, b, request):
        given = [v for n, v in request["headers"] if n.lower() == "proxy-authorization"]
        if b.get("auth") and given[:1] != ["Basic " + base64.b64encode(b["auth"].encode()).decode()]:
            return conn.sendall(
                b"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n")
        method, target = request["method"], request["target"]
        authority, _, path = target.split("://", 1)[-1].partition("/")
        host, _, port = authority.rpartition(":")
        upstream = socket.create_connection((host.strip("[]"), int(port)), timeout=30)
        first = b""
        if method == "CONNECT":
            conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        else:
            head = ["%s /%s %s" % (method, path, request["version"])] + [
                "%s: %s" % tuple(h) for h in request["headers"] if h[0].lower() != "proxy-authorization"]
            first = ("\r\n".join(head) + "\r\n\r\n" + request["body"]).encode("latin-1")
            upstream.sendall(first)
        moved, other = {conn: len(first), upstream: 0}, {conn: upstream, upstream: conn}
        live = [conn, upstream]
        while live and (ready := select.select(live, [], [], 30)[0]):
            for side in ready:
                try:
                    data = side.recv(65536)
                    other[side].sendall(data) if data else other[side].shutdown(socket.SHUT_WR)
                except OSError:
                    data = b""
                moved[side] += len(data)
                if not data:
                    live.remove(side)
        upstream.close()
        self.record({"event": "relayed", "method": method, "target": target,
                     "up": moved[conn], "down": moved[upstream]})


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(65536)
        data += piece
        if not piece or len(data) > 1 << 20:
            return None
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    headers = [[n, v.strip()] for n, _, v in (line.partition(":") for line in lines[1:])]
    length = int(next((v for n, v in headers if n.lower() == "content-length"), 0))
    while len(body) < length and (piece := conn.recv(65536)):
        body += piece
    method, target, version = (lines[0].split(" ") + ["", ""])[:3]
    return {"method": method, "target": target, "version": version, "headers": headers,
            "body": body.decode("latin-1")}


def chunks(body, size):
    """The body framed as chunks of `size` bytes, without the last chunk."""
    return b"".join(b"%x\r\n" % len(p) + p + b"\r\n"
                    for p in (body[i:i + size] for i in range(0, len(body), size)))


def stream(send, size, offset=0, chunk=0):
    """Large bodies straight from one 1 MiB block, so the server is never the slow
    end of a benchmark; byte i of the body is still i % 256 when it starts at offset.
    With `chunk`, framed in chunks of that size (for the benchmark's 64 KiB chunks the
    same framed block each time), then the last chunk."""
    view = memoryview(PATTERN + PATTERN[:256])[offset % 256:]
    block = chunk and chunks(PATTERN, chunk)
    for sent in range(0, size, len(PATTERN)):
        piece = view[:min(len(PATTERN), size - sent)]
        send(chunks(piece, chunk) if chunk and len(piece) < len(PATTERN) else block or piece)
    if chunk:
        send(b"0\r\n\r\n")


def paced(conn, size, ms):
    """A sendall that trickles: pieces of `size` bytes, `ms` apart."""
    def send(data):
        for i in range(0, len(data), size):
            conn.sendall(data[i:i + size])
            time.sleep(ms / 1000.0)
    return send


def main(argv):
    os.environ["PATH"] = "/usr/bin:/bin:" + os.environ.get("PATH", "")
    if len(argv) >= 3 and argv[1] == "certs":
        return make_certs(argv[2], argv[3:])
    if len(argv) >= 3 and argv[1] == "serve":
        args = [a for a in argv[3:] if a != "--client-auth"]
        kinds = {"--tls": str, "--idle": float, "--lifetime": float, "--port": int}
        options = {flag[2:]: kinds[flag](value) for flag, value in zip(args[::2], args[1::2])}
        return Server(argv[2], client_auth="--client-auth" in argv, **options).run()
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
