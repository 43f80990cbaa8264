#!/usr/bin/env python3
"""Throw-away HTTPS-like server for the TLS session tests.

Usage: tls_test_server.py DIR [IDLE_SECONDS]

Makes a test CA, a second CA that nobody trusts, and server certificates
(good for localhost, expired, for another host, signed by the untrusted CA)
with the openssl command, then serves each certificate on its own 127.0.0.1
port, and the good one once more on a port that asks for a client
certificate (client_auth). DIR/ports appears when it is ready: lines "NAME PORT". DIR/ca.pem and
DIR/ca.der hold the test CA for the client to trust.

Per connection it reads one command line:
  ECHO N\\n + N bytes -> "OK N\\n" + the bytes, then a close notification
  DROP\\n             -> "BYE\\n", then a TCP close without close notification
  QUIT\\n             -> "BYE\\n", close notification, and the server ends
It also ends by itself after IDLE_SECONDS without a connection (default 20)
and after 300 s in any case, since a test under Wine cannot reliably kill it.
"""

import datetime
import os
import select
import selectors
import socket
import ssl
import subprocess
import sys
import time

OPENSSL = "/usr/bin/openssl" if os.path.exists("/usr/bin/openssl") else "openssl"

CA_CONFIG = """[ca]
default_ca = signing
[signing]
database = {name}-index.txt
new_certs_dir = .
serial = {name}-serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
"""

LEAF_EXTENSIONS = """[leaf]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = {names}
"""


def openssl(directory, *args):
    subprocess.run([OPENSSL, *args], cwd=directory, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def stamp(when):
    return when.strftime("%y%m%d%H%M%SZ")


def make_ca(directory, name, subject):
    openssl(directory, "req", "-x509", "-newkey", "rsa:2048", "-nodes",
            "-keyout", name + ".key", "-out", name + ".pem", "-days", "3",
            "-subj", "/CN=" + subject,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    with open(os.path.join(directory, name + ".cnf"), "w") as f:
        f.write(CA_CONFIG.format(name=name))
    open(os.path.join(directory, name + "-index.txt"), "w").close()
    with open(os.path.join(directory, name + "-serial"), "w") as f:
        f.write("1000\n")


def sign(directory, ca, out, names, start, end):
    with open(os.path.join(directory, out + ".ext"), "w") as f:
        f.write(LEAF_EXTENSIONS.format(names=names))
    openssl(directory, "ca", "-batch", "-notext", "-config", ca + ".cnf",
            "-cert", ca + ".pem", "-keyfile", ca + ".key",
            "-in", "server.csr", "-out", out + ".pem",
            "-startdate", stamp(start), "-enddate", stamp(end),
            "-extfile", out + ".ext", "-extensions", "leaf")


def make_certificates(directory):
    make_ca(directory, "ca", "Tarnwick TLS Test CA")
    make_ca(directory, "rogue", "Tarnwick Untrusted Test CA")
    openssl(directory, "x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    openssl(directory, "req", "-new", "-newkey", "rsa:2048", "-nodes",
            "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)
    local = "DNS:localhost, IP:127.0.0.1"
    sign(directory, "ca", "good", local, now, now + 2 * day)
    sign(directory, "ca", "expired", local, now - 10 * day, now - 5 * day)
    sign(directory, "ca", "wrong_host", "DNS:wrong-host.test", now, now + 2 * day)
    sign(directory, "rogue", "untrusted", local, now, now + 2 * day)
    return ["good", "expired", "wrong_host", "untrusted", "client_auth"]


def read_exactly(tls, count, start=b""):
    data = start
    while len(data) < count:
        more = tls.recv(min(65536, count - len(data)))
        if not more:
            break
        data += more
    return data


def close_notify(tls):
    """Sends a close notification without waiting for the client's, which the
    session never sends: a blocking unwrap would wait for it."""
    tls.setblocking(False)
    for _ in range(100):
        try:
            tls.unwrap()
            return
        except ssl.SSLWantWriteError:
            select.select([], [tls], [], 1.0)
        except (ssl.SSLWantReadError, OSError):
            return


def serve_one(tls):
    """Returns True when the server should end."""
    head = b""
    while b"\n" not in head and len(head) < 256:
        more = tls.recv(256)
        if not more:
            return False
        head += more
    line, _, rest = head.partition(b"\n")
    words = line.decode("ascii", "replace").split()
    if words[:1] == ["ECHO"] and len(words) == 2:
        count = int(words[1])
        body = read_exactly(tls, count, rest)
        tls.sendall(b"OK %d\n" % len(body) + body)
        close_notify(tls)
    elif words == ["DROP"]:
        tls.sendall(b"BYE\n")
    elif words == ["QUIT"]:
        tls.sendall(b"BYE\n")
        close_notify(tls)
        return True
    return False


def main():
    directory = sys.argv[1]
    idle = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
    names = make_certificates(directory)

    selector = selectors.DefaultSelector()
    lines = []
    for name in names:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        certificate = "good" if name == "client_auth" else name
        context.load_cert_chain(os.path.join(directory, certificate + ".pem"),
                                os.path.join(directory, "server.key"))
        if name == "client_auth":
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(os.path.join(directory, "ca.pem"))
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        selector.register(listener, selectors.EVENT_READ, context)
        lines.append("%s %d\n" % (name, listener.getsockname()[1]))
    ready = os.path.join(directory, "ports")
    with open(ready + ".tmp", "w") as f:
        f.writelines(lines)
    os.replace(ready + ".tmp", ready)

    deadline = time.monotonic() + 300
    while time.monotonic() < deadline:
        events = selector.select(timeout=idle)
        if not events:
            return 0
        for key, _ in events:
            connection, _ = key.fileobj.accept()
            connection.settimeout(10)
            try:
                with key.data.wrap_socket(connection, server_side=True) as tls:
                    if serve_one(tls):
                        return 0
            except (OSError, ValueError):
                pass  # refused certificates and dropped clients end here
            finally:
                connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
