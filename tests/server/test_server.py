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
             | "none" (no length header, for content_length)
  content_length  a Content-Length written as given
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
import select
import socket
import ssl
import subprocess
import sys
import threading
import time

REASONS = {100: "Continue", 200: "OK", 204: "No Content", 301: "Moved Permanently",
           302: "Found", 303: "See Other", 307: "Temporary Redirect",
           308: "Permanent Redirect", 404: "Not Found", 500: "Internal Server Error"}

PATTERN = bytes(range(256)) * 4096  # 1 MiB; body byte i is i % 256


def write_atomic(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


# ---------------------------------------------------------------- certificates

def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(name, cn, cwd):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
            "-keyout", name + ".key", "-out", name + ".pem", "-days", "30",
            "-subj", "/CN=" + cn,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=cwd)


def sign(ca, out, hosts, cwd, days=30):
    """Signs leaf.csr with the CA for the hosts; days=-1 makes one that has
    expired (its validity ends a day before it begins)."""
    san = ",".join(("IP:" if h[0].isdigit() else "DNS:") + h for h in hosts)
    with open(os.path.join(cwd, out + ".cnf"), "w") as f:
        f.write("basicConstraints = critical,CA:FALSE\n"
                "keyUsage = critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage = serverAuth\nsubjectAltName = " + san + "\n")
    openssl("x509", "-req", "-in", "leaf.csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
            "-set_serial", str(int.from_bytes(os.urandom(15), "big")), "-days", str(days),
            "-sha256", "-extfile", out + ".cnf", "-out", out + ".pem", cwd=cwd)


def make_certs(directory, hosts=()):
    os.makedirs(directory, exist_ok=True)
    make_ca("ca", "Tarnwick Test CA %d" % os.getpid(), directory)
    make_ca("other-ca", "Tarnwick Untrusted CA %d" % os.getpid(), directory)
    # One key for every server certificate; each certificate is a copy of it.
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key",
            "-out", "leaf.csr", "-subj", "/CN=localhost", cwd=directory)
    sign("ca", "good", ["localhost", "127.0.0.1"], directory)
    sign("ca", "wronghost", ["wrong.invalid"], directory)
    sign("ca", "expired", ["localhost", "127.0.0.1"], directory, -1)
    sign("other-ca", "untrusted", ["localhost", "127.0.0.1"], directory)
    if hosts:
        sign("ca", "named", list(hosts), directory)
    # The CA in DER too, for the Windows certificate store.
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=directory)
    write_atomic(os.path.join(directory, "done"), "ok\n")


# ---------------------------------------------------------------------- server

def available(behaviour):
    return behaviour.get("times", 1) == 0 or behaviour["_left"] > 0


class Server:
    def __init__(self, directory, tls_cert, client_auth, idle, lifetime, port=0):
        self.dir = directory
        self.idle = idle
        self.deadline = time.monotonic() + lifetime
        with open(os.path.join(directory, "script.json")) as f:
            self.script = json.load(f)
        for b in self.script:
            b["_left"] = b.get("times", 1)
        self.lock = threading.Lock()
        self.active = 0
        self.last_activity = time.monotonic()
        self.log = open(os.path.join(directory, "requests.log"), "a")
        self.context = None
        if tls_cert:
            certs = os.path.dirname(os.path.abspath(tls_cert))
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(tls_cert, os.path.join(certs, "leaf.key"))
            if client_auth:
                self.context.verify_mode = ssl.CERT_REQUIRED
                self.context.load_verify_locations(os.path.join(certs, "ca.pem"))
        self.listener = socket.create_server(("127.0.0.1", port), backlog=64)
        self.listener.settimeout(0.05)
        self.port = self.listener.getsockname()[1]
        self.base = ("https://localhost:%d" if tls_cert else "http://127.0.0.1:%d") % self.port

    def record(self, entry):
        with self.lock:
            self.log.write(json.dumps(entry) + "\n")
            self.log.flush()

    def exhausted(self):
        return bool(self.script) and not any(map(available, self.script))

    def take(self, path):
        with self.lock:
            for b in self.script:
                if available(b) and b.get("path", path) == path:
                    b["_left"] -= 1
                    return b
        return None

    def run(self):
        write_atomic(os.path.join(self.dir, "port"), "%d\n" % self.port)
        stop = os.path.join(self.dir, "stop")
        while True:
            now = time.monotonic()
            with self.lock:
                busy = self.active > 0
                quiet = now - self.last_activity
                used_up = self.exhausted() and not busy
            if used_up or now > self.deadline or os.path.exists(stop) or \
                    (not busy and quiet > self.idle):
                break
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            with self.lock:
                self.active += 1
                self.last_activity = time.monotonic()
            threading.Thread(target=self.serve_connection, args=(conn,), daemon=True).start()
        self.listener.close()
        self.log.close()
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
                except (ssl.SSLError, OSError) as e:
                    self.record({"event": "tls-failed", "error": str(e)})
                    return
            request = read_request(conn)
            if request is None:
                self.record({"event": "no-request"})
                return
            self.record(request)
            behaviour = self.take(request["target"].split("?", 1)[0]) or \
                {"status": 404, "body": "no behaviour left\n"}
            if behaviour.get("echo"):
                behaviour = dict(behaviour, body=request["body"])
            self.behave(conn, behaviour, request)
        except OSError:
            pass  # the client went away first; what it sent is already recorded
        finally:
            self.finish(conn, behaviour.get("close_notify", True))
            with self.lock:
                self.active -= 1
                self.last_activity = time.monotonic()

    def finish(self, conn, close_notify):
        with contextlib.suppress(ssl.SSLError, OSError, ValueError):
            if close_notify and isinstance(conn, ssl.SSLSocket):
                conn.settimeout(2)
                conn.unwrap()  # close_notify, so the client sees a clean end
        with contextlib.suppress(OSError):
            conn.close()

    def behave(self, conn, b, request):
        if b.get("proxy"):
            self.relay(conn, b, request)
            return
        if "pace" in b:
            conn = Paced(conn, *b["pace"])
        action = b.get("action", "respond")
        if action == "close":
            return
        if action == "stall":
            time.sleep(b.get("ms", 1000) / 1000.0)
            return
        if "raw" in b:
            conn.sendall(b["raw"].encode("latin-1"))
            return
        if "body_file" in b:
            with open(b["body_file"], "rb") as f:
                b = dict(b, body=f.read().decode("latin-1"))
        status = b.get("status", 200)
        size = b["body_size"] if "body_size" in b else len(b.get("body", "").encode("latin-1"))
        offset = 0
        wanted = [v for n, v in request["headers"] if n.lower() == "range"]
        if b.get("ranges") and wanted and wanted[0].startswith("bytes="):
            offset = int(wanted[0][6:].split("-")[0])
            status = 206
            b = dict(b, headers=b.get("headers", []) + [[
                "Content-Range", b.get("content_range", "bytes %d-%d/%d" % (offset, size - 1, size))]])
            size -= offset
        head = "HTTP/1.1 %d %s\r\n" % (status, REASONS.get(status, "Status"))
        for name, value in b.get("headers", []):
            head += "%s: %s\r\n" % (name, value.replace("{base}", self.base))
        framing = b.get("framing", "length")
        if "content_length" in b:
            head += "Content-Length: %s\r\n" % b["content_length"]
        elif framing == "length":
            head += "Content-Length: %d\r\n" % size
        if framing == "chunked":
            head += "Transfer-Encoding: chunked\r\n"
        head += "Connection: close\r\n\r\n"
        if "body_size" in b:
            if framing == "chunked" and "chunk_size" in b:
                stream_chunks(conn, head.encode("latin-1"), size, b["chunk_size"])
                return
            if framing == "chunked":
                head += b.get("chunk_line", "%x" % size) + "\r\n"
            stream_body(conn, head.encode("latin-1"), min(size, b.get("cut_at", size)), offset)
            return
        body = b.get("body", "").encode("latin-1")
        if framing == "chunked":
            body = chunks(body, 7) + b"0\r\n\r\n"
        conn.sendall(head.encode("latin-1") + body)


    def relay(self, conn, b, request):
        given = [v for n, v in request["headers"] if n.lower() == "proxy-authorization"]
        if "auth" in b and given[:1] != ["Basic " + base64.b64encode(b["auth"].encode()).decode()]:
            conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n")
            return
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
        if not piece:
            return None
        data += piece
        if len(data) > 1 << 20:
            return None
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    headers = []
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(":")
        value = value.strip()
        headers.append([name, value])
        if name.lower() == "content-length":
            length = int(value)
    while len(body) < length:
        piece = conn.recv(65536)
        if not piece:
            break
        body += piece
    return {"method": parts[0], "target": parts[1] if len(parts) > 1 else "",
            "version": parts[2] if len(parts) > 2 else "", "headers": headers,
            "body": body.decode("latin-1")}


def chunks(body, size):
    """The body framed as chunks of `size` bytes, without the last chunk."""
    return b"".join(b"%x\r\n" % len(p) + p + b"\r\n"
                    for p in (body[i:i + size] for i in range(0, len(body), size)))


def stream_body(conn, head, size, offset=0):
    """Large bodies straight from one 1 MiB block, so the server is never
    the slow end of a benchmark; byte i of the body is still i % 256 when it
    starts at offset."""
    conn.sendall(head)
    view = memoryview(PATTERN + PATTERN[:256])[offset % 256:]
    for sent in range(0, size, len(PATTERN)):
        conn.sendall(view[:min(len(PATTERN), size - sent)])


def stream_chunks(conn, head, size, chunk):
    """A body of many chunks, a framed megabyte a call (for the benchmark's
    64 KiB chunks, the same block each time), then the last chunk."""
    conn.sendall(head)
    block = chunks(PATTERN, chunk)
    for sent in range(0, size, len(PATTERN)):
        n = min(len(PATTERN), size - sent)
        conn.sendall(block if n == len(PATTERN) else chunks(PATTERN[:n], chunk))
    conn.sendall(b"0\r\n\r\n")


class Paced:
    """A connection whose sendall trickles: pieces of `size` bytes, `ms` apart."""

    def __init__(self, conn, size, ms):
        self.conn, self.size, self.ms = conn, size, ms

    def sendall(self, data):
        for i in range(0, len(data), self.size):
            self.conn.sendall(data[i:i + self.size])
            time.sleep(self.ms / 1000.0)


def main(argv):
    os.environ["PATH"] = "/usr/bin:/bin:" + os.environ.get("PATH", "")
    if len(argv) >= 3 and argv[1] == "certs":
        make_certs(argv[2], argv[3:])
        return 0
    if len(argv) >= 3 and argv[1] == "serve":
        args = [a for a in argv[3:] if a != "--client-auth"]
        options = {"--tls": None, "--idle": 5.0, "--lifetime": 60.0, "--port": 0}
        kinds = {"--tls": str, "--idle": float, "--lifetime": float, "--port": int}
        for flag, value in zip(args[::2], args[1::2]):
            if flag not in kinds:
                raise SystemExit("unknown option " + flag)
            options[flag] = kinds[flag](value)
        Server(argv[2], options["--tls"], "--client-auth" in argv[3:], options["--idle"],
               options["--lifetime"], options["--port"]).run()
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
